// The simulated controller's twelve digital lines: modes, output latches, the external
// stimulus on the pins and the waveform player. Shared with block acquisition, whose
// logic scan samples the lines and whose waveform output drives them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/controller.h"

namespace kmt::sim {

class DigitalIo {
 public:
  static constexpr int kLines = 12;
  // Port 0 is lines 0..7 (bit i = line i); port 1 is lines 8..11 (bits 0..3).
  static constexpr int kPort0Lines = 8;
  static constexpr std::uint8_t kModeInput = 0;        // reads the pin; an open pin reads 0
  static constexpr std::uint8_t kModeOutput = 1;       // drives its latch, reads it back
  static constexpr std::uint8_t kModeInputPullUp = 2;  // reads the pin; an open pin reads 1

  explicit DigitalIo(Controller &controller);

  // Empty when the options were understood; else why not (the family then refuses).
  const std::string &options_error() const { return options_error_; }

  // The level of a line or the value of a port at controller time t_us, which may lie
  // ahead of the present (a scan running on the controller).
  bool level(int line, double t_us) const;
  std::uint8_t port_value(int port, double t_us) const;
  // The lines of a port, in bit order.
  static int first_line(int port) { return port == 0 ? 0 : kPort0Lines; }
  static int line_count(int port) { return port == 0 ? kPort0Lines : kLines - kPort0Lines; }

  void set_mode(int line, std::uint8_t mode) { modes_[static_cast<std::size_t>(line)] = mode; }
  std::uint8_t mode(int line) const { return modes_[static_cast<std::size_t>(line)]; }
  // Sets a latch at controller time now_us; a port 0 latch write ends a playback.
  void write_latch(int line, bool high, std::uint64_t now_us);
  // Plays bytes on the port 0 latches from start_us, one byte per wave step; after the
  // last step the latches hold the last byte.
  void play_wave(std::vector<std::uint8_t> bytes, std::uint64_t start_us);
  double wave_step_us() const { return wave_step_us_; }

 private:
  enum class Pin { kLow, kHigh, kOpen, kSquare };
  // Folds a finished playback (or, with interrupt, a running one) into the latches.
  void settle(std::uint64_t now_us, bool interrupt);
  bool latch_at(int line, double t_us) const;
  bool pin_at(int line, double t_us, bool open_level) const;
  // Index of the wave byte playing at t_us, or -1 before the start.
  long wave_index(double t_us) const;

  std::array<std::uint8_t, kLines> modes_{};
  std::array<bool, kLines> latches_{};
  std::array<Pin, kLines> pins_{};
  double square_half_period_us_ = 0;
  std::vector<std::uint8_t> wave_;
  std::uint64_t wave_start_us_ = 0;
  double wave_step_us_ = 100;
  std::string options_error_;
};

}  // namespace kmt::sim
