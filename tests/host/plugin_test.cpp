// The library with a driver plugged in through KMT_DRIVER: the test driver library
// built from the simulated controller. ctest sets KMT_DRIVER and KMT_TEST_PLUGIN to
// its path; without them the tests are skipped.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "kmtv1.h"

namespace {

// How many driver calls reached the plugin so far, read through the copy the library
// loaded (RTLD_NOLOAD: never a second one).
unsigned plugin_calls() {
  const char *path = std::getenv("KMT_TEST_PLUGIN");
  void *library = dlopen(path, RTLD_NOLOAD | RTLD_NOW);
  if (library == nullptr) return 0;
  auto count = reinterpret_cast<unsigned (*)()>(dlsym(library, "kmt_test_d2xx_call_count"));
  unsigned calls = count != nullptr ? count() : 0;
  dlclose(library);  // drops only the reference taken above
  return calls;
}

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *plugin = std::getenv("KMT_TEST_PLUGIN");
    const char *driver = std::getenv("KMT_DRIVER");
    if (plugin == nullptr || driver == nullptr || std::string(plugin) != driver) {
      GTEST_SKIP() << "needs KMT_DRIVER and KMT_TEST_PLUGIN set to the test driver library";
    }
  }
};

TEST_F(PluginTest, DiscoverOpenExchangeAndCloseGoThroughThePlugin) {
  int32_t count = -1, status = -1;
  KMT_CreateListDevs("KMTCV1", &count, &status);
  // The library loads the plugin on its first call, so counting starts after it.
  unsigned calls_before = plugin_calls();
  ASSERT_GT(calls_before, 0u);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(count, 1);

  char type[KMT_STRING_SIZE], serial[KMT_STRING_SIZE];
  KMT_GetTypeAndSNbyIndex(0, type, serial, &status);
  EXPECT_EQ(status, 0);
  EXPECT_STREQ(type, "KMTC0002");
  EXPECT_STREQ(serial, "SIM00001");

  uint32_t handle = 0;
  KMT_InitBySN(&handle, (std::string(type) + serial).c_str(), &status);
  ASSERT_EQ(status, 0);

  static uint8_t buffer[KMT_PAYLOAD_SIZE];
  uint16_t length = 0;
  KMT_SendComm(&handle, 0x0010, 1, 0, 0, buffer, &length, &status);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(length, 8);
  const uint16_t expected[4] = {1, 0, 43, 2};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(buffer[2 * i] | buffer[2 * i + 1] << 8, expected[i]) << "firmware word " << i;
  }

  KMT_Close(&handle, 0);
  KMT_SendComm(&handle, 0x0010, 1, 0, 0, buffer, &length, &status);
  EXPECT_EQ(status, 1);

  // Open, reset, link settings, purges, time-outs, write, reads and close at least.
  EXPECT_GE(plugin_calls(), calls_before + 12);
}

TEST_F(PluginTest, UnknownSerialIsNotOpened) {
  uint32_t handle = 0;
  int32_t status = -1;
  unsigned before = plugin_calls();
  KMT_InitBySN(&handle, "KMTC0002NOSUCH", &status);
  EXPECT_EQ(status, 1);
  EXPECT_GT(plugin_calls(), before);
}

}  // namespace
