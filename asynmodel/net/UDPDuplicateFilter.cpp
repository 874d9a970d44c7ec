#include "asynmodel/net/UDPDuplicateFilter.h"

#include <new>

#include "platform/clock.h"

namespace AsynModel {

bool UDPDuplicateFilter::Insert(uint32_t srcIp, uint16_t srcPort, uint32_t sn) {
  const uint32_t b = sn % kBuckets;
  const Key key{srcIp, srcPort, sn};
  TzAutoLock guard(&m_locks[b % kLocks], true);
  Bucket& bucket = m_buckets[b];
  try {
    if (!bucket.keys.insert(key).second) return false;
    const int64_t now = plat::NowMs();
    try {
      bucket.order.push_back(Stamp{now, key});
    } catch (const std::bad_alloc&) {
      // Not remembered in order means never purged: forget it now instead.
      bucket.keys.erase(key);
      return true;
    }
    while (!bucket.order.empty() && now - bucket.order.front().insertedMs > kWindowMs) {
      bucket.keys.erase(bucket.order.front().key);
      bucket.order.pop_front();
    }
  } catch (const std::bad_alloc&) {
    return true;
  }
  return true;
}

void UDPDuplicateFilter::Clear() {
  for (uint32_t b = 0; b < kBuckets; ++b) {
    TzAutoLock guard(&m_locks[b % kLocks], true);
    m_buckets[b].keys.clear();
    m_buckets[b].order.clear();
  }
}

size_t UDPDuplicateFilter::Size() {
  size_t n = 0;
  for (uint32_t b = 0; b < kBuckets; ++b) {
    TzAutoLock guard(&m_locks[b % kLocks], true);
    n += m_buckets[b].keys.size();
  }
  return n;
}

}  // namespace AsynModel
