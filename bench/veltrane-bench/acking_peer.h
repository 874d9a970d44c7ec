// A stand-in remote peer that acknowledges every reliable data datagram it
// receives, as the far side of the acknowledged mode does. It waits on a
// completion port of its own, so it costs nothing while idle.
//
// Threads: its own receive thread; Port and Seen from any thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <thread>

#include "asynmodel/Session.h"
#include "platform/completion_port.h"
#include "waitable_count.h"

namespace vbench {

class AckingPeer {
 public:
  AckingPeer();
  ~AckingPeer();
  AckingPeer(const AckingPeer&) = delete;
  AckingPeer& operator=(const AckingPeer&) = delete;

  uint16_t Port() const { return port_; }
  // Reliable datagrams seen, resends included.
  int64_t Seen() const { return seen_.load(); }

 private:
  void Run();

  plat::CompletionPort cp_;
  plat::Socket recv_;
  plat::Socket send_;
  uint16_t port_ = 0;
  std::atomic<int64_t> seen_{0};
  std::thread thread_;
};

// Counts the receipts of reliable sends; nothing on its path allocates. A
// sending thread sleeps on `ok` until the count it needs is reached, as a
// host would wait for its callbacks; a failed receipt interrupts the wait.
class Receipts : public AsynModel::Session {
 public:
  int32_t OnSendResult(int16_t result, uint16_t, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t,
                       const AsynModel::PeerAddress*, AsynModel::ISender*, AsynModel::UserDataInfo*, uint32_t,
                       uint16_t, uint8_t) override;
  WaitableCount ok;
  std::atomic<int64_t> failed{0};
};

// Sends n reliable 1119 messages of `bytes` to 127.0.0.1:port from `s` as
// fast as the peer's window lets them go (read from the library's flight
// quota; a send refused as "peer busy" is retried once a receipt has come
// back), and waits for every receipt. False on a failed receipt
// or after 20 s.
bool SendAcknowledged(Receipts& s, uint16_t port, int64_t n, const void* body, uint32_t bytes);

}  // namespace vbench
