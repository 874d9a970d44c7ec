#include "dup_filter.h"

namespace vpeer {

bool DupFilter::Insert(const Endpoint& from, uint32_t sn, int64_t nowMs) {
  // Expire first, so a key older than the window counts as new again.
  while (!m_order.empty() && nowMs - m_order.front().first > m_windowMs) {
    m_keys.erase(m_order.front().second);
    m_order.pop_front();
  }
  const Key key(from.ip, from.port, sn);
  if (!m_keys.insert(key).second) return false;
  m_order.emplace_back(nowMs, key);
  return true;
}

}  // namespace vpeer
