// The exported C functions' view of the library: one process-wide instance behind
// them, and the boundary rule that nothing thrown inside ever crosses into the host.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "device/library.h"

namespace kmt::abi {

// The process-wide instance, created on first use with the driver that KMT_DRIVER
// names (see make_driver); the driver is chosen once for the life of the process.
Library &instance();

// Replaces the process-wide instance; for tests that inject a driver.
void replace_instance(std::unique_ptr<Library> library);

// Runs body against the instance; an exception (out of memory, for instance) ends the
// call quietly instead of unwinding into a host that cannot catch it.
template <class Body>
void guarded(Body body) noexcept {
  try {
    body(instance());
  } catch (...) {
  }
}

// True when no pointer is null.
template <class... Pointers>
bool present(const Pointers *...pointers) {
  return ((pointers != nullptr) && ...);
}

}  // namespace kmt::abi
