#include "summary.h"

#include <cinttypes>

namespace vdemo {

namespace {

std::string CountText(uint64_t v) { return std::to_string(v); }

std::string MillisecondsText(double ms) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%.0f ms", ms);
  return buf;
}

std::string SecondsText(double s) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%.2f s", s);
  return buf;
}

void Row(std::FILE* out, const char* label, const std::string& value) {
  std::fprintf(out, "  %-30s %s\n", label, value.c_str());
}

std::string List(const std::vector<uint32_t>& v) {
  std::string s;
  for (uint32_t x : v) s += (s.empty() ? "" : ", ") + std::to_string(x);
  return s;
}

void JudgeRecords(const RunTotals& t, std::vector<std::string>* p) {
  if (t.recordsSent < t.recordsPlanned) {
    p->push_back("only " + CountText(t.recordsSent) + " of " + CountText(t.recordsPlanned) +
                 " records were reported before the time ran out");
  }
  if (t.reportFailures > 0) p->push_back(CountText(t.reportFailures) + " ReportMeetingQosInfo calls failed");
  if (!t.embedded) {
    if (t.log.flowLines > 0 && t.log.flowOut < t.recordsSent) {
      p->push_back("the library's flow lines show " + CountText(t.log.flowOut) + " records sent on, not " +
                   CountText(t.recordsSent));
    }
    return;
  }
  const uint64_t lost = LostRecords(t);
  if (lost > 0) {
    p->push_back(CountText(lost) + " records never reached the peer (first: " + List(t.missing) + ")");
  }
  if (t.records.corrupt > 0) p->push_back(CountText(t.records.corrupt) + " records arrived with wrong bytes");
  if (t.records.foreign + t.records.outOfRange > 0) {
    p->push_back(CountText(t.records.foreign + t.records.outOfRange) +
                 " records arrived that were never sent");
  }
  // Without injected duplicates, a second copy is the library's doing.
  if (t.records.duplicates > (t.dupFaults ? t.duplicatedByPeer : 0)) {
    p->push_back(CountText(t.records.duplicates) + " records arrived more than once");
  }
  if (t.peerRefused > 0) {
    p->push_back("the peer refused " + CountText(t.peerRefused) + " datagrams (" + t.peerProblem + ")");
  }
}

void JudgeAdjustments(const RunTotals& t, std::vector<std::string>* p) {
  if (!t.embedded) return;
  const CallbackCounts& c = t.callbacks;
  if (t.adjustSent < t.adjustPlanned) {
    p->push_back("only " + CountText(t.adjustSent) + " of " + CountText(t.adjustPlanned) +
                 " notifications were sent");
  }
  if (c.invalid > 0) p->push_back(CountText(c.invalid) + " adjustment callbacks carried the wrong record");
  // A notification the peer gave up on may or may not have got through;
  // without faults every one must.
  uint64_t mustArrive = t.adjustSent;
  if (t.faults) mustArrive = t.adjustSent > t.adjustGaveUp ? t.adjustSent - t.adjustGaveUp : 0;
  if (c.distinct < mustArrive || c.distinct > t.adjustSent) {
    p->push_back(CountText(c.distinct) + " of " + CountText(t.adjustSent) +
                 " notifications were called back");
  }
  if (!t.faults && c.repeats > 0) {
    p->push_back(CountText(c.repeats) + " notifications were called back twice");
  }
  if (t.answered != c.distinct) {
    p->push_back(CountText(t.answered) + " notifications answered with 6004, " + CountText(c.distinct) +
                 " called back");
  }
  if (t.answersInvalid > 0) p->push_back(CountText(t.answersInvalid) + " 6004 answers were wrong");
}

}  // namespace

uint64_t LostRecords(const RunTotals& t) {
  const uint64_t accounted = t.records.distinct + t.droppedByPeer;
  return t.recordsSent > accounted ? t.recordsSent - accounted : 0;
}

std::vector<std::string> Judge(const RunTotals& t) {
  std::vector<std::string> p;
  if (!t.discovered) {
    p.push_back("the library never learnt the QoS server from STPRC");
    return p;
  }
  JudgeRecords(t, &p);
  JudgeAdjustments(t, &p);
  if (t.timedOut) p.push_back("the run hit its time limit (--timeout)");
  return p;
}

void PrintSummary(std::FILE* out, const RunTotals& t, const std::vector<std::string>& problems) {
  const std::string na = "n/a (real STPRC)";
  std::fprintf(out, "\nVeltrane demo summary\n");
  Row(out, "mode", t.mode);
  Row(out, "library port range", t.portRange);
  Row(out, "library bound", t.bound.empty() ? "(not logged)" : t.bound);
  Row(out, "QoS server", t.qosServer.empty() ? "(not learnt)" : t.qosServer);
  Row(out, "discovery time", t.discovered ? MillisecondsText(t.discoveryMs) : "(none)");
  Row(out, "records sent",
      CountText(t.recordsSent) + " of " + CountText(t.recordsPlanned) +
          (t.reportFailures > 0 ? ", " + CountText(t.reportFailures) + " refused" : ""));
  if (t.embedded) {
    Row(out, "records received by the peer", CountText(t.records.distinct) + " (checked byte for byte)");
    Row(out, "records dropped by the peer", CountText(t.droppedByPeer) + (t.faults ? " (injected)" : ""));
    Row(out, "records lost", CountText(LostRecords(t)));
    Row(out, "duplicates", CountText(t.records.duplicates));
    Row(out, "corrupt / unknown records",
        CountText(t.records.corrupt) + " / " + CountText(t.records.foreign + t.records.outOfRange));
    Row(out, "adjustments sent",
        CountText(t.adjustSent) + " of " + CountText(t.adjustPlanned) +
            (t.adjustGaveUp > 0 ? ", " + CountText(t.adjustGaveUp) + " unacknowledged" : ""));
    Row(out, "adjustments called back",
        CountText(t.callbacks.distinct) + " (" + CountText(t.callbacks.uplink) + " uplink, " +
            CountText(t.callbacks.downlink) + " downlink" +
            (t.callbacks.repeats > 0 ? ", " + CountText(t.callbacks.repeats) + " repeated" : "") +
            (t.callbacks.invalid > 0 ? ", " + CountText(t.callbacks.invalid) + " wrong" : "") + ")");
    Row(out, "adjustments answered",
        CountText(t.answered) + " (valid 6004 at the peer" +
            (t.answersDuplicate > 0 ? ", " + CountText(t.answersDuplicate) + " repeated" : "") + ")");
  } else {
    Row(out, "records sent on (flow lines)",
        t.log.flowLines > 0 ? CountText(t.log.flowOut) : "(no flow line yet)");
    Row(out, "records received", na);
    Row(out, "adjustment callbacks",
        CountText(t.callbacks.calls) + " (none triggered without the embedded peer)");
  }
  Row(out, "library log",
      CountText(t.log.warnings) + " warnings, " + CountText(t.log.errors) + " errors, " +
          CountText(t.log.lines) + " lines");
  Row(out, "elapsed", SecondsText(t.elapsedSec));
  if (problems.empty()) {
    Row(out, "result",
        t.embedded ? "OK: every record and adjustment accounted for"
                   : "OK: every record handed over (delivery not observable)");
  } else {
    Row(out, "result", "FAILED");
    for (const std::string& s : problems) std::fprintf(out, "    - %s\n", s.c_str());
  }
  std::fflush(out);
}

}  // namespace vdemo
