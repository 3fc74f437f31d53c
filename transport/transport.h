// The library's use of its driver provider (driver.h): one device handle, the link
// settings, the raw transmit and receive buffers and the serial-number buffer. Each
// operation is one call of the provider; a failed call goes to the error reporter.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "transport/d2xx.h"
#include "transport/driver.h"
#include "transport/handle_table.h"

namespace kmt {

struct LinkSettings {
  std::uint32_t baud_rate = 0;
  std::uint8_t data_bits = 0;
  std::uint8_t stop_bits = 0;
  std::uint8_t parity = 0;
  std::uint16_t flow_control = 0;
  std::uint8_t xon = 0x11;
  std::uint8_t xoff = 0x13;
};

class Transport {
 public:
  static constexpr std::size_t kRawBufferSize = 32768;
  static constexpr std::size_t kSerialBufferSize = 50;

  Transport(std::unique_ptr<Driver> driver, Platform &platform);

  // Device handle as hosts see it (a token, see HandleTable). Written by open, and
  // from the host's handle before each exchange and close.
  std::uint32_t device_handle = 0;
  bool show_errors = true;
  // D2XX status of the last write or read.
  d2xx::FT_STATUS io_status = 0;
  LinkSettings link;
  std::uint32_t device_count = 0;
  // Serial number of the last successful by-index query, or the string last opened.
  std::string device_serial;

  std::array<std::uint8_t, kRawBufferSize> in_buffer{};
  std::array<std::uint8_t, kRawBufferSize> out_buffer{};
  std::array<char, kSerialBufferSize> serial_buffer{};

  d2xx::FT_STATUS count_devices();
  d2xx::FT_STATUS serial_by_index(std::uint32_t index);
  d2xx::FT_STATUS open_by_serial(std::string_view serial);
  d2xx::FT_STATUS close();
  d2xx::FT_STATUS reset();
  d2xx::FT_STATUS purge_tx();
  d2xx::FT_STATUS purge_rx();
  d2xx::FT_STATUS set_baud_rate();
  d2xx::FT_STATUS set_data_characteristics();
  d2xx::FT_STATUS set_flow_control();
  d2xx::FT_STATUS set_timeouts(std::uint32_t read_ms, std::uint32_t write_ms);
  // Writes n bytes from the start of out_buffer; returns the count written.
  std::uint32_t write(std::uint32_t n);
  // Reads up to n bytes into the start of in_buffer; returns the count read.
  std::uint32_t read(std::uint32_t n);
  // The same into destination, which has room for n bytes (at most kRawBufferSize).
  std::uint32_t read_into(std::uint8_t *destination, std::uint32_t n);

  // Shows label + the text for code, unless show_errors is off or code is 0.
  void report_error(std::string_view label, d2xx::FT_STATUS code);

  Driver &driver() { return *driver_; }

 private:
  // The driver handle behind device_handle. An unknown token answers FT_INVALID_HANDLE
  // here, so the driver never sees a handle it did not hand out.
  template <class Call>
  d2xx::FT_STATUS with_handle(std::string_view label, Call call);

  std::unique_ptr<Driver> driver_;
  Platform &platform_;
  HandleTable handles_;
};

// The text appended to a driver error report for a D2XX code, e.g. " - Invalid Handle...".
std::string error_text(d2xx::FT_STATUS code);

}  // namespace kmt
