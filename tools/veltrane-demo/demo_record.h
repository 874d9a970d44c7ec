// The records the demo reports and the notifications it triggers, built so
// that whoever receives one can tell exactly which it is and whether every
// byte survived: the bytes of record n are a pure function of n.
// Pure functions, safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bodies.h"
#include "veltrane.h"

namespace vdemo {

// Record layout (little-endian): u32 magic "VDEM", u32 sequence number, u16
// total length, u16 0, pattern bytes, u32 FNV-1a checksum of everything
// before it. Lengths vary with the sequence number (48 to 255 bytes) so that
// a record cut short or glued to another one shows.
constexpr uint32_t kRecordMagic = 0x4D454456;  // "VDEM"
constexpr size_t kRecordHead = 12;
constexpr size_t kRecordMinSize = 48;
constexpr size_t kRecordMaxSize = 255;

size_t RecordSize(uint32_t seq);
// Writes record `seq` into *out (resized to RecordSize(seq)).
void BuildRecord(uint32_t seq, std::vector<uint8_t>* out);

enum class RecordCheck { kOk, kNotOurs, kCorrupt };
// Identifies a received body: kOk fills *seq when the body is, byte for byte,
// the record it claims to be; kNotOurs when it does not start like a demo
// record; kCorrupt otherwise.
RecordCheck CheckRecord(const uint8_t* body, size_t len, uint32_t* seq);

// Adjustment notification `index` of a run: PacketId index + 1 so that no two
// in a row repeat, and even indexes address the host's sending side (speakId
// below 10000), odd ones a received stream. a1 carries the index and a2 its
// complement, so a callback record names its notification.
vpeer::AdjustNotify BuildNotify(uint32_t dialog, uint32_t index);
bool IsUplink(uint32_t index);
// What the host callback must receive for `n`, as bytes (56 or 68).
std::vector<uint8_t> ExpectedUplink(const vpeer::AdjustNotify& n);
std::vector<uint8_t> ExpectedDownlink(const vpeer::AdjustNotify& n);
// The index a callback record names, or false when it names none.
bool IndexOfCallback(int kind, const void* record, uint32_t* index);

}  // namespace vdemo
