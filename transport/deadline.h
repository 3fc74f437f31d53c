// Waiting until a deadline, for the providers whose reads must never end early while
// time remains (the driver contract's read time-out).
#pragma once

#include <algorithm>
#include <chrono>

namespace kmt {

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, rounded up so that a wait never ends early.
inline int remaining_ms(Clock::time_point deadline) {
  auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<decltype(ms)>(ms, 1 << 30));
}

}  // namespace kmt
