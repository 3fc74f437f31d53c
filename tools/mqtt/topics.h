// Topic names and payloads: the state message, the per-value topics, the Home
// Assistant discovery configurations, and the commands with their checks. Pure
// functions: no broker, no controller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tools/mqtt/options.h"

namespace kmt::mqtt {

// A serial-number string as a topic level: letters, digits, '-', '_' and '.' stay, every
// other byte ('+', '#', '/', blanks, control and non-ASCII bytes) becomes '_'. Empty
// text becomes "_".
std::string topic_safe(const std::string &text);
// The same for Home Assistant's node and object ids, which also refuse '.'.
std::string id_safe(const std::string &text);

// Text as a JSON string literal, quotes included.
std::string json_string(const std::string &text);
// The shortest decimal text that reads back as exactly this number (JSON has no NaN
// or infinities: those become null).
std::string json_number(double value);

// What the bridge knows of its controller when it publishes discovery.
struct Identity {
  std::string full_serial;  // type code + serial, as listed
  std::string type_code;    // the first 8 characters
  std::string firmware;     // "1.0.43.2"
};

// One reading of the controller.
struct Reading {
  double wall_time_s = 0;      // Unix time, seconds, when the reading started
  uint32_t controller_us = 0;  // the controller's microsecond timer at the inputs' conversion
  double volts[4] = {0, 0, 0, 0};
  uint8_t ports[2] = {0, 0};
  std::optional<uint16_t> pulses;  // with --counter
  int line(int n) const { return (ports[n / 8] >> (n % 8)) & 1; }
};

struct Message {
  std::string topic, payload;
  bool retain = false;
  int qos = 0;
};

class Topics {
 public:
  Topics(const Options &options, const std::string &full_serial);

  const std::string &base() const { return base_; }  // PREFIX/SERIAL
  std::string status() const { return base_ + "/status"; }
  std::string state() const { return base_ + "/state"; }
  std::string error() const { return base_ + "/error"; }
  std::string commands_filter() const { return base_ + "/set/#"; }
  std::string analog_input(int n) const { return base_ + "/ai/" + std::to_string(n); }
  std::string line(int n) const { return base_ + "/line/" + std::to_string(n); }
  std::string analog_output(int n) const { return base_ + "/ao/" + std::to_string(n); }
  std::string generator() const { return base_ + "/gen"; }
  std::string counter() const { return base_ + "/counter"; }

  // The JSON state message of one reading.
  std::string state_payload(const Reading &r) const;
  // The per-value topics of a reading (inputs 1..4, lines 0..11, the counter), each with
  // its payload text; the caller publishes those that changed.
  std::vector<Message> value_messages(const Reading &r) const;
  // Every discovery configuration this bridge could publish, as it is now: one per
  // entity, empty payloads for entities these options do not have (which removes them
  // from Home Assistant when an earlier run published them). Empty without discovery.
  std::vector<Message> discovery(const Identity &identity) const;

 private:
  const Options &options_;
  std::string full_serial_, base_, node_id_;
};

// A command that passed every check, ready for the controller.
struct SetLine {
  int line, level;
};
struct SetAnalogOutput {
  int output;
  double volts;
};
struct SetGenerator {
  double hz;
};
using Command = std::variant<SetLine, SetAnalogOutput, SetGenerator>;

// Reads a message on PREFIX/SERIAL/set/... with the command-line tool's ranges. `suffix`
// is the topic after "PREFIX/SERIAL/set/". Returns the command, or the refusal in words
// in *error.
std::optional<Command> parse_command(const std::string &suffix, const std::string &payload,
                                     const std::vector<int> &outputs, std::string *error);

}  // namespace kmt::mqtt
