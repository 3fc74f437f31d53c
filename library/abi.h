// The exported C functions' view of the library: one process-wide instance behind
// them, one lock that serialises every call, and the boundary rule that nothing thrown
// inside ever crosses into the host.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "library/instance.h"

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

// The status a call reports when an exception ended it inside the library: the call
// did not complete, whatever it had done, so no response can be trusted.
constexpr std::int32_t kStatusInterrupted = kStatusBadResponse;

// Runs body against the instance, as serialised() does; when an exception ends it, a
// status pointer that is not null receives kStatusInterrupted, so its caller never
// reads an earlier success.
template <class Body>
void guarded(std::int32_t *status, Body body) noexcept {
  try {
    std::lock_guard<std::mutex> lock(library_mutex());
    body(instance());
  } catch (...) {
    if (status != nullptr) *status = kStatusInterrupted;
  }
}

// True when no pointer is null.
template <class... Pointers>
bool present(const Pointers *...pointers) {
  return ((pointers != nullptr) && ...);
}

// True when the call must stop because it would use a null pointer (the status pointer
// included). The call then has no effect, except that a status pointer that is itself
// valid receives 4 (argument out of range), so its caller never reads a stale success.
// Only the caller's own variable is written: no lock is needed.
template <class... Pointers>
bool refused(std::int32_t *status, const Pointers *...used) {
  if (status != nullptr && present(used...)) return false;
  if (status != nullptr) *status = kStatusOutOfRange;
  return true;
}

// The pointer when the call will use it; otherwise a stand-in that passes the check,
// for data that a count of 0 leaves unused.
template <class T>
const void *if_used(bool used, const T *pointer) {
  static const char unused = 0;
  return used ? static_cast<const void *>(pointer) : &unused;
}

}  // namespace kmt::abi
