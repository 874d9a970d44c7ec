// Media adjustment bodies (6003, 6004) and the records handed to the host.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "report/AdjustCommands.h"
#include "report/StprcCommands.h"

using namespace report;

namespace {

uint32_t U32At(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// A notify body whose u32 at offset o is 1000 + o, so every field shows
// which offset it came from.
std::vector<uint8_t> MarkedNotify(size_t len) {
  std::vector<uint8_t> b(len, 0xEE);
  for (size_t o = 0; o + 4 <= 88; o += 4) {
    const uint32_t v = 1000 + static_cast<uint32_t>(o);
    for (int i = 0; i < 4; ++i) b[o + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  b[36] = 7;     // fec first
  b[37] = 9;     // fec second
  b[38] = 0xFF;  // retrans -1
  b[39] = 0xFF;
  b[84] = 0x11;  // c1
  b[85] = 0x22;  // c2
  return b;
}

}  // namespace

TEST(CommandsAdjust, PublicRecordLayout) {
  EXPECT_EQ(24u, sizeof(StprcAddrEntry));
  EXPECT_EQ(16u, offsetof(StprcAddrEntry, stprcPort));
  EXPECT_EQ(20u, offsetof(StprcAddrEntry, groupid));
  EXPECT_EQ(56u, sizeof(AdjustUplinkInfo));
  EXPECT_EQ(24u, offsetof(AdjustUplinkInfo, fecFirst));
  EXPECT_EQ(26u, offsetof(AdjustUplinkInfo, retrans));
  EXPECT_EQ(28u, offsetof(AdjustUplinkInfo, capture));
  EXPECT_EQ(48u, offsetof(AdjustUplinkInfo, u3));
  EXPECT_EQ(52u, offsetof(AdjustUplinkInfo, c1));
  EXPECT_EQ(68u, sizeof(AdjustDownlinkInfo));
  EXPECT_EQ(8u, offsetof(AdjustDownlinkInfo, speakId));
  EXPECT_EQ(28u, offsetof(AdjustDownlinkInfo, fecFirst));
  EXPECT_EQ(32u, offsetof(AdjustDownlinkInfo, capture));
  EXPECT_EQ(60u, offsetof(AdjustDownlinkInfo, d5));
  EXPECT_EQ(64u, offsetof(AdjustDownlinkInfo, c1));
}

TEST(CommandsAdjust, NotifyReadsEveryFieldAtItsOffset) {
  const std::vector<uint8_t> b = MarkedNotify(100);  // longer bodies accepted
  AdjustNotify n;
  ASSERT_EQ(0, ReadAdjustNotify(b.data(), b.size(), &n));
  EXPECT_EQ(1000u, n.Dialog);
  EXPECT_EQ(1004u, n.PacketId);
  EXPECT_EQ(1008u, n.meetId);
  EXPECT_EQ(1012u, n.UserId);
  EXPECT_EQ(1016u, n.speakId);
  EXPECT_EQ(1020u, n.a1);
  EXPECT_EQ(1024u, n.a2);
  EXPECT_EQ(1028u, n.a3);
  EXPECT_EQ(1032u, n.a4);
  EXPECT_EQ(7, n.fecFirst);
  EXPECT_EQ(9, n.fecSecond);
  EXPECT_EQ(-1, n.retrans);
  EXPECT_EQ(1040u, n.capture);
  EXPECT_EQ(1044u, n.b1);
  EXPECT_EQ(1048u, n.b2);
  EXPECT_EQ(1052u, n.u1);
  EXPECT_EQ(1056u, n.u2);
  EXPECT_EQ(1060u, n.u3);
  EXPECT_EQ(1064u, n.d1);
  EXPECT_EQ(1068u, n.d2);
  EXPECT_EQ(1072u, n.d3);
  EXPECT_EQ(1076u, n.d4);
  EXPECT_EQ(1080u, n.d5);
  EXPECT_EQ(0x11, n.c1);
  EXPECT_EQ(0x22, n.c2);

  // Write gives the same bytes back (fill zeroed).
  uint8_t out[88];
  ASSERT_EQ(88, WriteAdjustNotify(n, out, sizeof(out)));
  EXPECT_EQ(0, memcmp(out, b.data(), 86));
  EXPECT_EQ(0, out[86]);
  EXPECT_EQ(0, out[87]);
  EXPECT_EQ(-1, WriteAdjustNotify(n, out, 87));
}

TEST(CommandsAdjust, NotifyRefuses87Bytes) {
  const std::vector<uint8_t> b = MarkedNotify(88);
  AdjustNotify n;
  n.Dialog = 42;
  EXPECT_EQ(-1, ReadAdjustNotify(b.data(), 87, &n));
  EXPECT_EQ(-1, ReadAdjustNotify(nullptr, 88, &n));
  EXPECT_EQ(42u, n.Dialog);
}

TEST(CommandsAdjust, AckHasTenWordsWithZerosAtSevenAndNine) {
  const std::vector<uint8_t> b = MarkedNotify(88);
  AdjustNotify n;
  ASSERT_EQ(0, ReadAdjustNotify(b.data(), b.size(), &n));
  uint8_t out[40];
  ASSERT_EQ(40, WriteAdjustAck(n, out, sizeof(out)));
  const uint32_t want[10] = {1000, 1004, 1008, 1012, 1016, 1020, 1024, 0, 1032, 0};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(want[i], U32At(out + 4 * i)) << "word " << i;
  EXPECT_EQ(-1, WriteAdjustAck(n, out, 39));

  AdjustAck ack;
  ASSERT_EQ(0, ReadAdjustAck(out, 40, &ack));
  EXPECT_EQ(1032u, ack.words[8]);
  EXPECT_EQ(-1, ReadAdjustAck(out, 39, &ack));
}

TEST(CommandsAdjust, UplinkRecordCarriesNoSpeakIdAndZeroFill) {
  const std::vector<uint8_t> b = MarkedNotify(88);
  AdjustNotify n;
  ASSERT_EQ(0, ReadAdjustNotify(b.data(), b.size(), &n));
  AdjustUplinkInfo up;
  memset(&up, 0xCC, sizeof(up));
  FillAdjustUplinkInfo(n, &up);
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&up);
  // meetId, UserId, a1..a4 at 0..20.
  const uint32_t head[6] = {1008, 1012, 1020, 1024, 1028, 1032};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(head[i], U32At(raw + 4 * i));
  EXPECT_EQ(7, raw[24]);
  EXPECT_EQ(9, raw[25]);
  EXPECT_EQ(0xFF, raw[26]);
  EXPECT_EQ(0xFF, raw[27]);
  const uint32_t tail[6] = {1040, 1044, 1048, 1052, 1056, 1060};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(tail[i], U32At(raw + 28 + 4 * i));
  EXPECT_EQ(0x11, raw[52]);
  EXPECT_EQ(0x22, raw[53]);
  EXPECT_EQ(0, raw[54]);
  EXPECT_EQ(0, raw[55]);
}

TEST(CommandsAdjust, DownlinkRecordLayout) {
  const std::vector<uint8_t> b = MarkedNotify(88);
  AdjustNotify n;
  ASSERT_EQ(0, ReadAdjustNotify(b.data(), b.size(), &n));
  AdjustDownlinkInfo down;
  memset(&down, 0xCC, sizeof(down));
  FillAdjustDownlinkInfo(n, &down);
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&down);
  const uint32_t head[7] = {1008, 1012, 1016, 1020, 1024, 1028, 1032};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(head[i], U32At(raw + 4 * i));
  EXPECT_EQ(7, raw[28]);
  EXPECT_EQ(9, raw[29]);
  const uint32_t tail[8] = {1040, 1044, 1048, 1064, 1068, 1072, 1076, 1080};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(tail[i], U32At(raw + 32 + 4 * i));
  EXPECT_EQ(0x11, raw[64]);
  EXPECT_EQ(0x22, raw[65]);
  EXPECT_EQ(0, raw[66]);
  EXPECT_EQ(0, raw[67]);
}

TEST(CommandsStprc, AddrRespRoundTripAndShortBody) {
  StpAddrResp in;
  strcpy(in.ip, "10.20.30.40");
  in.port = 0x1234;
  in.result = 0x01020304;
  uint8_t out[30];
  memset(out, 0xAA, sizeof(out));
  ASSERT_EQ(22, WriteStpAddrResp(in, out, sizeof(out)));
  const uint8_t want[22] = {'1', '0', '.', '2', '0', '.', '3', '0', '.', '4', '0', 0, 0, 0, 0,
                            0,   0x34, 0x12, 4, 3, 2, 1};
  EXPECT_EQ(0, memcmp(want, out, 22));
  EXPECT_EQ(0xAA, out[22]);
  EXPECT_EQ(-1, WriteStpAddrResp(in, out, 21));

  StpAddrResp r;
  ASSERT_EQ(0, ReadStpAddrResp(out, 30, &r));  // extra bytes ignored
  EXPECT_STREQ("10.20.30.40", r.ip);
  EXPECT_EQ(0x1234, r.port);
  EXPECT_EQ(0x01020304u, r.result);
  EXPECT_EQ(-1, ReadStpAddrResp(out, 21, &r));
  EXPECT_EQ(-1, ReadStpAddrResp(nullptr, 22, &r));
}
