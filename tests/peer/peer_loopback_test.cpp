// The Peer on 127.0.0.1 against a plain UDP socket playing the client.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "bodies.h"
#include "codec.h"
#include "peer.h"
#include "peer_test_util.h"

using namespace vpeer;
using vpeer_test::kClientSid;
using vpeer_test::TestClient;
using vpeer_test::WaitFor;

namespace {

std::vector<uint8_t> Packet(uint32_t serial, uint16_t payload) {
  std::vector<uint8_t> p(4 + kBlockHeaderSize + 6 + payload, 0x33);
  PutU32(p.data(), serial);
  PutU32(p.data() + 4 + 24, 0x1234);  // record word in the block header
  PutU32(p.data() + 32, 0x1234);      // and in the first entry
  PutU16(p.data() + 36, payload);
  return p;
}

class PeerLoopback : public ::testing::Test {
 protected:
  void StartPeer(PeerConfig cfg = PeerConfig{}) {
    m_peer.reset(new Peer(std::move(cfg)));
    std::string err;
    ASSERT_TRUE(m_peer->Start(&err)) << err;
    ASSERT_TRUE(m_client.Ok());
  }
  void TearDown() override {
    if (m_peer) m_peer->Stop();
  }
  PeerStats Stats() const { return m_peer->Stats(); }

  std::unique_ptr<Peer> m_peer;
  TestClient m_client;
};

}  // namespace

TEST_F(PeerLoopback, StprcAnswersWithItsQosAddressToTheRequestingSession) {
  StartPeer();
  ASSERT_NE(m_peer->QosPort(), 0);
  ASSERT_TRUE(m_client.Send(m_peer->StprcEndpoint(0), kMsgStprcRequest, {}));
  std::vector<uint8_t> raw;
  Datagram d;
  ASSERT_TRUE(m_client.ReceiveParsed(&d, &raw));
  EXPECT_EQ(d.kind, DatagramKind::kUnreliable);
  EXPECT_EQ(d.msg.msgTag, 1u);
  EXPECT_EQ(d.msg.msgId, kMsgStprcAnswer);
  EXPECT_EQ(d.msg.destSid, kClientSid);
  ASSERT_EQ(d.bodyLen, kStpAddrRespSize);
  StpAddrResp resp;
  ASSERT_TRUE(DecodeStpAddrResp(d.body, d.bodyLen, &resp));
  EXPECT_EQ(resp.ip, "127.0.0.1");
  EXPECT_EQ(resp.port, m_peer->QosPort());
  EXPECT_EQ(resp.result, 0u);
  const PeerStats s = Stats();
  EXPECT_EQ(s.stprcRequests.at(0), 1u);
  EXPECT_EQ(s.stprcAnswers, 1u);
  EXPECT_EQ(m_peer->ClientAddress(), m_client.Local());
  EXPECT_EQ(m_peer->ClientSid(), kClientSid);
}

TEST_F(PeerLoopback, StprcGroupWithSilentAndRefusingMembers) {
  PeerConfig cfg;
  cfg.stprc.assign(3, StprcSocketConfig{});
  cfg.stprc[0].silent = true;
  cfg.stprc[1].result = 4;
  cfg.qosAnnounce = "127.0.0.9:9999";
  StartPeer(std::move(cfg));
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(m_client.Send(m_peer->StprcEndpoint(i), kMsgStprcRequest, {}));
  }
  std::vector<StpAddrResp> answers;
  std::vector<uint8_t> raw;
  Datagram d;
  while (m_client.ReceiveParsed(&d, &raw, 500)) {
    StpAddrResp r;
    ASSERT_TRUE(DecodeStpAddrResp(d.body, d.bodyLen, &r));
    answers.push_back(r);
  }
  ASSERT_EQ(answers.size(), 2u);  // the silent one said nothing
  uint32_t resultSum = 0;
  for (const StpAddrResp& r : answers) {
    EXPECT_EQ(r.ip, "127.0.0.9");
    EXPECT_EQ(r.port, 9999);
    resultSum += r.result;
  }
  EXPECT_EQ(resultSum, 4u);
  EXPECT_EQ(Stats().stprcRequests, (std::vector<uint64_t>{1, 1, 1}));
}

TEST_F(PeerLoopback, RecordsAreCountedWithTheirExactBytes) {
  PeerConfig cfg;
  std::mutex mu;
  std::vector<std::vector<uint8_t>> raws;
  std::vector<std::vector<uint8_t>> bodies;
  cfg.onDatagram = [&](const RawDatagram& r) {
    std::lock_guard<std::mutex> lock(mu);
    raws.emplace_back(r.data, r.data + r.len);
  };
  cfg.on1116 = [&](const QosRecord& r) {
    std::lock_guard<std::mutex> lock(mu);
    bodies.emplace_back(r.body, r.body + r.len);
  };
  cfg.expect1116 = [](const uint8_t* body, size_t len) { return len == 5 && body[0] == 'r'; };
  StartPeer(std::move(cfg));

  const std::vector<uint8_t> record = {'r', 'e', 'c', '0', '1'};
  ASSERT_TRUE(m_client.Send(m_peer->QosEndpoint(), kMsgQosRecord, record));
  ASSERT_TRUE(m_client.Send(m_peer->QosEndpoint(), kMsgQosRecord, {'x'}));
  ASSERT_TRUE(WaitFor([&] { return Stats().records1116 == 2; }));
  const PeerStats s = Stats();
  EXPECT_EQ(s.bytes1116, 6u);
  EXPECT_EQ(s.records1116Checked, 1u);
  EXPECT_EQ(s.records1116Mismatched, 1u);

  std::lock_guard<std::mutex> lock(mu);
  ASSERT_EQ(bodies.size(), 2u);
  EXPECT_EQ(bodies[0], record);
  ASSERT_EQ(raws.size(), 2u);
  const std::vector<uint8_t> head = {0x01, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x00,
                                     0x01, 0x00, 0x00, 0x00, 0x5C, 0x04, 0x00, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(raws[0].begin(), raws[0].begin() + 16), head);
}

// Each copy of a 1119 is answered, because a resent packet means the
// client missed our 1120; only the first copy is counted as a packet.
TEST_F(PeerLoopback, PacketsAreDeduplicatedBySerialAndEveryCopyAnswered) {
  PeerConfig cfg;
  std::mutex mu;
  std::vector<uint32_t> hooked;
  cfg.on1119 = [&](uint32_t serial, const uint8_t*, size_t) {
    std::lock_guard<std::mutex> lock(mu);
    hooked.push_back(serial);
  };
  StartPeer(std::move(cfg));
  const std::vector<uint8_t> packet = Packet(5, 20);
  ASSERT_TRUE(m_client.Send(m_peer->QosEndpoint(), kMsgQosPacket, packet));
  ASSERT_TRUE(m_client.Send(m_peer->QosEndpoint(), kMsgQosPacket, packet));
  for (int i = 0; i < 2; ++i) {
    std::vector<uint8_t> raw;
    Datagram d;
    ASSERT_TRUE(m_client.ReceiveParsed(&d, &raw));
    EXPECT_EQ(d.kind, DatagramKind::kUnreliable);
    EXPECT_EQ(d.msg.msgId, kMsgQosPacketAck);
    EXPECT_EQ(d.msg.destSid, kClientSid);
    ASSERT_EQ(d.bodyLen, 4u);
    EXPECT_EQ(GetU32(d.body), 5u);
  }
  const PeerStats s = Stats();
  EXPECT_EQ(s.packets1119, 1u);
  EXPECT_EQ(s.packets1119Duplicates, 1u);
  EXPECT_EQ(s.blocks1119, 1u);
  EXPECT_EQ(s.acks1120Sent, 2u);
  // The hook runs after the answer goes out, so it may trail the datagram.
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> lock(mu);
    return !hooked.empty();
  }));
  std::lock_guard<std::mutex> lock(mu);
  EXPECT_EQ(hooked, std::vector<uint32_t>{5});
}

TEST_F(PeerLoopback, AdjustNotificationIsAnsweredReliablyAndChecked) {
  StartPeer();
  // The client shows itself with a 1116 first, so the peer learns its address.
  ASSERT_TRUE(m_client.Send(m_peer->QosEndpoint(), kMsgQosRecord, {'a'}));
  ASSERT_TRUE(WaitFor([&] { return Stats().records1116 == 1; }));

  AdjustNotify n = PeerConfig::DefaultAdjustTemplate();
  n.PacketId = 17;
  n.a1 = 1;
  n.a2 = 2;
  n.a3 = 3;
  n.a4 = 4;
  ASSERT_EQ(m_peer->SendAdjust(n, nullptr, true), Peer::kSendOk);

  std::vector<uint8_t> raw;
  Datagram d;
  ASSERT_TRUE(m_client.ReceiveParsed(&d, &raw));
  ASSERT_EQ(d.kind, DatagramKind::kReliable);
  EXPECT_EQ(d.msg.msgId, kMsgAdjustNotify);
  EXPECT_EQ(d.msg.destSid, kClientSid);
  AdjustNotify got;
  ASSERT_TRUE(DecodeAdjustNotify(d.body, d.bodyLen, &got));
  EXPECT_EQ(got.PacketId, 17u);

  // Acknowledge the 6003 at the transport, then answer with 6004.
  std::vector<uint8_t> ack;
  EncodeAck(d.sn, &ack);
  ASSERT_TRUE(m_client.SendRaw(m_peer->QosEndpoint(), ack));
  uint8_t body[kAdjustAckSize];
  EncodeAdjustAck(ExpectedAdjustAck(got), body);
  ASSERT_TRUE(m_client.Send(m_peer->QosEndpoint(), kMsgAdjustAck,
                            std::vector<uint8_t>(body, body + sizeof body), true, 900,
                            d.msg.srcSid));

  std::vector<uint8_t> peerAck;
  ASSERT_TRUE(m_client.Receive(&peerAck));
  std::vector<uint8_t> expectedAck;
  EncodeAck(900, &expectedAck);
  EXPECT_EQ(peerAck, expectedAck);
  ASSERT_TRUE(WaitFor([&] { return Stats().adjustAcksValid == 1; }));
  const PeerStats s = Stats();
  EXPECT_EQ(s.adjustSent, 1u);
  EXPECT_EQ(s.adjustTransmissions, 1u);
  EXPECT_EQ(s.acksReceived, 1u);
  EXPECT_EQ(s.acksUnknown, 0u);
  EXPECT_EQ(s.acksSent, 1u);
  EXPECT_EQ(s.adjustAcksInvalid, 0u);
  EXPECT_EQ(s.adjustAnswered, 1u);
}

TEST_F(PeerLoopback, ResentReliableDatagramIsAckedAgainButHandledOnce) {
  StartPeer();
  AdjustNotify n = PeerConfig::DefaultAdjustTemplate();
  const Endpoint target = m_client.Local();
  ASSERT_EQ(m_peer->SendAdjust(n, &target, false), Peer::kSendOk);
  uint8_t body[kAdjustAckSize];
  EncodeAdjustAck(ExpectedAdjustAck(n), body);
  const std::vector<uint8_t> answer(body, body + sizeof body);
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(m_client.Send(m_peer->QosEndpoint(), kMsgAdjustAck, answer, true, 31, 7));
  }
  ASSERT_TRUE(WaitFor([&] { return Stats().acksSent == 2; }));
  const PeerStats s = Stats();
  EXPECT_EQ(s.reliableIn, 1u);
  EXPECT_EQ(s.reliableDuplicates, 1u);
  EXPECT_EQ(s.adjustAcksReceived, 1u);
  EXPECT_EQ(s.adjustAcksValid, 1u);
}

TEST_F(PeerLoopback, InvalidDatagramsAreCountedByReason) {
  StartPeer();
  std::vector<uint8_t> good;
  MsgHeader h;
  h.msgId = kMsgQosRecord;
  EncodeData(h, nullptr, 0, false, 0, &good);
  std::vector<uint8_t> v2 = good;
  v2[0] = 2;
  std::vector<uint8_t> len = good;
  len[2] = 99;
  std::vector<uint8_t> sum = good;
  sum[5] = 1;
  std::vector<uint8_t> big(2049, 0);
  PutU16(big.data(), 1);
  PutU16(big.data() + 2, 2049);
  for (const auto* dg : {&v2, &len, &sum, &big}) {
    ASSERT_TRUE(m_client.SendRaw(m_peer->QosEndpoint(), *dg));
  }
  ASSERT_TRUE(WaitFor([&] { return Stats().malformed == 4; }));
  const PeerStats s = Stats();
  EXPECT_EQ(s.malformedBy[static_cast<int>(Verdict::kBadVersion)], 1u);
  EXPECT_EQ(s.malformedBy[static_cast<int>(Verdict::kBadLength)], 1u);
  EXPECT_EQ(s.malformedBy[static_cast<int>(Verdict::kBadChecksum)], 1u);
  EXPECT_EQ(s.malformedBy[static_cast<int>(Verdict::kTooLarge)], 1u);
  EXPECT_EQ(s.records1116, 0u);
}

TEST_F(PeerLoopback, DroppingAllInboundCountsDropsAndNothingElse) {
  PeerConfig cfg;
  cfg.faultIn.dropPct = 100;
  StartPeer(std::move(cfg));
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(m_client.Send(m_peer->QosEndpoint(), kMsgQosRecord, {1, 2, 3}));
  }
  ASSERT_TRUE(m_client.Send(m_peer->StprcEndpoint(0), kMsgStprcRequest, {}));
  ASSERT_TRUE(WaitFor([&] { return Stats().faultIn.dropped == 11; }));
  const PeerStats s = Stats();
  EXPECT_EQ(s.records1116, 0u);
  EXPECT_EQ(s.stprcRequests.at(0), 0u);
  EXPECT_EQ(s.datagramsIn, 11u);
  EXPECT_EQ(s.DroppedIn(kMsgQosRecord), 10u);
  EXPECT_EQ(s.DroppedIn(kMsgStprcRequest), 1u);
  std::vector<uint8_t> raw;
  EXPECT_FALSE(m_client.Receive(&raw, 100));  // no 6802
}

TEST_F(PeerLoopback, DuplicatedAndDelayedOutboundStillArrive) {
  PeerConfig cfg;
  cfg.faultOut.dupPct = 100;
  cfg.faultOut.delayMs = 30;
  StartPeer(std::move(cfg));
  ASSERT_TRUE(m_client.Send(m_peer->StprcEndpoint(0), kMsgStprcRequest, {}));
  std::vector<uint8_t> first;
  std::vector<uint8_t> second;
  ASSERT_TRUE(m_client.Receive(&first));
  ASSERT_TRUE(m_client.Receive(&second));
  EXPECT_EQ(first, second);
  const PeerStats s = Stats();
  EXPECT_EQ(s.faultOut.duplicated, 1u);
  EXPECT_EQ(s.faultOut.delayed, 2u);
  EXPECT_EQ(s.datagramsOut, 2u);
}

TEST_F(PeerLoopback, DelayedInboundIsHandledLater) {
  PeerConfig cfg;
  cfg.faultIn.delayMs = 20;
  StartPeer(std::move(cfg));
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(m_client.Send(m_peer->QosEndpoint(), kMsgQosRecord, {1}));
  }
  ASSERT_TRUE(WaitFor([&] { return Stats().records1116 == 3; }));
  EXPECT_EQ(Stats().faultIn.delayed, 3u);
}

TEST_F(PeerLoopback, UnacknowledgedReliableNotificationIsResentThenGivenUp) {
  PeerConfig cfg;
  cfg.reliableResendBaseMs = 5;
  cfg.reliableMaxSends = 3;
  StartPeer(std::move(cfg));
  const Endpoint target = m_client.Local();
  ASSERT_EQ(m_peer->SendAdjust(PeerConfig::DefaultAdjustTemplate(), &target, true),
            Peer::kSendOk);
  std::vector<uint32_t> sns;
  std::vector<uint8_t> raw;
  Datagram d;
  while (sns.size() < 3 && m_client.ReceiveParsed(&d, &raw)) sns.push_back(d.sn);
  EXPECT_EQ(sns, std::vector<uint32_t>(3, sns.at(0)));  // one datagram, sent three times
  ASSERT_TRUE(WaitFor([&] { return Stats().adjustGaveUp == 1; }));
  const PeerStats s = Stats();
  EXPECT_EQ(s.adjustSent, 1u);
  EXPECT_EQ(s.adjustTransmissions, 3u);
}

TEST_F(PeerLoopback, AdjustNeedsAKnownLoopbackTarget) {
  StartPeer();
  const AdjustNotify n = PeerConfig::DefaultAdjustTemplate();
  EXPECT_EQ(m_peer->SendAdjust(n, nullptr, true), Peer::kSendNoTarget);
  const Endpoint remote{0x0A000001, 5000};
  EXPECT_EQ(m_peer->SendAdjust(n, &remote, true), Peer::kSendRefusedRemote);
  EXPECT_EQ(Stats().adjustSent, 0u);
  m_peer->Stop();
  const Endpoint local = m_client.Local();
  EXPECT_EQ(m_peer->SendAdjust(n, &local, true), Peer::kSendNotRunning);
}

TEST_F(PeerLoopback, ScheduledNotificationsWaitForTheClient) {
  PeerConfig cfg;
  cfg.adjustEveryMs = 10;
  cfg.adjustCount = 2;
  cfg.adjustReliable = false;
  StartPeer(std::move(cfg));
  ASSERT_TRUE(WaitFor([&] { return Stats().adjustScheduleSkipped >= 1; }));
  ASSERT_TRUE(m_client.Send(m_peer->StprcEndpoint(0), kMsgStprcRequest, {}));
  std::vector<uint32_t> packetIds;
  std::vector<uint8_t> raw;
  Datagram d;
  while (packetIds.size() < 2 && m_client.ReceiveParsed(&d, &raw)) {
    if (d.msg.msgId != kMsgAdjustNotify) continue;  // the 6802
    AdjustNotify n;
    ASSERT_TRUE(DecodeAdjustNotify(d.body, d.bodyLen, &n));
    packetIds.push_back(n.PacketId);
  }
  EXPECT_EQ(packetIds, (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(Stats().adjustSent, 2u);
}

TEST_F(PeerLoopback, SummaryIsOneJsonObjectWithTheCounters) {
  StartPeer();
  ASSERT_TRUE(m_client.Send(m_peer->QosEndpoint(), kMsgQosRecord, {'"', '\\', '\n'}));
  ASSERT_TRUE(m_client.Send(m_peer->StprcEndpoint(0), kMsgQosRecord, {1}));  // wrong socket
  ASSERT_TRUE(WaitFor([&] { return Stats().unexpected == 1; }));
  const std::string json = m_peer->SummaryJson();
  EXPECT_TRUE(vpeer_test::JsonChecker::Valid(json)) << json;
  EXPECT_NE(json.find("\"records_1116\":1"), std::string::npos) << json;
  EXPECT_NE(json.find("\"qos_port\":" + std::to_string(m_peer->QosPort())), std::string::npos);
  EXPECT_NE(json.find("\"unexpected\":1"), std::string::npos);
}

TEST(PeerStart, RefusesANonLoopbackBind) {
  PeerConfig cfg;
  cfg.bindIp = "0.0.0.0";
  Peer peer(cfg);
  std::string err;
  EXPECT_FALSE(peer.Start(&err));
  EXPECT_NE(err.find("127.0.0.0/8"), std::string::npos) << err;
  EXPECT_FALSE(peer.Running());
}
