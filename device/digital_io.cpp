#include "device/functions.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace kmt::device {

void DIO_SetBitMode(Library &lib, uint32_t *handle, uint8_t bit, uint8_t mode, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void DIO_WriteBit(Library &lib, uint32_t *handle, uint8_t bit, uint8_t value, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void DIO_ReadPort(Library &lib, uint32_t *handle, uint8_t port, uint8_t *value, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void DIO_WritePort(Library &lib, uint32_t *handle, uint8_t port, uint8_t value, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void DIO_SetPortMode(Library &lib, uint32_t *handle, uint8_t port, uint8_t mode, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void DIO_WriteMask(Library &lib, uint32_t *handle, const uint8_t *line_codes,
                   const uint8_t *line_values, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

}  // namespace kmt::device
