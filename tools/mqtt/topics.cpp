#include "tools/mqtt/topics.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "tools/common/ranges.h"

namespace kmt::mqtt {

namespace {

std::string safe_with(const std::string &text, bool keep_dot) {
  std::string out;
  for (unsigned char c : text) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '-' || c == '_' || (keep_dot && c == '.');
    out += keep ? static_cast<char>(c) : '_';
  }
  return out.empty() ? "_" : out;
}

std::string iso_time(double unix_s) {
  auto whole = static_cast<std::time_t>(std::floor(unix_s));
  int millis = static_cast<int>(std::floor((unix_s - static_cast<double>(whole)) * 1000.0));
  std::tm utc{};
  gmtime_r(&whole, &utc);
  char text[96];  // room for any int the format could meet
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
  return text;
}

// A small JSON object writer: fields in the order added.
class Object {
 public:
  Object &raw(const std::string &key, const std::string &json) {
    text_ += (text_.empty() ? "{" : ",") + json_string(key) + ":" + json;
    return *this;
  }
  Object &str(const std::string &key, const std::string &value) {
    return raw(key, json_string(value));
  }
  Object &num(const std::string &key, double value) { return raw(key, json_number(value)); }
  std::string done() const { return text_.empty() ? "{}" : text_ + "}"; }

 private:
  std::string text_;
};

// Digits only, at most 9 of them.
std::optional<long long> whole(const std::string &text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<double> decimal(const std::string &text) {
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::string trimmed(const std::string &text) {
  std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

std::string topic_safe(const std::string &text) {
  return safe_with(text, true);
}

std::string id_safe(const std::string &text) {
  return safe_with(text, false);
}

std::string json_string(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      // Bytes outside printable ASCII as code points, so the document is always valid
      // UTF-8 whatever the serial string holds.
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string json_number(double value) {
  if (!std::isfinite(value)) return "null";
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, end) : "null";
}

Topics::Topics(const Options &options, const std::string &full_serial)
    : options_(options),
      full_serial_(full_serial),
      base_(options.prefix + "/" + topic_safe(full_serial)),
      node_id_("kmtv1_" + id_safe(full_serial)) {}

std::string Topics::state_payload(const Reading &r) const {
  std::string ai = "[", lines = "[";
  for (int i = 0; i < 4; ++i) ai += (i ? "," : "") + json_number(r.volts[i]);
  for (int n = 0; n < 12; ++n) lines += (n ? "," : "") + std::to_string(r.line(n));
  char ts[32];
  std::snprintf(ts, sizeof ts, "%.6f", r.wall_time_s);
  Object o;
  o.str("serial", full_serial_)
      .str("time", iso_time(r.wall_time_s))
      .raw("ts", ts)
      .num("controller_us", r.controller_us)
      .raw("ai", ai + "]")
      .raw("lines", lines + "]");
  if (r.pulses) o.num("counter", *r.pulses);
  return o.done();
}

std::vector<Message> Topics::value_messages(const Reading &r) const {
  std::vector<Message> out;
  for (int i = 0; i < 4; ++i) out.push_back({analog_input(i + 1), json_number(r.volts[i]), true});
  for (int n = 0; n < 12; ++n) out.push_back({line(n), std::to_string(r.line(n)), true});
  if (r.pulses) out.push_back({counter(), std::to_string(*r.pulses), true});
  return out;
}

std::vector<Message> Topics::discovery(const Identity &identity) const {
  std::vector<Message> out;
  if (options_.discovery_prefix.empty()) return out;
  const std::string device = Object()
                                 .raw("identifiers", "[" + json_string(node_id_) + "]")
                                 .str("name", identity.full_serial)
                                 .str("model", identity.type_code)
                                 .str("serial_number", identity.full_serial)
                                 .str("sw_version", identity.firmware)
                                 .done();
  // One entity: its configuration when `present`, else an empty payload that removes it.
  auto entity = [&](const std::string &component, const std::string &object, bool present,
                    const std::string &name, Object fields) {
    std::string topic =
        options_.discovery_prefix + "/" + component + "/" + node_id_ + "/" + object + "/config";
    if (!present) {
      out.push_back({topic, "", true, 1});
      return;
    }
    fields.str("name", name)
        .str("unique_id", node_id_ + "_" + component + "_" + object)
        .str("object_id", node_id_ + "_" + object)
        .str("availability_topic", status())
        .raw("device", device);
    out.push_back({topic, fields.done(), true, 1});
  };
  for (int i = 1; i <= 4; ++i) {
    entity("sensor", "ai" + std::to_string(i), true, "Input " + std::to_string(i),
           Object()
               .str("state_topic", analog_input(i))
               .str("device_class", "voltage")
               .str("unit_of_measurement", "V")
               .str("state_class", "measurement")
               .num("suggested_display_precision", 3));
  }
  for (int n = 0; n < 12; ++n) {
    bool output = false;
    for (int o : options_.outputs) output = output || o == n;
    std::string object = "line" + std::to_string(n);
    entity("binary_sensor", object, !output, "Line " + std::to_string(n),
           Object().str("state_topic", line(n)).str("payload_on", "1").str("payload_off", "0"));
    entity("switch", object, output, "Line " + std::to_string(n),
           Object()
               .str("state_topic", line(n))
               .str("command_topic", base_ + "/set/line/" + std::to_string(n))
               .str("payload_on", "1")
               .str("payload_off", "0"));
  }
  for (int k = 0; k <= 1; ++k) {
    entity("number", "ao" + std::to_string(k), options_.commands, "Output " + std::to_string(k),
           Object()
               .str("state_topic", analog_output(k))
               .str("command_topic", base_ + "/set/ao/" + std::to_string(k))
               .str("device_class", "voltage")
               .str("unit_of_measurement", "V")
               .num("min", tools::kOutputMinVolts)
               .num("max", tools::kOutputMaxVolts)
               .num("step", 0.001)
               .str("mode", "box"));
  }
  entity("number", "gen", options_.commands, "Generator",
         Object()
             .str("state_topic", generator())
             .str("command_topic", base_ + "/set/gen")
             .str("device_class", "frequency")
             .str("unit_of_measurement", "Hz")
             .num("min", tools::kGenMinHz)
             .num("max", std::floor(tools::kGenMaxHz))
             .num("step", 0.01)
             .str("mode", "box"));
  entity("sensor", "counter", options_.counter.has_value(), "Pulse count",
         Object().str("state_topic", counter()).str("state_class", "measurement"));
  return out;
}

std::optional<Command> parse_command(const std::string &suffix, const std::string &raw_payload,
                                     const std::vector<int> &outputs, std::string *error) {
  const std::string payload = trimmed(raw_payload);
  auto refuse = [error](const std::string &why) {
    *error = why;
    return std::nullopt;
  };
  auto indexed = [&](const char *head) -> std::optional<long long> {
    std::string lead = std::string(head) + "/";
    if (suffix.rfind(lead, 0) != 0) return std::nullopt;
    return whole(suffix.substr(lead.size()));
  };
  if (suffix.rfind("line/", 0) == 0) {
    auto n = indexed("line");
    if (!n) return refuse("not a line number: \"" + suffix.substr(5) + "\"");
    if (auto problem = tools::check(tools::kLine, *n)) return refuse(*problem);
    bool output = false;
    std::string named;
    for (int o : outputs) {
      output = output || o == *n;
      named += (named.empty() ? "" : ",") + std::to_string(o);
    }
    if (!output) {
      return refuse("line " + std::to_string(*n) + " is not an output (--outputs " +
                    (named.empty() ? "names none" : named) + ")");
    }
    auto level = whole(payload);
    if (!level) return refuse("a line's level is 0 or 1, not \"" + payload + "\"");
    if (auto problem = tools::check(tools::kBit, *level)) return refuse(*problem);
    return SetLine{static_cast<int>(*n), static_cast<int>(*level)};
  }
  if (suffix.rfind("ao/", 0) == 0) {
    auto n = indexed("ao");
    if (!n) return refuse("not an analog output number: \"" + suffix.substr(3) + "\"");
    if (auto problem = tools::check(tools::kAnalogOutput, *n)) return refuse(*problem);
    auto volts = decimal(payload);
    if (!volts) return refuse("not a number of volts: \"" + payload + "\"");
    if (auto problem = tools::check_output_volts(*volts)) return refuse(*problem);
    return SetAnalogOutput{static_cast<int>(*n), *volts};
  }
  if (suffix == "gen") {
    auto hz = decimal(payload);
    if (!hz) return refuse("not a frequency in hertz: \"" + payload + "\"");
    if (auto problem = tools::check_generator_hz(*hz)) return refuse(*problem);
    return SetGenerator{*hz};
  }
  return refuse("unknown command topic set/" + suffix +
                " (commands: set/line/N, set/ao/N, set/gen)");
}

}  // namespace kmt::mqtt
