// The ranges the command-line tool, the browser panel and the MQTT bridge accept for each argument,
// and the parsers for byte lists. Pure functions only: no parsing framework, no I/O, so a server
// can check a request with the same rules as the command line.
//
// The library itself clamps or passes most values unchanged; these ranges are stricter
// on purpose: a user who types a line number of 12 or an output of 7 V made a mistake,
// and the tool says so instead of sending something else.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kmt::tools {

// An inclusive range of whole numbers with the name used in messages.
struct Range {
  long long min, max;
  const char *what;
};

inline constexpr Range kLine{0, 11, "line"};                  // digital lines 0..11
inline constexpr Range kPort{0, 1, "port"};                   // port 0 (lines 0..7), 1 (8..11)
inline constexpr Range kLineMode{0, 2, "mode"};               // 0 input, 1 output, 2 pull-up
inline constexpr Range kBit{0, 1, "level"};                   // a line's level
inline constexpr Range kByte{0, 255, "byte"};                 // any byte
inline constexpr Range kWord{0, 65535, "value"};              // any 16-bit word
inline constexpr Range kAnalogInput{1, 4, "analog input"};    // inputs are numbered 1..4
inline constexpr Range kAnalogOutput{0, 1, "analog output"};  // outputs 0 and 1
inline constexpr Range kI2cClock{1, 5, "I2C clock selector"};
inline constexpr Range kSpiClock{1, 7, "SPI clock selector"};
inline constexpr Range kI2cAddress{0, 127, "I2C address"};  // 7-bit addresses
inline constexpr Range kGenDivider{6, 10000, "generator divider"};
inline constexpr Range kGenDuty{0, 1000, "duty (per mille)"};
inline constexpr Range kCounterWindow{0, 17, "counting window"};
// Samples per acquisition (the controller takes one more than the intervals it is sent).
inline constexpr Range kBlockSamples{1, 2001, "sample count"};
inline constexpr Range kScanSamples{1, 4001, "sample count"};
inline constexpr Range kSampleDelay{0, 3000, "sample delay (us)"};
inline constexpr Range kWaveLength{1, 2000, "waveform length"};
inline constexpr Range kTransferBytes{1, 64, "byte count"};  // UART, 1-Wire, shift chain
inline constexpr Range kResponseDelay{0, 10000, "response delay (ms)"};
inline constexpr Range kWatchInterval{1, 3600000, "interval (ms)"};
inline constexpr Range kWatchCount{0, 100000000, "reading count"};  // 0: until Ctrl-C

inline constexpr std::size_t kUserSerialBytes = 16;
inline constexpr std::size_t kUserAreaBytes = 128;

// The analog outputs span 0..5 V (10000 codes per 5 V).
inline constexpr double kOutputMinVolts = 0.0;
inline constexpr double kOutputMaxVolts = 5.0;

// An error message when value lies outside r, nothing when it is inside.
inline std::optional<std::string> check(const Range &r, long long value) {
  if (value >= r.min && value <= r.max) return std::nullopt;
  return std::string(r.what) + " " + std::to_string(value) + " is outside " +
         std::to_string(r.min) + ".." + std::to_string(r.max);
}

// Output volts: a finite number within the output's range (NaN and infinities refused).
inline std::optional<std::string> check_output_volts(double volts) {
  if (std::isfinite(volts) && volts >= kOutputMinVolts && volts <= kOutputMaxVolts) {
    return std::nullopt;
  }
  return "output voltage must be a number from 0 to 5 V";
}

// The generator divides a 1 MHz time base by value1 x value2 (each 6..10000), so it
// reaches 1e6 / (6 * 6) Hz at the top and 1e6 / 1e8 Hz at the bottom.
inline constexpr double kGenMinHz = 0.01;
inline constexpr double kGenMaxHz = 1e6 / 36;

// Generator frequency: a finite number within what the dividers reach.
inline std::optional<std::string> check_generator_hz(double hz) {
  if (std::isfinite(hz) && hz >= kGenMinHz && hz <= kGenMaxHz) return std::nullopt;
  return "frequency must be from 0.01 Hz to 27777 Hz";
}

// The divider pair whose product comes nearest 1e6 / hz, and the frequency it gives.
struct GenDividers {
  int value1, value2;
  double hz;
};
inline GenDividers generator_dividers(double hz) {
  const double product = 1e6 / hz;
  GenDividers best{6, 6, 0.0};
  double best_error = INFINITY;
  for (int v1 = 6; v1 <= 10000; ++v1) {
    auto v2 = static_cast<int>(std::lround(product / v1));
    if (v2 < 6 || v2 > 10000) continue;
    double error = std::fabs(1e6 / (static_cast<double>(v1) * v2) - hz);
    if (error < best_error) {
      best_error = error;
      best = {v1, v2, 1e6 / (static_cast<double>(v1) * v2)};
    }
  }
  return best;
}

// Parses a byte list written as hex: "01 a0 ff", "01a0ff", "0x01,0xa0,0xff" or
// "01:a0:ff". Separators are blanks, commas and colons; a "0x" prefix is allowed per
// byte; a run of digits between separators is read two digits per byte, and a single
// digit alone is one byte. Returns nothing and sets *error when the text is not such a list.
inline std::optional<std::vector<std::uint8_t>> parse_hex_bytes(std::string_view text,
                                                                std::string *error) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<std::uint8_t> bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == ' ' || c == ',' || c == ':' || c == '\t' || c == '\n') {
      ++i;
      continue;
    }
    if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
    // A run of digits up to the next separator: an even number of digits, two per byte;
    // a single digit after "0x" or alone stands for one byte.
    std::size_t end = i;
    while (end < text.size() && digit(text[end]) >= 0) ++end;
    if (end == i || (end < text.size() && text[end] != ' ' && text[end] != ',' &&
                     text[end] != ':' && text[end] != '\t' && text[end] != '\n')) {
      if (error) *error = "not a hex byte list: \"" + std::string(text) + "\"";
      return std::nullopt;
    }
    std::size_t run = end - i;
    if (run == 1) {
      bytes.push_back(static_cast<std::uint8_t>(digit(text[i])));
    } else if (run % 2 == 0) {
      for (std::size_t k = i; k < end; k += 2) {
        bytes.push_back(static_cast<std::uint8_t>(digit(text[k]) * 16 + digit(text[k + 1])));
      }
    } else {
      if (error)
        *error = "odd number of hex digits in \"" + std::string(text.substr(i, run)) + "\"";
      return std::nullopt;
    }
    i = end;
  }
  return bytes;
}

// The bytes as lower-case hex pairs separated by single spaces.
inline std::string to_hex(const std::uint8_t *data, std::size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < n; ++i) {
    if (i) text += ' ';
    text += digits[data[i] >> 4];
    text += digits[data[i] & 15];
  }
  return text;
}
inline std::string to_hex(const std::vector<std::uint8_t> &bytes) {
  return to_hex(bytes.data(), bytes.size());
}

// Parses "1,2,4" or "1-4" into input numbers within r, ascending and without repeats.
inline std::optional<std::vector<int>> parse_number_list(std::string_view text, const Range &r,
                                                         std::string *error) {
  std::vector<bool> chosen(static_cast<std::size_t>(r.max - r.min + 1), false);
  std::size_t i = 0;
  auto number = [&](long long *value) {
    std::size_t start = i;
    *value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 9) {
      *value = *value * 10 + (text[i] - '0');
      ++i;
    }
    return i > start;
  };
  while (i < text.size()) {
    long long first = 0, last = 0;
    if (!number(&first)) break;
    last = first;
    if (i < text.size() && text[i] == '-') {
      ++i;
      if (!number(&last)) break;
    }
    for (long long v : {first, last}) {
      if (auto problem = check(r, v)) {
        if (error) *error = *problem;
        return std::nullopt;
      }
    }
    for (long long v = first; v <= last; ++v) chosen[static_cast<std::size_t>(v - r.min)] = true;
    if (i == text.size()) {
      std::vector<int> list;
      for (std::size_t k = 0; k < chosen.size(); ++k) {
        if (chosen[k]) list.push_back(static_cast<int>(r.min + static_cast<long long>(k)));
      }
      if (list.empty()) break;
      return list;
    }
    if (text[i] != ',') break;
    ++i;
  }
  if (error) *error = "not a list of " + std::string(r.what) + "s: \"" + std::string(text) + "\"";
  return std::nullopt;
}

}  // namespace kmt::tools
