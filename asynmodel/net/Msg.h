// The message: four u32 header words and a body that is shared bytes, a
// LinkBuff chain or an owned MemStream. Its 16-byte little-endian wire image
// leads every data datagram.
#pragma once
#include <cstdint>

#include "asynmodel/net/MemStream.h"

namespace AsynModel {

class UserDataInfo;
struct Event;

enum MsgDataForm : uint32_t {
  MSG_DATA_SHARED = 0,
  MSG_DATA_LINKBUFF = 1,
  MSG_DATA_MEMSTREAM = 2,
  MSG_DATA_USERDATA = 3,
};

class Msg : public TzPooled<Msg, TzListMemAllocMethod> {
 public:
  static constexpr uint32_t kWireHeader = 16;

  Msg() = default;
  ~Msg();  // releases user data, the stream and the chain, in that order
  Msg(const Msg&) = delete;
  Msg& operator=(const Msg&) = delete;

  uint32_t msgTag = 1;
  uint32_t msgId = 0;
  uint32_t srcSid = 0;
  uint32_t destSid = 0;
  uint32_t form = MSG_DATA_SHARED;
  const uint8_t* sharedData = nullptr;  // form 0, not owned
  uint32_t sharedLength = 0;            // form 0
  SptrLinkBuff linkBuff;                // form 1
  SptrMemStream stream;                 // form 2
  TzSptr<UserDataInfo> userData;        // carried, never serialized

  // Writes the wire image into dest: 16 + body bytes, or -1 (null
  // destination, capacity short; nothing is written then). *headerSize = 16.
  int32_t Serialize(uint8_t* dest, uint32_t capacity, uint32_t* headerSize) const;
  // Body as a session sees it: pointer (null for an empty body) and length.
  void Body(const uint8_t** data, uint32_t* length) const;
  // Once a send has serialized the datagram, the message refers to it (form
  // 2) instead of the caller's bytes, which need not outlive the send call.
  void UseDatagram(const SptrMemStream& datagram) {
    form = MSG_DATA_MEMSTREAM;
    sharedData = nullptr;
    sharedLength = 0;
    stream = datagram;
  }
};

// Rebuilds a message event from a received datagram held in `stream` with
// `received` bytes and the Msg image at ioHeadOffset (8 or 12). False (with
// its warning logged) when the datagram is too short or no Msg can be made.
bool ConstructRecvEvent(MemStream* stream, uint32_t received, uint32_t ioHeadOffset, Event* out);

}  // namespace AsynModel
