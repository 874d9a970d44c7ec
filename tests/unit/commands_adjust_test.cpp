// Media adjustment bodies (6003, 6004) and the records handed to the host.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "report/AdjustCommands.h"
#include "report/StprcCommands.h"
#include "wire_golden.h"

using namespace report;

namespace {

uint32_t U32At(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The golden notify, followed by `extra` bytes that must be ignored.
std::vector<uint8_t> MarkedNotify(size_t len) {
  std::vector<uint8_t> b = golden::AdjustNotify();
  b.resize(len, 0xEE);
  return b;
}

AdjustNotify MarkedNotifyRead() {
  const std::vector<uint8_t> b = MarkedNotify(88);
  AdjustNotify n;
  EXPECT_EQ(0, ReadAdjustNotify(b.data(), b.size(), &n));
  return n;
}

// The u32 words of a raw record, from byte `at` on.
void ExpectWords(const uint8_t* raw, size_t at, std::vector<uint32_t> want) {
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(want[i], U32At(raw + at + 4 * i)) << "at " << at + 4 * i;
}

}  // namespace

TEST(CommandsAdjust, NotifyReadsEveryFieldAtItsOffsetAndRefuses87Bytes) {
  const std::vector<uint8_t> b = MarkedNotify(100);  // longer bodies accepted
  AdjustNotify n;
  ASSERT_EQ(0, ReadAdjustNotify(b.data(), b.size(), &n));
  const uint32_t AdjustNotify::*words[] = {
      &AdjustNotify::Dialog, &AdjustNotify::PacketId, &AdjustNotify::meetId, &AdjustNotify::UserId,
      &AdjustNotify::speakId, &AdjustNotify::a1, &AdjustNotify::a2, &AdjustNotify::a3, &AdjustNotify::a4};
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(1000u + 4 * i, n.*words[i]) << "word " << i;
  const uint32_t AdjustNotify::*tail[] = {&AdjustNotify::capture, &AdjustNotify::b1, &AdjustNotify::b2,
                                          &AdjustNotify::u1,      &AdjustNotify::u2, &AdjustNotify::u3,
                                          &AdjustNotify::d1,      &AdjustNotify::d2, &AdjustNotify::d3,
                                          &AdjustNotify::d4,      &AdjustNotify::d5};
  for (size_t i = 0; i < 11; ++i) EXPECT_EQ(1040u + 4 * i, n.*tail[i]) << "tail " << i;
  EXPECT_EQ(7, n.fecFirst);
  EXPECT_EQ(9, n.fecSecond);
  EXPECT_EQ(-1, n.retrans);
  EXPECT_EQ(0x11, n.c1);
  EXPECT_EQ(0x22, n.c2);


  AdjustNotify untouched;
  untouched.Dialog = 42;
  EXPECT_EQ(-1, ReadAdjustNotify(b.data(), 87, &untouched));
  EXPECT_EQ(-1, ReadAdjustNotify(nullptr, 88, &untouched));
  EXPECT_EQ(42u, untouched.Dialog);
}

TEST(CommandsAdjust, TheGoldenNotifyIsAnsweredWithTheGoldenAck) {
  const AdjustNotify n = MarkedNotifyRead();
  uint8_t out[40];
  ASSERT_EQ(40, WriteAdjustAck(n, out, sizeof(out)));
  EXPECT_EQ(std::vector<uint8_t>(out, out + 40), golden::AdjustAck());
  EXPECT_EQ(-1, WriteAdjustAck(n, out, 39));
}

TEST(CommandsAdjust, UplinkAndDownlinkRecordsCarryEachFieldInItsPlace) {
  const AdjustNotify n = MarkedNotifyRead();
  AdjustUplinkInfo up;
  memset(&up, 0xCC, sizeof(up));
  FillAdjustUplinkInfo(n, &up);
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&up);
  ExpectWords(raw, 0, {1008, 1012, 1020, 1024, 1028, 1032});  // meetId, UserId, a1..a4: no speakId
  EXPECT_EQ((std::vector<uint8_t>{7, 9, 0xFF, 0xFF}), std::vector<uint8_t>(raw + 24, raw + 28));
  ExpectWords(raw, 28, {1040, 1044, 1048, 1052, 1056, 1060});
  EXPECT_EQ((std::vector<uint8_t>{0x11, 0x22, 0, 0}), std::vector<uint8_t>(raw + 52, raw + 56));

  AdjustDownlinkInfo down;
  memset(&down, 0xCC, sizeof(down));
  FillAdjustDownlinkInfo(n, &down);
  raw = reinterpret_cast<const uint8_t*>(&down);
  ExpectWords(raw, 0, {1008, 1012, 1016, 1020, 1024, 1028, 1032});
  EXPECT_EQ(7, raw[28]);
  EXPECT_EQ(9, raw[29]);
  ExpectWords(raw, 32, {1040, 1044, 1048, 1064, 1068, 1072, 1076, 1080});
  EXPECT_EQ((std::vector<uint8_t>{0x11, 0x22, 0, 0}), std::vector<uint8_t>(raw + 64, raw + 68));
}

TEST(CommandsStprc, AddrRespReadsTheGoldenBytesIgnoresExtraOnesAndRefusesAShortBody) {
  std::vector<uint8_t> body = golden::StpAddrResp();
  body.resize(30, 0xAA);
  const golden::StpAddrRespFields f;
  StpAddrResp r;
  ASSERT_EQ(0, ReadStpAddrResp(body.data(), body.size(), &r));
  EXPECT_STREQ(f.ip, r.ip);
  EXPECT_EQ(f.port, r.port);
  EXPECT_EQ(f.result, r.result);
  EXPECT_EQ(-1, ReadStpAddrResp(body.data(), 21, &r));
  EXPECT_EQ(-1, ReadStpAddrResp(nullptr, 22, &r));
}
