// Batched datagram calls for sockets that are NOT associated with a
// CompletionPort (benchmark baselines and sinks). Linux hands a whole batch
// to the kernel in one system call; elsewhere they loop over the single
// calls. They never wait.
#pragma once
#include <cstdint>

#include "platform/socket.h"

namespace plat {

constexpr uint32_t kMaxDatagramBatch = 64;

// Sends count (at most kMaxDatagramBatch) datagrams, datagram i being
// bufs[i] of lens[i] bytes, all to `to`. Returns how many were handed to the
// system (0..count), or -1 when the first one failed (LastSocketError set).
int32_t SendBatchNow(Socket s, const void* const* bufs, const uint32_t* lens, uint32_t count,
                     const SockAddrIn& to);
// Receives up to count (at most kMaxDatagramBatch) waiting datagrams into
// bufs[i] (cap bytes each); sizes[i] gets each one's real size. Returns how
// many arrived, 0 when none was waiting, or -1 on an error.
int32_t RecvBatchNow(Socket s, void* const* bufs, uint32_t cap, uint32_t count, uint32_t* sizes);

}  // namespace plat
