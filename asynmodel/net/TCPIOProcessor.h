// The TCP processor: framed messages over TCP connections. One entry per
// remote (IP, port), opened on demand for a TCPSender; each Msg goes out as
// one frame (TcpFrame.h), strictly one after another from the entry's queue;
// per-message send time-outs on 15 quick-timer queues; outcomes go back to
// the sending session as receipts (transport marker 0); a check thread
// closes idle and stuck connections every 300 s.
//
// Files: TCPIOProcessor.cpp (lifecycle, table, connecting, deletion, the
// check thread), TCPSendPath.cpp (posting, send completion, send-next, send
// time-outs), TCPRecvPath.cpp (connect, receive and accept completions).
//
// Addresses: the table and FindTCPSocketItem take IPs in network order and
// ports in host order, as the entries keep them.
//
// Threads: the lifecycle runs on the manager's controlling thread; every
// other public method is safe from any thread. Completions run on compute
// workers, time-outs on the quick-timer thread, the check on its own thread.
// Lock order: creation token, then table lock; an entry's lock is never held
// while taking the table lock or setting a timer, and no lock of this class
// is held while an event is delivered.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>

#include "asynmodel/SessionTimer.h"
#include "asynmodel/net/IOProcessor.h"
#include "asynmodel/net/PooledStlAllocator.h"
#include "asynmodel/net/TCPSocketItem.h"
#include "platform/mutex.h"
#include "tzhelper/TzThread.h"
#include "tzhelper/TzToken.h"
#include "tzhelper/Tzautolock.h"

class TzQuickTimer;

namespace AsynModel {

class CompletationPortControler;
class Session;

// What TCPProc leaves for the worker, as for the UDP processor.
enum TcpProcResult : int {
  TcpProc_DeliverReceipt = 0,
  TcpProc_DeliverMessage = 1,
  TcpProc_Nothing = 2,
};

// Why an entry is deleted; also the code of the receipts its queued
// messages get.
enum TcpDeleteReason : int16_t {
  TcpDelete_Completion = 1,
  TcpDelete_Socket = 2,
  TcpDelete_Connect = 3,
};

// Receipt codes of the TCP transport beside the deletion reasons.
enum TcpReceiptCode : int16_t {
  TcpReceipt_OK = 0,
  TcpReceipt_Timeout = 4,         // RECEPT_TIMEOUT: dropped while queued
  TcpReceipt_TimeoutSending = 5,  // RECEPT_TIMEOUT_SENDING: still goes out
  TcpReceipt_Overrun = 7,
  TcpReceipt_Unknown = 9,
};

class TCPIOProcessor : public IOProcessor {
 public:
  static constexpr uint32_t kCreationTokens = 200;
  static constexpr uint32_t kTimeoutQueues = 15;
  static constexpr uint32_t kMaxSendTimeoutMs = 300000;
  static constexpr uint32_t kCheckIntervalMs = 300000;
  static constexpr int32_t kIdleSeconds = 1800;
  static constexpr int32_t kStuckSendSeconds = 30;
  static constexpr int kSocketBufferBytes = 1048576;

  explicit TCPIOProcessor(CompletationPortControler* cpc);
  ~TCPIOProcessor() override;
  TCPIOProcessor(const TCPIOProcessor&) = delete;
  TCPIOProcessor& operator=(const TCPIOProcessor&) = delete;

  bool Init();
  bool Start();
  bool Stop();
  void Destroy();
  // The manager's quick timer; it outlives the processor (not counted here).
  void SetQuickTimer(TzQuickTimer* timer);
  bool IsUsable() const { return m_running.load() != 0 && m_started.load() != 0; }

  // 0 with *out the entry of (remote IP, port), found or made and bound to
  // the local address (0 = any); -1 bad remote, -2 socket or bind, -3 no
  // address or no entry, -4 reuse option or port binding.
  int FindTCPSocketItem(uint32_t remoteIp, uint16_t remotePort, uint32_t localIp, uint16_t localPort,
                        SptrTcpSocketItem* out);
  // Starts connecting an entry in state 0: 0, or -1 (the entry is then gone).
  int AsynConn(const SptrTcpSocketItem& item);
  // Frames and queues or sends one message: 0, or -1 (no memory), -2 (too
  // large), -3/-4 (time-out not set), -5 (socket failed; entry deleted), -6,
  // -7 (entry failed). Ownership: the caller keeps its references; on 0 the
  // send record holds its own.
  int PostUserData(const SptrTcpSocketItem& item, const SptrPostMsgContext& context, const SptrSession& session);
  // A listening socket on (ip, port), host order, whose connections are
  // accepted as entries; *boundPort gets the port really bound. 0 or -1.
  int AddListenAddr(uint32_t ip, uint16_t port, uint16_t* boundPort);

  // Completion handler (compute workers): the record's type picks the
  // procedure. After 0 and 1 the worker delivers *event and deletes the
  // record; on 2 the record is the processor's business.
  int TCPProc(SOCKET_ITEM* item, bool success, PerIO* data, Event* event, SptrISender* sender);
  // Hands a received message on, then posts the connection's next header
  // receive, so one connection's frames reach their sessions in order.
  void DeliverEvent(SptrISender& sender, Event& event, SOCKET_ITEM* item) override;
  // Quick-timer callback; cancelled 1 when the timer is being cleared.
  int OnTCPSendTimeOut(uint16_t cancelled, void* record);

  size_t ConnectionCount();
  // Scans made by the check thread so far (tests wait on it).
  uint32_t CheckPassCount() const { return m_checkPasses.load(); }

 private:
  struct Key {
    uint32_t ip;
    uint16_t port;
    bool operator<(const Key& o) const { return ip != o.ip ? ip < o.ip : port < o.port; }
  };
  typedef std::map<Key, SptrTcpSocketItem, std::less<Key>,
                   PooledStlAllocator<std::pair<const Key, SptrTcpSocketItem>>>
      ItemMap;

  TzToken& CreationToken(uint32_t ip, uint16_t port);
  // A bound, non-blocking socket with address reuse; 0 or -2/-3/-4.
  int CreateBoundSocket(uint32_t localIp, uint16_t localPort, plat::Socket* out);
  bool PrepareEntry(TCP_SOCKET_ITEM* item);
  void DeleteItem(const SptrTcpSocketItem& item, int16_t reason);
  void ClearTCPSocketItemTable();
  void ClearTCPListenTable();
  static void CheckThreadProc(void* owner, void* arg);
  // Waits until the virtual clock reaches dueMs or Destroy signals; false
  // when signalled.
  bool WaitCheckDue(int64_t dueMs);
  void CheckSocketItems();

  // Send path (TCPSendPath.cpp).
  TCPIOData* BuildSendRecord(const SptrPostMsgContext& context, const SptrSession& session, int* rc);
  uint32_t StartSend(TCP_SOCKET_ITEM* item, TCPIOData* data);
  void SendNext(TCP_SOCKET_ITEM* item);
  int TCPIOSendProc(TCP_SOCKET_ITEM* item, bool success, TCPIOData* data, Event* event);
  int FinishSend(TCP_SOCKET_ITEM* item, TCPIOData* data, int16_t code, Event* event);
  bool SetTCPSendTimeOutTimer(const SptrTcpSocketItem& item, const SptrPostMsgContext& context, uint32_t seq);
  static void FillReceipt(PostMsgContext* context, int16_t code, Event* event);
  void PostReceipt(TCPIOData* data, int16_t code);

  // Receive path (TCPRecvPath.cpp).
  uint32_t PostRecvHeader(TCP_SOCKET_ITEM* item);
  int TCPIOConnectProc(TCP_SOCKET_ITEM* item, bool success, TCPIOData* data);
  int TCPIORecvHProc(TCP_SOCKET_ITEM* item, bool success, TCPIOData* data);
  int TCPIORecvBProc(TCP_SOCKET_ITEM* item, bool success, TCPIOData* data, Event* event,
                     SptrISender* sender);
  int TCPIOAcceptProc(TCP_SOCKET_ITEM* listenItem, bool success, TCPIOData* data);
  bool AdoptAccepted(TCP_SOCKET_ITEM* listenItem, plat::Socket s);

  CompletationPortControler* m_cpc;
  ItemMap m_items TZ_GUARDED_BY(m_tableLock);
  TzRWLock m_tableLock;
  ItemMap m_listens TZ_GUARDED_BY(m_listenLock);
  TzRWLock m_listenLock;
  uint32_t m_defaultListenIp TZ_GUARDED_BY(m_defaultListenLock) = 0;
  uint16_t m_defaultListenPort TZ_GUARDED_BY(m_defaultListenLock) = 0;
  TzLock m_defaultListenLock;
  TzToken m_creationTokens[kCreationTokens];
  SessionTimer m_timeoutQueues[kTimeoutQueues];  // set once, before traffic
  TzThread* m_checkThread = nullptr;
  std::atomic<int64_t> m_firstCheckDue{0};  // virtual ms, set by Init
  // The stop event of the check thread: a flag under a mutex, so a wait on
  // the virtual clock cannot miss a clock step (see WaitCheckDue).
  plat::Mutex m_stopMu;
  std::condition_variable m_stopCv;
  bool m_stopSignalled TZ_GUARDED_BY(m_stopMu) = false;
  std::atomic<uint8_t> m_running{0};
  std::atomic<uint8_t> m_started{0};
  std::atomic<uint32_t> m_checkPasses{0};
};

}  // namespace AsynModel
