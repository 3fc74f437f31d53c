// I2C and SPI masters against a scripted controller: request frames byte for byte,
// both clock-code tables, and the one response byte of the transfers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "device/functions.h"
#include "tests/support/library_fixture.h"

namespace kmt::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr std::uint8_t kGroup = 16;

class I2cSpi : public LibraryFixture {};

using Call = std::function<void(Library &, std::uint32_t *, std::int32_t *)>;
using Transfer = void (*)(Exchange &, std::uint32_t *, std::uint8_t, std::uint8_t *,
                          std::int32_t *);

TEST_F(I2cSpi, RequestFrames) {
  const std::uint8_t setting = 0x83;
  std::uint8_t rx = 0;
  struct Row {
    const char *name;
    Call call;
    std::uint8_t command;
    Bytes payload;
  } rows[] = {
      {"I2C_Init", [](auto &l, auto *h, auto *s) { device::I2C_Init(l, h, s); }, 9, {}},
      {"I2C_Start", [](auto &l, auto *h, auto *s) { device::I2C_Start(l, h, s); }, 10, {}},
      {"I2C_Stop", [](auto &l, auto *h, auto *s) { device::I2C_Stop(l, h, s); }, 11, {}},
      {"I2C_Write",
       [&](auto &l, auto *h, auto *s) { device::I2C_Write(l, h, 0xA0, &rx, s); },
       12,
       {0xA0}},
      {"I2C_Read",
       [&](auto &l, auto *h, auto *s) { device::I2C_Read(l, h, 0x01, &rx, s); },
       13,
       {0x01}},
      {"SPI_Init",
       [&](auto &l, auto *h, auto *s) { device::SPI_Init(l, h, &setting, s); },
       15,
       {0x83}},
      {"SPI_Byte",
       [&](auto &l, auto *h, auto *s) { device::SPI_Byte(l, h, 0xFF, &rx, s); },
       16,
       {0xFF}},
      {"SPI_Bit",
       [&](auto &l, auto *h, auto *s) { device::SPI_Bit(l, h, 0x00, &rx, s); },
       18,
       {0x00}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    respond({0x42});
    std::int32_t status = -1;
    row.call(*lib, &handle, &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_THAT(requests()[0], ElementsAreArray(request_frame(kGroup, row.command, row.payload)));
    EXPECT_TRUE(platform.sleeps.empty()) << "no response delay";
  }
  EXPECT_EQ(setting, 0x83) << "SPI_Init only reads through its pointer";
}

TEST_F(I2cSpi, I2cClockCodes) {
  struct Row {
    std::uint8_t selector, code;
  } rows[] = {{0, 0},   {1, 3}, {2, 9}, {3, 34},  {4, 76},
              {5, 159}, {6, 0}, {7, 0}, {128, 0}, {255, 0}};
  for (const Row &row : rows) {
    SCOPED_TRACE(static_cast<int>(row.selector));
    forget();
    respond({});
    std::int32_t status = -1;
    device::I2C_SetTimeClock(*lib, &handle, row.selector, &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_THAT(requests()[0], ElementsAreArray(request_frame(kGroup, 14, {row.code})));
  }
}

TEST_F(I2cSpi, SpiClockCodes) {
  struct Row {
    std::uint8_t selector, code;
  } rows[] = {{0, 0},  {1, 1},   {2, 2}, {3, 5}, {4, 9},   {5, 21},
              {6, 46}, {7, 246}, {8, 0}, {9, 0}, {200, 0}, {255, 0}};
  for (const Row &row : rows) {
    SCOPED_TRACE(static_cast<int>(row.selector));
    forget();
    respond({});
    std::int32_t status = -1;
    device::SPI_SetTimeClock(*lib, &handle, row.selector, &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_THAT(requests()[0], ElementsAreArray(request_frame(kGroup, 17, {row.code})));
  }
}

const struct {
  const char *name;
  Transfer transfer;
} kTransfers[] = {{"I2C_Write", device::I2C_Write},
                  {"I2C_Read", device::I2C_Read},
                  {"SPI_Byte", device::SPI_Byte},
                  {"SPI_Bit", device::SPI_Bit}};

TEST_F(I2cSpi, TransfersHandBackResponseByteZero) {
  struct Row {
    const char *name;
    Bytes response;
    std::uint8_t rx;
  } rows[] = {
      {"one byte", {0x3C}, 0x3C},
      {"longer response: first byte only", {0x7E, 0x99, 0x11}, 0x7E},
      // Position 0 then holds the empty response's checksum, which is 0.
      {"empty response", {}, 0x00},
  };
  for (const auto &transfer : kTransfers) {
    for (const Row &row : rows) {
      SCOPED_TRACE(std::string(transfer.name) + ": " + row.name);
      forget();
      respond(row.response);
      std::uint8_t rx = 0xEE;
      std::int32_t status = -1;
      transfer.transfer(*lib, &handle, 0x55, &rx, &status);
      EXPECT_EQ(status, 0);
      EXPECT_EQ(rx, row.rx);
    }
  }
}

TEST_F(I2cSpi, FailedTransfersLeaveTheByteUntouched) {
  for (const auto &transfer : kTransfers) {
    SCOPED_TRACE(transfer.name);
    // Refused by the controller, although its payload has a byte.
    forget();
    respond({0x3C}, 3);
    std::uint8_t rx = 0xEE;
    std::int32_t status = -1;
    transfer.transfer(*lib, &handle, 0x55, &rx, &status);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(rx, 0xEE);
  }
  close_device();
  for (const auto &transfer : kTransfers) {
    SCOPED_TRACE(transfer.name);
    std::uint8_t rx = 0xEE;
    std::int32_t status = -1;
    transfer.transfer(*lib, &handle, 0x55, &rx, &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(rx, 0xEE);
  }
  EXPECT_TRUE(requests().empty());
}

}  // namespace
}  // namespace kmt::testing
