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
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kmtv1.h"

namespace {

using Clock = std::chrono::steady_clock;

// The simulator's process: its standard input stays open (it serves until that ends),
// its first line of output is the KMT_DRIVER value.
class Simulator {
 public:
  explicit Simulator(const std::string &command) {
    std::vector<std::string> words;
    std::istringstream in(command);
    for (std::string w; in >> w;) words.push_back(w);
    int to_child[2], from_child[2];
    if (words.empty() || ::pipe(to_child) != 0 || ::pipe(from_child) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(to_child[0], 0);
      ::dup2(from_child[1], 1);
      ::close(to_child[1]);
      ::close(from_child[0]);
      std::vector<char *> argv;
      for (std::string &w : words) argv.push_back(w.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    stdin_ = to_child[1];
    // The first line, waited for at most 5 s.
    pollfd pfd{from_child[0], POLLIN, 0};
    char c = 0;
    while (::poll(&pfd, 1, 5000) > 0 && ::read(from_child[0], &c, 1) == 1 && c != '\n') {
      first_line_ += c;
    }
    ::close(from_child[0]);
  }
  ~Simulator() { stop(); }

  const std::string &first_line() const { return first_line_; }

  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    ::close(stdin_);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  std::string first_line_;
};

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

  // One call of each function family; each must come back answered.
  uint16_t w[4] = {};
  double v[4] = {};
  uint8_t byte = 0, rom[8] = {}, trailer = 0;
  uint16_t samples[2] = {}, pulses = 0;
  uint32_t trailer_value = 0;
  int32_t channels = 0;
  double duration = 0;
  struct Call {
    const char *family;
    std::function<void(int32_t *)> run;
  } calls[] = {
      {"system", [&](int32_t *s) { SYS_GetFirmWare(&handle, &w[0], &w[1], &w[2], &w[3], s); }},
      {"digital", [&](int32_t *s) { DIO_ReadPort(&handle, 0, &byte, s); }},
      {"analog", [&](int32_t *s) { AI_SimpleRead(&handle, &v[0], &v[1], &v[2], &v[3], s); }},
      {"I2C and SPI", [&](int32_t *s) { I2C_Init(&handle, s); }},
      {"UART", [&](int32_t *s) { UART_Init(&handle, 9600, 0, 0, s); }},
      {"1-Wire", [&](int32_t *s) { WR1_SearchRom(&handle, &byte, rom, s); }},
      {"generator and counter", [&](int32_t *s) { CountImp(&handle, 0, &pulses, s); }},
      {"block acquisition",
       [&](int32_t *s) {
         AI_Read(&handle, 1, 0, 0, 0, 0, 0, 100, 10, 0, 1, 2.5, &trailer, &trailer_value, samples,
                 nullptr, nullptr, nullptr, &channels, &duration, s);
       }},
  };
  for (const Call &call : calls) {
    status = -1;
    call.run(&status);
    EXPECT_EQ(status, 0) << call.family;
  }
  EXPECT_EQ(w[0], 1) << "firmware words over the terminal";

  // The terminal is held exclusively: a second open fails (and disarms the exchange).
  uint32_t second = 0;
  KMT_InitBySN(&second, full.c_str(), &status);
  EXPECT_EQ(status, 1);
  KMT_Close(&handle, 0);
  KMT_InitBySN(&handle, full.c_str(), &status);
  ASSERT_EQ(status, 0) << "open again after close";

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
