#include "udp_socket.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <vector>

namespace vpeer {

namespace {

// What differs between the two systems, so that the classes below read the
// same on both.
#if defined(_WIN32)
using SockLen = int;
using IoLen = int;
using PollFd = WSAPOLLFD;
// Windows cuts an oversized datagram and fails the call instead of telling
// its size.
constexpr int kRecvFlags = 0;

std::string SystemError(const std::string& what) {
  return what + ": Winsock error " + std::to_string(::WSAGetLastError());
}

bool Interrupted() { return false; }
bool CutDatagram() { return ::WSAGetLastError() == WSAEMSGSIZE; }
void CloseNative(NativeSocket s) { ::closesocket(static_cast<SOCKET>(s)); }
int PollNative(PollFd* fds, size_t n, int timeoutMs) {
  return ::WSAPoll(fds, static_cast<ULONG>(n), timeoutMs);
}

NativeSocket NewUdpSocket(std::string* err) {
  // Winsock stays started for the life of the process.
  static const int started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) {
    *err = "WSAStartup: error " + std::to_string(started);
    return kNoSocket;
  }
  const SOCKET s = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    *err = SystemError("socket");
    return kNoSocket;
  }
  u_long nonBlocking = 1;
  // Without this, one port-unreachable reply to a datagram for a client that
  // has gone fails the next receive.
  BOOL report = FALSE;
  DWORD returned = 0;
  if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
      ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr) != 0) {
    *err = SystemError("socket options");
    ::closesocket(s);
    return kNoSocket;
  }
  return static_cast<NativeSocket>(s);
}
#else
using SockLen = socklen_t;
using IoLen = size_t;
using PollFd = pollfd;
// MSG_TRUNC reports the real size, so an oversized datagram is seen as such
// rather than as a short one.
constexpr int kRecvFlags = MSG_TRUNC;

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

bool Interrupted() { return errno == EINTR; }
bool CutDatagram() { return false; }
void CloseNative(NativeSocket s) { ::close(static_cast<int>(s)); }
int PollNative(PollFd* fds, size_t n, int timeoutMs) {
  return ::poll(fds, static_cast<nfds_t>(n), timeoutMs);
}

NativeSocket NewUdpSocket(std::string* err) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *err = SystemError("socket");
    return kNoSocket;
  }
  return fd;
}
#endif

sockaddr_in ToSockaddr(const Endpoint& e) {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(e.ip);
  sa.sin_port = htons(e.port);
  return sa;
}

}  // namespace

UdpSocket::~UdpSocket() { Close(); }

UdpSocket::UdpSocket(UdpSocket&& o) noexcept : m_fd(o.m_fd), m_local(o.m_local) {
  o.m_fd = kNoSocket;
}

UdpSocket& UdpSocket::operator=(UdpSocket&& o) noexcept {
  if (this != &o) {
    Close();
    m_fd = o.m_fd;
    m_local = o.m_local;
    o.m_fd = kNoSocket;
  }
  return *this;
}

bool UdpSocket::Open(const Endpoint& local, std::string* err) {
  Close();
  const NativeSocket fd = NewUdpSocket(err);
  if (fd == kNoSocket) return false;
  // Bursts from a client under test can outrun the peer for a moment; a
  // larger receive buffer keeps such bursts from being lost before counting.
  int size = 1 << 20;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
  sockaddr_in sa = ToSockaddr(local);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    *err = SystemError("bind " + local.ToString());
    CloseNative(fd);
    return false;
  }
  SockLen salen = sizeof sa;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &salen) != 0) {
    *err = SystemError("getsockname");
    CloseNative(fd);
    return false;
  }
  m_fd = fd;
  m_local.ip = ntohl(sa.sin_addr.s_addr);
  m_local.port = ntohs(sa.sin_port);
  return true;
}

void UdpSocket::Close() {
  if (m_fd != kNoSocket) CloseNative(m_fd);
  m_fd = kNoSocket;
}

bool UdpSocket::SendTo(const Endpoint& to, const uint8_t* data, size_t len) const {
  if (m_fd == kNoSocket) return false;
  sockaddr_in sa = ToSockaddr(to);
  for (;;) {
    const auto n = ::sendto(m_fd, reinterpret_cast<const char*>(data), static_cast<IoLen>(len), 0,
                            reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    if (n >= 0) return static_cast<size_t>(n) == len;
    if (!Interrupted()) return false;
  }
}

long UdpSocket::RecvFrom(uint8_t* buf, size_t cap, Endpoint* from) const {
  if (m_fd == kNoSocket) return -1;
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  SockLen salen = sizeof sa;
  for (;;) {
    const auto n = ::recvfrom(m_fd, reinterpret_cast<char*>(buf), static_cast<IoLen>(cap), kRecvFlags,
                              reinterpret_cast<sockaddr*>(&sa), &salen);
    const bool cut = n < 0 && CutDatagram();
    if (n >= 0 || cut) {
      from->ip = ntohl(sa.sin_addr.s_addr);
      from->port = ntohs(sa.sin_port);
      return cut ? static_cast<long>(cap) + 1 : static_cast<long>(n);
    }
    if (!Interrupted()) return -1;
  }
}

WakePipe::~WakePipe() { Close(); }

#if defined(_WIN32)
bool WakePipe::Open(std::string* err) {
  Close();
  Endpoint loopback;
  loopback.ip = 0x7F000001;
  if (!m_self.Open(loopback, err)) return false;
  m_fds[0] = m_fds[1] = m_self.Fd();
  return true;
}

void WakePipe::Close() {
  m_self.Close();
  m_fds[0] = m_fds[1] = kNoSocket;
}

void WakePipe::Wake() const {
  const uint8_t one = 1;
  // A full buffer already wakes the poller; the result needs no check.
  m_self.SendTo(m_self.Local(), &one, 1);
}

void WakePipe::Drain() const {
  uint8_t buf[64];
  Endpoint from;
  while (m_self.RecvFrom(buf, sizeof buf, &from) >= 0) {
  }
}
#else
bool WakePipe::Open(std::string* err) {
  Close();
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
    *err = SystemError("pipe");
    return false;
  }
  m_fds[0] = fds[0];
  m_fds[1] = fds[1];
  return true;
}

void WakePipe::Close() {
  for (NativeSocket& fd : m_fds) {
    if (fd != kNoSocket) CloseNative(fd);
    fd = kNoSocket;
  }
}

void WakePipe::Wake() const {
  if (m_fds[1] == kNoSocket) return;
  const uint8_t one = 1;
  // A full pipe already wakes the poller; the result needs no check.
  const ssize_t ignored = ::write(static_cast<int>(m_fds[1]), &one, 1);
  (void)ignored;
}

void WakePipe::Drain() const {
  uint8_t buf[64];
  while (m_fds[0] != kNoSocket && ::read(static_cast<int>(m_fds[0]), buf, sizeof buf) > 0) {
  }
}
#endif

bool PollReadable(const NativeSocket* fds, bool* ready, size_t count, int timeoutMs) {
  std::vector<PollFd> pfds(count);
  for (size_t i = 0; i < count; ++i) {
    pfds[i].fd = fds[i];
    pfds[i].events = POLLIN;
    pfds[i].revents = 0;
  }
  const int n = PollNative(pfds.data(), count, timeoutMs);
  for (size_t i = 0; i < count; ++i) ready[i] = n > 0 && (pfds[i].revents & (POLLIN | POLLERR)) != 0;
  return n >= 0 || Interrupted();
}

}  // namespace vpeer
