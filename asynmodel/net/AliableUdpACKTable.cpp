#include "asynmodel/net/AliableUdpACKTable.h"

#include <new>

#include "asynmodel/Session.h"

namespace AsynModel {

// The buckets live on the heap: ten thousand maps are too large to sit inside
// the processor object comfortably.
AliableUdpACKTable::AliableUdpACKTable() : m_buckets(new Bucket[kBuckets]) {}

AliableUdpACKTable::~AliableUdpACKTable() { delete[] m_buckets; }

int AliableUdpACKTable::Push(uint32_t sn, const SptrPostMsgContext& context, const SptrSession& session,
                             const SptrUDPResendContext& resend) {
  const uint32_t b = BucketOf(sn);
  TzAutoLock guard(&LockOf(b), true);
  Bucket& bucket = m_buckets[b];
  if (bucket.find(sn) != bucket.end()) return -1;
  if (bucket.size() > kMaxPerBucket) return -2;
  try {
    Entry& e = bucket[sn];
    e.context = context;
    e.session = session;
    e.resend = resend;
  } catch (const std::bad_alloc&) {
    return -2;  // no node: as good as a full bucket for the sender
  }
  return 0;
}

bool AliableUdpACKTable::Find(uint32_t sn) {
  const uint32_t b = BucketOf(sn);
  TzAutoLock guard(&LockOf(b), false);
  return m_buckets[b].find(sn) != m_buckets[b].end();
}

bool AliableUdpACKTable::Take(uint32_t sn, SptrPostMsgContext* context, SptrSession* session,
                              PeerFlightQuota::Outcome outcome) {
  Entry taken;
  {
    const uint32_t b = BucketOf(sn);
    TzAutoLock guard(&LockOf(b), true);
    Bucket& bucket = m_buckets[b];
    auto it = bucket.find(sn);
    if (it == bucket.end()) return false;
    taken.context = std::move(it->second.context);
    taken.session = std::move(it->second.session);
    taken.resend = std::move(it->second.resend);
    bucket.erase(it);
  }
  if (taken.resend) taken.resend->GiveBackQuota(outcome);
  // Handed over (or dropped) outside the lock: the last release of a context
  // or session runs destructors that must not run under a bucket lock.
  if (context) *context = std::move(taken.context);
  if (session) *session = std::move(taken.session);
  return true;
}

size_t AliableUdpACKTable::Size() {
  size_t n = 0;
  for (uint32_t b = 0; b < kBuckets; ++b) {
    TzAutoLock guard(&LockOf(b), false);
    n += m_buckets[b].size();
  }
  return n;
}

}  // namespace AsynModel
