// The two clocks of the simulated controller.
#pragma once

#include <chrono>
#include <cstdint>

#include "sim/controller.h"

namespace kmt::sim {

// Follows the steady wall clock from its construction; waiting sleeps.
class RealClock final : public Clock {
 public:
  RealClock();
  std::uint64_t now_us() override;
  void wait_until_us(std::uint64_t deadline_us) override;

 private:
  std::chrono::steady_clock::time_point start_;
};

// Starts at 0 and moves only when someone waits (or a test advances it), so waiting
// costs no real time and every run sees the same times.
class VirtualClock final : public Clock {
 public:
  std::uint64_t now_us() override { return now_us_; }
  void wait_until_us(std::uint64_t deadline_us) override;
  void advance_us(std::uint64_t us) { now_us_ += us; }

 private:
  std::uint64_t now_us_ = 0;
};

}  // namespace kmt::sim
