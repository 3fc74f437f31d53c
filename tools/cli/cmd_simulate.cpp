// simulate --pty: the simulated controller behind pseudo-terminals, for programs that
// reach it through the kernel's serial driver (tools/pty_simulator.h). Linux only.
#if defined(__linux__)

#include <iostream>
#include <sstream>

#include "tools/cli/commands.h"
#include "tools/pty_simulator.h"

namespace kmt::cli {

void add_simulate_commands(CLI::App &app, Context &ctx) {
  auto *sub = app.add_subcommand(
      "simulate",
      "Run the simulated controller behind one pseudo-terminal per device; the first line "
      "printed is the KMT_DRIVER value that reaches it. Serves until Ctrl-C or the end of "
      "standard input");
  auto pty = value<bool>(false);
  auto options = value<std::string>();
  sub->add_flag("--pty", *pty, "Behind pseudo-terminals (the only way offered)")->required();
  sub->add_option("options", *options,
                  "The simulator's options, as after sim: (e.g. devices=2); the clock is "
                  "always the real one");
  // The flag's value must outlive this function: the parser writes it after we return.
  sub->callback([&ctx, options, pty] {
    (void)pty;
    ctx.out.printed_own_output();
    std::ostringstream error;
    if (tools::run_simulate_pty(*options, std::cout, error) != 0) {
      std::string message = error.str();
      while (!message.empty() && message.back() == '\n') message.pop_back();
      throw Failure("simulate: " + message, kExitUsage);
    }
  });
}

static const RegisterFamily registered{120, add_simulate_commands};

}  // namespace kmt::cli

#endif
