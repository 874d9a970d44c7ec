#include "peer_stats.h"

#include <nlohmann/json.hpp>

namespace vpeer {

namespace {

using Json = nlohmann::ordered_json;

Json FaultJson(const FaultCounts& f) {
  return Json{{"dropped", f.dropped}, {"duplicated", f.duplicated}, {"delayed", f.delayed}};
}

}  // namespace

std::string PeerStats::ToJson() const {
  Json malformedJson{{"total", malformed}};
  for (int i = 1; i < kVerdictCount; ++i) {
    malformedJson[VerdictName(static_cast<Verdict>(i))] = malformedBy[i];
  }
  Json droppedJson = Json::object();
  for (const auto& kv : droppedInByMsg) droppedJson[std::to_string(kv.first)] = kv.second;

  const Json j{
      {"bind", bindIp},
      {"stprc_ports", stprcPorts},
      {"qos_port", qosPort},
      {"datagrams_in", datagramsIn},
      {"bytes_in", bytesIn},
      {"datagrams_out", datagramsOut},
      {"bytes_out", bytesOut},
      {"send_failures", sendFailures},
      {"refused_remote", refusedRemote},
      {"malformed", malformedJson},
      {"bad_tag", badTag},
      {"unexpected", unexpected},
      {"stprc_requests", stprcRequests},
      {"stprc_answers", stprcAnswers},
      {"records_1116", records1116},
      {"bytes_1116", bytes1116},
      {"records_1116_checked", records1116Checked},
      {"records_1116_mismatched", records1116Mismatched},
      {"packets_1119", packets1119},
      {"packets_1119_duplicates", packets1119Duplicates},
      {"packets_1119_malformed", packets1119Malformed},
      {"blocks_1119", blocks1119},
      {"acks_1120_sent", acks1120Sent},
      {"adjust_sent", adjustSent},
      {"adjust_transmissions", adjustTransmissions},
      {"adjust_gave_up", adjustGaveUp},
      {"adjust_schedule_skipped", adjustScheduleSkipped},
      {"adjust_acks_received", adjustAcksReceived},
      {"adjust_acks_valid", adjustAcksValid},
      {"adjust_acks_duplicates", adjustAcksDuplicates},
      {"adjust_acks_invalid", adjustAcksInvalid},
      {"adjust_answered", adjustAnswered},
      {"reliable_in", reliableIn},
      {"reliable_duplicates", reliableDuplicates},
      {"acks_sent", acksSent},
      {"acks_withheld", acksWithheld},
      {"acks_received", acksReceived},
      {"acks_unknown", acksUnknown},
      {"fault", {{"in", FaultJson(faultIn)}, {"out", FaultJson(faultOut)}}},
      {"dropped_in_by_msg", droppedJson},
      {"last_problem", lastProblem},
  };
  // Bytes that are not UTF-8 become U+FFFD instead of an exception.
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace vpeer
