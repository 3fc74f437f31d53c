// kmtv1-doctor (run as `kmtv1 doctor`): what a user runs when no controller is found. It says which
// driver provider the library would use and why, what the kernel sees of FTDI bridges, whether this
// user may open their terminals, the bridges' latency timers, whether the vendor's library is
// present, and tries to open each controller; every problem comes with a one-line fix.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace kmt::tools {

struct DoctorOptions {
  const char *driver_name = nullptr;  // KMT_DRIVER's value; null when unset
  std::string vendor_library;         // empty: the platform's name for it
  std::string sysfs_root = "/sys";
  std::string dev_root = "/dev";
};

// The report's findings, for --json.
struct DoctorFindings {
  std::string provider;            // the provider the library would use
  std::vector<std::string> tried;  // per provider tried: "NAME: chosen" or why not
  std::vector<std::string> fixes;  // one line per problem found
  struct Controller {
    std::string serial;
    bool opens = false;
    unsigned long driver_status = 0;
  };
  std::vector<Controller> controllers;
};

// Writes the report to out and its findings to *findings (if given). Returns 0 when a
// controller could be opened, else 1.
int run_doctor(std::ostream &out, const DoctorOptions &options, DoctorFindings *findings = nullptr);

}  // namespace kmt::tools
