// TCP client sockets, the little the rfc2217 provider needs, over POSIX sockets or
// Winsock (socket_posix.cpp, socket_windows.cpp). Every socket is non-blocking: calls
// return at once, and waiting is done by socket_wait with a bounded time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kmt::platform {

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// Connects to host:port (a name or a numeric address, IPv4 or IPv6) within timeout_ms,
// trying each address the name resolves to. The socket sends small writes at once
// (TCP_NODELAY) and probes an idle peer (keep-alive) so that a vanished peer is noticed.
// kNoSocket with *error set on failure; *refused tells a peer that answered with a
// refusal (nothing listening) from one that could not be reached.
Socket tcp_connect(const std::string &host, const std::string &port, int timeout_ms,
                   std::string *error, bool *refused = nullptr);

// Bytes sent (> 0), 0 when the socket cannot take any now, -1 when the connection failed.
long socket_send(Socket socket, const void *bytes, std::size_t n);
// Bytes received (> 0), 0 when none are waiting, -1 when the peer closed the connection
// or it failed.
long socket_receive(Socket socket, void *bytes, std::size_t n);

struct SocketReady {
  bool readable = false;  // also set when the connection has ended: a receive then says so
  bool writable = false;
  bool failed = false;  // the wait itself failed
};
// Waits up to timeout_ms (-1: without limit) until the socket can be read (and, with
// want_write, written).
SocketReady socket_wait(Socket socket, bool want_write, int timeout_ms);

void socket_close(Socket socket);

}  // namespace kmt::platform
