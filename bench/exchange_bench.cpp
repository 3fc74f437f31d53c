// How much time the library itself adds to an exchange: a driver that answers at
// once from memory leaves only the library's own work (framing, checksums, and the
// whole-buffer copies in and out) to measure.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "device/functions.h"
#include "sim/sim.h"

namespace {

using namespace kmt;
using namespace kmt::d2xx;

// Answers every request with the same prepared response frame.
class InstantDriver final : public Driver {
 public:
  explicit InstantDriver(std::size_t payload_size) : response_(payload_size + 4, 0x5A) {
    response_[0] = 0;
    response_[1] = static_cast<std::uint8_t>(payload_size);
    response_[2] = static_cast<std::uint8_t>(payload_size >> 8);
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < response_.size(); ++i) sum += response_[i];
    response_.back() = static_cast<std::uint8_t>(sum);
  }
  FT_STATUS ListDevices(PVOID a, PVOID b, DWORD flags) override {
    if (flags == FT_LIST_NUMBER_ONLY)
      *static_cast<DWORD *>(a) = 1;
    else
      std::strcpy(static_cast<char *>(b), "KMTC0002BENCH");
    return FT_OK;
  }
  FT_STATUS OpenEx(PVOID, DWORD, FT_HANDLE *h) override {
    *h = this;
    return FT_OK;
  }
  FT_STATUS Close(FT_HANDLE) override { return FT_OK; }
  FT_STATUS ResetDevice(FT_HANDLE) override { return FT_OK; }
  FT_STATUS Purge(FT_HANDLE, ULONG) override { return FT_OK; }
  FT_STATUS SetBaudRate(FT_HANDLE, ULONG) override { return FT_OK; }
  FT_STATUS SetDataCharacteristics(FT_HANDLE, UCHAR, UCHAR, UCHAR) override { return FT_OK; }
  FT_STATUS SetFlowControl(FT_HANDLE, USHORT, UCHAR, UCHAR) override { return FT_OK; }
  FT_STATUS SetTimeouts(FT_HANDLE, ULONG, ULONG) override { return FT_OK; }
  FT_STATUS Write(FT_HANDLE, LPVOID, DWORD n, LPDWORD written) override {
    *written = n;
    at_ = 0;
    return FT_OK;
  }
  FT_STATUS Read(FT_HANDLE, LPVOID buffer, DWORD n, LPDWORD read) override {
    DWORD take = std::min<DWORD>(n, static_cast<DWORD>(response_.size() - at_));
    std::memcpy(buffer, response_.data() + at_, take);
    at_ += take;
    *read = take;
    return FT_OK;
  }

 private:
  std::vector<std::uint8_t> response_;
  std::size_t at_ = 0;
};

class NoSleep final : public Platform {
 public:
  void sleep_ms(std::uint32_t) override {}
  void show_error(std::string_view) override {}
};

struct Opened {
  explicit Opened(std::unique_ptr<Driver> driver, const char *serial = "KMTC0002BENCH")
      : lib(std::move(driver), platform) {
    std::int32_t status = 0;
    lib.session.init_by_sn(&handle, serial, &status);
    if (status != 0) std::abort();
  }
  NoSleep platform;
  Library lib;
  std::uint32_t handle = 0;
};

void RawExchange(benchmark::State &state) {
  const auto response_size = static_cast<std::size_t>(state.range(0));
  Opened o(std::make_unique<InstantDriver>(response_size));
  std::vector<std::uint8_t> buffer(Session::kPayloadSize);
  for (auto _ : state) {
    std::uint16_t length = 16;
    std::int32_t status = 0;
    o.lib.session.send_comm(&o.handle, 0x0010, 20, 0, 0, buffer.data(), &length, &status);
    benchmark::DoNotOptimize(status);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * response_size));
}
BENCHMARK(RawExchange)->Arg(0)->Arg(8)->Arg(4007)->Arg(16013);

void BlockAcquisitionDecode(benchmark::State &state) {
  // The largest block: four inputs, 2001 sampling instants, and the 5-byte trailer.
  Opened o(std::make_unique<InstantDriver>(16013));
  std::vector<std::uint16_t> s1(2001), s2(2001), s3(2001), s4(2001);
  for (auto _ : state) {
    std::uint8_t trailer = 0;
    std::uint32_t value = 0;
    std::int32_t channels = 0, status = 0;
    double duration = 0;
    device::AI_Read(o.lib, &o.handle, 1, 1, 1, 1, 0, 0, 0, 10, 0, 2000, 2.5, &trailer, &value,
                    s1.data(), s2.data(), s3.data(), s4.data(), &channels, &duration, &status);
    benchmark::DoNotOptimize(s4[2000]);
  }
}
BENCHMARK(BlockAcquisitionDecode);

void SimulatedControllerRoundTrip(benchmark::State &state) {
  std::string error;
  auto driver = sim::make_driver("clock=virtual", &error);
  if (!driver) {
    state.SkipWithError(error.c_str());
    return;
  }
  Opened o(std::move(driver), "KMTC0002SIM00001");
  for (auto _ : state) {
    std::uint16_t words[4] = {};
    std::int32_t status = 0;
    device::SYS_GetFirmWare(o.lib, &o.handle, &words[0], &words[1], &words[2], &words[3], &status);
    benchmark::DoNotOptimize(words[0]);
  }
}
BENCHMARK(SimulatedControllerRoundTrip);

}  // namespace

BENCHMARK_MAIN();
