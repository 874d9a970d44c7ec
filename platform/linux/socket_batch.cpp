// sendmmsg / recvmmsg behind the batched datagram calls.
#include "platform/socket_batch.h"

#include <errno.h>
#include <sys/socket.h>

#include "platform/linux/socket_error.h"

namespace plat {

int32_t SendBatchNow(Socket s, const void* const* bufs, const uint32_t* lens, uint32_t count,
                     const SockAddrIn& to) {
  if (s < 0 || s > INT32_MAX || count > kMaxDatagramBatch) {
    SetLastSocketError(kSockInvalidArg);
    return -1;
  }
  sockaddr_in sa = linux_detail::ToSys(to);
  iovec iov[kMaxDatagramBatch];
  mmsghdr msgs[kMaxDatagramBatch] = {};
  for (uint32_t i = 0; i < count; ++i) {
    iov[i].iov_base = const_cast<void*>(bufs[i]);
    iov[i].iov_len = lens[i];
    msgs[i].msg_hdr.msg_iov = &iov[i];
    msgs[i].msg_hdr.msg_iovlen = 1;
    msgs[i].msg_hdr.msg_name = &sa;
    msgs[i].msg_hdr.msg_namelen = sizeof sa;
  }
  const int n = ::sendmmsg(static_cast<int>(s), msgs, count, MSG_DONTWAIT);
  if (n < 0) {
    linux_detail::SetLastFromErrno(errno);
    return -1;
  }
  return n;
}

int32_t RecvBatchNow(Socket s, void* const* bufs, uint32_t cap, uint32_t count, uint32_t* sizes) {
  if (s < 0 || s > INT32_MAX || count > kMaxDatagramBatch) {
    SetLastSocketError(kSockInvalidArg);
    return -1;
  }
  iovec iov[kMaxDatagramBatch];
  mmsghdr msgs[kMaxDatagramBatch] = {};
  for (uint32_t i = 0; i < count; ++i) {
    iov[i].iov_base = bufs[i];
    iov[i].iov_len = cap;
    msgs[i].msg_hdr.msg_iov = &iov[i];
    msgs[i].msg_hdr.msg_iovlen = 1;
  }
  const int n = ::recvmmsg(static_cast<int>(s), msgs, count, MSG_DONTWAIT, nullptr);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    linux_detail::SetLastFromErrno(errno);
    return -1;
  }
  for (int i = 0; i < n; ++i) sizes[i] = msgs[i].msg_len;
  return n;
}

}  // namespace plat
