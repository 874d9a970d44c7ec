// Direct stream calls on Winsock for sockets outside any completion port.
#include "platform/stream_socket.h"
#include "platform/win/socket_error.h"
#include "platform/win/win_api.h"

namespace plat {

namespace {

bool Fail() {
  win_detail::SetLastFromSystem(::WSAGetLastError());
  return false;
}

bool Valid(Socket s) {
  if (s == kInvalidSocket) {
    SetLastSocketError(kSockNotSocket);
    return false;
  }
  return true;
}

SOCKET Sys(Socket s) { return static_cast<SOCKET>(s); }

}  // namespace

bool SetBlocking(Socket s, bool blocking) {
  if (!Valid(s)) return false;
  u_long nonBlocking = blocking ? 0 : 1;
  if (::ioctlsocket(Sys(s), FIONBIO, &nonBlocking) != 0) return Fail();
  return true;
}

Socket AcceptNow(Socket listener) {
  if (!Valid(listener)) return kInvalidSocket;
  const SOCKET s = ::accept(Sys(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) {
    Fail();
    return kInvalidSocket;
  }
  // An accepted socket takes its listener's mode; callers are promised a
  // non-blocking one whatever the listener's.
  if (!SetBlocking(static_cast<Socket>(s), false)) {
    ::closesocket(s);
    return kInvalidSocket;
  }
  return static_cast<Socket>(s);
}

bool ConnectSocket(Socket s, const SockAddrIn& to) {
  if (!Valid(s)) return false;
  if (::connect(Sys(s), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return true;
  Fail();
  return LastSocketError() == kSockWouldBlock;
}

int32_t StreamSend(Socket s, const void* buf, uint32_t len) {
  if (!Valid(s)) return -1;
  const int n = ::send(Sys(s), static_cast<const char*>(buf), static_cast<int>(len), 0);
  if (n == SOCKET_ERROR) {
    Fail();
    return -1;
  }
  return n;
}

int32_t StreamRecv(Socket s, void* buf, uint32_t cap) {
  if (!Valid(s)) return -1;
  const int n = ::recv(Sys(s), static_cast<char*>(buf), static_cast<int>(cap), 0);
  if (n == SOCKET_ERROR) {
    Fail();
    return -1;
  }
  return n;
}

bool WaitReadable(Socket s, int timeoutMs) {
  if (!Valid(s)) return false;
  WSAPOLLFD p{};
  p.fd = Sys(s);
  p.events = POLLRDNORM;
  const int n = ::WSAPoll(&p, 1, timeoutMs);
  if (n == SOCKET_ERROR) return Fail();
  return n == 1;
}

bool SetResetOnClose(Socket s) {
  if (!Valid(s)) return false;
  linger hard{};
  hard.l_onoff = 1;
  hard.l_linger = 0;
  if (::setsockopt(Sys(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard) != 0) {
    return Fail();
  }
  return true;
}

}  // namespace plat
