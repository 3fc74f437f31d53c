/* Stands in for the Windows library's discovery functions in the C# binding's tests on
 * Linux, where Mono marshals VARIANTs as it does on Windows: each shim_ function takes
 * VARIANT * strings and behaves as library/text_windows.cpp (a VARIANT holding a BSTR
 * in; the output VARIANT cleared and given a fresh BSTR), then calls the real function of
 * libkmtv1 with the C strings.
 *
 * BSTRs here follow Mono's own layout outside Windows, since Mono allocates and frees them:
 * malloc'ed, a 32-bit byte length before the UTF-16 text, a terminating NUL unit. */
#include <kmtv1.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define VT_EMPTY 0
#define VT_BSTR 8

typedef uint16_t bstr_unit;

/* The OLE Automation VARIANT: a type tag, three reserved words, then the value union
 * (two pointers wide, for records). */
typedef struct {
  uint16_t vt;
  uint16_t reserved[3];
  union {
    bstr_unit *bstr;
    void *record[2];
  } value;
} variant;

#define SHIM_API __attribute__((visibility("default")))

static bstr_unit *bstr_alloc(const char *text) {
  size_t length = strlen(text);
  uint32_t *block = malloc(sizeof(uint32_t) + (length + 1) * sizeof(bstr_unit));
  if (block == NULL) return NULL;
  block[0] = (uint32_t)(length * sizeof(bstr_unit));
  bstr_unit *units = (bstr_unit *)(block + 1);
  for (size_t i = 0; i < length; i++) units[i] = (unsigned char)text[i];
  units[length] = 0;
  return units;
}

static void variant_clear(variant *v) {
  if (v->vt == VT_BSTR && v->value.bstr != NULL) free((uint32_t *)v->value.bstr - 1);
  v->vt = VT_EMPTY;
  v->value.bstr = NULL;
}

/* The text of an input VARIANT into out (size bytes); anything but a string is empty.
 * Units above 255 have no single-byte form here and become '?'. */
static void text_in(const variant *v, char *out, size_t size) {
  out[0] = '\0';
  if (v == NULL || v->vt != VT_BSTR || v->value.bstr == NULL) return;
  uint32_t units = ((const uint32_t *)v->value.bstr)[-1] / sizeof(bstr_unit);
  size_t n = units < size - 1 ? units : size - 1;
  for (size_t i = 0; i < n; i++) {
    bstr_unit u = v->value.bstr[i];
    out[i] = u < 256 ? (char)u : '?';
  }
  out[n] = '\0';
}

static void text_out(const char *text, variant *out) {
  bstr_unit *fresh = bstr_alloc(text);
  if (fresh == NULL) return;
  variant_clear(out);
  out->vt = VT_BSTR;
  out->value.bstr = fresh;
}

SHIM_API void shim_KMT_CreateListDevs(variant *type_name, int32_t *count, int32_t *status) {
  char text[KMT_STRING_SIZE];
  text_in(type_name, text, sizeof text);
  KMT_CreateListDevs(text, count, status);
}

SHIM_API void shim_KMT_GetTypeAndSNbyIndex(int32_t index, variant *type_out, variant *serial_out,
                                           int32_t *status) {
  char type[KMT_STRING_SIZE], serial[KMT_STRING_SIZE];
  KMT_GetTypeAndSNbyIndex(index, type, serial, status);
  text_out(type, type_out);
  text_out(serial, serial_out);
}

SHIM_API void shim_KMT_InitBySN(uint32_t *handle, variant *serial, int32_t *status) {
  char text[KMT_STRING_SIZE];
  text_in(serial, text, sizeof text);
  KMT_InitBySN(handle, text, status);
}

/* The size of the VARIANT as laid out here, for the test to compare with the runtime's. */
SHIM_API int32_t shim_variant_size(void) {
  return (int32_t)sizeof(variant);
}
