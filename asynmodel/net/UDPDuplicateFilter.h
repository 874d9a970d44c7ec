// Recently received reliable datagrams by (source IP, source port, sn), so a
// resent copy is acknowledged again but delivered once. 100 buckets (sn mod
// 100) under 10 striped locks; a bucket forgets keys older than 1000 ms when
// a new key arrives in it.
#pragma once
#include <cstdint>
#include <deque>
#include <set>

#include "tzhelper/Tzautolock.h"

namespace AsynModel {

class UDPDuplicateFilter {
 public:
  static constexpr uint32_t kBuckets = 100;
  static constexpr uint32_t kLocks = 10;
  static constexpr int64_t kWindowMs = 1000;

  // True for a new datagram, false for a duplicate. Host order.
  bool Insert(uint32_t srcIp, uint16_t srcPort, uint32_t sn);
  void Clear();

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
  struct Bucket {
    std::set<Key> keys;
    std::deque<std::pair<int64_t, Key>> order;
  };
  Bucket m_buckets[kBuckets];
  TzRWLock m_locks[kLocks];
};

}  // namespace AsynModel
