#include "adjust_tracker.h"

#include <cstdint>
#include <limits>

namespace vpeer {

const char* AdjustTracker::AnswerName(Answer a) {
  switch (a) {
    case Answer::kValid: return "valid";
    case Answer::kDuplicate: return "duplicate";
    case Answer::kNotReliable: return "6004 not sent reliably";
    case Answer::kWrongSid: return "6004 destSid is not the 6003 srcSid";
    case Answer::kBadSize: return "6004 body is not 40 bytes";
    case Answer::kUnknown: return "6004 names a notification never sent";
    case Answer::kMismatch: return "6004 fields differ from the notification";
  }
  return "unknown";
}

uint32_t AdjustTracker::NextSn() {
  // The receiving side refuses sn 0 in an ACK, so the counter steps over it.
  if (++m_sn == 0) ++m_sn;
  return m_sn;
}

AdjustTracker::Transmission AdjustTracker::Add(const AdjustNotify& n, const Endpoint& to,
                                               uint32_t destSid, bool reliable, int64_t nowMs) {
  const Key key(n.Dialog, n.PacketId);
  Note& note = m_notes[key];
  note.notify = n;
  ++note.sendings;

  uint8_t body[kAdjustNotifySize];
  EncodeAdjustNotify(n, body);
  MsgHeader msg;
  msg.msgId = kMsgAdjustNotify;
  msg.srcSid = m_cfg.srcSid;
  msg.destSid = destSid;

  Flight f;
  f.key = key;
  f.to = to;
  f.reliable = reliable;
  f.sends = 1;
  f.answersAtStart = note.answers;
  const uint32_t sn = reliable ? NextSn() : 0;
  EncodeData(msg, body, sizeof body, reliable, sn, &f.bytes);  // 88 bytes always fit

  Transmission t{to, f.bytes};
  if (reliable) {
    f.dueMs = nowMs + m_cfg.resendBaseMs;
    m_flights[sn] = std::move(f);
  } else if (m_cfg.repeatMs > 0) {
    f.dueMs = nowMs + m_cfg.repeatMs;
    m_flights[m_nextUnreliableId++] = std::move(f);
  }
  return t;
}

bool AdjustTracker::OnAck(uint32_t sn) {
  auto it = m_flights.find(sn);
  if (it == m_flights.end() || !it->second.reliable) return false;
  m_flights.erase(it);
  return true;
}

AdjustTracker::Answer AdjustTracker::OnAnswer(const Datagram& d) {
  if (d.kind != DatagramKind::kReliable) return Answer::kNotReliable;
  if (d.msg.destSid != m_cfg.srcSid) return Answer::kWrongSid;
  if (d.bodyLen != kAdjustAckSize) return Answer::kBadSize;
  AdjustAck got;
  DecodeAdjustAck(d.body, d.bodyLen, &got);
  auto it = m_notes.find(Key(got.Dialog, got.PacketId));
  if (it == m_notes.end()) return Answer::kUnknown;
  Note& note = it->second;
  if (!(got == ExpectedAdjustAck(note.notify))) return Answer::kMismatch;
  if (note.answers == 0) ++m_answeredKeys;
  ++note.answers;
  // A client answers every copy it receives; more answers than sendings means
  // a copy of ours was handled twice on its side.
  return note.answers <= note.sendings ? Answer::kValid : Answer::kDuplicate;
}

uint32_t AdjustTracker::CollectDue(int64_t nowMs, std::vector<Transmission>* out) {
  uint32_t gaveUp = 0;
  for (auto it = m_flights.begin(); it != m_flights.end();) {
    Flight& f = it->second;
    if (f.dueMs > nowMs) {
      ++it;
      continue;
    }
    const bool answered = !f.reliable && m_notes[f.key].answers > f.answersAtStart;
    if (answered || f.sends >= m_cfg.maxSends) {
      if (f.reliable) ++gaveUp;
      it = m_flights.erase(it);
      continue;
    }
    ++f.sends;
    f.dueMs = nowMs + (f.reliable ? static_cast<int64_t>(f.sends) * m_cfg.resendBaseMs
                                  : static_cast<int64_t>(m_cfg.repeatMs));
    out->push_back(Transmission{f.to, f.bytes});
    ++it;
  }
  return gaveUp;
}

int64_t AdjustTracker::NextDueMs() const {
  int64_t next = std::numeric_limits<int64_t>::max();
  for (const auto& kv : m_flights) {
    if (kv.second.dueMs < next) next = kv.second.dueMs;
  }
  return next;
}

}  // namespace vpeer
