// A library instance wired to the simulated controller on its virtual clock, with the
// first device open, for end-to-end tests of the device functions. Nothing waits in
// real time: the platform records sleeps, and read time-outs move the virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/functions.h"
#include "device/library.h"
#include "sim/sim_driver.h"
#include "tests/support/scripted_driver.h"

namespace kmt::testing {

class SimLibrary : public ::testing::Test {
 protected:
  void SetUp() override { start(""); }

  // (Re)builds the simulated controller with extra options and opens its device.
  void start(const std::string &options) {
    std::string error;
    auto made = sim::SimDriver::create(
        options.empty() ? "clock=virtual" : "clock=virtual," + options, &error);
    ASSERT_NE(made, nullptr) << error;
    sim = made.get();
    lib = std::make_unique<Library>(std::move(made), platform);
    std::int32_t opened = -1;
    lib->session.init_by_sn(&handle, "KMTC0002SIM00001", &opened);
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

}  // namespace kmt::testing
