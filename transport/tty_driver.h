// The driver provider over the kernel's own serial driver (Linux): the bridge as the
// kernel's FTDI serial driver presents it (/dev/ttyUSBn), or terminals named outright.
//
// The terminals, the text after "tty:" in KMT_DRIVER:
//   ""                       the FTDI ports bound to the kernel's ftdi_sio driver, found in
//                            sysfs, each known by its USB serial-number string;
//   "PATH=SERIAL[+PATH=...]" exactly these terminals, with these serial-number strings
//                            (pseudo-terminals, adapters without USB identity).
//
// What each operation does:
//   ListDevices  counts the ports afresh; by index answers from that count's list;
//   OpenEx       opens the port exclusively: an advisory lock (flock) plus TIOCEXCL, so a
//                second opener, in this process or another, gets FT_DEVICE_NOT_OPENED; the
//                line goes raw (no echo, no translation, CLOCAL); on a sysfs port the
//                bridge's latency timer drops to 1 ms where permitted (ASYNC_LOW_LATENCY,
//                else the latency_timer attribute) and is restored by Close;
//   SetBaudRate  sets the exact rate through the arbitrary-rate interface (BOTHER) and
//                reads it back: a rate the kernel does not keep is FT_INVALID_BAUD_RATE;
//   SetDataCharacteristics, SetFlowControl  termios bits (DTR/DSR flow control has no
//                termios form: FT_INVALID_PARAMETER);
//   Purge        flushes the kernel's receive and/or transmit queue; ResetDevice both;
//   SetTimeouts  read and write time-outs; 0 waits without limit, as the bridge's driver;
//   Read, Write  return when all bytes moved or the time-out passed, never earlier.
// On named terminals, a setting the kernel refuses or does not keep is tolerated (FT_OK):
// a pseudo-terminal has no line to set. On sysfs ports it is an error.
// A hang-up (device unplugged, pseudo-terminal's other side gone) or an I/O error makes
// the call fail with FT_IO_ERROR at once, and every later call on that handle but Close.
// Calls must not overlap (the library's lock serialises them).
#pragma once

#include <memory>
#include <string>

#include "transport/driver.h"

namespace kmt {

struct TtyDriverOptions {
  std::string sysfs_root = "/sys";
  std::string dev_root = "/dev";
};

// Null with *error set when the driver_text cannot be understood or the platform has no
// kernel serial driver to use.
std::unique_ptr<Driver> make_tty_driver(const std::string &driver_text, std::string *error,
                                        const TtyDriverOptions &options = {});

}  // namespace kmt
