#include "tzhelper/TzRandom.h"

#include <atomic>

#include "platform/clock.h"

namespace {

// One state for the whole process, seeded with the tick count so that two
// runs seldom draw the same numbers.
std::atomic<uint32_t>& State() {
  static std::atomic<uint32_t> state{plat::GetTickCount()};
  return state;
}

// Seed when the library loads rather than at the first draw.
[[maybe_unused]] const bool g_seededAtLoad = (State(), true);

// Advances the state with a compare-and-swap loop so that concurrent callers
// each get their own step of the sequence; returns the new state.
uint32_t NextState() {
  std::atomic<uint32_t>& state = State();
  uint32_t cur = state.load(std::memory_order_relaxed);
  uint32_t next;
  do {
    next = cur * 214013u + 2531011u;  // unsigned: wraps modulo 2^32 by design
  } while (!state.compare_exchange_weak(cur, next, std::memory_order_relaxed));
  return next;
}

}  // namespace

void TzSrand(uint32_t seed) { State().store(seed, std::memory_order_relaxed); }

// Maps the full 32-bit state: lo + x mod (hi - lo + 1). The span is computed
// in 64 bits so that [0, 0xFFFFFFFF] (span 2^32) returns x itself instead of
// dividing by zero.
uint32_t TzRandom(uint32_t lo, uint32_t hi) {
  if (lo > hi) {
    uint32_t t = lo;
    lo = hi;
    hi = t;
  }
  uint64_t span = static_cast<uint64_t>(hi) - lo + 1;
  uint64_t x = NextState();
  return static_cast<uint32_t>(lo + x % span);
}
