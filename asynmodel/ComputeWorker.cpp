#include "asynmodel/ComputeWorker.h"

#include <mutex>
#include <new>
#include <vector>

#include "asynmodel/AsynLog.h"
#include "asynmodel/AsynManager.h"
#include "asynmodel/CompletationPortControler.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/Session.h"
#include "asynmodel/net/LocalSender.h"
#include "asynmodel/net/Msg.h"
#include "asynmodel/net/SocketItem.h"
#include "asynmodel/net/TCPIOData.h"
#include "asynmodel/net/TCPIOProcessor.h"
#include "asynmodel/net/UDPIOData.h"
#include "asynmodel/net/UDPIOProcess.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "tzhelper/TzThread.h"

namespace AsynModel {

namespace {

std::atomic<uint32_t> g_exitRecordsTaken{0};
std::atomic<uint32_t> g_parked{0};

// Result codes of the processors' completion handlers.
constexpr int kDeliverReceipt = 0;
constexpr int kDeliverMessage = 1;
constexpr int kHandled = 2;

// How long ForceStop lets one wake-up work before it sends another.
constexpr int kWakeChecks = 50;
constexpr uint32_t kWakeCheckMs = 2;
constexpr int kWakeRounds = 1000;

// Spins this many yields for a thread that is about to end before falling
// back to TzThread::Wait, which sleeps in 100 ms steps.
constexpr int kExitSpins = 10000;

// A receipt without a target session goes to the session that sent the
// message (its Msg's srcSid); a message event to the Msg's destination.
uint32_t ReceiptDestination(const Event& ev) {
  if (ev.kind == SendResultEvent && ev.context() != nullptr) return ev.context()->m_msg.srcSid;
  if (ev.kind == MsgEvent && ev.msg() != nullptr) return ev.msg()->destSid;
  return ev.destSid;
}

}  // namespace

ComputeWorker::ComputeWorker() = default;

ComputeWorker::~ComputeWorker() { delete m_thread; }

uint32_t ComputeWorker::ExitRecordsTaken() { return g_exitRecordsTaken.load(); }

bool ComputeWorker::Run() {
  if (m_thread != nullptr) return m_thread->IsRunning() || m_thread->Start();
  m_thread = new (std::nothrow) TzThread(this, nullptr, &ComputeWorker::Loop);
  if (m_thread == nullptr) return false;
  m_running.store(1);
  m_exitTaken.store(0);
  if (!m_thread->Start()) {
    delete m_thread;
    m_thread = nullptr;
    return false;
  }
  return true;
}

uint32_t ComputeWorker::ThreadId() const { return m_thread != nullptr ? m_thread->ThreadId() : 0; }

bool ComputeWorker::IsLive() const {
  return m_thread != nullptr && m_thread->ThreadId() != 0 && m_exitTaken.load() == 0;
}

bool ComputeWorker::ForceStop() {
  m_running.store(0);
  if (m_thread == nullptr) return true;
  AsynManager* mgr = AsynManager::GetInstanceIfExists();
  CompletationPortControler* cpc = mgr != nullptr ? mgr->GetCompletionPort() : nullptr;
  // Each wake-up is a notification for session id 0, which no session has:
  // whichever worker takes it drops it. Only a worker whose flag is clear
  // then leaves its loop, so wake-ups go on until this one has.
  for (int round = 0; round < kWakeRounds && m_thread->IsRunning(); ++round) {
    if (cpc != nullptr) cpc->PostLocalEvent(Event::Make(0, NotifyEvent, plat::NowMs()), nullptr, nullptr);
    for (int i = 0; i < kWakeChecks && m_thread->IsRunning(); ++i) plat::SleepMs(kWakeCheckMs);
  }
  if (m_thread->IsRunning()) return false;  // still blocked: its wrapper must outlive it
  delete m_thread;
  m_thread = nullptr;
  return true;
}

void ComputeWorker::Dispose(ComputeWorker* worker) {
  if (worker == nullptr) return;
  if (worker->m_thread == nullptr || !worker->m_thread->IsRunning()) {
    delete worker;
    return;
  }
  // Reachable from a static, so leak checkers see it as kept on purpose.
  static std::vector<ComputeWorker*>* parked = new std::vector<ComputeWorker*>();
  static std::mutex parkedLock;
  std::lock_guard<std::mutex> g(parkedLock);
  try {
    parked->push_back(worker);
  } catch (...) {
    // Without room to note it the worker is still not freed.
  }
  g_parked.fetch_add(1);
  Log::writeError(AsynLogCategory, kLogAsynManager, "ComputeWorker 线程未能退出，保留其对象直到进程结束。");
}

uint32_t ComputeWorker::ParkedCount() { return g_parked.load(); }

void ComputeWorker::WaitForExit() {
  if (m_thread == nullptr) return;
  for (int i = 0; i < kExitSpins && m_thread->IsRunning(); ++i) plat::YieldThread();
  if (m_thread->IsRunning()) m_thread->Wait(0xFFFFFFFFu);
}

void ComputeWorker::Loop(void* owner, void* /*arg*/) { static_cast<ComputeWorker*>(owner)->RunLoop(); }

void ComputeWorker::RunLoop() {
  AsynManager* mgr = AsynManager::GetInstance();
  if (mgr == nullptr || mgr->GetCompletionPort() == nullptr || mgr->GetTCPProcessor() == nullptr ||
      mgr->GetUDPProcessor() == nullptr || mgr->GetSessionMap() == nullptr || m_running.load() == 0) {
    return;
  }
  CompletationPortControler* cpc = mgr->GetCompletionPort();
  for (;;) {
    SOCKET_ITEM* key = nullptr;
    PerIO* perio = nullptr;
    const bool ok = cpc->GetCompletion(&key, &perio);
    // The completed operation's reference to its item is now this worker's.
    SptrSocketItem item = SptrSocketItem::Adopt(key);
    if (!ok && perio == nullptr) return;  // the port was closed

    if (perio != nullptr) {
      switch (perio->kind) {
        case PerIO_UDP:
        case PerIO_TCP:
          HandleSocketCompletion(key, ok, perio);
          break;
        case PerIO_Local:
          if (HandleLocalEvent(static_cast<LocalEventIOData*>(perio))) return;
          break;
        default:
          // No such record is made in this system; its real type is unknown,
          // so it cannot be freed safely and is left alone.
          break;
      }
    }
    item.reset();
    if (m_running.load() == 0) return;
  }
}

// Ownership: see the header. The sender the handler made is dropped here.
void ComputeWorker::HandleSocketCompletion(SOCKET_ITEM* item, bool ok, PerIO* perio) {
  AsynManager* mgr = AsynManager::GetInstance();
  Event ev;
  SptrISender sender;
  const bool udp = perio->kind == PerIO_UDP;
  IOProcessor* proc = nullptr;
  int rc;
  if (udp) {
    UDPIOProcess* p = mgr->GetUDPProcessor();
    proc = p;
    rc = p->UDPProc(item, ok, static_cast<UDPIOData*>(perio), &ev, &sender);
  } else {
    TCPIOProcessor* p = mgr->GetTCPProcessor();
    proc = p;
    rc = p->TCPProc(item, ok, perio, &ev, &sender);
  }
  if (rc != kDeliverReceipt && rc != kDeliverMessage) {
    sender.reset();
    return;  // kHandled: the processor has the record
  }

  if (rc == kDeliverReceipt) {
    SptrSession dest = perio->targetSession;
    if (!dest) dest = mgr->FindSession(ReceiptDestination(ev));
    if (dest) {
      dest->OnEventArrived(ev, sender);
    } else {
      ReleaseEventResources(&ev);
    }
  } else {
    proc->DeliverEvent(sender, ev, item);
  }
  if (udp) {
    delete static_cast<UDPIOData*>(perio);
  } else {
    delete static_cast<TCPIOData*>(perio);
  }
  sender.reset();
}

bool ComputeWorker::HandleLocalEvent(LocalEventIOData* rec) {
  if (rec->event.kind == ThreadExitEvent) {
    delete rec;
    g_exitRecordsTaken.fetch_add(1);
    // Stop counting as live first: the next worker must not count this one
    // when it decides whether to pass the exit on again.
    m_exitTaken.store(1);
    AsynManager* mgr = AsynManager::GetInstanceIfExists();
    if (mgr != nullptr) mgr->GetCompletionPort()->PostThreadExitEvent(0);
    return true;
  }

  SptrISender sender;
  if (rec->event.kind == MsgEvent) {
    LocalSender* local = new LocalSender(rec->dest.get(), rec->source.get());  // pooled: may be null
    if (local != nullptr) sender = SptrISender(local);
  }
  if (!rec->dest) {
    AsynManager* mgr = AsynManager::GetInstance();
    if (mgr != nullptr) rec->dest = mgr->FindSession(rec->event.destSid);
  }
  if (rec->dest) {
    rec->dest->OnEventArrived(rec->event, sender);
  } else {
    ReleaseEventResources(&rec->event);
  }
  delete rec;  // drops its session references
  sender.reset();
  return false;
}

}  // namespace AsynModel
