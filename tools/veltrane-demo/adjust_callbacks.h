// Counts the library's media-adjustment callbacks and checks each record
// byte for byte against the notification it names.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "bodies.h"

namespace vdemo {

struct CallbackCounts {
  uint64_t calls = 0;     // every callback
  uint64_t distinct = 0;  // notifications called back at least once
  uint64_t uplink = 0;    // distinct ones with kind 0
  uint64_t downlink = 0;  // distinct ones with kind 1
  uint64_t repeats = 0;   // a notification called back again
  uint64_t invalid = 0;   // wrong kind, unknown index or differing bytes
};

// The callback is a plain function without a context argument, so its state
// is process-wide. Instance() is never destroyed: the library keeps running
// until the process ends and may call back at any moment before that.
// Thread contract: OnAdjust runs on the library's worker thread; Expect runs
// before start-up; Snapshot from any thread. One lock guards the state.
class AdjustCallbacks {
 public:
  static AdjustCallbacks& Instance();

  // The notifications the run will send, by index.
  void Expect(const std::vector<vpeer::AdjustNotify>& notes);
  // The VeltAdjustCallback handed to InitVeltraneWithCallback.
  static void OnAdjust(int kind, void* record);

  CallbackCounts Snapshot() const;

 private:
  AdjustCallbacks() = default;
  void Handle(int kind, const void* record);

  mutable std::mutex m_mu;
  std::vector<vpeer::AdjustNotify> m_expect;
  std::vector<uint32_t> m_calls;  // per index
  CallbackCounts m_counts;
};

}  // namespace vdemo
