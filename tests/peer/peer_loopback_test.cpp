// The Peer on 127.0.0.1: the refusals that keep it on loopback. The
// end-to-end suite drives its traffic and its fault injection against the
// library.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "peer.h"
#include "udp_socket.h"

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
  void TearDown() override {
    if (m_peer) m_peer->Stop();
  }
  PeerStats Stats() const { return m_peer->Stats(); }

  std::unique_ptr<Peer> m_peer;
  UdpSocket m_client;
};

}  // namespace

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
