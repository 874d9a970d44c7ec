// Owns the completion port: starts the processors' overlapped socket
// operations, posts local events to sessions, and on Destroy waits until every
// operation it started has been taken back out.
//
// Admission: every PerIO handed to the port is admitted first (outstanding
// +1, refused with 37 while closing) and released exactly once, when a worker
// takes it out or when its start fails. Destroy swaps the admission counter
// with a large negative sentinel, so later admissions fail, and counts the
// PerIOs still inside down to zero before it tells the workers to leave.
//
// Item references: a started socket operation (Send, Recv, Connect, Accept)
// takes one reference to its socket item, which travels with the operation.
// The worker that takes the completion inherits that reference (the key) and
// drops it after the processor's handler; a start that fails gives it back
// at once.
//
// Threads: every operation may be started from any thread; GetCompletion is
// for compute workers only; Destroy must not run on a worker (it waits for
// them) and is called from the manager's controlling thread.
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
  CPC_BadDestination = 39,  // a UDP send refused for its destination; the socket is fine
  CPC_BadArgs = 40,
};

class CompletationPortControler {
 public:
  static constexpr int32_t kDrainSentinel = -33554433;  // 0xFDFFFFFF
  static constexpr uint32_t kMaxIoLength = 0x200000;
  static constexpr int64_t kSlowSendRecvMs = 11;
  static constexpr int64_t kSlowConnectMs = 101;

  CompletationPortControler();
  ~CompletationPortControler();  // Destroy, then "完成端口析构。"
  CompletationPortControler(const CompletationPortControler&) = delete;
  CompletationPortControler& operator=(const CompletationPortControler&) = delete;

  // Opens the port if none is open (resetting both counters). Whether a port
  // exists afterwards.
  bool Init();
  // False when no port, while closing, for a null item, or when binding fails.
  bool Associate(SOCKET_ITEM* item);
  // 0: the PerIO is in flight and comes back through a worker. Any other
  // result: it was not admitted (or its admission was released) and stays
  // the caller's; the item reference is not kept.
  // UDP sends (kind 0, operation 0) go to the UDPIOData's remote address;
  // TCP sends are kind 1, operation 0.
  uint32_t Send(SOCKET_ITEM* item, PerIO* perio, void* buffer, uint32_t length);
  // UDP receives: kind 0, operation 1 (source address into the UDPIOData);
  // TCP receives: kind 1, operation 1 or 2. Results as Send.
  uint32_t Recv(SOCKET_ITEM* item, PerIO* perio, void* buffer, uint32_t length);
  // Starts a connect (TCPIOData, operation 4) / an accept (TCPIOData,
  // operation 3, with a 72-byte MemStream). True: a completion will come.
  bool Connect(SOCKET_ITEM* item, const plat::SockAddrIn* peer);
  bool Accept(SOCKET_ITEM* listenItem);
  // Copies the event and takes its own references to both sessions (either
  // may be null). 0 posted; 37 closed; 25 no record; 35 post failed. On any
  // failure the event's resources stay the caller's.
  uint32_t PostLocalEvent(const Event& event, Session* source, Session* dest);
  // Posts one ThreadExitEvent when more than minimumLiveWorkers workers of
  // this port are live. Not admitted: it runs only while closing.
  void PostThreadExitEvent(uint32_t minimumLiveWorkers);
  // Blocks. Returns whether the dequeue succeeded; a failed dequeue can still
  // hand out a PerIO (an operation that completed with an error). *key is the
  // socket item whose operation completed (carrying that operation's
  // reference, see above) or null for local events. Releases one admission
  // for every PerIO handed out.
  bool GetCompletion(SOCKET_ITEM** key, PerIO** perio);
  // Sleeps 2 ms at a time until no PerIO is outstanding.
  void WaitIdle();
  void Destroy();

  bool IsOpen() const { return m_port.IsOpen(); }
  int32_t Outstanding() const { return m_outstanding.load(); }
  int32_t DrainCount() const { return m_drainCount.load(); }
  plat::CompletionPort& Port() { return m_port; }
  // Exit records posted over the controller's life (tests count them).
  uint32_t ExitRecordsPosted() const { return m_exitRecordsPosted.load(); }

  bool Admit();
  void ReleaseAdmission();

 private:
  // Workers of the manager that consume this port and still count as live.
  uint32_t LiveWorkers() const;
  // Send and Recv: checks, admission, the start, and a refusal undone and
  // logged. StartOnSocket starts the operation under the item's token and
  // returns its error (-1 for a closed socket); *took is the time a TCP call
  // took.
  uint32_t StartSocketIo(bool send, SOCKET_ITEM* item, PerIO* perio, void* buffer, uint32_t length);
  int StartOnSocket(bool send, bool tcp, SOCKET_ITEM* item, PerIO* perio, void* buffer, uint32_t length,
                    int64_t* took);

  plat::CompletionPort m_port;
  std::atomic<int32_t> m_drainCount{kDrainSentinel};
  std::atomic<int32_t> m_outstanding{0};
  // Stands for the ConnectEx entry point: non-blocking connect through the
  // port needs no lookup, so this only records that a TCP socket could be
  // made at construction.
  bool m_hasConnectEx = false;
  std::atomic<uint32_t> m_exitRecordsPosted{0};
};

}  // namespace AsynModel
