// The network provider: telnet with the COM-port control option over TCP.
#include "transport/rfc2217_driver.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <set>

#include "platform/platform.h"
#include "platform/socket.h"
#include "transport/deadline.h"
#include "transport/telnet_client.h"

namespace kmt {
namespace {

using namespace d2xx;
using telnet::ComPortCommand;

// Every wait on the server is bounded. Connecting and negotiating are given time for a
// slow network; the signature is only a name, asked for while listing.
constexpr int kConnectMs = 3000;
constexpr int kNegotiateMs = 3000;
constexpr int kAnswerMs = 3000;
constexpr int kSignatureMs = 1500;
// Received serial data not yet read, at most; more is dropped, as a bridge's receive
// buffer overruns. A response frame is far smaller.
constexpr std::size_t kMaxBuffered = 1 << 20;
// ListDevices fills a buffer of 64 bytes: the serial string and its NUL.
constexpr std::size_t kMaxSerialLength = 63;
// RFC 2217 values: data size 8 and 7; parity none, odd, even, mark, space (D2XX 0..4);
// stop bits one, two; flow control none, XON/XOFF, RTS/CTS.
constexpr std::uint8_t kParityCodes[] = {1, 2, 3, 4, 5};
constexpr std::uint8_t kStopOne = 1, kStopTwo = 2;
constexpr std::uint8_t kFlowNone = 1, kFlowXonXoff = 2, kFlowHardware = 3;
constexpr std::uint8_t kPurgeReceive = 1, kPurgeTransmit = 2, kPurgeBoth = 3;

struct Target {
  std::string text;  // HOST:PORT as given, for messages
  std::string host;
  std::string port;
  std::string serial;  // given with =SERIAL; empty: the server's signature
};

bool parse_targets(const std::string &text, std::vector<Target> *targets, std::string *error) {
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find('+', start);
    std::string item = text.substr(start, end == std::string::npos ? end : end - start);
    Target t;
    std::size_t eq = item.find('=');
    std::string address = item.substr(0, eq);
    if (eq != std::string::npos) t.serial = item.substr(eq + 1);
    std::size_t colon = address.rfind(':');
    bool bracketed = !address.empty() && address[0] == '[';
    if (colon != std::string::npos) {
      t.host = address.substr(0, colon);
      t.port = address.substr(colon + 1);
    }
    if (bracketed && t.host.size() >= 2 && t.host.back() == ']') {
      t.host = t.host.substr(1, t.host.size() - 2);
    } else if (bracketed || t.host.find(':') != std::string::npos) {
      t.host.clear();  // an IPv6 address must be bracketed
    }
    bool port_ok =
        !t.port.empty() && t.port.size() <= 5 &&
        std::all_of(t.port.begin(), t.port.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
        std::stoul(t.port) >= 1 && std::stoul(t.port) <= 65535;
    bool serial_ok =
        eq == std::string::npos || (!t.serial.empty() && t.serial.size() <= kMaxSerialLength);
    if (t.host.empty() || !port_ok || !serial_ok) {
      *error = "rfc2217: \"" + item +
               "\" is not HOST:PORT[=SERIAL] (port 1 to 65535, [IPv6 address], a serial of 1 "
               "to 63 characters)";
      return false;
    }
    t.text = address;
    for (const Target &other : *targets) {
      if (!t.serial.empty() && other.serial == t.serial) {
        *error = "rfc2217: serial \"" + t.serial + "\" is given twice";
        return false;
      }
    }
    targets->push_back(std::move(t));
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

// Text the server sent as data, printable, for a message (ser2net explains a refusal
// this way: "Port already in use").
std::string printable(const std::uint8_t *bytes, std::size_t n) {
  std::string text;
  for (std::size_t i = 0; i < n && text.size() < 120; ++i) {
    char c = static_cast<char>(bytes[i]);
    if (c >= 32 && c < 127) text += c;
    if ((c == '\r' || c == '\n') && !text.empty() && text.back() != ' ') text += ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// One connection to one server.
class Link {
 public:
  Link() = default;
  Link(const Link &) = delete;
  Link &operator=(const Link &) = delete;
  ~Link() { close(); }

  // Connects and negotiates the options; when want_signature, also asks for the
  // server's signature. Either way one COM-port answer must come back, which proves
  // that the server took this client (a busy port is refused only after negotiation).
  FT_STATUS open(const Target &target, bool want_signature, std::string *why) {
    bool refused = false;
    socket_ = platform::tcp_connect(target.host, target.port, kConnectMs, why, &refused);
    if (socket_ == platform::kNoSocket) {
      *why = (refused ? "nothing listening: " : "cannot connect: ") + *why;
      return FT_DEVICE_NOT_FOUND;
    }
    telnet_.start();
    auto deadline = Clock::now() + std::chrono::milliseconds(kNegotiateMs);
    wait_until(deadline, [&] { return telnet_.negotiated() || !telnet_.refusal().empty(); });
    if (telnet_.negotiated()) {
      if (want_signature) telnet_.queue_command(telnet::kSignature, nullptr, 0);
      // Baud rate 0 asks for the current rate without changing it.
      const std::uint8_t query[4] = {};
      std::uint32_t before = telnet_.answer_count(telnet::kSetBaudRate);
      telnet_.queue_command(telnet::kSetBaudRate, query, sizeof query);
      deadline = Clock::now() + std::chrono::milliseconds(kAnswerMs);
      wait_until(deadline, [&] { return telnet_.answer_count(telnet::kSetBaudRate) != before; });
      if (!failed_ && telnet_.answer_count(telnet::kSetBaudRate) != before) {
        rx_.clear();  // whatever the server said before the link is set is not data
        rx_head_ = 0;
        return FT_OK;
      }
    }
    std::string said = printable(rx_.data() + rx_head_, rx_.size() - rx_head_);
    if (!telnet_.refusal().empty()) {
      *why = telnet_.refusal();
    } else if (failed_) {
      *why = "the server closed the connection" + (said.empty() ? "" : ": \"" + said + "\"");
    } else if (!telnet_.negotiated()) {
      *why = "no telnet COM-port negotiation within " + std::to_string(kNegotiateMs) +
             " ms (is the port's accepter telnet(rfc2217)?)";
    } else {
      *why = "no answer to a COM-port command within " + std::to_string(kAnswerMs) + " ms";
    }
    close();
    return FT_DEVICE_NOT_OPENED;
  }

  // The signature asked for by open, waited for up to kSignatureMs; empty when none came.
  std::string signature() {
    auto deadline = Clock::now() + std::chrono::milliseconds(kSignatureMs);
    wait_until(deadline, [&] { return telnet_.answer_count(telnet::kSignature) != 0; });
    const std::string &s = telnet_.answer(telnet::kSignature);
    return s.substr(0, std::min(s.size(), kMaxSerialLength));
  }

  // Sends COM-port commands and waits for an answer to each; *answers receives them.
  FT_STATUS commands(const std::vector<std::pair<ComPortCommand, std::string>> &list,
                     std::vector<std::string> *answers) {
    if (failed_) return FT_IO_ERROR;
    std::vector<std::uint32_t> before;
    for (const auto &[command, value] : list) {
      before.push_back(telnet_.answer_count(command));
      telnet_.queue_command(command, reinterpret_cast<const std::uint8_t *>(value.data()),
                            value.size());
    }
    auto answered = [&] {
      for (std::size_t i = 0; i < list.size(); ++i) {
        if (telnet_.answer_count(list[i].first) == before[i]) return false;
      }
      return true;
    };
    auto deadline = Clock::now() + std::chrono::milliseconds(kAnswerMs);
    wait_until(deadline, answered);
    if (failed_) return FT_IO_ERROR;
    // A server that does not answer its own protocol is not one to keep talking to.
    if (!answered()) return fail();
    answers->clear();
    for (const auto &item : list) answers->push_back(telnet_.answer(item.first));
    return FT_OK;
  }

  FT_STATUS write(const std::uint8_t *bytes, DWORD n, DWORD *written) {
    *written = 0;
    if (failed_) return FT_IO_ERROR;
    const std::uint64_t start = sent_ + out().size();
    telnet::Client::encode_data(bytes, n, &out());
    const std::uint64_t end = sent_ + out().size();
    auto deadline = Clock::now() + std::chrono::milliseconds(write_ms);
    while (sent_ < end) {
      if (!send_queued()) return fail();
      if (sent_ >= end) break;
      int wait = write_ms == 0 ? -1 : remaining_ms(deadline);
      if (write_ms != 0 && wait == 0) break;
      platform::SocketReady ready = platform::socket_wait(socket_, true, wait);
      if (ready.failed) return fail();
      // Reading on while the server is slow to take data keeps both sides moving.
      if (ready.readable && !receive_available()) return fail();
    }
    *written = sent_ >= end ? n : take_back_unsent(bytes, n, start, end);
    return FT_OK;
  }

  FT_STATUS read(std::uint8_t *bytes, DWORD n, DWORD *read) {
    *read = 0;
    if (failed_) return FT_IO_ERROR;
    auto deadline = Clock::now() + std::chrono::milliseconds(read_ms);
    DWORD got = take(bytes, n);
    while (got < n) {
      int wait = read_ms == 0 ? -1 : remaining_ms(deadline);
      if (read_ms != 0 && wait == 0) break;
      if (!pump(wait)) {
        *read = got;
        return FT_IO_ERROR;
      }
      got += take(bytes + got, n - got);
    }
    if (got < n) receive_clean_ = false;  // the rest may still be on its way
    *read = got;
    return FT_OK;
  }

  FT_STATUS purge(std::uint8_t which) {
    if (failed_) return FT_IO_ERROR;
    if (which & kPurgeReceive) {
      if (!receive_available()) return fail();
      if (rx_head_ != rx_.size()) receive_clean_ = false;  // bytes nobody read
      rx_.clear();
      rx_head_ = 0;
      // The server's receive queue is purged only when stale bytes may be in it: after
      // the open, a short read or bytes left unread. Its answer would otherwise travel
      // just ahead of the next response, and a server that delays small packets (Nagle)
      // holds that response back until this side acknowledges the answer: up to 40 ms.
      if (receive_clean_) which &= ~kPurgeReceive;
      receive_clean_ = true;
    }
    // Queued, not sent: it reaches the server ahead of the next request, in one packet.
    if (which != 0) telnet_.queue_command(telnet::kPurgeData, &which, 1);
    return FT_OK;
  }

  void close() {
    if (socket_ == platform::kNoSocket) return;
    if (!failed_) send_queued();  // a last purge or setting, where the socket takes it
    platform::socket_close(socket_);
    socket_ = platform::kNoSocket;
  }

  bool failed() const { return failed_; }
  const telnet::ServerNotes &notes() const { return telnet_.notes(); }

  ULONG read_ms = 0;
  ULONG write_ms = 0;
  std::size_t target = 0;
  std::string serial;

 private:
  std::string &out() { return telnet_.output(); }

  FT_STATUS fail() {
    failed_ = true;
    return FT_IO_ERROR;
  }

  // Sends what is queued as far as the socket takes it now; false when it failed.
  bool send_queued() {
    std::string &o = out();
    std::size_t done = 0;
    while (done < o.size()) {
      long r = platform::socket_send(socket_, o.data() + done, o.size() - done);
      if (r < 0) {
        failed_ = true;
        break;
      }
      if (r == 0) break;
      done += static_cast<std::size_t>(r);
    }
    o.erase(0, done);
    sent_ += done;
    return !failed_;
  }

  // Receives and decodes what has arrived, without waiting; false when the connection
  // ended or failed.
  bool receive_available() {
    std::uint8_t chunk[16384];
    if (rx_head_ == rx_.size()) {
      rx_.clear();
      rx_head_ = 0;
    } else if (rx_head_ > 65536) {
      rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(rx_head_));
      rx_head_ = 0;
    }
    // Bounded: a server that sends without pause still lets the caller return.
    for (int i = 0; i < 64; ++i) {
      long r = platform::socket_receive(socket_, chunk, sizeof chunk);
      if (r < 0) {
        failed_ = true;
        return false;
      }
      if (r == 0) break;
      telnet_.receive(chunk, static_cast<std::size_t>(r), &rx_, rx_head_ + kMaxBuffered);
      if (static_cast<std::size_t>(r) < sizeof chunk) break;
    }
    return send_queued();  // replies the bytes called for
  }

  // Sends what is queued, waits up to wait_ms for the server, takes in what came.
  bool pump(int wait_ms) {
    if (!send_queued()) return false;
    platform::SocketReady ready = platform::socket_wait(socket_, !out().empty(), wait_ms);
    if (ready.failed) {
      failed_ = true;
      return false;
    }
    if (ready.writable && !send_queued()) return false;
    return !ready.readable || receive_available();
  }

  template <class Done>
  void wait_until(Clock::time_point deadline, Done done) {
    while (!failed_ && !done()) {
      int wait = remaining_ms(deadline);
      if (wait == 0 || !pump(wait)) return;
    }
  }

  DWORD take(std::uint8_t *bytes, DWORD n) {
    std::size_t k = std::min<std::size_t>(n, rx_.size() - rx_head_);
    if (k > 0) std::memcpy(bytes, rx_.data() + rx_head_, k);
    rx_head_ += k;
    return static_cast<DWORD>(k);
  }

  // After a write time-out: the data's unsent part [start, end) of the stream (stream
  // positions count every byte queued) is taken back out of the queue, as a bridge's
  // driver writes only part of a buffer, and the count of data bytes sent is returned.
  // A doubled IAC cut in two still sends its second half, and counts as sent.
  DWORD take_back_unsent(const std::uint8_t *bytes, DWORD n, std::uint64_t start,
                         std::uint64_t end) {
    std::uint64_t sent_encoded = sent_ > start ? sent_ - start : 0;
    DWORD count = 0;
    std::uint64_t encoded = 0;
    bool split = false;
    while (count < n) {
      std::uint64_t width = bytes[count] == telnet::kIac ? 2 : 1;
      if (encoded + width > sent_encoded) {
        split = encoded < sent_encoded;  // one half of a doubled IAC went out
        break;
      }
      encoded += width;
      ++count;
    }
    std::size_t from = static_cast<std::size_t>(std::max(start, sent_) - sent_);
    std::size_t to = static_cast<std::size_t>(end - sent_);
    out().erase(from, to - from);
    if (split) {
      out().insert(from, 1, static_cast<char>(telnet::kIac));
      ++count;
    }
    return count;
  }

  platform::Socket socket_ = platform::kNoSocket;
  telnet::Client telnet_;
  std::vector<std::uint8_t> rx_;
  std::size_t rx_head_ = 0;
  std::uint64_t sent_ = 0;  // bytes sent since the connection began
  bool failed_ = false;
  bool receive_clean_ = false;  // nothing stale can be in the server's receive queue
};

class Rfc2217Driver final : public Driver {
 public:
  explicit Rfc2217Driver(std::vector<Target> targets) : targets_(std::move(targets)) {}

  FT_STATUS ListDevices(PVOID arg1, PVOID arg2, DWORD flags) override {
    if (flags == FT_LIST_NUMBER_ONLY) {
      if (arg1 == nullptr) return FT_INVALID_PARAMETER;
      list();
      *static_cast<DWORD *>(arg1) = static_cast<DWORD>(listed_.size());
      return FT_OK;
    }
    if (flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER)) {
      if (arg2 == nullptr) return FT_INVALID_PARAMETER;
      if (!listed_once_) list();
      // The index travels as the pointer's integer value, as the D2XX call defines it.
      auto index = reinterpret_cast<std::uintptr_t>(arg1);
      if (index >= listed_.size() || listed_[index].empty()) return FT_DEVICE_NOT_FOUND;
      const std::string &serial = listed_[index];
      std::memcpy(arg2, serial.data(), serial.size());
      static_cast<char *>(arg2)[serial.size()] = '\0';
      return FT_OK;
    }
    return FT_INVALID_PARAMETER;
  }

  FT_STATUS OpenEx(PVOID arg, DWORD flags, FT_HANDLE *handle) override {
    if (arg == nullptr || handle == nullptr || flags != FT_OPEN_BY_SERIAL_NUMBER) {
      return FT_INVALID_PARAMETER;
    }
    std::string serial(static_cast<const char *>(arg));
    if (serial.empty()) return FT_DEVICE_NOT_FOUND;
    // Targets named with this serial, then those whose signature was this serial when
    // last asked, then those not asked yet: each asked afresh, as its server may now
    // serve another controller.
    std::vector<std::size_t> order;
    for (int pass = 0; pass < 3; ++pass) {
      for (std::size_t i = 0; i < targets_.size(); ++i) {
        const Target &t = targets_[i];
        bool match = pass == 0   ? t.serial == serial
                     : pass == 1 ? t.serial.empty() && signatures_[i] == serial
                                 : t.serial.empty() && signatures_[i].empty();
        if (match) order.push_back(i);
      }
    }
    FT_STATUS status = FT_DEVICE_NOT_FOUND;
    for (std::size_t i : order) {
      if (is_open(i)) {
        status = FT_DEVICE_NOT_OPENED;  // the server serves one client at a time
        continue;
      }
      const Target &t = targets_[i];
      auto link = std::make_unique<Link>();
      std::string why;
      FT_STATUS opened = link->open(t, t.serial.empty(), &why);
      if (opened != FT_OK) {
        // The most telling failure wins: a refusal over nothing found.
        if (status == FT_DEVICE_NOT_FOUND) status = opened;
        continue;
      }
      if (t.serial.empty()) {
        signatures_[i] = link->signature();
        if (signatures_[i] != serial) continue;
      }
      link->target = i;
      link->serial = serial;
      auto value = next_handle_++;
      links_.emplace(value, std::move(link));
      *handle = reinterpret_cast<FT_HANDLE>(value);
      return FT_OK;
    }
    return status;
  }

  FT_STATUS Close(FT_HANDLE handle) override {
    auto it = links_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == links_.end()) return FT_INVALID_HANDLE;
    links_.erase(it);  // the Link's destructor closes the connection
    return FT_OK;
  }

  FT_STATUS ResetDevice(FT_HANDLE handle) override {
    return with_link(handle, [&](Link &l) { return l.purge(kPurgeBoth); });
  }

  FT_STATUS Purge(FT_HANDLE handle, ULONG mask) override {
    return with_link(handle, [&](Link &l) {
      if (mask == 0 || (mask & ~(FT_PURGE_RX | FT_PURGE_TX)) != 0) return FT_INVALID_PARAMETER;
      std::uint8_t which = mask == (FT_PURGE_RX | FT_PURGE_TX) ? kPurgeBoth
                           : mask == FT_PURGE_RX               ? kPurgeReceive
                                                               : kPurgeTransmit;
      return l.purge(which);
    });
  }

  FT_STATUS SetBaudRate(FT_HANDLE handle, ULONG baud) override {
    return with_link(handle, [&](Link &l) {
      if (baud == 0) return FT_INVALID_BAUD_RATE;
      std::string value = {static_cast<char>(baud >> 24), static_cast<char>(baud >> 16),
                           static_cast<char>(baud >> 8), static_cast<char>(baud)};
      std::vector<std::string> answers;
      FT_STATUS status = l.commands({{telnet::kSetBaudRate, value}}, &answers);
      if (status != FT_OK) return status;
      return answers[0] == value ? FT_OK : FT_INVALID_BAUD_RATE;
    });
  }

  FT_STATUS SetDataCharacteristics(FT_HANDLE handle, UCHAR word_length, UCHAR stop_bits,
                                   UCHAR parity) override {
    return with_link(handle, [&](Link &l) {
      // D2XX codes: 7 or 8 data bits; stop bits 0 (one) or 2 (two); parity 0..4.
      if ((word_length != 7 && word_length != 8) || (stop_bits != 0 && stop_bits != 2) ||
          parity > 4) {
        return FT_INVALID_PARAMETER;
      }
      std::vector<std::pair<ComPortCommand, std::string>> list = {
          {telnet::kSetDataSize, std::string(1, static_cast<char>(word_length))},
          {telnet::kSetParity, std::string(1, static_cast<char>(kParityCodes[parity]))},
          {telnet::kSetStopSize,
           std::string(1, static_cast<char>(stop_bits == 2 ? kStopTwo : kStopOne))},
      };
      return settle(l, list);
    });
  }

  FT_STATUS SetFlowControl(FT_HANDLE handle, USHORT flow, UCHAR, UCHAR) override {
    return with_link(handle, [&](Link &l) {
      // D2XX codes: none 0, RTS/CTS 0x0100, DTR/DSR 0x0200 (no COM-port form), XON/XOFF
      // 0x0400. The XON and XOFF characters have no COM-port command: the server's own
      // (DC1, DC3) apply.
      if (flow != 0 && flow != 0x0100 && flow != 0x0400) return FT_INVALID_PARAMETER;
      std::uint8_t code = flow == 0 ? kFlowNone : flow == 0x0100 ? kFlowHardware : kFlowXonXoff;
      return settle(l, {{telnet::kSetControl, std::string(1, static_cast<char>(code))}});
    });
  }

  FT_STATUS SetTimeouts(FT_HANDLE handle, ULONG read_ms, ULONG write_ms) override {
    return with_link(handle, [&](Link &l) {
      l.read_ms = read_ms;
      l.write_ms = write_ms;
      return FT_OK;
    });
  }

  FT_STATUS Write(FT_HANDLE handle, LPVOID buffer, DWORD n, LPDWORD written) override {
    if (written != nullptr) *written = 0;
    return with_link(handle, [&](Link &l) {
      if (written == nullptr || (buffer == nullptr && n > 0)) return FT_INVALID_PARAMETER;
      return l.write(static_cast<const std::uint8_t *>(buffer), n, written);
    });
  }

  FT_STATUS Read(FT_HANDLE handle, LPVOID buffer, DWORD n, LPDWORD read) override {
    if (read != nullptr) *read = 0;
    return with_link(handle, [&](Link &l) {
      if (read == nullptr || (buffer == nullptr && n > 0)) return FT_INVALID_PARAMETER;
      return l.read(static_cast<std::uint8_t *>(buffer), n, read);
    });
  }

 private:
  template <class Call>
  FT_STATUS with_link(FT_HANDLE handle, Call call) {
    auto it = links_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == links_.end()) return FT_INVALID_HANDLE;
    if (it->second->failed()) return FT_IO_ERROR;
    return call(*it->second);
  }

  // Settings whose answers must echo the values asked for.
  static FT_STATUS settle(Link &l,
                          const std::vector<std::pair<ComPortCommand, std::string>> &list) {
    std::vector<std::string> answers;
    FT_STATUS status = l.commands(list, &answers);
    if (status != FT_OK) return status;
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (answers[i] != list[i].second) return FT_OTHER_ERROR;
    }
    return FT_OK;
  }

  bool is_open(std::size_t target) const {
    return std::any_of(links_.begin(), links_.end(),
                       [&](const auto &entry) { return entry.second->target == target; });
  }

  // The serial string of every target, asked afresh where not given.
  void list() {
    listed_.assign(targets_.size(), std::string());
    listed_once_ = true;
    for (std::size_t i = 0; i < targets_.size(); ++i) {
      const Target &t = targets_[i];
      if (!t.serial.empty()) {
        listed_[i] = t.serial;
        continue;
      }
      if (is_open(i)) {  // the server would refuse a second connection: it is ours
        listed_[i] = signatures_[i];
        continue;
      }
      Link link;
      std::string why;
      if (link.open(t, true, &why) == FT_OK) {
        signatures_[i] = link.signature();
        if (signatures_[i].empty()) {
          why =
              "the server answers no signature (set signature: in its configuration, or "
              "give the serial: " +
              t.text + "=SERIAL)";
        }
      }
      listed_[i] = signatures_[i];
      if (listed_[i].empty() && reported_.insert(t.text + why).second) {
        platform::write_diagnostic("KMT_DRIVER: rfc2217: " + t.text + " cannot be listed: " + why);
      }
    }
  }

  std::vector<Target> targets_;
  std::map<std::size_t, std::string> signatures_;  // by target, as last answered
  std::vector<std::string> listed_;
  bool listed_once_ = false;
  std::set<std::string> reported_;
  std::map<std::uintptr_t, std::unique_ptr<Link>> links_;
  std::uintptr_t next_handle_ = 0x100;
};

}  // namespace

std::unique_ptr<Driver> make_rfc2217_driver(const std::string &targets, std::string *error) {
  std::vector<Target> parsed;
  std::string reason;
  if (targets.empty()) {
    reason = "rfc2217: name at least one HOST:PORT[=SERIAL]";
  } else {
    parse_targets(targets, &parsed, &reason);
  }
  if (!reason.empty()) {
    if (error != nullptr) *error = reason;
    return nullptr;
  }
  return std::make_unique<Rfc2217Driver>(std::move(parsed));
}

std::vector<std::string> probe_rfc2217(const std::string &targets, bool *ok) {
  std::vector<std::string> lines;
  std::vector<Target> parsed;
  std::string reason;
  *ok = false;
  if (targets.empty() || !parse_targets(targets, &parsed, &reason)) {
    lines.push_back(targets.empty() ? "rfc2217: no target given" : reason);
    lines.push_back("fix: KMT_DRIVER=rfc2217:HOST:PORT[=SERIAL][+HOST:PORT...]");
    return lines;
  }
  *ok = true;
  for (const Target &t : parsed) {
    lines.push_back(t.text + (t.serial.empty() ? "" : " (serial given: " + t.serial + ")"));
    Link link;
    std::string why;
    auto start = Clock::now();
    if (link.open(t, true, &why) != FT_OK) {
      *ok = false;
      lines.push_back("  not usable: " + why);
      lines.push_back(why.find("in use") != std::string::npos
                          ? "fix: another program holds this controller; end it, or set "
                            "kickolduser: true in ser2net's connection"
                          : "fix: start ser2net on that machine with a telnet(rfc2217) accepter "
                            "on this port, bound to an address this machine reaches "
                            "(docs/remote.md)");
      continue;
    }
    auto round_trip = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    char took[32];
    std::snprintf(took, sizeof took, "%.1f", round_trip);
    lines.push_back("  reachable; telnet binary both ways and the COM-port option negotiated (" +
                    std::string(took) + " ms)");
    std::string signature = link.signature();
    std::string serial = t.serial.empty() ? signature : t.serial;
    if (signature.empty()) {
      lines.push_back("  signature: none");
      if (t.serial.empty()) {
        *ok = false;
        lines.push_back(
            "fix: add signature: SERIAL to the connection's options in ser2net.yaml, "
            "or give it here: " +
            t.text + "=SERIAL");
      }
    } else {
      lines.push_back("  signature: \"" + signature + "\"");
    }
    if (!serial.empty() && serial.rfind("KMTC", 0) != 0) {
      lines.push_back("  \"" + serial + "\" is not a controller's serial string (KMTC...)");
      lines.push_back(
          "fix: set signature: to the controller's serial string (kmtv1 list on the "
          "machine it is plugged into shows it)");
      *ok = false;
    }
    std::vector<std::string> answers;
    const std::string baud = {0, 3, static_cast<char>(0xD0), static_cast<char>(0x90)};  // 250000
    FT_STATUS status = link.commands({{telnet::kSetBaudRate, baud},
                                      {telnet::kSetDataSize, "\x08"},
                                      {telnet::kSetParity, "\x01"},
                                      {telnet::kSetStopSize, "\x01"},
                                      {telnet::kSetControl, "\x01"}},
                                     &answers);
    if (status != FT_OK) {
      lines.push_back("  the link settings: no answer from the server");
      *ok = false;
    } else if (answers[0] != baud) {
      std::uint32_t got = 0;
      for (char c : answers[0].substr(0, 4)) got = got << 8 | static_cast<std::uint8_t>(c);
      lines.push_back("  250000 baud refused: the server set " + std::to_string(got));
      lines.push_back(
          "fix: the serial port on the server's side cannot keep 250000 baud; use the "
          "controller's own bridge (an FTDI port), not another adapter");
      *ok = false;
    } else if (answers[1] != "\x08" || answers[2] != "\x01" || answers[3] != "\x01" ||
               answers[4] != "\x01") {
      lines.push_back("  8N1 without flow control refused by the server");
      *ok = false;
    } else {
      lines.push_back("  250000 baud 8N1 without flow control: accepted");
    }
  }
  return lines;
}

}  // namespace kmt
