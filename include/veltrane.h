/* Veltrane: QoS reporting library loaded by a conferencing client.
 *
 * Every function below may be called from any host thread. All ports are in
 * host byte order; all IP arguments are dotted IPv4 text. Arguments described
 * as "16-byte field" must point to 16 readable bytes (all 16 are copied);
 * the text in them ends at the first NUL.
 *
 * The records in this header cross the exported boundary with exactly the
 * sizes asserted below; they contain no pointers, so they are the same on
 * 32-bit and 64-bit builds.
 */
#ifndef VELTRANE_H
#define VELTRANE_H

#include <stdint.h>

/* The only symbols the shared library exports; everything else is hidden.
 * On Windows the DLL marks them for export while it is built; a host needs
 * no mark (its import library or GetProcAddress finds them by name). */
#if defined(_WIN32) && defined(VELT_BUILDING_DLL)
#define VELT_API __declspec(dllexport)
#elif defined(_WIN32)
#define VELT_API
#else
#define VELT_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define VELT_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define VELT_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* ---- Records ------------------------------------------------------------ */

/* One STPRC server. Entries with the same groupid form one group; groups are
 * asked in ascending groupid order. A stprcPort of 0 means "not used". */
typedef struct StprcAddrEntry {
  char stprcIp[16];   /* NUL-terminated within the field */
  uint16_t stprcPort;
  uint16_t reserved;  /* ignored on input */
  uint32_t groupid;
} StprcAddrEntry;

/* Handed to the adjustment callback with kind 0 (the host's sending side).
 * Fields a1..a4, b1, b2, u1..u3, c1, c2 are carried through from the log
 * receiver unchanged. Fill bytes are 0. */
typedef struct AdjustUplinkInfo {
  uint32_t meetId;
  uint32_t UserId;
  uint32_t a1;
  uint32_t a2;
  uint32_t a3;
  uint32_t a4;
  uint8_t fecFirst;
  uint8_t fecSecond;
  int16_t retrans;
  uint32_t capture;
  uint32_t b1;
  uint32_t b2;
  uint32_t u1;
  uint32_t u2;
  uint32_t u3;
  uint8_t c1;
  uint8_t c2;
  uint8_t fill[2];
} AdjustUplinkInfo;

/* Handed to the adjustment callback with kind 1 (one received speaker
 * stream, speakId 10000 or more). Fill bytes are 0. */
typedef struct AdjustDownlinkInfo {
  uint32_t meetId;
  uint32_t UserId;
  uint32_t speakId;
  uint32_t a1;
  uint32_t a2;
  uint32_t a3;
  uint32_t a4;
  uint8_t fecFirst;
  uint8_t fecSecond;
  int16_t retrans;
  uint32_t capture;
  uint32_t b1;
  uint32_t b2;
  uint32_t d1;
  uint32_t d2;
  uint32_t d3;
  uint32_t d4;
  uint32_t d5;
  uint8_t c1;
  uint8_t c2;
  uint8_t fill[2];
} AdjustDownlinkInfo;

VELT_STATIC_ASSERT(sizeof(StprcAddrEntry) == 24, "StprcAddrEntry must be 24 bytes");
VELT_STATIC_ASSERT(sizeof(AdjustUplinkInfo) == 56, "AdjustUplinkInfo must be 56 bytes");
VELT_STATIC_ASSERT(sizeof(AdjustDownlinkInfo) == 68, "AdjustDownlinkInfo must be 68 bytes");

/* ---- Callbacks ---------------------------------------------------------- */

/* Media adjustment: kind 0 with an AdjustUplinkInfo*, kind 1 with an
 * AdjustDownlinkInfo*. Runs on the library's worker thread; the record is
 * valid only during the call. Return quickly: the library's other work
 * waits behind it. */
typedef void (*VeltAdjustCallback)(int kind, void* record);

/* Opaque handle of a SecureTransfer key, made by SecureTransfer_CreateKey. */
typedef void* SecureTransferKey;

/* Called by SecureTransfer_PostPacket[3] (on the posting thread) each time a
 * block is refused because the cache is full. */
typedef void (*SecureTransferCacheFullCallback)(SecureTransferKey key, uint32_t userValue);

/* Every log line, from any thread: category, sub-type, level (1 debug,
 * 2 message, 3 warning, 4 error) and the formatted UTF-8 text. The internal
 * logging header declares the identical typedef. */
typedef void (*VeltLogCallback)(uint64_t category, uint32_t subType, int level, const char* text);

/* ---- Start-up ----------------------------------------------------------- */

/* Start-up results (all three forms):
 *    0  started (with a port range, the address is bound shortly after)
 *  -10  no STPRC entry          -11  local IP text empty
 *    4  out of memory            11  socket layer failed to start
 *   12  framework init failed    13  framework start failed
 *   15  already started          23  binding the single UDP port failed
 * A first port other than 0 and lower than the last port selects port range
 * mode; otherwise the first port alone is bound at start-up (0: any port).
 * InitVeltrane and InitVeltraneWithCallback run in IP adaptive mode. */
VELT_API int32_t InitVeltrane(uint32_t unused1, int32_t nType, const char* localIp,
                              uint16_t firstPort, uint32_t unused2, uint16_t lastPort,
                              const char* stprcIp, uint16_t stprcPort);
VELT_API int32_t InitVeltrane2(uint32_t unused1, int32_t nType, const char* localIp,
                               uint16_t firstPort, uint32_t unused2, uint16_t lastPort,
                               const char* stprcIp, uint16_t stprcPort, uint8_t adaptive);
VELT_API int32_t InitVeltraneWithCallback(VeltAdjustCallback callback, uint32_t unused1,
                                          int32_t nType, const char* localIp,
                                          uint16_t firstPort, uint32_t unused2,
                                          uint16_t lastPort, const char* stprcIp,
                                          uint16_t stprcPort);

/* ---- Configuration ------------------------------------------------------ */

/* Replaces the STPRC list. 0 posted; -1 no start-up has got as far as
 * creating the report session; -2 count 0; -10 no entry usable (all ports 0
 * or beyond 10 groups of 10). */
VELT_API int32_t SetStpRc(const StprcAddrEntry* entries, uint32_t count);

/* Names the configuration directory; "<dir>/qosRecverIP.txt" may hold a
 * fixed receiver "ip:port" used for every record. Null is ignored. */
VELT_API void SetVeltraneDir(const char* directory);

/* Receiver address conversion: Start (no effect), any number of Add, End.
 * End installs exactly the pairs added since the previous End (none: no
 * conversion). The first Add of a source address wins. Call Add and End
 * from one thread. All three return 0 (Add: see below). */
VELT_API uint32_t VELT_CovertRecverAddr_Start(void);
/* 0, or 1 (pair dropped) for a new source once 65536 pairs are staged. */
VELT_API uint32_t VELT_CovertRecverAddr_Add(const char* srcIp, int32_t srcPort,
                                            const char* dstIp, uint32_t dstPort);
VELT_API uint32_t VELT_CovertRecverAddr_End(void);

/* ---- QoS records -------------------------------------------------------- */

/* 0 accepted (also when it could not be queued: that is only logged);
 * 14 not started; 21 started as a relay (nType 1). */
VELT_API int32_t ReportMeetingQosInfo(const void* record, uint32_t length);
/* As above, to destIp (16-byte field):destPort instead of the current QoS
 * server when destPort is not 0. A receiver address read from the file of
 * SetVeltraneDir still wins over both. */
VELT_API int32_t ReportMeetingQosInfo3(const void* record, uint32_t length,
                                       const char* destIp, uint16_t destPort);

/* ---- Secure transfer ---------------------------------------------------- */

/* Must come first; may be repeated (last values win). bandwidth / 20480
 * packets go out per 50 ms pass (1 to 50); cacheSizeMiB bounds the
 * bytes waiting. The result carries no meaning. */
VELT_API int32_t SecureTransfer_InitParams(SecureTransferCacheFullCallback callback,
                                           uint32_t userValue, uint32_t bandwidth,
                                           uint32_t cacheSizeMiB);
/* A new key, or null before SecureTransfer_InitParams and while 65536 keys
 * exist (a key lives until it is released and its data has been sent). */
VELT_API SecureTransferKey SecureTransfer_CreateKey(uint32_t k0, uint32_t k1, uint32_t k2,
                                                    uint32_t k3, uint32_t k4);
/* 0 released (waiting data is still sent); -1 null key or a key that never
 * posted / is already retired; -2 not initialised. */
VELT_API int32_t SecureTransfer_ReleaseKey(SecureTransferKey key);
/* data starts with a 28-byte block header. 0 queued; -1 not initialised,
 * bad argument, a block shorter than its 28-byte header or longer than
 * 1019 bytes (the most one packet carries), cache full or out of memory;
 * -1000 unknown key. */
VELT_API int32_t SecureTransfer_PostPacket3(SecureTransferKey key, const void* data,
                                            int32_t length, const char* destIp,
                                            uint16_t destPort);
VELT_API int32_t SecureTransfer_PostPacket(SecureTransferKey key, const void* data,
                                           int32_t length);

/* ---- Log routing (may be called before start-up) ------------------------- */

/* Every line to cb instead of the file; null restores the file sink. */
VELT_API void VELT_SetLogCallback(VeltLogCallback cb);
/* 0, or -1 when the file cannot be opened (the previous sink stays). */
VELT_API int VELT_SetLogFile(const char* path);
/* Lines below level are dropped; default 2 (debug off). */
VELT_API void VELT_SetLogLevel(int level);

/* ---- Load limits (before start-up) --------------------------------------- */

/* Host records that may wait for the report session at once (default 4096,
 * 16 .. 1048576). Beyond it ReportMeetingQosInfo still returns 0 but drops
 * the record; refusals are logged at most every 5 s and counted in the flow
 * line. 0 set, -1 after a successful start-up, -2 out of range. */
VELT_API int32_t VELT_SetQueueLimit(uint32_t records);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#undef VELT_STATIC_ASSERT

#endif /* VELTRANE_H */
