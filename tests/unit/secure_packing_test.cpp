// SecureTransfer's send side: how blocks are packed into combined packets,
// the pass quota, resending (on a frozen clock) and acknowledgements.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frozen_clock.h"
#include "secure_test_util.h"

using namespace securetest;

namespace {

class SecurePacking : public SecureFixture {
 protected:
  void AckAll(const std::vector<Bytes>& sent) {
    for (const Bytes& p : sent) EXPECT_EQ(0, st.Acknowledge(Read(p).serial));
  }
  FrozenClock clock_;
};

constexpr uint32_t kBandwidth1 = 0;         // 1 packet per pass
constexpr uint32_t kBandwidth5 = 102400;    // 5
constexpr uint32_t kBandwidth50 = 2000000;  // 50

// Blocks join a packet while 4 + what it holds + the next block stays below
// 1024; the lowest key id is served first, and a packet holds one key only.
TEST_F(SecurePacking, PacketsFillUpToTheLimitLowestKeyFirst) {
  SecureTransferKey a = Init(kBandwidth1);
  SecureTransferKey b = NewKey();
  for (uint32_t i = 1; i <= 3; ++i) ASSERT_EQ(0, Post(b, Block(400, 2, 1, 100 + i, i)));
  ASSERT_EQ(0, Post(a, Block(100, 1, 1, 7, 9)));
  EXPECT_EQ(3u * 418u + 118u, st.CachedBytes());
  const struct { uint32_t h0; std::vector<uint32_t> records; size_t bytes; } passes[] = {
      {1, {7}, 4 + 100 + 6 + 18},
      {2, {101, 102}, 4 + 400 + 6 + 372 + 6 + 18},  // 788 + 400 is not below 1024
      {2, {103}, 4 + 400 + 6 + 18}};
  uint32_t serial = 0;
  for (const auto& want : passes) {
    st.SendPass();
    const std::vector<Bytes> sent = cap.Take();
    ASSERT_EQ(sent.size(), 1u);
    const Packet p = Read(sent[0]);
    EXPECT_EQ(p.serial, ++serial);
    EXPECT_EQ(p.h0, want.h0);
    EXPECT_EQ(p.recordWords, want.records);
    EXPECT_EQ(sent[0].size(), want.bytes);
    AckAll(sent);
  }
  EXPECT_EQ(0u, st.CachedBytes());
}

TEST_F(SecurePacking, PacketBytesAreExactAndTheBlocksDestinationStaysBehind) {
  SecureTransferKey key = Init(kBandwidth50);
  Bytes b1 = Block(40, 0x11223344, 7, 0xA1A2A3A4, 0x01020304, 0x55);
  b1[5] = 0xEE;  // fill bytes of the first header are copied unchanged
  const Bytes b2 = Block(1019 - 40 - 6, 0x99, 8, 0xB1B2B3B4, 0x0A0B0C0D, 0x66);
  char ip[16] = "10.0.0.1";
  ASSERT_EQ(0, st.PostPacket(key, b1.data(), 40, ip, 9000));
  ASSERT_EQ(0, Post(key, b2));
  LogCapture log;
  st.SendPass();
  const std::vector<Bytes> sent = cap.Take();
  ASSERT_EQ(1u, sent.size());

  Bytes expected(4 + 28, 0);
  expected[0] = 1;                                               // serialnum
  std::copy(b1.begin(), b1.begin() + 28, expected.begin() + 4);  // the first header
  for (const Bytes* b : {static_cast<const Bytes*>(&b1), &b2}) {
    const size_t n = b->size() - 28;
    expected.insert(expected.end(), b->begin() + 24, b->begin() + 28);  // the record word
    expected.insert(expected.end(), {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)});
    expected.insert(expected.end(), b->begin() + 28, b->end());
  }
  expected.resize(expected.size() + 18, 0);  // no destination: the session's server
  EXPECT_EQ(expected, sent[0]);
  EXPECT_EQ(1u, log.Count("SecureTransfer组合包序列号=1,数据长度=1019 "));
  EXPECT_EQ(1u, log.Count("SecureTransfer组合数据包信息,key=287454020-287454022-287454023-287454024-"
                          "287454025,roletype=7,index=16909060"));
  EXPECT_EQ(1u, log.Count("SecureTransfer组合数据包信息,key=153-155-156-157-158,roletype=8,index=168496141"));
}

TEST_F(SecurePacking, AcknowledgementsOutOfOrderReleaseEachPacketOnce) {
  SecureTransferKey a = Init(kBandwidth50);
  SecureTransferKey b = NewKey();
  ASSERT_EQ(0, Post(a, Block(100, 1, 1, 1, 1)));
  ASSERT_EQ(0, Post(b, Block(100, 2, 1, 1, 1)));
  st.SendPass();
  ASSERT_EQ(2u, cap.Take().size());
  ASSERT_EQ(2u, st.ResendTableSize());
  LogCapture log;
  EXPECT_EQ(0, st.Acknowledge(2));
  EXPECT_EQ(0, st.Acknowledge(1));
  EXPECT_EQ(-1, st.Acknowledge(1));
  EXPECT_EQ(-1, st.Acknowledge(99));
  EXPECT_EQ(0u, st.ResendTableSize());
  EXPECT_EQ(1u, log.Count("SecureTransfer确认包序号=2，当前包序号=2"));
  EXPECT_EQ(1u, log.Count("SecureTransfer确认包序号=1，当前包序号=1"));
  clock_.Advance(1000);
  st.SendPass();
  EXPECT_TRUE(cap.Take().empty());  // nothing is left to resend
}

// Resent the same bytes 200 ms after the last sending, not a moment before;
// with one packet a pass a due resend takes the pass from a waiting block.
TEST_F(SecurePacking, UnacknowledgedPacketIsResent200MsAfterItsLastSending) {
  SecureTransferKey key = Init(kBandwidth1);
  ASSERT_EQ(0, Post(key, Block(100, 1, 1, 1, 1)));
  st.SendPass();
  const std::vector<Bytes> first = cap.Take();
  ASSERT_EQ(1u, first.size());
  for (int round = 1; round <= 2; ++round) {
    clock_.Advance(199);
    st.SendPass();
    ASSERT_TRUE(cap.Take().empty()) << round;
    if (round == 2) {
      ASSERT_EQ(0, Post(key, Block(100, 1, 1, 1, 2)));
    }
    LogCapture log;
    clock_.Advance(1);
    st.SendPass();
    const std::vector<Bytes> again = cap.Take();
    ASSERT_EQ(1u, again.size()) << round;
    EXPECT_EQ(first[0], again[0]);
    EXPECT_EQ(1u, log.Count("SecureTransfer重发数据包: 重发次数=1"));
  }
  EXPECT_EQ(118u, st.CachedBytes());  // the new block still waits
  EXPECT_EQ(0, st.Acknowledge(1));
  st.SendPass();
  const std::vector<Bytes> sent = cap.Take();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(2u, Read(sent[0]).serial);
  EXPECT_EQ(0u, st.CachedBytes());
}

}  // namespace

TEST_F(SecurePacking, QuotaBoundsEachPassAndANeverAcknowledgedTenthLeavesRoomForNewPackets) {
  // Five packets a pass; every tenth serialnum is never acknowledged, so the
  // resend table only grows. New blocks still leave at least every pass and
  // nothing is dropped.
  SecureTransferKey key = Init(kBandwidth5);
  constexpr uint32_t kBlocks = 600;
  for (uint32_t i = 0; i < kBlocks; ++i) ASSERT_EQ(0, Post(key, Block(1019, 1, 1, 1, i)));
  std::vector<bool> seen(kBlocks + 1, false);
  uint32_t fresh = 0, next = 0;
  for (int pass = 0; pass < 1000 && st.CachedBytes() != 0; ++pass) {
    LogCapture log;
    st.SendPass();
    if (pass == 0) {
      EXPECT_EQ(1u, log.Count("SecureTransfer::_SendPacket sendlen=5235 "));  // 5 x 1047
    }
    uint32_t freshThisPass = 0;
    const std::vector<Bytes> sent = cap.Take();
    ASSERT_LE(sent.size(), 5u) << "pass " << pass;
    for (const Bytes& b : sent) {
      const Packet p = Read(b);
      ASSERT_LE(p.serial, kBlocks);
      if (!seen[p.serial]) {
        seen[p.serial] = true;
        ASSERT_EQ(next++, p.indexes.at(0));  // in order, once each
        ++freshThisPass;
      }
      if (p.serial % 10 != 0) st.Acknowledge(p.serial);
    }
    if (st.CachedBytes() != 0) {
      ASSERT_GE(freshThisPass, 2u) << "pass " << pass;
    }
    fresh += freshThisPass;
    clock_.Advance(50);
  }
  EXPECT_EQ(kBlocks, fresh);
  EXPECT_EQ(kBlocks / 10, st.ResendTableSize());
}
