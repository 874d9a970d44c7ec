#include "udp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace vpeer {

namespace {

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
  o.m_fd = -1;
}

UdpSocket& UdpSocket::operator=(UdpSocket&& o) noexcept {
  if (this != &o) {
    Close();
    m_fd = o.m_fd;
    m_local = o.m_local;
    o.m_fd = -1;
  }
  return *this;
}

bool UdpSocket::Open(const Endpoint& local, std::string* err) {
  Close();
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *err = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  // Bursts from a client under test can outrun the peer for a moment; a
  // larger receive buffer keeps such bursts from being lost before counting.
  int size = 1 << 20;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  sockaddr_in sa = ToSockaddr(local);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    *err = "bind " + local.ToString() + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  socklen_t salen = sizeof sa;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &salen) != 0) {
    *err = std::string("getsockname: ") + std::strerror(errno);
    ::close(fd);
    return false;
  }
  m_fd = fd;
  m_local.ip = ntohl(sa.sin_addr.s_addr);
  m_local.port = ntohs(sa.sin_port);
  return true;
}

void UdpSocket::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

bool UdpSocket::SendTo(const Endpoint& to, const uint8_t* data, size_t len) const {
  if (m_fd < 0) return false;
  sockaddr_in sa = ToSockaddr(to);
  for (;;) {
    const ssize_t n =
        ::sendto(m_fd, data, len, 0, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    if (n >= 0) return static_cast<size_t>(n) == len;
    if (errno != EINTR) return false;
  }
}

long UdpSocket::RecvFrom(uint8_t* buf, size_t cap, Endpoint* from) const {
  if (m_fd < 0) return -1;
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  socklen_t salen = sizeof sa;
  for (;;) {
    // MSG_TRUNC reports the real size, so an oversized datagram is seen as
    // such rather than as a short one.
    const ssize_t n =
        ::recvfrom(m_fd, buf, cap, MSG_TRUNC, reinterpret_cast<sockaddr*>(&sa), &salen);
    if (n >= 0) {
      from->ip = ntohl(sa.sin_addr.s_addr);
      from->port = ntohs(sa.sin_port);
      return static_cast<long>(n);
    }
    if (errno != EINTR) return -1;
  }
}

WakePipe::~WakePipe() { Close(); }

bool WakePipe::Open(std::string* err) {
  Close();
  if (::pipe2(m_fds, O_NONBLOCK | O_CLOEXEC) != 0) {
    *err = std::string("pipe: ") + std::strerror(errno);
    m_fds[0] = m_fds[1] = -1;
    return false;
  }
  return true;
}

void WakePipe::Close() {
  for (int& fd : m_fds) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

void WakePipe::Wake() const {
  if (m_fds[1] < 0) return;
  const uint8_t one = 1;
  // A full pipe already wakes the poller; the result needs no check.
  const ssize_t ignored = ::write(m_fds[1], &one, 1);
  (void)ignored;
}

void WakePipe::Drain() const {
  uint8_t buf[64];
  while (m_fds[0] >= 0 && ::read(m_fds[0], buf, sizeof buf) > 0) {
  }
}

bool PollReadable(const int* fds, bool* ready, size_t count, int timeoutMs) {
  std::vector<pollfd> pfds(count);
  for (size_t i = 0; i < count; ++i) {
    pfds[i].fd = fds[i];
    pfds[i].events = POLLIN;
    pfds[i].revents = 0;
  }
  const int n = ::poll(pfds.data(), static_cast<nfds_t>(count), timeoutMs);
  for (size_t i = 0; i < count; ++i) ready[i] = n > 0 && (pfds[i].revents & (POLLIN | POLLERR)) != 0;
  return n >= 0 || errno == EINTR;
}

}  // namespace vpeer
