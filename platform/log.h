// Stand-in for the closed Log_writer library: the calls the library makes,
// plus where the lines go (rotating file, in-memory capture, host callback).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

typedef void (*VeltLogCallback)(uint64_t category, uint32_t subType, int level, const char* text);

class Log {
 public:
  enum Level : int { kDebug = 1, kMessage = 2, kWarning = 3, kError = 4 };

  // Opens the default file sink ("veltrane.log") unless the host already
  // installed a sink or a level; later calls do nothing.
  static void open(bool flag, const char* options, bool flag2);
  static void writeDebug(uint64_t category, uint32_t subType, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  static void writeMessage(uint64_t category, uint32_t subType, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  static void writeWarning(uint64_t category, uint32_t subType, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  static void writeError(uint64_t category, uint32_t subType, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  static bool isThisSubTypeOpen(uint64_t category, int level, uint8_t flag);

  // Sinks. Each call replaces the current sink. Safe from any thread.
  static void SetCallbackSink(VeltLogCallback cb);  // null restores the file sink
  static bool SetFileSink(const char* path);        // false: the previous sink stays
  static void SetLevel(int level);                  // lines below are not open
  static int GetLevel();
};

// In-memory capture for tests: every line written while it is installed.
struct LogLine {
  uint64_t category;
  uint32_t subType;
  int level;
  std::string text;
};

class LogCapture {
 public:
  LogCapture();   // installs itself as the sink (and level 1, so debug is kept)
  ~LogCapture();  // restores the previous sink and level
  std::vector<LogLine> Lines() const;
  // Number of lines whose text contains `needle`.
  size_t Count(const std::string& needle) const;
  bool Contains(const std::string& needle) const { return Count(needle) > 0; }
  void Clear();
  // Waits (real time, bounded) until Count(needle) >= n.
  bool WaitFor(const std::string& needle, size_t n = 1, int timeoutMs = 5000) const;
};
