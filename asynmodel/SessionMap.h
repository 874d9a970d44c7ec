// The findable sessions by id: 100 buckets (id mod 100), each an ordered map
// with its own reader/writer lock, so lookups from different workers seldom
// contend. Lock order: a session's lock before bucket locks.
#pragma once
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
  // Posts a terminate event to every entry and erases it (bucket 0..99,
  // ascending ids).
  void TerminateAll();
  size_t Size();

 private:
  struct Bucket {
    TzRWLock lock;
    std::map<uint32_t, SptrSession> sessions;
  };
  Bucket m_buckets[kBuckets];
  TzLock m_enabledLock;
  uint8_t m_enabled = 0;  // read under a bucket lock, written under m_enabledLock
};

}  // namespace AsynModel
