// The simulated controller's UART (group 17, commands 0 to 5): its transmit line is
// looped back to its receive line, into a receive buffer of bounded size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "sim/controller.h"

namespace kmt::sim {

struct Uart {
  explicit Uart(Controller &controller);

  static constexpr std::size_t kDefaultCapacity = 256;
  static constexpr std::size_t kBlockLimit = 64;
  // Bits of a read response's second trailing byte.
  static constexpr std::uint8_t kFlagOverflow = 0x01;  // bytes were lost since the last read

  bool open = false;  // between an initialisation and a close
  std::uint16_t config_word = 0;
  std::uint8_t config_byte1 = 0;
  std::uint8_t config_byte2 = 0;
  std::uint8_t interrupt_setting = 0;
  std::uint16_t time_out_ms = 0;

  std::size_t capacity;
  std::deque<std::uint8_t> received;
  bool overflowed = false;
  std::uint64_t lost = 0;  // bytes dropped on a full buffer, ever
};

}  // namespace kmt::sim
