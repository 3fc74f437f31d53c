/* A short tour of the library as a host program uses it: find the controllers, open
 * one, use each function family once, close it. Run with KMT_DRIVER=sim to use the
 * simulated controller (its devices are described in sim/README.md), or on Windows with
 * the simulated ftd2xx.dll beside it. Written in C to
 * show the header as C hosts see it. */
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "kmtv1.h"

/* Discovery strings: plain text here, VARIANTs holding BSTRs on Windows. */
#if defined(_WIN32)
#include <oleauto.h>
typedef VARIANT demo_text;
static kmt_text_in text_from(demo_text *t, const char *text) {
  UINT n = (UINT)strlen(text);
  VariantInit(t);
  V_VT(t) = VT_BSTR;
  V_BSTR(t) = SysAllocStringLen(NULL, n);
  for (UINT i = 0; V_BSTR(t) != NULL && i < n; ++i) V_BSTR(t)[i] = (unsigned char)text[i];
  return t;
}
static kmt_text_out text_slot(demo_text *t) {
  VariantInit(t);
  return t;
}
/* The text of a received string (ASCII: type codes and serial numbers). */
static void text_copy(const demo_text *t, char out[KMT_STRING_SIZE]) {
  UINT n = V_VT(t) == VT_BSTR ? SysStringLen(V_BSTR(t)) : 0;
  if (n > KMT_STRING_SIZE - 1) n = KMT_STRING_SIZE - 1;
  for (UINT i = 0; i < n; ++i) out[i] = (char)V_BSTR(t)[i];
  out[n] = '\0';
}
static void text_free(demo_text *t) {
  VariantClear(t);
}
#else
typedef struct {
  char text[KMT_STRING_SIZE];
} demo_text;
static kmt_text_in text_from(demo_text *t, const char *text) {
  snprintf(t->text, sizeof t->text, "%s", text);
  return t->text;
}
static kmt_text_out text_slot(demo_text *t) {
  t->text[0] = '\0';
  return t->text;
}
static void text_copy(const demo_text *t, char out[KMT_STRING_SIZE]) {
  memcpy(out, t->text, KMT_STRING_SIZE);
}
static void text_free(demo_text *t) {
  (void)t;
}
#endif

static int ok(const char *what, int32_t status) {
  if (status != KMT_STATUS_OK) printf("  %s failed with status %" PRId32 "\n", what, status);
  return status == KMT_STATUS_OK;
}

static void analog(uint32_t *h) {
  int32_t status = 0;
  double v[4];
  AO_SimpleWrite(h, 0, 2.5, &status);
  ok("analog output 0", status);
  AI_SimpleRead(h, &v[0], &v[1], &v[2], &v[3], &status);
  if (ok("analog inputs", status)) {
    printf("analog inputs: %.3f V  %.3f V  %.3f V  %.3f V (output 0 set to 2.5 V)\n", v[0], v[1],
           v[2], v[3]);
  }
}

static void digital(uint32_t *h) {
  int32_t status = 0;
  uint8_t before = 0, after = 0;
  DIO_SetBitMode(h, 0, 1, &status); /* line 0 as an output */
  DIO_WriteBit(h, 0, 0, &status);
  DIO_ReadPort(h, 0, &before, &status);
  DIO_WriteBit(h, 0, 1, &status);
  DIO_ReadPort(h, 0, &after, &status);
  if (ok("digital line 0", status)) {
    printf("digital port 0: 0x%02X, after setting line 0: 0x%02X\n", before, after);
  }
}

static void block(uint32_t *h) {
  enum { kIntervals = 9 };
  uint16_t s1[kIntervals + 1], s2[kIntervals + 1];
  uint8_t trailer = 0;
  uint32_t trailer_value = 0;
  int32_t channels = 0, status = 0;
  double duration = 0;
  AI_Read(h, 1, 1, 0, 0, 0, 0, 100, 10, 0, kIntervals, 2.5, &trailer, &trailer_value, s1, s2, NULL,
          NULL, &channels, &duration, &status);
  if (ok("block acquisition", status)) {
    printf("block of %d instants on inputs 1 and 2 in %.6f s:", kIntervals + 1, duration);
    for (int i = 0; i < 4; ++i) printf(" (%u, %u)", s1[i], s2[i]);
    printf(" ...\n");
  }
}

static void i2c_eeprom(uint32_t *h) {
  const uint8_t written[4] = {0xCA, 0xFE, 0x12, 0x34};
  uint8_t read[4] = {0}, ack = 0;
  int32_t status = 0;
  I2C_Init(h, &status);
  I2C_Start(h, &status);
  I2C_Write(h, 0xA0, &ack, &status); /* EEPROM at 0x50, write */
  I2C_Write(h, 0x10, &ack, &status); /* address pointer */
  for (int i = 0; i < 4; ++i) I2C_Write(h, written[i], &ack, &status);
  I2C_Stop(h, &status);
  I2C_Start(h, &status);
  I2C_Write(h, 0xA0, &ack, &status);
  I2C_Write(h, 0x10, &ack, &status);
  I2C_Start(h, &status);
  I2C_Write(h, 0xA1, &ack, &status); /* read */
  for (int i = 0; i < 4; ++i) I2C_Read(h, i == 3 ? 1 : 0, &read[i], &status);
  I2C_Stop(h, &status);
  if (ok("I2C EEPROM", status)) {
    printf("I2C EEPROM at 0x10: wrote CA FE 12 34, read back %02X %02X %02X %02X\n", read[0],
           read[1], read[2], read[3]);
  }
}

static void uart_loop(uint32_t *h) {
  const char *text = "hello, UART";
  uint8_t data[64] = {0}, waiting = 0, flags = 0;
  uint16_t count = 64;
  int32_t status = 0;
  UART_Init(h, 9600, 0, 0, &status);
  UART_Write(h, (uint16_t)strlen(text), (const uint8_t *)text, &status);
  UART_Read(h, &count, data, &waiting, &flags, &status);
  if (ok("UART", status)) printf("UART loopback: \"%.*s\" (%u bytes)\n", (int)count, data, count);
  UART_Close(h, &status);
}

static void one_wire(uint32_t *h) {
  uint8_t presence = 0, result = 0, rom[8];
  int32_t status = 0;
  WR1_Init(h, &presence, &status);
  printf("1-Wire: presence %u; devices:", presence);
  do {
    WR1_SearchRom(h, &result, rom, &status);
    if (status != KMT_STATUS_OK || result == 0) break;
    printf(" ");
    for (int i = 0; i < 8; ++i) printf("%02X", rom[i]);
  } while (result == 1);
  printf("\n");
}

static void generator_counter(uint32_t *h) {
  uint16_t pulses = 0;
  int32_t status = 0;
  Gen_Generate(h, 100, 10, 500, &status); /* 1 MHz / (100 x 10) = 1 kHz */
  CountImp(h, 7, &pulses, &status);       /* a 0.5 s window */
  if (ok("generator and counter", status)) {
    printf("generator set to 1000 Hz; counter: %u pulses in 0.5 s\n", pulses);
  }
}

static void shift_registers(uint32_t *h) {
  const uint8_t out[8] = {1, 2, 4, 8, 16, 32, 64, 128};
  uint8_t in[64] = {0}, count = 8;
  int32_t status = 0;
  exp1_Init(h, &status);
  hc595_Write(h, 8, out, &status);
  hc165_Read(h, &count, in, &status);
  if (ok("shift registers", status)) {
    printf("74HC595 out, 74HC165 in:");
    for (int i = 0; i < count; ++i) printf(" %u", in[i]);
    printf("\n");
  }
}

int main(void) {
  int32_t count = 0, status = 0;
  demo_text name;
  KMT_CreateListDevs(text_from(&name, "KMTCV1"), &count, &status);
  text_free(&name);
  printf("controllers of type KMTCV1: %" PRId32 " (driver status %" PRId32 ")\n", count, status);

  char serial_to_open[2 * KMT_STRING_SIZE] = "";
  for (int32_t i = 0; i < count; ++i) {
    demo_text type_out, serial_out;
    char type[KMT_STRING_SIZE], serial[KMT_STRING_SIZE];
    KMT_GetTypeAndSNbyIndex(i, text_slot(&type_out), text_slot(&serial_out), &status);
    text_copy(&type_out, type);
    text_copy(&serial_out, serial);
    text_free(&type_out);
    text_free(&serial_out);
    printf("  #%" PRId32 ": type %s, serial number %s\n", i, type, serial);
    if (i == 0) snprintf(serial_to_open, sizeof serial_to_open, "%s%s", type, serial);
  }

  /* A controller found and opened is what the demo is for: anything less fails it. */
  int failed = 1;
  if (count < 1) fprintf(stderr, "no controller found (driver status %" PRId32 ")\n", status);
  if (count > 0) {
    uint32_t handle = 0;
    demo_text serial;
    KMT_InitBySN(&handle, text_from(&serial, serial_to_open), &status);
    text_free(&serial);
    printf("open %s: status %" PRId32 "\n", serial_to_open, status);
    if (ok("open", status)) {
      failed = 0;
      static uint8_t buffer[KMT_PAYLOAD_SIZE];
      uint16_t length = 0;
      KMT_SendComm(&handle, 0x0010, 1, 0, 0, buffer, &length, &status);
      if (ok("firmware query", status) && length >= 8) {
        printf("firmware words (raw exchange): %u %u %u %u\n", buffer[0] | buffer[1] << 8,
               buffer[2] | buffer[3] << 8, buffer[4] | buffer[5] << 8, buffer[6] | buffer[7] << 8);
      }
      analog(&handle);
      digital(&handle);
      block(&handle);
      i2c_eeprom(&handle);
      uart_loop(&handle);
      one_wire(&handle);
      generator_counter(&handle);
      shift_registers(&handle);
      KMT_Close(&handle, 0);
      printf("closed\n");
    }
  }

  int32_t major = 0, minor = 0, build = 0;
  KMT_GetDriverVersion(&major, &minor, &build);
  printf("library version %" PRId32 ".%" PRId32 ".%" PRId32 "\n", major, minor, build);
  return failed;
}
