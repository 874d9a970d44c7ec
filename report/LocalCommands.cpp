#include "report/LocalCommands.h"

#include <cstring>

#include "tzhelper/TzWireBytes.h"

namespace report {

bool ReadDestTrailer(const uint8_t* body, size_t len, DestTrailer* out) {
  if (body == nullptr || out == nullptr || len < kDestTrailerBytes) return false;
  const uint8_t* t = body + (len - kDestTrailerBytes);
  wire::GetIpField(t, out->ip);
  out->port = wire::GetU16(t + 16);
  return true;
}

void WriteDestTrailer(const char* ipField, uint16_t port, uint8_t* out) {
  if (ipField != nullptr) {
    memcpy(out, ipField, wire::kIpFieldBytes);
  } else {
    memset(out, 0, wire::kIpFieldBytes);
  }
  wire::PutU16(out + 16, port);
}

uint32_t ReadRcAddrCmd(const uint8_t* body, size_t len, RcAddrGroups* out) {
  if (out == nullptr) return 0;
  *out = RcAddrGroups();
  if (body == nullptr) return 0;
  const size_t groups = len / kStprcGroupBytes;
  // A body of 2^32 groups cannot arrive (posts are bounded far below), but
  // keep the count honest rather than wrapping.
  out->groupCount = groups > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(groups);
  out->groupsUsed = groups < MAX_STPRC_GROUP_NUM ? static_cast<uint32_t>(groups) : MAX_STPRC_GROUP_NUM;
  for (uint32_t g = 0; g < out->groupsUsed; ++g) {
    for (uint32_t i = 0; i < MAX_STPRC_NUM; ++i) {
      const uint8_t* e = body + g * kStprcGroupBytes + i * kStprcEntryBytes;
      const uint16_t port = wire::GetU16(e + 16);
      if (port == 0) break;
      AsynModel::PeerAddress& a = out->table[g][i];
      wire::GetIpField(e, a.udp_ip);
      a.udp_port = port;
      out->entryCount[g] = i + 1;
    }
  }
  return out->groupCount;
}

}  // namespace report
