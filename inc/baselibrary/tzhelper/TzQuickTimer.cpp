#include "tzhelper/TzQuickTimer.h"

#include <cstdio>
#include <new>

#include "platform/clock.h"
#include "platform/sync.h"
#include "tzhelper/TzMemAlloc.h"
#include "tzhelper/TzThread.h"

namespace {

// Entries are recycled through the class's free list: an armed timer takes
// one without a lock or a trip to the heap once the pool is warm.
typedef TzMemAlloc<TimerEntry, TzListMemAllocMethod> TimerEntryAlloc;

// Timer callbacks run on the timer thread inside someone else's process: what
// they throw is reported where a developer will see it and swallowed, so that
// one bad callback never ends the thread or loses the other entries.
void PrintException(const char* where, int number) {
  std::printf("%s %d %s\r\n", where, number, "unknown exception");
  std::fflush(stdout);
}

}  // namespace

// ---- TimerEntry -----------------------------------------------------------

TimerEntry* TimerEntry::New() {
  void* p = TimerEntryAlloc::Allocate(sizeof(TimerEntry));
  if (p == nullptr) return nullptr;
  return new (p) TimerEntry{};
}

void TimerEntry::Delete(TimerEntry* e) {
  if (e == nullptr) return;
  e->~TimerEntry();
  TimerEntryAlloc::Free(e, sizeof(TimerEntry));
}

void TzQuickTimerDispatch(uint16_t cancelled, TimerEntry* e) {
  if (e == nullptr) return;
  try {
    if (e->callback != nullptr) e->callback(e->owner, cancelled, e->record);
  } catch (...) {
    PrintException("TzQuickTimerQueue<TimerOwner>::TimeDueProc()", 452);
  }
  TimerEntry::Delete(e);
}

// ---- lists ----------------------------------------------------------------

void TzQuickTimer::List::PushBack(TimerEntry* e) {
  e->next = nullptr;
  if (tail != nullptr) tail->next = e; else head = e;
  tail = e;
  ++count;
}

void TzQuickTimer::List::PushFront(TimerEntry* e) {
  e->next = head;
  head = e;
  if (tail == nullptr) tail = e;
  ++count;
}

TimerEntry* TzQuickTimer::List::TakeAll() {
  TimerEntry* e = head;
  head = tail = nullptr;
  count = 0;
  return e;
}

// Fires a detached chain in order. Each entry is freed by its dispatch
// function, so the link is read before the call.
void TzQuickTimer::FireChain(TimerEntry* e, uint16_t cancelled, const char* where, int number) {
  while (e != nullptr) {
    TimerEntry* next = e->next;
    e->next = nullptr;
    TimerDispatchFn dispatch = e->dispatch != nullptr ? e->dispatch : &TzQuickTimerDispatch;
    try {
      dispatch(cancelled, e);
    } catch (...) {
      PrintException(where, number);
    }
    e = next;
  }
}

// ---- life cycle -----------------------------------------------------------

TzQuickTimer::TzQuickTimer() = default;

TzQuickTimer* TzQuickTimer::Create() {
  TzQuickTimer* t = new (std::nothrow) TzQuickTimer();
  if (t == nullptr) return nullptr;
  if (!t->Init()) {
    delete t;
    return nullptr;
  }
  return t;
}

bool TzQuickTimer::Init() {
  m_incoming = new (std::nothrow) List[kChannels];
  m_incomingLocks = new (std::nothrow) TzLock[kChannels];
  m_incomingPending = new (std::nothrow) std::atomic<bool>[kChannels]();
  m_wheel = new (std::nothrow) List[kSlots];
  if (m_incoming == nullptr || m_incomingLocks == nullptr || m_incomingPending == nullptr || m_wheel == nullptr) {
    return false;
  }
  m_thread = new (std::nothrow) TzThread(this, nullptr, &TzQuickTimer::TimerProc);
  if (m_thread == nullptr) return false;
  return m_thread->Start();
}

TzQuickTimer::~TzQuickTimer() {
  {
    TzAutoLock guard(&m_timerLock, true);
    m_running = 0;
    m_destroy = 1;
  }
  // The thread's last pass finds running clear and cancels what is left in
  // the wheel and the far list before it sees the destroy flag.
  if (m_thread != nullptr && m_thread->IsRunning()) m_thread->Wait(plat::kInfinite);
  ClearAllTimerEvent();
  // Nothing should remain once the thread has made its last pass; a thread
  // that never started leaves nothing either. Cancel anything left all the
  // same rather than leak an owner's record.
  if (m_wheel != nullptr) {
    for (uint32_t i = 0; i < kSlots; ++i) FireSlot(i, 1, 228);
  }
  FireChain(m_far.TakeAll(), 1, "TzQuickTimer::TimeDueProc()", 193);
  delete[] m_wheel;
  delete[] m_incomingPending;
  delete[] m_incomingLocks;
  delete[] m_incoming;
  delete m_thread;
}

// ---- control --------------------------------------------------------------

bool TzQuickTimer::Enable() {
  TzAutoLock guard(&m_timerLock, true);
  if (m_running.load() != 0 || m_incoming == nullptr || m_incomingLocks == nullptr ||
      m_wheel == nullptr) {
    return false;
  }
  m_running = 1;
  return true;
}

void TzQuickTimer::Disable() {
  TzAutoLock guard(&m_timerLock, true);
  if (m_running.load() == 0) return;
  m_running = 0;
  ClearAllTimerEvent();
}

// Only the channel's lock is taken. Disable clears the running flag before it
// locks and empties each channel, so an adder either sees the flag cleared
// under the channel lock and is refused, or gets in first and has its entry
// cancelled by that emptying; no entry is left behind in either order.
bool TzQuickTimer::AddTimer(uint32_t channelIndex, TimerEntry* entry) {
  if (entry == nullptr || channelIndex >= kChannels) return false;
  TzAutoLock listGuard(&m_incomingLocks[channelIndex]);
  if (m_running.load() == 0) return false;
  m_incoming[channelIndex].PushBack(entry);  // the timer owns it from here
  m_incomingPending[channelIndex].store(true, std::memory_order_release);
  return true;
}

uint32_t TzQuickTimer::NextChannelIndex() { return m_channelCounter.fetch_add(1) % kChannels; }

void TzQuickTimer::ClearAllTimerEvent() {
  if (m_incoming == nullptr || m_incomingLocks == nullptr || m_incomingPending == nullptr) return;
  for (uint32_t ch = 0; ch < kChannels; ++ch) {
    TimerEntry* chain;
    {
      TzAutoLock listGuard(&m_incomingLocks[ch]);
      chain = m_incoming[ch].TakeAll();
      m_incomingPending[ch].store(false, std::memory_order_relaxed);
    }
    // The running flag is already clear (or the timer is being destroyed),
    // so adders are refused under the list lock: firing after releasing it
    // changes nothing for them and keeps a slow callback from holding it.
    FireChain(chain, 1, "TzQuickTimer::ClearAllTimerEvent()", 378);
  }
}

// ---- the timer thread -----------------------------------------------------

void TzQuickTimer::TimerProc(void* owner, void* /*arg*/) {
  TzQuickTimer* self = static_cast<TzQuickTimer*>(owner);
  self->m_curSlot = 0;
  self->m_earliestFarDue = ~0ull;
  for (;;) {
    const int64_t passStart = plat::MonotonicMs();
    self->m_timerLock.LockShared();
    if (!self->m_suspended.load() || self->m_destroy.load() != 0) {
      self->TimeDueProc(plat::NowMs());
    }
    if (self->m_destroy.load() != 0) {
      std::printf("TzQuickTimer::TimerProc:receive a destory msg and exit ,%s\r\n",
                  self->m_running.load() != 0 ? "true" : "false");
      std::fflush(stdout);
      self->m_timerLock.UnlockShared();
      return;
    }
    self->m_timerLock.UnlockShared();
    // One step after the pass began, on the virtual clock: a test moving time
    // forward wakes the thread at once, also when it moved during the pass,
    // and the next pass catches up on every step it skipped.
    const int64_t left = passStart + static_cast<int64_t>(kTickMs) - plat::MonotonicMs();
    plat::SleepMs(left > 0 ? static_cast<uint32_t>(left) : 0);
  }
}

void TzQuickTimer::TimeDueProc(int64_t now) {
  m_prevPassNow = m_passNow.load();
  m_passNow = now;
  if (m_baseTime == 0) m_baseTime = now - now % static_cast<int64_t>(kTickMs);

  RemoveFromSortList(now);
  List due;
  DistributeNewTimers(now, &due);
  ProcessFarList(now, &due);

  const uint16_t cancelled = m_running.load() != 0 ? 0 : 1;
  FireChain(due.TakeAll(), cancelled, "TzQuickTimer::TimeDueProc()", 193);
  m_passCount.fetch_add(1);
}

void TzQuickTimer::RemoveFromSortList(int64_t now) {
  // The current slot holds entries due in [base, base + 15). It may fire only
  // once that whole step lies in the past, so ticks counts the whole steps
  // since base and may be 0; firing it on every pass instead would deliver
  // entries up to a step early and let base fall a further step behind the
  // clock. If the clock has stepped back behind base, keep turning one step
  // a pass rather than stall every timer until the clock catches up.
  int64_t ticks;
  if (now >= m_baseTime) {
    ticks = (now - m_baseTime) / static_cast<int64_t>(kTickMs);
  } else {
    ticks = 1;
  }

  if (m_wheelCount == 0) {
    // Nothing on the wheel: only the slot index and base move.
  } else if (m_running.load() != 0) {
    // After one full turn every slot has been emptied (new entries arrive
    // only after this step), so a long jump of the clock visits each slot
    // once; the slot index and base still move by the whole jump.
    const int64_t visits = ticks < static_cast<int64_t>(kSlots) ? ticks : kSlots;
    for (int64_t i = 0; i < visits && m_wheelCount != 0; ++i) {
      FireSlot((m_curSlot + static_cast<uint32_t>(i)) % kSlots, 0, 254);
    }
  } else {
    for (uint32_t i = 0; i < kSlots && m_wheelCount != 0; ++i) {
      FireSlot((m_curSlot + i) % kSlots, 1, 228);
    }
  }
  m_curSlot = static_cast<uint32_t>((m_curSlot + static_cast<uint64_t>(ticks) % kSlots) % kSlots);
  m_baseTime += ticks * static_cast<int64_t>(kTickMs);
}

void TzQuickTimer::FireSlot(uint32_t index, uint16_t cancelled, int number) {
  List& slot = m_wheel[index];
  m_wheelCount -= slot.count;
  FireChain(slot.TakeAll(), cancelled, "TzQuickTimer::RemoveFromSortList()", number);
}

void TzQuickTimer::DistributeNewTimers(int64_t now, List* due) {
  const bool running = m_running.load() != 0;
  for (uint32_t ch = 0; ch < kChannels; ++ch) {
    // A channel nobody added to since the last pass is not locked at all.
    // An entry added while the flag is read waits for the next pass, as if
    // it had come a moment later.
    if (!m_incomingPending[ch].load(std::memory_order_acquire)) continue;
    TimerEntry* e;
    {
      // The whole chain is taken at once, so an adder on this channel waits
      // for two stores, never for the distribution.
      TzAutoLock listGuard(&m_incomingLocks[ch]);
      m_incomingPending[ch].store(false, std::memory_order_relaxed);
      e = m_incoming[ch].TakeAll();
    }
    while (e != nullptr) {
      TimerEntry* next = e->next;
      if (!running || e->due <= now) {
        due->PushBack(e);
      } else {
        Place(e);
      }
      e = next;
    }
  }
}

// Puts an entry due after now on the wheel or the far list.
void TzQuickTimer::Place(TimerEntry* e) {
  if (e->due <= m_baseTime) {
    m_wheel[m_curSlot].PushBack(e);  // now < due <= base
    ++m_wheelCount;
    return;
  }
  const int64_t delta = e->due - m_baseTime;
  if (delta >= kFarMs) {
    if (static_cast<uint64_t>(e->due) < m_earliestFarDue) {
      m_far.PushFront(e);
      m_earliestFarDue = static_cast<uint64_t>(e->due);
    } else {
      m_far.PushBack(e);
    }
    return;
  }
  m_wheel[(m_curSlot + static_cast<uint32_t>(delta / kTickMs)) % kSlots].PushBack(e);
  ++m_wheelCount;
}

void TzQuickTimer::ProcessFarList(int64_t now, List* due) {
  const bool running = m_running.load() != 0;
  if (running && m_earliestFarDue > static_cast<uint64_t>(now)) return;
  // The earliest due is only lowered by new heads, never raised by a walk:
  // once an entry has fired it stays in the past and the list is walked on
  // every pass, each entry firing on the first pass within one step of its
  // due time.
  TimerEntry* e = m_far.TakeAll();
  while (e != nullptr) {
    TimerEntry* next = e->next;
    if (running && e->due >= now + static_cast<int64_t>(kTickMs)) {
      m_far.PushBack(e);
    } else {
      due->PushBack(e);
      m_earliestFarDue = static_cast<uint64_t>(e->due);
    }
    e = next;
  }
  if (!running) m_earliestFarDue = ~0ull;
}

// ---- test accessors -------------------------------------------------------

TzQuickTimer::Census TzQuickTimer::CensusForTest() {
  TzAutoLock guard(&m_timerLock, true);
  Census c{0, 0, 0};
  for (uint32_t ch = 0; ch < kChannels; ++ch) {
    TzAutoLock listGuard(&m_incomingLocks[ch]);
    c.incoming += m_incoming[ch].count;
  }
  for (uint32_t i = 0; i < kSlots; ++i) c.wheel += m_wheel[i].count;
  c.far = m_far.count;
  return c;
}

void TzQuickTimer::SuspendPassesForTest(bool suspend) {
  TzAutoLock guard(&m_timerLock, true);
  m_suspended = suspend;
}

void TzQuickTimer::RunPassForTest(int64_t now) {
  TzAutoLock guard(&m_timerLock, true);
  TimeDueProc(now);
}

int64_t TzQuickTimer::BaseTimeForTest() {
  TzAutoLock guard(&m_timerLock, true);
  return m_baseTime;
}
