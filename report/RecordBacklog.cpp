#include "report/RecordBacklog.h"

#include "platform/clock.h"
#include "platform/system.h"
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
  const int32_t limit = static_cast<int32_t>(m_limit.load(std::memory_order_relaxed));
  if (m_waiting.load(std::memory_order_relaxed) < limit) {
    if (m_waiting.fetch_add(1, std::memory_order_relaxed) < limit) return true;
    m_waiting.fetch_sub(1, std::memory_order_relaxed);
  }
  const uint64_t total = m_refusedTotal.fetch_add(1, std::memory_order_relaxed) + 1;
  // A host spinning on refused records would otherwise take the processor
  // from the very worker that frees the slots.
  plat::YieldThread();

  if (!m_logGate.Pass(plat::MonotonicMs())) return false;
  const uint64_t refused = total - m_refusedAtLog.exchange(total, std::memory_order_relaxed);
  QosLogError(FacadeLogCategory, FacadeLogSubType,
              "[Kelvarn]RouterAccessAgent::ReportCallInfo  PostMsg to sid:%u refused: %u records waiting, %u refused since the last line",
              sid, static_cast<unsigned>(limit), static_cast<unsigned>(refused));
  return false;
}

uint32_t RecordBacklog::TakeRefused() {
  const uint64_t total = m_refusedTotal.load(std::memory_order_relaxed);
  return static_cast<uint32_t>(total - m_refusedAtFlow.exchange(total, std::memory_order_relaxed));
}

}  // namespace report
