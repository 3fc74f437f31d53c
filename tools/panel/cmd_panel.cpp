// `kmtv1 panel`: the front panel in the browser for the controller the tool's options
// name, served until Ctrl+C.
#include "panel.h"
#include "tools/cli/commands.h"

namespace kmt::cli {

void add_panel_commands(CLI::App &app, Context &ctx) {
  auto *sub = app.add_subcommand(
      "panel", "Serve a front panel for the controller in the browser; prints the URL to open");
  auto port = value<int>(0);
  auto bind = value<std::string>("127.0.0.1");
  sub->add_option("--port", *port, "TCP port (default: a free one)")->check(CLI::Range(0, 65535));
  sub->add_option("--bind", *bind,
                  "Address to listen on (default: 127.0.0.1, this machine only); the URL's "
                  "token is still required");
  sub->callback([&ctx, port, bind] {
    // Finds the controller as every command does (-s, or the first listed) and fails the
    // same way; the panel then opens it by its full string, and again when it comes back.
    ctx.handle();
    panel::PanelOptions options;
    options.serial = ctx.open_serial();
    ctx.close();
    options.port = *port;
    options.bind = *bind;
    options.on_ready = [&ctx](const std::string &url, const std::string &controller) {
      ctx.out.record(json{{"url", url}, {"controller", controller}},
                     "Panel of controller " + controller + ": open " + url + "\nStop with Ctrl+C.");
    };
    ctx.out.printed_own_output();
    try {
      panel::serve(options);
    } catch (const panel::PanelError &e) {
      throw Failure(e.what(), kExitFailure);
    }
  });
}

static const RegisterFamily registered{140, add_panel_commands};

}  // namespace kmt::cli
