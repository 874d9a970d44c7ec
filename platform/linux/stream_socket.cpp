// Direct stream calls on Linux for sockets outside any completion port.
#include "platform/stream_socket.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include "platform/linux/socket_error.h"

namespace plat {

namespace {

bool Fail() {
  linux_detail::SetLastFromErrno(errno);
  return false;
}

bool Valid(Socket s) {
  if (s < 0 || s > INT32_MAX) {
    SetLastSocketError(kSockNotSocket);
    return false;
  }
  return true;
}

int Fd(Socket s) { return static_cast<int>(s); }

}  // namespace

bool SetBlocking(Socket s, bool blocking) {
  if (!Valid(s)) return false;
  const int flags = ::fcntl(Fd(s), F_GETFL);
  if (flags < 0) return Fail();
  const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  if (::fcntl(Fd(s), F_SETFL, wanted) != 0) return Fail();
  return true;
}

Socket AcceptNow(Socket listener) {
  if (!Valid(listener)) return kInvalidSocket;
  const int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    Fail();
    return kInvalidSocket;
  }
  return fd;
}

bool ConnectSocket(Socket s, const SockAddrIn& to) {
  if (!Valid(s)) return false;
  const sockaddr_in sa = linux_detail::ToSys(to);
  if (::connect(Fd(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return true;
  Fail();
  return LastSocketError() == kSockWouldBlock;
}

int32_t StreamSend(Socket s, const void* buf, uint32_t len) {
  if (!Valid(s)) return -1;
  const ssize_t n = ::send(Fd(s), buf, len, MSG_NOSIGNAL);
  if (n < 0) {
    Fail();
    return -1;
  }
  return static_cast<int32_t>(n);
}

int32_t StreamRecv(Socket s, void* buf, uint32_t cap) {
  if (!Valid(s)) return -1;
  const ssize_t n = ::recv(Fd(s), buf, cap, 0);
  if (n < 0) {
    Fail();
    return -1;
  }
  return static_cast<int32_t>(n);
}

bool WaitReadable(Socket s, int timeoutMs) {
  if (!Valid(s)) return false;
  pollfd p{Fd(s), POLLIN, 0};
  const int n = ::poll(&p, 1, timeoutMs);
  if (n < 0) return Fail();
  return n == 1;
}

bool SetResetOnClose(Socket s) {
  if (!Valid(s)) return false;
  const linger hard{1, 0};
  if (::setsockopt(Fd(s), SOL_SOCKET, SO_LINGER, &hard, sizeof hard) != 0) return Fail();
  return true;
}

}  // namespace plat
