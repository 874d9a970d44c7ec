// Media adjustment bodies (6003, 6004) and the STPRC answer against the
// golden bytes. The records handed to the host are checked end to end.
#include <gtest/gtest.h>

#include <vector>

#include "report/AdjustCommands.h"
#include "report/StprcCommands.h"
#include "wire_golden.h"

using namespace report;

TEST(CommandsAdjust, TheGoldenNotifyIsAnsweredWithTheGoldenAckAndACutOneIsRefused) {
  std::vector<uint8_t> b = golden::AdjustNotify();
  b.resize(100, 0xEE);  // longer bodies are accepted, the rest ignored
  AdjustNotify n;
  ASSERT_EQ(0, ReadAdjustNotify(b.data(), b.size(), &n));
  uint8_t out[40];
  ASSERT_EQ(40, WriteAdjustAck(n, out, sizeof(out)));
  EXPECT_EQ(std::vector<uint8_t>(out, out + 40), golden::AdjustAck());
  EXPECT_EQ(-1, WriteAdjustAck(n, out, 39));

  AdjustNotify untouched;
  untouched.Dialog = 42;
  EXPECT_EQ(-1, ReadAdjustNotify(b.data(), 87, &untouched));
  EXPECT_EQ(-1, ReadAdjustNotify(nullptr, 88, &untouched));
  EXPECT_EQ(42u, untouched.Dialog);
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
