// Command-line options of the veltrane-peer program, turned into a
// PeerConfig plus what only the program needs (run time, summary target).
#pragma once

#include <cstdint>
#include <string>

#include "peer_config.h"
#include "tool_cli.h"

namespace vpeer {

struct CliOptions {
  PeerConfig peer;
  uint32_t durationSec = 0;       // 0: until a signal
  std::string summaryPath = "-";  // "-": standard output
};

// Parses argv[1..argc-1]. Refuses, with a one-line reason, an unknown option,
// a missing or malformed value, a socket index that does not exist, or an
// address outside 127.0.0.0/8 without --allow-remote.
CliOutcome ParseCli(int argc, const char* const* argv, CliOptions* out);

}  // namespace vpeer
