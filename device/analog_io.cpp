#include "device/functions.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace kmt::device {

void AI_SimpleRead(Library &lib, uint32_t *handle, double *volts1, double *volts2, double *volts3,
                   double *volts4, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void AI_SimpleReadTimer(Library &lib, uint32_t *handle, double *volts1, double *volts2,
                        double *volts3, double *volts4, uint32_t *timer, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void AI_ReadCh4(Library &lib, uint32_t *handle, uint8_t channel, double *volts, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void AI_ReadCh4Timer(Library &lib, uint32_t *handle, uint8_t channel, double *volts,
                     uint32_t *timer, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void AO_SimpleWrite(Library &lib, uint32_t *handle, uint8_t channel, double volts,
                    int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void AO_SetDACDivider(Library &lib, uint32_t *handle, uint16_t divider, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

}  // namespace kmt::device
