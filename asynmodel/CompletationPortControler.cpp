#include "asynmodel/CompletationPortControler.h"

#include <cinttypes>
#include <cstdio>

#include "asynmodel/AsynLog.h"
#include "asynmodel/AsynManager.h"
#include "asynmodel/Session.h"
#include "asynmodel/net/SocketItem.h"
#include "asynmodel/net/TCPIOData.h"
#include "asynmodel/net/UDPIOData.h"
#include "platform/clock.h"
#include "platform/system.h"

namespace AsynModel {

namespace {

constexpr uint32_t kAcceptStreamBytes = 72;

// A started operation's result: true when its completion will come through
// the port (at once or later), false when the call failed and none will.
bool CompletionWillCome(int err) { return err == plat::kSockOk || err == plat::kSockIoPending; }

}  // namespace

CompletationPortControler::CompletationPortControler() {
  // The original looks ConnectEx up through a throw-away TCP socket. Here a
  // non-blocking connect driven by the port takes its place, so only the
  // socket probe remains, with its failure line.
  plat::Socket probe = plat::TcpSocket();
  if (probe == plat::kInvalidSocket) {
    Log::writeError(AsynLogCategory, kLogCompletionPort, "创建Socket失败，完成端口无法获取ConnectEx函数指针");
    return;
  }
  plat::CloseSocket(probe);
  m_hasConnectEx = true;
}

CompletationPortControler::~CompletationPortControler() {
  Destroy();
  Log::writeMessage(AsynLogCategory, kLogCompletionPort, "完成端口析构。");
}

// Thread contract: the controlling thread (AsynManager::Init).
bool CompletationPortControler::Init() {
  if (!m_port.IsOpen() && m_port.Open()) {
    m_outstanding.store(0);
    m_drainCount.store(kDrainSentinel);
  }
  Log::writeMessage(AsynLogCategory, kLogCompletionPort, "完成端口Init()。");
  return m_port.IsOpen();
}

bool CompletationPortControler::Admit() {
  return m_outstanding.fetch_add(1, std::memory_order_acq_rel) + 1 >= 1;
}

void CompletationPortControler::ReleaseAdmission() {
  if (m_outstanding.fetch_sub(1, std::memory_order_acq_rel) - 1 >= 0) return;
  // Closing: Destroy has swapped the counters. Wait until it has stored the
  // old count in drainCount, then count this PerIO off there.
  while (m_drainCount.load(std::memory_order_acquire) < 0) plat::YieldThread();
  m_drainCount.fetch_sub(1, std::memory_order_acq_rel);
}

// Thread contract: any thread.
bool CompletationPortControler::Associate(SOCKET_ITEM* item) {
  if (!m_port.IsOpen() || m_outstanding.load() < 0 || item == nullptr) return false;
  return m_port.Associate(item->m_socket.load(), reinterpret_cast<uintptr_t>(item));
}

// Thread contract: any thread. Ownership: see the header (the item reference
// stays with the operation on 0 only).
uint32_t CompletationPortControler::Send(SOCKET_ITEM* item, PerIO* perio, void* buffer, uint32_t length) {
  return StartSocketIo(true, item, perio, buffer, length);
}

// Thread contract: any thread. Ownership as Send.
uint32_t CompletationPortControler::Recv(SOCKET_ITEM* item, PerIO* perio, void* buffer, uint32_t length) {
  return StartSocketIo(false, item, perio, buffer, length);
}

uint32_t CompletationPortControler::StartSocketIo(bool send, SOCKET_ITEM* item, PerIO* perio, void* buffer,
                                                  uint32_t length) {
  if (!m_port.IsOpen()) return CPC_Closed;
  if (item == nullptr || perio == nullptr || buffer == nullptr || length > kMaxIoLength) return CPC_BadArgs;
  perio->ZeroOverlapped();
  if (!Admit()) return CPC_Closed;

  const bool tcp = perio->kind == PerIO_TCP &&
                   (send ? perio->operation == TCP_IO_SEND
                         : (perio->operation == TCP_IO_RECV_H || perio->operation == TCP_IO_RECV_B));
  const bool udp = perio->kind == PerIO_UDP && perio->operation == (send ? UdpOp_Send : UdpOp_Recv);
  if (!tcp && !udp) {
    ReleaseAdmission();
    Log::writeWarning(AsynLogCategory, kLogCompletionPort,
                      send ? "完成端口Send()失败，发送的不能识别的类型的PerIO。"
                           : "完成端口Recv()失败，发送的不能识别的类型的PerIO。");
    return CPC_WrongPerIO;
  }

  item->AddRef();
  int64_t took = 0;
  const int err = StartOnSocket(send, tcp, item, perio, buffer, length, &took);
  // Slow calls go to standard output, not the log, so the notice stays cheap.
  if (tcp && took >= kSlowSendRecvMs) {
    if (send) {
      std::printf("::WSASend被卡住,耗时%" PRId64 " SocketID:%u\r\n", took, item->m_sn);
    } else {
      std::printf("::WSARecv被卡住,耗时%" PRId64 " TID:%u", took, plat::CurrentThreadId());
    }
  }
  if (CompletionWillCome(err)) return CPC_OK;

  ReleaseAdmission();
  item->Release();
  if (send) {
    Log::writeWarning(AsynLogCategory, kLogCompletionPort, "CompletationPortControler::Send WSASend失败，错误类型=%d。", err);
    return udp && plat::IsDestinationError(err) ? CPC_BadDestination : CPC_SocketFailed;
  }
  if (tcp) {
    Log::writeWarning(AsynLogCategory, kLogCompletionPort, "TCP完成端口Recv()失败，错误类型=%d。", err);
  } else {
    Log::writeWarning(AsynLogCategory, kLogCompletionPort, "UDP完成端口Recv()失败，错误类型=%d。", err);
  }
  return CPC_SocketFailed;
}

int CompletationPortControler::StartOnSocket(bool send, bool tcp, SOCKET_ITEM* item, PerIO* perio, void* buffer,
                                             uint32_t length, int64_t* took) {
  TzTokenGuard token(item->m_token);
  const plat::Socket s = item->m_socket.load();
  if (s == plat::kInvalidSocket) return -1;  // an invalid socket counts as a failed call
  if (!tcp) {
    UDPIOData* io = static_cast<UDPIOData*>(perio);
    if (send) return m_port.StartSendTo(s, buffer, length, io->remote, &perio->overlapped);
    io->remoteLen = sizeof(plat::SockAddrIn);
    return m_port.StartRecvFrom(s, buffer, length, &io->remote, &io->remoteLen, &perio->overlapped);
  }
  TCPIOData* io = static_cast<TCPIOData*>(perio);
  io->bufLength = length;
  io->bufPointer = static_cast<uint8_t*>(buffer);
  const int64_t start = plat::NowMs();
  const int err = send ? m_port.StartSend(s, buffer, length, &perio->overlapped)
                       : m_port.StartRecv(s, buffer, length, &perio->overlapped);
  *took = plat::NowMs() - start;
  return err;
}

// Thread contract: any thread. The caller has bound the socket already.
bool CompletationPortControler::Connect(SOCKET_ITEM* item, const plat::SockAddrIn* peer) {
  if (!m_port.IsOpen() || !m_hasConnectEx || item == nullptr || peer == nullptr || m_outstanding.load() < 0) {
    return false;
  }
  const int64_t start = plat::NowMs();
  TCPIOData* io = new TCPIOData();  // pooled: null instead of throwing
  if (io == nullptr) return false;
  io->kind = PerIO_TCP;
  io->operation = TCP_IO_CONNECT;
  io->createTime = start;
  if (!Admit()) {
    delete io;
    return false;
  }

  int err = plat::kSockOk;
  {
    TzTokenGuard token(item->m_token);
    const plat::Socket s = item->m_socket.load();
    if (s == plat::kInvalidSocket) {
      err = -1;
    } else {
      item->AddRef();  // travels with the operation
      err = m_port.StartConnect(s, *peer, &io->overlapped);
      if (!CompletionWillCome(err)) item->Release();
    }
  }
  if (err == -1) {
    delete io;
    ReleaseAdmission();
    Log::writeWarning(AsynLogCategory, kLogCompletionPort, "完成端口Connect()失败，试图用一个已经失效的Socket去Connect远端。");
    return false;
  }
  if (!CompletionWillCome(err)) {
    delete io;
    ReleaseAdmission();
    Log::writeWarning(AsynLogCategory, kLogCompletionPort, "完成端口Connect()失败，调用ConnectEx失败，错误码=%d。", err);
    return false;
  }
  const int64_t took = plat::NowMs() - start;
  if (took >= kSlowConnectMs) std::printf("connectex 同步调用耗时太长:%" PRId64 "\r\n", took);
  return true;
}

// Thread contract: any thread. AcceptEx needs a socket made beforehand, an
// address buffer and SO_REUSEADDR on the new socket; accept4 through the port
// creates the socket itself when a connection arrives and hands it back in the
// overlapped block, so those steps have nothing to do here.
bool CompletationPortControler::Accept(SOCKET_ITEM* listenItem) {
  if (!m_port.IsOpen() || listenItem == nullptr || m_outstanding.load() < 0) return false;
  if (!Admit()) return false;

  TCPIOData* io = new TCPIOData();
  MemStream* stream = MemStream::Create(kAcceptStreamBytes);
  if (io != nullptr && stream != nullptr) io->stream = SptrMemStream(stream);
  if (io == nullptr || stream == nullptr || stream->Buffer() == nullptr) {
    if (io == nullptr && stream != nullptr) SptrMemStream(stream).reset();  // frees it
    delete io;
    ReleaseAdmission();
    return false;
  }
  io->kind = PerIO_TCP;
  io->operation = TCP_IO_ACCEPT;
  io->createTime = plat::NowMs();

  int err = plat::kSockOk;
  {
    TzTokenGuard token(listenItem->m_token);
    const plat::Socket s = listenItem->m_socket.load();
    if (s == plat::kInvalidSocket) {
      err = -1;
    } else {
      listenItem->AddRef();  // travels with the operation
      err = m_port.StartAccept(s, &io->overlapped);
      if (!CompletionWillCome(err)) listenItem->Release();
    }
  }
  if (err == -1) {
    Log::writeWarning(AsynLogCategory, kLogCompletionPort, "完成端口Accept()失败，试图在一个已经失效的Socket上Accept。");
  } else if (!CompletionWillCome(err)) {
    Log::writeWarning(AsynLogCategory, kLogCompletionPort, "完成端口Accept()失败，调用AcceptEx()失败,错误码=%d。", err);
  } else {
    return true;
  }
  delete io;
  ReleaseAdmission();
  return false;
}

// Thread contract: any thread. Ownership: the record takes its own session
// references; the event's resources pass to the record only on 0.
uint32_t CompletationPortControler::PostLocalEvent(const Event& event, Session* source, Session* dest) {
  if (!m_port.IsOpen() || !Admit()) return CPC_Closed;
  LocalEventIOData* rec = new LocalEventIOData();  // pooled: null instead of throwing
  if (rec == nullptr) {
    ReleaseAdmission();
    return CPC_NoMemory;
  }
  rec->kind = PerIO_Local;
  rec->createTime = event.time;
  rec->event = event;
  rec->dest = SptrSession(dest);
  rec->source = SptrSession(source);
  if (m_port.Post(0, &rec->overlapped, 0)) return CPC_OK;

  rec->event = Event();  // the resources stay the caller's
  delete rec;            // drops both references
  ReleaseAdmission();
  Log::writeWarning(AsynLogCategory, kLogCompletionPort, "完成端口PostLocalEvent()投递完成端口失败。");
  return CPC_PostFailed;
}

uint32_t CompletationPortControler::LiveWorkers() const {
  // Only the manager's own port has workers; a controller made elsewhere
  // (tests) has none to wait for.
  AsynManager* mgr = AsynManager::GetInstanceIfExists();
  if (mgr == nullptr || mgr->GetCompletionPort() != this) return 0;
  return mgr->LiveWorkerCount();
}

// Thread contract: Destroy, or a worker passing its exit on. The record is not
// admitted; drainCount is raised instead, and the worker's release of the
// record (which finds outstanding negative) lowers it again.
void CompletationPortControler::PostThreadExitEvent(uint32_t minimumLiveWorkers) {
  if (!m_port.IsOpen() || LiveWorkers() <= minimumLiveWorkers) return;
  LocalEventIOData* rec = new LocalEventIOData();
  if (rec == nullptr) {
    Log::writeWarning(AsynLogCategory, kLogCompletionPort, "完成端口PostThreadExitEvent()投递退出Event失败。");
    return;
  }
  rec->kind = PerIO_Local;
  rec->event = Event::Make(0, ThreadExitEvent, plat::NowMs());
  rec->createTime = rec->event.time;
  if (!m_port.Post(0, &rec->overlapped, 0)) {
    Log::writeWarning(AsynLogCategory, kLogCompletionPort, "完成端口PostThreadExitEvent()投递退出Event失败。");
    delete rec;
    return;
  }
  m_exitRecordsPosted.fetch_add(1);
  m_drainCount.fetch_add(1, std::memory_order_acq_rel);
}

// Thread contract: compute workers only.
bool CompletationPortControler::GetCompletion(SOCKET_ITEM** key, PerIO** perio) {
  uintptr_t k = 0;
  plat::Overlapped* ov = nullptr;
  uint32_t bytes = 0;
  int err = 0;
  const bool ok = m_port.Get(&k, &ov, &bytes, &err);
  PerIO* p = ov != nullptr ? PerIO::FromOverlapped(ov) : nullptr;
  if (key != nullptr) *key = reinterpret_cast<SOCKET_ITEM*>(k);
  if (perio != nullptr) *perio = p;
  // Only a dequeued record was ever admitted; "port closed" hands out none.
  if (p != nullptr) {
    ReleaseAdmission();
    if (p->kind == PerIO_TCP) {
      static_cast<TCPIOData*>(p)->transferred = bytes;
    } else if (p->kind == PerIO_UDP) {
      static_cast<UDPIOData*>(p)->transferred = bytes;
    }
  }
  return ok;
}

// Thread contract: the controlling thread (AsynManager::Stop).
void CompletationPortControler::WaitIdle() {
  while (m_outstanding.load() != 0) plat::RealSleepMs(2);
}

// Thread contract: the controlling thread, never a worker.
void CompletationPortControler::Destroy() {
  if (!m_port.IsOpen()) return;
  const int32_t old = m_outstanding.exchange(m_drainCount.load());
  m_drainCount.store(old, std::memory_order_release);

  Log::writeMessage(AsynLogCategory, kLogCompletionPort, "完成端口Destroy(),等待所有已投递的PerIO被取出。");
  while (m_drainCount.load() != 0) plat::RealSleepMs(2);

  Log::writeMessage(AsynLogCategory, kLogCompletionPort, "完成端口Destroy(),等待所有工作线程退出。");
  PostThreadExitEvent(0);
  while (LiveWorkers() != 0) plat::YieldThread();

  // Closing the port cannot fail here, so its warning has no path.
  m_port.Close();
}

}  // namespace AsynModel
