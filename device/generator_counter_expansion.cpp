#include "device/functions.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace kmt::device {

void Gen_Generate(Library &lib, uint32_t *handle, uint16_t value1, uint16_t value2, uint16_t value3,
                  int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void exp1_Init(Library &lib, uint32_t *handle, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void hc595_Write(Library &lib, uint32_t *handle, uint8_t count, const uint8_t *data,
                 int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void hc165_Read(Library &lib, uint32_t *handle, uint8_t *count, uint8_t *data, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void CountImp(Library &lib, uint32_t *handle, uint16_t selector, uint16_t *pulse_count,
              int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

}  // namespace kmt::device
