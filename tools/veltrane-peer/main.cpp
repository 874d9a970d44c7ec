// veltrane-peer: runs a Peer until a signal or the given duration, announcing
// its ports on one JSON line at start and writing the JSON summary at the end
// (and on SIGUSR1).
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "cli_options.h"
#include "peer.h"

namespace {

bool WriteSummary(const std::string& path, const std::string& json) {
  if (path == "-") {
    std::printf("%s\n", json.c_str());
    std::fflush(stdout);
    return true;
  }
  // Written beside and renamed, so a script polling the file never reads half of it.
  const std::string tmp = path + ".tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "w");
  if (f == nullptr) return false;
  const bool ok = std::fprintf(f, "%s\n", json.c_str()) > 0;
  if (std::fclose(f) != 0 || !ok) return false;
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

std::string ReadyLine(const vpeer::Peer& peer, const std::string& bindIp) {
  const nlohmann::ordered_json line{{"event", "ready"},
                                    {"bind", bindIp},
                                    {"stprc_ports", peer.StprcPorts()},
                                    {"qos_port", peer.QosPort()},
                                    {"qos_announce", peer.AnnouncedQos().ToString()}};
  return line.dump();
}

}  // namespace

int main(int argc, char** argv) {
  vpeer::CliOptions opts;
  const vpeer::CliOutcome parsed = vpeer::ParseCli(argc, argv, &opts);
  if (!parsed.Run()) return vpeer::FinishCommandLine("veltrane-peer", parsed);

  // Block the signals before the service thread exists, so it inherits the
  // mask and only this thread takes them, synchronously, in sigtimedwait.
  sigset_t sigs;
  sigemptyset(&sigs);
  sigaddset(&sigs, SIGINT);
  sigaddset(&sigs, SIGTERM);
  sigaddset(&sigs, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

  vpeer::Peer peer(opts.peer);
  std::string err;
  if (!peer.Start(&err)) {
    std::fprintf(stderr, "veltrane-peer: %s\n", err.c_str());
    return 1;
  }
  std::printf("%s\n", ReadyLine(peer, opts.peer.bindIp).c_str());
  std::fflush(stdout);

  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::seconds(opts.durationSec);
  int code = 0;
  for (;;) {
    long waitMs = 1000;
    if (opts.durationSec > 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      if (left <= 0) break;
      if (left < waitMs) waitMs = static_cast<long>(left);
    }
    timespec ts;
    ts.tv_sec = waitMs / 1000;
    ts.tv_nsec = (waitMs % 1000) * 1000000L;
    const int sig = sigtimedwait(&sigs, nullptr, &ts);
    if (sig == SIGUSR1) {
      if (!WriteSummary(opts.summaryPath, peer.SummaryJson())) {
        std::fprintf(stderr, "veltrane-peer: cannot write %s\n", opts.summaryPath.c_str());
      }
    } else if (sig == SIGINT || sig == SIGTERM) {
      break;
    }
  }
  peer.Stop();
  if (!WriteSummary(opts.summaryPath, peer.SummaryJson())) {
    std::fprintf(stderr, "veltrane-peer: cannot write %s\n", opts.summaryPath.c_str());
    code = 1;
  }
  return code;
}
