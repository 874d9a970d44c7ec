// A session: the unit of application logic. Every event reaches it through
// OnEventArrived; DispatchEvent turns events into calls of the virtual
// handlers below, which application sessions override.
//
// Threads: OnEventArrived runs on compute workers; a serial session's handlers
// never overlap (the executing thread id is the ownership token), a parallel
// session's handlers may run on several workers at once. Start, Terminate,
// SetTimer, PostMsg and ReplyMsg are safe from any thread.
// Lock order: the session lock before SessionMap bucket locks; pool and id
// locks are innermost.
#pragma once
#include <atomic>
#include <cstdint>

#include "asynmodel/Event.h"
#include "asynmodel/PeerAddress.h"
#include "asynmodel/SessionProperty.h"
#include "asynmodel/SessionPtr.h"
#include "asynmodel/UserDataInfo.h"
#include "asynmodel/net/ISender.h"
#include "tzhelper/TzRefCounter.h"
#include "tzhelper/Tzautolock.h"

namespace AsynModel {

class Session;

class PostMsgBaseSession {
 public:
  virtual Session* GetSession() = 0;

 protected:
  virtual ~PostMsgBaseSession() = default;
};

// An event waiting in a session's list, with the sender it came with.
struct EventListItem {
  Event event;
  SptrISender sender;
};

enum TerminateReason : uint32_t {
  Terminate_StartFailed = 6000,
  Terminate_Event = 6001,
  Terminate_Timeout = 6002,
  Terminate_BadThreadMode = 6003,
  Terminate_NoFramework = 6005,
};

class Session : public PostMsgBaseSession, public TzRefCounterBase<Session> {
 public:
  static constexpr uint32_t kFirstResidentId = 0xFFFFD7FFu;

  explicit Session(SessionProperty property = SessionProperty());

  Session* GetSession() override { return this; }

  // Once per session. 0, or -1 after terminating itself (reasons 6000, 6003,
  // 6005). A compute worker that calls it with alwaysPost false dispatches the
  // start inline. timeoutMs -1: no time-out timer.
  virtual int32_t Start(int32_t timeoutMs = -1, bool alwaysPost = false);
  virtual int32_t OnStart();
  // Runs under the session lock of a findable session.
  virtual void OnTerminate(uint32_t reason);
  virtual int32_t OnTimeout(bool cancelled, uint32_t reserved);
  // Pointers are valid only during the call.
  virtual int32_t OnSendResult(int16_t result, uint16_t transport, uint32_t msgId,
                               const uint8_t* body, uint32_t bodyLength, uint32_t destSid,
                               uint32_t replyFlag, const PeerAddress* dest, ISender* sender,
                               UserDataInfo* userData, uint32_t localIp, uint16_t localPort,
                               uint8_t reliable);
  // data is null for an empty body; sender may be null.
  virtual int32_t OnMessage(uint32_t msgId, const uint8_t* data, uint32_t length, uint32_t srcSid,
                            const SptrISender& sender);
  virtual int32_t OnTimer(bool cancelled, uint16_t timerId, UserDataInfo* userData);

  // Always 0; only the first call does anything.
  int32_t Terminate(uint32_t reason);

  // Takes over the event's resources on every path: 0 handled or queued, -1
  // refused (resources released).
  int32_t OnEventArrived(Event& event, const SptrISender& sender);
  int32_t DispatchEvent(EventListItem& item);

  bool SetTimer(uint16_t timerId, uint32_t timeoutMs, UserDataInfo* userData = nullptr);
  bool SetTimeoutTimer(uint32_t timeoutMs);
  // Timer-service callback; owns the SessionTimerInfo record and the session
  // reference that SetTimer took.
  int TransmitTimerEvent(uint16_t cancelled, void* record);

  // Sending to an address and replying through a sender (result codes 9, 10,
  // 11, 12, 14, 25, 27, or the sender's). The caller's bytes need only live
  // until the call returns.
  uint32_t PostMsg(const PeerAddress& dest, uint32_t destSid, uint32_t msgId, const void* data,
                   uint32_t length, uint8_t reliable, uint32_t timeLimitMs, uint32_t receiptMode,
                   int32_t transport, UserDataInfo* userData, uint32_t localIp, uint16_t localPort);
  uint32_t ReplyMsg(const SptrISender& sender, uint32_t destSid, uint32_t msgId, const void* data,
                    uint32_t length, uint8_t reliable, uint32_t timeLimitMs, uint32_t receiptMode,
                    UserDataInfo* userData);

  uint32_t GetSessionID() const { return m_sessionId; }
  const SessionProperty& GetProperty() const { return m_property; }
  // Any thread. Appends under the session lock; the list takes over the
  // event's resources. False (event resources released) when no list node can
  // be had.
  bool PushEvent(const Event& event, const SptrISender& sender);
  // Any thread: events waiting in the list.
  uint32_t PendingEventCount();
  // Serial sessions: whoever queues an event posts a wake-up only when
  // ClaimWakeUp answers true (none is on its way yet), so the port holds at
  // most one per session however fast events arrive; a wake-up that could
  // not be posted is given back with DropWakeUp.
  bool ClaimWakeUp() { return m_wakePending.exchange(1) == 0; }
  void DropWakeUp() { m_wakePending.store(0); }
  // Events a serial drain runs before it lets the port's other completions
  // (received datagrams, send results) have the worker.
  static constexpr uint32_t kSerialBatch = 64;
  bool IsDestroying() const { return m_destroying.load() != 0; }

 protected:
  ~Session() override;
  friend class TzRefCounterBase<Session>;

 private:
  struct Node;
  enum CheckResult { Check_Continue, Check_Handled, Check_StartConsumed };
  CheckResult CheckIsStartedProcess(Event& event, const SptrISender& sender);
  int32_t SerialerExecuteProcess(Event& event, const SptrISender& sender, bool consumed);
  int32_t ParallelExecuteProcess(Event& event, const SptrISender& sender, bool startCall);
  // Callers hold m_lock (or are the destructor).
  bool PushLocked(const Event& event, const SptrISender& sender) TZ_REQUIRES(m_lock);
  bool PopLocked(EventListItem* out) TZ_REQUIRES(m_lock);
  // Ends a drain after a batch: gives up the session and posts a wake-up
  // for the rest. False (keep draining) when the list is empty or no
  // wake-up could be posted and the session could be taken back.
  bool YieldSerialDrain(uint32_t tid);
  static uint32_t AllocateId(uint32_t idKind);
  bool StartWithManager(int32_t timeoutMs, bool alwaysPost);
  bool SetSessionTimer(uint16_t timerId, uint32_t timeoutMs, UserDataInfo* userData, bool isTimeout);

  SessionProperty m_property;
  TzLock m_lock;
  Node* m_head TZ_GUARDED_BY(m_lock) = nullptr;
  Node* m_tail TZ_GUARDED_BY(m_lock) = nullptr;
  uint32_t m_count TZ_GUARDED_BY(m_lock) = 0;
  // Serial mode: 0 when nobody owns the session.
  uint32_t m_executingThreadId TZ_GUARDED_BY(m_lock) = 0;
  std::atomic<int32_t> m_executingThreadCount{0};
  // Set under m_lock for findable sessions; read without it on the event path.
  std::atomic<uint8_t> m_destroying{0};
  std::atomic<uint8_t> m_wakePending{0};
  uint32_t m_sessionId = 0;
  uint8_t m_isStartEvent TZ_GUARDED_BY(m_lock) = 0;
  uint8_t m_started TZ_GUARDED_BY(m_lock) = 0;
};

// Id counters (exposed for tests of the wrap-around).
void SetNextSessionIdForTest(uint32_t ordinary, uint32_t resident);

}  // namespace AsynModel
