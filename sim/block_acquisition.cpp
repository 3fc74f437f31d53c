// Block acquisition, logic scan and waveform output of the simulated controller
// (group 20, commands 0 and 1; group 200, command 0). Behaviour: sim/README.md,
// "Block acquisition and waveform output".
#include <cmath>
#include <vector>

#include "sim/analog_io.h"
#include "sim/controller.h"
#include "sim/digital_io.h"

namespace kmt::sim {
namespace {

constexpr std::uint8_t kGroupBlock = 20;
constexpr std::uint8_t kGroupWave = 200;
constexpr std::uint8_t kResultBadArgument = 1;
constexpr std::uint8_t kResultBadOptions = 0xD0;
constexpr std::uint16_t kMaxBlockIntervals = 2000;
constexpr std::uint16_t kMaxScanIntervals = 4000;
constexpr std::size_t kMaxWave = 2000;
constexpr std::uint16_t kWaveMode = 7;
// Fixed costs of the controller's loops, in microseconds.
constexpr double kBlockIntervalUs = 19.2327;  // per block interval, besides the inputs
constexpr double kBlockSetupUs = 4;
constexpr double kScanIntervalUs = 13.996;  // per scan interval, besides the delay word
constexpr double kScanSetupUs = 7.236;

std::uint16_t word_at(std::span<const std::uint8_t> r, std::size_t at) {
  return static_cast<std::uint16_t>(r[at] | r[at + 1] << 8);
}

void put_word(std::vector<std::uint8_t> *out, std::uint16_t word) {
  out->push_back(static_cast<std::uint8_t>(word & 0xFF));
  out->push_back(static_cast<std::uint8_t>(word >> 8));
}

std::uint64_t busy(double us) {
  return static_cast<std::uint64_t>(std::ceil(us));
}

}  // namespace

void install_block_acquisition(Controller &controller) {
  AnalogIo &analog = controller.part<AnalogIo>();
  DigitalIo &digital = controller.part<DigitalIo>();
  Clock &clock = controller.clock();

  // Analog block: enable bytes 0..3, delay word 4, interval count 6; the threshold
  // (8), auxiliary words (10, 14) and bytes (12, 13) are accepted and not used.
  controller.on(kGroupBlock, 0, [&analog, &clock](std::span<const std::uint8_t> r) {
    if (!analog.options_error().empty()) return refuse(kResultBadOptions);
    if (r.size() != 16) return refuse(kResultBadArgument);
    std::vector<int> inputs;
    std::uint8_t mask = 0;
    for (int input = 0; input < AnalogIo::kInputs; ++input) {
      if (r[static_cast<std::size_t>(input)] == 0) continue;
      inputs.push_back(input);
      mask = static_cast<std::uint8_t>(mask | 1u << input);
    }
    const std::uint16_t delay = word_at(r, 4);
    const std::uint16_t intervals = word_at(r, 6);
    if (inputs.empty() || intervals > kMaxBlockIntervals) return refuse(kResultBadArgument);

    // Group i starts at t0 + i * interval; its inputs are converted one after the other.
    const double interval =
        static_cast<double>(inputs.size()) * AnalogIo::kConversionUs + kBlockIntervalUs + delay;
    const std::uint64_t start = clock.now_us();
    const double t0 = static_cast<double>(start);
    Reply reply;
    reply.payload.reserve((intervals + 1u) * inputs.size() * 2 + 5);
    for (std::size_t i = 0; i <= intervals; ++i) {
      for (std::size_t k = 0; k < inputs.size(); ++k) {
        const double t = t0 + static_cast<double>(i) * interval +
                         static_cast<double>(k) * AnalogIo::kConversionUs;
        put_word(&reply.payload, analog.count(inputs[k], t));
      }
    }
    // Trailer: the mask of the sampled inputs, then the microsecond timer at the start.
    reply.payload.push_back(mask);
    put_word(&reply.payload, static_cast<std::uint16_t>(start & 0xFFFF));
    put_word(&reply.payload, static_cast<std::uint16_t>(start >> 16 & 0xFFFF));
    reply.busy_us = busy(intervals * interval + kBlockSetupUs);
    return reply;
  });

  // Logic scan of port 0: delay word 0, interval count 2; the rest is accepted and not
  // used. The last byte is port 1 at the last instant.
  controller.on(kGroupBlock, 1, [&digital, &clock](std::span<const std::uint8_t> r) {
    if (!digital.options_error().empty()) return refuse(kResultBadOptions);
    if (r.size() != 10) return refuse(kResultBadArgument);
    const std::uint16_t delay = word_at(r, 0);
    const std::uint16_t intervals = word_at(r, 2);
    if (intervals > kMaxScanIntervals) return refuse(kResultBadArgument);
    const double interval = delay + kScanIntervalUs;
    const double t0 = static_cast<double>(clock.now_us());
    Reply reply;
    for (std::size_t i = 0; i <= intervals; ++i) {
      reply.payload.push_back(digital.port_value(0, t0 + static_cast<double>(i) * interval));
    }
    reply.payload.push_back(digital.port_value(1, t0 + intervals * interval));
    reply.busy_us = busy(intervals * interval + kScanSetupUs);
    return reply;
  });

  // Waveform output: the word 7, then 1 to 2000 bytes played on port 0's latches.
  controller.on(kGroupWave, 0, [&digital, &clock](std::span<const std::uint8_t> r) {
    if (!digital.options_error().empty()) return refuse(kResultBadOptions);
    if (r.size() < 3 || r.size() > kMaxWave + 2 || word_at(r, 0) != kWaveMode) {
      return refuse(kResultBadArgument);
    }
    digital.play_wave(std::vector<std::uint8_t>(r.begin() + 2, r.end()), clock.now_us());
    return Reply{};
  });
}

}  // namespace kmt::sim
