#include "device/functions.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace kmt::device {

void I2C_Init(Library &lib, uint32_t *handle, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void I2C_Start(Library &lib, uint32_t *handle, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void I2C_Stop(Library &lib, uint32_t *handle, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void I2C_Write(Library &lib, uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void I2C_Read(Library &lib, uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void I2C_SetTimeClock(Library &lib, uint32_t *handle, uint8_t clock_selector, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void SPI_Init(Library &lib, uint32_t *handle, const uint8_t *setting, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void SPI_Byte(Library &lib, uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void SPI_SetTimeClock(Library &lib, uint32_t *handle, uint8_t clock_selector, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void SPI_Bit(Library &lib, uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

}  // namespace kmt::device
