// The library against the independent peer: discovery through STPRC groups,
// records with and without their own destination, the direct-address file,
// the conversion map, adjustments in both directions, a run with loss,
// duplication and reordering in both directions, and a byte-for-byte check
// of everything the library puts on the wire.
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
  std::set<uint32_t> seqs;                    // distinct records received
  std::vector<std::vector<uint8_t>> raw;      // every datagram received

  void Start() {
    cfg.on1116 = [this](const vpeer::QosRecord& r) {
      if (r.len < 4) return;
      std::lock_guard<std::mutex> g(mu);
      seqs.insert(vpeer::GetU32(r.body));
    };
    cfg.onDatagram = [this](const vpeer::RawDatagram& d) {
      std::lock_guard<std::mutex> g(mu);
      raw.emplace_back(d.data, d.data + d.len);
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
  ASSERT_TRUE(Eventually([&] {
    std::vector<uint8_t> r = Record(++seq, 16);
    ReportMeetingQosInfo(r.data(), 16);
    return Eventually([&] { return run.HasRecord(seq); }, 100);
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

TEST(PeerRoad, DiscoveryRecordsAndAdjustmentsInBothDirections) {
  PeerRun run;
  run.Start();
  StartAndDiscover(run);
  for (uint32_t i = 0; i < 50; ++i) {
    std::vector<uint8_t> r = Record(i, 8 + i * 13);
    ASSERT_EQ(0, ReportMeetingQosInfo(r.data(), static_cast<uint32_t>(r.size())));
  }
  ASSERT_TRUE(Eventually([&] { return run.Distinct() >= 51; }));

  // A record with its own destination goes there and not to the peer.
  TestServer own;
  std::vector<uint8_t> r = Record(77777, 30);
  char ip[16] = "127.0.0.1";
  ASSERT_EQ(0, ReportMeetingQosInfo3(r.data(), 30, ip, own.Port()));
  Received got;
  ASSERT_TRUE(own.ReceiveMsg(vpeer::kMsgQosRecord, &got));
  EXPECT_EQ(r, got.Body());
  EXPECT_FALSE(run.HasRecord(77777));

  const vpeer::Endpoint client = run.peer->ClientAddress();
  ASSERT_EQ(vpeer::Peer::kSendOk, run.peer->SendAdjust(Notify(1, 42), &client, true));
  ASSERT_EQ(vpeer::Peer::kSendOk, run.peer->SendAdjust(Notify(2, 20000), &client, true));
  ASSERT_TRUE(Eventually([&] { return g_uplink == 1 && g_downlink == 1 && run.peer->Stats().adjustAnswered == 2; }));
  vpeer::PeerStats s = run.peer->Stats();
  EXPECT_EQ(2u, s.adjustAcksValid);
  EXPECT_EQ(0u, s.adjustAcksInvalid);
  EXPECT_EQ(0u, s.malformed);
}

TEST(PeerRoad, SetStpRcWithSeveralGroupsFindsTheAnsweringGroup) {
  PeerRun run;
  run.cfg.stprc = {vpeer::StprcSocketConfig{0, true, 0}, vpeer::StprcSocketConfig{0, true, 0},
                   vpeer::StprcSocketConfig{0, false, 0}};
  run.Start();
  ASSERT_EQ(0, InitVeltraneWithCallback(&OnAdjust, 0, 0, "127.0.0.1", 0, 0, 0, "127.0.0.1",
                                        run.peer->StprcEndpoint(0).port));
  StprcAddrEntry list[3];
  memset(list, 0, sizeof(list));
  for (uint32_t i = 0; i < 3; ++i) {
    strcpy(list[i].stprcIp, "127.0.0.1");
    list[i].stprcPort = run.peer->StprcEndpoint(i).port;
  }
  list[0].groupid = 10;  // two silent servers in the first group
  list[1].groupid = 10;
  list[2].groupid = 20;
  ASSERT_EQ(0, SetStpRc(list, 3));
  ASSERT_TRUE(Eventually([&] {
    VELT_TestAdvanceClock(500);
    return run.peer->Stats().stprcAnswers >= 1;
  }, 10000));
  vpeer::PeerStats s = run.peer->Stats();
  EXPECT_GE(s.stprcRequests[0], 1u);
  EXPECT_GE(s.stprcRequests[1], 1u);
  uint32_t seq = 5;
  ASSERT_TRUE(Eventually([&] {
    std::vector<uint8_t> r = Record(++seq, 12);
    ReportMeetingQosInfo(r.data(), 12);
    return Eventually([&] { return run.HasRecord(seq); }, 100);
  }));
}

TEST(PeerRoad, DirectAddressFileAndConversionMapRedirectRecords) {
  PeerRun run;
  TestServer announced;  // what STPRC names; nobody should get records there
  run.cfg.qosAnnounce = "127.0.0.1:" + std::to_string(announced.Port());
  run.Start();
  VELT_CovertRecverAddr_Start();
  VELT_CovertRecverAddr_Add("127.0.0.1", announced.Port(), "127.0.0.1", run.peer->QosPort());
  VELT_CovertRecverAddr_End();
  StartAndDiscover(run);  // records reach the peer only through the map
  EXPECT_TRUE(announced.Silent(100));

  TestServer direct;
  const std::string dir = MakeTempDir("velt-peer-road-");
  FILE* f = fopen((dir + "/qosRecverIP.txt").c_str(), "wb");
  ASSERT_NE(nullptr, f);
  fprintf(f, "127.0.0.1:%u\n", direct.Port());
  fclose(f);
  SetVeltraneDir(dir.c_str());
  std::vector<uint8_t> r = Record(4242, 20);
  Received got;
  ASSERT_TRUE(Eventually([&] {
    ReportMeetingQosInfo(r.data(), 20);
    return direct.ReceiveMsg(vpeer::kMsgQosRecord, &got, 50);
  }));
  EXPECT_EQ(r, got.Body());
}

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
  ASSERT_TRUE(Eventually([&] {
    vpeer::PeerStats s = run.peer->Stats();
    return run.Distinct() - before + (s.droppedInByMsg[vpeer::kMsgQosRecord] - droppedBefore) >= kRecords;
  }, 10000));
  SleepRealMs(200);
  vpeer::PeerStats s = run.peer->Stats();
  EXPECT_EQ(kRecords, run.Distinct() - before + (s.droppedInByMsg[vpeer::kMsgQosRecord] - droppedBefore));

  // Notifications one after another, each reliable and resent by the peer
  // until answered: every one reaches the host exactly once.
  const vpeer::Endpoint client = run.peer->ClientAddress();
  const int kAdjust = 10;
  for (int i = 0; i < kAdjust; ++i) {
    const uint64_t answered = run.peer->Stats().adjustAnswered;
    ASSERT_EQ(vpeer::Peer::kSendOk,
              run.peer->SendAdjust(Notify(100 + i, i % 2 ? 15000 : 15), &client, true));
    ASSERT_TRUE(Eventually([&] {
      return g_uplink + g_downlink == i + 1 && run.peer->Stats().adjustAnswered > answered;
    }, 15000)) << "notification " << i;
  }
  SleepRealMs(300);
  EXPECT_EQ(kAdjust / 2, g_uplink.load());
  EXPECT_EQ(kAdjust / 2, g_downlink.load());
  EXPECT_EQ(0u, run.peer->Stats().adjustAcksInvalid);
}

TEST(PeerRoad, EveryDatagramTheLibrarySendsReadsBackByteForByte) {
  PeerRun run;
  run.Start();
  StartAndDiscover(run);
  for (uint32_t i = 0; i < 100; ++i) {
    std::vector<uint8_t> r = Record(i, 4 + (i * 37) % 2000);
    ReportMeetingQosInfo(r.data(), static_cast<uint32_t>(r.size()));
  }
  const vpeer::Endpoint client = run.peer->ClientAddress();
  run.peer->SendAdjust(Notify(7, 1), &client, true);
  run.peer->SendAdjust(Notify(8, 10001), &client, true);
  ASSERT_TRUE(Eventually([&] { return run.Distinct() >= 101 && run.peer->Stats().adjustAnswered == 2; }));

  std::lock_guard<std::mutex> g(run.mu);
  ASSERT_GT(run.raw.size(), 100u);
  size_t data = 0, acks = 0;
  for (const std::vector<uint8_t>& bytes : run.raw) {
    vpeer::Datagram d;
    ASSERT_EQ(vpeer::Verdict::kOk, vpeer::ParseDatagram(bytes.data(), bytes.size(), &d));
    std::vector<uint8_t> again;
    if (d.kind == vpeer::DatagramKind::kAck) {
      vpeer::EncodeAck(d.sn, &again);
      ++acks;
    } else {
      ASSERT_TRUE(vpeer::EncodeData(d.msg, d.body, d.bodyLen, d.kind == vpeer::DatagramKind::kReliable, d.sn, &again));
      EXPECT_EQ(1u, d.msg.msgTag);
      ++data;
    }
    EXPECT_EQ(bytes, again);
  }
  EXPECT_GE(data, 103u);  // 6801s, the records and two 6004 answers
  EXPECT_GE(acks, 2u);    // the library's ACKs of the reliable 6003s
}
