#include "report/SecureCommands.h"

#include <climits>

#include "tzhelper/TzWireBytes.h"

namespace report {

int ReadBlockHeader(const uint8_t* block, size_t len, BlockHeader* out) {
  if (block == nullptr || out == nullptr || len < kBlockHeaderBytes) return -1;
  out->h0 = wire::GetU32(block + 0);
  out->roletype = block[4];  // followed by 3 fill bytes
  out->h2 = wire::GetU32(block + 8);
  out->h3 = wire::GetU32(block + 12);
  out->h4 = wire::GetU32(block + 16);
  out->h5 = wire::GetU32(block + 20);
  out->recordWord = wire::GetU32(block + 24);
  return 0;
}

int ReadCombinedPacketHeader(const uint8_t* body, size_t len, CombinedPacketHeader* out) {
  if (body == nullptr || out == nullptr || len < kCombinedHeaderBytes) return -1;
  out->serialnum = wire::GetU32(body);
  return ReadBlockHeader(body + 4, len - 4, &out->first);
}

int ReadCombinedPacketEntry(const uint8_t* body, size_t len, size_t* offset,
                            CombinedPacketEntry* out) {
  if (body == nullptr || offset == nullptr || out == nullptr) return -1;
  const size_t at = *offset;
  if (at > len || len - at < kCombinedEntryHeadBytes) return -1;
  const uint16_t payloadLen = wire::GetU16(body + at + 4);
  if (len - at - kCombinedEntryHeadBytes < payloadLen) return -1;
  out->recordWord = wire::GetU32(body + at);
  out->payloadLen = payloadLen;
  out->payload = body + at + kCombinedEntryHeadBytes;
  *offset = at + kCombinedEntryHeadBytes + payloadLen;
  return 0;
}

size_t SerialCount(const uint8_t* body, size_t len) {
  return body == nullptr ? 0 : len / 4;
}

uint32_t SerialAt(const uint8_t* body, size_t len, size_t i) {
  if (i >= SerialCount(body, len)) return 0;
  return wire::GetU32(body + 4 * i);
}

int WriteSerialList(const uint32_t* serials, size_t count, uint8_t* out, size_t cap) {
  if (count == 0) return 0;
  if (serials == nullptr || out == nullptr || count > cap / 4 || count > INT_MAX / 4) return -1;
  for (size_t i = 0; i < count; ++i) wire::PutU32(out + 4 * i, serials[i]);
  return static_cast<int>(count * 4);
}

}  // namespace report
