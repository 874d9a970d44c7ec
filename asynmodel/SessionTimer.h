// A channel of the quick timer: {counted reference to the timer, channel
// index}. The manager holds two for sessions (one per session-id parity, so
// odd and even sessions never contend); processors hold their own.
#pragma once
#include <cstdint>

#include "tzhelper/TzQuickTimer.h"
#include "tzhelper/TzRefCounter.h"

class SessionTimer {
 public:
  SessionTimer() = default;
  // Takes a reference on timer (which may be null: an empty channel).
  SessionTimer(TzQuickTimer* timer, uint32_t index);

  // Calls callback(owner, cancelled, record) once on the timer thread after
  // delayMs (cancelled=0), or with cancelled=1 if the timer is disabled
  // before. True: the timer owns the queued entry, and the callback takes
  // over whatever the caller handed it through owner and record. False
  // (empty channel, no memory, null callback, timer disabled): nothing was
  // queued and owner and record stay with the caller. Safe from any thread
  // except a callback run by TzQuickTimer::Disable.
  bool SetTimer(uint32_t delayMs, void* owner, TimerCallbackFn callback, void* record);
  // True when the channel has a timer and that timer is enabled.
  bool Available() const;
  uint32_t Index() const { return index_; }
  TzQuickTimer* Timer() const { return timer_.get(); }

 private:
  TzSptr<TzQuickTimer> timer_;
  uint32_t index_ = 0;
};
