#include "report/StprcCommands.h"

#include "tzhelper/TzWireBytes.h"

namespace report {

int ReadStpAddrResp(const uint8_t* body, size_t len, StpAddrResp* out) {
  if (body == nullptr || out == nullptr || len < kStpAddrRespBytes) return -1;
  wire::GetIpField(body, out->ip);
  out->port = wire::GetU16(body + 16);
  out->result = wire::GetU32(body + 18);
  return 0;
}

int WriteStpAddrResp(const StpAddrResp& in, uint8_t* out, size_t cap) {
  if (out == nullptr || cap < kStpAddrRespBytes) return -1;
  wire::PutIpField(out, in.ip);
  wire::PutU16(out + 16, in.port);
  wire::PutU32(out + 18, in.result);
  return static_cast<int>(kStpAddrRespBytes);
}

}  // namespace report
