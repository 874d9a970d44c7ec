#include "asynmodel/net/TCPSocketItem.h"

#include "asynmodel/Session.h"
#include "platform/completion_port.h"

namespace AsynModel {

TCP_SOCKET_ITEM::TCP_SOCKET_ITEM(plat::Socket s, plat::CompletionPort* port) : m_port(port) {
  m_socket.store(s);
  m_sn = NextSocketItemSn();
  if (s == plat::kInvalidSocket) m_state = TCP_SOCKET_ERROR;
}

// The last holder is gone, so no lock is needed for the queue.
TCP_SOCKET_ITEM::~TCP_SOCKET_ITEM() TZ_NO_THREAD_SAFETY_ANALYSIS {
  CloseSocket();
  while (TCPIOData* d = m_head) {
    m_head = d->next;
    delete d;
  }
}

bool TCP_SOCKET_ITEM::CloseSocket() { return CloseHandle(m_port); }

void TCP_SOCKET_ITEM::PushBack(TCPIOData* data) {
  data->next = nullptr;
  if (m_tail) {
    m_tail->next = data;
  } else {
    m_head = data;
  }
  m_tail = data;
}

TCPIOData* TCP_SOCKET_ITEM::PopFront() {
  TCPIOData* d = m_head;
  if (d == nullptr) return nullptr;
  m_head = d->next;
  if (m_head == nullptr) m_tail = nullptr;
  d->next = nullptr;
  return d;
}

TCPIOData* TCP_SOCKET_ITEM::Remove(uint32_t seq) {
  TCPIOData* prev = nullptr;
  for (TCPIOData* d = m_head; d != nullptr; prev = d, d = d->next) {
    if (d->seq != seq) continue;
    if (prev) {
      prev->next = d->next;
    } else {
      m_head = d->next;
    }
    if (m_tail == d) m_tail = prev;
    d->next = nullptr;
    return d;
  }
  return nullptr;
}

TCPIOData* TCP_SOCKET_ITEM::TakeAll() {
  TCPIOData* chain = m_head;
  m_head = m_tail = nullptr;
  return chain;
}

}  // namespace AsynModel
