// A snapshot of everything the peer counts. Plain data: Peer::Stats() fills a
// copy under the peer's lock, so a reader never sees a half-updated set.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "codec.h"

namespace vpeer {

struct FaultCounts {
  uint64_t dropped = 0;     // datagrams that were never handled / never sent
  uint64_t duplicated = 0;  // datagrams handled / sent twice
  uint64_t delayed = 0;     // copies held back for a non-zero delay
};

struct PeerStats {
  std::string bindIp;
  std::vector<uint16_t> stprcPorts;
  uint16_t qosPort = 0;

  // Datagrams as they cross the sockets (inbound before faults, outbound
  // after them).
  uint64_t datagramsIn = 0;
  uint64_t bytesIn = 0;
  uint64_t datagramsOut = 0;
  uint64_t bytesOut = 0;
  uint64_t sendFailures = 0;
  uint64_t refusedRemote = 0;  // sends withheld because the target left loopback

  // Refused by the datagram checks, in total and by reason (index = Verdict).
  uint64_t malformed = 0;
  uint64_t malformedBy[kVerdictCount] = {};
  uint64_t badTag = 0;       // msgTag other than 1 (still handled)
  uint64_t unexpected = 0;   // a message type the receiving socket does not serve

  // STPRC role.
  std::vector<uint64_t> stprcRequests;  // 6801 per STPRC socket
  uint64_t stprcAnswers = 0;            // 6802 sent

  // QoS server role.
  uint64_t records1116 = 0;
  uint64_t bytes1116 = 0;
  uint64_t records1116Checked = 0;
  uint64_t records1116Mismatched = 0;
  uint64_t packets1119 = 0;            // distinct serial numbers
  uint64_t packets1119Duplicates = 0;  // a serial number seen before
  uint64_t packets1119Malformed = 0;
  uint64_t blocks1119 = 0;             // blocks in distinct packets
  uint64_t acks1120Sent = 0;

  // Log receiver role.
  uint64_t adjustSent = 0;           // notifications (SendAdjust / schedule)
  uint64_t adjustTransmissions = 0;  // 6003 datagrams, resends included
  uint64_t adjustGaveUp = 0;         // reliable 6003 never ACKed
  uint64_t adjustScheduleSkipped = 0;  // scheduled ticks without a known client
  uint64_t adjustAcksReceived = 0;   // 6004 messages handled
  uint64_t adjustAcksValid = 0;      // matching, up to one per notification sent
  uint64_t adjustAcksDuplicates = 0; // matching, beyond one per notification
  uint64_t adjustAcksInvalid = 0;    // unknown, mismatched, misaddressed, short
  uint64_t adjustAnswered = 0;       // distinct notifications answered

  // Reliable transport.
  uint64_t reliableIn = 0;          // reliable data datagrams accepted as new
  uint64_t reliableDuplicates = 0;  // same (source, sn) again: ACKed, not handled
  uint64_t acksSent = 0;
  uint64_t acksWithheld = 0;
  uint64_t acksReceived = 0;
  uint64_t acksUnknown = 0;  // for no datagram in flight

  FaultCounts faultIn;
  FaultCounts faultOut;
  // Inbound drops by message type (0 for ACKs and unreadable datagrams), so a
  // test can reconcile "records lost" with "records the peer dropped".
  std::map<uint32_t, uint64_t> droppedInByMsg;

  std::string lastProblem;  // the most recent refusal, in words

  uint64_t DroppedIn(uint32_t msgId) const {
    auto it = droppedInByMsg.find(msgId);
    return it == droppedInByMsg.end() ? 0 : it->second;
  }

  // One JSON object, keys in snake case.
  std::string ToJson() const;
};

}  // namespace vpeer
