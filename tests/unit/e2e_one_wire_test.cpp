// The 1-Wire bus end to end: presence, the ROM search across successive calls, and
// ROM and function commands carried by the byte and block transfers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <vector>

#include "tests/unit/e2e_sim_fixture.h"

namespace kmt::testing {
namespace {

using ::testing::ElementsAreArray;

using Rom = std::array<std::uint8_t, 8>;

constexpr std::uint8_t kPresence = 1, kNoPresence = 0;
constexpr std::uint8_t kSearchNone = 0, kSearchMore = 1, kSearchLast = 2;

// The bus's CRC-8, computed here bit by bit on its own.
std::uint8_t crc8(const std::uint8_t *bytes, std::size_t n) {
  std::uint8_t crc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      const int in = (bytes[i] >> bit & 1) ^ (crc & 1);
      crc = static_cast<std::uint8_t>(crc >> 1);
      if (in != 0) crc ^= 0x8C;
    }
  }
  return crc;
}

TEST(OneWireCrc, MatchesThePublishedExample) {
  // The worked example of the bus's CRC: family 02, serial 00 00 00 01 B8 1C, CRC A2.
  const std::uint8_t rom[] = {0x02, 0x1C, 0xB8, 0x01, 0x00, 0x00, 0x00};
  EXPECT_EQ(crc8(rom, 7), 0xA2);
}

class OneWireEndToEnd : public SimLibrary {
 protected:
  std::uint8_t reset() {
    std::uint8_t reply = 0xEE;
    device::WR1_Init(*lib, &handle, &reply, &status);
    EXPECT_EQ(status, 0);
    return reply;
  }
  std::uint8_t search(Rom *rom) {
    std::uint8_t result = 0xEE;
    device::WR1_SearchRom(*lib, &handle, &result, rom->data(), &status);
    EXPECT_EQ(status, 0);
    return result;
  }
  // Searches until the controller reports the last device (at most `limit` calls).
  std::vector<Rom> search_all(std::size_t limit = 8) {
    std::vector<Rom> found;
    for (std::size_t i = 0; i < limit; ++i) {
      Rom rom{};
      std::uint8_t result = search(&rom);
      if (result == kSearchNone) break;
      found.push_back(rom);
      if (result == kSearchLast) break;
      EXPECT_EQ(result, kSearchMore);
    }
    return found;
  }
  // Touches bytes on the bus and hands back what the line carried.
  std::vector<std::uint8_t> touch(std::vector<std::uint8_t> bytes) {
    device::WR1_WriteSome(*lib, &handle, static_cast<std::uint16_t>(bytes.size()), bytes.data(),
                          &status);
    EXPECT_EQ(status, 0);
    return bytes;
  }
};

TEST_F(OneWireEndToEnd, RepeatedSearchesFindEveryDeviceWithValidCrc) {
  EXPECT_EQ(reset(), kPresence);
  const std::vector<Rom> first = search_all();
  ASSERT_EQ(first.size(), 3u);
  std::set<Rom> distinct(first.begin(), first.end());
  EXPECT_EQ(distinct.size(), 3u);
  for (const Rom &rom : first) {
    EXPECT_EQ(crc8(rom.data(), 7), rom[7]);
    EXPECT_NE(rom[0], 0);
  }
  // After the last device the walk starts over and finds the same devices in order.
  EXPECT_EQ(search_all(), first);
}

TEST_F(OneWireEndToEnd, SearchResultFollowsTheNumberOfDevices) {
  struct Row {
    const char *options;
    std::size_t devices;
    std::uint8_t presence;
  } rows[] = {{"onewire_devices=0", 0, kNoPresence},
              {"onewire_devices=1", 1, kPresence},
              {"onewire_devices=2", 2, kPresence}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.options);
    start(row.options);
    EXPECT_EQ(reset(), row.presence);
    Rom rom;
    rom.fill(0xEE);
    const std::uint8_t result = search(&rom);
    if (row.devices == 0) {
      EXPECT_EQ(result, kSearchNone);
      EXPECT_THAT(rom, ElementsAreArray(Rom{}));
    } else {
      EXPECT_EQ(result, row.devices == 1 ? kSearchLast : kSearchMore);
      // The rest of the walk; after the last device a new walk finds them all again.
      EXPECT_EQ(search_all().size(), row.devices == 1 ? 1 : row.devices - 1);
    }
  }
}

TEST_F(OneWireEndToEnd, ReadRomOnALoneDeviceMatchesTheSearch) {
  start("onewire_devices=1");
  Rom searched{};
  ASSERT_EQ(search(&searched), kSearchLast);
  EXPECT_EQ(reset(), kPresence);
  std::uint8_t reply = 0xEE;
  device::WR1_Write(*lib, &handle, 0x33, &reply, &status);
  EXPECT_EQ(reply, 0x33) << "a byte written reads back as written";
  Rom rom{};
  device::WR1_ReadSome(*lib, &handle, 8, rom.data(), &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(rom, searched);
  // The device has nothing more to send: the line stays high.
  std::uint8_t idle = 0;
  device::WR1_Read(*lib, &handle, &idle, &status);
  EXPECT_EQ(idle, 0xFF);
}

TEST_F(OneWireEndToEnd, SensorsAddressedByRomConvertAndReport) {
  const std::vector<Rom> roms = search_all();
  ASSERT_EQ(roms.size(), 3u);
  std::vector<int> sixteenths;
  for (const Rom &rom : roms) {
    if (rom[0] != 0x28) continue;
    SCOPED_TRACE(static_cast<int>(rom[1]));
    std::vector<std::uint8_t> match{0x55};
    match.insert(match.end(), rom.begin(), rom.end());
    // Convert, then read the scratchpad: nine bytes ending in their CRC.
    EXPECT_EQ(reset(), kPresence);
    auto convert = match;
    convert.push_back(0x44);
    touch(convert);
    EXPECT_EQ(reset(), kPresence);
    auto read = match;
    read.push_back(0xBE);
    read.resize(read.size() + 9, 0xFF);
    const auto line = touch(read);
    const std::uint8_t *pad = line.data() + line.size() - 9;
    EXPECT_EQ(crc8(pad, 8), pad[8]);
    sixteenths.push_back(static_cast<std::int16_t>(pad[0] | pad[1] << 8));
  }
  // The two sensors of the simulated bus: 21.5 and -10.125 degrees.
  std::multiset<int> got(sixteenths.begin(), sixteenths.end());
  EXPECT_EQ(got, (std::multiset<int>{344, -162}));
}

TEST_F(OneWireEndToEnd, UnmatchedDevicesStayOffTheLine) {
  EXPECT_EQ(reset(), kPresence);
  // A ROM code no device carries: nobody answers the read scratchpad.
  std::vector<std::uint8_t> bytes{0x55, 0x28, 1, 2, 3, 4, 5, 6, 7, 0xBE};
  bytes.resize(bytes.size() + 9, 0xFF);
  const auto line = touch(bytes);
  EXPECT_THAT(std::vector<std::uint8_t>(line.end() - 9, line.end()),
              ElementsAreArray(std::vector<std::uint8_t>(9, 0xFF)));
}

}  // namespace
}  // namespace kmt::testing
