// I2C and SPI masters: command group 16, commands 9 to 18. Each call is one exchange
// with at most one request byte and at most one response byte.
#include <array>

#include "device/functions.h"

namespace kmt::device {
namespace {

constexpr std::uint8_t kGroup = 16;

enum : std::uint8_t {
  kI2cInit = 9,
  kI2cStart = 10,
  kI2cStop = 11,
  kI2cWrite = 12,
  kI2cRead = 13,
  kI2cSetClock = 14,
  kSpiInit = 15,
  kSpiByte = 16,
  kSpiSetClock = 17,
  kSpiBit = 18,
};

// The controller's clock setting values, indexed by the caller's selector; selectors
// past the end (and 0) select the controller's setting 0.
constexpr std::array<std::uint8_t, 6> kI2cClockCodes{0, 3, 9, 34, 76, 159};
constexpr std::array<std::uint8_t, 8> kSpiClockCodes{0, 1, 2, 5, 9, 21, 46, 246};

template <std::size_t N>
constexpr std::uint8_t clock_code(const std::array<std::uint8_t, N> &table, std::uint8_t selector) {
  return selector < N ? table[selector] : 0;
}

void send_empty(Exchange &ex, uint32_t *handle, std::uint8_t command, int32_t *status) {
  ex.payload_length = 0;
  ex.exchange(handle, kGroup, command, 0, status);
}

void send_byte(Exchange &ex, uint32_t *handle, std::uint8_t command, std::uint8_t byte,
               int32_t *status) {
  ex.payload()[0] = byte;
  ex.payload_length = 1;
  ex.exchange(handle, kGroup, command, 0, status);
}

// One byte out, response byte 0 back. The response length is not consulted: an empty
// payload leaves its checksum byte (0 for a valid empty response) at position 0.
void transfer(Exchange &ex, uint32_t *handle, std::uint8_t command, std::uint8_t tx_byte,
              std::uint8_t *rx_byte, int32_t *status) {
  send_byte(ex, handle, command, tx_byte, status);
  if (*status != kStatusOk) return;
  *rx_byte = ex.response()[0];
}

}  // namespace

void I2C_Init(Exchange &ex, uint32_t *handle, int32_t *status) {
  send_empty(ex, handle, kI2cInit, status);
}

void I2C_Start(Exchange &ex, uint32_t *handle, int32_t *status) {
  send_empty(ex, handle, kI2cStart, status);
}

void I2C_Stop(Exchange &ex, uint32_t *handle, int32_t *status) {
  send_empty(ex, handle, kI2cStop, status);
}

void I2C_Write(Exchange &ex, uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte, int32_t *status) {
  transfer(ex, handle, kI2cWrite, tx_byte, rx_byte, status);
}

void I2C_Read(Exchange &ex, uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte, int32_t *status) {
  transfer(ex, handle, kI2cRead, tx_byte, rx_byte, status);
}

void I2C_SetTimeClock(Exchange &ex, uint32_t *handle, uint8_t clock_selector, int32_t *status) {
  send_byte(ex, handle, kI2cSetClock, clock_code(kI2cClockCodes, clock_selector), status);
}

void SPI_Init(Exchange &ex, uint32_t *handle, const uint8_t *setting, int32_t *status) {
  send_byte(ex, handle, kSpiInit, *setting, status);
}

void SPI_Byte(Exchange &ex, uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte, int32_t *status) {
  transfer(ex, handle, kSpiByte, tx_byte, rx_byte, status);
}

void SPI_SetTimeClock(Exchange &ex, uint32_t *handle, uint8_t clock_selector, int32_t *status) {
  send_byte(ex, handle, kSpiSetClock, clock_code(kSpiClockCodes, clock_selector), status);
}

void SPI_Bit(Exchange &ex, uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte, int32_t *status) {
  transfer(ex, handle, kSpiBit, tx_byte, rx_byte, status);
}

}  // namespace kmt::device
