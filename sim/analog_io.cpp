// Analog I/O commands of the simulated controller (group 16, commands 3, 4, 5, 6, 19;
// group 17, commands 6 and 7). Behaviour and options: sim/README.md, "Analog I/O".
#include "sim/analog_io.h"

#include <charconv>
#include <cmath>
#include <numbers>
#include <vector>

namespace kmt::sim {
namespace {

constexpr std::uint8_t kGroupAnalog = 16;
constexpr std::uint8_t kGroupSingle = 17;
constexpr std::uint8_t kResultBadArgument = 1;
constexpr std::uint8_t kResultBadOptions = 0xD0;

// "a:b:c" into finite numbers (classic notation whatever the locale).
bool parse_numbers(std::string_view text, std::vector<double> *numbers) {
  numbers->clear();
  while (true) {
    const std::size_t colon = text.find(':');
    const std::string_view item = text.substr(0, colon);
    double value = 0;
    auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), value);
    if (error != std::errc() || end != item.data() + item.size() || !std::isfinite(value)) {
      return false;
    }
    numbers->push_back(value);
    if (colon == std::string_view::npos) return true;
    text = text.substr(colon + 1);
  }
}

bool parse_signal(const std::string &text, AnalogIo::Signal *signal) {
  using Kind = AnalogIo::Signal::Kind;
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  const std::string kind = text.substr(0, colon);
  std::vector<double> n;
  if (!parse_numbers(std::string_view(text).substr(colon + 1), &n)) return false;
  if (kind == "const" && n.size() == 1) {
    *signal = {Kind::kConstant, n[0], 0, 0};
  } else if (kind == "sine" && n.size() == 3) {
    *signal = {Kind::kSine, n[0], n[1], n[2]};
  } else if (kind == "ramp" && n.size() == 3 && n[2] > 0) {
    *signal = {Kind::kRamp, n[0], n[1], n[2]};
  } else if (kind == "noise" && n.size() == 2) {
    *signal = {Kind::kNoise, n[0], n[1], 0};
  } else {
    return false;
  }
  return true;
}

// A well-mixed 64-bit hash (the finaliser of a splitmix generator): the noise of one
// input at one microsecond, the same on every run.
std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

void put_word(std::vector<std::uint8_t> *out, std::uint16_t word) {
  out->push_back(static_cast<std::uint8_t>(word & 0xFF));
  out->push_back(static_cast<std::uint8_t>(word >> 8));
}

void put_long(std::vector<std::uint8_t> *out, std::uint32_t value) {
  put_word(out, static_cast<std::uint16_t>(value & 0xFFFF));
  put_word(out, static_cast<std::uint16_t>(value >> 16));
}

}  // namespace

AnalogIo::AnalogIo(Controller &controller) {
  using Kind = Signal::Kind;
  // Defaults: a 50 Hz sine, a 20 ms ramp, and two constants behind the loopbacks.
  signals_ = {Signal{Kind::kSine, 2.5, 2.0, 50.0}, Signal{Kind::kRamp, 0.0, 5.0, 20000.0},
              Signal{Kind::kConstant, 1.25, 0, 0}, Signal{Kind::kNoise, 2.5, 0.1, 0}};
  const Options &options = controller.options();
  for (int input = 0; input < kInputs; ++input) {
    const std::string key = "ai" + std::to_string(input + 1);
    if (options.has(key) && !parse_signal(options.text(key), &signals_[input])) {
      options_error_ = key + ": expected const:V, sine:OFFSET:AMPLITUDE:HZ, " +
                       "ramp:FROM:TO:PERIOD_US or noise:MEAN:SPAN";
    }
  }
  for (int output = 0; output < kOutputs; ++output) {
    const std::string key = "ao" + std::to_string(output) + "_to";
    if (!options.has(key)) continue;
    const std::string text = options.text(key);
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '4') {
      loop_to_[output] = text[0] - '0' - 1;  // 0: not looped
    } else {
      options_error_ = key + ": expected an input 1 to 4, or 0 for none";
    }
  }
  if (options.has("noise_key")) {
    const std::string text = options.text("noise_key");
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), noise_key_);
    if (error != std::errc() || end != text.data() + text.size()) {
      options_error_ = "noise_key: expected a whole number";
    }
  }
}

double AnalogIo::signal_volts(int input, double t_us) const {
  const Signal &s = signals_[static_cast<std::size_t>(input)];
  switch (s.kind) {
    case Signal::Kind::kSine:
      return s.a + s.b * std::sin(2.0 * std::numbers::pi * s.c * t_us / 1e6);
    case Signal::Kind::kRamp:
      return s.a + (s.b - s.a) * (std::fmod(t_us, s.c) / s.c);
    case Signal::Kind::kNoise: {
      // Uniform in [a - b, a + b), from the input and the whole microsecond.
      const std::uint64_t key = mix(noise_key_ ^ mix(static_cast<std::uint64_t>(input) << 56 ^
                                                     static_cast<std::uint64_t>(t_us)));
      const double unit = static_cast<double>(key >> 11) / 9007199254740992.0;  // 2^53
      return s.a + s.b * (2.0 * unit - 1.0);
    }
    case Signal::Kind::kConstant:
      break;
  }
  return s.a;
}

double AnalogIo::volts(int input, double t_us) const {
  for (int output = 0; output < kOutputs; ++output) {
    if (loop_to_[static_cast<std::size_t>(output)] == input)
      return code_to_volts(this->output(output));
  }
  return signal_volts(input, t_us);
}

std::uint16_t AnalogIo::volts_to_count(double volts) {
  const double counts = volts / 5.0 * 1023.0;
  if (!(counts > 0)) return 0;  // NaN too
  if (counts >= 1023) return 1023;
  return static_cast<std::uint16_t>(std::lround(counts));
}

void install_analog_io(Controller &controller) {
  AnalogIo &io = controller.part<AnalogIo>();
  Clock &clock = controller.clock();
  auto on = [&controller, &io](std::uint8_t group, std::uint8_t command,
                               Controller::Handler handler) {
    controller.on(group, command,
                  [&io, handler = std::move(handler)](std::span<const std::uint8_t> request) {
                    if (!io.options_error().empty()) return refuse(kResultBadOptions);
                    return handler(request);
                  });
  };
  // All four inputs, converted one after the other from the moment of the request.
  auto four = [&io, &clock](bool with_timer) {
    const std::uint64_t now = clock.now_us();
    Reply reply;
    for (int input = 0; input < AnalogIo::kInputs; ++input) {
      put_word(&reply.payload,
               io.count(input, static_cast<double>(now) + input * AnalogIo::kConversionUs));
    }
    if (with_timer) put_long(&reply.payload, static_cast<std::uint32_t>(now));
    reply.busy_us =
        static_cast<std::uint64_t>(std::ceil(AnalogIo::kInputs * AnalogIo::kConversionUs));
    return reply;
  };
  // One input, chosen by the channel byte 0..3.
  auto single = [&io, &clock](std::span<const std::uint8_t> r, bool with_timer) {
    if (r.size() != 1 || r[0] >= AnalogIo::kInputs) return refuse(kResultBadArgument);
    const std::uint64_t now = clock.now_us();
    Reply reply;
    put_word(&reply.payload, io.count(r[0], static_cast<double>(now)));
    if (with_timer) put_long(&reply.payload, static_cast<std::uint32_t>(now));
    reply.busy_us = static_cast<std::uint64_t>(std::ceil(AnalogIo::kConversionUs));
    return reply;
  };
  auto output = [&io](int which) {
    return [&io, which](std::span<const std::uint8_t> r) {
      if (r.size() != 2) return refuse(kResultBadArgument);
      io.set_output(which, static_cast<std::uint16_t>(r[0] | r[1] << 8));
      return Reply{};
    };
  };

  on(kGroupAnalog, 3, [four](std::span<const std::uint8_t> r) {
    return r.empty() ? four(false) : refuse(kResultBadArgument);
  });
  on(kGroupAnalog, 19, [four](std::span<const std::uint8_t> r) {
    return r.empty() ? four(true) : refuse(kResultBadArgument);
  });
  on(kGroupSingle, 6, [single](std::span<const std::uint8_t> r) { return single(r, false); });
  on(kGroupSingle, 7, [single](std::span<const std::uint8_t> r) { return single(r, true); });
  on(kGroupAnalog, 4, output(0));
  on(kGroupAnalog, 5, output(1));
  on(kGroupAnalog, 6, [&io](std::span<const std::uint8_t> r) {
    if (r.size() != 2) return refuse(kResultBadArgument);
    io.set_divider(static_cast<std::uint16_t>(r[0] | r[1] << 8));
    return Reply{};
  });
}

}  // namespace kmt::sim
