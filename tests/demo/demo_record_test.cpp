// The demo's records and notifications: every corruption must be caught.
// The expected callback records are checked by the demo's own end-to-end run,
// which compares every callback against them.
#include <gtest/gtest.h>

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

