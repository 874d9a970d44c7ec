// How an event reaches a session's handlers: the start gate, serial and
// parallel execution, and the dispatch of each event kind.
#include "asynmodel/AsynLog.h"
#include "asynmodel/AsynManager.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/Session.h"
#include "asynmodel/net/Msg.h"
#include "platform/clock.h"
#include "platform/system.h"

namespace AsynModel {

namespace {


}  // namespace

// Thread contract: compute workers (or Start's inline path). Takes over the
// event's resources on every path.
int32_t Session::OnEventArrived(Event& event, const SptrISender& sender) {
  // Taken before the list is looked at: an event queued from now on needs a
  // wake-up of its own unless this one's drain finds it.
  if (event.kind == NotifyEvent) DropWakeUp();
  if (m_destroying.load() != 0) {
    if (AsynDebugOn()) {
      Log::writeDebug(AsynLogCategory, kLogSession, "[SID:%u] Session::OnEventArrived Session处于销毁中，释放Event资源，直接返回。",
                      m_sessionId);
    }
    ReleaseEventResources(&event);
    return -1;
  }
  // A wake-up carries nothing to run: it counts as consumed from the start.
  bool consumed = event.kind == NotifyEvent;

  const CheckResult check = CheckIsStartedProcess(event, sender);
  if (check == Check_Handled) return 0;
  const bool startCall = check == Check_StartConsumed;
  if (startCall) consumed = true;

  int32_t rc;
  if (m_property.threadMode == ThreadMode_Parallel) {
    rc = ParallelExecuteProcess(event, sender, startCall);
  } else if (m_property.threadMode == ThreadMode_Serial) {
    rc = SerialerExecuteProcess(event, sender, consumed);
  } else {
    if (!consumed) ReleaseEventResources(&event);
    return -1;
  }
  return rc < 0 ? -1 : 0;
}

// Holds back everything but the start event until the start has been
// dispatched. Check_StartConsumed: this call carried the start and has run it.
Session::CheckResult Session::CheckIsStartedProcess(Event& event, const SptrISender& sender) {
  const uint32_t sid = m_sessionId;
  m_lock.Lock();
  if (m_isStartEvent != 0) {
    m_lock.Unlock();
    if (AsynDebugOn()) Log::writeDebug(AsynLogCategory, kLogSession, "[SID:%u] Session::OnEventArrived退出CheckIsStartedProcess。", sid);
    return Check_Continue;
  }
  if (event.kind != StartEvent) {
    if (event.kind != NotifyEvent) {
      PushLocked(event, sender);
    } else if (AsynDebugOn()) {
      Log::writeDebug(AsynLogCategory, kLogSession,
                      "[SID:%u] Session::OnEventArrived  \t\t\t\t\t判断出Session没有启动过，并且Event不是startEvent且是通知Event,\t\t\t\t\t则不将该Event push入eventlist中。",
                      sid);
    }
    m_lock.Unlock();
    return Check_Handled;
  }

  if (AsynDebugOn()) {
    Log::writeDebug(AsynLogCategory, kLogSession, "[SID:%u] Session::OnEventArrived 判断出Session没有启动过event是启动命令。", sid);
  }
  if (m_property.threadMode == ThreadMode_Parallel) {
    if (AsynDebugOn()) {
      Log::writeDebug(AsynLogCategory, kLogSession,
                      "[SID:%u] Session::OnEventArrived 判断出Session是并行Session，\t\t\t\t\t增加m_executingThreadCount正执行线程数。",
                      sid);
    }
    m_executingThreadCount.fetch_add(1);
  } else {
    m_executingThreadId = plat::CurrentThreadId();  // claims the serial session
  }
  m_lock.Unlock();

  EventListItem start;
  start.event = event;
  start.sender = sender;
  DispatchEvent(start);

  m_lock.Lock();
  m_isStartEvent = 1;
  m_lock.Unlock();
  if (AsynDebugOn()) Log::writeDebug(AsynLogCategory, kLogSession, "[SID:%u] Session::OnEventArrived 将isStartEvent 赋值为 true", sid);
  return Check_StartConsumed;
}

// One owner at a time: the executing thread id is the token. The owner keeps
// draining the list until it finds it empty; any other thread only appends.
int32_t Session::SerialerExecuteProcess(Event& event, const SptrISender& sender, bool consumed) {
  const uint32_t sid = m_sessionId;
  const uint32_t tid = plat::CurrentThreadId();
  uint32_t ran = 0;
  for (;;) {
    if (ran == kSerialBatch) {
      if (YieldSerialDrain(tid)) return 0;
      ran = 0;
    }
    EventListItem next;
    m_lock.Lock();
    if (m_executingThreadId != 0 && m_executingThreadId != tid) {
      if (!consumed) {
        PushLocked(event, sender);
        if (AsynDebugOn()) {
          Log::writeDebug(AsynLogCategory, kLogSession, "[SID:%u] Session::SerialerExecuteProcess session有执行线程，把消息留下即可", sid);
        }
      }
      m_lock.Unlock();
      return 0;
    }
    bool takeHead = true;
    if (!consumed) {
      consumed = true;
      if (m_count != 0) {
        if (AsynDebugOn()) {
          Log::writeDebug(AsynLogCategory, kLogSession,
                          "[SID:%u] Session::OnEventArrived 当前执行线程携带Event不是StartEvent类型，如果eventList有数据，则将event push入eventlist中。",
                          sid);
        }
        PushLocked(event, sender);  // behind the older events
      } else {
        if (AsynDebugOn()) {
          Log::writeDebug(AsynLogCategory, kLogSession,
                          "[SID:%u] Session::OnEventArrived 当前执行线程携带Event不是StartEvent类型，如果eventList没有数据，则不用将event push入eventlist中。",
                          sid);
        }
        next.event = event;
        next.sender = sender;
        m_executingThreadId = tid;
        takeHead = false;
      }
    }
    if (takeHead) {
      if (!PopLocked(&next)) {
        m_executingThreadId = 0;
        m_lock.Unlock();
        return 0;
      }
      m_executingThreadId = tid;
      if (AsynDebugOn()) Log::writeDebug(AsynLogCategory, kLogSession, "[SID:%u] Session::OnEventArrived 从Eventlist中取出Item。", sid);
    }
    m_lock.Unlock();

    if (AsynDebugOn()) Log::writeDebug(AsynLogCategory, kLogSession, "[SID:%u] Session::OnEventArrived DispatchEvent。", sid);
    DispatchEvent(next);
    ++ran;
  }
}

bool Session::YieldSerialDrain(uint32_t tid) {
  {
    TzAutoLock g(&m_lock);
    if (m_count == 0) return false;
    m_executingThreadId = 0;
  }
  AsynManager* mgr = AsynManager::GetInstanceIfExists();
  CompletationPortControler* cpc = mgr != nullptr ? mgr->GetCompletionPort() : nullptr;
  if (!ClaimWakeUp()) return true;  // one is on its way and will drain the rest
  if (cpc != nullptr && cpc->PostLocalEvent(Event::Make(m_sessionId, NotifyEvent, plat::NowMs()), this, this) == CPC_OK)
    return true;
  DropWakeUp();
  TzAutoLock g(&m_lock);
  if (m_executingThreadId != 0) return true;  // another worker took over
  m_executingThreadId = tid;
  return false;
}

int32_t Session::ParallelExecuteProcess(Event& event, const SptrISender& sender, bool startCall) {
  const uint32_t sid = m_sessionId;
  if (!startCall) {
    m_executingThreadCount.fetch_add(1);
    if (m_destroying.load() != 0) {
      m_executingThreadCount.fetch_sub(1);
      ReleaseEventResources(&event);
      return -1;
    }
    int32_t rc = 0;
    if (event.kind != NotifyEvent) {
      if (AsynDebugOn()) Log::writeDebug(AsynLogCategory, kLogSession, "[SID:%u] Session::OnEventArrived 直接执行DispatchEvent。", sid);
      EventListItem item;
      item.event = event;
      item.sender = sender;
      rc = DispatchEvent(item);
    }
    m_executingThreadCount.fetch_sub(1);
    return rc;
  }

  // The call that ran the start (m_executingThreadCount was raised for it)
  // works off what queued up before it.
  for (;;) {
    EventListItem item;
    bool got;
    {
      TzAutoLock g(&m_lock);
      got = PopLocked(&item);
    }
    if (!got) {
      m_executingThreadCount.fetch_sub(1);
      return 0;
    }
    if (m_destroying.load() != 0) {
      Log::writeWarning(AsynLogCategory, kLogSession,
                        "[SID:%u] Session::OnEventArrived Session处于销毁中 m_executingThreadCount 减少，直接返回。", sid);
      m_executingThreadCount.fetch_sub(1);
      ReleaseEventResources(&item.event);
      return -1;
    }
    if (AsynDebugOn()) {
      Log::writeDebug(AsynLogCategory, kLogSession,
                      "[SID:%u] Session::OnEventArrived 执行完Start后，eventlist中存在未处理的消息，\t\t\t\t取出头一个消息进行处理。",
                      sid);
    }
    DispatchEvent(item);
  }
}

// Consumes the item's resources on every path. Handler results are not
// passed on.
int32_t Session::DispatchEvent(EventListItem& item) {
  Event& e = item.event;
  if (m_destroying.load() != 0) {
    ReleaseEventResources(&e);
    return 0;
  }
  switch (e.kind) {
    case StartEvent:
      OnStart();
      break;
    case MsgEvent: {
      Msg* msg = e.msg();
      e.word2 = 0;
      if (msg == nullptr) break;
      const uint8_t* data = nullptr;
      uint32_t length = 0;
      bool deliver = true;
      if (msg->form == MSG_DATA_SHARED) {
        data = msg->sharedData;
        length = msg->sharedLength;
      } else if (msg->form == MSG_DATA_MEMSTREAM) {
        const MemStream* s = msg->stream.get();
        if (s != nullptr && s->Buffer() != nullptr && s->DataLength() > s->PayloadOffset()) {
          data = s->Buffer() + s->PayloadOffset();
          length = s->DataLength() - s->PayloadOffset();
        }
      } else if (msg->form == MSG_DATA_USERDATA) {
        data = reinterpret_cast<const uint8_t*>(msg->userData.get());
      } else {
        deliver = false;  // a LinkBuff chain is never handed to a session
      }
      if (deliver) OnMessage(msg->msgId, data, length, msg->srcSid, item.sender);
      delete msg;
      break;
    }
    case TimerEvent: {
      UserDataInfo* userData = e.userData();
      e.word3 = 0;
      OnTimer(e.cancelFlag() != 0, e.timerId(), userData);
      if (userData != nullptr) userData->Release();
      break;
    }
    case TimeoutEvent:
      OnTimeout(e.cancelFlag() != 0, 0);
      break;
    case TerminateEvent:
      Terminate(Terminate_Event);
      break;
    case SendResultEvent: {
      PostMsgContext* ctx = e.context();
      e.word2 = 0;
      if (ctx == nullptr) break;
      const uint8_t* body = nullptr;
      uint32_t bodyLength = 0;
      const MemStream* s = ctx->m_msg.stream.get();
      if (s != nullptr && s->Buffer() != nullptr) {
        body = s->Buffer() + s->PayloadOffset();
        bodyLength = s->DataLength() > s->PayloadOffset() ? s->DataLength() - s->PayloadOffset() : 0;
      }
      OnSendResult(e.resultCode(), e.transportMarker(), ctx->m_msg.msgId, body, bodyLength, ctx->m_msg.destSid,
                   ctx->m_replyFlag, &ctx->m_dest, ctx->m_sender.get(), ctx->m_userData.get(), ctx->m_localIp,
                   ctx->m_localPort, ctx->m_reliable);
      ctx->Release();  // the event's reference
      break;
    }
    default:  // NotifyEvent only wakes; nothing else reaches a session
      break;
  }
  return 0;
}

}  // namespace AsynModel
