// Fault injection of the simulated controller, seen by the library's own exchange:
// each fault must produce the failure it stands for, for as long as it is meant to.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "library/instance.h"
#include "sim/sim_driver.h"
#include "tests/support/scripted_driver.h"

namespace kmt::sim {
namespace {

using namespace d2xx;

// A library instance on a simulated controller with the virtual clock: the library's
// sleeps go to a recording platform, the controller's waits to the virtual clock, so
// nothing here waits in real time.
class SimFaultTest : public ::testing::Test {
 protected:
  void start(const std::string &options) {
    std::string error;
    auto made =
        SimDriver::create(options.empty() ? "clock=virtual" : "clock=virtual," + options, &error);
    ASSERT_NE(made, nullptr) << error;
    sim = made.get();
    lib = std::make_unique<Library>(std::move(made), platform);
    std::int32_t status = -1;
    lib->session.init_by_sn(&handle, "KMTC0002SIM00001", &status);
    ASSERT_EQ(status, 0);
  }

  // One firmware exchange; returns the status, leaves the response length in length.
  std::int32_t firmware() {
    std::int32_t status = -1;
    length = 0;
    lib->session.send_comm(&handle, 0x0010, 1, 0, 0, buffer.data(), &length, &status);
    return status;
  }

  testing::RecordingPlatform platform;
  std::unique_ptr<Library> lib;
  SimDriver *sim = nullptr;
  std::uint32_t handle = 0;
  std::array<std::uint8_t, 16385> buffer{};
  std::uint16_t length = 0;
};

struct ResponseFaultCase {
  const char *fault;
  std::int32_t status;
  std::uint16_t length;
};

TEST_F(SimFaultTest, ResponseFaultsGiveTheirStatus) {
  const ResponseFaultCase cases[] = {
      {"delay:0", 0, 8},        {"silent", 2, 0},
      {"split:1:10000", 0, 8},  // pieces within the read time-out
      {"split:2:60000", 2, 0},  // the header comes apart across reads and is lost
      {"checksum", 2, 8},       // the announced length stays
      {"result:5", 2, 0},       {"result:255", 2, 0},
      {"truncate:3", 0, 5},     {"truncate:100", 0, 0},
      {"overlong:2", 2, 10},    {"delay:5000000", 0, 8},  // 5 s: within the header retries
      {"delay:40000000", 2, 0},                           // 40 s: past them
  };
  for (const ResponseFaultCase &c : cases) {
    SCOPED_TRACE(c.fault);
    start(std::string("fault=") + c.fault);
    EXPECT_EQ(firmware(), c.status);
    EXPECT_EQ(length, c.length);
    if (c.status == 0 && c.length == 8) {
      EXPECT_EQ(buffer[4], 43);
    }
  }
}

TEST_F(SimFaultTest, ShortRequestGetsNoAnswerFromASilentController) {
  start("fault=silent");
  std::int32_t status = -1;
  lib->session.send_comm(&handle, 0x0010, 8, 0, 0, buffer.data(), &length, &status);
  EXPECT_EQ(status, 2);
  sim->clear_faults();
  lib->session.send_comm(&handle, 0x0010, 8, 0, 0, buffer.data(), &length, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(sim->stats(0).short_requests, 1u) << "the silent controller ignored the first";
}

struct ScopeCase {
  const char *fault;
  std::array<std::int32_t, 4> statuses;  // of four firmware exchanges in a row
};

TEST_F(SimFaultTest, OneShotPersistentAndDelayedFaults) {
  const ScopeCase cases[] = {
      {"result:5", {2, 2, 2, 2}},
      {"result:5*0", {2, 2, 2, 2}},
      {"result:5*1", {2, 0, 0, 0}},
      {"result:5*2", {2, 2, 0, 0}},
      {"result:5@1", {0, 2, 2, 2}},
      {"result:5*1@2", {0, 0, 2, 0}},
      {"result:5#1", {2, 2, 2, 2}},
      {"result:5#1.0*1", {2, 0, 0, 0}},
      {"result:5#19", {0, 0, 0, 0}},
      {"result:5#1.1", {0, 0, 0, 0}},
      {"silent*1+checksum*1", {2, 2, 0, 0}},
  };
  for (const ScopeCase &c : cases) {
    SCOPED_TRACE(c.fault);
    start(std::string("fault=") + c.fault);
    for (std::int32_t expected : c.statuses) EXPECT_EQ(firmware(), expected);
  }
}

TEST_F(SimFaultTest, FaultForOneDeviceOnly) {
  start("devices=2");
  Fault fault;
  fault.kind = FaultKind::kSilent;
  fault.serial = "KMTC0002SIM00002";
  sim->inject(fault);
  EXPECT_EQ(firmware(), 0);
  std::uint32_t second = 0;
  std::int32_t status = -1;
  lib->session.init_by_sn(&second, "KMTC0002SIM00002", &status);
  ASSERT_EQ(status, 0);
  lib->session.send_comm(&second, 0x0010, 1, 0, 0, buffer.data(), &length, &status);
  EXPECT_EQ(status, 2);
}

struct CallFaultCase {
  const char *fault;
  bool open_fails;  // KMT_InitBySN then reports status 1
  std::int32_t exchange_status;
};

TEST_F(SimFaultTest, FailingDriverCallsReachTheLibrary) {
  const CallFaultCase cases[] = {
      {"fail:open:2", true, 1},     {"fail:reset:4", true, 1},  {"fail:baud:7", true, 1},
      {"fail:data:4", true, 1},     {"fail:flow:4", true, 1},   {"fail:purge:4", true, 1},
      {"fail:timeouts:4", true, 1}, {"fail:write:4", false, 1}, {"fail:read:4", false, 2},
      {"fail:purge:4@2", false, 0},
  };
  for (const CallFaultCase &c : cases) {
    SCOPED_TRACE(c.fault);
    std::string error;
    std::vector<Fault> faults;
    ASSERT_TRUE(parse_faults(c.fault, &faults, &error)) << error;
    auto made = SimDriver::create("clock=virtual", &error);
    sim = made.get();
    lib = std::make_unique<Library>(std::move(made), platform);
    for (const Fault &f : faults) sim->inject(f);
    std::int32_t status = -1;
    lib->session.init_by_sn(&handle, "KMTC0002SIM00001", &status);
    EXPECT_EQ(status, c.open_fails ? 1 : 0);
    if (!c.open_fails) {
      EXPECT_EQ(firmware(), c.exchange_status);
    }
  }
}

TEST_F(SimFaultTest, FailingCallHasNoEffect) {
  auto made = SimDriver::create("clock=virtual", nullptr);
  sim = made.get();
  FT_HANDLE h = nullptr;
  std::string serial = "KMTC0002SIM00001";
  ASSERT_EQ(sim->OpenEx(serial.data(), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_OK);
  ASSERT_EQ(sim->SetBaudRate(h, 250000), FT_OK);
  ASSERT_EQ(sim->SetTimeouts(h, 50, 50), FT_OK);
  Fault fault;
  fault.kind = FaultKind::kFailCall;
  fault.amount = FT_IO_ERROR;
  fault.times = 1;

  fault.call = Call::kBaudRate;
  sim->inject(fault);
  EXPECT_EQ(sim->SetBaudRate(h, 9600), FT_IO_ERROR);
  EXPECT_TRUE(sim->link(0).understood());

  auto request = testing::request_frame(1, 0, {});
  DWORD n = 99;
  fault.call = Call::kWrite;
  sim->inject(fault);
  EXPECT_EQ(sim->Write(h, request.data(), static_cast<DWORD>(request.size()), &n), FT_IO_ERROR);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(sim->stats(0).frames, 0u);

  ASSERT_EQ(sim->Write(h, request.data(), static_cast<DWORD>(request.size()), &n), FT_OK);
  fault.call = Call::kRead;
  sim->inject(fault);
  std::array<std::uint8_t, 12> answer{};
  n = 99;
  EXPECT_EQ(sim->Read(h, answer.data(), 12, &n), FT_IO_ERROR);
  EXPECT_EQ(n, 0u);
  fault.call = Call::kPurge;
  sim->inject(fault);
  EXPECT_EQ(sim->Purge(h, FT_PURGE_RX), FT_IO_ERROR);
  EXPECT_EQ(sim->queued_bytes(0), 12u) << "neither the failed read nor the failed purge took any";

  fault.call = Call::kList;
  sim->inject(fault);
  DWORD count = 99;
  EXPECT_EQ(sim->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_IO_ERROR);
  EXPECT_EQ(count, 99u);

  fault.call = Call::kClose;
  sim->inject(fault);
  EXPECT_EQ(sim->Close(h), FT_IO_ERROR);
  EXPECT_TRUE(sim->is_open(0));
}

TEST_F(SimFaultTest, DiscoveryListsOnlyTheAcceptedType) {
  start("serials=KMTC0002SIM00001+KMTC0001X+KMTC0002C3");
  std::int32_t count = -1, status = -1;
  lib->session.create_list_devs("KMTCV1", &count, &status);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(status, 0);
  std::string type, serial;
  lib->session.get_type_and_sn_by_index(1, &type, &serial, &status);
  EXPECT_EQ(type, "KMTC0002");
  EXPECT_EQ(serial, "C3");
}

}  // namespace
}  // namespace kmt::sim
