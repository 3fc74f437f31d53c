// The panel's access to one controller, through the library's exported functions only.
// One request at a time reaches the library (the library serves one calling thread at a
// time); a request that finds the library busy for too long is answered at once with
// what is keeping it busy, so the page stays responsive while the controller is slow or
// silent (a silent controller holds each exchange for about 30 s).
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace panel {

// What a call to the controller gave: empty error means success. http_status says how
// the server should answer: 400 bad input, 502 the controller failed, 503 busy.
struct Outcome {
  int http_status = 200;
  std::string error;
  bool ok() const { return error.empty(); }
};

inline constexpr int kLines = 12;

struct Live {
  double inputs[4] = {};
  uint8_t ports[2] = {};
};

struct Acquisition {
  std::vector<int> inputs;                 // 1-based input numbers, in sample order
  std::vector<std::vector<double>> volts;  // one trace per input
  double interval_s = 0, duration_s = 0;   // time between samples, whole block
  uint8_t trailer_byte = 0;
  uint32_t trailer_value = 0;
};

struct Scan {
  std::vector<uint8_t> port;  // lines 0..7, one byte per sampling instant
  double period_s = 0;
  uint8_t last_byte = 0;
};

class Controller {
 public:
  // serial: the full serial-number string, or empty for the first controller found.
  explicit Controller(std::string serial);
  ~Controller();
  Controller(const Controller &) = delete;
  Controller &operator=(const Controller &) = delete;

  // Opens the controller; the error in words when that fails.
  Outcome open();

  // The controller's full serial-number string (type code and serial number, as the
  // command-line tool's `list` prints it and -s takes it), and its firmware.
  std::string listed_name() const;
  Outcome firmware(uint16_t words[4]);

  Outcome read_live(Live &live);
  Outcome set_line_mode(int line, int mode);
  Outcome write_line(int line, int level);
  Outcome write_output(int output, double volts);
  Outcome acquire(const bool enabled[4], int sample_delay_us, int sample_count, Acquisition &out);
  Outcome scan(int sample_delay_us, int sample_count, Scan &out);

  // What the panel last set in this session (the controller cannot report modes or
  // output voltages): -1 / empty when not set yet.
  std::vector<int> modes() const;
  std::vector<std::optional<double>> outputs() const;

 private:
  class Turn;
  std::string serial_;
  std::string type_code_, serial_number_;
  uint32_t handle_ = 0;
  bool open_ = false;
  std::chrono::steady_clock::time_point last_open_attempt_{};
  std::mutex library_;
  // Guards the fields below, which requests read without waiting for the library.
  mutable std::mutex state_;
  std::string busy_with_;
  std::chrono::steady_clock::time_point busy_since_{};
  int modes_[kLines];
  std::optional<double> outputs_[2];
};

}  // namespace panel
