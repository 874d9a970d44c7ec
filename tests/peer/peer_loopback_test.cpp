// The Peer on 127.0.0.1: the refusals that keep it on loopback. The
// end-to-end suite and the demo drive its traffic and its fault injection
// against the library.
#include <gtest/gtest.h>

#include <string>

#include "peer.h"

using namespace vpeer;

TEST(PeerLoopback, RefusesANonLoopbackBindAndAdjustNeedsAKnownLoopbackTarget) {
  PeerConfig remoteBind;
  remoteBind.bindIp = "0.0.0.0";
  Peer refused(remoteBind);
  std::string err;
  EXPECT_FALSE(refused.Start(&err));
  EXPECT_NE(err.find("127.0.0.0/8"), std::string::npos) << err;
  EXPECT_FALSE(refused.Running());

  Peer peer{PeerConfig{}};
  ASSERT_TRUE(peer.Start(&err)) << err;
  const AdjustNotify n = PeerConfig::DefaultAdjustTemplate();
  EXPECT_EQ(peer.SendAdjust(n, nullptr, true), Peer::kSendNoTarget);
  const Endpoint remote{0x0A000001, 5000};
  EXPECT_EQ(peer.SendAdjust(n, &remote, true), Peer::kSendRefusedRemote);
  EXPECT_EQ(peer.Stats().adjustSent, 0u);
  peer.Stop();
  const Endpoint local = peer.StprcEndpoint(0);
  EXPECT_EQ(peer.SendAdjust(n, &local, true), Peer::kSendNotRunning);
}
