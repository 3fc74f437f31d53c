// The driver interface: the eleven D2XX operations the library uses, with the
// driver's own argument lists and meanings. Every provider (the vendor's driver
// library loaded at run time, the simulated controller, test fakes) implements it.
//
// Contract shared by all operations: they return FT_OK (0) on success or a D2XX
// failure code; they must not throw. Handles are the provider's own; the library
// only passes back what OpenEx handed out.
#pragma once

#include <memory>
#include <string>
#include <vector>

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

// Chooses a provider by name:
//   "sim" or "sim:OPTIONS"  the built-in simulated controller (options: sim/README.md);
//   "tty" or "tty:TERMINALS"  the kernel's serial driver (Linux; transport/tty_driver.h);
//   "rfc2217:TARGETS"       controllers behind network servers (ser2net; rfc2217_driver.h);
//   "d2xx"                  the vendor's driver library, loaded at run time;
//   ""                      the vendor's driver library, and where it cannot be loaded,
//                           on Linux, the kernel's serial driver;
//   an absolute path        a shared library exporting the eleven FT_* functions;
//   "trace:FILE:INNER"      driver INNER, every call recorded into FILE (trace.h);
//   "replay:FILE"           a recorded trace served back (trace.h).
// Never returns null: when the named provider cannot be had, the result is a driver
// whose every call fails with FT_DEVICE_NOT_FOUND, and *error (if given) says why.
// A provider in use that has a problem worth reporting also sets *error.
std::unique_ptr<Driver> make_driver(const std::string &name, std::string *error = nullptr);

// Where the choice looks; tests point it elsewhere.
struct DriverSearch {
  std::string vendor_library;  // empty: the platform's name for the vendor's library
  std::string sysfs_root = "/sys";
  std::string dev_root = "/dev";
};

// The choice with its reasons, for make_driver and for diagnosis.
struct DriverChoice {
  std::unique_ptr<Driver> driver;  // never null
  std::string provider;            // "sim", "tty", "d2xx", a library path, or "none"
  std::vector<std::string> tried;  // one line per provider tried, in order, with its outcome
  std::string error;               // why the named provider cannot be had; empty when it can
  std::string
      warning;  // a problem of the provider in use worth a line (a state file it cannot use)
};
DriverChoice choose_driver(const std::string &name, const DriverSearch &search = {});

// A driver whose every call fails with FT_DEVICE_NOT_FOUND.
std::unique_ptr<Driver> make_unavailable_driver();

// The vendor driver library, or any library at `path` exporting the eleven FT_*
// functions. Null when the library or one of its symbols is missing (*error says which).
std::unique_ptr<Driver> load_driver_library(const std::string &path, std::string *error);

}  // namespace kmt
