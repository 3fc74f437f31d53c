// The tool's subcommands, one file per family (cmd_<family>.cpp).
//
// Adding a family:
//   1. Write tools/cli/cmd_<family>.cpp with
//        void add_<family>_commands(CLI::App &app, Context &ctx) { ... }
//      adding its subcommands to `app` (the root). Each leaf subcommand sets a callback
//      that does its work through `ctx` (ctx.handle() opens the controller, ctx.check()
//      turns a status into a Failure) and hands its result to ctx.out.result(json, text).
//   2. Declare the function below and register it in the same file, at namespace scope:
//        static const RegisterFamily registered{ORDER, add_<family>_commands};
//      ORDER places the family in --help (see the numbers used below).
//   No other file changes: CMake picks up every tools/cli/*.cpp.
//
// Option values live in shared_ptr's captured by the callbacks (see `value()`), because
// the shell builds a fresh command tree for every line it runs.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/cli/context.h"
#include "tools/common/ranges.h"

namespace kmt::cli {

// The argument ranges and parsers shared with the panel and the MQTT bridge.
using namespace kmt::tools;

// Families, in --help order.
void add_system_commands(CLI::App &app, Context &ctx);   // 10: list, info, watchdog
void add_dio_commands(CLI::App &app, Context &ctx);      // 20: dio
void add_analog_commands(CLI::App &app, Context &ctx);   // 30: ai, ao
void add_bus_commands(CLI::App &app, Context &ctx);      // 40: i2c, spi
void add_uart_commands(CLI::App &app, Context &ctx);     // 50: uart
void add_onewire_commands(CLI::App &app, Context &ctx);  // 60: onewire
void add_gen_commands(CLI::App &app, Context &ctx);      // 70: gen, count, shift
void add_mem_commands(CLI::App &app, Context &ctx);      // 80: mem
void add_acquire_commands(CLI::App &app, Context &ctx);  // 90: acquire, scan, wave
void add_raw_commands(CLI::App &app, Context &ctx);      // 100: raw
void add_session_commands(CLI::App &app, Context &ctx);  // 110: shell, run, replay
// Hook points for families built elsewhere (declared here, defined in their own files):
void add_helper_commands(CLI::App &app, Context &ctx);  // 120: simulate, doctor, mqtt
// A line whose command is a helper program runs it (cmd_helpers.cpp) and gives its exit
// code; nullopt for every other line. Defined where helpers exist (POSIX).
std::optional<int> run_helper_command(Context &ctx, const std::vector<std::string> &args);
void add_panel_commands(CLI::App &app, Context &ctx);  // 140: panel

using AddCommands = void (*)(CLI::App &app, Context &ctx);

struct CommandFamily {
  int order;
  AddCommands add;
};

// Registers a family at start-up (one static object per command file).
struct RegisterFamily {
  RegisterFamily(int order, AddCommands add);
};

// Every registered family, in order.
std::vector<CommandFamily> command_families();

// Builds the whole command tree (global options and every family) onto `app`.
void build_app(CLI::App &app, Context &ctx);

// Parses and runs one command line (without the program name) against ctx: prints the
// result or the failure and returns the exit code. The shell, `run` and `replay` use it
// for every line, so settings made by one line hold for the next.
int run_command_line(Context &ctx, const std::vector<std::string> &args);

// Storage for one option value that outlives the parse.
template <class T>
std::shared_ptr<T> value(T initial = T{}) {
  return std::make_shared<T>(std::move(initial));
}

// A CLI11 check for one of the ranges of tools/common/ranges.h.
inline CLI::Validator in(const Range &r) {
  return CLI::Range(r.min, r.max);
}

// A subcommand grouping others (`dio`, `i2c`, ...): needs one of them.
inline CLI::App *family(CLI::App &app, const std::string &name, const std::string &help) {
  auto *group = app.add_subcommand(name, help);
  group->require_subcommand(1);
  return group;
}

// Parses a hex byte list given on the command line, failing with exit code 2.
std::vector<std::uint8_t> hex_argument(const std::string &text);
// The bytes of several such arguments, one after the other.
std::vector<std::uint8_t> hex_arguments(const std::vector<std::string> &parts);
// Reads a whole regular file of at most max_bytes (what the command can use), failing
// with exit code 1 and a message naming the file for a directory, a device or FIFO (which
// may never end), a larger file, or one that cannot be read. At most max_bytes + 1 bytes
// are read, whatever the file claims to be.
std::vector<std::uint8_t> read_file_bytes(const std::string &path, std::size_t max_bytes);
// The same, as text.
std::string read_text_file(const std::string &path, std::size_t max_bytes);
// Writes bytes to a file (or "-" standard output), failing with exit code 1.
void write_file_bytes(const std::string &path, const std::vector<std::uint8_t> &bytes);
// Writes text to a file, failing with exit code 1.
void write_text_file(const std::string &path, const std::string &text);

}  // namespace kmt::cli

namespace kmt::cli {

// Calls read_once(seconds since the start) every interval_ms until `count` readings
// (0: no limit) or Ctrl-C. read_once prints its reading through ctx.out.record().
void watch_loop(Context &ctx, int interval_ms, long long count,
                const std::function<void(double seconds)> &read_once);

// Adds --interval and --count to a live subcommand.
void add_watch_options(CLI::App *sub, const std::shared_ptr<int> &interval_ms,
                       const std::shared_ptr<long long> &count);

// Formats a number with a fixed count of decimals.
std::string fixed(double value, int decimals);

}  // namespace kmt::cli
