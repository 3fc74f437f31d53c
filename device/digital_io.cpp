#include <algorithm>
#include <array>
#include <cstring>

#include "device/functions.h"

namespace kmt::device {

namespace {

constexpr std::uint8_t kGroupDigital = 16;
constexpr std::uint8_t kLastLine = 11;
constexpr std::uint8_t kLastPort = 1;
constexpr std::uint8_t kLastMode = 2;
constexpr std::size_t kLines = 12;
constexpr std::size_t kMaskArraySize = 16;

// Out-of-range numbers are replaced by the top of their range, never rejected.
std::uint8_t clamp_to(std::uint8_t value, std::uint8_t top) {
  return std::min(value, top);
}

// Two-byte request, no decoding: the shape of four of the six functions.
void send_pair(Exchange &ex, uint32_t *handle, std::uint8_t command, std::uint8_t byte0,
               std::uint8_t byte1, int32_t *status) {
  std::uint8_t *p = ex.payload();
  p[0] = byte0;
  p[1] = byte1;
  ex.payload_length = 2;
  ex.exchange(handle, kGroupDigital, command, 0, status);
}

}  // namespace

void DIO_SetBitMode(Exchange &ex, uint32_t *handle, uint8_t bit, uint8_t mode, int32_t *status) {
  send_pair(ex, handle, 0, clamp_to(bit, kLastLine), clamp_to(mode, kLastMode), status);
}

void DIO_WriteBit(Exchange &ex, uint32_t *handle, uint8_t bit, uint8_t value, int32_t *status) {
  send_pair(ex, handle, 1, clamp_to(bit, kLastLine), value, status);
}

void DIO_ReadPort(Exchange &ex, uint32_t *handle, uint8_t port, uint8_t *value, int32_t *status) {
  std::uint8_t *p = ex.payload();
  p[0] = clamp_to(port, kLastPort);
  ex.payload_length = 1;
  ex.exchange(handle, kGroupDigital, 2, 0, status);
  if (*status != kStatusOk) return;
  *value = ex.response()[0];
}

void DIO_WritePort(Exchange &ex, uint32_t *handle, uint8_t port, uint8_t value, int32_t *status) {
  send_pair(ex, handle, 7, clamp_to(port, kLastPort), value, status);
}

void DIO_SetPortMode(Exchange &ex, uint32_t *handle, uint8_t port, uint8_t mode, int32_t *status) {
  send_pair(ex, handle, 8, clamp_to(port, kLastPort), clamp_to(mode, kLastMode), status);
}

void DIO_WriteMask(Exchange &ex, uint32_t *handle, const uint8_t *line_codes,
                   const uint8_t *line_values, int32_t *status) {
  std::array<std::uint8_t, kMaskArraySize> codes;
  std::array<std::uint8_t, kMaskArraySize> values;
  std::memcpy(codes.data(), line_codes, kMaskArraySize);
  std::memcpy(values.data(), line_values, kMaskArraySize);
  std::uint8_t *p = ex.payload();
  for (std::size_t line = 0; line < kLines; ++line) {
    switch (codes[line]) {
      case 1:
        p[line] = 0xFF;
        p[kLines + line] = 0;
        break;
      case 2:
        p[line] = values[line];
        p[kLines + line] = 1;
        break;
      default:
        // Code 0, and any unknown code: an unknown code must not send stale buffer
        // bytes to the hardware, so it means the same as 0.
        p[line] = 0x00;
        p[kLines + line] = 0;
        break;
    }
  }
  ex.payload_length = 2 * kLines;
  ex.exchange(handle, kGroupDigital, 20, 0, status);
}

}  // namespace kmt::device
