// Framework debug lines sit on the hot path of every event; they are only
// formatted when debug level is open.
#pragma once
#include "tzhelper/QosLog.h"

namespace AsynModel {

inline bool AsynDebugOn() { return Log::isThisSubTypeOpen(AsynLogCategory, Log::kDebug, 0); }

}  // namespace AsynModel
