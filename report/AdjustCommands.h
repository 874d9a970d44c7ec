// Media adjustment bodies: the log receiver's AdjustNotify (6003), the
// session's AdjustAck answer (6004), and the records handed to the host's
// adjustment callback. Free functions; no state, any thread.
#pragma once
#include <cstddef>
#include <cstdint>

#include "veltrane.h"

namespace report {

constexpr size_t kAdjustNotifyBytes = 88;
constexpr size_t kAdjustAckBytes = 40;
// speakId values from here on name a received speaker stream (downlink).
constexpr uint32_t kDownlinkSpeakIdBase = 10000;

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

// 0 read; -1 for a null body or one shorter than 88 bytes (out untouched).
// Longer bodies are accepted and the extra bytes ignored.
int ReadAdjustNotify(const uint8_t* body, size_t len, AdjustNotify* out);
// Writes the 88-byte body (fill bytes 0). Returns 88, or -1 when cap is
// smaller. Used by tests and tools that play the log receiver.
int WriteAdjustNotify(const AdjustNotify& in, uint8_t* out, size_t cap);

// The answer: Dialog, PacketId, meetId, UserId, speakId, a1, a2, 0, a4, 0.
// Returns 40, or -1 when cap is smaller.
int WriteAdjustAck(const AdjustNotify& notify, uint8_t* out, size_t cap);

struct AdjustAck {
  uint32_t words[10] = {};
};
// 0 read; -1 for a null body or one shorter than 40 bytes.
int ReadAdjustAck(const uint8_t* body, size_t len, AdjustAck* out);

// Host records: every byte the notification does not fill is zero.
void FillAdjustUplinkInfo(const AdjustNotify& n, AdjustUplinkInfo* out);
void FillAdjustDownlinkInfo(const AdjustNotify& n, AdjustDownlinkInfo* out);

}  // namespace report
