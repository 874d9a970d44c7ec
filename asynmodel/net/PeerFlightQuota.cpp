#include "asynmodel/net/PeerFlightQuota.h"

namespace AsynModel {

uint32_t PeerFlightQuota::Home(const plat::SockAddrIn& peer) {
  const uint32_t key = peer.addrBe ^ (static_cast<uint32_t>(peer.portBe) * 0x10001u);
  return (key * 2654435761u >> 16) % kSlots;
}

// A peer's slot lies on the probe path from its home, before the first slot
// that has never been used; slots are never emptied, so the path stays whole.
PeerFlightQuota::Slot* PeerFlightQuota::Find(const plat::SockAddrIn& peer) {
  const uint32_t home = Home(peer);
  for (uint32_t i = 0; i < kSlots; ++i) {
    Slot& s = m_slots[(home + i) % kSlots];
    if (!s.used) return nullptr;
    if (s.addrBe == peer.addrBe && s.portBe == peer.portBe) return &s;
  }
  return nullptr;
}

void PeerFlightQuota::Halve(Slot* s) {
  s->window = s->window / 2 > kStartWindow ? s->window / 2 : kStartWindow;
}

bool PeerFlightQuota::Acquire(const plat::SockAddrIn& peer, uint32_t* window) {
  TzAutoLock lock(&m_mu);
  Slot* slot = Find(peer);
  if (slot == nullptr) {
    // A new peer (or one forgotten): the first slot on its path that holds
    // nothing in flight, dropping what an idle peer had earned there.
    const uint32_t home = Home(peer);
    for (uint32_t i = 0; i < kSlots && slot == nullptr; ++i) {
      Slot& s = m_slots[(home + i) % kSlots];
      if (!s.used || s.count == 0) slot = &s;
    }
    if (slot == nullptr) return false;
    slot->addrBe = peer.addrBe;
    slot->portBe = peer.portBe;
    slot->used = true;
    slot->window = kStartWindow;
  }
  if (slot->count >= slot->window) {
    if (window) *window = slot->window;
    return false;
  }
  ++slot->count;
  return true;
}

void PeerFlightQuota::Release(const plat::SockAddrIn& peer, Outcome outcome) {
  TzAutoLock lock(&m_mu);
  Slot* slot = Find(peer);
  if (slot == nullptr || slot->count == 0) return;
  --slot->count;
  if (outcome == Acked && slot->window < kMaxWindow) ++slot->window;
  if (outcome == Lost) Halve(slot);
}

void PeerFlightQuota::Shrink(const plat::SockAddrIn& peer) {
  TzAutoLock lock(&m_mu);
  Slot* slot = Find(peer);
  if (slot != nullptr) Halve(slot);
}

uint32_t PeerFlightQuota::InFlight(const plat::SockAddrIn& peer) {
  TzAutoLock lock(&m_mu);
  const Slot* slot = Find(peer);
  return slot ? slot->count : 0;
}

uint32_t PeerFlightQuota::Window(const plat::SockAddrIn& peer) {
  TzAutoLock lock(&m_mu);
  const Slot* slot = Find(peer);
  return slot ? slot->window : kStartWindow;
}

}  // namespace AsynModel
