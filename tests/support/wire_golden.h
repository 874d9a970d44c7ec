// The wire written down once, byte for byte: datagrams of each kind and the
// message bodies both sides read and write. The library's codec and the
// peer's independent codec are each checked against these same bytes, so a
// change on one side that the other does not share cannot pass both.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace golden {

enum class Kind { kAck, kUnreliable, kReliable };

struct Datagram {
  const char* name;
  Kind kind;
  uint32_t sn;  // acks and reliable datagrams
  uint32_t msgId, srcSid, destSid;
  std::string body;
  std::vector<uint8_t> bytes;
};

inline const std::vector<Datagram>& Datagrams() {
  static const std::vector<Datagram> table = {
      {"ack", Kind::kAck, 5, 0, 0, 0, "", {0x01, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x01, 0x01, 0x05, 0x00, 0x00, 0x00}},
      {"unreliable 1116", Kind::kUnreliable, 0, 1116, 7, 9, "abc",
       {0x01, 0x00, 0x1B, 0x00, 0x00, 0x00, 0x00, 0x00,  // version 1, length 27, checksum 0, flags 0
        0x01, 0x00, 0x00, 0x00, 0x5C, 0x04, 0x00, 0x00,  // tag 1, msgId 1116
        0x07, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00,  // srcSid, destSid
        'a', 'b', 'c'}},
      {"reliable 6004", Kind::kReliable, 0xDEADBEEF, 6004, 42, 7, "ZZ",
       {0x01, 0x00, 0x1E, 0x00, 0x00, 0x00, 0x01, 0x00, 0xEF, 0xBE, 0xAD, 0xDE,  // flags 1, sn
        0x01, 0x00, 0x00, 0x00, 0x74, 0x17, 0x00, 0x00,                        // tag 1, msgId 6004
        0x2A, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 'Z', 'Z'}},
      {"reliable empty 1119", Kind::kReliable, 0x01020304, 1119, 7, 9, "",
       {0x01, 0x00, 0x1C, 0x00, 0x00, 0x00, 0x01, 0x00, 0x04, 0x03, 0x02, 0x01, 0x01, 0x00, 0x00, 0x00,
        0x5F, 0x04, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00}},
  };
  return table;
}

// 6802: 16-byte NUL-padded ip text, u16 port, u32 result, packed.
struct StpAddrRespFields {
  const char* ip = "10.20.30.40";
  uint16_t port = 0x1234;
  uint32_t result = 0x01020304;
};
inline std::vector<uint8_t> StpAddrResp() {
  return {'1', '0', '.', '2', '0', '.', '3', '0', '.', '4', '0', 0, 0, 0, 0, 0, 0x34, 0x12, 4, 3, 2, 1};
}

// 6003, 88 bytes: the u32 at offset o is 1000 + o, so every field shows the
// offset it came from; fec 7 and 9 at 36, retrans -1 at 38, c1 0x11 and
// c2 0x22 at 84.
inline std::vector<uint8_t> AdjustNotify() {
  std::vector<uint8_t> b(88, 0);
  for (uint32_t o = 0; o < 88; o += 4) {
    for (uint32_t i = 0; i < 4; ++i) b[o + i] = static_cast<uint8_t>((1000 + o) >> (8 * i));
  }
  b[36] = 7;
  b[37] = 9;
  b[38] = b[39] = 0xFF;
  b[84] = 0x11;
  b[85] = 0x22;
  return b;
}
// 6004 answering it: Dialog, PacketId, meetId, UserId, speakId, a1, a2, 0
// (a3 is not echoed), a4, 0.
inline std::vector<uint8_t> AdjustAck() {
  std::vector<uint8_t> b;
  for (uint32_t w : {1000u, 1004u, 1008u, 1012u, 1016u, 1020u, 1024u, 0u, 1032u, 0u}) {
    for (uint32_t i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(w >> (8 * i)));
  }
  return b;
}

}  // namespace golden
