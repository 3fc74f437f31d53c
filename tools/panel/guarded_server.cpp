// The server's connection handling: admission, the keep-alive loop and a socket stream
// that bounds each request in time and size (why: guarded_server.h).
#include "guarded_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace panel {

namespace {

using Clock = std::chrono::steady_clock;

// Set by a handler through close_after_response(); handlers run on the thread that
// serves their connection, so the flag of this thread is the connection's.
thread_local bool close_requested = false;

// Waits until the socket is ready for `events` or the deadline passes.
bool wait_until(socket_t sock, short events, Clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd fd{sock, events, 0};
    int ready = ::poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

// The client's address as text; an IPv4 client of an IPv6 socket by its IPv4 address,
// so that it counts as one client however it came in.
std::string peer_address(socket_t sock) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (::getpeername(sock, reinterpret_cast<sockaddr *>(&address), &size) != 0) return "?";
  char text[INET6_ADDRSTRLEN] = "?";
  if (address.ss_family == AF_INET) {
    ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(&address)->sin_addr, text, sizeof text);
  } else if (address.ss_family == AF_INET6) {
    const auto &v6 = reinterpret_cast<sockaddr_in6 *>(&address)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
      ::inet_ntop(AF_INET, v6.s6_addr + 12, text, sizeof text);
    } else {
      ::inet_ntop(AF_INET6, &v6, text, sizeof text);
    }
  }
  return text;
}

void local_or_peer(socket_t sock, bool local, std::string &ip, int &port) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  int got = local ? ::getsockname(sock, reinterpret_cast<sockaddr *>(&address), &size)
                  : ::getpeername(sock, reinterpret_cast<sockaddr *>(&address), &size);
  if (got != 0) return;
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto *v4 = reinterpret_cast<sockaddr_in *>(&address);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address);
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    port = ntohs(v6->sin6_port);
  }
  ip = text;
}

// A whole response in one buffer, for answers the server gives itself.
std::string plain_response(int status, const char *reason, const std::string &message) {
  std::string body = "{\"error\":\"" + message + "\"}";
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nCache-Control: no-store\r\nConnection: close\r\n" +
         (status == 503 ? "Retry-After: 1\r\n" : "") + "\r\n" + body;
}

// Sends all of `text` within the deadline; false when it could not.
bool send_all(socket_t sock, const std::string &text, Clock::time_point deadline) {
  std::size_t sent = 0;
  while (sent < text.size()) {
    if (!wait_until(sock, POLLOUT, deadline)) return false;
    ssize_t n = ::send(sock, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Ends the output after the last response and reads what the client still sends, for a
// moment and a bounded amount, before the socket is closed: a close with unread input
// makes the system reset the connection, which can destroy the response on its way.
void drain_before_close(socket_t sock) {
  ::shutdown(sock, SHUT_WR);
  auto deadline = Clock::now() + std::chrono::milliseconds(500);
  char sink[4096];
  for (std::size_t dropped = 0; dropped < 256 * 1024 && wait_until(sock, POLLIN, deadline);) {
    ssize_t n = ::recv(sock, sink, sizeof sink, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    dropped += static_cast<std::size_t>(n);
  }
}

}  // namespace

// One connection's socket as cpp-httplib reads and writes it: reads end at the
// request's deadline or byte budget, which the keep-alive loop sets for the request
// line and headers and again for the body.
class GuardedServer::Connection final : public httplib::Stream {
 public:
  enum class Refusal { none, timeout, head_too_large, body_too_large };

  Connection(socket_t sock, const ServerLimits &limits) : sock_(sock), limits_(limits) {}

  // Waits for the next request's first byte; false when the client went or stayed idle.
  bool wait_for_request() {
    return begin_ < end_ || wait_until(sock_, POLLIN, Clock::now() + limits_.idle_time);
  }
  void begin_request() {
    deadline_ = Clock::now() + limits_.head_time;
    budget_ = limits_.head_bytes;
    consumed_ = 0;
    in_body_ = false;
    refusal_ = Refusal::none;
    write_deadline_.reset();
  }
  void begin_body() {
    deadline_ = Clock::now() + limits_.body_time;
    budget_ = limits_.body_wire_bytes;
    consumed_ = 0;
    in_body_ = true;
  }
  bool refused() const { return refusal_ != Refusal::none; }

  // The answer to a refused request, in place of cpp-httplib's (which write() dropped).
  void send_refusal() {
    auto seconds = [](std::chrono::milliseconds t) { return std::to_string(t.count() / 1000); };
    std::string response;
    switch (refusal_) {
      case Refusal::timeout:
        response = plain_response(408, "Request Timeout",
                                  "the request did not arrive in time (headers within " +
                                      seconds(limits_.head_time) + " s, body within " +
                                      seconds(limits_.body_time) + " s more)");
        break;
      case Refusal::head_too_large:
        response = plain_response(
            431, "Request Header Fields Too Large",
            "the request line and headers exceed " + std::to_string(limits_.head_bytes) + " bytes");
        break;
      case Refusal::body_too_large:
        response = plain_response(
            413, "Payload Too Large",
            "the request body exceeds " + std::to_string(limits_.body_bytes) + " bytes");
        break;
      case Refusal::none:
        return;
    }
    send_all(sock_, response, Clock::now() + limits_.write_time);
  }

  bool is_readable() const override {
    return begin_ < end_ || (!refused() && wait_until(sock_, POLLIN, deadline_));
  }
  bool is_writable() const override {
    return wait_until(sock_, POLLOUT, write_deadline_.value_or(Clock::now() + limits_.write_time));
  }

  ssize_t read(char *ptr, size_t size) override {
    if (refused()) return -1;
    if (size == 0) return 0;
    if (consumed_ >= budget_) {
      refusal_ = in_body_ ? Refusal::body_too_large : Refusal::head_too_large;
      return -1;
    }
    if (begin_ == end_) {
      if (!wait_until(sock_, POLLIN, deadline_)) {
        refusal_ = Refusal::timeout;
        return -1;
      }
      ssize_t n;
      do {
        n = ::recv(sock_, buffer_, sizeof buffer_, 0);
      } while (n < 0 && errno == EINTR);
      if (n <= 0) return n;  // the client closed or failed: nobody to answer
      begin_ = 0;
      end_ = static_cast<std::size_t>(n);
    }
    std::size_t n = std::min({size, end_ - begin_, budget_ - consumed_});
    std::memcpy(ptr, buffer_ + begin_, n);
    begin_ += n;
    consumed_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char *ptr, size_t size) override {
    // cpp-httplib answers a request it could not read with 400; a refused request gets
    // the reason instead (send_refusal), so its answer goes nowhere.
    if (refused()) return static_cast<ssize_t>(size);
    if (!write_deadline_) write_deadline_ = Clock::now() + limits_.write_time;
    if (!wait_until(sock_, POLLOUT, *write_deadline_)) return -1;
    ssize_t n;
    do {
      n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
  }

  void get_remote_ip_and_port(std::string &ip, int &port) const override {
    local_or_peer(sock_, false, ip, port);
  }
  void get_local_ip_and_port(std::string &ip, int &port) const override {
    local_or_peer(sock_, true, ip, port);
  }
  socket_t socket() const override { return sock_; }

 private:
  socket_t sock_;
  const ServerLimits &limits_;
  char buffer_[4096];
  std::size_t begin_ = 0, end_ = 0;
  Clock::time_point deadline_{};
  std::optional<Clock::time_point> write_deadline_;
  std::size_t budget_ = 0, consumed_ = 0;
  bool in_body_ = false;
  Refusal refusal_ = Refusal::none;
};

// cpp-httplib hands every accepted connection to its task queue. This one decides at
// once, on the accepting thread, whether the connection is admitted (then it goes to a
// thread of its own) or refused with 503; so a full server never queues connections
// behind slow ones.
class GuardedServer::Admission final : public httplib::TaskQueue {
 public:
  explicit Admission(GuardedServer &server) : server_(server) { server_.start_workers(); }
  void enqueue(std::function<void()> accept) override { accept(); }
  void shutdown() override { server_.stop_workers(); }

 private:
  GuardedServer &server_;
};

GuardedServer::GuardedServer(const ServerLimits &limits) : limits_(limits) {
  // cpp-httplib's own settings, for what still reads them (its Content-Length check
  // answers 413 before a byte of the body is read).
  set_payload_max_length(limits_.body_bytes);
  set_keep_alive_max_count(static_cast<size_t>(limits_.requests_per_connection));
  set_keep_alive_timeout(
      std::chrono::duration_cast<std::chrono::seconds>(limits_.idle_time).count());
  set_read_timeout(limits_.head_time);
  set_write_timeout(limits_.write_time);
  new_task_queue = [this] { return new Admission(*this); };
}

GuardedServer::~GuardedServer() {
  if (workers_) stop_workers();
}

void GuardedServer::close_after_response() {
  close_requested = true;
}

void GuardedServer::widen_backlog() {
  ::listen(svr_sock_, 128);
}

void GuardedServer::start_workers() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = false;
  workers_ = std::make_unique<httplib::ThreadPool>(static_cast<size_t>(limits_.connections));
}

void GuardedServer::stop_workers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    // Reads and waits on these end at once; handlers busy with the controller finish.
    for (auto sock : open_) ::shutdown(sock, SHUT_RDWR);
  }
  workers_->shutdown();
  workers_.reset();
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
  std::string address = peer_address(sock);
  std::string refusal;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto from_address = per_address_.find(address);
    if (stopping_) {
      refusal = "the panel is stopping";
    } else if (open_.size() >= static_cast<std::size_t>(limits_.connections)) {
      refusal = "too many connections (at most " + std::to_string(limits_.connections) +
                "); try again shortly";
    } else if (from_address != per_address_.end() &&
               from_address->second >= limits_.connections_per_address) {
      refusal = "too many connections from " + address + " (at most " +
                std::to_string(limits_.connections_per_address) + "); try again shortly";
    } else {
      ++per_address_[address];
      open_.insert(sock);
    }
  }
  if (!refusal.empty()) {
    // On the accepting thread, so nothing here may wait: what the client has sent is
    // dropped, the answer goes out if it fits the socket's buffer.
    char sink[4096];
    for (int i = 0; i < 4 && ::recv(sock, sink, sizeof sink, MSG_DONTWAIT) > 0; ++i) {
    }
    std::string response = plain_response(503, "Service Unavailable", refusal);
    ssize_t ignored = ::send(sock, response.data(), response.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    (void)ignored;
    ::shutdown(sock, SHUT_WR);
    ::close(sock);
    return false;
  }
  workers_->enqueue([this, sock, address] {
    serve(sock);
    release(sock, address);
  });
  return true;
}

void GuardedServer::serve(socket_t sock) {
  Connection connection(sock, limits_);
  for (int n = 0; n < limits_.requests_per_connection; ++n) {
    if (!connection.wait_for_request()) break;
    connection.begin_request();
    close_requested = false;
    bool last = n + 1 == limits_.requests_per_connection;
    bool closed = false;
    bool ok = process_request(connection, last, closed,
                              [&connection](httplib::Request &) { connection.begin_body(); });
    if (connection.refused()) {
      connection.send_refusal();
      break;
    }
    if (!ok || closed || last || close_requested) break;
  }
}

void GuardedServer::release(socket_t sock, const std::string &address) {
  drain_before_close(sock);
  std::lock_guard<std::mutex> lock(mutex_);
  open_.erase(sock);
  if (--per_address_[address] <= 0) per_address_.erase(address);
  // Closed under the lock, so that stop_workers() never shuts a number already reused.
  ::close(sock);
}

}  // namespace panel

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
// Debian's cpp-httplib is not built for ThreadSanitizer: what it does itself (its lazily
// built statics, its stop() closing the socket that accept() waits on) would read as
// races. Only calls from this program's own, instrumented code are checked.
extern "C" const char *__tsan_default_options() {
  return "ignore_noninstrumented_modules=1";
}
#endif
#endif
