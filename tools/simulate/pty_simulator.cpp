#include "tools/simulate/pty_simulator.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sim/controller.h"
#include "sim/sim_driver.h"

namespace kmt::tools {
namespace {

using namespace d2xx;

// How often a terminal that no host holds open is looked at again.
constexpr std::uint64_t kIdleRetryUs = 10000;

// The link as the host's termios settings give it, in the bridge's codes.
struct Link {
  ULONG baud = 0;
  UCHAR word_length = 0, stop_bits = 0, parity = 0;
  USHORT flow = 0;
  bool operator==(const Link &) const = default;
};

Link link_of(const termios2 &t) {
  Link link;
  link.baud = t.c_ospeed;
  link.word_length = (t.c_cflag & CSIZE) == CS8 ? 8 : (t.c_cflag & CSIZE) == CS7 ? 7 : 5;
  link.stop_bits = (t.c_cflag & CSTOPB) != 0 ? 2 : 0;
  if ((t.c_cflag & PARENB) != 0) {
    bool odd = (t.c_cflag & PARODD) != 0;
    link.parity = (t.c_cflag & CMSPAR) != 0 ? (odd ? 3 : 4) : (odd ? 1 : 2);
  }
  if ((t.c_cflag & CRTSCTS) != 0) link.flow = 0x0100;
  if ((t.c_iflag & (IXON | IXOFF)) != 0) link.flow = 0x0400;
  return link;
}

struct Terminal {
  int master = -1;
  std::string path;
  std::string serial;
  FT_HANDLE handle = nullptr;
  std::size_t index = 0;
  Link applied;
  std::vector<std::uint8_t> outgoing;  // answers the terminal could not take yet
  std::uint64_t idle_until_us = 0;     // no host has it open: look again then
};

class PtySimulatorImpl final : public PtySimulator {
 public:
  explicit PtySimulatorImpl(std::unique_ptr<sim::SimDriver> sim) : sim_(std::move(sim)) {}
  ~PtySimulatorImpl() override {
    for (Terminal &t : terminals_) {
      if (t.master >= 0) ::close(t.master);
    }
  }

  bool open_terminals(std::string *error) {
    for (std::size_t i = 0; i < sim_->device_count(); ++i) {
      Terminal t;
      t.index = i;
      char serial[64] = {};
      sim_->ListDevices(reinterpret_cast<PVOID>(i), serial,
                        FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
      t.serial = serial;
      t.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
      const char *name = t.master >= 0 && ::grantpt(t.master) == 0 && ::unlockpt(t.master) == 0
                             ? ::ptsname(t.master)
                             : nullptr;
      if (name == nullptr) {
        *error = std::string("no pseudo-terminal: ") + std::strerror(errno);
        if (t.master >= 0) ::close(t.master);
        return false;
      }
      t.path = name;
      // The simulated device stays open for the server's life: hosts come and go as
      // they would on the bridge, the controller keeps its state.
      if (sim_->OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &t.handle) != FT_OK ||
          sim_->SetTimeouts(t.handle, 1, 1) != FT_OK) {
        *error = "cannot open simulated device " + t.serial;
        ::close(t.master);
        return false;
      }
      terminals_.push_back(std::move(t));
    }
    return true;
  }

  std::string driver_value() const override {
    std::string value = "tty:";
    for (const Terminal &t : terminals_) {
      if (&t != &terminals_.front()) value += '+';
      value += t.path + "=" + t.serial;
    }
    return value;
  }

  bool serve_once(int timeout_ms, int watch_fd) override {
    std::uint64_t now = sim_->clock().now_us();
    std::uint64_t wake = now + static_cast<std::uint64_t>(std::max(timeout_ms, 0)) * 1000;
    std::vector<pollfd> fds;
    std::vector<Terminal *> polled;
    for (Terminal &t : terminals_) {
      wake = std::min(wake, sim_->next_arrival_us(t.index));
      if (t.idle_until_us > now) {
        wake = std::min(wake, t.idle_until_us);
        continue;
      }
      short events = POLLIN;
      if (!t.outgoing.empty()) events |= POLLOUT;
      fds.push_back({t.master, events, 0});
      polled.push_back(&t);
    }
    if (watch_fd >= 0) fds.push_back({watch_fd, POLLIN, 0});
    int wait_ms = wake <= now ? 0 : static_cast<int>((wake - now + 999) / 1000);
    int ready = ::poll(fds.data(), fds.size(), wait_ms);
    if (ready < 0 && errno != EINTR) return false;
    bool keep_going = true;
    if (ready > 0) {
      for (std::size_t i = 0; i < polled.size(); ++i) take_from_host(*polled[i], fds[i].revents);
      if (watch_fd >= 0 && fds.back().revents != 0) {
        char scratch[256];
        ssize_t n = ::read(watch_fd, scratch, sizeof scratch);
        keep_going = n > 0 || (n < 0 && (errno == EINTR || errno == EAGAIN));
      }
    }
    for (Terminal &t : terminals_) send_answers(t);
    return keep_going;
  }

 private:
  void take_from_host(Terminal &t, short revents) {
    if ((revents & POLLIN) != 0) {
      std::uint8_t buffer[4096];
      ssize_t n = ::read(t.master, buffer, sizeof buffer);
      if (n > 0) {
        follow_settings(t);
        DWORD written = 0;
        sim_->Write(t.handle, buffer, static_cast<DWORD>(n), &written);
      }
      return;
    }
    // Hung up with nothing to read: no host holds the terminal open.
    if ((revents & (POLLHUP | POLLERR)) != 0) {
      t.idle_until_us = sim_->clock().now_us() + kIdleRetryUs;
    }
  }

  // The host's termios settings become the simulated link's before its bytes are heard.
  void follow_settings(Terminal &t) {
    termios2 settings{};
    // On the master side the terminal's settings are the other side's.
    if (::ioctl(t.master, TCGETS2, &settings) != 0) return;
    Link link = link_of(settings);
    if (link == t.applied) return;
    t.applied = link;
    // A rate or framing the simulated bridge refuses leaves the link at one it cannot
    // understand, so that bytes sent at it stay noise.
    if (sim_->SetBaudRate(t.handle, link.baud) != FT_OK) sim_->SetBaudRate(t.handle, 300);
    if (sim_->SetDataCharacteristics(t.handle, link.word_length, link.stop_bits, link.parity) !=
        FT_OK) {
      sim_->SetDataCharacteristics(t.handle, 7, 2, 1);
    }
    sim_->SetFlowControl(t.handle, link.flow, 0x11, 0x13);
  }

  void send_answers(Terminal &t) {
    std::size_t due = sim_->queued_bytes(t.index);
    if (due > 0) {
      std::size_t at = t.outgoing.size();
      t.outgoing.resize(at + due);
      DWORD got = 0;
      sim_->Read(t.handle, t.outgoing.data() + at, static_cast<DWORD>(due), &got);
      t.outgoing.resize(at + got);
    }
    while (!t.outgoing.empty()) {
      ssize_t n = ::write(t.master, t.outgoing.data(), t.outgoing.size());
      if (n > 0) {
        t.outgoing.erase(t.outgoing.begin(), t.outgoing.begin() + n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      // EAGAIN: the terminal is full, the rest goes when it drains. Anything else: no
      // host to hear it, the answer is lost as on a wire without a listener.
      if (!(n < 0 && errno == EAGAIN)) t.outgoing.clear();
      break;
    }
  }

  std::unique_ptr<sim::SimDriver> sim_;
  std::vector<Terminal> terminals_;
};

}  // namespace

std::unique_ptr<PtySimulator> PtySimulator::create(const std::string &options, std::string *error) {
  sim::Options parsed;
  std::string why;
  if (!sim::Options::parse(options, &parsed, &why)) {
    if (error != nullptr) *error = why;
    return nullptr;
  }
  if (parsed.text("clock", "real") != "real") {
    if (error != nullptr) *error = "clock: a pseudo-terminal runs on the real clock";
    return nullptr;
  }
  auto sim = sim::SimDriver::create(options, &why);
  if (!sim) {
    if (error != nullptr) *error = why;
    return nullptr;
  }
  auto server = std::make_unique<PtySimulatorImpl>(std::move(sim));
  if (!server->open_terminals(&why)) {
    if (error != nullptr) *error = why;
    return nullptr;
  }
  return server;
}

}  // namespace kmt::tools
