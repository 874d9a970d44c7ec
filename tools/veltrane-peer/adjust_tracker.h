// The log receiver's memory of the 6003 notifications it sent: builds their
// datagrams, decides when a reliable one is resent or given up, matches
// transport ACKs, and checks every 6004 answer against the notification it
// names. No sockets here: the peer sends what this class hands back.
// Not thread-safe: the peer calls it under its lock.
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "bodies.h"
#include "codec.h"
#include "endpoint.h"

namespace vpeer {

class AdjustTracker {
 public:
  struct Config {
    uint32_t srcSid = 7;          // srcSid of our 6003; a 6004 must come back to it
    uint32_t resendBaseMs = 200;  // wait after transmission k is k * this
    uint32_t maxSends = 6;        // transmissions before a reliable one is given up
    uint32_t repeatMs = 0;        // unreliable: repeat until answered; 0 = once
  };

  enum class Answer {
    kValid,        // matches a notification that was still owed an answer
    kDuplicate,    // matches, but every sending of it was already answered
    kNotReliable,  // came as an unreliable datagram
    kWrongSid,     // destSid is not our srcSid
    kBadSize,      // body is not exactly 40 bytes
    kUnknown,      // names a (Dialog, PacketId) never sent
    kMismatch,     // fields differ from what the notification asks for
  };
  static const char* AnswerName(Answer a);

  // A datagram to put on the wire now.
  struct Transmission {
    Endpoint to;
    std::vector<uint8_t> bytes;
  };

  explicit AdjustTracker(const Config& cfg) : m_cfg(cfg) {}

  // Registers one notification for `to`, addressed to session `destSid`, and
  // returns its first transmission.
  Transmission Add(const AdjustNotify& n, const Endpoint& to, uint32_t destSid, bool reliable,
                   int64_t nowMs);

  // A transport ACK. True when it acknowledged a reliable 6003 in flight.
  bool OnAck(uint32_t sn);

  // A 6004 message (already de-duplicated at the transport).
  Answer OnAnswer(const Datagram& d);

  // Appends every transmission due at `nowMs`; returns how many reliable
  // notifications were given up in this call.
  uint32_t CollectDue(int64_t nowMs, std::vector<Transmission>* out);

  // Earliest time CollectDue has work, or INT64_MAX.
  int64_t NextDueMs() const;

  size_t InFlight() const { return m_flights.size(); }
  uint32_t AnsweredNotifications() const { return m_answeredKeys; }

 private:
  using Key = std::pair<uint32_t, uint32_t>;  // (Dialog, PacketId)

  struct Note {
    AdjustNotify notify;
    uint32_t sendings = 0;  // times Add() was called for this key
    uint32_t answers = 0;   // matching answers received
  };
  struct Flight {
    Key key;
    Endpoint to;
    std::vector<uint8_t> bytes;
    bool reliable = false;
    uint32_t sends = 0;
    int64_t dueMs = 0;
    uint32_t answersAtStart = 0;  // unreliable repeat stops once this grows
  };

  uint32_t NextSn();

  Config m_cfg;
  uint32_t m_sn = 0;
  uint64_t m_nextUnreliableId = 1ull << 32;  // flight ids above every sn
  std::map<Key, Note> m_notes;
  std::map<uint64_t, Flight> m_flights;  // reliable: keyed by sn
  uint32_t m_answeredKeys = 0;
};

}  // namespace vpeer
