// Session life: ids, construction and destruction, the event list, Start and
// Terminate, and the default handlers. Event dispatch is in
// SessionDispatch.cpp, timers in SessionTimerEvents.cpp.
#include "asynmodel/Session.h"

#include <mutex>
#include <new>

#include "asynmodel/AsynLog.h"
#include "asynmodel/AsynManager.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "tzhelper/TzEventNodeAlloc.h"

namespace AsynModel {

namespace {

constexpr uint32_t kResidentExhausted = 0xFFFFFFFFu;

// Constant-initialised, so they exist before any session is built, even one
// built during static initialisation.
TzLock g_idLock;
uint32_t g_sessionIDBase TZ_GUARDED_BY(g_idLock) = 1;
uint32_t g_residentSessionIDBase TZ_GUARDED_BY(g_idLock) = Session::kFirstResidentId;

}  // namespace

struct Session::Node {
  EventListItem item;
  Node* prev = nullptr;
  Node* next = nullptr;
};

// Under the id lock (innermost). The resident range holds 10,240 ids and the
// system makes one resident session; should the range ever run out, an
// ordinary id is handed out instead, which keeps ids unique.
uint32_t Session::AllocateId(uint32_t idKind) {
  TzAutoLock g(&g_idLock);
  if (idKind == 0 && g_residentSessionIDBase != kResidentExhausted) return g_residentSessionIDBase++;
  if (g_sessionIDBase < kFirstResidentId) return g_sessionIDBase++;
  Log::writeMessage(AsynLogCategory, kLogSession, "Session 常驻SessionID使用折回！");
  g_sessionIDBase = 2;
  return 1;
}

void SetNextSessionIdForTest(uint32_t ordinary, uint32_t resident) {
  TzAutoLock g(&g_idLock);
  g_sessionIDBase = ordinary;
  g_residentSessionIDBase = resident;
}

Session::Session(SessionProperty property) : m_property(property), m_lock(false) {
  m_sessionId = AllocateId(property.idKind);
  AddRef();  // the session's own reference, given back by the first Terminate
}

// The last reference is gone, so no other thread can reach the list.
Session::~Session() {
  EventListItem item;
  while (PopLocked(&item)) {
    ReleaseEventResources(&item.event);
    item.sender.reset();
  }
}

bool Session::PushLocked(const Event& event, const SptrISender& sender) {
  void* mem = tz::AllocEventNode(sizeof(Node));
  if (mem == nullptr) {
    Event dropped = event;
    ReleaseEventResources(&dropped);
    return false;
  }
  Node* node = new (mem) Node();
  node->item.event = event;
  node->item.sender = sender;
  node->prev = m_tail;
  if (m_tail != nullptr) {
    m_tail->next = node;
  } else {
    m_head = node;
  }
  m_tail = node;
  ++m_count;
  return true;
}

bool Session::PopLocked(EventListItem* out) {
  Node* node = m_head;
  if (node == nullptr) return false;
  m_head = node->next;
  if (m_head != nullptr) {
    m_head->prev = nullptr;
  } else {
    m_tail = nullptr;
  }
  --m_count;
  out->event = node->item.event;
  out->sender = std::move(node->item.sender);
  node->~Node();
  tz::FreeEventNode(node, sizeof(Node));
  return true;
}

bool Session::PushEvent(const Event& event, const SptrISender& sender) {
  TzAutoLock g(&m_lock);
  return PushLocked(event, sender);
}

uint32_t Session::PendingEventCount() {
  TzAutoLock g(&m_lock);
  return m_count;
}

int32_t Session::Start(int32_t timeoutMs, bool alwaysPost) {
  {
    TzAutoLock g(&m_lock);
    if (m_started != 0) return -1;
    m_started = 1;
  }
  const uint32_t sid = m_sessionId;
  if (m_property.threadMode != ThreadMode_Serial && m_property.threadMode != ThreadMode_Parallel) {
    Log::writeError(AsynLogCategory, kLogSession, "[SID:%u] Session::Start Session threadMode 属性非法,既非串行又非并行，直接Terminate。",
                    sid);
    Terminate(Terminate_BadThreadMode);  // may free the session: no member access after it
    return -1;
  }
  AsynManager* mgr = AsynManager::GetInstance();
  const char* missing = nullptr;
  if (mgr == nullptr) {
    missing = "[SID:%u] Session::Start AsynManager 获取为空，直接Terminate。";
  } else if (mgr->GetState() != Running) {
    missing = "[SID:%u] Session::Start AsynModel没有运行，直接Terminate。";
  } else if (mgr->GetCompletionPort() == nullptr) {
    missing = "[SID:%u] Session::Start 完成端口获取为空，直接Terminate。";
  } else if (mgr->GetSessionMap() == nullptr) {
    missing = "[SID:%u] Session::Start SessionMap获取为空，直接Terminate。";
  }
  if (missing != nullptr) {
    Log::writeError(AsynLogCategory, kLogSession, missing, sid);
    Terminate(Terminate_NoFramework);
    return -1;
  }

  SptrSession self(this);  // keeps the session alive for the rest of the call
  if (!StartWithManager(timeoutMs, alwaysPost)) {
    Terminate(Terminate_StartFailed);
    return -1;
  }
  return 0;
}

// Steps of Start after the manager checks; false sends Start to its failure
// exit. The caller holds a reference.
bool Session::StartWithManager(int32_t timeoutMs, bool alwaysPost) {
  AsynManager* mgr = AsynManager::GetInstance();
  const uint32_t sid = m_sessionId;
  const bool findable = m_property.findable != 0;
  if (findable) {
    if (!mgr->GetSessionMap()->Add(SptrSession(this))) {
      if (AsynDebugOn()) {
        Log::writeDebug(AsynLogCategory, kLogSession,
                        "[SID:%u] Session::Start本Session为可找寻Session，加入到SessionMap中失败，\t\t\t\t\t\t\tSessionMap可能没有Ennable，直接Terminate。",
                        sid);
      }
      return false;
    }
  } else if (AsynDebugOn()) {
    Log::writeDebug(AsynLogCategory, kLogSession, "[SID:%u] Session::Start本Session为不可找寻Session，不加入到SessionMap中。", sid);
  }

  Event start = Event::Make(sid, StartEvent, plat::NowMs());
  if (!alwaysPost && mgr->IsComputeWorkerThread(plat::CurrentThreadId())) {
    if (AsynDebugOn()) {
      Log::writeDebug(AsynLogCategory, kLogSession, "[SID:%u] Session::Start当前执行线程是异步模型内部线程，直接调用OnEventArrived。",
                      sid);
    }
    if (OnEventArrived(start, SptrISender()) < 0) return false;
  } else {
    if (AsynDebugOn()) {
      Log::writeDebug(AsynLogCategory, kLogSession, "[SID:%u] Session::Start当前执行线程不是异步模型内部线程，向完成端口PostLocalEvent。",
                      sid);
    }
    if (mgr->GetCompletionPort()->PostLocalEvent(start, this, this) != CPC_OK) {
      Log::writeError(AsynLogCategory, kLogSession, "[SID:%u] Session::Start向完成端口投递消息失败。", sid);
      return false;
    }
  }

  if (findable && timeoutMs != -1) {
    if (AsynDebugOn()) {
      Log::writeDebug(AsynLogCategory, kLogSession, "[SID:%u] Session::Start需要设置超时Timer，调用SetTimer。", sid);
    }
    if (!SetTimeoutTimer(static_cast<uint32_t>(timeoutMs))) {
      Log::writeError(AsynLogCategory, kLogSession, "[SID:%u] Session::Start SetTimer失败，直接Terminate。", sid);
      return false;
    }
  }
  return true;
}

int32_t Session::Terminate(uint32_t reason) {
  const uint32_t sid = m_sessionId;
  if (m_property.findable != 0) {
    SptrSession removed;  // dropped after the session lock
    {
      TzAutoLock g(&m_lock);
      if (m_destroying.load() != 0) return 0;
      m_destroying.store(1);
      if (AsynDebugOn()) Log::writeDebug(AsynLogCategory, kLogSession, "[SID:%u] Session::Terminate 开始调用OnTerminate。", sid);
      OnTerminate(reason);
      if (AsynDebugOn()) Log::writeDebug(AsynLogCategory, kLogSession, "[SID:%u] Session::Terminate 调用OnTerminate结束。", sid);
      AsynManager* mgr = AsynManager::GetInstance();
      if (mgr == nullptr) {
        Log::writeError(AsynLogCategory, kLogSession, "[SID:%u] Session::Terminate AsynManager 获取为空。", sid);
      } else if (mgr->GetSessionMap() == nullptr) {
        Log::writeError(AsynLogCategory, kLogSession, "[SID:%u] Session::Terminate SessionMap 获取为空。", sid);
      } else {
        removed = mgr->GetSessionMap()->Remove(sid);
      }
    }
  } else {
    if (m_destroying.exchange(1) != 0) return 0;
    if (AsynDebugOn()) Log::writeDebug(AsynLogCategory, kLogSession, "[SID:%u] Session::Terminate 开始调用OnTerminate。", sid);
    OnTerminate(reason);
    if (AsynDebugOn()) Log::writeDebug(AsynLogCategory, kLogSession, "[SID:%u] Session::Terminate 调用OnTerminate结束。", sid);
  }
  Release();  // the construction reference; may free the session
  return 0;
}

int32_t Session::OnStart() { return 0; }

void Session::OnTerminate(uint32_t /*reason*/) {}

int32_t Session::OnTimeout(bool /*cancelled*/, uint32_t /*reserved*/) {
  Terminate(Terminate_Timeout);
  return 0;
}

int32_t Session::OnSendResult(int16_t, uint16_t, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t,
                              const PeerAddress*, ISender*, UserDataInfo*, uint32_t, uint16_t, uint8_t) {
  return 0;
}

int32_t Session::OnMessage(uint32_t, const uint8_t*, uint32_t, uint32_t, const SptrISender&) { return 0; }

int32_t Session::OnTimer(bool, uint16_t, UserDataInfo*) { return 0; }

}  // namespace AsynModel
