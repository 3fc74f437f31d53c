// Analog I/O functions against a scripted controller: the volt conversions, request
// frames, decoding, the refused output number, and what a failing exchange leaves alone.
#include <array>
#include <cmath>
#include <functional>
#include <limits>

#include "device/analog_io.h"
#include "device/functions.h"
#include "tests/support/library_fixture.h"

namespace kmt::testing {
namespace {

using Call = std::function<void(Library &, std::uint32_t *, std::int32_t *)>;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(AnalogConversions, CountsToVolts) {
  struct Row {
    std::uint16_t count;
    double volts;
  };
  // Double precision throughout: count 11 gives ...506, not the extended-precision ...5055.
  const std::vector<Row> rows = {
      {0, 0.0},
      {1, 0.004887585532746823},
      {11, 0.05376344086021506},
      {512, 2.5024437927663734},
      {1023, 5.0},
      {0xFFFF, 320.30791788856305},
  };
  for (const Row &row : rows) EXPECT_EQ(device::CountsToVolts(row.count), row.volts) << row.count;
}

TEST(AnalogConversions, VoltsToDacCode) {
  struct Row {
    double volts;
    std::uint16_t code;
  };
  const std::vector<Row> rows = {
      {0.0, 0},
      {-0.0, 0},
      {5.0, 10000},
      {2.5, 5000},
      {0.03125, 62},   // 62.5: halfway, to the even code
      {0.09375, 188},  // 187.5: halfway, to the even code
      {0.0325, 65},
      {32.7675, 65535},
      {32.768, 0},         // 65536: only the low 16 bits
      {-0.0005, 0xFFFF},   // -1
      {-0.00025, 0},       // -0.5: to the even code, 0
      {-0.00075, 0xFFFE},  // -1.5: to -2
      // No defined code in the controller's terms; the library's choice:
      {kNaN, 0},
      {-kNaN, 0},
      {kInf, 0xFFFF},   // saturated to the largest 64-bit value
      {-kInf, 0x0000},  // saturated to the smallest 64-bit value
      {1e300, 0xFFFF},
      {-1e300, 0x0000},
      {4.611686018427388e15, 0xFFFF},   // scaled just above 2^63: saturated
      {-4.611686018427388e15, 0x0000},  // scaled to exactly -2^63: in range
      {1.0e12, 0x0000},                 // 2e15 = 0x71AFD498D0000: low 16 bits 0
  };
  for (const Row &row : rows) EXPECT_EQ(device::VoltsToDacCode(row.volts), row.code) << row.volts;
}

class DeviceAnalogIo : public LibraryFixture {};

TEST_F(DeviceAnalogIo, RequestFrames) {
  struct Row {
    const char *name;
    Call call;
    Bytes frame;
    std::vector<std::uint32_t> sleeps;
  };
  double v1, v2, v3, v4;
  std::uint32_t timer;
  const std::vector<Row> rows = {
      {"simple read",
       [&](auto &l, auto h, auto s) { device::AI_SimpleRead(l, h, &v1, &v2, &v3, &v4, s); },
       request_frame(16, 3, {}),
       {1}},
      {"simple read with timer",
       [&](auto &l, auto h, auto s) {
         device::AI_SimpleReadTimer(l, h, &v1, &v2, &v3, &v4, &timer, s);
       },
       request_frame(16, 19, {}),
       {1}},
      {"channel read 0",
       [&](auto &l, auto h, auto s) { device::AI_ReadCh4(l, h, 0, &v1, s); },
       request_frame(17, 6, {0}),
       {1}},
      {"channel read 255",
       [&](auto &l, auto h, auto s) { device::AI_ReadCh4(l, h, 255, &v1, s); },
       request_frame(17, 6, {255}),
       {1}},
      {"channel read with timer 3",
       [&](auto &l, auto h, auto s) { device::AI_ReadCh4Timer(l, h, 3, &v1, &timer, s); },
       request_frame(17, 7, {3}),
       {1}},
      {"output 0 at 5 V",
       [](auto &l, auto h, auto s) { device::AO_SimpleWrite(l, h, 0, 5.0, s); },
       request_frame(16, 4, {0x10, 0x27}),
       {}},
      {"output 1 at 2.5 V",
       [](auto &l, auto h, auto s) { device::AO_SimpleWrite(l, h, 1, 2.5, s); },
       request_frame(16, 5, {0x88, 0x13}),
       {}},
      {"output halfway down",
       [](auto &l, auto h, auto s) { device::AO_SimpleWrite(l, h, 0, 0.03125, s); },
       request_frame(16, 4, {0x3E, 0x00}),
       {}},
      {"output halfway up",
       [](auto &l, auto h, auto s) { device::AO_SimpleWrite(l, h, 0, 0.09375, s); },
       request_frame(16, 4, {0xBC, 0x00}),
       {}},
      {"output wraps at 65536",
       [](auto &l, auto h, auto s) { device::AO_SimpleWrite(l, h, 0, 32.768, s); },
       request_frame(16, 4, {0x00, 0x00}),
       {}},
      {"output negative",
       [](auto &l, auto h, auto s) { device::AO_SimpleWrite(l, h, 1, -0.0005, s); },
       request_frame(16, 5, {0xFF, 0xFF}),
       {}},
      {"output NaN",
       [](auto &l, auto h, auto s) { device::AO_SimpleWrite(l, h, 0, kNaN, s); },
       request_frame(16, 4, {0x00, 0x00}),
       {}},
      {"output +inf",
       [](auto &l, auto h, auto s) { device::AO_SimpleWrite(l, h, 0, kInf, s); },
       request_frame(16, 4, {0xFF, 0xFF}),
       {}},
      {"divider 0x1234",
       [](auto &l, auto h, auto s) { device::AO_SetDACDivider(l, h, 0x1234, s); },
       request_frame(16, 6, {0x34, 0x12}),
       {}},
      {"divider 0",
       [](auto &l, auto h, auto s) { device::AO_SetDACDivider(l, h, 0, s); },
       request_frame(16, 6, {0x00, 0x00}),
       {}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    respond(Bytes(12, 0));
    std::int32_t status = -1;
    row.call(*lib, &handle, &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_EQ(requests()[0], row.frame);
    EXPECT_EQ(platform.sleeps, row.sleeps);
  }
}

TEST_F(DeviceAnalogIo, Decoding) {
  const Bytes four = {0xFF, 0x03, 0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x78, 0x56, 0x34, 0x12};
  std::array<double, 4> volts{};
  std::uint32_t timer = 0;
  std::int32_t status = -1;

  respond(four);
  device::AI_SimpleRead(*lib, &handle, &volts[0], &volts[1], &volts[2], &volts[3], &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(volts, (std::array<double, 4>{5.0, 0.0, 2.5024437927663734, 0.004887585532746823}));

  struct Row {
    Bytes timer_bytes;
    std::uint32_t timer;
  };
  for (const Row &row : std::vector<Row>{{{0x78, 0x56, 0x34, 0x12}, 0x12345678},
                                         {{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF},
                                         {{0x01, 0x00, 0x00, 0x80}, 0x80000001}}) {
    respond(concat({{0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0x03}, row.timer_bytes}));
    device::AI_SimpleReadTimer(*lib, &handle, &volts[0], &volts[1], &volts[2], &volts[3], &timer,
                               &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(volts, (std::array<double, 4>{320.30791788856305, 0.0, 0.0, 5.0}));
    EXPECT_EQ(timer, row.timer);

    respond(concat({{0xFF, 0x03}, row.timer_bytes}));
    double one = -1;
    device::AI_ReadCh4Timer(*lib, &handle, 0, &one, &timer, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(one, 5.0);
    EXPECT_EQ(timer, row.timer);
  }

  respond({0x00, 0x02, 0x99});
  double one = -1;
  device::AI_ReadCh4(*lib, &handle, 1, &one, &status);
  EXPECT_EQ(one, 2.5024437927663734);
}

TEST_F(DeviceAnalogIo, OutputNumberAboveOneIsRefusedWithoutSending) {
  for (bool open : {true, false}) {
    if (!open) close_device();
    for (unsigned c = 2; c < 256; ++c) {
      std::fill_n(lib->payload(), 4, 0xAB);
      lib->payload_length = 77;
      std::uint32_t h = 0x1234;
      std::int32_t status = -1;
      device::AO_SimpleWrite(*lib, &h, static_cast<std::uint8_t>(c), 1.0, &status);
      ASSERT_EQ(status, 4) << c;  // KMT_STATUS_OUT_OF_RANGE
      ASSERT_EQ(h, 0x1234u);
      ASSERT_EQ(lib->payload_length, 77);
      ASSERT_EQ(lib->payload()[0], 0xAB);
    }
    EXPECT_TRUE(driver.calls.empty());
  }
}

TEST_F(DeviceAnalogIo, FailingExchangeLeavesOutputsAlone) {
  std::array<double, 4> volts{-1, -2, -3, -4};
  double one = -5;
  std::uint32_t timer = 0xCAFEF00D;
  const std::vector<std::pair<const char *, Call>> rows = {
      {"simple read",
       [&](auto &l, auto h, auto s) {
         device::AI_SimpleRead(l, h, &volts[0], &volts[1], &volts[2], &volts[3], s);
       }},
      {"simple read with timer",
       [&](auto &l, auto h, auto s) {
         device::AI_SimpleReadTimer(l, h, &volts[0], &volts[1], &volts[2], &volts[3], &timer, s);
       }},
      {"channel read", [&](auto &l, auto h, auto s) { device::AI_ReadCh4(l, h, 0, &one, s); }},
      {"channel read with timer",
       [&](auto &l, auto h, auto s) { device::AI_ReadCh4Timer(l, h, 0, &one, &timer, s); }},
      {"output", [](auto &l, auto h, auto s) { device::AO_SimpleWrite(l, h, 0, 1.0, s); }},
      {"divider", [](auto &l, auto h, auto s) { device::AO_SetDACDivider(l, h, 1, s); }},
  };
  for (const auto &[name, call] : rows) {
    SCOPED_TRACE(name);
    // Refused by the controller, then with no device open.
    driver.reads.clear();  // what the previous refused answer left unread
    respond(Bytes(12, 0x11), 1);
    std::int32_t status = -1;
    call(*lib, &handle, &status);
    EXPECT_EQ(status, 2);
  }
  close_device();
  for (const auto &[name, call] : rows) {
    SCOPED_TRACE(name);
    std::int32_t status = -1;
    call(*lib, &handle, &status);
    EXPECT_EQ(status, 1);
  }
  EXPECT_EQ(volts, (std::array<double, 4>{-1, -2, -3, -4}));
  EXPECT_EQ(one, -5);
  EXPECT_EQ(timer, 0xCAFEF00D);
}

}  // namespace
}  // namespace kmt::testing
