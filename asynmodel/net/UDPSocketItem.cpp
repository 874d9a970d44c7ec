#include "asynmodel/net/UDPSocketItem.h"

#include <atomic>

#include "platform/completion_port.h"

namespace AsynModel {

UDP_SOCKET_ITEM::UDP_SOCKET_ITEM(plat::Socket s, uint32_t localIp, uint16_t localPort,
                                 plat::CompletionPort* port)
    : m_port(port) {
  m_socket.store(s);
  m_sn = NextSocketItemSn();
  m_lastUse.store(0);
  m_isUdp = 1;
  m_localIp = localIp;
  m_localPort = localPort;
}

UDP_SOCKET_ITEM::~UDP_SOCKET_ITEM() { CloseSocket(); }

bool UDP_SOCKET_ITEM::CloseSocket() { return CloseHandle(m_port); }

}  // namespace AsynModel
