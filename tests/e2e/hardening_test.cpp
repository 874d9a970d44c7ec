// Hostile or broken input on loopback (answers nobody asked for, answers that
// name no usable address, forged acknowledgements) must neither silence nor
// redirect nor drain the library; and the secured road through the exports.
#include <gtest/gtest.h>

#include <string>

#include "e2e_client.h"

using namespace e2e;

// A 6802 naming 255.255.255.255 used to be taken: every send then failed with
// EACCES, which closed the shared socket, so nothing could be received any
// more, not even a correct answer. Now the answer is ignored, records with a
// destination that is not a dotted address are refused alone, and a correct
// answer still gets through.
TEST(Hardening, AnAnswerNamingNoUsableAddressLeavesTheLibraryListening) {
  TestServer stprc, qos;
  ASSERT_EQ(0, StartWithStprc(stprc));
  LogCollector log;
  Received r;
  ASSERT_TRUE(stprc.ReceiveMsg(vpeer::kMsgStprcRequest, &r));
  for (const char* bad : {"255.255.255.255", "not.an.ip"}) {
    stprc.SendData(r.from, vpeer::kMsgStprcAnswer, 0, r.d.msg.srcSid, StpAddrResp(bad, qos.Port(), 0));
  }
  ASSERT_TRUE(log.WaitFor("names no usable address", 2));
  const std::vector<uint8_t> record = Pattern(20, 3);
  char abc[16] = "abc";
  EXPECT_EQ(0, ReportMeetingQosInfo3(record.data(), 20, abc, qos.Port()));
  ASSERT_TRUE(log.WaitFor("OnReportLocalQosinfoCmdArrived PostMsg failed ec:27 , destip:abc,destport:" +
                          std::to_string(qos.Port())));

  VELT_TestAdvanceClock(500);  // still asking: no answer was taken
  ASSERT_TRUE(stprc.ReceiveMsg(vpeer::kMsgStprcRequest, &r));
  stprc.SendData(r.from, vpeer::kMsgStprcAnswer, 0, r.d.msg.srcSid,
                 StpAddrResp("127.0.0.1", qos.Port(), 0));
  std::vector<uint8_t> body;
  ASSERT_TRUE(WaitUntil([&] { return ReportAndReceive(qos, record, &body, 100); }));
  EXPECT_EQ(0u, log.Count("SocketItem被删除"));
}

// One unsolicited 6802 from any local socket used to take the whole stream
// for a day.
TEST(Hardening, RecordsStayWithTheRealServerAfterAnUnsolicitedOrShortAnswer) {
  TestServer stprc, qos, stranger;
  ASSERT_EQ(0, StartWithStprc(stprc));
  ClientAddr client;
  ASSERT_TRUE(AnswerStprc(stprc, qos.Local(), &client));
  std::vector<uint8_t> body;
  ASSERT_TRUE(WaitUntil([&] { return ReportAndReceive(qos, Pattern(8, 1), &body, 100); }));

  LogCollector log;
  stranger.SendData(client.ep, vpeer::kMsgStprcAnswer, 0, client.sid,
                    StpAddrResp("127.0.0.1", stranger.Port(), 0));
  ASSERT_TRUE(log.WaitFor("[Kelvarn] ignored 6802 from 127.0.0.1:" + std::to_string(stranger.Port()) +
                          ": not an STPRC server that was asked"));
  // Nor does an answer from the server asked that is too short to read.
  std::vector<uint8_t> shortAnswer = StpAddrResp("127.0.0.1", stranger.Port(), 0);
  shortAnswer.resize(21);
  stprc.SendData(client.ep, vpeer::kMsgStprcAnswer, 0, client.sid, shortAnswer);
  ASSERT_TRUE(log.WaitFor("[Kelvarn]STP发送来的地址长度小于结构体大小，不解析！！"));
  ASSERT_TRUE(ReportAndReceive(qos, Pattern(8, 2), &body));
  EXPECT_EQ(Pattern(8, 2), body);
  EXPECT_TRUE(stranger.Silent(0));  // what was sent before the record has arrived
}

// Secured blocks through the exports, on a frozen clock: packed into one
// numbered packet for the QoS server, released by its acknowledgement (not
// by a forged one from another address: 1120 was once taken from any
// source), and resent 200 ms after their last sending while unacknowledged.
TEST(SecureRoad, PacketsAreReleasedByTheServersAcknowledgementAndResentWithoutIt) {
  FrozenTime frozen;
  TestServer stprc, qos, stranger;
  ASSERT_EQ(0, StartWithStprc(stprc));
  LogCollector log;
  ClientAddr client;
  ASSERT_TRUE(AnswerStprc(stprc, qos.Local(), &client));
  ASSERT_TRUE(log.WaitFor("[Kelvarn]STP发送来的地址为:"));
  ASSERT_EQ(0, SecureTransfer_InitParams(nullptr, 0, 20480, 8));  // one packet a pass
  SecureTransferKey key = SecureTransfer_CreateKey(1, 2, 3, 4, 5);
  const std::vector<uint8_t> a = Pattern(40, 9), b = Pattern(31, 3), c = Pattern(29, 5);
  ASSERT_EQ(0, SecureTransfer_PostPacket(key, a.data(), 40));
  ASSERT_EQ(0, SecureTransfer_PostPacket(key, b.data(), 31));
  Received first, second, again;
  ASSERT_GE(MsUntilReceived(qos, &first, 100), 0);
  ASSERT_EQ(vpeer::kMsgQosPacket, first.d.msg.msgId);
  // Serial, the first block's 28-byte header, then per block its record word
  // (the header's last four bytes), its length and its payload.
  const std::vector<uint8_t> body = first.Body();
  std::vector<uint8_t> want(body.begin(), body.begin() + 4);
  want.insert(want.end(), a.begin(), a.begin() + 28);
  for (const std::vector<uint8_t>* block : {&a, &b}) {
    want.insert(want.end(), block->begin() + 24, block->begin() + 28);
    want.insert(want.end(), {static_cast<uint8_t>(block->size() - 28), 0});
    want.insert(want.end(), block->begin() + 28, block->end());
  }
  EXPECT_EQ(want, body);

  const std::vector<uint8_t> ack(body.begin(), body.begin() + 4);
  const std::string acked = "SecureTransfer确认包序号=" + std::to_string(vpeer::GetU32(ack.data()));
  stranger.SendData(first.from, vpeer::kMsgQosPacketAck, 0, client.sid, ack);
  ASSERT_TRUE(log.WaitFor("[Kelvarn] ignored 1120 from 127.0.0.1:" + std::to_string(stranger.Port())));
  EXPECT_EQ(0u, log.Count(acked));
  qos.SendData(first.from, vpeer::kMsgQosPacketAck, 0, client.sid, ack);
  ASSERT_TRUE(log.WaitFor(acked + "，当前包序号"));
  ASSERT_EQ(0, SecureTransfer_PostPacket(key, c.data(), 29));
  ASSERT_GE(MsUntilReceived(qos, &second, 100), 0);
  // Only the unacknowledged packet comes back, on the first pass 200 ms on.
  for (int i = 0; i < 2; ++i) {
    const int ms = MsUntilReceived(qos, &again, 400);
    EXPECT_GE(ms, 200) << i;
    EXPECT_LE(ms, 270) << i;
    EXPECT_EQ(second.bytes, again.bytes) << i;
  }
}
