// Reliable datagrams in flight, by sn: 10,000 buckets ((sn - 1) mod 10000),
// guarded by 20 striped reader/writer locks (bucket b uses lock b mod 20).
// The sn-to-bucket mapping is a plain modulus: sns are consecutive, so
// neighbouring sends land in different buckets and different locks, and a
// bucket almost always holds at most one sn. That one sits in the bucket
// itself; only sns that share a bucket with it go to the bucket's ordered map,
// whose nodes are pooled. A push and a pop thus touch no allocator.
//
// Ownership: Push takes its own references to the context, the session and
// the resend record; Pop hands the first two to the caller and drops the
// third; Erase drops them. An sn leaving the table no longer waits for its
// ACK, so the resend record's flight quota goes back right then rather than
// when its resend timer has run out.
// Threads: every method is safe from any thread; each takes exactly one
// bucket lock and nothing else, so it may be called under any other lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>

#include "asynmodel/PostMsgContext.h"
#include "asynmodel/net/UDPResendContext.h"
#include "asynmodel/SessionPtr.h"
#include "asynmodel/net/PooledStlAllocator.h"
#include "tzhelper/Tzautolock.h"

namespace AsynModel {


class AliableUdpACKTable {
 public:
  static constexpr uint32_t kBuckets = 10000;
  static constexpr uint32_t kLocks = 20;
  static constexpr size_t kMaxPerBucket = 100000;

  AliableUdpACKTable();
  ~AliableUdpACKTable();
  AliableUdpACKTable(const AliableUdpACKTable&) = delete;
  AliableUdpACKTable& operator=(const AliableUdpACKTable&) = delete;

  // 0, -1 the sn is already present, -2 the bucket already holds more than
  // 100,000 entries (or no node can be had). sn must be > 0.
  int Push(uint32_t sn, const SptrPostMsgContext& context, const SptrSession& session,
           const SptrUDPResendContext& resend = SptrUDPResendContext());
  bool Find(uint32_t sn);
  // True when the sn was present; its references go to the caller (either
  // out pointer may be null, dropping that reference). Pop is for an
  // arriving ACK (the peer's window widens); Erase drops the references of
  // a datagram that ends any other way (its peer's window halves).
  bool Pop(uint32_t sn, SptrPostMsgContext* context, SptrSession* session) {
    return Take(sn, context, session, PeerFlightQuota::Acked);
  }
  bool Erase(uint32_t sn) { return Take(sn, nullptr, nullptr, PeerFlightQuota::Lost); }
  // Entries over all buckets (tests).
  size_t Size();

 private:
  struct Entry {
    SptrPostMsgContext context;
    SptrSession session;
    SptrUDPResendContext resend;
  };
  typedef std::map<uint32_t, Entry, std::less<uint32_t>,
                   PooledStlAllocator<std::pair<const uint32_t, Entry>>>
      Overflow;
  struct Bucket {
    uint32_t sn = 0;  // of the entry held in place; 0: none (sns are never 0)
    Entry first;
    Overflow more;    // further sns of this bucket
    size_t Size() const { return (sn != 0 ? 1 : 0) + more.size(); }
    bool Holds(uint32_t s) const {
      return (s != 0 && sn == s) || more.find(s) != more.end();
    }
  };
  bool Take(uint32_t sn, SptrPostMsgContext* context, SptrSession* session, PeerFlightQuota::Outcome outcome);
  static uint32_t BucketOf(uint32_t sn) { return (sn - 1) % kBuckets; }
  TzRWLock& LockOf(uint32_t bucket) { return m_locks[bucket % kLocks]; }

  // kBuckets buckets, bucket b guarded by LockOf(b). Clang's lock analysis
  // cannot name a lock chosen by an index, so the buckets carry no
  // TZ_GUARDED_BY: with the duplicate filter's buckets, the one documented
  // exception.
  Bucket* m_buckets;
  TzRWLock m_locks[kLocks];
};

}  // namespace AsynModel
