// Digital I/O end to end: the exported functions against the simulated controller,
// with a fixed stimulus on the pins.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>

#include "kmtv1.h"
#include "tests/unit/e2e_sim_fixture.h"

namespace kmt::testing {
namespace {

// Pins of lines 0..11: port 0 = "1010zzzz" (bit 0 first), port 1 = "01z1".
constexpr const char *kOptions = "dio_in=1010zzzz01z1";

class E2eDigitalIo : public SimAbiFixture {
 protected:
  void SetUp() override { start(kOptions); }

  std::uint8_t read_port(std::uint8_t port) {
    std::uint8_t value = 0xEE;
    std::int32_t status = -1;
    DIO_ReadPort(&handle, port, &value, &status);
    EXPECT_EQ(status, 0);
    return value;
  }
};

TEST_F(E2eDigitalIo, LinesFollowModesLatchesAndPins) {
  using Step = std::function<void(std::uint32_t *, std::int32_t *)>;
  struct Row {
    const char *name;
    Step step;
    std::uint8_t port0, port1;  // read back after the step
  };
  const std::array<std::uint8_t, 16> mask_codes{1, 0, 2, 2, 0, 0, 0, 0, 1, 1, 0, 2};
  const std::array<std::uint8_t, 16> mask_values{0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0};
  // Applied in order; each row's expectation depends on the rows before it.
  const std::vector<Row> rows = {
      {"power-on: inputs, open pins read 0", [](auto, auto s) { *s = 0; }, 0x05, 0x0A},
      {"port 0 pulled up: open pins read 1", [](auto h, auto s) { DIO_SetPortMode(h, 0, 2, s); },
       0xF5, 0x0A},
      {"port mode clamped: port 9 mode 9 is port 1 pulled up",
       [](auto h, auto s) { DIO_SetPortMode(h, 9, 9, s); }, 0xF5, 0x0E},
      {"latches written while inputs do not show",
       [](auto h, auto s) { DIO_WritePort(h, 0, 0x3C, s); }, 0xF5, 0x0E},
      {"port 0 outputs show the latches", [](auto h, auto s) { DIO_SetPortMode(h, 0, 1, s); }, 0x3C,
       0x0E},
      {"one line high", [](auto h, auto s) { DIO_WriteBit(h, 0, 1, s); }, 0x3D, 0x0E},
      {"any non-zero value is high", [](auto h, auto s) { DIO_WriteBit(h, 1, 0x80, s); }, 0x3F,
       0x0E},
      {"one line back to input reads its pin (line 2: 1)",
       [](auto h, auto s) { DIO_SetBitMode(h, 2, 0, s); }, 0x3F, 0x0E},
      {"line 3 back to input reads its pin (0)", [](auto h, auto s) { DIO_SetBitMode(h, 3, 0, s); },
       0x37, 0x0E},
      {"line 11 (clamped from 200) to output, latch 0",
       [](auto h, auto s) { DIO_SetBitMode(h, 200, 1, s); }, 0x37, 0x06},
      {"line 11 high", [](auto h, auto s) { DIO_WriteBit(h, 11, 1, s); }, 0x37, 0x0E},
      {"port 1 outputs", [](auto h, auto s) { DIO_SetPortMode(h, 1, 1, s); }, 0x37, 0x08},
      {"port 1 written: high bits ignored", [](auto h, auto s) { DIO_WritePort(h, 1, 0xF5, s); },
       0x37, 0x05},
      {"lines 2 and 3 outputs again",
       [](auto h, auto s) {
         DIO_SetBitMode(h, 2, 1, s);
         DIO_SetBitMode(h, 3, 1, s);
       },
       0x3F, 0x05},
      // Lines 0..3: code 1, code 0, code 2 with value 0, code 2 with value 9: high, low, low,
      // high; lines 8..11: high, high, low, low (value 0).
      {"masked write line by line",
       [&](auto h, auto s) { DIO_WriteMask(h, mask_codes.data(), mask_values.data(), s); }, 0x09,
       0x03},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::int32_t status = -1;
    row.step(&handle, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_port(0), row.port0);
    EXPECT_EQ(read_port(1), row.port1);
  }
}

}  // namespace
}  // namespace kmt::testing
