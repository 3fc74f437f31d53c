// What a host sees when the driver cannot be had, and when the controller stays
// silent. Each suite runs in its own process with its own KMT_DRIVER (tests/CMakeLists.txt).
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "kmtv1.h"
#include "tests/support/text_arg.h"

namespace {

using kmt::testing::TextIn;
using kmt::testing::TextOut;

TEST(NoDriver, DiscoveryReportsDeviceNotFoundAndNothingOpens) {
  int32_t count = -1, status = -1;
  KMT_CreateListDevs(TextIn("KMTCV1"), &count, &status);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(status, 2);
  uint32_t handle = 0;
  KMT_InitBySN(&handle, TextIn("KMTC0002SIM00001"), &status);
  EXPECT_EQ(status, 1);
  TextOut type, serial;
  KMT_GetTypeAndSNbyIndex(0, type, serial, &status);
  EXPECT_EQ(status, 2) << "the open's driver code";
  uint8_t value = 0x5A;
  DIO_ReadPort(&handle, 0, &value, &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(value, 0x5A);
  // The shared library reports the version its header says, driver or none.
  int32_t major = -1, minor = -1, build = -1;
  KMT_GetDriverVersion(&major, &minor, &build);
  EXPECT_EQ(std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build),
            KMT_VERSION_STRING);
}

TEST(SilentController, ExchangeGivesUpWithStatusTwoInBoundedTime) {
  int32_t count = -1, status = -1;
  KMT_CreateListDevs(TextIn("KMTCV1"), &count, &status);
  ASSERT_EQ(count, 1);
  uint32_t handle = 0;
  KMT_InitBySN(&handle, TextIn("KMTC0002SIM00001"), &status);
  ASSERT_EQ(status, 0);
  uint16_t words[4] = {11, 22, 33, 44};
  auto start = std::chrono::steady_clock::now();
  SYS_GetFirmWare(&handle, &words[0], &words[1], &words[2], &words[3], &status);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(status, 2);
  EXPECT_EQ(words[0], 11);
  EXPECT_EQ(words[3], 44);
  // 600 pauses of 1 ms are real; the controller's 601 read time-outs are virtual.
  EXPECT_LT(took, std::chrono::seconds(10));
  KMT_Close(&handle, 0);
}

}  // namespace
