// Block acquisition, logic scan and waveform output end to end: the exported functions
// against the simulated controller on its virtual clock. Expected samples come from
// the signals' own formulas at the instants the controller's timing defines.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "kmtv1.h"
#include "tests/unit/e2e_sim_fixture.h"

namespace kmt::testing {
namespace {

constexpr double kConversionUs = 108.7663;
constexpr double kScanIntervalUs = 19.996;  // plus the delay
constexpr double kWaveStepUs = 100;

// Input signals as the options below set them, in volts over microseconds.
double input_volts(int input, double t) {
  switch (input) {
    case 0:
      return 2.5 + 2.0 * std::sin(2.0 * std::numbers::pi * 50.0 * t / 1e6);
    case 1:
      return 0.0 + (5.0 - 0.0) * (std::fmod(t, 20000.0) / 20000.0);
    case 2:
      return 1.25;
    default:
      return 1.0 + 0.5 * std::sin(2.0 * std::numbers::pi * 333.0 * t / 1e6);
  }
}

std::uint16_t expected_count(int input, double t) {
  const double counts = input_volts(input, t) / 5.0 * 1023.0;
  if (!(counts > 0)) return 0;
  if (counts >= 1023) return 1023;
  return static_cast<std::uint16_t>(std::lround(counts));
}

class E2eBlock : public SimAbiFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(
        start("ao0_to=0,ao1_to=0,ai1=sine:2.5:2:50,ai2=ramp:0:5:20000,ai3=const:1.25,"
              "ai4=sine:1:0.5:333,dio_clock=7:100"));
    // Somewhere inside the signals' periods rather than at 0.
    sim->virtual_clock()->advance_us(123'457);
  }

  std::uint64_t now() { return sim->clock().now_us(); }
};

TEST_F(E2eBlock, EverySampleMatchesTheSignalAtItsInstant) {
  struct Row {
    const char *name;
    std::array<std::uint8_t, 4> enables;
    std::uint16_t sample_delay, sample_count;
  };
  const std::vector<Row> rows = {
      {"four inputs, 2001 groups", {1, 1, 1, 1}, 0, 2000},
      {"inputs 2 and 4 with a delay", {0, 1, 0, 1}, 250, 300},
      {"input 1 alone, one group", {1, 0, 0, 0}, 0, 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<int> inputs;
    for (int i = 0; i < 4; ++i)
      if (row.enables[i]) inputs.push_back(i);
    const std::size_t groups = row.sample_count + 1u;
    std::array<std::vector<std::uint16_t>, 4> samples;
    for (auto &s : samples) s.assign(groups + 1, 0xBEEF);
    std::uint8_t trailer_byte = 0;
    std::uint32_t trailer_value = 0;
    std::int32_t channels = -1, status = -1;
    double duration = -1;
    const std::uint64_t before = now();
    AI_Read(&handle, row.enables[0], row.enables[1], row.enables[2], row.enables[3], 0, 0,
            row.sample_delay, 10, 0, row.sample_count, 2.5, &trailer_byte, &trailer_value,
            samples[0].data(), samples[1].data(), samples[2].data(), samples[3].data(), &channels,
            &duration, &status);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(channels, static_cast<std::int32_t>(inputs.size()));
    // Trailer: the inputs sampled as a mask, and the microsecond timer at the start.
    EXPECT_EQ(trailer_byte,
              row.enables[0] | row.enables[1] << 1 | row.enables[2] << 2 | row.enables[3] << 3);
    EXPECT_EQ(trailer_value, static_cast<std::uint32_t>(before));
    // The library's estimate is the controller's own block time.
    EXPECT_NEAR(static_cast<double>(now() - before) / 1e6, duration, 1e-6);

    const double interval = inputs.size() * kConversionUs + 19.2327 + (row.sample_delay + 6);
    for (std::size_t i = 0; i < groups; ++i) {
      for (std::size_t k = 0; k < inputs.size(); ++k) {
        const double t = static_cast<double>(trailer_value) + static_cast<double>(i) * interval +
                         static_cast<double>(k) * kConversionUs;
        ASSERT_EQ(samples[k][i], expected_count(inputs[k], t)) << "group " << i << " word " << k;
      }
    }
    for (std::size_t k = 0; k < 4; ++k)
      EXPECT_EQ(samples[k][k < inputs.size() ? groups : 0], 0xBEEF);
  }
}

TEST_F(E2eBlock, ScanSeesTheExternalClockAndThePlayedWave) {
  // Line 7 carries a 100 us square wave (low first); lines 0..6 are open inputs.
  std::vector<std::uint8_t> scan(1001 + 1, 0xEE);
  std::uint8_t trailer = 0;
  double period = 0;
  std::int32_t status = -1;
  std::uint64_t t0 = now();
  DIO_ScanPort(&handle, 0, 0, 0, 10, 0, 1000, &trailer, scan.data(), &period, &status);
  ASSERT_EQ(status, 0);
  for (std::size_t i = 0; i <= 1000; ++i) {
    const double t = static_cast<double>(t0) + static_cast<double>(i) * kScanIntervalUs;
    const bool high = std::fmod(std::floor(t / 50.0), 2.0) != 0.0;
    ASSERT_EQ(scan[i], high ? 0x80 : 0x00) << i;
  }
  EXPECT_EQ(scan[1001], 0xEE);
  EXPECT_EQ(trailer, 0x00);  // port 1: open inputs

  // Play a ramp on port 0 (lines as outputs) and scan it while it plays.
  DIO_SetPortMode(&handle, 0, 1, &status);
  ASSERT_EQ(status, 0);
  std::vector<std::uint8_t> wave(200);
  for (std::size_t i = 0; i < wave.size(); ++i) wave[i] = static_cast<std::uint8_t>(i);
  const std::uint64_t wave_start = now();
  DO_WaveOut(&handle, static_cast<std::uint16_t>(wave.size()), 3, wave.data(), &status);
  ASSERT_EQ(status, 0);
  scan.assign(4001, 0);
  t0 = now();
  DIO_ScanPort(&handle, 0, 0, 0, 10, 0, 4000, &trailer, scan.data(), &period, &status);
  ASSERT_EQ(status, 0);
  std::array<bool, 200> seen{};
  for (std::size_t i = 0; i <= 4000; ++i) {
    const double since = static_cast<double>(t0 - wave_start) + i * kScanIntervalUs;
    const auto step = std::min<std::size_t>(static_cast<std::size_t>(since / kWaveStepUs), 199);
    ASSERT_EQ(scan[i], wave[step]) << i;
    seen[step] = true;
  }
  for (bool s : seen) EXPECT_TRUE(s);  // a 100 us step is longer than a 20 us sample
  // After the wave the port holds its last byte.
  std::uint8_t value = 0;
  DIO_ReadPort(&handle, 0, &value, &status);
  EXPECT_EQ(value, 199);
  DIO_WriteBit(&handle, 0, 0, &status);
  DIO_ReadPort(&handle, 0, &value, &status);
  EXPECT_EQ(value, 198);
}

}  // namespace
}  // namespace kmt::testing
