#include "asynmodel/net/Msg.h"

#include <cassert>
#include <cstring>

#include "asynmodel/AsynLog.h"
#include "asynmodel/Event.h"
#include "asynmodel/UserDataInfo.h"
#include "platform/clock.h"
#include "tzhelper/TzWarnLimiter.h"

namespace AsynModel {

namespace {

// The wire image keeps the host's little-endian order; writing byte by byte
// keeps the image the same whatever the build machine.
void PutLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

// User data first, then the stream, then the chain.
Msg::~Msg() {
  userData.reset();
  stream.reset();
  linkBuff.reset();
}

// Thread contract: any thread, as long as nobody changes the Msg meanwhile.
int32_t Msg::Serialize(uint8_t* dest, uint32_t capacity, uint32_t* headerSize) const {
  if (!dest) return -1;

  uint64_t need = kWireHeader;
  if (form == MSG_DATA_LINKBUFF) {
    if (linkBuff) need += linkBuff->TotalLength();
  } else if (form == MSG_DATA_SHARED && sharedData) {
    need += sharedLength;
  }
  if (capacity < need || need > static_cast<uint64_t>(INT32_MAX)) return -1;

  PutLe32(dest, msgTag);
  PutLe32(dest + 4, msgId);
  PutLe32(dest + 8, srcSid);
  PutLe32(dest + 12, destSid);
  if (headerSize) *headerSize = kWireHeader;

  if (form == MSG_DATA_LINKBUFF) {
    if (!linkBuff) return static_cast<int32_t>(kWireHeader);
    int32_t n = linkBuff->CopyOut(dest + kWireHeader, capacity - kWireHeader);
    if (n < 0) return -1;
    return static_cast<int32_t>(kWireHeader) + n;
  }
  if (form == MSG_DATA_SHARED && sharedData && sharedLength != 0) {
    std::memcpy(dest + kWireHeader, sharedData, sharedLength);
    return static_cast<int32_t>(kWireHeader + sharedLength);
  }
  return static_cast<int32_t>(kWireHeader);  // a stream body is not written
}

// Form 2 (every received Msg): the bytes from the stream's payload offset up
// to its data length. Form 1 shows the head node's bytes.
void Msg::Body(const uint8_t** data, uint32_t* length) const {
  const uint8_t* p = nullptr;
  uint32_t n = 0;
  if (form == MSG_DATA_SHARED) {
    if (sharedData) {
      p = sharedData;
      n = sharedLength;
    }
  } else if (form == MSG_DATA_MEMSTREAM) {
    if (stream && stream->Buffer() && stream->DataLength() > stream->PayloadOffset()) {
      p = stream->Buffer() + stream->PayloadOffset();
      n = stream->DataLength() - stream->PayloadOffset();
    }
  } else if (form == MSG_DATA_LINKBUFF) {
    if (linkBuff) {
      p = linkBuff->Data();
      n = linkBuff->RealLen();
    }
  }
  if (n == 0) p = nullptr;
  if (data) *data = p;
  if (length) *length = n;
}

// Thread contract: any thread (the completion worker). On success the event
// owns the new Msg (word2), and the Msg holds its own reference to `stream`;
// the caller keeps its reference either way.
bool ConstructRecvEvent(MemStream* stream, uint32_t received, uint32_t ioHeadOffset, Event* out) {
  Msg* msg = new Msg();  // TzPooled: null instead of throwing
  if (!msg) {
    Log::writeWarning(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::ConstructRecvEvent() 创建Msg失败");
    return false;
  }
  assert(ioHeadOffset > 0 && "IOHeadOffset must follow a datagram header");

  // A datagram shorter than header + 16 holds no complete Msg image; one that
  // claims more bytes than its buffer holds cannot be read safely.
  bool tooShort = received < ioHeadOffset || received - ioHeadOffset < Msg::kWireHeader;
  bool unreadable = !stream || !stream->Buffer() || received > stream->Capacity() || ioHeadOffset == 0;
  if (tooShort || unreadable || !out) {
    static TzWarnLimiter limiter(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::ConstructRecvEvent()");
    if (limiter.Admit()) Log::writeWarning(AsynLogCategory, kLogUdpProcessor, "UDPIOProcess::ConstructRecvEvent() 反序列化Msg失败.");
    delete msg;
    return false;
  }

  const uint8_t* image = stream->Buffer() + ioHeadOffset;
  msg->msgTag = GetLe32(image);
  msg->msgId = GetLe32(image + 4);
  msg->srcSid = GetLe32(image + 8);
  msg->destSid = GetLe32(image + 12);
  msg->form = MSG_DATA_MEMSTREAM;
  msg->stream = SptrMemStream(stream);  // the Msg's own counted reference
  stream->SetPayloadOffset(ioHeadOffset + Msg::kWireHeader);
  stream->SetDataLength(received);

  *out = Event::Make(msg->destSid, MsgEvent, plat::NowMs());
  out->word2 = reinterpret_cast<uintptr_t>(msg);  // the event owns the Msg now
  return true;
}

}  // namespace AsynModel
