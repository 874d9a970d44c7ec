// The secure road at its largest quota (50 packets per 50 ms pass): blocks
// of the most one packet carries, so one block per packet, to the QoS
// server found through STPRC (a simulated one that acknowledges them); the rate against the designed ceiling of 1,000
// packets per second, and the process CPU time each block cost.
#include <cstdio>
#include <string>
#include <vector>

#include "comparisons.h"
#include "harness.h"
#include "library.h"
#include "peer.h"
#include "veltrane.h"

namespace vbench {

namespace {

constexpr uint32_t kQuotaBandwidth = 50 * 20480;  // 50 packets per pass
constexpr int32_t kBlockBytes = 1019;
constexpr double kCeilingPerSecond = 50.0 * 1000.0 / 50.0;

uint64_t Acked(const vpeer::Peer& p) { return p.Stats().acks1120Sent; }

}  // namespace

void RunSecureRoad(const Options& o) {
  PrintHeader("secure road: blocks acknowledged per second at the largest quota, against 1,000/s");
  std::string why;
  if (!StartLibrary(&why)) {
    std::printf("  skipped: %s\n", why.c_str());
    return;
  }
  const vpeer::Peer& peer = *LibraryPeer();
  SecureTransfer_InitParams(nullptr, 0, kQuotaBandwidth, 16);
  std::vector<uint8_t> block(kBlockBytes, 0x5A);
  const int64_t n = static_cast<int64_t>(1000 * o.scale) + 50;
  std::vector<double> ratio, cpuUs;
  for (int run = 0; run < o.pairs; ++run) {
    WaitForIdle(3000);
    SecureTransferKey key = SecureTransfer_CreateKey(1, 2, 3, 4, static_cast<uint32_t>(run));
    const uint64_t before = Acked(peer);
    const double cpu0 = ProcessCpuSeconds();
    const int64_t t0 = NowNs();
    for (int64_t i = 0; i < n; ++i) {
      SecureTransfer_PostPacket(key, block.data(), kBlockBytes);
    }
    const int64_t deadline = t0 + int64_t{30} * 1000000000;
    while (Acked(peer) < before + static_cast<uint64_t>(n) && NowNs() < deadline) SleepMs(2);
    const double secs = static_cast<double>(NowNs() - t0) / 1e9;
    const double acked = static_cast<double>(Acked(peer) - before);
    ratio.push_back(acked / secs / kCeilingPerSecond);
    cpuUs.push_back((ProcessCpuSeconds() - cpu0) * 1e6 / (acked > 0 ? acked : 1));
    SecureTransfer_ReleaseKey(key);
  }
  PrintSpread("acknowledged rate / ceiling", "", Summarize(ratio), "goal: close to 1.0");
  PrintSpread("process CPU per acknowledged block", "us", Summarize(cpuUs), "(peer included)");
}

}  // namespace vbench
