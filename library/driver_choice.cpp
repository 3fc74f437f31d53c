#include "library/driver_choice.h"

#include <string>

#include "platform/platform.h"
#include "sim/sim.h"
#include "transport/trace.h"
#include "transport/tty_driver.h"

namespace kmt {
namespace {

bool is_absolute_path(const std::string &name) {
  return !name.empty() && (name[0] == '/' || (name.size() > 2 && name[1] == ':'));
}

}  // namespace

DriverChoice choose_driver(const std::string &name, const DriverSearch &search) {
  DriverChoice choice;
  std::string reason;
  auto attempt = [&](const std::string &provider, std::unique_ptr<Driver> driver) {
    choice.tried.push_back(provider + ": " + (driver ? "chosen" : reason));
    if (driver) {
      choice.driver = std::move(driver);
      choice.provider = provider;
    }
    return choice.driver != nullptr;
  };
  TtyDriverOptions tty{search.sysfs_root, search.dev_root};
  if (name == "sim" || name.rfind("sim:", 0) == 0) {
    if (attempt("sim",
                sim::make_driver(name.size() > 4 ? name.substr(4) : std::string(), &reason))) {
      choice.warning = reason;
    }
  } else if (name == "tty" || name.rfind("tty:", 0) == 0) {
    attempt("tty", make_tty_driver(name.size() > 4 ? name.substr(4) : std::string(), &reason, tty));
  } else if (name.empty() || name == "d2xx") {
    std::string vendor =
        search.vendor_library.empty() ? platform::vendor_driver_name() : search.vendor_library;
    if (!attempt("d2xx", load_driver_library(vendor, &reason)) && name.empty()) {
      // Without the vendor's library the bridge is the kernel's: on Linux its own
      // serial driver holds it. Nothing attached is then an empty list, not an error.
      std::string vendor_reason = reason;
      if (!attempt("tty", make_tty_driver("", &reason, tty))) reason = vendor_reason;
    }
  } else if (name.rfind("trace:", 0) == 0) {
    std::string file, inner;
    split_trace_argument(name.substr(6), &file, &inner);
    DriverChoice wrapped = choose_driver(inner, search);
    choice.tried = wrapped.tried;
    if (wrapped.error.empty()) {
      attempt("trace:" + wrapped.provider,
              make_trace_driver(file, std::move(wrapped.driver), &reason));
    } else {
      reason = wrapped.error;
    }
  } else if (name.rfind("replay:", 0) == 0) {
    attempt("replay", make_replay_driver(name.substr(7), &reason));
  } else if (is_absolute_path(name)) {
    attempt(name, load_driver_library(name, &reason));
  } else {
    reason = "unknown driver \"" + name +
             "\" (expected sim, tty, d2xx, trace:FILE:INNER, replay:FILE or an absolute path)";
    choice.tried.push_back(name + ": " + reason);
  }
  if (!choice.driver) {
    choice.driver = make_unavailable_driver();
    choice.provider = "none";
    choice.error = reason;
  }
  return choice;
}

std::unique_ptr<Driver> make_driver(const std::string &name, std::string *error) {
  DriverChoice choice = choose_driver(name);
  if (error != nullptr && !choice.error.empty()) *error = choice.error;
  if (error != nullptr && !choice.warning.empty()) *error = choice.warning;
  return std::move(choice.driver);
}

}  // namespace kmt
