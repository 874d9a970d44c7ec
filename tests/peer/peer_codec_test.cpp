// The peer's own codec: exact bytes of what it writes, and the checks it
// applies to what it reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bodies.h"
#include "codec.h"
#include "endpoint.h"
#include "wire_golden.h"

using namespace vpeer;

TEST(PeerCodec, EncoderWritesTheGoldenBytesAndTheReaderGetsEveryFieldBack) {
  for (const golden::Datagram& g : golden::Datagrams()) {
    std::vector<uint8_t> built;
    Datagram d;
    if (g.kind == golden::Kind::kAck) {
      EncodeAck(g.sn, &built);
    } else {
      MsgHeader h;
      h.msgId = g.msgId;
      h.srcSid = g.srcSid;
      h.destSid = g.destSid;
      ASSERT_TRUE(EncodeData(h, reinterpret_cast<const uint8_t*>(g.body.data()), g.body.size(),
                             g.kind == golden::Kind::kReliable, g.sn, &built)) << g.name;
    }
    EXPECT_EQ(built, g.bytes) << g.name;
    ASSERT_EQ(ParseDatagram(g.bytes.data(), g.bytes.size(), &d), Verdict::kOk) << g.name;
    const DatagramKind kinds[] = {DatagramKind::kAck, DatagramKind::kUnreliable, DatagramKind::kReliable};
    EXPECT_EQ(d.kind, kinds[static_cast<int>(g.kind)]) << g.name;
    if (g.kind != golden::Kind::kUnreliable) {
      EXPECT_EQ(d.sn, g.sn) << g.name;
    }
    if (g.kind == golden::Kind::kAck) continue;
    EXPECT_EQ(d.msg.msgId, g.msgId) << g.name;
    EXPECT_EQ(d.msg.srcSid, g.srcSid) << g.name;
    EXPECT_EQ(d.msg.destSid, g.destSid) << g.name;
    EXPECT_EQ(std::string(d.body, d.body + d.bodyLen), g.body) << g.name;
  }
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
  const std::vector<uint8_t>& good = golden::Datagrams()[1].bytes;   // unreliable, "abc"
  const std::vector<uint8_t>& empty = golden::Datagrams()[3].bytes;  // reliable, empty image
  Datagram d;
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

TEST(PeerBodies, StpAddrRespAndAdjustBodiesAreTheGoldenBytes) {
  const golden::StpAddrRespFields f;
  StpAddrResp r;
  r.ip = f.ip;
  r.port = f.port;
  r.result = f.result;
  uint8_t resp[kStpAddrRespSize];
  EncodeStpAddrResp(r, resp);
  EXPECT_EQ(std::vector<uint8_t>(resp, resp + sizeof resp), golden::StpAddrResp());
  StpAddrResp back;
  ASSERT_TRUE(DecodeStpAddrResp(resp, sizeof resp, &back));
  EXPECT_EQ(back.ip, f.ip);
  EXPECT_EQ(back.port, f.port);
  EXPECT_EQ(back.result, f.result);
  EXPECT_FALSE(DecodeStpAddrResp(resp, 21, &back));

  const std::vector<uint8_t> notify = golden::AdjustNotify();
  AdjustNotify n;
  ASSERT_TRUE(DecodeAdjustNotify(notify.data(), notify.size(), &n));
  EXPECT_EQ(n.speakId, 1016u);
  EXPECT_EQ(n.retrans, -1);
  EXPECT_EQ(n.d5, 1080u);
  uint8_t again[kAdjustNotifySize];
  EncodeAdjustNotify(n, again);
  EXPECT_EQ(std::vector<uint8_t>(again, again + sizeof again), notify);
  uint8_t ack[kAdjustAckSize];
  EncodeAdjustAck(ExpectedAdjustAck(n), ack);
  EXPECT_EQ(std::vector<uint8_t>(ack, ack + sizeof ack), golden::AdjustAck());
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
