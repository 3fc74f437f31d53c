// Commands that are programs of their own: `kmtv1 NAME ARGS` runs `kmtv1-NAME ARGS`, as
// git runs its git-* commands. They need more than the exported functions (the simulator
// behind pseudo-terminals, doctor's look at the machine) or other libraries (the MQTT
// bridge), and so live outside this process, which holds only the shared library.
//
// A helper is looked for in $KMTV1_EXEC_PATH when set, then in the installed libexec
// folder relative to this program, then beside this program (the build tree). POSIX
// only: the helpers are Linux programs.
#if !defined(_WIN32)

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "tools/cli/commands.h"

extern char **environ;

namespace kmt::cli {
namespace {

struct Helper {
  const char *name;
  const char *description;
};

constexpr Helper kHelpers[] = {
    {"simulate",
     "Run the simulated controller behind one pseudo-terminal per device; the first line "
     "printed is the KMT_DRIVER value that reaches it (kmtv1 simulate --help)"},
    {"doctor",
     "Check the set-up: driver in use and why, FTDI devices the kernel sees, permissions, "
     "latency timer, vendor library; exit code 0 when a controller can be opened"},
    {"mqtt", "Bridge one controller to an MQTT broker (kmtv1 mqtt --help)"},
};

std::string program_directory() {
  std::string path(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) return ".";
  path.resize(static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/'));
}

bool is_program(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The helper's path, or "" with the places tried in *tried.
std::string find_helper(const std::string &name, std::string *tried) {
  const std::string file = "kmtv1-" + name;
  std::vector<std::string> places;
  if (const char *exec_path = std::getenv("KMTV1_EXEC_PATH"); exec_path && *exec_path) {
    places.push_back(exec_path);
  }
  const std::string here = program_directory();
  places.push_back(here + "/" KMTV1_BIN_TO_LIBEXEC);
  places.push_back(here);
  for (const std::string &place : places) {
    if (is_program(place + "/" + file)) return place + "/" + file;
    *tried += (tried->empty() ? "" : ", ") + place;
  }
  return "";
}

pid_t g_child = 0;

void forward_to_child(int signal_number) {
  if (g_child > 0) ::kill(g_child, signal_number);
}

// Runs the program and waits for it; its exit code, or 128 + the signal that ended it.
int run_and_wait(const std::string &path, const std::vector<std::string> &args) {
  std::vector<char *> argv;
  for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);
  std::cout.flush();
  // Ctrl-C reaches the helper from the terminal itself; this process waits for it to
  // finish its own way. A SIGTERM sent to this process alone is passed on.
  struct sigaction ignore {
  }, forward{}, old_int{}, old_quit{}, old_term{};
  ignore.sa_handler = SIG_IGN;
  forward.sa_handler = forward_to_child;
  ::sigaction(SIGINT, &ignore, &old_int);
  ::sigaction(SIGQUIT, &ignore, &old_quit);
  ::sigaction(SIGTERM, &forward, &old_term);
  // The helper starts with the default dispositions, whatever this process ignores.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGQUIT);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t child = 0;
  int error = ::posix_spawn(&child, path.c_str(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  int code = kExitFailure;
  if (error == 0) {
    g_child = child;
    int wait_status = 0;
    while (::waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
    }
    g_child = 0;
    if (WIFEXITED(wait_status)) code = WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status)) code = 128 + WTERMSIG(wait_status);
  }
  ::sigaction(SIGINT, &old_int, nullptr);
  ::sigaction(SIGQUIT, &old_quit, nullptr);
  ::sigaction(SIGTERM, &old_term, nullptr);
  if (error != 0) throw Failure(path + ": cannot run: " + std::strerror(error), kExitFailure);
  return code;
}

}  // namespace

// The helpers as commands, for --help: the words after a helper's name never reach the
// parser (run_helper_command takes the line first).
void add_helper_commands(CLI::App &app, Context &) {
  for (const Helper &helper : kHelpers) {
    auto *sub = app.add_subcommand(helper.name, helper.description);
    sub->allow_extras();
  }
}

std::optional<int> run_helper_command(Context &ctx, const std::vector<std::string> &args) {
  // Global options may come first, as for any command; the first other word names the
  // command, and everything after a helper's name is the helper's own, --help included.
  std::size_t i = 0;
  GlobalOptions options = ctx.options;
  for (; i < args.size(); ++i) {
    const std::string &arg = args[i];
    std::string *value = nullptr;
    std::string name = arg.substr(0, arg.find('='));
    if (arg == "--json") {
      options.json = true;
      continue;
    }
    if (name == "--driver") value = &options.driver;
    if (name == "-s" || name == "--serial") value = &options.serial;
    if (name == "--trace") value = &options.trace;
    if (value == nullptr) break;
    if (arg.size() > name.size()) {
      *value = arg.substr(name.size() + 1);
    } else if (i + 1 < args.size()) {
      *value = args[++i];
    } else {
      return std::nullopt;  // the parser reports the missing value
    }
  }
  if (i == args.size()) return std::nullopt;
  const Helper *helper = nullptr;
  for (const Helper &h : kHelpers) {
    if (args[i] == h.name) helper = &h;
  }
  if (helper == nullptr) return std::nullopt;
  ctx.options = options;
  ctx.out.set_json(options.json);
  ctx.prepare();
  std::string tried;
  const std::string name = helper->name;
  const std::string path = find_helper(name, &tried);
  if (path.empty()) {
    throw Failure("kmtv1-" + name + " is not installed (looked in " + tried +
                      "; KMTV1_EXEC_PATH names another folder)",
                  kExitFailure);
  }
  // The global options as the helper takes them; --driver and --trace travel in
  // KMT_DRIVER.
  std::vector<std::string> helper_args{path};
  if (options.json) helper_args.push_back("--json");
  if (!options.serial.empty()) helper_args.insert(helper_args.end(), {"--serial", options.serial});
  helper_args.insert(helper_args.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                     args.end());
  ctx.out.printed_own_output();
  return run_and_wait(path, helper_args);
}

static const RegisterFamily registered{120, add_helper_commands};

}  // namespace kmt::cli

#endif
