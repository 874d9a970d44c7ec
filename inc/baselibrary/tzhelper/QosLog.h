// The logging facade. Report lines (report/ReportLog.h) and framework lines
// (asynmodel/AsynLog.h) call Log directly; facade lines go through these
// functions, which format on the stack (1024 bytes, at most
// 1023 characters kept) and hand the finished text to the message writer as
// "%s"; the host's threshold keeps them by what they mean: QosLogInfo as debug
// (callers check level 1 first), QosLogWarning as a warning, QosLogError as an
// error.
#pragma once
#include <cstdint>

#include "platform/log.h"

constexpr uint64_t FacadeLogCategory = 0x2000000000000000ull;
constexpr uint32_t FacadeLogSubType = 1;

bool QosLogIsOpen(uint64_t category, int level);
void QosLogInfo(uint64_t category, uint32_t subType, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void QosLogWarning(uint64_t category, uint32_t subType, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void QosLogError(uint64_t category, uint32_t subType, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
