// A driver provider backed by a shared library that exports the eleven FT_*
// functions: the vendor's own, or any library with the same prototypes. Every
// symbol is resolved when the library is loaded, so a missing one makes the
// provider unavailable at once instead of failing later.
#include <string>

#include "platform/platform.h"
#include "transport/driver.h"

namespace kmt {
namespace {

using namespace d2xx;

#if defined(_WIN32)
#define KMT_DRIVER_CALL __stdcall
#else
#define KMT_DRIVER_CALL
#endif

struct Entries {
  FT_STATUS(KMT_DRIVER_CALL *list_devices)(PVOID, PVOID, DWORD);
  FT_STATUS(KMT_DRIVER_CALL *open_ex)(PVOID, DWORD, FT_HANDLE *);
  FT_STATUS(KMT_DRIVER_CALL *close)(FT_HANDLE);
  FT_STATUS(KMT_DRIVER_CALL *reset_device)(FT_HANDLE);
  FT_STATUS(KMT_DRIVER_CALL *purge)(FT_HANDLE, ULONG);
  FT_STATUS(KMT_DRIVER_CALL *set_baud_rate)(FT_HANDLE, ULONG);
  FT_STATUS(KMT_DRIVER_CALL *set_data_characteristics)(FT_HANDLE, UCHAR, UCHAR, UCHAR);
  FT_STATUS(KMT_DRIVER_CALL *set_flow_control)(FT_HANDLE, USHORT, UCHAR, UCHAR);
  FT_STATUS(KMT_DRIVER_CALL *set_timeouts)(FT_HANDLE, ULONG, ULONG);
  FT_STATUS(KMT_DRIVER_CALL *write)(FT_HANDLE, LPVOID, DWORD, LPDWORD);
  FT_STATUS(KMT_DRIVER_CALL *read)(FT_HANDLE, LPVOID, DWORD, LPDWORD);
};

// The library stays loaded for the life of the process: a driver may keep threads
// of its own running, and unloading it under them is not safe.
class LibraryDriver final : public Driver {
 public:
  explicit LibraryDriver(const Entries &entries) : f_(entries) {}

  FT_STATUS ListDevices(PVOID a, PVOID b, DWORD flags) override {
    return f_.list_devices(a, b, flags);
  }
  FT_STATUS OpenEx(PVOID a, DWORD flags, FT_HANDLE *h) override { return f_.open_ex(a, flags, h); }
  FT_STATUS Close(FT_HANDLE h) override { return f_.close(h); }
  FT_STATUS ResetDevice(FT_HANDLE h) override { return f_.reset_device(h); }
  FT_STATUS Purge(FT_HANDLE h, ULONG mask) override { return f_.purge(h, mask); }
  FT_STATUS SetBaudRate(FT_HANDLE h, ULONG baud) override { return f_.set_baud_rate(h, baud); }
  FT_STATUS SetDataCharacteristics(FT_HANDLE h, UCHAR bits, UCHAR stop, UCHAR parity) override {
    return f_.set_data_characteristics(h, bits, stop, parity);
  }
  FT_STATUS SetFlowControl(FT_HANDLE h, USHORT flow, UCHAR xon, UCHAR xoff) override {
    return f_.set_flow_control(h, flow, xon, xoff);
  }
  FT_STATUS SetTimeouts(FT_HANDLE h, ULONG read_ms, ULONG write_ms) override {
    return f_.set_timeouts(h, read_ms, write_ms);
  }
  FT_STATUS Write(FT_HANDLE h, LPVOID buffer, DWORD n, LPDWORD written) override {
    return f_.write(h, buffer, n, written);
  }
  FT_STATUS Read(FT_HANDLE h, LPVOID buffer, DWORD n, LPDWORD read) override {
    return f_.read(h, buffer, n, read);
  }

 private:
  Entries f_;
};

template <class Function>
bool resolve(platform::LibraryHandle library, const char *name, Function *entry,
             std::string *missing) {
  void *symbol = platform::find_symbol(library, name);
  if (symbol == nullptr) {
    if (!missing->empty()) *missing += ", ";
    *missing += name;
    return false;
  }
  *entry = reinterpret_cast<Function>(symbol);
  return true;
}

}  // namespace

std::unique_ptr<Driver> load_driver_library(const std::string &path, std::string *error) {
  std::string reason;
  platform::LibraryHandle library = platform::load_library(path, &reason);
  if (library == nullptr) {
    if (error != nullptr) *error = reason;
    return nullptr;
  }
  Entries e{};
  std::string missing;
  bool ok = resolve(library, "FT_ListDevices", &e.list_devices, &missing);
  ok &= resolve(library, "FT_OpenEx", &e.open_ex, &missing);
  ok &= resolve(library, "FT_Close", &e.close, &missing);
  ok &= resolve(library, "FT_ResetDevice", &e.reset_device, &missing);
  ok &= resolve(library, "FT_Purge", &e.purge, &missing);
  ok &= resolve(library, "FT_SetBaudRate", &e.set_baud_rate, &missing);
  ok &= resolve(library, "FT_SetDataCharacteristics", &e.set_data_characteristics, &missing);
  ok &= resolve(library, "FT_SetFlowControl", &e.set_flow_control, &missing);
  ok &= resolve(library, "FT_SetTimeouts", &e.set_timeouts, &missing);
  ok &= resolve(library, "FT_Write", &e.write, &missing);
  ok &= resolve(library, "FT_Read", &e.read, &missing);
  if (!ok) {
    if (error != nullptr) *error = path + " lacks " + missing;
    return nullptr;
  }
  return std::make_unique<LibraryDriver>(e);
}

}  // namespace kmt
