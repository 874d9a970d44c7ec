#include "progress.h"

#include <unistd.h>  // isatty: whether to redraw in place

#include <cinttypes>

namespace vdemo {

namespace {

constexpr double kTtyPeriodSec = 0.1;
constexpr double kPlainPeriodSec = 1.0;

}  // namespace

Progress::Progress(std::FILE* out, bool tty, bool quiet) : m_out(out), m_tty(tty), m_quiet(quiet) {}

bool Progress::StdoutIsTerminal() { return isatty(fileno(stdout)) == 1; }

std::string Progress::Format(const ProgressState& s) {
  char buf[256];
  if (!s.detail.empty()) {
    std::snprintf(buf, sizeof(buf), "[%6.1fs] %-9s %s", s.elapsedSec, s.phase, s.detail.c_str());
    return buf;
  }
  std::string received = s.received < 0 ? "n/a" : std::to_string(s.received);
  std::string answered = s.adjAnswered < 0 ? "n/a" : std::to_string(s.adjAnswered);
  std::snprintf(buf, sizeof(buf),
                "[%6.1fs] %-9s records %" PRIu64 "/%" PRIu64 " sent, %s received, %.0f/s"
                " | adjustments %" PRIu64 "/%" PRIu64 " sent, %" PRIu64 " called back, %s answered",
                s.elapsedSec, s.phase, s.sent, s.total, received.c_str(), s.rate, s.adjSent,
                s.adjTotal, s.adjCalled, answered.c_str());
  return buf;
}

void Progress::Update(const ProgressState& s, bool force) {
  if (m_quiet) return;
  const double period = m_tty ? kTtyPeriodSec : kPlainPeriodSec;
  if (!force && s.elapsedSec - m_lastSec < period) return;
  const std::string line = Format(s);
  m_lastSec = s.elapsedSec;
  m_last = line;
  if (m_tty) {
    std::fprintf(m_out, "\r%s\x1b[K", line.c_str());
    m_lineOpen = true;
  } else {
    std::fprintf(m_out, "%s\n", line.c_str());
  }
  std::fflush(m_out);
}

void Progress::Note(const std::string& text) {
  if (m_quiet) return;
  if (m_tty && m_lineOpen) {
    // Overwrite the status line with the note, then draw the status again.
    std::fprintf(m_out, "\r%s\x1b[K\n%s", text.c_str(), m_last.c_str());
  } else {
    std::fprintf(m_out, "%s\n", text.c_str());
  }
  std::fflush(m_out);
}

void Progress::Finish() {
  if (m_quiet) return;
  if (m_tty && m_lineOpen) std::fputc('\n', m_out);
  m_lineOpen = false;
  std::fflush(m_out);
}

}  // namespace vdemo
