#include "asynmodel/net/IOProcessor.h"

#include "asynmodel/AsynManager.h"
#include "asynmodel/Session.h"
#include "asynmodel/net/Msg.h"

namespace AsynModel {

// Thread contract: compute workers. Takes over the event's resources; the
// caller keeps its sender reference.
void IOProcessor::DeliverEvent(SptrISender& sender, Event& event, SOCKET_ITEM* /*item*/) {
  uint32_t sid = event.destSid;
  if (event.kind == MsgEvent && event.msg() != nullptr) sid = event.msg()->destSid;
  AsynManager* mgr = AsynManager::GetInstance();
  SptrSession session = mgr != nullptr ? mgr->FindSession(sid) : SptrSession();
  if (session) {
    session->OnEventArrived(event, sender);
  } else {
    ReleaseEventResources(&event);
  }
}

}  // namespace AsynModel
