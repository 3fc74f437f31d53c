// A driver for tests: records every call and every byte written, and serves reads
// from a script of byte chunks, so tests can assert whole frames byte for byte.
// Nothing in it waits: a read with nothing scripted returns at once with 0 bytes,
// which is what a silent device looks like once its time-out has passed.
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "transport/driver.h"

namespace kmt::testing {

using Bytes = std::vector<std::uint8_t>;

// The parts one after another.
Bytes concat(std::initializer_list<Bytes> parts);

// A response frame as a well-behaved controller sends it: result byte, length,
// payload, checksum. Computed here independently of the library's own code.
Bytes response_frame(const Bytes &payload, std::uint8_t result = 0);
// A request frame as the library must send it.
Bytes request_frame(std::uint8_t group, std::uint8_t command, const Bytes &payload,
                    std::uint16_t prefix = 0x0010);

struct ScriptedDriverState {
  std::vector<std::string> serials{"KMTC0002TEST01"};
  std::vector<std::string> calls;  // "OpenEx KMTC0002TEST01", "Purge 1", "Write 7", ...
  Bytes written;                   // every byte ever written, in order
  std::vector<Bytes> writes;       // each write on its own
  std::deque<Bytes> reads;         // each read takes from the front chunk
  std::map<std::string, d2xx::FT_STATUS> failures;  // operation name -> status to return
  std::uint32_t reads_made = 0;
  bool open = false;
  // Overrides the count the driver claims to have read (for drivers that lie).
  std::int64_t claim_read_count = -1;
};

// Queues data[0 .. n-1] as the controller's reads, one read per piece between the
// markers 0xA5 0x5A (which are dropped): how the fuzz targets script a controller.
void queue_reads_split_at_markers(ScriptedDriverState &state, const std::uint8_t *data,
                                  std::size_t n);

class ScriptedDriver final : public Driver {
 public:
  explicit ScriptedDriver(ScriptedDriverState &state) : s_(state) {}

  d2xx::FT_STATUS ListDevices(d2xx::PVOID arg1, d2xx::PVOID arg2, d2xx::DWORD flags) override;
  d2xx::FT_STATUS OpenEx(d2xx::PVOID arg, d2xx::DWORD flags, d2xx::FT_HANDLE *handle) override;
  d2xx::FT_STATUS Close(d2xx::FT_HANDLE handle) override;
  d2xx::FT_STATUS ResetDevice(d2xx::FT_HANDLE handle) override;
  d2xx::FT_STATUS Purge(d2xx::FT_HANDLE handle, d2xx::ULONG mask) override;
  d2xx::FT_STATUS SetBaudRate(d2xx::FT_HANDLE handle, d2xx::ULONG baud) override;
  d2xx::FT_STATUS SetDataCharacteristics(d2xx::FT_HANDLE handle, d2xx::UCHAR bits, d2xx::UCHAR stop,
                                         d2xx::UCHAR parity) override;
  d2xx::FT_STATUS SetFlowControl(d2xx::FT_HANDLE handle, d2xx::USHORT flow, d2xx::UCHAR xon,
                                 d2xx::UCHAR xoff) override;
  d2xx::FT_STATUS SetTimeouts(d2xx::FT_HANDLE handle, d2xx::ULONG read_ms,
                              d2xx::ULONG write_ms) override;
  d2xx::FT_STATUS Write(d2xx::FT_HANDLE handle, d2xx::LPVOID buffer, d2xx::DWORD n,
                        d2xx::LPDWORD written) override;
  d2xx::FT_STATUS Read(d2xx::FT_HANDLE handle, d2xx::LPVOID buffer, d2xx::DWORD n,
                       d2xx::LPDWORD read) override;

 private:
  d2xx::FT_STATUS record(const std::string &call, const std::string &name);
  ScriptedDriverState &s_;
};

// Sleeps nothing; remembers what it was asked, and the error reports shown.
class RecordingPlatform final : public Platform {
 public:
  void sleep_ms(std::uint32_t ms) override { sleeps.push_back(ms); }
  void show_error(std::string_view text) override { errors.emplace_back(text); }
  std::vector<std::uint32_t> sleeps;
  std::vector<std::string> errors;
};

}  // namespace kmt::testing
