// The simulated controller's signal generator, pulse counter and expansion port
// (group 18). The counter's input is the generator's output; the 74HC595 chain's
// outputs are wired to the 74HC165 chain's inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/controller.h"

namespace kmt::sim {

struct GeneratorCounterExpansion {
  explicit GeneratorCounterExpansion(Controller &controller);

  // Generator: a 1 MHz timer base divided by value1 clocks a period counter reloaded
  // with the received second value (period - 1); value3 is the high time in per mille
  // of the period. Output starts high at started_us. Stopped until the first request.
  static constexpr std::uint64_t kTimerBaseHz = 1000000;
  bool generating = false;
  std::uint16_t value1 = 0;
  std::uint16_t value2_received = 0;  // the period in prescaled ticks, minus one
  std::uint16_t value3 = 0;
  std::uint64_t started_us = 0;

  // Period of the output in microseconds; 0 when no edges come out (stopped, a zero
  // prescaler, or a duty of 0 or 1000 per mille, which hold the output at one level).
  std::uint64_t period_us() const;
  // Rising edges of the output in [from_us, to_us).
  std::uint64_t rising_edges(std::uint64_t from_us, std::uint64_t to_us) const;

  // Counter: the gate window a request chooses, in microseconds. Command 4 (one word
  // w): w ticks of a 10.872 kHz time base, rounded to the microsecond. Command 5 (words
  // w0, w1): w0 * w1 microseconds (a 1 MHz base with prescaler w1).
  static std::uint64_t window_us(std::uint8_t command, std::uint16_t word0, std::uint16_t word1);
  static constexpr std::uint64_t kCounterBaseHz = 10872;

  // Expansion: register 0 is next to the controller in both chains; shifting out
  // pushes toward the far end, shifting in reads the far end first.
  static constexpr std::size_t kDefaultChainLength = 8;
  static constexpr std::size_t kMaxChainLength = 64;
  std::vector<std::uint8_t> outputs;  // the 74HC595 chain, one byte per register
};

}  // namespace kmt::sim
