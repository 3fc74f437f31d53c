// A driver library with the D2XX driver's eleven functions and Linux prototypes,
// backed by the simulated controller, so that tests can plug a driver into the library
// through KMT_DRIVER exactly as a user plugs in the vendor's. Options for the
// simulated controller come from KMT_TEST_D2XX_OPTIONS (default "clock=virtual").
//
// kmt_test_d2xx_call_count() tells a test how many FT_* calls reached this library.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "sim/sim_driver.h"

using namespace kmt::d2xx;

namespace {

unsigned g_calls = 0;

// Built on the first call; when the options cannot be understood, every call fails
// with FT_DEVICE_NOT_FOUND, like a driver without devices.
kmt::sim::SimDriver *driver() {
  static std::unique_ptr<kmt::sim::SimDriver> instance = [] {
    const char *options = std::getenv("KMT_TEST_D2XX_OPTIONS");
    std::string error;
    auto made = kmt::sim::SimDriver::create(options != nullptr ? options : "clock=virtual", &error);
    if (!made) std::fprintf(stderr, "KMT_TEST_D2XX_OPTIONS: %s\n", error.c_str());
    return made;
  }();
  ++g_calls;
  return instance.get();
}

}  // namespace

#define KMT_TEST_EXPORT extern "C" __attribute__((visibility("default")))

KMT_TEST_EXPORT FT_STATUS FT_ListDevices(PVOID arg1, PVOID arg2, DWORD flags) {
  auto *d = driver();
  return d != nullptr ? d->ListDevices(arg1, arg2, flags) : FT_DEVICE_NOT_FOUND;
}

KMT_TEST_EXPORT FT_STATUS FT_OpenEx(PVOID arg, DWORD flags, FT_HANDLE *handle) {
  auto *d = driver();
  return d != nullptr ? d->OpenEx(arg, flags, handle) : FT_DEVICE_NOT_FOUND;
}

KMT_TEST_EXPORT FT_STATUS FT_Close(FT_HANDLE handle) {
  auto *d = driver();
  return d != nullptr ? d->Close(handle) : FT_DEVICE_NOT_FOUND;
}

KMT_TEST_EXPORT FT_STATUS FT_ResetDevice(FT_HANDLE handle) {
  auto *d = driver();
  return d != nullptr ? d->ResetDevice(handle) : FT_DEVICE_NOT_FOUND;
}

KMT_TEST_EXPORT FT_STATUS FT_Purge(FT_HANDLE handle, ULONG mask) {
  auto *d = driver();
  return d != nullptr ? d->Purge(handle, mask) : FT_DEVICE_NOT_FOUND;
}

KMT_TEST_EXPORT FT_STATUS FT_SetBaudRate(FT_HANDLE handle, ULONG baud) {
  auto *d = driver();
  return d != nullptr ? d->SetBaudRate(handle, baud) : FT_DEVICE_NOT_FOUND;
}

KMT_TEST_EXPORT FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR word_length,
                                                    UCHAR stop_bits, UCHAR parity) {
  auto *d = driver();
  return d != nullptr ? d->SetDataCharacteristics(handle, word_length, stop_bits, parity)
                      : FT_DEVICE_NOT_FOUND;
}

KMT_TEST_EXPORT FT_STATUS FT_SetFlowControl(FT_HANDLE handle, USHORT flow, UCHAR xon, UCHAR xoff) {
  auto *d = driver();
  return d != nullptr ? d->SetFlowControl(handle, flow, xon, xoff) : FT_DEVICE_NOT_FOUND;
}

KMT_TEST_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE handle, ULONG read_ms, ULONG write_ms) {
  auto *d = driver();
  return d != nullptr ? d->SetTimeouts(handle, read_ms, write_ms) : FT_DEVICE_NOT_FOUND;
}

KMT_TEST_EXPORT FT_STATUS FT_Write(FT_HANDLE handle, LPVOID buffer, DWORD n, LPDWORD written) {
  auto *d = driver();
  if (d == nullptr) {
    if (written != nullptr) *written = 0;
    return FT_DEVICE_NOT_FOUND;
  }
  return d->Write(handle, buffer, n, written);
}

KMT_TEST_EXPORT FT_STATUS FT_Read(FT_HANDLE handle, LPVOID buffer, DWORD n, LPDWORD read) {
  auto *d = driver();
  if (d == nullptr) {
    if (read != nullptr) *read = 0;
    return FT_DEVICE_NOT_FOUND;
  }
  return d->Read(handle, buffer, n, read);
}

KMT_TEST_EXPORT unsigned kmt_test_d2xx_call_count(void) {
  return g_calls;
}
