// The library over a serial path, as a host program calls it: small exchanges per second
// (DIO_ReadPort) and the time of a 4001-sample logic scan (DIO_ScanPort), against the
// first controller that KMT_DRIVER reaches. bench/serial.sh runs it behind the
// pseudo-terminal simulator, beside the same exchanges done by a plain pyserial script.
//
// Usage: kmtv1_serial_bench [SMALL_EXCHANGES [SCANS]]  (defaults 2000 and 10)
// Prints "small_per_s VALUE" and "scan_ms MEDIAN", then "small_median_us", "small_p99_us"
// (one exchange's round trip) and "block_ms MEDIAN" (a 4 x 2001 block acquisition,
// repeated SCANS times), or the exchange status on failure.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kmtv1.h"

int main(int argc, char **argv) {
  const int small = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int scans = argc > 2 ? std::atoi(argv[2]) : 10;
  using Clock = std::chrono::steady_clock;

  int32_t count = 0, status = -1;
  KMT_CreateListDevs("KMTCV1", &count, &status);
  if (status != 0 || count < 1) {
    std::fprintf(stderr, "no controller found (status %d)\n", status);
    return 1;
  }
  char type[KMT_STRING_SIZE], serial[KMT_STRING_SIZE];
  KMT_GetTypeAndSNbyIndex(0, type, serial, &status);
  uint32_t handle = 0;
  KMT_InitBySN(&handle, (std::string(type) + serial).c_str(), &status);
  if (status != 0) {
    std::fprintf(stderr, "cannot open %s%s (status %d)\n", type, serial, status);
    return 1;
  }

  uint8_t value = 0;
  std::vector<double> round_trips;
  const auto start = Clock::now();
  for (int i = 0; i < small && status == 0; ++i) {
    const auto t = Clock::now();
    DIO_ReadPort(&handle, 0, &value, &status);
    round_trips.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t).count());
  }
  const std::chrono::duration<double> took = Clock::now() - start;
  if (status != 0) {
    std::fprintf(stderr, "DIO_ReadPort failed (status %d)\n", status);
    return 1;
  }
  std::printf("small_per_s %.1f\n", small / took.count());

  std::vector<double> times;
  std::vector<uint8_t> samples(4001);
  for (int i = 0; i < scans; ++i) {
    uint8_t trailer = 0;
    double period = 0;
    const auto t = Clock::now();
    DIO_ScanPort(&handle, 0, 0, 0, 10, 0, 4000, &trailer, samples.data(), &period, &status);
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
    if (status != 0) {
      std::fprintf(stderr, "DIO_ScanPort failed (status %d)\n", status);
      return 1;
    }
  }
  std::sort(times.begin(), times.end());
  std::printf("scan_ms %.2f\n", times[times.size() / 2]);
  std::sort(round_trips.begin(), round_trips.end());
  std::printf("small_median_us %.1f\n", round_trips[round_trips.size() / 2]);
  std::printf("small_p99_us %.1f\n", round_trips[round_trips.size() * 99 / 100]);

  std::vector<uint16_t> block(4 * 2001);
  std::vector<double> block_times;
  for (int i = 0; i < scans; ++i) {
    uint8_t trailer = 0;
    uint32_t trailer_value = 0;
    int32_t channels = 0;
    double duration = 0;
    uint16_t *b = block.data();
    const auto t = Clock::now();
    AI_Read(&handle, 1, 1, 1, 1, 0, 0, 100, 10, 0, 2000, 2.5, &trailer, &trailer_value, b, b + 2001,
            b + 4002, b + 6003, &channels, &duration, &status);
    block_times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
    if (status != 0) {
      std::fprintf(stderr, "AI_Read failed (status %d)\n", status);
      return 1;
    }
  }
  std::sort(block_times.begin(), block_times.end());
  std::printf("block_ms %.2f\n", block_times[block_times.size() / 2]);
  KMT_Close(&handle, 0);
  return 0;
}
