// The wide checksum and word spreading against plain byte-by-byte references, over
// random bytes at every size around their step widths and at odd start addresses.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "protocol/byte_blocks.h"

namespace kmt::testing {
namespace {

using Words = std::vector<std::uint16_t>;

std::vector<std::uint8_t> random_bytes(std::size_t n, std::mt19937 &rng) {
  std::vector<std::uint8_t> bytes(n);
  for (auto &b : bytes) b = static_cast<std::uint8_t>(rng());
  return bytes;
}

TEST(ByteBlocks, ChecksumMatchesThePlainSum) {
  std::mt19937 rng(12);
  {
    for (std::size_t n :
         {0, 1, 7, 31, 32, 33, 63, 64, 65, 127, 128, 129, 255, 256, 257, 4001, 16013, 16385}) {
      for (std::size_t offset : {0, 1, 3}) {
        const auto bytes = random_bytes(n + offset, rng);
        const std::uint8_t start = static_cast<std::uint8_t>(rng());
        std::uint8_t plain = start;
        for (std::size_t i = offset; i < bytes.size(); ++i) plain += bytes[i];
        EXPECT_EQ(add_bytes(start, bytes.data() + offset, n), plain) << n << " at +" << offset;
      }
    }
    // Every lane wrapping many times over: 0xFF everywhere.
    const std::vector<std::uint8_t> ones(16385, 0xFF);
    EXPECT_EQ(add_bytes(0, ones.data(), ones.size()), static_cast<std::uint8_t>(16385 * 0xFF));
  }
}

// The plain loop the spreading must match, writes in the same order included.
void spread_reference(const std::uint8_t *data, std::size_t groups, std::size_t count,
                      std::uint16_t *const *arrays) {
  for (std::size_t i = 0; i < groups; ++i) {
    for (std::size_t k = 0; k < count; ++k) {
      arrays[k][i] = static_cast<std::uint16_t>(data[2 * (count * i + k)] |
                                                data[2 * (count * i + k) + 1] << 8);
    }
  }
}

TEST(ByteBlocks, SpreadingMatchesThePlainLoop) {
  std::mt19937 rng(34);
  {
    for (std::size_t count = 1; count <= 4; ++count) {
      for (std::size_t groups : {1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 40, 63, 64, 65, 2001}) {
        const std::size_t offset = groups % 3;  // odd start addresses too
        const auto bytes = random_bytes(offset + 2 * count * groups, rng);
        // One region per array with a guard word after each, filled with a marker.
        Words fast(4 * (groups + 1), 0xBEEF), plain(fast);
        std::uint16_t *fast_arrays[4], *plain_arrays[4];
        for (std::size_t k = 0; k < 4; ++k) {
          fast_arrays[k] = fast.data() + k * (groups + 1);
          plain_arrays[k] = plain.data() + k * (groups + 1);
        }
        spread_words(bytes.data() + offset, groups, count, fast_arrays);
        spread_reference(bytes.data() + offset, groups, count, plain_arrays);
        EXPECT_EQ(fast, plain) << count << " words x " << groups << " groups";
      }
    }
  }
}

TEST(ByteBlocks, OverlappingArraysEndAsWithThePlainLoop) {
  std::mt19937 rng(56);
  const std::size_t groups = 72;  // past two of the widest steps
  struct Row {
    std::size_t count;
    std::size_t starts[4];  // each array's first word within one shared region
  };
  const Row rows[] = {
      {4, {0, 1, 2, 3}},       // each array one word after the other
      {4, {0, 80, 80, 160}},   // two arrays the same
      {2, {8, 0, 0, 0}},       // the second array inside the first
      {4, {0, 75, 230, 160}},  // only the last two overlap
  };
  for (const Row &row : rows) {
    const auto bytes = random_bytes(2 * row.count * groups, rng);
    {
      Words fast(400, 0xBEEF), plain(fast);
      std::uint16_t *fast_arrays[4], *plain_arrays[4];
      for (std::size_t k = 0; k < 4; ++k) {
        fast_arrays[k] = fast.data() + row.starts[k];
        plain_arrays[k] = plain.data() + row.starts[k];
      }
      spread_words(bytes.data(), groups, row.count, fast_arrays);
      spread_reference(bytes.data(), groups, row.count, plain_arrays);
      EXPECT_EQ(fast, plain) << row.count << " words, starts " << row.starts[1];
    }
  }
}

}  // namespace
}  // namespace kmt::testing
