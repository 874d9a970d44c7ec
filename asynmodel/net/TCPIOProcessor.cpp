#include "asynmodel/net/TCPIOProcessor.h"

#include "asynmodel/Session.h"
#include "asynmodel/net/TCPIOData.h"

namespace AsynModel {

TCPIOProcessor::TCPIOProcessor(CompletationPortControler* cpc) : m_cpc(cpc) {}

TCPIOProcessor::~TCPIOProcessor() { Destroy(); }

bool TCPIOProcessor::Init() {
  m_inited.store(1);
  return true;
}

bool TCPIOProcessor::Start() {
  m_started.store(1);
  return true;
}

void TCPIOProcessor::Stop() { m_started.store(0); }

void TCPIOProcessor::Destroy() {
  m_started.store(0);
  m_inited.store(0);
}

void TCPIOProcessor::SetQuickTimer(TzQuickTimer* timer) { m_quickTimer = timer; }

// No connection, framing or listening exists yet, so nothing can be carried.
bool TCPIOProcessor::IsUsable() const { return false; }

// Nothing starts TCP operations yet; should a completion arrive, its record
// is freed and nothing is delivered.
int TCPIOProcessor::TCPProc(SOCKET_ITEM* /*item*/, bool /*success*/, PerIO* data, Event* /*event*/,
                            SptrISender* /*sender*/) {
  if (data != nullptr && data->kind == PerIO_TCP) delete static_cast<TCPIOData*>(data);
  return 2;
}

}  // namespace AsynModel
