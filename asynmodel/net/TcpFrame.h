// The 6-byte header that frames each message on a TCP connection:
//   offset 0, u16: version, 1
//   offset 2, u32: body length, 1 .. 2,097,152 (little-endian)
// followed by the body, a Msg wire image. A sender never writes a body above
// 2042 bytes (a whole frame of at most 2048); a receiver takes any length in
// range. Pure functions on bytes, so the reader can be fuzzed on its own.
#pragma once
#include <cstddef>
#include <cstdint>

namespace AsynModel {

constexpr uint32_t kTcpFrameHeader = 6;
constexpr uint16_t kTcpFrameVersion = 1;
constexpr uint32_t kTcpMaxRecvBody = 2097152;
constexpr uint32_t kTcpMaxSendBody = 2042;

enum TcpFrameCheck : int {
  TcpFrame_OK = 0,
  TcpFrame_Short = 1,       // fewer than 6 bytes
  TcpFrame_BadVersion = 2,  // version other than 1
  TcpFrame_BadLength = 3,   // body length 0 or above 2,097,152
};

// Writes the header for a body of bodyLength bytes into out[0..5].
void WriteTcpFrameHeader(uint8_t* out, uint32_t bodyLength);
// Reads the header at data[0..5]. *bodyLength gets the length field whatever
// the result (0 when the header is short).
TcpFrameCheck ReadTcpFrameHeader(const uint8_t* data, size_t size, uint32_t* bodyLength);

}  // namespace AsynModel
