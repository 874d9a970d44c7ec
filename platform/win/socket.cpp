// Winsock: IPv4, non-blocking, not inherited by child processes, overlapped
// capable. UDP sockets have connection-reset reporting switched off
// (SIO_UDP_CONNRESET): otherwise one ICMP port-unreachable reply to an
// earlier datagram fails the next receive on the socket. Every error a call
// can produce is sorted in SocketErrorFromSystem, and nowhere else.
#include "platform/socket.h"

#include <cstdio>
#include <cstring>

#include "platform/win/socket_error.h"
#include "platform/win/win_api.h"

namespace plat {

namespace {

thread_local int t_lastSocketError = kSockOk;

// Address whose route stands for "the default route". A UDP connect only
// looks the route up; no datagram leaves the machine.
constexpr const char* kDefaultRouteProbe = "8.8.8.8";
constexpr uint16_t kFallbackProbePort = 9;  // UDP discard
constexpr size_t kLocalIpBufferBytes = 128;
constexpr DWORD kWinsockVersion = MAKEWORD(2, 2);

static_assert(sizeof(sockaddr_in) == sizeof(SockAddrIn), "SockAddrIn must match sockaddr_in");
static_assert(static_cast<SOCKET>(kInvalidSocket) == INVALID_SOCKET, "one invalid socket value");

bool Fail() {
  win_detail::SetLastFromSystem(::WSAGetLastError());
  return false;
}

bool Valid(Socket s) {
  if (s == kInvalidSocket) {
    t_lastSocketError = kSockNotSocket;
    return false;
  }
  return true;
}

SOCKET Sys(Socket s) { return static_cast<SOCKET>(s); }

const sockaddr* SysAddr(const SockAddrIn& a) { return reinterpret_cast<const sockaddr*>(&a); }

Socket NewSocket(int type, int protocol) {
  if (!win_detail::EnsureWinsock()) return kInvalidSocket;
  SOCKET s = ::WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    Fail();
    return kInvalidSocket;
  }
  u_long nonBlocking = 1;
  bool ok = ::ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
  if (ok && type == SOCK_DGRAM) {
    BOOL report = FALSE;
    DWORD returned = 0;
    ok = ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr) == 0;
  }
  if (!ok) {
    Fail();
    ::closesocket(s);
    return kInvalidSocket;
  }
  return static_cast<Socket>(s);
}

}  // namespace

namespace win_detail {

int SocketErrorFromSystem(int e) {
  switch (e) {
    case 0:
      return kSockOk;
    case WSAEWOULDBLOCK:
    case WSAEINPROGRESS:
    case WSAEINTR:
      return kSockWouldBlock;
    case WSA_IO_PENDING:
      return kSockIoPending;
    // The socket was closed under a pending operation: Windows reports
    // ERROR_OPERATION_ABORTED (995), Wine 676. Both mean "aborted", which
    // the library handles as the end of the connection.
    case ERROR_OPERATION_ABORTED:
    case 676:
    case ERROR_NETNAME_DELETED:
    case ERROR_PORT_UNREACHABLE:
    case WSAECONNRESET:
    case WSAENETRESET:
    case WSAESHUTDOWN:
    case WSAEDISCON:
      return kSockConnReset;
    case ERROR_CONNECTION_ABORTED:
    case WSAECONNABORTED:
      return kSockConnAborted;
    case ERROR_CONNECTION_REFUSED:
    case WSAECONNREFUSED:
      return kSockConnRefused;
    case ERROR_SEM_TIMEOUT:
    case WSAETIMEDOUT:
      return kSockTimedOut;
    case ERROR_NETWORK_UNREACHABLE:
    case WSAENETUNREACH:
    case WSAENETDOWN:
      return kSockNetUnreach;
    case ERROR_HOST_UNREACHABLE:
    case WSAEHOSTUNREACH:
    case WSAEHOSTDOWN:
      return kSockHostUnreach;
    case ERROR_MORE_DATA:
    case WSAEMSGSIZE:
      return kSockMsgSize;
    case WSAEALREADY:
    case WSAENOTCONN:
    case WSAEISCONN:
    case WSAEADDRINUSE:
    case WSAEADDRNOTAVAIL:
    case WSAEAFNOSUPPORT:
    case WSAENOTSOCK:
    case WSAEINVAL:
    case WSAEACCES:
    case WSAENOBUFS:
    case WSAEMFILE:
      return e;  // the SocketError values are these Winsock values
    case ERROR_INVALID_HANDLE:
    case WSANOTINITIALISED:
      return kSockNotSocket;
    case WSAEFAULT:
    case WSAEDESTADDRREQ:
    case WSAEOPNOTSUPP:
    case ERROR_INVALID_PARAMETER:
      return kSockInvalidArg;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return kSockNoBufs;
    default:
      return kSockOther;
  }
}

int SetLastFromSystem(int e) {
  t_lastSocketError = SocketErrorFromSystem(e);
  return t_lastSocketError;
}

bool EnsureWinsock() {
  // Never cleaned up: host threads may still hold sockets while the process
  // exits, and the system releases Winsock with the process.
  static const int started = [] {
    WSADATA data;
    return ::WSAStartup(kWinsockVersion, &data);
  }();
  if (started != 0) t_lastSocketError = SocketErrorFromSystem(started);
  return started == 0;
}

}  // namespace win_detail

int LastSocketError() { return t_lastSocketError; }
void SetLastSocketError(int err) { t_lastSocketError = err; }

uint32_t InetAddr(const char* text) {
  if (text == nullptr) return kInaddrNone;
  return ::inet_addr(text);
}

char* InetNtoa(uint32_t addrBe, char* out) {
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&addrBe);
  std::snprintf(out, 16, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
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

Socket UdpSocket() { return NewSocket(SOCK_DGRAM, IPPROTO_UDP); }
Socket TcpSocket() { return NewSocket(SOCK_STREAM, IPPROTO_TCP); }

bool BindSocket(Socket s, const SockAddrIn& addr) {
  if (!Valid(s)) return false;
  if (::bind(Sys(s), SysAddr(addr), sizeof addr) != 0) return Fail();
  return true;
}

namespace {

bool AddressQuery(Socket s, SockAddrIn* out, int(WSAAPI* query)(SOCKET, sockaddr*, int*)) {
  if (!Valid(s)) return false;
  if (out == nullptr) {
    t_lastSocketError = kSockInvalidArg;
    return false;
  }
  sockaddr_in sa{};
  int len = sizeof sa;
  if (query(Sys(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return Fail();
  std::memcpy(out, &sa, sizeof *out);
  return true;
}

}  // namespace

bool GetSockName(Socket s, SockAddrIn* out) { return AddressQuery(s, out, &::getsockname); }

bool GetPeerName(Socket s, SockAddrIn* out) { return AddressQuery(s, out, &::getpeername); }

bool SetSocketBuffers(Socket s, int sendBytes, int recvBytes) {
  if (!Valid(s)) return false;
  if (::setsockopt(Sys(s), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBytes), sizeof sendBytes) != 0 ||
      ::setsockopt(Sys(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&recvBytes), sizeof recvBytes) != 0) {
    return Fail();
  }
  return true;
}

bool SetReuseAddr(Socket s) {
  if (!Valid(s)) return false;
  BOOL on = TRUE;
  if (::setsockopt(Sys(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on) != 0) {
    return Fail();
  }
  return true;
}

bool SetNoDelay(Socket s) {
  if (!Valid(s)) return false;
  BOOL on = TRUE;
  if (::setsockopt(Sys(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on) != 0) {
    return Fail();
  }
  return true;
}

bool ListenSocket(Socket s, int backlog) {
  if (!Valid(s)) return false;
  if (::listen(Sys(s), backlog) != 0) return Fail();
  return true;
}

void CloseSocket(Socket s) {
  if (s == kInvalidSocket) return;
  ::closesocket(Sys(s));
}

int32_t SendToNow(Socket s, const void* buf, uint32_t len, const SockAddrIn& to) {
  if (!Valid(s)) return -1;
  const int n = ::sendto(Sys(s), static_cast<const char*>(buf), static_cast<int>(len), 0, SysAddr(to), sizeof to);
  if (n == SOCKET_ERROR) {
    Fail();
    return -1;
  }
  return n;
}

int32_t RecvFromNow(Socket s, void* buf, uint32_t cap, SockAddrIn* from) {
  if (!Valid(s)) return -1;
  sockaddr_in sa{};
  int len = sizeof sa;
  const int n = ::recvfrom(Sys(s), static_cast<char*>(buf), static_cast<int>(cap), 0,
                           reinterpret_cast<sockaddr*>(&sa), &len);
  if (n == SOCKET_ERROR) {
    const int e = ::WSAGetLastError();
    if (e != WSAEMSGSIZE) {
      win_detail::SetLastFromSystem(e);
      return -1;
    }
    // Cut: Windows does not tell the real size; one more than the buffer
    // marks the datagram as too large, which is all callers need.
    if (from != nullptr) std::memcpy(from, &sa, sizeof *from);
    return static_cast<int32_t>(cap) + 1;
  }
  if (from != nullptr) std::memcpy(from, &sa, sizeof *from);
  return n;
}

bool GetLocalIpToward(const char* destIp, char* buf128) {
  if (buf128 == nullptr) return false;
  std::memset(buf128, 0, kLocalIpBufferBytes);
  const uint32_t dest = InetAddr(destIp);
  if (dest == kInaddrNone) {
    t_lastSocketError = kSockInvalidArg;
    return false;
  }
  Socket s = UdpSocket();
  if (s == kInvalidSocket) return false;
  // Connecting a UDP socket only chooses the route and the local address;
  // nothing is sent. Windows refuses port 0, so the discard port is asked.
  SockAddrIn to = MakeAddr(NetToHost32(dest), kFallbackProbePort);
  bool ok = false;
  if (::connect(Sys(s), SysAddr(to), sizeof to) != 0) {
    Fail();
  } else {
    SockAddrIn local{};
    char text[16] = {};
    if (GetSockName(s, &local) && local.addrBe != 0) {
      InetNtoa(local.addrBe, text);
      std::memcpy(buf128, text, std::strlen(text));
      ok = true;
    }
  }
  CloseSocket(s);
  return ok;
}

uint32_t PrimaryLocalIp() {
  char buf[kLocalIpBufferBytes];
  if (GetLocalIpToward(kDefaultRouteProbe, buf)) {
    const uint32_t be = InetAddr(buf);
    if (be != kInaddrNone && be != 0) return NetToHost32(be);
  }
  // No default route: loopback is the one interface where a bound socket can
  // still exchange datagrams (see the Linux counterpart).
  return INADDR_LOOPBACK;
}

}  // namespace plat
