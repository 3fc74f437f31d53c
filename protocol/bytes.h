// Little-endian byte packing used by every payload decoder.
#pragma once

#include <cstdint>

namespace kmt {

// Two bytes to the 16-bit word high * 256 + low.
constexpr std::uint16_t MakeWord(std::uint8_t low, std::uint8_t high) {
  return static_cast<std::uint16_t>(high << 8 | low);
}

// Two words to the 32-bit value high * 65536 + low.
constexpr std::uint32_t MakeLong(std::uint16_t low, std::uint16_t high) {
  return static_cast<std::uint32_t>(high) << 16 | low;
}

constexpr std::uint8_t low_byte(std::uint16_t word) {
  return static_cast<std::uint8_t>(word);
}
constexpr std::uint8_t high_byte(std::uint16_t word) {
  return static_cast<std::uint8_t>(word >> 8);
}

}  // namespace kmt
