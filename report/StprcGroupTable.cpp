#include "report/StprcGroupTable.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "report/ReportLog.h"
#include "tzhelper/TzWireBytes.h"

namespace report {

namespace {

// The host's ip field need not hold a NUL within its 16 bytes; print at
// most those 16.
struct IpText {
  explicit IpText(const StprcAddrEntry& e) {
    memcpy(text, e.stprcIp, sizeof(e.stprcIp));
    text[sizeof(e.stprcIp)] = 0;
  }
  char text[sizeof(StprcAddrEntry::stprcIp) + 1];
};

}  // namespace

StprcGroupTable::StprcGroupTable() { memset(image_, 0, sizeof(image_)); }

uint32_t StprcGroupTable::Build(const StprcAddrEntry* entries, uint32_t count, Variant variant) {
  memset(image_, 0, sizeof(image_));
  stored_ = 0;
  groups_ = 0;
  const bool startup = variant == Variant::kStartup;
  if (entries == nullptr) count = 0;

  std::vector<StprcAddrEntry> list;
  list.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    const StprcAddrEntry& e = entries[i];
    list.push_back(e);
    const IpText ip(e);
    if (startup) {
      REPORT_LOG_WARN("[Kelvarn][stprc] 输入的stprcIp地址为:(%s:%d) groupid:%d", ip.text,
                      e.stprcPort, static_cast<int>(e.groupid));
    } else {
      REPORT_LOG_WARN("[Kelvarn][stprc] SetStpRc地址为:(%s:%d) groupid:%d", ip.text,
                      e.stprcPort, static_cast<int>(e.groupid));
    }
  }

  // Entries of one group keep the host's order: that is the order in which
  // the session lists them.
  std::stable_sort(list.begin(), list.end(),
                   [](const StprcAddrEntry& a, const StprcAddrEntry& b) {
                     return a.groupid < b.groupid;
                   });
  StoreSorted(list, startup);
  return stored_;
}

void StprcGroupTable::StoreSorted(const std::vector<StprcAddrEntry>& list, bool startup) {
  uint32_t groupindex = 0;
  uint32_t ninnerid = 0;
  uint32_t currentGroup = list.empty() ? 0 : list.front().groupid;
  for (const StprcAddrEntry& e : list) {
    if (e.groupid > currentGroup) {
      currentGroup = e.groupid;
      ninnerid = 0;
      ++groupindex;
    }
    const IpText ip(e);
    if (startup) {
      REPORT_LOG_WARN("[Kelvarn][stprc] 排序后输入的stprcIp地址为:(%s:%d) groupid:%d groupindex：%d",
                      ip.text, e.stprcPort, static_cast<int>(e.groupid),
                      static_cast<int>(groupindex));
    } else {
      REPORT_LOG_WARN("[Kelvarn][stprc] 排序后输入的stprcIp地址为:(%s:%d) groupid:%d groupindex:%d",
                      ip.text, e.stprcPort, static_cast<int>(e.groupid),
                      static_cast<int>(groupindex));
    }
    if (groupindex > MAX_STPRC_GROUP_NUM - 1 || ninnerid > MAX_STPRC_NUM - 1) {
      REPORT_LOG_WARN(
          "[Kelvarn][stprc] 输入的stprcIp地址 groupindex > MAX_STPRC_GROUP_NUM-1 || ninnerid > "
          "MAX_STPRC_NUM-1");
      continue;
    }
    if (e.stprcPort == 0) {
      if (!startup) REPORT_LOG_WARN("[Kelvarn][stprc] 排序后输入的stprcIp地址 stprcPort为0");
      continue;
    }
    Store(groupindex, ninnerid, e);
    ++ninnerid;
    ++stored_;
  }
  groups_ = std::min(groupindex + 1, MAX_STPRC_GROUP_NUM);
}

void StprcGroupTable::Store(uint32_t groupIndex, uint32_t innerId, const StprcAddrEntry& e) {
  uint8_t* p = image_ + groupIndex * kStprcGroupBytes + innerId * kStprcEntryBytes;
  memcpy(p, e.stprcIp, sizeof(e.stprcIp));
  wire::PutU16(p + 16, e.stprcPort);
  p[18] = 0;
  p[19] = 0;
  wire::PutU32(p + 20, e.groupid);
}

}  // namespace report
