#include "tzhelper/TzCustomTimerEx.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>

#include "platform/clock.h"
#include "platform/sync.h"
#include "tzhelper/TzThread.h"

namespace {
constexpr int64_t kNoDue = std::numeric_limits<int64_t>::max();
}

TzCustomTimerEx::TzCustomTimerEx(uint32_t listCount, ListSelector selector)
    : m_earliestDue(kNoDue), m_selector(selector) {
  try {
    m_lists.resize(listCount == 0 ? 1 : listCount);
  } catch (...) {
    m_lists.clear();  // Start refuses an object without lists
  }
  m_wakeEvent = new (std::nothrow) plat::Event(false, false);
  m_exitEvent = new (std::nothrow) plat::Event(true, false);
}

TzCustomTimerEx::~TzCustomTimerEx() {
  Stop();
  delete m_thread;
  delete m_wakeEvent;
  delete m_exitEvent;
}

bool TzCustomTimerEx::Start() {
  if (m_wakeEvent == nullptr || m_exitEvent == nullptr || m_lists.empty()) return false;
  if (m_thread == nullptr) {
    m_thread = new (std::nothrow) TzThread(this, nullptr, &TzCustomTimerEx::TimerThread);
    if (m_thread == nullptr) return false;
  }
  if (m_thread->IsRunning()) return true;
  m_exitEvent->Reset();  // a restart after Stop
  return m_thread->Start();
}

void TzCustomTimerEx::Stop() {
  if (m_exitEvent != nullptr) m_exitEvent->Set();
  if (m_thread != nullptr && m_thread->IsRunning()) m_thread->Wait(plat::kInfinite);
}

bool TzCustomTimerEx::SetTimer(uint32_t delayMs, void* owner, Callback callback, void* arg) {
  if (owner == nullptr || callback == nullptr) return false;
  if (m_thread == nullptr || !m_thread->IsRunning()) return false;
  TzAutoLock guard(&m_lock);
  const uint32_t index = m_selector != nullptr ? m_selector(delayMs) : 0;
  if (index >= m_lists.size()) return false;
  const Entry entry{plat::NowMs() + static_cast<int64_t>(delayMs), owner, callback, arg};
  std::vector<Entry>& list = m_lists[index];
  // After every entry of the same due time, so equal timers keep their order.
  auto pos = std::upper_bound(list.begin(), list.end(), entry.due,
                              [](int64_t due, const Entry& e) { return due < e.due; });
  try {
    list.insert(pos, entry);
  } catch (...) {
    return false;
  }
  // The thread sleeps until the recorded earliest due; an earlier timer must
  // cut that sleep short.
  if (entry.due < m_earliestDue) m_wakeEvent->Set();
  return true;
}

int64_t TzCustomTimerEx::NextWakeMs() {
  TzAutoLock guard(&m_lock);
  // Computed now, under the lock, from every list: a wake-up asked for before
  // this point is already accounted for.
  m_wakeEvent->Reset();
  const int64_t now = plat::NowMs();
  int64_t earliest = kNoDue;
  bool any = false;
  for (const std::vector<Entry>& list : m_lists) {
    if (list.empty()) continue;
    any = true;
    const int64_t head = list.front().due;
    if (head <= now) return 0;
    earliest = std::min(earliest, head);
  }
  if (!any) {
    m_earliestDue = kNoDue;
    return -1;
  }
  m_earliestDue = earliest;
  return earliest - now;
}

void TzCustomTimerEx::TimerThread(void* owner, void* /*arg*/) {
  TzCustomTimerEx* self = static_cast<TzCustomTimerEx*>(owner);
  // The waitable timer is the timeout of the wait below, measured on the
  // virtual clock so that tests can move time instead of sleeping.
  plat::Event* const events[2] = {self->m_wakeEvent, self->m_exitEvent};
  for (;;) {
    const int64_t waitMs = self->NextWakeMs();
    uint32_t timeout;
    if (waitMs < 0) {
      timeout = plat::kInfinite;
    } else if (waitMs >= static_cast<int64_t>(plat::kInfinite)) {
      timeout = plat::kInfinite - 1;  // very far, but not "never"
    } else {
      timeout = static_cast<uint32_t>(waitMs);
    }
    const int r = plat::WaitAny(events, 2, timeout);
    if (r == -1) {
      self->TimeDueProc();
    } else if (r != 0) {
      return;  // exit event, or a failed wait
    }
  }
}

void TzCustomTimerEx::TimeDueProc() {
  const int64_t now = plat::NowMs();
  Entry batch[kBatch];
  size_t index = 0;
  while (index < m_lists.size()) {
    uint32_t n = 0;
    {
      TzAutoLock guard(&m_lock);
      std::vector<Entry>& list = m_lists[index];
      while (n < kBatch && n < list.size() && list[n].due <= now) {
        batch[n] = list[n];
        ++n;
      }
      list.erase(list.begin(), list.begin() + n);
    }
    // Outside the lock: a callback may set its next timer.
    for (uint32_t i = 0; i < n; ++i) {
      const Entry& e = batch[i];
      if (e.owner == nullptr || e.callback == nullptr) continue;
      try {
        e.callback(e.owner, 0, e.arg);
      } catch (...) {
        std::printf("%s %d %s\r\n", "TzCustomTimerEx<TimerOwner>::TimeDueProc()", 342,
                    "unknown exception");
        std::fflush(stdout);
      }
    }
    if (n < kBatch) ++index;  // a full batch may have left more due entries
  }
}
