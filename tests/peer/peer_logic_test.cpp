// The peer's socket-free parts: the fault generator, the duplicate filter,
// the 6003/6004 bookkeeping and the command line.
#include <gtest/gtest.h>

#include <vector>

#include "adjust_tracker.h"
#include "cli_options.h"
#include "dup_filter.h"
#include "fault.h"

using namespace vpeer;

TEST(PeerFault, SameSeedGivesSameDecisions) {
  FaultPlan plan;
  plan.dropPct = 30;
  plan.dupPct = 30;
  plan.delayMs = 50;
  plan.delayRandom = true;
  FaultInjector a(1234), b(1234), c(99);
  bool anyDifferent = false;
  for (int i = 0; i < 200; ++i) {
    const FaultDecision x = a.Decide(plan);
    const FaultDecision y = b.Decide(plan);
    const FaultDecision z = c.Decide(plan);
    ASSERT_EQ(x.drop, y.drop);
    ASSERT_EQ(x.copies, y.copies);
    ASSERT_EQ(x.delayMs[0], y.delayMs[0]);
    ASSERT_LE(x.delayMs[0], 50u);
    anyDifferent = anyDifferent || x.drop != z.drop || x.delayMs[0] != z.delayMs[0];
  }
  EXPECT_TRUE(anyDifferent);
}

TEST(PeerFault, ExtremesAreExact) {
  FaultInjector f(7);
  FaultPlan none;
  FaultPlan all;
  all.dropPct = 100;
  FaultPlan dup;
  dup.dupPct = 100;
  dup.delayMs = 20;  // fixed
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(f.Decide(none).copies, 1);
    EXPECT_TRUE(f.Decide(all).drop);
    const FaultDecision d = f.Decide(dup);
    EXPECT_EQ(d.copies, 2);
    EXPECT_EQ(d.delayMs[0], 20u);
    EXPECT_EQ(d.delayMs[1], 20u);
  }
}

TEST(PeerFault, DropRateIsRoughlyThePercentage) {
  FaultInjector f(42);
  FaultPlan plan;
  plan.dropPct = 25;
  int dropped = 0;
  for (int i = 0; i < 10000; ++i) dropped += f.Decide(plan).drop ? 1 : 0;
  EXPECT_GT(dropped, 2200);
  EXPECT_LT(dropped, 2800);
}

TEST(PeerDupFilter, SameSourceAndSnIsCaughtWithinTheWindowOnly) {
  DupFilter f(1000);
  const Endpoint a{0x7F000001, 5000};
  const Endpoint b{0x7F000001, 5001};
  EXPECT_TRUE(f.Insert(a, 10, 0));
  EXPECT_FALSE(f.Insert(a, 10, 500));
  EXPECT_TRUE(f.Insert(b, 10, 500));  // another source, same sn
  EXPECT_TRUE(f.Insert(a, 11, 600));
  EXPECT_TRUE(f.Insert(a, 10, 1001));  // the first copy has expired
}

namespace {

AdjustNotify Note(uint32_t dialog, uint32_t packetId) {
  AdjustNotify n = PeerConfig::DefaultAdjustTemplate();
  n.Dialog = dialog;
  n.PacketId = packetId;
  n.a3 = 99;
  return n;
}

// A reliable 6004 as a client would build it, kept alive with its bytes.
struct Answer {
  std::vector<uint8_t> bytes;
  Datagram d;
  Answer(const AdjustAck& ack, uint32_t destSid, bool reliable = true) {
    uint8_t body[kAdjustAckSize];
    EncodeAdjustAck(ack, body);
    MsgHeader h;
    h.msgId = kMsgAdjustAck;
    h.destSid = destSid;
    EncodeData(h, body, sizeof body, reliable, 77, &bytes);
    ParseDatagram(bytes.data(), bytes.size(), &d);
  }
};

}  // namespace

TEST(PeerAdjustTracker, ReliableNotificationResendsWithGrowingWaitsThenGivesUp) {
  AdjustTracker::Config cfg;
  cfg.maxSends = 3;
  AdjustTracker t(cfg);
  const Endpoint to{0x7F000001, 4000};
  const AdjustTracker::Transmission first = t.Add(Note(1, 1), to, 5, true, 0);
  Datagram d;
  ASSERT_EQ(ParseDatagram(first.bytes.data(), first.bytes.size(), &d), Verdict::kOk);
  EXPECT_EQ(d.kind, DatagramKind::kReliable);
  EXPECT_NE(d.sn, 0u);
  EXPECT_EQ(d.msg.msgId, kMsgAdjustNotify);
  EXPECT_EQ(d.msg.srcSid, 7u);
  EXPECT_EQ(d.msg.destSid, 5u);
  EXPECT_EQ(d.bodyLen, kAdjustNotifySize);

  std::vector<AdjustTracker::Transmission> out;
  EXPECT_EQ(t.CollectDue(199, &out), 0u);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(t.CollectDue(200, &out), 0u);  // second send, next wait 400
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].bytes, first.bytes);  // the same datagram, same sn
  EXPECT_EQ(t.NextDueMs(), 600);
  EXPECT_EQ(t.CollectDue(600, &out), 0u);  // third send, next wait 600
  EXPECT_EQ(out.size(), 2u);
  EXPECT_EQ(t.CollectDue(1200, &out), 1u);  // given up
  EXPECT_EQ(t.InFlight(), 0u);
}

TEST(PeerAdjustTracker, AckStopsResending) {
  AdjustTracker t(AdjustTracker::Config{});
  const AdjustTracker::Transmission first = t.Add(Note(1, 1), Endpoint{0x7F000001, 1}, 5, true, 0);
  const uint32_t sn = GetU32(first.bytes.data() + 8);
  EXPECT_FALSE(t.OnAck(sn + 1));
  EXPECT_TRUE(t.OnAck(sn));
  EXPECT_FALSE(t.OnAck(sn));
  std::vector<AdjustTracker::Transmission> out;
  EXPECT_EQ(t.CollectDue(10000, &out), 0u);
  EXPECT_TRUE(out.empty());
}

TEST(PeerAdjustTracker, AnswersAreCheckedFieldByField) {
  AdjustTracker t(AdjustTracker::Config{});
  const AdjustNotify n = Note(3, 4);
  t.Add(n, Endpoint{0x7F000001, 1}, 5, true, 0);
  const AdjustAck good = ExpectedAdjustAck(n);

  EXPECT_EQ(t.OnAnswer(Answer(good, 8).d), AdjustTracker::Answer::kWrongSid);
  EXPECT_EQ(t.OnAnswer(Answer(good, 7, false).d), AdjustTracker::Answer::kNotReliable);
  AdjustAck withA3 = good;
  withA3.zero7 = 99;  // a client that echoed a3 where 0 belongs
  EXPECT_EQ(t.OnAnswer(Answer(withA3, 7).d), AdjustTracker::Answer::kMismatch);
  AdjustAck other = good;
  other.PacketId = 5;
  EXPECT_EQ(t.OnAnswer(Answer(other, 7).d), AdjustTracker::Answer::kUnknown);
  EXPECT_EQ(t.OnAnswer(Answer(good, 7).d), AdjustTracker::Answer::kValid);
  EXPECT_EQ(t.OnAnswer(Answer(good, 7).d), AdjustTracker::Answer::kDuplicate);
  EXPECT_EQ(t.AnsweredNotifications(), 1u);

  // Sending the same notification again makes one more answer due.
  t.Add(n, Endpoint{0x7F000001, 1}, 5, true, 0);
  t.Add(n, Endpoint{0x7F000001, 1}, 5, true, 0);
  EXPECT_EQ(t.OnAnswer(Answer(good, 7).d), AdjustTracker::Answer::kValid);
  EXPECT_EQ(t.AnsweredNotifications(), 1u);
}

TEST(PeerAdjustTracker, UnreliableRepeatStopsWhenAnswered) {
  AdjustTracker::Config cfg;
  cfg.repeatMs = 100;
  AdjustTracker t(cfg);
  const AdjustNotify n = Note(1, 9);
  t.Add(n, Endpoint{0x7F000001, 1}, 5, false, 0);
  std::vector<AdjustTracker::Transmission> out;
  t.CollectDue(100, &out);
  EXPECT_EQ(out.size(), 1u);
  t.OnAnswer(Answer(ExpectedAdjustAck(n), 7).d);
  t.CollectDue(200, &out);
  EXPECT_EQ(out.size(), 1u);
  EXPECT_EQ(t.InFlight(), 0u);
}

namespace {

bool Parse(std::vector<const char*> args, CliOptions* o, std::string* err) {
  args.insert(args.begin(), "veltrane-peer");
  return ParseCli(static_cast<int>(args.size()), args.data(), o, err);
}

}  // namespace

TEST(PeerCli, BuildsSocketsResultsAndFaults) {
  CliOptions o;
  std::string err;
  ASSERT_TRUE(Parse({"--stprc-port", "0", "--stprc-count", "2", "--stprc-result", "1:5",
                     "--stprc-silent", "0,2", "--drop-in", "12.5", "--delay-out", "rand:40",
                     "--seed", "9", "--duration", "3", "--summary", "out.json"},
                    &o, &err))
      << err;
  ASSERT_EQ(o.peer.stprc.size(), 3u);
  EXPECT_TRUE(o.peer.stprc[0].silent);
  EXPECT_FALSE(o.peer.stprc[1].silent);
  EXPECT_EQ(o.peer.stprc[1].result, 5u);
  EXPECT_TRUE(o.peer.stprc[2].silent);
  EXPECT_DOUBLE_EQ(o.peer.faultIn.dropPct, 12.5);
  EXPECT_EQ(o.peer.faultOut.delayMs, 40u);
  EXPECT_TRUE(o.peer.faultOut.delayRandom);
  EXPECT_EQ(o.peer.seed, 9u);
  EXPECT_EQ(o.durationSec, 3u);
  EXPECT_EQ(o.summaryPath, "out.json");
}

TEST(PeerCli, RefusesAddressesOutsideLoopbackUnlessAllowed) {
  CliOptions o;
  std::string err;
  EXPECT_FALSE(Parse({"--bind", "0.0.0.0"}, &o, &err));
  EXPECT_NE(err.find("127.0.0.0/8"), std::string::npos) << err;
  EXPECT_FALSE(Parse({"--adjust-target", "10.1.2.3:5000"}, &o, &err));
  EXPECT_FALSE(Parse({"--qos-announce", "192.168.0.1:9000"}, &o, &err));
  EXPECT_TRUE(Parse({"--qos-announce", "192.168.0.1:9000", "--allow-remote"}, &o, &err)) << err;
  EXPECT_TRUE(Parse({"--bind", "127.0.0.2"}, &o, &err)) << err;
}

TEST(PeerCli, RejectsMalformedValues) {
  CliOptions o;
  std::string err;
  EXPECT_FALSE(Parse({"--drop-in", "101"}, &o, &err));
  EXPECT_FALSE(Parse({"--stprc-port", "70000"}, &o, &err));
  EXPECT_FALSE(Parse({"--stprc-silent", "3"}, &o, &err));  // only one socket
  EXPECT_FALSE(Parse({"--qos-port"}, &o, &err));
  EXPECT_FALSE(Parse({"--frobnicate", "1"}, &o, &err));
}
