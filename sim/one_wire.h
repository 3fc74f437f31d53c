// The simulated controller's 1-Wire master (group 19, commands 8 to 13) and the
// devices on its bus: two temperature sensors (family 0x28) and a serial-number
// device (family 0x01), each with an 8-byte ROM code ending in its CRC-8.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "sim/controller.h"

namespace kmt::sim {

// The bus's CRC-8 (polynomial x^8 + x^5 + x^4 + 1, bits taken least significant
// first); a ROM code or scratchpad whose last byte is its CRC checks to 0.
std::uint8_t one_wire_crc8(std::span<const std::uint8_t> bytes);

using RomCode = std::array<std::uint8_t, 8>;

// One device as the bus sees it byte by byte: ROM commands after a reset, then the
// function commands of its family.
class OneWireDevice {
 public:
  OneWireDevice(std::uint8_t family, const std::array<std::uint8_t, 6> &serial, double celsius);

  const RomCode &rom() const { return rom_; }
  bool is_sensor() const { return rom_[0] == kFamilySensor; }
  double celsius() const { return celsius_; }
  const std::array<std::uint8_t, 9> &scratchpad() const { return scratchpad_; }

  void reset();
  // One byte time on the bus: the master drives `master`; the device either takes it
  // in or, while it has bytes to send, pulls its 0 bits low. Returns the device's
  // contribution (0xFF when it only listens).
  std::uint8_t slot(std::uint8_t master);
  // After a search pass: the device that remained is selected, the others wait.
  void searched(bool found);
  int bit(int index) const { return rom_[index / 8] >> (index % 8) & 1; }

  static constexpr std::uint8_t kFamilySensor = 0x28;
  static constexpr std::uint8_t kFamilySerial = 0x01;

 private:
  enum class State { kAsleep, kRomCommand, kMatchRom, kFunction, kWriteScratchpad, kIdle };
  void receive(std::uint8_t byte);
  void seal_scratchpad();

  RomCode rom_{};
  double celsius_;
  std::array<std::uint8_t, 9> scratchpad_{};
  State state_ = State::kAsleep;
  std::vector<std::uint8_t> collected_;
  std::deque<std::uint8_t> sending_;
};

struct OneWire {
  explicit OneWire(Controller &controller);

  // WR1_Init's reply byte.
  static constexpr std::uint8_t kPresence = 1;
  static constexpr std::uint8_t kNoPresence = 0;
  // The search result byte (response byte 9).
  static constexpr std::uint8_t kSearchNone = 0;  // no device answered the reset
  static constexpr std::uint8_t kSearchMore = 1;  // found one; more remain
  static constexpr std::uint8_t kSearchLast = 2;  // found the last one; next starts over
  static constexpr std::uint8_t kSearchCommand = 0xF0;

  bool reset();
  std::uint8_t touch(std::uint8_t master);
  // One pass of the bus's binary-tree search, continuing from the previous pass.
  // Returns the search result byte; *rom receives the code found (zeros if none) and
  // *discrepancy the bit position (1 to 64) the next pass branches at, 0 when none.
  std::uint8_t search(RomCode *rom, std::uint8_t *discrepancy);

  std::vector<OneWireDevice> devices;
  // The search's state between passes.
  int last_discrepancy = 0;
  bool last_device = false;
  RomCode last_rom{};
};

}  // namespace kmt::sim
