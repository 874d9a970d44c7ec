// The demo's one live status line: redrawn in place on a terminal, printed as
// plain periodic lines otherwise (a log file or a CI console).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vdemo {

struct ProgressState {
  const char* phase = "";       // "discovery", "reporting", "draining"
  double elapsedSec = 0;
  std::string detail;           // non-empty: shown instead of the counters
  uint64_t sent = 0;
  uint64_t total = 0;
  int64_t received = -1;        // -1: not observable (real STPRC)
  double rate = 0;              // records per second, recent
  uint64_t adjSent = 0;
  uint64_t adjTotal = 0;
  uint64_t adjCalled = 0;
  int64_t adjAnswered = -1;     // -1: not observable
};

// Thread contract: one thread (the demo's main thread) calls everything.
class Progress {
 public:
  // `tty`: redraw in place; `quiet`: print nothing at all.
  Progress(std::FILE* out, bool tty, bool quiet);

  // Whether standard output is a terminal.
  static bool StdoutIsTerminal();

  // Shows `s` if enough time passed since the last line (or `force`).
  void Update(const ProgressState& s, bool force = false);
  // A line of its own, keeping the status line intact below it.
  void Note(const std::string& text);
  // Ends the status line so that what follows starts on a fresh line.
  void Finish();

  static std::string Format(const ProgressState& s);

 private:
  std::FILE* m_out;
  bool m_tty;
  bool m_quiet;
  bool m_lineOpen = false;  // a status line is on screen without its newline
  double m_lastSec = -1e9;
  std::string m_last;
};

}  // namespace vdemo
