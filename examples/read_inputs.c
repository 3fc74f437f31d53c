/* Opens the first controller found, reads its four analog inputs and digital port 0,
 * and closes it. Every call's status is checked.
 *
 * Build against an installed library:
 *   cc read_inputs.c -o read_inputs $(pkg-config --cflags --libs kmtv1) \
 *      -Wl,-rpath,$(pkg-config --variable=libdir kmtv1)
 * Run without hardware, on the simulated controller:
 *   KMT_DRIVER=sim ./read_inputs
 */
#include <inttypes.h>
#include <kmtv1.h>
#include <stdio.h>

/* Reports a failed call; returns whether the call succeeded. */
static int succeeded(const char *function, int32_t status) {
  if (status != KMT_STATUS_OK) {
    fprintf(stderr, "%s failed with status %" PRId32 "\n", function, status);
  }
  return status == KMT_STATUS_OK;
}

int main(void) {
  int32_t count = 0, status = 0;
  KMT_CreateListDevs("KMTCV1", &count, &status);
  if (count < 1) {
    fprintf(stderr, "no controller found (driver status %" PRId32 ")\n", status);
    return 1;
  }
  char type[KMT_STRING_SIZE], serial[KMT_STRING_SIZE], full[2 * KMT_STRING_SIZE];
  KMT_GetTypeAndSNbyIndex(0, type, serial, &status);
  if (!succeeded("KMT_GetTypeAndSNbyIndex", status)) return 1;
  snprintf(full, sizeof full, "%s%s", type, serial); /* type code + serial opens it */

  uint32_t handle = 0;
  KMT_InitBySN(&handle, full, &status);
  if (!succeeded("KMT_InitBySN", status)) return 1;

  int failed = 0;
  double volts[4];
  AI_SimpleRead(&handle, &volts[0], &volts[1], &volts[2], &volts[3], &status);
  if (succeeded("AI_SimpleRead", status)) {
    printf("%s: inputs %.3f V %.3f V %.3f V %.3f V\n", full, volts[0], volts[1], volts[2],
           volts[3]);
  } else {
    failed = 1;
  }
  uint8_t port = 0;
  DIO_ReadPort(&handle, 0, &port, &status);
  if (succeeded("DIO_ReadPort", status)) {
    printf("%s: port 0 = 0x%02X\n", full, port);
  } else {
    failed = 1;
  }
  KMT_Close(&handle, 0); /* reports nothing */
  return failed;
}
