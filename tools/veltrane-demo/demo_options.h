// Command-line options of veltrane-demo.
#pragma once

#include <cstdint>
#include <string>

#include "tool_cli.h"

namespace vdemo {

struct DemoOptions {
  uint32_t count = 2000;   // records to report
  uint32_t rate = 1000;    // records per second; 0: as fast as the calls return
  uint32_t adjust = 20;    // adjustment notifications to trigger
  uint16_t portFirst = 0;  // the library's port range; 0/0: a random one
  uint16_t portLast = 0;
  std::string localIp = "127.0.0.1";

  // A real STPRC instead of the embedded peer.
  bool realStprc = false;
  std::string stprcIp;
  uint16_t stprcPort = 0;
  bool allowRemote = false;

  // Faults the embedded peer applies to every datagram in both directions.
  double dropPct = 0;
  double dupPct = 0;
  uint32_t delayMs = 0;
  bool delayRandom = false;
  uint64_t seed = 1;

  uint32_t timeoutSec = 60;  // the whole run
  std::string logFile;       // empty: the library's lines are only counted
  bool quiet = false;

  bool FaultsActive() const { return dropPct > 0 || dupPct > 0 || delayMs > 0; }
};

// Parses argv[1..argc-1]. Refuses, with a one-line reason, an unknown
// option, a bad value or a combination that cannot work.
vpeer::CliOutcome ParseDemoOptions(int argc, const char* const* argv, DemoOptions* out);

}  // namespace vdemo
