// Digital I/O commands of the simulated controller (group 16, commands 0, 1, 2, 7, 8,
// 20). Behaviour and options: sim/README.md, "Digital I/O".
#include "sim/digital_io.h"

#include <charconv>
#include <cmath>

namespace kmt::sim {
namespace {

constexpr std::uint8_t kGroup = 16;
constexpr std::uint8_t kResultBadArgument = 1;
// Refusal of every request of a family whose simulator options are malformed.
constexpr std::uint8_t kResultBadOptions = 0xD0;
constexpr int kLastPort = 1;

template <class Number>
bool parse_whole(std::string_view text, Number *value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

Reply answer(std::vector<std::uint8_t> payload = {}) {
  return Reply{0, std::move(payload), 0};
}

}  // namespace

DigitalIo::DigitalIo(Controller &controller) {
  pins_.fill(Pin::kOpen);
  const Options &options = controller.options();
  if (options.has("dio_in")) {
    const std::string text = options.text("dio_in");
    if (text.size() != kLines) {
      options_error_ = "dio_in: expected 12 characters 0, 1 or z";
    } else {
      for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '0')
          pins_[i] = Pin::kLow;
        else if (c == '1')
          pins_[i] = Pin::kHigh;
        else if (c == 'z' || c == 'Z')
          pins_[i] = Pin::kOpen;
        else
          options_error_ = "dio_in: expected 12 characters 0, 1 or z";
      }
    }
  }
  if (options.has("dio_clock")) {
    const std::string text = options.text("dio_clock");
    const std::size_t colon = text.find(':');
    unsigned line = 0;
    std::uint32_t period = 0;
    if (colon == std::string::npos ||
        !parse_whole(std::string_view(text).substr(0, colon), &line) ||
        !parse_whole(std::string_view(text).substr(colon + 1), &period) || line >= kLines ||
        period < 2) {
      options_error_ = "dio_clock: expected LINE:PERIOD_US, line 0 to 11, period 2 us or more";
    } else {
      pins_[line] = Pin::kSquare;
      square_half_period_us_ = period / 2.0;
    }
  }
  if (options.has("wave_step_us")) {
    std::uint32_t step = 0;
    if (!parse_whole(std::string_view(options.text("wave_step_us")), &step) || step == 0) {
      options_error_ = "wave_step_us: expected a whole number of microseconds, 1 or more";
    } else {
      wave_step_us_ = step;
    }
  }
}

long DigitalIo::wave_index(double t_us) const {
  const double since = t_us - static_cast<double>(wave_start_us_);
  if (since < 0) return -1;
  const double step = std::floor(since / wave_step_us_);
  const auto last = static_cast<double>(wave_.size() - 1);
  return static_cast<long>(std::min(step, last));
}

bool DigitalIo::latch_at(int line, double t_us) const {
  if (line < kPort0Lines && !wave_.empty()) {
    const long index = wave_index(t_us);
    if (index >= 0) return (wave_[static_cast<std::size_t>(index)] >> line & 1) != 0;
  }
  return latches_[static_cast<std::size_t>(line)];
}

bool DigitalIo::pin_at(int line, double t_us, bool open_level) const {
  switch (pins_[static_cast<std::size_t>(line)]) {
    case Pin::kLow:
      return false;
    case Pin::kHigh:
      return true;
    case Pin::kSquare:
      // Low for the first half period from time 0, high for the second, and so on.
      return std::fmod(std::floor(t_us / square_half_period_us_), 2.0) != 0.0;
    case Pin::kOpen:
      break;
  }
  return open_level;
}

bool DigitalIo::level(int line, double t_us) const {
  switch (mode(line)) {
    case kModeOutput:
      return latch_at(line, t_us);
    case kModeInputPullUp:
      return pin_at(line, t_us, true);
    default:
      return pin_at(line, t_us, false);
  }
}

std::uint8_t DigitalIo::port_value(int port, double t_us) const {
  unsigned value = 0;
  for (int bit = 0; bit < line_count(port); ++bit) {
    if (level(first_line(port) + bit, t_us)) value |= 1u << bit;
  }
  return static_cast<std::uint8_t>(value);
}

void DigitalIo::settle(std::uint64_t now_us, bool interrupt) {
  if (wave_.empty()) return;
  const double now = static_cast<double>(now_us);
  const double end = static_cast<double>(wave_start_us_) + wave_step_us_ * wave_.size();
  if (!interrupt && now < end) return;
  if (wave_index(now) >= 0) {
    for (int line = 0; line < kPort0Lines; ++line) latches_[line] = latch_at(line, now);
  }
  wave_.clear();
}

void DigitalIo::write_latch(int line, bool high, std::uint64_t now_us) {
  settle(now_us, line < kPort0Lines);
  latches_[static_cast<std::size_t>(line)] = high;
}

void DigitalIo::play_wave(std::vector<std::uint8_t> bytes, std::uint64_t start_us) {
  settle(start_us, true);
  wave_ = std::move(bytes);
  wave_start_us_ = start_us;
}

void install_digital_io(Controller &controller) {
  DigitalIo &io = controller.part<DigitalIo>();
  Clock &clock = controller.clock();
  // Every handler first refuses a controller built from malformed options.
  auto on = [&controller, &io](std::uint8_t command, Controller::Handler handler) {
    controller.on(kGroup, command,
                  [&io, handler = std::move(handler)](std::span<const std::uint8_t> request) {
                    if (!io.options_error().empty()) return refuse(kResultBadOptions);
                    return handler(request);
                  });
  };

  on(0, [&io](std::span<const std::uint8_t> r) {  // line mode: line, mode
    if (r.size() != 2 || r[0] >= DigitalIo::kLines || r[1] > 2) return refuse(kResultBadArgument);
    io.set_mode(r[0], r[1]);
    return answer();
  });
  on(1, [&io, &clock](std::span<const std::uint8_t> r) {  // line latch: line, level
    if (r.size() != 2 || r[0] >= DigitalIo::kLines) return refuse(kResultBadArgument);
    io.write_latch(r[0], r[1] != 0, clock.now_us());
    return answer();
  });
  on(2, [&io, &clock](std::span<const std::uint8_t> r) {  // port read: port
    if (r.size() != 1 || r[0] > kLastPort) return refuse(kResultBadArgument);
    return answer({io.port_value(r[0], static_cast<double>(clock.now_us()))});
  });
  on(7, [&io, &clock](std::span<const std::uint8_t> r) {  // port latches: port, value
    if (r.size() != 2 || r[0] > kLastPort) return refuse(kResultBadArgument);
    const int first = DigitalIo::first_line(r[0]);
    for (int bit = 0; bit < DigitalIo::line_count(r[0]); ++bit) {
      io.write_latch(first + bit, (r[1] >> bit & 1) != 0, clock.now_us());
    }
    return answer();
  });
  on(8, [&io](std::span<const std::uint8_t> r) {  // port mode: port, mode
    if (r.size() != 2 || r[0] > kLastPort || r[1] > 2) return refuse(kResultBadArgument);
    const int first = DigitalIo::first_line(r[0]);
    for (int bit = 0; bit < DigitalIo::line_count(r[0]); ++bit) io.set_mode(first + bit, r[1]);
    return answer();
  });
  // Masked write: bytes 0..11 the level of each line (non-zero is high), bytes 12..23 a
  // flag per line, 0 for a fixed level (0x00 or 0xFF) and 1 for a caller's value.
  on(20, [&io, &clock](std::span<const std::uint8_t> r) {
    if (r.size() != 2 * DigitalIo::kLines) return refuse(kResultBadArgument);
    for (int line = 0; line < DigitalIo::kLines; ++line) {
      if (r[DigitalIo::kLines + line] > 1) return refuse(kResultBadArgument);
    }
    for (int line = 0; line < DigitalIo::kLines; ++line) {
      io.write_latch(line, r[line] != 0, clock.now_us());
    }
    return answer();
  });
}

}  // namespace kmt::sim
