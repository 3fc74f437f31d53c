// The frame exchange against a scripted driver: frames byte for byte, statuses,
// retries and the bounds of every buffer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/support/library_fixture.h"

namespace kmt::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class Exchange : public LibraryFixture {
 protected:
  // A raw exchange as a host makes it, with its own whole-size buffer.
  std::int32_t send(std::uint8_t group, std::uint8_t command, const Bytes &payload,
                    std::int32_t delay_ms = 0, std::uint16_t prefix = 0x0010) {
    std::copy(payload.begin(), payload.end(), buffer.begin());
    length = static_cast<std::uint16_t>(payload.size());
    std::int32_t status = -1;
    lib->session.send_comm(&handle, prefix, group, command, delay_ms, buffer.data(), &length,
                           &status);
    return status;
  }
  Bytes received() const { return Bytes(buffer.begin(), buffer.begin() + length); }

  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(Session::kPayloadSize, 0xEE);
  std::uint16_t length = 0;
};

TEST_F(Exchange, RequestFramesAreLaidOutByteForByte) {
  struct Row {
    std::uint16_t prefix;
    std::uint8_t group, command;
    Bytes payload;
    Bytes frame;
  } rows[] = {
      {0x0010, 16, 9, {}, {0x10, 0x00, 16, 9, 0, 0, 0x29}},
      {0x0010, 1, 0, {}, {0x10, 0x00, 1, 0, 0, 0, 0x11}},
      {0x0010, 19, 6, {0xFF}, {0x10, 0x00, 19, 6, 1, 0, 0xFF, 0x29}},
      {0x1234, 200, 0, {7, 0, 1, 2}, {0x34, 0x12, 200, 0, 4, 0, 7, 0, 1, 2, 0x1C}},
  };
  for (const Row &row : rows) {
    forget();
    respond({});
    EXPECT_EQ(send(row.group, row.command, row.payload, 0, row.prefix), 0);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_THAT(requests()[0], ElementsAreArray(row.frame));
  }
}

TEST_F(Exchange, PurgesReceiveQueueBeforeWritingAndHandsBackTheHandle) {
  respond({1, 2});
  std::uint32_t before = handle;
  EXPECT_EQ(send(1, 0, {}), 0);
  ASSERT_GE(driver.calls.size(), 3u);
  EXPECT_EQ(driver.calls[0], "Purge 1");
  EXPECT_EQ(driver.calls[1], "Write 7");
  EXPECT_EQ(driver.calls[2], "Read 3");
  EXPECT_EQ(handle, before);
}

TEST_F(Exchange, ResponseOutcomes) {
  struct Row {
    const char *name;
    std::vector<Bytes> chunks;
    std::int32_t status;
    std::uint16_t length;
  } rows[] = {
      {"empty payload", {response_frame({})}, 0, 0},
      {"payload", {response_frame({1, 2, 3})}, 0, 3},
      {"refused with a correct checksum", {response_frame({1, 2, 3}, 5)}, 2, 0},
      {"wrong checksum keeps the announced length", {{0, 2, 0, 9, 9, 0x00}}, 2, 2},
      {"payload in pieces",
       {{0, 4, 0}, {0xA}, {0xB, 0xC}, {0xD, static_cast<std::uint8_t>(4 + 0xA + 0xB + 0xC + 0xD)}},
       0,
       4},
      {"truncated payload", {{0, 4, 0, 1, 2}}, 2, 4},
      {"no checksum byte", {{0, 1, 0, 7}}, 2, 1},
      {"silent controller", {}, 2, 0},
      {"announcement beyond the buffer", {{0, 0x02, 0x40}}, 2, 0},
      {"largest announcement that fits", {{0, 0x00, 0x40}}, 2, 0x4000},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    driver.reads.assign(row.chunks.begin(), row.chunks.end());
    EXPECT_EQ(send(1, 0, {}), row.status);
    EXPECT_EQ(length, row.length);
    driver.reads.clear();
  }
}

TEST_F(Exchange, SilentControllerIsGivenSixHundredAndOneHeaderReads) {
  EXPECT_EQ(send(1, 0, {}), 2);
  EXPECT_EQ(driver.reads_made, 601u);
  EXPECT_EQ(platform.sleeps, std::vector<std::uint32_t>(600, 1));
}

TEST_F(Exchange, PayloadCollectionStopsAfterSixHundredReads) {
  driver.reads.push_back({0, 4, 0, 1});
  EXPECT_EQ(send(1, 0, {}), 2);
  EXPECT_EQ(driver.reads_made, 1u + 600u);
  EXPECT_TRUE(platform.sleeps.empty());
}

TEST_F(Exchange, PartialHeaderReadsAreDroppedNotJoined) {
  // The first read brings one byte; it is discarded, so the next read's first byte
  // (the low length byte, 2) is taken as the result byte.
  driver.reads = {{0}, {2, 0, 5, 6, 13}};
  EXPECT_EQ(send(1, 0, {}), 2);
  EXPECT_EQ(length, 0);
}

TEST_F(Exchange, ResponsePayloadIsCopiedBackWithTheWholeBuffer) {
  respond({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  ASSERT_EQ(send(1, 0, {}), 0);
  respond({0xAA, 0xBB});
  ASSERT_EQ(send(1, 0, {}), 0);
  // After the two payload bytes: the checksum, then what the earlier response left.
  std::uint8_t checksum = static_cast<std::uint8_t>(2 + 0xAA + 0xBB);
  EXPECT_THAT(Bytes(buffer.begin(), buffer.begin() + 10),
              ElementsAre(0xAA, 0xBB, checksum, 4, 5, 6, 7, 8, 9, 10));
}

TEST_F(Exchange, ResponseDelaySleepsOnlyWhenPositive) {
  struct Row {
    std::int32_t delay;
    std::vector<std::uint32_t> sleeps;
  } rows[] = {{0, {}}, {-5, {}}, {1, {1}}, {250, {250}}};
  for (const Row &row : rows) {
    forget();
    respond({});
    EXPECT_EQ(send(16, 3, {}, row.delay), 0);
    EXPECT_EQ(platform.sleeps, row.sleeps) << row.delay;
  }
}

TEST_F(Exchange, FailedWriteEndsWithStatusOneAndNoRead) {
  driver.failures["Write"] = d2xx::FT_IO_ERROR;
  respond({1});
  EXPECT_EQ(send(16, 4, {1, 2}, 1), 1);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(driver.reads_made, 0u);
  EXPECT_EQ(platform.sleeps, std::vector<std::uint32_t>{1});
  EXPECT_EQ(lib->transport.io_status, d2xx::FT_IO_ERROR);
  driver.failures.clear();
  EXPECT_EQ(send(16, 4, {1, 2}), 0);
  EXPECT_EQ(lib->transport.io_status, d2xx::FT_OK);
}

TEST_F(Exchange, ClosedDeviceAnswersAtOnceWithThePreviousResponse) {
  respond({9, 8, 7});
  ASSERT_EQ(send(1, 0, {}), 0);
  close_device();
  std::fill(buffer.begin(), buffer.end(), 0);
  EXPECT_EQ(send(1, 0, {1}), 1);
  EXPECT_TRUE(driver.calls.empty());
  EXPECT_THAT(received(), ElementsAre(9, 8, 7));
}

TEST_F(Exchange, ShortRequest) {
  struct Row {
    const char *name;
    std::vector<Bytes> chunks;
    d2xx::FT_STATUS read_failure;
    std::int32_t status;
  } rows[] = {
      {"three bytes of any value", {{0xDE, 0xAD, 0xBF}}, 0, 0},
      {"two bytes", {{1, 2}}, 0, 2},
      {"nothing", {}, 0, 2},
      {"read fails at the driver", {{1, 2, 3}}, d2xx::FT_IO_ERROR, 1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    forget();
    driver.reads.assign(row.chunks.begin(), row.chunks.end());
    if (row.read_failure != 0) driver.failures["Read"] = row.read_failure;
    EXPECT_EQ(send(8, 99, {1, 2, 3}), row.status);
    EXPECT_EQ(length, 0);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_THAT(requests()[0], ElementsAre(0x10, 0x00, 8));
    EXPECT_EQ(driver.reads_made, 1u);
    driver.failures.clear();
    driver.reads.clear();
  }
}

TEST_F(Exchange, OversizedRequestIsRefusedWithoutTouchingTheLink) {
  length = Session::kPayloadSize + 1;
  std::int32_t status = -1;
  lib->session.send_comm(&handle, 0x0010, 1, 0, 0, buffer.data(), &length, &status);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(length, 0);
  EXPECT_TRUE(driver.calls.empty());
}

TEST_F(Exchange, LargestRequestFitsTheFrame) {
  Bytes payload(Session::kPayloadSize, 0x01);
  respond({});
  EXPECT_EQ(send(20, 0, payload), 0);
  ASSERT_EQ(requests().size(), 1u);
  EXPECT_EQ(requests()[0].size(), Session::kPayloadSize + 7);
  // 0x10 + 20 + 0x01 + 0x40 + 16385 ones, modulo 256.
  EXPECT_EQ(requests()[0].back(), static_cast<std::uint8_t>(0x10 + 20 + 0x01 + 0x40 + 16385));
}

TEST_F(Exchange, DriverClaimingMoreThanAskedCannotOverrunTheBuffers) {
  driver.claim_read_count = 100000;
  driver.reads = {response_frame({1, 2, 3})};
  EXPECT_EQ(send(1, 0, {}), 0);
  EXPECT_THAT(received(), ElementsAre(1, 2, 3));
}

TEST_F(Exchange, DevicePathExchangesInPlace) {
  // Device functions hand the exchange its own payload buffer.
  std::uint8_t *payload = lib->payload();
  payload[0] = 0x42;
  lib->payload_length = 1;
  respond({0x99, 0x98});
  std::int32_t status = -1;
  lib->exchange(&handle, 19, 6, 0, &status);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(requests().size(), 1u);
  EXPECT_THAT(requests()[0], ElementsAreArray(request_frame(19, 6, {0x42})));
  EXPECT_EQ(lib->payload_length, 2);
  EXPECT_EQ(lib->response()[0], 0x99);
  EXPECT_EQ(lib->response()[1], 0x98);
}

}  // namespace
}  // namespace kmt::testing
