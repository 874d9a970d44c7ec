// One TCP connection of the TCP processor, keyed by the remote (IP, port) in
// the processor's table. Shared by counted references (the table, senders,
// I/O operations, send time-outs); the last release closes a socket still
// open, frees any queued send records and gives the block back to the pool.
//
// States: 0 created, 1 connecting, 2 sending a frame, 3 connected and idle,
// 4 failed (final; the entry has left the table).
//
// Threads: any. m_lock guards the state, the message being sent and the
// queue; the handle is changed only under m_token, as for UDP entries.
#pragma once
#include <atomic>
#include <cstdint>

#include "asynmodel/net/SocketItem.h"
#include "asynmodel/net/TCPIOData.h"
#include "tzhelper/TzMemAlloc.h"
#include "tzhelper/Tzautolock.h"

namespace plat { class CompletionPort; }

namespace AsynModel {

enum TcpItemState : uint32_t {
  TCP_SOCKET_CREATED = 0,
  TCP_SOCKET_CONNECTING = 1,
  TCP_SOCKET_SENDING = 2,
  TCP_SOCKET_IDLE = 3,
  TCP_SOCKET_ERROR = 4,
};

class TCP_SOCKET_ITEM : public SOCKET_ITEM, public TzPooled<TCP_SOCKET_ITEM, TzListMemAllocMethod> {
 public:
  // Takes the next entry sn. The socket goes back through `port`.
  TCP_SOCKET_ITEM(plat::Socket s, plat::CompletionPort* port);
  using TzPooled<TCP_SOCKET_ITEM, TzListMemAllocMethod>::operator new;
  using TzPooled<TCP_SOCKET_ITEM, TzListMemAllocMethod>::operator delete;

  // Marks the handle invalid and closes it under m_token; pending operations
  // then complete once with an error. False when it was closed already.
  bool CloseSocket();

  // Queue operations; the caller holds m_lock.
  void PushBack(TCPIOData* data) TZ_REQUIRES(m_lock);
  TCPIOData* PopFront() TZ_REQUIRES(m_lock);
  TCPIOData* Remove(uint32_t seq) TZ_REQUIRES(m_lock);
  // Takes the whole queue, in order, as a chain through TCPIOData::next.
  TCPIOData* TakeAll() TZ_REQUIRES(m_lock);

  TzLock m_lock;
  uint32_t m_state TZ_GUARDED_BY(m_lock) = TCP_SOCKET_CREATED;
  uint32_t m_sendStart TZ_GUARDED_BY(m_lock) = 0;  // seconds
  TCPIOData* m_sending TZ_GUARDED_BY(m_lock) = nullptr;
  uint32_t m_sendingSeq TZ_GUARDED_BY(m_lock) = 0;
  uint32_t m_uRemoteIP = 0;  // network order; fixed once in the table
  uint16_t m_uRemotePort = 0;
  // Network order; known when bound, completed when connected (senders
  // read it meanwhile).
  std::atomic<uint32_t> m_uLocalIP{0};
  std::atomic<uint16_t> m_uLocalPort{0};
  uint8_t m_autoConnect = 1;
  std::atomic<uint32_t> m_seq{0};

 private:
  ~TCP_SOCKET_ITEM() override;
  plat::CompletionPort* m_port;
  TCPIOData* m_head TZ_GUARDED_BY(m_lock) = nullptr;
  TCPIOData* m_tail TZ_GUARDED_BY(m_lock) = nullptr;
};
typedef TzSptr<TCP_SOCKET_ITEM> SptrTcpSocketItem;

}  // namespace AsynModel
