// System and identity commands of the simulated controller.
#include <array>
#include <cstdint>

#include "sim/controller.h"

namespace kmt::sim {
namespace {

constexpr std::uint8_t kGroupIdentity = 1;
constexpr std::uint8_t kCommandFirmware = 0;
// The firmware identification words the simulated controller reports, in order
// (documented in sim/README.md): 1, 0, 43, 2.
constexpr std::array<std::uint16_t, 4> kFirmwareWords{1, 0, 43, 2};

}  // namespace

void install_system(Controller &controller) {
  controller.on(kGroupIdentity, kCommandFirmware, [](std::span<const std::uint8_t>) {
    Reply reply;
    for (std::uint16_t word : kFirmwareWords) {
      reply.payload.push_back(static_cast<std::uint8_t>(word & 0xFFu));
      reply.payload.push_back(static_cast<std::uint8_t>(word >> 8));
    }
    return reply;
  });
}

}  // namespace kmt::sim
