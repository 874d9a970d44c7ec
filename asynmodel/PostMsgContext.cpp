#include "asynmodel/PostMsgContext.h"

namespace AsynModel {

// Thread contract: any thread.
PostMsgContext* PostMsgContext::Create() {
  return new PostMsgContext();  // pooled: null instead of throwing
}

// Thread contract: any thread holding a reference. The last release destroys
// the Msg (and its stream), drops the sender and the user data, and gives the
// block back to the pool.
void PostMsgContext::Release() {
  if (m_refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

}  // namespace AsynModel
