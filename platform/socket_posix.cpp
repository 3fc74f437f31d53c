#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/socket.h"

namespace kmt::platform {
namespace {

void set_option(int fd, int level, int name, int value) {
  ::setsockopt(fd, level, name, &value, sizeof value);
}

// A peer that stops answering is given up after about 10 s of silent keep-alive
// probing, or 10 s of unacknowledged sending, instead of the system's hours.
void tune(int fd) {
  set_option(fd, IPPROTO_TCP, TCP_NODELAY, 1);
  set_option(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
#if defined(__linux__)
  set_option(fd, IPPROTO_TCP, TCP_KEEPIDLE, 4);
  set_option(fd, IPPROTO_TCP, TCP_KEEPINTVL, 2);
  set_option(fd, IPPROTO_TCP, TCP_KEEPCNT, 3);
  set_option(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, 10000);
#endif
}

}  // namespace

Socket tcp_connect(const std::string &host, const std::string &port, int timeout_ms,
                   std::string *error, bool *refused) {
  if (refused != nullptr) *refused = false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *found = nullptr;
  int code = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
  if (code != 0) {
    *error = "cannot resolve " + host + ": " + ::gai_strerror(code);
    return kNoSocket;
  }
  *error = "no address";
  int fd = -1;
  for (addrinfo *a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      *error = std::strerror(errno);
      continue;
    }
    int result = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (result != 0 && errno == EINPROGRESS) {
      pollfd pfd{fd, POLLOUT, 0};
      int ready;
      do {
        ready = ::poll(&pfd, 1, timeout_ms);
      } while (ready < 0 && errno == EINTR);
      int so_error = 0;
      socklen_t length = sizeof so_error;
      if (ready == 0) {
        so_error = ETIMEDOUT;
      } else if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &length) != 0) {
        so_error = errno;
      }
      result = so_error == 0 ? 0 : -1;
      errno = so_error;
    }
    if (result != 0) {
      *error = errno == ETIMEDOUT ? "no answer within " + std::to_string(timeout_ms) + " ms"
                                  : std::string(std::strerror(errno));
      if (refused != nullptr) *refused = errno == ECONNREFUSED;
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  if (fd < 0) return kNoSocket;
  tune(fd);
  error->clear();
  return fd;
}

long socket_send(Socket socket, const void *bytes, std::size_t n) {
  while (true) {
    // MSG_NOSIGNAL: a closed peer is an error here, not a SIGPIPE for the whole process.
    ssize_t r = ::send(static_cast<int>(socket), bytes, n, MSG_NOSIGNAL);
    if (r >= 0) return static_cast<long>(r);
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

long socket_receive(Socket socket, void *bytes, std::size_t n) {
  while (true) {
    ssize_t r = ::recv(static_cast<int>(socket), bytes, n, 0);
#if defined(__linux__)
    // Acknowledge at once, not after the delayed-acknowledgement timer (40 ms): a server
    // that holds small packets until the last one is acknowledged (Nagle; ser2net does)
    // would otherwise hold the rest of a response that long. Linux falls back to delayed
    // acknowledgements by itself, so this is renewed on every receive.
    if (r > 0) set_option(static_cast<int>(socket), IPPROTO_TCP, TCP_QUICKACK, 1);
#endif
    if (r > 0) return static_cast<long>(r);
    if (r == 0) return -1;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

SocketReady socket_wait(Socket socket, bool want_write, int timeout_ms) {
  pollfd pfd{static_cast<int>(socket), static_cast<short>(POLLIN | (want_write ? POLLOUT : 0)), 0};
  SocketReady ready;
  int r = ::poll(&pfd, 1, timeout_ms);
  if (r < 0) {
    ready.failed = errno != EINTR;
    return ready;
  }
  // A hang-up or error is reported as readable: the receive that follows tells which.
  ready.readable = (pfd.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
  ready.writable = (pfd.revents & POLLOUT) != 0;
  return ready;
}

void socket_close(Socket socket) {
  if (socket != kNoSocket) ::close(static_cast<int>(socket));
}

}  // namespace kmt::platform
