// The system calls behind each pending operation of the completion port.
#include "platform/linux/port_socket.h"

#include <errno.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include "platform/linux/socket_error.h"

namespace plat {
namespace linux_detail {

namespace {

PortSocket::Attempt Finish(Overlapped* ov, int err) {
  ov->error = err;
  return PortSocket::Attempt::kDone;
}

// A would-block errno means "wait for readiness"; anything else finishes.
PortSocket::Attempt FinishErrno(Overlapped* ov, int e) {
  int err = SocketErrorFromErrno(e);
  if (err == kSockWouldBlock) return PortSocket::Attempt::kWait;
  return Finish(ov, err);
}

}  // namespace

uint32_t PortSocket::WantedEvents() const {
  return (reads.Empty() ? 0u : static_cast<uint32_t>(EPOLLIN)) |
         (writes.Empty() ? 0u : static_cast<uint32_t>(EPOLLOUT));
}

PortSocket::Attempt PortSocket::TryRead(Overlapped* ov) {
  switch (ov->op) {
    case kOpRecvFrom:
    case kOpRecv: {
      // On datagram sockets MSG_TRUNC makes the call return the datagram's
      // real size, so an oversized datagram is reported (bytes > length)
      // instead of arriving silently cut. On streams it would discard data.
      const int flags = datagram ? MSG_TRUNC : 0;
      const bool wantSource = ov->op == kOpRecvFrom;
      sockaddr_in from{};
      socklen_t fromLen = sizeof from;
      ssize_t n = ::recvfrom(fd, ov->buffer, ov->length, flags,
                             wantSource ? reinterpret_cast<sockaddr*>(&from) : nullptr,
                             wantSource ? &fromLen : nullptr);
      if (n < 0) return FinishErrno(ov, errno);
      ov->bytes = static_cast<uint32_t>(n);
      if (wantSource && ov->addr != nullptr) {
        *ov->addr = FromSys(from);
        if (ov->addrLen != nullptr) *ov->addrLen = static_cast<int32_t>(sizeof(SockAddrIn));
      }
      return Finish(ov, kSockOk);
    }
    case kOpAccept:
      for (;;) {
        int accepted = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (accepted >= 0) {
          ov->acceptSocket = accepted;
          return Finish(ov, kSockOk);
        }
        // A connection that died in the backlog is not this accept's failure.
        if (errno == ECONNABORTED || errno == EPROTO || errno == EINTR) continue;
        return FinishErrno(ov, errno);
      }
    default:
      return Finish(ov, kSockInvalidArg);
  }
}

PortSocket::Attempt PortSocket::TryReadAtOnce(Overlapped* ov) {
  if (ov->op == kOpAccept) return Attempt::kWait;
  return TryRead(ov);
}

PortSocket::Attempt PortSocket::TryWrite(Overlapped* ov) {
  switch (ov->op) {
    case kOpSendTo: {
      sockaddr_in to = ToSys(ov->peer);
      ssize_t n = ::sendto(fd, ov->buffer, ov->length, MSG_NOSIGNAL,
                           reinterpret_cast<sockaddr*>(&to), sizeof to);
      if (n < 0) return FinishErrno(ov, errno);
      ov->bytes = static_cast<uint32_t>(n);
      return Finish(ov, kSockOk);
    }
    case kOpSend:
      // Like an overlapped send, complete only once everything went out;
      // ov->bytes keeps the progress between readiness events.
      while (ov->bytes < ov->length) {
        const char* from = static_cast<const char*>(ov->buffer) + ov->bytes;
        ssize_t n = ::send(fd, from, ov->length - ov->bytes, MSG_NOSIGNAL);
        if (n < 0) return FinishErrno(ov, errno);
        ov->bytes += static_cast<uint32_t>(n);
      }
      return Finish(ov, kSockOk);
    case kOpConnect: {
      int soError = 0;
      socklen_t len = sizeof soError;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) return FinishErrno(ov, errno);
      if (soError != 0) return FinishErrno(ov, soError);
      // Writable without an error means connected; a stale wake-up while the
      // handshake still runs shows as "not connected yet".
      sockaddr_in peer{};
      socklen_t peerLen = sizeof peer;
      if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0) {
        if (errno == ENOTCONN) return Attempt::kWait;
        return FinishErrno(ov, errno);
      }
      return Finish(ov, kSockOk);
    }
    default:
      return Finish(ov, kSockInvalidArg);
  }
}

PortSocket::Attempt PortSocket::StartConnect(Overlapped* ov) {
  sockaddr_in to = ToSys(ov->peer);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) return Finish(ov, kSockOk);
  return FinishErrno(ov, errno);  // EINPROGRESS waits
}

void PortSocket::Drain(bool readSide, OvQueue& finished) {
  OvQueue& q = readSide ? reads : writes;
  while (!q.Empty()) {
    Attempt a = readSide ? TryRead(q.head) : TryWrite(q.head);
    if (a == Attempt::kWait) return;
    finished.Push(q.Pop());
  }
}

void PortSocket::TakeAll(int err, OvQueue& finished) {
  dead = true;
  OvQueue taken;
  taken.Append(reads);
  taken.Append(writes);
  for (Overlapped* ov = taken.head; ov != nullptr; ov = ov->next) ov->error = err;
  finished.Append(taken);
}

}  // namespace linux_detail
}  // namespace plat
