// The framework's log category and its sub-types, one per class that writes.
// Framework debug lines sit on the hot path of every event; they are only
// formatted when debug level is open.
#pragma once
#include <cstdint>

#include "platform/log.h"

constexpr uint64_t AsynLogCategory = 0x0000800000000000ull;

// Framework sub-types.
constexpr uint32_t kLogAsynManager = 101;
constexpr uint32_t kLogSession = 104;
constexpr uint32_t kLogCompletionPort = 106;
constexpr uint32_t kLogTcpProcessor = 110;
constexpr uint32_t kLogTcpSender = 112;
constexpr uint32_t kLogUdpProcessor = 120;

namespace AsynModel {

inline bool AsynDebugOn() { return Log::isThisSubTypeOpen(AsynLogCategory, Log::kDebug, 0); }

}  // namespace AsynModel
