// The exported C functions' view of the library: one process-wide instance behind
// them, one lock that serialises every call, and the boundary rule that nothing thrown
// inside ever crosses into the host.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "device/library.h"

namespace kmt::abi {

// The lock every export holds for its whole call: the instance keeps one payload
// buffer, one device table and one transport for all callers, so calls from several
// threads take turns and each sees exactly what it would see alone.
std::mutex &library_mutex();

// The process-wide instance, created on first use with the driver that KMT_DRIVER
// names (see make_driver); the driver is chosen once for the life of the process.
// The caller holds library_mutex().
Library &instance();

// Replaces the process-wide instance; for tests that inject a driver.
void replace_instance(std::unique_ptr<Library> library);

// Runs body under the library lock; an exception (out of memory, for instance) ends
// the call quietly instead of unwinding into a host that cannot catch it.
template <class Body>
void serialised(Body body) noexcept {
  try {
    std::lock_guard<std::mutex> lock(library_mutex());
    body();
  } catch (...) {
  }
}

// Runs body against the instance, as serialised() does.
template <class Body>
void guarded(Body body) noexcept {
  serialised([&] { body(instance()); });
}

// True when no pointer is null.
template <class... Pointers>
bool present(const Pointers *...pointers) {
  return ((pointers != nullptr) && ...);
}

}  // namespace kmt::abi
