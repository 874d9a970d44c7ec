// Little-endian field access for everything that crosses a wire: datagram
// headers and command bodies are packed byte layouts shared with peers built
// elsewhere, so every field is read and written byte by byte at its offset;
// no struct is ever copied onto the wire. Callers check lengths first.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace wire {

inline uint16_t GetU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t GetU64(const uint8_t* p) {
  return static_cast<uint64_t>(GetU32(p)) | (static_cast<uint64_t>(GetU32(p + 4)) << 32);
}

inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr size_t kIpFieldBytes = 16;

// Reads the text of a 16-byte ip field: at most 15 characters, stopping at
// the first NUL; out (16 bytes) is always NUL-terminated and zero-padded.
inline void GetIpField(const uint8_t* p, char* out) {
  memset(out, 0, kIpFieldBytes);
  for (size_t i = 0; i + 1 < kIpFieldBytes && p[i] != 0; ++i) out[i] = static_cast<char>(p[i]);
}

// Writes at most 15 characters of ip (null: empty) into a zero-filled field.
inline void PutIpField(uint8_t* p, const char* ip) {
  memset(p, 0, kIpFieldBytes);
  if (ip == nullptr) return;
  for (size_t i = 0; i + 1 < kIpFieldBytes && ip[i] != 0; ++i) p[i] = static_cast<uint8_t>(ip[i]);
}

}  // namespace wire
