// Media adjustment notifications from a loopback log receiver: the host
// callback, the repeat filter and the reliable 6004 answer.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "e2e_client.h"
#include "wire_golden.h"

using namespace e2e;

namespace {

struct Call {
  int kind;
  std::vector<uint8_t> record;
};
std::mutex g_mu;
// The library's workers outlive main and may still be inside OnAdjust while
// statics are destroyed: the calls are never freed, only cleared.
std::vector<Call>& g_calls = *new std::vector<Call>();

void OnAdjust(int kind, void* record) {
  std::lock_guard<std::mutex> g(g_mu);
  size_t n = kind == 0 ? sizeof(AdjustUplinkInfo) : sizeof(AdjustDownlinkInfo);
  const uint8_t* p = static_cast<const uint8_t*>(record);
  g_calls.push_back({kind, std::vector<uint8_t>(p, p + n)});
}

std::vector<Call> TakeCalls() {
  std::lock_guard<std::mutex> g(g_mu);
  return g_calls;
}

// The golden 88-byte AdjustNotify (every field shows its offset) with its
// own Dialog, PacketId and speakId.
std::vector<uint8_t> Notify(uint32_t dialog, uint32_t packetId, uint32_t speakId) {
  std::vector<uint8_t> b = golden::AdjustNotify();
  vpeer::PutU32(b.data(), dialog);
  vpeer::PutU32(b.data() + 4, packetId);
  vpeer::PutU32(b.data() + 16, speakId);
  return b;
}

struct Fixture {
  TestServer stprc, receiver;
  ClientAddr client;
  uint32_t sn = 1;

  Fixture() {
    {
      std::lock_guard<std::mutex> g(g_mu);
      g_calls.clear();
    }
    EXPECT_EQ(0, StartWithStprc(stprc, &OnAdjust));
    EXPECT_TRUE(AnswerStprc(stprc, receiver.Local(), &client));
  }
  // Sends a notification (unreliable, from session 77) and returns its 6004
  // answer's body; ACKs the answer like a log receiver does.
  bool Send(const std::vector<uint8_t>& body, Received* answer) {
    receiver.SendData(client.ep, vpeer::kMsgAdjustNotify, 77, client.sid, body);
    if (!receiver.ReceiveMsg(vpeer::kMsgAdjustAck, answer)) return false;
    std::vector<uint8_t> ack;
    vpeer::EncodeAck(answer->d.sn, &ack);
    receiver.SendRaw(answer->from, ack);
    return true;
  }
};

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
std::vector<uint8_t> Slice(const std::vector<uint8_t>& b, size_t from, size_t to) {
  return std::vector<uint8_t>(b.begin() + from, b.begin() + to);
}

// The records the host gets are runs of the notification's own bytes: the
// uplink one leaves out speakId and d1..d5, the downlink one u1..u3; both
// end with c1, c2 and two zero bytes.
std::vector<uint8_t> Uplink(const std::vector<uint8_t>& n) {
  return Cat({Slice(n, 8, 16), Slice(n, 20, 64), Slice(n, 84, 86), {0, 0}});
}
std::vector<uint8_t> Downlink(const std::vector<uint8_t>& n) {
  return Cat({Slice(n, 8, 52), Slice(n, 64, 86), {0, 0}});
}

}  // namespace

TEST(Adjust, SpeakIdBelow10000IsUplinkAndFromThereDownlinkAndEachIsAnsweredWithItsTenWords) {
  Fixture f;
  const std::vector<uint8_t> up = Notify(1, 1, 9999), down = Notify(1, 2, 10000);
  for (const std::vector<uint8_t>* n : {&up, &down}) {
    Received a;
    ASSERT_TRUE(f.Send(*n, &a));
    EXPECT_EQ(vpeer::DatagramKind::kReliable, a.d.kind);
    EXPECT_NE(0u, a.d.sn);
    EXPECT_EQ(77u, a.d.msg.destSid);
    EXPECT_EQ(f.client.sid, a.d.msg.srcSid);
    EXPECT_EQ(f.client.ep, a.from);
    // Dialog, PacketId, meetId, UserId, speakId, a1, a2, then 0 for a3, a4, 0.
    EXPECT_EQ(Cat({Slice(*n, 0, 28), {0, 0, 0, 0}, Slice(*n, 32, 36), {0, 0, 0, 0}}), a.Body());
  }
  ASSERT_TRUE(WaitUntil([] { return TakeCalls().size() == 2; }));
  const std::vector<Call> calls = TakeCalls();
  EXPECT_EQ(0, calls[0].kind);
  EXPECT_EQ(Uplink(up), calls[0].record);
  EXPECT_EQ(1, calls[1].kind);
  EXPECT_EQ(Downlink(down), calls[1].record);
}

// Every check waits for a later notification's callback: they are handled
// in order, so whatever an earlier one was going to do is done by then.
TEST(Adjust, RepeatsShortBodiesAndAFirstZeroPairReachTheHostNeverAndLongBodiesOnce) {
  Fixture f;
  LogCollector log;
  Received a;
  ASSERT_TRUE(f.Send(Notify(0, 0, 5), &a));  // the remembered pair starts at (0, 0)
  ASSERT_TRUE(f.Send(Notify(9, 1, 5), &a));
  ASSERT_TRUE(f.Send(Notify(9, 1, 5), &a));  // answered, not passed on
  ASSERT_TRUE(f.Send(Notify(9, 2, 5), &a));
  ASSERT_TRUE(f.Send(Notify(9, 1, 5), &a));  // A, B, A: only the latest pair is remembered
  ASSERT_TRUE(WaitUntil([] { return TakeCalls().size() == 3; }));
  EXPECT_EQ(2u, log.Count("[Kelvarn]【Adjust】重复接收到LogReceiver的【修改媒体】通知"));
  EXPECT_TRUE(log.WaitFor("[Kelvarn]【Adjust】接收LogReceive更改会议媒体参量,回应成功", 5));

  std::vector<uint8_t> shortBody = Notify(3, 3, 5);
  shortBody.resize(87);
  f.receiver.SendData(f.client.ep, vpeer::kMsgAdjustNotify, 77, f.client.sid, shortBody);
  std::vector<uint8_t> longBody = Notify(3, 4, 5);
  longBody.resize(200, 0xEE);  // the extra bytes are ignored
  ASSERT_TRUE(f.Send(longBody, &a));
  EXPECT_EQ(4u, vpeer::GetU32(a.Body().data() + 4));  // the first answer is the long one's
  ASSERT_TRUE(WaitUntil([] { return TakeCalls().size() == 4; }));
  EXPECT_EQ(Uplink(longBody), TakeCalls()[3].record);
  EXPECT_EQ(1u, log.Count("[Kelvarn]【Adjust】接收到LogReceiver的修改媒体通知，内容有误(RecvLen:87,StruLen:88)"));
}
