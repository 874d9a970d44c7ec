// The receive path of the UDP processor against a plain loopback peer:
// receiver checks, unreliable and reliable delivery, ACKs and duplicates, and
// replies through the sender a message arrived with.
#include <tuple>

#include "frozen_clock.h"
#include "udp_test_util.h"

using namespace udptest;

namespace {

uint32_t DefaultItemSn(UDPIOProcess* udp) {
  uint32_t sn = 0;
  udp->GetDefault(nullptr, nullptr, &sn);
  return sn;
}

}  // namespace

class UdpReceive : public UdpFixture {};

TEST_F(UdpReceive, InvalidDatagramsAreDroppedWithTheirWarningsAndNeverDelivered) {
  FrozenClock clock;  // the warning limiter's second ends when the test says
  LogCapture log;
  Peer peer;
  const uint32_t sid = session_->GetSessionID();
  const std::string sn = std::to_string(DefaultItemSn(udp_));

  std::vector<uint8_t> badVersion = DataDatagram(1, 0, sid, "v");
  badVersion[0] = 2;
  std::vector<uint8_t> badLength = DataDatagram(2, 0, sid, "l");
  badLength[2] += 1;
  std::vector<uint8_t> trailingByte = DataDatagram(6, 0, sid, "t");
  trailingByte.push_back(0);  // received one more than the length field says
  std::vector<uint8_t> badChecksum = DataDatagram(3, 0, sid, "c");
  badChecksum[4] = 0x5A;
  std::vector<uint8_t> tooLarge = DataDatagram(4, 0, sid, std::string(2049 - 24, 'x'));
  ASSERT_EQ(tooLarge.size(), 2049u);  // well-formed, only too large
  std::vector<uint8_t> shortReliable = {1, 0, 10, 0, 0, 0, 1, 0, 9, 9};  // no room for its sn
  std::vector<uint8_t> shortImage = DataDatagram(5, 0, sid, "");
  shortImage.pop_back();  // one byte short of the 16-byte message image
  shortImage[2] -= 1;

  for (const auto& d : {badVersion, badLength, badChecksum, tooLarge, shortReliable, shortImage,
                        trailingByte, AckDatagram(0), AckDatagram(123456)}) {
    peer.SendTo(defaultPort_, d);
  }
  peer.SendTo(defaultPort_, DataDatagram(99, 0, sid, "marker"));

  // One socket, one receive outstanding: the marker is handled after the rest.
  ASSERT_TRUE(session_->WaitMessages(1));
  std::vector<Received> got = session_->Messages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].msgId, 99u);
  EXPECT_EQ(got[0].body, "marker");

  EXPECT_EQ(log.Count("UDPIOProcess::CheckDataPacketValid() 数据的版本信息错误.接收到的版本:2,期待版本:1"), 1u);
  EXPECT_EQ(log.Count("UDPIOProcess::CheckDataPacketValid() 数据的长度错误."), 2u);
  EXPECT_EQ(log.Count("UDPIOProcess::CheckDataPacketValid() 数据的校验和错误."), 1u);
  EXPECT_EQ(log.Count("UDPIOProcess::ConstructRecvEvent() 反序列化Msg失败."), 1u);
  const std::string drop = "UDPIOProcess::RecvPerIOProc() 收到RecvPerIO，收到的包大小[";
  EXPECT_EQ(log.Count(drop), 5u);  // then the limiter holds the sixth back
  EXPECT_TRUE(log.Contains(drop + "2049 Byte]或者内容错误，相应的SocketItem[sn=" + sn + "]."));
  EXPECT_TRUE(log.Contains(drop + "10 Byte]或者内容错误，相应的SocketItem[sn=" + sn + "]."));
  EXPECT_EQ(udp_->SocketCount(), 1u);  // a bad datagram never costs the socket
  // An ack with sn 0 is warned about; one for an unknown sn is dropped silently.
  const std::string snZero = "UDPIOProcess::AliableRecvPerIOProc() 收到的PerIO数据错误SN为0，";
  EXPECT_EQ(log.Count(snZero + "相应的SocketItem[sn=" + sn + "]."), 1u);
  EXPECT_EQ(log.Count("AliableRecvPerIOProc"), 1u);
  EXPECT_TRUE(session_->Receipts().empty());

  // A junk flood must not rotate the start-up lines out of the log: per kind,
  // five lines in full, then one summary when the second is over.
  for (int i = 0; i < 6; ++i) peer.SendTo(defaultPort_, badVersion);
  peer.SendTo(defaultPort_, DataDatagram(100, 0, sid, "marker"));
  ASSERT_TRUE(session_->WaitMessages(2));
  EXPECT_EQ(log.Count("接收到的版本:2,期待版本:1"), 5u);
  clock.Advance(1000);
  peer.SendTo(defaultPort_, badVersion);
  EXPECT_TRUE(log.WaitFor("UDPIOProcess::CheckDataPacketValid() version: 2 similar warnings suppressed in the last"));
}

// Unreliable data (any flag but 1) is never acknowledged: the first ack is
// the reliable datagram's.
TEST_F(UdpReceive, ReliableDatagramIsAckedAndACopyIsAckedAgainButDeliveredOnce) {
  Peer peer;
  const uint32_t sid = session_->GetSessionID();
  peer.SendTo(defaultPort_, DataDatagram(5, 33, sid, "seven", false, 0, 7));
  peer.SendTo(defaultPort_, DataDatagram(6, 33, sid, ""));  // exactly header + 16: empty body
  const std::vector<uint8_t> d = DataDatagram(1119, 0, sid, "qos", true, 77);
  peer.SendTo(defaultPort_, d);
  peer.SendTo(defaultPort_, d);
  peer.SendTo(defaultPort_, DataDatagram(1119, 0, sid, "zero", true, 0));  // sn 0 is data like any other

  for (uint32_t expected : {77u, 77u, 0u}) {
    std::vector<uint8_t> ack;
    uint16_t from = 0;
    ASSERT_TRUE(peer.Recv(&ack, 5000, &from));
    EXPECT_EQ(ack, AckDatagram(expected));
    EXPECT_EQ(from, defaultPort_);
  }
  ASSERT_TRUE(session_->WaitMessages(4));
  std::vector<std::tuple<uint32_t, uint32_t, std::string>> got;
  for (const Received& r : session_->Messages()) got.emplace_back(r.msgId, r.srcSid, r.body);
  EXPECT_EQ(got,
            (decltype(got){{5, 33, "seven"}, {6, 33, ""}, {1119, 0, "qos"}, {1119, 0, "zero"}}));

  // After the window, another key in the same bucket (77 mod 100) purges the
  // old one, and a further copy is delivered again.
  plat::AdvanceClock(1500);
  peer.SendTo(defaultPort_, DataDatagram(2, 0, sid, "purge", true, 177));
  peer.SendTo(defaultPort_, DataDatagram(1119, 0, sid, "again", true, 77));
  ASSERT_TRUE(session_->WaitMessages(6));
  EXPECT_EQ(session_->Messages()[5].body, "again");
  // One ack per datagram and no more: the next two are the last two's.
  std::vector<uint8_t> ack;
  for (uint32_t expected : {177u, 77u}) {
    ASSERT_TRUE(peer.Recv(&ack, 5000));
    EXPECT_EQ(ack, AckDatagram(expected));
  }
}

TEST_F(UdpReceive, ReplyLeavesFromTheReceivingSocketToTheSourceAndAReliableOneIsAcked) {
  // A second socket besides the default one; the request arrives there.
  SptrUdpSocketItem other;
  ASSERT_EQ(udp_->FindSocketIfNotThenCreateNewOne(0x7F000001, FreeUdpPort(), &other, true), 2);
  ASSERT_NE(other->m_localPort, defaultPort_);

  Peer peer;
  peer.SendTo(other->m_localPort, DataDatagram(6003, 41, session_->GetSessionID(), "req"));
  ASSERT_TRUE(session_->WaitMessages(1));
  SptrISender sender = session_->Messages()[0].sender;
  ASSERT_TRUE(sender);
  EXPECT_EQ(sender->TransportType(), 1u);

  ASSERT_EQ(session_->ReplyMsg(sender, 41, 6004, "ans", 3, 0, kNoTimeLimit, Receipt_None, nullptr), 0u);
  std::vector<uint8_t> reply;
  uint16_t from = 0;
  ASSERT_TRUE(peer.Recv(&reply, 5000, &from));
  EXPECT_EQ(from, other->m_localPort);
  EXPECT_EQ(reply, DataDatagram(6004, session_->GetSessionID(), 41, "ans"));

  ASSERT_EQ(session_->ReplyMsg(sender, 41, 6004, "ok", 2, 1, kNoTimeLimit, Receipt_Both, nullptr), 0u);
  ASSERT_TRUE(peer.Recv(&reply, 5000, &from));
  EXPECT_EQ(from, other->m_localPort);
  EXPECT_EQ(reply, DataDatagram(6004, session_->GetSessionID(), 41, "ok", true, GetLe32(reply, 8)));
  peer.SendTo(other->m_localPort, AckDatagram(GetLe32(reply, 8)));
  ASSERT_TRUE(session_->WaitReceipts(1));
  const Receipt r = session_->Receipts()[0];
  EXPECT_EQ(std::make_tuple(r.result, r.transport, r.msgId, r.body, r.reliable),
            std::make_tuple(int16_t{0}, uint16_t{1}, 6004u, std::string("ok"), uint8_t{1}));
  EXPECT_EQ(udp_->AckTable().Size(), 0u);
}
