// The STPRC group table that the coordinator posts to the report session as
// Report_RC_ADDR_CMD: the host's entries sorted by group id into at most 10
// groups of 10, as the byte image the session reads.
//
// Thread contract: an object is built and read by one thread at a time; the
// coordinator makes a fresh one on its calling thread for each start-up or
// SetStpRc. Build writes report warnings (no lock of ours is held).
#pragma once
#include <cstdint>
#include <vector>

#include "report/LocalCommands.h"
#include "veltrane.h"

namespace report {

class StprcGroupTable {
 public:
  // The two callers log the same walk with different texts.
  enum class Variant { kStartup, kSetStpRc };

  StprcGroupTable();

  // Builds the table afresh from count host entries (null entries: none):
  // logs each entry in input order, sorts them stably by unsigned groupid,
  // numbers the groups from 0, and stores each entry with a non-zero port
  // that fits (group index and position below 10). Entries with port 0 are
  // dropped (kSetStpRc logs them). Returns the number of entries stored.
  uint32_t Build(const StprcAddrEntry* entries, uint32_t count, Variant variant);

  uint32_t StoredCount() const { return stored_; }
  // Leading groups to post: the last group index reached + 1, at most 10. A
  // group emptied by port-0 entries still counts when a later one follows.
  uint32_t GroupsSent() const { return groups_; }
  uint32_t MessageLength() const { return groups_ * static_cast<uint32_t>(kStprcGroupBytes); }
  // MessageLength() bytes: entry (g, i) at g * 240 + i * 24 holds the 16
  // ip bytes as given, the port, two zero bytes and the groupid. Unfilled
  // entries are zero.
  const uint8_t* Data() const { return image_; }

 private:
  // Numbers the groups of a list sorted by groupid and stores what fits.
  void StoreSorted(const std::vector<StprcAddrEntry>& list, bool startup);
  void Store(uint32_t groupIndex, uint32_t innerId, const StprcAddrEntry& e);

  uint8_t image_[kStprcTableBytes];
  uint32_t stored_ = 0;
  uint32_t groups_ = 0;
};

}  // namespace report
