// Discovery, the device table, open with its link set-up, close, and the driver
// error reports of the transport.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "library/driver_choice.h"
#include "library/instance.h"
#include "tests/support/scripted_driver.h"

namespace kmt::testing {
namespace {

using ::testing::ElementsAre;

class Connection : public ::testing::Test {
 protected:
  void SetUp() override { rebuild(); }
  void rebuild() {
    lib = std::make_unique<Library>(std::make_unique<ScriptedDriver>(driver), platform);
  }

  struct Listing {
    std::int32_t count = -1;
    std::int32_t status = -1;
  };
  Listing list(const std::string &name) {
    Listing out;
    lib->session.create_list_devs(name, &out.count, &out.status);
    return out;
  }
  std::pair<std::string, std::string> entry(std::int32_t index) {
    std::string type = "junk", serial = "junk";
    std::int32_t status = -1;
    lib->session.get_type_and_sn_by_index(index, &type, &serial, &status);
    return {type, serial};
  }
  std::int32_t open(const std::string &serial) {
    std::int32_t status = -1;
    lib->session.init_by_sn(&handle, serial, &status);
    return status;
  }

  ScriptedDriverState driver;
  RecordingPlatform platform;
  std::unique_ptr<Library> lib;
  std::uint32_t handle = 0xDEADBEEF;
};

TEST_F(Connection, DiscoveryByTypeName) {
  driver.serials = {"KMTC0002A1B2", "KMTC0001OLD", "KMTC0002C3", "XYZ", "KMTC000"};
  struct Row {
    const char *name;
    std::int32_t count, status;
  } rows[] = {
      {"KMTCV1", 2, 0}, {"kmtcv1", 2, 0}, {"KmTcV1", 2, 0},  {"KMTC0002", 0, 3},
      {"KMTCV2", 0, 3}, {"", 0, 3},       {"KMTCV1 ", 0, 3},
  };
  for (const Row &row : rows) {
    Listing got = list(row.name);
    EXPECT_EQ(got.count, row.count) << row.name;
    EXPECT_EQ(got.status, row.status) << row.name;
  }
  // An unknown name leaves the table of the last discovery as it was.
  EXPECT_EQ(entry(0), std::make_pair(std::string("KMTC0002"), std::string("A1B2")));
  EXPECT_EQ(entry(1), std::make_pair(std::string("KMTC0002"), std::string("C3")));
}

TEST_F(Connection, TableEntriesSplitIntoTypeAndSerial) {
  driver.serials = {"KMTC0002A1B2", "KMTC0002", "KMTC0002" + std::string(60, 'x')};
  ASSERT_EQ(list("KMTCV1").count, 3);
  EXPECT_EQ(entry(0), std::make_pair(std::string("KMTC0002"), std::string("A1B2")));
  EXPECT_EQ(entry(1), std::make_pair(std::string("KMTC0002"), std::string()));
  // The driver's string is taken up to 49 characters.
  EXPECT_EQ(entry(2).second, std::string(41, 'x'));
  // Past the count but inside the table: what was there (empty at first).
  EXPECT_EQ(entry(3), std::make_pair(std::string(), std::string()));
  for (std::int32_t outside : {-1, 256, 1000, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(entry(outside), std::make_pair(std::string(), std::string())) << outside;
  }
}

TEST_F(Connection, LaterDiscoveryOverwritesFromTheStartAndKeepsTheRest) {
  driver.serials = {"KMTC0002AAA", "KMTC0002BBB"};
  ASSERT_EQ(list("KMTCV1").count, 2);
  driver.serials = {"KMTC0002CCC"};
  ASSERT_EQ(list("KMTCV1").count, 1);
  EXPECT_EQ(entry(0).second, "CCC");
  EXPECT_EQ(entry(1).second, "BBB");
}

TEST_F(Connection, NoDevicesAndFailingQueries) {
  driver.serials = {};
  Listing none = list("KMTCV1");
  EXPECT_EQ(none.count, 0);
  EXPECT_EQ(none.status, 0);

  driver.serials = {"KMTC0002A", "KMTC0002B", "KMTC0002C"};
  driver.failures["ListDevices count"] = d2xx::FT_IO_ERROR;
  Listing count_failed = list("KMTCV1");
  EXPECT_EQ(count_failed.count, 0);
  EXPECT_EQ(count_failed.status, 4);
  driver.failures.clear();

  // A failing query in the middle is skipped and does not show in the status...
  driver.failures["ListDevices 1"] = d2xx::FT_DEVICE_NOT_FOUND;
  Listing middle = list("KMTCV1");
  EXPECT_EQ(middle.count, 2);
  EXPECT_EQ(middle.status, 0);
  driver.failures.clear();
  // ...a failing last query does, although earlier devices were listed.
  driver.failures["ListDevices 2"] = d2xx::FT_INVALID_PARAMETER;
  Listing last = list("KMTCV1");
  EXPECT_EQ(last.count, 2);
  EXPECT_EQ(last.status, 6);
  std::int32_t status = -1;
  std::string type, serial;
  lib->session.get_type_and_sn_by_index(0, &type, &serial, &status);
  EXPECT_EQ(status, 6);
}

TEST_F(Connection, AtMostTwoHundredFiftyFiveDevicesAreQueried) {
  driver.serials.clear();
  for (int i = 0; i < 300; ++i) driver.serials.push_back("KMTC0002N" + std::to_string(i));
  Listing got = list("KMTCV1");
  EXPECT_EQ(got.count, 255);
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(driver.calls.back(), "ListDevices 254");
  EXPECT_EQ(lib->transport.device_count, 255u);
  EXPECT_EQ(entry(254).second, "N254");
  EXPECT_EQ(entry(255), std::make_pair(std::string(), std::string()));
}

TEST_F(Connection, OpenConfiguresTheLinkInOrder) {
  EXPECT_EQ(open("KMTC0002TEST01"), 0);
  EXPECT_THAT(driver.calls,
              ElementsAre("OpenEx KMTC0002TEST01", "ResetDevice", "SetBaudRate 250000",
                          "SetDataCharacteristics 8 0 0", "SetFlowControl 0 17 19", "Purge 2",
                          "Purge 1", "SetTimeouts 50 50"));
  EXPECT_EQ(platform.sleeps, std::vector<std::uint32_t>{200});
  EXPECT_TRUE(lib->session.device_open());
  EXPECT_NE(handle, 0u);
  EXPECT_NE(handle, 0xDEADBEEF);
}

TEST_F(Connection, FailureAnywhereInTheSetUpLeavesTheDeviceClosed) {
  struct Row {
    const char *failing;
    std::size_t calls_made;
  } rows[] = {
      {"OpenEx", 1},         {"ResetDevice", 2}, {"SetBaudRate", 3}, {"SetDataCharacteristics", 4},
      {"SetFlowControl", 5}, {"Purge 2", 6},     {"Purge 1", 7},     {"SetTimeouts", 8},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.failing);
    rebuild();
    driver.calls.clear();
    platform.sleeps.clear();
    // The close that lets the half-configured device go fails too: its code must not
    // replace the failing step's.
    driver.failures = {{row.failing, d2xx::FT_IO_ERROR}, {"Close", d2xx::FT_INVALID_HANDLE}};
    EXPECT_EQ(open("KMTC0002TEST01"), 1);
    EXPECT_EQ(handle, 0u) << "no handle after a failure";
    const bool opened = row.calls_made > 1;
    ASSERT_EQ(driver.calls.size(), row.calls_made + (opened ? 1 : 0));
    EXPECT_EQ(driver.calls.back() == "Close", opened) << "an opened device is closed again";
    EXPECT_TRUE(platform.sleeps.empty());
    EXPECT_FALSE(lib->session.device_open());
    EXPECT_EQ(lib->session.last_result(), d2xx::FT_IO_ERROR);
    EXPECT_TRUE(platform.errors.empty()) << "reports are off from the first open";
  }
}

TEST_F(Connection, FailedOpenNeverHandsOutAnotherDevicesHandle) {
  driver.serials = {"KMTC0002A", "KMTC0002B"};
  ASSERT_EQ(open("KMTC0002A"), 0);
  const std::uint32_t first = handle;
  EXPECT_EQ(open("KMTC0002NOPE"), 1);
  EXPECT_EQ(handle, 0u);
  // A set-up failure: the device is let go and can be opened again at once.
  driver.failures = {{"SetTimeouts", d2xx::FT_IO_ERROR}};
  EXPECT_EQ(open("KMTC0002B"), 1);
  EXPECT_EQ(handle, 0u);
  driver.failures.clear();
  EXPECT_EQ(open("KMTC0002B"), 0);
  EXPECT_NE(handle, 0u);
  // Tokens differ where the library hands out its own; on a 32-bit platform the handle
  // is the driver's, and this driver has only one.
  if constexpr (sizeof(void *) > sizeof(std::uint32_t)) {
    EXPECT_NE(handle, first);
  }
  // The caller's 0 closes nothing.
  std::uint32_t none = 0;
  driver.calls.clear();
  lib->session.close(&none);
  EXPECT_TRUE(driver.calls.empty());
}

TEST_F(Connection, OpenPassesTheSerialUpToFortyNineCharacters) {
  std::string long_serial = "KMTC0002" + std::string(52, '7');
  driver.serials = {long_serial.substr(0, 49), ""};
  EXPECT_EQ(open(long_serial), 0);
  EXPECT_EQ(driver.calls[0], "OpenEx " + long_serial.substr(0, 49));
  EXPECT_EQ(open(""), 0);
  EXPECT_EQ(driver.calls[8], "OpenEx ");
}

TEST_F(Connection, UnknownSerialFailsAndLaterExchangesNeverReachTheLink) {
  EXPECT_EQ(open("KMTC0002NOPE"), 1);
  driver.calls.clear();
  lib->payload_length = 0;
  std::int32_t status = -1;
  lib->exchange(&handle, 1, 0, 0, &status);
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(driver.calls.empty());
}

TEST_F(Connection, CloseDisarmsTheExchangeAndKeepsTheHandleValue) {
  ASSERT_EQ(open("KMTC0002TEST01"), 0);
  std::uint32_t opened = handle;
  lib->session.close(&handle);
  EXPECT_EQ(handle, opened);
  EXPECT_FALSE(lib->session.device_open());
  EXPECT_EQ(driver.calls.back(), "Close");
  // The closed handle's token no longer reaches the driver.
  driver.calls.clear();
  lib->session.close(&handle);
  EXPECT_TRUE(driver.calls.empty());
}

TEST_F(Connection, ErrorReportsShowOnlyWhileSwitchedOn) {
  // Before any discovery or open, reports are on: closing a handle never opened shows one.
  std::uint32_t never_opened = 0;
  lib->session.close(&never_opened);
  EXPECT_THAT(platform.errors, ElementsAre("FT_Close - Invalid Handle..."));
  list("KMTCV1");
  lib->session.close(&never_opened);
  EXPECT_EQ(platform.errors.size(), 1u);
}

TEST(ErrorText, NamesEachDriverCode) {
  struct Row {
    d2xx::FT_STATUS code;
    const char *text;
  } rows[] = {
      {1, " - Invalid Handle..."},         {2, " - Device Not Found...."},
      {3, " - Device Not Opened..."},      {4, " - General IO Error..."},
      {5, " - Insufficient Resources..."}, {6, " - Invalid Parameter ..."},
      {7, " - Invalid Baud Rate..."},      {18, " - Driver Error 18..."},
  };
  for (const Row &row : rows) EXPECT_EQ(error_text(row.code), row.text);
}

TEST(HandleTable, TokensAreNonZeroDistinctAndForgotten) {
  HandleTable table;
  int a = 0, b = 0;
  std::uint32_t ta = table.add(&a);
  std::uint32_t tb = table.add(&b);
  EXPECT_NE(ta, 0u);
  EXPECT_NE(ta, tb);
  EXPECT_EQ(table.add(&a), ta);
  EXPECT_EQ(table.find(ta), &a);
  EXPECT_EQ(table.find(0), nullptr);
  table.remove(ta);
  EXPECT_EQ(table.find(ta), nullptr);
  EXPECT_EQ(table.find(tb), &b);
}

TEST(Providers, UnknownOrMissingDriversAreUnavailableNotFatal) {
  struct Row {
    const char *name;
    const char *reason_part;
  } rows[] = {
      {"bogus", "unknown driver"},
      {"/nonexistent/libnothing.so", "libnothing"},
  };
  for (const Row &row : rows) {
    std::string error;
    auto driver = make_driver(row.name, &error);
    ASSERT_NE(driver, nullptr);
    EXPECT_NE(error.find(row.reason_part), std::string::npos) << error;
    d2xx::DWORD count = 7;
    EXPECT_EQ(driver->ListDevices(&count, nullptr, d2xx::FT_LIST_NUMBER_ONLY),
              d2xx::FT_DEVICE_NOT_FOUND);
  }
}

TEST(Providers, LibraryLackingSymbolsIsRefused) {
  std::string error;
  // The system's C library exports none of the driver's functions.
#if defined(_WIN32)
  auto driver = load_driver_library("msvcrt.dll", &error);
#else
  auto driver = load_driver_library("libc.so.6", &error);
#endif
  EXPECT_EQ(driver, nullptr);
  EXPECT_NE(error.find("FT_ListDevices"), std::string::npos) << error;
}

}  // namespace
}  // namespace kmt::testing
