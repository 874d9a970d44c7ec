// One-holder spin token, held only around a few instructions such as one
// socket call. Take yields the processor between attempts.
#pragma once
#include <atomic>
#include <cassert>
#include <cstdint>

#include "tzhelper/Tzautolock.h"

class TZ_CAPABILITY("mutex") TzToken {
 public:
  TzToken() = default;
  ~TzToken() { assert(m_token.load() == 1 && "m_token == 1"); }
  TzToken(const TzToken&) = delete;
  TzToken& operator=(const TzToken&) = delete;

  // Spins until the token is ours, or returns at once if the token has been
  // disabled.
  void Take() TZ_ACQUIRE();
  void Give() TZ_RELEASE();
  void SetEnabled(bool enabled) { m_enabled.store(enabled ? 1 : 0); }
  bool Enabled() const { return m_enabled.load() != 0; }

 private:
  std::atomic<int32_t> m_token{1};  // 1 free, 0 held
  std::atomic<uint8_t> m_enabled{1};
};

// Scoped Take/Give.
class TZ_SCOPED_CAPABILITY TzTokenGuard {
 public:
  explicit TzTokenGuard(TzToken& t) TZ_ACQUIRE(t) : t_(t) { t_.Take(); }
  ~TzTokenGuard() TZ_RELEASE() { t_.Give(); }
  TzTokenGuard(const TzTokenGuard&) = delete;
  TzTokenGuard& operator=(const TzTokenGuard&) = delete;

 private:
  TzToken& t_;
};
