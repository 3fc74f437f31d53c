// Digital I/O functions against a scripted controller: clamps, the masked-write table,
// the port read and what a failing exchange leaves alone.
#include <array>
#include <functional>

#include "device/functions.h"
#include "tests/support/library_fixture.h"

namespace kmt::testing {
namespace {

using Call = std::function<void(Library &, std::uint32_t *, std::int32_t *)>;
using Mask = std::array<std::uint8_t, 16>;

class DeviceDigitalIo : public LibraryFixture {};

TEST_F(DeviceDigitalIo, RequestFrames) {
  struct Row {
    const char *name;
    Call call;
    Bytes frame;
  };
  std::uint8_t value = 0;
  const std::vector<Row> rows = {
      {"bit mode at the top",
       [](auto &l, auto h, auto s) { device::DIO_SetBitMode(l, h, 11, 2, s); },
       request_frame(16, 0, {0x0B, 0x02})},
      {"bit mode one past", [](auto &l, auto h, auto s) { device::DIO_SetBitMode(l, h, 12, 3, s); },
       request_frame(16, 0, {0x0B, 0x02})},
      {"bit mode far past",
       [](auto &l, auto h, auto s) { device::DIO_SetBitMode(l, h, 255, 255, s); },
       request_frame(16, 0, {0x0B, 0x02})},
      {"bit mode low", [](auto &l, auto h, auto s) { device::DIO_SetBitMode(l, h, 0, 1, s); },
       request_frame(16, 0, {0x00, 0x01})},
      {"write bit, value not clamped",
       [](auto &l, auto h, auto s) { device::DIO_WriteBit(l, h, 200, 0xA5, s); },
       request_frame(16, 1, {0x0B, 0xA5})},
      {"write bit 3", [](auto &l, auto h, auto s) { device::DIO_WriteBit(l, h, 3, 1, s); },
       request_frame(16, 1, {0x03, 0x01})},
      {"read port 0", [&](auto &l, auto h, auto s) { device::DIO_ReadPort(l, h, 0, &value, s); },
       request_frame(16, 2, {0x00})},
      {"read port 5", [&](auto &l, auto h, auto s) { device::DIO_ReadPort(l, h, 5, &value, s); },
       request_frame(16, 2, {0x01})},
      {"write port 0", [](auto &l, auto h, auto s) { device::DIO_WritePort(l, h, 0, 0x00, s); },
       request_frame(16, 7, {0x00, 0x00})},
      {"write port 255", [](auto &l, auto h, auto s) { device::DIO_WritePort(l, h, 255, 0xFF, s); },
       request_frame(16, 7, {0x01, 0xFF})},
      {"port mode 1/0", [](auto &l, auto h, auto s) { device::DIO_SetPortMode(l, h, 1, 0, s); },
       request_frame(16, 8, {0x01, 0x00})},
      {"port mode 2/7", [](auto &l, auto h, auto s) { device::DIO_SetPortMode(l, h, 2, 7, s); },
       request_frame(16, 8, {0x01, 0x02})},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    respond({0x3C});
    std::int32_t status = -1;
    row.call(*lib, &handle, &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_EQ(requests()[0], row.frame);
    EXPECT_TRUE(platform.sleeps.empty());
  }
}

TEST_F(DeviceDigitalIo, MaskedWrite) {
  struct Row {
    const char *name;
    Mask codes;
    Mask values;
    Bytes payload;
  };
  const std::vector<Row> rows = {
      {"codes 0, 1, 2",
       {0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 2},
       {0, 0, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0x77},
       {0x00, 0xFF, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0x77, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
      {"values ignored under codes 0 and 1, entries 12..15 ignored",
       {1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 2, 2, 2, 2},
       {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9},
       {0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"every line by value",
       {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 7, 7, 7, 7},
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xFF, 1, 1, 1, 1},
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xFF, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
      {"unknown codes mean code 0, whatever the buffer held",
       {3, 4, 0x80, 255, 1, 2, 3, 3, 3, 3, 3, 3},
       {0x55, 0x55, 0x55, 0x55, 0x55, 0x42, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55},
       {0, 0, 0, 0, 0xFF, 0x42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    // Stale bytes in the buffer must never reach the request.
    std::fill_n(lib->payload(), 64, 0xAA);
    respond({});
    const Mask codes = row.codes, values = row.values;
    std::int32_t status = -1;
    device::DIO_WriteMask(*lib, &handle, row.codes.data(), row.values.data(), &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_EQ(requests()[0], request_frame(16, 20, row.payload));
    EXPECT_EQ(row.codes, codes);  // inputs never written
    EXPECT_EQ(row.values, values);
  }
}

TEST_F(DeviceDigitalIo, ReadPortDecoding) {
  struct Row {
    const char *name;
    Bytes response;
    std::uint8_t expected;
  };
  const std::vector<Row> rows = {
      {"byte 0", {0x3C}, 0x3C},
      {"later bytes ignored", {0x81, 0x22, 0x33}, 0x81},
      // An empty payload leaves the response checksum (0) in byte 0.
      {"empty response: the checksum byte", {}, 0x00},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    respond(row.response);
    std::array<std::uint8_t, 3> value{0xEE, 0xEE, 0xEE};
    std::int32_t status = -1;
    device::DIO_ReadPort(*lib, &handle, 1, &value[1], &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(value, (std::array<std::uint8_t, 3>{0xEE, row.expected, 0xEE}));
  }
}

TEST_F(DeviceDigitalIo, FailingExchanges) {
  close_device();
  std::uint8_t value = 0x99;
  const Mask zeros{};
  const std::vector<std::pair<const char *, Call>> rows = {
      {"set bit mode", [](auto &l, auto h, auto s) { device::DIO_SetBitMode(l, h, 1, 1, s); }},
      {"write bit", [](auto &l, auto h, auto s) { device::DIO_WriteBit(l, h, 1, 1, s); }},
      {"read port", [&](auto &l, auto h, auto s) { device::DIO_ReadPort(l, h, 0, &value, s); }},
      {"write port", [](auto &l, auto h, auto s) { device::DIO_WritePort(l, h, 0, 1, s); }},
      {"port mode", [](auto &l, auto h, auto s) { device::DIO_SetPortMode(l, h, 0, 1, s); }},
      {"mask", [&](auto &l, auto h,
                   auto s) { device::DIO_WriteMask(l, h, zeros.data(), zeros.data(), s); }},
  };
  for (const auto &[name, call] : rows) {
    SCOPED_TRACE(name);
    std::int32_t status = -1;
    call(*lib, &handle, &status);
    EXPECT_EQ(status, 1);
  }
  EXPECT_EQ(value, 0x99);
  EXPECT_TRUE(requests().empty());

  // A refused read leaves the value alone too.
  std::int32_t status = -1;
  LibraryFixture::SetUp();
  respond({0x12}, 3);
  device::DIO_ReadPort(*lib, &handle, 0, &value, &status);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(value, 0x99);
}

}  // namespace
}  // namespace kmt::testing
