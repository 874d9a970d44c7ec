// One reliable datagram in flight: its sn, when it was first built, its time
// limit and how often it has been sent, and the socket that carries it. It
// lives with the datagram's I/O record from the first send until the last
// completion or time-out has run. Pooled, shared by counted references.
//
// Threads: the fields are touched by one thread at a time (the thread that
// currently owns the I/O record: the sender, a compute worker or the timer
// thread); the count is atomic.
#pragma once
#include <atomic>
#include <cstdint>

#include "asynmodel/net/PeerFlightQuota.h"
#include "asynmodel/net/UDPSocketItem.h"
#include "tzhelper/TzMemAlloc.h"

namespace AsynModel {

class UDPResendContext : public TzPooled<UDPResendContext, TzListMemAllocMethod> {
 public:
  static constexpr uint32_t kNoLimit = 0xFFFFFFFFu;

  // Send count 1. Null when the pool is exhausted; the creator takes the
  // first reference.
  static UDPResendContext* Create(uint32_t sn, int64_t start, uint32_t limitMs,
                                  const SptrUdpSocketItem& item);
  void AddRef() { m_refCount.fetch_add(1, std::memory_order_relaxed); }
  void Release();

  bool HasLimit() const { return m_limitMs != kNoLimit; }
  // The context now holds one unit of quota for peer, given back as soon as
  // the datagram stops waiting for its ACK (GiveBackQuota), at the latest
  // when the context goes.
  void HoldQuota(PeerFlightQuota* quota, const plat::SockAddrIn& peer) {
    m_quotaPeer = peer;
    m_quota.store(quota, std::memory_order_release);
  }
  // Any thread, any number of times: the unit goes back once, and the
  // outcome of the first call moves the peer's window.
  void GiveBackQuota(PeerFlightQuota::Outcome outcome) {
    PeerFlightQuota* quota = m_quota.exchange(nullptr, std::memory_order_acq_rel);
    if (quota) quota->Release(m_quotaPeer, outcome);
  }
  // The datagram is being sent again: the peer's window narrows. Only by the
  // record's owner, while the unit is still held.
  void NoteResend() {
    PeerFlightQuota* quota = m_quota.load(std::memory_order_acquire);
    if (quota) quota->Shrink(m_quotaPeer);
  }

  uint32_t m_sn = 0;
  int64_t m_start = 0;                // framework clock, ms
  uint32_t m_limitMs = kNoLimit;      // all ones: none
  uint32_t m_sendCount = 1;
  SptrUdpSocketItem m_item;

 private:
  UDPResendContext() = default;
  ~UDPResendContext() { GiveBackQuota(PeerFlightQuota::Withdrawn); }
  std::atomic<uint32_t> m_refCount{0};
  std::atomic<PeerFlightQuota*> m_quota{nullptr};
  plat::SockAddrIn m_quotaPeer{};
};
typedef TzSptr<UDPResendContext> SptrUDPResendContext;

}  // namespace AsynModel
