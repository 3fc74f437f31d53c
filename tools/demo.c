/* Placeholder demo. */
#include <stdio.h>

#include "kmtv1.h"

int main(void) {
  int32_t major = 0, minor = 0, build = 0;
  KMT_GetDriverVersion(&major, &minor, &build);
  printf("library version %d.%d.%d\n", (int)major, (int)minor, (int)build);
  return 0;
}
