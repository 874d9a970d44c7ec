#include "demo_options.h"

#include "endpoint.h"

namespace vdemo {

namespace {

using vpeer::CliOutcome;

// "A-B" with 1 <= A < B; the library tries ports up to 99 above B.
bool ToRange(const std::string& text, uint16_t* first, uint16_t* last) {
  const size_t dash = text.find('-');
  uint64_t a = 0;
  uint64_t b = 0;
  if (dash == std::string::npos || !vpeer::ParseUnsigned(text.substr(0, dash), 65535, &a) ||
      !vpeer::ParseUnsigned(text.substr(dash + 1), 65535 - 99, &b) || a == 0 || a >= b) {
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

bool IsRange(const std::string& text) {
  uint16_t first = 0;
  uint16_t last = 0;
  return ToRange(text, &first, &last);
}

bool IsIp(const std::string& text) {
  uint32_t ip = 0;
  return vpeer::ParseIp(text, &ip);
}

bool IsServer(const std::string& text) {
  vpeer::Endpoint e;
  return vpeer::ParseEndpoint(text, &e) && e.port != 0;
}

void AddOptions(CLI::App* app, DemoOptions* o, std::string* ports, std::string* stprc) {
  vpeer::AddUnsigned(app, "--count", "N", &o->count, 10000000, "records to report");
  vpeer::AddUnsigned(app, "--rate", "R", &o->rate, 1000000, "records per second (0 = unthrottled)");
  vpeer::AddUnsigned(app, "--adjust", "M", &o->adjust, 100000,
                     "adjustment notifications, half uplink, half downlink");
  app->add_option("--ports", *ports,
                  "the library's port range (default: 50 ports picked at random in 40000-60000;\n"
                  "the library binds a port from A up to B+99)")
      ->check(vpeer::Accepting(IsRange, "A-B with 1 <= A < B <= 65436"))
      ->type_name("A-B");
  app->add_option("--local", o->localIp, "the library's local IP")
      ->check(vpeer::Accepting(IsIp, "an IPv4 address"))
      ->type_name("IP")
      ->capture_default_str();
  app->add_option("--stprc", *stprc,
                  "report to a real STPRC instead of the embedded peer; needs --local;\n"
                  "records are counted as sent only")
      ->check(vpeer::Accepting(IsServer, "IP:PORT with a non-zero port"))
      ->type_name("IP:PORT");
  app->add_flag("--allow-remote", o->allowRemote, "allow --stprc/--local outside 127.0.0.0/8");
  vpeer::AddPercent(app, "--drop", &o->dropPct, "embedded peer drops PCT% of datagrams (both directions)");
  vpeer::AddPercent(app, "--dup", &o->dupPct, "... duplicates PCT% of them");
  vpeer::AddDelay(app, "--delay", 10000, &o->delayMs, &o->delayRandom, "... delays them (rand: reorders)");
  vpeer::AddUnsigned(app, "--seed", "N", &o->seed, ~0ull, "seed of the fault generator");
  vpeer::AddUnsigned(app, "--timeout", "SEC", &o->timeoutSec, 86400, "give up after SEC seconds in all")
      ->check(CLI::Range(1u, 86400u).description(""));
  app->add_option("--log", o->logFile,
                  "append every library log line to FILE (default: lines are only counted)")
      ->check(vpeer::Accepting([](const std::string& v) { return !v.empty(); }, "a file name"))
      ->type_name("FILE");
  app->add_flag("-q,--quiet", o->quiet, "no progress line, only the summary");
}

// What the options mean together.
CliOutcome CheckCombination(const DemoOptions& o, bool localGiven) {
  if (o.realStprc && !localGiven) {
    return CliOutcome::Refused("--stprc needs --local IP (the address the library binds)");
  }
  if (o.realStprc && o.FaultsActive()) {
    return CliOutcome::Refused("--drop/--dup/--delay apply to the embedded peer, not to a real STPRC");
  }
  const std::string beyond = " is outside 127.0.0.0/8 (add --allow-remote to mean it)";
  if (!o.allowRemote && !IsLoopbackText(o.localIp))
    return CliOutcome::Refused("--local " + o.localIp + beyond);
  if (!o.allowRemote && o.realStprc && !IsLoopbackText(o.stprcIp)) {
    return CliOutcome::Refused("--stprc " + o.stprcIp + beyond);
  }
  if (!o.realStprc && !IsLoopbackText(o.localIp)) {
    // The embedded peer answers on loopback only.
    return CliOutcome::Refused("the embedded peer runs on 127.0.0.1: --local must be a loopback address");
  }
  return CliOutcome{};
}

}  // namespace

CliOutcome ParseDemoOptions(int argc, const char* const* argv, DemoOptions* out) {
  DemoOptions o;
  std::string ports;
  std::string stprc;
  CLI::App app(
      "Starts the library against an embedded simulated peer on 127.0.0.1 (STPRC,\n"
      "QoS server, log receiver), reports records, triggers media adjustments and\n"
      "accounts for every one of them.",
      "veltrane-demo");
  vpeer::ConfigureApp(&app);
  app.footer(
      "Exit status: 0 every record and adjustment accounted for; 1 something missing,\n"
      "wrong or late; 2 bad options or a set-up failure.");
  AddOptions(&app, &o, &ports, &stprc);
  CliOutcome outcome = vpeer::ParseCommandLine(&app, argc, argv);
  if (!outcome.Run()) return outcome;
  if (!ports.empty()) ToRange(ports, &o.portFirst, &o.portLast);
  vpeer::Endpoint ep;
  o.realStprc = vpeer::ParseEndpoint(stprc, &ep);
  if (o.realStprc) {
    o.stprcIp = vpeer::IpToString(ep.ip);
    o.stprcPort = ep.port;
  }
  outcome = CheckCombination(o, app.count("--local") > 0);
  if (outcome.Run()) *out = o;
  return outcome;
}

}  // namespace vdemo
