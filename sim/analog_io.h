// The simulated controller's analog side: four inputs driven by configurable signals,
// two outputs looped back to inputs, and the 10-bit converter. Shared with block
// acquisition, which samples the same inputs.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "sim/controller.h"

namespace kmt::sim {

class AnalogIo {
 public:
  static constexpr int kInputs = 4;
  static constexpr int kOutputs = 2;
  // Converter time of one input, in microseconds (the block interval's per-input share).
  static constexpr double kConversionUs = 108.7663;

  // One input's signal in volts over controller time t (microseconds).
  struct Signal {
    enum class Kind { kConstant, kSine, kRamp, kNoise };
    Kind kind = Kind::kConstant;
    // constant: a = volts. sine: a + b * sin(2 pi c t / 1e6), c in hertz.
    // ramp: a rising to b over c microseconds, then again from a. noise: a +- b, uniform.
    double a = 0, b = 0, c = 0;
  };

  explicit AnalogIo(Controller &controller);

  // Empty when the options were understood; else why not (the family then refuses).
  const std::string &options_error() const { return options_error_; }

  // Volts on input 0..3 at controller time t_us: its signal, or the output looped to it.
  double volts(int input, double t_us) const;
  // The 10-bit count of input 0..3 at t_us.
  std::uint16_t count(int input, double t_us) const { return volts_to_count(volts(input, t_us)); }
  // 1023 counts are 5 V: nearest count, halves away from zero, held to 0..1023.
  static std::uint16_t volts_to_count(double volts);
  // An output code's voltage: 10000 codes are 5 V.
  static double code_to_volts(std::uint16_t code) { return code * 5.0 / 10000.0; }

  void set_output(int output, std::uint16_t code) {
    outputs_[static_cast<std::size_t>(output)] = code;
  }
  std::uint16_t output(int output) const { return outputs_[static_cast<std::size_t>(output)]; }
  void set_divider(std::uint16_t divider) { divider_ = divider; }
  std::uint16_t divider() const { return divider_; }

 private:
  double signal_volts(int input, double t_us) const;

  std::array<Signal, kInputs> signals_{};
  // The input (0..3) each output is looped to, or -1.
  std::array<int, kOutputs> loop_to_{2, 3};
  std::array<std::uint16_t, kOutputs> outputs_{};
  std::uint16_t divider_ = 0;
  std::uint64_t noise_key_ = 1;
  std::string options_error_;
};

}  // namespace kmt::sim
