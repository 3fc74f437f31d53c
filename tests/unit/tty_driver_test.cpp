// The kernel serial-driver provider: ports found in a fake sysfs tree, and the
// operations on a pseudo-terminal whose other side the test plays.
#if defined(__linux__)

#include <asm/termbits.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "library/driver_choice.h"
#include "tools/doctor/doctor.h"
#include "transport/driver.h"
#include "transport/tty_driver.h"
#include "transport/tty_sysfs.h"

namespace kmt::testing {
namespace {

using namespace d2xx;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A sysfs tree under a temporary directory, laid out as the kernel lays it out: the
// port directory below its USB interface below its USB device, reached through
// bus/usb-serial/devices, with a driver link.
class FakeSysfs {
 public:
  FakeSysfs() {
    root_ = fs::temp_directory_path() /
            ("kmt-sysfs-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    fs::create_directories(root_ / "bus/usb-serial/devices");
    fs::create_directories(root_ / "bus/usb-serial/drivers");
    fs::create_directories(root_ / "bus/usb/devices");
  }
  ~FakeSysfs() { fs::remove_all(root_); }

  void add(const std::string &tty, const std::string &usb, const std::string &driver,
           const std::string &serial, const std::string &vendor = "0403") {
    fs::path device = root_ / "devices/usb1" / usb;
    fs::path interface = device / (usb + ":1.0");
    fs::path port = interface / tty;
    fs::create_directories(port);
    write(device / "idVendor", vendor);
    write(device / "idProduct", "6001");
    if (!serial.empty()) write(device / "serial", serial);
    write(port / "latency_timer", "16");
    fs::create_directories(root_ / "bus/usb-serial/drivers" / driver);
    fs::create_directory_symlink(root_ / "bus/usb-serial/drivers" / driver, port / "driver");
    fs::create_directory_symlink(port, root_ / "bus/usb-serial/devices" / tty);
    if (!fs::exists(root_ / "bus/usb/devices" / usb)) {
      fs::create_directory_symlink(device, root_ / "bus/usb/devices" / usb);
      fs::create_directory_symlink(interface, root_ / "bus/usb/devices" / (usb + ":1.0"));
      fs::create_directories(root_ / "drivers" / "usb-if");
      fs::create_directory_symlink(root_ / "drivers/usb-if", interface / "driver");
    }
  }
  std::string root() const { return root_.string(); }

 private:
  static void write(const fs::path &file, const std::string &text) {
    std::ofstream(file) << text << "\n";
  }
  static inline int counter_ = 0;
  fs::path root_;
};

TEST(TtySysfs, PortsInTtyNumberOrderOnlyThoseOfTheFtdiDriverAreListed) {
  FakeSysfs sysfs;
  sysfs.add("ttyUSB10", "1-3", "ftdi_sio", "KMTC0002C3");
  sysfs.add("ttyUSB2", "1-1", "ftdi_sio", "KMTC0002A1");
  sysfs.add("ttyUSB3", "1-2", "cp210x", "OTHER", "10c4");
  sysfs.add("ttyUSB0", "1-4", "ftdi_sio", "");

  auto ports = tty::serial_ports(sysfs.root());
  ASSERT_EQ(ports.size(), 4u);
  const char *order[] = {"ttyUSB0", "ttyUSB2", "ttyUSB3", "ttyUSB10"};
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(ports[i].tty, order[i]);
  EXPECT_EQ(ports[1].serial, "KMTC0002A1");
  EXPECT_EQ(ports[1].vendor_product, "0403:6001");
  EXPECT_EQ(ports[2].driver, "cp210x");

  auto driver = make_tty_driver("", nullptr, {sysfs.root(), "/nonexistent"});
  DWORD count = 0;
  ASSERT_EQ(driver->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
  ASSERT_EQ(count, 3u) << "the cp210x port is not the bridge's";
  const char *serials[] = {"", "KMTC0002A1", "KMTC0002C3"};
  for (std::uintptr_t i = 0; i < 3; ++i) {
    char serial[64] = "x";
    ASSERT_EQ(driver->ListDevices(reinterpret_cast<PVOID>(i), serial,
                                  FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
              FT_OK);
    EXPECT_STREQ(serial, serials[i]);
  }
  FT_HANDLE handle = nullptr;
  char wanted[] = "KMTC0002A1";
  EXPECT_EQ(driver->OpenEx(wanted, FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND)
      << "the device node is missing";
  char missing[] = "KMTC0002ZZ";
  EXPECT_EQ(driver->OpenEx(missing, FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);

  auto usb = tty::ftdi_usb_devices(sysfs.root());
  ASSERT_EQ(usb.size(), 3u) << "the other vendor's device is left out";
  EXPECT_EQ(usb[0].name, "1-1");
  EXPECT_EQ(usb[0].serial, "KMTC0002A1");
  EXPECT_EQ(usb[0].interface_drivers, std::vector<std::string>{"usb-if"});
}

TEST(TtyProvider, NamedTerminalSpecsThatAreRefused) {
  const char *driver_texts[] = {
      "dev/pts/1=A",  "/dev/pts/1", "/dev/pts/1=", "=A", "/dev/pts/1=A+/dev/pts/2=A",
      "/dev/pts/1=A+"};
  for (const char *driver_text : driver_texts) {
    std::string error;
    EXPECT_EQ(make_tty_driver(driver_text, &error), nullptr) << driver_text;
    EXPECT_FALSE(error.empty()) << driver_text;
  }
}

TEST(TtyProvider, WithoutTheVendorLibraryTheKernelDriverStandsInAndFindsNothing) {
  FakeSysfs empty;
  DriverChoice choice = choose_driver("", {"/nonexistent/libftd2xx.so", empty.root(), "/dev"});
  EXPECT_EQ(choice.provider, "tty");
  EXPECT_TRUE(choice.error.empty()) << choice.error;
  ASSERT_EQ(choice.tried.size(), 2u);
  EXPECT_NE(choice.tried[0].find("d2xx: "), std::string::npos);
  DWORD count = 7;
  EXPECT_EQ(choice.driver->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 0u);

  // Named outright, a missing vendor library stays an error.
  choice = choose_driver("d2xx", {"/nonexistent/libftd2xx.so", empty.root(), "/dev"});
  EXPECT_EQ(choice.provider, "none");
  EXPECT_FALSE(choice.error.empty());
}

TEST(Doctor, SaysWhatTheKernelSeesAndWhyNothingOpens) {
  FakeSysfs sysfs;
  sysfs.add("ttyUSB0", "1-1", "ftdi_sio", "KMTC0002A1");
  sysfs.add("ttyUSB1", "1-2", "ftdi_sio", "FT9XYZ");
  std::ostringstream out;
  tools::DoctorOptions options{nullptr, "/nonexistent/libftd2xx.so", sysfs.root(), "/nonexistent"};
  EXPECT_EQ(tools::run_doctor(out, options), 1);
  std::string report = out.str();
  const char *expected[] = {
      "driver: tty (KMT_DRIVER unset)",
      "tried d2xx: ",
      "vendor library /nonexistent/libftd2xx.so: not found",
      "FTDI USB devices the kernel sees: 2",
      "1-2 0403:6001 serial \"FT9XYZ\"",
      "not a controller",
      "ttyUSB0 serial \"KMTC0002A1\" driver ftdi_sio",
      "/nonexistent/ttyUSB0: missing",
      "latency timer: 16 ms",
      "devices through the tty driver: 2 (status 0)",
      "controller KMTC0002A1: does not open (status 2)",
      "no controller can be opened",
  };
  for (const char *line : expected) EXPECT_NE(report.find(line), std::string::npos) << line;
}

// A pseudo-terminal opened through the provider, the test holding its other side.
class PtyPort : public ::testing::Test {
 protected:
  void SetUp() override {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    path = ::ptsname(master);
    driver = make_tty_driver(path + "=PTY1", nullptr);
    ASSERT_NE(driver, nullptr);
    char serial[] = "PTY1";
    ASSERT_EQ(driver->OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
    ASSERT_EQ(driver->SetTimeouts(handle, 100, 100), FT_OK);
  }
  void TearDown() override {
    if (handle != nullptr) driver->Close(handle);
    if (master >= 0) ::close(master);
  }
  // Bytes from the controller's side, given time to reach the host's queue.
  void send(const std::string &bytes) {
    ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    std::this_thread::sleep_for(milliseconds(10));
  }

  int master = -1;
  std::string path;
  std::unique_ptr<Driver> driver;
  FT_HANDLE handle = nullptr;
};

TEST_F(PtyPort, ReadsReturnWhenAllBytesCameOrTheTimeOutPassedNeverEarlier) {
  struct Row {
    const char *name;
    std::string before;      // sent before the read
    std::string during;      // sent 20 ms into the read
    DWORD wanted, expected;  // bytes asked for and delivered
    int min_ms, max_ms;      // the read's duration
  } rows[] = {
      {"nothing comes", "", "", 4, 0, 100, 600},
      {"part comes", "ab", "", 4, 2, 100, 600},
      {"all there", "abcd", "", 4, 4, 0, 90},
      {"rest comes later", "ab", "cd", 4, 4, 15, 90},
      {"more than asked", "abcdef", "", 4, 4, 0, 90},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(driver->Purge(handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    if (!row.before.empty()) send(row.before);
    std::thread late([&] {
      if (row.during.empty()) return;
      std::this_thread::sleep_for(milliseconds(20));
      (void)!::write(master, row.during.data(), row.during.size());
    });
    char buffer[16] = {};
    DWORD got = 99;
    auto start = Clock::now();
    EXPECT_EQ(driver->Read(handle, buffer, row.wanted, &got), FT_OK);
    auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    late.join();
    EXPECT_EQ(got, row.expected);
    EXPECT_GE(took, row.min_ms);
    EXPECT_LE(took, row.max_ms);
  }
}

TEST_F(PtyPort, PurgeDropsWhatWaitsAndTheLinkIsSetAsAsked) {
  send("stale");
  ASSERT_EQ(driver->Purge(handle, FT_PURGE_RX), FT_OK);
  char buffer[8];
  DWORD got = 99;
  ASSERT_EQ(driver->SetTimeouts(handle, 1, 100), FT_OK);
  EXPECT_EQ(driver->Read(handle, buffer, 5, &got), FT_OK);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(driver->Purge(handle, 4), FT_INVALID_PARAMETER);

  ASSERT_EQ(driver->SetBaudRate(handle, 250000), FT_OK);
  ASSERT_EQ(driver->SetDataCharacteristics(handle, 8, 0, 0), FT_OK);
  ASSERT_EQ(driver->SetFlowControl(handle, 0, 0x11, 0x13), FT_OK);
  EXPECT_EQ(driver->SetFlowControl(handle, 0x0200, 0x11, 0x13), FT_INVALID_PARAMETER);
  termios2 t{};
  ASSERT_EQ(::ioctl(master, TCGETS2, &t), 0);  // the master reports the terminal's settings
  EXPECT_EQ(t.c_ospeed, 250000u);
  EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | PARENB | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u) << "raw";

  DWORD written = 0;
  char frame[] = "\x10\x00\x01";
  ASSERT_EQ(driver->Write(handle, frame, 3, &written), FT_OK);
  EXPECT_EQ(written, 3u);
  char echo[3];
  std::this_thread::sleep_for(milliseconds(10));
  EXPECT_EQ(::read(master, echo, 3), 3);
}

TEST_F(PtyPort, OpenIsExclusiveAndAHangUpFailsTheHandleUntilClosed) {
  FT_HANDLE second = nullptr;
  char serial[] = "PTY1";
  EXPECT_EQ(driver->OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &second), FT_DEVICE_NOT_OPENED);
  auto other = make_tty_driver(path + "=PTY1", nullptr);
  EXPECT_EQ(other->OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &second), FT_DEVICE_NOT_OPENED);

  ::close(master);
  master = -1;
  char buffer[4];
  DWORD got = 99;
  auto start = Clock::now();
  EXPECT_EQ(driver->Read(handle, buffer, 4, &got), FT_IO_ERROR);
  EXPECT_LT(Clock::now() - start, milliseconds(90)) << "at once, not after the time-out";
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(driver->Purge(handle, FT_PURGE_RX), FT_IO_ERROR);
  EXPECT_EQ(driver->SetBaudRate(handle, 250000), FT_IO_ERROR);
  DWORD written = 99;
  EXPECT_EQ(driver->Write(handle, buffer, 4, &written), FT_IO_ERROR);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(driver->Close(handle), FT_OK);
  EXPECT_EQ(driver->Close(handle), FT_INVALID_HANDLE);
  handle = nullptr;
}

}  // namespace
}  // namespace kmt::testing

#endif
