#include "report/RecordBacklog.h"

#include "platform/clock.h"
#include "tzhelper/QosLog.h"

namespace report {

RecordBacklog& RecordBacklog::Global() {
  static RecordBacklog backlog;  // trivially destructible members only
  return backlog;
}

int32_t RecordBacklog::SetLimit(uint32_t records) {
  if (records < kMinLimit || records > kMaxLimit) return -2;
  m_limit.store(records, std::memory_order_relaxed);
  return 0;
}

bool RecordBacklog::TryTake(uint32_t sid) {
  const uint32_t limit = m_limit.load(std::memory_order_relaxed);
  if (m_waiting.fetch_add(1, std::memory_order_relaxed) < static_cast<int32_t>(limit)) return true;
  m_waiting.fetch_sub(1, std::memory_order_relaxed);
  m_refusedSinceFlow.fetch_add(1, std::memory_order_relaxed);
  m_refusedTotal.fetch_add(1, std::memory_order_relaxed);
  m_refusedSinceLog.fetch_add(1, std::memory_order_relaxed);

  // One line per interval: whoever moves the stamp writes it.
  const int64_t now = plat::MonotonicMs();
  int64_t last = m_lastLogMs.load(std::memory_order_relaxed);
  if (now - last < kLogGapMs) return false;
  if (!m_lastLogMs.compare_exchange_strong(last, now, std::memory_order_relaxed)) return false;
  const uint32_t refused = m_refusedSinceLog.exchange(0, std::memory_order_relaxed);
  QosLogError(FacadeLogCategory, FacadeLogSubType,
              "[Kelvarn]RouterAccessAgent::ReportCallInfo  PostMsg to sid:%u refused: %u records waiting, %u refused since the last line",
              sid, limit, refused);
  return false;
}

}  // namespace report
