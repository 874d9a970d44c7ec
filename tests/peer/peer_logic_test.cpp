// The peer's socket-free judgement: the checks it applies to a client's
// 6004 answers, its command line, and the summary it writes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <vector>

#include "adjust_tracker.h"
#include "cli_options.h"
#include "peer_stats.h"

using namespace vpeer;

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

namespace {

bool Parse(std::vector<const char*> args, CliOptions* o, std::string* err) {
  args.insert(args.begin(), "veltrane-peer");
  const CliOutcome r = ParseCli(static_cast<int>(args.size()), args.data(), o);
  *err = r.text;
  return r.Run();
}

}  // namespace

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

TEST(PeerCli, BothValueFormsLastValueWinsAndSocketsNumberPortsFirst) {
  CliOptions o;
  std::string err;
  ASSERT_TRUE(Parse({"--stprc-count=2", "--stprc-port", "5000", "--stprc-port=5001", "--stprc-result", "7",
                     "--stprc-result=3:9", "--stprc-silent", "0,2", "--adjust-count", "010", "--delay-out=rand:40",
                     "--duration=3", "--duration", "4", "--no-1120"},
                    &o, &err))
      << err;
  ASSERT_EQ(4u, o.peer.stprc.size());
  const uint32_t results[] = {7, 7, 7, 9};
  const bool silent[] = {true, false, true, false};
  const uint16_t ports[] = {5000, 5001, 0, 0};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(ports[i], o.peer.stprc[i].port) << i;
    EXPECT_EQ(results[i], o.peer.stprc[i].result) << i;
    EXPECT_EQ(silent[i], o.peer.stprc[i].silent) << i;
  }
  EXPECT_EQ(10u, o.peer.adjustCount);  // decimal, not octal
  EXPECT_TRUE(o.peer.faultOut.delayRandom);
  EXPECT_EQ(40u, o.peer.faultOut.delayMs);
  EXPECT_EQ(4u, o.durationSec);
  EXPECT_FALSE(o.peer.answer1119);

  for (auto args : std::vector<std::vector<const char*>>{
           {"--stprc-result", "1:5"}, {"--stprc-silent", "1"}, {"--stprc-result", "x"}, {"--qos-port", "65536"},
           {"--seed", "-1"}, {"--drop-in", "nan"}, {"--delay-in", "rand:"}, {"--summary", ""}, {"--duration"},
           {"--bogus"}}) {
    EXPECT_FALSE(Parse(args, &o, &err)) << args[0];
    EXPECT_NE(err.find(args[0]), std::string::npos) << err;
  }
}

TEST(PeerSummary, JsonKeepsEveryFieldNameAndType) {
  PeerStats s;
  s.stprcPorts = {4000, 4001};
  s.stprcRequests = {3, 0};
  s.records1116 = 5;
  s.malformedBy[static_cast<int>(Verdict::kBadAck)] = 2;
  s.faultOut.delayed = 6;
  s.droppedInByMsg[1116] = 8;
  s.lastProblem = "quote \" and \xff";  // not UTF-8: written, not thrown
  const nlohmann::json j = nlohmann::json::parse(s.ToJson());
  EXPECT_EQ(j["stprc_ports"], nlohmann::json({4000, 4001}));
  EXPECT_EQ(j["stprc_requests"], nlohmann::json({3, 0}));
  EXPECT_EQ(j["records_1116"], 5);
  EXPECT_EQ(j["malformed"]["bad_ack"], 2);
  EXPECT_EQ(j["fault"]["out"]["delayed"], 6);
  EXPECT_EQ(j["dropped_in_by_msg"]["1116"], 8);
  EXPECT_EQ(j["last_problem"].get<std::string>().substr(0, 7), "quote \"");
  for (const char* key : {"bind", "qos_port", "stprc_answers", "bytes_1116", "packets_1119",
                          "packets_1119_duplicates", "acks_1120_sent", "adjust_sent", "adjust_acks_valid",
                          "adjust_acks_invalid", "adjust_gave_up", "bad_tag", "unexpected", "acks_unknown"}) {
    ASSERT_TRUE(j.contains(key)) << key;
    EXPECT_TRUE(key == std::string("bind") ? j[key].is_string() : j[key].is_number_unsigned()) << key;
  }
}
