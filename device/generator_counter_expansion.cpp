// Signal generator, pulse counter and 74HC595/74HC165 expansion port: command group
// 18, commands 0 to 5. The library clamps arguments to the controller's limits and
// translates the counter selector into the controller's own constants.
#include <algorithm>
#include <array>
#include <cstring>

#include "device/functions.h"
#include "protocol/bytes.h"

namespace kmt::device {
namespace {

constexpr std::uint8_t kGroup = 18;

enum : std::uint8_t {
  kGenerate = 0,
  kExpansionInit = 1,
  kShiftOut = 2,
  kShiftIn = 3,
  kCountOneWord = 4,
  kCountTwoWords = 5,
};

constexpr std::uint16_t kGeneratorMin = 6;
constexpr std::uint16_t kGeneratorMax = 10000;
constexpr std::uint16_t kGeneratorThirdMax = 1000;
constexpr std::uint8_t kShiftLimit = 64;

// One counter request: the command and the words it carries (word1 only with the
// two-word command).
struct CounterRequest {
  std::uint8_t command;
  std::uint16_t word0;
  std::uint16_t word1;
};

// The controller's counter constants, one row per selector; every selector past the
// table sends the two-word command with both words 0.
constexpr std::array<CounterRequest, 18> kCounterTable{{
    {kCountOneWord, 109, 0},
    {kCountOneWord, 217, 0},
    {kCountOneWord, 326, 0},
    {kCountOneWord, 544, 0},
    {kCountOneWord, 1087, 0},
    {kCountOneWord, 2175, 0},
    {kCountOneWord, 3262, 0},
    {kCountOneWord, 5436, 0},
    {kCountOneWord, 10872, 0},
    {kCountOneWord, 21744, 0},
    {kCountOneWord, 32609, 0},
    {kCountTwoWords, 21390, 5},
    {kCountTwoWords, 26744, 5},
    {kCountTwoWords, 3005, 186},
    {kCountTwoWords, 4007, 186},
    {kCountTwoWords, 5008, 186},
    {kCountTwoWords, 10016, 186},
    {kCountTwoWords, 15027, 186},
}};
constexpr CounterRequest kCounterBeyondTable{kCountTwoWords, 0, 0};

void put_word(std::uint8_t *at, std::uint16_t word) {
  at[0] = low_byte(word);
  at[1] = high_byte(word);
}

}  // namespace

void Gen_Generate(Exchange &ex, uint32_t *handle, uint16_t value1, uint16_t value2, uint16_t value3,
                  int32_t *status) {
  const auto first = std::clamp(value1, kGeneratorMin, kGeneratorMax);
  // The controller takes the second value minus one, so 5..9999 goes on the wire.
  const auto second =
      static_cast<std::uint16_t>(std::clamp(value2, kGeneratorMin, kGeneratorMax) - 1);
  const auto third = std::min(value3, kGeneratorThirdMax);
  std::uint8_t *p = ex.payload();
  put_word(p, first);
  put_word(p + 2, second);
  put_word(p + 4, third);
  ex.payload_length = 6;
  ex.exchange(handle, kGroup, kGenerate, 0, status);
}

void exp1_Init(Exchange &ex, uint32_t *handle, int32_t *status) {
  ex.payload_length = 0;
  ex.exchange(handle, kGroup, kExpansionInit, 0, status);
}

void hc595_Write(Exchange &ex, uint32_t *handle, uint8_t count, const uint8_t *data,
                 int32_t *status) {
  const std::uint8_t n = std::min(count, kShiftLimit);
  std::uint8_t *p = ex.payload();
  p[0] = n;
  if (n > 0) std::memcpy(p + 1, data, n);
  ex.payload_length = static_cast<std::uint16_t>(n + 1);
  // The controller needs a millisecond to clock the bytes through the chain.
  ex.exchange(handle, kGroup, kShiftOut, 1, status);
}

void hc165_Read(Exchange &ex, uint32_t *handle, uint8_t *count, uint8_t *data, int32_t *status) {
  // Limited in the caller's own variable before sending; it stays limited on failure.
  if (*count > kShiftLimit) *count = kShiftLimit;
  ex.payload()[0] = *count;
  ex.payload_length = 1;
  ex.exchange(handle, kGroup, kShiftIn, 0, status);
  if (*status != kStatusOk) return;
  // Exactly *count bytes are written. Those the response did not carry become 0
  // rather than whatever an earlier exchange left in the payload buffer.
  const std::size_t carried = std::min<std::size_t>(ex.payload_length, *count);
  if (carried > 0) std::memcpy(data, ex.response(), carried);
  if (carried < *count) std::memset(data + carried, 0, *count - carried);
}

void CountImp(Exchange &ex, uint32_t *handle, uint16_t selector, uint16_t *pulse_count,
              int32_t *status) {
  const CounterRequest &request =
      selector < kCounterTable.size() ? kCounterTable[selector] : kCounterBeyondTable;
  std::uint8_t *p = ex.payload();
  put_word(p, request.word0);
  if (request.command == kCountTwoWords) {
    put_word(p + 2, request.word1);
    ex.payload_length = 4;
  } else {
    ex.payload_length = 2;
  }
  ex.exchange(handle, kGroup, request.command, 0, status);
  if (*status != kStatusOk) return;
  *pulse_count = MakeWord(ex.response()[0], ex.response()[1]);
}

}  // namespace kmt::device
