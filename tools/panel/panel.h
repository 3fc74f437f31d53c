// The front panel in the browser: serves a page that shows one controller's lines and
// inputs live and drives its outputs, from the calling process, until interrupted.
#pragma once

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

namespace panel {

struct PanelOptions {
  // Address to listen on. Only this machine by default; anything else exposes the
  // controller to the network (still behind the token).
  std::string bind = "127.0.0.1";
  // 0: a free port chosen by the system (the printed URL carries it anyway).
  int port = 0;
  // Full serial-number string of the controller; empty for the first one found.
  std::string serial;
  // Access token required on every request; empty: a fresh random one.
  std::string token;
  // Told the URL to open and the controller's serial-number string once the panel
  // serves; when empty, both are printed on standard output.
  std::function<void(const std::string &url, const std::string &controller)> on_ready;
};

// Why the panel could not start: the controller cannot be opened, or the address
// cannot be bound.
struct PanelError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Serves until SIGINT or SIGTERM, then returns; throws PanelError when it cannot start.
void serve(const PanelOptions &options);

// serve() for a program of its own: the reason for a failure on standard error, and the
// exit code (0 after a stop by signal, 1 when the panel could not start).
int run_panel(const PanelOptions &options);

// The checks every request passes, exposed for tests. A host is allowed when it names
// this machine's loopback address or the bound address, with the port served.
bool host_allowed(const std::string &host_header, const std::string &bind, int port);
// Compares in time independent of where the two differ.
bool token_matches(const std::string &given, const std::string &expected);

}  // namespace panel
