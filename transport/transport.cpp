#include "transport/transport.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace kmt {

using namespace d2xx;

std::string error_text(FT_STATUS code) {
  switch (code) {
    case 1:
      return " - Invalid Handle...";
    case 2:
      return " - Device Not Found....";
    case 3:
      return " - Device Not Opened...";
    case 4:
      return " - General IO Error...";
    case 5:
      return " - Insufficient Resources...";
    case 6:
      return " - Invalid Parameter ...";
    case 7:
      return " - Invalid Baud Rate...";
    default:
      return " - Driver Error " + std::to_string(code) + "...";
  }
}

Transport::Transport(std::unique_ptr<Driver> driver, Platform &platform)
    : driver_(std::move(driver)), platform_(platform) {}

void Transport::report_error(std::string_view label, FT_STATUS code) {
  if (!show_errors || code == FT_OK) return;
  std::string text(label);
  text += error_text(code);
  platform_.show_error(text);
}

template <class Call>
FT_STATUS Transport::with_handle(std::string_view label, Call call) {
  FT_HANDLE handle = handles_.find(device_handle);
  FT_STATUS status = handle == nullptr ? FT_INVALID_HANDLE : call(handle);
  report_error(label, status);
  return status;
}

FT_STATUS Transport::count_devices() {
  DWORD count = 0;
  FT_STATUS status = driver_->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
  if (status == FT_OK) device_count = count;
  report_error("GetFTDeviceCount", status);
  return status;
}

FT_STATUS Transport::serial_by_index(std::uint32_t index) {
  // The driver writes into a roomy scratch buffer of our own, so a driver that
  // reports a longer string than the serial buffer holds cannot overrun it.
  std::array<char, 256> scratch{};
  FT_STATUS status =
      driver_->ListDevices(reinterpret_cast<PVOID>(static_cast<std::uintptr_t>(index)),
                           scratch.data(), FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
  std::memcpy(serial_buffer.data(), scratch.data(), serial_buffer.size());
  if (status == FT_OK) {
    serial_buffer[kSerialBufferSize - 1] = '\0';
    device_serial = serial_buffer.data();
  }
  report_error("GetFTDeviceSerialNo", status);
  return status;
}

FT_STATUS Transport::open_by_serial(std::string_view serial) {
  serial_buffer[0] = '\0';
  std::size_t length = std::min(serial.size(), kSerialBufferSize - 1);
  if (length > 0) {
    std::memcpy(serial_buffer.data(), serial.data(), length);
    serial_buffer[length] = '\0';
  }
  FT_HANDLE handle = nullptr;
  FT_STATUS status = driver_->OpenEx(serial_buffer.data(), FT_OPEN_BY_SERIAL_NUMBER, &handle);
  if (status == FT_OK) device_handle = handles_.add(handle);
  report_error("Open_USB_Device_By_Serial_Number", status);
  return status;
}

FT_STATUS Transport::close() {
  return with_handle("FT_Close", [&](FT_HANDLE handle) {
    FT_STATUS status = driver_->Close(handle);
    // A closed handle is gone for good: its token must never reach the driver again.
    if (status == FT_OK) handles_.remove(device_handle);
    return status;
  });
}

FT_STATUS Transport::reset() {
  return with_handle("FT_ResetDevice", [&](FT_HANDLE h) { return driver_->ResetDevice(h); });
}

FT_STATUS Transport::purge_tx() {
  return with_handle("FT_Purge TX", [&](FT_HANDLE h) { return driver_->Purge(h, FT_PURGE_TX); });
}

FT_STATUS Transport::purge_rx() {
  return with_handle("FT_Purge RX", [&](FT_HANDLE h) { return driver_->Purge(h, FT_PURGE_RX); });
}

FT_STATUS Transport::set_baud_rate() {
  return with_handle("FT_SetBaudRate",
                     [&](FT_HANDLE h) { return driver_->SetBaudRate(h, link.baud_rate); });
}

FT_STATUS Transport::set_data_characteristics() {
  return with_handle("FT_SetDataCharacteristics", [&](FT_HANDLE h) {
    return driver_->SetDataCharacteristics(h, link.data_bits, link.stop_bits, link.parity);
  });
}

FT_STATUS Transport::set_flow_control() {
  return with_handle("FT_SetFlowControl", [&](FT_HANDLE h) {
    return driver_->SetFlowControl(h, link.flow_control, link.xon, link.xoff);
  });
}

FT_STATUS Transport::set_timeouts(std::uint32_t read_ms, std::uint32_t write_ms) {
  return with_handle("FT_SetTimeouts",
                     [&](FT_HANDLE h) { return driver_->SetTimeouts(h, read_ms, write_ms); });
}

std::uint32_t Transport::write(std::uint32_t n) {
  n = std::min<std::uint32_t>(n, kRawBufferSize);
  DWORD written = 0;
  io_status = with_handle(
      "FT_Write", [&](FT_HANDLE h) { return driver_->Write(h, out_buffer.data(), n, &written); });
  return std::min<std::uint32_t>(written, n);
}

std::uint32_t Transport::read(std::uint32_t n) {
  return read_into(in_buffer.data(), n);
}

std::uint32_t Transport::read_into(std::uint8_t *destination, std::uint32_t n) {
  n = std::min<std::uint32_t>(n, kRawBufferSize);
  DWORD received = 0;
  io_status = with_handle("FT_Read",
                          [&](FT_HANDLE h) { return driver_->Read(h, destination, n, &received); });
  // A driver that claims more than was asked for is not believed past the request.
  return std::min<std::uint32_t>(received, n);
}

}  // namespace kmt
