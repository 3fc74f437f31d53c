// The simulated controller as a driver provider.
#pragma once

#include <memory>
#include <string>

#include "transport/driver.h"

namespace kmt::sim {

// Builds the simulated controller driver from an option string, the text after "sim:"
// in KMT_DRIVER ("" for the defaults; the options are listed in sim/README.md).
// Null with *error set when the options cannot be understood; a driver built with a
// problem worth a line to the user (SimDriver::warning) comes with *error set as well.
std::unique_ptr<Driver> make_driver(const std::string &options, std::string *error);

}  // namespace kmt::sim
