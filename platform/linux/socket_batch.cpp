// sendmmsg / recvmmsg behind the batched datagram calls.
#include "platform/socket_batch.h"

#include <errno.h>
#include <sys/socket.h>

#include "platform/linux/socket_error.h"

namespace plat {

namespace {

// Field by field: clearing whole arrays of headers would cost more than the
// system call saves on a batch.
void Fill(mmsghdr* m, iovec* iov, sockaddr_in* name, socklen_t nameLen) {
  m->msg_hdr.msg_name = name;
  m->msg_hdr.msg_namelen = nameLen;
  m->msg_hdr.msg_iov = iov;
  m->msg_hdr.msg_iovlen = 1;
  m->msg_hdr.msg_control = nullptr;
  m->msg_hdr.msg_controllen = 0;
  m->msg_hdr.msg_flags = 0;
  m->msg_len = 0;
}

}  // namespace

int32_t SendBatchNow(Socket s, const void* const* bufs, const uint32_t* lens, uint32_t count,
                     const SockAddrIn& to) {
  if (s < 0 || s > INT32_MAX || count > kMaxDatagramBatch) {
    SetLastSocketError(kSockInvalidArg);
    return -1;
  }
  sockaddr_in sa = linux_detail::ToSys(to);
  iovec iov[kMaxDatagramBatch];
  mmsghdr msgs[kMaxDatagramBatch];
  for (uint32_t i = 0; i < count; ++i) {
    iov[i].iov_base = const_cast<void*>(bufs[i]);
    iov[i].iov_len = lens[i];
    Fill(&msgs[i], &iov[i], &sa, sizeof sa);
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
  mmsghdr msgs[kMaxDatagramBatch];
  for (uint32_t i = 0; i < count; ++i) {
    iov[i].iov_base = bufs[i];
    iov[i].iov_len = cap;
    Fill(&msgs[i], &iov[i], nullptr, 0);
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
