// Base of the UDP and TCP processors: what a compute worker calls for their
// completions.
#pragma once
#include <cstdint>

#include "asynmodel/Event.h"
#include "asynmodel/net/ISender.h"

namespace AsynModel {

class SOCKET_ITEM;
struct PerIO;

class IOProcessor {
 public:
  // Result 1 of a completion handler: deliver the message event with its
  // sender to the session named by the event's Msg (its destSid), or release
  // the event's resources when there is none. Runs on compute workers; the
  // caller keeps its sender reference.
  virtual void DeliverEvent(SptrISender& sender, Event& event, SOCKET_ITEM* item);
  virtual ~IOProcessor() = default;
};

}  // namespace AsynModel
