#include "demo_options.h"


#include "endpoint.h"
#include "option_values.h"

namespace vdemo {

namespace {

using vpeer::ParsePercent;
using vpeer::ParseU32;
using vpeer::ParseUnsigned;

// "A-B" with 1 <= A < B; the library tries ports up to 99 above B.
bool ToRange(const std::string& text, uint16_t* first, uint16_t* last) {
  const size_t dash = text.find('-');
  uint64_t a = 0;
  uint64_t b = 0;
  if (dash == std::string::npos || !ParseUnsigned(text.substr(0, dash), 65535, &a) ||
      !ParseUnsigned(text.substr(dash + 1), 65535 - 99, &b) || a == 0 || a >= b) {
    return false;
  }
  *first = static_cast<uint16_t>(a);
  *last = static_cast<uint16_t>(b);
  return true;
}

bool IsLoopbackText(const std::string& ip) {
  uint32_t v = 0;
  return vpeer::ParseIp(ip, &v) && vpeer::IsLoopback(v);
}

}  // namespace

std::string DemoUsage() {
  return
      "usage: veltrane-demo [options]\n"
      "Starts the library against an embedded simulated peer on 127.0.0.1 (STPRC,\n"
      "QoS server, log receiver), reports records, triggers media adjustments and\n"
      "accounts for every one of them. Exit status 0 only when all arrived.\n"
      "\n"
      "  --count N          records to report (default 2000)\n"
      "  --rate R           records per second (default 1000; 0 = unthrottled)\n"
      "  --adjust M         adjustment notifications, half uplink, half downlink (default 20)\n"
      "  --ports A-B        the library's port range (default: 50 ports picked at random\n"
      "                     in 40000-60000; the library binds a port from A up to B+99)\n"
      "  --local IP         the library's local IP (default 127.0.0.1)\n"
      "  --stprc IP:PORT    report to a real STPRC instead of the embedded peer; needs\n"
      "                     --local; records are counted as sent only\n"
      "  --allow-remote     allow --stprc/--local outside 127.0.0.0/8\n"
      "  --drop PCT         embedded peer drops PCT% of datagrams (both directions)\n"
      "  --dup PCT          ... duplicates PCT% of them\n"
      "  --delay D          ... delays them: D = MS, or rand:MS (reorders)\n"
      "  --seed N           seed of the fault generator (default 1)\n"
      "  --timeout SEC      give up after SEC seconds in all (default 60)\n"
      "  --log FILE         append every library log line to FILE (default: lines are\n"
      "                     only counted; no file is written)\n"
      "  --quiet            no progress line, only the summary\n"
      "  --help             this text\n";
}

bool ParseDemoOptions(int argc, const char* const* argv, DemoOptions* out, std::string* err) {
  DemoOptions o;
  bool localGiven = false;
  bool faultGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string opt = argv[i];
    std::string value;
    bool hasValue = false;
    const size_t eq = opt.find('=');
    if (opt.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      value = opt.substr(eq + 1);
      opt = opt.substr(0, eq);
      hasValue = true;
    }
    auto next = [&](std::string* v) {
      if (hasValue) {
        *v = value;
        return true;
      }
      if (i + 1 >= argc) {
        *err = opt + " needs a value";
        return false;
      }
      *v = argv[++i];
      return true;
    };
    auto bad = [&](const std::string& v) {
      *err = "bad value for " + opt + ": '" + v + "'";
      return false;
    };
    std::string v;
    if (opt == "--help" || opt == "-h") {
      o.help = true;
    } else if (opt == "--quiet" || opt == "-q") {
      o.quiet = true;
    } else if (opt == "--allow-remote") {
      o.allowRemote = true;
    } else if (opt == "--count") {
      if (!next(&v)) return false;
      if (!ParseU32(v, 10000000, &o.count)) return bad(v);
    } else if (opt == "--rate") {
      if (!next(&v)) return false;
      if (!ParseU32(v, 1000000, &o.rate)) return bad(v);
    } else if (opt == "--adjust") {
      if (!next(&v)) return false;
      if (!ParseU32(v, 100000, &o.adjust)) return bad(v);
    } else if (opt == "--ports") {
      if (!next(&v)) return false;
      if (!ToRange(v, &o.portFirst, &o.portLast)) return bad(v);
    } else if (opt == "--local") {
      if (!next(&v)) return false;
      uint32_t ip = 0;
      if (!vpeer::ParseIp(v, &ip)) return bad(v);
      o.localIp = v;
      localGiven = true;
    } else if (opt == "--stprc") {
      if (!next(&v)) return false;
      vpeer::Endpoint ep;
      if (!vpeer::ParseEndpoint(v, &ep) || ep.port == 0) return bad(v);
      o.realStprc = true;
      o.stprcIp = vpeer::IpToString(ep.ip);
      o.stprcPort = ep.port;
    } else if (opt == "--drop") {
      if (!next(&v)) return false;
      if (!ParsePercent(v, &o.dropPct)) return bad(v);
      faultGiven = true;
    } else if (opt == "--dup") {
      if (!next(&v)) return false;
      if (!ParsePercent(v, &o.dupPct)) return bad(v);
      faultGiven = true;
    } else if (opt == "--delay") {
      if (!next(&v)) return false;
      if (!vpeer::ParseDelay(v, 10000, &o.delayMs, &o.delayRandom)) return bad(v);
      faultGiven = true;
    } else if (opt == "--seed") {
      if (!next(&v)) return false;
      if (!ParseUnsigned(v, ~0ull, &o.seed)) return bad(v);
    } else if (opt == "--timeout") {
      if (!next(&v)) return false;
      if (!ParseU32(v, 86400, &o.timeoutSec) || o.timeoutSec == 0) return bad(v);
    } else if (opt == "--log") {
      if (!next(&v)) return false;
      if (v.empty()) return bad(v);
      o.logFile = v;
    } else {
      *err = "unknown option " + opt;
      return false;
    }
  }
  if (o.help) {
    *out = o;
    return true;
  }
  if (o.realStprc) {
    if (!localGiven) {
      *err = "--stprc needs --local IP (the address the library binds)";
      return false;
    }
    if (faultGiven) {
      *err = "--drop/--dup/--delay apply to the embedded peer, not to a real STPRC";
      return false;
    }
  }
  if (!o.allowRemote) {
    if (!IsLoopbackText(o.localIp)) {
      *err = "--local " + o.localIp + " is outside 127.0.0.0/8 (add --allow-remote to mean it)";
      return false;
    }
    if (o.realStprc && !IsLoopbackText(o.stprcIp)) {
      *err = "--stprc " + o.stprcIp + " is outside 127.0.0.0/8 (add --allow-remote to mean it)";
      return false;
    }
  }
  if (!o.realStprc && !IsLoopbackText(o.localIp)) {
    // The embedded peer answers on loopback only.
    *err = "the embedded peer runs on 127.0.0.1: --local must be a loopback address";
    return false;
  }
  *out = o;
  return true;
}

}  // namespace vdemo
