// What a demo run counted, the verdict on it and the table printed at the end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "adjust_callbacks.h"
#include "library_log.h"
#include "record_tracker.h"

namespace vdemo {

struct RunTotals {
  bool embedded = true;  // false: a real STPRC, nothing observable at the far end
  bool faults = false;
  bool dupFaults = false;
  std::string mode;
  std::string portRange;
  std::string bound;      // the library's default address as it logged it
  std::string qosServer;  // as the library learnt it
  bool discovered = false;
  double discoveryMs = 0;
  double elapsedSec = 0;
  bool timedOut = false;

  uint64_t recordsPlanned = 0;
  uint64_t recordsSent = 0;      // ReportMeetingQosInfo calls made
  uint64_t reportFailures = 0;   // ... that returned non-zero
  std::vector<uint32_t> missing;  // first few records that never arrived

  // At the embedded peer.
  RecordCounts records;
  uint64_t droppedByPeer = 0;     // 1116 datagrams its fault injection dropped
  uint64_t duplicatedByPeer = 0;  // datagrams (any type) it handled twice
  uint64_t peerRefused = 0;       // datagrams that failed its checks
  std::string peerProblem;

  uint64_t adjustPlanned = 0;
  uint64_t adjustSent = 0;         // notifications the peer sent
  uint64_t adjustSendFailures = 0;
  uint64_t adjustGaveUp = 0;       // reliable 6003 never acknowledged
  CallbackCounts callbacks;
  uint64_t answered = 0;           // notifications with a valid 6004 at the peer
  uint64_t answersInvalid = 0;
  uint64_t answersDuplicate = 0;

  LogCounts log;
};

// Every way in which the run falls short, in words; empty when every record
// and adjustment is accounted for.
std::vector<std::string> Judge(const RunTotals& t);

// Records sent that neither arrived nor were dropped on purpose by the peer.
uint64_t LostRecords(const RunTotals& t);

void PrintSummary(std::FILE* out, const RunTotals& t, const std::vector<std::string>& problems);

}  // namespace vdemo
