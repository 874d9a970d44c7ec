// Bodies the coordinator and SecureTransfer post to the report session inside
// the process: the destination trailer of 4002/4005 and the STPRC groups of
// Report_RC_ADDR_CMD (4001). Free functions; no state, any thread.
#pragma once
#include <cstddef>
#include <cstdint>

#include "asynmodel/PeerAddress.h"

namespace report {

// The last 18 bytes of a 4002 or 4005 body: where this one record goes.
constexpr size_t kDestTrailerBytes = 18;

struct DestTrailer {
  char ip[16] = {};    // at most 15 characters of the field, NUL-terminated
  uint16_t port = 0;   // 0: no destination given
};

// Reads the trailer at the end of body. False (out untouched) when the body
// is null or shorter than the trailer; the record is then the first
// len - kDestTrailerBytes bytes.
bool ReadDestTrailer(const uint8_t* body, size_t len, DestTrailer* out);

// Writes a trailer at out (kDestTrailerBytes bytes): the 16 bytes of ipField
// unchanged (the host's field is copied as it is; null writes 16 zeros), then
// the port.
void WriteDestTrailer(const char* ipField, uint16_t port, uint8_t* out);

// Report_RC_ADDR_CMD: whole 240-byte groups of ten 24-byte StprcAddrEntry.
constexpr uint32_t MAX_STPRC_GROUP_NUM = 10;  // groups in a table
constexpr uint32_t MAX_STPRC_NUM = 10;        // entries in a group
constexpr size_t kStprcEntryBytes = 24;       // one StprcAddrEntry
constexpr size_t kStprcGroupBytes = kStprcEntryBytes * MAX_STPRC_NUM;  // 240
constexpr size_t kStprcTableBytes = kStprcGroupBytes * MAX_STPRC_GROUP_NUM;  // 2400

struct RcAddrGroups {
  uint32_t groupCount = 0;   // length / 240, as received (may exceed 10)
  uint32_t groupsUsed = 0;   // min(groupCount, 10)
  uint32_t entryCount[MAX_STPRC_GROUP_NUM] = {};  // filled entries of each group
  // udp_ip (15 characters at most) and udp_port of each filled entry; the
  // rest is zero.
  AsynModel::PeerAddress table[MAX_STPRC_GROUP_NUM][MAX_STPRC_NUM];
};

// Reads the groups: an entry with port 0 ends its group; groupid is not
// read (the coordinator sorted the entries already). Returns groupCount; 0
// for a null body or one shorter than a group (out is then all zero).
uint32_t ReadRcAddrCmd(const uint8_t* body, size_t len, RcAddrGroups* out);

}  // namespace report
