/*
 * kmtv1 — host library for the KMTC multi-function USB I/O controller.
 *
 * Every function returns void and reports through pointer parameters. Device
 * functions take a pointer to the device handle first and a pointer to the status
 * last.
 *
 * Threads: every function may be called from any thread. The library holds one lock
 * for the whole of each call, so calls from several threads take turns (a call waits
 * while another is exchanging with a controller) and each gets exactly the result it
 * would get alone. What the library cannot order for you: the connection is one state
 * for the whole library, not one per device. KMT_Close of any device, or a failed
 * KMT_InitBySN, disarms the exchange for every device and thread until the next
 * successful KMT_InitBySN; device functions meanwhile answer status 1. Threads that
 * each drive a device of their own should open them all first and close them only
 * when all are done. The discovery table (KMT_CreateListDevs) is shared as well.
 *
 * Status values of device functions and of KMT_SendComm:
 *   KMT_STATUS_OK            0  success
 *   KMT_STATUS_NOT_OPEN      1  no device open, or the driver failed the request write
 *   KMT_STATUS_BAD_RESPONSE  2  no response, short or corrupt response, the controller
 *                               refused the request (non-zero result byte), or a request
 *                               or announced response too long for the payload buffer
 *   KMT_STATUS_UNKNOWN_TYPE  3  KMT_CreateListDevs: unrecognised device type name
 *   KMT_STATUS_OUT_OF_RANGE  4  an argument the controller cannot take; nothing was sent
 * Discovery and open report driver (D2XX) status codes instead, 0 meaning success.
 *
 * Memory: every buffer is the caller's; the library reads and writes it only during
 * the call and never past the size stated beside each function. Passing a null
 * pointer for a parameter the call reads or writes makes the call return at once
 * without effect, except that a status pointer that is itself valid then receives
 * KMT_STATUS_OUT_OF_RANGE (4), so the caller never reads an earlier call's success.
 * A data pointer that the call leaves unused (a count of 0, a channel not enabled)
 * may be null.
 *
 * Integer widths are fixed: handles are uint32_t, statuses int32_t, by-value 8- and
 * 16-bit parameters uint8_t and uint16_t, analog values IEEE-754 binary64 doubles.
 */
#ifndef KMTV1_H
#define KMTV1_H

#include <stdint.h>

/* KMT_VERSION_MAJOR, _MINOR, _BUILD and KMT_VERSION_STRING: written by the build. */
#include "kmtv1_version.h"

#if defined(_WIN32)
#define KMT_CALL __stdcall
#if defined(KMTV1_BUILDING)
/* The module definition file alone names the exports, undecorated. */
#define KMT_API
#else
#define KMT_API __declspec(dllimport)
#endif
#else
#define KMT_CALL
#if defined(KMTV1_BUILDING)
#define KMT_API __attribute__((visibility("default")))
#else
#define KMT_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
  KMT_STATUS_OK = 0,
  KMT_STATUS_NOT_OPEN = 1,
  KMT_STATUS_BAD_RESPONSE = 2,
  KMT_STATUS_UNKNOWN_TYPE = 3,
  KMT_STATUS_OUT_OF_RANGE = 4
};

/* Strings of the discovery functions. Here: a NUL-terminated text in (null reads as
 * the empty string), and a caller buffer of KMT_STRING_SIZE bytes out, always
 * NUL-terminated. Where OLE Automation is the hosts' string type, these are VARIANTs. */
#if defined(_WIN32)
#include <oaidl.h>
typedef VARIANT *kmt_text_in;
typedef VARIANT *kmt_text_out;
#else
typedef const char *kmt_text_in;
typedef char *kmt_text_out;
#endif

/* Size of the payload buffer that KMT_SendComm reads and writes whole. */
#define KMT_PAYLOAD_SIZE 16385
/* Size of each string buffer that KMT_GetTypeAndSNbyIndex fills (NUL included). */
#define KMT_STRING_SIZE 256

/* ---- Raw exchange ------------------------------------------------------------ */

/* Sends one request frame and waits for the controller's response frame.
 * buffer: KMT_PAYLOAD_SIZE bytes, request payload in, response payload out (the whole
 * buffer is copied both ways). length: request length in, response length out.
 * group 8 sends the three-byte short request. response_delay_ms <= 0: no pause. */
KMT_API void KMT_CALL KMT_SendComm(uint32_t *handle, uint16_t frame_prefix, uint8_t group,
                                   uint8_t command, int32_t response_delay_ms, uint8_t *buffer,
                                   uint16_t *length, int32_t *status);

/* ---- Discovery and connection ------------------------------------------------- */

/* Lists the controllers of a public type name ("KMTCV1", any letter case).
 * status: 3 for an unknown name, else the driver status of the last driver call.
 * A null type_name is taken as the empty string. */
KMT_API void KMT_CALL KMT_CreateListDevs(kmt_text_in type_name, int32_t *count, int32_t *status);
/* Splits listed entry `index` into its 8-character type code and its serial number.
 * type_out, serial_out: KMT_STRING_SIZE bytes each, always NUL-terminated. An index
 * outside 0..255 yields two empty strings. status: the last discovery/open result. */
KMT_API void KMT_CALL KMT_GetTypeAndSNbyIndex(int32_t index, kmt_text_out type_out,
                                              kmt_text_out serial_out, int32_t *status);
/* Opens the controller with this full serial-number string (type code + serial) and
 * configures the link. status 0 on success, 1 on any failure. After a failure *handle
 * is 0, never a live handle; a device that opened but whose link set-up failed has been
 * closed again (so it can be opened anew), and KMT_GetTypeAndSNbyIndex reports the
 * driver code of the step that failed. A device opened earlier stays open, but the
 * exchange is disarmed for all devices until the next successful open. */
KMT_API void KMT_CALL KMT_InitBySN(uint32_t *handle, kmt_text_in serial, int32_t *status);
/* Closes the device; the second argument is ignored. */
KMT_API void KMT_CALL KMT_Close(uint32_t *handle, uint32_t unused);
/* Stores the library's version: what KMT_VERSION_MAJOR, _MINOR and _BUILD say in the
 * header it was built with (a program may run with a newer library than its header). */
KMT_API void KMT_CALL KMT_GetDriverVersion(int32_t *major, int32_t *minor, int32_t *build);

/* ---- System and identity ------------------------------------------------------ */

/* Values cross unchanged; reads leave their outputs untouched unless status is 0.
 * SYS_GetDriverType stores 1 and needs no open device. */
KMT_API void KMT_CALL SYS_GetDriverType(uint16_t *driver_type);
KMT_API void KMT_CALL SYS_GetFirmWare(uint32_t *handle, uint16_t *firmware1, uint16_t *firmware2,
                                      uint16_t *firmware3, uint16_t *firmware4, int32_t *status);
/* user_sn: 16 bytes. */
KMT_API void KMT_CALL SYS_WriteUserSN(uint32_t *handle, const uint8_t *user_sn, int32_t *status);
KMT_API void KMT_CALL SYS_ReadUserSN(uint32_t *handle, uint8_t *user_sn, int32_t *status);
/* user_area: 128 bytes, sent and read as two 64-byte halves. Writing stops after a
 * failed first half. Reading: a failed second half keeps the first 64 bytes stored. */
KMT_API void KMT_CALL SYS_WriteUserArea(uint32_t *handle, const uint8_t *user_area,
                                        int32_t *status);
KMT_API void KMT_CALL SYS_ReadUserArea(uint32_t *handle, uint8_t *user_area, int32_t *status);
KMT_API void KMT_CALL WatchDog(uint32_t *handle, uint8_t value, int32_t *status);
KMT_API void KMT_CALL SYS_ReadCount(uint32_t *handle, uint32_t *count, int32_t *status);

/* ---- Digital I/O ---------------------------------------------------------------- */
/* Lines 0..11, ports 0..1, modes 0..2: larger numbers are clamped to the top of their
 * range and sent, never refused. */

KMT_API void KMT_CALL DIO_SetBitMode(uint32_t *handle, uint8_t bit, uint8_t mode, int32_t *status);
KMT_API void KMT_CALL DIO_WriteBit(uint32_t *handle, uint8_t bit, uint8_t value, int32_t *status);
KMT_API void KMT_CALL DIO_ReadPort(uint32_t *handle, uint8_t port, uint8_t *value, int32_t *status);
KMT_API void KMT_CALL DIO_WritePort(uint32_t *handle, uint8_t port, uint8_t value, int32_t *status);
KMT_API void KMT_CALL DIO_SetPortMode(uint32_t *handle, uint8_t port, uint8_t mode,
                                      int32_t *status);
/* line_codes, line_values: 16 bytes each; entries 0..11 are used. Per line, code 0
 * drives 0x00, code 1 drives 0xFF, code 2 sends line_values[i] flagged as a value; any
 * other code is treated as code 0. */
KMT_API void KMT_CALL DIO_WriteMask(uint32_t *handle, const uint8_t *line_codes,
                                    const uint8_t *line_values, int32_t *status);

/* ---- Analog I/O ----------------------------------------------------------------- */
/* Inputs: volts = count / 1023 * 5 (counts above 1023 are passed on, not capped).
 * Outputs: code = volts / 5 * 10000 rounded to nearest, halves to even, low 16 bits of
 * the 64-bit result. Both in binary64 throughout, each operation rounded on its own
 * (never fused); the scaling uses the floating-point rounding mode in force (round to
 * nearest unless the host changed it), the rounding to an integer code is explicit and
 * does not depend on it. NaN sends code 0; +inf and values beyond the 64-bit range saturate to
 * INT64_MAX (code 0xFFFF), -inf and below to INT64_MIN (code 0x0000). */

KMT_API void KMT_CALL AI_SimpleRead(uint32_t *handle, double *volts1, double *volts2,
                                    double *volts3, double *volts4, int32_t *status);
KMT_API void KMT_CALL AI_SimpleReadTimer(uint32_t *handle, double *volts1, double *volts2,
                                         double *volts3, double *volts4, uint32_t *timer,
                                         int32_t *status);
KMT_API void KMT_CALL AI_ReadCh4(uint32_t *handle, uint8_t channel, double *volts, int32_t *status);
KMT_API void KMT_CALL AI_ReadCh4Timer(uint32_t *handle, uint8_t channel, double *volts,
                                      uint32_t *timer, int32_t *status);
/* channel: output 0 or 1. Any other channel sends nothing and stores status 4
 * (KMT_STATUS_OUT_OF_RANGE), also with no device open. */
KMT_API void KMT_CALL AO_SimpleWrite(uint32_t *handle, uint8_t channel, double volts,
                                     int32_t *status);
KMT_API void KMT_CALL AO_SetDACDivider(uint32_t *handle, uint16_t divider, int32_t *status);

/* ---- I2C and SPI masters -------------------------------------------------------- */

KMT_API void KMT_CALL I2C_Init(uint32_t *handle, int32_t *status);
KMT_API void KMT_CALL I2C_Start(uint32_t *handle, int32_t *status);
KMT_API void KMT_CALL I2C_Stop(uint32_t *handle, int32_t *status);
KMT_API void KMT_CALL I2C_Write(uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte,
                                int32_t *status);
KMT_API void KMT_CALL I2C_Read(uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte,
                               int32_t *status);
/* clock_selector 1..5 sends the clock codes 3, 9, 34, 76, 159; any other selector 0. */
KMT_API void KMT_CALL I2C_SetTimeClock(uint32_t *handle, uint8_t clock_selector, int32_t *status);
/* Sends the byte setting points to; setting is only read. */
KMT_API void KMT_CALL SPI_Init(uint32_t *handle, const uint8_t *setting, int32_t *status);
KMT_API void KMT_CALL SPI_Byte(uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte,
                               int32_t *status);
/* clock_selector 1..7 sends the clock codes 1, 2, 5, 9, 21, 46, 246; any other selector 0. */
KMT_API void KMT_CALL SPI_SetTimeClock(uint32_t *handle, uint8_t clock_selector, int32_t *status);
KMT_API void KMT_CALL SPI_Bit(uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte, int32_t *status);

/* ---- UART bridge ------------------------------------------------------------------ */

KMT_API void KMT_CALL UART_Init(uint32_t *handle, uint16_t config_word, uint8_t config_byte1,
                                uint8_t config_byte2, int32_t *status);
KMT_API void KMT_CALL UART_Interrupt(uint32_t *handle, uint8_t interrupt_setting, int32_t *status);
KMT_API void KMT_CALL UART_Close(uint32_t *handle, int32_t *status);
KMT_API void KMT_CALL UART_SetTimeOut(uint32_t *handle, uint16_t time_out, int32_t *status);
/* count: in, bytes wanted (limited to 64 in place, and left limited even when the
 * exchange fails); out, bytes delivered = response length - 2 (a response longer than
 * 66 bytes is taken as 66). data: 64 bytes. trailer_byte1/2: the response's last two
 * bytes. A response shorter than 2 bytes delivers nothing: count becomes 0 and data and
 * both trailer bytes keep their values. */
KMT_API void KMT_CALL UART_Read(uint32_t *handle, uint16_t *count, uint8_t *data,
                                uint8_t *trailer_byte1, uint8_t *trailer_byte2, int32_t *status);
/* Sends min(count, 64) bytes of data. */
KMT_API void KMT_CALL UART_Write(uint32_t *handle, uint16_t count, const uint8_t *data,
                                 int32_t *status);

/* ---- 1-Wire master ------------------------------------------------------------------ */

KMT_API void KMT_CALL WR1_Init(uint32_t *handle, uint8_t *reply, int32_t *status);
KMT_API void KMT_CALL WR1_Read(uint32_t *handle, uint8_t *value, int32_t *status);
KMT_API void KMT_CALL WR1_Write(uint32_t *handle, uint8_t value, uint8_t *reply, int32_t *status);
/* data: min(count, 64) bytes, sent and then replaced by the controller's answer. */
KMT_API void KMT_CALL WR1_WriteSome(uint32_t *handle, uint16_t count, uint8_t *data,
                                    int32_t *status);
/* search_result: response byte 9. rom: 8 bytes, response bytes 0..7. */
KMT_API void KMT_CALL WR1_SearchRom(uint32_t *handle, uint8_t *search_result, uint8_t *rom,
                                    int32_t *status);
/* data: min(count, 64) bytes. */
KMT_API void KMT_CALL WR1_ReadSome(uint32_t *handle, uint16_t count, uint8_t *data,
                                   int32_t *status);

/* ---- Generator, pulse counter and shift-register expansion ------------------------- */

/* value1 and value2 are limited to 6..10000 and value2 is sent minus one; value3 is
 * limited to 0..1000. */
KMT_API void KMT_CALL Gen_Generate(uint32_t *handle, uint16_t value1, uint16_t value2,
                                   uint16_t value3, int32_t *status);
KMT_API void KMT_CALL exp1_Init(uint32_t *handle, int32_t *status);
/* Shifts out min(count, 64) bytes of data. */
KMT_API void KMT_CALL hc595_Write(uint32_t *handle, uint8_t count, const uint8_t *data,
                                  int32_t *status);
/* count: limited to 64 in place (left limited even when the exchange fails), never
 * changed afterwards. data: 64 bytes; exactly count bytes are written. Bytes the
 * response did not carry (a response shorter than count) are written as 0. */
KMT_API void KMT_CALL hc165_Read(uint32_t *handle, uint8_t *count, uint8_t *data, int32_t *status);
/* selector 0..17 chooses one of the controller's counting windows; 18 and above send
 * the window constants 0. pulse_count: the controller's 16-bit result. */
KMT_API void KMT_CALL CountImp(uint32_t *handle, uint16_t selector, uint16_t *pulse_count,
                               int32_t *status);

/* ---- Block acquisition and waveform output ------------------------------------------ */

/* samples1..samples4: min(sample_count, 2000) + 1 words each, for the first
 * channel_count arrays only (the others are not touched and may be null).
 * threshold: 1024 counts per 5 V, rounded and cut to 16 bits as the analog outputs'
 * code (NaN 0, infinities saturated). status, channel_count and duration (0.0) are
 * written first. A response shorter than its 5-byte trailer gives status 2 with
 * duration 0.0 and trailer and samples untouched. */
KMT_API void KMT_CALL AI_Read(uint32_t *handle, uint8_t channel_enable1, uint8_t channel_enable2,
                              uint8_t channel_enable3, uint8_t channel_enable4, uint8_t aux_byte1,
                              uint8_t aux_byte2, uint16_t sample_delay, uint16_t aux_word1,
                              uint16_t aux_word2, uint16_t sample_count, double threshold,
                              uint8_t *trailer_byte, uint32_t *trailer_value, uint16_t *samples1,
                              uint16_t *samples2, uint16_t *samples3, uint16_t *samples4,
                              int32_t *channel_count, double *duration, int32_t *status);
/* port_samples: min(sample_count, 4000) + 1 bytes. sample_period is written before
 * the exchange; for sample_count 0 it is that of one interval ((delay + 27.232) us).
 * An empty response gives status 2 with trailer_byte and port_samples untouched. */
KMT_API void KMT_CALL DIO_ScanPort(uint32_t *handle, uint8_t aux_byte1, uint8_t aux_byte2,
                                   uint16_t sample_delay, uint16_t aux_word1, uint16_t aux_word2,
                                   uint16_t sample_count, uint8_t *trailer_byte,
                                   uint8_t *port_samples, double *sample_period, int32_t *status);
/* wave_data: min(wave_length, 2000) bytes. wave_length 0: nothing at all happens. */
KMT_API void KMT_CALL DO_WaveOut(uint32_t *handle, uint16_t wave_length, uint16_t wave_mode,
                                 const uint8_t *wave_data, int32_t *status);

#ifdef __cplusplus
}
#endif

#endif /* KMTV1_H */
