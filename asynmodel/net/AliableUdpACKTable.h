// Reliable datagrams in flight, by sn: 10,000 buckets ((sn-1) mod 10000),
// each an ordered map, guarded by 20 striped reader/writer locks (bucket b
// uses lock b mod 20). Safe from any thread.
#pragma once
#include <cstdint>
#include <map>

#include "asynmodel/PostMsgContext.h"
#include "tzhelper/Tzautolock.h"

namespace AsynModel {

class Session;
typedef TzSptr<Session> SptrSession;

class AliableUdpACKTable {
 public:
  static constexpr uint32_t kBuckets = 10000;
  static constexpr uint32_t kLocks = 20;
  static constexpr size_t kMaxPerBucket = 100000;

  // 0, -1 already present, -2 bucket holds more than 100,000 entries.
  int Push(uint32_t sn, const SptrPostMsgContext& context, const SptrSession& session);
  bool Find(uint32_t sn);
  bool Pop(uint32_t sn, SptrPostMsgContext* context, SptrSession* session);
  bool Erase(uint32_t sn);
  size_t Size();

 private:
  struct Entry {
    SptrPostMsgContext context;
    SptrSession session;
  };
  std::map<uint32_t, Entry> m_buckets[kBuckets];
  TzRWLock m_locks[kLocks];
};

}  // namespace AsynModel
