#include "asynmodel/AsynManager.h"

#include <cstring>
#include <mutex>
#include <new>

#include "asynmodel/AsynLog.h"
#include "asynmodel/ComputeWorker.h"
#include "asynmodel/net/Msg.h"
#include "asynmodel/net/TCPIOProcessor.h"
#include "asynmodel/net/UDPIOProcess.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/system.h"

namespace AsynModel {

namespace {


std::mutex g_instanceLock;
std::atomic<AsynManager*> g_instance{nullptr};

}  // namespace

AsynManager* AsynManager::GetInstance() {
  AsynManager* p = g_instance.load(std::memory_order_acquire);
  if (p != nullptr) return p;
  std::lock_guard<std::mutex> g(g_instanceLock);
  p = g_instance.load(std::memory_order_relaxed);
  if (p == nullptr) {
    try {
      p = new AsynManager();
    } catch (...) {
      p = nullptr;  // no memory for the framework: callers see no manager
    }
    g_instance.store(p, std::memory_order_release);
  }
  return p;
}

AsynManager* AsynManager::GetInstanceIfExists() { return g_instance.load(std::memory_order_acquire); }

// Members are built in declaration order: the map, both processors (given the
// controller, built a moment later), the observer, the lock and the state,
// the timer channels (empty for now), the controller, the worker list.
AsynManager::AsynManager() : m_tcp(new TCPIOProcessor(&m_cpc)), m_udp(new UDPIOProcess(&m_cpc)) {
  // Sockets need no WSAStartup on this system: the flag simply stays set, so
  // Init's 71 has no path here.
  m_wsaStarted = 1;

  TzQuickTimer* timer = TzQuickTimer::Create();
  if (timer == nullptr) return;  // Start will answer 25
  m_quickTimer = TzSptr<TzQuickTimer>(timer);
  for (SessionTimer& channel : m_sessionTimers) channel = SessionTimer(timer, timer->NextChannelIndex());
  m_tcp->SetQuickTimer(timer);
  m_udp->SetQuickTimer(timer);
}

SessionTimer* AsynManager::GetSessionTimer(uint32_t sid) {
  if (!m_quickTimer) return nullptr;
  return &m_sessionTimers[sid & 1];
}

uint32_t AsynManager::Init(uint32_t workerCount) {
  Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager 1。");
  if (m_state.load() != Distroy) {
    Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager 初始化失败，系统状态不是Distroy，当前状态是%d。",
                    static_cast<int>(m_state.load()));
    return Asyn_NotDistroy;
  }
  Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager 2。");
  if (m_wsaStarted == 0) {
    Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager ::WSAStartup启动失败。");
    return Asyn_WsaFailed;
  }
  Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager 3。");
  if (!m_cpc.Init()) {
    Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager 初始化失败，完成端口初始化失败。");
    return Asyn_PortFailed;
  }
  Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager 4。");
  if (!CreateComputeWorkers(workerCount)) {
    RemoveWorkers(true);
    m_cpc.Destroy();
    Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager 初始化失败，创建工作线程失败。");
    return Asyn_WorkersFailed;
  }
  Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager 5。");
  if (!m_tcp->Init()) {
    m_cpc.Destroy();
    RemoveWorkers(false);
    Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager 初始化失败，TcpIOProcessor初始化失败。");
    return Asyn_TcpFailed;
  }
  Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager 6。");
  if (!m_udp->Init()) {
    m_tcp->Destroy();
    m_cpc.Destroy();
    RemoveWorkers(false);
    Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager 初始化失败，UDPIOProcessor初始化失败。");
    return Asyn_UdpFailed;
  }
  m_state.store(Inited);
  Log::writeMessage(AsynLogCategory, kLogAsynManager, "AsynManager 初始化成功!");
  return Asyn_OK;
}

// On failure the workers already made stay in the list for the caller.
bool AsynManager::CreateComputeWorkers(uint32_t n) {
  if (n == 0) n = plat::ProcessorCount();
  if (n > kMaxWorkers) n = kMaxWorkers;
  for (uint32_t i = 0; i < n; ++i) {
    ComputeWorker* worker = new (std::nothrow) ComputeWorker();
    if (worker == nullptr) {
      Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager::CreateComputeWorkers() 工作线程创建失败。");
      return false;
    }
    if (!worker->Run()) {
      delete worker;
      Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager::CreateComputeWorkers() 工作线程Run()失败");
      return false;
    }
    TzAutoLock g(&m_workersLock);
    try {
      m_workers.push_back(worker);
    } catch (...) {
      // Not listed, so nobody would stop it: stop it here.
      worker->ForceStop();
      ComputeWorker::Dispose(worker);
      Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager::CreateComputeWorkers() 工作线程创建失败。");
      return false;
    }
  }
  return true;
}

// Unlinks one worker at a time under the list lock and waits for it outside
// the lock: a worker passing its exit on reads the list (LiveWorkerCount).
void AsynManager::RemoveWorkers(bool forced) {
  for (;;) {
    ComputeWorker* worker = nullptr;
    {
      TzAutoLock g(&m_workersLock);
      if (m_workers.empty()) return;
      worker = m_workers.front();
      m_workers.erase(m_workers.begin());
    }
    if (worker == nullptr) {
      Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager 关闭工作线程过程中发现队列中有NULL指针");
      continue;
    }
    if (forced) {
      worker->ForceStop();
    } else {
      worker->WaitForExit();
    }
    ComputeWorker::Dispose(worker);
  }
}

uint32_t AsynManager::Start() {
  const uint32_t state = m_state.load();
  if (state == Running) return Asyn_OK;
  if (state != Inited) return Asyn_BadState;
  if (!m_quickTimer) return Asyn_NoMemory;
  m_quickTimer->Enable();
  m_sessionMap.Enable();
  m_tcp->Start();
  m_udp->Start();
  m_state.store(Running);
  Log::writeMessage(AsynLogCategory, kLogAsynManager, "AsynManager::Start() 成功");
  return Asyn_OK;
}

uint32_t AsynManager::Stop() {
  if (m_state.load() != Running) {
    Log::writeWarning(AsynLogCategory, kLogAsynManager, "AsynManager::Stop() 已经停止。");
    return Asyn_BadState;
  }
  m_state.store(Stopping);
  // Pending incoming timers fire now with the cancel flag; those already on
  // the wheel fire on the timer thread's next pass.
  if (m_quickTimer) m_quickTimer->Disable();
  m_tcp->Stop();
  m_udp->Stop();
  m_sessionMap.Disable();
  // Outside Running no terminate event can be posted, so this only empties
  // the map; the sessions keep their own references.
  m_sessionMap.TerminateAll();
  m_cpc.WaitIdle();
  m_state.store(Inited);
  Log::writeMessage(AsynLogCategory, kLogAsynManager, "AsynManager::Stop() 成功。");
  return Asyn_OK;
}

void AsynManager::Destroy() {
  if (m_state.load() != Inited) return;
  m_state.store(Distroy);
  m_tcp->Destroy();
  m_udp->Destroy();
  m_cpc.Destroy();  // every worker leaves its loop
  RemoveWorkers(false);
  Log::writeMessage(AsynLogCategory, kLogAsynManager, "AsynManager::Destroy() 成功。");
}

uint32_t AsynManager::PostMsg(uint32_t destSid, uint32_t msgId, const void* msgData, uint32_t dataLen,
                              bool isShared) {
  if (m_state.load() != Running) return Asyn_NotRunning;
  if ((msgData == nullptr) != (dataLen == 0)) {
    Log::writeError(AsynLogCategory, kLogAsynManager, "AsynManager::PostMsg() destSid = %u 输入参数msgData和dataLen不匹配。",
                    destSid);
    return Asyn_ArgMismatch;
  }
  SptrSession session = FindSession(destSid);
  if (!session) return Asyn_NoSession;

  Msg* msg = new Msg();  // pooled: null instead of throwing
  if (msg == nullptr) return Asyn_NoMemory;
  msg->msgTag = 1;
  msg->msgId = msgId;
  msg->srcSid = 0;
  msg->destSid = destSid;

  if (!isShared && msgData != nullptr) {
    if (dataLen > kMaxPostData) {
      Log::writeError(AsynLogCategory, kLogAsynManager,
                      "AsynManager::PostMsg() 给目标[destSid=%u] 投递的非共享数据过大，数据大小[%u]，系统允许的最大值[%u] ",
                      destSid, dataLen, kMaxPostData);
      delete msg;
      return Asyn_TooLarge;
    }
    MemStream* raw = MemStream::Create(dataLen);
    SptrMemStream stream = raw != nullptr ? SptrMemStream(raw) : SptrMemStream();
    if (!stream || stream->Buffer() == nullptr) {
      delete msg;
      return Asyn_NoMemory;
    }
    std::memcpy(stream->Buffer(), msgData, dataLen);
    stream->SetDataLength(dataLen);
    stream->SetPayloadOffset(0);
    msg->form = MSG_DATA_MEMSTREAM;
    msg->stream = std::move(stream);
  } else {
    msg->form = MSG_DATA_SHARED;
    msg->sharedData = static_cast<const uint8_t*>(msgData);
    msg->sharedLength = dataLen;
  }

  const int64_t now = plat::NowMs();
  Event ev = Event::Make(destSid, MsgEvent, now);
  ev.word2 = reinterpret_cast<uintptr_t>(msg);  // the event owns the Msg

  if (session->GetProperty().SerialOrdered()) {
    // The queued item owns the Msg from here on, whatever the wake-up does.
    if (!session->PushEvent(ev, SptrISender())) return Asyn_NoMemory;
    if (!session->ClaimWakeUp()) return Asyn_OK;
    const uint32_t rc = m_cpc.PostLocalEvent(Event::Make(destSid, NotifyEvent, now), nullptr, session.get());
    if (rc != CPC_OK) session->DropWakeUp();
    return rc;
  }
  const uint32_t rc = m_cpc.PostLocalEvent(ev, nullptr, session.get());
  if (rc != CPC_OK) delete msg;
  return rc;
}

uint32_t AsynManager::PostTerminateEvent(uint32_t sid) {
  if (m_state.load() != Running) return Asyn_NotRunning;
  SptrSession session = FindSession(sid);
  if (!session) return Asyn_NoSession;
  return PostTerminateEvent(session);
}

uint32_t AsynManager::PostTerminateEvent(const SptrSession& session) {
  if (m_state.load() != Running) return Asyn_NotRunning;
  if (!session) return Asyn_NoSession;
  const uint32_t sid = session->GetSessionID();
  return m_cpc.PostLocalEvent(Event::Make(sid, TerminateEvent, plat::NowMs()), nullptr, session.get());
}

uint32_t AsynManager::SetDefaultUDPAddr(const char* ip, uint32_t port) {
  const uint32_t hostIp = ip != nullptr ? plat::NetToHost32(plat::InetAddr(ip)) : 0;
  if (m_state.load() != Running) return Asyn_NotRunning;
  return m_udp->SetDefaultIPPort(hostIp, static_cast<uint16_t>(port));
}

void AsynManager::RegisterEventCallBack(SubScribeEventCallBack* observer) {
  TzAutoLock g(&m_lock);
  m_observer = observer;
}

bool AsynManager::InternalEventCallBack(const FrameworkEventRecord& record) {
  TzAutoLock g(&m_lock);
  if (record.kind != 0 && record.kind != 1) return false;
  const bool tcp = record.kind == 0;

  uint32_t ip = record.address != nullptr ? record.address->ip : 0;
  const uint32_t port = record.address != nullptr ? record.address->port : 0;
  if (!tcp) ip = plat::HostToNet32(ip);  // the UDP processor reports host order
  char dotted[16] = {};
  plat::InetNtoa(ip, dotted);
  char text[17] = {};
  std::strncpy(text, dotted, 16);

  if (m_observer == nullptr) {
    if (tcp) {
      Log::writeWarning(AsynLogCategory, kLogAsynManager,
                        "AsynManager::InternalEventCallBack() 接收到异步框架内部事件通知，用户未注册观察实例。事件类型:TCP默认监听错误,IP=%s,Port=%u",
                        text, port);
    } else {
      Log::writeWarning(AsynLogCategory, kLogAsynManager,
                        "AsynManager::InternalEventCallBack() 接收到异步框架内部事件通知，用户未注册观察实例。事件类型:UDP默认端口错误,IP=%s,Port=%u",
                        text, port);
    }
    return false;
  }
  try {
    if (tcp) {
      m_observer->TCPDefaultListenPortFailureCallBack(text, port, static_cast<int32_t>(record.code));
    } else {
      m_observer->UDPDefaultPortFailureCallBack(text, port, static_cast<int32_t>(record.code));
    }
  } catch (...) {
    if (tcp) {
      Log::writeError(AsynLogCategory, kLogAsynManager,
                      "AsynManager::InternalEventCallBack() 接收到异步框架内部事件通知，用户逻辑Catch()。事件类型:TCP默认监听错误,IP=%s,Port=%u",
                      text, port);
    } else {
      Log::writeError(AsynLogCategory, kLogAsynManager,
                      "AsynManager::InternalEventCallBack() 接收到异步框架内部事件通知，用户逻辑Catch()。事件类型:UDP默认端口错误,IP=%s,Port=%u",
                      text, port);
    }
    return false;
  }
  return true;
}

bool AsynManager::IsComputeWorkerThread(uint32_t threadId) {
  TzAutoLock g(&m_workersLock);
  for (ComputeWorker* w : m_workers) {
    if (w != nullptr && w->ThreadId() == threadId) return true;
  }
  return false;
}

uint32_t AsynManager::LiveWorkerCount() {
  TzAutoLock g(&m_workersLock);
  uint32_t n = 0;
  for (ComputeWorker* w : m_workers) {
    if (w != nullptr && w->IsLive()) ++n;
  }
  return n;
}

uint32_t AsynManager::WorkerCount() {
  TzAutoLock g(&m_workersLock);
  return static_cast<uint32_t>(m_workers.size());
}

// The coordinator's entry points.
uint32_t Init(uint32_t workerCount) {
  AsynManager* mgr = AsynManager::GetInstance();
  return mgr != nullptr ? mgr->Init(workerCount) : static_cast<uint32_t>(Asyn_NoMemory);
}

uint32_t Start() {
  AsynManager* mgr = AsynManager::GetInstance();
  return mgr != nullptr ? mgr->Start() : static_cast<uint32_t>(Asyn_NoMemory);
}

void Stop() {
  AsynManager* mgr = AsynManager::GetInstance();
  if (mgr != nullptr) mgr->Stop();
}

void Destroy() {
  AsynManager* mgr = AsynManager::GetInstance();
  if (mgr != nullptr) mgr->Destroy();
}

uint32_t PostMsg(uint32_t destSid, uint32_t msgId, const void* msgData, uint32_t dataLen, bool isShared) {
  AsynManager* mgr = AsynManager::GetInstance();
  return mgr != nullptr ? mgr->PostMsg(destSid, msgId, msgData, dataLen, isShared)
                        : static_cast<uint32_t>(Asyn_NotRunning);
}

}  // namespace AsynModel
