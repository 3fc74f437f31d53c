// The driver interface: the eleven D2XX operations the library uses, with the
// driver's own argument lists and meanings. Every provider (the vendor's driver
// library loaded at run time, the kernel's serial driver, the network, trace and replay
// in this folder; the simulated controller; test fakes) implements it. Which provider a
// process uses is chosen by name in library/driver_choice.h.
//
// Contract shared by all operations: they return FT_OK (0) on success or a D2XX
// failure code; they must not throw. Handles are the provider's own; the library
// only passes back what OpenEx handed out.
#pragma once

#include <memory>
#include <string>

#include "transport/d2xx.h"

namespace kmt {

class Driver {
 public:
  virtual ~Driver() = default;

  // FT_ListDevices. With FT_LIST_NUMBER_ONLY, arg1 points at a DWORD that receives the
  // device count. With FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER, arg1 carries the
  // index as an integer value and arg2 points at a buffer of at least 64 bytes that
  // receives the NUL-terminated serial-number string.
  virtual d2xx::FT_STATUS ListDevices(d2xx::PVOID arg1, d2xx::PVOID arg2, d2xx::DWORD flags) = 0;
  // FT_OpenEx. With FT_OPEN_BY_SERIAL_NUMBER, arg is a NUL-terminated serial string.
  // On success *handle receives the new handle; on failure *handle is not used.
  virtual d2xx::FT_STATUS OpenEx(d2xx::PVOID arg, d2xx::DWORD flags, d2xx::FT_HANDLE *handle) = 0;
  virtual d2xx::FT_STATUS Close(d2xx::FT_HANDLE handle) = 0;
  virtual d2xx::FT_STATUS ResetDevice(d2xx::FT_HANDLE handle) = 0;
  // mask: FT_PURGE_RX and/or FT_PURGE_TX.
  virtual d2xx::FT_STATUS Purge(d2xx::FT_HANDLE handle, d2xx::ULONG mask) = 0;
  virtual d2xx::FT_STATUS SetBaudRate(d2xx::FT_HANDLE handle, d2xx::ULONG baud) = 0;
  virtual d2xx::FT_STATUS SetDataCharacteristics(d2xx::FT_HANDLE handle, d2xx::UCHAR word_length,
                                                 d2xx::UCHAR stop_bits, d2xx::UCHAR parity) = 0;
  virtual d2xx::FT_STATUS SetFlowControl(d2xx::FT_HANDLE handle, d2xx::USHORT flow, d2xx::UCHAR xon,
                                         d2xx::UCHAR xoff) = 0;
  virtual d2xx::FT_STATUS SetTimeouts(d2xx::FT_HANDLE handle, d2xx::ULONG read_ms,
                                      d2xx::ULONG write_ms) = 0;
  // Writes n bytes; *written receives the count actually written.
  virtual d2xx::FT_STATUS Write(d2xx::FT_HANDLE handle, d2xx::LPVOID buffer, d2xx::DWORD n,
                                d2xx::LPDWORD written) = 0;
  // Returns when n bytes have arrived or the read time-out has passed; *read receives
  // the count delivered into buffer (never more than n from a well-behaved driver).
  virtual d2xx::FT_STATUS Read(d2xx::FT_HANDLE handle, d2xx::LPVOID buffer, d2xx::DWORD n,
                               d2xx::LPDWORD read) = 0;
};

// A driver whose every call fails with FT_DEVICE_NOT_FOUND.
std::unique_ptr<Driver> make_unavailable_driver();

// The vendor driver library, or any library at `path` exporting the eleven FT_*
// functions. Null when the library or one of its symbols is missing (*error says which).
std::unique_ptr<Driver> load_driver_library(const std::string &path, std::string *error);

}  // namespace kmt
