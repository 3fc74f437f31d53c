// The simulated controller behind pseudo-terminals, one per simulated device, so that
// programs reach it through the kernel's terminal layer as they would a real bridge
// (KMT_DRIVER=tty:/dev/pts/N=SERIAL). Linux only: the program kmtv1-simulate.
//
// The simulated controller hears frames only when the terminal's settings, as the host
// made them through termios, say 250000 baud, 8 data bits, one stop bit, no parity and no
// flow control; at any other setting what arrives is noise to it, as on the wire.
// Linux pseudo-terminals keep an arbitrary rate set through termios2 (BOTHER) and report it
// back, so the rate the host asked for is the rate the simulator sees.
//
// The server never holds the terminal's own side open: each host open is fresh (the
// kernel resets the settings and the exclusive flag at the last close), and a host that
// died leaves nothing behind. While no host has the terminal open the server looks
// again every 10 ms, so a new host's first bytes wait at most that long.
#pragma once

#include <memory>
#include <string>

namespace kmt::tools {

class PtySimulator {
 public:
  // options: the simulator's options (sim/README.md), without the clock: the clock here is
  // always the real one. Null with *error set when they cannot be understood or no
  // pseudo-terminal can be had.
  static std::unique_ptr<PtySimulator> create(const std::string &options, std::string *error);
  virtual ~PtySimulator() = default;

  // The KMT_DRIVER value that reaches the simulated devices:
  // "tty:/dev/pts/3=KMTC0002SIM00001[+/dev/pts/4=...]".
  virtual std::string driver_value() const = 0;

  // One round of service: waits up to timeout_ms (less when an answer falls due) for
  // bytes from the hosts, hands them to the simulated controllers and sends the answers
  // that are due. Returns false when watch_fd (if >= 0) reached its end or failed.
  virtual bool serve_once(int timeout_ms, int watch_fd = -1) = 0;
};

}  // namespace kmt::tools
