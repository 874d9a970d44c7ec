// veltrane-soak: the library under sustained load on loopback. Host threads
// report records and post secured blocks above the rate the library can
// send, SetStpRc and keys churn, the embedded peer drops, duplicates and
// delays datagrams both ways, and the QoS server vanishes and returns. At
// the end it prints what was offered, refused and delivered, resident
// memory, threads and fds, and exits 0 only when the bounds held.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "codec.h"
#include "peer.h"
#include "udp_socket.h"
#include "soak_watch.h"
#include "tool_cli.h"
#include "veltrane.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int seconds = 30;
  uint32_t threads = 8;
  uint32_t rate = 8000;        // records per second per thread; 0: as fast as possible
  uint32_t secureEvery = 40;   // one secured block per so many records
  uint32_t blocksPerKey = 500;
  double dropPct = 30, dupPct = 5;
  uint32_t delayMs = 20;
  int vanishEvery = 20, vanishFor = 5;  // seconds
  int drainSeconds = 60;
  int floodSeconds = 0;  // 6003 notifications as fast as the peer sends, after the load
  uint64_t rssCeilingMiB = 64;  // 16 MiB + 3 x the 16 MiB secure cache
  double listLagSec = 1.0;
};

bool IsSeconds(const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && v >= 0.0;
}

vpeer::CliOutcome ParseOptions(int argc, char** argv, Options* o) {
  CLI::App app("The library under sustained load against the embedded peer on 127.0.0.1.", "veltrane-soak");
  vpeer::ConfigureApp(&app);
  app.footer("Exit status: 0 when every bound held; 1 when one did not; 2 bad options or a set-up failure.");
  vpeer::AddUnsigned(&app, "--seconds", "SEC", &o->seconds, 86400, "length of the load");
  vpeer::AddUnsigned(&app, "--threads", "N", &o->threads, 64, "host threads reporting")
      ->check(CLI::Range(1u, 64u).description(""));
  vpeer::AddUnsigned(&app, "--rate", "R", &o->rate, 10000000,
                     "records per second per thread (0: as fast as possible)");
  vpeer::AddUnsigned(&app, "--secure-every", "N", &o->secureEvery, 1000000, "one secured block per N records")
      ->check(CLI::Range(1u, 1000000u).description(""));
  vpeer::AddPercent(&app, "--drop", &o->dropPct, "the peer drops PCT% of datagrams both ways");
  vpeer::AddPercent(&app, "--dup", &o->dupPct, "... duplicates PCT% of them");
  vpeer::AddUnsigned(&app, "--delay", "MS", &o->delayMs, 10000, "... delays them up to MS");
  vpeer::AddUnsigned(&app, "--vanish-every", "SEC", &o->vanishEvery, 86400,
                     "the QoS server vanishes every SEC seconds (0: never) ...");
  vpeer::AddUnsigned(&app, "--vanish-for", "SEC", &o->vanishFor, 86400, "... for SEC seconds");
  vpeer::AddUnsigned(&app, "--drain", "SEC", &o->drainSeconds, 86400,
                     "longest wait for the secured blocks after the load");
  vpeer::AddUnsigned(&app, "--flood", "SEC", &o->floodSeconds, 86400,
                     "6003 notifications as fast as the peer sends, after the load");
  vpeer::AddUnsigned(&app, "--rss-ceiling-mb", "MIB", &o->rssCeilingMiB, 1u << 20, "resident memory bound");
  app.add_option("--list-lag", o->listLagSec, "longest a SetStpRc list may wait to apply")
      ->check(vpeer::Accepting(IsSeconds, "a number of seconds"))
      ->type_name("SEC")
      ->capture_default_str();
  return vpeer::ParseCommandLine(&app, argc, argv);
}

struct Totals {
  std::atomic<uint64_t> offered{0};
  std::atomic<uint64_t> securePosted{0};
  std::atomic<uint64_t> secureRefused{0};
  std::atomic<uint64_t> keysCreated{0};
};

void PostBlock(SecureTransferKey key, uint32_t thread, uint32_t seq, soak::SecureLedger* ledger, Totals* t) {
  uint8_t block[28 + 64] = {};
  memcpy(block, &thread, 4);
  memcpy(block + 28, &thread, 4);
  memcpy(block + 32, &seq, 4);
  if (SecureTransfer_PostPacket(key, block, sizeof(block)) == 0) {
    ledger->NotePosted(thread, seq);
    t->securePosted.fetch_add(1);
  } else {
    t->secureRefused.fetch_add(1);
  }
}

void HostThread(uint32_t id, const Options& o, const std::atomic<bool>& stop, soak::SecureLedger* ledger,
                Totals* t) {
  uint8_t record[64];
  memset(record, static_cast<int>(id), sizeof(record));
  SecureTransferKey key = SecureTransfer_CreateKey(id, 1, 2, 3, 4);
  t->keysCreated.fetch_add(1);
  uint64_t sent = 0;
  uint32_t seq = 0;
  const Clock::time_point start = Clock::now();
  while (!stop.load()) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const uint64_t due = o.rate == 0 ? sent + 256 : static_cast<uint64_t>(elapsed * o.rate);
    for (; sent < due && !stop.load(); ++sent) {
      ReportMeetingQosInfo(record, sizeof(record));
      t->offered.fetch_add(1, std::memory_order_relaxed);
      if (sent % o.secureEvery != 0) continue;
      PostBlock(key, id, seq++, ledger, t);
      if (seq % o.blocksPerKey == 0) {  // key churn: the old key drains and retires
        SecureTransfer_ReleaseKey(key);
        key = SecureTransfer_CreateKey(id, seq, 2, 3, 4);
        t->keysCreated.fetch_add(1);
      }
    }
    if (o.rate != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  SecureTransfer_ReleaseKey(key);
}

// The peer, restartable on the same ports so that the library's addresses
// stay valid across a vanishing.
class PeerHolder {
 public:
  PeerHolder(const Options& o, soak::SecureLedger* ledger) {
    m_cfg.faultIn.dropPct = m_cfg.faultOut.dropPct = o.dropPct;
    m_cfg.faultIn.dupPct = m_cfg.faultOut.dupPct = o.dupPct;
    m_cfg.faultIn.delayMs = m_cfg.faultOut.delayMs = o.delayMs;
    m_cfg.faultIn.delayRandom = m_cfg.faultOut.delayRandom = true;
    m_cfg.on1119 = [ledger](uint32_t sn, const uint8_t* body, size_t len) { ledger->NotePacket(sn, body, len); };
  }
  bool Start() {
    m_peer.reset(new vpeer::Peer(m_cfg));
    std::string err;
    if (!m_peer->Start(&err)) {
      fprintf(stderr, "peer: %s\n", err.c_str());
      return false;
    }
    m_cfg.stprc[0].port = m_peer->StprcEndpoint(0).port;
    m_cfg.qosPort = m_peer->QosPort();
    return true;
  }
  void Stop() {
    if (!m_peer) return;
    const vpeer::PeerStats s = m_peer->Stats();
    m_records += s.records1116;
    m_acks += s.acks1120Sent;
    m_peer->Stop();
    m_peer.reset();
  }
  uint16_t StprcPort() const { return m_cfg.stprc[0].port; }
  // Unreliable 6003 notifications, each with a new PacketId, from a socket
  // of their own (so the peer keeps no record of them) to the client the
  // peer has seen; returns how many went out.
  uint64_t Flood(int seconds) {
    vpeer::UdpSocket sock;
    std::string err;
    if (!m_peer || !sock.Open(vpeer::Endpoint{0x7F000001u, 0}, &err)) return 0;
    const vpeer::Endpoint client = m_peer->ClientAddress();
    vpeer::MsgHeader msg;
    msg.msgId = 6003;
    msg.srcSid = 7;
    msg.destSid = m_peer->ClientSid();
    vpeer::AdjustNotify n = vpeer::PeerConfig::DefaultAdjustTemplate();
    uint8_t body[vpeer::kAdjustNotifySize];
    std::vector<uint8_t> datagram;
    const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
    uint64_t sent = 0;
    while (client.ip == 0x7F000001u && Clock::now() < end) {
      ++n.PacketId;
      vpeer::EncodeAdjustNotify(n, body);
      vpeer::EncodeData(msg, body, sizeof(body), false, 0, &datagram);
      sent += sock.SendTo(client, datagram.data(), datagram.size()) ? 1 : 0;
    }
    return sent;
  }
  uint64_t Records() const { return m_records + (m_peer ? m_peer->Stats().records1116 : 0); }
  uint64_t Acks() const { return m_acks + (m_peer ? m_peer->Stats().acks1120Sent : 0); }

 private:
  vpeer::PeerConfig m_cfg;
  std::unique_ptr<vpeer::Peer> m_peer;
  uint64_t m_records = 0, m_acks = 0;
};

StprcAddrEntry StprcEntry(uint16_t port) {
  StprcAddrEntry e;
  memset(&e, 0, sizeof(e));
  memcpy(e.stprcIp, "127.0.0.1", 9);
  e.stprcPort = port;
  return e;
}

void ChurnStprc(uint16_t port, const std::atomic<bool>& stop) {
  StprcAddrEntry e = StprcEntry(port);
  while (!stop.load()) {
    soak::LogWatch::Get().NoteListPosted();
    SetStpRc(&e, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void PrintFigures(const char* when, const soak::ProcessFigures& f) {
  printf("%-6s rss %.1f MiB, threads %u, fds %u\n", when, f.rssKiB / 1024.0, f.threads, f.fds);
}

}  // namespace

namespace {

// Runs the load for o.seconds with the QoS server vanishing on schedule;
// returns the highest resident memory seen (KiB).
uint64_t RunLoad(const Options& o, PeerHolder* peer, soak::SecureLedger* ledger, Totals* t) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> hosts;
  for (uint32_t i = 0; i < o.threads; ++i) hosts.emplace_back(HostThread, i, std::cref(o), std::cref(stop), ledger, t);
  std::thread churn(ChurnStprc, peer->StprcPort(), std::cref(stop));
  uint64_t maxRss = 0;
  for (int s = 1; s <= o.seconds; ++s) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    maxRss = std::max(maxRss, soak::ReadProcessFigures().rssKiB);
    if (o.vanishEvery > 0 && s % o.vanishEvery == 0 && s + o.vanishFor < o.seconds) {
      printf("t=%ds QoS server gone for %d s\n", s, o.vanishFor);
      peer->Stop();
      for (int w = 0; w < o.vanishFor; ++w, ++s) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        maxRss = std::max(maxRss, soak::ReadProcessFigures().rssKiB);
      }
      if (!peer->Start()) break;
      printf("t=%ds QoS server back\n", s);
    }
    fflush(stdout);
  }
  stop.store(true);
  for (std::thread& h : hosts) h.join();
  churn.join();
  return maxRss;
}

// Waits until every secured block posted with 0 has arrived (or the drain
// time is up), then two flow periods so the pools trim what the load left.
void Drain(const Options& o, soak::SecureLedger* ledger) {
  const Clock::time_point end = Clock::now() + std::chrono::seconds(o.drainSeconds);
  while (Clock::now() < end && ledger->DeliveredOnce() + ledger->DeliveredTwice() < ledger->Posted())
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::this_thread::sleep_for(std::chrono::seconds(11));
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const vpeer::CliOutcome parsed = ParseOptions(argc, argv, &o);
  if (!parsed.Run()) return vpeer::FinishCommandLine("veltrane-soak", parsed);
  VELT_SetLogCallback(&soak::LogWatch::Callback);
  soak::SecureLedger ledger(o.threads);
  Totals t;
  PeerHolder peer(o, &ledger);
  if (!peer.Start()) return 2;
  const soak::ProcessFigures start = soak::ReadProcessFigures();

  char stprcIp[16] = "127.0.0.1";
  soak::LogWatch::Get().NoteListPosted();  // the start-up list
  if (InitVeltrane(0, 0, "127.0.0.1", 0, 0, 0, stprcIp, peer.StprcPort()) != 0) return 2;
  SecureTransfer_InitParams(nullptr, 0, 2000000, 16);
  printf("load: %u threads x %u records/s, a secured block every %u records, faults %.0f%% drop %.0f%% dup "
         "%u ms delay both ways, %d s\n", o.threads, o.rate, o.secureEvery, o.dropPct, o.dupPct, o.delayMs, o.seconds);
  const uint64_t maxRss = RunLoad(o, &peer, &ledger, &t);
  const double listLag = soak::LogWatch::Get().MaxListLagSec();
  const double flowGap = soak::LogWatch::Get().MaxFlowGapSec();
  if (o.floodSeconds > 0) {
    const uint64_t sent = peer.Flood(o.floodSeconds);
    const uint64_t after = soak::ReadProcessFigures().rssKiB;
    std::this_thread::sleep_for(std::chrono::seconds(60));
    printf("6003 flood: %llu notifications in %d s; rss %.1f MiB right after, %.1f MiB a minute later\n",
           (unsigned long long)sent, o.floodSeconds, after / 1024.0, soak::ReadProcessFigures().rssKiB / 1024.0);
  }
  Drain(o, &ledger);
  const soak::ProcessFigures end = soak::ReadProcessFigures();

  soak::LogWatch& log = soak::LogWatch::Get();
  printf("records offered %llu, refused %llu, delivered %llu (the rest dropped by faults or sent while the "
         "server was away)\n", (unsigned long long)t.offered.load(), (unsigned long long)log.Refused(),
         (unsigned long long)peer.Records());
  printf("secure blocks posted %llu (refused %llu), packets acknowledged %llu, blocks delivered once %llu, "
         "twice %llu; keys created %llu\n", (unsigned long long)ledger.Posted(),
         (unsigned long long)t.secureRefused.load(), (unsigned long long)peer.Acks(),
         (unsigned long long)ledger.DeliveredOnce(), (unsigned long long)ledger.DeliveredTwice(),
         (unsigned long long)t.keysCreated.load());
  printf("flow lines %llu, longest gap %.1f s; STPRC lists %llu posted, %llu applied, longest wait %.2f s\n",
         (unsigned long long)log.FlowLines(), flowGap, (unsigned long long)log.ListsPosted(),
         (unsigned long long)log.ListsApplied(), listLag);
  PrintFigures("start", start);
  printf("peak   rss %.1f MiB (ceiling %llu MiB)\n", maxRss / 1024.0, (unsigned long long)o.rssCeilingMiB);
  PrintFigures("end", end);

  bool ok = true;
  auto check = [&](bool cond, const char* what) {
    if (!cond) printf("FAIL: %s\n", what);
    ok = ok && cond;
  };
  check(maxRss / 1024 <= o.rssCeilingMiB, "resident memory above the ceiling");
  check(flowGap <= 7.5, "a flow line came more than 7.5 s after the one before");
  check(listLag <= o.listLagSec, "a SetStpRc list waited longer than allowed");
  check(ledger.DeliveredOnce() == ledger.Posted() && ledger.DeliveredTwice() == 0,
        "a secured block posted with 0 was not delivered exactly once");
  printf("%s\n", ok ? "PASS" : "FAIL");
  fflush(stdout);
  peer.Stop();
  _Exit(ok ? 0 : 1);  // the library has no shut-down: leave its threads running
}
