// The family registry and the helpers every command file shares.
#include "tools/cli/commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

namespace kmt::cli {
namespace {
std::vector<CommandFamily> &registry() {
  static std::vector<CommandFamily> families;
  return families;
}
}  // namespace

RegisterFamily::RegisterFamily(int order, AddCommands add) {
  registry().push_back({order, add});
}

std::vector<CommandFamily> command_families() {
  auto families = registry();
  std::stable_sort(
      families.begin(), families.end(),
      [](const CommandFamily &a, const CommandFamily &b) { return a.order < b.order; });
  return families;
}

std::vector<std::uint8_t> hex_argument(const std::string &text) {
  std::string error;
  auto bytes = parse_hex_bytes(text, &error);
  if (!bytes) throw Failure(error, kExitUsage);
  return *bytes;
}

std::vector<std::uint8_t> hex_arguments(const std::vector<std::string> &parts) {
  std::vector<std::uint8_t> data;
  for (const auto &part : parts) {
    auto more = hex_argument(part);
    data.insert(data.end(), more.begin(), more.end());
  }
  return data;
}

std::string read_text_file(const std::string &path, std::size_t max_bytes) {
  auto fail = [&path](const std::string &why) { return Failure(path + ": " + why, kExitFailure); };
  std::error_code error;
  auto status = std::filesystem::status(path, error);
  if (error) throw fail("cannot read it: " + error.message());
  if (std::filesystem::is_directory(status)) throw fail("is a directory, not a file");
  // Devices, FIFOs and sockets can block or never end.
  if (!std::filesystem::is_regular_file(status)) throw fail("is not a regular file");
  std::ifstream file(path, std::ios::binary);
  if (!file) throw fail("cannot read it");
  // One byte more than allowed tells a file that is too long from one that fits exactly.
  std::string text(max_bytes + 1, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (file.bad()) throw fail("cannot read it");
  text.resize(static_cast<std::size_t>(file.gcount()));
  if (text.size() > max_bytes) {
    throw fail("holds more than " + std::to_string(max_bytes) +
               " bytes, the most this command can use");
  }
  return text;
}

std::vector<std::uint8_t> read_file_bytes(const std::string &path, std::size_t max_bytes) {
  std::string text = read_text_file(path, max_bytes);
  return {text.begin(), text.end()};
}

void write_file_bytes(const std::string &path, const std::vector<std::uint8_t> &bytes) {
  if (path == "-") {
    std::cout.write(reinterpret_cast<const char *>(bytes.data()),
                    static_cast<std::streamsize>(bytes.size()));
    std::cout.flush();
    return;
  }
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char *>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file.flush()) throw Failure("cannot write " + path, kExitFailure);
}

void write_text_file(const std::string &path, const std::string &text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
  if (!file.flush()) throw Failure("cannot write " + path, kExitFailure);
}

}  // namespace kmt::cli

namespace kmt::cli {

void watch_loop(Context &ctx, int interval_ms, long long count,
                const std::function<void(double seconds)> &read_once) {
  using namespace std::chrono;
  if (count == 0 && ctx.in_session()) {
    throw Failure(
        "a watch without --count runs until Ctrl-C: give -n N in shell and run, or run it "
        "on its own",
        kExitUsage);
  }
  ctx.handle();  // opening takes a moment; the schedule starts once the controller is open
  ctx.watch_interrupts();
  ctx.out.printed_own_output();
  const auto start = steady_clock::now();
  for (long long n = 0; count == 0 || n < count; ++n) {
    // Readings keep to the schedule start + n * interval, whatever each one took.
    auto due = start + milliseconds(static_cast<long long>(interval_ms) * n);
    while (steady_clock::now() < due && !ctx.interrupted()) {
      std::this_thread::sleep_for(
          std::min<steady_clock::duration>(due - steady_clock::now(), milliseconds(50)));
    }
    if (ctx.interrupted()) break;
    read_once(duration<double>(steady_clock::now() - start).count());
  }
}

void add_watch_options(CLI::App *sub, const std::shared_ptr<int> &interval_ms,
                       const std::shared_ptr<long long> &count) {
  sub->add_option("-i,--interval", *interval_ms, "Milliseconds between readings")
      ->check(in(kWatchInterval))
      ->capture_default_str();
  sub->add_option("-n,--count", *count, "Number of readings (0: until Ctrl-C)")
      ->check(in(kWatchCount))
      ->capture_default_str();
}

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace kmt::cli
