// Statuses in words, one text per status for every tool (the command line, the panel,
// the MQTT bridge), so that a user reads the same sentence wherever a call failed.
#pragma once

#include <cstdint>
#include <string>

namespace kmt::tools {

// The meaning of a device status, e.g. "no response from the controller (status 2)".
std::string status_words(std::int32_t status);

// The meaning of a driver (D2XX) status code, e.g. "device not found (driver status 2)".
std::string driver_status_words(std::uint32_t code);

}  // namespace kmt::tools
