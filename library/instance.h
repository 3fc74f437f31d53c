// All state of one library instance: the transport, the exchange and connection,
// and the device functions' shared length word. The exported functions work on one
// process-wide instance; tests build their own around an injected driver.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/platform.h"
#include "protocol/session.h"
#include "transport/driver.h"
#include "transport/transport.h"

namespace kmt {

class Library {
 public:
  explicit Library(std::unique_ptr<Driver> driver, Platform &platform = system_platform())
      : transport(std::move(driver), platform), session(transport, platform) {}

  Transport transport;
  Session session;
  // Request payload length on the way in, response payload length on the way out.
  std::uint16_t payload_length = 0;

  // The request payload. A device function writes every byte of its request,
  // payload()[0 .. payload_length-1], before each exchange: what the buffer held
  // before is never sent (the exports fuzz target checks this).
  std::uint8_t *payload() { return session.tx_payload(); }

  // The response payload after an exchange, followed by its checksum byte and then
  // whatever earlier responses left: the bytes device functions decode.
  const std::uint8_t *response() const { return session.rx_payload(); }

  // One exchange of a device function: the request is payload()[0 .. payload_length-1].
  void exchange(std::uint32_t *handle, std::uint8_t group, std::uint8_t command,
                std::int32_t response_delay_ms, std::int32_t *status) {
    session.send_comm(handle, Session::kFramePrefix, group, command, response_delay_ms, payload(),
                      &payload_length, status);
  }
};

}  // namespace kmt
