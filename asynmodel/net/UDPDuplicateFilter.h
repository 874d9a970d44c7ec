// Recently received reliable datagrams by (source IP, source port, sn), so a
// resent copy is acknowledged again but delivered once. 100 buckets (sn mod
// 100) under 10 striped locks (bucket b uses lock b mod 10, always taken
// exclusively). Each bucket keeps its keys in an ordered set and in a list in
// insertion order; a bucket forgets keys older than 1000 ms when a new key is
// inserted into it, so a key may outlive its window in a quiet bucket.
//
// Threads: every method is safe from any thread and takes one stripe lock.
#pragma once
#include <cstdint>
#include <functional>
#include <list>
#include <set>

#include "asynmodel/net/PooledStlAllocator.h"
#include "tzhelper/Tzautolock.h"

namespace AsynModel {

class UDPDuplicateFilter {
 public:
  static constexpr uint32_t kBuckets = 100;
  static constexpr uint32_t kLocks = 10;
  static constexpr int64_t kWindowMs = 1000;

  UDPDuplicateFilter() = default;
  UDPDuplicateFilter(const UDPDuplicateFilter&) = delete;
  UDPDuplicateFilter& operator=(const UDPDuplicateFilter&) = delete;

  // True for a new datagram, false for a duplicate (host order). When no
  // node can be had the datagram counts as new: delivering a rare second copy
  // beats losing the first.
  bool Insert(uint32_t srcIp, uint16_t srcPort, uint32_t sn);
  void Clear();
  size_t Size();  // keys over all buckets (tests)

 private:
  struct Key {
    uint32_t ip;
    uint16_t port;
    uint32_t sn;
    bool operator<(const Key& o) const {
      if (ip != o.ip) return ip < o.ip;
      if (port != o.port) return port < o.port;
      return sn < o.sn;
    }
  };
  struct Stamp {
    int64_t insertedMs;
    Key key;
  };
  struct Bucket {
    std::set<Key, std::less<Key>, PooledStlAllocator<Key>> keys;
    std::list<Stamp, PooledStlAllocator<Stamp>> order;  // oldest first
  };
  // Bucket b is guarded by m_locks[b % kLocks]. Clang's lock analysis cannot
  // name a lock chosen by an index, so the buckets carry no TZ_GUARDED_BY:
  // with the ACK table's buckets, the one documented exception.
  Bucket m_buckets[kBuckets];
  TzRWLock m_locks[kLocks];
};

}  // namespace AsynModel
