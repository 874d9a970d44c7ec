// Remembers which reliable datagrams (source address, sn) have been handled
// recently, so that a resent copy is acknowledged again but handled once.
// Not thread-safe: the peer calls it under its lock.
#pragma once

#include <cstdint>
#include <deque>
#include <set>
#include <tuple>

#include "endpoint.h"

namespace vpeer {

class DupFilter {
 public:
  explicit DupFilter(uint32_t windowMs) : m_windowMs(windowMs) {}

  // True when (from, sn) is new; false for a copy seen within the window.
  // `nowMs` is any monotonic millisecond clock.
  bool Insert(const Endpoint& from, uint32_t sn, int64_t nowMs);

  size_t Size() const { return m_keys.size(); }

 private:
  using Key = std::tuple<uint32_t, uint16_t, uint32_t>;

  uint32_t m_windowMs;
  std::set<Key> m_keys;
  std::deque<std::pair<int64_t, Key>> m_order;  // insertion order, for expiry
};

}  // namespace vpeer
