#include "device/functions.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace kmt::device {

void UART_Init(Library &lib, uint32_t *handle, uint16_t config_word, uint8_t config_byte1,
               uint8_t config_byte2, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void UART_Interrupt(Library &lib, uint32_t *handle, uint8_t interrupt_setting, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void UART_Close(Library &lib, uint32_t *handle, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void UART_SetTimeOut(Library &lib, uint32_t *handle, uint16_t time_out, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void UART_Read(Library &lib, uint32_t *handle, uint16_t *count, uint8_t *data,
               uint8_t *trailer_byte1, uint8_t *trailer_byte2, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void UART_Write(Library &lib, uint32_t *handle, uint16_t count, const uint8_t *data,
                int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

}  // namespace kmt::device
