// Fuzz target for the TCP frame header reader. The input is read as a byte
// stream of frames, the way a connection delivers them: a header, then the
// body it announces, then the next header. Oracles:
//  - the reader's verdict matches an independent reading of the six bytes;
//  - a header it accepts is rebuilt byte for byte by the writer;
//  - any length written by the writer reads back as the same length, and is
//    accepted exactly when it lies in 1 .. 2,097,152.
// No sockets: the reader is a pure function on bytes. Seeds:
// fuzz/corpus/tcp_frame_fuzz/. By hand:
//   clang++ -std=c++17 -fsanitize=fuzzer,address,undefined -I. -Iinc/baselibrary \
//     fuzz/tcp_frame_fuzz.cpp asynmodel/net/TcpFrame.cpp -o tcp_frame_fuzz
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "asynmodel/net/TcpFrame.h"

using namespace AsynModel;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

void RoundTrip(uint32_t length) {
  uint8_t header[kTcpFrameHeader];
  WriteTcpFrameHeader(header, length);
  uint32_t back = 0;
  const TcpFrameCheck check = ReadTcpFrameHeader(header, sizeof header, &back);
  Check(back == length);
  Check((check == TcpFrame_OK) == (length >= 1 && length <= kTcpMaxRecvBody));
  Check(check == TcpFrame_OK || check == TcpFrame_BadLength);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t at = 0;
  while (at < size) {
    const size_t left = size - at;
    uint32_t length = 0xFFFFFFFFu;
    const TcpFrameCheck check = ReadTcpFrameHeader(data + at, left, &length);
    if (left < kTcpFrameHeader) {
      Check(check == TcpFrame_Short && length == 0);
      break;
    }
    const uint16_t version = static_cast<uint16_t>(data[at] | (data[at + 1] << 8));
    const uint32_t field = Le32(data + at + 2);
    Check(length == field);
    RoundTrip(field);
    if (version != kTcpFrameVersion) {
      Check(check == TcpFrame_BadVersion);
      break;  // a connection ends at a bad header
    }
    if (field == 0 || field > kTcpMaxRecvBody) {
      Check(check == TcpFrame_BadLength);
      break;
    }
    Check(check == TcpFrame_OK);
    uint8_t rebuilt[kTcpFrameHeader];
    WriteTcpFrameHeader(rebuilt, length);
    Check(std::memcmp(rebuilt, data + at, kTcpFrameHeader) == 0);
    at += kTcpFrameHeader;
    if (size - at < length) break;  // the body is still on its way
    at += length;
  }
  return 0;
}
