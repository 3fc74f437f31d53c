// I2C and SPI end to end: the library's functions against the simulated controller's
// EEPROM, temperature sensor and SPI shift register.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "sim/i2c_spi.h"
#include "tests/unit/e2e_sim_fixture.h"

namespace kmt::testing {
namespace {

using ::testing::Each;
using ::testing::ElementsAreArray;

constexpr std::uint8_t kAck = 0, kNack = 1;
constexpr std::uint8_t kEepromWrite = 0xA0, kEepromRead = 0xA1;
constexpr std::uint8_t kSensorWrite = 0x90, kSensorRead = 0x91;

class I2cSpiEndToEnd : public SimLibrary {
 protected:
  void start_condition() {
    device::I2C_Start(*lib, &handle, &status);
    ASSERT_EQ(status, 0);
  }
  void stop_condition() {
    device::I2C_Stop(*lib, &handle, &status);
    ASSERT_EQ(status, 0);
  }
  std::uint8_t write(std::uint8_t byte) {
    std::uint8_t ack = 0xEE;
    device::I2C_Write(*lib, &handle, byte, &ack, &status);
    EXPECT_EQ(status, 0);
    return ack;
  }
  std::uint8_t read(bool last) {
    std::uint8_t byte = 0xEE;
    device::I2C_Read(*lib, &handle, last ? 1 : 0, &byte, &status);
    EXPECT_EQ(status, 0);
    return byte;
  }
  // Writes bytes at an EEPROM address; every byte must be acknowledged.
  void eeprom_write(std::uint8_t address, const std::vector<std::uint8_t> &bytes,
                    bool stop = true) {
    start_condition();
    EXPECT_EQ(write(kEepromWrite), kAck);
    EXPECT_EQ(write(address), kAck);
    for (std::uint8_t b : bytes) EXPECT_EQ(write(b), kAck);
    if (stop) stop_condition();
  }
  // A random read: set the pointer, repeated start, read n bytes, NACK the last.
  std::vector<std::uint8_t> eeprom_read(std::uint8_t address, std::size_t n) {
    start_condition();
    EXPECT_EQ(write(kEepromWrite), kAck);
    EXPECT_EQ(write(address), kAck);
    start_condition();
    EXPECT_EQ(write(kEepromRead), kAck);
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < n; ++i) bytes.push_back(read(i + 1 == n));
    stop_condition();
    return bytes;
  }
};

TEST_F(I2cSpiEndToEnd, EepromPageWrittenAndReadBack) {
  device::I2C_Init(*lib, &handle, &status);
  ASSERT_EQ(status, 0);
  std::vector<std::uint8_t> page(16);
  std::iota(page.begin(), page.end(), 0x40);
  eeprom_write(0x30, page);
  EXPECT_THAT(eeprom_read(0x30, 16), ElementsAreArray(page));
  // The neighbours of the page are still erased.
  EXPECT_THAT(eeprom_read(0x2F, 1), ElementsAreArray({0xFF}));
  EXPECT_THAT(eeprom_read(0x40, 1), ElementsAreArray({0xFF}));
}

TEST_F(I2cSpiEndToEnd, EepromProtocolEdges) {
  struct Row {
    const char *name;
    std::uint8_t address;
    std::vector<std::uint8_t> written;
    bool stop;
    std::uint8_t read_at;
    std::vector<std::uint8_t> expected;
  } rows[] = {
      {"write rolls over inside its page", 0x3E, {1, 2, 3, 4}, true, 0x30, {3, 4, 0xFF}},
      {"a repeated start instead of a stop writes nothing",
       0x50,
       {9, 9},
       false,
       0x50,
       {0xFF, 0xFF}},
      {"sequential read wraps at the end of memory", 0xFF, {7}, true, 0xFF, {7, 0xFF}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    start("");
    eeprom_write(row.address, row.written, row.stop);
    EXPECT_THAT(eeprom_read(row.read_at, row.expected.size()), ElementsAreArray(row.expected));
  }
}

TEST_F(I2cSpiEndToEnd, BusConditions) {
  // Outside a transaction nobody acknowledges and the bus reads high.
  EXPECT_EQ(write(0x12), kNack);
  EXPECT_EQ(read(true), 0xFF);
  // An address without a device is not acknowledged, nor is what follows it.
  start_condition();
  EXPECT_EQ(write(0x51 << 1), kNack);
  EXPECT_EQ(write(0x00), kNack);
  stop_condition();
  // The master's not-acknowledge ends the target's transmission.
  start_condition();
  EXPECT_EQ(write(kEepromRead), kAck);
  read(true);
  EXPECT_EQ(read(true), 0xFF);
  stop_condition();
}

TEST_F(I2cSpiEndToEnd, TemperatureSensorRegisters) {
  struct Row {
    const char *options;
    std::uint8_t msb, lsb;
  } rows[] = {
      {"", 23, 0x80},  // the default 23.5 degrees
      {"temperature=-5.5", 0xFA, 0x80},
      {"temperature=125", 125, 0x00},
      {"temperature=0.2", 0, 0x00},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.options);
    start(row.options);
    start_condition();
    EXPECT_EQ(write(kSensorWrite), kAck);
    EXPECT_EQ(write(0), kAck);
    start_condition();
    EXPECT_EQ(write(kSensorRead), kAck);
    EXPECT_EQ(read(false), row.msb);
    EXPECT_EQ(read(true), row.lsb);
    stop_condition();
  }
  // The over-temperature limit is writable; the temperature is not; no register 4.
  start_condition();
  EXPECT_EQ(write(kSensorWrite), kAck);
  EXPECT_EQ(write(3), kAck);
  EXPECT_EQ(write(60), kAck);
  EXPECT_EQ(write(0x80), kAck);
  start_condition();
  EXPECT_EQ(write(kSensorRead), kAck);
  EXPECT_EQ(read(false), 60);
  EXPECT_EQ(read(true), 0x80);
  start_condition();
  EXPECT_EQ(write(kSensorWrite), kAck);
  EXPECT_EQ(write(0), kAck);
  EXPECT_EQ(write(0x55), kNack);
  start_condition();
  EXPECT_EQ(write(kSensorWrite), kAck);
  EXPECT_EQ(write(4), kNack);
  stop_condition();
}

TEST_F(I2cSpiEndToEnd, SpiShiftRegisterAndKeptSettings) {
  const std::uint8_t setting = 3;
  device::SPI_Init(*lib, &handle, &setting, &status);
  ASSERT_EQ(status, 0);
  device::SPI_SetTimeClock(*lib, &handle, 7, &status);
  device::I2C_SetTimeClock(*lib, &handle, 3, &status);
  const auto &state = part<sim::I2cSpi>();
  EXPECT_EQ(state.spi_setting, 3);
  EXPECT_EQ(state.spi_clock, 246);
  EXPECT_EQ(state.i2c_clock, 34);

  // Each byte comes back one transfer later.
  std::vector<std::uint8_t> back;
  for (std::uint8_t tx : {0x12, 0x34, 0xA5}) {
    std::uint8_t rx = 0xEE;
    device::SPI_Byte(*lib, &handle, tx, &rx, &status);
    back.push_back(rx);
  }
  EXPECT_THAT(back, ElementsAreArray({0x00, 0x12, 0x34}));
  // Single bits: 0xA5 leaves most significant bit first while 0x3C enters.
  std::vector<std::uint8_t> bits;
  for (int i = 7; i >= 0; --i) {
    std::uint8_t rx = 0xEE;
    device::SPI_Bit(*lib, &handle, static_cast<std::uint8_t>(0x3C >> i & 1), &rx, &status);
    bits.push_back(rx);
  }
  EXPECT_THAT(bits, ElementsAreArray({1, 0, 1, 0, 0, 1, 0, 1}));
  std::uint8_t rx = 0xEE;
  device::SPI_Byte(*lib, &handle, 0, &rx, &status);
  EXPECT_EQ(rx, 0x3C);
}

}  // namespace
}  // namespace kmt::testing
