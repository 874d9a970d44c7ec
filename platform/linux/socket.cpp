// BSD sockets on Linux: IPv4, non-blocking, close-on-exec. Every errno that a
// call can produce is sorted into a SocketError in SocketErrorFromErrno, and
// nowhere else.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/linux/socket_error.h"

namespace plat {

namespace {

thread_local int t_lastSocketError = kSockOk;

// Address whose route stands for "the default route". A UDP connect only
// looks the route up; no datagram leaves the machine.
constexpr const char* kDefaultRouteProbe = "8.8.8.8";
// UDP discard port: some kernels refuse a connect to port 0 with EINVAL.
constexpr uint16_t kFallbackProbePort = 9;
constexpr size_t kLocalIpBufferBytes = 128;

bool Fail() {
  linux_detail::SetLastFromErrno(errno);
  return false;
}

Socket NewSocket(int type) {
  int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    linux_detail::SetLastFromErrno(errno);
    return kInvalidSocket;
  }
  return fd;
}

bool ValidFd(Socket s) {
  if (s < 0 || s > INT32_MAX) {
    t_lastSocketError = kSockNotSocket;
    return false;
  }
  return true;
}

}  // namespace

namespace linux_detail {

int SocketErrorFromErrno(int e) {
  switch (e) {
    case 0:
      return kSockOk;
    // Retry later: the operation waits for readiness.
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS:
    case EINTR:
      return kSockWouldBlock;
    case EALREADY:
      return kSockAlready;
    // The peer or the path is gone: give up on this connection.
    case ECONNRESET:
    case EPIPE:
    case ESHUTDOWN:
      return kSockConnReset;
    case ECONNABORTED:
      return kSockConnAborted;
    case ECONNREFUSED:
      return kSockConnRefused;
    case ETIMEDOUT:
      return kSockTimedOut;
    case ENETUNREACH:
    case ENETDOWN:
      return kSockNetUnreach;
    case EHOSTUNREACH:
    case EHOSTDOWN:
      return kSockHostUnreach;
    case ENOTCONN:
      return kSockNotConn;
    case EISCONN:
      return kSockIsConn;
    // Local addresses.
    case EADDRINUSE:
      return kSockAddrInUse;
    case EADDRNOTAVAIL:
      return kSockAddrNotAvail;
    case EAFNOSUPPORT:
      return kSockAfNotSupported;
    // The caller's mistake or an unusable handle.
    case EBADF:
    case ENOTSOCK:
      return kSockNotSocket;
    case EINVAL:
    case EFAULT:
    case EDESTADDRREQ:
    case EOPNOTSUPP:
      return kSockInvalidArg;
    case EMSGSIZE:
      return kSockMsgSize;
    case EACCES:
    case EPERM:
      return kSockAccess;
    // Resource exhaustion.
    case ENOBUFS:
    case ENOMEM:
      return kSockNoBufs;
    case EMFILE:
    case ENFILE:
      return kSockTooManyFiles;
    default:
      return kSockOther;
  }
}

int SetLastFromErrno(int e) {
  t_lastSocketError = SocketErrorFromErrno(e);
  return t_lastSocketError;
}

}  // namespace linux_detail

int LastSocketError() { return t_lastSocketError; }
void SetLastSocketError(int err) { t_lastSocketError = err; }

uint32_t InetAddr(const char* text) {
  if (text == nullptr) return kInaddrNone;
  return ::inet_addr(text);
}

char* InetNtoa(uint32_t addrBe, char* out) {
  in_addr a;
  a.s_addr = addrBe;
  if (::inet_ntop(AF_INET, &a, out, INET_ADDRSTRLEN) == nullptr) out[0] = '\0';
  return out;
}

uint32_t HostToNet32(uint32_t v) { return htonl(v); }
uint32_t NetToHost32(uint32_t v) { return ntohl(v); }
uint16_t HostToNet16(uint16_t v) { return htons(v); }
uint16_t NetToHost16(uint16_t v) { return ntohs(v); }

SockAddrIn MakeAddr(uint32_t ipHost, uint16_t portHost) {
  SockAddrIn a{};
  a.family = AF_INET;
  a.portBe = htons(portHost);
  a.addrBe = htonl(ipHost);
  return a;
}

Socket UdpSocket() { return NewSocket(SOCK_DGRAM); }
Socket TcpSocket() { return NewSocket(SOCK_STREAM); }

bool BindSocket(Socket s, const SockAddrIn& addr) {
  if (!ValidFd(s)) return false;
  sockaddr_in sa = linux_detail::ToSys(addr);
  if (::bind(static_cast<int>(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return Fail();
  return true;
}

namespace {

// getsockname and getpeername share their shape.
bool AddressQuery(Socket s, SockAddrIn* out, int (*query)(int, sockaddr*, socklen_t*)) {
  if (!ValidFd(s)) return false;
  if (out == nullptr) {
    t_lastSocketError = kSockInvalidArg;
    return false;
  }
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (query(static_cast<int>(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return Fail();
  *out = linux_detail::FromSys(sa);
  return true;
}

}  // namespace

bool GetSockName(Socket s, SockAddrIn* out) { return AddressQuery(s, out, &::getsockname); }

bool GetPeerName(Socket s, SockAddrIn* out) { return AddressQuery(s, out, &::getpeername); }

bool SetSocketBuffers(Socket s, int sendBytes, int recvBytes) {
  if (!ValidFd(s)) return false;
  int fd = static_cast<int>(s);
  // The FORCE variants pass the system-wide cap but need privileges; without
  // them the plain options apply and the kernel grants what its cap allows.
  if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &sendBytes, sizeof sendBytes) != 0 &&
      ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBytes, sizeof sendBytes) != 0) {
    return Fail();
  }
  if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &recvBytes, sizeof recvBytes) != 0 &&
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &recvBytes, sizeof recvBytes) != 0) {
    return Fail();
  }
  return true;
}

bool SetReuseAddr(Socket s) {
  if (!ValidFd(s)) return false;
  int on = 1;
  if (::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return Fail();
  return true;
}

bool SetNoDelay(Socket s) {
  if (!ValidFd(s)) return false;
  int on = 1;
  if (::setsockopt(static_cast<int>(s), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) return Fail();
  return true;
}

bool ListenSocket(Socket s, int backlog) {
  if (!ValidFd(s)) return false;
  if (::listen(static_cast<int>(s), backlog) != 0) return Fail();
  return true;
}

void CloseSocket(Socket s) {
  if (s < 0 || s > INT32_MAX) return;
  ::close(static_cast<int>(s));
}

int32_t SendToNow(Socket s, const void* buf, uint32_t len, const SockAddrIn& to) {
  if (!ValidFd(s)) return -1;
  sockaddr_in sa = linux_detail::ToSys(to);
  ssize_t n = ::sendto(static_cast<int>(s), buf, len, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  if (n < 0) {
    Fail();
    return -1;
  }
  return static_cast<int32_t>(n);
}

int32_t RecvFromNow(Socket s, void* buf, uint32_t cap, SockAddrIn* from) {
  if (!ValidFd(s)) return -1;
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  // MSG_TRUNC: the real size comes back, so a cut datagram is recognisable.
  ssize_t n = ::recvfrom(static_cast<int>(s), buf, cap, MSG_DONTWAIT | MSG_TRUNC,
                         reinterpret_cast<sockaddr*>(&sa), &len);
  if (n < 0) {
    Fail();
    return -1;
  }
  if (from != nullptr) *from = linux_detail::FromSys(sa);
  return static_cast<int32_t>(n);
}

bool GetLocalIpToward(const char* destIp, char* buf128) {
  if (buf128 == nullptr) return false;
  std::memset(buf128, 0, kLocalIpBufferBytes);
  uint32_t dest = InetAddr(destIp);
  if (dest == kInaddrNone) {
    t_lastSocketError = kSockInvalidArg;
    return false;
  }
  Socket s = UdpSocket();
  if (s == kInvalidSocket) return false;
  int fd = static_cast<int>(s);

  // Connecting a UDP socket only chooses the route and the local address;
  // nothing is sent. Port 0 is the natural "no service" choice, but some
  // kernels refuse it, and the discard port then gives the same route.
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = dest;
  to.sin_port = 0;
  int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
  if (rc != 0 && errno == EINVAL) {
    to.sin_port = htons(kFallbackProbePort);
    rc = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  bool ok = false;
  if (rc != 0) {
    linux_detail::SetLastFromErrno(errno);
  } else {
    SockAddrIn local{};
    char text[INET_ADDRSTRLEN] = {};
    if (GetSockName(s, &local) && local.addrBe != 0) {
      InetNtoa(local.addrBe, text);
      std::memcpy(buf128, text, std::strlen(text));
      ok = true;
    }
  }
  ::close(fd);
  return ok;
}

uint32_t PrimaryLocalIp() {
  char buf[kLocalIpBufferBytes];
  if (GetLocalIpToward(kDefaultRouteProbe, buf)) {
    uint32_t be = InetAddr(buf);
    if (be != kInaddrNone && be != 0) return ntohl(be);
  }
  // No default route (an isolated machine or a test container): the loopback
  // interface is then the only one on which a bound socket can still exchange
  // datagrams, and a concrete address keeps the socket table keyed by a real
  // IP rather than by "any".
  return INADDR_LOOPBACK;
}

}  // namespace plat
