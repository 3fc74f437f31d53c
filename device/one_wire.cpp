// 1-Wire master: command group 19, commands 8 to 13. Bus timing and the ROM search's
// progress live in the controller; each call carries one operation's bytes.
#include <algorithm>
#include <cstring>

#include "device/functions.h"
#include "protocol/bytes.h"

namespace kmt::device {
namespace {

constexpr std::uint8_t kGroup = 19;

enum : std::uint8_t {
  kInit = 8,
  kRead = 9,
  kWrite = 10,
  kWriteSome = 11,
  kSearchRom = 12,
  kReadSome = 13,
};

constexpr std::uint16_t kBlockLimit = 64;
// The bus's Search ROM command code, the only search the controller is asked for.
constexpr std::uint8_t kSearchRomCode = 0xF0;
constexpr std::size_t kRomSize = 8;
// The search result follows the ROM code after one byte nothing takes.
constexpr std::size_t kSearchResultAt = 9;

void exchange_for_byte(Exchange &ex, uint32_t *handle, std::uint8_t command, std::uint8_t *out,
                       int32_t *status) {
  ex.exchange(handle, kGroup, command, 0, status);
  if (*status != kStatusOk) return;
  *out = ex.response()[0];
}

}  // namespace

void WR1_Init(Exchange &ex, uint32_t *handle, uint8_t *reply, int32_t *status) {
  ex.payload_length = 0;
  exchange_for_byte(ex, handle, kInit, reply, status);
}

void WR1_Read(Exchange &ex, uint32_t *handle, uint8_t *value, int32_t *status) {
  ex.payload_length = 0;
  exchange_for_byte(ex, handle, kRead, value, status);
}

void WR1_Write(Exchange &ex, uint32_t *handle, uint8_t value, uint8_t *reply, int32_t *status) {
  ex.payload()[0] = value;
  ex.payload_length = 1;
  exchange_for_byte(ex, handle, kWrite, reply, status);
}

void WR1_WriteSome(Exchange &ex, uint32_t *handle, uint16_t count, uint8_t *data, int32_t *status) {
  // The payload length is the count: the request carries no count of its own.
  const std::uint16_t n = std::min(count, kBlockLimit);
  if (n > 0) std::memcpy(ex.payload(), data, n);
  ex.payload_length = n;
  ex.exchange(handle, kGroup, kWriteSome, 0, status);
  if (*status != kStatusOk) return;
  if (n > 0) std::memcpy(data, ex.response(), n);
}

void WR1_SearchRom(Exchange &ex, uint32_t *handle, uint8_t *search_result, uint8_t *rom,
                   int32_t *status) {
  ex.payload()[0] = kSearchRomCode;
  ex.payload_length = 1;
  ex.exchange(handle, kGroup, kSearchRom, 0, status);
  if (*status != kStatusOk) return;
  *search_result = ex.response()[kSearchResultAt];
  std::memcpy(rom, ex.response(), kRomSize);
}

void WR1_ReadSome(Exchange &ex, uint32_t *handle, uint16_t count, uint8_t *data, int32_t *status) {
  const std::uint16_t n = std::min(count, kBlockLimit);
  ex.payload()[0] = low_byte(n);
  ex.payload()[1] = high_byte(n);
  ex.payload_length = 2;
  ex.exchange(handle, kGroup, kReadSome, 0, status);
  if (*status != kStatusOk) return;
  if (n > 0) std::memcpy(data, ex.response(), n);
}

}  // namespace kmt::device
