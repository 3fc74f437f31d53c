// kmtv1-panel: the front panel on its own, for hosts without the command-line tool and
// for the panel's tests. `kmtv1 panel` is the same with the tool's common options.
#include <CLI/CLI.hpp>

#include "panel.h"

int main(int argc, char **argv) {
  CLI::App app{
      "Serve a front panel for a KMTC I/O controller in the browser. "
      "KMT_DRIVER=sim uses the simulated controller."};
  panel::PanelOptions options;
  app.add_option("-s,--serial", options.serial, "Full serial-number string (default: first found)");
  app.add_option("--port", options.port, "TCP port (default: a free one)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--bind", options.bind,
                 "Address to listen on (default: 127.0.0.1, this machine only)");
  CLI11_PARSE(app, argc, argv);
  return panel::run_panel(options);
}
