// The simulated controller's I2C and SPI masters (group 16, commands 9 to 18) and the
// devices on their buses: a 256-byte EEPROM and a temperature sensor on I2C, an
// 8-bit shift register looped from MOSI to MISO on SPI.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "sim/controller.h"

namespace kmt::sim {

// A target on the I2C bus, as the bus master's byte-level operations reach it.
class I2cTarget {
 public:
  virtual ~I2cTarget() = default;
  virtual std::uint8_t address() const = 0;  // 7-bit
  // Addressed after a (repeated) start, for writing or for reading.
  virtual void select(bool read) = 0;
  // A byte from the master; true to acknowledge it.
  virtual bool receive(std::uint8_t byte) = 0;
  // The next byte to the master.
  virtual std::uint8_t transmit() = 0;
  // The transaction ends: with a stop condition, or abandoned by a repeated start or a
  // bus initialisation.
  virtual void end(bool with_stop) = 0;
};

// A 256-byte serial EEPROM: a word-address byte sets the address pointer; data bytes
// written after it collect in a 16-byte page buffer and are written at the stop
// condition; reads start at the pointer and advance it, wrapping at 256.
class I2cEeprom final : public I2cTarget {
 public:
  static constexpr std::uint8_t kAddress = 0x50;
  static constexpr std::size_t kSize = 256;
  static constexpr std::size_t kPageSize = 16;

  std::uint8_t address() const override { return kAddress; }
  void select(bool read) override;
  bool receive(std::uint8_t byte) override;
  std::uint8_t transmit() override;
  void end(bool with_stop) override;

  std::array<std::uint8_t, kSize> memory = filled();
  std::uint8_t pointer = 0;

 private:
  static std::array<std::uint8_t, kSize> filled() {
    std::array<std::uint8_t, kSize> erased;
    erased.fill(0xFF);
    return erased;
  }
  bool expecting_address_ = false;
  std::vector<std::pair<std::uint8_t, std::uint8_t>> pending_;  // address, byte
};

// A temperature sensor with a pointer register: 0 temperature (read only), 1
// configuration (one byte), 2 hysteresis and 3 over-temperature limits. Two-byte
// registers travel most significant byte first, in units of 1/256 degree Celsius
// (the temperature with a resolution of 0.5 degree).
class I2cTemperatureSensor final : public I2cTarget {
 public:
  static constexpr std::uint8_t kAddress = 0x48;

  explicit I2cTemperatureSensor(double celsius);
  std::uint8_t address() const override { return kAddress; }
  void select(bool read) override;
  bool receive(std::uint8_t byte) override;
  std::uint8_t transmit() override;
  void end(bool) override {}

  std::array<std::uint16_t, 4> registers{};  // configuration in the low byte of [1]
  std::uint8_t pointer = 0;

 private:
  bool expecting_pointer_ = false;
  unsigned position_ = 0;  // byte position inside the register being read or written
};

struct I2cSpi {
  explicit I2cSpi(Controller &controller);

  // Response bytes of a byte written to the I2C bus.
  static constexpr std::uint8_t kAck = 0;
  static constexpr std::uint8_t kNack = 1;
  // What a read returns when no target drives the bus (the pull-ups).
  static constexpr std::uint8_t kIdleBus = 0xFF;

  std::uint8_t i2c_clock = 0;
  std::uint8_t spi_clock = 0;
  std::uint8_t spi_setting = 0;

  I2cEeprom eeprom;
  I2cTemperatureSensor sensor;

  enum class Bus { kIdle, kAddress, kWriting, kReading, kReleased };
  Bus bus = Bus::kIdle;
  I2cTarget *selected = nullptr;

  std::uint8_t spi_shift_register = 0;
};

}  // namespace kmt::sim
