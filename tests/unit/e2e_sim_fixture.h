// The simulated controller on its virtual clock, for end-to-end tests: SimLibrary drives
// the device functions on a library of its own, SimAbiFixture the exported C functions on
// the process-wide instance. Nothing waits in real time: the platform records sleeps, and
// read time-outs move the virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/functions.h"
#include "kmtv1.h"
#include "library/abi.h"
#include "library/instance.h"
#include "sim/sim_driver.h"
#include "tests/support/scripted_driver.h"
#include "tests/support/text_arg.h"

namespace kmt::testing {

// The serial number of the simulated controller's first device.
inline constexpr const char *kSimSerial = "KMTC0002SIM00001";

// A simulated controller on the virtual clock, with extra comma-separated options.
inline std::unique_ptr<sim::SimDriver> make_virtual_sim(const std::string &options,
                                                        std::string *error) {
  return sim::SimDriver::create(options.empty() ? "clock=virtual" : "clock=virtual," + options,
                                error);
}

// A library instance with the first device open.
class SimLibrary : public ::testing::Test {
 protected:
  void SetUp() override { start(""); }

  // (Re)builds the simulated controller with extra options and opens its device.
  void start(const std::string &options) {
    std::string error;
    auto made = make_virtual_sim(options, &error);
    ASSERT_NE(made, nullptr) << error;
    sim = made.get();
    lib = std::make_unique<Library>(std::move(made), platform);
    std::int32_t opened = -1;
    lib->session.init_by_sn(&handle, kSimSerial, &opened);
    ASSERT_EQ(opened, 0);
  }

  template <class Part>
  Part &part() {
    return sim->controller(0).part<Part>();
  }
  std::uint64_t now_us() { return sim->clock().now_us(); }

  RecordingPlatform platform;
  std::unique_ptr<Library> lib;
  sim::SimDriver *sim = nullptr;
  std::uint32_t handle = 0;
  std::int32_t status = -1;
};

// The process-wide library instance behind the exported functions, installed around a
// simulated controller; nothing is open until start(), and TearDown removes the instance.
class SimAbiFixture : public ::testing::Test {
 protected:
  void TearDown() override { abi::replace_instance(nullptr); }

  // A fresh process's view: a new simulated controller with extra options, opened
  // through KMT_InitBySN. Called again, it replaces the previous instance.
  void start(const std::string &options) {
    std::string error;
    auto made = make_virtual_sim(options, &error);
    ASSERT_NE(made, nullptr) << error;
    sim = made.get();
    abi::replace_instance(std::make_unique<Library>(std::move(made), platform));
    std::int32_t opened = -1;
    KMT_InitBySN(&handle, TextIn(kSimSerial), &opened);
    ASSERT_EQ(opened, 0);
  }

  RecordingPlatform platform;
  sim::SimDriver *sim = nullptr;
  std::uint32_t handle = 0;
};

}  // namespace kmt::testing
