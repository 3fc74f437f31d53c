// A controller on another machine, as far as loopback can show it: the simulated
// controller behind a pseudo-terminal, shared by Debian's ser2net (telnet with the
// COM-port option), reached through the rfc2217 provider. Runs in its own process
// (tests/CMakeLists.txt): the library takes KMT_DRIVER once per process. Linux only;
// skipped with a message where ser2net is not installed.
#if defined(__linux__)

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kmtv1.h"
#include "tests/support/simulator_process.h"

namespace {

using Clock = std::chrono::steady_clock;
using kmt::test::Simulator;

constexpr const char *kSer2net = "/usr/sbin/ser2net";
constexpr const char *kSerial = "KMTC0002SIM00001";
// Constant inputs and every digital line high, so that a block read on the real clock
// equals one on the virtual clock, and the scan's bytes are all 0xFF: each one is the
// telnet escape, doubled on the wire.
constexpr const char *kSimOptions =
    "ai1=const:4.999,ai2=const:2.4988,ai3=const:0.0012,ai4=const:1.25,dio_in=111111111111";

// A loopback port nobody listens on now.
int free_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// Whether something listens on the loopback port (read from /proc/net/tcp, so that
// no connection is made: ser2net would open the terminal for it).
bool listening(int port) {
  std::ifstream table("/proc/net/tcp");
  char wanted[16];
  std::snprintf(wanted, sizeof wanted, ":%04X", port);
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (local.size() > 5 && local.substr(local.size() - 5) == wanted && state == "0A") return true;
  }
  return false;
}

// ser2net in the foreground with a generated configuration: one telnet(rfc2217)
// accepter on a loopback port in front of the terminal, without character batching,
// answering the signature request with the controller's serial string.
class Ser2net {
 public:
  Ser2net(const std::string &terminal, int port) : port_(port) {
    config_ = ::testing::TempDir() + "ser2net-" + std::to_string(port) + ".yaml";
    std::ofstream(config_) << "%YAML 1.1\n---\nconnection: &controller\n"
                           << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << port << "\n"
                           << "  connector: serialdev," << terminal << ",250000n81,local\n"
                           << "  options:\n    chardelay: false\n    signature: " << kSerial
                           << "\n";
    start();
  }
  ~Ser2net() {
    stop();
    std::remove(config_.c_str());
  }

  bool start() {
    pid_ = ::fork();
    if (pid_ == 0) {
      int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl(kSer2net, "ser2net", "-n", "-d", "-c", config_.c_str(), static_cast<char *>(nullptr));
      ::_exit(127);
    }
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!listening(port_) && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return listening(port_);
  }

  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  int port_;
  std::string config_;
  pid_t pid_ = -1;
};

struct Acquired {
  std::vector<uint16_t> block = std::vector<uint16_t>(4 * 2001);
  std::vector<uint8_t> scan = std::vector<uint8_t>(4001);
  int32_t block_status = -1, scan_status = -1;
};

// A 4 x 2001 block of the four analog inputs and a 4001-sample scan of port 0.
Acquired acquire(uint32_t *handle) {
  Acquired a;
  uint8_t trailer = 0;
  uint32_t trailer_value = 0;
  int32_t channels = 0;
  double duration = 0, period = 0;
  uint16_t *b = a.block.data();
  AI_Read(handle, 1, 1, 1, 1, 0, 0, 100, 10, 0, 2000, 2.5, &trailer, &trailer_value, b, b + 2001,
          b + 4002, b + 6003, &channels, &duration, &a.block_status);
  DIO_ScanPort(handle, 0, 0, 0, 10, 0, 4000, &trailer, a.scan.data(), &period, &a.scan_status);
  return a;
}

// The same acquisition from the in-process simulator, in a child process of its own
// (this process's library will take another KMT_DRIVER).
Acquired acquire_in_process() {
  Acquired a;
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return a;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("KMT_DRIVER", (std::string("sim:clock=virtual,") + kSimOptions).c_str(), 1);
    int32_t status = -1;
    uint32_t handle = 0;
    KMT_InitBySN(&handle, kSerial, &status);
    Acquired r = acquire(&handle);
    ssize_t ok = ::write(pipe_fds[1], &r.block_status, sizeof r.block_status) +
                 ::write(pipe_fds[1], &r.scan_status, sizeof r.scan_status) +
                 ::write(pipe_fds[1], r.block.data(), r.block.size() * 2) +
                 ::write(pipe_fds[1], r.scan.data(), r.scan.size());
    ::_exit(status == 0 && ok > 0 ? 0 : 1);
  }
  ::close(pipe_fds[1]);
  std::string bytes;
  char chunk[4096];
  for (ssize_t n; (n = ::read(pipe_fds[0], chunk, sizeof chunk)) > 0;) bytes.append(chunk, n);
  ::close(pipe_fds[0]);
  ::waitpid(pid, nullptr, 0);
  if (bytes.size() == 8 + a.block.size() * 2 + a.scan.size()) {
    std::memcpy(&a.block_status, bytes.data(), 4);
    std::memcpy(&a.scan_status, bytes.data() + 4, 4);
    std::memcpy(a.block.data(), bytes.data() + 8, a.block.size() * 2);
    std::memcpy(a.scan.data(), bytes.data() + 8 + a.block.size() * 2, a.scan.size());
  }
  return a;
}

// Runs the tool with KMT_DRIVER as set here; returns its standard output or error.
std::string tool_output(const std::string &tool, const std::string &arguments, bool errors) {
  std::string command = tool + " " + arguments + (errors ? " 2>&1 >/dev/null" : " 2>/dev/null");
  std::string text;
  if (FILE *p = ::popen(command.c_str(), "r")) {
    char chunk[512];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, p)) > 0;) text.append(chunk, n);
    ::pclose(p);
  }
  return text;
}

TEST(Rfc2217Ser2net, DiscoverDoctorOpenEveryFamilyBlocksSecondClientServerLostAndBack) {
  const char *tool = std::getenv("KMT_TEST_KMTV1");
  if (tool == nullptr) GTEST_SKIP() << "needs KMT_TEST_KMTV1 (the kmtv1 tool)";
  if (::access(kSer2net, X_OK) != 0) {
    GTEST_SKIP() << "ser2net is not installed (" << kSer2net << "): apt-get install ser2net";
  }
  // Before this process's library takes its driver.
  Acquired expected = acquire_in_process();
  ASSERT_EQ(expected.block_status, 0);
  ASSERT_EQ(expected.scan_status, 0);

  // The second identification answer comes 1 s late: ser2net is ended while it waits.
  Simulator sim(std::string(tool) + " simulate --pty " + kSimOptions +
                ",fault=delay:1000000#1.0@1");
  ASSERT_EQ(sim.first_line().rfind("tty:/dev/pts/", 0), 0u) << sim.first_line();
  std::string terminal = sim.first_line().substr(4, sim.first_line().find('=') - 4);
  int port = free_port();
  Ser2net server(terminal, port);
  std::string driver = "rfc2217:127.0.0.1:" + std::to_string(port);
  ::setenv("KMT_DRIVER", driver.c_str(), 1);

  // Discovered by the server's signature.
  int32_t count = -1, status = -1;
  KMT_CreateListDevs("KMTCV1", &count, &status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(count, 1);
  char type[KMT_STRING_SIZE], serial[KMT_STRING_SIZE];
  KMT_GetTypeAndSNbyIndex(0, type, serial, &status);
  std::string full = std::string(type) + serial;
  EXPECT_EQ(full, kSerial);
  // doctor's view of the server, before this process holds the port.
  std::string report = tool_output(tool, "doctor", false);
  for (const char *line :
       {"reachable; telnet binary both ways and the COM-port option negotiated",
        "signature: \"KMTC0002SIM00001\"", "250000 baud 8N1 without flow control: accepted",
        "a controller can be opened"}) {
    EXPECT_NE(report.find(line), std::string::npos) << line << " in:\n" << report;
  }

  uint32_t handle = 0;
  KMT_InitBySN(&handle, full.c_str(), &status);
  ASSERT_EQ(status, 0);

  kmt::test::call_every_family(&handle);
  Acquired got = acquire(&handle);
  EXPECT_EQ(got.block_status, 0);
  EXPECT_EQ(got.scan_status, 0);
  EXPECT_EQ(got.block, expected.block) << "4 x 2001 block";
  EXPECT_EQ(got.scan, expected.scan) << "4001-sample scan";

  // A second client (another program) is refused, and says why; the first goes on.
  EXPECT_NE(tool_output(tool, "list", true).find("Port already in use"), std::string::npos);
  uint8_t port0 = 0;
  DIO_ReadPort(&handle, 0, &port0, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(port0, 0xFF);

  // ser2net is killed while an answer is awaited: the exchange fails at once (status 2),
  // the next one with status 1, and nothing waits for the late answer.
  auto start = Clock::now();
  std::thread killer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.stop();
  });
  uint16_t w[4] = {77, 0, 0, 0};
  SYS_GetFirmWare(&handle, &w[0], &w[1], &w[2], &w[3], &status);
  killer.join();
  EXPECT_EQ(status, 2);
  EXPECT_EQ(w[0], 77);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(900)) << "not the late answer's 1 s";
  auto again = Clock::now();
  DIO_ReadPort(&handle, 0, &port0, &status);
  EXPECT_EQ(status, 1) << "the handle stays failed";
  EXPECT_LT(Clock::now() - again, std::chrono::milliseconds(100));
  KMT_Close(&handle, 0);

  // ser2net back (after the late answer has gone to the terminal): a new open connects
  // afresh and works.
  std::this_thread::sleep_for(std::chrono::milliseconds(1200) - (Clock::now() - start));
  ASSERT_TRUE(server.start());
  KMT_InitBySN(&handle, full.c_str(), &status);
  ASSERT_EQ(status, 0);
  DIO_ReadPort(&handle, 0, &port0, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(port0, 0xFF);
  KMT_Close(&handle, 0);
}

}  // namespace

#endif
