// One simulated controller: the firmware's side of the wire. Each function family
// installs its command handlers and keeps its state in a part of its own; parts are
// shared, so one family can observe another (an analog output looped to an input).
//
// The simulator never uses the library's frame, checksum or payload code: it decodes
// requests and encodes responses on its own.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <typeindex>
#include <vector>

namespace kmt::sim {

// The controller's sense of time, in microseconds. The real clock follows the wall
// clock; the virtual clock only moves when someone waits, so tests never sleep.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint64_t now_us() = 0;
  virtual void wait_until_us(std::uint64_t deadline_us) = 0;
};

// Options of the simulated controller: "key=value" pairs separated by commas.
class Options {
 public:
  Options() = default;
  // Parses "a=1,b=x"; false with *error set on a malformed pair.
  static bool parse(const std::string &text, Options *options, std::string *error);

  bool has(const std::string &key) const { return values_.count(key) != 0; }
  std::string text(const std::string &key, const std::string &fallback = "") const;
  double number(const std::string &key, double fallback) const;
  void set(const std::string &key, const std::string &value) { values_[key] = value; }
  const std::map<std::string, std::string> &values() const { return values_; }

 private:
  std::map<std::string, std::string> values_;
};

// A handler's answer to one request frame.
struct Reply {
  std::uint8_t result = 0;            // 0 success; anything else refuses the request
  std::vector<std::uint8_t> payload;  // response payload
  std::uint64_t busy_us = 0;          // controller time spent before the answer starts
};

inline Reply refuse(std::uint8_t result = 1) {
  return Reply{result, {}, 0};
}

class Controller {
 public:
  using Handler = std::function<Reply(std::span<const std::uint8_t> request)>;

  Controller(std::string serial, Options options, Clock &clock);

  // Registers the handler of one group/command pair.
  void on(std::uint8_t group, std::uint8_t command, Handler handler);
  // Answers one decoded request; an unknown group/command is refused.
  Reply handle(std::uint8_t group, std::uint8_t command, std::span<const std::uint8_t> request);

  // The state of one family, built as Part(Controller&) on first use and kept for the
  // controller's life.
  template <class Part>
  Part &part() {
    auto it = parts_.find(std::type_index(typeid(Part)));
    if (it == parts_.end()) {
      auto made = std::make_shared<Part>(*this);
      it = parts_.emplace(std::type_index(typeid(Part)), made).first;
    }
    return *static_cast<Part *>(it->second.get());
  }

  const std::string &serial() const { return serial_; }
  const Options &options() const { return options_; }
  Clock &clock() { return clock_; }

 private:
  std::string serial_;
  Options options_;
  Clock &clock_;
  std::map<std::uint16_t, Handler> handlers_;
  std::map<std::type_index, std::shared_ptr<void>> parts_;
};

// Each family's installer lives in the sim source file of the same name.
void install_system(Controller &controller);             // system.cpp
void install_digital_io(Controller &controller);         // digital_io.cpp
void install_analog_io(Controller &controller);          // analog_io.cpp
void install_block_acquisition(Controller &controller);  // block_acquisition.cpp
void install_i2c_spi(Controller &controller);            // i2c_spi.cpp
void install_uart(Controller &controller);               // uart.cpp
void install_one_wire(Controller &controller);           // one_wire.cpp
void install_generator_counter_expansion(
    Controller &controller);  // generator_counter_expansion.cpp

}  // namespace kmt::sim
