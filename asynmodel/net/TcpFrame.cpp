#include "asynmodel/net/TcpFrame.h"

#include "tzhelper/TzWireBytes.h"

namespace AsynModel {

void WriteTcpFrameHeader(uint8_t* out, uint32_t bodyLength) {
  wire::PutU16(out, kTcpFrameVersion);
  wire::PutU32(out + 2, bodyLength);
}

TcpFrameCheck ReadTcpFrameHeader(const uint8_t* data, size_t size, uint32_t* bodyLength) {
  *bodyLength = 0;
  if (data == nullptr || size < kTcpFrameHeader) return TcpFrame_Short;
  *bodyLength = wire::GetU32(data + 2);
  if (wire::GetU16(data) != kTcpFrameVersion) return TcpFrame_BadVersion;
  if (*bodyLength == 0 || *bodyLength > kTcpMaxRecvBody) return TcpFrame_BadLength;
  return TcpFrame_OK;
}

}  // namespace AsynModel
