// Discovery by device type, the table of found devices, open and close.
#include <algorithm>
#include <array>
#include <string>

#include "protocol/session.h"

namespace kmt {
namespace {

constexpr std::size_t kTypeCodeLength = 8;
constexpr std::size_t kMaxEntryLength = 255;
constexpr std::array<std::string_view, 2> kAcceptedTypes = {"KMTC0001", "KMTC0002"};

// The public type name a host asks for, mapped to the type code in serial strings.
std::string_view type_code_for(std::string_view type_name) {
  std::string upper(type_name);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
  return upper == "KMTCV1" ? std::string_view("KMTC0002") : std::string_view();
}

}  // namespace

void Session::create_list_devs(std::string_view type_name, std::int32_t *count,
                               std::int32_t *status) {
  last_result_ = d2xx::FT_OK;
  std::string_view wanted = type_code_for(type_name);
  if (std::find(kAcceptedTypes.begin(), kAcceptedTypes.end(), wanted) == kAcceptedTypes.end()) {
    *count = 0;
    *status = kStatusUnknownType;
    return;
  }
  device_list_count_ = 0;
  transport_.show_errors = false;
  last_result_ = transport_.count_devices();
  if (transport_.device_count > 0 && last_result_ == d2xx::FT_OK) {
    // 255 entries at most, although the table has room for 256.
    transport_.device_count = std::min(transport_.device_count, kMaxListedDevices);
    for (std::uint32_t i = 0; i < transport_.device_count; ++i) {
      last_result_ = transport_.serial_by_index(i);
      if (last_result_ != d2xx::FT_OK) continue;
      const std::string &serial = transport_.device_serial;
      if (std::string_view(serial).substr(0, kTypeCodeLength) == wanted) {
        device_list_[static_cast<std::size_t>(device_list_count_++)] =
            serial.substr(0, kMaxEntryLength);
      }
    }
  }
  *count = device_list_count_;
  *status = static_cast<std::int32_t>(last_result_);
}

void Session::get_type_and_sn_by_index(std::int32_t index, std::string *type, std::string *serial,
                                       std::int32_t *status) const {
  // The index is not held to the count of the last discovery, only to the table:
  // entries past the count keep what an earlier discovery left; outside the table,
  // both strings are empty.
  if (index >= 0 && static_cast<std::size_t>(index) < device_list_.size()) {
    const std::string &entry = device_list_[static_cast<std::size_t>(index)];
    *type = entry.substr(0, kTypeCodeLength);
    *serial = entry.size() > kTypeCodeLength ? entry.substr(kTypeCodeLength) : std::string();
  } else {
    type->clear();
    serial->clear();
  }
  *status = static_cast<std::int32_t>(last_result_);
}

void Session::init_by_sn(std::uint32_t *handle, std::string_view serial, std::int32_t *status) {
  transport_.show_errors = false;
  transport_.device_serial = std::string(serial);
  last_result_ = transport_.open_by_serial(transport_.device_serial);

  transport_.link.baud_rate = 250000;
  transport_.link.data_bits = 8;
  transport_.link.stop_bits = 0;
  transport_.link.parity = 0;
  transport_.link.flow_control = 0;
  if (last_result_ == d2xx::FT_OK) {
    tx_length_ = 0;
    // Each step runs only while every earlier one succeeded.
    const auto steps = {
        +[](Transport &t) { return t.reset(); },
        +[](Transport &t) { return t.set_baud_rate(); },
        +[](Transport &t) { return t.set_data_characteristics(); },
        +[](Transport &t) { return t.set_flow_control(); },
        +[](Transport &t) { return t.purge_tx(); },
        +[](Transport &t) { return t.purge_rx(); },
        +[](Transport &t) { return t.set_timeouts(50, 50); },
    };
    for (auto step : steps) {
      last_result_ = step(transport_);
      if (last_result_ != d2xx::FT_OK) break;
    }
    if (last_result_ == d2xx::FT_OK) {
      platform_.sleep_ms(200);
    } else {
      // A half-configured device is let go at once, so the same serial can be opened
      // again; the failing step's code stays the one reported, whatever the close says.
      transport_.close();
    }
  }
  device_open_ = last_result_ == d2xx::FT_OK;
  comm_status_ = device_open_ ? kStatusOk : kStatusNotOpen;
  // After a failure no handle is handed out: the transport's would be the device
  // opened last (another one, or the one just closed), and a caller that closed or
  // kept using it would reach the wrong device.
  if (!device_open_) transport_.device_handle = 0;
  *status = comm_status_;
  *handle = transport_.device_handle;
}

void Session::close(std::uint32_t *handle) {
  transport_.device_handle = *handle;
  transport_.close();
  device_open_ = false;
  *handle = transport_.device_handle;
}

}  // namespace kmt
