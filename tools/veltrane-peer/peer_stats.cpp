#include "peer_stats.h"

#include <cstdio>

namespace vpeer {

namespace {

// Writes a JSON object one member at a time, placing the commas.
class JsonObject {
 public:
  explicit JsonObject(std::string* out) : m_out(out) { m_out->push_back('{'); }
  void Close() { m_out->push_back('}'); }

  void Num(const char* key, uint64_t v) { Key(key); m_out->append(std::to_string(v)); }
  void Str(const char* key, const std::string& v) { Key(key); AppendString(v); }
  void NumArray(const char* key, const std::vector<uint64_t>& v) {
    Key(key);
    m_out->push_back('[');
    for (size_t i = 0; i < v.size(); ++i) {
      if (i > 0) m_out->push_back(',');
      m_out->append(std::to_string(v[i]));
    }
    m_out->push_back(']');
  }
  // Starts a nested object as the value of `key`; close it before the next member.
  JsonObject Nested(const char* key) {
    Key(key);
    return JsonObject(m_out);
  }

 private:
  void Key(const char* key) {
    if (!m_first) m_out->push_back(',');
    m_first = false;
    AppendString(key);
    m_out->push_back(':');
  }
  void AppendString(const std::string& s) {
    m_out->push_back('"');
    for (unsigned char c : s) {
      if (c == '"' || c == '\\') {
        m_out->push_back('\\');
        m_out->push_back(static_cast<char>(c));
      } else if (c < 0x20) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        m_out->append(buf);
      } else {
        m_out->push_back(static_cast<char>(c));
      }
    }
    m_out->push_back('"');
  }

  std::string* m_out;
  bool m_first = true;
};

void WriteFault(JsonObject* parent, const char* key, const FaultCounts& f) {
  JsonObject o = parent->Nested(key);
  o.Num("dropped", f.dropped);
  o.Num("duplicated", f.duplicated);
  o.Num("delayed", f.delayed);
  o.Close();
}

}  // namespace

std::string PeerStats::ToJson() const {
  std::string out;
  JsonObject j(&out);
  j.Str("bind", bindIp);
  j.NumArray("stprc_ports", std::vector<uint64_t>(stprcPorts.begin(), stprcPorts.end()));
  j.Num("qos_port", qosPort);

  j.Num("datagrams_in", datagramsIn);
  j.Num("bytes_in", bytesIn);
  j.Num("datagrams_out", datagramsOut);
  j.Num("bytes_out", bytesOut);
  j.Num("send_failures", sendFailures);
  j.Num("refused_remote", refusedRemote);
  {
    JsonObject m = j.Nested("malformed");
    m.Num("total", malformed);
    for (int i = 1; i < kVerdictCount; ++i) {
      m.Num(VerdictName(static_cast<Verdict>(i)), malformedBy[i]);
    }
    m.Close();
  }
  j.Num("bad_tag", badTag);
  j.Num("unexpected", unexpected);

  j.NumArray("stprc_requests", stprcRequests);
  j.Num("stprc_answers", stprcAnswers);

  j.Num("records_1116", records1116);
  j.Num("bytes_1116", bytes1116);
  j.Num("records_1116_checked", records1116Checked);
  j.Num("records_1116_mismatched", records1116Mismatched);
  j.Num("packets_1119", packets1119);
  j.Num("packets_1119_duplicates", packets1119Duplicates);
  j.Num("packets_1119_malformed", packets1119Malformed);
  j.Num("blocks_1119", blocks1119);
  j.Num("acks_1120_sent", acks1120Sent);

  j.Num("adjust_sent", adjustSent);
  j.Num("adjust_transmissions", adjustTransmissions);
  j.Num("adjust_gave_up", adjustGaveUp);
  j.Num("adjust_schedule_skipped", adjustScheduleSkipped);
  j.Num("adjust_acks_received", adjustAcksReceived);
  j.Num("adjust_acks_valid", adjustAcksValid);
  j.Num("adjust_acks_duplicates", adjustAcksDuplicates);
  j.Num("adjust_acks_invalid", adjustAcksInvalid);
  j.Num("adjust_answered", adjustAnswered);

  j.Num("reliable_in", reliableIn);
  j.Num("reliable_duplicates", reliableDuplicates);
  j.Num("acks_sent", acksSent);
  j.Num("acks_withheld", acksWithheld);
  j.Num("acks_received", acksReceived);
  j.Num("acks_unknown", acksUnknown);

  {
    JsonObject f = j.Nested("fault");
    WriteFault(&f, "in", faultIn);
    WriteFault(&f, "out", faultOut);
    f.Close();
  }
  {
    JsonObject d = j.Nested("dropped_in_by_msg");
    for (const auto& kv : droppedInByMsg) d.Num(std::to_string(kv.first).c_str(), kv.second);
    d.Close();
  }
  j.Str("last_problem", lastProblem);
  j.Close();
  return out;
}

}  // namespace vpeer
