// Which of the demo's records reached the embedded peer, and how often.
// Fed by the peer's per-record hook; read by the demo's main thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vdemo {

struct RecordCounts {
  uint64_t distinct = 0;    // counted records seen at least once
  uint64_t duplicates = 0;  // further copies of counted records
  uint64_t corrupt = 0;     // looked like a demo record, some byte differed
  uint64_t foreign = 0;     // not a demo record at all
  uint64_t outOfRange = 0;  // a well-formed record numbered beyond the run
};

// Thread contract: OnRecord runs on the peer's service thread; the readers
// may run on any thread at the same time. One lock guards everything.
class RecordTracker {
 public:
  explicit RecordTracker(uint32_t count);

  void OnRecord(const uint8_t* body, size_t len);

  RecordCounts Snapshot() const;
  // Up to `max` of the sequence numbers below `sent` that never arrived,
  // ascending.
  std::vector<uint32_t> Missing(uint64_t sent, size_t max) const;

 private:
  mutable std::mutex m_mu;
  std::vector<uint8_t> m_seen;  // per sequence number, saturating at 255
  RecordCounts m_counts;
};

}  // namespace vdemo
