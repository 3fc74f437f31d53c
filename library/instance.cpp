#include <cstdlib>

#include "library/abi.h"
#include "platform/platform.h"

namespace kmt::abi {
namespace {

std::unique_ptr<Library> &slot() {
  static std::unique_ptr<Library> library;
  return library;
}

std::unique_ptr<Library> make_from_environment() {
  const char *name = std::getenv("KMT_DRIVER");
  std::string error;
  auto driver = make_driver(name != nullptr ? name : "", &error);
  // A driver the user named but that cannot be had deserves one clear line; the
  // default vendor driver missing is reported only through the discovery status.
  if (!error.empty() && name != nullptr && *name != '\0') {
    system_platform().show_error("KMT_DRIVER: " + error);
  }
  return std::make_unique<Library>(std::move(driver));
}

}  // namespace

Library &instance() {
  auto &library = slot();
  if (!library) library = make_from_environment();
  return *library;
}

void replace_instance(std::unique_ptr<Library> library) {
  slot() = std::move(library);
}

}  // namespace kmt::abi
