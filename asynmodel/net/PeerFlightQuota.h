// How many reliable datagrams are in flight to each remote address. A peer
// that never acknowledges gets each reliable datagram sent up to six times;
// without a cap, a stream of its requests (each answered reliably) would
// multiply into datagrams and resend records without bound. With the cap, a
// peer has at most kMaxPerPeer reliable datagrams waiting for its ACK, and a
// send beyond that is refused at once.
//
// Peers are tracked in a fixed table (no allocation); when kSlots distinct
// peers are in flight at once, a send to yet another peer is refused too.
//
// Threads: every method is safe from any thread; one short internal lock, no
// other lock is taken under it.
#pragma once
#include <cstdint>
#include <mutex>

#include "platform/socket.h"
#include "tzhelper/Tzautolock.h"

namespace AsynModel {

class PeerFlightQuota {
 public:
  static constexpr uint32_t kMaxPerPeer = 16;
  static constexpr uint32_t kSlots = 256;

  // True: one more datagram to peer is in flight (give it back with
  // Release). False: the cap is reached; nothing was counted.
  bool Acquire(const plat::SockAddrIn& peer);
  void Release(const plat::SockAddrIn& peer);
  uint32_t InFlight(const plat::SockAddrIn& peer);

 private:
  struct Slot {
    uint32_t addrBe = 0;
    uint16_t portBe = 0;
    uint32_t count = 0;  // 0: free
  };
  Slot* Find(const plat::SockAddrIn& peer);

  TzLock m_mu;
  Slot m_slots[kSlots] TZ_GUARDED_BY(m_mu);
};

}  // namespace AsynModel
