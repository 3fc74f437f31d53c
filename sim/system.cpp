// System and identity commands of the simulated controller: group 1 command 0
// (firmware identification) and group 19 commands 0 to 7. Behaviour: sim/README.md.
#include "sim/system.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/state_file.h"

namespace kmt::sim {
namespace {

constexpr std::uint8_t kGroupIdentity = 1;
constexpr std::uint8_t kCommandFirmware = 0;
// The firmware identification words the simulated controller reports, in order
// (documented in sim/README.md): 1, 0, 43, 2. They are the controller's firmware, not
// the library's version (which is project() in CMakeLists.txt) and never follow it.
constexpr std::array<std::uint16_t, 4> kFirmwareWords{1, 0, 43, 2};

constexpr std::uint8_t kGroupSystem = 19;
constexpr std::uint8_t kResultBadArgument = 1;
constexpr std::uint8_t kResultNotSaved = 2;
constexpr std::size_t kHalf = 64;
// Time the controller takes to program one 64-byte half of the memory area.
constexpr std::uint64_t kProgramHalfUs = 500;

}  // namespace

SystemArea::SystemArea(Controller &controller)
    : serial_(controller.serial()), path_(controller.options().text("state")) {
  user_sn.fill(kErased);
  user_area.fill(kErased);
  if (path_.empty()) return;
  NonVolatileMemory memory{user_sn, user_area};
  if (StateFile(path_).load(serial_, &memory, &state_error_)) {
    user_sn = memory.user_sn;
    user_area = memory.user_area;
  }
}

bool SystemArea::save() const {
  if (path_.empty()) return true;
  if (!state_error_.empty()) return false;
  std::string error;
  return StateFile(path_).save(serial_, NonVolatileMemory{user_sn, user_area}, &error);
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
  // A memory whose state file could not be loaded is not known: nothing is read from
  // it or written to it.
  auto store = [&area](std::span<const std::uint8_t> r, std::uint8_t *to, std::size_t n,
                       std::uint64_t busy_us) {
    if (r.size() != n) return refuse(kResultBadArgument);
    if (!area.state_error().empty()) return refuse(kResultNotSaved);
    std::copy(r.begin(), r.end(), to);
    if (!area.save()) return refuse(kResultNotSaved);
    return Reply{0, {}, busy_us};
  };
  auto load = [&area](const std::uint8_t *from, std::size_t n, std::span<const std::uint8_t> r) {
    if (!r.empty()) return refuse(kResultBadArgument);
    if (!area.state_error().empty()) return refuse(kResultNotSaved);
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
