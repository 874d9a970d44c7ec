// SecureTransfer's send side: how blocks are packed into combined packets,
// the pass quota, resending and acknowledgements.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/log.h"
#include "secure_test_util.h"

using namespace securetest;

namespace {

class SecurePacking : public SecureFixture {};

constexpr uint32_t kBandwidth1 = 0;         // 1 packet per pass
constexpr uint32_t kBandwidth5 = 102400;    // 5
constexpr uint32_t kBandwidth50 = 2000000;  // 50

uint32_t IndexOf(const Entry& e) { return wire::GetU32(e.payload.data()); }

void AckAll(SecureTransfer& st, const std::vector<Bytes>& sent) {
  for (const Bytes& p : sent) st.Acknowledge(Decode(p).header.serialnum);
}

TEST_F(SecurePacking, ThreeBlocksOf400TakeTwoPackets) {
  SecureTransferKey key = Init(kBandwidth1);
  for (uint32_t i = 1; i <= 3; ++i) ASSERT_EQ(0, Post(st, key, Block(400, 9, 1, 100 + i, i)));
  EXPECT_EQ(3u * 418u, st.CachedBytes());

  // 4 + 400 < 1024, then 410 + 400 < 1024, then 788 + 400 is not.
  st.SendPass();
  std::vector<Bytes> sent = cap.Take();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(788u + 18u, sent[0].size());
  Packet p = Decode(sent[0]);
  ASSERT_EQ(2u, p.entries.size());
  EXPECT_EQ(101u, p.entries[0].recordWord);
  EXPECT_EQ(1u, IndexOf(p.entries[0]));
  EXPECT_EQ(102u, p.entries[1].recordWord);
  EXPECT_EQ(2u, IndexOf(p.entries[1]));
  EXPECT_EQ(418u, st.CachedBytes());
  AckAll(st, sent);

  st.SendPass();
  sent = cap.Take();
  ASSERT_EQ(1u, sent.size());
  p = Decode(sent[0]);
  ASSERT_EQ(1u, p.entries.size());
  EXPECT_EQ(3u, IndexOf(p.entries[0]));
  EXPECT_EQ(2u, p.header.serialnum);
  EXPECT_EQ(0u, st.CachedBytes());
}

TEST_F(SecurePacking, LargestBlockMakesTheLargestPacket) {
  SecureTransferKey key = Init(kBandwidth50);
  const Bytes big = Block(1019, 1, 1, 5, 6);
  char ip[16] = "10.0.0.1";
  ASSERT_EQ(0, st.PostPacket(key, big.data(), 1019, ip, 9000));
  ASSERT_EQ(0, Post(st, key, Block(40, 1, 1, 7, 8)));
  LogCapture log;
  st.SendPass();
  const std::vector<Bytes> sent = cap.Take();
  ASSERT_EQ(2u, sent.size());
  ASSERT_EQ(1029u + 18u, sent[0].size());
  const Packet p = Decode(sent[0]);
  ASSERT_EQ(1u, p.entries.size());
  EXPECT_EQ(991u, p.entries[0].payload.size());
  EXPECT_EQ(0, memcmp(big.data() + 28, p.entries[0].payload.data(), 991));
  // The destination given with the block does not travel: empty trailer.
  EXPECT_EQ(Bytes(18, 0), p.trailer);
  EXPECT_EQ(1u, log.Count("SecureTransfer组合包序列号=1,数据长度=1047 "));
  EXPECT_EQ(1u, log.Count("SecureTransfer组合包序列号=2,数据长度=68 "));
}

TEST_F(SecurePacking, PacketBytesAreExact) {
  SecureTransferKey key = Init(kBandwidth50);
  Bytes b1 = Block(40, 0x11223344, 7, 0xA1A2A3A4, 0x01020304, 0x55);
  b1[5] = 0xEE;  // fill bytes of the first header are copied unchanged
  const Bytes b2 = Block(33, 0x99, 8, 0xB1B2B3B4, 0x0A0B0C0D, 0x66);
  ASSERT_EQ(0, Post(st, key, b1));
  ASSERT_EQ(0, Post(st, key, b2));
  LogCapture log;
  st.SendPass();
  const std::vector<Bytes> sent = cap.Take();
  ASSERT_EQ(1u, sent.size());

  Bytes expected(4);
  wire::PutU32(expected.data(), 1);                              // serialnum
  expected.insert(expected.end(), b1.begin(), b1.begin() + 28);  // first header
  const Bytes* blocks[] = {&b1, &b2};
  for (const Bytes* b : blocks) {
    expected.insert(expected.end(), b->begin() + 24, b->begin() + 28);  // record word
    const uint16_t n = static_cast<uint16_t>(b->size() - 28);
    expected.push_back(static_cast<uint8_t>(n));
    expected.push_back(static_cast<uint8_t>(n >> 8));
    expected.insert(expected.end(), b->begin() + 28, b->end());
  }
  expected.insert(expected.end(), 18, 0);
  EXPECT_EQ(expected, sent[0]);

  const Packet p = Decode(sent[0]);
  EXPECT_EQ(1u, p.header.serialnum);
  EXPECT_EQ(0x11223344u, p.header.first.h0);
  EXPECT_EQ(7, p.header.first.roletype);
  EXPECT_EQ(0x11223346u, p.header.first.h2);
  EXPECT_EQ(0xA1A2A3A4u, p.header.first.recordWord);
  ASSERT_EQ(2u, p.entries.size());
  EXPECT_EQ(0xB1B2B3B4u, p.entries[1].recordWord);
  EXPECT_EQ(5u, p.entries[1].payload.size());
  EXPECT_EQ(1u, log.Count("SecureTransfer组合数据包信息,key=287454020-287454022-287454023-287454024-"
                          "287454025,roletype=7,index=16909060"));
  EXPECT_EQ(1u, log.Count("SecureTransfer组合数据包信息,key=153-155-156-157-158,roletype=8,index=168496141"));
}

TEST_F(SecurePacking, LowestKeyIdIsServedFirst) {
  SecureTransferKey a = Init(kBandwidth1);
  SecureTransferKey b = NewKey();
  ASSERT_EQ(0, Post(st, b, Block(100, 2, 1, 1, 1)));
  ASSERT_EQ(0, Post(st, a, Block(100, 1, 1, 1, 1)));
  ASSERT_EQ(0, Post(st, b, Block(100, 2, 1, 1, 2)));
  // a's one block first, then both of b's in one packet.
  st.SendPass();
  std::vector<Bytes> sent = cap.Take();
  ASSERT_EQ(1u, sent.size());
  Packet p = Decode(sent[0]);
  EXPECT_EQ(1u, p.header.first.h0);
  EXPECT_EQ(1u, p.entries.size());
  AckAll(st, sent);
  st.SendPass();
  sent = cap.Take();
  ASSERT_EQ(1u, sent.size());
  p = Decode(sent[0]);
  EXPECT_EQ(2u, p.header.first.h0);
  EXPECT_EQ(2u, p.entries.size());
}

TEST_F(SecurePacking, QuotaBoundsNewPacketsPerPass) {
  SecureTransferKey key = Init(kBandwidth5);
  for (int i = 0; i < 7; ++i) ASSERT_EQ(0, Post(st, key, Block(1019, 1, 1, 1, 1)));
  LogCapture log;
  st.SendPass();
  std::vector<Bytes> sent = cap.Take();
  EXPECT_EQ(5u, sent.size());
  EXPECT_EQ(1u, log.Count("SecureTransfer::_SendPacket sendlen=5235 "));
  AckAll(st, sent);
  st.SendPass();
  EXPECT_EQ(2u, cap.Take().size());
  EXPECT_EQ(1u, log.Count("SecureTransfer::_SendPacket sendlen="));
}

TEST_F(SecurePacking, AcknowledgementsOutOfOrder) {
  SecureTransferKey a = Init(kBandwidth50);
  SecureTransferKey b = NewKey();
  ASSERT_EQ(0, Post(st, a, Block(100, 1, 1, 1, 1)));
  ASSERT_EQ(0, Post(st, b, Block(100, 2, 1, 1, 1)));
  st.SendPass();
  ASSERT_EQ(2u, cap.Take().size());
  ASSERT_EQ(2u, st.ResendTableSize());
  LogCapture log;
  EXPECT_EQ(0, st.Acknowledge(2));
  EXPECT_EQ(0, st.Acknowledge(1));
  EXPECT_EQ(-1, st.Acknowledge(1));
  EXPECT_EQ(-1, st.Acknowledge(99));
  EXPECT_EQ(0u, st.ResendTableSize());
  EXPECT_EQ(2u, CountExact(log, "SecureTransfer确认包序号=1"));
  EXPECT_EQ(1u, log.Count("SecureTransfer确认包序号=2，当前包序号=2"));
  EXPECT_EQ(1u, log.Count("SecureTransfer确认包序号=1，当前包序号=1"));
  // Nothing is left to resend.
  plat::AdvanceClock(1000);
  st.SendPass();
  EXPECT_EQ(0u, cap.Count());
}

TEST_F(SecurePacking, UnacknowledgedPacketIsResentAfter200ms) {
  SecureTransferKey key = Init(kBandwidth50);
  ASSERT_EQ(0, Post(st, key, Block(100, 1, 1, 1, 1)));
  const uint32_t built = plat::GetTickCount();
  st.SendPass();
  const std::vector<Bytes> first = cap.Take();
  ASSERT_EQ(1u, first.size());

  st.SendPass();
  // Time also passes for real; only a machine that stalled 200 ms may resend.
  if (plat::TickDiff(plat::GetTickCount(), built) < 200) {
    EXPECT_EQ(0u, cap.Count());
  }
  cap.Take();

  LogCapture log;
  plat::AdvanceClock(200);
  st.SendPass();
  const std::vector<Bytes> again = cap.Take();
  ASSERT_EQ(1u, again.size());
  EXPECT_EQ(first[0], again[0]);
  EXPECT_EQ(1u, log.Count("SecureTransfer重发数据包: serNum=1"));
  EXPECT_EQ(1u, log.Count("SecureTransfer重发数据包: 重发次数=1"));
  EXPECT_EQ(1u, st.ResendTableSize());
}

TEST_F(SecurePacking, ResendingCanTakeTheWholePass) {
  SecureTransferKey key = Init(kBandwidth1);
  ASSERT_EQ(0, Post(st, key, Block(100, 1, 1, 1, 1)));
  st.SendPass();
  ASSERT_EQ(1u, cap.Take().size());
  ASSERT_EQ(0, Post(st, key, Block(100, 1, 1, 1, 2)));

  LogCapture log;
  plat::AdvanceClock(200);
  st.SendPass();
  std::vector<Bytes> sent = cap.Take();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(1u, Decode(sent[0]).header.serialnum);
  EXPECT_EQ(118u, st.CachedBytes());  // the new block still waits
  EXPECT_EQ(1u, log.Count("SecureTransfer重发数据包: 重发次数=1"));
  EXPECT_EQ(0u, log.Count("serNum="));
  EXPECT_EQ(0u, log.Count("组合包序列号"));

  EXPECT_EQ(0, st.Acknowledge(1));
  st.SendPass();
  sent = cap.Take();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(2u, Decode(sent[0]).header.serialnum);
  EXPECT_EQ(0u, st.CachedBytes());
}

}  // namespace

TEST_F(SecurePacking, NeverAcknowledgedTenthLeavesRoomForNewPackets) {
  // Five packets a pass; every tenth serialnum is never acknowledged, so the
  // resend table only grows. New blocks still leave at least every pass and
  // nothing is dropped.
  SecureTransferKey key = Init(kBandwidth5);
  constexpr uint32_t kBlocks = 1500;
  for (uint32_t i = 0; i < kBlocks; ++i) ASSERT_EQ(0, Post(st, key, Block(900, 1, 1, 1, i)));
  std::vector<bool> seen(kBlocks + 1, false);
  uint32_t fresh = 0, next = 0;
  for (int pass = 0; pass < 1000 && st.CachedBytes() != 0; ++pass) {
    st.SendPass();
    uint32_t freshThisPass = 0;
    for (const Bytes& p : cap.Take()) {
      const Packet d = Decode(p);
      ASSERT_LE(d.header.serialnum, kBlocks);
      if (!seen[d.header.serialnum]) {
        seen[d.header.serialnum] = true;
        ASSERT_EQ(next++, IndexOf(d.entries.at(0)));  // in order, once each
        ++freshThisPass;
      }
      if (d.header.serialnum % 10 != 0) st.Acknowledge(d.header.serialnum);
    }
    if (st.CachedBytes() != 0) {
      ASSERT_GE(freshThisPass, 2u) << "pass " << pass;
    }
    fresh += freshThisPass;
    plat::AdvanceClock(50);
  }
  EXPECT_EQ(kBlocks, fresh);
  EXPECT_EQ(kBlocks / 10, st.ResendTableSize());
}
