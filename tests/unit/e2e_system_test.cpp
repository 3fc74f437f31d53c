// System and identity functions end to end: the exported functions against the
// simulated controller on its virtual clock, including a restart from its state file.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>

#include "kmtv1.h"
#include "sim/system.h"
#include "tests/unit/e2e_sim_fixture.h"

namespace kmt::testing {
namespace {

namespace fs = std::filesystem;

class E2eSystem : public SimAbiFixture {
 protected:
  void SetUp() override {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / ("kmtv1-e2e-" + std::string(info->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    SimAbiFixture::TearDown();  // the instance goes before the folder of its state file
    fs::remove_all(dir_);
  }

  fs::path dir_;
};

TEST_F(E2eSystem, UserMemorySurvivesARestartThroughTheStateFile) {
  const std::string state = "state=" + (dir_ / "nv.txt").string();
  std::array<std::uint8_t, 16> sn{'S', 'N', 0, 1, 2, 0xFF, 0x80, 'z'};
  std::array<std::uint8_t, 128> area;
  std::iota(area.begin(), area.end(), 100);

  ASSERT_NO_FATAL_FAILURE(start(state));
  std::array<std::uint8_t, 128> read{};
  std::int32_t status = -1;
  SYS_ReadUserArea(&handle, read.data(), &status);
  EXPECT_EQ(status, 0);
  for (std::uint8_t b : read) EXPECT_EQ(b, 0xFF);  // never written: erased

  SYS_WriteUserSN(&handle, sn.data(), &status);
  EXPECT_EQ(status, 0);
  SYS_WriteUserArea(&handle, area.data(), &status);
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(fs::exists(dir_ / "nv.txt.tmp"));

  // Restart: a new controller that knows only the file.
  ASSERT_NO_FATAL_FAILURE(start(state));
  std::array<std::uint8_t, 16> sn_read{};
  read.fill(0);
  SYS_ReadUserSN(&handle, sn_read.data(), &status);
  EXPECT_EQ(status, 0);
  SYS_ReadUserArea(&handle, read.data(), &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(sn_read, sn);
  EXPECT_EQ(read, area);

  // Without the state file a restart starts from erased memory.
  ASSERT_NO_FATAL_FAILURE(start("devices=1"));
  SYS_ReadUserSN(&handle, sn_read.data(), &status);
  for (std::uint8_t b : sn_read) EXPECT_EQ(b, 0xFF);
}

TEST_F(E2eSystem, StateFileKeepsOtherControllers) {
  const fs::path file = dir_ / "nv.txt";
  {
    std::ofstream out(file);
    out << "KMTC0002OTHER " << std::string(32, 'a') << ' ' << std::string(256, 'b') << '\n';
  }
  ASSERT_NO_FATAL_FAILURE(start("state=" + file.string()));
  std::array<std::uint8_t, 16> sn{};
  std::int32_t status = -1;
  SYS_ReadUserSN(&handle, sn.data(), &status);
  for (std::uint8_t b : sn) EXPECT_EQ(b, 0xFF);  // no line of its own: erased
  sn.fill(0x42);
  SYS_WriteUserSN(&handle, sn.data(), &status);
  EXPECT_EQ(status, 0);

  std::ifstream in(file);
  std::string first, second, rest;
  std::getline(in, first);
  std::getline(in, second);
  EXPECT_EQ(first.rfind("KMTC0002OTHER ", 0), 0u);
  std::string sn_hex;
  for (int i = 0; i < 16; ++i) sn_hex += "42";
  EXPECT_EQ(second, "KMTC0002SIM00001 " + sn_hex + ' ' + std::string(256, 'f'));
  EXPECT_FALSE(std::getline(in, rest));
}

TEST_F(E2eSystem, UnwritableStateFileIsReported) {
  ASSERT_NO_FATAL_FAILURE(start("state=" + (dir_ / "missing" / "nv.txt").string()));
  std::array<std::uint8_t, 16> sn{};
  std::int32_t status = -1;
  SYS_WriteUserSN(&handle, sn.data(), &status);
  EXPECT_EQ(status, KMT_STATUS_BAD_RESPONSE);
}

TEST_F(E2eSystem, IdentityWatchdogAndCounter) {
  ASSERT_NO_FATAL_FAILURE(start("devices=1"));
  std::uint16_t f1 = 0, f2 = 0, f3 = 0, f4 = 0;
  std::int32_t status = -1;
  SYS_GetFirmWare(&handle, &f1, &f2, &f3, &f4, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ((std::array<std::uint16_t, 4>{f1, f2, f3, f4}),
            (std::array<std::uint16_t, 4>{1, 0, 43, 2}));

  for (std::uint8_t value : {0, 0x5A, 255}) {
    WatchDog(&handle, value, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(sim->controller(0).part<sim::SystemArea>().watchdog, value);
  }

  // The counter follows the controller's clock in milliseconds.
  std::uint32_t before = 0, after = 0;
  SYS_ReadCount(&handle, &before, &status);
  EXPECT_EQ(status, 0);
  sim->virtual_clock()->advance_us(5'000'000);
  SYS_ReadCount(&handle, &after, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(after - before, 5000u);
}

}  // namespace
}  // namespace kmt::testing
