#pragma once
#include "asynmodel/net/SocketItem.h"
#include "tzhelper/TzMemAlloc.h"

namespace AsynModel {

// A UDP socket of the UDP processor, keyed by its local (IP, port).
class UDP_SOCKET_ITEM : public SOCKET_ITEM, public TzPooled<UDP_SOCKET_ITEM, TzListMemAllocMethod> {
 public:
  // Takes the next process-wide item sn (the first item gets 1).
  UDP_SOCKET_ITEM(plat::Socket s, uint32_t localIp, uint16_t localPort);
  using TzPooled<UDP_SOCKET_ITEM, TzListMemAllocMethod>::operator new;
  using TzPooled<UDP_SOCKET_ITEM, TzListMemAllocMethod>::operator delete;

 private:
  ~UDP_SOCKET_ITEM() override;
};
typedef TzSptr<UDP_SOCKET_ITEM> SptrUdpSocketItem;

}  // namespace AsynModel
