#include "transport/telnet_client.h"

#include <algorithm>
#include <cstring>

namespace kmt::telnet {
namespace {

// Replies are not queued past this much unsent output: a server that floods option
// requests without reading cannot make the client's memory grow.
constexpr std::size_t kMaxQueuedReplies = 256 * 1024;

bool accepted_locally(std::uint8_t option) {
  return option == kOptionBinary || option == kOptionComPort || option == kOptionSuppressGoAhead;
}

bool accepted_remotely(std::uint8_t option) {
  return option == kOptionBinary || option == kOptionSuppressGoAhead;
}

// Line-state bits that mean data was lost or damaged: overrun, parity, framing, break.
constexpr std::uint8_t kLineStateErrors = 0x02 | 0x04 | 0x08 | 0x10;

}  // namespace

Client::Client(std::string own_signature) : own_signature_(std::move(own_signature)) {}

void Client::start() {
  local_asked_[kOptionComPort] = local_asked_[kOptionBinary] = true;
  remote_asked_[kOptionBinary] = true;
  send_verb(kWill, kOptionComPort);
  send_verb(kWill, kOptionBinary);
  send_verb(kDo, kOptionBinary);
}

bool Client::negotiated() const {
  return local_[kOptionComPort] && local_[kOptionBinary] && remote_[kOptionBinary];
}

void Client::send_verb(std::uint8_t verb, std::uint8_t option) {
  if (output_.size() > kMaxQueuedReplies) {
    ++notes_.ignored;
    return;
  }
  output_ += static_cast<char>(kIac);
  output_ += static_cast<char>(verb);
  output_ += static_cast<char>(option);
}

void Client::encode_data(const std::uint8_t *bytes, std::size_t n, std::string *out) {
  const std::uint8_t *end = bytes + n;
  while (bytes < end) {
    const auto *iac = static_cast<const std::uint8_t *>(
        std::memchr(bytes, kIac, static_cast<std::size_t>(end - bytes)));
    const std::uint8_t *run_end = iac != nullptr ? iac + 1 : end;
    out->append(reinterpret_cast<const char *>(bytes), static_cast<std::size_t>(run_end - bytes));
    if (iac != nullptr) *out += static_cast<char>(kIac);
    bytes = run_end;
  }
}

void Client::queue_command(ComPortCommand command, const std::uint8_t *value, std::size_t n) {
  output_ += static_cast<char>(kIac);
  output_ += static_cast<char>(kSb);
  output_ += static_cast<char>(kOptionComPort);
  output_ += static_cast<char>(command);
  encode_data(value, n, &output_);
  output_ += static_cast<char>(kIac);
  output_ += static_cast<char>(kSe);
}

void Client::receive(const std::uint8_t *bytes, std::size_t n, std::vector<std::uint8_t> *data,
                     std::size_t data_limit) {
  const std::uint8_t *end = bytes + n;
  while (bytes < end) {
    if (state_ == State::kData) {
      // The common case: a run of serial data up to the next IAC, copied at once.
      const auto *iac = static_cast<const std::uint8_t *>(
          std::memchr(bytes, kIac, static_cast<std::size_t>(end - bytes)));
      const std::uint8_t *run_end = iac != nullptr ? iac : end;
      std::size_t run = static_cast<std::size_t>(run_end - bytes);
      std::size_t room = data->size() < data_limit ? data_limit - data->size() : 0;
      std::size_t take = std::min(run, room);
      data->insert(data->end(), bytes, bytes + take);
      data_dropped_ += run - take;
      bytes = run_end;
      if (iac != nullptr) {
        state_ = State::kIac;
        ++bytes;
      }
      continue;
    }
    std::uint8_t byte = *bytes++;
    switch (state_) {
      case State::kData:
        break;
      case State::kIac:
        if (byte == kIac) {  // a doubled IAC is one data byte 255
          if (data->size() < data_limit) {
            data->push_back(kIac);
          } else {
            ++data_dropped_;
          }
          state_ = State::kData;
        } else if (byte >= kWill) {
          verb_ = byte;
          state_ = State::kVerb;
        } else if (byte == kSb) {
          state_ = State::kSbOption;
        } else {
          // NOP, data mark, break, interrupt, abort output, are-you-there, erase,
          // go-ahead, a stray SE: nothing for a serial link to do.
          state_ = State::kData;
        }
        break;
      case State::kVerb:
        on_verb(verb_, byte);
        state_ = State::kData;
        break;
      case State::kSbOption:
        sb_option_ = byte;
        sb_.clear();
        sb_truncated_ = false;
        state_ = State::kSbData;
        break;
      case State::kSbData:
        if (byte == kIac) {
          state_ = State::kSbIac;
        } else if (sb_.size() < kMaxSubnegotiation) {
          sb_ += static_cast<char>(byte);
        } else {
          sb_truncated_ = true;
        }
        break;
      case State::kSbIac:
        if (byte == kIac) {
          if (sb_.size() < kMaxSubnegotiation) {
            sb_ += static_cast<char>(kIac);
          } else {
            sb_truncated_ = true;
          }
          state_ = State::kSbData;
        } else if (byte == kSe) {
          on_subnegotiation();
          state_ = State::kData;
        } else {
          // IAC and anything but SE or IAC inside a subnegotiation: the server never
          // ended it. It is dropped, and the byte is read as the command it starts, so
          // that an unterminated subnegotiation cannot swallow the rest of the stream.
          ++notes_.ignored;
          state_ = State::kIac;
          --bytes;
        }
        break;
    }
  }
}

void Client::on_verb(std::uint8_t verb, std::uint8_t option) {
  switch (verb) {
    case kWill:  // the server offers, or agrees, to use an option on its side
      if (remote_[option]) break;
      if (accepted_remotely(option)) {
        remote_[option] = true;
        if (!remote_asked_[option]) send_verb(kDo, option);
        remote_asked_[option] = false;
      } else {
        ++notes_.refused_options;
        send_verb(kDont, option);
      }
      break;
    case kWont:
      if (remote_asked_[option] && option == kOptionBinary) {
        refusal_ = "the server will not send in binary";
      }
      remote_asked_[option] = false;
      if (remote_[option]) {
        remote_[option] = false;
        send_verb(kDont, option);
      }
      break;
    case kDo:  // the server asks the client to use an option on its side
      if (local_[option]) break;
      if (accepted_locally(option)) {
        local_[option] = true;
        if (!local_asked_[option]) send_verb(kWill, option);
        local_asked_[option] = false;
      } else {
        ++notes_.refused_options;
        send_verb(kWont, option);
      }
      break;
    case kDont:
      if (local_asked_[option] && option == kOptionComPort) {
        refusal_ = "the server refuses the COM-port control option (RFC 2217)";
      } else if (local_asked_[option] && option == kOptionBinary) {
        refusal_ = "the server will not receive in binary";
      }
      local_asked_[option] = false;
      if (local_[option]) {
        local_[option] = false;
        send_verb(kWont, option);
      }
      break;
  }
}

void Client::on_subnegotiation() {
  if (sb_truncated_) ++notes_.truncated;
  if (sb_option_ != kOptionComPort || sb_.empty()) {
    ++notes_.ignored;
    return;
  }
  auto code = static_cast<std::uint8_t>(sb_[0]);
  if (code < kServerCode || code >= kServerCode + kComPortCommands) {
    ++notes_.ignored;  // a client's command coming the wrong way, or an unknown code
    return;
  }
  auto command = static_cast<ComPortCommand>(code - kServerCode);
  std::string value = sb_.substr(1);
  if (command == kSignature && value.empty()) {
    // An empty signature from the server asks for the client's.
    if (output_.size() > kMaxQueuedReplies) {
      ++notes_.ignored;
      return;
    }
    queue_command(kSignature, reinterpret_cast<const std::uint8_t *>(own_signature_.data()),
                  own_signature_.size());
    return;
  }
  if (command == kNotifyLineState && !value.empty() &&
      (static_cast<std::uint8_t>(value[0]) & kLineStateErrors) != 0) {
    ++notes_.line_state_errors;
  }
  if (command == kFlowControlSuspend) ++notes_.flow_suspends;
  Answer &answer = answers_[command];
  ++answer.count;
  answer.value = std::move(value);
}

}  // namespace kmt::telnet
