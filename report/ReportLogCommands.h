// Call-log reporting bodies: ReportCmd (1116 on the report-log road),
// ReportResp (1112) and ReceiversResp (115). All carry version 3. Free
// functions; no state, any thread.
#pragma once
#include <cstddef>
#include <cstdint>

#include "asynmodel/PeerAddress.h"

namespace report {

constexpr uint8_t kReportCmdVersion = 3;
// Characters of the name field that are used; the field itself is 64 bytes.
constexpr size_t kMaxReportNameChars = 63;

struct ReportCmdFields {
  uint8_t version = kReportCmdVersion;
  const char* name = nullptr;     // NUL-terminated; null or "" for the empty name
  const uint8_t* text = nullptr;  // textLen bytes, no terminator
  uint32_t textLen = 0;
  uint32_t attempt = 0;           // index of the receiver tried
  uint32_t log_index = 0;
  uint32_t elapsed = 0;           // ms since the report was created
  uint64_t guid = 0;
};

// Serialises: u8 version, u32 L (name length + NUL), name and NUL, u32 T,
// text, attempt, log_index, elapsed, u64 guid; 29 + L + T bytes, returned.
// -1 when version is not 3, out or (with textLen > 0) text is null, or cap
// is below name characters + T + 34; -2 when a field would pass the end of
// out.
int WriteReportCmd(const ReportCmdFields& f, uint8_t* out, size_t cap);

constexpr size_t kReportRespBytes = 14;

struct ReportResp {
  uint8_t version = 0;
  uint8_t succ = 0;       // non-zero: the receiver took the report
  uint32_t reserved = 0;  // read, never used
  uint64_t guid = 0;
};

// 14 read; -2 for a null body or one shorter than 14 bytes (out untouched);
// -1 when the version is not 3 (out is filled all the same, so the caller can
// log the succ byte).
int ReadReportResp(const uint8_t* body, size_t len, ReportResp* out);
// Writes the 14-byte body. Returns 14, or -1 when cap is smaller.
int WriteReportResp(const ReportResp& in, uint8_t* out, size_t cap);

constexpr uint32_t kMaxReceivers = 10;
constexpr size_t kReceiverEntryBytes = 36;

struct ReceiversResp {
  uint8_t version = 0;
  uint32_t count = 0;  // entries announced by the body
  uint32_t kept = 0;   // min(count, kMaxReceivers): entries filled below
  // kind 0, tcp_ip/tcp_port and udp_ip/udp_port (at most 15 characters).
  AsynModel::PeerAddress entries[kMaxReceivers];
};

// Reads version, count and the first kept entries. Returns 5 + 36 * count;
// -1 for a null or empty body, -2 when the version is not 3, -3 when the
// body is shorter than 5 bytes or than the entries its count announces. On
// failure out is reset.
int ReadReceiversResp(const uint8_t* body, size_t len, ReceiversResp* out);

}  // namespace report
