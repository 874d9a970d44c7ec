// The UDP datagram format: an 8-byte header (unreliable), a 12-byte header
// with an sn (reliable), or a 12-byte ACK; version 1, total length, a
// checksum field whose routine yields 0, and a 2048-byte limit. All fields
// little-endian, written byte by byte so the image never depends on the
// build machine.
//
//   offset 0  u16 version (1)
//          2  u16 total length, header included
//          4  u16 checksum over bytes 6..end (the routine yields 0)
//          6  u8  reliable flag
//          7  u8  ACK flag
//          8  u32 sn (reliable data and ACK only)
//
// Threads: every function here is pure and safe from any thread.
#pragma once
#include <cstdint>

#include "asynmodel/net/MemStream.h"
#include "tzhelper/TzWireBytes.h"

namespace AsynModel {

class Msg;

constexpr uint32_t kUdpHeaderUnreliable = 8;
constexpr uint32_t kUdpHeaderReliable = 12;
constexpr uint32_t kUdpAckLength = 12;
constexpr uint32_t kUdpMaxDatagram = 2048;
constexpr uint16_t kUdpVersion = 1;

constexpr uint32_t kUdpOffVersion = 0;
constexpr uint32_t kUdpOffLength = 2;
constexpr uint32_t kUdpOffChecksum = 4;
constexpr uint32_t kUdpOffReliable = 6;
constexpr uint32_t kUdpOffAck = 7;
constexpr uint32_t kUdpOffSn = 8;

// The checksum routine of this system: 0 for every input. Receivers compare
// the field with it, so only datagrams whose field is 0 pass.
uint16_t UdpChecksum(const uint8_t* data, uint32_t length);

enum UdpBuildResult : uint32_t {
  UdpBuild_OK = 0,
  UdpBuild_TooLarge = 14,
  UdpBuild_SerializeFailed = 16,
  UdpBuild_NoStream = 25,
};

// Builds a data datagram around msg: header (8, or 12 with sn when reliable),
// the Msg wire image, the body. *totalOut always receives the full-width
// total (clamped to u32) so the caller can log it. On 0, *out holds the new
// stream (data length = total, payload offset = header + 16); on any other
// result *out is untouched and nothing is kept. Logs nothing: the callers
// own the texts.
uint32_t BuildDataDatagram(const Msg& msg, bool reliable, uint32_t sn, SptrMemStream* out,
                           uint32_t* totalOut);

// Writes the 12-byte ACK for sn into out (at least 12 bytes).
void WriteAck(uint8_t* out, uint32_t sn);

enum UdpCheck { UdpCheck_OK = 0, UdpCheck_Version, UdpCheck_Length, UdpCheck_Checksum };

// The receiver checks, in order: version, length field == received bytes
// (a datagram shorter than the 8-byte header fails here too), checksum. The
// first failure logs its warning (the version warning shows the received
// value) and is returned. Reads at most min(received, capacity) bytes; the
// caller still requires received <= 2048 afterwards.
UdpCheck CheckDataPacketValid(const uint8_t* data, uint32_t received, uint32_t capacity);

}  // namespace AsynModel
