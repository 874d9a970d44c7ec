// Local bodies: the destination trailer of 4002/4005 and the STPRC groups of
// Report_RC_ADDR_CMD as the session reads them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "report/LocalCommands.h"
#include "report/ReportCommands.h"

using namespace report;

TEST(CommandsLocal, MessageTypes) {
  EXPECT_EQ(4001u, Report_RC_ADDR_CMD);
  const uint32_t all[] = {Report_LOCAL_REP_CMD,      Report_RC_ADDR_CMD,
                          Report_LOCAL_QOSINFO_CMD,  Report_CONFIG_DIR_CMD,
                          Report_LOCAL_QOSINFO_CMD_NEW, Report_RECVER_ADDR_MAP_CMD,
                          Report_QOSINFO_CMD,        Report_SECURE_QOSINFO_CMD,
                          Report_SECURE_ACK_CMD,     Stprc_ADDR_REQ_CMD,
                          Stprc_ADDR_RESP_CMD,       Adjust_MEDIA_NOTIFY_CMD,
                          Adjust_MEDIA_ACK_CMD,      Report_LOG_RESP_CMD,
                          Report_RECEIVERS_RESP_CMD};
  const uint32_t want[] = {4000, 4001, 4002, 4004, 4005, 4006, 1116, 1119,
                           1120, 6801, 6802, 6003, 6004, 1112, 115};
  for (size_t i = 0; i < sizeof(all) / sizeof(all[0]); ++i) EXPECT_EQ(want[i], all[i]);
}

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

TEST(CommandsLocal, TrailerReadTakesTheLast18Bytes) {
  std::vector<uint8_t> body = {1, 2, 3};
  const char ip[16] = "192.168.100.200";
  body.insert(body.end(), ip, ip + 16);
  body.push_back(0x58);
  body.push_back(0x1B);
  DestTrailer t;
  ASSERT_TRUE(ReadDestTrailer(body.data(), body.size(), &t));
  EXPECT_STREQ("192.168.100.200", t.ip);
  EXPECT_EQ(7000, t.port);

  // Exactly 18 bytes: an empty record.
  ASSERT_TRUE(ReadDestTrailer(body.data() + 3, 18, &t));
  EXPECT_EQ(7000, t.port);
}

TEST(CommandsLocal, TrailerIpWithoutNulIsCutAt15) {
  uint8_t t[18];
  memset(t, 'A', 16);
  t[16] = 1;
  t[17] = 0;
  DestTrailer d;
  ASSERT_TRUE(ReadDestTrailer(t, sizeof(t), &d));
  EXPECT_EQ(15u, strlen(d.ip));
  EXPECT_EQ(1, d.port);
}

TEST(CommandsLocal, TrailerRefusesShortBodies) {
  uint8_t b[17] = {};
  DestTrailer d;
  strcpy(d.ip, "keep");
  d.port = 5;
  EXPECT_FALSE(ReadDestTrailer(b, 17, &d));
  EXPECT_FALSE(ReadDestTrailer(nullptr, 18, &d));
  EXPECT_STREQ("keep", d.ip);
  EXPECT_EQ(5, d.port);
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
}

TEST(CommandsLocal, RcAddrEmptyFirstGroupAndShortBodies) {
  std::vector<uint8_t> body(kStprcGroupBytes, 0);
  PutEntry(body, 0, 1, "10.0.0.9", 9000, 0);  // after a port-0 entry: not read
  RcAddrGroups g;
  EXPECT_EQ(1u, ReadRcAddrCmd(body.data(), body.size(), &g));
  EXPECT_EQ(0u, g.entryCount[0]);

  EXPECT_EQ(0u, ReadRcAddrCmd(body.data(), kStprcGroupBytes - 1, &g));
  EXPECT_EQ(0u, g.groupsUsed);
  EXPECT_EQ(0u, ReadRcAddrCmd(nullptr, 480, &g));
}

TEST(CommandsLocal, RcAddrKeepsTenOfMoreGroups) {
  std::vector<uint8_t> body(12 * kStprcGroupBytes, 0);
  for (size_t g = 0; g < 12; ++g) PutEntry(body, g, 0, "10.0.0.1", static_cast<uint16_t>(100 + g), 0);
  RcAddrGroups g;
  EXPECT_EQ(12u, ReadRcAddrCmd(body.data(), body.size(), &g));
  EXPECT_EQ(10u, g.groupsUsed);
  EXPECT_EQ(109, g.table[9][0].udp_port);
}
