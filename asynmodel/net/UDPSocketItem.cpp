#include "asynmodel/net/UDPSocketItem.h"

#include <atomic>

#include "platform/completion_port.h"

namespace AsynModel {

namespace {
// One counter for every socket entry of the process; log lines name an entry
// by it ("SocketItem[sn=%u]").
std::atomic<uint32_t> g_itemSn{0};
}  // namespace

uint32_t NextSocketItemSn() { return g_itemSn.fetch_add(1) + 1; }

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

bool UDP_SOCKET_ITEM::CloseSocket() {
  TzTokenGuard guard(m_token);
  plat::Socket s = m_socket.exchange(plat::kInvalidSocket);
  if (s == plat::kInvalidSocket) return false;
  // The port closes sockets it does not know as plain ones, so a socket whose
  // association failed is closed correctly too.
  if (m_port) {
    m_port->CloseSocket(s);
  } else {
    plat::CloseSocket(s);
  }
  return true;
}

}  // namespace AsynModel
