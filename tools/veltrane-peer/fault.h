// Fault injection for one direction of the peer's traffic: drop, duplicate
// and delay datagrams, driven by a seeded generator so that a failing run can
// be repeated exactly. A random delay per copy also reorders datagrams.
#pragma once

#include <cstdint>

namespace vpeer {

struct FaultPlan {
  double dropPct = 0;        // 0..100: datagrams dropped
  double dupPct = 0;         // 0..100: datagrams handled twice
  uint32_t delayMs = 0;      // fixed delay, or the upper bound of a random one
  bool delayRandom = false;  // uniform in [0, delayMs] per copy

  bool Active() const { return dropPct > 0 || dupPct > 0 || delayMs > 0; }
};

// What to do with one datagram.
struct FaultDecision {
  bool drop = false;
  int copies = 1;                  // 1, or 2 when duplicated (0 when dropped)
  uint32_t delayMs[2] = {0, 0};    // per copy
};

// Not thread-safe: the owner serialises calls (the peer holds its lock).
class FaultInjector {
 public:
  explicit FaultInjector(uint64_t seed);

  FaultDecision Decide(const FaultPlan& plan);

  // Uniform in [0, 1).
  double NextUnit();
  // Uniform in [0, bound].
  uint32_t NextUpTo(uint32_t bound);

 private:
  uint64_t NextRaw();

  uint64_t m_state;
};

}  // namespace vpeer
