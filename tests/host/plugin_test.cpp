// The library with a driver plugged in: the simulated controller's driver library
// (sim/d2xx). ctest sets KMT_TEST_PLUGIN to it, and on Linux KMT_DRIVER to the same path;
// on Windows it is the drop-in ftd2xx.dll beside the program, found with no variable set.
// Without KMT_TEST_PLUGIN the tests are skipped.
#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "kmtv1.h"
#include "tests/support/text_arg.h"

namespace {

using kmt::testing::TextIn;
using kmt::testing::TextOut;

// How many driver calls reached the plugin so far, read through the copy the library
// loaded (never loading a second one).
unsigned plugin_calls() {
  const char *path = std::getenv("KMT_TEST_PLUGIN");
  const char *name = "kmt_sim_d2xx_call_count";
#if defined(_WIN32)
  HMODULE library = ::GetModuleHandleA(path);
  if (library == nullptr) return 0;
  auto count = reinterpret_cast<unsigned(__stdcall *)()>(
      reinterpret_cast<void *>(::GetProcAddress(library, name)));
  return count != nullptr ? count() : 0;
#else
  void *library = dlopen(path, RTLD_NOLOAD | RTLD_NOW);
  if (library == nullptr) return 0;
  auto count = reinterpret_cast<unsigned (*)()>(dlsym(library, name));
  unsigned calls = count != nullptr ? count() : 0;
  dlclose(library);  // drops only the reference taken above
  return calls;
#endif
}

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *plugin = std::getenv("KMT_TEST_PLUGIN");
    const char *driver = std::getenv("KMT_DRIVER");
#if defined(_WIN32)
    bool plugged = plugin != nullptr && driver == nullptr;
#else
    bool plugged = plugin != nullptr && driver != nullptr && std::string(plugin) == driver;
#endif
    if (!plugged) GTEST_SKIP() << "needs KMT_TEST_PLUGIN (and KMT_DRIVER) set to the plugin";
  }
};

TEST_F(PluginTest, DiscoverOpenExchangeAndCloseGoThroughThePlugin) {
  int32_t count = -1, status = -1;
  KMT_CreateListDevs(TextIn("KMTCV1"), &count, &status);
  // The library loads the plugin on its first call, so counting starts after it.
  unsigned calls_before = plugin_calls();
  ASSERT_GT(calls_before, 0u);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(count, 1);

  TextOut type, serial;
  KMT_GetTypeAndSNbyIndex(0, type, serial, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(type.str(), "KMTC0002");
  EXPECT_EQ(serial.str(), "SIM00001");

  uint32_t handle = 0;
  KMT_InitBySN(&handle, TextIn(type.str() + serial.str()), &status);
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
  KMT_InitBySN(&handle, TextIn("KMTC0002NOSUCH"), &status);
  EXPECT_EQ(status, 1);
  EXPECT_GT(plugin_calls(), before);
}

}  // namespace
