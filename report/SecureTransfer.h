// The acknowledged channel for QoS data that must not be lost: the host posts
// blocks under keys, they are packed into numbered combined packets, handed to
// the report session (message 4005) and resent every 200 ms until the QoS
// server acknowledges their serial numbers.
//
// Threads: InitParams, CreateKey, PostPacket and ReleaseKey run on host
// threads; Acknowledge, SendPass, KeyCount and LogAndResetStatistics on the
// report session's worker. Every method is safe from any thread.
// Locks: m_lock guards everything but the process-wide key registry, which
// has a lock of its own. Order: m_lock, then the registry lock; m_lock, then
// the coordinator's lock (a send pass posts through the coordinator while it
// holds m_lock, so the coordinator must never call in here holding its own).
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <vector>

#include "report/LocalCommands.h"
#include "report/ReportCoordinator.h"
#include "report/SecureCommands.h"
#include "tzhelper/Tzautolock.h"
#include "veltrane.h"

class SecureTransfer {
 public:
  // Where finished packets go: the packet bytes with their DestTrailer. Runs
  // on the send-pass thread while m_lock is held; its result is not looked at
  // (a packet stays in the resend table until acknowledged either way).
  using PacketSink = std::function<void(const uint8_t* data, uint32_t length)>;

  // Largest block a packet can take: the serialnum plus the block must stay
  // below 1024 bytes.
  static constexpr uint32_t kMaxPacketBody = 1024;
  static constexpr uint32_t kMaxBlockBytes = kMaxPacketBody - 4 - 1;  // 1019
  static constexpr uint32_t kMaxPacketBytes =
      4 + kMaxBlockBytes + static_cast<uint32_t>(report::kCombinedEntryHeadBytes) +
      static_cast<uint32_t>(report::kDestTrailerBytes);  // 1047
  static constexpr uint32_t kDefaultSendQueueSize = 50;
  static constexpr uint32_t kResendIntervalMs = 200;
  // A key's cache-full episode ends once its last refusal is this old.
  static constexpr int32_t kCacheFullEpisodeMs = 10001;

  // Production wiring: packets go to the coordinator's ReportSecurePacket,
  // which copies them into a message for the report session (so a packet may
  // stay in the resend table). The coordinator outlives this object.
  explicit SecureTransfer(IReportCoordinator& coordinator);
  // Packets go to sink (tests capture them here).
  explicit SecureTransfer(PacketSink sink);
  // Destroys the keys this object made; nobody may call in concurrently.
  ~SecureTransfer();
  SecureTransfer(const SecureTransfer&) = delete;
  SecureTransfer& operator=(const SecureTransfer&) = delete;

  // Any thread. Stores the four values (the last call wins) and sets the
  // packets per pass to bandwidth / 20480, limited to 1..50. Returns 0.
  int32_t InitParams(SecureTransferCacheFullCallback callback, uint32_t userValue,
                     uint32_t bandwidth, uint32_t cacheSizeMiB);
  // Keys that may exist at once (created and not yet retired); about 10 MiB
  // of handles and registry entries.
  static constexpr size_t kMaxKeys = 65536;

  // Any thread; takes only the registry lock. Null until InitParams has run,
  // and null (with an error line at most every 5 s) while kMaxKeys keys
  // exist.
  // The handle stays owned by this object: it is destroyed when the key has
  // been released and drained.
  SecureTransferKey CreateKey(uint32_t k0, uint32_t k1, uint32_t k2, uint32_t k3, uint32_t k4);
  // Any thread. Copies the block (it starts with its 28-byte header) and the
  // 16 bytes of ipField (null: empty) with the port; the caller keeps data.
  // 0 queued, -1 refused (not initialised, bad argument, too long, cache
  // full, no memory), -1000 unknown key. A full cache calls the cache-full
  // callback on this thread, after m_lock is released.
  int32_t PostPacket(SecureTransferKey key, const void* data, int32_t length, const char* ipField,
                     uint16_t port);
  // Any thread. 0 released (waiting blocks are still sent), -1 null key or a
  // key that never posted or was already retired, -2 before InitParams.
  int32_t ReleaseKey(SecureTransferKey key);

  // Report session worker. 0 erased, -1 not in the resend table.
  int32_t Acknowledge(uint32_t serialnum);
  // Report session worker: resend due packets, then pack and post new ones,
  // at most the pass quota together; while new blocks wait, resends take at
  // most half of it. Calls the sink holding m_lock.
  void SendPass();
  // Keys that posted and are not yet retired.
  uint32_t KeyCount();
  // Report session worker, every 5 s: three warning lines, counters to 0.
  void LogAndResetStatistics();

  // Diagnostics for tests; any thread.
  uint32_t SendQueueSize();
  uint32_t CachedBytes();
  size_t ResendTableSize();

 private:
  struct KeyHandle;
  // One waiting block: its bytes, then the 16 ip bytes and the port.
  struct StoredBlock {
    std::vector<uint8_t> bytes;
  };
  using BlockQueue = std::list<StoredBlock>;
  struct KeyEntry {
    KeyHandle* handle = nullptr;
    BlockQueue blocks;
  };
  struct SentPacket {
    uint32_t length = 0;  // with the trailer
    uint32_t tick = 0;    // last sending
    uint8_t bytes[kMaxPacketBytes];
  };
  using ResendTable = std::map<uint32_t, SentPacket>;
  using KeyMap = std::map<uint32_t, KeyEntry>;
  // What a refusal for a full cache does once m_lock is released.
  struct CacheFullNote {
    bool refused = false;
    bool logLine = false;  // the key's first refusal of an episode
    SecureTransferCacheFullCallback callback = nullptr;
    uint32_t userValue = 0;
    uint32_t cachedBytes = 0;
  };

  static KeyHandle* AsHandle(SecureTransferKey key) { return static_cast<KeyHandle*>(key); }
  // True when the registry knows this very handle (no dereference of a
  // handle that may be gone). Takes the registry lock.
  static bool IsLiveHandle(const KeyHandle* handle);

  void Post(const uint8_t* data, uint32_t length) TZ_REQUIRES(m_lock);
  // Resend walk of at most quota packets; false when it ended the pass.
  bool ResendDue(uint32_t now, uint32_t quota, uint32_t* passCount) TZ_REQUIRES(m_lock);
  // How many of this pass's packets resends may take.
  uint32_t ResendQuota() TZ_REQUIRES(m_lock);
  // Packs the lowest key with waiting blocks into a packet stored in the
  // resend table. Null when no key has data (or no memory for the packet).
  SentPacket* BuildPacket(uint32_t now) TZ_REQUIRES(m_lock);
  // Its steps: the lowest key with blocks (retiring drained released keys on
  // the way), a node for the packet, the blocks copied in (the length
  // written, 4 when none fitted).
  KeyMap::iterator FirstKeyWithBlocks() TZ_REQUIRES(m_lock);
  bool TakePacketNode(ResendTable::node_type* node) TZ_REQUIRES(m_lock);
  uint32_t PackBlocks(BlockQueue& q, uint8_t* out) TZ_REQUIRES(m_lock);
  // PostPacket's two outcomes under m_lock: a refusal noted for its key's
  // episode, or the block queued (false: no memory, nothing changed).
  void NoteCacheFull(KeyHandle* handle, CacheFullNote* note) TZ_REQUIRES(m_lock);
  bool QueueBlock(KeyHandle* handle, const uint8_t* block, uint32_t len, const char* ipField, uint16_t port)
      TZ_REQUIRES(m_lock);
  void RetireKey(KeyHandle* handle) TZ_REQUIRES(m_lock);
  void RecycleBlock(BlockQueue& from) TZ_REQUIRES(m_lock);
  void RecyclePacket(ResendTable::iterator it) TZ_REQUIRES(m_lock);

  PacketSink m_sink;
  std::atomic<bool> m_initialised{false};

  TzLock m_lock;
  SecureTransferCacheFullCallback m_cacheFullCallback TZ_GUARDED_BY(m_lock) = nullptr;
  uint32_t m_userValue TZ_GUARDED_BY(m_lock) = 0;
  uint32_t m_bandwidth TZ_GUARDED_BY(m_lock) = 0;
  uint32_t m_cacheSize TZ_GUARDED_BY(m_lock) = 0;  // MiB
  uint32_t m_cachedBytes TZ_GUARDED_BY(m_lock) = 0;  // waiting blocks, 18 bytes each beside
  KeyMap m_keys TZ_GUARDED_BY(m_lock);
  uint32_t m_uiSendQueueSize TZ_GUARDED_BY(m_lock) = kDefaultSendQueueSize;
  uint32_t m_resendInterval TZ_GUARDED_BY(m_lock) = kResendIntervalMs;
  bool m_resendTurn TZ_GUARDED_BY(m_lock) = true;  // one-packet passes alternate
  uint32_t m_sendLenTotal TZ_GUARDED_BY(m_lock) = 0;  // never reset
  ResendTable m_resend TZ_GUARDED_BY(m_lock);
  std::map<uint32_t, uint32_t> m_cacheFull TZ_GUARDED_BY(m_lock);  // key id -> tick of last refusal

  // Spare storage kept for reuse, so steady traffic reuses list and map
  // nodes instead of allocating one per block and per packet.
  BlockQueue m_spareBlocks TZ_GUARDED_BY(m_lock);
  ResendTable m_sparePackets TZ_GUARDED_BY(m_lock);

  struct Statistics {
    uint32_t recvCount = 0, recvBytes = 0;
    uint32_t sentCount = 0, sentBytes = 0;
    uint32_t resentCount = 0, resentBytes = 0;
  };
  Statistics m_stats TZ_GUARDED_BY(m_lock);
};
