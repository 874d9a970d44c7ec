#include "asynmodel/SessionMap.h"

#include <utility>

#include "asynmodel/AsynManager.h"

namespace AsynModel {

void SessionMap::Enable() {
  TzAutoLock g(&m_enabledLock);
  m_enabled.store(1);
}

void SessionMap::Disable() {
  TzAutoLock g(&m_enabledLock);
  m_enabled.store(0);
}

bool SessionMap::Add(const SptrSession& session) {
  if (!session) return false;
  Bucket& b = m_buckets[session->GetSessionID() % kBuckets];
  TzAutoLock g(&b.lock, true);
  if (m_enabled.load() == 0) return false;
  b.sessions[session->GetSessionID()] = session;
  return true;
}

SptrSession SessionMap::Remove(uint32_t sid) {
  Bucket& b = m_buckets[sid % kBuckets];
  SptrSession removed;
  TzAutoLock g(&b.lock, true);
  auto it = b.sessions.find(sid);
  if (it != b.sessions.end()) {
    removed = std::move(it->second);
    b.sessions.erase(it);
  }
  return removed;
}

SptrSession SessionMap::Find(uint32_t sid) {
  Bucket& b = m_buckets[sid % kBuckets];
  TzAutoLock g(&b.lock, false);
  auto it = b.sessions.find(sid);
  return it != b.sessions.end() ? it->second : SptrSession();
}

void SessionMap::TerminateAll() {
  AsynManager* mgr = AsynManager::GetInstanceIfExists();
  for (Bucket& b : m_buckets) {
    std::map<uint32_t, SptrSession> taken;
    {
      TzAutoLock g(&b.lock, true);
      taken.swap(b.sessions);
    }
    for (auto& entry : taken) {
      if (mgr != nullptr) mgr->PostTerminateEvent(entry.second);
    }
  }
}

size_t SessionMap::Size() {
  size_t n = 0;
  for (Bucket& b : m_buckets) {
    TzAutoLock g(&b.lock, false);
    n += b.sessions.size();
  }
  return n;
}

}  // namespace AsynModel
