// The Peer on 127.0.0.1 against a plain UDP socket playing the client: the
// refusals that keep it on loopback, and fault injection on its inbound road.
// The end-to-end suite drives its normal traffic against the library.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "bodies.h"
#include "codec.h"
#include "peer.h"
#include "udp_socket.h"
#include "wait_util.h"

using namespace vpeer;

namespace {

class PeerLoopback : public ::testing::Test {
 protected:
  void StartPeer(PeerConfig cfg = PeerConfig{}) {
    m_peer.reset(new Peer(std::move(cfg)));
    std::string err;
    ASSERT_TRUE(m_peer->Start(&err)) << err;
    ASSERT_TRUE(m_client.Open(Endpoint{0x7F000001, 0}, &err)) << err;
  }
  // One datagram from a client session, as the library would send it.
  bool Send(const Endpoint& to, uint32_t msgId, const std::vector<uint8_t>& body) {
    MsgHeader h;
    h.msgId = msgId;
    h.srcSid = 0xFFFFD7FF;
    std::vector<uint8_t> bytes;
    return EncodeData(h, body.data(), body.size(), false, 0, &bytes) &&
           m_client.SendTo(to, bytes.data(), bytes.size());
  }
  void TearDown() override {
    if (m_peer) m_peer->Stop();
  }
  PeerStats Stats() const { return m_peer->Stats(); }

  std::unique_ptr<Peer> m_peer;
  UdpSocket m_client;
};

}  // namespace

TEST_F(PeerLoopback, DroppingAllInboundCountsDropsAndNothingElse) {
  PeerConfig cfg;
  cfg.faultIn.dropPct = 100;
  StartPeer(std::move(cfg));
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(Send(m_peer->QosEndpoint(), kMsgQosRecord, {1, 2, 3}));
  }
  ASSERT_TRUE(Send(m_peer->StprcEndpoint(0), kMsgStprcRequest, {}));
  ASSERT_TRUE(WaitUntil([&] { return Stats().faultIn.dropped == 11; }));
  const PeerStats s = Stats();
  EXPECT_EQ(s.records1116, 0u);
  EXPECT_EQ(s.stprcRequests.at(0), 0u);
  EXPECT_EQ(s.datagramsIn, 11u);
  EXPECT_EQ(s.DroppedIn(kMsgQosRecord), 10u);
  EXPECT_EQ(s.DroppedIn(kMsgStprcRequest), 1u);
  EXPECT_EQ(s.datagramsOut, 0u);  // no 6802
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

TEST(PeerStart, RefusesANonLoopbackBind) {
  PeerConfig cfg;
  cfg.bindIp = "0.0.0.0";
  Peer peer(cfg);
  std::string err;
  EXPECT_FALSE(peer.Start(&err));
  EXPECT_NE(err.find("127.0.0.0/8"), std::string::npos) << err;
  EXPECT_FALSE(peer.Running());
}
