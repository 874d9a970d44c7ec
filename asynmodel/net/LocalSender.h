// The sender of a message posted inside the process. It carries no address;
// replying through it is refused (transport 0). Made by a compute worker for
// each locally posted message event; shared by counted references and safe
// to release from any thread.
#pragma once
#include "asynmodel/net/ISender.h"
#include "tzhelper/TzMemAlloc.h"

namespace AsynModel {

class Session;

class LocalSender : public BaseSender, public TzPooled<LocalSender, TzListMemAllocMethod> {
 public:
  // Takes its own references to both sessions (either may be null).
  LocalSender(Session* dest, Session* source);
  int32_t Reserved(void*, void*) override { return -1; }
  void GetLocalAddr(uint32_t*, uint16_t*) override {}
  void GetRemoteAddr(uint32_t*, uint16_t*) override {}
  uint32_t TransportType() override { return Transport_Local; }
  bool IsValid() override { return m_dest != nullptr || m_source != nullptr; }
  Session* Source() const { return m_source; }

  using TzPooled<LocalSender, TzListMemAllocMethod>::operator new;
  using TzPooled<LocalSender, TzListMemAllocMethod>::operator delete;

 private:
  ~LocalSender() override;
  Session* m_dest;
  Session* m_source;
  uint32_t m_managerState;  // the manager's state when the sender was made
};

}  // namespace AsynModel
