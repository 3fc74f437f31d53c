// kmtv1-simulate (run as `kmtv1 simulate`): the simulated controller behind pseudo-
// terminals. Prints the KMT_DRIVER value that reaches it on the first line, then serves
// until SIGINT or SIGTERM, or, when standard input is a pipe, a socket or a file, until
// its end (so a program that started it through a pipe ends it by going away).
//
// A terminal on standard input is never read: a simulator started in the background of
// an interactive shell would otherwise be stopped by the shell at its first read.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

#include "tools/simulate/pty_simulator.h"

namespace {

volatile std::sig_atomic_t g_stop_signal = 0;

extern "C" void on_stop_signal(int) {
  g_stop_signal = 1;
}

const char *const kUsage =
    "Usage: kmtv1 simulate [--pty] [--json] [OPTIONS]\n"
    "Runs the simulated controller behind one pseudo-terminal per device and prints, on\n"
    "the first line, the KMT_DRIVER value that reaches it, e.g.\n"
    "  tty:/dev/pts/3=KMTC0002SIM00001\n"
    "Serves until Ctrl-C or SIGTERM, or, when standard input is a pipe or a file, until\n"
    "its end. A terminal on standard input is not read, so `kmtv1 simulate &` keeps\n"
    "serving in the background of a shell.\n"
    "\n"
    "OPTIONS  the simulator's options, as after sim: in KMT_DRIVER (e.g. devices=2);\n"
    "         the clock is always the real one\n"
    "--pty    behind pseudo-terminals: the only way offered, accepted for scripts\n"
    "--json   print the first line as {\"driver\": \"...\"}\n"
    "\n"
    "Exit codes: 0 stopped as asked, 2 options refused or no pseudo-terminal to be had.\n";

std::string json_string(const std::string &text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

int main(int argc, char **argv) {
  bool json = false;
  std::string options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--pty") continue;
    if (arg == "--json") {
      json = true;
    } else if (arg.rfind("-", 0) == 0 || !options.empty()) {
      std::cerr << "kmtv1 simulate: unexpected argument \"" << arg << "\"\n" << kUsage;
      return 2;
    } else {
      options = arg;
    }
  }
  std::string error;
  auto server = kmt::tools::PtySimulator::create(options, &error);
  if (!server) {
    std::cerr << "kmtv1 simulate: " << error << "\n";
    return 2;
  }
  if (json) {
    std::cout << "{\"driver\": " << json_string(server->driver_value()) << "}" << std::endl;
  } else {
    std::cout << server->driver_value() << std::endl;
  }
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  // A host writing to a terminal whose server went away must not kill the server.
  ::signal(SIGPIPE, SIG_IGN);
  // A pipe, socket or file on standard input is watched for its end; a terminal or a
  // device (/dev/null under a service manager) is not.
  struct stat input {};
  const bool watched =
      ::fstat(STDIN_FILENO, &input) == 0 &&
      (S_ISFIFO(input.st_mode) || S_ISSOCK(input.st_mode) || S_ISREG(input.st_mode));
  const int watch_fd = watched ? STDIN_FILENO : -1;
  while (g_stop_signal == 0 && server->serve_once(100, watch_fd)) {
  }
  return 0;
}
