// The volt conversions of the analog functions, shared with block acquisition.
//
// Floating point: every step is an IEEE-754 binary64 operation rounded on its own; the
// build passes -ffp-contract=off so no compiler fuses a multiply and an add on targets
// that have the instruction. The division and multiplication round in the mode in
// force (round to nearest by default); the rounding to an integer code is explicit
// code, so it does not depend on that mode or on the exception masks.
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
