// One call-log report in flight: the ReportCmd it sends, its guid, the
// receivers it tries one after the other and whether it has ended.
//
// Threads: made and used by the report session on its worker; armed timers
// and the session's containers hold counted references, and the last one
// frees it (back to its pool).
#pragma once
#include <cstdint>

#include "asynmodel/PeerAddress.h"
#include "asynmodel/UserDataInfo.h"
#include "report/ReportLogCommands.h"
#include "tzhelper/TzMemAlloc.h"

class ReportCallInfoContext : public AsynModel::UserDataInfo,
                              public TzPooled<ReportCallInfoContext, TzListMemAllocMethod> {
 public:
  static constexpr uint32_t kMaxText = 1024;
  static constexpr uint32_t kMsgTypeInitial = 1110;

  // A new guid: the low 32 bits count reports in this process (from 1), the
  // high 32 bits are eight random decimal digits. The counter is widened with
  // its sign, so past 2^31 it fills the high half.
  static uint64_t NewGuid();
  // A context holding text; null when length is above 1024 or no memory is
  // left. The caller receives the first reference.
  static TzSptr<ReportCallInfoContext> Make(const char* text, uint32_t length);

  // Serializes the command part into out; the ReportCmd writer's result.
  int WriteCommand(uint8_t* out, size_t cap) const;
  // Whether the text holds a key between a '[' and the next ']'; key gets it.
  bool BracketKey(const char** key, uint32_t* keyLength) const;

  // The command part.
  uint8_t version = report::kReportCmdVersion;
  char name[64] = {};  // always empty
  uint32_t text_len = 0;
  char text[kMaxText];
  uint32_t log_index = 0;
  uint32_t attempt = 0;
  uint32_t elapsed = 0;
  uint64_t guid_copy = 0;

  uint64_t guid = 0;
  uint64_t start_time = 0;  // framework clock, ms since 1970
  uint32_t next_receiver = 0;
  bool finished = false;
  AsynModel::PeerAddress receivers[report::kMaxReceivers];
  uint32_t receiver_count = 0;
  uint32_t msg_type = kMsgTypeInitial;

 protected:
  ~ReportCallInfoContext() override = default;

 private:
  ReportCallInfoContext() = default;
};
typedef TzSptr<ReportCallInfoContext> SptrReportCallInfoContext;
