// The exported C functions. Each forwards to the coordinator; nothing thrown
// inside the library crosses into the host (an allocation failure deep in a
// container becomes the call's failure result).
#include <cstring>

#include "api/RouterAccessManager.h"
#include "platform/log.h"
#include "report/RecordBacklog.h"
#include "report/ReportLog.h"
#include "veltrane.h"

namespace {

RouterAccessManager* Coordinator() { return RouterAccessManager::GetInstance(); }

// The one-entry STPRC array the three start-up forms build from their
// arguments: the 16 bytes at the caller's pointer, the port, group 0.
StprcAddrEntry OneEntry(const char* stprcIp, uint16_t stprcPort) {
  StprcAddrEntry e;
  memset(&e, 0, sizeof(e));
  if (stprcIp) memcpy(e.stprcIp, stprcIp, strnlen(stprcIp, sizeof(e.stprcIp)));
  e.stprcPort = stprcPort;
  return e;
}

int32_t StartUp(VeltAdjustCallback cb, uint32_t unused1, int32_t nType, const char* localIp,
                uint16_t firstPort, uint32_t unused2, uint16_t lastPort, const char* stprcIp,
                uint16_t stprcPort, uint8_t adaptive) {
  try {
    RouterAccessManager* c = Coordinator();
    if (!c) return Init_NoMemory;
    StprcAddrEntry entry = OneEntry(stprcIp, stprcPort);
    return c->Init(cb, unused1, nType, localIp, firstPort, unused2, lastPort, &entry, 1, adaptive,
                   nullptr, 0);
  } catch (...) {
    return Init_NoMemory;
  }
}

}  // namespace

extern "C" {

VELT_API int32_t InitVeltrane(uint32_t unused1, int32_t nType, const char* localIp, uint16_t firstPort,
                              uint32_t unused2, uint16_t lastPort, const char* stprcIp,
                              uint16_t stprcPort) {
  return StartUp(nullptr, unused1, nType, localIp, firstPort, unused2, lastPort, stprcIp, stprcPort, 1);
}

VELT_API int32_t InitVeltrane2(uint32_t unused1, int32_t nType, const char* localIp, uint16_t firstPort,
                               uint32_t unused2, uint16_t lastPort, const char* stprcIp,
                               uint16_t stprcPort, uint8_t adaptive) {
  return StartUp(nullptr, unused1, nType, localIp, firstPort, unused2, lastPort, stprcIp, stprcPort,
                 adaptive ? 1 : 0);
}

VELT_API int32_t InitVeltraneWithCallback(VeltAdjustCallback callback, uint32_t unused1, int32_t nType,
                                          const char* localIp, uint16_t firstPort, uint32_t unused2,
                                          uint16_t lastPort, const char* stprcIp, uint16_t stprcPort) {
  return StartUp(callback, unused1, nType, localIp, firstPort, unused2, lastPort, stprcIp, stprcPort, 1);
}

VELT_API int32_t SetStpRc(const StprcAddrEntry* entries, uint32_t count) {
  try {
    RouterAccessManager* c = Coordinator();
    return c ? c->SetStpRc(entries, count) : -1;
  } catch (...) {
    return -1;
  }
}

VELT_API int32_t ReportMeetingQosInfo3(const void* record, uint32_t length, const char* destIp,
                                       uint16_t destPort) {
  try {
    RouterAccessManager* c = Coordinator();
    return c ? c->ReportCallInfo(record, length, destIp, destPort) : Report_NotStarted;
  } catch (...) {
    return Report_OK;  // a failed post is only logged
  }
}

VELT_API int32_t ReportMeetingQosInfo(const void* record, uint32_t length) {
  static const char kNoDestination[16] = {};
  return ReportMeetingQosInfo3(record, length, kNoDestination, 0);
}

VELT_API void SetVeltraneDir(const char* directory) {
  try {
    RouterAccessManager* c = Coordinator();
    if (c) c->SetConfigDir(directory);
  } catch (...) {
  }
}

VELT_API int32_t SecureTransfer_InitParams(SecureTransferCacheFullCallback callback, uint32_t userValue,
                                           uint32_t bandwidth, uint32_t cacheSizeMiB) {
  try {
    RouterAccessManager* c = Coordinator();
    return c ? c->Secure().InitParams(callback, userValue, bandwidth, cacheSizeMiB) : -1;
  } catch (...) {
    return -1;
  }
}

VELT_API SecureTransferKey SecureTransfer_CreateKey(uint32_t k0, uint32_t k1, uint32_t k2, uint32_t k3,
                                                    uint32_t k4) {
  try {
    RouterAccessManager* c = Coordinator();
    return c ? c->Secure().CreateKey(k0, k1, k2, k3, k4) : nullptr;
  } catch (...) {
    return nullptr;
  }
}

VELT_API int32_t SecureTransfer_ReleaseKey(SecureTransferKey key) {
  try {
    RouterAccessManager* c = Coordinator();
    if (!c) return -1;
    REPORT_LOG_WARN("SecureTransfer释放Key！");
    return c->Secure().ReleaseKey(key);
  } catch (...) {
    return -1;
  }
}

VELT_API int32_t SecureTransfer_PostPacket3(SecureTransferKey key, const void* data, int32_t length,
                                            const char* destIp, uint16_t destPort) {
  try {
    RouterAccessManager* c = Coordinator();
    return c ? c->Secure().PostPacket(key, data, length, destIp, destPort) : -1;
  } catch (...) {
    return -1;
  }
}

VELT_API int32_t SecureTransfer_PostPacket(SecureTransferKey key, const void* data, int32_t length) {
  static const char kNoDestination[16] = {};
  return SecureTransfer_PostPacket3(key, data, length, kNoDestination, 0);
}

VELT_API uint32_t VELT_CovertRecverAddr_Start(void) { return 0; }

VELT_API uint32_t VELT_CovertRecverAddr_Add(const char* srcIp, int32_t srcPort, const char* dstIp,
                                            uint32_t dstPort) {
  try {
    RouterAccessManager* c = Coordinator();
    if (c) return c->AddCovertRecverAddr(srcIp, srcPort, dstIp, dstPort);
  } catch (...) {
  }
  return 0;
}

VELT_API uint32_t VELT_CovertRecverAddr_End(void) {
  try {
    RouterAccessManager* c = Coordinator();
    if (c) c->EndCovertRecverAddr();
  } catch (...) {
  }
  return 0;
}

VELT_API void VELT_SetLogCallback(VeltLogCallback cb) { Log::SetCallbackSink(cb); }

VELT_API int VELT_SetLogFile(const char* path) { return Log::SetFileSink(path) ? 0 : -1; }

VELT_API void VELT_SetLogLevel(int level) { Log::SetLevel(level); }

VELT_API int32_t VELT_SetQueueLimit(uint32_t records) {
  RouterAccessManager* c = Coordinator();
  if (c != nullptr && c->Started()) return -1;
  return report::RecordBacklog::Global().SetLimit(records);
}

}  // extern "C"
