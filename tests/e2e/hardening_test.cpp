// Hostile or broken input on loopback: answers nobody asked for, answers that
// name no usable address, and forged acknowledgements must neither silence
// nor redirect nor drain the library.
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
    stprc.SendData(r.from, vpeer::kMsgStprcAnswer, 0, r.d.msg.srcSid, StpAddrResp(bad, 45102, 0));
  }
  ASSERT_TRUE(log.WaitFor("names no usable address", 2));
  const std::vector<uint8_t> record = Pattern(20, 3);
  char abc[16] = "abc";
  EXPECT_EQ(0, ReportMeetingQosInfo3(record.data(), 20, abc, 45102));
  ASSERT_TRUE(log.WaitFor("OnReportLocalQosinfoCmdArrived PostMsg failed ec:27 , destip:abc,destport:45102"));

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
TEST(Hardening, RecordsStayWithTheRealServerAfterAnUnsolicitedAnswer) {
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
  ASSERT_TRUE(ReportAndReceive(qos, Pattern(8, 2), &body));
  EXPECT_EQ(Pattern(8, 2), body);
  EXPECT_TRUE(stranger.Silent(0));  // what was sent before the record has arrived
}

// 1120 was taken from any source: forged acknowledgements released secured
// blocks that the real server never received.
TEST(Hardening, AForgedAcknowledgementFromAnotherAddressReleasesNothing) {
  TestServer stprc, qos, stranger;
  ASSERT_EQ(0, StartWithStprc(stprc));
  LogCollector log;
  ClientAddr client;
  ASSERT_TRUE(AnswerStprc(stprc, qos.Local(), &client));
  ASSERT_TRUE(log.WaitFor("[Kelvarn]STP发送来的地址为:"));
  SecureTransfer_InitParams(nullptr, 0, 20480, 8);
  SecureTransferKey key = SecureTransfer_CreateKey(1, 2, 3, 4, 5);
  const std::vector<uint8_t> block = Pattern(40, 9);
  ASSERT_EQ(0, SecureTransfer_PostPacket(key, block.data(), 40));
  Received packet;
  ASSERT_TRUE(qos.ReceiveMsg(vpeer::kMsgQosPacket, &packet));
  std::vector<uint8_t> ack = packet.Body();  // its serial, then the rest
  ack.resize(4);
  const std::string acked = "SecureTransfer确认包序号=" +
                            std::to_string(ack[0] | ack[1] << 8 | ack[2] << 16 | uint32_t{ack[3]} << 24);

  stranger.SendData(packet.from, vpeer::kMsgQosPacketAck, 0, client.sid, ack);
  ASSERT_TRUE(log.WaitFor("[Kelvarn] ignored 1120 from 127.0.0.1:" + std::to_string(stranger.Port())));
  EXPECT_EQ(0u, log.Count(acked));
  qos.SendData(packet.from, vpeer::kMsgQosPacketAck, 0, client.sid, ack);
  ASSERT_TRUE(log.WaitFor(acked + "，当前包序号"));
}
