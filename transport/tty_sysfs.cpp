#include "transport/tty_sysfs.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace kmt::tty {
namespace fs = std::filesystem;

namespace {

// The trailing number of a name, for ordering ttyUSB2 before ttyUSB10.
unsigned long trailing_number(const std::string &name) {
  std::size_t start = name.size();
  while (start > 0 && std::isdigit(static_cast<unsigned char>(name[start - 1]))) --start;
  if (start == name.size() || name.size() - start > 9) return 0;
  return std::stoul(name.substr(start));
}

// The name of the driver a sysfs device directory is bound to; empty when none.
std::string bound_driver(const fs::path &device) {
  std::error_code ec;
  fs::path target = fs::read_symlink(device / "driver", ec);
  return ec ? std::string() : target.filename().string();
}

// The USB device above a sysfs directory: the nearest ancestor with a vendor ID, but
// never above the tree's root.
fs::path usb_device_above(const fs::path &start, const fs::path &root) {
  std::error_code ec;
  for (fs::path dir = start.parent_path(); !dir.empty() && dir != dir.root_path();
       dir = dir.parent_path()) {
    if (fs::exists(dir / "idVendor", ec)) return dir;
    if (dir == root) break;
  }
  return {};
}

std::string vendor_product(const fs::path &usb_device) {
  return read_attribute((usb_device / "idVendor").string()) + ":" +
         read_attribute((usb_device / "idProduct").string());
}

}  // namespace

std::string read_attribute(const std::string &path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
    line.pop_back();
  }
  return line;
}

std::vector<SerialPort> serial_ports(const std::string &sysfs_root) {
  std::vector<SerialPort> ports;
  std::error_code ec;
  fs::path root = fs::weakly_canonical(sysfs_root, ec);
  fs::directory_iterator it(fs::path(sysfs_root) / "bus" / "usb-serial" / "devices", ec);
  if (ec) return ports;
  for (const fs::directory_entry &entry : it) {
    SerialPort port;
    port.tty = entry.path().filename().string();
    fs::path real = fs::canonical(entry.path(), ec);
    if (ec) continue;
    port.directory = real.string();
    port.driver = bound_driver(real);
    fs::path usb = usb_device_above(real, root);
    if (!usb.empty()) {
      port.serial = read_attribute((usb / "serial").string());
      port.vendor_product = vendor_product(usb);
    }
    ports.push_back(std::move(port));
  }
  std::sort(ports.begin(), ports.end(), [](const SerialPort &a, const SerialPort &b) {
    auto na = trailing_number(a.tty), nb = trailing_number(b.tty);
    return na != nb ? na < nb : a.tty < b.tty;
  });
  return ports;
}

std::vector<UsbDevice> ftdi_usb_devices(const std::string &sysfs_root) {
  std::vector<UsbDevice> devices;
  std::error_code ec;
  fs::directory_iterator it(fs::path(sysfs_root) / "bus" / "usb" / "devices", ec);
  if (ec) return devices;
  std::vector<fs::path> interfaces;
  for (const fs::directory_entry &entry : it) {
    std::string name = entry.path().filename().string();
    // Interfaces ("1-1:1.0") are gathered for their device below.
    if (name.find(':') != std::string::npos) {
      interfaces.push_back(entry.path());
      continue;
    }
    if (read_attribute((entry.path() / "idVendor").string()) != kFtdiVendorId) continue;
    UsbDevice device;
    device.name = name;
    device.vendor_product = vendor_product(entry.path());
    device.serial = read_attribute((entry.path() / "serial").string());
    device.product = read_attribute((entry.path() / "product").string());
    devices.push_back(std::move(device));
  }
  std::sort(interfaces.begin(), interfaces.end());
  for (UsbDevice &device : devices) {
    for (const fs::path &interface : interfaces) {
      std::string name = interface.filename().string();
      if (name.compare(0, device.name.size() + 1, device.name + ":") != 0) continue;
      std::string driver = bound_driver(interface);
      if (!driver.empty()) device.interface_drivers.push_back(driver);
    }
  }
  std::sort(devices.begin(), devices.end(),
            [](const UsbDevice &a, const UsbDevice &b) { return a.name < b.name; });
  return devices;
}

}  // namespace kmt::tty
