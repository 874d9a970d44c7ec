// Time that stands still for the life of one object: the library's clocks
// move only through Advance, and every sleeper wakes when they pass its
// deadline. The destructor lets time flow again (stopping the framework and
// its timer threads waits in clock steps).
#pragma once
#include <cstdint>

#include "platform/clock.h"

class FrozenClock {
 public:
  FrozenClock() { plat::FreezeClockForTest(); }
  ~FrozenClock() { plat::ThawClockForTest(); }
  FrozenClock(const FrozenClock&) = delete;
  FrozenClock& operator=(const FrozenClock&) = delete;

  void Advance(int64_t ms) { plat::AdvanceClock(ms); }
  // Moves on until the tick count is `ms` short of its wrap at 2^32.
  void ToTickWrap(uint32_t ms) { plat::AdvanceClock(static_cast<uint32_t>(0u - ms - plat::GetTickCount())); }
};
