// The quick timer: a 15 ms timing wheel of 2000 slots with a far list for
// timers due 30 s or more ahead, driven by its own thread. New timers enter
// through 100 separately locked incoming lists (one per channel), so adding
// never waits for a pass. Disabling delivers every pending timer once with
// the cancel flag set.
#pragma once
#include <atomic>
#include <cstdint>

#include "tzhelper/TzRefCounter.h"
#include "tzhelper/Tzautolock.h"

class TzThread;
struct TimerEntry;

// Called as dispatch(cancelled, entry); it runs the owner's callback and frees
// the entry.
typedef void (*TimerDispatchFn)(uint16_t cancelled, TimerEntry* entry);
typedef void (*TimerCallbackFn)(void* owner, uint16_t cancelled, void* record);

struct TimerEntry {
  int64_t due;               // framework clock, ms
  TimerDispatchFn dispatch;  // TzQuickTimerQueue<Owner>::TimeDueProc
  void* owner;
  TimerCallbackFn callback;  // the owner's member callback, through a thunk
  void* record;
  TimerEntry* next;          // list link inside the timer

  static TimerEntry* New();  // from the entries' private heap; null on failure
  static void Delete(TimerEntry* e);
};

class TzQuickTimer : public TzRefCounterBase<TzQuickTimer> {
 public:
  static constexpr uint32_t kSlots = 2000;
  static constexpr uint32_t kTickMs = 15;
  static constexpr uint32_t kChannels = 100;
  static constexpr int64_t kFarMs = 30000;

  // Starts the timer thread; the timer is disabled until Enable.
  static TzQuickTimer* Create();  // null on failure

  bool Enable();
  void Disable();
  // Hands the entry to the timer (true) or leaves it to the caller (false:
  // disabled, or channel index out of range). Safe from any thread.
  bool AddTimer(uint32_t channelIndex, TimerEntry* entry);
  uint32_t NextChannelIndex();  // channel counter mod 100
  bool IsRunning() const;
  void ClearAllTimerEvent();

  // One pass of the timer thread (exposed for tests).
  void TimeDueProc();

 private:
  TzQuickTimer();
  ~TzQuickTimer() override;
  friend class TzRefCounterBase<TzQuickTimer>;
  static void TimerProc(void* owner, void* arg);
  void RemoveFromSortList(int64_t now, TimerEntry** dueHead, TimerEntry** dueTail);
  void DistributeNewTimers(int64_t now, TimerEntry** dueHead, TimerEntry** dueTail);
  void ProcessFarList(int64_t now, TimerEntry** dueHead, TimerEntry** dueTail);

  struct List { TimerEntry* head = nullptr; TimerEntry* tail = nullptr; uint32_t count = 0; };
  TzThread* m_thread = nullptr;
  List* m_incoming = nullptr;      // kChannels lists
  TzLock* m_incomingLocks = nullptr;
  List* m_wheel = nullptr;         // kSlots lists
  uint32_t m_curSlot = 0;
  List m_far;
  uint64_t m_earliestFarDue = ~0ull;
  TzRWLock m_timerLock;
  std::atomic<uint32_t> m_channelCounter{0};
  std::atomic<uint8_t> m_running{0};
  std::atomic<uint8_t> m_destroy{0};
  int64_t m_baseTime = 0;
};

// Binds a quick-timer entry to an owner's member callback:
//   TzQuickTimerQueue<Session, &Session::TransmitTimerEvent>
template <class TimerOwner, int (TimerOwner::*Callback)(uint16_t cancelled, void* record)>
struct TzQuickTimerQueue {
  static void Thunk(void* owner, uint16_t cancelled, void* record) {
    (static_cast<TimerOwner*>(owner)->*Callback)(cancelled, record);
  }
  // Runs the callback and frees the entry, whatever the callback throws.
  static void TimeDueProc(uint16_t cancelled, TimerEntry* e);
};

void TzQuickTimerDispatch(uint16_t cancelled, TimerEntry* e);  // shared body

template <class TimerOwner, int (TimerOwner::*Callback)(uint16_t, void*)>
void TzQuickTimerQueue<TimerOwner, Callback>::TimeDueProc(uint16_t cancelled, TimerEntry* e) {
  TzQuickTimerDispatch(cancelled, e);
}

// A channel of the quick timer: {timer, channel index}. The manager holds two
// for sessions; processors hold their own.
class SessionTimer {
 public:
  SessionTimer() = default;
  SessionTimer(TzQuickTimer* timer, uint32_t index);
  // Calls callback(owner, cancelled, record) once after delayMs, or at once
  // with cancelled=1 if the timer is disabled before. False: nothing queued.
  bool SetTimer(uint32_t delayMs, void* owner, TimerCallbackFn callback, void* record);
  bool Available() const;
  uint32_t Index() const { return index_; }

 private:
  TzSptr<TzQuickTimer> timer_;
  uint32_t index_ = 0;
};
