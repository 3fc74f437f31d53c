#include <cstdlib>
#include <utility>

#include "library/abi.h"
#include "library/driver_choice.h"
#include "platform/platform.h"

namespace kmt::abi {
namespace {

// Function-local statics are built once even when threads race to the first call; the
// instance itself is only ever touched under the library lock, so it too is built
// exactly once.
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
    platform::write_diagnostic("KMT_DRIVER: " + error);
  }
  return std::make_unique<Library>(std::move(driver));
}

}  // namespace

std::mutex &library_mutex() {
  static std::mutex mutex;
  return mutex;
}

Library &instance() {
  auto &library = slot();
  if (!library) library = make_from_environment();
  return *library;
}

void replace_instance(std::unique_ptr<Library> library) {
  std::unique_ptr<Library> previous;
  {
    std::lock_guard<std::mutex> lock(library_mutex());
    previous = std::exchange(slot(), std::move(library));
  }
  // The old instance goes outside the lock: its driver may take its time to let go.
}

}  // namespace kmt::abi
