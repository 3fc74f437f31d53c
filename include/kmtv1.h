/**
 * @file kmtv1.h
 * @brief kmtv1 — host library for the KMTC multi-function USB I/O controller.
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
 *
 * | status | name | meaning |
 * |---|---|---|
 * | 0 | KMT_STATUS_OK | success |
 * | 1 | KMT_STATUS_NOT_OPEN | no device open, or the driver failed the request write |
 * | 2 | KMT_STATUS_BAD_RESPONSE | no, short, corrupt or refused response, or a frame too long |
 * | 3 | KMT_STATUS_UNKNOWN_TYPE | KMT_CreateListDevs: unrecognised device type name |
 * | 4 | KMT_STATUS_OUT_OF_RANGE | an argument the controller cannot take; nothing was sent |
 *
 * Discovery and open report driver (D2XX) status codes instead, 0 meaning success.
 *
 * Time: a device function exchanges one frame (two for the user area). A controller that
 * does not answer costs one read time-out (50 ms) per header attempt, up to 600 attempts
 * (about 30 s) before the call gives status 2.
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

/** @def KMT_CALL
 * The calling convention of every export: `__stdcall` on Windows, the platform's own
 * elsewhere. */
/** @def KMT_API
 * Marks an exported function (a dllimport on Windows for hosts). */
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

/** Status values of the device functions and of KMT_SendComm (stored through `status`). */
enum {
  KMT_STATUS_OK = 0,           /**< success */
  KMT_STATUS_NOT_OPEN = 1,     /**< no device open, or the driver failed the request write */
  KMT_STATUS_BAD_RESPONSE = 2, /**< no, short, corrupt or refused response; or too long */
  KMT_STATUS_UNKNOWN_TYPE = 3, /**< KMT_CreateListDevs: unrecognised device type name */
  KMT_STATUS_OUT_OF_RANGE = 4  /**< an argument (or null pointer) refused; nothing was sent */
};

/** @typedef kmt_text_in
 * A string into a discovery function: a NUL-terminated text (null reads as the empty
 * string); on Windows a `VARIANT *`, converted with VariantChangeType to a BSTR.
 * @typedef kmt_text_out
 * A string out of a discovery function: a caller buffer of KMT_STRING_SIZE bytes, always
 * NUL-terminated; on Windows a `VARIANT *` that receives a fresh BSTR (free it with
 * VariantClear). */
#if defined(_WIN32)
#include <oaidl.h>
typedef VARIANT *kmt_text_in;
typedef VARIANT *kmt_text_out;
#else
typedef const char *kmt_text_in;
typedef char *kmt_text_out;
#endif

/** Size in bytes of the payload buffer that KMT_SendComm reads and writes whole. */
#define KMT_PAYLOAD_SIZE 16385
/** Size in bytes of each string buffer that KMT_GetTypeAndSNbyIndex fills (NUL included). */
#define KMT_STRING_SIZE 256

/* ---- Raw exchange ---------------------------------------------------------------- */

/**
 * @brief Sends one request frame and waits for the controller's response frame.
 *
 * The request is `frame_prefix` (low byte first), `group`, `command`, the length (low
 * byte first), `*length` payload bytes and a checksum (the sum of the preceding bytes
 * modulo 256). The response is a result byte (0 = accepted), a length, the payload and a
 * checksum; any other result byte, a wrong checksum or a missing byte gives status 2.
 * Group 8 sends the three-byte short request (`frame_prefix`, 8) instead and expects the
 * three bytes echoed. The device functions below are each one or two such exchanges.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param frame_prefix The frame's first two bytes, low byte first: 0x0010 for this
 *   controller (0x10 0x00 on the wire).
 * @param group Command group (8: the short request).
 * @param command Command within the group.
 * @param response_delay_ms Pause in milliseconds between writing the request and reading
 *   the response; 0 or less: no pause.
 * @param[in,out] buffer KMT_PAYLOAD_SIZE (16385) bytes: the request payload in, the
 *   response payload out. The whole buffer is copied both ways whatever the lengths.
 * @param[in,out] length Request payload length in bytes (0..16385), response payload length
 *   out (0..16384). A longer request is refused with status 2 before anything is sent.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL KMT_SendComm(uint32_t *handle, uint16_t frame_prefix, uint8_t group,
                                   uint8_t command, int32_t response_delay_ms, uint8_t *buffer,
                                   uint16_t *length, int32_t *status);

/* ---- Discovery and connection ---------------------------------------------------- */

/**
 * @brief Lists the controllers of a public type name.
 *
 * Asks the driver for every device and keeps those whose serial-number string begins with
 * the type's 8-character code (`KMTC0002` for "KMTCV1"), at most 255, in the driver's
 * order. The list is one table for the whole library; KMT_GetTypeAndSNbyIndex reads it.
 * @param type_name The public type name, "KMTCV1" in any letter case. Null is the empty
 *   string.
 * @param[out] count Number of controllers listed (0 when the name is unknown).
 * @param[out] status 3 for an unknown type name; otherwise the driver (D2XX) status of the
 *   last driver call, 0 meaning success (2 = no driver to be had). Nothing attached is
 *   `count` 0 with status 0.
 */
KMT_API void KMT_CALL KMT_CreateListDevs(kmt_text_in type_name, int32_t *count, int32_t *status);

/**
 * @brief Splits listed entry `index` into its type code and its serial number.
 *
 * The full serial-number string that KMT_InitBySN opens is the two joined: type + serial.
 * @param index Entry of the last KMT_CreateListDevs, from 0. Entries past the last count
 *   keep what an earlier discovery left; an index outside 0..255 yields two empty strings.
 * @param[out] type_out KMT_STRING_SIZE (256) bytes: the 8-character type code
 *   ("KMTC0002"), always NUL-terminated.
 * @param[out] serial_out KMT_STRING_SIZE (256) bytes: the rest of the serial-number
 *   string, always NUL-terminated.
 * @param[out] status The driver (D2XX) status of the last discovery or open, 0 = success.
 */
KMT_API void KMT_CALL KMT_GetTypeAndSNbyIndex(int32_t index, kmt_text_out type_out,
                                              kmt_text_out serial_out, int32_t *status);

/**
 * @brief Opens the controller with this full serial-number string and sets up its link.
 *
 * The link: 250000 baud, 8 data bits, 1 stop bit, no parity, no flow control, 50 ms read
 * and write time-outs. Opening arms the exchange for every device.
 * @param[out] handle Receives the device handle (a small non-zero token); 0 on failure,
 *   never a live handle.
 * @param serial Type code and serial number joined ("KMTC0002SIM00001"); null is the
 *   empty string. At most 49 characters reach the driver.
 * @param[out] status 0 on success, 1 on any failure. A device that opened but whose link
 *   set-up failed has been closed again (so it can be opened anew), and
 *   KMT_GetTypeAndSNbyIndex reports the driver code of the step that failed. A device
 *   opened earlier stays open, but the exchange is disarmed for all devices until the
 *   next successful open.
 */
KMT_API void KMT_CALL KMT_InitBySN(uint32_t *handle, kmt_text_in serial, int32_t *status);

/**
 * @brief Closes the device and disarms the exchange for every device until the next open.
 *
 * Reports nothing. A closed handle's token is forgotten: passing it again reaches no
 * driver, and the call that does fails cleanly (status 1).
 * @param handle Pointer to the device handle to close.
 * @param unused Ignored; pass 0.
 */
KMT_API void KMT_CALL KMT_Close(uint32_t *handle, uint32_t unused);

/**
 * @brief Stores the library's version: what KMT_VERSION_MAJOR, _MINOR and _BUILD say in
 * the header it was built with (a program may run with a newer library than its header).
 * Needs no device and no driver.
 * @param[out] major The major version.
 * @param[out] minor The minor version.
 * @param[out] build The build number.
 */
KMT_API void KMT_CALL KMT_GetDriverVersion(int32_t *major, int32_t *minor, int32_t *build);

/* ---- System and identity --------------------------------------------------------- */
/*
 * Values cross unchanged; reads leave their outputs untouched unless status is 0.
 */

/**
 * @brief Stores 1, the library's driver type. Needs no open device.
 * @param[out] driver_type 1.
 */
KMT_API void KMT_CALL SYS_GetDriverType(uint16_t *driver_type);

/**
 * @brief Reads the controller's four firmware identification words (group 1, command 0).
 *
 * The simulated controller answers 1, 0, 43, 2.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param[out] firmware1 First word (response bytes 0..1, low byte first).
 * @param[out] firmware2 Second word (bytes 2..3).
 * @param[out] firmware3 Third word (bytes 4..5).
 * @param[out] firmware4 Fourth word (bytes 6..7).
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 * Outputs are written only when the status is 0; on failure they keep their values.
 */
KMT_API void KMT_CALL SYS_GetFirmWare(uint32_t *handle, uint16_t *firmware1, uint16_t *firmware2,
                                      uint16_t *firmware3, uint16_t *firmware4, int32_t *status);

/**
 * @brief Writes the 16-byte user serial number into the controller's non-volatile memory.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param user_sn 16 bytes, only read; any values.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL SYS_WriteUserSN(uint32_t *handle, const uint8_t *user_sn, int32_t *status);

/**
 * @brief Reads the 16-byte user serial number. Memory never written reads 0xFF.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param[out] user_sn 16 bytes, written only on success.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL SYS_ReadUserSN(uint32_t *handle, uint8_t *user_sn, int32_t *status);

/**
 * @brief Writes the 128-byte user area into non-volatile memory, as two 64-byte halves.
 *
 * Each half is one exchange with a 1 ms pause for the memory; writing stops after a
 * failed first half.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param user_area 128 bytes, only read.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL SYS_WriteUserArea(uint32_t *handle, const uint8_t *user_area,
                                        int32_t *status);

/**
 * @brief Reads the 128-byte user area, as two 64-byte halves. Never written: 0xFF.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param[out] user_area 128 bytes. A failed second half keeps the first 64 bytes stored;
 *   a failed first half writes nothing.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL SYS_ReadUserArea(uint32_t *handle, uint8_t *user_area, int32_t *status);

/**
 * @brief Sends the watchdog byte (group 19, command 6).
 *
 * The byte is sent as it is; its meaning is the controller firmware's. The simulated
 * controller keeps it and never resets itself.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param value The watchdog setting, 0..255.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL WatchDog(uint32_t *handle, uint8_t value, int32_t *status);

/**
 * @brief Reads the controller's millisecond counter.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param[out] count The controller's time in milliseconds, wrapping at 2^32 (about 49.7
 *   days); written only on success.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL SYS_ReadCount(uint32_t *handle, uint32_t *count, int32_t *status);

/* ---- Digital I/O ----------------------------------------------------------------- */
/*
 * Twelve lines, 0..11. Port 0 is lines 0..7 (bit i is line i); port 1 is lines 8..11
 * (bits 0..3; bits 4..7 read 0 and are ignored when written). Line numbers above 11,
 * ports above 1 and modes above 2 are clamped to the top of their range and sent, never
 * refused. All lines start as inputs with their output latches at 0.
 */

/**
 * @brief Sets one line's mode.
 *
 * | mode | line |
 * |---|---|
 * | 0 | input (an open pin reads 0) |
 * | 1 | output: drives its latch and reads it back |
 * | 2 | input with pull-up (an open pin reads 1) |
 *
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param bit Line 0..11 (larger: 11).
 * @param mode 0, 1 or 2 as in the table (larger: 2).
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL DIO_SetBitMode(uint32_t *handle, uint8_t bit, uint8_t mode, int32_t *status);

/**
 * @brief Sets one line's output latch. It shows on the pin while the line is an output.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param bit Line 0..11 (larger: 11).
 * @param value 0 low; any other value high.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL DIO_WriteBit(uint32_t *handle, uint8_t bit, uint8_t value, int32_t *status);

/**
 * @brief Reads the levels of a port's lines as one byte.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param port 0 (lines 0..7) or 1 (lines 8..11 in bits 0..3); larger: 1.
 * @param[out] value The levels, bit i = line i of the port; written only on success.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL DIO_ReadPort(uint32_t *handle, uint8_t port, uint8_t *value, int32_t *status);

/**
 * @brief Sets a port's output latches from the bits of one byte.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param port 0 or 1 (larger: 1).
 * @param value Bit i sets line i of the port (port 1: bits 0..3).
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL DIO_WritePort(uint32_t *handle, uint8_t port, uint8_t value, int32_t *status);

/**
 * @brief Sets the mode of every line of a port (modes as for DIO_SetBitMode).
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param port 0 or 1 (larger: 1).
 * @param mode 0 input, 1 output, 2 input with pull-up (larger: 2).
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL DIO_SetPortMode(uint32_t *handle, uint8_t port, uint8_t mode,
                                      int32_t *status);

/**
 * @brief Sets all twelve output latches in one exchange.
 *
 * Per line i: code 0 drives 0x00 (low), code 1 drives 0xFF (high), code 2 sends
 * `line_values[i]` flagged as a caller's value (non-zero is high); any other code is
 * treated as code 0.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param line_codes 16 bytes, only read; entries 0..11 are used.
 * @param line_values 16 bytes, only read; entries 0..11 are used where the code is 2.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL DIO_WriteMask(uint32_t *handle, const uint8_t *line_codes,
                                    const uint8_t *line_values, int32_t *status);

/* ---- Analog I/O ------------------------------------------------------------------ */
/*
 * Inputs: a 10-bit converter, volts = count / 1023 * 5 (counts above 1023 are passed on,
 * not capped); one conversion takes about 108.8 us.
 * Outputs: code = volts / 5 * 10000 rounded to nearest, halves to even, low 16 bits of
 * the 64-bit result (10000 codes are 5 V). Both in binary64 throughout, each operation
 * rounded on its own (never fused); the scaling uses the floating-point rounding mode in
 * force (round to nearest unless the host changed it), the rounding to an integer code is
 * explicit and does not depend on it. NaN sends code 0; +inf and values beyond the 64-bit
 * range saturate to INT64_MAX (code 0xFFFF), -inf and below to INT64_MIN (code 0x0000).
 */

/**
 * @brief Converts the four analog inputs, one after the other, and returns them in volts.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param[out] volts1 Input 1 in volts (0..5 V for counts 0..1023).
 * @param[out] volts2 Input 2 in volts.
 * @param[out] volts3 Input 3 in volts.
 * @param[out] volts4 Input 4 in volts.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 * Outputs are written only when the status is 0; on failure they keep their values.
 */
KMT_API void KMT_CALL AI_SimpleRead(uint32_t *handle, double *volts1, double *volts2,
                                    double *volts3, double *volts4, int32_t *status);

/**
 * @brief As AI_SimpleRead, with the controller's microsecond timer at the request.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param[out] volts1 Input 1 in volts.
 * @param[out] volts2 Input 2 in volts.
 * @param[out] volts3 Input 3 in volts.
 * @param[out] volts4 Input 4 in volts.
 * @param[out] timer The controller's time in microseconds when the request arrived, low
 *   32 bits (wraps after about 71.6 minutes).
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 * Outputs are written only when the status is 0; on failure they keep their values.
 */
KMT_API void KMT_CALL AI_SimpleReadTimer(uint32_t *handle, double *volts1, double *volts2,
                                         double *volts3, double *volts4, uint32_t *timer,
                                         int32_t *status);

/**
 * @brief Converts one analog input and returns it in volts.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param channel 0..3 for inputs 1..4, sent as it is; the controller refuses any other
 *   (status 2).
 * @param[out] volts The input in volts.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 * Outputs are written only when the status is 0; on failure they keep their values.
 */
KMT_API void KMT_CALL AI_ReadCh4(uint32_t *handle, uint8_t channel, double *volts, int32_t *status);

/**
 * @brief As AI_ReadCh4, with the controller's microsecond timer at the request.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param channel 0..3 for inputs 1..4 (others: status 2).
 * @param[out] volts The input in volts.
 * @param[out] timer The controller's time in microseconds at the request, low 32 bits.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 * Outputs are written only when the status is 0; on failure they keep their values.
 */
KMT_API void KMT_CALL AI_ReadCh4Timer(uint32_t *handle, uint8_t channel, double *volts,
                                      uint32_t *timer, int32_t *status);

/**
 * @brief Sets an analog output's voltage.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param channel Output 0 or 1. Any other channel sends nothing and stores status 4
 *   (KMT_STATUS_OUT_OF_RANGE), also with no device open.
 * @param volts 0..5 V in the controller's range (code 0..10000); beyond it the code is
 *   still sent as computed above (above 10000: more than 5 V at the output).
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL AO_SimpleWrite(uint32_t *handle, uint8_t channel, double volts,
                                     int32_t *status);

/**
 * @brief Sends the analog outputs' divider word (group 16, command 6).
 *
 * Sent as it is; its meaning is the controller firmware's. The simulated controller
 * keeps it and nothing else changes.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param divider 0..65535.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL AO_SetDACDivider(uint32_t *handle, uint16_t divider, int32_t *status);

/* ---- I2C and SPI masters --------------------------------------------------------- */
/*
 * Each call is one exchange with at most one request byte and one response byte. The bus
 * timing follows the controller's clock settings (I2C_SetTimeClock, SPI_SetTimeClock);
 * the simulated controller keeps them and does not model timing.
 */

/**
 * @brief Resets the I2C master: ends any transaction without a stop condition.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL I2C_Init(uint32_t *handle, int32_t *status);

/**
 * @brief Sends a start (or repeated start) condition; the next byte written is an address.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL I2C_Start(uint32_t *handle, int32_t *status);

/**
 * @brief Sends a stop condition.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL I2C_Stop(uint32_t *handle, int32_t *status);

/**
 * @brief Writes one byte on the I2C bus (an address byte after I2C_Start, else data).
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param tx_byte The byte; after a start, the 7-bit address shifted left with the
 *   read/write bit (0xA0 writes to address 0x50, 0xA1 reads from it).
 * @param[out] rx_byte The acknowledge: 0 acknowledged, 1 not acknowledged. Response byte
 *   0, written only on success.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL I2C_Write(uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte,
                                int32_t *status);

/**
 * @brief Reads one byte from the addressed I2C target.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param tx_byte The master's acknowledge: 0 acknowledges (more bytes wanted), non-zero
 *   ends the read.
 * @param[out] rx_byte The byte read (0xFF outside a read), written only on success.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL I2C_Read(uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte,
                               int32_t *status);

/**
 * @brief Chooses the I2C clock setting.
 *
 * | selector | 1 | 2 | 3 | 4 | 5 | other |
 * |---|---|---|---|---|---|---|
 * | code sent | 3 | 9 | 34 | 76 | 159 | 0 |
 *
 * The code is the controller firmware's clock setting.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param clock_selector 1..5 as in the table; any other sends code 0.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL I2C_SetTimeClock(uint32_t *handle, uint8_t clock_selector, int32_t *status);

/**
 * @brief Initialises the SPI master with its setting byte and clears its shift register.
 *
 * The setting byte is sent as it is; its meaning is the controller firmware's. The
 * simulated controller keeps it.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param setting Pointer to the setting byte, only read.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL SPI_Init(uint32_t *handle, const uint8_t *setting, int32_t *status);

/**
 * @brief Exchanges one byte on the SPI bus.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param tx_byte The byte sent on MOSI.
 * @param[out] rx_byte The byte received on MISO, written only on success.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL SPI_Byte(uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte,
                               int32_t *status);

/**
 * @brief Chooses the SPI clock setting.
 *
 * | selector | 1 | 2 | 3 | 4 | 5 | 6 | 7 | other |
 * |---|---|---|---|---|---|---|---|---|
 * | code sent | 1 | 2 | 5 | 9 | 21 | 46 | 246 | 0 |
 *
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param clock_selector 1..7 as in the table; any other sends code 0.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL SPI_SetTimeClock(uint32_t *handle, uint8_t clock_selector, int32_t *status);

/**
 * @brief Exchanges one bit on the SPI bus (one clock).
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param tx_byte Bit 0 is the bit sent.
 * @param[out] rx_byte The bit received, 0 or 1; written only on success.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL SPI_Bit(uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte, int32_t *status);

/* ---- UART bridge ----------------------------------------------------------------- */
/*
 * A serial port on the controller. Data moves in blocks of at most 64 bytes. UART_Write
 * and UART_Read are refused (status 2) while the UART is not open (before UART_Init,
 * after UART_Close).
 */

/**
 * @brief Opens the controller's UART with its configuration and empties its buffer.
 *
 * The three values are sent as they are (the word low byte first); their meaning is the
 * controller firmware's (the command line's `uart init 9600` passes 9600 as the word and
 * 0 for both bytes). The simulated controller keeps them and works as a loopback whatever
 * they are.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param config_word Configuration word, 0..65535.
 * @param config_byte1 First configuration byte.
 * @param config_byte2 Second configuration byte.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL UART_Init(uint32_t *handle, uint16_t config_word, uint8_t config_byte1,
                                uint8_t config_byte2, int32_t *status);

/**
 * @brief Sends the UART's interrupt setting byte (kept by the controller).
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param interrupt_setting The setting, sent as it is (the controller firmware's meaning).
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL UART_Interrupt(uint32_t *handle, uint8_t interrupt_setting, int32_t *status);

/**
 * @brief Closes the controller's UART and empties its buffer.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL UART_Close(uint32_t *handle, int32_t *status);

/**
 * @brief Sets how long UART_Read waits for bytes it asked for but did not find.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param time_out Milliseconds, 0..65535 (0, the default: no wait).
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL UART_SetTimeOut(uint32_t *handle, uint16_t time_out, int32_t *status);

/**
 * @brief Reads up to 64 received bytes and the receive state.
 *
 * The response carries the data, then two trailing bytes: the bytes still waiting after
 * this read (255 if more), then flags: bit 0 (0x01) says bytes were lost to a full buffer
 * since the previous read.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param[in,out] count In: bytes wanted, limited to 64 in place (left limited even when
 *   the exchange fails). Out: bytes delivered = response length - 2 (a response longer
 *   than 66 bytes is taken as 66).
 * @param[out] data 64 bytes; the first `*count` are written.
 * @param[out] trailer_byte1 Bytes still waiting (255: 255 or more).
 * @param[out] trailer_byte2 Flags: bit 0 = bytes were lost since the last read.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 * A response shorter than 2 bytes delivers nothing: `*count` becomes 0 and data and both
 * trailer bytes keep their values.
 */
KMT_API void KMT_CALL UART_Read(uint32_t *handle, uint16_t *count, uint8_t *data,
                                uint8_t *trailer_byte1, uint8_t *trailer_byte2, int32_t *status);

/**
 * @brief Sends bytes out of the controller's UART (one exchange, 1 ms pause).
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param count Bytes to send; min(count, 64) are sent.
 * @param data min(count, 64) bytes, only read (may be null when count is 0).
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL UART_Write(uint32_t *handle, uint16_t count, const uint8_t *data,
                                 int32_t *status);

/* ---- 1-Wire master --------------------------------------------------------------- */
/*
 * Every byte is a "touch": the master drives its byte and reads back the line, the wired
 * AND of it and of every device sending. Bus timing and the ROM search's progress live in
 * the controller.
 */

/**
 * @brief Resets the 1-Wire bus and reports whether a device answered.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param[out] reply 1 = presence pulse (a device is there), 0 = no device; written only
 *   on success.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL WR1_Init(uint32_t *handle, uint8_t *reply, int32_t *status);

/**
 * @brief Reads one byte from the 1-Wire bus (touches 0xFF).
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param[out] value The byte read, written only on success.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL WR1_Read(uint32_t *handle, uint8_t *value, int32_t *status);

/**
 * @brief Writes one byte on the 1-Wire bus.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param value The byte (a ROM command such as 0xCC skip ROM, or a function command).
 * @param[out] reply The line as read back while writing, written only on success.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL WR1_Write(uint32_t *handle, uint8_t value, uint8_t *reply, int32_t *status);

/**
 * @brief Writes up to 64 bytes in one exchange and returns what the line read back.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param count Bytes; min(count, 64) are sent.
 * @param[in,out] data min(count, 64) bytes, sent and then replaced by the line's answer
 *   (only on success).
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL WR1_WriteSome(uint32_t *handle, uint16_t count, uint8_t *data,
                                    int32_t *status);

/**
 * @brief One pass of the ROM search (bus command 0xF0), continuing from the previous pass.
 *
 * Each pass finds one device (zero branch first at each new discrepancy) and leaves it
 * selected. The call after a result of 2 starts a new walk.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param[out] search_result Response byte 9: 0 = no device answered (ROM zeros),
 *   1 = a device found and more remain, 2 = the last device found.
 * @param[out] rom 8 bytes, response bytes 0..7: the family code first, byte 7 the CRC-8 of
 *   bytes 0..6 (x^8+x^5+x^4+1, least significant bit first).
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 * Outputs are written only when the status is 0; on failure they keep their values.
 */
KMT_API void KMT_CALL WR1_SearchRom(uint32_t *handle, uint8_t *search_result, uint8_t *rom,
                                    int32_t *status);

/**
 * @brief Reads up to 64 bytes from the 1-Wire bus in one exchange.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param count Bytes wanted; min(count, 64) are read.
 * @param[out] data min(count, 64) bytes, written only on success.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL WR1_ReadSome(uint32_t *handle, uint16_t count, uint8_t *data,
                                   int32_t *status);

/* ---- Generator, pulse counter and shift-register expansion ----------------------- */

/**
 * @brief Starts the signal generator.
 *
 * A 1 MHz time base divided by `value1` clocks a period of `value2` ticks:
 *
 *     frequency = 1000000 / (value1 * value2) Hz      (about 0.01 Hz .. 27.8 kHz)
 *     high time = value3 / 1000 of the period
 *
 * value3 0 and 1000 hold the output at one level (no edges). The first rising edge comes
 * when the request arrives; the generator runs until the next call. Example: 1000 Hz is
 * value1 = 10, value2 = 100, value3 = 500.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param value1 Time-base divider, 6..10000 (clamped).
 * @param value2 Period in divided ticks, 6..10000 (clamped), sent minus one.
 * @param value3 High time in per mille, 0..1000 (larger: 1000).
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL Gen_Generate(uint32_t *handle, uint16_t value1, uint16_t value2,
                                   uint16_t value3, int32_t *status);

/**
 * @brief Clears the shift-register expansion's outputs (74HC595 chain).
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL exp1_Init(uint32_t *handle, int32_t *status);

/**
 * @brief Shifts bytes into the 74HC595 output chain (one exchange, 1 ms pause).
 *
 * Each byte enters next to the controller and pushes the others toward the far end;
 * bytes pushed past the end are lost.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param count Bytes; min(count, 64) are shifted.
 * @param data min(count, 64) bytes, only read.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL hc595_Write(uint32_t *handle, uint8_t count, const uint8_t *data,
                                  int32_t *status);

/**
 * @brief Loads and reads the 74HC165 input chain, the far register first.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param[in,out] count Bytes wanted: limited to 64 in place (left limited even when the
 *   exchange fails), never changed afterwards.
 * @param[out] data 64 bytes; exactly `*count` bytes are written, on success only. Bytes
 *   the response did not carry (a response shorter than count) are written as 0.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL hc165_Read(uint32_t *handle, uint8_t *count, uint8_t *data, int32_t *status);

/**
 * @brief Counts the rising edges at the counter input during one gate window.
 *
 * The window opens when the request arrives; the controller answers when it closes, so
 * the call takes at least the window. Frequency = count / window. The selector picks one
 * of the controller's windows (microseconds):
 *
 * | selector | window (us) | selector | window (us) |
 * |---|---|---|---|
 * | 0 | 10026 | 9 | 2000000 |
 * | 1 | 19960 | 10 | 2999356 |
 * | 2 | 29985 | 11 | 106950 |
 * | 3 | 50037 | 12 | 133720 |
 * | 4 | 99982 | 13 | 558930 |
 * | 5 | 200055 | 14 | 745302 |
 * | 6 | 300037 | 15 | 931488 |
 * | 7 | 500000 | 16 | 1862976 |
 * | 8 | 1000000 | 17 | 2795022 |
 * | | | 18 and above | 0 |
 *
 * Selectors 0..10 send one word w (window w / 10872 s); 11..17 two words w0, w1 (window
 * w0 * w1 us); 18 and above send the two-word form with both words 0.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param selector 0..17 as in the table.
 * @param[out] pulse_count The count, 16 bits, saturating at 65535; written only on success.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL CountImp(uint32_t *handle, uint16_t selector, uint16_t *pulse_count,
                               int32_t *status);

/* ---- Block acquisition and waveform output --------------------------------------- */

/**
 * @brief Samples the enabled analog inputs in one block, timed by the controller.
 *
 * With K inputs enabled, sampling interval I = K * 108.7663 + 19.2327 + (sample_delay + 6)
 * microseconds; group i starts at t0 + i * I and its k-th input is converted at
 * + k * 108.7663 us, t0 being the request's arrival. The controller answers when the block
 * is done, after about sample_count * I + 4 us.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param channel_enable1 1 samples input 1, 0 leaves it out.
 * @param channel_enable2 1 samples input 2, 0 leaves it out.
 * @param channel_enable3 1 samples input 3, 0 leaves it out.
 * @param channel_enable4 1 samples input 4, 0 leaves it out. The enabled inputs' samples
 *   go to samples1.. in input order (two inputs: samples1 and samples2).
 * @param aux_byte1 Auxiliary byte, sent as it is (the controller firmware's).
 * @param aux_byte2 Auxiliary byte, sent as it is.
 * @param sample_delay Extra delay per interval in microseconds, 0..3000 (clamped), sent
 *   plus 6.
 * @param aux_word1 Auxiliary timing word, clamped to 10..3000.
 * @param aux_word2 Auxiliary timing word, clamped to 0..3000, sent plus 6.
 * @param sample_count Intervals, 0..2000 (larger: 2000); sample_count + 1 samples per input.
 * @param threshold Trigger threshold in volts, sent as a code of 1024 counts per 5 V,
 *   rounded and cut to 16 bits as the analog outputs' code (NaN 0, infinities saturated).
 *   The simulated controller does not use it.
 * @param[out] trailer_byte Trailer byte 1: the mask of the inputs sampled (bit 0 input 1 ..
 *   bit 3 input 4).
 * @param[out] trailer_value Trailer bytes 2..5: the controller's microsecond timer at t0
 *   (low 32 bits).
 * @param[out] samples1 min(sample_count, 2000) + 1 raw counts (0..1023, 5 V = 1023) of the
 *   first enabled input.
 * @param[out] samples2 As samples1, the second enabled input.
 * @param[out] samples3 As samples1, the third enabled input.
 * @param[out] samples4 As samples1, the fourth enabled input. Only the first
 *   channel_count arrays are written; the others may be null.
 * @param[out] channel_count The number of inputs enabled (the sum of the enable bytes).
 * @param[out] duration The block's duration in seconds, (I * sample_count + 4) / 10^6;
 *   0.0 when nothing was sampled.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 * status, channel_count and duration (0.0) are written first. No input enabled: status 0
 * and nothing sent. A response shorter than its 5-byte trailer gives status 2 with
 * duration 0.0 and trailer and samples untouched.
 */
KMT_API void KMT_CALL AI_Read(uint32_t *handle, uint8_t channel_enable1, uint8_t channel_enable2,
                              uint8_t channel_enable3, uint8_t channel_enable4, uint8_t aux_byte1,
                              uint8_t aux_byte2, uint16_t sample_delay, uint16_t aux_word1,
                              uint16_t aux_word2, uint16_t sample_count, double threshold,
                              uint8_t *trailer_byte, uint32_t *trailer_value, uint16_t *samples1,
                              uint16_t *samples2, uint16_t *samples3, uint16_t *samples4,
                              int32_t *channel_count, double *duration, int32_t *status);

/**
 * @brief Samples digital port 0 at a fixed interval (a logic scan), timed by the controller.
 *
 * Sample i is taken at t0 + i * (sample_delay + 19.996) us from the request's arrival.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param aux_byte1 Auxiliary byte, sent as it is.
 * @param aux_byte2 Auxiliary byte, sent as it is.
 * @param sample_delay Extra delay per sample in microseconds, 0..3000 (clamped), sent plus 6.
 * @param aux_word1 Auxiliary timing word, clamped to 10..3000.
 * @param aux_word2 Auxiliary timing word, clamped to 0..3000, sent plus 6.
 * @param sample_count Intervals, 0..4000 (larger: 4000); sample_count + 1 samples.
 * @param[out] trailer_byte The response's last byte: port 1 (lines 8..11) at the last
 *   sampling instant.
 * @param[out] port_samples min(sample_count, 4000) + 1 bytes: port 0 (bit i = line i) at
 *   each sampling instant.
 * @param[out] sample_period Seconds per sample, written before the exchange:
 *   ((delay + 19.996) * n + 7.236) / n * 10^-6 with n = sample_count (n = 1 for
 *   sample_count 0).
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 * An empty response gives status 2 with trailer_byte and port_samples untouched.
 */
KMT_API void KMT_CALL DIO_ScanPort(uint32_t *handle, uint8_t aux_byte1, uint8_t aux_byte2,
                                   uint16_t sample_delay, uint16_t aux_word1, uint16_t aux_word2,
                                   uint16_t sample_count, uint8_t *trailer_byte,
                                   uint8_t *port_samples, double *sample_period, int32_t *status);

/**
 * @brief Plays bytes on port 0's output latches, one after the other.
 *
 * The controller answers at once and plays from the request's arrival, one byte per step
 * (100 us on the simulated controller); afterwards the latches hold the last byte. Only
 * lines in output mode show it. Writing a port 0 latch or a new waveform stops a playback
 * where it is.
 * @param handle Pointer to the device handle that KMT_InitBySN stored.
 * @param wave_length Bytes, 1..2000 (larger: 2000). 0: nothing at all happens (not even
 *   status is written).
 * @param wave_mode Ignored: the controller knows one mode, and 7 is sent.
 * @param wave_data min(wave_length, 2000) bytes, only read: bit i drives line i.
 * @param[out] status 0 success; 1 no device open, or the driver failed the write;
 *   2 no, corrupt or refused response; 4 a null pointer the call needs (nothing sent).
 */
KMT_API void KMT_CALL DO_WaveOut(uint32_t *handle, uint16_t wave_length, uint16_t wave_mode,
                                 const uint8_t *wave_data, int32_t *status);

#ifdef __cplusplus
}
#endif

#endif /* KMTV1_H */
