// Sorted-list timers on their own thread, woken by a due time, a wake event
// (a new earliest timer) or an exit event. Used by the relay heartbeat.
// Callbacks run on the timer's thread, outside its lock, so they may set new
// timers on the same object.
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

  // listCount is raised to 1 at least. The thread starts with Start.
  explicit TzCustomTimerEx(uint32_t listCount = 1, ListSelector selector = nullptr);
  // Stops the thread. Must not run on the timer's own thread (a callback).
  ~TzCustomTimerEx();
  TzCustomTimerEx(const TzCustomTimerEx&) = delete;
  TzCustomTimerEx& operator=(const TzCustomTimerEx&) = delete;

  // Starts the thread; true also when it already runs. Any thread.
  bool Start();
  // Calls callback(owner, 0, arg) once on the timer's thread after delayMs.
  // False for a null owner or callback, a thread that is not running, a
  // selector answer out of range, or no memory; nothing is queued then.
  // Timers of equal due time fire in insertion order. Any thread, including
  // a callback.
  bool SetTimer(uint32_t delayMs, void* owner, Callback callback, void* arg);
  // Sets the exit event and waits for the thread; timers still queued never
  // fire. Not from the timer's own thread.
  void Stop();

 private:
  struct Entry { int64_t due; void* owner; Callback callback; void* arg; };
  static constexpr uint32_t kBatch = 100;
  static void TimerThread(void* owner, void* arg);
  void TimeDueProc();
  int64_t NextWakeMs();  // delay until the next due, -1 for none

  TzThread* m_thread = nullptr;
  std::vector<std::vector<Entry>> m_lists;  // each ascending by due; under m_lock
  TzLock m_lock{true};
  int64_t m_earliestDue;                    // under m_lock
  plat::Event* m_wakeEvent = nullptr;       // auto-reset
  plat::Event* m_exitEvent = nullptr;       // manual-reset
  ListSelector m_selector;
};
