// Analog I/O end to end: the exported functions against the simulated controller on
// its virtual clock, with the analog outputs looped back to inputs 3 and 4.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "kmtv1.h"
#include "tests/unit/e2e_sim_fixture.h"

namespace kmt::testing {
namespace {

constexpr double kOneCount = 5.0 / 1023.0;

class E2eAnalogIo : public SimAbiFixture {
 protected:
  void SetUp() override { start("ai1=const:1.5,ai2=const:4.2,ao0_to=3,ao1_to=4"); }
};

TEST_F(E2eAnalogIo, OutputsReadBackOnTheirLoopedInputsWithinOneCount) {
  const double volts[] = {0.0, 0.001, 0.5, 1.234, 2.5, 3.3333, 4.999, 5.0};
  for (std::uint8_t output : {0, 1}) {
    for (double v : volts) {
      SCOPED_TRACE(std::to_string(output) + " at " + std::to_string(v));
      std::int32_t status = -1;
      AO_SimpleWrite(&handle, output, v, &status);
      ASSERT_EQ(status, 0);
      double single = -1;
      AI_ReadCh4(&handle, static_cast<std::uint8_t>(2 + output), &single, &status);
      ASSERT_EQ(status, 0);
      EXPECT_NEAR(single, v, kOneCount);
      std::array<double, 4> all{};
      AI_SimpleRead(&handle, &all[0], &all[1], &all[2], &all[3], &status);
      ASSERT_EQ(status, 0);
      EXPECT_EQ(all[2 + output], single);
    }
  }
}

TEST_F(E2eAnalogIo, InputsTimerAndRefusals) {
  std::int32_t status = -1;
  std::array<double, 4> all{};
  std::uint32_t t1 = 0, t2 = 0;
  AI_SimpleReadTimer(&handle, &all[0], &all[1], &all[2], &all[3], &t1, &status);
  ASSERT_EQ(status, 0);
  // Constants to the nearest count: 1.5 V is 306.9 counts, 4.2 V 859.32.
  EXPECT_EQ(all[0], 307 / 1023.0 * 5.0);
  EXPECT_EQ(all[1], 859 / 1023.0 * 5.0);

  // The timer counts the controller's microseconds.
  sim->virtual_clock()->advance_us(250'000);
  double one = -1;
  AI_ReadCh4Timer(&handle, 1, &one, &t2, &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(one, all[1]);
  EXPECT_GE(t2 - t1, 250'000u);
  EXPECT_LT(t2 - t1, 251'000u);

  // Channel bytes 0..3 only; output numbers 0 and 1 only (nothing sent for others).
  AI_ReadCh4(&handle, 4, &one, &status);
  EXPECT_EQ(status, KMT_STATUS_BAD_RESPONSE);
  AO_SimpleWrite(&handle, 2, 1.0, &status);
  EXPECT_EQ(status, KMT_STATUS_OUT_OF_RANGE);
  AO_SetDACDivider(&handle, 0x1234, &status);
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace kmt::testing
