// System and identity functions against a scripted controller: request frames byte for
// byte, decoding, and what a failing exchange leaves alone.
#include <array>
#include <functional>

#include "device/functions.h"
#include "tests/support/library_fixture.h"

namespace kmt::testing {
namespace {

using Call = std::function<void(Library &, std::uint32_t *, std::int32_t *)>;

class DeviceSystem : public LibraryFixture {};

TEST_F(DeviceSystem, DriverTypeNeedsNoDeviceAndWritesOnlyItsOutput) {
  close_device();
  std::array<std::uint16_t, 3> around{0xAAAA, 0xBBBB, 0xCCCC};
  device::SYS_GetDriverType(&around[1]);
  EXPECT_EQ(around, (std::array<std::uint16_t, 3>{0xAAAA, 1, 0xCCCC}));
  EXPECT_TRUE(driver.calls.empty());
}

TEST_F(DeviceSystem, RequestFrames) {
  const Bytes sn = {0, 'A', 0, 0, 'B', 0xFF, 0, 0, 1, 2, 3, 0, 0, 0, 0, 0x80};
  const Bytes area = counting(128, 0);
  struct Row {
    const char *name;
    Call call;
    std::vector<Bytes> frames;
    std::vector<std::uint32_t> sleeps;
  };
  std::uint16_t w1, w2, w3, w4;
  std::uint8_t sn_out[16];
  std::uint8_t area_out[128];
  std::uint32_t count;
  const std::vector<Row> rows = {
      {"firmware",
       [&](Library &l, auto h, auto s) { device::SYS_GetFirmWare(l, h, &w1, &w2, &w3, &w4, s); },
       {request_frame(1, 0, {})},
       {}},
      {"write user serial number, zero bytes included",
       [&](Library &l, auto h, auto s) { device::SYS_WriteUserSN(l, h, sn.data(), s); },
       {request_frame(19, 0, sn)},
       {}},
      {"read user serial number",
       [&](Library &l, auto h, auto s) { device::SYS_ReadUserSN(l, h, sn_out, s); },
       {request_frame(19, 1, {})},
       {}},
      {"write user area, two halves",
       [&](Library &l, auto h, auto s) { device::SYS_WriteUserArea(l, h, area.data(), s); },
       {request_frame(19, 2, Bytes(area.begin(), area.begin() + 64)),
        request_frame(19, 3, Bytes(area.begin() + 64, area.end()))},
       {1, 1}},
      {"read user area, two halves",
       [&](Library &l, auto h, auto s) { device::SYS_ReadUserArea(l, h, area_out, s); },
       {request_frame(19, 4, {}), request_frame(19, 5, {})},
       {1, 1}},
      {"watchdog 0",
       [](Library &l, auto h, auto s) { device::WatchDog(l, h, 0, s); },
       {request_frame(19, 6, {0})},
       {}},
      {"watchdog 0x5A",
       [](Library &l, auto h, auto s) { device::WatchDog(l, h, 0x5A, s); },
       {request_frame(19, 6, {0x5A})},
       {}},
      {"watchdog 255",
       [](Library &l, auto h, auto s) { device::WatchDog(l, h, 255, s); },
       {request_frame(19, 6, {255})},
       {}},
      {"counter",
       [&](Library &l, auto h, auto s) { device::SYS_ReadCount(l, h, &count, s); },
       {request_frame(19, 7, {})},
       {}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    // A controller that answers every request with a long echo-free payload.
    for (std::size_t i = 0; i < row.frames.size(); ++i) respond(counting(70, 0x40));
    std::int32_t status = -1;
    row.call(*lib, &handle, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(requests(), row.frames);
    EXPECT_EQ(platform.sleeps, row.sleeps);
  }
}

TEST_F(DeviceSystem, Decoding) {
  struct Row {
    Bytes response;
    std::array<std::uint16_t, 4> firmware;
    std::uint32_t count;
  };
  const std::vector<Row> rows = {
      {{0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00}, {1, 2, 3, 4}, 0x00020001},
      {{0x34, 0x12, 0xCD, 0xAB, 0, 0x80, 0xFF, 0xFF}, {0x1234, 0xABCD, 0x8000, 0xFFFF}, 0xABCD1234},
      {{0x78, 0x56, 0x34, 0x12, 9, 9, 9, 9}, {0x5678, 0x1234, 0x0909, 0x0909}, 0x12345678},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, {0xFFFF, 0xFFFF, 0, 0}, 0xFFFFFFFF},
  };
  for (const Row &row : rows) {
    std::array<std::uint16_t, 4> firmware{};
    std::uint32_t count = 0;
    std::int32_t status = -1;
    respond(row.response);
    device::SYS_GetFirmWare(*lib, &handle, &firmware[0], &firmware[1], &firmware[2], &firmware[3],
                            &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(firmware, row.firmware);
    respond(row.response);
    device::SYS_ReadCount(*lib, &handle, &count, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(count, row.count);
  }
}

TEST_F(DeviceSystem, ReadsStopAtTheirBlockSize) {
  // Long responses: the user serial number takes 16 bytes, the area 2 x 64.
  std::array<std::uint8_t, 16 + 4> sn;
  sn.fill(0xEE);
  std::int32_t status = -1;
  respond(counting(40, 1));
  device::SYS_ReadUserSN(*lib, &handle, sn.data(), &status);
  EXPECT_EQ(status, 0);
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(sn[i], i + 1);
  for (std::size_t i = 16; i < sn.size(); ++i) EXPECT_EQ(sn[i], 0xEE) << i;

  std::array<std::uint8_t, 128 + 4> area;
  area.fill(0xEE);
  respond(counting(100, 0));
  respond(counting(100, 100));
  device::SYS_ReadUserArea(*lib, &handle, area.data(), &status);
  EXPECT_EQ(status, 0);
  for (std::size_t i = 0; i < 64; ++i) EXPECT_EQ(area[i], i);
  for (std::size_t i = 64; i < 128; ++i) EXPECT_EQ(area[i], i + 36);
  for (std::size_t i = 128; i < area.size(); ++i) EXPECT_EQ(area[i], 0xEE) << i;
}

TEST_F(DeviceSystem, FailingExchangeLeavesOutputsAlone) {
  close_device();
  std::array<std::uint16_t, 4> firmware{11, 22, 33, 44};
  std::array<std::uint8_t, 16> sn;
  sn.fill(0x5A);
  std::array<std::uint8_t, 128> area;
  area.fill(0xA5);
  std::uint32_t count = 0xDEADBEEF;
  const std::vector<std::pair<const char *, Call>> rows = {
      {"firmware",
       [&](Library &l, auto h, auto s) {
         device::SYS_GetFirmWare(l, h, &firmware[0], &firmware[1], &firmware[2], &firmware[3], s);
       }},
      {"user serial number",
       [&](Library &l, auto h, auto s) { device::SYS_ReadUserSN(l, h, sn.data(), s); }},
      {"user area",
       [&](Library &l, auto h, auto s) { device::SYS_ReadUserArea(l, h, area.data(), s); }},
      {"counter", [&](Library &l, auto h, auto s) { device::SYS_ReadCount(l, h, &count, s); }},
      {"write user area",
       [&](Library &l, auto h, auto s) { device::SYS_WriteUserArea(l, h, area.data(), s); }},
  };
  for (const auto &[name, call] : rows) {
    SCOPED_TRACE(name);
    std::int32_t status = -1;
    call(*lib, &handle, &status);
    EXPECT_EQ(status, 1);
  }
  EXPECT_EQ(firmware, (std::array<std::uint16_t, 4>{11, 22, 33, 44}));
  for (std::uint8_t b : sn) EXPECT_EQ(b, 0x5A);
  for (std::uint8_t b : area) EXPECT_EQ(b, 0xA5);
  EXPECT_EQ(count, 0xDEADBEEF);
  EXPECT_TRUE(requests().empty());
}

TEST_F(DeviceSystem, UserAreaHalfFailures) {
  // Reading: the second half refused; the first half is kept, the rest untouched.
  std::array<std::uint8_t, 128> area;
  area.fill(0xA5);
  std::int32_t status = -1;
  respond(counting(64, 1));
  respond({}, 1);
  device::SYS_ReadUserArea(*lib, &handle, area.data(), &status);
  EXPECT_EQ(status, 2);
  for (std::size_t i = 0; i < 64; ++i) EXPECT_EQ(area[i], i + 1);
  for (std::size_t i = 64; i < 128; ++i) EXPECT_EQ(area[i], 0xA5);

  // Writing: the first half refused; the second half is never sent.
  forget();
  driver.reads.clear();  // the refused answer's unread checksum
  respond({}, 1);
  device::SYS_WriteUserArea(*lib, &handle, area.data(), &status);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(requests().size(), 1u);
}

}  // namespace
}  // namespace kmt::testing
