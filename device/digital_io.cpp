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
void send_pair(Library &lib, uint32_t *handle, std::uint8_t command, std::uint8_t byte0,
               std::uint8_t byte1, int32_t *status) {
  std::uint8_t *p = lib.payload();
  p[0] = byte0;
  p[1] = byte1;
  lib.payload_length = 2;
  lib.exchange(handle, kGroupDigital, command, 0, status);
}

}  // namespace

void DIO_SetBitMode(Library &lib, uint32_t *handle, uint8_t bit, uint8_t mode, int32_t *status) {
  send_pair(lib, handle, 0, clamp_to(bit, kLastLine), clamp_to(mode, kLastMode), status);
}

void DIO_WriteBit(Library &lib, uint32_t *handle, uint8_t bit, uint8_t value, int32_t *status) {
  send_pair(lib, handle, 1, clamp_to(bit, kLastLine), value, status);
}

void DIO_ReadPort(Library &lib, uint32_t *handle, uint8_t port, uint8_t *value, int32_t *status) {
  std::uint8_t *p = lib.payload();
  p[0] = clamp_to(port, kLastPort);
  lib.payload_length = 1;
  lib.exchange(handle, kGroupDigital, 2, 0, status);
  if (*status != kStatusOk) return;
  *value = lib.response()[0];
}

void DIO_WritePort(Library &lib, uint32_t *handle, uint8_t port, uint8_t value, int32_t *status) {
  send_pair(lib, handle, 7, clamp_to(port, kLastPort), value, status);
}

void DIO_SetPortMode(Library &lib, uint32_t *handle, uint8_t port, uint8_t mode, int32_t *status) {
  send_pair(lib, handle, 8, clamp_to(port, kLastPort), clamp_to(mode, kLastMode), status);
}

void DIO_WriteMask(Library &lib, uint32_t *handle, const uint8_t *line_codes,
                   const uint8_t *line_values, int32_t *status) {
  std::array<std::uint8_t, kMaskArraySize> codes;
  std::array<std::uint8_t, kMaskArraySize> values;
  std::memcpy(codes.data(), line_codes, kMaskArraySize);
  std::memcpy(values.data(), line_values, kMaskArraySize);
  std::uint8_t *p = lib.payload();
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
  lib.payload_length = 2 * kLines;
  lib.exchange(handle, kGroupDigital, 20, 0, status);
}

}  // namespace kmt::device
