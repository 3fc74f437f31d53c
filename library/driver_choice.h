// The composition root's choice of driver provider, by the name a user gives
// (KMT_DRIVER, the tool's --driver). The only place that knows every provider: the
// transport's own, and the simulated controller.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "transport/driver.h"

namespace kmt {

// Chooses a provider by name:
//   "sim" or "sim:OPTIONS"  the built-in simulated controller (options: sim/README.md);
//   "tty" or "tty:TERMINALS"  the kernel's serial driver (Linux; transport/tty_driver.h);
//   "d2xx"                  the vendor's driver library, loaded at run time;
//   ""                      the vendor's driver library, and where it cannot be loaded,
//                           on Linux, the kernel's serial driver;
//   an absolute path        a shared library exporting the eleven FT_* functions;
//   "trace:FILE:INNER"      driver INNER, every call recorded into FILE (transport/trace.h);
//   "replay:FILE"           a recorded trace served back (transport/trace.h).
// Never returns null: when the named provider cannot be had, the result is a driver
// whose every call fails with FT_DEVICE_NOT_FOUND, and *error (if given) says why.
// A provider in use that has a problem worth reporting also sets *error.
std::unique_ptr<Driver> make_driver(const std::string &name, std::string *error = nullptr);

// Where the choice looks; tests point it elsewhere.
struct DriverSearch {
  std::string vendor_library;  // empty: the platform's name for the vendor's library
  std::string sysfs_root = "/sys";
  std::string dev_root = "/dev";
};

// The choice with its reasons, for make_driver and for diagnosis.
struct DriverChoice {
  std::unique_ptr<Driver> driver;  // never null
  std::string provider;            // "sim", "tty", "d2xx", a library path, or "none"
  std::vector<std::string> tried;  // per provider tried, in order: "NAME: chosen" or why not
  std::string error;               // why the named provider cannot be had; empty when it can
  std::string
      warning;  // a problem of the provider in use worth a line (a state file it cannot use)
};
DriverChoice choose_driver(const std::string &name, const DriverSearch &search = {});

}  // namespace kmt
