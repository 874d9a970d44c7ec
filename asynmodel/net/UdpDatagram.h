// The UDP datagram format: an 8-byte header (unreliable), a 12-byte header
// with an sn (reliable), or a 12-byte ACK; version 1, total length, a
// checksum field whose routine yields 0, and a 2048-byte limit. All fields
// little-endian.
#pragma once
#include <cstdint>

#include "asynmodel/net/MemStream.h"

namespace AsynModel {

class Msg;

constexpr uint32_t kUdpHeaderUnreliable = 8;
constexpr uint32_t kUdpHeaderReliable = 12;
constexpr uint32_t kUdpAckLength = 12;
constexpr uint32_t kUdpMaxDatagram = 2048;

// The checksum routine of this system: 0 for every input.
uint16_t UdpChecksum(const uint8_t* data, uint32_t length);

// Builds a data datagram around msg. Result 0 with *out holding a new stream
// (the caller owns one reference), or 14 (oversize, *totalOut set), 25 (no
// stream or buffer), 16 (serialization failed). Logs nothing.
uint32_t BuildDataDatagram(const Msg& msg, bool reliable, uint32_t sn, MemStream** out,
                           uint32_t* totalOut);
// Writes the 12-byte ACK for sn into out.
void WriteAck(uint8_t* out, uint32_t sn);

enum UdpCheck { UdpCheck_OK = 0, UdpCheck_Version, UdpCheck_Length, UdpCheck_Checksum };
// Receiver checks in order; on failure logs its warning (version shows the
// received value). Caller also requires received <= 2048.
UdpCheck CheckDataPacketValid(const uint8_t* data, uint32_t received);

inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void WriteLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace AsynModel
