#include "asynmodel/net/LocalSender.h"

#include "asynmodel/AsynManager.h"
#include "asynmodel/Session.h"

namespace AsynModel {

// Thread contract: compute workers (built for each locally posted message).
LocalSender::LocalSender(Session* dest, Session* source) : m_dest(dest), m_source(source), m_managerState(0) {
  if (m_dest != nullptr) m_dest->AddRef();
  if (m_source != nullptr) m_source->AddRef();
  AsynManager* mgr = AsynManager::GetInstanceIfExists();
  if (mgr != nullptr) m_managerState = mgr->GetState();
}

LocalSender::~LocalSender() {
  if (m_dest != nullptr) m_dest->Release();
  if (m_source != nullptr) m_source->Release();
}

}  // namespace AsynModel
