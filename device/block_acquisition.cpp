#include "device/functions.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace kmt::device {

void AI_Read(Library &lib, uint32_t *handle, uint8_t channel_enable1, uint8_t channel_enable2,
             uint8_t channel_enable3, uint8_t channel_enable4, uint8_t aux_byte1, uint8_t aux_byte2,
             uint16_t sample_delay, uint16_t aux_word1, uint16_t aux_word2, uint16_t sample_count,
             double threshold, uint8_t *trailer_byte, uint32_t *trailer_value, uint16_t *samples1,
             uint16_t *samples2, uint16_t *samples3, uint16_t *samples4, int32_t *channel_count,
             double *duration, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void DIO_ScanPort(Library &lib, uint32_t *handle, uint8_t aux_byte1, uint8_t aux_byte2,
                  uint16_t sample_delay, uint16_t aux_word1, uint16_t aux_word2,
                  uint16_t sample_count, uint8_t *trailer_byte, uint8_t *port_samples,
                  double *sample_period, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

void DO_WaveOut(Library &lib, uint32_t *handle, uint16_t wave_length, uint16_t wave_mode,
                const uint8_t *wave_data, int32_t *status) {
  // Not built yet.
  *status = kStatusNotOpen;
  (void)lib;
}

}  // namespace kmt::device
