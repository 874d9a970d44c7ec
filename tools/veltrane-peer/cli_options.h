// Command-line options of the veltrane-peer program, turned into a
// PeerConfig plus what only the program needs (run time, summary target).
#pragma once

#include <cstdint>
#include <string>

#include "peer_config.h"

namespace vpeer {

struct CliOptions {
  PeerConfig peer;
  uint32_t durationSec = 0;         // 0: until a signal
  std::string summaryPath = "-";    // "-": standard output
  bool help = false;
};

// Parses argv[1..argc-1]. Returns false with a one-line reason in *err for an
// unknown option, a missing or malformed value, or an address outside
// 127.0.0.0/8 without --allow-remote.
bool ParseCli(int argc, const char* const* argv, CliOptions* out, std::string* err);

std::string CliUsage();

}  // namespace vpeer
