// The fault option: items joined by '+', each KIND[:ARG[:ARG]] followed by optional
// markers #GROUP[.COMMAND], *TIMES and @SKIP.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "sim/sim_driver.h"

namespace kmt::sim {
namespace {

// Decimal digits only; false when empty, not a number or above max.
bool parse_unsigned(const std::string &text, std::uint64_t max, std::uint64_t *value) {
  if (text.empty() || text.size() > 20) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (v > (max - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *value = v;
  return true;
}

std::vector<std::string> split(const std::string &text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

bool parse_call(const std::string &name, Call *call) {
  static const struct {
    const char *name;
    Call call;
  } kCalls[] = {{"list", Call::kList},
                {"open", Call::kOpen},
                {"close", Call::kClose},
                {"reset", Call::kReset},
                {"purge", Call::kPurge},
                {"baud", Call::kBaudRate},
                {"data", Call::kDataCharacteristics},
                {"flow", Call::kFlowControl},
                {"timeouts", Call::kTimeouts},
                {"write", Call::kWrite},
                {"read", Call::kRead}};
  for (const auto &entry : kCalls) {
    if (name == entry.name) {
      *call = entry.call;
      return true;
    }
  }
  return false;
}

// The kind and its arguments: the part of an item before the first marker.
bool parse_body(const std::string &body, Fault *fault) {
  std::vector<std::string> args = split(body, ':');
  const std::string &kind = args[0];
  std::uint64_t a = 0, b = 0;
  auto count_is = [&args](std::size_t n) { return args.size() == n + 1; };
  if (kind == "silent" && count_is(0)) {
    fault->kind = FaultKind::kSilent;
  } else if (kind == "checksum" && count_is(0)) {
    fault->kind = FaultKind::kBadChecksum;
  } else if (kind == "split" && count_is(2) && parse_unsigned(args[1], 0xFFFF, &a) && a > 0 &&
             parse_unsigned(args[2], 3600000000u, &b)) {
    fault->kind = FaultKind::kSplit;
    fault->amount = static_cast<std::uint32_t>(a);
    fault->interval_us = b;
  } else if (kind == "result" && count_is(1) && parse_unsigned(args[1], 255, &a) && a > 0) {
    fault->kind = FaultKind::kResult;
    fault->amount = static_cast<std::uint32_t>(a);
  } else if (kind == "truncate" && count_is(1) && parse_unsigned(args[1], 0xFFFF, &a) && a > 0) {
    fault->kind = FaultKind::kTruncate;
    fault->amount = static_cast<std::uint32_t>(a);
  } else if (kind == "overlong" && count_is(1) && parse_unsigned(args[1], 0xFFFF, &a) && a > 0) {
    fault->kind = FaultKind::kOverlong;
    fault->amount = static_cast<std::uint32_t>(a);
  } else if (kind == "delay" && count_is(1) && parse_unsigned(args[1], 3600000000u, &a)) {
    fault->kind = FaultKind::kDelay;
    fault->amount = static_cast<std::uint32_t>(a);
  } else if (kind == "fail" && count_is(2) && parse_call(args[1], &fault->call) &&
             parse_unsigned(args[2], std::numeric_limits<std::uint32_t>::max(), &a) && a > 0) {
    fault->kind = FaultKind::kFailCall;
    fault->amount = static_cast<std::uint32_t>(a);
  } else {
    return false;
  }
  return true;
}

bool parse_item(const std::string &item, Fault *fault) {
  std::size_t marker = item.find_first_of("#*@");
  if (!parse_body(item.substr(0, marker), fault)) return false;
  bool seen_group = false, seen_times = false, seen_skip = false;
  while (marker != std::string::npos) {
    char kind = item[marker];
    std::size_t next = item.find_first_of("#*@", marker + 1);
    std::string value =
        item.substr(marker + 1, next == std::string::npos ? next : next - marker - 1);
    std::uint64_t v = 0;
    if (kind == '#' && !seen_group) {
      seen_group = true;
      std::vector<std::string> parts = split(value, '.');
      if (parts.size() > 2 || !parse_unsigned(parts[0], 255, &v)) return false;
      fault->group = static_cast<int>(v);
      if (parts.size() == 2) {
        if (!parse_unsigned(parts[1], 255, &v)) return false;
        fault->command = static_cast<int>(v);
      }
    } else if (kind == '*' && !seen_times) {
      seen_times = true;
      if (!parse_unsigned(value, std::numeric_limits<unsigned>::max(), &v)) return false;
      fault->times = static_cast<unsigned>(v);
    } else if (kind == '@' && !seen_skip) {
      seen_skip = true;
      if (!parse_unsigned(value, std::numeric_limits<unsigned>::max(), &v)) return false;
      fault->skip = static_cast<unsigned>(v);
    } else {
      return false;
    }
    marker = next;
  }
  return true;
}

}  // namespace

bool parse_faults(const std::string &text, std::vector<Fault> *faults, std::string *error) {
  std::vector<Fault> parsed;
  for (const std::string &item : split(text, '+')) {
    Fault fault;
    if (!parse_item(item, &fault)) {
      if (error != nullptr) *error = "fault \"" + item + "\" cannot be understood";
      return false;
    }
    parsed.push_back(fault);
  }
  *faults = std::move(parsed);
  return true;
}

}  // namespace kmt::sim
