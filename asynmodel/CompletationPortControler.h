// Owns the completion port: starts the processors' overlapped socket
// operations, posts local events to sessions, and on Destroy waits until every
// operation it started has been taken back out.
//
// Threads: every operation may be started from any thread; GetCompletion is
// for compute workers only; Destroy must not run on a worker.
#pragma once
#include <atomic>
#include <cstdint>

#include "asynmodel/Event.h"
#include "asynmodel/PerIO.h"
#include "platform/completion_port.h"

namespace AsynModel {

class SOCKET_ITEM;
class Session;

enum CpcResult : uint32_t {
  CPC_OK = 0,
  CPC_NoMemory = 25,
  CPC_PostFailed = 35,
  CPC_WrongPerIO = 36,
  CPC_Closed = 37,
  CPC_SocketFailed = 38,
  CPC_BadArgs = 40,
};

class CompletationPortControler {
 public:
  static constexpr int32_t kDrainSentinel = -33554433;  // 0xFDFFFFFF
  static constexpr uint32_t kMaxIoLength = 0x200000;

  CompletationPortControler();
  ~CompletationPortControler();  // Destroy, then "完成端口析构。"
  CompletationPortControler(const CompletationPortControler&) = delete;
  CompletationPortControler& operator=(const CompletationPortControler&) = delete;

  bool Init();
  bool Associate(SOCKET_ITEM* item);
  // The PerIO is in flight on 0; on any other result it was not admitted (or
  // its admission was released) and stays the caller's.
  uint32_t Send(SOCKET_ITEM* item, PerIO* perio, void* buffer, uint32_t length);
  uint32_t Recv(SOCKET_ITEM* item, PerIO* perio, void* buffer, uint32_t length);
  bool Connect(SOCKET_ITEM* item, const plat::SockAddrIn* peer);
  bool Accept(SOCKET_ITEM* listenItem);
  // Copies the event; takes its own references to both sessions.
  uint32_t PostLocalEvent(const Event& event, Session* source, Session* dest);
  void PostThreadExitEvent(uint32_t minimumLiveWorkers);
  // Blocks. Returns whether the dequeue succeeded; a failed dequeue can still
  // hand out a PerIO (an operation that completed with an error). *key is the
  // socket item (not counted) or null for local events.
  bool GetCompletion(SOCKET_ITEM** key, PerIO** perio);
  void WaitIdle();
  void Destroy();

  bool IsOpen() const { return m_port.IsOpen(); }
  int32_t Outstanding() const { return m_outstanding.load(); }
  plat::CompletionPort& Port() { return m_port; }

  // Admission: every PerIO handed to the port is admitted first and released
  // once when it comes out (or when its start fails).
  bool Admit();
  void ReleaseAdmission();

 private:
  plat::CompletionPort m_port;
  std::atomic<int32_t> m_drainCount{kDrainSentinel};
  std::atomic<int32_t> m_outstanding{0};
};

}  // namespace AsynModel
