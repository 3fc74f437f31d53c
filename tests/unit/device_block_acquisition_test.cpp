// Block acquisition, logic scan and waveform output against a scripted controller:
// requests with their clamps and offsets, the time estimates, decoding positionally and
// from the end of the response, and guard words past every caller array.
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "device/functions.h"
#include "tests/support/library_fixture.h"

namespace kmt::testing {
namespace {

constexpr std::uint16_t kGuardWord = 0xBEEF;
constexpr std::uint8_t kGuardByte = 0xEE;

// AI_Read's inputs; the defaults make a one-input block of 0 intervals.
struct BlockArgs {
  std::array<std::uint8_t, 4> enables{1, 0, 0, 0};
  std::uint8_t aux_byte1 = 0, aux_byte2 = 0;
  std::uint16_t sample_delay = 0, aux_word1 = 10, aux_word2 = 0, sample_count = 0;
  double threshold = 0.0;
};

// Outputs of AI_Read, each sample array S + 1 words long plus guards on both sides.
struct BlockOutputs {
  explicit BlockOutputs(std::size_t groups) {
    for (auto &a : arrays) a.assign(groups + 2, kGuardWord);
  }
  std::uint16_t *array(int k) { return arrays[k].data() + 1; }
  std::uint8_t trailer_byte = kGuardByte;
  std::uint32_t trailer_value = 0xDEADBEEF;
  std::int32_t channel_count = -7;
  double duration = -1.0;
  std::int32_t status = -1;
  std::array<std::vector<std::uint16_t>, 4> arrays;
};

class DeviceBlock : public LibraryFixture {
 protected:
  void ai_read(const BlockArgs &a, BlockOutputs &o) {
    device::AI_Read(*lib, &handle, a.enables[0], a.enables[1], a.enables[2], a.enables[3],
                    a.aux_byte1, a.aux_byte2, a.sample_delay, a.aux_word1, a.aux_word2,
                    a.sample_count, a.threshold, &o.trailer_byte, &o.trailer_value, o.array(0),
                    o.array(1), o.array(2), o.array(3), &o.channel_count, &o.duration, &o.status);
  }
  // The payload of the only request sent since the last forget().
  Bytes request_payload() {
    EXPECT_EQ(requests().size(), 1u);
    if (requests().empty()) return {};
    const Bytes &frame = requests()[0];
    return Bytes(frame.begin() + 6, frame.end() - 1);
  }
};

TEST_F(DeviceBlock, BlockRequests) {
  struct Row {
    const char *name;
    BlockArgs args;
    Bytes payload;
  };
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const std::vector<Row> rows = {
      {"defaults, 2.5 V threshold",
       {{1, 0, 0, 0}, 0xA1, 0xB2, 0, 10, 0, 100, 2.5},
       {1, 0, 0, 0, 6, 0, 100, 0, 0x00, 0x02, 10, 0, 0xA1, 0xB2, 6, 0}},
      {"everything above its clamp",
       {{1, 1, 1, 1}, 0, 0, 5000, 65535, 5000, 3000, 1.0},
       {1, 1, 1, 1, 0xBE, 0x0B, 0xD0, 0x07, 0xCD, 0x00, 0xB8, 0x0B, 0, 0, 0xBE, 0x0B}},
      {"at the clamps",
       {{0, 1, 0, 0}, 0, 0, 3000, 3000, 3000, 2000, 0.0},
       {0, 1, 0, 0, 0xBE, 0x0B, 0xD0, 0x07, 0, 0, 0xB8, 0x0B, 0, 0, 0xBE, 0x0B}},
      {"aux word 1 below its floor",
       {{0, 0, 1, 0}, 0, 0, 0, 0, 0, 0, 0.0},
       {0, 0, 1, 0, 6, 0, 0, 0, 0, 0, 10, 0, 0, 0, 6, 0}},
      {"enable bytes carried unchanged",
       {{2, 0, 0, 7}, 0, 0, 0, 10, 0, 0, 0.0},
       {2, 0, 0, 7, 6, 0, 0, 0, 0, 0, 10, 0, 0, 0, 6, 0}},
      // Threshold: 1024 counts per 5 V, halves to even, low 16 bits.
      {"threshold half a count",
       {{1, 0, 0, 0}, 0, 0, 0, 10, 0, 0, 0.00244140625},
       {1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 10, 0, 0, 0, 6, 0}},
      {"threshold one and a half counts",
       {{1, 0, 0, 0}, 0, 0, 0, 10, 0, 0, 0.00732421875},
       {1, 0, 0, 0, 6, 0, 0, 0, 2, 0, 10, 0, 0, 0, 6, 0}},
      {"threshold 5 V",
       {{1, 0, 0, 0}, 0, 0, 0, 10, 0, 0, 5.0},
       {1, 0, 0, 0, 6, 0, 0, 0, 0x00, 0x04, 10, 0, 0, 0, 6, 0}},
      {"threshold -1 V",
       {{1, 0, 0, 0}, 0, 0, 0, 10, 0, 0, -1.0},
       {1, 0, 0, 0, 6, 0, 0, 0, 0x33, 0xFF, 10, 0, 0, 0, 6, 0}},
      {"threshold NaN",
       {{1, 0, 0, 0}, 0, 0, 0, 10, 0, 0, std::nan("")},
       {1, 0, 0, 0, 6, 0, 0, 0, 0x00, 0x00, 10, 0, 0, 0, 6, 0}},
      {"threshold +inf",
       {{1, 0, 0, 0}, 0, 0, 0, 10, 0, 0, kInf},
       {1, 0, 0, 0, 6, 0, 0, 0, 0xFF, 0xFF, 10, 0, 0, 0, 6, 0}},
      {"threshold -inf",
       {{1, 0, 0, 0}, 0, 0, 0, 10, 0, 0, -kInf},
       {1, 0, 0, 0, 6, 0, 0, 0, 0x00, 0x00, 10, 0, 0, 0, 6, 0}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    respond(Bytes(5, 0));
    BlockOutputs out(2001);
    ai_read(row.args, out);
    EXPECT_EQ(out.status, 0);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_EQ(requests()[0], request_frame(20, 0, row.payload));
    EXPECT_EQ(platform.sleeps, (std::vector<std::uint32_t>{1}));
  }
}

TEST_F(DeviceBlock, Duration) {
  struct Row {
    std::array<std::uint8_t, 4> enables;
    std::uint16_t sample_delay, sample_count;
    double seconds;
  };
  const std::vector<Row> rows = {
      {{1, 0, 0, 0}, 0, 100, 0.0134039},      {{1, 1, 1, 1}, 3000, 2000, 6.9205998},
      {{1, 1, 1, 1}, 60000, 9000, 6.9205998}, {{1, 0, 1, 0}, 0, 0, 0.000004},
      {{0, 0, 0, 1}, 0, 0, 0.000004},
  };
  for (const Row &row : rows) {
    BlockArgs args;
    args.enables = row.enables;
    args.sample_delay = row.sample_delay;
    args.sample_count = row.sample_count;
    respond(Bytes(5, 0));
    BlockOutputs out(2001);
    ai_read(args, out);
    EXPECT_EQ(out.status, 0);
    EXPECT_NEAR(out.duration, row.seconds, 1e-15 * row.seconds) << row.sample_count;
  }
}

TEST_F(DeviceBlock, BlockDecoding) {
  struct Row {
    const char *name;
    std::array<std::uint8_t, 4> enables;
    std::uint16_t sample_count;
  };
  const std::vector<Row> rows = {
      {"one input, one group", {1, 0, 0, 0}, 0},
      {"inputs 1 and 3 fill the first two arrays", {1, 0, 1, 0}, 2},
      {"three inputs", {0, 1, 1, 1}, 17},
      {"four inputs, the largest block", {1, 1, 1, 1}, 2000},
      {"four inputs, count clamped", {1, 1, 1, 1}, 65535},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const int k = row.enables[0] + row.enables[1] + row.enables[2] + row.enables[3];
    const std::size_t groups = std::min<std::size_t>(row.sample_count, 2000) + 1;
    // Word of group i, position j: distinct everywhere, high bytes included.
    auto word = [](std::size_t i, int j) {
      return static_cast<std::uint16_t>(i * 4 + j + 0x100 * j);
    };
    Bytes response;
    for (std::size_t i = 0; i < groups; ++i)
      for (int j = 0; j < k; ++j) {
        response.push_back(static_cast<std::uint8_t>(word(i, j)));
        response.push_back(static_cast<std::uint8_t>(word(i, j) >> 8));
      }
    for (std::uint8_t b : {0x5A, 0x78, 0x56, 0x34, 0x12}) response.push_back(b);
    respond(response);
    BlockArgs args;
    args.enables = row.enables;
    args.sample_count = row.sample_count;
    BlockOutputs out(groups);
    ai_read(args, out);
    ASSERT_EQ(out.status, 0);
    EXPECT_EQ(out.channel_count, k);
    EXPECT_EQ(out.trailer_byte, 0x5A);
    EXPECT_EQ(out.trailer_value, 0x12345678u);
    for (int j = 0; j < 4; ++j) {
      const auto &a = out.arrays[j];
      EXPECT_EQ(a.front(), kGuardWord);
      EXPECT_EQ(a.back(), kGuardWord);  // nothing past S + 1 words
      for (std::size_t i = 0; i < groups; ++i)
        ASSERT_EQ(a[i + 1], j < k ? word(i, j) : kGuardWord) << "array " << j << " group " << i;
    }
  }
}

TEST_F(DeviceBlock, TrailerComesFromTheEndOfTheResponse) {
  struct Row {
    const char *name;
    std::size_t length;
    std::uint16_t sample_count;
  };
  // The trailer sits at M - 5 whatever the sample count implies.
  const std::vector<Row> rows = {{"40 bytes, one group asked", 40, 0},
                                 {"40 bytes, 100 groups asked", 40, 100},
                                 {"exactly the trailer", 5, 3}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Bytes response(row.length);
    for (std::size_t i = 0; i < row.length; ++i) response[i] = static_cast<std::uint8_t>(i + 1);
    respond(response);
    BlockArgs args;
    args.sample_count = row.sample_count;
    BlockOutputs out(2001);
    ai_read(args, out);
    EXPECT_EQ(out.status, 0);
    const auto m = static_cast<std::uint32_t>(row.length);
    EXPECT_EQ(out.trailer_byte, m - 4);
    EXPECT_EQ(out.trailer_value, (m - 3) | (m - 2) << 8 | (m - 1) << 16 | m << 24);
  }
}

TEST_F(DeviceBlock, BlockOutputsOnFailureAndWithoutInputs) {
  struct Row {
    const char *name;
    std::array<std::uint8_t, 4> enables;
    int response_length;  // -1: no device open; -2: refused; -3: nothing scripted
    std::int32_t status;
    std::int32_t channel_count;
    bool trailer_written;
    bool sent;
  };
  const std::vector<Row> rows = {
      {"no input selected", {0, 0, 0, 0}, -3, 0, 0, false, false},
      {"refused", {1, 1, 0, 0}, -2, 2, 2, false, true},
      {"response shorter than its trailer", {1, 0, 0, 0}, 4, 2, 1, false, true},
      {"empty response", {1, 0, 0, 0}, 0, 2, 1, false, true},
      {"enable byte above 1: trailer only", {2, 1, 1, 1}, 40, 0, 5, true, true},
      {"no device open", {0, 1, 0, 0}, -1, 1, 1, false, false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    if (row.response_length == -1) close_device();
    forget();
    driver.reads.clear();  // what a refused answer left unread
    if (row.response_length >= 0) respond(Bytes(static_cast<std::size_t>(row.response_length), 7));
    if (row.response_length == -2) respond(Bytes(20, 7), 1);
    BlockArgs args;
    args.enables = row.enables;
    BlockOutputs out(1);
    ai_read(args, out);
    EXPECT_EQ(out.status, row.status);
    EXPECT_EQ(out.channel_count, row.channel_count);
    EXPECT_EQ(out.duration, row.trailer_written ? 0.000004 : 0.0);
    EXPECT_EQ(out.trailer_byte, row.trailer_written ? 7 : kGuardByte);
    EXPECT_EQ(out.trailer_value, row.trailer_written ? 0x07070707u : 0xDEADBEEFu);
    for (const auto &a : out.arrays)
      for (std::uint16_t w : a) EXPECT_EQ(w, kGuardWord);
    EXPECT_EQ(requests().size(), row.sent ? 1u : 0u);
  }
}

TEST_F(DeviceBlock, NullPointersInUseMeanNoEffect) {
  struct Row {
    const char *name;
    std::array<std::uint8_t, 4> enables;
    std::array<bool, 4> null;
    bool sent;
  };
  const std::vector<Row> rows = {
      {"second of two arrays null", {1, 0, 1, 0}, {false, true, false, false}, false},
      {"first array null", {0, 0, 0, 1}, {true, false, false, false}, false},
      {"unused arrays null", {1, 0, 0, 0}, {false, true, true, true}, true},
      {"no array written: nulls do not matter", {2, 1, 1, 1}, {true, true, true, true}, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    respond(Bytes(9, 1));
    BlockOutputs out(1);
    std::array<std::uint16_t *, 4> arrays{};
    for (int k = 0; k < 4; ++k) arrays[k] = row.null[k] ? nullptr : out.array(k);
    device::AI_Read(*lib, &handle, row.enables[0], row.enables[1], row.enables[2], row.enables[3],
                    0, 0, 0, 10, 0, 0, 0.0, &out.trailer_byte, &out.trailer_value, arrays[0],
                    arrays[1], arrays[2], arrays[3], &out.channel_count, &out.duration,
                    &out.status);
    EXPECT_EQ(requests().size(), row.sent ? 1u : 0u);
    EXPECT_EQ(out.status, row.sent ? 0 : kStatusOutOfRange);
    EXPECT_EQ(out.channel_count,
              row.sent ? row.enables[0] + row.enables[1] + row.enables[2] + row.enables[3] : -7);
    driver.reads.clear();
  }
  forget();
  std::int32_t status = 1234;
  device::DO_WaveOut(*lib, &handle, 5, 7, nullptr, &status);
  EXPECT_EQ(status, kStatusOutOfRange);
  EXPECT_TRUE(driver.calls.empty());
}

TEST_F(DeviceBlock, ScanRequestsAndPeriod) {
  struct Row {
    const char *name;
    std::uint16_t sample_delay, aux_word1, aux_word2, sample_count;
    Bytes payload;
    double period;
  };
  const std::vector<Row> rows = {
      {"1000 samples", 0, 10, 0, 1000, {6, 0, 0xE8, 0x03, 10, 0, 0xC1, 0xD2, 6, 0}, 0.000020003236},
      {"one interval", 0, 0, 0, 1, {6, 0, 1, 0, 10, 0, 0xC1, 0xD2, 6, 0}, 0.000027232},
      {"above every clamp",
       9999,
       9999,
       9999,
       5000,
       {0xBE, 0x0B, 0xA0, 0x0F, 0xB8, 0x0B, 0xC1, 0xD2, 0xBE, 0x0B},
       (3019.996 * 4000 + 7.236) / 4000 * 0.000001},
      // No interval: the block counts as one interval long, a finite period.
      {"no interval", 0, 10, 0, 0, {6, 0, 0, 0, 10, 0, 0xC1, 0xD2, 6, 0}, 0.000027232},
      {"no interval, delay 100",
       100,
       10,
       0,
       0,
       {106, 0, 0, 0, 10, 0, 0xC1, 0xD2, 6, 0},
       0.000127232},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    respond({0x42});
    std::array<std::uint8_t, 4003> samples;
    samples.fill(kGuardByte);
    std::uint8_t trailer = kGuardByte;
    double period = -1;
    std::int32_t status = -1;
    device::DIO_ScanPort(*lib, &handle, 0xC1, 0xD2, row.sample_delay, row.aux_word1, row.aux_word2,
                         row.sample_count, &trailer, samples.data(), &period, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(requests().at(0), request_frame(20, 1, row.payload));
    EXPECT_EQ(platform.sleeps, (std::vector<std::uint32_t>{1}));
    EXPECT_TRUE(std::isfinite(period));
    EXPECT_NEAR(period, row.period, 1e-15 * row.period);
  }
}

TEST_F(DeviceBlock, ScanDecoding) {
  struct Row {
    const char *name;
    std::uint16_t sample_count;
    std::size_t response_length;
    std::size_t copied;
  };
  const std::vector<Row> rows = {
      {"one byte", 0, 1, 1},
      {"S + 1 bytes and a longer response", 9, 30, 10},
      {"count clamped to 4000", 5000, 4001, 4001},
      {"short response: fixed positions all the same", 100, 3, 101},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Bytes response(row.response_length);
    for (std::size_t i = 0; i < response.size(); ++i)
      response[i] = static_cast<std::uint8_t>(i * 7 + 1);
    respond(response);
    std::vector<std::uint8_t> samples(4003, kGuardByte);
    std::uint8_t trailer = kGuardByte;
    double period = -1;
    std::int32_t status = -1;
    device::DIO_ScanPort(*lib, &handle, 0, 0, 0, 10, 0, row.sample_count, &trailer,
                         samples.data() + 1, &period, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(trailer, response.back());
    EXPECT_EQ(samples[0], kGuardByte);
    const std::size_t known = std::min(row.copied, response.size());
    for (std::size_t i = 0; i < known; ++i) ASSERT_EQ(samples[i + 1], response[i]) << i;
    for (std::size_t i = row.copied + 1; i < samples.size(); ++i)
      ASSERT_EQ(samples[i], kGuardByte) << i;
  }
}

TEST_F(DeviceBlock, ScanFailuresKeepThePeriod) {
  struct Row {
    const char *name;
    bool open;
    bool refused;
    std::int32_t status;
  };
  const std::vector<Row> rows = {{"empty response", true, false, 2},
                                 {"refused", true, true, 2},
                                 {"no device open", false, false, 1}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    if (!row.open) close_device();
    driver.reads.clear();  // what a refused answer left unread
    if (row.open) respond(row.refused ? Bytes{1, 2, 3} : Bytes{}, row.refused ? 1 : 0);
    std::array<std::uint8_t, 3> samples{kGuardByte, kGuardByte, kGuardByte};
    std::uint8_t trailer = kGuardByte;
    double period = -1;
    std::int32_t status = -1;
    device::DIO_ScanPort(*lib, &handle, 0, 0, 0, 10, 0, 1, &trailer, samples.data(), &period,
                         &status);
    EXPECT_EQ(status, row.status);
    EXPECT_NEAR(period, 0.000027232, 1e-18);
    EXPECT_EQ(trailer, kGuardByte);
    EXPECT_EQ(samples, (std::array<std::uint8_t, 3>{kGuardByte, kGuardByte, kGuardByte}));
  }
}

TEST_F(DeviceBlock, WaveOut) {
  std::vector<std::uint8_t> data(3000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 3);
  struct Row {
    const char *name;
    std::uint16_t length, mode;
    std::size_t sent;  // data bytes in the request
  };
  const std::vector<Row> rows = {
      {"one byte", 1, 7, 1},
      {"mode 3 still sends 7", 10, 3, 10},
      {"the largest", 2000, 0xFFFF, 2000},
      {"clamped to 2000", 3000, 7, 2000},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    respond({9, 9, 9});
    std::int32_t status = -1;
    device::DO_WaveOut(*lib, &handle, row.length, row.mode, data.data(), &status);
    EXPECT_EQ(status, 0);
    // Sized up front: GCC 12 at -O2 warns falsely about inserting into a 2-byte vector.
    Bytes payload(2 + row.sent);
    payload[0] = 7;
    std::copy(data.begin(), data.begin() + static_cast<long>(row.sent), payload.begin() + 2);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_EQ(requests()[0], request_frame(200, 0, payload));
    EXPECT_TRUE(platform.sleeps.empty());
  }

  // Length 0: nothing at all, the status included.
  forget();
  std::int32_t status = 1234;
  device::DO_WaveOut(*lib, &handle, 0, 7, data.data(), &status);
  EXPECT_EQ(status, 1234);
  EXPECT_TRUE(driver.calls.empty());

  close_device();
  device::DO_WaveOut(*lib, &handle, 5, 7, data.data(), &status);
  EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace kmt::testing
