#include "demo_record.h"

#include <cstring>

#include "codec.h"

namespace vdemo {

namespace {

uint32_t Fnv1a(const uint8_t* p, size_t n) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < n; ++i) {
    h ^= p[i];
    h *= 16777619u;
  }
  return h;
}

uint8_t PatternByte(uint32_t seq, size_t i) {
  return static_cast<uint8_t>(seq * 31u + i * 7u + (seq >> 8) + (i >> 3));
}

constexpr uint32_t kMeetId = 424242;
constexpr uint32_t kUserId = 777;

}  // namespace

size_t RecordSize(uint32_t seq) {
  return kRecordMinSize + (seq * 13u) % (kRecordMaxSize - kRecordMinSize + 1);
}

void BuildRecord(uint32_t seq, std::vector<uint8_t>* out) {
  const size_t n = RecordSize(seq);
  out->assign(n, 0);
  uint8_t* p = out->data();
  vpeer::PutU32(p, kRecordMagic);
  vpeer::PutU32(p + 4, seq);
  vpeer::PutU16(p + 8, static_cast<uint16_t>(n));
  for (size_t i = kRecordHead; i < n - 4; ++i) p[i] = PatternByte(seq, i);
  vpeer::PutU32(p + n - 4, Fnv1a(p, n - 4));
}

RecordCheck CheckRecord(const uint8_t* body, size_t len, uint32_t* seq) {
  if (len < 4 || vpeer::GetU32(body) != kRecordMagic) return RecordCheck::kNotOurs;
  if (len < kRecordHead) return RecordCheck::kCorrupt;
  const uint32_t s = vpeer::GetU32(body + 4);
  // Rebuilding the record from its number checks every byte, the length and
  // checksum included.
  std::vector<uint8_t> expect;
  BuildRecord(s, &expect);
  if (expect.size() != len || std::memcmp(expect.data(), body, len) != 0) return RecordCheck::kCorrupt;
  *seq = s;
  return RecordCheck::kOk;
}

bool IsUplink(uint32_t index) { return index % 2 == 0; }

vpeer::AdjustNotify BuildNotify(uint32_t dialog, uint32_t index) {
  vpeer::AdjustNotify n;
  n.Dialog = dialog;
  n.PacketId = index + 1;
  n.meetId = kMeetId;
  n.UserId = kUserId;
  n.speakId = IsUplink(index) ? 100 + index : 10000 + index;
  n.a1 = index;
  n.a2 = ~index;
  n.a3 = 3000 + index;
  n.a4 = 4000 + index;
  n.fecFirst = static_cast<uint8_t>(1 + index % 4);
  n.fecSecond = static_cast<uint8_t>(index % 3);
  n.retrans = static_cast<int16_t>(index % 2 == 0 ? 1 : -1);
  n.capture = 15 + index % 16;
  n.b1 = 100 + index;
  n.b2 = 200 + index;
  n.u1 = 300 + index;
  n.u2 = 400 + index;
  n.u3 = 500 + index;
  n.d1 = 600 + index;
  n.d2 = 700 + index;
  n.d3 = 800 + index;
  n.d4 = 900 + index;
  n.d5 = 1000 + index;
  n.c1 = static_cast<uint8_t>(index);
  n.c2 = static_cast<uint8_t>(0xA0 + index % 16);
  return n;
}

std::vector<uint8_t> ExpectedUplink(const vpeer::AdjustNotify& n) {
  AdjustUplinkInfo u;
  std::memset(&u, 0, sizeof(u));
  u.meetId = n.meetId;
  u.UserId = n.UserId;
  u.a1 = n.a1;
  u.a2 = n.a2;
  u.a3 = n.a3;
  u.a4 = n.a4;
  u.fecFirst = n.fecFirst;
  u.fecSecond = n.fecSecond;
  u.retrans = n.retrans;
  u.capture = n.capture;
  u.b1 = n.b1;
  u.b2 = n.b2;
  u.u1 = n.u1;
  u.u2 = n.u2;
  u.u3 = n.u3;
  u.c1 = n.c1;
  u.c2 = n.c2;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&u);
  return std::vector<uint8_t>(p, p + sizeof(u));
}

std::vector<uint8_t> ExpectedDownlink(const vpeer::AdjustNotify& n) {
  AdjustDownlinkInfo d;
  std::memset(&d, 0, sizeof(d));
  d.meetId = n.meetId;
  d.UserId = n.UserId;
  d.speakId = n.speakId;
  d.a1 = n.a1;
  d.a2 = n.a2;
  d.a3 = n.a3;
  d.a4 = n.a4;
  d.fecFirst = n.fecFirst;
  d.fecSecond = n.fecSecond;
  d.retrans = n.retrans;
  d.capture = n.capture;
  d.b1 = n.b1;
  d.b2 = n.b2;
  d.d1 = n.d1;
  d.d2 = n.d2;
  d.d3 = n.d3;
  d.d4 = n.d4;
  d.d5 = n.d5;
  d.c1 = n.c1;
  d.c2 = n.c2;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&d);
  return std::vector<uint8_t>(p, p + sizeof(d));
}

bool IndexOfCallback(int kind, const void* record, uint32_t* index) {
  if (record == nullptr) return false;
  uint32_t a1 = 0;
  if (kind == 0) {
    AdjustUplinkInfo u;
    std::memcpy(&u, record, sizeof(u));
    a1 = u.a1;
  } else if (kind == 1) {
    AdjustDownlinkInfo d;
    std::memcpy(&d, record, sizeof(d));
    a1 = d.a1;
  } else {
    return false;
  }
  *index = a1;
  return true;
}

}  // namespace vdemo
