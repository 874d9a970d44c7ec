// The logging facade and the three log categories. Report lines (category 1,
// sub-type 3025) and framework lines call Log directly; facade lines go
// through these functions, which format on the stack (1024 bytes, at most
// 1023 characters kept) and hand the finished text to the message writer as
// "%s"; the host's threshold keeps them by what they mean: QosLogInfo as debug
// (callers check level 1 first), QosLogWarning as a warning, QosLogError as an
// error.
#pragma once
#include <cstdint>

#include "platform/log.h"

constexpr uint64_t ReportLogCategory = 1;
constexpr uint64_t FacadeLogCategory = 0x2000000000000000ull;
constexpr uint64_t AsynLogCategory = 0x0000800000000000ull;
constexpr uint32_t ReportLogSubType = 3025;
constexpr uint32_t FacadeLogSubType = 1;

// Framework sub-types.
constexpr uint32_t kLogAsynManager = 101;
constexpr uint32_t kLogSession = 104;
constexpr uint32_t kLogCompletionPort = 106;
constexpr uint32_t kLogTcpProcessor = 110;
constexpr uint32_t kLogTcpSender = 112;
constexpr uint32_t kLogUdpProcessor = 120;

bool QosLogIsOpen(uint64_t category, int level);
void QosLogInfo(uint64_t category, uint32_t subType, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void QosLogWarning(uint64_t category, uint32_t subType, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void QosLogError(uint64_t category, uint32_t subType, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Report-channel shorthands: category 1, sub-type 3025.
#define REPORT_LOG_DEBUG(...) Log::writeDebug(ReportLogCategory, ReportLogSubType, __VA_ARGS__)
#define REPORT_LOG_MSG(...) Log::writeMessage(ReportLogCategory, ReportLogSubType, __VA_ARGS__)
#define REPORT_LOG_WARN(...) Log::writeWarning(ReportLogCategory, ReportLogSubType, __VA_ARGS__)
#define REPORT_LOG_ERROR(...) Log::writeError(ReportLogCategory, ReportLogSubType, __VA_ARGS__)
