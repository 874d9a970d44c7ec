// The Msg wire image: serialization of every body form. The receive-side
// rebuild is driven through real datagrams by the UDP receive tests.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "asynmodel/AsynLog.h"
#include "asynmodel/Event.h"
#include "asynmodel/UserDataInfo.h"
#include "asynmodel/net/Msg.h"
#include "platform/system.h"

using namespace AsynModel;

namespace {

void FillHeader(Msg* m) {
  m->msgTag = 1;
  m->msgId = 1116;
  m->srcSid = 0x01020304;
  m->destSid = 0xFFFFD7FF;
}

const uint8_t kHeaderBytes[16] = {0x01, 0x00, 0x00, 0x00, 0x5C, 0x04, 0x00, 0x00,
                                  0x04, 0x03, 0x02, 0x01, 0xFF, 0xD7, 0xFF, 0xFF};

}  // namespace

TEST(MsgSerialize, SharedBodyFollowsTheLittleEndianHeaderAndOneByteShortWritesNothing) {
  Msg m;
  FillHeader(&m);
  uint8_t body[40];
  for (int i = 0; i < 40; ++i) body[i] = static_cast<uint8_t>(i + 1);
  m.sharedData = body;
  m.sharedLength = sizeof(body);
  std::vector<uint8_t> out(16 + 40 - 1, 0xEE);
  uint32_t header = 99;
  EXPECT_EQ(-1, m.Serialize(out.data(), static_cast<uint32_t>(out.size()), &header));
  for (uint8_t b : out) ASSERT_EQ(0xEE, b);
  EXPECT_EQ(99u, header);
  EXPECT_EQ(-1, m.Serialize(nullptr, 1000, &header));

  out.assign(16 + 40, 0xEE);
  ASSERT_EQ(56, m.Serialize(out.data(), static_cast<uint32_t>(out.size()), &header));
  EXPECT_EQ(16u, header);
  EXPECT_EQ(0, std::memcmp(out.data(), kHeaderBytes, 16));
  EXPECT_EQ(0, std::memcmp(out.data() + 16, body, 40));

  // A null shared pointer gives the header alone, whatever the length says.
  m.sharedData = nullptr;
  m.sharedLength = 500;
  EXPECT_EQ(16, m.Serialize(out.data(), 16, &header));
  EXPECT_EQ(0, std::memcmp(out.data(), kHeaderBytes, 16));
  EXPECT_EQ(-1, m.Serialize(out.data(), 15, &header));
}

TEST(MsgSerialize, ChainBodyIsCopiedNodeByNodeAndOtherFormsWriteTheHeaderOnly) {
  Msg m;
  FillHeader(&m);
  m.form = MSG_DATA_LINKBUFF;
  m.linkBuff = SptrLinkBuff(LinkBuff::Create(8));
  std::memcpy(m.linkBuff->Data(), "1234", 4);
  m.linkBuff->SetRealLen(4);
  m.linkBuff->Next() = SptrLinkBuff(LinkBuff::Create(8));
  std::memcpy(m.linkBuff->Next()->Data(), "567", 3);
  m.linkBuff->Next()->SetRealLen(3);
  uint8_t out[64];
  uint32_t header = 0;
  ASSERT_EQ(23, m.Serialize(out, sizeof(out), &header));
  EXPECT_EQ(0, std::memcmp(out, kHeaderBytes, 16));
  EXPECT_EQ(0, std::memcmp(out + 16, "1234567", 7));
  std::memset(out, 0xEE, sizeof(out));
  EXPECT_EQ(-1, m.Serialize(out, 22, &header));
  for (uint8_t b : out) ASSERT_EQ(0xEE, b);

  m.form = MSG_DATA_MEMSTREAM;
  m.stream = SptrMemStream(MemStream::Create(100));
  m.stream->SetDataLength(100);
  EXPECT_EQ(16, m.Serialize(out, sizeof(out), &header));
  EXPECT_EQ(0, std::memcmp(out, kHeaderBytes, 16));
  EXPECT_EQ(0xEE, out[16]);
  m.form = MSG_DATA_USERDATA;
  EXPECT_EQ(16, m.Serialize(out, 16, &header));
}
