#include "asynmodel/SessionTimer.h"

#include "platform/clock.h"

SessionTimer::SessionTimer(TzQuickTimer* timer, uint32_t index) : timer_(timer), index_(index) {}

bool SessionTimer::SetTimer(uint32_t delayMs, void* owner, TimerCallbackFn callback, void* record) {
  if (!timer_ || callback == nullptr) return false;
  TimerEntry* e = TimerEntry::New();
  if (e == nullptr) return false;
  e->due = plat::NowMs() + static_cast<int64_t>(delayMs);
  e->dispatch = &TzQuickTimerDispatch;
  e->owner = owner;
  e->callback = callback;
  e->record = record;
  if (!timer_->AddTimer(index_, e)) {
    // Refused: the entry never reached the timer, so it is still ours.
    TimerEntry::Delete(e);
    return false;
  }
  return true;
}

bool SessionTimer::Available() const { return timer_ && timer_->IsRunning(); }
