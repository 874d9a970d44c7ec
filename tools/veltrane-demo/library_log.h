// Where the library's log lines go while the demo runs. The library has one
// sink at a time (file or callback), so the demo installs its callback and
// does both jobs itself: it counts warnings and errors, notices the lines
// that mark progress (the address bound, the QoS server learnt), and, when
// asked, appends every line to a file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace vdemo {

struct LogCounts {
  uint64_t lines = 0;
  uint64_t warnings = 0;
  uint64_t errors = 0;
  // Sums over the library's periodic flow lines (each covers the 5 s since
  // the previous one): records taken from the host, records sent on.
  uint64_t flowLines = 0;
  uint64_t flowIn = 0;
  uint64_t flowOut = 0;
};

// Process-wide and never destroyed: the library may log from its own threads
// until the process ends. Thread contract: OnLine runs on any library thread;
// everything else on any thread. One lock guards the state; the file is
// written under it so lines never interleave.
class LibraryLog {
 public:
  static LibraryLog& Instance();

  // Opens `path` for appending (empty: no file) and installs the callback.
  // False with *err when the file cannot be opened; nothing is installed then.
  bool Install(const std::string& path, std::string* err);

  LogCounts Counts() const;
  // The QoS server named by the library's discovery line; empty before it.
  std::string Discovered() const;
  // The default address the library reports having bound; empty before it.
  std::string Bound() const;
  // Notable lines not yet shown to the user (discovery, binding results).
  std::vector<std::string> TakeNotes();
  void Flush();

  static void OnLine(uint64_t category, uint32_t subType, int level, const char* text);

 private:
  LibraryLog() = default;
  void Handle(uint64_t category, uint32_t subType, int level, const char* text);

  mutable std::mutex m_mu;
  std::FILE* m_file = nullptr;
  int64_t m_startMs = 0;
  LogCounts m_counts;
  std::string m_discovered;
  std::string m_bound;
  std::vector<std::string> m_notes;
  bool m_bindFailureNoted = false;
};

}  // namespace vdemo
