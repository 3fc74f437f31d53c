// The 1-Wire master of the simulated controller and the devices on its bus.
#include "sim/one_wire.h"

#include <algorithm>
#include <cmath>

namespace kmt::sim {
namespace {

constexpr std::uint8_t kGroup = 19;

enum : std::uint8_t {
  kInit = 8,
  kRead = 9,
  kWrite = 10,
  kWriteSome = 11,
  kSearchRom = 12,
  kReadSome = 13,
};

// ROM commands.
constexpr std::uint8_t kReadRom = 0x33;
constexpr std::uint8_t kMatchRom = 0x55;
constexpr std::uint8_t kSkipRom = 0xCC;
// Temperature sensor function commands.
constexpr std::uint8_t kConvert = 0x44;
constexpr std::uint8_t kReadScratchpad = 0xBE;
constexpr std::uint8_t kWriteScratchpad = 0x4E;

constexpr std::size_t kBlockLimit = 64;
// The temperature register's power-on value, 85 degrees, until the first conversion.
constexpr std::int16_t kPowerOnSixteenths = 85 * 16;

struct Fitted {
  std::uint8_t family;
  std::array<std::uint8_t, 6> serial;
  double celsius;
};
// The devices on the bus, in this order; the option onewire_devices keeps the first N.
constexpr std::array<Fitted, 3> kFitted{{
    {OneWireDevice::kFamilySensor, {0x6B, 0x0C, 0x4E, 0x05, 0x00, 0x00}, 21.5},
    {OneWireDevice::kFamilySensor, {0x2F, 0x8A, 0x4E, 0x05, 0x00, 0x00}, -10.125},
    {OneWireDevice::kFamilySerial, {0xA3, 0x5E, 0x17, 0x00, 0x00, 0x00}, 0},
}};

Reply answer(std::vector<std::uint8_t> bytes) {
  Reply reply;
  reply.payload = std::move(bytes);
  return reply;
}

}  // namespace

std::uint8_t one_wire_crc8(std::span<const std::uint8_t> bytes) {
  std::uint8_t crc = 0;
  for (std::uint8_t byte : bytes) {
    for (int i = 0; i < 8; ++i) {
      const bool mix = ((crc ^ byte) & 1) != 0;
      crc = static_cast<std::uint8_t>(crc >> 1);
      if (mix) crc ^= 0x8C;  // the polynomial 0x31, bit-reversed
      byte = static_cast<std::uint8_t>(byte >> 1);
    }
  }
  return crc;
}

OneWireDevice::OneWireDevice(std::uint8_t family, const std::array<std::uint8_t, 6> &serial,
                             double celsius)
    : celsius_(celsius) {
  rom_[0] = family;
  std::copy(serial.begin(), serial.end(), rom_.begin() + 1);
  rom_[7] = one_wire_crc8(std::span(rom_).first(7));
  // Temperature, high and low alarm limits, 12-bit configuration, reserved bytes.
  scratchpad_ = {static_cast<std::uint8_t>(kPowerOnSixteenths & 0xFF),
                 static_cast<std::uint8_t>(kPowerOnSixteenths >> 8),
                 75,
                 70,
                 0x7F,
                 0xFF,
                 0x0C,
                 0x10,
                 0};
  seal_scratchpad();
}

void OneWireDevice::seal_scratchpad() {
  scratchpad_[8] = one_wire_crc8(std::span(scratchpad_).first(8));
}

void OneWireDevice::reset() {
  state_ = State::kRomCommand;
  collected_.clear();
  sending_.clear();
}

void OneWireDevice::searched(bool found) {
  sending_.clear();
  state_ = found ? State::kFunction : State::kIdle;
}

std::uint8_t OneWireDevice::slot(std::uint8_t master) {
  if (!sending_.empty()) {
    const std::uint8_t byte = sending_.front();
    sending_.pop_front();
    return byte;
  }
  receive(master);
  return 0xFF;
}

void OneWireDevice::receive(std::uint8_t byte) {
  switch (state_) {
    case State::kRomCommand:
      if (byte == kReadRom) {
        sending_.assign(rom_.begin(), rom_.end());
        state_ = State::kFunction;
      } else if (byte == kMatchRom) {
        collected_.clear();
        state_ = State::kMatchRom;
      } else if (byte == kSkipRom) {
        state_ = State::kFunction;
      } else {
        // Search and alarm search need bit slots; a byte-level master cannot take part.
        state_ = State::kIdle;
      }
      break;
    case State::kMatchRom:
      collected_.push_back(byte);
      if (collected_.size() == rom_.size()) {
        state_ = std::equal(rom_.begin(), rom_.end(), collected_.begin()) ? State::kFunction
                                                                          : State::kIdle;
      }
      break;
    case State::kFunction:
      state_ = State::kIdle;
      if (!is_sensor()) break;
      if (byte == kConvert) {
        // The conversion finishes at once: read slots after it see 1s (done).
        const auto sixteenths = static_cast<std::int16_t>(std::lround(celsius_ * 16));
        scratchpad_[0] = static_cast<std::uint8_t>(sixteenths & 0xFF);
        scratchpad_[1] = static_cast<std::uint8_t>((sixteenths >> 8) & 0xFF);
        seal_scratchpad();
      } else if (byte == kReadScratchpad) {
        sending_.assign(scratchpad_.begin(), scratchpad_.end());
      } else if (byte == kWriteScratchpad) {
        collected_.clear();
        state_ = State::kWriteScratchpad;
      }
      break;
    case State::kWriteScratchpad:
      // High limit, low limit, configuration.
      scratchpad_[2 + collected_.size()] = byte;
      collected_.push_back(byte);
      seal_scratchpad();
      if (collected_.size() == 3) state_ = State::kIdle;
      break;
    case State::kAsleep:
    case State::kIdle:
      break;
  }
}

OneWire::OneWire(Controller &controller) {
  double count = controller.options().number("onewire_devices", kFitted.size());
  if (!(count >= 0 && count <= kFitted.size())) count = kFitted.size();
  for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
    devices.emplace_back(kFitted[i].family, kFitted[i].serial, kFitted[i].celsius);
  }
}

bool OneWire::reset() {
  for (OneWireDevice &device : devices) device.reset();
  return !devices.empty();
}

std::uint8_t OneWire::touch(std::uint8_t master) {
  // Open drain: any device sending a 0 bit pulls the line low.
  std::uint8_t line = master;
  for (OneWireDevice &device : devices) line &= device.slot(master);
  return line;
}

std::uint8_t OneWire::search(RomCode *rom, std::uint8_t *discrepancy) {
  *rom = RomCode{};
  *discrepancy = 0;
  // After the last device the walk starts over.
  if (last_device) {
    last_discrepancy = 0;
    last_device = false;
    last_rom = RomCode{};
  }
  if (!reset()) {
    last_discrepancy = 0;
    return kSearchNone;
  }
  std::vector<bool> taking_part(devices.size(), true);
  RomCode found{};
  int last_zero = 0;
  for (int index = 0; index < 64; ++index) {
    const int position = index + 1;
    // Two read slots: the bit of every device still taking part, then its complement,
    // each the wired AND of all of them.
    bool id_bit = true, complement_bit = true;
    for (std::size_t d = 0; d < devices.size(); ++d) {
      if (!taking_part[d]) continue;
      id_bit = id_bit && devices[d].bit(index) == 1;
      complement_bit = complement_bit && devices[d].bit(index) == 0;
    }
    if (id_bit && complement_bit) {
      // Nobody answered: cannot happen after a presence pulse, but end cleanly.
      last_discrepancy = 0;
      return kSearchNone;
    }
    int direction;
    if (id_bit != complement_bit) {
      direction = id_bit ? 1 : 0;
    } else if (position < last_discrepancy) {
      direction = last_rom[index / 8] >> (index % 8) & 1;
    } else {
      direction = position == last_discrepancy ? 1 : 0;
    }
    if (id_bit == complement_bit && direction == 0) last_zero = position;
    if (direction != 0)
      found[index / 8] = static_cast<std::uint8_t>(found[index / 8] | 1 << (index % 8));
    // The write slot: devices whose bit differs drop out until the next reset.
    for (std::size_t d = 0; d < devices.size(); ++d) {
      if (taking_part[d] && devices[d].bit(index) != direction) taking_part[d] = false;
    }
  }
  for (std::size_t d = 0; d < devices.size(); ++d) devices[d].searched(taking_part[d]);
  last_discrepancy = last_zero;
  last_device = last_zero == 0;
  last_rom = found;
  *rom = found;
  *discrepancy = static_cast<std::uint8_t>(last_zero);
  return last_device ? kSearchLast : kSearchMore;
}

void install_one_wire(Controller &controller) {
  OneWire *bus = &controller.part<OneWire>();

  controller.on(kGroup, kInit, [bus](std::span<const std::uint8_t>) {
    return answer({bus->reset() ? OneWire::kPresence : OneWire::kNoPresence});
  });

  controller.on(kGroup, kRead,
                [bus](std::span<const std::uint8_t>) { return answer({bus->touch(0xFF)}); });

  controller.on(kGroup, kWrite, [bus](std::span<const std::uint8_t> request) {
    if (request.empty()) return refuse();
    return answer({bus->touch(request[0])});
  });

  // Each byte is written and read back at once: the answer is the line as it was.
  controller.on(kGroup, kWriteSome, [bus](std::span<const std::uint8_t> request) {
    std::vector<std::uint8_t> line;
    for (std::uint8_t byte : request) line.push_back(bus->touch(byte));
    return answer(std::move(line));
  });

  controller.on(kGroup, kReadSome, [bus](std::span<const std::uint8_t> request) {
    if (request.size() < 2) return refuse();
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(request[0] | request[1] << 8), kBlockLimit);
    std::vector<std::uint8_t> line;
    for (std::size_t i = 0; i < n; ++i) line.push_back(bus->touch(0xFF));
    return answer(std::move(line));
  });

  // Response: the ROM code, the next branch position, the search result.
  controller.on(kGroup, kSearchRom, [bus](std::span<const std::uint8_t> request) {
    if (request.empty() || request[0] != OneWire::kSearchCommand) return refuse();
    RomCode rom;
    std::uint8_t discrepancy = 0;
    const std::uint8_t result = bus->search(&rom, &discrepancy);
    std::vector<std::uint8_t> payload(rom.begin(), rom.end());
    payload.push_back(discrepancy);
    payload.push_back(result);
    return answer(std::move(payload));
  });
}

}  // namespace kmt::sim
