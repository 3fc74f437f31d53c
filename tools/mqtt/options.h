// The bridge's settings: from the command line and from configuration files of the
// same options, checked before anything connects.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kmt::mqtt {

// Exit codes (kept in step with kUsage).
enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,    // the broker's settings (TLS files) could not be used
  kExitUsage = 2,      // a wrong option or configuration file
  kExitNotFound = 3,   // no controller found, or it could not be opened
  kExitTakenOver = 4,  // another client with this bridge's client id connected
};

extern const char *const kUsage;

struct Options {
  // --broker, split: mqtt://HOST[:PORT] or mqtts://HOST[:PORT].
  std::string broker_url = "mqtt://localhost";
  std::string host = "localhost";
  int port = 1883;
  bool tls = false;
  std::string cafile, certfile, keyfile;
  std::string user;
  std::string password;  // read from a file or the environment, never the command line
  int keepalive_s = 30;

  std::string driver;  // --driver: the value KMT_DRIVER takes for this run
  std::string serial;  // --serial: full serial-number string or its serial part

  double rate_hz = 2.0;
  std::string prefix = "kmtv1";
  std::string discovery_prefix = "homeassistant";  // empty: no discovery
  bool commands = false;
  std::vector<int> outputs;    // lines driven as outputs (only with commands)
  std::optional<int> counter;  // counting window selector, when the counter is read
  bool help = false, version = false;
};

// Parses the arguments (after the program name). Configuration files named by --config
// are read where they appear; later options override earlier ones. On a problem,
// returns nothing and sets *error to a message in words.
std::optional<Options> parse_options(const std::vector<std::string> &args, std::string *error);

// How long the controller's counting window `selector` (0..17) keeps a reading, in
// seconds.
double counting_window_s(int selector);

}  // namespace kmt::mqtt
