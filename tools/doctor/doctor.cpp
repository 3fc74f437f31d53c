#include "tools/doctor/doctor.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "library/driver_choice.h"
#include "platform/platform.h"
#include "transport/driver.h"
#include "transport/tty_sysfs.h"

namespace kmt::tools {
namespace {

using namespace d2xx;

constexpr const char *kUdevRule = "99-kmtv1.rules";
constexpr const char *kControllerType = "KMTC0002";

// The findings of the run in progress; doctor runs once per process.
DoctorFindings *g_findings = nullptr;

void fix(std::ostream &out, const std::string &text) {
  out << "    fix: " << text << "\n";
  if (g_findings != nullptr) g_findings->fixes.push_back(text);
}

std::string group_name(gid_t gid) {
  const group *g = ::getgrgid(gid);
  return g != nullptr ? g->gr_name : std::to_string(gid);
}

bool user_in_group(gid_t gid) {
  if (::getegid() == gid) return true;
  int n = ::getgroups(0, nullptr);
  std::vector<gid_t> groups(n > 0 ? static_cast<std::size_t>(n) : 0);
  if (n > 0) n = ::getgroups(n, groups.data());
  for (int i = 0; i < n; ++i) {
    if (groups[static_cast<std::size_t>(i)] == gid) return true;
  }
  return false;
}

// Whether this user may read and write the terminal, and if not, the fix.
void report_access(std::ostream &out, const std::string &path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    out << "    " << path << ": missing\n";
    fix(out, "unplug and plug the controller in again; check `dmesg | tail` for the kernel's view");
    return;
  }
  std::string group = group_name(st.st_gid);
  char mode[4];
  std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
  out << "    " << path << ": mode " << mode << ", group " << group;
  if (::access(path.c_str(), R_OK | W_OK) == 0) {
    out << "; you may open it\n";
    return;
  }
  out << "; you may not open it\n";
  if ((st.st_mode & 0060) == 0060 && !user_in_group(st.st_gid)) {
    fix(out, "sudo usermod -aG " + group + " $USER, then log in again (or install the udev rule " +
                 std::string(kUdevRule) + ")");
  } else {
    fix(out, std::string("copy the udev rule ") + kUdevRule +
                 " (installed under lib/udev/rules.d) to /etc/udev/rules.d, then plug in again");
  }
}

}  // namespace

int run_doctor(std::ostream &out, const DoctorOptions &options, DoctorFindings *findings) {
  DoctorFindings scratch;
  g_findings = findings != nullptr ? findings : &scratch;
  std::string name = options.driver_name != nullptr ? options.driver_name : "";
  DriverSearch search{options.vendor_library, options.sysfs_root, options.dev_root};
  DriverChoice choice = choose_driver(name, search);

  out << "driver: " << choice.provider << " ("
      << (options.driver_name != nullptr ? "KMT_DRIVER=" + name : "KMT_DRIVER unset") << ")\n";
  g_findings->provider = choice.provider;
  g_findings->tried = choice.tried;
  for (const std::string &line : choice.tried) out << "  tried " << line << "\n";
  if (!choice.error.empty()) {
    fix(out,
        "unset KMT_DRIVER to let the library choose, or name sim, tty, d2xx or a library path");
  }

  // The vendor's library, whether or not it is the one chosen.
  std::string why;
  std::string vendor =
      options.vendor_library.empty() ? platform::vendor_driver_name() : options.vendor_library;
  bool vendor_present = load_driver_library(vendor, &why) != nullptr;
  out << "vendor library " << vendor << ": " << (vendor_present ? "present" : "not found") << "\n";
  if (!vendor_present) {
    out << "    (not needed on Linux: the kernel's own FTDI driver serves the controller)\n";
  }

  // Hardware fixes matter only where the library would look for hardware.
  bool hardware = name.empty() || name == "tty" || name == "d2xx";
  std::vector<tty::UsbDevice> usb = tty::ftdi_usb_devices(options.sysfs_root);
  out << "FTDI USB devices the kernel sees: " << usb.size() << "\n";
  for (const tty::UsbDevice &d : usb) {
    out << "  " << d.name << " " << d.vendor_product << " serial \"" << d.serial << "\" "
        << d.product << "; drivers:";
    for (const std::string &driver : d.interface_drivers) out << " " << driver;
    out << (d.interface_drivers.empty() ? " none\n" : "\n");
    if (hardware && d.interface_drivers.empty()) {
      fix(out, vendor_present ? "the vendor's library has the device: use KMT_DRIVER=d2xx"
                              : "sudo modprobe ftdi_sio (nothing holds the device)");
    }
    if (d.serial.rfind(kControllerType, 0) != 0) {
      out << "    not a controller: its serial does not begin with " << kControllerType << "\n";
    }
  }
  if (hardware && usb.empty()) {
    fix(out,
        "plug the controller in (lsusb should list 0403:6001); use a data cable, not a "
        "charging one");
  }

  std::vector<tty::SerialPort> ports = tty::serial_ports(options.sysfs_root);
  out << "serial ports of the kernel's USB-serial drivers: " << ports.size() << "\n";
  for (const tty::SerialPort &p : ports) {
    out << "  " << p.tty << " serial \"" << p.serial << "\" driver " << p.driver << "\n";
    report_access(out, options.dev_root + "/" + p.tty);
    std::string latency = tty::read_attribute(p.directory + "/latency_timer");
    if (!latency.empty()) {
      out << "    latency timer: " << latency << " ms";
      out << (latency == "1" ? "\n" : " (lowered to 1 ms while the library has it open)\n");
    }
  }

  // What the library would find and whether it can open it.
  DWORD count = 0;
  FT_STATUS status = choice.driver->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
  out << "devices through the " << choice.provider << " driver: " << count << " (status " << status
      << ")\n";
  bool kernel_holds_one = false;
  for (const tty::SerialPort &p : ports) kernel_holds_one |= p.driver == "ftdi_sio";
  if (choice.provider == "d2xx" && count == 0 && kernel_holds_one) {
    fix(out, "the vendor's library sees no device the kernel's driver holds: use KMT_DRIVER=tty");
  }
  int opened = 0;
  for (DWORD i = 0; status == FT_OK && i < count && i < 255; ++i) {
    char serial[64] = {};
    if (choice.driver->ListDevices(reinterpret_cast<PVOID>(static_cast<std::uintptr_t>(i)), serial,
                                   FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) != FT_OK ||
        std::strncmp(serial, kControllerType, 8) != 0) {
      continue;
    }
    FT_HANDLE handle = nullptr;
    FT_STATUS open = choice.driver->OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle);
    out << "  controller " << serial << ": " << (open == FT_OK ? "opens" : "does not open")
        << " (status " << open << ")\n";
    g_findings->controllers.push_back({serial, open == FT_OK, open});
    if (open == FT_OK) {
      choice.driver->Close(handle);
      ++opened;
    } else if (open == FT_DEVICE_NOT_OPENED) {
      fix(out,
          "another program has it open (fuser -v /dev/ttyUSB*), or see the access lines "
          "above");
    }
  }
  out << (opened > 0 ? "a controller can be opened\n" : "no controller can be opened\n");
  g_findings = nullptr;
  return opened > 0 ? 0 : 1;
}

}  // namespace kmt::tools
