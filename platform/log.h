// Stand-in for the closed Log_writer library: the calls the library makes,
// plus where the lines go (rotating file, in-memory capture, host callback).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef void (*VeltLogCallback)(uint64_t category, uint32_t subType, int level, const char* text);

class Log {
 public:
  enum Level : int { kDebug = 1, kMessage = 2, kWarning = 3, kError = 4 };

  // Lines written before open() with no sink installed are dropped.
  // open() selects the default file sink ("veltrane.log" in the working
  // directory, created on the first line) unless a sink is already installed;
  // it never changes the level. Later calls do nothing. Any thread.
  static void open(bool flag, const char* options, bool flag2);
  static void writeDebug(uint64_t category, uint32_t subType, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  static void writeMessage(uint64_t category, uint32_t subType, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  static void writeWarning(uint64_t category, uint32_t subType, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  static void writeError(uint64_t category, uint32_t subType, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  // The writers above: safe from any number of threads at once; each call
  // hands one whole line to the sink from the calling thread. A line below the
  // level costs one atomic load and allocates nothing.
  // True when lines of `level` are kept (level >= the threshold, default 2).
  static bool isThisSubTypeOpen(uint64_t category, int level, uint8_t flag);

  // The severity a line means when the writer that carries it says less: the
  // facade hands warnings and errors to writeMessage like routine lines, yet a
  // host threshold of 3 must keep them. While one is alive, the lines its
  // thread writes are kept or dropped by this severity; they still reach the
  // sink at their writer's level. Scopes nest; the innermost one counts.
  class Severity {
   public:
    explicit Severity(int level);
    ~Severity();
    Severity(const Severity&) = delete;
    Severity& operator=(const Severity&) = delete;

   private:
    int previous_;
  };

  // Sinks. Each call replaces the current sink. Safe from any thread. The
  // callback runs on the writing thread, outside every log lock, so it may
  // log or change sinks itself; a line already on its way when the callback
  // is replaced may still reach the old one.
  static void SetCallbackSink(VeltLogCallback cb);  // null restores the file sink
  // Opens (appends to) a rotating file, creating missing directories; false
  // when it cannot be opened, and the previous sink stays.
  static bool SetFileSink(const char* path);
  static void SetLevel(int level);                  // lines below are not open
  static int GetLevel();
  // Pushes buffered file lines to disk (lines are flushed as written anyway).
  static void Flush();
};

// In-memory capture for tests: every line written while it is installed.
struct LogLine {
  uint64_t category;
  uint32_t subType;
  int level;
  std::string text;
};

// All methods are safe from any thread. Captures nest: each restores what it
// replaced, so destroy them in reverse order.
class LogCapture {
 public:
  LogCapture();   // installs itself as the sink (and level 1, so debug is kept)
  ~LogCapture();  // restores the previous sink and level
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  std::vector<LogLine> Lines() const;
  // Number of lines whose text contains `needle`.
  size_t Count(const std::string& needle) const;
  bool Contains(const std::string& needle) const { return Count(needle) > 0; }
  void Clear();
  // Waits (real time, bounded) until Count(needle) >= n.
  bool WaitFor(const std::string& needle, size_t n = 1, int timeoutMs = 5000) const;

 private:
  friend class LogSinks;  // delivers lines through Append
  void Append(uint64_t category, uint32_t subType, int level, const char* text);
  struct State;
  std::unique_ptr<State> state_;
};
