// The centre of the framework: owns the SessionMap, the UDP and TCP
// processors, the completion-port controller, the compute workers and the
// quick timer; runs the lifecycle and delivers messages by session id.
//
// Threads: PostMsg, FindSession and the accessors are safe from any thread.
// The lifecycle operations (Init/Start/Stop/Destroy) are called from one
// controlling thread. Lock order: the manager lock (held while the observer
// runs) before session locks.
#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "asynmodel/CompletationPortControler.h"
#include "asynmodel/SessionMap.h"
#include "asynmodel/SessionTimer.h"
#include "asynmodel/SubScribeEventCallBack.h"
#include "tzhelper/TzQuickTimer.h"
#include "tzhelper/Tzautolock.h"

namespace AsynModel {

class ComputeWorker;
class UDPIOProcess;
class TCPIOProcessor;

enum AsynState : uint32_t { Distroy = 0, Inited = 1, Running = 2, Stopping = 3 };

enum AsynResult : uint32_t {
  Asyn_OK = 0,
  Asyn_NotDistroy = 1,
  Asyn_PortFailed = 2,
  Asyn_WorkersFailed = 3,
  Asyn_TcpFailed = 4,
  Asyn_UdpFailed = 5,
  Asyn_BadState = 6,
  Asyn_NotRunning = 12,
  Asyn_TooLarge = 14,
  Asyn_NoSession = 24,
  Asyn_NoMemory = 25,
  Asyn_ArgMismatch = 40,
  Asyn_WsaFailed = 71,
};

class AsynManager {
 public:
  static constexpr uint32_t kMaxPostData = 2048;
  static constexpr uint32_t kMaxWorkers = 500;

  // Created on first use, never destroyed. Null only if it cannot be made.
  // Must not be called while the manager itself is being built (from the
  // constructors of its members).
  static AsynManager* GetInstance();
  // The instance if it has been made, without making it.
  static AsynManager* GetInstanceIfExists();

  // Lifecycle, from one controlling thread (never a compute worker).
  uint32_t Init(uint32_t workerCount);
  uint32_t Start();
  uint32_t Stop();
  void Destroy();

  // Any thread. Ownership: shared data is delivered by reference and must
  // stay valid until the session has handled the message; other data is
  // copied. A refused post leaves nothing behind.
  uint32_t PostMsg(uint32_t destSid, uint32_t msgId, const void* msgData, uint32_t dataLen, bool isShared);
  // Any thread. 12 unless Running, 24 for an unknown id, else the post's code.
  uint32_t PostTerminateEvent(uint32_t sid);
  // The same for a session the caller already holds.
  uint32_t PostTerminateEvent(const SptrSession& session);
  // Any thread. Host-order conversion of the dotted text (null gives 0); 12
  // unless Running, else the UDP processor's code.
  uint32_t SetDefaultUDPAddr(const char* ip, uint32_t port);
  // Any thread; takes the manager lock.
  void RegisterEventCallBack(SubScribeEventCallBack* observer);
  // Called by the processors on their threads. Holds the manager lock while
  // the observer runs and catches whatever it throws.
  bool InternalEventCallBack(const FrameworkEventRecord& record);

  SptrSession FindSession(uint32_t sid) { return m_sessionMap.Find(sid); }
  SessionMap* GetSessionMap() { return &m_sessionMap; }
  CompletationPortControler* GetCompletionPort() { return &m_cpc; }
  UDPIOProcess* GetUDPProcessor() { return m_udp; }
  TCPIOProcessor* GetTCPProcessor() { return m_tcp; }
  TzQuickTimer* GetQuickTimer() { return m_quickTimer.get(); }
  uint32_t GetState() const { return m_state; }
  // The channel of a session id (id AND 1); null when no quick timer exists.
  SessionTimer* GetSessionTimer(uint32_t sid);
  // Any thread; take the worker-list lock (innermost).
  bool IsComputeWorkerThread(uint32_t threadId);
  uint32_t LiveWorkerCount();
  uint32_t WorkerCount();

 private:
  AsynManager();
  ~AsynManager() = delete;  // lives until the process ends
  bool CreateComputeWorkers(uint32_t n);
  void RemoveWorkers(bool forced);

  SessionMap m_sessionMap;
  TCPIOProcessor* m_tcp = nullptr;
  UDPIOProcess* m_udp = nullptr;
  SubScribeEventCallBack* m_observer TZ_GUARDED_BY(m_lock) = nullptr;
  TzLock m_lock;
  std::atomic<uint32_t> m_state{Distroy};  // read without a lock
  TzSptr<TzQuickTimer> m_quickTimer;
  SessionTimer m_sessionTimers[2];
  CompletationPortControler m_cpc;
  std::vector<ComputeWorker*> m_workers TZ_GUARDED_BY(m_workersLock);
  TzLock m_workersLock;
  uint8_t m_wsaStarted = 0;
};

// The free functions the coordinator drives the framework with.
uint32_t Init(uint32_t workerCount);
uint32_t Start();
void Stop();
void Destroy();
uint32_t PostMsg(uint32_t destSid, uint32_t msgId, const void* msgData, uint32_t dataLen, bool isShared);

}  // namespace AsynModel
