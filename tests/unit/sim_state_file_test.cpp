// The simulated controllers' state file as a store that loses nothing: what cannot be
// read is never written over, writes keep the file's mode and links, and processes
// sharing the file lose no update.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "device/functions.h"
#include "library/instance.h"
#include "sim/sim_driver.h"
#include "tests/support/scripted_driver.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kmt::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char *kSerial = "KMTC0002SIM00001";
const std::string kErasedArea(256, 'f');

std::string line_of(const std::string &serial, const std::string &sn_hex) {
  return serial + ' ' + sn_hex + ' ' + kErasedArea + '\n';
}

// A serial number of 16 equal bytes as the file spells it.
std::string hex_of(std::uint8_t byte) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (int i = 0; i < 16; ++i) hex += {kDigits[byte >> 4], kDigits[byte & 0xF]};
  return hex;
}

std::string contents(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void put(const fs::path &path, const std::string &text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A library on a simulated controller whose memory lives in a state file.
struct Controller {
  explicit Controller(const std::string &state, const std::string &serials = kSerial,
                      const std::string &serial = kSerial) {
    std::string error;
    auto made =
        sim::SimDriver::create("clock=virtual,serials=" + serials + ",state=" + state, &error);
    EXPECT_NE(made, nullptr) << error;
    warning = made->warning();
    lib = std::make_unique<Library>(std::move(made), platform);
    std::int32_t status = -1;
    lib->session.init_by_sn(&handle, serial, &status);
    EXPECT_EQ(status, 0);
  }
  std::int32_t write_sn(std::uint8_t fill) {
    std::array<std::uint8_t, 16> sn;
    sn.fill(fill);
    std::int32_t status = -1;
    device::SYS_WriteUserSN(*lib, &handle, sn.data(), &status);
    return status;
  }
  std::int32_t read_sn(std::array<std::uint8_t, 16> *sn) {
    std::int32_t status = -1;
    device::SYS_ReadUserSN(*lib, &handle, sn->data(), &status);
    return status;
  }

  RecordingPlatform platform;
  std::unique_ptr<Library> lib;
  std::uint32_t handle = 0;
  std::string warning;
};

class StateFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::temp_directory_path() / ("kmtv1-state-" + std::string(info->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_F(StateFile, WhatCannotBeUsedIsReportedAndNeverWrittenOver) {
  const std::string other = line_of("KMTC0002OTHER", std::string(32, 'a'));
  struct Row {
    const char *name;
    std::function<void(const fs::path &)> prepare;
    const char *warning;  // part of the report; empty: none
  } rows[] = {
      {"a folder where the file should be",
       [](const fs::path &file) { fs::create_directory(file); }, "cannot be read"},
      {"own line damaged",
       [&](const fs::path &file) { put(file, other + kSerial + " notHex " + kErasedArea + '\n'); },
       "line 2 is damaged"},
      {"another controller's line damaged",
       [&](const fs::path &file) { put(file, "KMTC0002X 00\n" + other); }, "line 1 is damaged"},
      {"a line cut short", [&](const fs::path &file) { put(file, other + kSerial); },
       "line 2 is damaged"},
      {"a line with a field too many",
       [&](const fs::path &file) { put(file, other.substr(0, other.size() - 1) + " 00\n"); },
       "line 1 is damaged"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path file = dir / row.name;
    row.prepare(file);
    const std::string before = fs::is_regular_file(file) ? contents(file) : "";
    Controller controller(file.string());
    EXPECT_NE(controller.warning.find(row.warning), std::string::npos) << controller.warning;
    std::array<std::uint8_t, 16> sn{};
    EXPECT_EQ(controller.read_sn(&sn), 2) << "not read as erased";
    EXPECT_EQ(controller.write_sn(0x42), 2);
    if (fs::is_regular_file(file)) {
      EXPECT_EQ(contents(file), before);
    }
    for (const fs::directory_entry &entry : fs::directory_iterator(dir)) {
      EXPECT_EQ(entry.path().string().find(".tmp."), std::string::npos) << "left behind";
    }
  }
}

TEST_F(StateFile, DamageAfterTheStartFailsTheWriteAndKeepsTheFile) {
  const fs::path file = dir / "nv.txt";
  Controller controller(file.string());
  ASSERT_EQ(controller.write_sn(0x11), 0);
  put(file, "garbage\n");
  EXPECT_EQ(controller.write_sn(0x22), 2);
  EXPECT_EQ(contents(file), "garbage\n");
}

TEST_F(StateFile, ReadOnlyFileIsReadButNotReplaced) {
  const fs::path file = dir / "nv.txt";
  put(file, line_of(kSerial, std::string(32, '5')));
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
  Controller controller(file.string());
  EXPECT_EQ(controller.warning, "");
  std::array<std::uint8_t, 16> sn{};
  EXPECT_EQ(controller.read_sn(&sn), 0);
  EXPECT_EQ(sn[0], 0x55);
  EXPECT_EQ(controller.write_sn(0x42), 2);
  EXPECT_EQ(contents(file), line_of(kSerial, std::string(32, '5')));
}

TEST_F(StateFile, WritesKeepTheModeAndGoThroughSymlinks) {
  const fs::path target = dir / "target.txt", link = dir / "link.txt";
  put(target, line_of("KMTC0002OTHER", std::string(32, 'a')));
  const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(target, mode);
  fs::create_symlink("target.txt", link);  // relative, as users make them
  Controller controller(link.string());
  ASSERT_EQ(controller.write_sn(0x42), 0);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::status(target).permissions(), mode);
  EXPECT_EQ(contents(target),
            line_of("KMTC0002OTHER", std::string(32, 'a')) + line_of(kSerial, hex_of(0x42)));
}

#if !defined(_WIN32)
TEST_F(StateFile, TwoProcessesSharingTheFileLoseNoUpdate) {
  constexpr int kWrites = 1000;
  const fs::path file = dir / "nv.txt";
  const std::string serials = "KMTC0002P0+KMTC0002P1";
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = fork();
    ASSERT_GE(children[p], 0);
    if (children[p] == 0) {
      // Each process writes its own controller's serial number, counting up.
      Controller controller(file.string(), serials, "KMTC0002P" + std::to_string(p));
      int failures = 0;
      for (int i = 0; i < kWrites; ++i) {
        if (controller.write_sn(static_cast<std::uint8_t>(i)) != 0) ++failures;
      }
      _exit(failures == 0 ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "every write reported 0";
  }
  // Both processes' last writes (999, 0xe7 in a byte) are in the file.
  const std::string last = hex_of(static_cast<std::uint8_t>(kWrites - 1));
  const std::string text = contents(file);
  EXPECT_NE(text.find(line_of("KMTC0002P0", last)), std::string::npos) << text;
  EXPECT_NE(text.find(line_of("KMTC0002P1", last)), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}
#endif

}  // namespace
}  // namespace kmt::testing
