// Several threads on the process-wide instance, each with a controller of its own:
// their calls take turns inside the library, and every answer is the one that
// controller owes that thread. Needs KMT_DRIVER=sim:clock=virtual,devices=4.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "kmtv1.h"
#include "tests/support/text_arg.h"

namespace {

using kmt::testing::TextIn;
using kmt::testing::TextOut;

constexpr int kThreads = 4;
constexpr int kRoundsPerThread = 400;
// Seven calls each round, two more every fourth round.
constexpr int kCallsPerThread = 4 + kRoundsPerThread * 7 + kRoundsPerThread / 4 * 2;

std::string sim_serial(int index) {
  char text[32];
  std::snprintf(text, sizeof text, "KMTC0002SIM%05d", index + 1);
  return text;
}

// Runs body(i) on kThreads threads released together, so their first calls collide.
template <class Body>
void on_threads(Body body) {
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      body(i);
    });
  }
  for (std::thread &t : threads) t.join();
}

// Runs first in this program: the process-wide instance does not exist yet, and every
// thread's first call races to build it.
TEST(Threads, FirstCallsTogetherBuildOneInstance) {
  std::atomic<int> wrong{0};
  on_threads([&](int) {
    int32_t count = -1, status = -1;
    KMT_CreateListDevs(TextIn("KMTCV1"), &count, &status);
    if (count != kThreads || status != 0) ++wrong;
  });
  EXPECT_EQ(wrong, 0);
}

// What one thread expects of its own controller.
struct Model {
  std::array<uint8_t, 16> user_sn;
  std::array<uint8_t, 128> user_area;
  uint8_t spi_register = 0;
};

TEST(Threads, EachThreadGetsItsOwnControllersAnswers) {
  std::array<uint32_t, kThreads> handles{};
  std::atomic<int> wrong{0}, calls{0};
  auto check = [&](bool ok) {
    ++calls;
    if (!ok) ++wrong;
  };
  // Opening them all first: a failed open or a close would disarm every device.
  on_threads([&](int t) {
    int32_t status = -1;
    KMT_InitBySN(&handles[t], TextIn(sim_serial(t)), &status);
    check(status == 0);
  });
  ASSERT_EQ(wrong, 0);

  on_threads([&](int t) {
    uint32_t handle = handles[t];
    int32_t status = -1;
    Model model{};
    SPI_Init(&handle, &model.spi_register, &status);
    check(status == 0);
    DIO_SetPortMode(&handle, 0, 1, &status);
    check(status == 0);
    for (int round = 0; round < kRoundsPerThread; ++round) {
      const auto tag = static_cast<uint8_t>(t * 64 + round % 64);
      for (std::size_t i = 0; i < model.user_sn.size(); ++i) {
        model.user_sn[i] = static_cast<uint8_t>(tag + i);
      }
      model.user_area.fill(tag);
      model.user_area[static_cast<std::size_t>(round) % 128] = static_cast<uint8_t>(t);

      SYS_WriteUserSN(&handle, model.user_sn.data(), &status);
      check(status == 0);
      std::array<uint8_t, 16> sn{};
      SYS_ReadUserSN(&handle, sn.data(), &status);
      check(status == 0 && sn == model.user_sn);

      // The user area costs four 1 ms pauses a round trip: one round in four.
      if (round % 4 == 0) {
        SYS_WriteUserArea(&handle, model.user_area.data(), &status);
        check(status == 0);
        std::array<uint8_t, 128> area{};
        SYS_ReadUserArea(&handle, area.data(), &status);
        check(status == 0 && area == model.user_area);
      }

      // The shift register answers the byte this thread sent before.
      uint8_t rx = 0;
      SPI_Byte(&handle, tag, &rx, &status);
      check(status == 0 && rx == model.spi_register);
      model.spi_register = tag;

      DIO_WritePort(&handle, 0, tag, &status);
      check(status == 0);
      uint8_t port = 0;
      DIO_ReadPort(&handle, 0, &port, &status);
      check(status == 0 && port == tag);

      uint16_t f[4] = {};
      SYS_GetFirmWare(&handle, &f[0], &f[1], &f[2], &f[3], &status);
      check(status == 0 && f[0] == 1 && f[1] == 0 && f[2] == 43 && f[3] == 2);

      TextOut type, serial;
      KMT_GetTypeAndSNbyIndex(t, type, serial, &status);
      check(status == 0 && sim_serial(t) == type.str() + serial.str());
    }
    check(handle == handles[t]);
  });
  EXPECT_EQ(calls, kThreads * kCallsPerThread);
  EXPECT_EQ(wrong, 0) << "of " << calls << " calls";

  for (uint32_t &handle : handles) KMT_Close(&handle, 0);
}

}  // namespace
