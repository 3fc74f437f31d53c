// The argument rules the command-line tool and the panel share (tools/common/ranges.h).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tools/common/ranges.h"

namespace kmt::tools {
namespace {

TEST(CliValidate, HexByteLists) {
  struct Case {
    const char *text;
    bool ok;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {"01 a0 FF", true, {0x01, 0xA0, 0xFF}},
      {"01a0ff", true, {0x01, 0xA0, 0xFF}},
      {"0x01,0xa0, 0xff", true, {0x01, 0xA0, 0xFF}},
      {"de:ad be,ef", true, {0xDE, 0xAD, 0xBE, 0xEF}},
      {"0x5", true, {0x05}},
      {"", true, {}},
      {"abc", false, {}},
      {"0g", false, {}},
      {"12 x", false, {}},
      {"-5", false, {}},  // no signs
  };
  for (const auto &c : cases) {
    std::string error;
    auto bytes = parse_hex_bytes(c.text, &error);
    EXPECT_EQ(bytes.has_value(), c.ok) << c.text;
    if (bytes && c.ok) {
      EXPECT_EQ(*bytes, c.bytes) << c.text;
    }
    if (!c.ok) {
      EXPECT_FALSE(error.empty()) << c.text;
    }
  }
}

TEST(CliValidate, InputLists) {
  struct Case {
    const char *text;
    std::vector<int> inputs;  // empty: refused
  } cases[] = {
      {"1,2,3,4", {1, 2, 3, 4}},
      {"1-4", {1, 2, 3, 4}},
      {"4,1,1", {1, 4}},
      {"2-3,1", {1, 2, 3}},
      {"0", {}},
      {"5", {}},
      {"1,", {}},
      {"", {}},
      {"a", {}},
      {"3-", {}},
  };
  for (const auto &c : cases) {
    std::string error;
    auto inputs = parse_number_list(c.text, kAnalogInput, &error);
    EXPECT_EQ(inputs.value_or(std::vector<int>{}), c.inputs) << c.text;
  }
}

TEST(CliValidate, OutputVoltsAndRanges) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double v : {0.0, 2.5, 5.0}) EXPECT_FALSE(check_output_volts(v)) << v;
  for (double v : {nan, inf, -inf, -0.001, 5.001}) EXPECT_TRUE(check_output_volts(v)) << v;
  EXPECT_FALSE(check(kLine, 11));
  EXPECT_EQ(*check(kLine, 12), "line 12 is outside 0..11");
  EXPECT_TRUE(check(kTransferBytes, 0));
  EXPECT_TRUE(check(kBlockSamples, -5));
}

}  // namespace
}  // namespace kmt::tools
