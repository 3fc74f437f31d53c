#include "device/functions.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace kmt::device {

void SYS_GetDriverType(uint16_t *driver_type) {
  *driver_type = 1;
}

void SYS_GetFirmWare(Library &lib, uint32_t *handle, uint16_t *firmware1, uint16_t *firmware2,
                     uint16_t *firmware3, uint16_t *firmware4, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void SYS_WriteUserSN(Library &lib, uint32_t *handle, const uint8_t *user_sn, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void SYS_ReadUserSN(Library &lib, uint32_t *handle, uint8_t *user_sn, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void SYS_WriteUserArea(Library &lib, uint32_t *handle, const uint8_t *user_area, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void SYS_ReadUserArea(Library &lib, uint32_t *handle, uint8_t *user_area, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void WatchDog(Library &lib, uint32_t *handle, uint8_t value, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void SYS_ReadCount(Library &lib, uint32_t *handle, uint32_t *count, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

}  // namespace kmt::device
