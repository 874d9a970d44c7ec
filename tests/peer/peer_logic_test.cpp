// The peer's socket-free judgement: the checks it applies to a client's
// 6004 answers, and the command line's refusal of non-loopback addresses.
#include <gtest/gtest.h>

#include <vector>

#include "adjust_tracker.h"
#include "cli_options.h"

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
