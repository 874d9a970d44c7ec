// The record that carries a start, message, timer, time-out, terminate,
// wake-up or send result to a session. Copied by value (into list nodes and
// PerIOs), never allocated on its own. Word 2 and 3 are pointer-sized here,
// since they carry references.
#pragma once
#include <cstdint>

namespace AsynModel {

enum EventKind : uint32_t {
  StartEvent = 0,
  MsgEvent = 1,
  TimerEvent = 2,
  TimeoutEvent = 3,
  TerminateEvent = 4,
  NotifyEvent = 5,
  SendResultEvent = 6,
  ThreadExitEvent = 7,
};

class Msg;
class PostMsgContext;
class UserDataInfo;

struct Event {
  uint32_t destSid = 0;
  uint32_t kind = 0;
  // kind 1: owned Msg*; kind 2: cancel flag (low 16) | timer id (high 16);
  // kind 3: cancel flag; kind 6: counted PostMsgContext*.
  uintptr_t word2 = 0;
  // kind 2: counted UserDataInfo* or 0; kind 6: result (low 16, signed) |
  // transport marker (high 16).
  uintptr_t word3 = 0;
  int64_t time = 0;  // creation time, framework clock ms
  uint32_t reserved[6] = {0, 0, 0, 0, 0, 0};

  Msg* msg() const { return reinterpret_cast<Msg*>(word2); }
  PostMsgContext* context() const { return reinterpret_cast<PostMsgContext*>(word2); }
  UserDataInfo* userData() const { return reinterpret_cast<UserDataInfo*>(word3); }
  uint16_t cancelFlag() const { return static_cast<uint16_t>(word2 & 0xFFFF); }
  uint16_t timerId() const { return static_cast<uint16_t>((word2 >> 16) & 0xFFFF); }
  int16_t resultCode() const { return static_cast<int16_t>(word3 & 0xFFFF); }
  uint16_t transportMarker() const { return static_cast<uint16_t>((word3 >> 16) & 0xFFFF); }

  static Event Make(uint32_t destSid, uint32_t kind, int64_t now) {
    Event e;
    e.destSid = destSid;
    e.kind = kind;
    e.time = now;
    return e;
  }
};

// Releases what an event holds when it is dropped without being dispatched:
// kind 1 destroys the Msg, kind 2 drops the user-data reference, kind 6 drops
// the PostMsgContext reference. Other kinds hold nothing. Clears the words.
void ReleaseEventResources(Event* e);

}  // namespace AsynModel
