// The simulated controller as a driver library with the D2XX driver's eleven functions,
// so that any host built against the library runs against simulated controllers: on
// Windows it is a drop-in ftd2xx.dll (placed beside the program or beside KMTv1dll.dll),
// on Linux a library that KMT_DRIVER names.
//
// Options for the simulated controller (sim/README.md) come from the file
// ftd2xx-sim.cfg in the directory of this library: one or more key=value options per
// line, separated by commas or line breaks; blank lines and lines starting with # are
// ignored. No file means the simulator's defaults (one device, real clock). Options
// that cannot be understood make every call fail with FT_DEVICE_NOT_FOUND, like a
// driver without devices, and the reason is written once to standard error.
//
// kmt_sim_d2xx_call_count(), not a D2XX function, tells a test how many driver calls
// reached this library.
#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "sim/sim_driver.h"

// The driver's own type names; Windows has DWORD and the like of its own.
namespace ft = kmt::d2xx;

#if defined(_WIN32)
// The D2XX functions use the standard Windows calling convention; ftd2xx.def names
// the exports undecorated.
#define FT_CALL __stdcall
#define FT_EXPORT extern "C"
#else
#define FT_CALL
#define FT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

unsigned g_calls = 0;

// The directory of this library, with a trailing separator; empty if unknown.
std::string own_directory() {
  std::string path;
#if defined(_WIN32)
  HMODULE self = nullptr;
  if (::GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&own_directory), &self)) {
    char buffer[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(self, buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) path.assign(buffer, length);
  }
#else
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void *>(&own_directory), &info) != 0 && info.dli_fname != nullptr) {
    path = info.dli_fname;
  }
#endif
  std::size_t end = path.find_last_of("/\\");
  return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

// The option string of the file beside this library (empty when there is none).
std::string options_from_file(const std::string &path) {
  std::ifstream file(path);
  std::string options, line;
  while (std::getline(file, line)) {
    std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    std::size_t last = line.find_last_not_of(" \t\r");
    if (!options.empty()) options += ',';
    options += line.substr(first, last - first + 1);
  }
  return options;
}

// Built on the first call; null when the options cannot be understood.
kmt::sim::SimDriver *driver() {
  static std::unique_ptr<kmt::sim::SimDriver> instance = [] {
    std::string path = own_directory() + "ftd2xx-sim.cfg";
    std::string error;
    auto made = kmt::sim::SimDriver::create(options_from_file(path), &error);
    if (!made) std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
    return made;
  }();
  ++g_calls;
  return instance.get();
}

}  // namespace

FT_EXPORT ft::FT_STATUS FT_CALL FT_ListDevices(ft::PVOID arg1, ft::PVOID arg2, ft::DWORD flags) {
  auto *d = driver();
  return d != nullptr ? d->ListDevices(arg1, arg2, flags) : ft::FT_DEVICE_NOT_FOUND;
}

FT_EXPORT ft::FT_STATUS FT_CALL FT_OpenEx(ft::PVOID arg, ft::DWORD flags, ft::FT_HANDLE *handle) {
  auto *d = driver();
  return d != nullptr ? d->OpenEx(arg, flags, handle) : ft::FT_DEVICE_NOT_FOUND;
}

FT_EXPORT ft::FT_STATUS FT_CALL FT_Close(ft::FT_HANDLE handle) {
  auto *d = driver();
  return d != nullptr ? d->Close(handle) : ft::FT_DEVICE_NOT_FOUND;
}

FT_EXPORT ft::FT_STATUS FT_CALL FT_ResetDevice(ft::FT_HANDLE handle) {
  auto *d = driver();
  return d != nullptr ? d->ResetDevice(handle) : ft::FT_DEVICE_NOT_FOUND;
}

FT_EXPORT ft::FT_STATUS FT_CALL FT_Purge(ft::FT_HANDLE handle, ft::ULONG mask) {
  auto *d = driver();
  return d != nullptr ? d->Purge(handle, mask) : ft::FT_DEVICE_NOT_FOUND;
}

FT_EXPORT ft::FT_STATUS FT_CALL FT_SetBaudRate(ft::FT_HANDLE handle, ft::ULONG baud) {
  auto *d = driver();
  return d != nullptr ? d->SetBaudRate(handle, baud) : ft::FT_DEVICE_NOT_FOUND;
}

FT_EXPORT ft::FT_STATUS FT_CALL FT_SetDataCharacteristics(ft::FT_HANDLE handle,
                                                          ft::UCHAR word_length,
                                                          ft::UCHAR stop_bits, ft::UCHAR parity) {
  auto *d = driver();
  return d != nullptr ? d->SetDataCharacteristics(handle, word_length, stop_bits, parity)
                      : ft::FT_DEVICE_NOT_FOUND;
}

FT_EXPORT ft::FT_STATUS FT_CALL FT_SetFlowControl(ft::FT_HANDLE handle, ft::USHORT flow,
                                                  ft::UCHAR xon, ft::UCHAR xoff) {
  auto *d = driver();
  return d != nullptr ? d->SetFlowControl(handle, flow, xon, xoff) : ft::FT_DEVICE_NOT_FOUND;
}

FT_EXPORT ft::FT_STATUS FT_CALL FT_SetTimeouts(ft::FT_HANDLE handle, ft::ULONG read_ms,
                                               ft::ULONG write_ms) {
  auto *d = driver();
  return d != nullptr ? d->SetTimeouts(handle, read_ms, write_ms) : ft::FT_DEVICE_NOT_FOUND;
}

FT_EXPORT ft::FT_STATUS FT_CALL FT_Write(ft::FT_HANDLE handle, ft::LPVOID buffer, ft::DWORD n,
                                         ft::LPDWORD written) {
  auto *d = driver();
  if (d == nullptr) {
    if (written != nullptr) *written = 0;
    return ft::FT_DEVICE_NOT_FOUND;
  }
  return d->Write(handle, buffer, n, written);
}

FT_EXPORT ft::FT_STATUS FT_CALL FT_Read(ft::FT_HANDLE handle, ft::LPVOID buffer, ft::DWORD n,
                                        ft::LPDWORD read) {
  auto *d = driver();
  if (d == nullptr) {
    if (read != nullptr) *read = 0;
    return ft::FT_DEVICE_NOT_FOUND;
  }
  return d->Read(handle, buffer, n, read);
}

FT_EXPORT unsigned FT_CALL kmt_sim_d2xx_call_count(void) {
  return g_calls;
}
