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
  // sender to the event's destination session.
  virtual void DeliverEvent(SptrISender& sender, Event& event, SOCKET_ITEM* item);
  virtual ~IOProcessor() = default;
};

}  // namespace AsynModel
