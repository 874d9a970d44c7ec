// Media adjustment notifications from a loopback log receiver: the host
// callback, the repeat filter and the reliable 6004 answer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "e2e_client.h"

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

size_t Calls() {
  std::lock_guard<std::mutex> g(g_mu);
  return g_calls.size();
}

// An 88-byte AdjustNotify with every field distinct.
std::vector<uint8_t> Notify(uint32_t dialog, uint32_t packetId, uint32_t speakId) {
  std::vector<uint8_t> b(88, 0);
  const uint32_t words[] = {dialog, packetId, 1001, 2002, speakId, 11, 12, 13, 14};
  for (int i = 0; i < 9; ++i) vpeer::PutU32(b.data() + 4 * i, words[i]);
  b[36] = 3;                                  // fec first
  b[37] = 4;                                  // fec second
  vpeer::PutU16(b.data() + 38, 0xFFFF);       // retrans -1
  for (int i = 0; i < 11; ++i) vpeer::PutU32(b.data() + 40 + 4 * i, 100 + i);  // capture .. d5
  b[84] = 7;                                  // c1
  b[85] = 8;                                  // c2
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

uint32_t U32(const std::vector<uint8_t>& b, size_t off) { return vpeer::GetU32(b.data() + off); }

}  // namespace

TEST(Adjust, SpeakIdBelow10000IsUplinkAndFromThereDownlinkWithEveryField) {
  Fixture f;
  Received a;
  ASSERT_TRUE(f.Send(Notify(1, 1, 9999), &a));
  ASSERT_TRUE(f.Send(Notify(1, 2, 10000), &a));
  ASSERT_TRUE(Eventually([] { return Calls() == 2; }));
  std::lock_guard<std::mutex> g(g_mu);
  const Call& up = g_calls[0];
  ASSERT_EQ(0, up.kind);
  ASSERT_EQ(56u, up.record.size());
  EXPECT_EQ(1001u, U32(up.record, 0));   // meetId
  EXPECT_EQ(2002u, U32(up.record, 4));   // UserId
  EXPECT_EQ(11u, U32(up.record, 8));     // a1
  EXPECT_EQ(14u, U32(up.record, 20));    // a4
  EXPECT_EQ(3, up.record[24]);
  EXPECT_EQ(4, up.record[25]);
  EXPECT_EQ(0xFFFFu, vpeer::GetU16(up.record.data() + 26));
  EXPECT_EQ(100u, U32(up.record, 28));   // capture
  EXPECT_EQ(101u, U32(up.record, 32));   // b1
  EXPECT_EQ(102u, U32(up.record, 36));   // b2
  EXPECT_EQ(103u, U32(up.record, 40));   // u1
  EXPECT_EQ(105u, U32(up.record, 48));   // u3
  EXPECT_EQ(7, up.record[52]);
  EXPECT_EQ(8, up.record[53]);
  EXPECT_EQ(0, up.record[54]);
  EXPECT_EQ(0, up.record[55]);

  const Call& down = g_calls[1];
  ASSERT_EQ(1, down.kind);
  ASSERT_EQ(68u, down.record.size());
  EXPECT_EQ(1001u, U32(down.record, 0));
  EXPECT_EQ(10000u, U32(down.record, 8));  // speakId
  EXPECT_EQ(11u, U32(down.record, 12));    // a1
  EXPECT_EQ(3, down.record[28]);
  EXPECT_EQ(100u, U32(down.record, 32));   // capture
  EXPECT_EQ(101u, U32(down.record, 36));   // b1
  EXPECT_EQ(106u, U32(down.record, 44));   // d1
  EXPECT_EQ(110u, U32(down.record, 60));   // d5
  EXPECT_EQ(7, down.record[64]);
  EXPECT_EQ(8, down.record[65]);
}

TEST(Adjust, AnswerIsAReliable6004ToTheSenderCarryingTheTenWords) {
  Fixture f;
  Received a;
  ASSERT_TRUE(f.Send(Notify(5, 6, 42), &a));
  EXPECT_EQ(vpeer::DatagramKind::kReliable, a.d.kind);
  EXPECT_NE(0u, a.d.sn);
  EXPECT_EQ(77u, a.d.msg.destSid);
  EXPECT_EQ(f.client.sid, a.d.msg.srcSid);
  EXPECT_EQ(f.client.ep, a.from);
  std::vector<uint8_t> body = a.Body();
  ASSERT_EQ(40u, body.size());
  const uint32_t expect[10] = {5, 6, 1001, 2002, 42, 11, 12, 0, 14, 0};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(expect[i], U32(body, 4 * i)) << i;
}

TEST(Adjust, RepeatsReachTheHostOnceButAreAnsweredEachTime) {
  Fixture f;
  LogCollector log;
  Received a;
  ASSERT_TRUE(f.Send(Notify(9, 1, 5), &a));
  ASSERT_TRUE(f.Send(Notify(9, 1, 5), &a));
  EXPECT_TRUE(log.WaitFor("[Kelvarn]【Adjust】重复接收到LogReceiver的【修改媒体】通知"));
  EXPECT_EQ(1u, log.Count("重复接收到"));
  // A, B, A: only the latest pair is remembered.
  ASSERT_TRUE(f.Send(Notify(9, 2, 5), &a));
  ASSERT_TRUE(f.Send(Notify(9, 1, 5), &a));
  ASSERT_TRUE(Eventually([] { return Calls() == 3; }));
  EXPECT_TRUE(log.WaitFor("[Kelvarn]【Adjust】接收LogReceive更改会议媒体参量,回应成功", 4));
}

TEST(Adjust, FirstNotificationWithDialogAndPacketIdZeroCountsAsARepeat) {
  Fixture f;
  LogCollector log;
  Received a;
  ASSERT_TRUE(f.Send(Notify(0, 0, 5), &a));
  EXPECT_TRUE(log.WaitFor("[Kelvarn]【Adjust】重复接收到LogReceiver的【修改媒体】通知"));
  // Handled in order: once the next, new one has reached the host, the
  // first one would have too.
  ASSERT_TRUE(f.Send(Notify(9, 1, 5), &a));
  ASSERT_TRUE(Eventually([] { return Calls() >= 1; }));
  EXPECT_TRUE(log.WaitFor("[Kelvarn]【Adjust】接收LogReceive更改会议媒体参量,回应成功", 2));
  EXPECT_EQ(1u, Calls());
}

TEST(Adjust, ShortNotificationGetsNoAnswerAndNoCallback) {
  Fixture f;
  LogCollector log;
  std::vector<uint8_t> shortBody = Notify(3, 3, 5);
  shortBody.resize(87);
  f.receiver.SendData(f.client.ep, vpeer::kMsgAdjustNotify, 77, f.client.sid, shortBody);
  EXPECT_TRUE(log.WaitFor("[Kelvarn]【Adjust】接收到LogReceiver的修改媒体通知，内容有误(RecvLen:87,StruLen:88)"));
  Received a;
  EXPECT_FALSE(f.receiver.ReceiveMsg(vpeer::kMsgAdjustAck, &a, 200));
  EXPECT_EQ(0u, Calls());
  // Longer bodies are accepted, the extra bytes ignored.
  std::vector<uint8_t> longBody = Notify(3, 4, 5);
  longBody.resize(200, 0xEE);
  ASSERT_TRUE(f.Send(longBody, &a));
  ASSERT_TRUE(Eventually([] { return Calls() == 1; }));
}
