// Every reading of time in the library goes through here, so that tests can
// move time forward (AdvanceClock) instead of sleeping.
#pragma once
#include <cstdint>

namespace plat {

// Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
uint32_t GetTickCount();
// Framework clock: milliseconds since 1970-01-01 00:00 UTC.
int64_t NowMs();
// Calendar time in seconds since 1970 (low 32 bits).
uint32_t CalendarSeconds();
// Monotonic high-resolution seconds.
double HighResSeconds();
// Sleeps for ms milliseconds of (virtual) time; 0 yields the processor.
// AdvanceClock wakes a sleeper whose deadline it passes.
void SleepMs(uint32_t ms);

// Test hook: shifts every clock above by ms at once and wakes every SleepMs and
// timed wait whose deadline now lies in the past.
void AdvanceClock(int64_t ms);
// Total shift applied so far by AdvanceClock.
int64_t ClockOffsetMs();

// Wrap-safe comparison of two tick counts: positive when `later` is after
// `earlier`. Compare ticks only through this.
inline int32_t TickDiff(uint32_t later, uint32_t earlier) {
  return static_cast<int32_t>(later - earlier);
}

}  // namespace plat
