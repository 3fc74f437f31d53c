// kmtv1-mqtt: a bridge between one controller and an MQTT broker (docs/mqtt.md).
#include <mosquitto.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "kmtv1.h"
#include "tools/mqtt/bridge.h"
#include "tools/mqtt/options.h"

namespace {
std::atomic<bool> stop_requested{false};
extern "C" void on_stop_signal(int) {
  stop_requested = true;
}
}  // namespace

int main(int argc, char **argv) {
  using namespace kmt::mqtt;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  auto options = parse_options(args, &error);
  if (!options) {
    std::fprintf(stderr, "kmtv1-mqtt: %s\n(kmtv1-mqtt --help lists the options)\n", error.c_str());
    return kExitUsage;
  }
  if (options->help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (options->version) {
    int32_t major = 0, minor = 0, build = 0;
    KMT_GetDriverVersion(&major, &minor, &build);
    int mq_major = 0, mq_minor = 0, mq_revision = 0;
    mosquitto_lib_version(&mq_major, &mq_minor, &mq_revision);
    std::printf("kmtv1-mqtt %s, library %d.%d.%d, libmosquitto %d.%d.%d\n", KMTV1_TOOL_VERSION,
                major, minor, build, mq_major, mq_minor, mq_revision);
    return kExitOk;
  }
  // The library reads KMT_DRIVER once, at its first call: set it before any.
  if (!options->driver.empty()) setenv("KMT_DRIVER", options->driver.c_str(), 1);

  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);  // a broker gone mid-write is an error code, not a signal

  mosquitto_lib_init();
  int code = kExitOk;
  {
    Bridge bridge(*options);
    if (!bridge.open(&error)) {
      log_line(error);
      code = kExitNotFound;
    } else {
      code = bridge.run(stop_requested);
    }
  }
  mosquitto_lib_cleanup();
  return code;
}
