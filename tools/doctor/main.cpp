// kmtv1-doctor (run as `kmtv1 doctor`): the set-up report of tools/doctor/doctor.h, as
// text or as one JSON document. A program of its own: it looks at drivers and the
// kernel's devices below the exported functions, with the library's code built in.
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "tools/doctor/doctor.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitNotFound = 3;

const char *const kUsage =
    "Usage: kmtv1 doctor [--json] [--driver DRIVER]\n"
    "Checks the set-up: the driver the library would use and why, the FTDI devices the\n"
    "kernel sees, permissions, latency timers, the vendor's library; then tries to open\n"
    "each controller. Every problem comes with a one-line fix.\n"
    "\n"
    "--json   one JSON document: report (the text's lines), driver (provider, setting,\n"
    "         tried: provider and outcome each), fixes, controllers (serial, opens,\n"
    "         driver_status), controller_opens\n"
    "\n"
    "Exit codes: 0 a controller can be opened, 3 none can, 2 wrong command line.\n";

nlohmann::json tried_json(const std::vector<std::string> &tried) {
  nlohmann::json list = nlohmann::json::array();
  for (const std::string &line : tried) {
    const auto colon = line.find(": ");
    list.push_back({{"provider", line.substr(0, colon)},
                    {"outcome", colon == std::string::npos ? "" : line.substr(colon + 2)}});
  }
  return list;
}

}  // namespace

int main(int argc, char **argv) {
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--json") {
      json = true;
    } else if (arg == "--driver" && i + 1 < argc) {
      // As the tool's global option: the meaning of KMT_DRIVER for this run.
      ::setenv("KMT_DRIVER", argv[++i], 1);
    } else {
      std::cerr << "kmtv1 doctor: unexpected argument \"" << arg << "\" (doctor checks every "
                << "controller the driver lists)\n"
                << kUsage;
      return kExitUsage;
    }
  }
  kmt::tools::DoctorOptions options;
  options.driver_name = std::getenv("KMT_DRIVER");
  kmt::tools::DoctorFindings findings;
  std::ostringstream report;
  const bool opens = kmt::tools::run_doctor(report, options, &findings) == 0;
  if (!json) {
    std::cout << report.str();
    return opens ? 0 : kExitNotFound;
  }
  nlohmann::json lines = nlohmann::json::array();
  std::istringstream in(report.str());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  nlohmann::json controllers = nlohmann::json::array();
  for (const auto &c : findings.controllers) {
    controllers.push_back(
        {{"serial", c.serial}, {"opens", c.opens}, {"driver_status", c.driver_status}});
  }
  nlohmann::json document = {
      {"report", lines},
      {"driver",
       {{"provider", findings.provider},
        {"setting", options.driver_name != nullptr ? nlohmann::json(options.driver_name)
                                                   : nlohmann::json(nullptr)},
        {"tried", tried_json(findings.tried)}}},
      {"fixes", findings.fixes},
      {"controllers", controllers},
      {"controller_opens", opens}};
  // The tool's failure form as well, for scripts that look for "error" alone.
  if (!opens) {
    document["error"] = {{"message", "no controller can be opened"},
                         {"exit_code", kExitNotFound},
                         {"status", nullptr}};
  }
  std::cout << document.dump(2) << "\n";
  return opens ? 0 : kExitNotFound;
}
