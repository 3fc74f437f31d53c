// The exported C functions in-process, against a scripted driver: the string
// boundary, null pointers, and that every call reaches the process-wide instance.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "kmtv1.h"
#include "library/abi.h"
#include "tests/support/library_fixture.h"
#include "tests/support/scripted_driver.h"
#include "tests/support/text_arg.h"

namespace kmt::testing {
namespace {

using Abi = ExportsFixture;

#if !defined(_WIN32)  // VARIANT strings: tests/windows/variant_test.cpp
TEST_F(Abi, DiscoveryStringsCrossAsNulTerminatedText) {
  std::string long_serial = "KMTC0002" + std::string(40, 'S');
  driver.serials = {"KMTC0002A1B2", long_serial};
  std::int32_t count = -1, status = -1;
  KMT_CreateListDevs(TextIn("kmtcv1"), &count, &status);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(status, 0);

  struct Row {
    std::int32_t index;
    const char *type, *serial;
  } rows[] = {
      {0, "KMTC0002", "A1B2"},
      {1, "KMTC0002", "SSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSS"},
      {2, "", ""},
      {-7, "", ""},
      {4096, "", ""},
  };
  for (const Row &row : rows) {
    char type[KMT_STRING_SIZE + 1], serial[KMT_STRING_SIZE + 1];
    std::memset(type, 'G', sizeof type);
    std::memset(serial, 'G', sizeof serial);
    KMT_GetTypeAndSNbyIndex(row.index, type, serial, &status);
    EXPECT_STREQ(type, row.type) << row.index;
    EXPECT_STREQ(serial, row.serial) << row.index;
    EXPECT_EQ(type[KMT_STRING_SIZE], 'G') << "guard byte after the 256-byte buffer";
    EXPECT_EQ(serial[KMT_STRING_SIZE], 'G');
  }
}
#endif

TEST_F(Abi, NullTypeNameIsTheEmptyNameAndNullSerialOpensNothing) {
  std::int32_t count = -1, status = -1;
  KMT_CreateListDevs(nullptr, &count, &status);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(status, 3);
  std::uint32_t handle = 0;
  KMT_InitBySN(&handle, nullptr, &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(driver.calls.back(), "OpenEx ");
}

TEST_F(Abi, NullPointersMakeCallsReturnWithoutEffectButStatusFour) {
  std::uint32_t handle = 0;
  std::int32_t status = 77;
  KMT_InitBySN(&handle, TextIn("KMTC0002TEST01"), &status);
  ASSERT_EQ(status, 0);
  std::vector<std::uint8_t> buffer(KMT_PAYLOAD_SIZE);
  std::uint16_t length = 0;
  std::int32_t count = 0;
  TextOut text;
  std::uint8_t bytes[64];
  struct Row {
    const char *name;
    std::function<void(std::int32_t *)> call;
    std::int32_t status;  // what a status variable holding 77 holds afterwards
  } rows[] = {
      {"SendComm, null status",
       [&](std::int32_t *) {
         KMT_SendComm(&handle, 0x10, 1, 0, 0, buffer.data(), &length, nullptr);
       },
       77},
      {"SendComm, null buffer",
       [&](std::int32_t *s) { KMT_SendComm(&handle, 0x10, 1, 0, 0, nullptr, &length, s); }, 4},
      {"SendComm, null handle",
       [&](std::int32_t *s) { KMT_SendComm(nullptr, 0x10, 1, 0, 0, buffer.data(), &length, s); },
       4},
      {"CreateListDevs, null count",
       [&](std::int32_t *s) { KMT_CreateListDevs(TextIn("KMTCV1"), nullptr, s); }, 4},
      {"GetTypeAndSNbyIndex, null type",
       [&](std::int32_t *s) { KMT_GetTypeAndSNbyIndex(0, nullptr, text, s); }, 4},
      {"InitBySN, null handle",
       [&](std::int32_t *s) { KMT_InitBySN(nullptr, TextIn("KMTC0002TEST01"), s); }, 4},
      {"Close, null handle", [&](std::int32_t *) { KMT_Close(nullptr, 0); }, 77},
      {"GetDriverVersion, null",
       [&](std::int32_t *) { KMT_GetDriverVersion(nullptr, &count, &count); }, 77},
      {"GetDriverType, null", [&](std::int32_t *) { SYS_GetDriverType(nullptr); }, 77},
      {"DIO_ReadPort, null value", [&](std::int32_t *s) { DIO_ReadPort(&handle, 0, nullptr, s); },
       4},
      {"hc165_Read, null count", [&](std::int32_t *s) { hc165_Read(&handle, nullptr, bytes, s); },
       4},
      {"AI_Read, null sample array",
       [&](std::int32_t *s) {
         std::uint8_t trailer = 0;
         std::uint32_t value = 0;
         double duration = 0;
         AI_Read(&handle, 1, 0, 0, 0, 0, 0, 0, 10, 0, 5, 0.0, &trailer, &value, nullptr, nullptr,
                 nullptr, nullptr, &count, &duration, s);
       },
       4},
      {"DO_WaveOut, null data", [&](std::int32_t *s) { DO_WaveOut(&handle, 5, 7, nullptr, s); }, 4},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    driver.calls.clear();
    status = 77;
    row.call(&status);
    EXPECT_EQ(status, row.status);
    EXPECT_TRUE(driver.calls.empty()) << "no effect";
  }
}

TEST_F(Abi, NullDataIsRefusedOnlyWhereTheCountWouldUseIt) {
  std::uint32_t handle = 0;
  std::int32_t status = -1;
  KMT_InitBySN(&handle, TextIn("KMTC0002TEST01"), &status);
  ASSERT_EQ(status, 0);
  struct Row {
    const char *name;
    void (*call)(std::uint32_t *, std::uint8_t, std::int32_t *);
  } rows[] = {
      {"UART_Write",
       [](std::uint32_t *h, std::uint8_t n, std::int32_t *s) { UART_Write(h, n, nullptr, s); }},
      {"WR1_WriteSome",
       [](std::uint32_t *h, std::uint8_t n, std::int32_t *s) { WR1_WriteSome(h, n, nullptr, s); }},
      {"WR1_ReadSome",
       [](std::uint32_t *h, std::uint8_t n, std::int32_t *s) { WR1_ReadSome(h, n, nullptr, s); }},
      {"hc595_Write",
       [](std::uint32_t *h, std::uint8_t n, std::int32_t *s) { hc595_Write(h, n, nullptr, s); }},
      {"hc165_Read",
       [](std::uint32_t *h, std::uint8_t n, std::int32_t *s) {
         std::uint8_t count = n;
         hc165_Read(h, &count, nullptr, s);
       }},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    driver.writes.clear();
    status = 77;
    row.call(&handle, 5, &status);
    EXPECT_EQ(status, 4) << "a count of 5 needs the data";
    EXPECT_TRUE(driver.writes.empty());
    driver.reads.push_back(response_frame({}));
    row.call(&handle, 0, &status);
    EXPECT_EQ(status, 0) << "a count of 0 needs no data, and the request still goes";
    EXPECT_EQ(driver.writes.size(), 1u);
  }
}

TEST_F(Abi, RawExchangeThroughTheExport) {
  std::uint32_t handle = 0;
  std::int32_t status = -1;
  KMT_InitBySN(&handle, TextIn("KMTC0002TEST01"), &status);
  ASSERT_EQ(status, 0);
  driver.writes.clear();
  driver.reads.push_back(response_frame({1, 0, 2, 0, 3, 0, 4, 0}));
  std::vector<std::uint8_t> buffer(KMT_PAYLOAD_SIZE, 0);
  std::uint16_t length = 0;
  KMT_SendComm(&handle, 0x0010, 1, 0, 0, buffer.data(), &length, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(length, 8);
  EXPECT_THAT(driver.writes.at(0), ::testing::ElementsAreArray(request_frame(1, 0, {})));
  EXPECT_THAT(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 8),
              ::testing::ElementsAre(1, 0, 2, 0, 3, 0, 4, 0));
  KMT_Close(&handle, 12345);
  KMT_SendComm(&handle, 0x0010, 1, 0, 0, buffer.data(), &length, &status);
  EXPECT_EQ(status, 1);
}

TEST_F(Abi, VersionAndDriverTypeNeedNoDevice) {
  std::int32_t major = 0, minor = 9, build = 0;
  KMT_GetDriverVersion(&major, &minor, &build);
  EXPECT_EQ(major, 1);
  EXPECT_EQ(minor, 0);
  EXPECT_EQ(build, 43);
  std::uint16_t type = 0;
  SYS_GetDriverType(&type);
  EXPECT_EQ(type, 1);
  EXPECT_TRUE(driver.calls.empty());
}

// A driver that runs out of memory at every call once armed: the exception must end
// at the boundary, and a call's status must not keep an earlier success.
class ThrowingDriver final : public Driver {
 public:
  explicit ThrowingDriver(const bool &armed) : armed_(armed) {}
  d2xx::FT_STATUS ListDevices(d2xx::PVOID arg1, d2xx::PVOID arg2, d2xx::DWORD flags) override {
    check();
    if (flags == d2xx::FT_LIST_NUMBER_ONLY) {
      *static_cast<d2xx::DWORD *>(arg1) = 1;
    } else {
      std::strcpy(static_cast<char *>(arg2), "KMTC0002OOM1");
    }
    return d2xx::FT_OK;
  }
  d2xx::FT_STATUS OpenEx(d2xx::PVOID, d2xx::DWORD, d2xx::FT_HANDLE *handle) override {
    check();
    *handle = reinterpret_cast<d2xx::FT_HANDLE>(1);
    return d2xx::FT_OK;
  }
  d2xx::FT_STATUS Close(d2xx::FT_HANDLE) override { return check(); }
  d2xx::FT_STATUS ResetDevice(d2xx::FT_HANDLE) override { return check(); }
  d2xx::FT_STATUS Purge(d2xx::FT_HANDLE, d2xx::ULONG) override { return check(); }
  d2xx::FT_STATUS SetBaudRate(d2xx::FT_HANDLE, d2xx::ULONG) override { return check(); }
  d2xx::FT_STATUS SetDataCharacteristics(d2xx::FT_HANDLE, d2xx::UCHAR, d2xx::UCHAR,
                                         d2xx::UCHAR) override {
    return check();
  }
  d2xx::FT_STATUS SetFlowControl(d2xx::FT_HANDLE, d2xx::USHORT, d2xx::UCHAR, d2xx::UCHAR) override {
    return check();
  }
  d2xx::FT_STATUS SetTimeouts(d2xx::FT_HANDLE, d2xx::ULONG, d2xx::ULONG) override {
    return check();
  }
  d2xx::FT_STATUS Write(d2xx::FT_HANDLE, d2xx::LPVOID, d2xx::DWORD, d2xx::LPDWORD) override {
    return check();
  }
  d2xx::FT_STATUS Read(d2xx::FT_HANDLE, d2xx::LPVOID, d2xx::DWORD, d2xx::LPDWORD) override {
    return check();
  }

 private:
  d2xx::FT_STATUS check() {
    if (armed_) throw std::bad_alloc();
    return d2xx::FT_OK;
  }
  const bool &armed_;
};

TEST(AbiBoundary, AnExceptionInsideEndsTheCallWithAFailureStatus) {
  static bool armed;  // outlives the instance, whichever test replaces it next
  armed = false;
  abi::replace_instance(std::make_unique<Library>(std::make_unique<ThrowingDriver>(armed)));
  std::uint32_t handle = 0;
  std::int32_t status = -1, count = -1;
  KMT_CreateListDevs(TextIn("KMTCV1"), &count, &status);
  ASSERT_EQ(status, 0);
  KMT_InitBySN(&handle, TextIn("KMTC0002OOM1"), &status);
  ASSERT_EQ(status, 0);
  armed = true;

  std::uint8_t byte = 0;
  std::uint16_t length = 0;
  double volts = 0;
  std::vector<std::uint8_t> buffer(KMT_PAYLOAD_SIZE, 0);
  const std::pair<const char *, std::function<void(std::int32_t *)>> calls[] = {
      {"KMT_CreateListDevs",
       [&](std::int32_t *s) { KMT_CreateListDevs(TextIn("KMTCV1"), &count, s); }},
      {"KMT_InitBySN", [&](std::int32_t *s) { KMT_InitBySN(&handle, TextIn("KMTC0002OOM1"), s); }},
      {"KMT_SendComm",
       [&](std::int32_t *s) { KMT_SendComm(&handle, 0x0010, 1, 0, 0, buffer.data(), &length, s); }},
      {"DIO_WriteBit", [&](std::int32_t *s) { DIO_WriteBit(&handle, 0, 1, s); }},
      {"DIO_ReadPort", [&](std::int32_t *s) { DIO_ReadPort(&handle, 0, &byte, s); }},
      {"AI_ReadCh4", [&](std::int32_t *s) { AI_ReadCh4(&handle, 0, &volts, s); }},
      {"AO_SimpleWrite", [&](std::int32_t *s) { AO_SimpleWrite(&handle, 0, 1.0, s); }},
  };
  for (const auto &[name, call] : calls) {
    std::int32_t stale = 0;  // an earlier call's success
    call(&stale);
    EXPECT_EQ(stale, 2) << name;
  }
  // A call without a status pointer ends quietly.
  KMT_Close(&handle, 0);
  abi::replace_instance(nullptr);
}

}  // namespace
}  // namespace kmt::testing
