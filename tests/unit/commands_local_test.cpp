// Local bodies: the destination trailer of 4002/4005 and the STPRC groups of
// Report_RC_ADDR_CMD as the session reads them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "report/LocalCommands.h"
#include "report/ReportCommands.h"

using namespace report;

TEST(CommandsLocal, TrailerCarriesTheWholeFieldAndAPortLittleEndianAndReadsBack) {
  // The host's 16-byte field travels unchanged, bytes after the NUL too.
  char field[16];
  memcpy(field, "10.0.0.1\0garbage", 16);
  std::vector<uint8_t> body(3 + kDestTrailerBytes, 0);
  WriteDestTrailer(field, 0x1F90, body.data() + 3);
  EXPECT_EQ(0, memcmp(body.data() + 3, field, 16));
  EXPECT_EQ((std::vector<uint8_t>{0x90, 0x1F}), std::vector<uint8_t>(body.end() - 2, body.end()));
  DestTrailer t;
  ASSERT_TRUE(ReadDestTrailer(body.data(), body.size(), &t));  // the last 18 bytes
  EXPECT_STREQ("10.0.0.1", t.ip);
  EXPECT_EQ(0x1F90, t.port);

  // An ip field without a NUL is cut at 15 characters; exactly 18 bytes is
  // an empty record.
  memset(body.data() + 3, 'A', 16);
  ASSERT_TRUE(ReadDestTrailer(body.data() + 3, kDestTrailerBytes, &t));
  EXPECT_EQ(15u, strlen(t.ip));

  // Short bodies leave the result alone; no field writes zeros.
  EXPECT_FALSE(ReadDestTrailer(body.data(), 17, &t));
  EXPECT_FALSE(ReadDestTrailer(nullptr, 18, &t));
  EXPECT_EQ(15u, strlen(t.ip));
  WriteDestTrailer(nullptr, 0, body.data() + 3);
  EXPECT_EQ(std::vector<uint8_t>(body.size(), 0), body);
}

namespace {

void PutEntry(std::vector<uint8_t>& body, size_t group, size_t index, const char* ip,
              uint16_t port) {
  uint8_t* e = body.data() + group * kStprcGroupBytes + index * kStprcEntryBytes;
  memcpy(e, ip, strnlen(ip, 16));
  e[16] = static_cast<uint8_t>(port);
  e[17] = static_cast<uint8_t>(port >> 8);
  e[20] = 3;  // a group id, which the reader ignores
}

}  // namespace

TEST(CommandsLocal, RcAddrReadsGroupsUntilPortZeroAndKeepsTen) {
  std::vector<uint8_t> body(12 * kStprcGroupBytes + 100, 0);  // trailing partial group ignored
  PutEntry(body, 0, 0, "10.0.0.1", 9000);
  PutEntry(body, 0, 1, "10.0.0.2", 9001);
  PutEntry(body, 0, 2, "10.0.0.3", 0);  // ends group 0
  PutEntry(body, 0, 3, "10.0.0.4", 9003);
  PutEntry(body, 1, 1, "10.0.0.9", 9000);  // a first entry with port 0 empties its group
  for (size_t g = 2; g < 12; ++g) PutEntry(body, g, 0, "10.0.1.1", static_cast<uint16_t>(100 + g));
  RcAddrGroups g;
  EXPECT_EQ(12u, ReadRcAddrCmd(body.data(), body.size(), &g));
  EXPECT_EQ(10u, g.groupsUsed);
  const std::vector<uint32_t> counts(g.entryCount, g.entryCount + 3);
  EXPECT_EQ((std::vector<uint32_t>{2, 0, 1}), counts);
  EXPECT_STREQ("10.0.0.2", g.table[0][1].udp_ip);
  EXPECT_EQ(9001, g.table[0][1].udp_port);
  EXPECT_EQ(0, g.table[0][3].udp_port);
  EXPECT_STREQ("10.0.1.1", g.table[2][0].udp_ip);
  EXPECT_EQ(0u, g.table[2][0].kind);
  EXPECT_EQ(109, g.table[9][0].udp_port);

  EXPECT_EQ(0u, ReadRcAddrCmd(body.data(), kStprcGroupBytes - 1, &g));
  EXPECT_EQ(0u, g.groupsUsed);
  EXPECT_EQ(0u, ReadRcAddrCmd(nullptr, 480, &g));
}
