// The simulated controller seen through its driver operations: frame parsing, read
// semantics and time-outs on the virtual clock, the link gate, devices and options.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/sim.h"
#include "sim/sim_driver.h"
#include "tests/support/scripted_driver.h"

namespace kmt::sim {
namespace {

using namespace d2xx;
using testing::Bytes;
using testing::concat;
using testing::request_frame;
using testing::response_frame;

const Bytes kFirmware{1, 0, 0, 0, 43, 0, 2, 0};

class SimDriverTest : public ::testing::Test {
 protected:
  // Builds the driver and opens `serial` with the controller's link settings.
  void start(const std::string &options = "clock=virtual",
             const std::string &serial = "KMTC0002SIM00001") {
    std::string error;
    driver = SimDriver::create(options, &error);
    ASSERT_NE(driver, nullptr) << error;
    handle = open(serial);
    ASSERT_NE(handle, nullptr);
  }

  FT_HANDLE open(const std::string &serial, bool configure = true) {
    FT_HANDLE h = nullptr;
    std::string copy = serial;
    if (driver->OpenEx(copy.data(), FT_OPEN_BY_SERIAL_NUMBER, &h) != FT_OK) return nullptr;
    if (configure) {
      EXPECT_EQ(driver->SetBaudRate(h, 250000), FT_OK);
      EXPECT_EQ(driver->SetDataCharacteristics(h, 8, 0, 0), FT_OK);
      EXPECT_EQ(driver->SetFlowControl(h, 0, 0x11, 0x13), FT_OK);
      EXPECT_EQ(driver->SetTimeouts(h, 50, 50), FT_OK);
    }
    return h;
  }

  void write(const Bytes &bytes, FT_HANDLE h = nullptr) {
    Bytes copy = bytes;
    DWORD written = 0;
    ASSERT_EQ(driver->Write(h != nullptr ? h : handle, copy.data(), static_cast<DWORD>(copy.size()),
                            &written),
              FT_OK);
    ASSERT_EQ(written, copy.size());
  }

  Bytes read(DWORD n, FT_HANDLE h = nullptr) {
    Bytes out(n);
    DWORD got = 0;
    EXPECT_EQ(driver->Read(h != nullptr ? h : handle, out.data(), n, &got), FT_OK);
    out.resize(got);
    return out;
  }

  std::uint64_t now() { return driver->clock().now_us(); }

  std::unique_ptr<SimDriver> driver;
  FT_HANDLE handle = nullptr;
};

// ---- Frame parsing --------------------------------------------------------------

struct SplitCase {
  const char *name;
  std::vector<std::size_t> pieces;  // sizes of the writes; the rest goes in a last one
};

TEST_F(SimDriverTest, FrameSplitAcrossWritesIsAnsweredOnce) {
  const SplitCase cases[] = {
      {"whole", {}},
      {"byte by byte", {1, 1, 1, 1, 1, 1}},
      {"after the prefix", {2}},
      {"inside the length", {5}},
      {"before the checksum", {6}},
  };
  start();
  const Bytes request = request_frame(1, 0, {});
  for (const SplitCase &c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t at = 0;
    for (std::size_t size : c.pieces) {
      write(Bytes(request.begin() + at, request.begin() + at + size));
      EXPECT_EQ(driver->queued_bytes(0), 0u) << "answered before the frame was complete";
      at += size;
    }
    write(Bytes(request.begin() + at, request.end()));
    EXPECT_EQ(read(64), response_frame(kFirmware));
  }
  EXPECT_EQ(driver->stats(0).frames, std::size(cases));
}

TEST_F(SimDriverTest, SeveralFramesInOneWriteAreAnsweredInOrder) {
  start();
  write(concat({request_frame(1, 0, {}), request_frame(99, 3, {7}), {0x10, 0x00, 0x08}}));
  EXPECT_EQ(read(64),
            concat({response_frame(kFirmware), response_frame({}, 0xE2), Bytes{0x10, 0x00, 0x08}}));
}

struct AnswerCase {
  const char *name;
  Bytes request;
  Bytes answer;
};

TEST_F(SimDriverTest, RequestsAndTheirAnswers) {
  Bytes bad_checksum = request_frame(1, 0, {});
  ++bad_checksum.back();
  const AnswerCase cases[] = {
      {"firmware identification", request_frame(1, 0, {}), response_frame(kFirmware)},
      {"firmware ignores a payload", request_frame(1, 0, {1, 2, 3}), response_frame(kFirmware)},
      {"bad checksum", bad_checksum, response_frame({}, 0xE1)},
      {"unknown group", request_frame(250, 0, {}), response_frame({}, 0xE2)},
      {"unknown command", request_frame(1, 77, {}), response_frame({}, 0xE2)},
      {"short request", {0x10, 0x00, 0x08}, {0x10, 0x00, 0x08}},
      {"noise before the prefix", concat({{0x55, 0x10, 0x10}, request_frame(1, 0, {})}),
       concat({response_frame(kFirmware)})},
      {"another prefix gets no answer", request_frame(1, 0, {}, 0x0011), {}},
      {"request above the buffer", request_frame(1, 0, Bytes(16386, 0)), response_frame({}, 0xE3)},
  };
  start();
  for (const AnswerCase &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(driver->Purge(handle, FT_PURGE_TX | FT_PURGE_RX), FT_OK);
    write(c.request);
    EXPECT_EQ(read(static_cast<DWORD>(c.answer.size() + 1)), c.answer);
  }
}

TEST_F(SimDriverTest, HandlerThatThrowsIsRefused) {
  start();
  driver->controller(0).on(99, 1, [](std::span<const std::uint8_t>) -> Reply {
    throw std::runtime_error("broken handler");
  });
  write(request_frame(99, 1, {}));
  EXPECT_EQ(read(8), response_frame({}, 0xEF));
}

// ---- Read semantics and time-outs -----------------------------------------------

TEST_F(SimDriverTest, ReadWaitsForTheTimeOutOnlyWhenBytesAreMissing) {
  start();
  std::uint64_t t0 = now();
  EXPECT_TRUE(read(3).empty());
  EXPECT_EQ(now() - t0, 50000u) << "a read with nothing coming lasts the time-out";

  write(request_frame(1, 0, {}));
  t0 = now();
  Bytes header = read(3);
  EXPECT_EQ(header, (Bytes{0, 8, 0}));
  EXPECT_EQ(now(), t0) << "bytes already there cost no time";
  Bytes rest = read(100);
  EXPECT_EQ(rest.size(), 9u) << "a read returns what came by the time-out";
  EXPECT_EQ(now() - t0, 50000u);
}

TEST_F(SimDriverTest, BusyControllerAnswersLater) {
  start();
  driver->controller(0).on(99, 2, [](std::span<const std::uint8_t>) {
    return Reply{0, {5}, 70000};
  });
  write(request_frame(99, 2, {}));
  std::uint64_t t0 = now();
  EXPECT_TRUE(read(3).empty());
  EXPECT_EQ(now() - t0, 50000u);
  EXPECT_EQ(read(5), response_frame({5}));
  EXPECT_EQ(now() - t0, 70000u) << "the read ends when the bytes are there";

  // Requests are answered one after the other.
  ASSERT_EQ(driver->SetTimeouts(handle, 100, 100), FT_OK);
  write(concat({request_frame(99, 2, {}), request_frame(1, 0, {})}));
  t0 = now();
  EXPECT_EQ(read(5 + 12), concat({response_frame({5}), response_frame(kFirmware)}));
  EXPECT_EQ(now() - t0, 70000u);
}

TEST_F(SimDriverTest, WithoutReadTimeOutOnlyBytesOnTheirWayAreAwaited) {
  start();
  ASSERT_EQ(driver->SetTimeouts(handle, 0, 0), FT_OK);
  std::uint64_t t0 = now();
  EXPECT_TRUE(read(3).empty());
  EXPECT_EQ(now(), t0);
  driver->controller(0).on(99, 2, [](std::span<const std::uint8_t>) {
    return Reply{0, {}, 250000};
  });
  write(request_frame(99, 2, {}));
  EXPECT_EQ(read(10), response_frame({}));
  EXPECT_EQ(now() - t0, 250000u);
}

TEST_F(SimDriverTest, DefaultReadTimeOutIsNone) {
  start();
  ASSERT_EQ(driver->Close(handle), FT_OK);
  handle = open("KMTC0002SIM00001", false);
  EXPECT_EQ(driver->read_timeout_ms(0), 0u) << "an open forgets the earlier time-outs";
  std::uint64_t t0 = now();
  EXPECT_TRUE(read(3).empty());
  EXPECT_EQ(now(), t0);
}

TEST_F(SimDriverTest, RealClockSleepsUntilTheAnswer) {
  start("clock=real");
  driver->controller(0).on(99, 2, [](std::span<const std::uint8_t>) { return Reply{0, {}, 5000}; });
  auto t0 = std::chrono::steady_clock::now();
  write(request_frame(99, 2, {}));
  EXPECT_EQ(read(4), response_frame({}));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::microseconds(5000));
}

TEST_F(SimDriverTest, PurgeAndReset) {
  start();
  driver->controller(0).on(99, 2, [](std::span<const std::uint8_t>) {
    return Reply{0, {}, 30000};
  });
  // RX purge drops what has arrived, not what is still on its way.
  write(concat({request_frame(1, 0, {}), request_frame(99, 2, {})}));
  ASSERT_EQ(driver->Purge(handle, FT_PURGE_RX), FT_OK);
  EXPECT_EQ(read(20), response_frame({}));

  // TX purge drops a frame the controller has begun.
  Bytes request = request_frame(1, 0, {});
  write(Bytes(request.begin(), request.begin() + 4));
  ASSERT_EQ(driver->Purge(handle, FT_PURGE_TX), FT_OK);
  write(request);
  EXPECT_EQ(read(20), response_frame(kFirmware));

  // A reset drops everything in flight both ways, and keeps the link.
  write(concat({request_frame(99, 2, {}), Bytes(request.begin(), request.begin() + 4)}));
  ASSERT_EQ(driver->ResetDevice(handle), FT_OK);
  write(request);
  EXPECT_EQ(read(20), response_frame(kFirmware));
  EXPECT_EQ(driver->Purge(handle, 4), FT_INVALID_PARAMETER);
}

// ---- Link gate ----------------------------------------------------------------

struct LinkCase {
  const char *name;
  ULONG baud;
  UCHAR bits, stop, parity;
  USHORT flow;
  bool answered;
};

TEST_F(SimDriverTest, ControllerHearsFramesOnlyOnItsOwnLink) {
  const LinkCase cases[] = {
      {"controller's link", 250000, 8, 0, 0, 0, true},
      {"other baud rate", 115200, 8, 0, 0, 0, false},
      {"seven data bits", 250000, 7, 0, 0, 0, false},
      {"two stop bits", 250000, 8, 2, 0, 0, false},
      {"odd parity", 250000, 8, 0, 1, 0, false},
      {"RTS/CTS flow control", 250000, 8, 0, 0, 0x0100, false},
  };
  start();
  for (const LinkCase &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(driver->SetBaudRate(handle, c.baud), FT_OK);
    ASSERT_EQ(driver->SetDataCharacteristics(handle, c.bits, c.stop, c.parity), FT_OK);
    ASSERT_EQ(driver->SetFlowControl(handle, c.flow, 0x11, 0x13), FT_OK);
    std::uint64_t noise = driver->stats(0).noise_bytes;
    write(request_frame(1, 0, {}));
    EXPECT_EQ(read(12).size(), c.answered ? 12u : 0u);
    EXPECT_EQ(driver->stats(0).noise_bytes - noise, c.answered ? 0u : 7u);
  }
}

TEST_F(SimDriverTest, FreshlyOpenedLinkIsNotTheControllers) {
  start();
  ASSERT_EQ(driver->Close(handle), FT_OK);
  handle = open("KMTC0002SIM00001", false);
  ASSERT_EQ(driver->SetTimeouts(handle, 50, 50), FT_OK);
  write(request_frame(1, 0, {}));
  EXPECT_TRUE(read(12).empty());
  EXPECT_FALSE(driver->link(0).understood());
}

TEST_F(SimDriverTest, ChangingTheLinkSpoilsAFrameInProgress) {
  start();
  Bytes request = request_frame(1, 0, {});
  write(Bytes(request.begin(), request.begin() + 3));
  ASSERT_EQ(driver->SetBaudRate(handle, 9600), FT_OK);
  ASSERT_EQ(driver->SetBaudRate(handle, 250000), FT_OK);
  write(Bytes(request.begin() + 3, request.end()));
  EXPECT_TRUE(read(12).empty());
}

TEST_F(SimDriverTest, InvalidLinkValuesAreRefused) {
  start();
  EXPECT_EQ(driver->SetBaudRate(handle, 0), FT_INVALID_BAUD_RATE);
  EXPECT_EQ(driver->SetDataCharacteristics(handle, 9, 0, 0), FT_INVALID_PARAMETER);
  EXPECT_EQ(driver->SetDataCharacteristics(handle, 8, 1, 0), FT_INVALID_PARAMETER);
  EXPECT_EQ(driver->SetFlowControl(handle, 3, 0x11, 0x13), FT_INVALID_PARAMETER);
  EXPECT_TRUE(driver->link(0).understood());
}

// ---- Devices, handles and listing --------------------------------------------------

TEST_F(SimDriverTest, HandlesThatAreNotOpenAreInvalid) {
  start();
  FT_HANDLE stale = handle;
  ASSERT_EQ(driver->Close(handle), FT_OK);
  handle = open("KMTC0002SIM00001");
  ASSERT_NE(handle, stale) << "each open hands out a fresh handle";
  Bytes buffer(8);
  DWORD n = 0;
  for (FT_HANDLE h : {stale, static_cast<FT_HANDLE>(nullptr)}) {
    EXPECT_EQ(driver->Close(h), FT_INVALID_HANDLE);
    EXPECT_EQ(driver->ResetDevice(h), FT_INVALID_HANDLE);
    EXPECT_EQ(driver->Purge(h, FT_PURGE_RX), FT_INVALID_HANDLE);
    EXPECT_EQ(driver->SetBaudRate(h, 250000), FT_INVALID_HANDLE);
    EXPECT_EQ(driver->SetDataCharacteristics(h, 8, 0, 0), FT_INVALID_HANDLE);
    EXPECT_EQ(driver->SetFlowControl(h, 0, 0x11, 0x13), FT_INVALID_HANDLE);
    EXPECT_EQ(driver->SetTimeouts(h, 50, 50), FT_INVALID_HANDLE);
    EXPECT_EQ(driver->Write(h, buffer.data(), 8, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(driver->Read(h, buffer.data(), 8, &n), FT_INVALID_HANDLE);
  }
  EXPECT_TRUE(driver->is_open(0));
}

TEST_F(SimDriverTest, OpenBySerialNumber) {
  start("clock=virtual,serials=KMTC0002A1B2+KMTC0001X", "KMTC0002A1B2");
  FT_HANDLE h = nullptr;
  std::string serial = "KMTC0002A1B2";
  EXPECT_EQ(driver->OpenEx(serial.data(), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_DEVICE_NOT_OPENED);
  std::string unknown = "KMTC0002A1B";
  EXPECT_EQ(driver->OpenEx(unknown.data(), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(driver->OpenEx(serial.data(), 2, &h), FT_INVALID_PARAMETER);
  FT_HANDLE other = open("KMTC0001X");
  ASSERT_NE(other, nullptr);
  EXPECT_TRUE(driver->is_open(1));
}

TEST_F(SimDriverTest, ListsEveryDeviceWhateverItsType) {
  start("clock=virtual,serials=KMTC0002A1B2+KMTC0001X+KMTC0002C3", "KMTC0001X");
  DWORD count = 0;
  ASSERT_EQ(driver->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 3u);
  const char *expected[] = {"KMTC0002A1B2", "KMTC0001X", "KMTC0002C3"};
  const DWORD by_index = FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER;
  for (std::uintptr_t i = 0; i < 3; ++i) {
    char buffer[64];
    ASSERT_EQ(driver->ListDevices(reinterpret_cast<PVOID>(i), buffer, by_index), FT_OK);
    EXPECT_STREQ(buffer, expected[i]);
  }
  char buffer[64];
  EXPECT_EQ(driver->ListDevices(reinterpret_cast<PVOID>(std::uintptr_t{3}), buffer, by_index),
            FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(driver->ListDevices(&count, buffer, 0), FT_INVALID_PARAMETER);
}

TEST_F(SimDriverTest, DevicesAnswerOnTheirOwnHandles) {
  start("clock=virtual,devices=3");
  FT_HANDLE third = open("KMTC0002SIM00003");
  ASSERT_NE(third, nullptr);
  ASSERT_EQ(driver->device_count(), 3u);
  EXPECT_EQ(driver->find("KMTC0002SIM00003"), &driver->controller(2));
  EXPECT_EQ(driver->controller(2).serial(), "KMTC0002SIM00003");
  driver->controller(2).on(99, 0, [](std::span<const std::uint8_t>) { return Reply{0, {3}, 0}; });
  write(request_frame(99, 0, {}), third);
  write(request_frame(99, 0, {}), handle);
  EXPECT_EQ(read(5, third), response_frame({3}));
  EXPECT_EQ(read(5, handle), response_frame({}, 0xE2));
}

// ---- Options --------------------------------------------------------------------

struct OptionsCase {
  std::string options;
  bool valid;
  std::size_t devices;
  const char *reason = "";  // part of the error
};

TEST(SimOptions, ValidAndMalformed) {
  const OptionsCase cases[] = {
      {"", true, 1},
      {"clock=virtual", true, 1},
      {"devices=3", true, 3},
      {"devices=0", true, 0},
      {"devices=300", true, 300},
      {"serials=KMTC0002A1B2+KMTC0001X", true, 2},
      {"devices=2,serials=A+B", true, 2},
      {"uart_buffer=64,ai1=const:2.5,expansion_chain=8,temperature=-60", true, 1},
      {"serials=KMTC0002" + std::string(41, '9'), true, 1},  // 49 characters
      {"fault=silent*1+fail:open:3", true, 1},
      {"clock", false, 0},
      {"=1", false, 0},
      {"a=1,,b=2", false, 0},
      {"a=1,", false, 0},
      {"a b=1", false, 0},
      {"a=1,a=2", false, 0},
      {"devices=x", false, 0},
      {"devices=1001", false, 0},
      {"devices=3,serials=A+B", false, 0},
      {"serials=A+A", false, 0},
      {"serials=", false, 0},
      {"serials=A++B", false, 0},
      {"clock=fast", false, 0},
      {"fault=bogus", false, 0},
      {"fault=result:0", false, 0},
      {"fault=split:0:10", false, 0},
      {"fault=fail:jump:3", false, 0},
      {"fault=fail:open:0", false, 0},
      {"fault=silent#256", false, 0},
      {"fault=silent*1*2", false, 0},
      {"fault=checksum:1", false, 0},
      // Refused with a reason that names the culprit.
      {"serials=KMTC0002" + std::string(42, '9'), false, 0, "the library passes at most 49"},
      {"devcies=2", false, 0, "unknown option \"devcies\""},
      {"uart_baud=9600", false, 0, "unknown option \"uart_baud\""},
      {"uart_buffer=0", false, 0, "uart_buffer:"},
      {"onewire_devices=4", false, 0, "onewire_devices:"},
      {"expansion_chain=2.5", false, 0, "expansion_chain:"},
      {"temperature=warm", false, 0, "temperature:"},
      {"dio_in=01z", false, 0, "dio_in:"},
      {"ai3=square:1", false, 0, "ai3:"},
      {"ao1_to=7", false, 0, "ao1_to:"},
  };
  for (const OptionsCase &c : cases) {
    SCOPED_TRACE(c.options);
    std::string error;
    auto driver = make_driver(c.options, &error);
    EXPECT_EQ(driver != nullptr, c.valid);
    EXPECT_EQ(error.empty(), c.valid) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    if (driver) {
      DWORD count = 99;
      ASSERT_EQ(driver->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
      EXPECT_EQ(count, c.devices);
    }
  }
}

TEST(SimOptions, FamiliesReadTheirKeys) {
  Options options;
  std::string error;
  ASSERT_TRUE(Options::parse("level=2.5,mode=fast,bad=2x", &options, &error)) << error;
  EXPECT_EQ(options.number("level", 0), 2.5);
  EXPECT_EQ(options.number("bad", 7), 7) << "a value that is not a number gives the fallback";
  EXPECT_EQ(options.number("missing", 7), 7);
  EXPECT_EQ(options.text("mode"), "fast");
  EXPECT_EQ(options.text("missing", "x"), "x");
}

TEST(SimOptions, FaultGrammar) {
  std::vector<Fault> faults;
  std::string error;
  ASSERT_TRUE(parse_faults("result:5#19.4*1@2+split:3:1500+fail:read:4", &faults, &error)) << error;
  ASSERT_EQ(faults.size(), 3u);
  EXPECT_EQ(faults[0].kind, FaultKind::kResult);
  EXPECT_EQ(faults[0].amount, 5u);
  EXPECT_EQ(faults[0].group, 19);
  EXPECT_EQ(faults[0].command, 4);
  EXPECT_EQ(faults[0].times, 1u);
  EXPECT_EQ(faults[0].skip, 2u);
  EXPECT_EQ(faults[1].kind, FaultKind::kSplit);
  EXPECT_EQ(faults[1].amount, 3u);
  EXPECT_EQ(faults[1].interval_us, 1500u);
  EXPECT_EQ(faults[1].times, 0u) << "persistent unless a count is given";
  EXPECT_EQ(faults[2].kind, FaultKind::kFailCall);
  EXPECT_EQ(faults[2].call, Call::kRead);
  EXPECT_EQ(faults[2].amount, 4u);
}

}  // namespace
}  // namespace kmt::sim
