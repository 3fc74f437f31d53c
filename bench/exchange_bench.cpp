// How much time the library itself adds to a call, beside the copies its interface
// forces: every exchange hands the whole 16385-byte payload buffer back, and a block
// acquisition also spreads its block over the caller's arrays. A driver that answers at
// once from a prepared frame, and a platform whose sleeps return at once, leave only
// the library's own work to measure. The calls go through the exported functions.
//
// Prints one table: per call the library's CPU time, the time of the forced copies
// measured in the same run, and their ratio. Google Benchmark's own flags apply
// (--benchmark_filter, --benchmark_repetitions, --benchmark_min_time ...).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kmtv1.h"
#include "library/abi.h"

namespace {

using namespace kmt;
using namespace kmt::d2xx;

constexpr std::size_t kPayloadSize = 16385;
constexpr std::size_t kLargestBlock = 16013;  // four inputs x 2001 groups + trailer
constexpr char kSerial[] = "KMTC0002BENCH";

// Answers every request with the same prepared response frame. The frame's payload
// starts on a cache line, so that the driver's own copy of it into the library's
// buffer costs what a plain memcpy costs and the table shows the library's work.
class InstantDriver final : public Driver {
  static constexpr std::size_t kHeaderRoom = 64;
  struct alignas(64) Line {
    std::uint8_t bytes[64];
  };

 public:
  explicit InstantDriver(std::size_t payload_size)
      : storage_((kHeaderRoom + payload_size + sizeof(Line)) / sizeof(Line)),
        response_(storage_.data()->bytes + kHeaderRoom - 3),
        size_(payload_size + 4) {
    response_[0] = 0;
    response_[1] = static_cast<std::uint8_t>(payload_size);
    response_[2] = static_cast<std::uint8_t>(payload_size >> 8);
    unsigned sum = response_[1] + response_[2];
    for (std::size_t i = 3; i + 1 < size_; ++i) {
      response_[i] = static_cast<std::uint8_t>(i * 7);
      sum += response_[i];
    }
    response_[size_ - 1] = static_cast<std::uint8_t>(sum);
  }
  FT_STATUS ListDevices(PVOID a, PVOID b, DWORD flags) override {
    if (flags == FT_LIST_NUMBER_ONLY)
      *static_cast<DWORD *>(a) = 1;
    else
      std::strcpy(static_cast<char *>(b), kSerial);
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
    DWORD take = std::min<DWORD>(n, static_cast<DWORD>(size_ - at_));
    std::memcpy(buffer, response_ + at_, take);
    at_ += take;
    *read = take;
    return FT_OK;
  }

 private:
  std::vector<Line> storage_;
  std::uint8_t *response_;
  std::size_t size_;
  std::size_t at_ = 0;
};

class NoSleep final : public Platform {
 public:
  void sleep_ms(std::uint32_t) override {}
  void show_error(std::string_view) override {}
};

// Makes the process-wide instance one around an instant driver answering
// response_size payload bytes, with its device open; returns the handle.
std::uint32_t open_instant(std::size_t response_size) {
  static NoSleep platform;
  abi::replace_instance(
      std::make_unique<Library>(std::make_unique<InstantDriver>(response_size), platform));
  std::uint32_t handle = 0;
  std::int32_t status = -1;
  abi::instance().session.init_by_sn(&handle, kSerial, &status);
  if (status != 0) std::abort();
  return handle;
}

void check(benchmark::State &state, std::int32_t status) {
  if (status != 0) state.SkipWithError("the exchange failed");
}

// The copies the interface forces, between buffers of their own that start on cache
// lines as the library's do (plain heap buffers would add noise from where they land).
struct CopyBuffers {
  alignas(64) std::uint8_t from[kPayloadSize];
  alignas(64) std::uint8_t to[kPayloadSize];
  alignas(64) std::uint8_t block[kLargestBlock];
};

void CopyPayloadBuffer(benchmark::State &state) {
  auto b = std::make_unique<CopyBuffers>();
  for (auto _ : state) {
    benchmark::DoNotOptimize(b->from);
    std::memcpy(b->to, b->from, kPayloadSize);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(CopyPayloadBuffer);

void CopyPayloadBufferAndBlock(benchmark::State &state) {
  auto b = std::make_unique<CopyBuffers>();
  for (auto _ : state) {
    benchmark::DoNotOptimize(b->from);
    std::memcpy(b->to, b->from, kPayloadSize);
    std::memcpy(b->block, b->to, kLargestBlock);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(CopyPayloadBufferAndBlock);

void SendCommEmpty(benchmark::State &state) {
  std::uint32_t handle = open_instant(0);
  std::vector<std::uint8_t> buffer(kPayloadSize);
  std::int32_t status = 0;
  for (auto _ : state) {
    std::uint16_t length = 0;
    KMT_SendComm(&handle, 0x0010, 1, 0, 0, buffer.data(), &length, &status);
    benchmark::DoNotOptimize(status);
  }
  check(state, status);
}
BENCHMARK(SendCommEmpty);

void WriteBit(benchmark::State &state) {
  std::uint32_t handle = open_instant(0);
  std::int32_t status = 0;
  for (auto _ : state) {
    DIO_WriteBit(&handle, 3, 1, &status);
    benchmark::DoNotOptimize(status);
  }
  check(state, status);
}
BENCHMARK(WriteBit);

void SimpleRead(benchmark::State &state) {
  std::uint32_t handle = open_instant(8);
  std::int32_t status = 0;
  double volts[4] = {};
  for (auto _ : state) {
    AI_SimpleRead(&handle, &volts[0], &volts[1], &volts[2], &volts[3], &status);
    benchmark::DoNotOptimize(volts);
  }
  check(state, status);
}
BENCHMARK(SimpleRead);

void ScanPort(benchmark::State &state) {
  std::uint32_t handle = open_instant(4002);  // 4001 port bytes and the last byte
  std::vector<std::uint8_t> samples(4001);
  std::int32_t status = 0;
  for (auto _ : state) {
    std::uint8_t trailer = 0;
    double period = 0;
    DIO_ScanPort(&handle, 0, 0, 0, 10, 0, 4000, &trailer, samples.data(), &period, &status);
    benchmark::DoNotOptimize(samples.data());
    benchmark::ClobberMemory();
  }
  check(state, status);
}
BENCHMARK(ScanPort);

void BlockRead(benchmark::State &state) {
  std::uint32_t handle = open_instant(kLargestBlock);
  std::vector<std::uint16_t> s1(2001), s2(2001), s3(2001), s4(2001);
  std::int32_t status = 0;
  for (auto _ : state) {
    std::uint8_t trailer = 0;
    std::uint32_t value = 0;
    std::int32_t channels = 0;
    double duration = 0;
    AI_Read(&handle, 1, 1, 1, 1, 0, 0, 0, 10, 0, 2000, 2.5, &trailer, &value, s1.data(), s2.data(),
            s3.data(), s4.data(), &channels, &duration, &status);
    benchmark::DoNotOptimize(s4.data());
    benchmark::ClobberMemory();
  }
  check(state, status);
}
BENCHMARK(BlockRead);

// Keeps the CPU time of each benchmark (the median when repeated) and prints nothing.
class Collector final : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context &) override { return true; }
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      const std::string &name = run.run_name.function_name;
      if (run.error_occurred) {
        failed[name] = run.error_message;
      } else if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") median[name] = run.GetAdjustedCPUTime();
      } else {
        single[name].push_back(run.GetAdjustedCPUTime());
      }
    }
  }
  // Nanoseconds per call, or a negative value when the benchmark did not run.
  double ns(const std::string &name) const {
    if (auto it = median.find(name); it != median.end()) return it->second;
    auto it = single.find(name);
    if (it == single.end() || it->second.empty()) return -1;
    std::vector<double> times = it->second;
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  }
  std::map<std::string, std::string> failed;

 private:
  std::map<std::string, double> median;
  std::map<std::string, std::vector<double>> single;
};

struct Row {
  const char *call;
  const char *benchmark;
  const char *forced;   // the benchmark of the copies this call is forced to make
  const char *measure;  // what those copies are, in words
};

constexpr Row kRows[] = {
    {"KMT_SendComm, empty", "SendCommEmpty", "CopyPayloadBuffer", "payload buffer"},
    {"DIO_WriteBit", "WriteBit", "CopyPayloadBuffer", "payload buffer"},
    {"AI_SimpleRead", "SimpleRead", "CopyPayloadBuffer", "payload buffer"},
    {"DIO_ScanPort, 4001 samples", "ScanPort", "CopyPayloadBuffer", "payload buffer"},
    {"AI_Read, 4 x 2001", "BlockRead", "CopyPayloadBufferAndBlock", "payload buffer + block"},
};

// Prints the table, for reading: no row passes or fails.
void print_table(const Collector &collected) {
  std::printf("%-28s %12s %14s %7s  %s\n", "call (CPU time per call)", "library", "forced copies",
              "ratio", "measured against");
  for (const Row &row : kRows) {
    const double library = collected.ns(row.benchmark);
    const double forced = collected.ns(row.forced);
    if (library < 0 || forced < 0) {
      auto why = collected.failed.find(row.benchmark);
      std::printf("%-28s %s\n", row.call,
                  why != collected.failed.end() ? why->second.c_str() : "not run");
      continue;
    }
    std::printf("%-28s %9.0f ns %11.0f ns %6.2fx  %s\n", row.call, library, forced,
                library / forced, row.measure);
  }
  std::printf(
      "forced copies: one memcpy of the %zu-byte payload buffer; for AI_Read also one"
      " of its %zu block bytes\n",
      kPayloadSize, kLargestBlock);
}

}  // namespace

int main(int argc, char **argv) {
  // Defaults first, so that the caller's own flags override them: repeated and
  // interleaved runs keep a busy machine's noise out of the medians.
  std::vector<char *> args{argv[0]};
  std::string repetitions = "--benchmark_repetitions=7";
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  std::string min_time = "--benchmark_min_time=0.05";
  args.push_back(repetitions.data());
  args.push_back(interleave.data());
  args.push_back(min_time.data());
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();
  print_table(collector);
  return 0;
}
