// The telnet layer of the network provider on byte sequences a server may send, and the
// provider against small scripted servers on loopback: read time-outs, commands inside
// the data, refused settings, servers that send garbage, stall or vanish.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "library/instance.h"
#include "platform/socket.h"
#include "transport/rfc2217_driver.h"
#include "transport/telnet_client.h"

#if !defined(_WIN32)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace kmt {
namespace {

using namespace d2xx;
using Clock = std::chrono::steady_clock;
using Bytes = std::string;
using namespace std::string_literals;

const Bytes kIac = "\xff";

Bytes sb(std::uint8_t code, const Bytes &value) {
  return "\xff\xfa\x2c" + std::string(1, static_cast<char>(code)) + value + "\xff\xf0";
}

// ---- The telnet layer alone ---------------------------------------------------------

struct DecodeCase {
  const char *what;
  Bytes received;
  Bytes data;     // serial data expected
  Bytes replies;  // what the client must send back (after its opening offers)
};

TEST(TelnetClient, DecodesWhatAServerMaySendWholeOrByteByByte) {
  const DecodeCase cases[] = {
      {"plain data", "abc", "abc", ""},
      {"a doubled IAC is one 255",
       "a\xff\xff"
       "b",
       "a\xff"
       "b",
       ""},
      {"a command between data bytes",
       "ab\xff\xf1"
       "cd",
       "abcd", ""},
      {"a COM-port answer inside a frame", "ab" + sb(106, "\x10") + "cd", "abcd", ""},
      {"an IAC doubled inside a subnegotiation", "a" + sb(101, "\x00\x03\xff\xff\x90"s) + "b", "ab",
       ""},
      {"echo offered is refused", "\xff\xfb\x01x", "x", "\xff\xfe\x01"},
      {"an unknown option asked for is refused", "\xff\xfd\x18", "", "\xff\xfc\x18"},
      {"options the client asked for need no reply", "\xff\xfd\x2c\xff\xfd\x00\xff\xfb\x00"s, "",
       ""},
      {"suppress-go-ahead is accepted both ways", "\xff\xfb\x03\xff\xfd\x03", "",
       "\xff\xfd\x03\xff\xfb\x03"},
      {"an option offered twice is answered once", "\xff\xfb\x03\xff\xfb\x03", "", "\xff\xfd\x03"},
      {"an unterminated subnegotiation ends at the next command", "\xff\xfa\x2c\x65zz\xff\xfb\x03q",
       "q", "\xff\xfd\x03"},
      {"a signature request is answered", sb(100, ""), "", sb(0, "kmtv1")},
      {"another option's subnegotiation is ignored", "\xff\xfa\x18\x01\xff\xf0z", "z", ""},
      {"a stray SE is ignored", "\xff\xf0z", "z", ""},
  };
  for (const DecodeCase &c : cases) {
    for (bool byte_by_byte : {false, true}) {
      telnet::Client client;
      client.start();
      client.output().clear();
      std::vector<std::uint8_t> data;
      const auto *bytes = reinterpret_cast<const std::uint8_t *>(c.received.data());
      if (byte_by_byte) {
        for (std::size_t i = 0; i < c.received.size(); ++i)
          client.receive(bytes + i, 1, &data, 100);
      } else {
        client.receive(bytes, c.received.size(), &data, 100);
      }
      std::string why = std::string(c.what) + (byte_by_byte ? ", byte by byte" : ", whole");
      EXPECT_EQ(std::string(data.begin(), data.end()), c.data) << why;
      EXPECT_EQ(client.output(), c.replies) << why;
    }
  }
}

TEST(TelnetClient, AnswersNegotiationBoundsAndEncoding) {
  telnet::Client client;
  client.start();
  EXPECT_EQ(client.output(), "\xff\xfb\x2c\xff\xfb\x00\xff\xfd\x00"s);
  EXPECT_FALSE(client.negotiated());
  std::vector<std::uint8_t> data;
  Bytes offers = "\xff\xfd\x2c\xff\xfd\x00\xff\xfb\x00"s + sb(101, "\x00\x03\xd0\x90"s);
  client.receive(reinterpret_cast<const std::uint8_t *>(offers.data()), offers.size(), &data, 8);
  EXPECT_TRUE(client.negotiated());
  EXPECT_EQ(client.answer_count(telnet::kSetBaudRate), 1u);
  EXPECT_EQ(client.answer(telnet::kSetBaudRate), "\x00\x03\xd0\x90"s);

  // Data beyond the limit is dropped and counted; a long subnegotiation is cut.
  Bytes flood(20, 'x');
  flood += sb(100, Bytes(1000, 's'));
  client.receive(reinterpret_cast<const std::uint8_t *>(flood.data()), flood.size(), &data, 8);
  EXPECT_EQ(data.size(), 8u);
  EXPECT_EQ(client.data_dropped(), 12u);
  EXPECT_EQ(client.answer(telnet::kSignature).size(), telnet::kMaxSubnegotiation - 1);
  EXPECT_EQ(client.notes().truncated, 1u);

  // A refusal of the COM-port option is told.
  telnet::Client refused;
  refused.start();
  Bytes dont = "\xff\xfe\x2c";
  refused.receive(reinterpret_cast<const std::uint8_t *>(dont.data()), dont.size(), &data, 8);
  EXPECT_NE(refused.refusal().find("COM-port"), std::string::npos);

  Bytes out;
  const std::uint8_t raw[] = {1, 0xFF, 2, 0xFF, 0xFF};
  telnet::Client::encode_data(raw, sizeof raw, &out);
  EXPECT_EQ(out, Bytes("\x01\xff\xff\x02\xff\xff\xff\xff", 8));
}

// ---- The provider against scripted servers (POSIX sockets on the servers' side) -----
#if !defined(_WIN32)

// One connection's script: the server side of the socket, run on a thread of its own.
using Script = std::function<void(platform::Socket)>;

class ScriptedServer {
 public:
  explicit ScriptedServer(Script script) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::listen(listener_, 4);
    ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, script] {
      auto client = ::accept(listener_, nullptr, nullptr);
      if (static_cast<platform::Socket>(client) == platform::kNoSocket) return;
      script(static_cast<platform::Socket>(client));
      platform::socket_close(static_cast<platform::Socket>(client));
    });
  }
  ~ScriptedServer() {
    ::shutdown(listener_, SHUT_RDWR);  // ends an accept still waiting
    ::close(listener_);
    thread_.join();
  }
  std::string target(const std::string &serial = "KMTC0002TEST0001") const {
    return "127.0.0.1:" + std::to_string(port_) + "=" + serial;
  }

 private:
  int listener_;
  int port_ = 0;
  std::thread thread_;
};

// The socket is blocking on the server's side: sends all, receives what comes.
void send_all(platform::Socket s, const Bytes &bytes) {
  ::send(static_cast<int>(s), bytes.data(), static_cast<int>(bytes.size()), 0);
}

// A well-behaved server's telnet side: offers the options, answers every COM-port
// command with its own value (a rate query with rate), passes serial data to on_data
// until it returns false or the client leaves.
void serve(platform::Socket s, const std::function<bool(const Bytes &)> &on_data,
           const Bytes &rate = "\x00\x03\xd0\x90"s, std::atomic<int> *receive_purges = nullptr) {
  send_all(s, "\xff\xfb\x00\xff\xfd\x00\xff\xfd\x2c"s);
  Bytes pending;
  char chunk[4096];
  while (true) {
    int n = static_cast<int>(::recv(static_cast<int>(s), chunk, sizeof chunk, 0));
    if (n <= 0) return;
    pending.append(chunk, static_cast<std::size_t>(n));
    Bytes data;
    std::size_t i = 0;
    while (i < pending.size()) {
      if (pending[i] != kIac[0]) {
        data += pending[i++];
        continue;
      }
      if (i + 1 >= pending.size()) break;
      auto verb = static_cast<std::uint8_t>(pending[i + 1]);
      if (verb == 0xFF) {
        data += kIac;
        i += 2;
      } else if (verb == 0xFA) {
        std::size_t end = pending.find("\xff\xf0", i);
        if (end == Bytes::npos) break;
        auto code = static_cast<std::uint8_t>(pending[i + 3]);
        Bytes value = pending.substr(i + 4, end - i - 4);
        if (code == 1) value = rate;
        if (code == 12 && receive_purges != nullptr && (value[0] & 1) != 0) ++*receive_purges;
        send_all(s, sb(static_cast<std::uint8_t>(code + 100), value));
        i = end + 2;
      } else {
        if (i + 2 >= pending.size()) break;
        i += 3;
      }
    }
    pending.erase(0, i);
    if (!data.empty() && !on_data(data)) return;
  }
}

std::unique_ptr<Driver> driver_for(const ScriptedServer &server) {
  std::string error;
  auto driver = make_rfc2217_driver(server.target(), &error);
  EXPECT_NE(driver, nullptr) << error;
  return driver;
}

FT_HANDLE open_and_set(Driver &driver, FT_STATUS *baud_status = nullptr) {
  FT_HANDLE h = nullptr;
  char serial[] = "KMTC0002TEST0001";
  EXPECT_EQ(driver.OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &h), FT_OK);
  FT_STATUS baud = driver.SetBaudRate(h, 250000);
  if (baud_status != nullptr) *baud_status = baud;
  driver.SetTimeouts(h, 50, 50);
  return h;
}

TEST(Rfc2217Driver, ReadsAcrossSplitCommandsAndNeverEndsEarly) {
  ScriptedServer server([](platform::Socket s) {
    serve(s, [&](const Bytes &) {
      // An IAC pair cut between packets and a line-state report inside the data.
      send_all(s, "ab\xff");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      send_all(s,
               "\xff"
               "c" +
                   sb(106, "\x10") + "d");
      return true;
    });
  });
  auto driver = driver_for(server);
  FT_HANDLE h = open_and_set(*driver);
  DWORD n = 0;
  std::uint8_t request[] = {0x10, 0xFF};
  ASSERT_EQ(driver->Write(h, request, 2, &n), FT_OK);
  EXPECT_EQ(n, 2u);
  char got[8] = {};
  ASSERT_EQ(driver->Read(h, got, 5, &n), FT_OK);
  EXPECT_EQ(Bytes(got, n),
            "ab\xff"
            "cd");

  // Nothing more comes: the read waits its whole time-out, not a moment less.
  auto start = Clock::now();
  ASSERT_EQ(driver->Read(h, got, 1, &n), FT_OK);
  EXPECT_EQ(n, 0u);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_EQ(driver->Close(h), FT_OK);
}

// The server's receive queue is purged after the open and after a short read, not before
// every exchange: its answer would delay the response that follows.
TEST(Rfc2217Driver, AsksTheServerToPurgeOnlyWhenStaleBytesMayBeThere) {
  std::atomic<int> purges{0};
  ScriptedServer server([&](platform::Socket s) {
    serve(
        s,
        [&](const Bytes &) {
          send_all(s, "y");
          return true;
        },
        "\x00\x03\xd0\x90"s, &purges);
  });
  auto driver = driver_for(server);
  FT_HANDLE h = open_and_set(*driver);
  char byte[2] = {'x', 0};
  DWORD n = 0;
  // Purges, then one exchange: one byte out, one back; the read asks for how many.
  auto exchange = [&](DWORD asked) {
    EXPECT_EQ(driver->Purge(h, FT_PURGE_RX), FT_OK);
    EXPECT_EQ(driver->Write(h, byte, 1, &n), FT_OK);
    EXPECT_EQ(driver->Read(h, byte, asked, &n), FT_OK);
    EXPECT_EQ(n, 1u);
  };
  exchange(1);
  EXPECT_EQ(purges, 1) << "the first after the open";
  exchange(1);
  exchange(2);  // comes short: the rest may still be on its way
  EXPECT_EQ(purges, 1) << "clean exchanges";
  exchange(1);
  EXPECT_EQ(purges, 2) << "after a short read";
  driver->Close(h);
}

struct FailureCase {
  const char *what;
  Script script;
  FT_STATUS open;  // what OpenEx answers
  FT_STATUS baud;  // then SetBaudRate (when open)
  FT_STATUS read;  // then a write and a 4-byte read
};

TEST(Rfc2217Driver, ServersThatMisbehaveFailCleanlyAndInBoundedTime) {
  const FailureCase cases[] = {
      {"garbage, then the connection closes",
       [](platform::Socket s) { send_all(s, "\x01\xff\xfa\xff\xff garbage \xfe\xff"); },
       FT_DEVICE_NOT_OPENED, FT_OK, FT_OK},
      {"a refusal of the COM-port option",
       [](platform::Socket s) {
         send_all(s, "\xff\xfe\x2c");
         std::this_thread::sleep_for(std::chrono::milliseconds(300));
       },
       FT_DEVICE_NOT_OPENED, FT_OK, FT_OK},
      {"a rate other than the one asked for",
       [](platform::Socket s) {
         serve(
             s, [](const Bytes &) { return true; }, "\x00\x01\xc2\x00"s);
       },
       FT_OK, FT_INVALID_BAUD_RATE, FT_OK},
      {"the connection closes instead of answering",
       [](platform::Socket s) { serve(s, [](const Bytes &) { return false; }); }, FT_OK, FT_OK,
       FT_IO_ERROR},
      {"stops in the middle of a telnet command, then goes",
       [](platform::Socket s) {
         serve(s, [&](const Bytes &) {
           send_all(s, "\x00\x02\xff\xfa\x2c"s);
           std::this_thread::sleep_for(std::chrono::milliseconds(200));
           return false;
         });
       },
       FT_OK, FT_OK, FT_IO_ERROR},
  };
  for (const FailureCase &c : cases) {
    ScriptedServer server(c.script);
    auto driver = driver_for(server);
    auto start = Clock::now();
    FT_HANDLE h = nullptr;
    char serial[] = "KMTC0002TEST0001";
    EXPECT_EQ(driver->OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &h), c.open) << c.what;
    if (c.open == FT_OK) {
      EXPECT_EQ(driver->SetBaudRate(h, 250000), c.baud) << c.what;
      driver->SetTimeouts(h, 50, 50);
      DWORD n = 0;
      std::uint8_t bytes[4] = {1, 2, 3, 4};
      driver->Write(h, bytes, 4, &n);
      FT_STATUS read = FT_OK;
      // Reads until the server's script has run its course.
      for (int i = 0; i < 10 && read == FT_OK; ++i) read = driver->Read(h, bytes, 4, &n);
      EXPECT_EQ(read, c.read) << c.what;
      if (c.read != FT_OK) {
        EXPECT_EQ(driver->Purge(h, FT_PURGE_RX), FT_IO_ERROR) << c.what << ": stays failed";
      }
      EXPECT_EQ(driver->Close(h), FT_OK);
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << c.what;
  }
}

// The exchange on top: a server whose controller answers garbage gives status 2, and the
// write that carried the request doubled its IAC bytes.
TEST(Rfc2217Driver, AnExchangeAnsweredWithGarbageFailsWithStatus2) {
  Bytes seen;
  std::mutex seen_lock;  // the server's thread writes it, this one reads it
  ScriptedServer server([&](platform::Socket s) {
    serve(s, [&](const Bytes &data) {
      std::lock_guard<std::mutex> hold(seen_lock);
      seen += data;
      send_all(s, "\x05\x07garbage\xff\xff");
      return true;
    });
  });
  Library lib(driver_for(server));
  std::uint32_t handle = 0;
  std::int32_t status = -1;
  lib.session.init_by_sn(&handle, "KMTC0002TEST0001", &status);
  ASSERT_EQ(status, 0);
  std::uint16_t length = 1;
  lib.payload()[0] = 0xFF;
  auto start = Clock::now();
  lib.session.send_comm(&handle, Session::kFramePrefix, 16, 2, 0, lib.payload(), &length, &status);
  EXPECT_EQ(status, 2);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  std::lock_guard<std::mutex> hold(seen_lock);
  EXPECT_EQ(seen.substr(0, 7), "\x10\x00\x10\x02\x01\x00\xff"s) << "the payload's 255 arrives once";
}

#endif

}  // namespace
}  // namespace kmt
