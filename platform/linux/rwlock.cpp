// The slim reader/writer lock on Linux: one 32-bit word taken with a single
// compare-and-swap when nobody waits, as a Windows SRWLOCK is, and a futex on
// that word for the threads that must wait. (A pthread rwlock, which this
// replaced, spends some forty instructions and a call chain on every take and
// give; the hot paths take reader locks several times per message.)
//
// The word: the low 30 bits count the readers inside, or hold kWriter while a
// writer is inside; kWaiting says that some thread sleeps on the word. A
// reader does not enter while kWaiting is set, so a waiting writer is not
// starved by a stream of readers. Whoever empties the lock while kWaiting is
// set clears it and wakes every sleeper, which then compete again (a sleeper
// that loses sets kWaiting anew). Contention is rare on these locks, so the
// simple wake-all costs nothing on the paths that matter.
#include <atomic>
#include <cstdint>
#include <new>

#include "platform/sync.h"
#include "platform/word_lock.h"

namespace plat {
namespace {

constexpr uint32_t kWaiting = 1u << 30;
constexpr uint32_t kCount = kWaiting - 1;
constexpr uint32_t kWriter = kCount;  // the count field when a writer is inside
constexpr int kSpins = 64;

std::atomic<uint32_t>& Word(unsigned char* storage) {
  return *std::launder(reinterpret_cast<std::atomic<uint32_t>*>(storage));
}

bool ReaderMayEnter(uint32_t s) { return (s & kWaiting) == 0 && (s & kCount) < kWriter - 1; }
bool WriterMayEnter(uint32_t s) { return (s & kCount) == 0; }

// Waits until `mayEnter` holds for the word, then adds `add` to it. kWaiting
// is kept when entering: other sleepers still need the wake-up of whoever
// empties the lock next.
template <class MayEnter>
void Enter(std::atomic<uint32_t>& w, uint32_t add, MayEnter mayEnter) {
  int spins = 0;
  uint32_t s = w.load(std::memory_order_relaxed);
  for (;;) {
    if (mayEnter(s)) {
      if (w.compare_exchange_weak(s, s + add, std::memory_order_acquire, std::memory_order_relaxed)) return;
      continue;
    }
    if (spins < kSpins && (s & kWaiting) == 0) {
      ++spins;
      CpuRelax();
      s = w.load(std::memory_order_relaxed);
      continue;
    }
    if ((s & kWaiting) == 0 &&
        !w.compare_exchange_weak(s, s | kWaiting, std::memory_order_relaxed, std::memory_order_relaxed)) {
      continue;
    }
    WaitOnWord(&w, s | kWaiting);
    s = w.load(std::memory_order_relaxed);
  }
}

}  // namespace

SlimRwLock::SlimRwLock() {
  static_assert(sizeof(std::atomic<uint32_t>) <= sizeof(storage_), "the lock fits its storage");
  static_assert(std::atomic<uint32_t>::is_always_lock_free, "the futex word is a plain 32-bit word");
  new (storage_) std::atomic<uint32_t>(0);
}

SlimRwLock::~SlimRwLock() = default;  // a word owns nothing

void SlimRwLock::LockShared() {
  std::atomic<uint32_t>& w = Word(storage_);
  uint32_t s = w.load(std::memory_order_relaxed);
  if (ReaderMayEnter(s) && w.compare_exchange_weak(s, s + 1, std::memory_order_acquire, std::memory_order_relaxed))
    return;
  Enter(w, 1, ReaderMayEnter);
}

void SlimRwLock::UnlockShared() {
  std::atomic<uint32_t>& w = Word(storage_);
  const uint32_t before = w.fetch_sub(1, std::memory_order_release);
  if ((before & kCount) != 1 || (before & kWaiting) == 0) return;
  // The last reader left while someone sleeps. Only a writer can change the
  // word now (readers stay out while kWaiting is set); if one already got in,
  // its own release wakes the sleepers.
  uint32_t empty = kWaiting;
  if (w.compare_exchange_strong(empty, 0, std::memory_order_relaxed, std::memory_order_relaxed)) WakeAllOnWord(&w);
}

void SlimRwLock::LockExclusive() {
  std::atomic<uint32_t>& w = Word(storage_);
  uint32_t s = 0;
  if (w.compare_exchange_weak(s, kWriter, std::memory_order_acquire, std::memory_order_relaxed)) return;
  Enter(w, kWriter, WriterMayEnter);
}

void SlimRwLock::UnlockExclusive() {
  std::atomic<uint32_t>& w = Word(storage_);
  if (w.exchange(0, std::memory_order_release) & kWaiting) WakeAllOnWord(&w);
}

}  // namespace plat
