// The library against the independent peer: records and adjustments through
// loss, duplication and reordering in both directions.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "e2e_client.h"
#include "peer.h"

using namespace e2e;

namespace {

std::atomic<int> g_uplink{0};
std::atomic<int> g_downlink{0};

void OnAdjust(int kind, void*) { (kind == 0 ? g_uplink : g_downlink)++; }

// Records carry a sequence number in their first four bytes.
std::vector<uint8_t> Record(uint32_t seq, size_t len) {
  std::vector<uint8_t> r = Pattern(len, static_cast<uint8_t>(seq));
  vpeer::PutU32(r.data(), seq);
  return r;
}

struct PeerRun {
  vpeer::PeerConfig cfg;
  std::unique_ptr<vpeer::Peer> peer;
  std::mutex mu;
  std::set<uint32_t> seqs;  // distinct records received

  void Start() {
    cfg.on1116 = [this](const vpeer::QosRecord& r) {
      if (r.len < 4) return;
      std::lock_guard<std::mutex> g(mu);
      seqs.insert(vpeer::GetU32(r.body));
    };
    peer.reset(new vpeer::Peer(cfg));
    std::string err;
    ASSERT_TRUE(peer->Start(&err)) << err;
  }
  size_t Distinct() {
    std::lock_guard<std::mutex> g(mu);
    return seqs.size();
  }
  bool HasRecord(uint32_t seq) {
    std::lock_guard<std::mutex> g(mu);
    return seqs.count(seq) != 0;
  }
};

// Starts the library against STPRC socket `index` of the peer and waits until
// a record reaches the peer's QoS socket.
void StartAndDiscover(PeerRun& run, size_t index = 0) {
  ASSERT_EQ(0, InitVeltraneWithCallback(&OnAdjust, 0, 0, "127.0.0.1", 0, 0, 0, "127.0.0.1",
                                        run.peer->StprcEndpoint(index).port));
  uint32_t seq = 1000000;
  ASSERT_TRUE(WaitUntil([&] {
    std::vector<uint8_t> r = Record(++seq, 16);
    ReportMeetingQosInfo(r.data(), 16);
    return WaitUntil([&] { return run.HasRecord(seq); }, 100);
  }, 8000));
}

vpeer::AdjustNotify Notify(uint32_t packetId, uint32_t speakId) {
  vpeer::AdjustNotify n = vpeer::PeerConfig::DefaultAdjustTemplate();
  n.Dialog = 3;
  n.PacketId = packetId;
  n.speakId = speakId;
  return n;
}

}  // namespace

TEST(PeerRoad, LossDuplicationAndReorderingInBothDirections) {
  PeerRun run;
  run.cfg.seed = 20261206;
  for (vpeer::FaultPlan* p : {&run.cfg.faultIn, &run.cfg.faultOut}) {
    p->dropPct = 20;
    p->dupPct = 20;
    p->delayMs = 30;
    p->delayRandom = true;  // reorders
  }
  run.Start();
  StartAndDiscover(run);
  const size_t before = run.Distinct();
  const uint64_t droppedBefore = run.peer->Stats().droppedInByMsg[vpeer::kMsgQosRecord];

  const uint32_t kRecords = 400;
  for (uint32_t i = 0; i < kRecords; ++i) {
    std::vector<uint8_t> r = Record(i, 64);
    ASSERT_EQ(0, ReportMeetingQosInfo(r.data(), 64));
    if (i % 20 == 19) SleepRealMs(5);
  }
  // Every record either reached the peer (at least once) or was dropped by it.
  ASSERT_TRUE(WaitUntil([&] {
    vpeer::PeerStats s = run.peer->Stats();
    return run.Distinct() - before + (s.droppedInByMsg[vpeer::kMsgQosRecord] - droppedBefore) >= kRecords;
  }, 10000));
  vpeer::PeerStats s = run.peer->Stats();
  EXPECT_EQ(kRecords, run.Distinct() - before + (s.droppedInByMsg[vpeer::kMsgQosRecord] - droppedBefore));

  // Notifications one after another, each reliable and resent by the peer
  // until answered: every one reaches the host exactly once.
  const vpeer::Endpoint client = run.peer->ClientAddress();
  // The last one comes after the others were answered: a late copy of any
  // of them would have reached the host before it.
  const int kAdjust = 11;
  for (int i = 0; i < kAdjust; ++i) {
    const uint64_t answered = run.peer->Stats().adjustAnswered;
    ASSERT_EQ(vpeer::Peer::kSendOk,
              run.peer->SendAdjust(Notify(100 + i, i % 2 ? 15000 : 15), &client, true));
    ASSERT_TRUE(WaitUntil([&] {
      return g_uplink + g_downlink == i + 1 && run.peer->Stats().adjustAnswered > answered;
    }, 15000)) << "notification " << i;
  }
  EXPECT_EQ(kAdjust / 2 + 1, g_uplink.load());
  EXPECT_EQ(kAdjust / 2, g_downlink.load());
  EXPECT_EQ(0u, run.peer->Stats().adjustAcksInvalid);
}
