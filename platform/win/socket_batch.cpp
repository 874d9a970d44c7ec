// Windows has no batched datagram call for plain sockets: one call each.
#include "platform/socket_batch.h"

namespace plat {

int32_t SendBatchNow(Socket s, const void* const* bufs, const uint32_t* lens, uint32_t count,
                     const SockAddrIn& to) {
  if (count > kMaxDatagramBatch) {
    SetLastSocketError(kSockInvalidArg);
    return -1;
  }
  uint32_t sent = 0;
  for (; sent < count; ++sent) {
    if (SendToNow(s, bufs[sent], lens[sent], to) < 0) break;
  }
  return sent == 0 && count != 0 ? -1 : static_cast<int32_t>(sent);
}

int32_t RecvBatchNow(Socket s, void* const* bufs, uint32_t cap, uint32_t count, uint32_t* sizes) {
  if (count > kMaxDatagramBatch) {
    SetLastSocketError(kSockInvalidArg);
    return -1;
  }
  uint32_t got = 0;
  for (; got < count; ++got) {
    const int32_t n = RecvFromNow(s, bufs[got], cap, nullptr);
    if (n < 0) {
      if (got == 0 && LastSocketError() != kSockWouldBlock) return -1;
      break;
    }
    sizes[got] = static_cast<uint32_t>(n);
  }
  return static_cast<int32_t>(got);
}

}  // namespace plat
