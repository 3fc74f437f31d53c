#include <windows.h>

#include <cstdio>
#include <string>

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

namespace {

// The directory of KMTv1dll.dll itself, with a trailing separator; empty if unknown.
std::string own_directory() {
  HMODULE self = nullptr;
  if (!::GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&own_directory), &self)) {
    return std::string();
  }
  char buffer[MAX_PATH];
  DWORD length = ::GetModuleFileNameA(self, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  std::string path(buffer, length);
  return path.substr(0, path.find_last_of("\\/") + 1);
}

bool is_file(const std::string &path) {
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

// A bare file name is looked for beside KMTv1dll.dll first (where a drop-in driver is
// placed, whatever program loaded the library), then in the program's directory and the
// system directories; never in the current directory or PATH, which another program
// could have filled. A path is loaded as given.
LibraryHandle load_library(const std::string &path, std::string *error) {
  HMODULE library = nullptr;
  if (path.find_first_of("\\/:") == std::string::npos) {
    std::string directory = own_directory();
    if (!directory.empty() && is_file(directory + path)) {
      library =
          ::LoadLibraryExA((directory + path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    } else {
      library = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    }
  } else {
    library = ::LoadLibraryA(path.c_str());
  }
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

// Programs on Windows often have no console; the debugger output reaches those.
void write_diagnostic(std::string_view text) {
  std::string line = "kmtv1: " + std::string(text) + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  ::OutputDebugStringA(line.c_str());
}

}  // namespace platform
}  // namespace kmt
