#include "asynmodel/Event.h"

#include "asynmodel/PostMsgContext.h"
#include "asynmodel/UserDataInfo.h"
#include "asynmodel/net/Msg.h"

namespace AsynModel {

// Thread contract: whoever holds the event; it is dropped without dispatch.
void ReleaseEventResources(Event* e) {
  if (e == nullptr) return;
  switch (e->kind) {
    case MsgEvent:
      delete e->msg();
      e->word2 = 0;
      break;
    case TimerEvent:
      if (e->userData() != nullptr) e->userData()->Release();
      e->word3 = 0;
      break;
    case SendResultEvent:
      if (e->context() != nullptr) e->context()->Release();
      e->word2 = 0;
      break;
    default:
      break;  // the other kinds hold nothing
  }
}

}  // namespace AsynModel
