// All state of one library instance: the transport, the exchange and connection, and
// the device functions' shared length word. The exported functions work on one
// process-wide instance (library/abi.h); tests build their own around an injected driver.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/platform.h"
#include "protocol/exchange.h"
#include "protocol/session.h"
#include "transport/driver.h"
#include "transport/transport.h"

namespace kmt {

class Library final : public Exchange {
 public:
  explicit Library(std::unique_ptr<Driver> driver, Platform &platform = system_platform())
      : transport(std::move(driver), platform), session(transport, platform) {}

  Transport transport;
  Session session;

  std::uint8_t *payload() override { return session.tx_payload(); }
  const std::uint8_t *response() const override { return session.rx_payload(); }
  void exchange(std::uint32_t *handle, std::uint8_t group, std::uint8_t command,
                std::int32_t response_delay_ms, std::int32_t *status) override {
    session.send_comm(handle, Session::kFramePrefix, group, command, response_delay_ms, payload(),
                      &payload_length, status);
  }
};

}  // namespace kmt
