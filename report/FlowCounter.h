// Bytes of secured packets sent since the last reset, for the flow line's
// rate. 42 bytes of link, IP and UDP overhead are counted per packet.
#pragma once
#include <cstdint>

#include "platform/clock.h"

class FlowCounter {
 public:
  void Add(uint32_t n) {
    // A flag, not a zero tick: the tick count is 0 once every 49.7 days.
    if (!m_started) {
      m_started = true;
      m_startTick = plat::GetTickCount();
    }
    m_bytes += n + 42;
  }
  // Bits per second, in integer arithmetic: bytes * 8 / elapsed * 1000.
  uint32_t RateBps() const {
    uint32_t elapsed = plat::GetTickCount() - m_startTick;
    if (elapsed == 0) elapsed = 1;
    return m_bytes * 8 / elapsed * 1000;
  }
  void Reset() {
    m_started = false;
    m_startTick = 0;
    m_bytes = 0;
  }

 private:
  bool m_started = false;
  uint32_t m_startTick = 0;
  uint32_t m_bytes = 0;
};
