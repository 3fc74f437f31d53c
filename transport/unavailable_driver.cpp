// The provider that stands in when no driver can be had.
#include "transport/driver.h"

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

}  // namespace

std::unique_ptr<Driver> make_unavailable_driver() {
  return std::make_unique<UnavailableDriver>();
}

}  // namespace kmt
