// The client's side of a telnet connection with the COM-port control option (RFC 2217),
// as far as the rfc2217 provider needs it, without any I/O: bytes received go in, the
// serial data they carry and the server's answers come out, and so do the replies the
// client owes (queued in output()). Everything the server sends is untrusted: every
// buffer is bounded and every byte sequence is accepted.
//
// Options: the client offers WILL COM-PORT-OPTION and binary transmission both ways
// (WILL BINARY, DO BINARY); it accepts suppress-go-ahead in both directions and refuses
// every other option (ECHO among them) with DONT or WONT, answering each request only
// when it changes the option's state, so no two sides can loop.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kmt::telnet {

inline constexpr std::uint8_t kSe = 240;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kIac = 255;

inline constexpr std::uint8_t kOptionBinary = 0;
inline constexpr std::uint8_t kOptionSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptionComPort = 44;

// COM-port commands from client to server; the server's answer carries the code + 100.
enum ComPortCommand : std::uint8_t {
  kSignature = 0,
  kSetBaudRate = 1,
  kSetDataSize = 2,
  kSetParity = 3,
  kSetStopSize = 4,
  kSetControl = 5,
  kNotifyLineState = 6,
  kNotifyModemState = 7,
  kFlowControlSuspend = 8,
  kFlowControlResume = 9,
  kSetLineStateMask = 10,
  kSetModemStateMask = 11,
  kPurgeData = 12,
};
inline constexpr std::size_t kComPortCommands = 13;
inline constexpr std::uint8_t kServerCode = 100;

// A subnegotiation's content beyond this many bytes is dropped (the signature is the
// longest answer a server has reason to send).
inline constexpr std::size_t kMaxSubnegotiation = 256;

// What the server said that the client does not act on, for diagnosis.
struct ServerNotes {
  std::uint32_t line_state_errors = 0;  // line-state reports with overrun, parity, framing, break
  std::uint32_t flow_suspends = 0;      // FLOWCONTROL-SUSPEND requests (not honoured)
  std::uint32_t ignored = 0;            // commands of other options, wrong-way commands, ...
  std::uint32_t truncated = 0;          // subnegotiations longer than kMaxSubnegotiation
  std::uint32_t refused_options = 0;    // option requests refused
};

class Client {
 public:
  // The signature the client answers a server's signature request with.
  explicit Client(std::string own_signature = "kmtv1");

  // Queues the client's opening offers.
  void start();

  // Decodes received bytes. Serial data is appended to *data while data->size() stays
  // below data_limit; data beyond it is dropped and counted (a receive buffer overrun).
  void receive(const std::uint8_t *bytes, std::size_t n, std::vector<std::uint8_t> *data,
               std::size_t data_limit);

  // Serial data for the wire, IAC doubled.
  static void encode_data(const std::uint8_t *bytes, std::size_t n, std::string *out);
  // Queues a COM-port command with its value (IAC in the value doubled).
  void queue_command(ComPortCommand command, const std::uint8_t *value, std::size_t n);

  // Bytes the client must send, in order; the caller sends and erases from the front.
  std::string &output() { return output_; }

  // Binary both ways and the COM-port option accepted by the server.
  bool negotiated() const;
  // Non-empty when the server refused an option the client needs.
  const std::string &refusal() const { return refusal_; }

  // How many answers to a command have arrived, and the value of the last one.
  std::uint32_t answer_count(ComPortCommand command) const { return answers_[command].count; }
  const std::string &answer(ComPortCommand command) const { return answers_[command].value; }

  const ServerNotes &notes() const { return notes_; }
  std::uint64_t data_dropped() const { return data_dropped_; }

 private:
  enum class State : std::uint8_t { kData, kIac, kVerb, kSbOption, kSbData, kSbIac };

  void on_verb(std::uint8_t verb, std::uint8_t option);
  void on_subnegotiation();
  void send_verb(std::uint8_t verb, std::uint8_t option);

  struct Answer {
    std::uint32_t count = 0;
    std::string value;
  };

  std::string own_signature_;
  State state_ = State::kData;
  std::uint8_t verb_ = 0;
  std::uint8_t sb_option_ = 0;
  std::string sb_;
  bool sb_truncated_ = false;
  // Option states: ours (WILL/WONT) and the server's (DO/DONT), with what we asked for.
  std::array<bool, 256> local_{};
  std::array<bool, 256> remote_{};
  std::array<bool, 256> local_asked_{};
  std::array<bool, 256> remote_asked_{};
  std::array<Answer, kComPortCommands> answers_{};
  std::string output_;
  std::string refusal_;
  ServerNotes notes_;
  std::uint64_t data_dropped_ = 0;
};

}  // namespace kmt::telnet
