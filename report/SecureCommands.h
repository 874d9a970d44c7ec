// Secured road bodies: the host's 28-byte block header, the combined packet
// (1119; 4005 with a DestTrailer) and the acknowledgement list (1120). The
// packet writer belongs to SecureTransfer; the readers here serve its log
// lines, the session and tests. Free functions; no state, any thread.
#pragma once
#include <cstddef>
#include <cstdint>

namespace report {

constexpr size_t kBlockHeaderBytes = 28;
// serialnum + the first block's header.
constexpr size_t kCombinedHeaderBytes = 4 + kBlockHeaderBytes;
// Per block inside a packet: record word and payload length.
constexpr size_t kCombinedEntryHeadBytes = 6;

struct BlockHeader {
  uint32_t h0 = 0;
  uint8_t roletype = 0;
  uint32_t h2 = 0, h3 = 0, h4 = 0, h5 = 0;
  uint32_t recordWord = 0;
};

// 0 read; -1 for a null block or one shorter than 28 bytes.
int ReadBlockHeader(const uint8_t* block, size_t len, BlockHeader* out);

struct CombinedPacketHeader {
  uint32_t serialnum = 0;
  BlockHeader first;
};

// 0 read; -1 for a null body or one shorter than 32 bytes.
int ReadCombinedPacketHeader(const uint8_t* body, size_t len, CombinedPacketHeader* out);

struct CombinedPacketEntry {
  uint32_t recordWord = 0;
  uint16_t payloadLen = 0;
  const uint8_t* payload = nullptr;  // points into the body
};

// Reads the block entry at *offset (start with kCombinedHeaderBytes) and
// advances *offset past it. 0 read; -1 when the entry (head or payload) does
// not fit in len. Stop at the first -1 (also the normal end of a packet that
// carries no trailer).
int ReadCombinedPacketEntry(const uint8_t* body, size_t len, size_t* offset,
                            CombinedPacketEntry* out);

// 1120: body length / 4 serial numbers; a trailing partial word is ignored.
size_t SerialCount(const uint8_t* body, size_t len);
// The i-th serial number; 0 when i is not below SerialCount.
uint32_t SerialAt(const uint8_t* body, size_t len, size_t i);
// Writes count serial numbers. Returns the byte length, or -1 when cap is
// too small.
int WriteSerialList(const uint32_t* serials, size_t count, uint8_t* out, size_t cap);

}  // namespace report
