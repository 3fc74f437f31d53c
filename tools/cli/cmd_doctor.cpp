// doctor: why no controller is found, with a fix for each problem (tools/doctor.h).
// Linux only.
#if defined(__linux__)

#include <cstdlib>
#include <sstream>

#include "tools/cli/commands.h"
#include "tools/doctor.h"

namespace kmt::cli {

void add_doctor_commands(CLI::App &app, Context &ctx) {
  auto *sub = app.add_subcommand(
      "doctor",
      "Check the set-up: driver in use and why, FTDI devices the kernel sees, permissions, "
      "latency timer, vendor library; exit code 0 when a controller can be opened");
  sub->callback([&ctx] {
    std::ostringstream report;
    tools::DoctorOptions options;
    // KMT_DRIVER as --driver left it for this run.
    options.driver_name = std::getenv("KMT_DRIVER");
    bool opens = tools::run_doctor(report, options) == 0;
    std::string text = report.str();
    if (!text.empty() && text.back() == '\n') text.pop_back();
    json lines = json::array();
    for (std::istringstream in(text); !in.eof();) {
      std::string line;
      std::getline(in, line);
      lines.push_back(line);
    }
    if (opens) {
      ctx.out.result({{"report", lines}, {"controller_opens", true}}, text);
      return;
    }
    // A failure replaces the JSON document: there the report goes with the message.
    if (!ctx.out.json_mode()) ctx.out.result(nullptr, text);
    throw Failure(ctx.out.json_mode() ? text : "no controller can be opened", kExitNotFound);
  });
}

static const RegisterFamily registered{130, add_doctor_commands};

}  // namespace kmt::cli

#endif
