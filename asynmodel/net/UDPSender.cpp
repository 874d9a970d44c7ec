#include "asynmodel/net/UDPSender.h"

#include "asynmodel/AsynManager.h"
#include "asynmodel/PostMsgContext.h"
#include "asynmodel/Session.h"
#include "asynmodel/net/UDPIOProcess.h"

namespace AsynModel {

UDPSender::UDPSender(uint32_t localIp, uint16_t localPort, const plat::SockAddrIn& remote)
    : m_localIp(localIp), m_localPort(localPort), m_remote(remote) {}

UDPSender::UDPSender(const SptrUdpSocketItem& item, const plat::SockAddrIn& remote)
    : m_localIp(item ? item->m_localIp : 0),
      m_localPort(item ? item->m_localPort : 0),
      m_remote(remote),
      m_item(item) {}

UDPSender::~UDPSender() = default;

void UDPSender::GetLocalAddr(uint32_t* ip, uint16_t* port) {
  TzTokenGuard guard(m_token);
  if (ip) *ip = m_localIp;
  if (port) *port = m_localPort;
}

void UDPSender::GetRemoteAddr(uint32_t* ip, uint16_t* port) {
  if (ip) *ip = plat::NetToHost32(m_remote.addrBe);
  if (port) *port = plat::NetToHost16(m_remote.portBe);
}

bool UDPSender::IsValid() {
  TzTokenGuard guard(m_token);
  return m_item && m_item->IsValid();
}

uint32_t UDPSender::EstablishSocket() {
  TzTokenGuard guard(m_token);
  if (m_item) {
    if (m_item->IsValid()) {
      // Already established (possibly by another thread just now).
      m_localIp = m_item->m_localIp;
      m_localPort = m_item->m_localPort;
      return UdpSender_AlreadyPresent;
    }
    // The socket died under us: forget it, and the address it stood for, so
    // the next attempt goes to the default address.
    m_item.reset();
    m_localIp = 0;
    m_localPort = 0;
    return UdpSender_ItemDropped;
  }

  AsynManager* manager = AsynManager::GetInstanceIfExists();
  UDPIOProcess* udp = manager ? manager->GetUDPProcessor() : nullptr;
  SptrUdpSocketItem item;
  if (!udp || udp->FindSocketIfNotThenCreateNewOne(m_localIp, m_localPort, &item, false) < 0 ||
      !item) {
    m_localIp = 0;
    m_localPort = 0;
    return UdpSender_FindFailed;
  }
  m_item = item;
  m_localIp = item->m_localIp;
  m_localPort = item->m_localPort;
  return UdpSender_OK;
}

uint32_t UDPSender::AsynSendEx(const SptrPostMsgContext& context, const SptrSession& session) {
  AsynManager* manager = AsynManager::GetInstanceIfExists();
  if (!manager || manager->GetState() != Running) return UdpSender_NoManager;
  UDPIOProcess* udp = manager->GetUDPProcessor();
  if (!udp) return UdpSender_NoManager;

  uint32_t r = EstablishSocket();
  if (r == UdpSender_ItemDropped) r = EstablishSocket();
  if (r != UdpSender_OK && r != UdpSender_AlreadyPresent) return r;

  SptrUdpSocketItem item;
  {
    TzTokenGuard guard(m_token);
    item = m_item;  // our own reference: the send runs outside the token
  }
  return udp->SendMsg(m_remote, item, context, session);
}

}  // namespace AsynModel
