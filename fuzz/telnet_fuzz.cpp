// The telnet layer of the network provider against anything a server may send: the
// input is the server's byte stream. It is decoded twice, whole and in pieces whose
// sizes the input's first bytes choose, and both must give the same serial data, the
// same replies and the same COM-port answers (a command cut anywhere decodes the same).
// Serial data encoded for the wire must decode back to itself. Memory stays bounded.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "transport/telnet_client.h"

namespace {

struct Decoded {
  std::vector<std::uint8_t> data;
  kmt::telnet::Client client;
};

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *input, std::size_t size) {
  using kmt::telnet::Client;
  if (size < 2) return 0;
  // Byte 0: the data limit (small, so that overruns happen); byte 1: starts the piece sizes.
  const std::size_t limit = static_cast<std::size_t>(input[0]) * 4;
  std::uint32_t cut = input[1] | 1u;  // a small generator of piece sizes
  const std::uint8_t *stream = input + 2;
  const std::size_t n = size - 2;

  Decoded whole, pieces;
  whole.client.start();
  pieces.client.start();
  whole.client.receive(stream, n, &whole.data, limit);
  for (std::size_t at = 0; at < n;) {
    cut = cut * 1103515245u + 12345u;
    std::size_t piece = 1 + (cut >> 16) % 7;
    if (piece > n - at) piece = n - at;
    pieces.client.receive(stream + at, piece, &pieces.data, limit);
    at += piece;
  }
  check(whole.data == pieces.data);
  check(whole.data.size() <= limit);
  check(whole.data.size() + whole.client.data_dropped() <= n);
  check(whole.client.output() == pieces.client.output());
  check(whole.client.negotiated() == pieces.client.negotiated());
  check(whole.client.refusal() == pieces.client.refusal());
  for (std::size_t c = 0; c < kmt::telnet::kComPortCommands; ++c) {
    auto command = static_cast<kmt::telnet::ComPortCommand>(c);
    check(whole.client.answer_count(command) == pieces.client.answer_count(command));
    check(whole.client.answer(command) == pieces.client.answer(command));
    check(whole.client.answer(command).size() < kmt::telnet::kMaxSubnegotiation);
  }
  // Replies are at most three bytes per three received, or one signature per request.
  check(whole.client.output().size() <= 9 + 2 * n + 16 * n);

  // The stream as serial data, encoded and decoded again, is itself.
  std::string wire;
  Client::encode_data(stream, n, &wire);
  Client plain;
  std::vector<std::uint8_t> back;
  plain.receive(reinterpret_cast<const std::uint8_t *>(wire.data()), wire.size(), &back, n);
  check(back.size() == n && std::equal(back.begin(), back.end(), stream));
  check(plain.output().empty());
  return 0;
}
