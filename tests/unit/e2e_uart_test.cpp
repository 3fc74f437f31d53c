// The UART end to end: blocks looped back through the simulated controller's bounded
// receive buffer, its trailing bytes, and its refusals while closed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "sim/uart.h"
#include "tests/support/library_fixture.h"
#include "tests/unit/e2e_sim_fixture.h"

namespace kmt::testing {
namespace {

using ::testing::ElementsAreArray;

constexpr std::uint8_t kOverflow = 0x01;

class UartEndToEnd : public SimLibrary {
 protected:
  void open() {
    device::UART_Init(*lib, &handle, 9600, 0, 0, &status);
    ASSERT_EQ(status, 0);
  }
  void send(const std::vector<std::uint8_t> &bytes) {
    device::UART_Write(*lib, &handle, static_cast<std::uint16_t>(bytes.size()), bytes.data(),
                       &status);
    ASSERT_EQ(status, 0);
  }
  struct Received {
    std::vector<std::uint8_t> data;
    std::uint8_t waiting, flags;
  };
  Received receive(std::uint16_t wanted) {
    std::array<std::uint8_t, 64> data{};
    std::uint16_t count = wanted;
    Received r{{}, 0xEE, 0xEE};
    device::UART_Read(*lib, &handle, &count, data.data(), &r.waiting, &r.flags, &status);
    EXPECT_EQ(status, 0);
    r.data.assign(data.begin(), data.begin() + count);
    return r;
  }
};

TEST_F(UartEndToEnd, SixtyFourBytesLoopBack) {
  open();
  const auto block = counting(64, 0x80);
  send(block);
  Received r = receive(64);
  EXPECT_THAT(r.data, ElementsAreArray(block));
  EXPECT_EQ(r.waiting, 0);
  EXPECT_EQ(r.flags, 0);
}

TEST_F(UartEndToEnd, BytesComeBackInOrderAcrossBlocks) {
  open();
  std::vector<std::uint8_t> sent;
  for (std::uint8_t first : {0, 30, 60}) {
    auto part = counting(30, first);
    send(part);
    sent.insert(sent.end(), part.begin(), part.end());
  }
  struct Row {
    std::uint16_t wanted;
    std::size_t got;
    std::uint8_t waiting;
  } rows[] = {{64, 64, 26}, {10, 10, 16}, {200, 16, 0}, {64, 0, 0}};
  std::vector<std::uint8_t> back;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.wanted);
    Received r = receive(row.wanted);
    EXPECT_EQ(r.data.size(), row.got);
    EXPECT_EQ(r.waiting, row.waiting);
    EXPECT_EQ(r.flags, 0);
    back.insert(back.end(), r.data.begin(), r.data.end());
  }
  EXPECT_THAT(back, ElementsAreArray(sent));
}

TEST_F(UartEndToEnd, OverflowDropsTheNewestBytesAndIsReportedOnce) {
  start("uart_buffer=100");
  open();
  send(counting(64, 0));
  send(counting(64, 64));  // only 36 of these fit
  EXPECT_EQ(part<sim::Uart>().lost, 28u);
  Received first = receive(64);
  EXPECT_THAT(first.data, ElementsAreArray(counting(64, 0)));
  EXPECT_EQ(first.waiting, 36);
  EXPECT_EQ(first.flags, kOverflow);
  Received second = receive(64);
  EXPECT_THAT(second.data, ElementsAreArray(counting(36, 64)));
  EXPECT_EQ(second.waiting, 0);
  EXPECT_EQ(second.flags, 0);
}

TEST_F(UartEndToEnd, ShortReadWaitsOutTheTimeOutOnTheVirtualClock) {
  open();
  device::UART_SetTimeOut(*lib, &handle, 200, &status);
  ASSERT_EQ(status, 0);
  send(counting(5, 1));
  const std::uint64_t before = now_us();
  Received r = receive(10);
  EXPECT_EQ(r.data.size(), 5u);
  EXPECT_GE(now_us() - before, 200000u);
  EXPECT_TRUE(platform.sleeps.size() < 700) << "the library did not give up";
}

TEST_F(UartEndToEnd, ClosedUartRefusesTransfers) {
  const std::uint8_t byte = 1;
  std::array<std::uint8_t, 64> data{};
  std::uint16_t count = 1;
  std::uint8_t t1 = 0, t2 = 0;
  // Never initialised, then initialised and closed again.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    device::UART_Write(*lib, &handle, 1, &byte, &status);
    EXPECT_EQ(status, 2);
    device::UART_Read(*lib, &handle, &count, data.data(), &t1, &t2, &status);
    EXPECT_EQ(status, 2);
    open();
    send({1, 2, 3});
    device::UART_Close(*lib, &handle, &status);
    ASSERT_EQ(status, 0);
  }
  // Reopening starts with an empty buffer.
  open();
  EXPECT_TRUE(receive(64).data.empty());
  device::UART_Interrupt(*lib, &handle, 5, &status);
  EXPECT_EQ(part<sim::Uart>().interrupt_setting, 5);
  EXPECT_EQ(part<sim::Uart>().config_word, 9600);
}

}  // namespace
}  // namespace kmt::testing
