#include <cstring>

#include "device/functions.h"
#include "protocol/bytes.h"

namespace kmt::device {

namespace {

constexpr std::uint8_t kGroupIdentity = 1;
constexpr std::uint8_t kGroupSystem = 19;
constexpr std::size_t kUserSnSize = 16;
constexpr std::size_t kUserAreaHalf = 64;
// The user area halves need the controller's non-volatile memory; it is given 1 ms.
constexpr std::int32_t kUserAreaDelayMs = 1;

}  // namespace

void SYS_GetDriverType(uint16_t *driver_type) {
  *driver_type = 1;
}

void SYS_GetFirmWare(Exchange &ex, uint32_t *handle, uint16_t *firmware1, uint16_t *firmware2,
                     uint16_t *firmware3, uint16_t *firmware4, int32_t *status) {
  ex.payload_length = 0;
  ex.exchange(handle, kGroupIdentity, 0, 0, status);
  if (*status != kStatusOk) return;
  const std::uint8_t *p = ex.response();
  *firmware1 = MakeWord(p[0], p[1]);
  *firmware2 = MakeWord(p[2], p[3]);
  *firmware3 = MakeWord(p[4], p[5]);
  *firmware4 = MakeWord(p[6], p[7]);
}

void SYS_WriteUserSN(Exchange &ex, uint32_t *handle, const uint8_t *user_sn, int32_t *status) {
  std::memcpy(ex.payload(), user_sn, kUserSnSize);
  ex.payload_length = kUserSnSize;
  ex.exchange(handle, kGroupSystem, 0, 0, status);
}

void SYS_ReadUserSN(Exchange &ex, uint32_t *handle, uint8_t *user_sn, int32_t *status) {
  ex.payload_length = 0;
  ex.exchange(handle, kGroupSystem, 1, 0, status);
  if (*status != kStatusOk) return;
  std::memcpy(user_sn, ex.response(), kUserSnSize);
}

void SYS_WriteUserArea(Exchange &ex, uint32_t *handle, const uint8_t *user_area, int32_t *status) {
  std::memcpy(ex.payload(), user_area, kUserAreaHalf);
  ex.payload_length = kUserAreaHalf;
  ex.exchange(handle, kGroupSystem, 2, kUserAreaDelayMs, status);
  if (*status != kStatusOk) return;
  // The second half comes from the caller's block, never from a buffer.
  std::memcpy(ex.payload(), user_area + kUserAreaHalf, kUserAreaHalf);
  ex.payload_length = kUserAreaHalf;
  ex.exchange(handle, kGroupSystem, 3, kUserAreaDelayMs, status);
}

void SYS_ReadUserArea(Exchange &ex, uint32_t *handle, uint8_t *user_area, int32_t *status) {
  ex.payload_length = 0;
  ex.exchange(handle, kGroupSystem, 4, kUserAreaDelayMs, status);
  if (*status != kStatusOk) return;
  std::memcpy(user_area, ex.response(), kUserAreaHalf);
  ex.payload_length = 0;
  ex.exchange(handle, kGroupSystem, 5, kUserAreaDelayMs, status);
  if (*status != kStatusOk) return;
  std::memcpy(user_area + kUserAreaHalf, ex.response(), kUserAreaHalf);
}

void WatchDog(Exchange &ex, uint32_t *handle, uint8_t value, int32_t *status) {
  ex.payload()[0] = value;
  ex.payload_length = 1;
  ex.exchange(handle, kGroupSystem, 6, 0, status);
}

void SYS_ReadCount(Exchange &ex, uint32_t *handle, uint32_t *count, int32_t *status) {
  ex.payload_length = 0;
  ex.exchange(handle, kGroupSystem, 7, 0, status);
  if (*status != kStatusOk) return;
  const std::uint8_t *p = ex.response();
  *count = MakeLong(MakeWord(p[0], p[1]), MakeWord(p[2], p[3]));
}

}  // namespace kmt::device
