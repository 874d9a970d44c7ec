#include "report/AdjustCommands.h"

#include <cstring>

#include "tzhelper/TzWireBytes.h"

namespace report {

int ReadAdjustNotify(const uint8_t* body, size_t len, AdjustNotify* out) {
  if (body == nullptr || out == nullptr || len < kAdjustNotifyBytes) return -1;
  const uint8_t* p = body;
  out->Dialog = wire::GetU32(p + 0);
  out->PacketId = wire::GetU32(p + 4);
  out->meetId = wire::GetU32(p + 8);
  out->UserId = wire::GetU32(p + 12);
  out->speakId = wire::GetU32(p + 16);
  out->a1 = wire::GetU32(p + 20);
  out->a2 = wire::GetU32(p + 24);
  out->a3 = wire::GetU32(p + 28);
  out->a4 = wire::GetU32(p + 32);
  out->fecFirst = p[36];
  out->fecSecond = p[37];
  out->retrans = static_cast<int16_t>(wire::GetU16(p + 38));
  out->capture = wire::GetU32(p + 40);
  out->b1 = wire::GetU32(p + 44);
  out->b2 = wire::GetU32(p + 48);
  out->u1 = wire::GetU32(p + 52);
  out->u2 = wire::GetU32(p + 56);
  out->u3 = wire::GetU32(p + 60);
  out->d1 = wire::GetU32(p + 64);
  out->d2 = wire::GetU32(p + 68);
  out->d3 = wire::GetU32(p + 72);
  out->d4 = wire::GetU32(p + 76);
  out->d5 = wire::GetU32(p + 80);
  out->c1 = p[84];
  out->c2 = p[85];
  return 0;
}

int WriteAdjustNotify(const AdjustNotify& in, uint8_t* out, size_t cap) {
  if (out == nullptr || cap < kAdjustNotifyBytes) return -1;
  uint8_t* p = out;
  wire::PutU32(p + 0, in.Dialog);
  wire::PutU32(p + 4, in.PacketId);
  wire::PutU32(p + 8, in.meetId);
  wire::PutU32(p + 12, in.UserId);
  wire::PutU32(p + 16, in.speakId);
  wire::PutU32(p + 20, in.a1);
  wire::PutU32(p + 24, in.a2);
  wire::PutU32(p + 28, in.a3);
  wire::PutU32(p + 32, in.a4);
  p[36] = in.fecFirst;
  p[37] = in.fecSecond;
  wire::PutU16(p + 38, static_cast<uint16_t>(in.retrans));
  wire::PutU32(p + 40, in.capture);
  wire::PutU32(p + 44, in.b1);
  wire::PutU32(p + 48, in.b2);
  wire::PutU32(p + 52, in.u1);
  wire::PutU32(p + 56, in.u2);
  wire::PutU32(p + 60, in.u3);
  wire::PutU32(p + 64, in.d1);
  wire::PutU32(p + 68, in.d2);
  wire::PutU32(p + 72, in.d3);
  wire::PutU32(p + 76, in.d4);
  wire::PutU32(p + 80, in.d5);
  p[84] = in.c1;
  p[85] = in.c2;
  p[86] = 0;
  p[87] = 0;
  return static_cast<int>(kAdjustNotifyBytes);
}

int WriteAdjustAck(const AdjustNotify& n, uint8_t* out, size_t cap) {
  if (out == nullptr || cap < kAdjustAckBytes) return -1;
  const uint32_t words[10] = {n.Dialog, n.PacketId, n.meetId, n.UserId, n.speakId,
                              n.a1,     n.a2,       0,        n.a4,     0};
  for (size_t i = 0; i < 10; ++i) wire::PutU32(out + 4 * i, words[i]);
  return static_cast<int>(kAdjustAckBytes);
}

int ReadAdjustAck(const uint8_t* body, size_t len, AdjustAck* out) {
  if (body == nullptr || out == nullptr || len < kAdjustAckBytes) return -1;
  for (size_t i = 0; i < 10; ++i) out->words[i] = wire::GetU32(body + 4 * i);
  return 0;
}

namespace {

// The fields both host records carry, under the same names. The host may
// look at every byte, fill included: start from zero.
template <class Info>
void FillCommon(const AdjustNotify& n, Info* out) {
  memset(out, 0, sizeof(*out));
  out->meetId = n.meetId;
  out->UserId = n.UserId;
  out->a1 = n.a1;
  out->a2 = n.a2;
  out->a3 = n.a3;
  out->a4 = n.a4;
  out->fecFirst = n.fecFirst;
  out->fecSecond = n.fecSecond;
  out->retrans = n.retrans;
  out->capture = n.capture;
  out->b1 = n.b1;
  out->b2 = n.b2;
  out->c1 = n.c1;
  out->c2 = n.c2;
}

}  // namespace

void FillAdjustUplinkInfo(const AdjustNotify& n, AdjustUplinkInfo* out) {
  FillCommon(n, out);
  out->u1 = n.u1;
  out->u2 = n.u2;
  out->u3 = n.u3;
}

void FillAdjustDownlinkInfo(const AdjustNotify& n, AdjustDownlinkInfo* out) {
  FillCommon(n, out);
  out->speakId = n.speakId;
  out->d1 = n.d1;
  out->d2 = n.d2;
  out->d3 = n.d3;
  out->d4 = n.d4;
  out->d5 = n.d5;
}

}  // namespace report
