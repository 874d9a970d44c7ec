// Sorted-list timers on their own thread, woken by a due time, a wake event
// (a new earliest timer) or an exit event. Used by the relay heartbeat.
#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "tzhelper/Tzautolock.h"

namespace plat { class Event; }
class TzThread;

class TzCustomTimerEx {
 public:
  typedef void (*Callback)(void* owner, uint32_t reserved, void* arg);
  typedef uint32_t (*ListSelector)(uint32_t delayMs);

  explicit TzCustomTimerEx(uint32_t listCount = 1, ListSelector selector = nullptr);
  ~TzCustomTimerEx();  // sets the exit event and waits for the thread
  TzCustomTimerEx(const TzCustomTimerEx&) = delete;
  TzCustomTimerEx& operator=(const TzCustomTimerEx&) = delete;

  bool Start();
  // False for a null owner or callback, a stopped thread, or a selector
  // answer out of range. Timers of equal due time fire in insertion order.
  bool SetTimer(uint32_t delayMs, void* owner, Callback callback, void* arg);
  void Stop();

 private:
  struct Entry { int64_t due; void* owner; Callback callback; void* arg; };
  static void TimerThread(void* owner, void* arg);
  void TimeDueProc();
  int64_t NextWakeMs();  // delay until the next due, -1 for none

  TzThread* m_thread = nullptr;
  std::vector<std::vector<Entry>> m_lists;
  TzLock m_lock{true};
  int64_t m_earliestDue;
  plat::Event* m_wakeEvent;
  plat::Event* m_exitEvent;
  ListSelector m_selector;
  std::atomic<bool> m_running{false};
};
