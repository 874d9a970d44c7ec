#include "asynmodel/SessionTimer.h"

#include "platform/clock.h"

SessionTimer::SessionTimer(TzQuickTimer* timer, uint32_t index) : timer_(timer), index_(index) {}

bool SessionTimer::SetTimer(uint32_t delayMs, void* owner, TimerCallbackFn callback, void* record) {
  if (!timer_ || callback == nullptr) return false;
  // The timer fills an entry it recycles; a refusal leaves nothing behind.
  return timer_->AddNewTimer(index_, plat::NowMs() + static_cast<int64_t>(delayMs), owner, callback, record);
}

bool SessionTimer::Available() const { return timer_ && timer_->IsRunning(); }
