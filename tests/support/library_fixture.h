// A library instance around a scripted driver, with a device already open and the
// recordings of the open cleared, so a test sees only its own traffic; and the
// exported functions' process-wide instance around one, for tests of the exports.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <numeric>

#include "library/abi.h"
#include "library/instance.h"
#include "tests/support/scripted_driver.h"

namespace kmt::testing {

// Fill value for output buffers, so a byte the library did not write stays recognisable.
inline constexpr std::uint8_t kSentinel = 0xEE;
// Extra bytes past the largest block a call may write; they must keep kSentinel.
inline constexpr std::size_t kGuard = 16;

// Bytes first, first + 1, ... (n of them, wrapping at 256), so every position is
// recognisable.
inline Bytes counting(std::size_t n, std::uint8_t first = 1) {
  Bytes bytes(n);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

class LibraryFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    lib = std::make_unique<Library>(std::make_unique<ScriptedDriver>(driver), platform);
    std::int32_t status = -1;
    lib->session.init_by_sn(&handle, "KMTC0002TEST01", &status);
    ASSERT_EQ(status, 0);
    forget();
  }

  // Clears what the driver and platform have recorded so far.
  void forget() {
    driver.calls.clear();
    driver.written.clear();
    driver.writes.clear();
    driver.reads_made = 0;
    platform.sleeps.clear();
  }

  // Scripts the controller's next answer.
  void respond(const Bytes &payload, std::uint8_t result = 0) {
    driver.reads.push_back(response_frame(payload, result));
  }

  // The request frames written since the last forget(), one per write.
  const std::vector<Bytes> &requests() const { return driver.writes; }

  // Closes the device so that the next exchange fails with status 1.
  void close_device() {
    lib->session.close(&handle);
    forget();
  }

  ScriptedDriverState driver;
  RecordingPlatform platform;
  std::unique_ptr<Library> lib;
  std::uint32_t handle = 0;
};

// The exported functions reach a scripted driver for the length of one test.
class ExportsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    abi::replace_instance(
        std::make_unique<Library>(std::make_unique<ScriptedDriver>(driver), platform));
  }
  void TearDown() override { abi::replace_instance(nullptr); }
  ScriptedDriverState driver;
  RecordingPlatform platform;
};

}  // namespace kmt::testing
