#include "controller.h"

#include <cmath>
#include <cstdio>
#include <thread>

#include "kmtv1.h"
#include "tools/common/words.h"

namespace panel {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long a request waits for the library before it answers "busy": short for the live
// readings (the page asks again a moment later), longer for what the user asked for.
constexpr milliseconds kLiveWait{300}, kActionWait{2000};
// Longer than the longest acquisition (about 7 s): a call taking more has met a
// controller that does not answer (the library then waits about 30 s per exchange).
constexpr double kLongestAction = 10.0;
// A lost controller is looked for again at most this often.
constexpr milliseconds kReopenInterval{1000};

Outcome failed(const std::string &what, int32_t status) {
  return {502, what + " failed: " + kmt::tools::status_words(status)};
}

}  // namespace

// Holds the library for one request and records what it is doing, so that requests that
// cannot get in can say why.
class Controller::Turn {
 public:
  Turn(Controller &c, const char *what, milliseconds wait) : c_(c), held_(take(c, wait)) {
    if (!held_) return;
    std::lock_guard lock(c_.state_);
    c_.busy_with_ = what;
    c_.busy_since_ = Clock::now();
  }
  ~Turn() {
    if (!held_) return;
    {
      std::lock_guard lock(c_.state_);
      c_.busy_with_.clear();
    }
    c_.library_.unlock();
  }
  Turn(const Turn &) = delete;
  Turn &operator=(const Turn &) = delete;

  // A timed wait for the lock, by polling: ThreadSanitizer (clang 14) does not see the
  // timed lock of std::timed_mutex (pthread_mutex_clocklock) and reports its unlock.
  static bool take(Controller &c, milliseconds wait) {
    const auto deadline = Clock::now() + wait;
    while (!c.library_.try_lock()) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
  }

  // Empty when the library is ours; else why not, and on a lost controller whether
  // looking for it again failed.
  Outcome ready() {
    if (!held_) {
      std::lock_guard lock(c_.state_);
      double seconds = std::chrono::duration<double>(Clock::now() - c_.busy_since_).count();
      char text[200];
      std::snprintf(text, sizeof text, "the controller is busy with the %s (started %.1f s ago)%s",
                    c_.busy_with_.c_str(), seconds,
                    seconds > kLongestAction ? "; it seems to have stopped answering" : "");
      return {503, text};
    }
    if (c_.open_) return {};
    auto now = Clock::now();
    if (now - c_.last_open_attempt_ < kReopenInterval) {
      return {502, "the controller is not open; looking for it again in a moment"};
    }
    return c_.open();
  }
  // Notes a status that says the controller is gone, so the next request opens it again.
  int32_t check(int32_t status) {
    if (status == KMT_STATUS_NOT_OPEN) c_.open_ = false;
    return status;
  }

 private:
  Controller &c_;
  bool held_;
};

Controller::Controller(std::string serial) : serial_(std::move(serial)) {
  for (int &mode : modes_) mode = -1;
}

Controller::~Controller() {
  std::lock_guard lock(library_);
  if (open_) KMT_Close(&handle_, 0);
}

Outcome Controller::open() {
  last_open_attempt_ = Clock::now();
  if (open_) {
    KMT_Close(&handle_, 0);
    open_ = false;
  }
  int32_t count = 0, status = 0;
  KMT_CreateListDevs("KMTCV1", &count, &status);
  std::string wanted = serial_;
  bool found = false;
  for (int32_t i = 0; i < count; ++i) {
    char type[KMT_STRING_SIZE], serial[KMT_STRING_SIZE];
    int32_t ignored = 0;
    KMT_GetTypeAndSNbyIndex(i, type, serial, &ignored);
    std::string full = std::string(type) + serial;
    if (wanted.empty() || full == wanted) {
      std::lock_guard lock(state_);
      type_code_ = type;
      serial_number_ = serial;
      wanted = full;
      found = true;
      break;
    }
  }
  {
    // A controller found again may have restarted: what the panel set is unknown now.
    std::lock_guard lock(state_);
    for (int &mode : modes_) mode = -1;
    for (auto &volts : outputs_) volts.reset();
  }
  if (!found && serial_.empty()) {
    return {502, "no controller found (driver status " + std::to_string(status) + ")"};
  }
  // A serial-number string the listing does not show is still tried as given.
  KMT_InitBySN(&handle_, wanted.c_str(), &status);
  if (status != KMT_STATUS_OK) {
    return {502, found ? "opening controller " + wanted + " failed"
                       : "controller " + wanted + " not found"};
  }
  if (!found) {
    std::lock_guard lock(state_);
    type_code_ = wanted;
    serial_number_.clear();
  }
  open_ = true;
  return {};
}

std::string Controller::listed_name() const {
  std::lock_guard lock(state_);
  return type_code_ + serial_number_;
}

Outcome Controller::firmware(uint16_t words[4]) {
  Turn turn(*this, "firmware query", kActionWait);
  if (auto r = turn.ready(); !r.ok()) return r;
  int32_t status = 0;
  SYS_GetFirmWare(&handle_, &words[0], &words[1], &words[2], &words[3], &status);
  if (turn.check(status) != KMT_STATUS_OK) return failed("firmware query", status);
  return {};
}

Outcome Controller::read_live(Live &live) {
  Turn turn(*this, "reading of the inputs", kLiveWait);
  if (auto r = turn.ready(); !r.ok()) return r;
  int32_t status = 0;
  double *v = live.inputs;
  AI_SimpleRead(&handle_, &v[0], &v[1], &v[2], &v[3], &status);
  if (turn.check(status) != KMT_STATUS_OK) return failed("reading the analog inputs", status);
  for (uint8_t port = 0; port < 2; ++port) {
    DIO_ReadPort(&handle_, port, &live.ports[port], &status);
    if (turn.check(status) != KMT_STATUS_OK) {
      return failed("reading digital port " + std::to_string(port), status);
    }
  }
  return {};
}

Outcome Controller::set_line_mode(int line, int mode) {
  Turn turn(*this, "mode change", kActionWait);
  if (auto r = turn.ready(); !r.ok()) return r;
  int32_t status = 0;
  DIO_SetBitMode(&handle_, static_cast<uint8_t>(line), static_cast<uint8_t>(mode), &status);
  if (turn.check(status) != KMT_STATUS_OK) {
    return failed("setting the mode of line " + std::to_string(line), status);
  }
  std::lock_guard lock(state_);
  modes_[line] = mode;
  return {};
}

Outcome Controller::write_line(int line, int level) {
  Turn turn(*this, "line write", kActionWait);
  if (auto r = turn.ready(); !r.ok()) return r;
  int32_t status = 0;
  DIO_WriteBit(&handle_, static_cast<uint8_t>(line), static_cast<uint8_t>(level), &status);
  if (turn.check(status) != KMT_STATUS_OK) {
    return failed("writing line " + std::to_string(line), status);
  }
  return {};
}

Outcome Controller::write_output(int output, double volts) {
  Turn turn(*this, "analog output write", kActionWait);
  if (auto r = turn.ready(); !r.ok()) return r;
  int32_t status = 0;
  AO_SimpleWrite(&handle_, static_cast<uint8_t>(output), volts, &status);
  if (turn.check(status) != KMT_STATUS_OK) {
    return failed("setting analog output " + std::to_string(output), status);
  }
  std::lock_guard lock(state_);
  outputs_[output] = volts;
  return {};
}

Outcome Controller::acquire(const bool enabled[4], int sample_delay_us, int sample_count,
                            Acquisition &out) {
  Turn turn(*this, "block acquisition", kActionWait);
  if (auto r = turn.ready(); !r.ok()) return r;
  out = {};
  for (int i = 0; i < 4; ++i) {
    if (enabled[i]) out.inputs.push_back(i + 1);
  }
  std::size_t n = static_cast<std::size_t>(sample_count) + 1;
  std::vector<uint16_t> samples[4];
  for (std::size_t k = 0; k < out.inputs.size(); ++k) samples[k].resize(n);
  int32_t channel_count = 0, status = 0;
  AI_Read(&handle_, enabled[0], enabled[1], enabled[2], enabled[3], 0, 0,
          static_cast<uint16_t>(sample_delay_us), 10, 0, static_cast<uint16_t>(sample_count), 0.0,
          &out.trailer_byte, &out.trailer_value, samples[0].data(), samples[1].data(),
          samples[2].data(), samples[3].data(), &channel_count, &out.duration_s, &status);
  if (turn.check(status) != KMT_STATUS_OK) return failed("block acquisition", status);
  // The block's duration is S intervals plus a fixed 4 us; the samples are one interval
  // apart.
  out.interval_s = sample_count > 0 ? (out.duration_s - 4e-6) / sample_count : 0.0;
  for (std::size_t k = 0; k < out.inputs.size(); ++k) {
    std::vector<double> trace(n);
    // The same conversion as the analog inputs': 1023 counts are 5 V.
    for (std::size_t i = 0; i < n; ++i) trace[i] = samples[k][i] / 1023.0 * 5.0;
    out.volts.push_back(std::move(trace));
  }
  return {};
}

Outcome Controller::scan(int sample_delay_us, int sample_count, Scan &out) {
  Turn turn(*this, "logic scan", kActionWait);
  if (auto r = turn.ready(); !r.ok()) return r;
  out = {};
  out.port.resize(static_cast<std::size_t>(sample_count) + 1);
  int32_t status = 0;
  DIO_ScanPort(&handle_, 0, 0, static_cast<uint16_t>(sample_delay_us), 10, 0,
               static_cast<uint16_t>(sample_count), &out.last_byte, out.port.data(), &out.period_s,
               &status);
  if (turn.check(status) != KMT_STATUS_OK) return failed("logic scan", status);
  // For a single sample the library's period estimate divides by zero; nothing is drawn
  // across time then.
  if (!std::isfinite(out.period_s)) out.period_s = 0;
  return {};
}

std::vector<int> Controller::modes() const {
  std::lock_guard lock(state_);
  return {std::begin(modes_), std::end(modes_)};
}

std::vector<std::optional<double>> Controller::outputs() const {
  std::lock_guard lock(state_);
  return {std::begin(outputs_), std::end(outputs_)};
}

}  // namespace panel
