/* Reference values for the C# binding's block acquisition test: opens the first
 * controller the way the binding does (list, then open by the listed serial), makes one
 * AI_Read and prints what the C library returned, volts converted as the binding documents
 * (count / 1023 * 5).
 *   acquire_reference ENABLE1 ENABLE2 ENABLE3 ENABLE4 SAMPLE_COUNT SAMPLE_DELAY
 * Output: "duration D", "trailer BYTE VALUE", "channels N", then one line per instant
 * with N counts followed by N volts. Exit code 1 on any failure. */
#include <kmtv1.h>
#include <stdio.h>
#include <stdlib.h>

#define MAX_SAMPLES 2001

int main(int argc, char **argv) {
  if (argc != 7) {
    fprintf(stderr, "usage: %s E1 E2 E3 E4 SAMPLE_COUNT SAMPLE_DELAY\n", argv[0]);
    return 1;
  }
  uint8_t enables[4];
  for (int i = 0; i < 4; i++) enables[i] = (uint8_t)atoi(argv[1 + i]);
  uint16_t count = (uint16_t)atoi(argv[5]), delay = (uint16_t)atoi(argv[6]);
  if (count >= MAX_SAMPLES) return 1;

  int32_t listed = 0, status = 0;
  KMT_CreateListDevs("KMTCV1", &listed, &status);
  if (listed < 1) return 1;
  char type[KMT_STRING_SIZE], serial[KMT_STRING_SIZE], full[2 * KMT_STRING_SIZE];
  KMT_GetTypeAndSNbyIndex(0, type, serial, &status);
  snprintf(full, sizeof full, "%s%s", type, serial);
  uint32_t handle = 0;
  KMT_InitBySN(&handle, full, &status);
  if (status != KMT_STATUS_OK) return 1;

  static uint16_t samples[4][MAX_SAMPLES];
  uint8_t trailer_byte = 0;
  uint32_t trailer_value = 0;
  int32_t channels = 0;
  double duration = 0.0;
  AI_Read(&handle, enables[0], enables[1], enables[2], enables[3], 0, 0, delay, 10, 0, count, 0.0,
          &trailer_byte, &trailer_value, samples[0], samples[1], samples[2], samples[3], &channels,
          &duration, &status);
  KMT_Close(&handle, 0);
  if (status != KMT_STATUS_OK || channels < 1 || channels > 4) return 1;
  printf("duration %.17g\ntrailer %u %u\nchannels %d\n", duration, (unsigned)trailer_byte,
         (unsigned)trailer_value, (int)channels);
  for (int i = 0; i <= count; i++) {
    for (int c = 0; c < channels; c++) printf("%u ", (unsigned)samples[c][i]);
    for (int c = 0; c < channels; c++) printf(" %.17g", samples[c][i] / 1023.0 * 5.0);
    printf("\n");
  }
  return 0;
}
