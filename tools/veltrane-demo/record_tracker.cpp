#include "record_tracker.h"

#include "demo_record.h"

namespace vdemo {

RecordTracker::RecordTracker(uint32_t count) : m_seen(count, 0) {}

void RecordTracker::OnRecord(const uint8_t* body, size_t len) {
  uint32_t seq = 0;
  // Checked before the lock: the comparison is the expensive part.
  const RecordCheck check = CheckRecord(body, len, &seq);
  std::lock_guard<std::mutex> g(m_mu);
  if (check == RecordCheck::kNotOurs) {
    ++m_counts.foreign;
  } else if (check == RecordCheck::kCorrupt) {
    ++m_counts.corrupt;
  } else if (seq >= m_seen.size()) {
    ++m_counts.outOfRange;
  } else {
    uint8_t& seen = m_seen[seq];
    ++(seen == 0 ? m_counts.distinct : m_counts.duplicates);
    if (seen < 255) ++seen;
  }
}

RecordCounts RecordTracker::Snapshot() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_counts;
}

std::vector<uint32_t> RecordTracker::Missing(uint64_t sent, size_t max) const {
  std::vector<uint32_t> out;
  std::lock_guard<std::mutex> g(m_mu);
  for (size_t i = 0; i < m_seen.size() && i < sent && out.size() < max; ++i) {
    if (m_seen[i] == 0) out.push_back(static_cast<uint32_t>(i));
  }
  return out;
}

}  // namespace vdemo
