// UART bridge against a scripted controller: request frames, the 64-byte block limit,
// and the read response's data, count and trailing bytes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "device/functions.h"
#include "tests/support/library_fixture.h"

namespace kmt::testing {
namespace {

using ::testing::Each;
using ::testing::ElementsAreArray;

constexpr std::uint8_t kGroup = 17;

class Uart : public LibraryFixture {
 protected:
  // A 64-byte read buffer followed by guard bytes, all sentinels.
  std::array<std::uint8_t, 64 + kGuard> data{};
  std::uint8_t trailer1 = kSentinel, trailer2 = kSentinel;

  void SetUp() override {
    LibraryFixture::SetUp();
    data.fill(kSentinel);
  }
  std::int32_t read(std::uint16_t *count) {
    std::int32_t status = -1;
    device::UART_Read(*lib, &handle, count, data.data(), &trailer1, &trailer2, &status);
    return status;
  }
};

TEST_F(Uart, RequestFrames) {
  const Bytes source = counting(100);
  using Call = std::function<void(Library &, std::uint32_t *, std::int32_t *)>;
  struct Row {
    const char *name;
    Call call;
    std::uint8_t command;
    Bytes payload;
    std::uint32_t delay_ms;
  } rows[] = {
      {"UART_Init",
       [](auto &l, auto *h, auto *s) { device::UART_Init(l, h, 300, 7, 0xC1, s); },
       0,
       {0x2C, 0x01, 7, 0xC1},
       0},
      {"UART_Interrupt",
       [](auto &l, auto *h, auto *s) { device::UART_Interrupt(l, h, 0x81, s); },
       1,
       {0x81},
       0},
      {"UART_Close", [](auto &l, auto *h, auto *s) { device::UART_Close(l, h, s); }, 2, {}, 0},
      {"UART_SetTimeOut",
       [](auto &l, auto *h, auto *s) { device::UART_SetTimeOut(l, h, 1000, s); },
       3,
       {0xE8, 0x03},
       0},
      {"UART_Write 0 reads no data",
       [](auto &l, auto *h, auto *s) { device::UART_Write(l, h, 0, nullptr, s); },
       5,
       {0, 0},
       1},
      {"UART_Write 3",
       [&](auto &l, auto *h, auto *s) { device::UART_Write(l, h, 3, source.data(), s); },
       5,
       {3, 0, 1, 2, 3},
       1},
      {"UART_Write 64",
       [&](auto &l, auto *h, auto *s) { device::UART_Write(l, h, 64, source.data(), s); }, 5,
       concat({{64, 0}, counting(64)}), 1},
      {"UART_Write 65 sends 64",
       [&](auto &l, auto *h, auto *s) { device::UART_Write(l, h, 65, source.data(), s); }, 5,
       concat({{64, 0}, counting(64)}), 1},
      {"UART_Write 100 sends 64",
       [&](auto &l, auto *h, auto *s) { device::UART_Write(l, h, 100, source.data(), s); }, 5,
       concat({{64, 0}, counting(64)}), 1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    respond({9, 9, 9});
    std::int32_t status = -1;
    row.call(*lib, &handle, &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_THAT(requests()[0], ElementsAreArray(request_frame(kGroup, row.command, row.payload)));
    if (row.delay_ms > 0) {
      EXPECT_THAT(platform.sleeps, ElementsAreArray({row.delay_ms}));
    } else {
      EXPECT_TRUE(platform.sleeps.empty());
    }
  }
}

TEST_F(Uart, ReadLimitsTheCountInPlaceBeforeSending) {
  struct Row {
    std::uint16_t count;
    std::uint8_t sent;
  } rows[] = {{0, 0}, {3, 3}, {63, 63}, {64, 64}, {65, 64}, {200, 64}, {65535, 64}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.count);
    forget();
    // Refused, so the count seen afterwards is the one limited before sending.
    respond({1, 2, 3}, 1);
    std::uint16_t count = row.count;
    EXPECT_EQ(read(&count), 2);
    EXPECT_EQ(count, row.sent);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_THAT(requests()[0], ElementsAreArray(request_frame(kGroup, 4, {row.sent, 0})));
    EXPECT_THAT(data, Each(kSentinel));
    EXPECT_EQ(trailer1, kSentinel);
    EXPECT_EQ(trailer2, kSentinel);
  }
}

TEST_F(Uart, ReadDeliversWhatTheResponseLengthSays) {
  struct Row {
    const char *name;
    std::uint16_t asked;
    std::size_t response_length;
    std::uint16_t count;  // delivered; data[0..count-1] = response bytes 1, 2, ...
    bool trailers_written;
  } rows[] = {
      {"two bytes: trailers only", 10, 2, 0, true},
      {"three bytes: one data byte", 10, 3, 1, true},
      {"ten bytes whatever was asked", 2, 10, 8, true},
      {"ten bytes, asked for more than 64", 500, 10, 8, true},
      {"66 bytes", 64, 66, 64, true},
      {"70 bytes taken as 66", 64, 70, 64, true},
      {"1000 bytes taken as 66", 64, 1000, 64, true},
      // Too short for the trailing bytes: nothing delivered, trailers kept.
      {"one byte", 10, 1, 0, false},
      {"empty", 10, 0, 0, false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    data.fill(kSentinel);
    trailer1 = trailer2 = kSentinel;
    respond(counting(row.response_length));
    std::uint16_t count = row.asked;
    EXPECT_EQ(read(&count), 0);
    EXPECT_EQ(count, row.count);
    for (std::size_t i = 0; i < data.size(); ++i) {
      EXPECT_EQ(data[i], i < row.count ? i + 1 : kSentinel) << "data[" << i << "]";
    }
    if (row.trailers_written) {
      EXPECT_EQ(trailer1, row.count + 1);
      EXPECT_EQ(trailer2, row.count + 2);
    } else {
      EXPECT_EQ(trailer1, kSentinel);
      EXPECT_EQ(trailer2, kSentinel);
    }
  }
}

TEST_F(Uart, FailedReadLeavesEverythingButTheLimitedCount) {
  close_device();
  std::uint16_t count = 200;
  EXPECT_EQ(read(&count), 1);
  EXPECT_EQ(count, 64);
  EXPECT_THAT(data, Each(kSentinel));
  EXPECT_EQ(trailer1, kSentinel);
  EXPECT_EQ(trailer2, kSentinel);
  EXPECT_TRUE(requests().empty());
}

}  // namespace
}  // namespace kmt::testing
