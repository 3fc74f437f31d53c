// The controller's side of the frame format: a byte-stream parser for requests and
// the encoder of responses. Written here on purpose instead of shared with the
// library, so that a fault in one is not mirrored by the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kmt::sim {

// Result bytes the controller core sends (families refuse with their own values,
// 1 by default; the core's values sit high so that the two never meet).
inline constexpr std::uint8_t kResultBadChecksum = 0xE1;     // request checksum mismatch
inline constexpr std::uint8_t kResultUnknownCommand = 0xE2;  // no handler for group/command
inline constexpr std::uint8_t kResultTooLong = 0xE3;         // request payload above the buffer
inline constexpr std::uint8_t kResultInternal = 0xEF;        // a handler failed (threw)

inline constexpr std::uint8_t kPrefixLow = 0x10;
inline constexpr std::uint8_t kPrefixHigh = 0x00;
inline constexpr std::uint8_t kShortRequestGroup = 8;
// The controller's receive buffer: the largest request payload it accepts.
inline constexpr std::size_t kMaxRequestPayload = 16385;
// The length field is 16 bits wide.
inline constexpr std::size_t kMaxResponsePayload = 0xFFFF;

// One complete request as the parser saw it.
struct Request {
  bool is_short = false;  // the three-byte short request (no command, length or checksum)
  std::uint8_t group = 0;
  std::uint8_t command = 0;
  std::vector<std::uint8_t> payload;
  bool checksum_ok = true;
};

// Splits the incoming byte stream into requests. Bytes outside a frame (anything
// before the prefix 0x10 0x00) are counted as noise and dropped. A frame may arrive
// in any number of pieces; a started frame waits for its remaining bytes until
// reset() (purge, device reset, close, link change).
class RequestParser {
 public:
  // Feeds bytes; completed requests are appended to *out.
  void feed(std::span<const std::uint8_t> bytes, std::vector<Request> *out);
  void reset();
  bool in_frame() const { return state_ != State::kPrefixLow; }
  std::uint64_t noise_bytes() const { return noise_; }

 private:
  enum class State {
    kPrefixLow,
    kPrefixHigh,
    kGroup,
    kCommand,
    kLengthLow,
    kLengthHigh,
    kPayload,
    kChecksum
  };
  State state_ = State::kPrefixLow;
  Request current_;
  std::size_t length_ = 0;
  unsigned sum_ = 0;
  std::uint64_t noise_ = 0;
};

// A response frame: result byte, length (low byte first), payload, checksum over all
// of them. announced_length lets a fault claim more bytes than follow.
std::vector<std::uint8_t> encode_response(std::uint8_t result,
                                          std::span<const std::uint8_t> payload,
                                          std::size_t announced_length);

}  // namespace kmt::sim
