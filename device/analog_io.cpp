#include "device/analog_io.h"

#include <cmath>
#include <limits>

#include "device/functions.h"
#include "protocol/bytes.h"

namespace kmt::device {

namespace {

constexpr std::uint8_t kGroupAnalog = 16;
constexpr std::uint8_t kGroupSingleChannel = 17;

// Nearest integer, exact halves to the even neighbour, saturated to the int64 range;
// NaN becomes 0. Converting an out-of-range double to an integer would be undefined,
// hence the limits are tested before any conversion.
std::int64_t round_half_even_saturated(double x) {
  if (std::isnan(x)) return 0;
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (x >= kTwoTo63) return std::numeric_limits<std::int64_t>::max();
  if (x < -kTwoTo63) return std::numeric_limits<std::int64_t>::min();
  const double floor = std::floor(x);
  const double fraction = x - floor;  // exact: both share the same binade or x is integral
  double rounded = floor;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0.0)) rounded = floor + 1.0;
  return static_cast<std::int64_t>(rounded);
}

// Four counts at bytes 0..7 of the response, converted into the four outputs.
void decode_four_inputs(const std::uint8_t *p, double *volts1, double *volts2, double *volts3,
                        double *volts4) {
  *volts1 = CountsToVolts(MakeWord(p[0], p[1]));
  *volts2 = CountsToVolts(MakeWord(p[2], p[3]));
  *volts3 = CountsToVolts(MakeWord(p[4], p[5]));
  *volts4 = CountsToVolts(MakeWord(p[6], p[7]));
}

std::uint32_t long_at(const std::uint8_t *p) {
  return MakeLong(MakeWord(p[0], p[1]), MakeWord(p[2], p[3]));
}

}  // namespace

double CountsToVolts(std::uint16_t count) {
  return static_cast<double>(count) / 1023.0 * 5.0;
}

std::uint16_t VoltsToCode(double volts, double codes_per_5v) {
  const std::int64_t rounded = round_half_even_saturated(volts / 5.0 * codes_per_5v);
  // Two's complement low 16 bits: the conversion to unsigned is modular by definition.
  return static_cast<std::uint16_t>(static_cast<std::uint64_t>(rounded));
}

void AI_SimpleRead(Exchange &ex, uint32_t *handle, double *volts1, double *volts2, double *volts3,
                   double *volts4, int32_t *status) {
  ex.payload_length = 0;
  ex.exchange(handle, kGroupAnalog, 3, 1, status);
  if (*status != kStatusOk) return;
  decode_four_inputs(ex.response(), volts1, volts2, volts3, volts4);
}

void AI_SimpleReadTimer(Exchange &ex, uint32_t *handle, double *volts1, double *volts2,
                        double *volts3, double *volts4, uint32_t *timer, int32_t *status) {
  ex.payload_length = 0;
  ex.exchange(handle, kGroupAnalog, 19, 1, status);
  if (*status != kStatusOk) return;
  decode_four_inputs(ex.response(), volts1, volts2, volts3, volts4);
  *timer = long_at(ex.response() + 8);
}

void AI_ReadCh4(Exchange &ex, uint32_t *handle, uint8_t channel, double *volts, int32_t *status) {
  std::uint8_t *p = ex.payload();
  p[0] = channel;
  ex.payload_length = 1;
  ex.exchange(handle, kGroupSingleChannel, 6, 1, status);
  if (*status != kStatusOk) return;
  const std::uint8_t *r = ex.response();
  *volts = CountsToVolts(MakeWord(r[0], r[1]));
}

void AI_ReadCh4Timer(Exchange &ex, uint32_t *handle, uint8_t channel, double *volts,
                     uint32_t *timer, int32_t *status) {
  std::uint8_t *p = ex.payload();
  p[0] = channel;
  ex.payload_length = 1;
  ex.exchange(handle, kGroupSingleChannel, 7, 1, status);
  if (*status != kStatusOk) return;
  const std::uint8_t *r = ex.response();
  *volts = CountsToVolts(MakeWord(r[0], r[1]));
  *timer = long_at(r + 2);
}

void AO_SimpleWrite(Exchange &ex, uint32_t *handle, uint8_t channel, double volts,
                    int32_t *status) {
  // There are two outputs; a call for any other would do nothing, so it must not read
  // as success.
  if (channel >= 2) {
    *status = kStatusOutOfRange;
    return;
  }
  const std::uint8_t command = channel == 0 ? 4 : 5;
  const std::uint16_t code = VoltsToDacCode(volts);
  std::uint8_t *p = ex.payload();
  p[0] = low_byte(code);
  p[1] = high_byte(code);
  ex.payload_length = 2;
  ex.exchange(handle, kGroupAnalog, command, 0, status);
}

void AO_SetDACDivider(Exchange &ex, uint32_t *handle, uint16_t divider, int32_t *status) {
  std::uint8_t *p = ex.payload();
  p[0] = low_byte(divider);
  p[1] = high_byte(divider);
  ex.payload_length = 2;
  ex.exchange(handle, kGroupAnalog, 6, 0, status);
}

}  // namespace kmt::device
