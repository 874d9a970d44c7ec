// One relay registration request in flight: the router client holds a
// reference until it answers, and the answer hands the relay values to the
// coordinator. Nothing in this library issues a registration, so no context
// is ever made here; the class is the coordinator's half of that exchange.
#pragma once
#include <cstdint>

#include "api/RouterClient.h"
#include "tzhelper/TzMemAlloc.h"
#include "tzhelper/TzRefCounter.h"

class RouterAccessManager;

class RelayRegisterContext : public RouterClient::IRAARegisterCB,
                             public TzRefCounterBase<RelayRegisterContext>,
                             public TzPooled<RelayRegisterContext, TzListMemAllocMethod> {
 public:
  RelayRegisterContext(RouterAccessManager* owner, uint32_t requestId) : m_owner(owner), m_requestId(requestId) {}

  // Any thread. A successful answer sets the coordinator's relay values.
  void on_register(int32_t result, uint32_t relayValue1, uint32_t relayValue2) override;
  uint32_t RequestId() const { return m_requestId; }

 protected:
  ~RelayRegisterContext() override = default;
  friend class TzRefCounterBase<RelayRegisterContext>;

 private:
  RouterAccessManager* m_owner;  // the coordinator, never destroyed
  uint32_t m_requestId;
};
