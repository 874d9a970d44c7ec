#include "peer.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace vpeer {

namespace {

// Upper bound on one poll, so Stop() and newly queued work are noticed even if
// a wake-up were lost.
constexpr int kMaxPollMs = 50;
// More than any UDP datagram, so an oversized one arrives whole and is
// refused for its size rather than cut.
constexpr size_t kRecvBufferSize = 65536;
// Datagrams read from one socket before the others get their turn.
constexpr int kReadBurst = 64;

uint32_t PeekMsgId(const uint8_t* data, size_t len) {
  Datagram d;
  if (ParseDatagram(data, len, &d) != Verdict::kOk || d.kind == DatagramKind::kAck) return 0;
  return d.msg.msgId;
}

AdjustTracker::Config TrackerConfig(const PeerConfig& cfg) {
  AdjustTracker::Config t;
  t.srcSid = cfg.adjustSrcSid;
  t.resendBaseMs = cfg.reliableResendBaseMs;
  t.maxSends = cfg.reliableMaxSends;
  t.repeatMs = cfg.adjustRepeatMs;
  return t;
}

const SocketRef kQosRef{true, 0};

}  // namespace

Peer::Peer(PeerConfig cfg)
    : m_cfg(std::move(cfg)),
      m_faultsIn(m_cfg.seed),
      m_faultsOut(m_cfg.seed ^ 0xA5A5A5A5DEADBEEFull),
      m_dups(m_cfg.dedupWindowMs),
      m_adjust(TrackerConfig(m_cfg)) {}

Peer::~Peer() { Stop(); }

int64_t Peer::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool Peer::Start(std::string* err) {
  if (m_running.load() || m_thread.joinable()) {
    *err = "peer already started";
    return false;
  }
  if (!CheckPeerAddresses(m_cfg, err)) return false;
  uint32_t bindIp = 0;
  ParseIp(m_cfg.bindIp, &bindIp);

  std::vector<UdpSocket> stprc;
  for (const StprcSocketConfig& sc : m_cfg.stprc) {
    UdpSocket s;
    if (!s.Open(Endpoint{bindIp, sc.port}, err)) return false;
    stprc.push_back(std::move(s));
  }
  UdpSocket qos;
  if (!qos.Open(Endpoint{bindIp, m_cfg.qosPort}, err)) return false;
  if (!m_wake.Open(err)) return false;

  m_stprc = std::move(stprc);
  m_qos = std::move(qos);
  m_stprcLocal.clear();
  for (const UdpSocket& s : m_stprc) m_stprcLocal.push_back(s.Local());
  m_qosLocal = m_qos.Local();
  m_announce = m_qosLocal;
  if (!m_cfg.qosAnnounce.empty()) ParseEndpoint(m_cfg.qosAnnounce, &m_announce);
  if (!m_cfg.adjustTarget.empty()) ParseEndpoint(m_cfg.adjustTarget, &m_adjustTarget);
  {
    std::lock_guard<std::mutex> lock(m_mu);
    m_stats.bindIp = m_cfg.bindIp;
    m_stats.stprcPorts.clear();
    for (const Endpoint& e : m_stprcLocal) m_stats.stprcPorts.push_back(e.port);
    m_stats.qosPort = m_qosLocal.port;
    m_stats.stprcRequests.assign(m_stprc.size(), 0);
    m_nextScheduleMs = NowMs() + m_cfg.adjustEveryMs;
  }
  m_stopping.store(false);
  m_running.store(true);
  m_thread = std::thread(&Peer::ServiceLoop, this);
  return true;
}

void Peer::Stop() {
  if (!m_thread.joinable()) return;
  m_stopping.store(true);
  m_wake.Wake();
  m_thread.join();
  m_running.store(false);
  std::lock_guard<std::mutex> lock(m_mu);
  m_delayed.clear();  // held-back datagrams die with the peer
  for (UdpSocket& s : m_stprc) s.Close();
  m_qos.Close();
  m_wake.Close();
}

Endpoint Peer::StprcEndpoint(size_t index) const {
  return index < m_stprcLocal.size() ? m_stprcLocal[index] : Endpoint{};
}

std::vector<uint16_t> Peer::StprcPorts() const {
  std::vector<uint16_t> ports;
  for (const Endpoint& e : m_stprcLocal) ports.push_back(e.port);
  return ports;
}

Endpoint Peer::QosEndpoint() const { return m_qosLocal; }

Endpoint Peer::AnnouncedQos() const { return m_announce; }

Endpoint Peer::ClientAddress() const {
  std::lock_guard<std::mutex> lock(m_mu);
  return m_client;
}

uint32_t Peer::ClientSid() const {
  std::lock_guard<std::mutex> lock(m_mu);
  return m_clientSid;
}

PeerStats Peer::Stats() const {
  std::lock_guard<std::mutex> lock(m_mu);
  return m_stats;
}

int Peer::SendAdjust(const AdjustNotify& n, const Endpoint* target, bool reliable) {
  {
    std::lock_guard<std::mutex> lock(m_mu);
    if (!m_running.load() || m_stopping.load()) return kSendNotRunning;
    const Endpoint to = target != nullptr ? *target : m_client;
    if (to.Empty()) return kSendNoTarget;
    if (!m_cfg.allowRemote && !IsLoopback(to.ip)) {
      ++m_stats.refusedRemote;
      Problem("6003 target " + to.ToString() + " is outside 127.0.0.0/8");
      return kSendRefusedRemote;
    }
    SendAdjustLocked(n, to, reliable);
    // The service thread owns the resend timer of this one. Woken under the
    // lock, so Stop() cannot close the pipe in between.
    m_wake.Wake();
  }
  return kSendOk;
}

// ---- service thread ----------------------------------------------------

void Peer::ServiceLoop() {
  std::vector<NativeSocket> fds;
  std::vector<SocketRef> refs;
  for (size_t i = 0; i < m_stprc.size(); ++i) {
    fds.push_back(m_stprc[i].Fd());
    refs.push_back(SocketRef{false, i});
  }
  fds.push_back(m_qos.Fd());
  refs.push_back(kQosRef);
  fds.push_back(m_wake.ReadFd());
  std::unique_ptr<bool[]> ready(new bool[fds.size()]);
  std::vector<uint8_t> buf(kRecvBufferSize);

  while (!m_stopping.load()) {
    RunDue(NowMs());
    const int timeout = PollTimeoutMs(NowMs());
    if (!PollReadable(fds.data(), ready.get(), fds.size(), timeout)) {
      std::lock_guard<std::mutex> lock(m_mu);
      Problem("poll failed");
      continue;
    }
    if (ready[fds.size() - 1]) m_wake.Drain();
    for (size_t i = 0; i < refs.size(); ++i) {
      if (ready[i]) ReceiveFrom(refs[i], &buf);
    }
  }
}

int Peer::PollTimeoutMs(int64_t nowMs) {
  std::lock_guard<std::mutex> lock(m_mu);
  int64_t next = m_adjust.NextDueMs();
  if (!m_delayed.empty()) next = std::min(next, m_delayed.begin()->first.first);
  if (m_cfg.adjustEveryMs > 0 && m_scheduled < m_cfg.adjustCount) {
    next = std::min(next, m_nextScheduleMs);
  }
  const int64_t wait = next - nowMs;
  if (wait <= 0) return 0;
  return static_cast<int>(std::min<int64_t>(wait, kMaxPollMs));
}

void Peer::ReceiveFrom(const SocketRef& ref, std::vector<uint8_t>* buf) {
  const UdpSocket& sock = SocketFor(ref);
  for (int i = 0; i < kReadBurst; ++i) {
    Endpoint from;
    const long n = sock.RecvFrom(buf->data(), buf->size(), &from);
    if (n < 0) return;
    Arrive(ref, from, buf->data(), std::min(static_cast<size_t>(n), buf->size()));
  }
}

void Peer::Arrive(const SocketRef& ref, const Endpoint& from, const uint8_t* data, size_t len) {
  int processNow = 0;
  {
    std::lock_guard<std::mutex> lock(m_mu);
    ++m_stats.datagramsIn;
    m_stats.bytesIn += len;
    const FaultDecision fd = m_faultsIn.Decide(m_cfg.faultIn);
    if (fd.drop) {
      ++m_stats.faultIn.dropped;
      ++m_stats.droppedInByMsg[PeekMsgId(data, len)];
      return;
    }
    if (fd.copies == 2) ++m_stats.faultIn.duplicated;
    for (int c = 0; c < fd.copies; ++c) {
      if (fd.delayMs[c] == 0) {
        ++processNow;
      } else {
        ++m_stats.faultIn.delayed;
        Queue(NowMs() + fd.delayMs[c], false, ref, from, data, len);
      }
    }
  }
  for (int c = 0; c < processNow; ++c) Process(ref, from, data, len);
}

void Peer::RunDue(int64_t nowMs) {
  std::vector<Delayed> inbound;
  {
    std::lock_guard<std::mutex> lock(m_mu);
    while (!m_delayed.empty() && m_delayed.begin()->first.first <= nowMs) {
      Delayed item = std::move(m_delayed.begin()->second);
      m_delayed.erase(m_delayed.begin());
      if (item.outbound) {
        Transmit(item.socket, item.peer, item.bytes.data(), item.bytes.size());
      } else {
        inbound.push_back(std::move(item));
      }
    }
    std::vector<AdjustTracker::Transmission> resends;
    m_stats.adjustGaveUp += m_adjust.CollectDue(nowMs, &resends);
    for (const AdjustTracker::Transmission& t : resends) {
      ++m_stats.adjustTransmissions;
      SendOut(kQosRef, t.to, t.bytes);
    }
    RunSchedule(nowMs);
  }
  // Held-back datagrams are handled like fresh arrivals, hooks included,
  // so outside the lock.
  for (const Delayed& item : inbound) {
    Process(item.socket, item.peer, item.bytes.data(), item.bytes.size());
  }
}

void Peer::RunSchedule(int64_t nowMs) {
  if (m_cfg.adjustEveryMs == 0 || m_scheduled >= m_cfg.adjustCount) return;
  if (nowMs < m_nextScheduleMs) return;
  m_nextScheduleMs = nowMs + m_cfg.adjustEveryMs;
  const Endpoint to = m_adjustTarget.Empty() ? m_client : m_adjustTarget;
  if (to.Empty()) {
    // No client has shown itself yet; try again next period.
    ++m_stats.adjustScheduleSkipped;
    return;
  }
  AdjustNotify n = m_cfg.adjustTemplate;
  n.PacketId = m_cfg.adjustTemplate.PacketId + m_scheduled;
  ++m_scheduled;
  SendAdjustLocked(n, to, m_cfg.adjustReliable);
}

// ---- receive side ------------------------------------------------------

void Peer::Process(const SocketRef& ref, const Endpoint& from, const uint8_t* data, size_t len) {
  if (m_cfg.onDatagram) m_cfg.onDatagram(RawDatagram{ref, from, data, len});
  Datagram d;
  const Verdict verdict = ParseDatagram(data, len, &d);
  bool isRecord = false;
  uint32_t newSerial = 0;
  bool isNewPacket = false;
  {
    std::lock_guard<std::mutex> lock(m_mu);
    if (verdict != Verdict::kOk) {
      ++m_stats.malformed;
      ++m_stats.malformedBy[static_cast<int>(verdict)];
      Problem(std::string("datagram of ") + std::to_string(len) + " bytes from " +
              from.ToString() + " refused: " + VerdictName(verdict));
      return;
    }
    if (d.kind == DatagramKind::kAck) {
      ++m_stats.acksReceived;
      if (!m_adjust.OnAck(d.sn)) ++m_stats.acksUnknown;
      return;
    }
    if (d.msg.msgTag != 1) ++m_stats.badTag;
    if (d.kind == DatagramKind::kReliable) {
      // Acknowledge first, whatever becomes of the datagram: a copy we have
      // already handled still needs its ACK, or the sender keeps resending.
      if (m_cfg.withholdAckPct > 0 && m_faultsOut.NextUnit() * 100.0 < m_cfg.withholdAckPct) {
        ++m_stats.acksWithheld;
      } else {
        std::vector<uint8_t> ack;
        EncodeAck(d.sn, &ack);
        ++m_stats.acksSent;
        SendOut(ref, from, ack);
      }
      if (!m_dups.Insert(from, d.sn, NowMs())) {
        ++m_stats.reliableDuplicates;
        return;
      }
      ++m_stats.reliableIn;
    }
    const bool onQos = ref.qos;
    bool served = true;
    switch (d.msg.msgId) {
      case kMsgStprcRequest:
        served = !onQos;
        if (served) HandleStprcRequest(ref.stprcIndex, from, d);
        break;
      case kMsgQosRecord:
        served = onQos;
        if (served) LearnClient(from, d.msg.srcSid);
        isRecord = served;
        break;
      case kMsgQosPacket:
        served = onQos;
        if (served) {
          LearnClient(from, d.msg.srcSid);
          isNewPacket = HandleQosPacket(ref, from, d, &newSerial);
        }
        break;
      case kMsgAdjustAck:
        served = onQos;
        if (served) HandleAdjustAnswer(d);
        break;
      default:
        served = false;
        break;
    }
    if (!served) {
      ++m_stats.unexpected;
      Problem("message " + std::to_string(d.msg.msgId) + " from " + from.ToString() +
              " on a socket that does not serve it");
      return;
    }
  }
  if (isNewPacket && m_cfg.on1119) m_cfg.on1119(newSerial, d.body, d.bodyLen);
  if (!isRecord) return;

  // Hooks run before the record is counted, so a test that waits for the
  // count also sees everything its hooks collected.
  if (m_cfg.on1116) m_cfg.on1116(QosRecord{from, d.msg.srcSid, d.body, d.bodyLen});
  const bool checked = static_cast<bool>(m_cfg.expect1116);
  const bool matched = checked && m_cfg.expect1116(d.body, d.bodyLen);
  std::lock_guard<std::mutex> lock(m_mu);
  ++m_stats.records1116;
  m_stats.bytes1116 += d.bodyLen;
  if (checked) ++(matched ? m_stats.records1116Checked : m_stats.records1116Mismatched);
  if (checked && !matched) Problem("1116 record does not match the expected pattern");
}

void Peer::HandleStprcRequest(size_t index, const Endpoint& from, const Datagram& d) {
  ++m_stats.stprcRequests[index];
  LearnClient(from, d.msg.srcSid);
  if (d.bodyLen != 0) Problem("6801 carries " + std::to_string(d.bodyLen) + " body bytes");
  const StprcSocketConfig& sc = m_cfg.stprc[index];
  if (sc.silent) return;
  StpAddrResp resp;
  // The address goes out even with a non-zero result: a client that wrongly
  // took it would then show up in the test.
  resp.ip = IpToString(m_announce.ip);
  resp.port = m_announce.port;
  resp.result = sc.result;
  uint8_t body[kStpAddrRespSize];
  EncodeStpAddrResp(resp, body);
  MsgHeader msg;
  msg.msgId = kMsgStprcAnswer;
  msg.destSid = d.msg.srcSid;
  std::vector<uint8_t> bytes;
  EncodeData(msg, body, sizeof body, false, 0, &bytes);
  ++m_stats.stprcAnswers;
  SendOut(SocketRef{false, index}, from, bytes);
}

bool Peer::HandleQosPacket(const SocketRef& ref, const Endpoint& from, const Datagram& d,
                           uint32_t* newSerial) {
  QosPacketInfo info;
  const PacketCheck check = CheckQosPacket(d.body, d.bodyLen, &info);
  if (check != PacketCheck::kOk) {
    ++m_stats.packets1119Malformed;
    Problem(std::string("1119 packet refused: ") + PacketCheckName(check));
    return false;
  }
  const bool isNew = m_serials.insert(info.serialnum).second;
  if (isNew) {
    ++m_stats.packets1119;
    m_stats.blocks1119 += info.blocks;
    *newSerial = info.serialnum;
  } else {
    ++m_stats.packets1119Duplicates;
  }
  if (!m_cfg.answer1119) return isNew;
  // Every copy is answered: a resent packet means our earlier 1120 was lost.
  std::vector<uint8_t> body;
  EncodeSerials(&info.serialnum, 1, &body);
  MsgHeader msg;
  msg.msgId = kMsgQosPacketAck;
  msg.destSid = d.msg.srcSid;
  std::vector<uint8_t> bytes;
  EncodeData(msg, body.data(), body.size(), false, 0, &bytes);
  ++m_stats.acks1120Sent;
  SendOut(ref, from, bytes);
  return isNew;
}

void Peer::HandleAdjustAnswer(const Datagram& d) {
  ++m_stats.adjustAcksReceived;
  const AdjustTracker::Answer a = m_adjust.OnAnswer(d);
  switch (a) {
    case AdjustTracker::Answer::kValid: ++m_stats.adjustAcksValid; break;
    case AdjustTracker::Answer::kDuplicate: ++m_stats.adjustAcksDuplicates; break;
    default:
      ++m_stats.adjustAcksInvalid;
      Problem(AdjustTracker::AnswerName(a));
      break;
  }
  m_stats.adjustAnswered = m_adjust.AnsweredNotifications();
}

void Peer::LearnClient(const Endpoint& from, uint32_t srcSid) {
  m_client = from;
  m_clientSid = srcSid;
}

void Peer::Problem(const std::string& text) { m_stats.lastProblem = text; }

// ---- send side ---------------------------------------------------------

void Peer::SendAdjustLocked(const AdjustNotify& n, const Endpoint& to, bool reliable) {
  const uint32_t destSid = m_cfg.clientSid != 0 ? m_cfg.clientSid : m_clientSid;
  const AdjustTracker::Transmission t = m_adjust.Add(n, to, destSid, reliable, NowMs());
  ++m_stats.adjustSent;
  ++m_stats.adjustTransmissions;
  SendOut(kQosRef, t.to, t.bytes);
}

void Peer::SendOut(const SocketRef& ref, const Endpoint& to, const std::vector<uint8_t>& bytes) {
  if (!m_cfg.allowRemote && !IsLoopback(to.ip)) {
    ++m_stats.refusedRemote;
    Problem("send to " + to.ToString() + " refused: outside 127.0.0.0/8");
    return;
  }
  const FaultDecision fd = m_faultsOut.Decide(m_cfg.faultOut);
  if (fd.drop) {
    ++m_stats.faultOut.dropped;
    return;
  }
  if (fd.copies == 2) ++m_stats.faultOut.duplicated;
  for (int c = 0; c < fd.copies; ++c) {
    if (fd.delayMs[c] == 0) {
      Transmit(ref, to, bytes.data(), bytes.size());
    } else {
      ++m_stats.faultOut.delayed;
      Queue(NowMs() + fd.delayMs[c], true, ref, to, bytes.data(), bytes.size());
    }
  }
}

void Peer::Transmit(const SocketRef& ref, const Endpoint& to, const uint8_t* data, size_t len) {
  if (SocketFor(ref).SendTo(to, data, len)) {
    ++m_stats.datagramsOut;
    m_stats.bytesOut += len;
  } else {
    ++m_stats.sendFailures;
  }
}

void Peer::Queue(int64_t dueMs, bool outbound, const SocketRef& ref, const Endpoint& peer,
                 const uint8_t* data, size_t len) {
  Delayed item;
  item.outbound = outbound;
  item.socket = ref;
  item.peer = peer;
  item.bytes.assign(data, data + len);
  m_delayed.emplace(DelayKey(dueMs, m_delayOrder++), std::move(item));
  // Called from SendAdjust on other threads too; the poller must re-plan.
  m_wake.Wake();
}

const UdpSocket& Peer::SocketFor(const SocketRef& ref) const {
  return ref.qos ? m_qos : m_stprc[ref.stprcIndex];
}

}  // namespace vpeer
