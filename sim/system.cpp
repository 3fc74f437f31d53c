// System and identity commands of the simulated controller: group 1 command 0
// (firmware identification) and group 19 commands 0 to 7. Behaviour: sim/README.md.
#include "sim/system.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace kmt::sim {
namespace {

constexpr std::uint8_t kGroupIdentity = 1;
constexpr std::uint8_t kCommandFirmware = 0;
// The firmware identification words the simulated controller reports, in order
// (documented in sim/README.md): 1, 0, 43, 2.
constexpr std::array<std::uint16_t, 4> kFirmwareWords{1, 0, 43, 2};

constexpr std::uint8_t kGroupSystem = 19;
constexpr std::uint8_t kResultBadArgument = 1;
constexpr std::uint8_t kResultNotSaved = 2;
constexpr std::size_t kHalf = 64;
// Time the controller takes to program one 64-byte half of the memory area.
constexpr std::uint64_t kProgramHalfUs = 500;

std::string to_hex(const std::uint8_t *bytes, std::size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < n; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0xF]);
  }
  return text;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Exactly n bytes from 2n hex digits; false (and *bytes untouched) otherwise.
bool from_hex(const std::string &text, std::uint8_t *bytes, std::size_t n) {
  if (text.size() != 2 * n) return false;
  std::vector<std::uint8_t> decoded(n);
  for (std::size_t i = 0; i < n; ++i) {
    const int high = hex_digit(text[2 * i]), low = hex_digit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    decoded[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  std::copy(decoded.begin(), decoded.end(), bytes);
  return true;
}

// The state file's lines other than this serial's own.
std::vector<std::string> other_lines(const std::string &path, const std::string &serial) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(serial + ' ', 0) != 0 && !line.empty()) lines.push_back(line);
  }
  return lines;
}

}  // namespace

SystemArea::SystemArea(Controller &controller)
    : serial_(controller.serial()), path_(controller.options().text("state")) {
  user_sn.fill(kErased);
  user_area.fill(kErased);
  if (path_.empty()) return;
  // One line per controller: serial, user serial number and user area in hex. A line
  // that does not parse is treated as absent (erased memory).
  std::ifstream in(path_);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string serial, sn, area;
    if (!(fields >> serial >> sn >> area) || serial != serial_) continue;
    std::array<std::uint8_t, kUserSnSize> sn_bytes;
    std::array<std::uint8_t, kUserAreaSize> area_bytes;
    if (from_hex(sn, sn_bytes.data(), sn_bytes.size()) &&
        from_hex(area, area_bytes.data(), area_bytes.size())) {
      user_sn = sn_bytes;
      user_area = area_bytes;
    }
  }
}

bool SystemArea::save() const {
  if (path_.empty()) return true;
  std::vector<std::string> lines = other_lines(path_, serial_);
  lines.push_back(serial_ + ' ' + to_hex(user_sn.data(), user_sn.size()) + ' ' +
                  to_hex(user_area.data(), user_area.size()));
  // Written whole beside the file, then renamed over it: a reader (or a restart after
  // a crash) sees the old file or the new one, never a part of one.
  const std::string temporary = path_ + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    for (const std::string &line : lines) out << line << '\n';
    out.flush();
    if (!out) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path_, error);
  return !error;
}

void install_system(Controller &controller) {
  controller.on(kGroupIdentity, kCommandFirmware, [](std::span<const std::uint8_t>) {
    Reply reply;
    for (std::uint16_t word : kFirmwareWords) {
      reply.payload.push_back(static_cast<std::uint8_t>(word & 0xFFu));
      reply.payload.push_back(static_cast<std::uint8_t>(word >> 8));
    }
    return reply;
  });

  SystemArea &area = controller.part<SystemArea>();
  Clock &clock = controller.clock();
  // Stores bytes into the memory and keeps the state file in step; the memory holds
  // the new bytes even when the file cannot be written, which is then reported.
  auto store = [&area](std::span<const std::uint8_t> r, std::uint8_t *to, std::size_t n,
                       std::uint64_t busy_us) {
    if (r.size() != n) return refuse(kResultBadArgument);
    std::copy(r.begin(), r.end(), to);
    if (!area.save()) return refuse(kResultNotSaved);
    return Reply{0, {}, busy_us};
  };
  auto load = [](const std::uint8_t *from, std::size_t n, std::span<const std::uint8_t> r) {
    if (!r.empty()) return refuse(kResultBadArgument);
    return Reply{0, std::vector<std::uint8_t>(from, from + n), 0};
  };

  controller.on(kGroupSystem, 0, [&area, store](std::span<const std::uint8_t> r) {
    return store(r, area.user_sn.data(), area.user_sn.size(), 0);
  });
  controller.on(kGroupSystem, 1, [&area, load](std::span<const std::uint8_t> r) {
    return load(area.user_sn.data(), area.user_sn.size(), r);
  });
  for (std::uint8_t half = 0; half < 2; ++half) {
    std::uint8_t *bytes = area.user_area.data() + half * kHalf;
    controller.on(kGroupSystem, 2 + half, [bytes, store](std::span<const std::uint8_t> r) {
      return store(r, bytes, kHalf, kProgramHalfUs);
    });
    controller.on(kGroupSystem, 4 + half,
                  [bytes, load](std::span<const std::uint8_t> r) { return load(bytes, kHalf, r); });
  }
  controller.on(kGroupSystem, 6, [&area](std::span<const std::uint8_t> r) {
    if (r.size() != 1) return refuse(kResultBadArgument);
    area.watchdog = r[0];
    return Reply{};
  });
  // The counter: milliseconds of controller time, wrapping at 2^32.
  controller.on(kGroupSystem, 7, [&clock](std::span<const std::uint8_t> r) {
    if (!r.empty()) return refuse(kResultBadArgument);
    const auto ms = static_cast<std::uint32_t>(clock.now_us() / 1000);
    return Reply{0,
                 {static_cast<std::uint8_t>(ms), static_cast<std::uint8_t>(ms >> 8),
                  static_cast<std::uint8_t>(ms >> 16), static_cast<std::uint8_t>(ms >> 24)},
                 0};
  });
}

}  // namespace kmt::sim
