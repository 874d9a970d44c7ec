// Media adjustment: the log receiver asks the client to change how it sends
// or receives one speaker stream. Each well-formed notification is answered
// (so the receiver stops repeating it) and each new one reaches the host's
// callback once.
#include "asynmodel/PostMsgContext.h"
#include "platform/socket.h"
#include "report/AdjustCommands.h"
#include "report/ReportCallInfoReqSession.h"
#include "report/ReportCommands.h"
#include "tzhelper/QosLog.h"
#include "tzhelper/TzWarnLimiter.h"

int32_t ReportCallInfoReqSession::OnAdjustMediaArrived(const uint8_t* data, uint32_t length, uint32_t srcSid,
                                                       const AsynModel::SptrISender& sender) {
  report::AdjustNotify n;
  if (report::ReadAdjustNotify(data, length, &n) != 0) {
    static TzWarnLimiter limiter(FacadeLogCategory, FacadeLogSubType, "[Kelvarn]【Adjust】bad 6003");
    if (limiter.Admit()) QosLogError(FacadeLogCategory, FacadeLogSubType,
                "[Kelvarn]【Adjust】接收到LogReceiver的修改媒体通知，内容有误(RecvLen:%d,StruLen:%d)",
                static_cast<int>(length), static_cast<int>(report::kAdjustNotifyBytes));
    return -1;
  }
  NotifyAdjustToAgent(n);
  Log::writeWarning(FacadeLogCategory, FacadeLogSubType,
                    "[Kelvarn]【Adjust】接收到LogReceiver的修改媒体通知,meetId:%d,UserId:%d,speakId:%d,PacketId:%d,fec(%d:%d)retrans:%d,capture:%d",
                    static_cast<int>(n.meetId), static_cast<int>(n.UserId), static_cast<int>(n.speakId),
                    static_cast<int>(n.PacketId), n.fecFirst, n.fecSecond, n.retrans,
                    static_cast<int>(n.capture));

  uint8_t ack[report::kAdjustAckBytes];
  report::WriteAdjustAck(n, ack, sizeof(ack));
  uint32_t rc = ReplyMsg(sender, srcSid, report::Adjust_MEDIA_ACK_CMD, ack, sizeof(ack), 1,
                         AsynModel::kNoTimeLimit, AsynModel::Receipt_None, nullptr);
  if (rc != 0) {
    uint32_t ip = 0;
    uint16_t port = 0;
    if (sender) sender->GetRemoteAddr(&ip, &port);
    char ipText[16];
    plat::InetNtoa(plat::HostToNet32(ip), ipText);
    Log::writeError(FacadeLogCategory, FacadeLogSubType,
                    "[Kelvarn]【Adjust】接收LogReceive更改会议媒体参量,回应失败 ec:%d ip:%s, port:%d ",
                    static_cast<int>(rc), ipText, port);
  } else {
    Log::writeWarning(FacadeLogCategory, FacadeLogSubType, "[Kelvarn]【Adjust】接收LogReceive更改会议媒体参量,回应成功");
  }
  return 0;
}

void ReportCallInfoReqSession::NotifyAdjustToAgent(const report::AdjustNotify& n) {
  if (n.PacketId == m_adjustLastPacketId && n.Dialog == m_adjustLastDialog) {
    Log::writeWarning(FacadeLogCategory, FacadeLogSubType,
                      "[Kelvarn]【Adjust】重复接收到LogReceiver的【修改媒体】通知,meetId:%d,UserId:%d,speakId:%d(packetId:%d,Dialog:%d)",
                      static_cast<int>(n.meetId), static_cast<int>(n.UserId), static_cast<int>(n.speakId),
                      static_cast<int>(m_adjustLastPacketId), static_cast<int>(m_adjustLastDialog));
    return;
  }
  m_adjustLastDialog = n.Dialog;
  m_adjustLastPacketId = n.PacketId;

  // The host gets kind 0 with the uplink record, or kind 1 with the downlink
  // one; the line says which, and whether there was a callback to call.
  static const char* const kLines[2][2] = {
      {"[Kelvarn]【Adjust】接收到LogReceiver的修改【上行】媒体通知并【回调Agent】,meetId:%d,UserId:%d,speakId:%d,Fec(%d:%d),reTrans:%d",
       "[Kelvarn]【Adjust】接收到LogReceiver的修改【上行】媒体通知并【回调Agent】失败,meetId:%d,UserId:%d,speakId:%d,Fec(%d:%d),reTrans:%d"},
      {"[Kelvarn]【Adjust】接收到LogReceiver的修改【下行】媒体通知并【回调Agent】,meetId:%d,UserId:%d,speakId:%d,Fec(%d:%d),reTrans:%d",
       "[Kelvarn]【Adjust】接收到LogReceiver的修改【下行】媒体通知并【回调Agent】失败,meetId:%d,UserId:%d,speakId:%d,Fec(%d:%d),reTrans:%d"},
  };
  const int kind = n.speakId < report::kDownlinkSpeakIdBase ? 0 : 1;
  AdjustUplinkInfo uplink;
  AdjustDownlinkInfo downlink;
  void* record = &uplink;
  if (kind == 0) {
    report::FillAdjustUplinkInfo(n, &uplink);
  } else {
    report::FillAdjustDownlinkInfo(n, &downlink);
    record = &downlink;
  }
  if (m_agentCallback) m_agentCallback(kind, record);
  Log::writeWarning(FacadeLogCategory, FacadeLogSubType, kLines[kind][m_agentCallback ? 0 : 1],
                    static_cast<int>(n.meetId), static_cast<int>(n.UserId), static_cast<int>(n.speakId), n.fecFirst,
                    n.fecSecond, n.retrans);
}
