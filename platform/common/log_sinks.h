// Where log lines go: the process-wide sink of the Log stand-in. Private to
// the platform layer (Log and LogCapture use it).
#pragma once
#include <cstdint>
#include <memory>

#include "platform/log.h"

namespace spdlog { class logger; }

// Everything a LogCapture replaces and must put back.
struct LogSinkSnapshot {
  int kind = 0;
  std::shared_ptr<spdlog::logger> file;
  VeltLogCallback callback = nullptr;
  LogCapture* capture = nullptr;
  int level = 0;
};

// All methods are safe from any thread. Lock order: the sink lock is
// innermost except for a capture's own lock, which Deliver takes under it.
class LogSinks {
 public:
  // One finished line to the current sink, on the calling thread.
  static void Deliver(int level, uint64_t category, uint32_t subType, const char* text);
  // Log::open: the default file sink unless one is installed; once.
  static void Open();
  // Null selects the file sink (the last one opened, else the default file).
  static void SetCallback(VeltLogCallback cb);
  static bool SetFile(const char* path);
  static void Flush();

  static int Level();
  static void SetLevel(int level);

  static LogSinkSnapshot InstallCapture(LogCapture* capture);
  static void Restore(const LogSinkSnapshot& previous);
};
