// Relay mode of the coordinator (start-up with nType 1): its own timer
// service runs the heartbeat pass, which would send a heartbeat over every
// relay connection once the router client has registered the relay and
// named an interval. This library has no router client, so the interval is
// never set and the pass only re-arms itself every 100 ms, for the life of
// the process.
//
// Threads: the pass runs on the relay timer's thread and holds the
// coordinator lock shared for its whole length, so it waits for a running
// start-up and a start-up waits for it. The relay list lock nests inside the
// coordinator lock; the timer service's own lock is innermost.
#include <new>

#include "api/RelayRegisterContext.h"
#include "api/RouterAccessManager.h"
#include "tzhelper/QosLog.h"
#include "tzhelper/TzCustomTimerEx.h"

namespace {
constexpr uint32_t kHeartbeatIdleMs = 100;
constexpr uint32_t kIntervalNotSet = 0xFFFFFFFFu;
}  // namespace

bool RouterAccessManager::CreateRelayTimer() {
  m_relayTimer = new (std::nothrow) TzCustomTimerEx(1);
  return m_relayTimer != nullptr;
}

void RouterAccessManager::StartRelayTimer() {
  // A refusal leaves relay mode without its heartbeat; nothing else of the
  // coordinator depends on it.
  if (m_relayTimer->Start()) m_relayTimer->SetTimer(kHeartbeatIdleMs, this, &RouterAccessManager::HeartBeatTimer, nullptr);
}

void RouterAccessManager::HeartBeatTimer(void* owner, uint32_t, void*) {
  static_cast<RouterAccessManager*>(owner)->HeartBeatTimerProc();
}

void RouterAccessManager::HeartBeatTimerProc() {
  if (QosLogIsOpen(FacadeLogCategory, 1))
    QosLogInfo(FacadeLogCategory, FacadeLogSubType, "RelayRegisterReqSession::HeartBeatTimerProc start ");
  uint32_t nextMs = kHeartbeatIdleMs;
  {
    TzAutoLock guard(&m_lock, false);
    if (m_state.load() != 1) {
      QosLogWarning(FacadeLogCategory, FacadeLogSubType,
                    "RelayRegisterReqSession::HeartBeatTimerProc 开始一个心跳周期时，但当前已经不是初始化状态");
      return;  // no new timer
    }
    if (m_heartbeatInterval.load() == kIntervalNotSet) {
      if (QosLogIsOpen(FacadeLogCategory, 1))
        QosLogInfo(FacadeLogCategory, FacadeLogSubType,
                   "RelayRegisterReqSession::HeartBeatTimerProc 开始一个心跳周期,未设置心跳时间，本周期不进行心跳");
      m_relayTimer->SetTimer(kHeartbeatIdleMs, this, &RouterAccessManager::HeartBeatTimer, nullptr);
      return;
    }
    if (m_relayInfoSet.load() == 0) {
      if (QosLogIsOpen(FacadeLogCategory, 2))
        QosLogInfo(FacadeLogCategory, FacadeLogSubType,
                   "RelayRegisterReqSession::HeartBeatTimerProc 开始一个心跳周期,未设置relay信息，本周期不进行心跳");
      m_relayTimer->SetTimer(kHeartbeatIdleMs, this, &RouterAccessManager::HeartBeatTimer, nullptr);
      return;
    }
    HeartbeatCycle(&nextMs);
  }
  m_relayTimer->SetTimer(nextMs, this, &RouterAccessManager::HeartBeatTimer, nullptr);
  if (QosLogIsOpen(FacadeLogCategory, 1))
    QosLogInfo(FacadeLogCategory, FacadeLogSubType, "RelayRegisterReqSession::HeartBeatTimerProc finish and settimer interval:%d ",
               static_cast<int>(nextMs));
}

// One heartbeat over every relay connection. The check of the servers'
// validity and the subscriber notice belong to the router client and are not
// part of this build. Runs with the coordinator lock held shared.
void RouterAccessManager::HeartbeatCycle(uint32_t* nextMs) {
  if (QosLogIsOpen(FacadeLogCategory, 1))
    QosLogInfo(FacadeLogCategory, FacadeLogSubType, "RelayRegisterReqSession::HeartBeatTimerProc 开始一个心跳周期");
  TzAutoLock listGuard(&m_relayListLock, false);
  const uint32_t count = static_cast<uint32_t>(m_relayConnections.size());
  const uint32_t base = m_heartbeatSeqBase.fetch_add(count) + count;
  {
    TzAutoLock addrGuard(&m_addrLock);
    m_serverCount = static_cast<int32_t>(count);
  }
  m_heartbeatPending.store(count);
  const uint32_t value1 = m_relayValue1.load(), value2 = m_relayValue2.load();
  for (uint32_t i = 0; i < count; ++i) {
    if (QosLogIsOpen(FacadeLogCategory, 1))
      QosLogInfo(FacadeLogCategory, FacadeLogSubType, "RelayRegisterReqSession::HeartBeatTimerProc 向第%d个服务器发送心跳请求",
                 static_cast<int>(i));
    const RouterClient::RelayDescriptor* desc = m_relayDescPresent != 0 ? &m_relayDesc : nullptr;
    if (!m_relayConnections[i]->SendHeartbeat(value1, value2, desc, this, base + i)) m_heartbeatPending.fetch_sub(1);
  }
  *nextMs = m_intervalMultiplier * m_heartbeatInterval.load();
}

void RouterAccessManager::on_heartbeat(uint32_t, int32_t status, const char*, uint32_t intervalMs) {
  uint32_t pending = m_heartbeatPending.load();
  while (pending != 0 && !m_heartbeatPending.compare_exchange_weak(pending, pending - 1)) {
  }
  if (intervalMs != 0) m_heartbeatInterval.store(intervalMs);
  // The relay subscriber of start-up has no type in this build (the exports
  // pass none), so a changed status is only kept.
  m_lastRelayStatus.store(static_cast<uint32_t>(status));
}

void RouterAccessManager::SetRelayInfo(uint32_t relayValue1, uint32_t relayValue2) {
  m_relayValue1.store(relayValue1);
  m_relayValue2.store(relayValue2);
  m_relayInfoSet.store(1);
}

void RouterAccessManager::ClearRelayLists() {
  TzAutoLock guard(&m_relayListLock, true);
  m_relayConnections.clear();
}

void RelayRegisterContext::on_register(int32_t result, uint32_t relayValue1, uint32_t relayValue2) {
  if (result == 0 && m_owner != nullptr) m_owner->SetRelayInfo(relayValue1, relayValue2);
}
