// The coordinator's observer of failures of the framework's default network
// endpoints: it logs and signals the owner's failure events. Rebinding is the
// supervision thread's job (on its next pass that sees a changed IP).
#pragma once
#include <cstdint>

#include "asynmodel/SubScribeEventCallBack.h"

class RouterAccessManager;

class DefaultAddrFailureCallBack : public AsynModel::SubScribeEventCallBack {
 public:
  explicit DefaultAddrFailureCallBack(RouterAccessManager* owner) : m_owner(owner) {}
  // Both run on a framework thread under the manager lock.
  void TCPDefaultListenPortFailureCallBack(const char* ip, uint32_t port, int32_t errorType) override;
  void UDPDefaultPortFailureCallBack(const char* ip, uint32_t port, int32_t errorType) override;

 private:
  RouterAccessManager* m_owner;
};
