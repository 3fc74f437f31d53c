// The simulated controller driver as C++ objects, for tests that build one directly:
// reach its controllers and clock, look at the link, and inject faults.
//
// Safe to call from several threads: each driver operation and each look inside holds
// the driver's lock for its whole duration (a read's wait for its bytes included), so
// calls on one driver take turns. References it hands out (controller(), clock()) are
// the caller's to guard.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/clock.h"
#include "sim/controller.h"
#include "transport/driver.h"

namespace kmt::sim {

enum class FaultKind {
  kSilent,       // requests get no answer; the controller does not act on them
  kSplit,        // the response comes in pieces of `amount` bytes, `interval_us` apart
  kBadChecksum,  // the response's checksum byte is one too high
  kResult,       // the response's result byte becomes `amount` (payload and checksum kept valid)
  kTruncate,     // the last `amount` payload bytes are left out; length and checksum agree
  kOverlong,     // the length field announces `amount` bytes more than follow
  kDelay,        // the response comes `amount` microseconds later
  kFailCall,     // the driver operation `call` fails with D2XX status `amount`
};

// Driver operations a kFailCall fault can fail (option names in sim/README.md).
enum class Call {
  kList,
  kOpen,
  kClose,
  kReset,
  kPurge,
  kBaudRate,
  kDataCharacteristics,
  kFlowControl,
  kTimeouts,
  kWrite,
  kRead
};

struct Fault {
  FaultKind kind = FaultKind::kSilent;
  std::uint32_t amount = 0;
  std::uint64_t interval_us = 0;  // kSplit only
  Call call = Call::kOpen;        // kFailCall only
  // Response faults: only requests of this group (and command); -1 matches any.
  int group = -1;
  int command = -1;
  // Only the device with this serial-number string; empty matches every device.
  std::string serial;
  // Matching events let through before the fault starts to act.
  unsigned skip = 0;
  // Events the fault acts on; 0 acts on every one (persistent), 1 is one-shot.
  unsigned times = 0;

  // Bookkeeping: matching events seen and acted on so far.
  unsigned seen = 0;
  unsigned applied = 0;
};

// Parses the value of the fault option ("silent", "split:2:5000*1", ...; grammar in
// sim/README.md). False with *error set when it cannot be understood.
bool parse_faults(const std::string &text, std::vector<Fault> *faults, std::string *error);

// The link settings the host last gave a device. The controller understands frames
// only at 250000 baud, 8 data bits, one stop bit, no parity and no flow control.
struct LinkSettings {
  d2xx::ULONG baud = 9600;  // the bridge's power-on rate
  d2xx::UCHAR word_length = 8;
  d2xx::UCHAR stop_bits = 0;
  d2xx::UCHAR parity = 0;
  d2xx::USHORT flow = 0;
  bool understood() const {
    return baud == 250000 && word_length == 8 && stop_bits == 0 && parity == 0 && flow == 0;
  }
};

// What one device has seen since the driver was built.
struct DeviceStats {
  std::uint64_t frames = 0;          // complete full request frames
  std::uint64_t short_requests = 0;  // three-byte short requests
  std::uint64_t bad_checksums = 0;   // frames refused for their checksum
  std::uint64_t noise_bytes = 0;     // bytes outside any frame, or sent over a wrong link
};

struct Request;  // sim/wire.h

class SimDriver final : public Driver {
 public:
  // Builds a driver from an option string (sim/README.md); null with *error set when
  // the options cannot be understood.
  static std::unique_ptr<SimDriver> create(const std::string &options, std::string *error);
  ~SimDriver() override;

  std::size_t device_count() const;
  Controller &controller(std::size_t index);
  // The controller with this serial-number string, or null.
  Controller *find(const std::string &serial);
  Clock &clock() { return *clock_; }
  // The virtual clock, or null when the real one runs.
  VirtualClock *virtual_clock() { return virtual_clock_; }

  // Adds a fault (it acts after those added before); clear_faults() removes all.
  void inject(const Fault &fault);
  void clear_faults();
  // A copy, taken under the lock.
  std::vector<Fault> faults() const;

  bool is_open(std::size_t index) const;
  const LinkSettings &link(std::size_t index) const;
  const DeviceStats &stats(std::size_t index) const;
  // Response bytes that have arrived and wait in the host's receive queue.
  std::size_t queued_bytes(std::size_t index);
  // When the next response bytes still on their way arrive in the host's receive
  // queue (clock time in microseconds); UINT64_MAX when nothing is on its way.
  std::uint64_t next_arrival_us(std::size_t index);
  // The read time-out in force, in milliseconds (0: none).
  d2xx::ULONG read_timeout_ms(std::size_t index) const;

  d2xx::FT_STATUS ListDevices(d2xx::PVOID arg1, d2xx::PVOID arg2, d2xx::DWORD flags) override;
  d2xx::FT_STATUS OpenEx(d2xx::PVOID arg, d2xx::DWORD flags, d2xx::FT_HANDLE *handle) override;
  d2xx::FT_STATUS Close(d2xx::FT_HANDLE handle) override;
  d2xx::FT_STATUS ResetDevice(d2xx::FT_HANDLE handle) override;
  d2xx::FT_STATUS Purge(d2xx::FT_HANDLE handle, d2xx::ULONG mask) override;
  d2xx::FT_STATUS SetBaudRate(d2xx::FT_HANDLE handle, d2xx::ULONG baud) override;
  d2xx::FT_STATUS SetDataCharacteristics(d2xx::FT_HANDLE handle, d2xx::UCHAR word_length,
                                         d2xx::UCHAR stop_bits, d2xx::UCHAR parity) override;
  d2xx::FT_STATUS SetFlowControl(d2xx::FT_HANDLE handle, d2xx::USHORT flow, d2xx::UCHAR xon,
                                 d2xx::UCHAR xoff) override;
  d2xx::FT_STATUS SetTimeouts(d2xx::FT_HANDLE handle, d2xx::ULONG read_ms,
                              d2xx::ULONG write_ms) override;
  d2xx::FT_STATUS Write(d2xx::FT_HANDLE handle, d2xx::LPVOID buffer, d2xx::DWORD n,
                        d2xx::LPDWORD written) override;
  d2xx::FT_STATUS Read(d2xx::FT_HANDLE handle, d2xx::LPVOID buffer, d2xx::DWORD n,
                       d2xx::LPDWORD read) override;

 private:
  struct Device;
  SimDriver(std::unique_ptr<Clock> clock, VirtualClock *virtual_clock);

  Device *device_of(d2xx::FT_HANDLE handle);
  bool fires(Fault &fault, const std::string &serial);
  // The status of the first kFailCall fault for this operation that acts, else FT_OK.
  d2xx::FT_STATUS call_fault(Call call, const std::string &serial);
  void answer(Device &device, const Request &request);

  mutable std::mutex mutex_;
  // The clock outlives the controllers, which keep a reference to it.
  std::unique_ptr<Clock> clock_;
  VirtualClock *virtual_clock_ = nullptr;
  std::vector<std::unique_ptr<Device>> devices_;
  std::vector<Fault> faults_;
  std::uintptr_t next_handle_ = 0x100;
};

}  // namespace kmt::sim
