// Choosing a driver provider by name.
#include <string>

#include "platform/platform.h"
#include "sim/sim.h"
#include "transport/driver.h"
#include "transport/trace.h"

namespace kmt {
namespace {

using namespace d2xx;

// Stands in when no driver can be had: discovery then reports FT_DEVICE_NOT_FOUND and
// no open, and so no exchange, can succeed.
class UnavailableDriver final : public Driver {
 public:
  FT_STATUS ListDevices(PVOID, PVOID, DWORD) override { return FT_DEVICE_NOT_FOUND; }
  FT_STATUS OpenEx(PVOID, DWORD, FT_HANDLE *) override { return FT_DEVICE_NOT_FOUND; }
  FT_STATUS Close(FT_HANDLE) override { return FT_DEVICE_NOT_FOUND; }
  FT_STATUS ResetDevice(FT_HANDLE) override { return FT_DEVICE_NOT_FOUND; }
  FT_STATUS Purge(FT_HANDLE, ULONG) override { return FT_DEVICE_NOT_FOUND; }
  FT_STATUS SetBaudRate(FT_HANDLE, ULONG) override { return FT_DEVICE_NOT_FOUND; }
  FT_STATUS SetDataCharacteristics(FT_HANDLE, UCHAR, UCHAR, UCHAR) override {
    return FT_DEVICE_NOT_FOUND;
  }
  FT_STATUS SetFlowControl(FT_HANDLE, USHORT, UCHAR, UCHAR) override { return FT_DEVICE_NOT_FOUND; }
  FT_STATUS SetTimeouts(FT_HANDLE, ULONG, ULONG) override { return FT_DEVICE_NOT_FOUND; }
  FT_STATUS Write(FT_HANDLE, LPVOID, DWORD, LPDWORD written) override {
    *written = 0;
    return FT_DEVICE_NOT_FOUND;
  }
  FT_STATUS Read(FT_HANDLE, LPVOID, DWORD, LPDWORD read) override {
    *read = 0;
    return FT_DEVICE_NOT_FOUND;
  }
};

bool is_absolute_path(const std::string &name) {
  return !name.empty() && (name[0] == '/' || (name.size() > 2 && name[1] == ':'));
}

}  // namespace

std::unique_ptr<Driver> make_unavailable_driver() {
  return std::make_unique<UnavailableDriver>();
}

std::unique_ptr<Driver> make_driver(const std::string &name, std::string *error) {
  std::string reason;
  std::unique_ptr<Driver> driver;
  if (name == "sim" || name.rfind("sim:", 0) == 0) {
    driver = sim::make_driver(name.size() > 4 ? name.substr(4) : std::string(), &reason);
  } else if (name.empty() || name == "d2xx") {
    driver = load_driver_library(platform::vendor_driver_name(), &reason);
  } else if (name.rfind("trace:", 0) == 0) {
    std::string file, inner;
    split_trace_spec(name.substr(6), &file, &inner);
    auto wrapped = make_driver(inner, &reason);
    if (reason.empty()) driver = make_trace_driver(file, std::move(wrapped), &reason);
  } else if (name.rfind("replay:", 0) == 0) {
    driver = make_replay_driver(name.substr(7), &reason);
  } else if (is_absolute_path(name)) {
    driver = load_driver_library(name, &reason);
  } else {
    reason = "unknown driver \"" + name +
             "\" (expected sim, d2xx, trace:FILE:INNER, replay:FILE or an absolute path)";
  }
  if (driver) return driver;
  if (error != nullptr) *error = reason;
  return make_unavailable_driver();
}

}  // namespace kmt
