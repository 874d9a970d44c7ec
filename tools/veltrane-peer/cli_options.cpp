#include "cli_options.h"

#include <utility>
#include <vector>

namespace vpeer {

namespace {

// What the STPRC options say, applied once every socket exists.
struct StprcChoices {
  std::vector<uint16_t> ports;
  uint32_t count = 0;
  std::vector<std::string> results;  // "N" for every socket, "I:N" for socket I
  std::vector<uint32_t> silent;
};

void AddStprcOptions(CLI::App* app, StprcChoices* s) {
  app->add_option("--stprc-port", s->ports,
                  "add an STPRC socket on port P (repeatable; 0 = ephemeral); these come first")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->transform(DecimalUpTo(65535))
      ->type_name("P");
  AddUnsigned(app, "--stprc-count", "N", &s->count, 64,
              "add N STPRC sockets on ephemeral ports, after the --stprc-port ones\n"
              "(with neither: one ephemeral STPRC socket)");
  app->add_option("--stprc-result", s->results,
                  "answer 6801 with result N (all sockets, or socket I; repeatable)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->type_name("N|I:N");
  app->add_option("--stprc-silent", s->silent, "these STPRC sockets count 6801 but never answer")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->delimiter(',')
      ->transform(DecimalUpTo(0xFFFFFFFFull))
      ->type_name("I,J,...");
}

void AddPeerOptions(CLI::App* app, CliOptions* o) {
  PeerConfig& p = o->peer;
  app->add_option("--bind", p.bindIp, "address of every socket")->type_name("IP")->capture_default_str();
  AddUnsigned(app, "--qos-port", "P", &p.qosPort, 65535, "QoS server / log receiver port (0 = ephemeral)");
  app->add_option("--qos-announce", p.qosAnnounce, "QoS server a 6802 names (default: our QoS socket)")
      ->type_name("IP:PORT");
  app->add_flag_callback(
      "--no-1120", [&p] { p.answer1119 = false; }, "never acknowledge 1119 packets");
  AddUnsigned(app, "--adjust-every", "MS", &p.adjustEveryMs, 0xFFFFFFFFull, "send a 6003 every MS ms ...");
  AddUnsigned(app, "--adjust-count", "N", &p.adjustCount, 0xFFFFFFFFull,
              "... N times (PacketId counts up from 1)");
  app->add_option("--adjust-target", p.adjustTarget, "where to (default: the client last seen)")
      ->type_name("IP:PORT");
  app->add_flag_callback(
      "--adjust-unreliable", [&p] { p.adjustReliable = false; }, "send 6003 unreliably");
  AddUnsigned(app, "--adjust-repeat", "MS", &p.adjustRepeatMs, 0xFFFFFFFFull,
              "unreliable 6003: repeat every MS until answered (0: once)");
  AddUnsigned(app, "--adjust-speak", "N", &p.adjustTemplate.speakId, 0xFFFFFFFFull,
              "speakId of scheduled notifications");
  AddUnsigned(app, "--client-sid", "N", &p.clientSid, 0xFFFFFFFFull,
              "destSid of 6003 (0: the srcSid the client used)");
  AddPercent(app, "--drop-in", &p.faultIn.dropPct, "drop PCT% of datagrams received");
  AddPercent(app, "--drop-out", &p.faultOut.dropPct, "drop PCT% of datagrams sent");
  AddPercent(app, "--dup-in", &p.faultIn.dupPct, "duplicate PCT% of datagrams received");
  AddPercent(app, "--dup-out", &p.faultOut.dupPct, "duplicate PCT% of datagrams sent");
  AddDelay(app, "--delay-in", 0xFFFFFFFFull, &p.faultIn.delayMs, &p.faultIn.delayRandom,
           "delay datagrams received: MS, or rand:MS (reorders)");
  AddDelay(app, "--delay-out", 0xFFFFFFFFull, &p.faultOut.delayMs, &p.faultOut.delayRandom,
           "delay datagrams sent: MS, or rand:MS (reorders)");
  AddPercent(app, "--withhold-acks", &p.withholdAckPct,
             "accept reliable datagrams without acknowledging them");
  AddUnsigned(app, "--seed", "N", &p.seed, ~0ull, "fault generator seed");
  AddUnsigned(app, "--duration", "SEC", &o->durationSec, 0xFFFFFFFFull,
              "exit after SEC seconds (0: on SIGINT/SIGTERM)");
  app->add_option("--summary", o->summaryPath,
                  "where the JSON summary goes (- = standard output); SIGUSR1 writes it without exiting")
      ->check(Accepting([](const std::string& v) { return !v.empty(); }, "a file name"))
      ->type_name("FILE|-")
      ->capture_default_str();
  app->add_flag("--allow-remote", p.allowRemote, "accept addresses outside 127.0.0.0/8");
}

// Creates the sockets and applies results and silences to them by index.
CliOutcome ApplyStprc(const StprcChoices& s, PeerConfig* p) {
  p->stprc.clear();
  for (uint16_t port : s.ports) p->stprc.push_back(StprcSocketConfig{port, false, 0});
  p->stprc.resize(p->stprc.size() + s.count);
  if (p->stprc.empty()) p->stprc.resize(1);
  const std::string of = " of " + std::to_string(p->stprc.size());
  for (const std::string& r : s.results) {
    const size_t colon = r.find(':');
    uint64_t index = 0;
    uint64_t result = 0;
    const bool all = colon == std::string::npos;
    if (!(all ? ParseUnsigned(r, 0xFFFFFFFFull, &result)
              : ParseUnsigned(r.substr(0, colon), 0xFFFFFFFFull, &index) &&
                    ParseUnsigned(r.substr(colon + 1), 0xFFFFFFFFull, &result))) {
      return CliOutcome::Refused("--stprc-result: '" + r + "' is not N or I:N");
    }
    if (!all && index >= p->stprc.size()) {
      return CliOutcome::Refused("--stprc-result names socket " + std::to_string(index) + of);
    }
    if (all) {
      for (StprcSocketConfig& sc : p->stprc) sc.result = static_cast<uint32_t>(result);
    } else {
      p->stprc[index].result = static_cast<uint32_t>(result);
    }
  }
  for (uint32_t index : s.silent) {
    if (index >= p->stprc.size()) {
      return CliOutcome::Refused("--stprc-silent names socket " + std::to_string(index) + of);
    }
    p->stprc[index].silent = true;
  }
  return CliOutcome{};
}

}  // namespace

CliOutcome ParseCli(int argc, const char* const* argv, CliOptions* out) {
  CliOptions o;
  StprcChoices stprc;
  CLI::App app("A simulated STPRC server, QoS server and log receiver on 127.0.0.1.", "veltrane-peer");
  ConfigureApp(&app);
  app.footer(
      "It prints one JSON line when ready and the JSON summary on exit.\n"
      "Exit status: 0 after a clean run; 1 a socket could not be opened or the summary\n"
      "not written; 2 bad options.");
  AddStprcOptions(&app, &stprc);
  AddPeerOptions(&app, &o);
  CliOutcome outcome = ParseCommandLine(&app, argc, argv);
  if (outcome.Run()) outcome = ApplyStprc(stprc, &o.peer);
  std::string err;
  if (outcome.Run() && !CheckPeerAddresses(o.peer, &err)) outcome = CliOutcome::Refused(err);
  if (outcome.Run()) *out = std::move(o);
  return outcome;
}

}  // namespace vpeer
