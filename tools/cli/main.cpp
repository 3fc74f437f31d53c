// kmtv1: the controller from the command line, through the library's exported
// functions only; commands that need more run as programs of their own
// (cmd_helpers.cpp). This file holds the command tree's root (global options, help,
// exit codes) and runs one command line; the commands live in cmd_<family>.cpp.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "kmtv1.h"
#include "tools/cli/commands.h"

namespace kmt::cli {

namespace {

std::string version_text() {
  int32_t major = 0, minor = 0, build = 0;
  KMT_GetDriverVersion(&major, &minor, &build);
  return "kmtv1 " KMTV1_TOOL_VERSION " (library " + std::to_string(major) + "." +
         std::to_string(minor) + "." + std::to_string(build) + ")";
}

const char *const kFooter =
    "Global options may stand anywhere on the line, before or after the command.\n"
    "Every command takes --json: one JSON document on standard output (live commands:\n"
    "one object per line); on failure {\"error\": {\"message\", \"exit_code\", \"status\"}},\n"
    "status being what the failing library call stored, null when none was made.\n"
    "\n"
    "Drivers (--driver or the environment variable KMT_DRIVER):\n"
    "  (unset)           the FTDI D2XX driver; without it, on Linux, tty\n"
    "  d2xx              the FTDI D2XX driver only\n"
    "  tty               the kernel's FTDI serial driver (/dev/ttyUSBn, Linux)\n"
    "  tty:PATH=SERIAL   exactly these terminals (+ joins several), e.g. from simulate\n"
    "  sim[:OPTIONS]     the simulated controller, e.g. sim:clock=virtual\n"
    "  rfc2217:HOST:PORT[=SERIAL]  a controller behind ser2net on another machine (+ joins\n"
    "                    several; docs/remote.md)\n"
    "  /path/to/lib.so   a library exporting the D2XX functions\n"
    "  trace:FILE:INNER  driver INNER, recording every frame into FILE\n"
    "  replay:FILE       serves a recorded trace back (see `kmtv1 replay`)\n"
    "\n";

}  // namespace

void build_app(CLI::App &app, Context &ctx) {
  app.description("Drive a KMTC I/O controller from the command line.");
  app.name("kmtv1");
  app.require_subcommand(1);
  // Options of the root are accepted after a subcommand as well.
  app.fallthrough();
  app.set_help_all_flag("--help-all", "Print help for every command and exit");
  app.set_version_flag("--version", version_text, "Print the tool's and the library's version");
  app.add_option("--driver", ctx.options.driver,
                 "Driver to use (the meaning of KMT_DRIVER), e.g. sim")
      ->type_name("DRIVER")
      ->check(CLI::Validator([](std::string &driver) { return driver_form_problem(driver); }, "",
                             "driver form"));
  app.add_option("-s,--serial", ctx.options.serial,
                 "Controller: the full string `list` prints, or its serial part when unique "
                 "(default: the first listed)")
      ->type_name("SERIAL");
  app.add_flag("--json", ctx.options.json, "Print JSON instead of text");
  app.add_option("--trace", ctx.options.trace,
                 "Record every frame in each direction into FILE (see README)")
      ->type_name("FILE");
  // Runs after the whole line is parsed and before any command's callback.
  app.parse_complete_callback([&ctx] {
    ctx.out.set_json(ctx.options.json);
    ctx.prepare();
  });
  for (const auto &family : command_families()) family.add(app, ctx);
  // The long footer once, on the root; every subcommand points to it.
  app.footer(std::string(kFooter) + kExitCodesHelp);
  std::function<void(CLI::App *)> point_to_root = [&](CLI::App *sub) {
    sub->footer(
        "Global options --driver, -s, --json and --trace work here too; drivers and "
        "exit codes: kmtv1 --help");
    for (auto *child : sub->get_subcommands({})) point_to_root(child);
  };
  for (auto *sub : app.get_subcommands({})) point_to_root(sub);
}

int run_command_line(Context &ctx, const std::vector<std::string> &args) {
  CLI::App app;
  const GlobalOptions before = ctx.options;
  int code = kExitOk;
  try {
#if !defined(_WIN32)
    if (auto helper_code = run_helper_command(ctx, args)) {
      ctx.options = before;
      ctx.out.set_json(before.json);
      return *helper_code;
    }
#endif
    build_app(app, ctx);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
    ctx.out.finish();
  } catch (const CLI::CallForHelp &e) {
    code = app.exit(e);
  } catch (const CLI::CallForAllHelp &e) {
    code = app.exit(e);
  } catch (const CLI::CallForVersion &e) {
    code = app.exit(e);
  } catch (const CLI::ParseError &e) {
    // A refused option may stop the parse before --json further along is read.
    ctx.out.set_json(ctx.options.json ||
                     std::find(args.begin(), args.end(), "--json") != args.end());
    code = kExitUsage;
    // CLI11 reports a misspelt command as a missing one: name the word it did not know,
    // or the commands that could follow.
    std::string message = e.what();
    CLI::App *deepest = &app;
    std::string path;
    while (!deepest->get_subcommands().empty()) {
      deepest = deepest->get_subcommands().front();
      path += deepest->get_name() + " ";
    }
    auto choices = deepest->get_subcommands({});
    if (!choices.empty()) {
      auto left = app.remaining(true);
      if (!left.empty()) {
        message = "unknown command: " + path + left.front();
      } else {
        message = path.empty() ? std::string("a command is needed:") : path + "needs a command:";
        for (const auto *choice : choices) message += " " + choice->get_name();
      }
    }
    ctx.out.failure(message + "\nRun with --help for more information.", code, -1);
  } catch (const Failure &e) {
    code = e.exit_code;
    if (*e.what() != '\0') ctx.out.failure(e.what(), code, e.status);
  }
  // --json and the like given on one line of a session hold for that line only.
  ctx.options = before;
  ctx.out.set_json(before.json);
  return code;
}

}  // namespace kmt::cli

int main(int argc, char **argv) {
  kmt::cli::Context context;
  int code = kmt::cli::run_command_line(context, std::vector<std::string>(argv + 1, argv + argc));
  context.close();
  return context.check_traces(code);
}
