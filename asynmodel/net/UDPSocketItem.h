// A UDP socket of the UDP processor, keyed by its local (IP, port) in the
// processor's table. Shared by counted references (the table, senders, I/O
// records, resend contexts); the last release closes a socket that is still
// open and gives the block back to the pool.
//
// Threads: every method is safe from any thread. The handle is read and
// changed only under m_token (the completion-port controller takes the same
// token around each socket call), so a close never races a send on the
// handle.
#pragma once
#include "asynmodel/net/SocketItem.h"
#include "tzhelper/TzMemAlloc.h"

namespace plat { class CompletionPort; }

namespace AsynModel {

class UDP_SOCKET_ITEM : public SOCKET_ITEM, public TzPooled<UDP_SOCKET_ITEM, TzListMemAllocMethod> {
 public:
  // Takes the next process-wide item sn (the first item gets 1). `port` is
  // the completion port the socket is (or will be) associated with, through
  // which it must be closed; null closes it as a plain socket.
  UDP_SOCKET_ITEM(plat::Socket s, uint32_t localIp, uint16_t localPort,
                  plat::CompletionPort* port = nullptr);
  using TzPooled<UDP_SOCKET_ITEM, TzListMemAllocMethod>::operator new;
  using TzPooled<UDP_SOCKET_ITEM, TzListMemAllocMethod>::operator delete;

  // Marks the handle invalid and closes it, under m_token, so pending
  // operations complete once with an error. False when it was closed already.
  bool CloseSocket();

 private:
  ~UDP_SOCKET_ITEM() override;
  plat::CompletionPort* m_port;
};
typedef TzSptr<UDP_SOCKET_ITEM> SptrUdpSocketItem;

}  // namespace AsynModel
