/* The raw exchange: one request frame by hand with KMT_SendComm (group 1, command 0:
 * the firmware identification words) on the first controller found.
 *
 *   cc raw_exchange.c -o raw_exchange $(pkg-config --cflags --libs kmtv1)
 *   KMT_DRIVER=sim ./raw_exchange
 */
#include <inttypes.h>
#include <kmtv1.h>
#include <stdio.h>

int main(void) {
  int32_t count = 0, status = 0;
  KMT_CreateListDevs("KMTCV1", &count, &status);
  if (count < 1) {
    fprintf(stderr, "no controller found (driver status %" PRId32 ")\n", status);
    return 1;
  }
  char type[KMT_STRING_SIZE], serial[KMT_STRING_SIZE], full[2 * KMT_STRING_SIZE];
  KMT_GetTypeAndSNbyIndex(0, type, serial, &status);
  snprintf(full, sizeof full, "%s%s", type, serial);
  uint32_t handle = 0;
  KMT_InitBySN(&handle, full, &status);
  if (status != KMT_STATUS_OK) {
    fprintf(stderr, "cannot open %s (status %" PRId32 ")\n", full, status);
    return 1;
  }
  /* The whole KMT_PAYLOAD_SIZE buffer travels both ways; length says how much counts. */
  static uint8_t buffer[KMT_PAYLOAD_SIZE];
  uint16_t length = 0; /* no request payload */
  KMT_SendComm(&handle, 0x0010, 1, 0, 0, buffer, &length, &status);
  int failed = status != KMT_STATUS_OK || length < 8;
  if (failed) {
    fprintf(stderr, "exchange failed with status %" PRId32 "\n", status);
  } else {
    printf("%s: firmware words %d %d %d %d (%u payload bytes)\n", full, buffer[0] | buffer[1] << 8,
           buffer[2] | buffer[3] << 8, buffer[4] | buffer[5] << 8, buffer[6] | buffer[7] << 8,
           (unsigned)length);
  }
  KMT_Close(&handle, 0);
  return failed;
}
