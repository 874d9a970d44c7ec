#include "codec.h"

#include <cstring>

namespace vpeer {

const char* VerdictName(Verdict v) {
  switch (v) {
    case Verdict::kOk: return "ok";
    case Verdict::kTooShort: return "too_short";
    case Verdict::kBadVersion: return "bad_version";
    case Verdict::kBadLength: return "bad_length";
    case Verdict::kBadChecksum: return "bad_checksum";
    case Verdict::kTooLarge: return "too_large";
    case Verdict::kShortMsg: return "short_msg";
    case Verdict::kBadFlags: return "bad_flags";
    case Verdict::kBadAck: return "bad_ack";
  }
  return "unknown";
}

Verdict ParseDatagram(const uint8_t* data, size_t len, Datagram* out) {
  if (len < kUnreliableHead) return Verdict::kTooShort;
  // The receiving library tests version, then length, then checksum, and only
  // then the size; keep that order so a datagram is refused for the same
  // reason on both sides.
  if (GetU16(data) != kWireVersion) return Verdict::kBadVersion;
  if (GetU16(data + 2) != len) return Verdict::kBadLength;
  // The checksum routine of the wire yields 0 for every input, so the field
  // must simply be 0.
  if (GetU16(data + 4) != 0) return Verdict::kBadChecksum;
  if (len > kMaxDatagram) return Verdict::kTooLarge;

  const uint8_t reliable = data[6];
  const uint8_t ack = data[7];
  Datagram d;
  if (reliable == 1 && ack == 1) {
    if (len != kAckSize) return Verdict::kBadAck;
    d.kind = DatagramKind::kAck;
    d.sn = GetU32(data + 8);
    if (d.sn == 0) return Verdict::kBadAck;
    d.headLen = kAckSize;
    *out = d;
    return Verdict::kOk;
  }
  if (reliable > 1 || ack != 0) return Verdict::kBadFlags;
  if (reliable == 1) {
    if (len < kReliableHead) return Verdict::kTooShort;
    d.kind = DatagramKind::kReliable;
    d.sn = GetU32(data + 8);
    d.headLen = kReliableHead;
  } else {
    d.kind = DatagramKind::kUnreliable;
    d.headLen = kUnreliableHead;
  }
  if (len < d.headLen + kMsgImageHead) return Verdict::kShortMsg;
  const uint8_t* image = data + d.headLen;
  d.msg.msgTag = GetU32(image);
  d.msg.msgId = GetU32(image + 4);
  d.msg.srcSid = GetU32(image + 8);
  d.msg.destSid = GetU32(image + 12);
  d.body = image + kMsgImageHead;
  d.bodyLen = len - d.headLen - kMsgImageHead;
  *out = d;
  return Verdict::kOk;
}

bool EncodeData(const MsgHeader& msg, const uint8_t* body, size_t bodyLen, bool reliable,
                uint32_t sn, std::vector<uint8_t>* out) {
  out->clear();
  const size_t head = reliable ? kReliableHead : kUnreliableHead;
  // Compare before adding so a huge bodyLen cannot wrap the sum.
  if (bodyLen > kMaxDatagram - head - kMsgImageHead) return false;
  const size_t total = head + kMsgImageHead + bodyLen;
  out->resize(total);
  uint8_t* p = out->data();
  PutU16(p, kWireVersion);
  PutU16(p + 2, static_cast<uint16_t>(total));
  PutU16(p + 4, 0);
  p[6] = reliable ? 1 : 0;
  p[7] = 0;
  if (reliable) PutU32(p + 8, sn);
  uint8_t* image = p + head;
  PutU32(image, msg.msgTag);
  PutU32(image + 4, msg.msgId);
  PutU32(image + 8, msg.srcSid);
  PutU32(image + 12, msg.destSid);
  if (bodyLen > 0) std::memcpy(image + kMsgImageHead, body, bodyLen);
  return true;
}

void EncodeAck(uint32_t sn, std::vector<uint8_t>* out) {
  out->assign(kAckSize, 0);
  uint8_t* p = out->data();
  PutU16(p, kWireVersion);
  PutU16(p + 2, static_cast<uint16_t>(kAckSize));
  PutU16(p + 4, 0);
  p[6] = 1;
  p[7] = 1;
  PutU32(p + 8, sn);
}

}  // namespace vpeer
