// The findable sessions by id: 100 buckets (id mod 100), each an ordered map
// with its own reader/writer lock, so lookups from different workers seldom
// contend. Every method is safe from any thread. Lock order: a session's lock
// before bucket locks; no other lock is taken under a bucket lock.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>

#include "asynmodel/Session.h"
#include "tzhelper/Tzautolock.h"

namespace AsynModel {

class SessionMap {
 public:
  static constexpr uint32_t kBuckets = 100;

  SessionMap() = default;
  SessionMap(const SessionMap&) = delete;
  SessionMap& operator=(const SessionMap&) = delete;

  void Enable();
  void Disable();
  // Replaces an earlier entry of the same id. False for null or while disabled.
  bool Add(const SptrSession& session);
  // Hands back the removed reference (null if absent).
  SptrSession Remove(uint32_t sid);
  SptrSession Find(uint32_t sid);
  // Erases every entry (bucket 0..99, ascending ids) and posts each a
  // terminate event, which the manager refuses outside Running. The posts and
  // the release of the removed references happen outside the bucket lock.
  void TerminateAll();
  size_t Size();

 private:
  struct Bucket {
    TzRWLock lock;
    std::map<uint32_t, SptrSession> sessions;
  };
  Bucket m_buckets[kBuckets];
  TzLock m_enabledLock;
  // Written under m_enabledLock, read under a bucket lock (hence atomic).
  std::atomic<uint8_t> m_enabled{0};
};

}  // namespace AsynModel
