#include "asynmodel/net/SocketItem.h"

#include "platform/completion_port.h"

namespace AsynModel {

namespace {
// One counter for every socket entry of the process; log lines name an entry
// by it ("SocketItem[sn=%u]").
std::atomic<uint32_t> g_itemSn{0};
}  // namespace

uint32_t NextSocketItemSn() { return g_itemSn.fetch_add(1) + 1; }

bool SOCKET_ITEM::CloseHandle(plat::CompletionPort* port) {
  TzTokenGuard guard(m_token);
  plat::Socket s = m_socket.exchange(plat::kInvalidSocket);
  if (s == plat::kInvalidSocket) return false;
  if (port) {
    port->CloseSocket(s);
  } else {
    plat::CloseSocket(s);
  }
  return true;
}

}  // namespace AsynModel
