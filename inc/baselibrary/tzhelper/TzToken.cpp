#include "tzhelper/TzToken.h"

#include "platform/system.h"

// The token guards only a handful of instructions around one socket call, so
// spinning with a yield is cheaper than parking the thread on a lock.
void TzToken::Take() TZ_NO_THREAD_SAFETY_ANALYSIS {
  do {
    int32_t expected = 1;
    if (m_token.compare_exchange_strong(expected, 0, std::memory_order_acquire) ||
        m_enabled.load(std::memory_order_relaxed) == 0) {
      return;
    }
    plat::YieldThread();
  } while (m_enabled.load(std::memory_order_relaxed) != 0);
}

void TzToken::Give() TZ_NO_THREAD_SAFETY_ANALYSIS {
  int32_t expected = 0;
  bool wasHeld = m_token.compare_exchange_strong(expected, 1, std::memory_order_release);
  assert(wasHeld && "TzToken given back without being held");
  (void)wasHeld;
}
