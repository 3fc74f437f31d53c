// The kernel serial-driver provider. Linux only: it needs the arbitrary-rate termios
// interface (termios2), which <termios.h> does not offer, so this file speaks to the
// terminal through ioctl alone and never includes <termios.h>.
#include "transport/tty_driver.h"

#if defined(__linux__)

#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <vector>

#include "transport/deadline.h"
#include "transport/tty_sysfs.h"

namespace kmt {
namespace {

using namespace d2xx;

constexpr const char *kKernelDriver = "ftdi_sio";
// ListDevices fills a buffer of 64 bytes: the serial string and its NUL.
constexpr std::size_t kMaxSerialLength = 63;

struct Terminal {
  std::string path;
  std::string serial;
  std::string sysfs_dir;  // empty for a named terminal
};

struct Port {
  int fd = -1;
  Terminal terminal;
  bool named = false;
  ULONG read_ms = 0;
  ULONG write_ms = 0;
  bool failed = false;
  // What open changed and close puts back.
  bool restore_serial_flags = false;
  int serial_flags = 0;
  std::string restore_latency;
};

bool parse_named(const std::string &driver_text, std::vector<Terminal> *terminals,
                 std::string *error) {
  std::size_t start = 0;
  while (true) {
    std::size_t end = driver_text.find('+', start);
    std::string item = driver_text.substr(start, end == std::string::npos ? end : end - start);
    std::size_t eq = item.find('=');
    if (eq == std::string::npos || eq == 0 || item[0] != '/' || eq + 1 == item.size() ||
        item.size() - eq - 1 > kMaxSerialLength) {
      *error = "tty: \"" + item + "\" is not /PATH=SERIAL (a serial of 1 to 63 characters)";
      return false;
    }
    Terminal t{item.substr(0, eq), item.substr(eq + 1), {}};
    for (const Terminal &other : *terminals) {
      if (other.serial == t.serial) {
        *error = "tty: serial \"" + t.serial + "\" is given twice";
        return false;
      }
    }
    terminals->push_back(std::move(t));
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

class TtyDriver final : public Driver {
 public:
  TtyDriver(std::vector<Terminal> named, bool use_named, TtyDriverOptions options)
      : named_(std::move(named)), use_named_(use_named), options_(std::move(options)) {}

  ~TtyDriver() override {
    for (auto &[handle, port] : ports_) release(port);
  }

  FT_STATUS ListDevices(PVOID arg1, PVOID arg2, DWORD flags) override {
    if (flags == FT_LIST_NUMBER_ONLY) {
      if (arg1 == nullptr) return FT_INVALID_PARAMETER;
      listed_ = terminals();
      listed_once_ = true;
      *static_cast<DWORD *>(arg1) = static_cast<DWORD>(listed_.size());
      return FT_OK;
    }
    if (flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER)) {
      if (arg2 == nullptr) return FT_INVALID_PARAMETER;
      if (!listed_once_) listed_ = terminals();
      // The index travels as the pointer's integer value, as the D2XX call defines it.
      auto index = reinterpret_cast<std::uintptr_t>(arg1);
      if (index >= listed_.size()) return FT_DEVICE_NOT_FOUND;
      const std::string &serial = listed_[index].serial;
      std::size_t n = std::min(serial.size(), kMaxSerialLength);
      std::memcpy(arg2, serial.data(), n);
      static_cast<char *>(arg2)[n] = '\0';
      return FT_OK;
    }
    return FT_INVALID_PARAMETER;
  }

  FT_STATUS OpenEx(PVOID arg, DWORD flags, FT_HANDLE *handle) override {
    if (arg == nullptr || handle == nullptr || flags != FT_OPEN_BY_SERIAL_NUMBER) {
      return FT_INVALID_PARAMETER;
    }
    std::string serial(static_cast<const char *>(arg));
    if (serial.empty()) return FT_DEVICE_NOT_FOUND;
    std::vector<Terminal> all = terminals();
    auto found =
        std::find_if(all.begin(), all.end(), [&](const Terminal &t) { return t.serial == serial; });
    if (found == all.end()) return FT_DEVICE_NOT_FOUND;

    Port port;
    port.terminal = *found;
    port.named = use_named_;
    port.fd = ::open(found->path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port.fd < 0) return errno == ENOENT ? FT_DEVICE_NOT_FOUND : FT_DEVICE_NOT_OPENED;
    // The lock stops a second opener even where TIOCEXCL does not (a privileged one,
    // or a race between another's open and its TIOCEXCL).
    if (::flock(port.fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(port.fd, TIOCEXCL) != 0 ||
        !make_raw(port.fd)) {
      ::close(port.fd);
      return FT_DEVICE_NOT_OPENED;
    }
    if (!port.named) lower_latency(port);
    auto value = next_handle_++;
    ports_.emplace(value, std::move(port));
    *handle = reinterpret_cast<FT_HANDLE>(value);
    return FT_OK;
  }

  FT_STATUS Close(FT_HANDLE handle) override {
    auto it = ports_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == ports_.end()) return FT_INVALID_HANDLE;
    release(it->second);
    ports_.erase(it);
    return FT_OK;
  }

  FT_STATUS ResetDevice(FT_HANDLE handle) override {
    // The bridge's reset empties both queues; the line settings stay.
    return with_port(handle, [&](Port &p) { return flush(p, TCIOFLUSH); });
  }

  FT_STATUS Purge(FT_HANDLE handle, ULONG mask) override {
    return with_port(handle, [&](Port &p) {
      if (mask == 0 || (mask & ~(FT_PURGE_RX | FT_PURGE_TX)) != 0) return FT_INVALID_PARAMETER;
      int which = mask == (FT_PURGE_RX | FT_PURGE_TX) ? TCIOFLUSH
                  : mask == FT_PURGE_RX               ? TCIFLUSH
                                                      : TCOFLUSH;
      return flush(p, which);
    });
  }

  FT_STATUS SetBaudRate(FT_HANDLE handle, ULONG baud) override {
    return with_port(handle, [&](Port &p) {
      if (baud == 0) return FT_INVALID_BAUD_RATE;
      FT_STATUS status = change(p, [&](termios2 &t) {
        t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));  // input rate follows the output rate
        t.c_cflag |= BOTHER;
        t.c_ispeed = t.c_ospeed = baud;
      });
      if (status != FT_OK) return status == FT_IO_ERROR ? status : refused(p, FT_INVALID_BAUD_RATE);
      // The kernel answers with the rate it has set; a driver that cannot make this
      // one falls back to another.
      termios2 t{};
      if (::ioctl(p.fd, TCGETS2, &t) != 0) return io_failure(p);
      return t.c_ospeed == baud ? FT_OK : refused(p, FT_INVALID_BAUD_RATE);
    });
  }

  FT_STATUS SetDataCharacteristics(FT_HANDLE handle, UCHAR word_length, UCHAR stop_bits,
                                   UCHAR parity) override {
    return with_port(handle, [&](Port &p) {
      // D2XX codes: 7 or 8 data bits; stop bits 0 (one) or 2 (two); parity none, odd,
      // even, mark, space.
      if ((word_length != 7 && word_length != 8) || (stop_bits != 0 && stop_bits != 2) ||
          parity > 4) {
        return FT_INVALID_PARAMETER;
      }
      FT_STATUS status = change(p, [&](termios2 &t) {
        t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR);
        t.c_cflag |= word_length == 8 ? CS8 : CS7;
        if (stop_bits == 2) t.c_cflag |= CSTOPB;
        static constexpr tcflag_t kParity[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                               PARENB | CMSPAR};
        t.c_cflag |= kParity[parity];
      });
      return status == FT_IO_ERROR || status == FT_OK ? status : refused(p, status);
    });
  }

  FT_STATUS SetFlowControl(FT_HANDLE handle, USHORT flow, UCHAR xon, UCHAR xoff) override {
    return with_port(handle, [&](Port &p) {
      // D2XX codes: none 0, RTS/CTS 0x0100, DTR/DSR 0x0200 (no termios form), XON/XOFF 0x0400.
      if (flow != 0 && flow != 0x0100 && flow != 0x0400) return FT_INVALID_PARAMETER;
      FT_STATUS status = change(p, [&](termios2 &t) {
        t.c_cflag &= ~CRTSCTS;
        t.c_iflag &= ~(IXON | IXOFF | IXANY);
        if (flow == 0x0100) t.c_cflag |= CRTSCTS;
        if (flow == 0x0400) t.c_iflag |= IXON | IXOFF;
        t.c_cc[VSTART] = xon;
        t.c_cc[VSTOP] = xoff;
      });
      return status == FT_IO_ERROR || status == FT_OK ? status : refused(p, status);
    });
  }

  FT_STATUS SetTimeouts(FT_HANDLE handle, ULONG read_ms, ULONG write_ms) override {
    return with_port(handle, [&](Port &p) {
      p.read_ms = read_ms;
      p.write_ms = write_ms;
      return FT_OK;
    });
  }

  FT_STATUS Write(FT_HANDLE handle, LPVOID buffer, DWORD n, LPDWORD written) override {
    if (written != nullptr) *written = 0;
    return with_port(handle, [&](Port &p) {
      if (written == nullptr || (buffer == nullptr && n > 0)) return FT_INVALID_PARAMETER;
      return transfer(p, static_cast<std::uint8_t *>(buffer), n, written, true);
    });
  }

  FT_STATUS Read(FT_HANDLE handle, LPVOID buffer, DWORD n, LPDWORD read) override {
    if (read != nullptr) *read = 0;
    return with_port(handle, [&](Port &p) {
      if (read == nullptr || (buffer == nullptr && n > 0)) return FT_INVALID_PARAMETER;
      return transfer(p, static_cast<std::uint8_t *>(buffer), n, read, false);
    });
  }

 private:
  std::vector<Terminal> terminals() const {
    if (use_named_) return named_;
    std::vector<Terminal> found;
    for (const tty::SerialPort &port : tty::serial_ports(options_.sysfs_root)) {
      if (port.driver != kKernelDriver) continue;
      found.push_back({options_.dev_root + "/" + port.tty, port.serial, port.directory});
    }
    return found;
  }

  template <class Call>
  FT_STATUS with_port(FT_HANDLE handle, Call call) {
    auto it = ports_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == ports_.end()) return FT_INVALID_HANDLE;
    if (it->second.failed) return FT_IO_ERROR;
    return call(it->second);
  }

  static FT_STATUS io_failure(Port &p) {
    p.failed = true;
    return FT_IO_ERROR;
  }

  // A setting the kernel refused: tolerated on a named terminal only.
  static FT_STATUS refused(const Port &p, FT_STATUS status) { return p.named ? FT_OK : status; }

  // EIO and ENODEV mean the line is gone; any other refusal is the setting's.
  static FT_STATUS ioctl_failure(Port &p) {
    if (errno == EIO || errno == ENODEV || errno == ENXIO) return io_failure(p);
    return FT_OTHER_ERROR;
  }

  static FT_STATUS flush(Port &p, int which) {
    return ::ioctl(p.fd, TCFLSH, which) == 0 ? FT_OK : ioctl_failure(p);
  }

  template <class Edit>
  static FT_STATUS change(Port &p, Edit edit) {
    termios2 t{};
    if (::ioctl(p.fd, TCGETS2, &t) != 0) return ioctl_failure(p);
    edit(t);
    if (::ioctl(p.fd, TCSETS2, &t) != 0) return ioctl_failure(p);
    return FT_OK;
  }

  static bool make_raw(int fd) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                   IXANY | INPCK | IUCLC | IMAXBEL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ::ioctl(fd, TCSETS2, &t) == 0;
  }

  // Moves n bytes until done or the time-out passes; a hang-up or I/O error ends the
  // transfer and the handle.
  static FT_STATUS transfer(Port &p, std::uint8_t *bytes, DWORD n, LPDWORD moved, bool out) {
    ULONG limit_ms = out ? p.write_ms : p.read_ms;
    auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
    DWORD done = 0;
    FT_STATUS status = FT_OK;
    while (done < n) {
      ssize_t r =
          out ? ::write(p.fd, bytes + done, n - done) : ::read(p.fd, bytes + done, n - done);
      if (r > 0) {
        done += static_cast<DWORD>(r);
        continue;
      }
      if (r == 0 && !out) {  // end of file: the terminal was hung up
        status = io_failure(p);
        break;
      }
      if (r < 0 && errno == EINTR) continue;
      if (r < 0 && errno != EAGAIN) {
        status = io_failure(p);
        break;
      }
      int wait_ms = limit_ms == 0 ? -1 : remaining_ms(deadline);
      if (limit_ms != 0 && wait_ms == 0) break;
      pollfd pfd{p.fd, static_cast<short>(out ? POLLOUT : POLLIN), 0};
      int ready = ::poll(&pfd, 1, wait_ms);
      if (ready < 0 && errno != EINTR) {
        status = io_failure(p);
        break;
      }
      if (ready > 0 && (pfd.revents & (out ? POLLOUT : POLLIN)) == 0 &&
          (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        status = io_failure(p);
        break;
      }
    }
    *moved = done;
    return status;
  }

  // Lowers the bridge's latency timer to 1 ms. The serial flag needs only the open
  // line; the sysfs attribute needs write permission on it, which users often lack.
  static void lower_latency(Port &p) {
    serial_struct info{};
    if (::ioctl(p.fd, TIOCGSERIAL, &info) == 0 && (info.flags & ASYNC_LOW_LATENCY) == 0) {
      p.serial_flags = info.flags;
      info.flags |= ASYNC_LOW_LATENCY;
      p.restore_serial_flags = ::ioctl(p.fd, TIOCSSERIAL, &info) == 0;
    }
    std::string attribute = p.terminal.sysfs_dir + "/latency_timer";
    std::string before = tty::read_attribute(attribute);
    if (before.empty() || before == "1") return;
    std::ofstream out(attribute);
    if (out << "1" << std::flush) p.restore_latency = before;
  }

  static void release(Port &p) {
    if (p.fd < 0) return;
    if (p.restore_serial_flags) {
      serial_struct info{};
      if (::ioctl(p.fd, TIOCGSERIAL, &info) == 0) {
        info.flags = p.serial_flags;
        ::ioctl(p.fd, TIOCSSERIAL, &info);
      }
    }
    if (!p.restore_latency.empty()) {
      std::ofstream(p.terminal.sysfs_dir + "/latency_timer") << p.restore_latency << std::flush;
    }
    // The exclusive flag outlives this descriptor while anyone else holds the line
    // open; clear it so that the next user can open the line.
    ::ioctl(p.fd, TIOCNXCL);
    ::close(p.fd);  // also drops the lock
    p.fd = -1;
  }

  std::vector<Terminal> named_;
  bool use_named_;
  TtyDriverOptions options_;
  std::vector<Terminal> listed_;
  bool listed_once_ = false;
  std::map<std::uintptr_t, Port> ports_;
  std::uintptr_t next_handle_ = 0x100;
};

}  // namespace

std::unique_ptr<Driver> make_tty_driver(const std::string &driver_text, std::string *error,
                                        const TtyDriverOptions &options) {
  std::vector<Terminal> named;
  std::string reason;
  if (!driver_text.empty() && !parse_named(driver_text, &named, &reason)) {
    if (error != nullptr) *error = reason;
    return nullptr;
  }
  return std::make_unique<TtyDriver>(std::move(named), !driver_text.empty(), options);
}

}  // namespace kmt

#else

namespace kmt {

std::unique_ptr<Driver> make_tty_driver(const std::string &, std::string *error,
                                        const TtyDriverOptions &) {
  if (error != nullptr) *error = "the tty provider needs Linux";
  return nullptr;
}

}  // namespace kmt

#endif
