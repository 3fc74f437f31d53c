// One request frame out, one response frame back: checksum, retries, status.
#include <algorithm>
#include <cstring>

#include "protocol/byte_blocks.h"
#include "protocol/bytes.h"
#include "protocol/session.h"

namespace kmt {

namespace {
// Prefix, group, command and length come before the request payload.
constexpr std::size_t kRequestHeader = 6;
}  // namespace

Session::Session(Transport &transport, Platform &platform)
    : transport_(transport), platform_(platform) {}

void Session::send_comm(std::uint32_t *handle, std::uint16_t frame_prefix, std::uint8_t group,
                        std::uint8_t command, std::int32_t response_delay_ms, std::uint8_t *buffer,
                        std::uint16_t *length, std::int32_t *status) {
  transport_.device_handle = *handle;
  tx_length_ = *length;
  // Device functions pass tx_payload itself, holding the request they have just
  // written in full. They decode from the response buffer, and no byte of the payload
  // buffer past a request is ever sent or read, so copying the response back onto it
  // would change nothing anyone can see: that copy is left out.
  const bool device_function = buffer == tx_payload_.data();
  if (!device_function && tx_length_ > 0) {
    // The whole buffer travels whatever the length.
    std::memmove(tx_payload_.data(), buffer, kPayloadSize);
  }
  exchange_frame(frame_prefix, group, command, response_delay_ms);
  *length = rx_length_;
  if (!device_function) std::memmove(buffer, rx_payload_.data(), kPayloadSize);
  *status = comm_status_;
  *handle = transport_.device_handle;
}

void Session::exchange_frame(std::uint16_t frame_prefix, std::uint8_t group, std::uint8_t command,
                             std::int32_t response_delay_ms) {
  comm_status_ = kStatusOk;
  if (!device_open_) {
    comm_status_ = kStatusNotOpen;
    return;
  }
  if (group == kShortRequestGroup) {
    exchange_short(frame_prefix);
    return;
  }
  // A request longer than the payload buffer cannot be framed: refuse it before the
  // link is touched, as a failed exchange with no response.
  if (tx_length_ > kPayloadSize) {
    comm_status_ = kStatusBadResponse;
    rx_length_ = 0;
    return;
  }

  transport_.purge_rx();

  auto &out = transport_.out_buffer;
  out[0] = low_byte(frame_prefix);
  out[1] = high_byte(frame_prefix);
  out[2] = group;
  out[3] = command;
  out[4] = low_byte(tx_length_);
  out[5] = high_byte(tx_length_);
  std::memcpy(out.data() + kRequestHeader, tx_payload_.data(), tx_length_);
  const std::size_t at = kRequestHeader + tx_length_;
  out[at] = add_bytes(0, out.data(), at);
  transport_.write(static_cast<std::uint32_t>(at + 1));
  if (transport_.io_status != d2xx::FT_OK) comm_status_ = kStatusNotOpen;
  if (response_delay_ms > 0) platform_.sleep_ms(static_cast<std::uint32_t>(response_delay_ms));
  if (comm_status_ == kStatusNotOpen) {
    rx_length_ = 0;
    return;
  }

  // The header: one read, then up to kRetryLimit more with a 1 ms pause after each
  // that again came short. A partial header read is dropped with its bytes.
  std::uint32_t got = transport_.read(3);
  for (std::int32_t attempts = 0; got < 3 && attempts < kRetryLimit; ++attempts) {
    got = transport_.read(3);
    if (got < 3) platform_.sleep_ms(1);
  }
  const auto &in = transport_.in_buffer;
  if (got < 3) comm_status_ = kStatusBadResponse;
  if (got == 3 && in[0] != 0) comm_status_ = kStatusBadResponse;
  rx_length_ = 0;
  if (comm_status_ != kStatusOk) return;

  std::uint8_t running = static_cast<std::uint8_t>(in[0] + in[1] + in[2]);
  std::uint16_t announced = MakeWord(in[1], in[2]);
  // An announcement beyond the response buffer is refused before anything is read
  // into it; the response is then treated like one with a non-zero result byte.
  if (announced > kMaxResponseLength) {
    comm_status_ = kStatusBadResponse;
    return;
  }
  rx_length_ = announced;
  read_exact(static_cast<std::uint32_t>(rx_length_) + 1);
  if (comm_status_ == kStatusOk) {
    running = add_bytes(running, rx_payload_.data(), rx_length_);
    if (running != rx_payload_[rx_length_]) comm_status_ = kStatusBadResponse;
  }
}

void Session::exchange_short(std::uint16_t frame_prefix) {
  rx_length_ = 0;
  transport_.purge_rx();
  auto &out = transport_.out_buffer;
  out[0] = low_byte(frame_prefix);
  out[1] = high_byte(frame_prefix);
  out[2] = kShortRequestGroup;
  transport_.write(3);
  if (transport_.read(3) < 3) comm_status_ = kStatusBadResponse;
  if (transport_.io_status != d2xx::FT_OK) comm_status_ = kStatusNotOpen;
}

void Session::read_exact(std::uint32_t n) {
  std::uint32_t collected = 0;
  for (std::int32_t attempts = 0; collected < n && attempts < kRetryLimit; ++attempts) {
    if (collected == 0) {
      // Nothing collected yet: the driver fills the payload buffer directly (n never
      // exceeds it), sparing a copy of the whole response.
      collected = transport_.read_into(rx_payload_.data(), n);
      continue;
    }
    std::uint32_t got = transport_.read(n);
    // The driver is asked for the full count every time; whatever it brings beyond
    // the bytes still missing is dropped.
    std::uint32_t take = std::min(got, n - collected);
    std::memcpy(rx_payload_.data() + collected, transport_.in_buffer.data(), take);
    collected += take;
  }
  if (collected < n) comm_status_ = kStatusBadResponse;
}

}  // namespace kmt
