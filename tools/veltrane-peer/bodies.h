// The command bodies the peer exchanges, read and written field by field
// (packed, little-endian, addresses as 16-byte NUL-padded dotted text).
// Pure functions, safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vpeer {

constexpr size_t kStpAddrRespSize = 22;
constexpr size_t kAdjustNotifySize = 88;
constexpr size_t kAdjustAckSize = 40;
constexpr size_t kIpFieldSize = 16;

// 6802: where the QoS server is, or a non-zero result when there is none.
struct StpAddrResp {
  std::string ip;  // at most 15 characters travel
  uint16_t port = 0;
  uint32_t result = 0;
};
void EncodeStpAddrResp(const StpAddrResp& r, uint8_t out[kStpAddrRespSize]);
// Returns false for fewer than 22 bytes; longer bodies are read, the rest ignored.
bool DecodeStpAddrResp(const uint8_t* p, size_t len, StpAddrResp* out);

// 6003: a media adjustment for one speaker stream.
struct AdjustNotify {
  uint32_t Dialog = 0;
  uint32_t PacketId = 0;
  uint32_t meetId = 0;
  uint32_t UserId = 0;
  uint32_t speakId = 0;
  uint32_t a1 = 0, a2 = 0, a3 = 0, a4 = 0;
  uint8_t fecFirst = 0;
  uint8_t fecSecond = 0;
  int16_t retrans = 0;
  uint32_t capture = 0;
  uint32_t b1 = 0, b2 = 0;
  uint32_t u1 = 0, u2 = 0, u3 = 0;
  uint32_t d1 = 0, d2 = 0, d3 = 0, d4 = 0, d5 = 0;
  uint8_t c1 = 0, c2 = 0;
};
void EncodeAdjustNotify(const AdjustNotify& n, uint8_t out[kAdjustNotifySize]);
bool DecodeAdjustNotify(const uint8_t* p, size_t len, AdjustNotify* out);

// 6004: the client's answer, ten u32 words.
struct AdjustAck {
  uint32_t Dialog = 0;
  uint32_t PacketId = 0;
  uint32_t meetId = 0;
  uint32_t UserId = 0;
  uint32_t speakId = 0;
  uint32_t a1 = 0;
  uint32_t a2 = 0;
  uint32_t zero7 = 0;  // always 0 in a correct answer
  uint32_t a4 = 0;
  uint32_t zero9 = 0;  // always 0 in a correct answer

  bool operator==(const AdjustAck& o) const;
};
void EncodeAdjustAck(const AdjustAck& a, uint8_t out[kAdjustAckSize]);
bool DecodeAdjustAck(const uint8_t* p, size_t len, AdjustAck* out);
// The answer a correct client gives to `n`: Dialog, PacketId, meetId, UserId,
// speakId, a1, a2, 0, a4, 0.
AdjustAck ExpectedAdjustAck(const AdjustNotify& n);

// 1119: serialnum, the first block's 28-byte header, then per block
// (u32 record word, u16 payload length, payload).
constexpr size_t kBlockHeaderSize = 28;
constexpr size_t kPacketMaxSingle = 1029;  // one block of up to 1019 bytes
constexpr size_t kPacketMaxMulti = 1023;   // several blocks stay below 1024
struct QosPacketInfo {
  uint32_t serialnum = 0;
  uint32_t blocks = 0;
  uint32_t payloadBytes = 0;
};
enum class PacketCheck { kOk, kTooShort, kBadEntry, kRecordWordMismatch, kTooLong };
const char* PacketCheckName(PacketCheck c);
// Walks every entry; the entries must end exactly at the end of the body, and
// the first entry's record word must repeat the one in the block header.
PacketCheck CheckQosPacket(const uint8_t* p, size_t len, QosPacketInfo* out);

// 1120: the acknowledged serial numbers, u32 each.
void EncodeSerials(const uint32_t* serials, size_t count, std::vector<uint8_t>* out);

}  // namespace vpeer
