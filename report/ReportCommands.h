// Message types of the report session and the size limits of their bodies.
// The bodies themselves are read and written by the command families:
//   LocalCommands.h     4001, 4002/4005 trailer (posted inside the process)
//   StprcCommands.h     6802
//   AdjustCommands.h    6003, 6004, host adjustment records
//   ReportLogCommands.h 1116 (ReportCmd), 1112, 115
//   SecureCommands.h    1119 header, 1120
#pragma once
#include <cstdint>

namespace report {

// Local messages, coordinator or SecureTransfer -> report session.
constexpr uint32_t Report_LOCAL_REP_CMD = 4000;           // report text
constexpr uint32_t Report_RC_ADDR_CMD = 4001;             // STPRC group table
constexpr uint32_t Report_LOCAL_QOSINFO_CMD = 4002;       // host record + DestTrailer
constexpr uint32_t Report_CONFIG_DIR_CMD = 4004;          // config directory text
constexpr uint32_t Report_LOCAL_QOSINFO_CMD_NEW = 4005;   // combined packet + DestTrailer
constexpr uint32_t Report_RECVER_ADDR_MAP_CMD = 4006;     // conversion map replaced, empty

// Network messages.
constexpr uint32_t Report_QOSINFO_CMD = 1116;         // session -> QoS server / log receiver
constexpr uint32_t Report_SECURE_QOSINFO_CMD = 1119;  // session -> QoS server, combined packet
constexpr uint32_t Report_SECURE_ACK_CMD = 1120;      // QoS server -> session, serial numbers
constexpr uint32_t Stprc_ADDR_REQ_CMD = 6801;         // session -> STPRC, empty
constexpr uint32_t Stprc_ADDR_RESP_CMD = 6802;        // STPRC -> session, StpAddrResp
constexpr uint32_t Adjust_MEDIA_NOTIFY_CMD = 6003;    // log receiver -> session, AdjustNotify
constexpr uint32_t Adjust_MEDIA_ACK_CMD = 6004;       // session -> log receiver, AdjustAck
constexpr uint32_t Report_LOG_RESP_CMD = 1112;        // log receiver -> session, ReportResp
constexpr uint32_t Report_RECEIVERS_RESP_CMD = 115;   // receiver server -> session, ReceiversResp

// A network body never exceeds what the UDP send path takes.
constexpr uint32_t kMaxNetworkBodyBytes = 2020;

}  // namespace report
