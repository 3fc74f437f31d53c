#include <kmtv1.h>
#include <stdio.h>

/* The installed library reports the version of the installed header beside it. */
int main(void) {
  int32_t major = 0, minor = 0, build = 0;
  KMT_GetDriverVersion(&major, &minor, &build);
  printf("%d.%d.%d (header %s)\n", (int)major, (int)minor, (int)build, KMT_VERSION_STRING);
  return major == KMT_VERSION_MAJOR && minor == KMT_VERSION_MINOR && build == KMT_VERSION_BUILD ? 0
                                                                                                : 1;
}
