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

  // Why the state file could not be loaded (it exists but cannot be read, or has a
  // damaged line); empty when it could, or when there is none. While it is set the
  // memory is not known: its reads and writes are refused and the file is never
  // written.
  const std::string &state_error() const { return state_error_; }

  // Writes the memory to the state file, when there is one (see StateFile::save).
  // False when that failed.
  bool save() const;

 private:
  std::string serial_;
  std::string path_;
  std::string state_error_;
};

}  // namespace kmt::sim
