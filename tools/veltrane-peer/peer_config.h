// Everything a Peer is told before it starts. Plain data; copied into the
// Peer at construction, never changed afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bodies.h"
#include "endpoint.h"
#include "fault.h"

namespace vpeer {

// One STPRC socket. Several of them let a test play a group of STPRC servers
// in which some stay silent or have no address to give.
struct StprcSocketConfig {
  uint16_t port = 0;    // 0: ephemeral
  bool silent = false;  // count requests, answer nothing
  uint32_t result = 0;  // non-zero: answer with this result instead of an address
};

// Which socket a datagram came in on.
struct SocketRef {
  bool qos = false;        // the QoS server / log receiver socket
  size_t stprcIndex = 0;   // meaningful when !qos
};

// Every datagram the peer processes (after inbound faults), before it is
// checked: the bytes exactly as they arrived.
struct RawDatagram {
  SocketRef socket;
  Endpoint from;
  const uint8_t* data = nullptr;
  size_t len = 0;
};

// One 1116 body.
struct QosRecord {
  Endpoint from;
  uint32_t srcSid = 0;
  const uint8_t* body = nullptr;
  size_t len = 0;
};

struct PeerConfig {
  std::string bindIp = "127.0.0.1";
  std::vector<StprcSocketConfig> stprc = {StprcSocketConfig{}};
  uint16_t qosPort = 0;  // 0: ephemeral
  // The QoS server a 6802 names, "ip:port"; empty: the peer's own QoS socket.
  std::string qosAnnounce;
  // Bind and target addresses outside 127.0.0.0/8 are refused unless set.
  bool allowRemote = false;

  // Fault injection: `faultIn` on what the peer receives, `faultOut` on what
  // it sends (ACKs included).
  FaultPlan faultIn;
  FaultPlan faultOut;
  double withholdAckPct = 0;  // reliable datagrams accepted but not ACKed
  uint64_t seed = 1;

  bool answer1119 = true;         // false: a QoS server that never sends 1120
  uint32_t dedupWindowMs = 5000;  // how long (source, sn) of a reliable datagram is remembered

  // Log receiver. The 6003 Msg carries `adjustSrcSid`; a correct 6004 is
  // addressed back to it.
  uint32_t adjustSrcSid = 7;
  // destSid of 6003; 0: the srcSid of the client's last 6801/1116/1119.
  uint32_t clientSid = 0;
  uint32_t reliableResendBaseMs = 200;  // waits 200, 400, 600... between resends
  uint32_t reliableMaxSends = 6;
  // Unreliable 6003: repeat every so many ms until a 6004 answers it (up to
  // reliableMaxSends transmissions); 0: send once.
  uint32_t adjustRepeatMs = 0;

  // Scheduled notifications: `adjustCount` of them, one every `adjustEveryMs`,
  // the first one period after Start. PacketId counts up from the template's.
  uint32_t adjustEveryMs = 0;
  uint32_t adjustCount = 0;
  std::string adjustTarget;  // "ip:port"; empty: the learned client address
  bool adjustReliable = true;
  AdjustNotify adjustTemplate = DefaultAdjustTemplate();

  // Hooks, all called on the peer's service thread without its lock held (so
  // they may call the Peer's accessors, but not Stop()). The byte pointers
  // they receive belong to the peer and are valid only during the call: copy
  // what must be kept.
  std::function<void(const RawDatagram&)> onDatagram;
  std::function<void(const QosRecord&)> on1116;
  // When set, each 1116 body is checked with it; counted as checked or mismatched.
  std::function<bool(const uint8_t* body, size_t len)> expect1116;
  // Each new (not duplicate) well-formed 1119 packet.
  std::function<void(uint32_t serialnum, const uint8_t* body, size_t len)> on1119;

  static AdjustNotify DefaultAdjustTemplate() {
    AdjustNotify n;
    // Dialog 0 with PacketId 0 is what a fresh client takes for a repeat.
    n.Dialog = 1;
    n.PacketId = 1;
    n.meetId = 1001;
    n.UserId = 2002;
    n.speakId = 3003;
    n.fecFirst = 2;
    n.fecSecond = 1;
    n.retrans = 1;
    n.capture = 1;
    return n;
  }
};

// Checks every address of the configuration: each must parse, and each must
// lie in 127.0.0.0/8 unless `allowRemote`. On failure *err names the address.
bool CheckPeerAddresses(const PeerConfig& cfg, std::string* err);

}  // namespace vpeer
