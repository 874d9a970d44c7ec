// The report channel of the log: category 1, sub-type 3025, written straight
// to the log writer (facade lines go through tzhelper/QosLog.h instead).
#pragma once
#include <cstdint>

#include "platform/log.h"

constexpr uint64_t ReportLogCategory = 1;
constexpr uint32_t ReportLogSubType = 3025;

#define REPORT_LOG_DEBUG(...) Log::writeDebug(ReportLogCategory, ReportLogSubType, __VA_ARGS__)
#define REPORT_LOG_MSG(...) Log::writeMessage(ReportLogCategory, ReportLogSubType, __VA_ARGS__)
#define REPORT_LOG_WARN(...) Log::writeWarning(ReportLogCategory, ReportLogSubType, __VA_ARGS__)
#define REPORT_LOG_ERROR(...) Log::writeError(ReportLogCategory, ReportLogSubType, __VA_ARGS__)
