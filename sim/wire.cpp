#include "sim/wire.h"

namespace kmt::sim {

void RequestParser::reset() {
  state_ = State::kPrefixLow;
  current_ = Request{};
  length_ = 0;
  sum_ = 0;
}

void RequestParser::feed(std::span<const std::uint8_t> bytes, std::vector<Request> *out) {
  for (std::uint8_t b : bytes) {
    switch (state_) {
      case State::kPrefixLow:
        if (b == kPrefixLow) {
          state_ = State::kPrefixHigh;
        } else {
          ++noise_;
        }
        break;
      case State::kPrefixHigh:
        if (b == kPrefixHigh) {
          state_ = State::kGroup;
          sum_ = kPrefixLow + kPrefixHigh;
        } else if (b == kPrefixLow) {
          ++noise_;  // the earlier 0x10 was noise; this one may start the prefix
        } else {
          noise_ += 2;
          state_ = State::kPrefixLow;
        }
        break;
      case State::kGroup:
        if (b == kShortRequestGroup) {
          Request shortened;
          shortened.is_short = true;
          shortened.group = b;
          out->push_back(std::move(shortened));
          reset();
          break;
        }
        current_.group = b;
        sum_ += b;
        state_ = State::kCommand;
        break;
      case State::kCommand:
        current_.command = b;
        sum_ += b;
        state_ = State::kLengthLow;
        break;
      case State::kLengthLow:
        length_ = b;
        sum_ += b;
        state_ = State::kLengthHigh;
        break;
      case State::kLengthHigh:
        length_ |= static_cast<std::size_t>(b) << 8;
        sum_ += b;
        current_.payload.reserve(length_);
        state_ = length_ == 0 ? State::kChecksum : State::kPayload;
        break;
      case State::kPayload:
        current_.payload.push_back(b);
        sum_ += b;
        if (current_.payload.size() == length_) state_ = State::kChecksum;
        break;
      case State::kChecksum:
        current_.checksum_ok = (sum_ & 0xFFu) == b;
        out->push_back(std::move(current_));
        reset();
        break;
    }
  }
}

std::vector<std::uint8_t> encode_response(std::uint8_t result,
                                          std::span<const std::uint8_t> payload,
                                          std::size_t announced_length) {
  std::vector<std::uint8_t> frame;
  frame.reserve(payload.size() + 4);
  frame.push_back(result);
  frame.push_back(static_cast<std::uint8_t>(announced_length & 0xFFu));
  frame.push_back(static_cast<std::uint8_t>((announced_length >> 8) & 0xFFu));
  frame.insert(frame.end(), payload.begin(), payload.end());
  unsigned sum = 0;
  for (std::uint8_t b : frame) sum += b;
  frame.push_back(static_cast<std::uint8_t>(sum & 0xFFu));
  return frame;
}

}  // namespace kmt::sim
