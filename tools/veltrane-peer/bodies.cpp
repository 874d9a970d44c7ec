#include "bodies.h"

#include <cstring>

#include "codec.h"

namespace vpeer {

void EncodeStpAddrResp(const StpAddrResp& r, uint8_t out[kStpAddrRespSize]) {
  std::memset(out, 0, kStpAddrRespSize);
  // Keep the last byte of the field for the terminator.
  const size_t n = r.ip.size() < kIpFieldSize - 1 ? r.ip.size() : kIpFieldSize - 1;
  std::memcpy(out, r.ip.data(), n);
  PutU16(out + 16, r.port);
  PutU32(out + 18, r.result);
}

bool DecodeStpAddrResp(const uint8_t* p, size_t len, StpAddrResp* out) {
  if (len < kStpAddrRespSize) return false;
  size_t n = 0;
  while (n < kIpFieldSize && p[n] != 0) ++n;
  out->ip.assign(reinterpret_cast<const char*>(p), n);
  out->port = GetU16(p + 16);
  out->result = GetU32(p + 18);
  return true;
}

void EncodeAdjustNotify(const AdjustNotify& n, uint8_t out[kAdjustNotifySize]) {
  std::memset(out, 0, kAdjustNotifySize);
  const uint32_t head[9] = {n.Dialog, n.PacketId, n.meetId, n.UserId, n.speakId,
                            n.a1,     n.a2,       n.a3,     n.a4};
  for (int i = 0; i < 9; ++i) PutU32(out + 4 * i, head[i]);
  out[36] = n.fecFirst;
  out[37] = n.fecSecond;
  PutU16(out + 38, static_cast<uint16_t>(n.retrans));
  const uint32_t tail[11] = {n.capture, n.b1, n.b2, n.u1, n.u2, n.u3,
                             n.d1,      n.d2, n.d3, n.d4, n.d5};
  for (int i = 0; i < 11; ++i) PutU32(out + 40 + 4 * i, tail[i]);
  out[84] = n.c1;
  out[85] = n.c2;
}

bool DecodeAdjustNotify(const uint8_t* p, size_t len, AdjustNotify* out) {
  if (len < kAdjustNotifySize) return false;
  AdjustNotify n;
  uint32_t* head[9] = {&n.Dialog, &n.PacketId, &n.meetId, &n.UserId, &n.speakId,
                       &n.a1,     &n.a2,       &n.a3,     &n.a4};
  for (int i = 0; i < 9; ++i) *head[i] = GetU32(p + 4 * i);
  n.fecFirst = p[36];
  n.fecSecond = p[37];
  n.retrans = static_cast<int16_t>(GetU16(p + 38));
  uint32_t* tail[11] = {&n.capture, &n.b1, &n.b2, &n.u1, &n.u2, &n.u3,
                        &n.d1,      &n.d2, &n.d3, &n.d4, &n.d5};
  for (int i = 0; i < 11; ++i) *tail[i] = GetU32(p + 40 + 4 * i);
  n.c1 = p[84];
  n.c2 = p[85];
  *out = n;
  return true;
}

bool AdjustAck::operator==(const AdjustAck& o) const {
  return Dialog == o.Dialog && PacketId == o.PacketId && meetId == o.meetId &&
         UserId == o.UserId && speakId == o.speakId && a1 == o.a1 && a2 == o.a2 &&
         zero7 == o.zero7 && a4 == o.a4 && zero9 == o.zero9;
}

void EncodeAdjustAck(const AdjustAck& a, uint8_t out[kAdjustAckSize]) {
  const uint32_t w[10] = {a.Dialog, a.PacketId, a.meetId, a.UserId, a.speakId,
                          a.a1,     a.a2,       a.zero7,  a.a4,     a.zero9};
  for (int i = 0; i < 10; ++i) PutU32(out + 4 * i, w[i]);
}

bool DecodeAdjustAck(const uint8_t* p, size_t len, AdjustAck* out) {
  if (len < kAdjustAckSize) return false;
  uint32_t* w[10] = {&out->Dialog, &out->PacketId, &out->meetId, &out->UserId, &out->speakId,
                     &out->a1,     &out->a2,       &out->zero7,  &out->a4,     &out->zero9};
  for (int i = 0; i < 10; ++i) *w[i] = GetU32(p + 4 * i);
  return true;
}

AdjustAck ExpectedAdjustAck(const AdjustNotify& n) {
  AdjustAck a;
  a.Dialog = n.Dialog;
  a.PacketId = n.PacketId;
  a.meetId = n.meetId;
  a.UserId = n.UserId;
  a.speakId = n.speakId;
  a.a1 = n.a1;
  a.a2 = n.a2;
  a.a4 = n.a4;
  return a;
}

const char* PacketCheckName(PacketCheck c) {
  switch (c) {
    case PacketCheck::kOk: return "ok";
    case PacketCheck::kTooShort: return "too_short";
    case PacketCheck::kBadEntry: return "bad_entry";
    case PacketCheck::kRecordWordMismatch: return "record_word_mismatch";
    case PacketCheck::kTooLong: return "too_long";
  }
  return "unknown";
}

PacketCheck CheckQosPacket(const uint8_t* p, size_t len, QosPacketInfo* out) {
  constexpr size_t kEntryHead = 6;  // u32 record word + u16 payload length
  constexpr size_t kFirstEntry = 4 + kBlockHeaderSize;
  if (len < kFirstEntry + kEntryHead) return PacketCheck::kTooShort;
  QosPacketInfo info;
  info.serialnum = GetU32(p);
  const uint32_t headerRecordWord = GetU32(p + 4 + 24);
  size_t pos = kFirstEntry;
  while (pos < len) {
    if (len - pos < kEntryHead) return PacketCheck::kBadEntry;
    const uint32_t recordWord = GetU32(p + pos);
    const size_t payload = GetU16(p + pos + 4);
    if (len - pos - kEntryHead < payload) return PacketCheck::kBadEntry;
    if (info.blocks == 0 && recordWord != headerRecordWord) {
      return PacketCheck::kRecordWordMismatch;
    }
    ++info.blocks;
    info.payloadBytes += static_cast<uint32_t>(payload);
    pos += kEntryHead + payload;
  }
  // The packer adds a block only while the packet stays below 1024 bytes,
  // but always takes a first block of up to 1019 bytes.
  if (len > (info.blocks > 1 ? kPacketMaxMulti : kPacketMaxSingle)) return PacketCheck::kTooLong;
  *out = info;
  return PacketCheck::kOk;
}

void EncodeSerials(const uint32_t* serials, size_t count, std::vector<uint8_t>* out) {
  out->assign(count * 4, 0);
  for (size_t i = 0; i < count; ++i) PutU32(out->data() + 4 * i, serials[i]);
}

}  // namespace vpeer
