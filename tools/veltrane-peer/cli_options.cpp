#include "cli_options.h"

#include "option_values.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace vpeer {

namespace {

bool ToU64(const std::string& text, uint64_t maxValue, uint64_t* out) {
  return ParseUnsigned(text, maxValue, out);
}

bool ToU32(const std::string& text, uint32_t* out) { return ParseU32(text, 0xFFFFFFFFull, out); }

bool ToPort(const std::string& text, uint16_t* out) {
  uint32_t v = 0;
  if (!ParseU32(text, 65535, &v)) return false;
  *out = static_cast<uint16_t>(v);
  return true;
}

bool ToPercent(const std::string& text, double* out) { return ParsePercent(text, out); }

bool ToDelay(const std::string& text, FaultPlan* plan) {
  return ParseDelay(text, 0xFFFFFFFFull, &plan->delayMs, &plan->delayRandom);
}

struct PendingResult {
  bool all = true;
  size_t index = 0;
  uint32_t result = 0;
};

}  // namespace

std::string CliUsage() {
  return
      "usage: veltrane-peer [options]\n"
      "  --bind IP                address of every socket (default 127.0.0.1)\n"
      "  --stprc-port P           add an STPRC socket on port P (repeatable; 0 = ephemeral)\n"
      "  --stprc-count N          add N STPRC sockets on ephemeral ports\n"
      "                           (default: one ephemeral STPRC socket)\n"
      "  --stprc-result N|I:N     answer 6801 with result N (all sockets, or socket I)\n"
      "  --stprc-silent I,J,...   these STPRC sockets count 6801 but never answer\n"
      "  --qos-port P             QoS server / log receiver port (default ephemeral)\n"
      "  --qos-announce IP:PORT   QoS server a 6802 names (default: our QoS socket)\n"
      "  --no-1120                never acknowledge 1119 packets\n"
      "  --adjust-every MS        send a 6003 every MS ms ...\n"
      "  --adjust-count N         ... N times (PacketId counts up from 1)\n"
      "  --adjust-target IP:PORT  where to (default: the client last seen)\n"
      "  --adjust-unreliable      send 6003 unreliably (default reliable)\n"
      "  --adjust-repeat MS       unreliable 6003: repeat every MS until answered\n"
      "  --adjust-speak N         speakId of scheduled notifications (default 3003)\n"
      "  --client-sid N           destSid of 6003 (default: srcSid the client used)\n"
      "  --drop-in PCT, --drop-out PCT     drop datagrams received / sent\n"
      "  --dup-in PCT,  --dup-out PCT      duplicate them\n"
      "  --delay-in D,  --delay-out D      delay them: D = MS, or rand:MS (reorders)\n"
      "  --withhold-acks PCT      accept reliable datagrams without acknowledging them\n"
      "  --seed N                 fault generator seed (default 1)\n"
      "  --duration SEC           exit after SEC seconds (default: on SIGINT/SIGTERM)\n"
      "  --summary FILE|-         where the JSON summary goes (default -, stdout);\n"
      "                           SIGUSR1 writes it without exiting\n"
      "  --allow-remote           accept addresses outside 127.0.0.0/8\n"
      "  --help\n";
}

bool ParseCli(int argc, const char* const* argv, CliOptions* out, std::string* err) {
  CliOptions o;
  o.peer.stprc.clear();
  std::vector<PendingResult> results;
  std::vector<size_t> silent;

  for (int i = 1; i < argc; ++i) {
    const std::string opt = argv[i];
    // Options without a value.
    if (opt == "--help" || opt == "-h") { o.help = true; continue; }
    if (opt == "--allow-remote") { o.peer.allowRemote = true; continue; }
    if (opt == "--no-1120") { o.peer.answer1119 = false; continue; }
    if (opt == "--adjust-unreliable") { o.peer.adjustReliable = false; continue; }

    if (i + 1 >= argc) {
      *err = opt.compare(0, 2, "--") == 0 ? "option " + opt + " needs a value"
                                           : "unexpected argument '" + opt + "'";
      return false;
    }
    const std::string val = argv[++i];
    bool ok = true;
    if (opt == "--bind") {
      o.peer.bindIp = val;
    } else if (opt == "--stprc-port") {
      StprcSocketConfig sc;
      ok = ToPort(val, &sc.port);
      o.peer.stprc.push_back(sc);
    } else if (opt == "--stprc-count") {
      uint32_t n = 0;
      ok = ToU32(val, &n) && n >= 1 && n <= 64;
      for (uint32_t k = 0; ok && k < n; ++k) o.peer.stprc.push_back(StprcSocketConfig{});
    } else if (opt == "--stprc-result") {
      PendingResult r;
      const size_t colon = val.find(':');
      if (colon == std::string::npos) {
        ok = ToU32(val, &r.result);
      } else {
        uint32_t index = 0;
        r.all = false;
        ok = ToU32(val.substr(0, colon), &index) && ToU32(val.substr(colon + 1), &r.result);
        r.index = index;
      }
      results.push_back(r);
    } else if (opt == "--stprc-silent") {
      size_t start = 0;
      while (ok && start <= val.size()) {
        const size_t comma = std::min(val.find(',', start), val.size());
        uint32_t index = 0;
        ok = ToU32(val.substr(start, comma - start), &index);
        silent.push_back(index);
        start = comma + 1;
      }
    } else if (opt == "--qos-port") {
      ok = ToPort(val, &o.peer.qosPort);
    } else if (opt == "--qos-announce") {
      o.peer.qosAnnounce = val;
    } else if (opt == "--adjust-every") {
      ok = ToU32(val, &o.peer.adjustEveryMs);
    } else if (opt == "--adjust-count") {
      ok = ToU32(val, &o.peer.adjustCount);
    } else if (opt == "--adjust-target") {
      o.peer.adjustTarget = val;
    } else if (opt == "--adjust-repeat") {
      ok = ToU32(val, &o.peer.adjustRepeatMs);
    } else if (opt == "--adjust-speak") {
      ok = ToU32(val, &o.peer.adjustTemplate.speakId);
    } else if (opt == "--client-sid") {
      ok = ToU32(val, &o.peer.clientSid);
    } else if (opt == "--drop-in") {
      ok = ToPercent(val, &o.peer.faultIn.dropPct);
    } else if (opt == "--drop-out") {
      ok = ToPercent(val, &o.peer.faultOut.dropPct);
    } else if (opt == "--dup-in") {
      ok = ToPercent(val, &o.peer.faultIn.dupPct);
    } else if (opt == "--dup-out") {
      ok = ToPercent(val, &o.peer.faultOut.dupPct);
    } else if (opt == "--delay-in") {
      ok = ToDelay(val, &o.peer.faultIn);
    } else if (opt == "--delay-out") {
      ok = ToDelay(val, &o.peer.faultOut);
    } else if (opt == "--withhold-acks") {
      ok = ToPercent(val, &o.peer.withholdAckPct);
    } else if (opt == "--seed") {
      ok = ToU64(val, ~0ull, &o.peer.seed);
    } else if (opt == "--duration") {
      ok = ToU32(val, &o.durationSec);
    } else if (opt == "--summary") {
      ok = !val.empty();
      o.summaryPath = val;
    } else {
      *err = "unknown option " + opt;
      return false;
    }
    if (!ok) {
      *err = "bad value '" + val + "' for " + opt;
      return false;
    }
  }

  if (o.peer.stprc.empty()) o.peer.stprc.push_back(StprcSocketConfig{});
  for (const PendingResult& r : results) {
    if (r.all) {
      for (StprcSocketConfig& sc : o.peer.stprc) sc.result = r.result;
    } else if (r.index < o.peer.stprc.size()) {
      o.peer.stprc[r.index].result = r.result;
    } else {
      *err = "--stprc-result names socket " + std::to_string(r.index) + " of " +
             std::to_string(o.peer.stprc.size());
      return false;
    }
  }
  for (size_t index : silent) {
    if (index >= o.peer.stprc.size()) {
      *err = "--stprc-silent names socket " + std::to_string(index) + " of " +
             std::to_string(o.peer.stprc.size());
      return false;
    }
    o.peer.stprc[index].silent = true;
  }
  if (!o.help && !CheckPeerAddresses(o.peer, err)) return false;
  *out = std::move(o);
  return true;
}

}  // namespace vpeer
