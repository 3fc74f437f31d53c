// The built-in simulated controller as a host program reaches it: KMT_DRIVER=sim:...
// and nothing but the exported functions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "kmtv1.h"
#include "tests/support/text_arg.h"

namespace {

using kmt::testing::TextIn;
using kmt::testing::TextOut;

struct RawCase {
  const char *name;
  uint8_t group;
  uint8_t command;
  int32_t status;
  uint16_t length;
};

TEST(SimController, DiscoveryOpenAndRawExchanges) {
  const char *driver = std::getenv("KMT_DRIVER");
  if (driver == nullptr || std::string(driver).rfind("sim", 0) != 0) {
    GTEST_SKIP() << "needs KMT_DRIVER=sim:...";
  }
  int32_t count = -1, status = -1;
  KMT_CreateListDevs(TextIn("kmtcv1"), &count, &status);
  ASSERT_EQ(status, 0);
  ASSERT_GE(count, 1);
  TextOut type, serial;
  KMT_GetTypeAndSNbyIndex(0, type, serial, &status);
  EXPECT_EQ(type.str(), "KMTC0002");

  uint32_t handle = 0;
  KMT_InitBySN(&handle, TextIn(type.str() + serial.str()), &status);
  ASSERT_EQ(status, 0);

  const RawCase cases[] = {
      {"firmware identification", 1, 0, 0, 8},
      {"short request", 8, 0, 0, 0},
      {"unknown group", 250, 0, 2, 0},
      {"unknown command of group 1", 1, 200, 2, 0},
  };
  static uint8_t buffer[KMT_PAYLOAD_SIZE];
  for (const RawCase &c : cases) {
    SCOPED_TRACE(c.name);
    uint16_t length = 0;
    KMT_SendComm(&handle, 0x0010, c.group, c.command, 0, buffer, &length, &status);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(length, c.length);
  }
  KMT_Close(&handle, 0);
}

}  // namespace
