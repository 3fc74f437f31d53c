// Winsock (ws2_32, a system DLL). Started once, on the first connection, and never
// cleaned up: the DLL may be unloaded at any time, and Windows releases it with the process.
#include <winsock2.h>
// winsock2.h first: the others rely on its definitions.
#include <mstcpip.h>
#include <ws2tcpip.h>

#include <mutex>

#include "platform/socket.h"

namespace kmt::platform {
namespace {

bool winsock_started(std::string *error) {
  static int code = -1;
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    code = ::WSAStartup(MAKEWORD(2, 2), &data);
  });
  if (code != 0) *error = "Winsock cannot start (error " + std::to_string(code) + ")";
  return code == 0;
}

std::string text_of(int code) {
  char text[256] = {};
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ')) --n;
  return n > 0 ? std::string(text, n) : "Winsock error " + std::to_string(code);
}

// Waits with select(): one socket is far below FD_SETSIZE, and select is there on every
// Windows version and in Wine.
int wait_for(SOCKET s, bool read, bool write, int timeout_ms, bool *readable, bool *writable,
             bool *failed_connect) {
  fd_set rs, ws, es;
  FD_ZERO(&rs);
  FD_ZERO(&ws);
  FD_ZERO(&es);
  if (read) FD_SET(s, &rs);
  if (write) FD_SET(s, &ws);
  FD_SET(s, &es);  // a failed non-blocking connect shows here
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  int r = ::select(0, &rs, &ws, &es, timeout_ms < 0 ? nullptr : &tv);
  if (r > 0) {
    *readable = FD_ISSET(s, &rs) != 0;
    *writable = FD_ISSET(s, &ws) != 0;
    *failed_connect = FD_ISSET(s, &es) != 0;
  }
  return r;
}

// Small writes go at once; an idle peer is probed after 4 s, every 2 s, so that one that
// vanished is given up after about 25 s (Windows sends ten probes) instead of hours.
void tune(SOCKET s) {
  BOOL on = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
  tcp_keepalive keepalive{1, 4000, 2000};
  DWORD returned = 0;
  ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &keepalive, sizeof keepalive, nullptr, 0, &returned, nullptr,
             nullptr);
}

}  // namespace

Socket tcp_connect(const std::string &host, const std::string &port, int timeout_ms,
                   std::string *error, bool *refused) {
  if (refused != nullptr) *refused = false;
  if (!winsock_started(error)) return kNoSocket;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo *found = nullptr;
  int code = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
  if (code != 0) {
    *error = "cannot resolve " + host + ": " + text_of(code);
    return kNoSocket;
  }
  *error = "no address";
  SOCKET s = INVALID_SOCKET;
  for (addrinfo *a = found; a != nullptr && s == INVALID_SOCKET; a = a->ai_next) {
    s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
      *error = text_of(::WSAGetLastError());
      continue;
    }
    u_long non_blocking = 1;
    ::ioctlsocket(s, FIONBIO, &non_blocking);
    int failure = 0;
    if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
      failure = ::WSAGetLastError();
      if (failure == WSAEWOULDBLOCK) {
        bool readable = false, writable = false, failed = false;
        int r = wait_for(s, false, true, timeout_ms, &readable, &writable, &failed);
        if (r == 0) {
          failure = WSAETIMEDOUT;
        } else if (r < 0) {
          failure = ::WSAGetLastError();
        } else {
          int so_error = 0;
          int length = sizeof so_error;
          ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&so_error), &length);
          failure = writable && !failed ? so_error : (so_error != 0 ? so_error : WSAECONNREFUSED);
        }
      }
    }
    if (failure != 0) {
      *error = failure == WSAETIMEDOUT ? "no answer within " + std::to_string(timeout_ms) + " ms"
                                       : text_of(failure);
      if (refused != nullptr) *refused = failure == WSAECONNREFUSED;
      ::closesocket(s);
      s = INVALID_SOCKET;
    }
  }
  ::freeaddrinfo(found);
  if (s == INVALID_SOCKET) return kNoSocket;
  tune(s);
  error->clear();
  return static_cast<Socket>(s);
}

long socket_send(Socket socket, const void *bytes, std::size_t n) {
  int chunk = n > 1u << 30 ? 1 << 30 : static_cast<int>(n);
  int r = ::send(static_cast<SOCKET>(socket), static_cast<const char *>(bytes), chunk, 0);
  if (r >= 0) return r;
  return ::WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

long socket_receive(Socket socket, void *bytes, std::size_t n) {
  int chunk = n > 1u << 30 ? 1 << 30 : static_cast<int>(n);
  int r = ::recv(static_cast<SOCKET>(socket), static_cast<char *>(bytes), chunk, 0);
  if (r > 0) return r;
  if (r == 0) return -1;
  return ::WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

SocketReady socket_wait(Socket socket, bool want_write, int timeout_ms) {
  SocketReady ready;
  bool failed = false;
  int r = wait_for(static_cast<SOCKET>(socket), true, want_write, timeout_ms, &ready.readable,
                   &ready.writable, &failed);
  if (r < 0) ready.failed = true;
  if (failed) ready.readable = true;  // the receive that follows reports the failure
  return ready;
}

void socket_close(Socket socket) {
  if (socket != kNoSocket) ::closesocket(static_cast<SOCKET>(socket));
}

}  // namespace kmt::platform
