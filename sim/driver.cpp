// The simulated controller driver: D2XX semantics on top of simulated controllers.
// Nothing runs in the background; whenever the host calls, the driver works out what
// the controller has sent by then from the clock.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <set>
#include <string_view>

#include "sim/analog_io.h"
#include "sim/digital_io.h"
#include "sim/sim.h"
#include "sim/sim_driver.h"
#include "sim/system.h"
#include "sim/wire.h"

namespace kmt::sim {

using namespace d2xx;

namespace {

constexpr std::size_t kMaxDevices = 1000;
// ListDevices fills a buffer of 64 bytes: the serial string and its NUL.
constexpr std::size_t kMaxSerialLength = 63;
// The library passes at most 49 characters to OpenEx: a longer serial-number string
// could be listed but never opened.
constexpr std::size_t kMaxOpenableSerialLength = 49;

// Every option key some part of the simulator reads; anything else is a mistake (a
// misspelt key would otherwise be ignored without a word). A family that reads a new
// key adds it here.
constexpr std::array<std::string_view, 19> kKnownKeys = {
    "devices",         "serials",      "clock",     "fault",       "state",       "dio_in",
    "dio_clock",       "wave_step_us", "ai1",       "ai2",         "ai3",         "ai4",
    "ao0_to",          "ao1_to",       "noise_key", "temperature", "uart_buffer", "onewire_devices",
    "expansion_chain",
};

// The families' numeric options, checked here so that a bad value names its option
// when the driver is built instead of surfacing later as a refused request.
struct NumberOption {
  const char *key;
  double min, max;
  bool whole;
  const char *expected;
};
constexpr NumberOption kNumberOptions[] = {
    {"temperature", std::numeric_limits<double>::lowest(), std::numeric_limits<double>::max(),
     false, "a number of degrees Celsius"},
    {"uart_buffer", 1, 65536, true, "a whole number of bytes from 1 to 65536"},
    {"onewire_devices", 0, 3, true, "a whole number from 0 to 3"},
    {"expansion_chain", 1, 64, true, "a whole number of registers from 1 to 64"},
};

std::string unknown_key_error(const std::string &key) {
  std::string known;
  for (std::string_view k : kKnownKeys) known += (known.empty() ? "" : ", ") + std::string(k);
  return "unknown option \"" + key + "\" (known: " + known + ")";
}
constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

std::string default_serial(std::size_t index) {
  char text[32];
  std::snprintf(text, sizeof text, "KMTC0002SIM%05zu", index + 1);
  return text;
}

bool parse_count(const std::string &text, std::size_t *count) {
  if (text.empty() || text.size() > 4) return false;
  std::size_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  *count = n;
  return true;
}

}  // namespace

// Response bytes on their way to the host: they are in the host's receive queue from
// `at_us` on.
struct Segment {
  std::uint64_t at_us = 0;
  std::vector<std::uint8_t> bytes;
  std::size_t taken = 0;  // bytes already read or purged from the front
};

struct SimDriver::Device {
  std::string serial;
  std::unique_ptr<Controller> controller;
  bool open = false;
  std::uintptr_t handle = 0;
  LinkSettings link;
  ULONG read_timeout_ms = 0;
  ULONG write_timeout_ms = 0;
  RequestParser parser;
  std::deque<Segment> incoming;
  // When the controller has finished sending its last response.
  std::uint64_t busy_until_us = 0;
  DeviceStats stats;

  void drop_all() {
    parser.reset();
    incoming.clear();
    busy_until_us = 0;
  }
  // Bytes in the receive queue at time t.
  std::size_t available_at(std::uint64_t t) const {
    std::size_t n = 0;
    for (const Segment &s : incoming) {
      if (s.at_us > t) break;
      n += s.bytes.size() - s.taken;
    }
    return n;
  }
  // When n bytes will be in the receive queue; kNever if fewer are on their way.
  std::uint64_t time_of(std::size_t n) const {
    std::size_t total = 0;
    for (const Segment &s : incoming) {
      total += s.bytes.size() - s.taken;
      if (total >= n) return s.at_us;
    }
    return kNever;
  }
  // Takes up to n bytes that have arrived by time t.
  std::size_t take(std::uint64_t t, std::uint8_t *out, std::size_t n) {
    std::size_t done = 0;
    while (done < n && !incoming.empty() && incoming.front().at_us <= t) {
      Segment &s = incoming.front();
      std::size_t k = std::min(n - done, s.bytes.size() - s.taken);
      if (out != nullptr) std::memcpy(out + done, s.bytes.data() + s.taken, k);
      s.taken += k;
      done += k;
      if (s.taken == s.bytes.size()) incoming.pop_front();
    }
    return done;
  }
};

SimDriver::SimDriver(std::unique_ptr<Clock> clock, VirtualClock *virtual_clock)
    : clock_(std::move(clock)), virtual_clock_(virtual_clock) {}

SimDriver::~SimDriver() {
  // Controllers refer to the clock: let them go first.
  devices_.clear();
}

std::unique_ptr<SimDriver> SimDriver::create(const std::string &text, std::string *error) {
  auto fail = [error](const std::string &why) {
    if (error != nullptr) *error = why;
    return nullptr;
  };
  Options options;
  std::string why;
  if (!Options::parse(text, &options, &why)) return fail(why);
  for (const auto &[key, value] : options.values()) {
    if (std::find(kKnownKeys.begin(), kKnownKeys.end(), key) == kKnownKeys.end()) {
      return fail(unknown_key_error(key));
    }
  }
  for (const NumberOption &option : kNumberOptions) {
    if (!options.has(option.key)) continue;
    const double value = options.number(option.key, std::nan(""));
    if (!(value >= option.min && value <= option.max) ||
        (option.whole && value != std::floor(value))) {
      return fail(std::string(option.key) + ": expected " + option.expected);
    }
  }
  // Without a path the state would be kept nowhere, while writes seemed to succeed.
  if (options.has("state") && options.text("state").empty()) {
    return fail("state: expected the path of the state file");
  }

  std::vector<std::string> serials;
  if (options.has("serials")) {
    std::string list = options.text("serials");
    std::size_t start = 0;
    while (true) {
      std::size_t end = list.find('+', start);
      serials.push_back(list.substr(start, end == std::string::npos ? end : end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    std::set<std::string> distinct;
    for (const std::string &s : serials) {
      if (s.empty()) return fail("serials: an empty serial-number string");
      if (s.size() > kMaxOpenableSerialLength) {
        return fail("serials: \"" + s + "\" has " + std::to_string(s.size()) +
                    " characters; the library passes at most 49 to the driver, so it could"
                    " never be opened");
      }
      if (!distinct.insert(s).second) return fail("serials: \"" + s + "\" is given twice");
    }
  }
  std::size_t count = 1;
  if (options.has("devices")) {
    if (!parse_count(options.text("devices"), &count) || count > kMaxDevices) {
      return fail("devices: expected a count from 0 to 1000");
    }
    if (options.has("serials") && count != serials.size()) {
      return fail("devices: the count differs from the number of serials");
    }
  }
  if (!options.has("serials")) {
    for (std::size_t i = 0; i < count; ++i) serials.push_back(default_serial(i));
  }

  std::string clock_name = options.text("clock", "real");
  std::unique_ptr<Clock> clock;
  VirtualClock *virtual_clock = nullptr;
  if (clock_name == "virtual") {
    auto made = std::make_unique<VirtualClock>();
    virtual_clock = made.get();
    clock = std::move(made);
  } else if (clock_name == "real") {
    clock = std::make_unique<RealClock>();
  } else {
    return fail("clock: expected virtual or real");
  }

  std::vector<Fault> faults;
  if (options.has("fault") && !parse_faults(options.text("fault"), &faults, &why)) {
    return fail(why);
  }

  std::unique_ptr<SimDriver> driver(new SimDriver(std::move(clock), virtual_clock));
  driver->faults_ = std::move(faults);
  for (const std::string &serial : serials) {
    auto device = std::make_unique<Device>();
    device->serial = serial;
    device->controller = std::make_unique<Controller>(serial, options, *driver->clock_);
    // The families' own option errors name their option; all controllers share the
    // options, so the first one speaks for all.
    for (const std::string *family_error :
         {&device->controller->part<DigitalIo>().options_error(),
          &device->controller->part<AnalogIo>().options_error()}) {
      if (!family_error->empty()) return fail(*family_error);
    }
    if (driver->warning_.empty()) {
      driver->warning_ = device->controller->part<SystemArea>().state_error();
    }
    driver->devices_.push_back(std::move(device));
  }
  return driver;
}

std::size_t SimDriver::device_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_.size();
}

Controller &SimDriver::controller(std::size_t index) {
  return *devices_.at(index)->controller;
}

Controller *SimDriver::find(const std::string &serial) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto &device : devices_) {
    if (device->serial == serial) return device->controller.get();
  }
  return nullptr;
}

bool SimDriver::is_open(std::size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_.at(index)->open;
}

const LinkSettings &SimDriver::link(std::size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_.at(index)->link;
}

const DeviceStats &SimDriver::stats(std::size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_.at(index)->stats;
}

std::size_t SimDriver::queued_bytes(std::size_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_.at(index)->available_at(clock_->now_us());
}

void SimDriver::inject(const Fault &fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.push_back(fault);
}

void SimDriver::clear_faults() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
}

std::vector<Fault> SimDriver::faults() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return faults_;
}

std::uint64_t SimDriver::next_arrival_us(std::size_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::uint64_t now = clock_->now_us();
  for (const Segment &s : devices_.at(index)->incoming) {
    if (s.at_us > now) return s.at_us;
  }
  return kNever;
}

ULONG SimDriver::read_timeout_ms(std::size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_.at(index)->read_timeout_ms;
}

SimDriver::Device *SimDriver::device_of(FT_HANDLE handle) {
  auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (value == 0) return nullptr;
  for (auto &device : devices_) {
    if (device->open && device->handle == value) return device.get();
  }
  return nullptr;
}

bool SimDriver::fires(Fault &fault, const std::string &serial) {
  if (!fault.serial.empty() && fault.serial != serial) return false;
  if (fault.seen++ < fault.skip) return false;
  if (fault.times != 0 && fault.applied >= fault.times) return false;
  ++fault.applied;
  return true;
}

FT_STATUS SimDriver::call_fault(Call call, const std::string &serial) {
  for (Fault &fault : faults_) {
    if (fault.kind == FaultKind::kFailCall && fault.call == call && fires(fault, serial)) {
      return fault.amount;
    }
  }
  return FT_OK;
}

void SimDriver::answer(Device &device, const Request &request) {
  // Which response faults act on this request, in the order they were added.
  auto acts = [&](FaultKind kind, Fault **which) {
    for (Fault &fault : faults_) {
      if (fault.kind != kind) continue;
      if (fault.group >= 0 && fault.group != request.group) continue;
      if (fault.command >= 0 && (request.is_short || fault.command != request.command)) continue;
      if (fires(fault, device.serial)) {
        if (which != nullptr) *which = &fault;
        return true;
      }
    }
    return false;
  };
  if (acts(FaultKind::kSilent, nullptr)) return;

  std::vector<std::uint8_t> bytes;
  std::uint64_t busy_us = 0;
  if (request.is_short) {
    ++device.stats.short_requests;
    // The short request is answered with its own three bytes.
    bytes = {kPrefixLow, kPrefixHigh, kShortRequestGroup};
  } else {
    ++device.stats.frames;
    Reply reply;
    if (!request.checksum_ok) {
      ++device.stats.bad_checksums;
      reply = refuse(kResultBadChecksum);
    } else if (request.payload.size() > kMaxRequestPayload) {
      reply = refuse(kResultTooLong);
    } else {
      try {
        reply = device.controller->handle(request.group, request.command, request.payload);
      } catch (...) {
        reply = refuse(kResultInternal);
      }
      if (reply.payload.size() > kMaxResponsePayload) reply = refuse(kResultInternal);
    }
    busy_us = reply.busy_us;
    Fault *fault = nullptr;
    if (acts(FaultKind::kResult, &fault)) reply.result = static_cast<std::uint8_t>(fault->amount);
    if (acts(FaultKind::kTruncate, &fault)) {
      reply.payload.resize(reply.payload.size() -
                           std::min<std::size_t>(fault->amount, reply.payload.size()));
    }
    std::size_t announced = reply.payload.size();
    if (acts(FaultKind::kOverlong, &fault)) {
      announced = std::min<std::size_t>(announced + fault->amount, kMaxResponsePayload);
    }
    bytes = encode_response(reply.result, reply.payload, announced);
    if (acts(FaultKind::kBadChecksum, nullptr)) ++bytes.back();
  }
  Fault *fault = nullptr;
  if (acts(FaultKind::kDelay, &fault)) busy_us += fault->amount;

  // The controller answers one request after the other.
  std::uint64_t start = std::max(clock_->now_us(), device.busy_until_us) + busy_us;
  if (acts(FaultKind::kSplit, &fault)) {
    std::uint64_t at = start;
    for (std::size_t i = 0; i < bytes.size(); i += fault->amount) {
      std::size_t end = std::min<std::size_t>(bytes.size(), i + fault->amount);
      device.incoming.push_back(Segment{at,
                                        {bytes.begin() + static_cast<std::ptrdiff_t>(i),
                                         bytes.begin() + static_cast<std::ptrdiff_t>(end)},
                                        0});
      at += fault->interval_us;
    }
  } else {
    device.incoming.push_back(Segment{start, std::move(bytes), 0});
  }
  device.busy_until_us = device.incoming.back().at_us;
}

FT_STATUS SimDriver::ListDevices(PVOID arg1, PVOID arg2, DWORD flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (flags == FT_LIST_NUMBER_ONLY) {
    if (arg1 == nullptr) return FT_INVALID_PARAMETER;
    if (FT_STATUS status = call_fault(Call::kList, std::string()); status != FT_OK) return status;
    *static_cast<DWORD *>(arg1) = static_cast<DWORD>(devices_.size());
    return FT_OK;
  }
  if (flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER)) {
    if (arg2 == nullptr) return FT_INVALID_PARAMETER;
    // The index travels as the pointer's integer value, as the D2XX call defines it.
    auto index = reinterpret_cast<std::uintptr_t>(arg1);
    std::string serial = index < devices_.size() ? devices_[index]->serial : std::string();
    if (FT_STATUS status = call_fault(Call::kList, serial); status != FT_OK) return status;
    if (index >= devices_.size()) return FT_DEVICE_NOT_FOUND;
    std::size_t n = std::min(serial.size(), kMaxSerialLength);
    auto *out = static_cast<char *>(arg2);
    std::memcpy(out, serial.data(), n);
    out[n] = '\0';
    return FT_OK;
  }
  return FT_INVALID_PARAMETER;
}

FT_STATUS SimDriver::OpenEx(PVOID arg, DWORD flags, FT_HANDLE *handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (arg == nullptr || handle == nullptr || flags != FT_OPEN_BY_SERIAL_NUMBER) {
    return FT_INVALID_PARAMETER;
  }
  std::string serial(static_cast<const char *>(arg));
  if (FT_STATUS status = call_fault(Call::kOpen, serial); status != FT_OK) return status;
  for (auto &device : devices_) {
    if (device->serial != serial) continue;
    // Like the bridge's driver: a device open elsewhere cannot be opened again.
    if (device->open) return FT_DEVICE_NOT_OPENED;
    device->drop_all();
    device->link = LinkSettings{};
    device->read_timeout_ms = 0;
    device->write_timeout_ms = 0;
    device->open = true;
    device->handle = next_handle_++;
    // An integer carried in a pointer, never dereferenced; every open gets a fresh
    // value, so a handle kept after Close stays invalid.
    *handle = reinterpret_cast<FT_HANDLE>(device->handle);
    return FT_OK;
  }
  return FT_DEVICE_NOT_FOUND;
}

FT_STATUS SimDriver::Close(FT_HANDLE handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device *device = device_of(handle);
  if (device == nullptr) return FT_INVALID_HANDLE;
  if (FT_STATUS status = call_fault(Call::kClose, device->serial); status != FT_OK) return status;
  device->drop_all();
  device->open = false;
  device->handle = 0;
  return FT_OK;
}

FT_STATUS SimDriver::ResetDevice(FT_HANDLE handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device *device = device_of(handle);
  if (device == nullptr) return FT_INVALID_HANDLE;
  if (FT_STATUS status = call_fault(Call::kReset, device->serial); status != FT_OK) return status;
  // Drops what is in flight both ways; the link settings stay.
  device->drop_all();
  return FT_OK;
}

FT_STATUS SimDriver::Purge(FT_HANDLE handle, ULONG mask) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device *device = device_of(handle);
  if (device == nullptr) return FT_INVALID_HANDLE;
  if ((mask & ~(FT_PURGE_RX | FT_PURGE_TX)) != 0) return FT_INVALID_PARAMETER;
  if (FT_STATUS status = call_fault(Call::kPurge, device->serial); status != FT_OK) return status;
  if ((mask & FT_PURGE_RX) != 0) {
    // Only what has arrived: bytes the controller is still sending come in later.
    device->take(clock_->now_us(), nullptr, std::numeric_limits<std::size_t>::max());
  }
  if ((mask & FT_PURGE_TX) != 0) device->parser.reset();
  return FT_OK;
}

FT_STATUS SimDriver::SetBaudRate(FT_HANDLE handle, ULONG baud) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device *device = device_of(handle);
  if (device == nullptr) return FT_INVALID_HANDLE;
  if (FT_STATUS status = call_fault(Call::kBaudRate, device->serial); status != FT_OK) {
    return status;
  }
  // The bridge's range of rates.
  if (baud < 300 || baud > 3000000) return FT_INVALID_BAUD_RATE;
  if (device->link.baud != baud) device->parser.reset();
  device->link.baud = baud;
  return FT_OK;
}

FT_STATUS SimDriver::SetDataCharacteristics(FT_HANDLE handle, UCHAR word_length, UCHAR stop_bits,
                                            UCHAR parity) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device *device = device_of(handle);
  if (device == nullptr) return FT_INVALID_HANDLE;
  if (FT_STATUS status = call_fault(Call::kDataCharacteristics, device->serial); status != FT_OK) {
    return status;
  }
  // D2XX codes: 7 or 8 data bits; stop bits 0 (one) or 2 (two); parity 0 to 4.
  if ((word_length != 7 && word_length != 8) || (stop_bits != 0 && stop_bits != 2) || parity > 4) {
    return FT_INVALID_PARAMETER;
  }
  LinkSettings &link = device->link;
  if (link.word_length != word_length || link.stop_bits != stop_bits || link.parity != parity) {
    device->parser.reset();
  }
  link.word_length = word_length;
  link.stop_bits = stop_bits;
  link.parity = parity;
  return FT_OK;
}

FT_STATUS SimDriver::SetFlowControl(FT_HANDLE handle, USHORT flow, UCHAR, UCHAR) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device *device = device_of(handle);
  if (device == nullptr) return FT_INVALID_HANDLE;
  if (FT_STATUS status = call_fault(Call::kFlowControl, device->serial); status != FT_OK) {
    return status;
  }
  // D2XX codes: none, RTS/CTS, DTR/DSR, XON/XOFF.
  if (flow != 0 && flow != 0x0100 && flow != 0x0200 && flow != 0x0400) {
    return FT_INVALID_PARAMETER;
  }
  if (device->link.flow != flow) device->parser.reset();
  device->link.flow = flow;
  return FT_OK;
}

FT_STATUS SimDriver::SetTimeouts(FT_HANDLE handle, ULONG read_ms, ULONG write_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device *device = device_of(handle);
  if (device == nullptr) return FT_INVALID_HANDLE;
  if (FT_STATUS status = call_fault(Call::kTimeouts, device->serial); status != FT_OK) {
    return status;
  }
  device->read_timeout_ms = read_ms;
  device->write_timeout_ms = write_ms;
  return FT_OK;
}

FT_STATUS SimDriver::Write(FT_HANDLE handle, LPVOID buffer, DWORD n, LPDWORD written) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (written != nullptr) *written = 0;
  Device *device = device_of(handle);
  if (device == nullptr) return FT_INVALID_HANDLE;
  if (written == nullptr || (buffer == nullptr && n > 0)) return FT_INVALID_PARAMETER;
  if (FT_STATUS status = call_fault(Call::kWrite, device->serial); status != FT_OK) return status;
  std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t *>(buffer), n);
  if (!device->link.understood()) {
    // At the wrong rate or framing the controller hears only noise, and a frame it
    // had begun is spoiled.
    device->stats.noise_bytes += n;
    device->parser.reset();
  } else {
    std::uint64_t noise_before = device->parser.noise_bytes();
    std::vector<Request> requests;
    device->parser.feed(bytes, &requests);
    device->stats.noise_bytes += device->parser.noise_bytes() - noise_before;
    for (const Request &request : requests) answer(*device, request);
  }
  *written = n;
  return FT_OK;
}

FT_STATUS SimDriver::Read(FT_HANDLE handle, LPVOID buffer, DWORD n, LPDWORD read) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (read != nullptr) *read = 0;
  Device *device = device_of(handle);
  if (device == nullptr) return FT_INVALID_HANDLE;
  if (read == nullptr || (buffer == nullptr && n > 0)) return FT_INVALID_PARAMETER;
  if (FT_STATUS status = call_fault(Call::kRead, device->serial); status != FT_OK) return status;
  if (n == 0) return FT_OK;
  std::uint64_t now = clock_->now_us();
  std::uint64_t complete = device->time_of(n);
  std::uint64_t deadline;
  if (device->read_timeout_ms != 0) {
    deadline = now + static_cast<std::uint64_t>(device->read_timeout_ms) * 1000;
  } else {
    // No time-out: wait for the n bytes; when fewer are on their way, wait only for
    // the last of those (a real bridge would wait for ever).
    deadline = device->incoming.empty() ? now : device->incoming.back().at_us;
  }
  std::uint64_t wake = std::min(complete, deadline);
  if (wake > now) clock_->wait_until_us(wake);
  // With the real clock the wait may end a little late; never count past the wake-up
  // time, so the outcome does not depend on how long the sleep overran.
  *read =
      static_cast<DWORD>(device->take(std::max(now, wake), static_cast<std::uint8_t *>(buffer), n));
  return FT_OK;
}

std::unique_ptr<Driver> make_driver(const std::string &options, std::string *error) {
  auto driver = SimDriver::create(options, error);
  if (driver && error != nullptr) *error = driver->warning();
  return driver;
}

}  // namespace kmt::sim
