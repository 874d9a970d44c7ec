// The TCP processor's lifecycle, its connection table, connecting, deleting
// entries and the check thread.
#include "asynmodel/net/TCPIOProcessor.h"

#include <chrono>
#include <cstdio>
#include <vector>

#include "asynmodel/AsynLog.h"
#include "asynmodel/CompletationPortControler.h"
#include "asynmodel/Session.h"
#include "asynmodel/net/RWGuard.h"
#include "platform/clock.h"
#include "platform/sync.h"
#include "tzhelper/TzQuickTimer.h"

namespace AsynModel {

namespace {

uint32_t NowSeconds() { return plat::CalendarSeconds(); }

}  // namespace

TCPIOProcessor::TCPIOProcessor(CompletationPortControler* cpc) : m_cpc(cpc) {}

// The manager keeps its processor for the life of the process; one destroyed
// anyway (tests) stops its thread and drops its entries.
TCPIOProcessor::~TCPIOProcessor() {
  if (m_checkThread != nullptr) Destroy();
  ClearTCPSocketItemTable();
  ClearTCPListenTable();
}

void TCPIOProcessor::SetQuickTimer(TzQuickTimer* timer) {
  for (SessionTimer& queue : m_timeoutQueues) {
    queue = SessionTimer(timer, timer ? timer->NextChannelIndex() : 0);
  }
}

// Thread contract: the controlling thread.
bool TCPIOProcessor::Init() {
  {
    plat::MutexLock lk(m_stopMu);
    m_stopSignalled = false;
  }
  m_running.store(1);
  m_firstCheckDue.store(plat::MonotonicMs() + kCheckIntervalMs);
  if (m_checkThread == nullptr) {
    m_checkThread = new (std::nothrow) TzThread(this, nullptr, &TCPIOProcessor::CheckThreadProc);
  }
  if (m_checkThread == nullptr || !m_checkThread->Start()) {
    delete m_checkThread;
    m_checkThread = nullptr;
    m_running.store(0);
    Log::writeError(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::Init SocketItem检测线程无法 启动。");
    return false;
  }
  Log::writeDebug(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::Init 完成初始化。");
  return true;
}

bool TCPIOProcessor::Start() {
  Log::writeDebug(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::Start 开始Start。");
  m_started.store(1);
  Log::writeDebug(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::Start 完成Start。");
  return true;
}

// Thread contract: the controlling thread. Time-outs still pending are
// cleared by the manager, which disables the quick timer first.
bool TCPIOProcessor::Stop() {
  Log::writeDebug(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::Stop 开始Stop。");
  m_started.store(0);
  Log::writeDebug(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::Start 停止TCPProcessorTimer，并ClearAllTImerEvent。");
  Log::writeDebug(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::Stop 开始ClearTCPSocketItemTable。");
  ClearTCPSocketItemTable();
  Log::writeDebug(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::Stop 开始ClearTCPListenTable。");
  ClearTCPListenTable();
  Log::writeDebug(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::Stop 将默认Listen置位。");
  {
    TzAutoLock guard(&m_defaultListenLock);
    m_defaultListenIp = 0;
    m_defaultListenPort = 0;
  }
  Log::writeDebug(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::Stop 完成Stop。");
  return true;
}

// Thread contract: the controlling thread; waits for the check thread.
void TCPIOProcessor::Destroy() {
  Log::writeDebug(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::Destroy 开始Destroy。");
  m_running.store(0);
  {
    plat::MutexLock lk(m_stopMu);
    m_stopSignalled = true;
  }
  m_stopCv.notify_all();
  Log::writeDebug(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::Destroy 等待SocketItem检测线程退出。");
  if (m_checkThread != nullptr) {
    m_checkThread->Wait(plat::kInfinite);
    delete m_checkThread;
    m_checkThread = nullptr;
  }
  Log::writeDebug(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::Destroy 完成Destroy。");
}

size_t TCPIOProcessor::ConnectionCount() {
  SharedRWGuard guard(m_tableLock);
  return m_items.size();
}

TzToken& TCPIOProcessor::CreationToken(uint32_t ip, uint16_t port) {
  const uint64_t key = (static_cast<uint64_t>(port) << 32) | ip;
  return m_creationTokens[key % kCreationTokens];
}

// ---- entries ----------------------------------------------------------------

int TCPIOProcessor::CreateBoundSocket(uint32_t localIp, uint16_t localPort, plat::Socket* out) {
  plat::Socket s = plat::TcpSocket();
  int rc = 0;
  if (s == plat::kInvalidSocket) {
    rc = -2;
  } else if (!plat::SetReuseAddr(s)) {
    std::fputs("Setsockopt fail:\n", stderr);
    rc = -4;
  } else if (!plat::BindSocket(s, plat::MakeAddr(plat::NetToHost32(localIp), localPort))) {
    rc = -2;
  } else {
    plat::SockAddrIn bound{};
    if (!plat::GetSockName(s, &bound)) rc = -3;
  }
  if (rc != 0) {
    Log::writeError(AsynLogCategory, kLogTcpProcessor,
                    "TCPIOProcessor::FindTCPSocketItem CreateSocket 错误[ret=%d lasterror=%d]，传入参数为：\t\t\t\t\t\tsocket = %u \t\t\t\t\t\tlocalIP = %u \t\t\t\t\t\tlocalPort = %u。",
                    rc, plat::LastSocketError(), static_cast<uint32_t>(s), localIp,
                    static_cast<uint32_t>(localPort));
    if (s != plat::kInvalidSocket) plat::CloseSocket(s);
    return rc;
  }
  *out = s;
  return 0;
}

// Binds the entry's socket to the port and sets its options. False when the
// port refuses it (the socket is closed then).
bool TCPIOProcessor::PrepareEntry(TCP_SOCKET_ITEM* item) {
  if (!m_cpc->Associate(item)) {
    item->CloseSocket();
    return false;
  }
  const plat::Socket s = item->m_socket.load();
  plat::SetSocketBuffers(s, kSocketBufferBytes, kSocketBufferBytes);
  plat::SetNoDelay(s);
  item->m_lastUse.store(NowSeconds());
  return true;
}

int TCPIOProcessor::FindTCPSocketItem(uint32_t remoteIp, uint16_t remotePort, uint32_t localIp,
                                      uint16_t localPort, SptrTcpSocketItem* out) {
  if (remoteIp == 0 || remotePort == 0) {
    Log::writeError(AsynLogCategory, kLogTcpProcessor,
                    "TCPIOProcessor::FindTCPSocketItem 传入的remoteIP，remotePort非法\t\t\t\t\t\tremoteIP = %u \t\t\t\t\t\tremotePort = %u。",
                    remoteIp, static_cast<uint32_t>(remotePort));
    return -1;
  }
  TzTokenGuard creation(CreationToken(remoteIp, remotePort));
  {
    SharedRWGuard table(m_tableLock);
    auto it = m_items.find(Key{remoteIp, remotePort});
    if (it != m_items.end()) {
      *out = it->second;
      return 0;
    }
  }
  plat::Socket s = plat::kInvalidSocket;
  if (int rc = CreateBoundSocket(localIp, localPort, &s)) return rc;

  SptrTcpSocketItem item(new TCP_SOCKET_ITEM(s, &m_cpc->Port()));  // pooled: null on exhaustion
  if (!item) {
    plat::CloseSocket(s);
    Log::writeError(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::FindTCPSocketItem 创建sptrItem 失败。");
    return -3;
  }
  item->m_uRemoteIP = remoteIp;
  item->m_uRemotePort = remotePort;
  item->m_uLocalIP = localIp;
  item->m_uLocalPort = localPort;
  item->m_autoConnect = 1;
  if (!PrepareEntry(item.get())) {
    Log::writeError(AsynLogCategory, kLogTcpProcessor, "TCPIOProcessor::FindTCPSocketItem 与完成端口绑定失败。");
    return -4;
  }
  {
    ExclusiveRWGuard table(m_tableLock);
    m_items[Key{remoteIp, remotePort}] = item;
  }
  *out = item;
  return 0;
}

int TCPIOProcessor::AsynConn(const SptrTcpSocketItem& item) {
  bool failed = false;
  {
    TzAutoLock guard(&item->m_lock);
    if (item->m_state == TCP_SOCKET_ERROR) {
      Log::writeError(AsynLogCategory, kLogTcpProcessor,
                      "TCPIOProcessor::AsynConn 对于[SN %u]的SocketItem，状态为TCP_SOCKET_INVALID，不能连接。",
                      item->m_sn);
      return -1;
    }
    if (item->m_state != TCP_SOCKET_CREATED) return 0;
    item->m_state = TCP_SOCKET_CONNECTING;
    const plat::SockAddrIn peer =
        plat::MakeAddr(plat::NetToHost32(item->m_uRemoteIP), item->m_uRemotePort);
    failed = !m_cpc->Connect(item.get(), &peer);
    item->m_lastUse.store(NowSeconds());
    if (failed) {
      Log::writeError(AsynLogCategory, kLogTcpProcessor,
                      "TCPIOProcessor::AsynConn 对于[SN %u]的SocketItem，Connect 失败,错误代码为 %d。",
                      item->m_sn, plat::LastSocketError());
    }
  }
  if (!failed) return 0;
  DeleteItem(item, TcpDelete_Connect);
  return -1;
}

// Idempotent: a second deletion finds the entry failed, its queue empty and
// its socket closed.
void TCPIOProcessor::DeleteItem(const SptrTcpSocketItem& item, int16_t reason) {
  TCPIOData* chain = nullptr;
  {
    TzAutoLock guard(&item->m_lock);
    item->m_state = TCP_SOCKET_ERROR;
    chain = item->TakeAll();
  }
  item->CloseSocket();
  {
    ExclusiveRWGuard table(m_tableLock);
    auto it = m_items.find(Key{item->m_uRemoteIP, item->m_uRemotePort});
    if (it != m_items.end() && it->second.get() == item.get()) m_items.erase(it);
  }
  while (TCPIOData* d = chain) {
    chain = d->next;
    // Only this thread knows the chain now, so the flag needs no lock.
    if (d->receiptGiven == 0 && d->context && d->context->WantsReceipt(false)) PostReceipt(d, reason);
    delete d;
  }
}

void TCPIOProcessor::ClearTCPSocketItemTable() {
  std::vector<SptrTcpSocketItem> all;
  {
    SharedRWGuard table(m_tableLock);
    for (auto& entry : m_items) all.push_back(entry.second);
  }
  for (const SptrTcpSocketItem& item : all) DeleteItem(item, TcpDelete_Socket);
}

void TCPIOProcessor::ClearTCPListenTable() {
  ItemMap listens;
  {
    ExclusiveRWGuard guard(m_listenLock);
    listens.swap(m_listens);
  }
  for (auto& entry : listens) entry.second->CloseSocket();
}

// ---- the check thread --------------------------------------------------------

void TCPIOProcessor::CheckThreadProc(void* owner, void* /*arg*/) {
  TCPIOProcessor* self = static_cast<TCPIOProcessor*>(owner);
  // Passes keep to a fixed schedule counted from Init (not from when this
  // thread got going), so a clock moved on by several periods catches up
  // with one pass per period.
  int64_t due = self->m_firstCheckDue.load();
  while (self->m_running.load() != 0 && self->WaitCheckDue(due)) {
    self->CheckSocketItems();
    due += kCheckIntervalMs;
  }
}

// The deadline is absolute and the clock is re-read under the mutex after
// every wake-up, so a clock step made at any moment is seen.
bool TCPIOProcessor::WaitCheckDue(int64_t dueMs) {
  plat::ClockWaitScope scope(m_stopMu.Native(), m_stopCv);
  plat::MutexLock lk(m_stopMu);
  for (;;) {
    if (m_stopSignalled) return false;
    const int64_t left = dueMs - plat::MonotonicMs();
    if (left <= 0) return true;
    lk.WaitFor(m_stopCv, std::chrono::milliseconds(left));
  }
}

// Idle entries are deleted; an entry stuck on one frame has its socket
// closed, and its failing operations then delete it.
void TCPIOProcessor::CheckSocketItems() {
  const uint32_t now = NowSeconds();
  std::vector<SptrTcpSocketItem> idle;
  std::vector<SptrTcpSocketItem> stuck;
  {
    SharedRWGuard table(m_tableLock);
    for (auto& entry : m_items) {
      TCP_SOCKET_ITEM* item = entry.second.get();
      TzAutoLock guard(&item->m_lock);
      if (item->m_state == TCP_SOCKET_SENDING) {
        if (static_cast<int32_t>(now - item->m_sendStart) >= kStuckSendSeconds) stuck.push_back(entry.second);
      } else if (static_cast<int32_t>(now - item->m_lastUse.load()) >= kIdleSeconds) {
        idle.push_back(entry.second);
      }
    }
  }
  for (const SptrTcpSocketItem& item : idle) DeleteItem(item, TcpDelete_Socket);
  for (const SptrTcpSocketItem& item : stuck) item->CloseSocket();
  m_checkPasses.fetch_add(1);
}

}  // namespace AsynModel
