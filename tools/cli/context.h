// The state one command line (or one shell session) works with: the global options,
// the output, the controller once opened, and how failures become messages and exit
// codes.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/cli/output.h"
#include "tools/common/words.h"

namespace kmt::cli {

// Exit codes, documented in the tool's --help (keep kExitCodesHelp in step).
enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,      // a file could not be read or written, or another failure
  kExitUsage = 2,        // the command line is wrong: unknown command, bad argument
  kExitNotFound = 3,     // no controller found, or it could not be opened
  kExitStatusBase = 10,  // a device call failed: 10 + its status (11, 12, 13, 14)
};

extern const char *const kExitCodesHelp;

// A command that cannot go on: the message in words, the exit code, and the library
// status behind it (-1 when there is none).
struct Failure : std::runtime_error {
  Failure(const std::string &message, int exit_code, int status = -1)
      : std::runtime_error(message), exit_code(exit_code), status(status) {}
  int exit_code;
  int status;
};

// A failure already reported by an inner command line (a session's, a replay's): only
// its exit code remains to pass on.
inline Failure already_reported(int exit_code) {
  return Failure("", exit_code);
}

// Throws a usage failure (exit code 2) unless `problem` is empty.
void refuse_if(const std::optional<std::string> &problem);

using tools::driver_status_words;
using tools::status_words;
// Why a --driver value cannot name a driver ("" when its form is one the library
// knows); the library itself checks what follows the form (sim options, paths).
std::string driver_form_problem(const std::string &driver);

struct GlobalOptions {
  std::string driver;  // --driver: the value KMT_DRIVER takes for this run
  std::string serial;  // -s: full serial-number string or its serial part
  std::string trace;   // --trace: record every frame into this file
  bool json = false;
};

struct ListedController {
  std::string type, serial;
  std::string full() const { return type + serial; }
};

class Context {
 public:
  GlobalOptions options;
  Output out;

  // Sets KMT_DRIVER from --driver and --trace. Must run before the first library call
  // of the process (the library reads KMT_DRIVER once); refuses a change of driver,
  // serial or trace once the library has been used (a shell session keeps them).
  void prepare();
  // After the command: a trace the driver string records into must be there (the library
  // moves a trace it could not write completely aside and says why on standard error).
  // Returns exit_code, or kExitFailure in place of success when a trace is missing.
  int check_traces(int exit_code);
  // The driver string in effect, "" meaning the vendor's driver.
  std::string driver_from_environment() const;
  // A description of the driver for messages: "sim:clock=virtual", "d2xx (default)".
  std::string driver_description() const;

  // The controllers the driver lists (type KMTCV1); *status gets the listing status.
  std::vector<ListedController> list_controllers(int32_t *status);
  // The open controller's handle, opening it on first use (-s, or the first listed).
  uint32_t *handle();
  // The full serial-number string of the open controller ("" before the first open).
  const std::string &open_serial() const { return open_serial_; }
  // Throws a Failure naming `what` when status is not 0.
  void check(const std::string &what, int32_t status) const;
  void close();

  // Whether a command runs as a line of `shell` or `run` (which then refuse the commands
  // that run until Ctrl-C); Session marks the lines' time.
  bool in_session() const { return session_depth_ > 0; }
  struct Session {
    explicit Session(Context &ctx) : ctx_(ctx) { ++ctx_.session_depth_; }
    ~Session() { --ctx_.session_depth_; }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    Context &ctx_;
  };

  // Ctrl-C handling for live commands: watch() installs the handler, interrupted()
  // says whether Ctrl-C came since.
  void watch_interrupts();
  bool interrupted() const;

 private:
  // status: what the failing call stored (the discovery's driver status, or the
  // open's status), carried into the JSON error object.
  [[noreturn]] void fail_not_found(const std::string &what, uint32_t driver_status,
                                   int32_t status) const;
  int session_depth_ = 0;
  std::vector<std::string> trace_files_;
  bool library_used_ = false;
  GlobalOptions used_with_;
  uint32_t handle_ = 0;
  bool open_ = false;
  std::string open_serial_;
};

}  // namespace kmt::cli
