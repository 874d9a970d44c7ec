// The keyed, acknowledged channel: blocks wait per key, a send pass resends
// what the server has not acknowledged within 200 ms and then packs new
// packets, one key at a time, lowest key id first.
#include "report/SecureTransfer.h"

#include <cstring>
#include <new>
#include <set>
#include <utility>

#include "platform/clock.h"
#include "report/ReportLog.h"
#include "tzhelper/TzIntervalGate.h"
#include "tzhelper/TzWireBytes.h"

// Made by CreateKey; the host holds its address. Destroyed only once the key
// has been released and its queue is empty (or with its SecureTransfer).
struct SecureTransfer::KeyHandle {
  uint32_t words[5];             // as the host gave them
  uint32_t key_id;
  // Under owner->m_lock, which the analysis cannot name through a handle.
  bool released;
  const SecureTransfer* owner;
};

namespace {

// Process-wide: key id -> handle, and the set of live handles, so that a
// handle the host passes in is checked by its address before anything reads
// through it.
struct KeyRegistry {
  TzLock lock;
  std::map<uint32_t, void*> byId;
  std::set<const void*> live;
};

KeyRegistry& Registry() {
  // Built in static storage and never destroyed: a worker may still run a
  // send pass while the process exits.
  alignas(KeyRegistry) static unsigned char storage[sizeof(KeyRegistry)];
  static KeyRegistry* registry = new (storage) KeyRegistry;
  return *registry;
}

std::atomic<uint32_t> g_nextKeyId{1};
std::atomic<uint32_t> g_nextSerialnum{1};

// Spare nodes kept for reuse; beyond these, freed storage goes back.
constexpr size_t kSpareBlocks = 64;
constexpr size_t kSparePackets = 64;

// What the log lines print of a block: the key words of its header, its
// roletype and the payload's first u32 (0 when the payload is shorter).
struct KeyWords {
  uint32_t h0 = 0, roletype = 0, h2 = 0, h3 = 0, h4 = 0, h5 = 0, index = 0;
};

KeyWords ReadKeyWords(const uint8_t* block, size_t len) {
  KeyWords w;
  report::BlockHeader h;
  if (report::ReadBlockHeader(block, len, &h) == 0) {
    w.h0 = h.h0;
    w.roletype = h.roletype;
    w.h2 = h.h2;
    w.h3 = h.h3;
    w.h4 = h.h4;
    w.h5 = h.h5;
  }
  if (len >= report::kBlockHeaderBytes + 4) w.index = wire::GetU32(block + report::kBlockHeaderBytes);
  return w;
}

}  // namespace

SecureTransfer::SecureTransfer(PacketSink sink) : m_sink(std::move(sink)) {}

SecureTransfer::SecureTransfer(IReportCoordinator& coordinator)
    : SecureTransfer([&coordinator](const uint8_t* data, uint32_t length) {
        coordinator.ReportSecurePacket(data, length);
      }) {}

SecureTransfer::~SecureTransfer() {
  KeyRegistry& r = Registry();
  TzAutoLock guard(&r.lock);
  for (auto it = r.byId.begin(); it != r.byId.end();) {
    KeyHandle* h = static_cast<KeyHandle*>(it->second);
    if (h->owner != this) {
      ++it;
      continue;
    }
    r.live.erase(h);
    delete h;
    it = r.byId.erase(it);
  }
}

bool SecureTransfer::IsLiveHandle(const KeyHandle* handle) {
  KeyRegistry& r = Registry();
  TzAutoLock guard(&r.lock);
  return r.live.count(handle) != 0;
}

int32_t SecureTransfer::InitParams(SecureTransferCacheFullCallback callback, uint32_t userValue,
                                   uint32_t bandwidth, uint32_t cacheSizeMiB) {
  uint32_t queueSize;
  {
    TzAutoLock guard(&m_lock);
    m_cacheFullCallback = callback;
    m_userValue = userValue;
    m_bandwidth = bandwidth;
    m_cacheSize = cacheSizeMiB;
    // One packet of up to 1 KiB per 50 ms pass for every 20480 units of
    // bandwidth; the host's value is taken as signed, as it always was.
    const int32_t perPass = static_cast<int32_t>(bandwidth) / 20480;
    queueSize = perPass < 1 ? 1u : perPass > 50 ? 50u : static_cast<uint32_t>(perPass);
    m_uiSendQueueSize = queueSize;
    m_initialised.store(true);
  }
  REPORT_LOG_WARN("SecureTransfer::InitParams m_uiSendQueueSize=%d,m_bandwidth=%d,m_cacheSize=%d",
                  static_cast<int>(queueSize), static_cast<int>(bandwidth), static_cast<int>(cacheSizeMiB));
  return 0;
}

SecureTransferKey SecureTransfer::CreateKey(uint32_t k0, uint32_t k1, uint32_t k2, uint32_t k3,
                                            uint32_t k4) {
  if (!m_initialised.load()) return nullptr;
  KeyHandle* h = new (std::nothrow) KeyHandle{{k0, k1, k2, k3, k4}, 0, false, this};
  if (h == nullptr) return nullptr;
  h->key_id = g_nextKeyId.fetch_add(1);

  bool duplicate = false;
  bool stored = false;
  {
    KeyRegistry& r = Registry();
    TzAutoLock guard(&r.lock);
    try {
      if (r.byId.size() >= kMaxKeys) throw std::bad_alloc();  // refused like a failed allocation
      auto ins = r.byId.emplace(h->key_id, h);
      if (!ins.second) {
        duplicate = true;
      } else {
        try {
          r.live.insert(h);
        } catch (const std::bad_alloc&) {
          r.byId.erase(ins.first);
          throw;
        }
        stored = true;
      }
    } catch (const std::bad_alloc&) {
    }
  }
  if (duplicate) REPORT_LOG_ERROR("SecureTransfer创建重复key,异常 .keyid=%d", static_cast<int>(h->key_id));
  if (!stored) {
    delete h;
    static TzIntervalGate limitLine(5000);
    if (!duplicate && limitLine.Pass(plat::MonotonicMs()))
      REPORT_LOG_ERROR("SecureTransfer创建key失败,key数目已达上限:%u", static_cast<unsigned>(kMaxKeys));
    return nullptr;
  }
  REPORT_LOG_DEBUG("SecureTransfer创建key=%p,keyid=%d", static_cast<void*>(h), static_cast<int>(h->key_id));
  return h;
}

int32_t SecureTransfer::PostPacket(SecureTransferKey key, const void* data, int32_t length,
                                   const char* ipField, uint16_t port) {
  if (!m_initialised.load()) return -1;
  // A block shorter than its 28-byte header has no key to log and nothing a
  // packet could copy as its header: it is as wrong as a null pointer.
  if (key == nullptr || data == nullptr || length <= 0 ||
      length < static_cast<int32_t>(report::kBlockHeaderBytes)) {
    REPORT_LOG_ERROR("SecureTransfer参数错误：key=%p,pData=%p,len=%d ", key, data, length);
    return -1;
  }
  KeyHandle* handle = AsHandle(key);
  const uint8_t* block = static_cast<const uint8_t*>(data);
  const uint32_t len = static_cast<uint32_t>(length);
  const uint32_t storedLen = len + static_cast<uint32_t>(report::kDestTrailerBytes);
  const KeyWords w = ReadKeyWords(block, len);

  CacheFullNote full;
  bool queued = false;
  {
    // Held from the key check on, so that a send pass cannot retire the
    // handle between the check and the append.
    TzAutoLock guard(&m_lock);
    if (!IsLiveHandle(handle)) {
      REPORT_LOG_ERROR("SecureTransfer添加数据包信息,key 无效key.异常");
      return -1000;
    }
    REPORT_LOG_DEBUG("SecureTransfer添加数据包信息,key=%u-%u-%u-%u-%u,roletype=%u,index=%u,key addr=%p",
                     w.h0, w.h2, w.h3, w.h4, w.h5, w.roletype, w.index, key);
    // Blocks of 1020 to 1023 bytes are refused with the longer ones: with the
    // 4-byte serialnum in front they would never fit a packet, and a block
    // that can never leave would stop its key's queue for good.
    if (len > kMaxBlockBytes) {
      REPORT_LOG_ERROR("SecureTransfer数据包长度超过MTU最大值,返回错误");
      return -1;
    }
    const uint64_t limit = static_cast<uint64_t>(m_cacheSize) << 20;
    if (static_cast<uint64_t>(m_cachedBytes) + storedLen >= limit) {
      NoteCacheFull(handle, &full);
    } else {
      queued = QueueBlock(handle, block, len, ipField, port);
    }
  }

  if (full.refused) {
    // Outside m_lock: a host callback that posts or releases keys itself
    // must not deadlock.
    if (full.callback != nullptr) full.callback(key, full.userValue);
    if (full.logLine)
      REPORT_LOG_ERROR(
          "SecureTransfer缓冲区满,添加数据包信息丢弃.cache=%u(B),key=%u-%u-%u-%u-%u,roletype=%u,index=%u,len=%d",
          full.cachedBytes, w.h0, w.h2, w.h3, w.h4, w.h5, w.roletype, w.index, length);
    return -1;
  }
  if (!queued) {
    REPORT_LOG_ERROR("SecureTransfer创建数据包内存失败 ");
    return -1;
  }
  return 0;
}

void SecureTransfer::NoteCacheFull(KeyHandle* handle, CacheFullNote* note) {
  note->refused = true;
  note->callback = m_cacheFullCallback;
  note->userValue = m_userValue;
  note->cachedBytes = m_cachedBytes;
  const uint32_t now = plat::GetTickCount();
  try {
    auto ins = m_cacheFull.emplace(handle->key_id, now);
    if (ins.second) {
      note->logLine = true;  // a new episode for this key
    } else {
      ins.first->second = now;
    }
  } catch (const std::bad_alloc&) {
    note->logLine = true;  // no episode could be noted; say so every time
  }
}

bool SecureTransfer::QueueBlock(KeyHandle* handle, const uint8_t* block, uint32_t len, const char* ipField,
                                uint16_t port) {
  const uint32_t storedLen = len + static_cast<uint32_t>(report::kDestTrailerBytes);
  try {
    // Prepared apart and spliced in last, so that a failed allocation
    // leaves neither a half block nor an empty key entry behind.
    BlockQueue one;
    if (!m_spareBlocks.empty()) {
      one.splice(one.begin(), m_spareBlocks, m_spareBlocks.begin());
    } else {
      one.emplace_back();
    }
    std::vector<uint8_t>& bytes = one.front().bytes;
    bytes.resize(storedLen);
    memcpy(bytes.data(), block, len);
    report::WriteDestTrailer(ipField, port, bytes.data() + len);
    KeyEntry& entry = m_keys[handle->key_id];
    entry.handle = handle;
    entry.blocks.splice(entry.blocks.end(), one);
  } catch (const std::bad_alloc&) {
    return false;
  }
  m_cachedBytes += storedLen;
  ++m_stats.recvCount;
  m_stats.recvBytes += storedLen;
  return true;
}

int32_t SecureTransfer::ReleaseKey(SecureTransferKey key) {
  if (!m_initialised.load()) return -2;
  if (key == nullptr) return -1;
  KeyHandle* h = AsHandle(key);
  TzAutoLock guard(&m_lock);
  // A handle the registry no longer knows was retired and destroyed; its id
  // cannot be read any more, so its line shows 0.
  const bool live = IsLiveHandle(h);
  auto it = live ? m_keys.find(h->key_id) : m_keys.end();
  if (it == m_keys.end()) {
    REPORT_LOG_ERROR("SecureTransfer要释放的key=%p已不存在,释放失败,keyid=%d", key,
                     live ? static_cast<int>(h->key_id) : 0);
    return -1;
  }
  REPORT_LOG_DEBUG("SecureTransfer要释放的key=%p,keyid=%d", key, static_cast<int>(h->key_id));
  h->released = true;
  return 0;
}

int32_t SecureTransfer::Acknowledge(uint32_t serialnum) {
  TzAutoLock guard(&m_lock);
  REPORT_LOG_DEBUG("SecureTransfer确认包序号=%u", serialnum);
  auto it = m_resend.find(serialnum);
  if (it == m_resend.end()) return -1;
  REPORT_LOG_DEBUG("SecureTransfer确认包序号=%u，当前包序号=%u", serialnum, it->first);
  RecyclePacket(it);
  return 0;
}

void SecureTransfer::SendPass() {
  TzAutoLock guard(&m_lock);
  const uint32_t now = plat::GetTickCount();
  for (auto it = m_cacheFull.begin(); it != m_cacheFull.end();) {
    if (plat::TickDiff(now, it->second) >= kCacheFullEpisodeMs) {
      it = m_cacheFull.erase(it);
    } else {
      ++it;
    }
  }

  uint32_t passCount = 0;
  const bool more = ResendDue(now, ResendQuota(), &passCount);
  m_resendTurn = passCount == 0;  // a one-packet pass that resent leaves the next to new blocks
  if (!more) return;

  while (passCount < m_uiSendQueueSize) {
    SentPacket* p = BuildPacket(now);
    if (p == nullptr) return;
    Post(p->bytes, p->length);
    ++m_stats.sentCount;
    m_stats.sentBytes += p->length;
    m_sendLenTotal += p->length;
    ++passCount;
    if (passCount >= m_uiSendQueueSize) {
      REPORT_LOG_DEBUG("SecureTransfer::_SendPacket sendlen=%u ", m_sendLenTotal);
      return;
    }
  }
}

// Packets the server never acknowledges would otherwise fill every pass with
// resends and stop new blocks for good: while blocks wait, resends get at
// most half of the pass (a one-packet pass alternates), oldest serialnum
// first; with nothing new waiting they may take all of it.
uint32_t SecureTransfer::ResendQuota() {
  if (m_cachedBytes == 0) return m_uiSendQueueSize;
  const uint32_t half = m_uiSendQueueSize / 2;
  if (half > 0) return half;
  return m_resendTurn ? 1u : 0u;
}

// False when resends used the whole pass.
bool SecureTransfer::ResendDue(uint32_t now, uint32_t quota, uint32_t* passCount) {
  uint32_t resent = 0;
  if (quota == 0) return true;
  for (auto& [serialnum, p] : m_resend) {
    if (plat::TickDiff(now, p.tick) < static_cast<int32_t>(m_resendInterval)) continue;
    Post(p.bytes, p.length);
    p.tick = now;
    ++m_stats.sentCount;
    m_stats.sentBytes += p.length;
    ++m_stats.resentCount;
    m_stats.resentBytes += p.length;
    m_sendLenTotal += p.length;
    ++resent;
    ++*passCount;
    if (resent >= quota) {
      REPORT_LOG_DEBUG("SecureTransfer重发数据包: 重发次数=%u", *passCount);
      return *passCount < m_uiSendQueueSize;
    }
    REPORT_LOG_DEBUG("SecureTransfer重发数据包: serNum=%u", serialnum);
  }
  if (resent > 0) REPORT_LOG_DEBUG("SecureTransfer重发数据包: 重发次数=%u", resent);
  return true;
}

SecureTransfer::SentPacket* SecureTransfer::BuildPacket(uint32_t now) {
  auto key = FirstKeyWithBlocks();
  if (key == m_keys.end()) return nullptr;
  ResendTable::node_type node;
  if (!TakePacketNode(&node)) return nullptr;  // the blocks stay queued for a later pass

  SentPacket& p = node.mapped();
  uint32_t length = PackBlocks(key->second.blocks, p.bytes);
  if (length == 4) {
    // PostPacket refuses every block that could not open a packet, so this
    // does not happen; keep the node rather than send an empty packet.
    m_sparePackets.insert(std::move(node));
    return nullptr;
  }

  const uint32_t serialnum = g_nextSerialnum.fetch_add(1);
  wire::PutU32(p.bytes, serialnum);
  // The destination given to PostPacket stays with the stored block: secured
  // packets always go to the session's current server.
  report::WriteDestTrailer(nullptr, 0, p.bytes + length);
  length += static_cast<uint32_t>(report::kDestTrailerBytes);
  p.length = length;
  p.tick = now;
  node.key() = serialnum;
  // Only a serialnum that wrapped all the way round can still be waiting.
  auto old = m_resend.find(serialnum);
  if (old != m_resend.end()) RecyclePacket(old);
  auto ins = m_resend.insert(std::move(node));
  REPORT_LOG_DEBUG("SecureTransfer组合包序列号=%u,数据长度=%u ", serialnum, length);
  return &ins.position->second;
}

SecureTransfer::KeyMap::iterator SecureTransfer::FirstKeyWithBlocks() {
  auto key = m_keys.begin();
  while (key != m_keys.end() && key->second.blocks.empty()) {
    KeyHandle* h = key->second.handle;
    if (!h->released) {
      ++key;
      continue;
    }
    key = m_keys.erase(key);
    RetireKey(h);
  }
  return key;
}

bool SecureTransfer::TakePacketNode(ResendTable::node_type* node) {
  if (!m_sparePackets.empty()) {
    *node = m_sparePackets.extract(m_sparePackets.begin());
    return true;
  }
  try {
    ResendTable one;
    one.try_emplace(0);
    *node = one.extract(one.begin());
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

uint32_t SecureTransfer::PackBlocks(BlockQueue& q, uint8_t* out) {
  constexpr uint32_t kHeader = static_cast<uint32_t>(report::kBlockHeaderBytes);
  constexpr uint32_t kEntryHead = static_cast<uint32_t>(report::kCombinedEntryHeadBytes);
  constexpr uint32_t kTrailer = static_cast<uint32_t>(report::kDestTrailerBytes);
  uint32_t length = 4;  // room for the serialnum
  bool first = true;
  while (!q.empty()) {
    const std::vector<uint8_t>& stored = q.front().bytes;
    const uint32_t blockLen = static_cast<uint32_t>(stored.size()) - kTrailer;
    if (length + blockLen >= kMaxPacketBody) break;
    const uint8_t* b = stored.data();
    if (first) {
      memcpy(out + length, b, kHeader);  // the first block's header heads the packet
      length += kHeader;
      first = false;
    }
    const uint32_t payloadLen = blockLen - kHeader;
    memcpy(out + length, b + kHeader - 4, 4);  // the record word
    wire::PutU16(out + length + 4, static_cast<uint16_t>(payloadLen));
    memcpy(out + length + kEntryHead, b + kHeader, payloadLen);
    length += kEntryHead + payloadLen;
    const KeyWords w = ReadKeyWords(b, blockLen);
    REPORT_LOG_DEBUG("SecureTransfer组合数据包信息,key=%u-%u-%u-%u-%u,roletype=%u,index=%u", w.h0, w.h2, w.h3,
                     w.h4, w.h5, w.roletype, w.index);
    m_cachedBytes -= static_cast<uint32_t>(stored.size());
    RecycleBlock(q);
  }
  return length;
}

void SecureTransfer::RetireKey(KeyHandle* handle) {
  {
    KeyRegistry& r = Registry();
    TzAutoLock guard(&r.lock);
    auto it = r.byId.find(handle->key_id);
    if (it != r.byId.end() && it->second == handle) r.byId.erase(it);
    r.live.erase(handle);
  }
  REPORT_LOG_DEBUG("SecureTransfer释放key=%p,keyid=%d", static_cast<void*>(handle),
                   static_cast<int>(handle->key_id));
  delete handle;
}

void SecureTransfer::RecycleBlock(BlockQueue& from) {
  if (m_spareBlocks.size() < kSpareBlocks) {
    m_spareBlocks.splice(m_spareBlocks.begin(), from, from.begin());
  } else {
    from.pop_front();
  }
}

void SecureTransfer::RecyclePacket(ResendTable::iterator it) {
  if (m_sparePackets.size() >= kSparePackets) {
    m_resend.erase(it);
    return;
  }
  // Spare nodes keep their serialnum as a key; a clash (after a wrap) just
  // frees the node.
  m_sparePackets.insert(m_resend.extract(it));
}

void SecureTransfer::Post(const uint8_t* data, uint32_t length) {
  if (m_sink) m_sink(data, length);
}

uint32_t SecureTransfer::KeyCount() {
  TzAutoLock guard(&m_lock);
  return static_cast<uint32_t>(m_keys.size());
}

void SecureTransfer::LogAndResetStatistics() {
  TzAutoLock guard(&m_lock);
  REPORT_LOG_WARN("SecureTransfer[统计]收到数据包总个数:%u,收到数据总长度:%u", m_stats.recvCount,
                  m_stats.recvBytes);
  REPORT_LOG_WARN("SecureTransfer[统计]发送数据包总个数:%u,发送数据总长度:%u", m_stats.sentCount,
                  m_stats.sentBytes);
  REPORT_LOG_WARN("SecureTransfer[统计]重发数据包总个数:%u,重发数据总长度:%u", m_stats.resentCount,
                  m_stats.resentBytes);
  m_stats = Statistics();
}

uint32_t SecureTransfer::SendQueueSize() {
  TzAutoLock guard(&m_lock);
  return m_uiSendQueueSize;
}

uint32_t SecureTransfer::CachedBytes() {
  TzAutoLock guard(&m_lock);
  return m_cachedBytes;
}

size_t SecureTransfer::ResendTableSize() {
  TzAutoLock guard(&m_lock);
  return m_resend.size();
}
