// The demo's records and notifications: every corruption must be caught, and
// the expected callback records must match the public header's layout.
#include <gtest/gtest.h>

#include <cstring>

#include "demo_record.h"

using namespace vdemo;

TEST(DemoRecord, EachRecordChecksAsItselfAndSizesStayInBounds) {
  std::vector<uint8_t> r;
  for (uint32_t seq : {0u, 1u, 2u, 207u, 208u, 65535u, 1999999u}) {
    BuildRecord(seq, &r);
    EXPECT_EQ(RecordSize(seq), r.size());
    EXPECT_GE(r.size(), kRecordMinSize);
    EXPECT_LE(r.size(), kRecordMaxSize);
    uint32_t got = ~seq;
    ASSERT_EQ(RecordCheck::kOk, CheckRecord(r.data(), r.size(), &got)) << seq;
    EXPECT_EQ(seq, got);
  }
}

TEST(DemoRecord, AnyChangedByteCutOrExtensionIsCorrupt) {
  std::vector<uint8_t> r;
  BuildRecord(77, &r);
  uint32_t seq = 0;
  // Byte 0..3 is the magic: a change there makes it someone else's record.
  for (size_t i = 4; i < r.size(); ++i) {
    std::vector<uint8_t> bad = r;
    bad[i] ^= 0x01;
    EXPECT_EQ(RecordCheck::kCorrupt, CheckRecord(bad.data(), bad.size(), &seq)) << i;
  }
  EXPECT_EQ(RecordCheck::kCorrupt, CheckRecord(r.data(), r.size() - 1, &seq));
  std::vector<uint8_t> longer = r;
  longer.push_back(0);
  EXPECT_EQ(RecordCheck::kCorrupt, CheckRecord(longer.data(), longer.size(), &seq));
  EXPECT_EQ(RecordCheck::kCorrupt, CheckRecord(r.data(), 6, &seq));
  std::vector<uint8_t> foreign = r;
  foreign[0] ^= 0xFF;
  EXPECT_EQ(RecordCheck::kNotOurs, CheckRecord(foreign.data(), foreign.size(), &seq));
  EXPECT_EQ(RecordCheck::kNotOurs, CheckRecord(r.data(), 3, &seq));
}

TEST(DemoNotify, AlternatesDirectionAndNeverRepeatsThePreviousPair) {
  for (uint32_t i = 0; i < 40; ++i) {
    const vpeer::AdjustNotify n = BuildNotify(5, i);
    EXPECT_EQ(IsUplink(i), n.speakId < 10000) << i;
    if (i > 0) {
      EXPECT_NE(BuildNotify(5, i - 1).PacketId, n.PacketId);
    }
    EXPECT_FALSE(n.Dialog == 0 && n.PacketId == 0);
  }
}

TEST(DemoNotify, ExpectedCallbackRecordsNameTheirNotification) {
  const vpeer::AdjustNotify up = BuildNotify(9, 4);
  const std::vector<uint8_t> u = ExpectedUplink(up);
  ASSERT_EQ(56u, u.size());
  AdjustUplinkInfo ui;
  std::memcpy(&ui, u.data(), sizeof(ui));
  EXPECT_EQ(up.meetId, ui.meetId);
  EXPECT_EQ(up.capture, ui.capture);
  EXPECT_EQ(up.c2, ui.c2);
  EXPECT_EQ(0, ui.fill[0] | ui.fill[1]);
  uint32_t index = 0;
  ASSERT_TRUE(IndexOfCallback(0, u.data(), &index));
  EXPECT_EQ(4u, index);

  const vpeer::AdjustNotify down = BuildNotify(9, 7);
  const std::vector<uint8_t> d = ExpectedDownlink(down);
  ASSERT_EQ(68u, d.size());
  AdjustDownlinkInfo di;
  std::memcpy(&di, d.data(), sizeof(di));
  EXPECT_EQ(down.speakId, di.speakId);
  EXPECT_EQ(down.d5, di.d5);
  EXPECT_EQ(down.retrans, di.retrans);
  ASSERT_TRUE(IndexOfCallback(1, d.data(), &index));
  EXPECT_EQ(7u, index);
  EXPECT_FALSE(IndexOfCallback(2, d.data(), &index));
  EXPECT_FALSE(IndexOfCallback(0, nullptr, &index));
}
