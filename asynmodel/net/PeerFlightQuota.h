// How many reliable datagrams are in flight to each remote address, and how
// many each peer may have: its window. A peer that never acknowledges gets
// each reliable datagram sent up to six times; without a bound, a stream of
// its requests (each answered reliably) would multiply into datagrams and
// resend records without end. So the window is earned: a peer starts at
// kStartWindow, every ACK it sends back widens its window by one (doubling it
// per round trip) up to kMaxWindow, and every datagram that had to be resent
// or was given up halves it, never below kStartWindow. A silent peer never
// has more than kStartWindow waiting; a send beyond a peer's window is
// refused at once.
//
// kMaxWindow = 1024: consecutive sns spread one peer's whole window over
// distinct buckets of the acknowledgement table (10,000), and 1024 datagrams
// of the largest size (2048 bytes) fit the 2 MiB socket buffer we give our
// own sockets.
//
// Peers are tracked in a fixed, open-addressed table (no allocation). A slot
// keeps its peer's window while nothing is in flight, until another peer
// needs the slot; when kSlots distinct peers are in flight at once, a send to
// yet another peer is refused too.
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
  static constexpr uint32_t kStartWindow = 16;
  static constexpr uint32_t kMaxWindow = 1024;
  static constexpr uint32_t kSlots = 256;

  // How a datagram stopped waiting for its ACK.
  enum Outcome { Acked, Lost, Withdrawn };

  // True: one more datagram to peer is in flight (give it back with
  // Release). False: the peer's window is full (*window gets its size) or no
  // slot is free; nothing was counted.
  bool Acquire(const plat::SockAddrIn& peer, uint32_t* window = nullptr);
  // Gives one back: an ACK widens the window, a loss halves it.
  void Release(const plat::SockAddrIn& peer, Outcome outcome);
  // A datagram to peer had to be sent again: halves its window.
  void Shrink(const plat::SockAddrIn& peer);
  uint32_t InFlight(const plat::SockAddrIn& peer);
  uint32_t Window(const plat::SockAddrIn& peer);

 private:
  struct Slot {
    uint32_t addrBe = 0;
    uint16_t portBe = 0;
    bool used = false;   // has held a peer (never cleared: probes pass it)
    uint32_t count = 0;  // 0: the slot may go to another peer
    uint32_t window = kStartWindow;
  };
  static uint32_t Home(const plat::SockAddrIn& peer);
  Slot* Find(const plat::SockAddrIn& peer) TZ_REQUIRES(m_mu);
  static void Halve(Slot* s);

  TzLock m_mu;
  Slot m_slots[kSlots] TZ_GUARDED_BY(m_mu);
};

}  // namespace AsynModel
