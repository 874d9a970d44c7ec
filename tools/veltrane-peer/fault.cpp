#include "fault.h"

namespace vpeer {

FaultInjector::FaultInjector(uint64_t seed) : m_state(seed) {}

// splitmix64: tiny, fast, and its sequence is fixed by the seed on every
// platform, which the standard distributions do not promise.
uint64_t FaultInjector::NextRaw() {
  m_state += 0x9E3779B97F4A7C15ull;
  uint64_t z = m_state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double FaultInjector::NextUnit() {
  return static_cast<double>(NextRaw() >> 11) * (1.0 / 9007199254740992.0);  // 2^53
}

uint32_t FaultInjector::NextUpTo(uint32_t bound) {
  return static_cast<uint32_t>(NextRaw() % (static_cast<uint64_t>(bound) + 1));
}

FaultDecision FaultInjector::Decide(const FaultPlan& plan) {
  FaultDecision d;
  if (!plan.Active()) return d;
  // Draw every value every time, so that changing one percentage does not
  // shift the sequence the others see.
  const double dropDraw = NextUnit();
  const double dupDraw = NextUnit();
  const uint32_t delay0 = plan.delayRandom ? NextUpTo(plan.delayMs) : plan.delayMs;
  const uint32_t delay1 = plan.delayRandom ? NextUpTo(plan.delayMs) : plan.delayMs;
  if (dropDraw * 100.0 < plan.dropPct) {
    d.drop = true;
    d.copies = 0;
    return d;
  }
  d.copies = dupDraw * 100.0 < plan.dupPct ? 2 : 1;
  d.delayMs[0] = delay0;
  d.delayMs[1] = delay1;
  return d;
}

}  // namespace vpeer
