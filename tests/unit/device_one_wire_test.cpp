// 1-Wire master against a scripted controller: request frames, block clamps, the ROM
// search's byte positions, and outputs left alone when an exchange fails.
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

constexpr std::uint8_t kGroup = 19;

class OneWire : public LibraryFixture {
 protected:
  // A 64-byte block, then guard bytes.
  std::array<std::uint8_t, 64 + kGuard> block{};
  void SetUp() override {
    LibraryFixture::SetUp();
    block.fill(kSentinel);
  }
};

using Call = std::function<void(Library &, std::uint32_t *, std::int32_t *)>;

TEST_F(OneWire, RequestFrames) {
  std::uint8_t out = 0;
  std::array<std::uint8_t, 8> rom{};
  struct Row {
    const char *name;
    Call call;
    std::uint8_t command;
    Bytes payload;
  } rows[] = {
      {"WR1_Init", [&](auto &l, auto *h, auto *s) { device::WR1_Init(l, h, &out, s); }, 8, {}},
      {"WR1_Read", [&](auto &l, auto *h, auto *s) { device::WR1_Read(l, h, &out, s); }, 9, {}},
      {"WR1_Write",
       [&](auto &l, auto *h, auto *s) { device::WR1_Write(l, h, 0xA5, &out, s); },
       10,
       {0xA5}},
      {"WR1_SearchRom",
       [&](auto &l, auto *h, auto *s) { device::WR1_SearchRom(l, h, &out, rom.data(), s); },
       12,
       {0xF0}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    respond({});
    std::int32_t status = -1;
    row.call(*lib, &handle, &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_THAT(requests()[0], ElementsAreArray(request_frame(kGroup, row.command, row.payload)));
    EXPECT_TRUE(platform.sleeps.empty());
  }
}

// The block functions: the payload sent, and exactly the first n bytes of the caller's
// block replaced by the response.
TEST_F(OneWire, BlockTransfersClampToSixtyFourBytes) {
  using Block =
      void (*)(Exchange &, std::uint32_t *, std::uint16_t, std::uint8_t *, std::int32_t *);
  struct Row {
    const char *name;
    Block function;
    std::uint8_t command;
    std::uint16_t count;
    std::size_t n;     // the clamped count
    bool count_bytes;  // the request is the count itself (ReadSome), not the data
  } rows[] = {
      {"WriteSome 0", device::WR1_WriteSome, 11, 0, 0, false},
      {"WriteSome 3", device::WR1_WriteSome, 11, 3, 3, false},
      {"WriteSome 64", device::WR1_WriteSome, 11, 64, 64, false},
      {"WriteSome 65", device::WR1_WriteSome, 11, 65, 64, false},
      {"WriteSome 100", device::WR1_WriteSome, 11, 100, 64, false},
      {"ReadSome 0", device::WR1_ReadSome, 13, 0, 0, true},
      {"ReadSome 3", device::WR1_ReadSome, 13, 3, 3, true},
      {"ReadSome 64", device::WR1_ReadSome, 13, 64, 64, true},
      {"ReadSome 1000", device::WR1_ReadSome, 13, 1000, 64, true},
  };
  const Bytes response = counting(80, 101);
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    // The caller's block holds 1, 2, 3, ... (what WriteSome sends), then guards.
    for (std::size_t i = 0; i < block.size(); ++i) {
      block[i] = i < 64 ? static_cast<std::uint8_t>(i + 1) : kSentinel;
    }
    respond(response);
    std::int32_t status = -1;
    row.function(*lib, &handle, row.count, block.data(), &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(requests().size(), 1u);
    const Bytes payload =
        row.count_bytes ? Bytes{static_cast<std::uint8_t>(row.n), 0} : counting(row.n);
    EXPECT_THAT(requests()[0], ElementsAreArray(request_frame(kGroup, row.command, payload)));
    for (std::size_t i = 0; i < block.size(); ++i) {
      const std::uint8_t before = i < 64 ? static_cast<std::uint8_t>(i + 1) : kSentinel;
      EXPECT_EQ(block[i], i < row.n ? response[i] : before) << "block[" << i << "]";
    }
  }
}

TEST_F(OneWire, SingleBytesComeFromResponseByteZero) {
  struct Row {
    const char *name;
    std::function<void(Library &, std::uint32_t *, std::uint8_t *, std::int32_t *)> call;
  } rows[] = {
      {"WR1_Init", [](auto &l, auto *h, auto *o, auto *s) { device::WR1_Init(l, h, o, s); }},
      {"WR1_Read", [](auto &l, auto *h, auto *o, auto *s) { device::WR1_Read(l, h, o, s); }},
      // The reply is passed through whatever its relation to the byte written.
      {"WR1_Write",
       [](auto &l, auto *h, auto *o, auto *s) { device::WR1_Write(l, h, 0xA5, o, s); }},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    respond({0x5A, 0x77});
    std::uint8_t out = kSentinel;
    std::int32_t status = -1;
    row.call(*lib, &handle, &out, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, 0x5A);

    respond({0x5A}, 4);
    out = kSentinel;
    row.call(*lib, &handle, &out, &status);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(out, kSentinel);
  }
}

TEST_F(OneWire, SearchTakesBytesZeroToSevenAndNine) {
  struct Row {
    const char *name;
    std::uint8_t byte8, byte9;
  } rows[] = {{"byte 8 zero", 0x00, 0x01},
              {"byte 8 alone changed", 0xFF, 0x01},
              {"other result", 0x00, 0x00}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Bytes response = counting(8, 0x28);
    response.push_back(row.byte8);
    response.push_back(row.byte9);
    respond(response);
    std::array<std::uint8_t, 8 + kGuard> rom;
    rom.fill(kSentinel);
    std::uint8_t result = kSentinel;
    std::int32_t status = -1;
    device::WR1_SearchRom(*lib, &handle, &result, rom.data(), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(result, row.byte9);
    for (std::size_t i = 0; i < rom.size(); ++i) {
      EXPECT_EQ(rom[i], i < 8 ? response[i] : kSentinel) << "rom[" << i << "]";
    }
  }
}

TEST_F(OneWire, FailedExchangesLeaveOutputsUntouched) {
  struct Row {
    const char *name;
    bool open;
  } rows[] = {{"refused", true}, {"not open", false}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    if (!row.open) close_device();
    const std::int32_t expected = row.open ? 2 : 1;
    std::uint8_t result = kSentinel;
    std::array<std::uint8_t, 8> rom;
    rom.fill(kSentinel);
    std::int32_t status = -1;
    if (row.open) respond(counting(10), 1);
    device::WR1_SearchRom(*lib, &handle, &result, rom.data(), &status);
    EXPECT_EQ(status, expected);
    EXPECT_EQ(result, kSentinel);
    EXPECT_THAT(rom, Each(kSentinel));

    block.fill(kSentinel);
    if (row.open) respond(counting(64), 1);
    device::WR1_ReadSome(*lib, &handle, 64, block.data(), &status);
    EXPECT_EQ(status, expected);
    EXPECT_THAT(block, Each(kSentinel));

    // WriteSome's block keeps the bytes it sent.
    if (row.open) respond(counting(64), 1);
    device::WR1_WriteSome(*lib, &handle, 64, block.data(), &status);
    EXPECT_EQ(status, expected);
    EXPECT_THAT(block, Each(kSentinel));
  }
}

}  // namespace
}  // namespace kmt::testing
