#include "tests/support/scripted_driver.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <numeric>

namespace kmt::testing {

using namespace d2xx;

namespace {
// The one handle this driver hands out.
int g_device_tag = 0;
FT_HANDLE the_handle() {
  return &g_device_tag;
}

// Header, payload, then the checksum: the sum of every byte before it, modulo 256.
// Sized up front: GCC 12 at -O2 warns falsely about inserting into a tiny vector.
Bytes checksummed(std::initializer_list<std::uint8_t> header, const Bytes &payload) {
  Bytes frame(header.size() + payload.size() + 1);
  auto end = std::copy(header.begin(), header.end(), frame.begin());
  end = std::copy(payload.begin(), payload.end(), end);
  *end = static_cast<std::uint8_t>(std::accumulate(frame.begin(), end, 0u) % 256);
  return frame;
}
}  // namespace

// Sized up front: GCC 12 at -O2 warns falsely about inserting into a tiny vector.
Bytes concat(std::initializer_list<Bytes> parts) {
  std::size_t size = 0;
  for (const Bytes &p : parts) size += p.size();
  Bytes all(size);
  auto end = all.begin();
  for (const Bytes &p : parts) end = std::copy(p.begin(), p.end(), end);
  return all;
}

Bytes response_frame(const Bytes &payload, std::uint8_t result) {
  return checksummed({result, static_cast<std::uint8_t>(payload.size() & 0xFF),
                      static_cast<std::uint8_t>(payload.size() >> 8)},
                     payload);
}

Bytes request_frame(std::uint8_t group, std::uint8_t command, const Bytes &payload,
                    std::uint16_t prefix) {
  return checksummed(
      {static_cast<std::uint8_t>(prefix & 0xFF), static_cast<std::uint8_t>(prefix >> 8), group,
       command, static_cast<std::uint8_t>(payload.size() & 0xFF),
       static_cast<std::uint8_t>(payload.size() >> 8)},
      payload);
}

FT_STATUS ScriptedDriver::record(const std::string &call, const std::string &name) {
  s_.calls.push_back(call);
  auto it = s_.failures.find(name);
  return it == s_.failures.end() ? FT_OK : it->second;
}

FT_STATUS ScriptedDriver::ListDevices(PVOID arg1, PVOID arg2, DWORD flags) {
  if (flags == FT_LIST_NUMBER_ONLY) {
    FT_STATUS status = record("ListDevices count", "ListDevices count");
    if (status == FT_OK) *static_cast<DWORD *>(arg1) = static_cast<DWORD>(s_.serials.size());
    return status;
  }
  auto index = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(arg1));
  FT_STATUS status = record("ListDevices " + std::to_string(index), "ListDevices index");
  if (status != FT_OK) return status;
  auto specific = s_.failures.find("ListDevices " + std::to_string(index));
  if (specific != s_.failures.end()) return specific->second;
  if (index >= s_.serials.size()) return FT_DEVICE_NOT_FOUND;
  // Like the vendor driver: the string and its NUL, into a 64-byte buffer.
  const std::string &serial = s_.serials[index];
  std::size_t n = std::min<std::size_t>(serial.size(), 63);
  std::memcpy(arg2, serial.data(), n);
  static_cast<char *>(arg2)[n] = '\0';
  return FT_OK;
}

FT_STATUS ScriptedDriver::OpenEx(PVOID arg, DWORD, FT_HANDLE *handle) {
  std::string serial = static_cast<const char *>(arg);
  FT_STATUS status = record("OpenEx " + serial, "OpenEx");
  if (status != FT_OK) return status;
  if (std::find(s_.serials.begin(), s_.serials.end(), serial) == s_.serials.end()) {
    return FT_DEVICE_NOT_FOUND;
  }
  s_.open = true;
  *handle = the_handle();
  return FT_OK;
}

FT_STATUS ScriptedDriver::Close(FT_HANDLE) {
  s_.open = false;
  return record("Close", "Close");
}

FT_STATUS ScriptedDriver::ResetDevice(FT_HANDLE) {
  return record("ResetDevice", "ResetDevice");
}

FT_STATUS ScriptedDriver::Purge(FT_HANDLE, ULONG mask) {
  return record("Purge " + std::to_string(mask), "Purge " + std::to_string(mask));
}

FT_STATUS ScriptedDriver::SetBaudRate(FT_HANDLE, ULONG baud) {
  return record("SetBaudRate " + std::to_string(baud), "SetBaudRate");
}

FT_STATUS ScriptedDriver::SetDataCharacteristics(FT_HANDLE, UCHAR bits, UCHAR stop, UCHAR parity) {
  return record("SetDataCharacteristics " + std::to_string(bits) + " " + std::to_string(stop) +
                    " " + std::to_string(parity),
                "SetDataCharacteristics");
}

FT_STATUS ScriptedDriver::SetFlowControl(FT_HANDLE, USHORT flow, UCHAR xon, UCHAR xoff) {
  return record("SetFlowControl " + std::to_string(flow) + " " + std::to_string(xon) + " " +
                    std::to_string(xoff),
                "SetFlowControl");
}

FT_STATUS ScriptedDriver::SetTimeouts(FT_HANDLE, ULONG read_ms, ULONG write_ms) {
  return record("SetTimeouts " + std::to_string(read_ms) + " " + std::to_string(write_ms),
                "SetTimeouts");
}

FT_STATUS ScriptedDriver::Write(FT_HANDLE, LPVOID buffer, DWORD n, LPDWORD written) {
  FT_STATUS status = record("Write " + std::to_string(n), "Write");
  *written = 0;
  if (status != FT_OK) return status;
  const auto *bytes = static_cast<const std::uint8_t *>(buffer);
  s_.writes.emplace_back(bytes, bytes + n);
  s_.written.insert(s_.written.end(), bytes, bytes + n);
  *written = n;
  return FT_OK;
}

void queue_reads_split_at_markers(ScriptedDriverState &state, const std::uint8_t *data,
                                  std::size_t n) {
  Bytes chunk;
  for (std::size_t i = 0; i < n; ++i) {
    if (i + 1 < n && data[i] == 0xA5 && data[i + 1] == 0x5A) {
      state.reads.push_back(chunk);
      chunk.clear();
      ++i;
      continue;
    }
    chunk.push_back(data[i]);
  }
  state.reads.push_back(chunk);
}

FT_STATUS ScriptedDriver::Read(FT_HANDLE, LPVOID buffer, DWORD n, LPDWORD read) {
  ++s_.reads_made;
  FT_STATUS status = record("Read " + std::to_string(n), "Read");
  *read = 0;
  if (status != FT_OK) return status;
  if (s_.reads.empty()) return FT_OK;
  Bytes &chunk = s_.reads.front();
  std::size_t take = std::min<std::size_t>(chunk.size(), n);
  if (take > 0) std::memcpy(buffer, chunk.data(), take);
  chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(take));
  if (chunk.empty()) s_.reads.pop_front();
  *read = static_cast<DWORD>(s_.claim_read_count >= 0 ? s_.claim_read_count : take);
  return FT_OK;
}

}  // namespace kmt::testing
