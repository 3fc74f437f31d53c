// shell, run, replay: several commands against one open controller, and a recorded
// trace served back as the controller.
#include <iostream>
#include <sstream>

#include "tools/cli/commands.h"
#include "tools/cli/words.h"

#if defined(_WIN32)
#include <io.h>
#define KMT_STDIN_IS_TERMINAL() (_isatty(0) != 0)
#else
#include <unistd.h>
#define KMT_STDIN_IS_TERMINAL() (isatty(0) != 0)
#endif

namespace kmt::cli {

namespace {

// The longest script `run` reads: far more than anyone types, little enough to hold.
constexpr std::size_t kScriptBytes = 1024 * 1024;

// The longest line a session reads (standard input may be a device without end).
constexpr std::size_t kLineBytes = 64 * 1024;

// Reads one line of at most kLineBytes into `line`; false at the end of the input or
// when the line is longer (*too_long then says so).
bool read_line(std::istream &in, std::string &line, bool *too_long) {
  line.clear();
  *too_long = false;
  for (int c; (c = in.get()) != std::char_traits<char>::eof();) {
    if (c == '\n') return true;
    if (line.size() == kLineBytes) {
      *too_long = true;
      return false;
    }
    line += static_cast<char>(c);
  }
  return !line.empty();
}

// A session's line that would not end by itself (or would read the session's own
// input): the reason it is refused, or empty. Global options may come first.
std::string refused_in_session(const std::vector<std::string> &words) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string &word = words[i];
    if (word == "--driver" || word == "-s" || word == "--serial" || word == "--trace") {
      ++i;  // its value
      continue;
    }
    if (word.rfind("-", 0) == 0) continue;
    if (word == "panel" || word == "simulate" || word == "mqtt") {
      return "`" + word + "` serves until Ctrl-C: run it on its own, not in shell or run";
    }
    if (word == "shell" || word == "run") {
      return "`" + word + "` cannot run inside shell or run (sessions do not nest)";
    }
    return "";
  }
  return "";
}

// Runs the lines of `in` one by one against ctx. stop_on_failure: the first failing
// line ends the run with its exit code; otherwise the run goes on and returns the last
// failure's code (0 when none failed).
int run_lines(Context &ctx, std::istream &in, bool stop_on_failure, bool prompt,
              const std::string &source) {
  Context::Session session(ctx);
  int last_failure = kExitOk;
  std::string line;
  for (int number = 1;; ++number) {
    if (prompt) std::cerr << "kmtv1> " << std::flush;
    bool too_long = false;
    if (!read_line(in, line, &too_long)) {
      if (!too_long) break;
      ctx.out.failure(source + ":" + std::to_string(number) + ": a line longer than " +
                          std::to_string(kLineBytes) + " bytes",
                      kExitUsage, -1);
      return kExitUsage;
    }
    std::string error;
    auto words = split_words(line, &error);
    if (!error.empty()) {
      ctx.out.failure(source + ":" + std::to_string(number) + ": " + error, kExitUsage, -1);
      if (stop_on_failure) return kExitUsage;
      last_failure = kExitUsage;
      continue;
    }
    if (words.empty()) continue;
    if (words[0] == "exit" || words[0] == "quit") break;
    int code = kExitUsage;
    if (auto refusal = refused_in_session(words); !refusal.empty()) {
      ctx.out.failure(source + ":" + std::to_string(number) + ": " + refusal, kExitUsage, -1);
    } else {
      code = run_command_line(ctx, words);
    }
    if (code != kExitOk) {
      last_failure = code;
      if (stop_on_failure) {
        if (!prompt) std::cerr << "kmtv1: stopped at " << source << ":" << number << "\n";
        return code;
      }
    }
  }
  if (prompt) std::cerr << "\n";
  return last_failure;
}

}  // namespace

void add_session_commands(CLI::App &app, Context &ctx) {
  app.add_subcommand("shell",
                     "Read commands from standard input, one per line, against one open "
                     "controller (settings hold from line to line; `exit` ends)")
      ->callback([&ctx] {
        bool terminal = KMT_STDIN_IS_TERMINAL();
        ctx.out.printed_own_output();
        int code = run_lines(ctx, std::cin, false, terminal, "stdin");
        ctx.out.printed_own_output();
        if (code != kExitOk) throw already_reported(code);
      });
  {
    auto *sub =
        app.add_subcommand("run",
                           "Run the commands of SCRIPT (one per line, # comments) against one open "
                           "controller; stops at the first failure");
    auto script = value<std::string>();
    sub->add_option("script", *script, "Script file, - for standard input")->required();
    sub->callback([&ctx, script] {
      ctx.out.printed_own_output();
      int code = kExitOk;
      if (*script == "-") {
        code = run_lines(ctx, std::cin, true, false, "stdin");
      } else {
        std::istringstream in(read_text_file(*script, kScriptBytes));
        code = run_lines(ctx, in, true, false, *script);
      }
      ctx.out.printed_own_output();
      if (code != kExitOk) throw already_reported(code);
    });
  }
  {
    auto *sub =
        app.add_subcommand("replay",
                           "Run a command against a recorded trace instead of a controller: "
                           "kmtv1 replay FILE -- COMMAND...");
    auto file = value<std::string>();
    auto command = value<std::vector<std::string>>();
    sub->add_option("file", *file, "Trace recorded with --trace")
        ->required()
        ->check(CLI::ExistingFile);
    sub->add_option("command", *command, "The command to run, after --")->required();
    sub->callback([&ctx, file, command] {
      ctx.options.driver = "replay:" + *file;
      ctx.out.printed_own_output();
      int code = run_command_line(ctx, *command);
      ctx.out.printed_own_output();
      if (code != kExitOk) throw already_reported(code);
    });
  }
}

static const RegisterFamily registered{110, add_session_commands};

}  // namespace kmt::cli
