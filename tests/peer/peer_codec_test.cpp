// The peer's own codec: exact bytes of what it writes, and the checks it
// applies to what it reads.
#include <gtest/gtest.h>

#include <vector>

#include "bodies.h"
#include "codec.h"
#include "endpoint.h"

using namespace vpeer;

namespace {

std::vector<uint8_t> Unreliable(uint32_t msgId, const std::vector<uint8_t>& body) {
  MsgHeader h;
  h.msgId = msgId;
  h.srcSid = 0x11223344;
  h.destSid = 0;
  std::vector<uint8_t> out;
  EXPECT_TRUE(EncodeData(h, body.data(), body.size(), false, 0, &out));
  return out;
}

}  // namespace

TEST(PeerCodec, ExactBytesOfAckUnreliableAndReliableDatagrams) {
  std::vector<uint8_t> ack;
  EncodeAck(5, &ack);
  EXPECT_EQ(ack, (std::vector<uint8_t>{0x01, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x01, 0x01, 0x05, 0x00, 0x00, 0x00}));
  Datagram d;
  ASSERT_EQ(ParseDatagram(ack.data(), ack.size(), &d), Verdict::kOk);
  EXPECT_EQ(d.kind, DatagramKind::kAck);
  EXPECT_EQ(d.sn, 5u);

  EXPECT_EQ(Unreliable(kMsgQosRecord, {0xAA, 0xBB, 0xCC}),
            (std::vector<uint8_t>{
                0x01, 0x00, 0x1B, 0x00, 0x00, 0x00, 0x00, 0x00,  // version 1, length 27, checksum 0, flags
                0x01, 0x00, 0x00, 0x00,                          // msgTag 1
                0x5C, 0x04, 0x00, 0x00,                          // msgId 1116
                0x44, 0x33, 0x22, 0x11,                          // srcSid
                0x00, 0x00, 0x00, 0x00,                          // destSid
                0xAA, 0xBB, 0xCC}));

  MsgHeader h;
  h.msgId = kMsgAdjustAck;
  h.srcSid = 42;
  h.destSid = 7;
  const std::vector<uint8_t> body(40, 0x5A);
  std::vector<uint8_t> dg;
  ASSERT_TRUE(EncodeData(h, body.data(), body.size(), true, 0xDEADBEEF, &dg));
  ASSERT_EQ(dg.size(), 12u + 16u + 40u);
  EXPECT_EQ(std::vector<uint8_t>(dg.begin(), dg.begin() + 12),
            (std::vector<uint8_t>{0x01, 0x00, 0x44, 0x00, 0x00, 0x00, 0x01, 0x00, 0xEF, 0xBE, 0xAD, 0xDE}));
  ASSERT_EQ(ParseDatagram(dg.data(), dg.size(), &d), Verdict::kOk);
  EXPECT_EQ(d.kind, DatagramKind::kReliable);
  EXPECT_EQ(d.sn, 0xDEADBEEFu);
  EXPECT_EQ(d.msg.msgId, kMsgAdjustAck);
  EXPECT_EQ(d.msg.srcSid, 42u);
  EXPECT_EQ(d.msg.destSid, 7u);
  EXPECT_EQ(std::vector<uint8_t>(d.body, d.body + d.bodyLen), body);
}

TEST(PeerCodec, EncoderKeepsTo2048Bytes) {
  MsgHeader h;
  std::vector<uint8_t> body(2024);
  std::vector<uint8_t> dg;
  EXPECT_TRUE(EncodeData(h, body.data(), body.size(), false, 0, &dg));
  EXPECT_EQ(dg.size(), 2048u);
  EXPECT_FALSE(EncodeData(h, body.data(), body.size(), true, 1, &dg));  // 2052 reliable
  EXPECT_TRUE(dg.empty());
  body.resize(2020);
  EXPECT_TRUE(EncodeData(h, body.data(), body.size(), true, 1, &dg));
  EXPECT_EQ(dg.size(), 2048u);
}

TEST(PeerCodec, ValidatorRefusesEachBrokenDatagramForItsOwnReason) {
  const std::vector<uint8_t> good = Unreliable(kMsgQosRecord, std::vector<uint8_t>(76));
  const std::vector<uint8_t> empty = Unreliable(kMsgStprcRequest, {});
  Datagram d;
  ASSERT_EQ(ParseDatagram(good.data(), good.size(), &d), Verdict::kOk);
  ASSERT_EQ(ParseDatagram(empty.data(), empty.size(), &d), Verdict::kOk);  // header + empty image
  EXPECT_EQ(d.bodyLen, 0u);

  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    Verdict want;
  };
  std::vector<Case> cases;
  cases.push_back({"version 2, wrong length too: the version is looked at first", good, Verdict::kBadVersion});
  cases.back().bytes[0] = 2;
  cases.back().bytes[2] = 0xFF;
  cases.push_back({"length one short", good, Verdict::kBadLength});
  cases.back().bytes[2] = static_cast<uint8_t>(good.size() - 1);
  cases.push_back({"checksum", good, Verdict::kBadChecksum});
  cases.back().bytes[4] = 1;
  cases.push_back({"2049 bytes", std::vector<uint8_t>(2049, 0), Verdict::kTooLarge});
  PutU16(cases.back().bytes.data(), 1);
  PutU16(cases.back().bytes.data() + 2, 2049);
  cases.push_back({"7 bytes", std::vector<uint8_t>(good.begin(), good.begin() + 7), Verdict::kTooShort});
  cases.push_back({"image one byte short", std::vector<uint8_t>(empty.begin(), empty.end() - 1), Verdict::kShortMsg});
  PutU16(cases.back().bytes.data() + 2, static_cast<uint16_t>(empty.size() - 1));
  cases.push_back({"flags 7", empty, Verdict::kBadFlags});
  cases.back().bytes[6] = 7;
  cases.push_back({"ack sn 0", {}, Verdict::kBadAck});
  EncodeAck(0, &cases.back().bytes);
  for (const Case& c : cases) EXPECT_EQ(ParseDatagram(c.bytes.data(), c.bytes.size(), &d), c.want) << c.what;
}

TEST(PeerBodies, StpAddrRespIsTwentyTwoPackedBytes) {
  StpAddrResp r;
  r.ip = "127.0.0.1";
  r.port = 0x1234;
  r.result = 3;
  uint8_t out[kStpAddrRespSize];
  EncodeStpAddrResp(r, out);
  const std::vector<uint8_t> expected = {'1', '2', '7', '.', '0', '.', '0', '.', '1', 0, 0,
                                         0,   0,   0,   0,   0,   0x34, 0x12, 3, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(out, out + sizeof out), expected);
  StpAddrResp back;
  ASSERT_TRUE(DecodeStpAddrResp(out, sizeof out, &back));
  EXPECT_EQ(back.ip, "127.0.0.1");
  EXPECT_EQ(back.port, 0x1234);
  EXPECT_EQ(back.result, 3u);
  EXPECT_FALSE(DecodeStpAddrResp(out, 21, &back));
}

TEST(PeerBodies, AdjustNotifyBytesAndTheAckItExpects) {
  AdjustNotify n;
  n.Dialog = 1;
  n.PacketId = 2;
  n.meetId = 3;
  n.UserId = 4;
  n.speakId = 10000;
  n.a1 = 5;
  n.a2 = 6;
  n.a3 = 7;
  n.a4 = 8;
  n.fecFirst = 9;
  n.retrans = -1;
  n.d5 = 12;
  n.c2 = 14;
  uint8_t out[kAdjustNotifySize];
  EncodeAdjustNotify(n, out);
  EXPECT_EQ(GetU32(out + 16), 10000u);
  EXPECT_EQ(out[36], 9);
  EXPECT_EQ(GetU16(out + 38), 0xFFFF);
  EXPECT_EQ(GetU32(out + 80), 12u);
  EXPECT_EQ(out[85], 14);
  EXPECT_EQ(out[86], 0);
  AdjustNotify back;
  ASSERT_TRUE(DecodeAdjustNotify(out, sizeof out, &back));
  EXPECT_EQ(back.retrans, -1);
  EXPECT_EQ(back.c2, 14);

  uint8_t ack[kAdjustAckSize];
  EncodeAdjustAck(ExpectedAdjustAck(n), ack);
  const uint32_t words[10] = {1, 2, 3, 4, 10000, 5, 6, 0, 8, 0};  // a3 is not echoed
  for (int i = 0; i < 10; ++i) EXPECT_EQ(GetU32(ack + 4 * i), words[i]) << "word " << i;
}

TEST(PeerBodies, CombinedPacketIsWalkedEntryByEntry) {
  // serialnum 9, a block header whose record word is 0x77, two blocks.
  std::vector<uint8_t> p(4 + kBlockHeaderSize, 0);
  PutU32(p.data(), 9);
  PutU32(p.data() + 4 + 24, 0x77);
  auto addBlock = [&p](uint32_t word, uint16_t len) {
    const size_t at = p.size();
    p.resize(at + 6 + len, 0xEE);
    PutU32(p.data() + at, word);
    PutU16(p.data() + at + 4, len);
  };
  addBlock(0x77, 10);
  addBlock(0x78, 3);
  QosPacketInfo info;
  ASSERT_EQ(CheckQosPacket(p.data(), p.size(), &info), PacketCheck::kOk);
  EXPECT_EQ(info.serialnum, 9u);
  EXPECT_EQ(info.blocks, 2u);
  EXPECT_EQ(info.payloadBytes, 13u);

  EXPECT_EQ(CheckQosPacket(p.data(), p.size() - 1, &info), PacketCheck::kBadEntry);
  std::vector<uint8_t> wrongWord = p;
  PutU32(wrongWord.data() + 32, 0x76);
  EXPECT_EQ(CheckQosPacket(wrongWord.data(), wrongWord.size(), &info),
            PacketCheck::kRecordWordMismatch);
  EXPECT_EQ(CheckQosPacket(p.data(), 37, &info), PacketCheck::kTooShort);
}

TEST(PeerEndpoint, ParsesOnlyWholeDottedAddressesAndKnowsLoopback) {
  Endpoint e;
  ASSERT_TRUE(ParseEndpoint("127.0.0.1:6801", &e));
  EXPECT_EQ(e.ip, 0x7F000001u);
  EXPECT_EQ(e.port, 6801);
  EXPECT_EQ(e.ToString(), "127.0.0.1:6801");
  uint32_t ip = 0;
  for (const char* bad : {"127.0.0", "256.0.0.1", "1.2.3.4 "}) EXPECT_FALSE(ParseIp(bad, &ip)) << bad;
  EXPECT_FALSE(ParseEndpoint("127.0.0.1:65536", &e));
  EXPECT_FALSE(ParseEndpoint("127.0.0.1", &e));
  EXPECT_TRUE(IsLoopback(0x7F0000FE));
  EXPECT_FALSE(IsLoopback(0x0A000001));
}
