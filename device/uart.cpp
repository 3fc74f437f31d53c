// UART bridge: command group 17, commands 0 to 5. Data moves in blocks of at most 64
// bytes; a read response carries the data followed by two trailing bytes.
#include <algorithm>
#include <cstring>

#include "device/functions.h"
#include "protocol/bytes.h"

namespace kmt::device {
namespace {

constexpr std::uint8_t kGroup = 17;

enum : std::uint8_t {
  kInit = 0,
  kInterrupt = 1,
  kClose = 2,
  kSetTimeOut = 3,
  kRead = 4,
  kWrite = 5,
};

constexpr std::uint16_t kBlockLimit = 64;
// Data bytes plus the two trailing bytes.
constexpr std::uint16_t kLongestReadResponse = kBlockLimit + 2;

}  // namespace

void UART_Init(Exchange &ex, uint32_t *handle, uint16_t config_word, uint8_t config_byte1,
               uint8_t config_byte2, int32_t *status) {
  std::uint8_t *p = ex.payload();
  p[0] = low_byte(config_word);
  p[1] = high_byte(config_word);
  p[2] = config_byte1;
  p[3] = config_byte2;
  ex.payload_length = 4;
  ex.exchange(handle, kGroup, kInit, 0, status);
}

void UART_Interrupt(Exchange &ex, uint32_t *handle, uint8_t interrupt_setting, int32_t *status) {
  ex.payload()[0] = interrupt_setting;
  ex.payload_length = 1;
  ex.exchange(handle, kGroup, kInterrupt, 0, status);
}

void UART_Close(Exchange &ex, uint32_t *handle, int32_t *status) {
  ex.payload_length = 0;
  ex.exchange(handle, kGroup, kClose, 0, status);
}

void UART_SetTimeOut(Exchange &ex, uint32_t *handle, uint16_t time_out, int32_t *status) {
  ex.payload()[0] = low_byte(time_out);
  ex.payload()[1] = high_byte(time_out);
  ex.payload_length = 2;
  ex.exchange(handle, kGroup, kSetTimeOut, 0, status);
}

void UART_Read(Exchange &ex, uint32_t *handle, uint16_t *count, uint8_t *data,
               uint8_t *trailer_byte1, uint8_t *trailer_byte2, int32_t *status) {
  // Limited in the caller's own variable before sending; it stays limited on failure.
  if (*count > kBlockLimit) *count = kBlockLimit;
  std::uint8_t *p = ex.payload();
  p[0] = low_byte(*count);
  p[1] = high_byte(*count);
  ex.payload_length = 2;
  ex.exchange(handle, kGroup, kRead, 0, status);
  if (*status != kStatusOk) return;

  // The delivered count follows the response length, not the count asked for.
  const std::uint16_t length = std::min(ex.payload_length, kLongestReadResponse);
  if (length < 2) {
    // No room for the two trailing bytes: nothing delivered, trailers left as they were.
    *count = 0;
    return;
  }
  const std::uint16_t delivered = length - 2;
  const std::uint8_t *r = ex.response();
  if (delivered > 0) std::memcpy(data, r, delivered);
  *count = delivered;
  *trailer_byte1 = r[length - 2];
  *trailer_byte2 = r[length - 1];
}

void UART_Write(Exchange &ex, uint32_t *handle, uint16_t count, const uint8_t *data,
                int32_t *status) {
  const std::uint16_t n = std::min(count, kBlockLimit);
  std::uint8_t *p = ex.payload();
  p[0] = low_byte(n);
  p[1] = high_byte(n);
  if (n > 0) std::memcpy(p + 2, data, n);
  ex.payload_length = static_cast<std::uint16_t>(n + 2);
  // The controller needs a millisecond to move the block onto the line.
  ex.exchange(handle, kGroup, kWrite, 1, status);
}

}  // namespace kmt::device
