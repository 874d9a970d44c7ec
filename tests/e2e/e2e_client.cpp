#include "e2e_client.h"

namespace e2e {

int32_t StartWithStprc(const TestServer& stprc, VeltAdjustCallback cb) {
  return InitVeltraneWithCallback(cb, 0, 0, "127.0.0.1", 0, 0, 0, "127.0.0.1", stprc.Port());
}

bool AnswerStprc(TestServer& stprc, const vpeer::Endpoint& qos, ClientAddr* client, uint32_t result) {
  Received r;
  if (!stprc.ReceiveMsg(vpeer::kMsgStprcRequest, &r)) return false;
  client->ep = r.from;
  client->sid = r.d.msg.srcSid;
  return stprc.SendData(r.from, vpeer::kMsgStprcAnswer, 0, r.d.msg.srcSid,
                        StpAddrResp(vpeer::IpToString(qos.ip).c_str(), qos.port, result));
}

bool ReportAndReceive(TestServer& server, const std::vector<uint8_t>& record, std::vector<uint8_t>* body,
                      int timeoutMs) {
  if (ReportMeetingQosInfo(record.data(), static_cast<uint32_t>(record.size())) != 0) return false;
  Received r;
  if (!server.ReceiveMsg(vpeer::kMsgQosRecord, &r, timeoutMs)) return false;
  *body = r.Body();
  return true;
}

bool SessionBarrier() {
  TestServer own;
  char ip[16] = "127.0.0.1";
  const std::vector<uint8_t> record = Pattern(8, 0xB7);
  if (ReportMeetingQosInfo3(record.data(), 8, ip, own.Port()) != 0) return false;
  Received r;
  return own.ReceiveMsg(vpeer::kMsgQosRecord, &r);
}

bool AdvanceAndSettle(int64_t ms) {
  VELT_TestAdvanceClock(ms);
  return VELT_TestTimersCaughtUp() == 0 && SessionBarrier();
}

int MsUntilReceived(TestServer& server, Received* r, int limitMs) {
  for (int ms = 0; ms <= limitMs; ms += 10) {
    if (server.Receive(r, 0)) return AdvanceAndSettle(0) ? ms : -1;
    if (!AdvanceAndSettle(10)) return -1;
  }
  return -1;
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

}  // namespace e2e
