#include "sim/clock.h"

#include <thread>

namespace kmt::sim {

RealClock::RealClock() : start_(std::chrono::steady_clock::now()) {}

std::uint64_t RealClock::now_us() {
  auto elapsed = std::chrono::steady_clock::now() - start_;
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
}

void RealClock::wait_until_us(std::uint64_t deadline_us) {
  // One sleep may end a little early where the system's timer is coarser than the
  // steady clock (Windows): sleep again until the deadline has passed.
  auto deadline = start_ + std::chrono::microseconds(deadline_us);
  while (std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_until(deadline);
}

void VirtualClock::wait_until_us(std::uint64_t deadline_us) {
  if (deadline_us > now_us_) now_us_ = deadline_us;
}

}  // namespace kmt::sim
