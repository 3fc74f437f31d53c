// The simulated controller's system area: the user serial number and user memory area
// in non-volatile memory (optionally kept in a state file across restarts), the
// watchdog value and the millisecond counter.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "sim/controller.h"

namespace kmt::sim {

class SystemArea {
 public:
  static constexpr std::size_t kUserSnSize = 16;
  static constexpr std::size_t kUserAreaSize = 128;
  // Non-volatile memory that was never written reads as erased cells.
  static constexpr std::uint8_t kErased = 0xFF;

  // Loads the memory from the state file named by the `state` option, if any.
  explicit SystemArea(Controller &controller);

  std::array<std::uint8_t, kUserSnSize> user_sn;
  std::array<std::uint8_t, kUserAreaSize> user_area;
  std::uint8_t watchdog = 0;

  // Writes the memory to the state file (when there is one) atomically: a temporary
  // file beside it, renamed over it. False when that failed.
  bool save() const;

 private:
  std::string serial_;
  std::string path_;
};

}  // namespace kmt::sim
