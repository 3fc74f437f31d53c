#include <kmtv1.h>
#include <stdio.h>

int main(void) {
  int32_t major = 0, minor = 0, build = 0;
  KMT_GetDriverVersion(&major, &minor, &build);
  printf("%d.%d.%d\n", (int)major, (int)minor, (int)build);
  return major == 1 && minor == 0 && build == 43 ? 0 : 1;
}
