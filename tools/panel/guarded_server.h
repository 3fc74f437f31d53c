// An HTTP server that clients cannot hold: every request must arrive within a time and
// size limit, and connections are capped in total and per client address.
//
// cpp-httplib (Debian's 0.11.4) bounds each single read by a time-out but not a whole
// request, so a client sending one header line every few seconds holds a worker for
// ever; its workers are a fixed pool (8 here) that such clients fill; and it reads a
// chunked body whatever its length. This server keeps cpp-httplib's parsing and routing
// (Server::process_request) and replaces what surrounds it: admission of each accepted
// connection, the keep-alive loop and the socket stream, which counts time and bytes
// per request.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace panel {

// The limits, documented in README.md (front panel, "Hostile clients").
struct ServerLimits {
  // The request line and headers must arrive within this time of their first byte.
  std::chrono::milliseconds head_time{5000};
  // The body must arrive within this time of the end of the headers.
  std::chrono::milliseconds body_time{5000};
  // How long an open connection may wait for its next request.
  std::chrono::milliseconds idle_time{5000};
  // How long one response may take to go out.
  std::chrono::milliseconds write_time{5000};
  // Request line and headers together.
  std::size_t head_bytes = 32 * 1024;
  // The body as the handler sees it (decoded), whatever its framing.
  std::size_t body_bytes = 64 * 1024;
  // The body on the wire, chunk framing included (so that tiny chunks or long chunk
  // lines cannot stretch the decoded limit).
  std::size_t body_wire_bytes = 256 * 1024;
  int requests_per_connection = 100;
  // Open connections at once, in total and from one client address. Each admitted
  // connection has a thread of its own, so admitted requests never wait for a worker.
  int connections = 64;
  int connections_per_address = 32;
};

class GuardedServer : public httplib::Server {
 public:
  explicit GuardedServer(const ServerLimits &limits = {});
  ~GuardedServer() override;

  const ServerLimits &limits() const { return limits_; }

  // Call once bound, before listening: cpp-httplib listens with a backlog of 5
  // connections, and a burst of clients beyond it would wait for the system's retry (a
  // second or more) before even being admitted or refused.
  void widen_backlog();

  // Called from a handler: the connection closes after this response, e.g. because the
  // handler left a refused body unread.
  static void close_after_response();

 private:
  class Admission;
  class Connection;
  friend class Admission;

  bool process_and_close_socket(socket_t sock) override;
  void serve(socket_t sock);
  void release(socket_t sock, const std::string &address);
  void start_workers();
  void stop_workers();

  ServerLimits limits_;
  std::mutex mutex_;
  std::condition_variable idle_;
  std::map<std::string, int> per_address_;
  std::set<socket_t> open_;
  bool stopping_ = false;
  std::unique_ptr<httplib::ThreadPool> workers_;
};

}  // namespace panel
