/* A short tour of the library as a host program uses it: find the controllers,
 * open one, talk to it, close it. Run with KMT_DRIVER=sim to use the simulated
 * controller. Written in C to show the header as C hosts see it. */
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "kmtv1.h"

static int check(const char *what, int32_t status) {
  if (status != KMT_STATUS_OK) printf("  %s failed with status %" PRId32 "\n", what, status);
  return status == KMT_STATUS_OK;
}

int main(void) {
  int32_t count = 0, status = 0;
  KMT_CreateListDevs("KMTCV1", &count, &status);
  printf("controllers of type KMTCV1: %" PRId32 " (driver status %" PRId32 ")\n", count, status);

  char serial_to_open[2 * KMT_STRING_SIZE] = "";
  for (int32_t i = 0; i < count; ++i) {
    char type[KMT_STRING_SIZE], serial[KMT_STRING_SIZE];
    KMT_GetTypeAndSNbyIndex(i, type, serial, &status);
    printf("  #%" PRId32 ": type %s, serial number %s\n", i, type, serial);
    if (i == 0) snprintf(serial_to_open, sizeof serial_to_open, "%s%s", type, serial);
  }

  if (count > 0) {
    uint32_t handle = 0;
    KMT_InitBySN(&handle, serial_to_open, &status);
    printf("open %s: status %" PRId32 "\n", serial_to_open, status);
    if (check("open", status)) {
      static uint8_t buffer[KMT_PAYLOAD_SIZE];
      uint16_t length = 0;
      KMT_SendComm(&handle, 0x0010, 1, 0, 0, buffer, &length, &status);
      if (check("firmware query", status) && length >= 8) {
        printf("firmware words (raw exchange): %u %u %u %u\n", buffer[0] | buffer[1] << 8,
               buffer[2] | buffer[3] << 8, buffer[4] | buffer[5] << 8, buffer[6] | buffer[7] << 8);
      }
      KMT_Close(&handle, 0);
      printf("closed\n");
    }
  }

  int32_t major = 0, minor = 0, build = 0;
  KMT_GetDriverVersion(&major, &minor, &build);
  printf("library version %" PRId32 ".%" PRId32 ".%" PRId32 "\n", major, minor, build);
  return 0;
}
