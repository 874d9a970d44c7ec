// Local bodies: the destination trailer of 4002/4005 and the STPRC groups of
// Report_RC_ADDR_CMD as the session reads them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "report/LocalCommands.h"
#include "report/ReportCommands.h"

using namespace report;

TEST(CommandsLocal, TrailerWriteCopiesTheWholeFieldAndPortLittleEndian) {
  // The host's 16-byte field travels unchanged, bytes after the NUL too.
  char field[16];
  memcpy(field, "10.0.0.1\0garbage", 16);
  uint8_t out[kDestTrailerBytes];
  WriteDestTrailer(field, 0x1F90, out);
  EXPECT_EQ(0, memcmp(out, field, 16));
  EXPECT_EQ(0x90, out[16]);
  EXPECT_EQ(0x1F, out[17]);

  WriteDestTrailer(nullptr, 0, out);
  for (uint8_t b : out) EXPECT_EQ(0, b);
}

TEST(CommandsLocal, TrailerReadTakesTheLast18BytesAndRefusesFewer) {
  std::vector<uint8_t> body(3 + 18, 0);
  memcpy(body.data() + 3, "192.168.100.200", 16);
  body[19] = 0x58;
  body[20] = 0x1B;
  DestTrailer t;
  ASSERT_TRUE(ReadDestTrailer(body.data(), body.size(), &t));
  EXPECT_STREQ("192.168.100.200", t.ip);
  EXPECT_EQ(7000, t.port);
  ASSERT_TRUE(ReadDestTrailer(body.data() + 3, 18, &t));  // exactly 18: an empty record
  EXPECT_EQ(7000, t.port);

  // An ip field without a NUL is cut at 15 characters.
  uint8_t noNul[18];
  memset(noNul, 'A', 16);
  noNul[16] = 1;
  noNul[17] = 0;
  ASSERT_TRUE(ReadDestTrailer(noNul, sizeof(noNul), &t));
  EXPECT_EQ(15u, strlen(t.ip));
  EXPECT_EQ(1, t.port);

  // Short bodies leave the result alone.
  strcpy(t.ip, "keep");
  t.port = 5;
  EXPECT_FALSE(ReadDestTrailer(noNul, 17, &t));
  EXPECT_FALSE(ReadDestTrailer(nullptr, 18, &t));
  EXPECT_STREQ("keep", t.ip);
  EXPECT_EQ(5, t.port);
}

namespace {

void PutEntry(std::vector<uint8_t>& body, size_t group, size_t index, const char* ip,
              uint16_t port, uint32_t groupid) {
  uint8_t* e = body.data() + group * kStprcGroupBytes + index * kStprcEntryBytes;
  memset(e, 0, kStprcEntryBytes);
  memcpy(e, ip, strnlen(ip, 16));
  e[16] = static_cast<uint8_t>(port);
  e[17] = static_cast<uint8_t>(port >> 8);
  e[20] = static_cast<uint8_t>(groupid);
}

}  // namespace

TEST(CommandsLocal, RcAddrReadsGroupsUntilPortZero) {
  std::vector<uint8_t> body(2 * kStprcGroupBytes + 100, 0);  // trailing partial group ignored
  PutEntry(body, 0, 0, "10.0.0.1", 9000, 3);
  PutEntry(body, 0, 1, "10.0.0.2", 9001, 3);
  PutEntry(body, 0, 2, "10.0.0.3", 0, 3);   // ends group 0
  PutEntry(body, 0, 3, "10.0.0.4", 9003, 3);
  PutEntry(body, 1, 0, "10.0.1.1", 9100, 7);
  RcAddrGroups g;
  EXPECT_EQ(2u, ReadRcAddrCmd(body.data(), body.size(), &g));
  EXPECT_EQ(2u, g.groupsUsed);
  EXPECT_EQ(2u, g.entryCount[0]);
  EXPECT_EQ(1u, g.entryCount[1]);
  EXPECT_STREQ("10.0.0.2", g.table[0][1].udp_ip);
  EXPECT_EQ(9001, g.table[0][1].udp_port);
  EXPECT_EQ(0, g.table[0][3].udp_port);
  EXPECT_STREQ("10.0.1.1", g.table[1][0].udp_ip);
  EXPECT_EQ(0u, g.table[1][0].kind);

  // A first entry with port 0 empties its group.
  std::vector<uint8_t> one(kStprcGroupBytes, 0);
  PutEntry(one, 0, 1, "10.0.0.9", 9000, 0);
  EXPECT_EQ(1u, ReadRcAddrCmd(one.data(), one.size(), &g));
  EXPECT_EQ(0u, g.entryCount[0]);
}

TEST(CommandsLocal, RcAddrKeepsTenOfMoreGroupsAndNoneOfAShortBody) {
  std::vector<uint8_t> body(12 * kStprcGroupBytes, 0);
  for (size_t g = 0; g < 12; ++g) PutEntry(body, g, 0, "10.0.0.1", static_cast<uint16_t>(100 + g), 0);
  RcAddrGroups g;
  EXPECT_EQ(12u, ReadRcAddrCmd(body.data(), body.size(), &g));
  EXPECT_EQ(10u, g.groupsUsed);
  EXPECT_EQ(109, g.table[9][0].udp_port);

  EXPECT_EQ(0u, ReadRcAddrCmd(body.data(), kStprcGroupBytes - 1, &g));
  EXPECT_EQ(0u, g.groupsUsed);
  EXPECT_EQ(0u, ReadRcAddrCmd(nullptr, 480, &g));
}
