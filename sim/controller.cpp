#include "sim/controller.h"

#include <locale>
#include <sstream>

#include "sim/wire.h"

namespace kmt::sim {
namespace {

bool is_key_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.';
}

}  // namespace

bool Options::parse(const std::string &text, Options *options, std::string *error) {
  auto fail = [error](const std::string &why) {
    if (error != nullptr) *error = why;
    return false;
  };
  Options parsed;
  if (!text.empty()) {
    std::size_t start = 0;
    while (true) {
      std::size_t end = text.find(',', start);
      std::string pair = text.substr(start, end == std::string::npos ? end : end - start);
      std::size_t equals = pair.find('=');
      if (equals == std::string::npos) return fail("option \"" + pair + "\" is not key=value");
      std::string key = pair.substr(0, equals);
      if (key.empty()) return fail("option \"" + pair + "\" has no key");
      for (char c : key) {
        if (!is_key_char(c)) return fail("option key \"" + key + "\" has a character not allowed");
      }
      if (parsed.has(key)) return fail("option \"" + key + "\" is given twice");
      parsed.set(key, pair.substr(equals + 1));
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  *options = std::move(parsed);
  return true;
}

std::string Options::text(const std::string &key, const std::string &fallback) const {
  auto it = values_.find(key);
  return it == values_.end() ? fallback : it->second;
}

double Options::number(const std::string &key, double fallback) const {
  auto it = values_.find(key);
  if (it == values_.end() || it->second.empty()) return fallback;
  // The classic locale keeps the decimal point a '.', whatever the host process set.
  std::istringstream in(it->second);
  in.imbue(std::locale::classic());
  double value = 0;
  in >> value;
  if (in.fail() || in.peek() != std::char_traits<char>::eof()) return fallback;
  return value;
}

Controller::Controller(std::string serial, Options options, Clock &clock)
    : serial_(std::move(serial)), options_(std::move(options)), clock_(clock) {
  install_system(*this);
  install_digital_io(*this);
  install_analog_io(*this);
  install_block_acquisition(*this);
  install_i2c_spi(*this);
  install_uart(*this);
  install_one_wire(*this);
  install_generator_counter_expansion(*this);
}

void Controller::on(std::uint8_t group, std::uint8_t command, Handler handler) {
  handlers_[static_cast<std::uint16_t>(group << 8 | command)] = std::move(handler);
}

Reply Controller::handle(std::uint8_t group, std::uint8_t command,
                         std::span<const std::uint8_t> request) {
  auto it = handlers_.find(static_cast<std::uint16_t>(group << 8 | command));
  if (it == handlers_.end()) return refuse(kResultUnknownCommand);
  return it->second(request);
}

}  // namespace kmt::sim
