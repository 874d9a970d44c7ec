// The quick timer: a 15 ms timing wheel of 2000 slots with a far list for
// timers due 30 s or more ahead, driven by its own thread. New timers enter
// through 100 separately locked incoming lists (one per channel), so adding
// never waits for a pass. Disabling delivers every pending timer once with
// the cancel flag set.
//
// Lock order: the timer lock (m_timerLock) before an incoming lock. The timer
// thread holds the timer lock shared for a whole pass; only Enable, Disable
// and destruction take it exclusively. Adders take an incoming lock alone.
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

// One pending quick timer. It belongs to whoever holds it: the adder until
// AddTimer returns true, then the timer, which hands it to the dispatch
// function; the dispatch function frees it.
struct TimerEntry {
  int64_t due;               // framework clock, ms
  TimerDispatchFn dispatch;  // TzQuickTimerQueue<Owner>::TimeDueProc
  void* owner;
  TimerCallbackFn callback;  // the owner's member callback, through a thunk
  void* record;
  TimerEntry* next;          // list link inside the timer

  // A zeroed entry from the entries' own pool; null on failure.
  static TimerEntry* New();
  static void Delete(TimerEntry* e);  // null is ignored
};

class TzQuickTimer : public TzRefCounterBase<TzQuickTimer> {
 public:
  static constexpr uint32_t kSlots = 2000;
  static constexpr uint32_t kTickMs = 15;
  static constexpr uint32_t kChannels = 100;
  static constexpr int64_t kFarMs = 30000;

  // Starts the timer thread; the timer is disabled until Enable. The result
  // has no reference yet: the caller takes the first one (TzSptr). The last
  // reference must not be dropped on the timer thread (inside a callback),
  // because destruction waits for that thread. Null on failure.
  static TzQuickTimer* Create();

  // Any thread but the timer thread. Waits for a pass in progress. False when
  // already running.
  bool Enable();
  // Any thread but the timer thread; must not be called from a timer
  // callback. Entries still in the incoming lists fire at once, on the calling
  // thread, with cancelled=1; wheel and far entries fire with cancelled=1 on
  // the timer thread's next pass.
  void Disable();
  // Hands the entry to the timer (true) or leaves it to the caller (false:
  // disabled, or channel index out of range). Safe from any thread; a
  // callback run by Disable is refused.
  bool AddTimer(uint32_t channelIndex, TimerEntry* entry);
  uint32_t NextChannelIndex();  // channel counter mod 100; any thread
  bool IsRunning() const { return m_running.load() != 0; }
  // Fires every incoming entry with cancelled=1. The caller holds the timer
  // lock exclusively (Disable) or the timer thread has ended (destruction).
  void ClearAllTimerEvent();

  // Test accessors. Census takes the timer lock exclusively and so waits for
  // a pass in progress; it must not be called on the timer thread.
  struct Census { uint32_t incoming; uint32_t wheel; uint32_t far; };
  Census CensusForTest();
  uint64_t PassCount() const { return m_passCount.load(); }
  // The clock reading of the pass in progress (or the last one), and of the
  // pass before it. Exact when read from a callback on the timer thread.
  int64_t PassNow() const { return m_passNow.load(); }
  int64_t PreviousPassNow() const { return m_prevPassNow.load(); }
  // While suspended the thread keeps looping but makes no pass, so entries
  // stay where they are. Waits for a pass in progress.
  void SuspendPassesForTest(bool suspend);
  // With passes suspended: one pass on the calling thread, as if the clock
  // read `now` (never earlier than the previous pass). Callbacks run here,
  // under the timer lock held exclusively.
  void RunPassForTest(int64_t now);
  int64_t BaseTimeForTest();

 private:
  struct List {
    TimerEntry* head = nullptr;
    TimerEntry* tail = nullptr;
    uint32_t count = 0;
    void PushBack(TimerEntry* e);
    void PushFront(TimerEntry* e);
    TimerEntry* TakeAll();  // detaches the chain, leaving the list empty
  };

  TzQuickTimer();
  ~TzQuickTimer() override;
  friend class TzRefCounterBase<TzQuickTimer>;
  bool Init();
  static void TimerProc(void* owner, void* arg);
  // One pass of the timer thread, under the timer lock held shared; now is
  // the clock reading that the pass works with.
  void TimeDueProc(int64_t now);
  void RemoveFromSortList(int64_t now);
  void DistributeNewTimers(int64_t now, List* due);
  void Place(TimerEntry* e);
  // Fires and empties one wheel slot (number: the line reported for an
  // exception).
  void FireSlot(uint32_t index, uint16_t cancelled, int number);
  static void FireChain(TimerEntry* e, uint16_t cancelled, const char* where, int number);
  void ProcessFarList(int64_t now, List* due);

  // The wheel, the far list, the current slot, the earliest far due and the
  // base time belong to the timer thread (passes) and are otherwise touched
  // only under the timer lock held exclusively.
  TzThread* m_thread = nullptr;
  List* m_incoming = nullptr;      // kChannels lists, each under its lock
  TzLock* m_incomingLocks = nullptr;
  // Per channel: set by an adder, cleared by whoever empties the list, so a
  // pass skips the channels with nothing new.
  std::atomic<bool>* m_incomingPending = nullptr;
  List* m_wheel = nullptr;         // kSlots lists
  uint32_t m_wheelCount = 0;       // entries over all slots
  uint32_t m_curSlot = 0;
  List m_far;
  uint64_t m_earliestFarDue = ~0ull;
  TzRWLock m_timerLock;
  std::atomic<uint32_t> m_channelCounter{0};
  std::atomic<uint8_t> m_running{0};  // changed under the exclusive timer lock
  std::atomic<uint8_t> m_destroy{0};
  int64_t m_baseTime = 0;
  std::atomic<bool> m_suspended{false};
  std::atomic<uint64_t> m_passCount{0};
  std::atomic<int64_t> m_passNow{0};
  std::atomic<int64_t> m_prevPassNow{0};
};

// The dispatch function shared by every owner type: runs the callback, prints
// anything it throws, and frees the entry whatever happened.
void TzQuickTimerDispatch(uint16_t cancelled, TimerEntry* e);

// Binds a quick-timer entry to an owner's member callback:
//   channel.SetTimer(ms, session, &TzQuickTimerQueue<Session,
//                    &Session::TransmitTimerEvent>::Thunk, record);
template <class TimerOwner, int (TimerOwner::*Callback)(uint16_t cancelled, void* record)>
struct TzQuickTimerQueue {
  static void Thunk(void* owner, uint16_t cancelled, void* record) {
    (static_cast<TimerOwner*>(owner)->*Callback)(cancelled, record);
  }
  // Runs the callback and frees the entry, whatever the callback throws.
  static void TimeDueProc(uint16_t cancelled, TimerEntry* e) { TzQuickTimerDispatch(cancelled, e); }
};
