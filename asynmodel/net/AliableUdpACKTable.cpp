#include "asynmodel/net/AliableUdpACKTable.h"

#include <new>

#include "asynmodel/Session.h"

namespace AsynModel {

// The buckets live on the heap: ten thousand of them are too large to sit
// inside the processor object comfortably.
AliableUdpACKTable::AliableUdpACKTable() : m_buckets(new Bucket[kBuckets]) {}

AliableUdpACKTable::~AliableUdpACKTable() { delete[] m_buckets; }

int AliableUdpACKTable::Push(uint32_t sn, const SptrPostMsgContext& context, const SptrSession& session,
                             const SptrUDPResendContext& resend) {
  const uint32_t b = BucketOf(sn);
  TzAutoLock guard(&LockOf(b), true);
  Bucket& bucket = m_buckets[b];
  if (bucket.Holds(sn)) return -1;
  if (bucket.Size() > kMaxPerBucket) return -2;
  if (bucket.sn == 0 && sn != 0) {
    bucket.sn = sn;
    bucket.first.context = context;
    bucket.first.session = session;
    bucket.first.resend = resend;
    return 0;
  }
  try {
    Entry& e = bucket.more[sn];
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
  return m_buckets[b].Holds(sn);
}

bool AliableUdpACKTable::Take(uint32_t sn, SptrPostMsgContext* context, SptrSession* session,
                              PeerFlightQuota::Outcome outcome) {
  Entry taken;
  {
    const uint32_t b = BucketOf(sn);
    TzAutoLock guard(&LockOf(b), true);
    Bucket& bucket = m_buckets[b];
    if (sn != 0 && bucket.sn == sn) {
      bucket.sn = 0;
      taken = std::move(bucket.first);
    } else {
      auto it = bucket.more.find(sn);
      if (it == bucket.more.end()) return false;
      taken = std::move(it->second);
      bucket.more.erase(it);
    }
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
    n += m_buckets[b].Size();
  }
  return n;
}

}  // namespace AsynModel
