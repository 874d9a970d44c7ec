// The STPRC group table built from the host's entries at start-up and by
// SetStpRc: sorting, group numbering, limits, the byte image and its lines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/log.h"
#include "report/ReportLog.h"
#include "report/StprcGroupTable.h"

using report::StprcGroupTable;

namespace {

StprcAddrEntry Entry(const char* ip, uint16_t port, uint32_t groupid) {
  StprcAddrEntry e;
  memset(&e, 0, sizeof(e));
  memcpy(e.stprcIp, ip, strnlen(ip, sizeof(e.stprcIp)));
  e.stprcPort = port;
  e.groupid = groupid;
  return e;
}

std::string IpAt(const StprcGroupTable& t, int g, int i) {
  const char* p = reinterpret_cast<const char*>(t.Data() + g * 240 + i * 24);
  return std::string(p, strnlen(p, 16));
}
uint16_t PortAt(const StprcGroupTable& t, int g, int i) {
  const uint8_t* p = t.Data() + g * 240 + i * 24 + 16;
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

std::vector<std::string> Texts(const LogCapture& cap) {
  std::vector<std::string> out;
  for (const LogLine& l : cap.Lines()) out.push_back(l.text);
  return out;
}

}  // namespace

TEST(StprcTable, TwoGroupsInInputOrder) {
  LogCapture cap;
  const StprcAddrEntry in[4] = {Entry("10.0.0.1", 1001, 7), Entry("10.0.0.2", 1002, 3),
                                Entry("10.0.0.3", 1003, 7), Entry("10.0.0.4", 1004, 3)};
  StprcGroupTable t;
  EXPECT_EQ(4u, t.Build(in, 4, StprcGroupTable::Variant::kSetStpRc));
  EXPECT_EQ(2u, t.GroupsSent());
  EXPECT_EQ(480u, t.MessageLength());
  EXPECT_EQ((std::vector<std::string>{"10.0.0.2", "10.0.0.4", "10.0.0.1", "10.0.0.3"}),
            (std::vector<std::string>{IpAt(t, 0, 0), IpAt(t, 0, 1), IpAt(t, 1, 0), IpAt(t, 1, 1)}));
  EXPECT_EQ(0, PortAt(t, 0, 2));  // unfilled entries are zero

  const std::vector<std::string> want = {
      "[Kelvarn][stprc] SetStpRc地址为:(10.0.0.1:1001) groupid:7",
      "[Kelvarn][stprc] SetStpRc地址为:(10.0.0.2:1002) groupid:3",
      "[Kelvarn][stprc] SetStpRc地址为:(10.0.0.3:1003) groupid:7",
      "[Kelvarn][stprc] SetStpRc地址为:(10.0.0.4:1004) groupid:3",
      "[Kelvarn][stprc] 排序后输入的stprcIp地址为:(10.0.0.2:1002) groupid:3 groupindex:0",
      "[Kelvarn][stprc] 排序后输入的stprcIp地址为:(10.0.0.4:1004) groupid:3 groupindex:0",
      "[Kelvarn][stprc] 排序后输入的stprcIp地址为:(10.0.0.1:1001) groupid:7 groupindex:1",
      "[Kelvarn][stprc] 排序后输入的stprcIp地址为:(10.0.0.3:1003) groupid:7 groupindex:1",
  };
  EXPECT_EQ(want, Texts(cap));
  for (const LogLine& l : cap.Lines()) {
    EXPECT_EQ(ReportLogCategory, l.category);
    EXPECT_EQ(ReportLogSubType, l.subType);
    EXPECT_EQ(Log::kWarning, l.level);
  }
}

TEST(StprcTable, ImageBytesOfOneEntryAndAnIpFieldWithoutNul) {
  StprcAddrEntry e = Entry("192.168.1.2", 0x1F90, 0x01020304);
  e.reserved = 0xBEEF;           // ignored on input
  memcpy(e.stprcIp + 12, "xyz", 4);  // bytes after the NUL travel as given
  StprcGroupTable t;
  ASSERT_EQ(1u, t.Build(&e, 1, StprcGroupTable::Variant::kSetStpRc));
  const uint8_t* p = t.Data();
  EXPECT_EQ(0, memcmp(p, e.stprcIp, 16));
  const uint8_t tail[8] = {0x90, 0x1F, 0, 0, 0x04, 0x03, 0x02, 0x01};
  EXPECT_EQ(0, memcmp(p + 16, tail, 8));
  EXPECT_EQ(240u, t.MessageLength());

  LogCapture cap;
  memset(e.stprcIp, '9', 16);
  ASSERT_EQ(1u, t.Build(&e, 1, StprcGroupTable::Variant::kSetStpRc));
  EXPECT_TRUE(cap.Contains("(9999999999999999:8080)"));  // printed within its sixteen bytes
}

TEST(StprcTable, TwelveOfOneGroupKeepTenAndElevenGroupsKeepTen) {
  LogCapture cap;
  std::vector<StprcAddrEntry> in;
  for (uint16_t i = 0; i < 12; ++i) in.push_back(Entry("10.0.0.1", static_cast<uint16_t>(100 + i), 5));
  StprcGroupTable t;
  EXPECT_EQ(10u, t.Build(in.data(), 12, StprcGroupTable::Variant::kStartup));
  EXPECT_EQ(1u, t.GroupsSent());
  EXPECT_EQ(109, PortAt(t, 0, 9));
  EXPECT_EQ(2u, cap.Count("[Kelvarn][stprc] 输入的stprcIp地址 groupindex > MAX_STPRC_GROUP_NUM-1 || "
                          "ninnerid > MAX_STPRC_NUM-1"));

  cap.Clear();
  in.clear();
  // Given in descending order: the sort must put group 100 first.
  for (uint32_t g = 11; g >= 1; --g) in.push_back(Entry("10.0.0.1", static_cast<uint16_t>(g), g * 100));
  EXPECT_EQ(10u, t.Build(in.data(), 11, StprcGroupTable::Variant::kSetStpRc));
  EXPECT_EQ(10u, t.GroupsSent());
  EXPECT_EQ(2400u, t.MessageLength());
  EXPECT_EQ(1, PortAt(t, 0, 0));
  EXPECT_EQ(10, PortAt(t, 9, 0));
  EXPECT_EQ(1u, cap.Count("groupindex > MAX_STPRC_GROUP_NUM-1"));
  EXPECT_TRUE(cap.Contains("(10.0.0.1:11) groupid:1100 groupindex:10"));
}

// Each variant has its own texts; only SetStpRc logs an entry with port 0.
TEST(StprcTable, EachVariantLogsItsOwnTexts) {
  using V = StprcGroupTable::Variant;
  const std::string p = "[Kelvarn][stprc] ";
  const std::string sorted = p + "排序后输入的stprcIp地址为:(10.0.0.1:0) groupid:0 groupindex";
  const struct { V v; std::vector<std::string> lines; } cases[] = {
      {V::kSetStpRc,
       {p + "SetStpRc地址为:(10.0.0.1:0) groupid:0", sorted + ":0",
        p + "排序后输入的stprcIp地址 stprcPort为0"}},
      {V::kStartup, {p + "输入的stprcIp地址为:(10.0.0.1:0) groupid:0", sorted + "：0"}},
  };
  const StprcAddrEntry e = Entry("10.0.0.1", 0, 0);
  for (const auto& c : cases) {
    LogCapture cap;
    StprcGroupTable t;
    EXPECT_EQ(0u, t.Build(&e, 1, c.v));
    EXPECT_EQ(c.lines, Texts(cap));
  }
}

TEST(StprcTable, GroupIdsCompareUnsignedAnEmptiedGroupIsSentBeforeALaterOneAndRebuildsClear) {
  const StprcAddrEntry in[2] = {Entry("10.0.0.9", 9, 0x80000000u), Entry("10.0.0.1", 1, 1)};
  StprcGroupTable t;
  ASSERT_EQ(2u, t.Build(in, 2, StprcGroupTable::Variant::kSetStpRc));
  EXPECT_EQ("10.0.0.1", IpAt(t, 0, 0));
  EXPECT_EQ("10.0.0.9", IpAt(t, 1, 0));

  const StprcAddrEntry emptied[2] = {Entry("10.0.0.1", 0, 1), Entry("10.0.0.2", 2, 2)};
  ASSERT_EQ(1u, t.Build(emptied, 2, StprcGroupTable::Variant::kSetStpRc));
  EXPECT_EQ(480u, t.MessageLength());
  for (int i = 0; i < 240; ++i) ASSERT_EQ(0, t.Data()[i]);
  EXPECT_EQ("10.0.0.2", IpAt(t, 1, 0));

  // A rebuild starts from zero, also with no entries.
  EXPECT_EQ(0u, t.Build(nullptr, 5, StprcGroupTable::Variant::kSetStpRc));
  EXPECT_EQ(0u, t.Build(in, 0, StprcGroupTable::Variant::kSetStpRc));
  for (size_t i = 0; i < 2400; ++i) ASSERT_EQ(0, t.Data()[i]);
}
