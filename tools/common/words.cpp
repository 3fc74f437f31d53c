#include "tools/common/words.h"

#include <iterator>

#include "kmtv1.h"

namespace kmt::tools {

std::string status_words(std::int32_t status) {
  const char *words = "unknown status";
  switch (status) {
    case KMT_STATUS_OK:
      words = "success";
      break;
    case KMT_STATUS_NOT_OPEN:
      words = "controller not open, or the driver refused the request";
      break;
    case KMT_STATUS_BAD_RESPONSE:
      words = "no response from the controller";
      break;
    case KMT_STATUS_UNKNOWN_TYPE:
      words = "unknown device type name";
      break;
    case KMT_STATUS_OUT_OF_RANGE:
      words = "argument out of the controller's range, nothing sent";
      break;
    default:
      break;
  }
  return std::string(words) + " (status " + std::to_string(status) + ")";
}

std::string driver_status_words(std::uint32_t code) {
  static const char *const words[] = {"ok",
                                      "invalid handle",
                                      "device not found",
                                      "device not opened",
                                      "I/O error",
                                      "insufficient resources",
                                      "invalid parameter",
                                      "invalid baud rate",
                                      "device not opened for erase",
                                      "device not opened for write",
                                      "failed to write device",
                                      "EEPROM read failed",
                                      "EEPROM write failed",
                                      "EEPROM erase failed",
                                      "EEPROM not present",
                                      "EEPROM not programmed",
                                      "invalid arguments",
                                      "not supported",
                                      "other error"};
  std::string text = code < std::size(words) ? words[code] : "unknown driver error";
  return text + " (driver status " + std::to_string(code) + ")";
}

}  // namespace kmt::tools
