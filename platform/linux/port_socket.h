// One socket associated with the completion port: its queues of waiting
// operations and the attempts that move an operation forward when the socket
// is ready. Internal to completion_port.cpp.
//
// Threads: every member below `mu` is guarded by it, and every system call on
// `fd` is made with `mu` held, so the descriptor is never closed under a
// running call.
#pragma once
#include <cstdint>

#include "platform/completion_port.h"
#include "platform/word_lock.h"

namespace plat {
namespace linux_detail {

enum PortOp : uint32_t {
  kOpPosted = 1,
  kOpSendTo,
  kOpRecvFrom,
  kOpSend,
  kOpRecv,
  kOpConnect,
  kOpAccept,
};

// Intrusive FIFO over Overlapped::next; allocates nothing.
struct OvQueue {
  Overlapped* head = nullptr;
  Overlapped* tail = nullptr;

  bool Empty() const { return head == nullptr; }
  bool Single() const { return head != nullptr && head == tail; }
  void Push(Overlapped* ov) {
    ov->next = nullptr;
    if (tail != nullptr) {
      tail->next = ov;
    } else {
      head = ov;
    }
    tail = ov;
  }
  Overlapped* Pop() {
    Overlapped* ov = head;
    if (ov != nullptr) {
      head = ov->next;
      if (head == nullptr) tail = nullptr;
      ov->next = nullptr;
    }
    return ov;
  }
  // Moves every record of other to the end of this queue.
  void Append(OvQueue& other) {
    if (other.Empty()) return;
    if (tail != nullptr) {
      tail->next = other.head;
    } else {
      head = other.head;
    }
    tail = other.tail;
    other.head = other.tail = nullptr;
  }
  void Remove(Overlapped* ov) {
    OvQueue keep;
    while (!Empty()) {
      Overlapped* x = Pop();
      if (x != ov) keep.Push(x);
    }
    *this = keep;
  }
};

struct PortSocket {
  PortSocket(int fdIn, uint32_t genIn, uintptr_t keyIn, bool datagramIn)
      : fd(fdIn), gen(genIn), key(keyIn), datagram(datagramIn) {}

  // Result of one attempt: finished (ov->error set) or waiting for readiness.
  enum class Attempt { kDone, kWait };

  const int fd;
  const uint32_t gen;     // association number, tags epoll events
  const uintptr_t key;    // completion key
  const bool datagram;

  WordLock mu;  // held across the system calls on fd
  bool dead TZ_GUARDED_BY(mu) = false;     // closed through the port, or the port closed
  OvQueue reads TZ_GUARDED_BY(mu);         // receive, receive-from, accept
  OvQueue writes TZ_GUARDED_BY(mu);        // send, send-to, connect
  uint32_t armed TZ_GUARDED_BY(mu) = 0;    // EPOLLIN/EPOLLOUT believed armed (one-shot)

  // Epoll tag: (gen << 32) | fd.
  uint64_t Tag() const { return (static_cast<uint64_t>(gen) << 32) | static_cast<uint32_t>(fd); }
  // EPOLLIN/EPOLLOUT for what the queues wait for.
  uint32_t WantedEvents() const TZ_REQUIRES(mu);

  Attempt TryRead(Overlapped* ov) TZ_REQUIRES(mu);
  // TryRead for a receive just started; an accept waits for readiness.
  Attempt TryReadAtOnce(Overlapped* ov) TZ_REQUIRES(mu);
  Attempt TryWrite(Overlapped* ov) TZ_REQUIRES(mu);
  // The connect call itself; kWait while the handshake runs.
  Attempt StartConnect(Overlapped* ov) TZ_REQUIRES(mu);
  // Serves one queue head first until an operation has to wait.
  void Drain(bool readSide, OvQueue& finished) TZ_REQUIRES(mu);
  // Marks the socket dead and moves every waiting operation to finished,
  // failed with err.
  void TakeAll(int err, OvQueue& finished) TZ_REQUIRES(mu);
};

}  // namespace linux_detail
}  // namespace plat
