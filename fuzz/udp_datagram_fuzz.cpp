// A received datagram through the receiver's checks and the Msg reader. The
// oracle: a datagram that passes is rebuilt from the Msg it gave and must
// come out byte for byte as it came in (apart from the two flag bytes, which
// the receiver reads only as "1 or not"); an ACK must read as the ACK the
// library would write for its sn.
#include <cstring>

#include "asynmodel/Event.h"
#include "asynmodel/UserDataInfo.h"
#include "asynmodel/net/Msg.h"
#include "asynmodel/net/UdpDatagram.h"
#include "fuzz_check.h"

using namespace AsynModel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SptrMemStream stream(MemStream::Create(kUdpMaxDatagram));
  if (!stream || !stream->Buffer()) return 0;
  uint8_t* buf = stream->Buffer();
  const uint32_t received = size > 0xFFFFu ? 0xFFFFu : static_cast<uint32_t>(size);
  const uint32_t stored = received < kUdpMaxDatagram ? received : kUdpMaxDatagram;
  memcpy(buf, data, stored);

  if (CheckDataPacketValid(buf, received, stream->Capacity()) != UdpCheck_OK) return 0;
  FUZZ_CHECK(received <= kUdpMaxDatagram);  // the length field is checked against it
  const bool reliable = buf[kUdpOffReliable] == 1;
  if (reliable && received < kUdpHeaderReliable) return 0;
  const uint32_t sn = reliable ? wire::GetU32(buf + kUdpOffSn) : 0;
  if (reliable && buf[kUdpOffAck] == 1) {
    // Any length from 12 up passes as an ACK; the library's own ACK for
    // that sn reads back the same way.
    uint8_t ack[kUdpAckLength];
    WriteAck(ack, sn);
    FUZZ_CHECK(CheckDataPacketValid(ack, kUdpAckLength, kUdpAckLength) == UdpCheck_OK);
    FUZZ_CHECK(memcmp(ack + kUdpOffReliable, data + kUdpOffReliable, kUdpAckLength - kUdpOffReliable) == 0);
    return 0;
  }

  const uint32_t header = reliable ? kUdpHeaderReliable : kUdpHeaderUnreliable;
  Event ev;
  if (!ConstructRecvEvent(stream.get(), received, header, &ev)) {
    FUZZ_CHECK(received < header + Msg::kWireHeader);
    return 0;
  }
  Msg* msg = reinterpret_cast<Msg*>(ev.word2);
  const uint8_t* body = nullptr;
  uint32_t bodyLen = 0;
  msg->Body(&body, &bodyLen);
  FUZZ_CHECK(bodyLen == received - header - Msg::kWireHeader);

  Msg copy;
  copy.msgTag = msg->msgTag;
  copy.msgId = msg->msgId;
  copy.srcSid = msg->srcSid;
  copy.destSid = msg->destSid;
  copy.form = MSG_DATA_SHARED;
  copy.sharedData = body;
  copy.sharedLength = bodyLen;
  SptrMemStream out;
  uint32_t total = 0;
  FUZZ_CHECK(BuildDataDatagram(copy, reliable, sn, &out, &total) == UdpBuild_OK);
  FUZZ_CHECK(total == received && out->DataLength() == received);
  const uint8_t* rebuilt = out->Buffer();
  FUZZ_CHECK(memcmp(rebuilt, data, kUdpOffReliable) == 0);
  FUZZ_CHECK(rebuilt[kUdpOffReliable] == (reliable ? 1 : 0) && rebuilt[kUdpOffAck] == 0);
  FUZZ_CHECK(memcmp(rebuilt + kUdpOffSn, data + kUdpOffSn, received - kUdpOffSn) == 0);
  delete msg;
  return 0;
}
