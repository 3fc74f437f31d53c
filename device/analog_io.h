// The volt conversions of the analog functions, shared with block acquisition.
//
// Floating point: every step is an IEEE-754 binary64 operation rounded on its own
// (x86-64 SSE2; the build is ISO C++, so GCC does not fuse a multiply and an add, and
// the baseline target has no fused multiply-add instruction). Rounding to an integer
// code is done by explicit code, so the host's floating-point rounding mode and
// exception masks play no part.
#pragma once

#include <cstdint>

namespace kmt::device {

// Input count to volts: 1023 counts are 5 V; the division comes first.
double CountsToVolts(std::uint16_t count);

// Volts to a code of `codes_per_5v` codes per 5 V: divide by 5, multiply, round to the
// nearest integer with exact halves to the even one, take the low 16 bits of that
// 64-bit signed value. NaN gives 0; values beyond the 64-bit range (infinities
// included) saturate to its limits first, so +inf gives 0xFFFF and -inf 0x0000.
std::uint16_t VoltsToCode(double volts, double codes_per_5v);

// The analog outputs' code: 10000 codes are 5 V.
inline std::uint16_t VoltsToDacCode(double volts) {
  return VoltsToCode(volts, 10000.0);
}

}  // namespace kmt::device
