// The peer's own reading and writing of the datagram header and the message
// image that follows it. Written from the wire layout alone, independent of
// the library's classes, so that a test passing through the peer checks the
// library against a second reading of the same bytes.
//
// Layout, every integer little-endian:
//   unreliable data: u16 version=1, u16 length, u16 checksum=0, u8 reliable=0,
//                    u8 ack=0, then the message image            (header 8)
//   reliable data:   the same with reliable=1, then u32 sn, then the image
//                                                                (header 12)
//   ACK:             u16 1, u16 12, u16 0, u8 1, u8 1, u32 sn    (exactly 12)
//   message image:   u32 msgTag, u32 msgId, u32 srcSid, u32 destSid, body
//
// All functions are pure and safe to call from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vpeer {

constexpr uint16_t kWireVersion = 1;
constexpr size_t kMaxDatagram = 2048;
constexpr size_t kUnreliableHead = 8;
constexpr size_t kReliableHead = 12;
constexpr size_t kAckSize = 12;
constexpr size_t kMsgImageHead = 16;

// Message types the peer speaks.
constexpr uint32_t kMsgQosRecord = 1116;     // client -> QoS server, opaque record
constexpr uint32_t kMsgQosPacket = 1119;     // client -> QoS server, combined packet
constexpr uint32_t kMsgQosPacketAck = 1120;  // QoS server -> client, serial numbers
constexpr uint32_t kMsgAdjustNotify = 6003;  // log receiver -> client
constexpr uint32_t kMsgAdjustAck = 6004;     // client -> log receiver
constexpr uint32_t kMsgStprcRequest = 6801;  // client -> STPRC
constexpr uint32_t kMsgStprcAnswer = 6802;   // STPRC -> client

inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t GetU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct MsgHeader {
  uint32_t msgTag = 1;  // every sender we know of writes 1
  uint32_t msgId = 0;
  uint32_t srcSid = 0;
  uint32_t destSid = 0;
};

enum class DatagramKind { kUnreliable, kReliable, kAck };

// Why a received datagram was refused. The first four mirror the checks a
// receiving library applies, in its order; the rest are where the peer reads
// more strictly, because it checks a sender that should only ever produce the
// canonical forms.
enum class Verdict {
  kOk,
  kTooShort,     // fewer than 8 bytes, a reliable/ACK header cut short
  kBadVersion,   // version field is not 1
  kBadLength,    // length field differs from the bytes received
  kBadChecksum,  // checksum field is not 0
  kTooLarge,     // more than 2048 bytes
  kShortMsg,     // a data datagram without a whole 16-byte message image
  kBadFlags,     // reliable flag other than 0/1, or ACK flag without reliable
  kBadAck,       // an ACK that is not exactly 12 bytes, or carries sn 0
};
constexpr int kVerdictCount = 9;

// Stable lower-case name used in the JSON summary.
const char* VerdictName(Verdict v);

// A parsed datagram. `body` points into the bytes that were parsed; it is
// valid only as long as they are.
struct Datagram {
  DatagramKind kind = DatagramKind::kUnreliable;
  uint32_t sn = 0;      // reliable data and ACK only
  MsgHeader msg;        // data datagrams only
  const uint8_t* body = nullptr;
  size_t bodyLen = 0;
  size_t headLen = 0;   // 8 or 12
};

Verdict ParseDatagram(const uint8_t* data, size_t len, Datagram* out);

// Builds a data datagram into *out (replacing its contents). `sn` is written
// only when `reliable`. Returns false, leaving *out empty, when the datagram
// would exceed 2048 bytes.
bool EncodeData(const MsgHeader& msg, const uint8_t* body, size_t bodyLen, bool reliable,
                uint32_t sn, std::vector<uint8_t>* out);

// The 12-byte acknowledgement of reliable datagram `sn`.
void EncodeAck(uint32_t sn, std::vector<uint8_t>* out);

}  // namespace vpeer
