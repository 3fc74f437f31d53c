// A controller that takes its time must not cost the host a core: the library waits in
// blocking reads and sleeps, never in a spinning loop. Run with
// KMT_DRIVER=sim:clock=real,fault=delay:2000000 (every response comes 2 s late).
#include <gtest/gtest.h>

#include <chrono>

#include "kmtv1.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

#ifndef _WIN32
// CPU time of the whole process so far, user and system, in seconds: a busy machine
// stretches the wall time but not this.
double process_cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval &t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}
#endif

TEST(WaitingController, TwoSecondsOfWaitingCostUnderOnePercentCpu) {
#ifdef _WIN32
  GTEST_SKIP() << "measured with getrusage";
#else
  int32_t count = -1, status = -1;
  KMT_CreateListDevs("KMTCV1", &count, &status);
  ASSERT_EQ(count, 1);
  uint32_t handle = 0;
  KMT_InitBySN(&handle, "KMTC0002SIM00001", &status);
  ASSERT_EQ(status, 0);

  uint16_t words[4] = {};
  const double cpu_before = process_cpu_seconds();
  const auto start = std::chrono::steady_clock::now();
  SYS_GetFirmWare(&handle, &words[0], &words[1], &words[2], &words[3], &status);
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  const double cpu = process_cpu_seconds() - cpu_before;
  KMT_Close(&handle, 0);

  ASSERT_EQ(status, 0);
  EXPECT_EQ(words[2], 43);
  ASSERT_GE(wall.count(), 1.9);  // the answer did come late
  EXPECT_LT(cpu, 0.01 * wall.count()) << cpu << " s of CPU in " << wall.count() << " s";
  std::printf("waited %.3f s for the answer, using %.3f ms of CPU (%.3f%%)\n", wall.count(),
              cpu * 1e3, 100 * cpu / wall.count());
#endif
}

}  // namespace
