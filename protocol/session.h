// The frame exchange with the controller and the connection to it: discovery by
// device type, the table of found devices, open by serial number, close.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "protocol/exchange.h"
#include "transport/transport.h"

namespace kmt {

class Session {
 public:
  static constexpr std::size_t kPayloadSize = Exchange::kPayloadSize;
  // The largest announced response payload that still leaves room for its checksum.
  static constexpr std::uint16_t kMaxResponseLength = kPayloadSize - 1;
  static constexpr std::int32_t kRetryLimit = 600;
  static constexpr std::size_t kDeviceListSize = 256;
  static constexpr std::uint32_t kMaxListedDevices = 255;
  static constexpr std::uint16_t kFramePrefix = 0x0010;
  static constexpr std::uint8_t kShortRequestGroup = 8;

  Session(Transport &transport, Platform &platform);

  // The raw exchange: request payload in, response payload out, through the caller's
  // whole 16385-byte buffer. Device functions pass tx_payload itself, with a request
  // they have written in full, and take the response from rx_payload.
  void send_comm(std::uint32_t *handle, std::uint16_t frame_prefix, std::uint8_t group,
                 std::uint8_t command, std::int32_t response_delay_ms, std::uint8_t *buffer,
                 std::uint16_t *length, std::int32_t *status);

  // Discovery and connection. Type names and serial strings are plain text here;
  // the exported functions convert the platform's string type at the boundary.
  void create_list_devs(std::string_view type_name, std::int32_t *count, std::int32_t *status);
  void get_type_and_sn_by_index(std::int32_t index, std::string *type, std::string *serial,
                                std::int32_t *status) const;
  void init_by_sn(std::uint32_t *handle, std::string_view serial, std::int32_t *status);
  void close(std::uint32_t *handle);

  std::uint8_t *tx_payload() { return tx_payload_.data(); }
  const std::uint8_t *rx_payload() const { return rx_payload_.data(); }
  bool device_open() const { return device_open_; }
  std::uint32_t last_result() const { return last_result_; }

 private:
  void exchange_frame(std::uint16_t frame_prefix, std::uint8_t group, std::uint8_t command,
                      std::int32_t response_delay_ms);
  void exchange_short(std::uint16_t frame_prefix);
  void read_exact(std::uint32_t n);

  Transport &transport_;
  Platform &platform_;

  bool device_open_ = false;
  std::int32_t comm_status_ = 0;
  alignas(64) std::array<std::uint8_t, kPayloadSize> tx_payload_{};
  alignas(64) std::array<std::uint8_t, kPayloadSize> rx_payload_{};
  std::uint16_t tx_length_ = 0;
  std::uint16_t rx_length_ = 0;

  std::array<std::string, kDeviceListSize> device_list_{};
  std::int32_t device_list_count_ = 0;
  std::uint32_t last_result_ = 0;
};

}  // namespace kmt
