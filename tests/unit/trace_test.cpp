// Protocol traces: the recording provider in front of the simulated controller, and the
// replay provider serving what it wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "library/driver_choice.h"
#include "tests/support/scripted_driver.h"
#include "transport/trace.h"

namespace kmt {
namespace {

using namespace d2xx;
using testing::Bytes;
using testing::request_frame;

TEST(TraceSpec, SplitsFileFromInnerDriver) {
  struct Case {
    const char *driver_text, *file, *inner;
  } cases[] = {
      {"t.txt:sim:clock=virtual", "t.txt", "sim:clock=virtual"},
      {"t.txt", "t.txt", ""},
      {"C:\\logs\\t.txt:sim", "C:\\logs\\t.txt", "sim"},
      {"C:/t.txt:d2xx", "C:/t.txt", "d2xx"},
      {"/tmp/t:/opt/lib.so", "/tmp/t", "/opt/lib.so"},
  };
  for (const auto &c : cases) {
    std::string file, inner;
    split_trace_argument(c.driver_text, &file, &inner);
    EXPECT_EQ(file, c.file) << c.driver_text;
    EXPECT_EQ(inner, c.inner) << c.driver_text;
  }
}

class TraceFile : public ::testing::Test {
 protected:
  void TearDown() override { std::remove(path.c_str()); }
  void write(const std::string &text) { std::ofstream(path) << text; }
  std::string path = ::testing::TempDir() + "kmtv1_trace_test.txt";
};

TEST_F(TraceFile, ReplayRefusesLinesThatDoNotParse) {
  const char *bad[] = {"0.1 > 1g = 0\n", "0.1 < 10 00\n", "0.1\n", "0.1 open X = x\n"};
  for (const char *line : bad) {
    write(std::string("# kmtv1 trace 1\n0.0 list-count 1 = 0\n") + line);
    std::string error;
    EXPECT_EQ(make_replay_driver(path, &error), nullptr) << line;
    EXPECT_NE(error.find(":3:"), std::string::npos) << error;
  }
}

TEST_F(TraceFile, FilesThatAreNotTracesAreRefused) {
  std::string big = path + ".big";
  std::ofstream(big).close();
  std::filesystem::resize_file(big, kReplayMaxBytes + 1);  // sparse: nothing written
  struct Case {
    std::string file;
    bool replay;  // else recording
    const char *reason;
  };
  const Case cases[] = {
    {::testing::TempDir(), true, "directory"},
    {big, true, "larger than 16 MiB"},
    {"/nonexistent/trace", true, "cannot read"},
    {"/nonexistent/trace", false, "cannot write"},
#if !defined(_WIN32)
    {"/dev/zero", true, "not a regular file"},  // without end
    {"/dev/full", false, "not a regular file"},
#endif
  };
  for (const auto &c : cases) {
    std::string error;
    auto driver = c.replay ? make_replay_driver(c.file, &error)
                           : make_trace_driver(c.file, make_driver("sim"), &error);
    EXPECT_EQ(driver, nullptr) << c.file;
    EXPECT_NE(error.find(c.file), std::string::npos) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  std::remove(big.c_str());
}

Bytes exchange(Driver &d, FT_HANDLE h, const Bytes &request, DWORD want) {
  Bytes copy = request, answer(want);
  DWORD n = 0;
  EXPECT_EQ(d.Write(h, copy.data(), static_cast<DWORD>(copy.size()), &n), FT_OK);
  EXPECT_EQ(d.Read(h, answer.data(), want, &n), FT_OK);
  answer.resize(n);
  return answer;
}

FT_HANDLE open(Driver &d, const char *serial) {
  std::string copy = serial;
  FT_HANDLE h = nullptr;
  EXPECT_EQ(d.OpenEx(copy.data(), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_OK);
  d.SetBaudRate(h, 250000);
  d.SetDataCharacteristics(h, 8, 0, 0);
  d.SetFlowControl(h, 0, 0, 0);
  d.SetTimeouts(h, 50, 50);
  return h;
}

TEST_F(TraceFile, ReplayServesTheRecordedAnswersInOrder) {
  const Bytes firmware = request_frame(1, 0, {});
  const Bytes port_read = request_frame(16, 2, {0});
  Bytes recorded[2];
  {
    std::string error;
    auto traced = make_driver("trace:" + path + ":sim:clock=virtual", &error);
    ASSERT_TRUE(error.empty()) << error;
    FT_HANDLE h = open(*traced, "KMTC0002SIM00001");
    recorded[0] = exchange(*traced, h, firmware, 64);
    recorded[1] = exchange(*traced, h, port_read, 64);
    traced->Close(h);
  }
  ASSERT_EQ(recorded[0].size(), 12u);  // header, eight payload bytes, checksum

  std::string error;
  auto replay = make_driver("replay:" + path, &error);
  ASSERT_TRUE(error.empty()) << error;
  DWORD count = 0;
  ASSERT_EQ(replay->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 1u);
  FT_HANDLE h = open(*replay, "KMTC0002SIM00001");
  EXPECT_EQ(exchange(*replay, h, firmware, 64), recorded[0]);
  EXPECT_EQ(exchange(*replay, h, port_read, 64), recorded[1]);
  // Past the end of the trace, or with a request it never saw: no answer.
  EXPECT_EQ(exchange(*replay, h, firmware, 64), Bytes{});
  FT_HANDLE other = nullptr;
  std::string unknown = "KMTC0002OTHER";
  EXPECT_EQ(replay->OpenEx(unknown.data(), FT_OPEN_BY_SERIAL_NUMBER, &other), FT_DEVICE_NOT_FOUND);
}

}  // namespace
}  // namespace kmt
