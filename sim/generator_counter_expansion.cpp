// Signal generator, pulse counter and 74HC595/74HC165 expansion of the simulated
// controller: group 18, commands 0 to 5.
#include "sim/generator_counter_expansion.h"

#include <algorithm>
#include <cmath>

namespace kmt::sim {
namespace {

constexpr std::uint8_t kGroup = 18;

enum : std::uint8_t {
  kGenerate = 0,
  kExpansionInit = 1,
  kShiftOut = 2,
  kShiftIn = 3,
  kCountOneWord = 4,
  kCountTwoWords = 5,
};

constexpr std::uint16_t kDutyFull = 1000;
constexpr std::size_t kShiftLimit = 64;
constexpr std::uint16_t kCountMax = 0xFFFF;

std::uint16_t word_at(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

// Rising edges at started + k * period (k >= 0) before the time t.
std::uint64_t edges_before(std::uint64_t started, std::uint64_t period, std::uint64_t t) {
  if (t <= started) return 0;
  return (t - started + period - 1) / period;
}

}  // namespace

GeneratorCounterExpansion::GeneratorCounterExpansion(Controller &controller) {
  // Chain length from the option expansion_chain (1 to 64 registers).
  double length = controller.options().number("expansion_chain", kDefaultChainLength);
  if (!(length >= 1 && length <= kMaxChainLength)) length = kDefaultChainLength;
  outputs.assign(static_cast<std::size_t>(length), 0);
}

std::uint64_t GeneratorCounterExpansion::period_us() const {
  if (!generating || value1 == 0 || value3 == 0 || value3 >= kDutyFull) return 0;
  // value1 microseconds per tick, value2_received + 1 ticks per period.
  return static_cast<std::uint64_t>(value1) * (static_cast<std::uint64_t>(value2_received) + 1);
}

std::uint64_t GeneratorCounterExpansion::rising_edges(std::uint64_t from_us,
                                                      std::uint64_t to_us) const {
  const std::uint64_t period = period_us();
  if (period == 0 || to_us <= from_us) return 0;
  return edges_before(started_us, period, to_us) - edges_before(started_us, period, from_us);
}

std::uint64_t GeneratorCounterExpansion::window_us(std::uint8_t command, std::uint16_t word0,
                                                   std::uint16_t word1) {
  if (command == kCountOneWord) {
    return (static_cast<std::uint64_t>(word0) * 1000000 + kCounterBaseHz / 2) / kCounterBaseHz;
  }
  return static_cast<std::uint64_t>(word0) * word1;
}

void install_generator_counter_expansion(Controller &controller) {
  auto *state = &controller.part<GeneratorCounterExpansion>();
  Clock *clock = &controller.clock();

  controller.on(kGroup, kGenerate, [state, clock](std::span<const std::uint8_t> request) {
    if (request.size() < 6) return refuse();
    state->generating = true;
    state->value1 = word_at(request, 0);
    state->value2_received = word_at(request, 2);
    state->value3 = std::min(word_at(request, 4), kDutyFull);
    state->started_us = clock->now_us();
    return Reply{};
  });

  auto count = [state, clock](std::uint8_t command, std::size_t words) {
    return [state, clock, command, words](std::span<const std::uint8_t> request) {
      if (request.size() < 2 * words) return refuse();
      const std::uint16_t word1 = words == 2 ? word_at(request, 2) : 0;
      const std::uint64_t window =
          GeneratorCounterExpansion::window_us(command, word_at(request, 0), word1);
      const std::uint64_t from = clock->now_us();
      // The 16-bit result saturates rather than wrap, so an overflow is recognisable.
      const auto pulses = static_cast<std::uint16_t>(
          std::min<std::uint64_t>(state->rising_edges(from, from + window), kCountMax));
      Reply reply;
      reply.payload = {static_cast<std::uint8_t>(pulses & 0xFF),
                       static_cast<std::uint8_t>(pulses >> 8)};
      // The answer comes when the gate window closes.
      reply.busy_us = window;
      return reply;
    };
  };
  controller.on(kGroup, kCountOneWord, count(kCountOneWord, 1));
  controller.on(kGroup, kCountTwoWords, count(kCountTwoWords, 2));

  controller.on(kGroup, kExpansionInit, [state](std::span<const std::uint8_t>) {
    std::fill(state->outputs.begin(), state->outputs.end(), 0);
    return Reply{};
  });

  controller.on(kGroup, kShiftOut, [state](std::span<const std::uint8_t> request) {
    if (request.empty() || request.size() < 1u + request[0]) return refuse();
    auto &chain = state->outputs;
    for (std::size_t i = 1; i <= request[0]; ++i) {
      // Each byte enters next to the controller; the far register's byte drops out.
      std::rotate(chain.rbegin(), chain.rbegin() + 1, chain.rend());
      chain.front() = request[i];
    }
    return Reply{};
  });

  controller.on(kGroup, kShiftIn, [state](std::span<const std::uint8_t> request) {
    if (request.empty()) return refuse();
    const std::size_t n = std::min<std::size_t>(request[0], kShiftLimit);
    const auto &inputs = state->outputs;  // each 74HC165 loads its 74HC595's outputs
    Reply reply;
    // The far register comes out first; past the chain the serial input is tied low.
    for (std::size_t i = 0; i < n; ++i) {
      reply.payload.push_back(i < inputs.size() ? inputs[inputs.size() - 1 - i] : 0x00);
    }
    return reply;
  });
}

}  // namespace kmt::sim
