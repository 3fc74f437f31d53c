// The simulated controller in its own process behind a pseudo-terminal, reached through
// the kernel serial-driver provider as a host program reaches a real controller; and the
// default choice on a machine with neither the vendor's library nor a bridge.
// Each suite runs in its own process (tests/CMakeLists.txt): the library takes
// KMT_DRIVER once per process. Linux only.
#if defined(__linux__)

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kmtv1.h"
#include "tests/support/simulator_process.h"

namespace {

using kmt::test::Simulator;
using Clock = std::chrono::steady_clock;

TEST(PtySimulator, EveryFamilyOverTheTerminalThenTheSimulatorEndsMidSession) {
  const char *command = std::getenv("KMT_TEST_PTY_SIMULATOR");
  if (command == nullptr) GTEST_SKIP() << "needs KMT_TEST_PTY_SIMULATOR";
  Simulator sim(command);
  ASSERT_EQ(sim.first_line().rfind("tty:/dev/pts/", 0), 0u) << sim.first_line();
  ::setenv("KMT_DRIVER", sim.first_line().c_str(), 1);

  int32_t count = -1, status = -1;
  KMT_CreateListDevs("KMTCV1", &count, &status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(count, 1);
  char type[KMT_STRING_SIZE], serial[KMT_STRING_SIZE];
  KMT_GetTypeAndSNbyIndex(0, type, serial, &status);
  std::string full = std::string(type) + serial;
  uint32_t handle = 0;
  KMT_InitBySN(&handle, full.c_str(), &status);
  ASSERT_EQ(status, 0);

  kmt::test::call_every_family(&handle);

  // The terminal is held exclusively: a second open fails (and disarms the exchange).
  uint32_t second = 0;
  KMT_InitBySN(&second, full.c_str(), &status);
  EXPECT_EQ(status, 1);
  KMT_Close(&handle, 0);
  KMT_InitBySN(&handle, full.c_str(), &status);
  ASSERT_EQ(status, 0) << "open again after close";

  uint16_t w[4] = {};
  // The simulator goes away in the middle of an exchange (its second identification
  // answer is held back 3 s): the exchange fails within its time-outs, and so does the
  // next one, at once.
  auto start = Clock::now();
  std::thread ender([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sim.stop();
  });
  w[0] = 77;
  SYS_GetFirmWare(&handle, &w[0], &w[1], &w[2], &w[3], &status);
  ender.join();
  EXPECT_EQ(status, 2);
  EXPECT_EQ(w[0], 77);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(20)) << "600 failed reads and pauses";
  start = Clock::now();
  SYS_GetFirmWare(&handle, &w[0], &w[1], &w[2], &w[3], &status);
  EXPECT_EQ(status, 1) << "the handle stays failed";
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
  KMT_Close(&handle, 0);
}

// KMT_DRIVER unset, no vendor library: the kernel's serial driver stands in, and a machine
// without a bridge has simply nothing attached.
TEST(KernelFallback, NothingAttachedIsAnEmptyListAtOnce) {
  if (std::getenv("KMT_DRIVER") != nullptr) GTEST_SKIP() << "needs KMT_DRIVER unset";
  std::error_code ec;
  if (!std::filesystem::is_empty("/sys/bus/usb-serial/devices", ec) && !ec) {
    GTEST_SKIP() << "a USB-serial port is attached";
  }
  auto start = Clock::now();
  int32_t count = -1, status = -1;
  KMT_CreateListDevs("KMTCV1", &count, &status);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(status, 0);
}

}  // namespace

#endif
