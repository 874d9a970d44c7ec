// Bounds the host records waiting for the report session. The coordinator
// takes a slot for every record it posts and the session gives it back when
// it has handled the record; beyond the limit a record is refused (counted,
// and logged at most once per interval) so that a host reporting faster than
// the session can send cannot make memory grow without bound, and timers,
// received datagrams and configuration wait behind at most `limit` records.
//
// Secured packets need no slot: a send pass posts at most its quota and the
// next pass runs only after the session has worked off what came before it.
//
// Threads: every method is lock-free and safe from any thread; the record
// path costs two atomic operations.
#pragma once
#include <atomic>
#include <cstdint>

#include "tzhelper/TzIntervalGate.h"

namespace report {

class RecordBacklog {
 public:
  // About 4 MiB of records of up to 1 KiB with their message and list node,
  // and a fraction of a second of the session's work.
  static constexpr uint32_t kDefaultLimit = 4096;
  static constexpr uint32_t kMinLimit = 16;
  static constexpr uint32_t kMaxLimit = 1u << 20;
  static constexpr uint32_t kLogGapMs = 5000;

  static RecordBacklog& Global();

  // 0, or -2 when records is outside kMinLimit..kMaxLimit (nothing changes).
  int32_t SetLimit(uint32_t records);
  uint32_t Limit() const { return m_limit.load(std::memory_order_relaxed); }

  // Host thread, before posting: true when a slot was taken. False counts
  // the refusal and writes the refusal line when none was written for
  // kLogGapMs. A full backlog is seen with a plain load, so many refused
  // hosts do not fight over the count the session gives slots back to.
  bool TryTake(uint32_t sid);
  // Gives a slot back: after a failed post, or once the session handled it.
  void Give() { m_waiting.fetch_sub(1, std::memory_order_relaxed); }

  int32_t Waiting() const { return m_waiting.load(std::memory_order_relaxed); }
  // Refusals since the last call (the flow line reads and resets it).
  uint32_t TakeRefused();
  uint64_t RefusedTotal() const { return m_refusedTotal.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint32_t> m_limit{kDefaultLimit};
  // Signed: a record posted around the coordinator (tests do) gives back a
  // slot nobody took, which must not wrap to a full backlog.
  alignas(64) std::atomic<int32_t> m_waiting{0};
  alignas(64) std::atomic<uint64_t> m_refusedTotal{0};
  std::atomic<uint64_t> m_refusedAtFlow{0};  // the total at the last flow line
  std::atomic<uint64_t> m_refusedAtLog{0};   // the total at the last refusal line
  TzIntervalGate m_logGate{kLogGapMs};
};

}  // namespace report
