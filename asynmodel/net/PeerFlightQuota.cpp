#include "asynmodel/net/PeerFlightQuota.h"

namespace AsynModel {

PeerFlightQuota::Slot* PeerFlightQuota::Find(const plat::SockAddrIn& peer) {
  for (Slot& s : m_slots) {
    if (s.count != 0 && s.addrBe == peer.addrBe && s.portBe == peer.portBe) return &s;
  }
  return nullptr;
}

bool PeerFlightQuota::Acquire(const plat::SockAddrIn& peer) {
  TzAutoLock lock(&m_mu);
  Slot* slot = Find(peer);
  if (slot == nullptr) {
    for (Slot& s : m_slots) {
      if (s.count == 0) {
        slot = &s;
        slot->addrBe = peer.addrBe;
        slot->portBe = peer.portBe;
        break;
      }
    }
    if (slot == nullptr) return false;
  }
  if (slot->count >= kMaxPerPeer) return false;
  ++slot->count;
  return true;
}

void PeerFlightQuota::Release(const plat::SockAddrIn& peer) {
  TzAutoLock lock(&m_mu);
  Slot* slot = Find(peer);
  if (slot != nullptr) --slot->count;
}

uint32_t PeerFlightQuota::InFlight(const plat::SockAddrIn& peer) {
  TzAutoLock lock(&m_mu);
  const Slot* slot = Find(peer);
  return slot ? slot->count : 0;
}

}  // namespace AsynModel
