#include "device/functions.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace kmt::device {

void WR1_Init(Library &lib, uint32_t *handle, uint8_t *reply, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void WR1_Read(Library &lib, uint32_t *handle, uint8_t *value, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void WR1_Write(Library &lib, uint32_t *handle, uint8_t value, uint8_t *reply, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void WR1_WriteSome(Library &lib, uint32_t *handle, uint16_t count, uint8_t *data, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void WR1_SearchRom(Library &lib, uint32_t *handle, uint8_t *search_result, uint8_t *rom,
                   int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void WR1_ReadSome(Library &lib, uint32_t *handle, uint16_t count, uint8_t *data, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

}  // namespace kmt::device
