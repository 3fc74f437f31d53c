// What the kernel tells about USB-serial bridges through sysfs: the serial ports its
// USB-serial drivers have made (ttyUSBn) and the FTDI USB devices, bound or not.
// Only files are read, so a test can hand in a fake tree under any root.
#pragma once

#include <string>
#include <vector>

namespace kmt::tty {

// The vendor ID of the bridge's maker.
inline constexpr const char *kFtdiVendorId = "0403";

// One port under <root>/bus/usb-serial/devices.
struct SerialPort {
  std::string tty;             // "ttyUSB0"
  std::string driver;          // the USB-serial driver bound to it, "ftdi_sio" for FTDI bridges
  std::string serial;          // the USB device's serial-number string; empty when it has none
  std::string vendor_product;  // "0403:6001"
  std::string directory;       // the port's sysfs directory (holds latency_timer)
};

// The ports, ordered by the number of their tty (ttyUSB2 before ttyUSB10), so that an
// index stays with its device for as long as nothing is plugged or unplugged. Empty
// when the directory is missing (no USB-serial driver loaded).
std::vector<SerialPort> serial_ports(const std::string &sysfs_root);

// One USB device of the bridge's vendor under <root>/bus/usb/devices.
struct UsbDevice {
  std::string name;            // the kernel's name for it, "1-1.2"
  std::string vendor_product;  // "0403:6001"
  std::string serial;          // its serial-number string; empty when it has none
  std::string product;         // its product string
  // Drivers bound to its interfaces; empty when no driver holds any of them.
  std::vector<std::string> interface_drivers;
};

// The FTDI USB devices the kernel sees, whether or not a driver holds them, by name.
std::vector<UsbDevice> ftdi_usb_devices(const std::string &sysfs_root);

// The first line of a sysfs attribute without its line end; empty when unreadable.
std::string read_attribute(const std::string &path);

}  // namespace kmt::tty
