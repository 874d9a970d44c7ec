#include "asynmodel/net/UdpDatagram.h"

#include "asynmodel/AsynLog.h"
#include "asynmodel/net/Msg.h"
#include "tzhelper/TzWarnLimiter.h"

namespace AsynModel {

namespace {

// Body bytes the wire image will carry, as Msg::Serialize counts them.
uint64_t BodyBytes(const Msg& msg) {
  if (msg.form == MSG_DATA_LINKBUFF) return msg.linkBuff ? msg.linkBuff->TotalLength() : 0;
  if (msg.form == MSG_DATA_SHARED && msg.sharedData) return msg.sharedLength;
  return 0;
}

}  // namespace

uint16_t UdpChecksum(const uint8_t* /*data*/, uint32_t /*length*/) { return 0; }

uint32_t BuildDataDatagram(const Msg& msg, bool reliable, uint32_t sn, SptrMemStream* out,
                           uint32_t* totalOut) {
  const uint32_t header = reliable ? kUdpHeaderReliable : kUdpHeaderUnreliable;
  // Full width: a huge shared length must not wrap into a small datagram.
  const uint64_t total = header + uint64_t{Msg::kWireHeader} + BodyBytes(msg);
  if (totalOut) *totalOut = total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
  if (total > kUdpMaxDatagram) return UdpBuild_TooLarge;

  SptrMemStream stream(MemStream::Create(static_cast<uint32_t>(total)));
  if (!stream || !stream->Buffer()) return UdpBuild_NoStream;

  uint8_t* buf = stream->Buffer();
  wire::PutU16(buf + kUdpOffVersion, kUdpVersion);
  wire::PutU16(buf + kUdpOffLength, static_cast<uint16_t>(total));
  wire::PutU16(buf + kUdpOffChecksum, 0);
  buf[kUdpOffReliable] = reliable ? 1 : 0;
  buf[kUdpOffAck] = 0;
  if (reliable) wire::PutU32(buf + kUdpOffSn, sn);
  stream->SetDataLength(header);

  uint32_t imageHeader = 0;
  int32_t written = msg.Serialize(buf + header, stream->Capacity() - header, &imageHeader);
  if (written < 1) return UdpBuild_SerializeFailed;  // the stream goes with `stream`

  stream->SetDataLength(header + static_cast<uint32_t>(written));
  stream->SetPayloadOffset(header + Msg::kWireHeader);
  const uint32_t length = stream->DataLength();
  wire::PutU16(buf + kUdpOffChecksum, UdpChecksum(buf + kUdpOffReliable, length - kUdpOffReliable));
  *out = stream;
  return UdpBuild_OK;
}

void WriteAck(uint8_t* out, uint32_t sn) {
  wire::PutU16(out + kUdpOffVersion, kUdpVersion);
  wire::PutU16(out + kUdpOffLength, kUdpAckLength);
  wire::PutU16(out + kUdpOffChecksum, 0);
  out[kUdpOffReliable] = 1;
  out[kUdpOffAck] = 1;
  wire::PutU32(out + kUdpOffSn, sn);
  wire::PutU16(out + kUdpOffChecksum, UdpChecksum(out + kUdpOffReliable, kUdpAckLength - kUdpOffReliable));
}

UdpCheck CheckDataPacketValid(const uint8_t* data, uint32_t received, uint32_t capacity) {
  const uint32_t readable = received < capacity ? received : capacity;

  // A datagram too short to hold its version field shows version 0.
  const uint16_t version = readable >= 2 ? wire::GetU16(data + kUdpOffVersion) : 0;
  // Each kind of bad datagram has its own rate limit: a flood of junk must
  // not rotate the log away.
  static TzWarnLimiter versionLimiter(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::CheckDataPacketValid() version");
  static TzWarnLimiter lengthLimiter(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::CheckDataPacketValid() length");
  static TzWarnLimiter checksumLimiter(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::CheckDataPacketValid() checksum");
  if (version != kUdpVersion) {
    if (versionLimiter.Admit()) Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::CheckDataPacketValid() 数据的版本信息错误.接收到的版本:%u,期待版本:1",
                      static_cast<unsigned>(version));
    return UdpCheck_Version;
  }

  // Anything shorter than the smallest header cannot describe itself.
  if (readable < kUdpHeaderUnreliable || wire::GetU16(data + kUdpOffLength) != received) {
    if (lengthLimiter.Admit()) Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::CheckDataPacketValid() 数据的长度错误.");
    return UdpCheck_Length;
  }

  if (wire::GetU16(data + kUdpOffChecksum) !=
      UdpChecksum(data + kUdpOffReliable, readable - kUdpOffReliable)) {
    if (checksumLimiter.Admit()) Log::writeWarning(AsynLogCategory, kLogUdpProcessor,
                      "UDPIOProcess::CheckDataPacketValid() 数据的校验和错误.");
    return UdpCheck_Checksum;
  }
  return UdpCheck_OK;
}

}  // namespace AsynModel
