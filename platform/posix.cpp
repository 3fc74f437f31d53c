#include <dlfcn.h>
#include <time.h>

#include <cerrno>
#include <cstdio>

#include "platform/platform.h"

namespace kmt {
namespace {

class PosixPlatform final : public Platform {
 public:
  void sleep_ms(std::uint32_t ms) override {
    timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    timespec remaining{};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
  }
  void show_error(std::string_view text) override {
    std::fprintf(stderr, "kmtv1: %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
  }
};

}  // namespace

Platform &system_platform() {
  static PosixPlatform platform;
  return platform;
}

namespace platform {

LibraryHandle load_library(const std::string &path, std::string *error) {
  // RTLD_LOCAL keeps the driver's symbols from leaking into the host's namespace.
  void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr && error != nullptr) {
    const char *reason = dlerror();
    *error = reason != nullptr ? reason : ("cannot load " + path);
  }
  return library;
}

void *find_symbol(LibraryHandle library, const char *name) {
  return dlsym(library, name);
}

const char *vendor_driver_name() {
  return "libftd2xx.so";
}

void write_diagnostic(std::string_view text) {
  std::fprintf(stderr, "kmtv1: %.*s\n", static_cast<int>(text.size()), text.data());
  std::fflush(stderr);
}

}  // namespace platform
}  // namespace kmt
