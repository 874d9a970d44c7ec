// A simulated far side for the client library: STPRC servers (6801 -> 6802),
// a QoS server (counts 1116 records, checks and de-duplicates 1119 packets and
// answers each with 1120) and a log receiver (sends 6003, checks the reliable
// 6004 answers). It speaks the wire through its own codec and can drop,
// duplicate and delay datagrams in either direction.
//
// Threads: one service thread, started by Start(), owns the sockets' receive
// side, the delayed datagrams, resends and the notification schedule. Every
// public method other than Start()/Stop() is safe from any thread. One lock
// guards the peer's state; the hooks of PeerConfig run on the service thread
// without it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "adjust_tracker.h"
#include "dup_filter.h"
#include "fault.h"
#include "peer_config.h"
#include "peer_stats.h"
#include "udp_socket.h"

namespace vpeer {

class Peer {
 public:
  // Results of SendAdjust.
  static constexpr int kSendOk = 0;
  static constexpr int kSendNotRunning = 1;
  static constexpr int kSendNoTarget = 2;      // no target given and no client seen yet
  static constexpr int kSendRefusedRemote = 3; // target outside 127.0.0.0/8

  explicit Peer(PeerConfig cfg);
  ~Peer();  // stops the service thread
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // Checks the addresses, binds every socket and starts the service thread.
  // On failure nothing stays open and *err says why. Owning thread, once.
  bool Start(std::string* err);
  // Ends the service thread and closes the sockets; idempotent. Owning thread;
  // never from a hook.
  void Stop();
  bool Running() const { return m_running.load(); }

  // The addresses actually bound (ports are real after port 0). Valid from a
  // successful Start() on; any thread.
  Endpoint StprcEndpoint(size_t index) const;
  std::vector<uint16_t> StprcPorts() const;
  Endpoint QosEndpoint() const;
  uint16_t QosPort() const { return QosEndpoint().port; }
  // What a 6802 names.
  Endpoint AnnouncedQos() const;

  // Sends one 6003 from the QoS socket to `target` (null: the client address
  // learnt from the last 6801/1116/1119). Returns kSendOk or a reason above.
  // Any thread.
  int SendAdjust(const AdjustNotify& n, const Endpoint* target, bool reliable);

  // The client as last seen (address and session id); empty before any.
  Endpoint ClientAddress() const;
  uint32_t ClientSid() const;

  PeerStats Stats() const;
  std::string SummaryJson() const { return Stats().ToJson(); }

 private:
  struct Delayed {
    bool outbound = false;
    SocketRef socket;
    Endpoint peer;  // destination (outbound) or source (inbound)
    std::vector<uint8_t> bytes;
  };
  // (due time, arrival order): equal due times stay first-in first-out.
  using DelayKey = std::pair<int64_t, uint64_t>;

  void ServiceLoop();
  void ReceiveFrom(const SocketRef& ref, std::vector<uint8_t>* buf);
  // Applies inbound faults, then processes now or queues.
  void Arrive(const SocketRef& ref, const Endpoint& from, const uint8_t* data, size_t len);
  // Runs hooks, checks and handlers for one datagram. Service thread, no lock.
  void Process(const SocketRef& ref, const Endpoint& from, const uint8_t* data, size_t len);
  void RunDue(int64_t nowMs);
  int PollTimeoutMs(int64_t nowMs);

  // Handlers; called with m_mu held.
  void HandleStprcRequest(size_t index, const Endpoint& from, const Datagram& d);
  // True (with *newSerial) for a well-formed packet not seen before.
  bool HandleQosPacket(const SocketRef& ref, const Endpoint& from, const Datagram& d,
                       uint32_t* newSerial);
  void HandleAdjustAnswer(const Datagram& d);
  void LearnClient(const Endpoint& from, uint32_t srcSid);
  void Problem(const std::string& text);
  void SendAdjustLocked(const AdjustNotify& n, const Endpoint& to, bool reliable);
  void RunSchedule(int64_t nowMs);

  // Outbound path: loopback guard, faults, then the socket or the delay queue.
  // m_mu held.
  void SendOut(const SocketRef& ref, const Endpoint& to, const std::vector<uint8_t>& bytes);
  void Transmit(const SocketRef& ref, const Endpoint& to, const uint8_t* data, size_t len);
  void Queue(int64_t dueMs, bool outbound, const SocketRef& ref, const Endpoint& peer,
             const uint8_t* data, size_t len);
  const UdpSocket& SocketFor(const SocketRef& ref) const;

  static int64_t NowMs();

  const PeerConfig m_cfg;  // immutable after construction

  // Set up by Start() before the thread runs, read-only afterwards.
  std::vector<UdpSocket> m_stprc;
  UdpSocket m_qos;
  std::vector<Endpoint> m_stprcLocal;  // kept after Stop() closes the sockets
  Endpoint m_qosLocal;
  Endpoint m_announce;
  Endpoint m_adjustTarget;  // empty: the learnt client
  WakePipe m_wake;
  std::thread m_thread;
  std::atomic<bool> m_running{false};
  std::atomic<bool> m_stopping{false};

  mutable std::mutex m_mu;
  // Everything below is guarded by m_mu.
  PeerStats m_stats;
  FaultInjector m_faultsIn;   // one generator per direction, so traffic one
  FaultInjector m_faultsOut;  // way does not shift the other's sequence
  DupFilter m_dups;
  AdjustTracker m_adjust;
  std::unordered_set<uint32_t> m_serials;  // 1119 serial numbers seen
  std::map<DelayKey, Delayed> m_delayed;
  uint64_t m_delayOrder = 0;
  Endpoint m_client;
  uint32_t m_clientSid = 0;
  int64_t m_nextScheduleMs = 0;
  uint32_t m_scheduled = 0;  // scheduled notifications sent so far
};

}  // namespace vpeer
