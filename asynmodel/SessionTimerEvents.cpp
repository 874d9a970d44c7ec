// Session timers: SetTimer and SetTimeoutTimer put a record on the session's
// quick-timer channel; TransmitTimerEvent turns a fired (or cancelled) record
// into a timer or time-out event for the session.
#include "asynmodel/AsynLog.h"
#include "asynmodel/AsynManager.h"
#include "asynmodel/Session.h"
#include "asynmodel/SessionTimer.h"
#include "platform/clock.h"
#include "tzhelper/TzMemAlloc.h"

namespace AsynModel {

namespace {


// What travels with one session timer through the timer service. Pooled.
// userData is a counted reference taken by SetTimer.
struct SessionTimerInfo : public TzPooled<SessionTimerInfo, TzListMemAllocMethod> {
  uint32_t timerId = 0;  // holds a 16-bit id
  UserDataInfo* userData = nullptr;
  uint8_t isTimeout = 0;
};

typedef TzQuickTimerQueue<Session, &Session::TransmitTimerEvent> SessionTimerQueue;

}  // namespace

bool Session::SetTimer(uint16_t timerId, uint32_t timeoutMs, UserDataInfo* userData) {
  return SetSessionTimer(timerId, timeoutMs, userData, false);
}

bool Session::SetTimeoutTimer(uint32_t timeoutMs) { return SetSessionTimer(0, timeoutMs, nullptr, true); }

// Thread contract: any thread but the quick timer's own callbacks run by
// TzQuickTimer::Disable. Ownership: on true the timer holds a session
// reference and a user-data reference until TransmitTimerEvent; on false
// nothing is kept.
bool Session::SetSessionTimer(uint16_t timerId, uint32_t timeoutMs, UserDataInfo* userData, bool isTimeout) {
  const uint32_t sid = m_sessionId;
  AsynManager* mgr = AsynManager::GetInstance();
  if (mgr == nullptr) {
    Log::writeError(AsynLogCategory, kLogSession,
                    isTimeout ? "[SID:%u] Session::SetTimeoutTimer 中AsynManager获取为空。"
                              : "[SID:%u] Session::SetTimer 中AsynManager获取为空。",
                    sid);
    return false;
  }
  SessionTimer* channel = mgr->GetSessionTimer(sid);
  if (channel == nullptr || !channel->Available()) {
    Log::writeError(AsynLogCategory, kLogSession,
                    isTimeout ? "[SID:%u] Session::SetTimeoutTimer 中SessionTimer获取为空或者Timer的状态为Disable。"
                              : "[SID:%u] Session::SetTimer 中SessionTimer获取为空或者Timer的状态为Disable。",
                    sid);
    return false;
  }
  SessionTimerInfo* info = new SessionTimerInfo();  // pooled: null instead of throwing
  if (info == nullptr) {
    Log::writeError(AsynLogCategory, kLogSession,
                    isTimeout ? "[SID:%u] Session::SetTimeoutTimer 中new SessionTimerInfo 失败。"
                              : "[SID:%u] Session::SetTimer 中new SessionTimerInfo 失败。",
                    sid);
    return false;
  }
  info->timerId = timerId;
  info->userData = userData;
  info->isTimeout = isTimeout ? 1 : 0;
  AddRef();
  if (userData != nullptr) userData->AddRef();

  if (channel->SetTimer(timeoutMs, this, &SessionTimerQueue::Thunk, info)) return true;

  delete info;
  if (userData != nullptr) userData->Release();
  Log::writeError(AsynLogCategory, kLogSession, "[SID:%u] Session::SetTimer 中调用SessionTimer设置timer失败。传入超时时间为 %d",
                  sid, static_cast<int>(timeoutMs));
  Release();  // the reference taken for the timer; the caller still holds one
  return false;
}

// Thread contract: the quick timer's thread (or the thread that disables it).
// Owns the record and the session reference that SetTimer took.
int Session::TransmitTimerEvent(uint16_t cancelled, void* record) {
  SessionTimerInfo* info = static_cast<SessionTimerInfo*>(record);
  const uint32_t sid = m_sessionId;

  AsynManager* mgr = AsynManager::GetInstance();
  const char* missing = nullptr;
  if (mgr == nullptr) {
    missing = "[SID:%u] Session::TransmitTimerEvent(SessionTimer到期相响应函数) 中AsynManager获取为空，直接返回 。";
  } else if (mgr->GetCompletionPort() == nullptr) {
    missing = "[SID:%u] Session::TransmitTimerEvent(SessionTimer到期相响应函数) 中完成端口获取为空，直接返回。";
  }
  if (missing != nullptr) {
    if (info->userData != nullptr) info->userData->Release();
    delete info;
    Log::writeError(AsynLogCategory, kLogSession, missing, sid);
    Release();
    return -1;
  }
  CompletationPortControler* cpc = mgr->GetCompletionPort();

  const int64_t now = plat::NowMs();
  Event ev = Event::Make(sid, info->isTimeout != 0 ? TimeoutEvent : TimerEvent, now);
  ev.word2 = static_cast<uintptr_t>(cancelled) | (static_cast<uintptr_t>(info->timerId & 0xFFFF) << 16);
  ev.word3 = reinterpret_cast<uintptr_t>(info->userData);  // the event takes over the reference
  info->userData = nullptr;

  uint32_t rc;
  if (m_property.SerialOrdered()) {
    if (AsynDebugOn()) {
      Log::writeDebug(AsynLogCategory, kLogSession,
                      "[SID:%u] Session::TransmitTimerEvent(SessionTimer到期相响应函数) \t\t\t\t\t    中判断Session属性为串行并且要求顺序则直接Push 超时Event，并向完成端口发送通知消息。",
                      sid);
    }
    PushEvent(ev, SptrISender());  // on failure the event's resources are released
    rc = CPC_OK;
    if (ClaimWakeUp()) {
      rc = cpc->PostLocalEvent(Event::Make(sid, NotifyEvent, now), this, this);
      if (rc != CPC_OK) DropWakeUp();
    }
  } else {
    if (AsynDebugOn()) {
      Log::writeDebug(AsynLogCategory, kLogSession,
                      "[SID:%u] Session::TransmitTimerEvent(SessionTimer到期相响应函数) \t\t\t\t\t    中判断Session threadMode 为 %s,\t\t\t\t\t\tmsgArrivedModel为 %s,直接向完成端口Post 超时Event。",
                      sid, m_property.threadMode == ThreadMode_Serial ? "串行" : "并行",
                      m_property.msgArrivedModel == 1 ? "要求顺序" : "不要求顺序");
    }
    rc = cpc->PostLocalEvent(ev, this, this);
    if (rc != CPC_OK) ReleaseEventResources(&ev);
  }
  if (rc != CPC_OK) {
    Log::writeWarning(AsynLogCategory, kLogSession, "[SID:%u] Session::TransmitTimerEvent(SessionTimer到期相响应函数)向完成端口投放Event失败！",
                      sid);
  }
  delete info;
  Release();  // may free the session
  return rc == CPC_OK ? 0 : -1;
}

}  // namespace AsynModel
