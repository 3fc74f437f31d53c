#include <windows.h>

#include "platform/platform.h"

namespace kmt {
namespace {

class WindowsPlatform final : public Platform {
 public:
  void sleep_ms(std::uint32_t ms) override { ::Sleep(ms); }
  void show_error(std::string_view text) override {
    std::string message(text);
    ::MessageBoxA(nullptr, message.c_str(), "Error", MB_OK | MB_ICONERROR);
  }
};

}  // namespace

Platform &system_platform() {
  static WindowsPlatform platform;
  return platform;
}

namespace platform {

LibraryHandle load_library(const std::string &path, std::string *error) {
  HMODULE library = ::LoadLibraryA(path.c_str());
  if (library == nullptr && error != nullptr) {
    *error = "cannot load " + path + " (error " + std::to_string(::GetLastError()) + ")";
  }
  return reinterpret_cast<LibraryHandle>(library);
}

void *find_symbol(LibraryHandle library, const char *name) {
  return reinterpret_cast<void *>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

const char *vendor_driver_name() {
  return "ftd2xx.dll";
}

}  // namespace platform
}  // namespace kmt
