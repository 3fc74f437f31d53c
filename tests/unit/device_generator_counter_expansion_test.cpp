// Generator, pulse counter and shift-register expansion against a scripted controller:
// the clamps, every row of the counter table, and the shift-in block's bounds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "device/functions.h"
#include "tests/support/library_fixture.h"

namespace kmt::testing {
namespace {

using ::testing::Each;
using ::testing::ElementsAreArray;

constexpr std::uint8_t kGroup = 18;

Bytes words(std::initializer_list<std::uint16_t> values) {
  Bytes bytes;
  for (std::uint16_t v : values) {
    bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  return bytes;
}

class GeneratorCounterExpansion : public LibraryFixture {
 protected:
  std::int32_t status = -1;
};

TEST_F(GeneratorCounterExpansion, GeneratorValuesAreClamped) {
  struct Row {
    std::uint16_t v1, v2, v3;
    Bytes payload;
  } rows[] = {
      {0, 0, 0, {0x06, 0x00, 0x05, 0x00, 0x00, 0x00}},
      {65535, 65535, 65535, {0x10, 0x27, 0x0F, 0x27, 0xE8, 0x03}},
      {6, 6, 1000, words({6, 5, 1000})},
      {5, 5, 999, words({6, 5, 999})},
      {7, 7, 1, words({7, 6, 1})},
      {10000, 10000, 1001, words({10000, 9999, 1000})},
      {10001, 9999, 500, words({10000, 9998, 500})},
      {1234, 4321, 0, words({1234, 4320, 0})},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(::testing::Message() << row.v1 << "," << row.v2 << "," << row.v3);
    forget();
    respond({});
    device::Gen_Generate(*lib, &handle, row.v1, row.v2, row.v3, &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_THAT(requests()[0], ElementsAreArray(request_frame(kGroup, 0, row.payload)));
    EXPECT_TRUE(platform.sleeps.empty());
  }
}

TEST_F(GeneratorCounterExpansion, ExpansionInitIsAnEmptyRequest) {
  respond({});
  device::exp1_Init(*lib, &handle, &status);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(requests().size(), 1u);
  EXPECT_THAT(requests()[0], ElementsAreArray(request_frame(kGroup, 1, {})));
}

TEST_F(GeneratorCounterExpansion, ShiftOutSendsAtMostSixtyFourBytes) {
  const Bytes source = counting(100);
  struct Row {
    std::uint8_t count;
    std::uint8_t n;
  } rows[] = {{0, 0}, {1, 1}, {63, 63}, {64, 64}, {65, 64}, {70, 64}, {255, 64}};
  for (const Row &row : rows) {
    SCOPED_TRACE(static_cast<int>(row.count));
    forget();
    respond({});
    // A count of 0 must not need any data.
    device::hc595_Write(*lib, &handle, row.count, row.n ? source.data() : nullptr, &status);
    EXPECT_EQ(status, 0);
    // Sized up front: GCC 12 at -O2 warns falsely about inserting into a 1-byte vector.
    Bytes payload(1u + row.n);
    payload[0] = row.n;
    std::copy(source.begin(), source.begin() + row.n, payload.begin() + 1);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_THAT(requests()[0], ElementsAreArray(request_frame(kGroup, 2, payload)));
    EXPECT_THAT(platform.sleeps, ElementsAreArray({1u})) << "the 1 ms response delay";
  }
}

TEST_F(GeneratorCounterExpansion, ShiftInWritesExactlyCountBytes) {
  struct Row {
    const char *name;
    std::uint8_t count;
    std::uint8_t sent;
    std::size_t response_length;
  } rows[] = {
      {"nothing", 0, 0, 5},
      {"five of five", 5, 5, 5},
      {"five of a longer response", 5, 5, 40},
      {"64", 64, 64, 64},
      {"100 limited to 64", 100, 64, 80},
      // Beyond the response's end the block receives zeros.
      {"five of a three-byte response", 5, 5, 3},
      {"64 of an empty response", 64, 64, 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    std::array<std::uint8_t, 64 + kGuard> data;
    data.fill(kSentinel);
    respond(counting(row.response_length, 0x41));
    std::uint8_t count = row.count;
    device::hc165_Read(*lib, &handle, &count, data.data(), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(count, row.sent);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_THAT(requests()[0], ElementsAreArray(request_frame(kGroup, 3, {row.sent})));
    for (std::size_t i = 0; i < data.size(); ++i) {
      std::uint8_t expected = kSentinel;
      if (i < row.sent) expected = i < row.response_length ? 0x41 + i : 0x00;
      EXPECT_EQ(data[i], expected) << "data[" << i << "]";
    }
  }
}

TEST_F(GeneratorCounterExpansion, FailedShiftInKeepsOnlyTheLimitedCount) {
  std::array<std::uint8_t, 64> data;
  data.fill(kSentinel);
  respond(counting(64), 2);
  std::uint8_t count = 100;
  device::hc165_Read(*lib, &handle, &count, data.data(), &status);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(count, 64);
  EXPECT_THAT(data, Each(kSentinel));

  close_device();
  count = 200;
  device::hc165_Read(*lib, &handle, &count, data.data(), &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(count, 64);
  EXPECT_THAT(data, Each(kSentinel));
}

TEST_F(GeneratorCounterExpansion, CounterTable) {
  struct Row {
    std::uint16_t selector;
    std::uint8_t command;
    Bytes payload;
  } rows[] = {
      {0, 4, words({109})},
      {1, 4, words({217})},
      {2, 4, words({326})},
      {3, 4, words({544})},
      {4, 4, words({1087})},
      {5, 4, words({2175})},
      {6, 4, words({3262})},
      {7, 4, words({5436})},
      {8, 4, words({10872})},
      {9, 4, words({21744})},
      {10, 4, {0x61, 0x7F}},
      {11, 5, {0x8E, 0x53, 0x05, 0x00}},
      {12, 5, words({26744, 5})},
      {13, 5, words({3005, 186})},
      {14, 5, words({4007, 186})},
      {15, 5, words({5008, 186})},
      {16, 5, words({10016, 186})},
      {17, 5, words({15027, 186})},
      {18, 5, {0x00, 0x00, 0x00, 0x00}},
      {19, 5, words({0, 0})},
      {256, 5, words({0, 0})},
      {65535, 5, words({0, 0})},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.selector);
    forget();
    respond({0x10, 0x27});
    std::uint16_t pulses = 0xBEEF;
    device::CountImp(*lib, &handle, row.selector, &pulses, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(pulses, 10000);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_THAT(requests()[0], ElementsAreArray(request_frame(kGroup, row.command, row.payload)));
  }
}

TEST_F(GeneratorCounterExpansion, CounterResult) {
  struct Row {
    const char *name;
    Bytes response;
    std::uint8_t result;
    std::int32_t status;
    std::uint16_t pulses;
  } rows[] = {
      {"low byte first", {0x34, 0x12}, 0, 0, 0x1234},
      {"extra bytes ignored", {0xFF, 0xFF, 0x01}, 0, 0, 0xFFFF},
      {"refused: untouched", {0x34, 0x12}, 9, 2, 0xBEEF},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    respond(row.response, row.result);
    std::uint16_t pulses = 0xBEEF;
    device::CountImp(*lib, &handle, 3, &pulses, &status);
    EXPECT_EQ(status, row.status);
    EXPECT_EQ(pulses, row.pulses);
  }
  close_device();
  std::uint16_t pulses = 0xBEEF;
  device::CountImp(*lib, &handle, 3, &pulses, &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(pulses, 0xBEEF);
}

}  // namespace
}  // namespace kmt::testing
