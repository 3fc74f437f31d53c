// Generator, counter and expansion port end to end: a frequency set with the generator
// read back with the counter over each gate window, and bytes shifted out through the
// 74HC595 chain and back in through the 74HC165 chain.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "sim/generator_counter_expansion.h"
#include "tests/support/library_fixture.h"
#include "tests/unit/e2e_sim_fixture.h"

namespace kmt::testing {
namespace {

using ::testing::ElementsAreArray;

class GeneratorCounterEndToEnd : public SimLibrary {
 protected:
  std::uint16_t count(std::uint16_t selector) {
    std::uint16_t pulses = 0xBEEF;
    device::CountImp(*lib, &handle, selector, &pulses, &status);
    EXPECT_EQ(status, 0);
    return pulses;
  }
};

TEST_F(GeneratorCounterEndToEnd, CounterReadsBackTheGeneratorFrequency) {
  struct Row {
    std::uint16_t value1, value2;
    std::uint16_t selector;
    std::uint64_t window_us;  // the simulated gate window of the selector
  } rows[] = {
      {10, 100, 8, 1000000},      // 1 kHz over 1 s
      {10, 100, 7, 500000},       // over 0.5 s
      {10, 100, 0, 10026},        // over about 10 ms
      {6, 6, 0, 10026},           // the fastest output, about 27.8 kHz
      {100, 10000, 10, 2999356},  // 1 Hz over about 3 s
      {10, 10, 11, 106950},       // 10 kHz over the two-word windows
      {20, 50, 13, 558930},      {100, 100, 17, 2795022},
      {10, 100, 18, 0},  // beyond the table: a zero window counts nothing
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(::testing::Message()
                 << row.value1 << "x" << row.value2 << " selector " << row.selector);
    device::Gen_Generate(*lib, &handle, row.value1, row.value2, 500, &status);
    ASSERT_EQ(status, 0);
    const double hz = 1e6 / (static_cast<double>(row.value1) * row.value2);
    const std::uint64_t before = now_us();
    const double pulses = count(row.selector);
    EXPECT_GE(now_us() - before, row.window_us) << "the answer waits for the window";
    EXPECT_NEAR(pulses, hz * static_cast<double>(row.window_us) / 1e6, 1.0);
  }
}

TEST_F(GeneratorCounterEndToEnd, QuietOutputsCountNothingAndFastOnesSaturate) {
  EXPECT_EQ(count(8), 0) << "no generator set yet";
  device::Gen_Generate(*lib, &handle, 10, 100, 0, &status);
  EXPECT_EQ(count(8), 0) << "duty 0 holds the output low";
  device::Gen_Generate(*lib, &handle, 10, 100, 1000, &status);
  EXPECT_EQ(count(8), 0) << "duty 1000 holds the output high";
  device::Gen_Generate(*lib, &handle, 6, 6, 500, &status);
  EXPECT_EQ(count(10), 0xFFFF) << "about 83000 pulses do not fit";
}

TEST_F(GeneratorCounterEndToEnd, GeneratorKeepsTheClampedValues) {
  device::Gen_Generate(*lib, &handle, 0, 65535, 2000, &status);
  ASSERT_EQ(status, 0);
  const auto &state = part<sim::GeneratorCounterExpansion>();
  EXPECT_TRUE(state.generating);
  EXPECT_EQ(state.value1, 6);
  EXPECT_EQ(state.value2_received, 9999);
  EXPECT_EQ(state.value3, 1000);
}

class ExpansionEndToEnd : public SimLibrary {
 protected:
  void shift_out(const std::vector<std::uint8_t> &bytes) {
    device::hc595_Write(*lib, &handle, static_cast<std::uint8_t>(bytes.size()), bytes.data(),
                        &status);
    ASSERT_EQ(status, 0);
  }
  std::vector<std::uint8_t> shift_in(std::uint8_t n) {
    std::array<std::uint8_t, 64> data{};
    device::hc165_Read(*lib, &handle, &n, data.data(), &status);
    EXPECT_EQ(status, 0);
    return {data.begin(), data.begin() + n};
  }
};

TEST_F(ExpansionEndToEnd, BytesShiftedOutComeBackIn) {
  device::exp1_Init(*lib, &handle, &status);
  ASSERT_EQ(status, 0);
  EXPECT_THAT(shift_in(8), ElementsAreArray(std::vector<std::uint8_t>(8, 0)));
  const auto first = counting(8, 0x10);
  shift_out(first);
  EXPECT_THAT(shift_in(8), ElementsAreArray(first));
  // Reading does not disturb the outputs.
  EXPECT_THAT(shift_in(8), ElementsAreArray(first));
  // Three more push the three oldest off the far end of the eight-register chain.
  shift_out({0xA1, 0xA2, 0xA3});
  EXPECT_THAT(shift_in(8), ElementsAreArray({0x13, 0x14, 0x15, 0x16, 0x17, 0xA1, 0xA2, 0xA3}));
  // Past the chain the last input's serial line reads low.
  EXPECT_THAT(shift_in(10),
              ElementsAreArray({0x13, 0x14, 0x15, 0x16, 0x17, 0xA1, 0xA2, 0xA3, 0, 0}));
  device::exp1_Init(*lib, &handle, &status);
  EXPECT_THAT(shift_in(8), ElementsAreArray(std::vector<std::uint8_t>(8, 0)));
}

TEST_F(ExpansionEndToEnd, FullLengthChainRoundTrip) {
  start("expansion_chain=64");
  const auto block = counting(64, 0x40);
  shift_out(block);
  EXPECT_THAT(shift_in(64), ElementsAreArray(block));
  EXPECT_THAT(shift_in(3), ElementsAreArray({0x40, 0x41, 0x42}));
}

}  // namespace
}  // namespace kmt::testing
