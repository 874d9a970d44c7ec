// The Msg wire image: serialization of every body form. The receive-side
// rebuild is driven through real datagrams by the UDP receive tests.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
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

// A shared body follows the header as it is (a null pointer gives the header
// alone, whatever the length says); a chain is copied node by node; stream
// and user-data bodies are not written. One byte short writes nothing.
TEST(MsgSerialize, EachFormWritesTheLittleEndianHeaderAndItsBodyOrNothingWhenOneByteShort) {
  uint8_t shared[40];
  for (int i = 0; i < 40; ++i) shared[i] = static_cast<uint8_t>(i + 1);
  SptrLinkBuff chain(LinkBuff::Create(8));
  std::memcpy(chain->Data(), "1234", 4);
  chain->SetRealLen(4);
  chain->Next() = SptrLinkBuff(LinkBuff::Create(8));
  std::memcpy(chain->Next()->Data(), "567", 3);
  chain->Next()->SetRealLen(3);
  const struct { uint32_t form; const uint8_t* data; uint32_t len; std::string body; } cases[] = {
      {MSG_DATA_SHARED, shared, 40, std::string(shared, shared + 40)},
      {MSG_DATA_SHARED, nullptr, 500, ""},
      {MSG_DATA_LINKBUFF, nullptr, 0, "1234567"},
      {MSG_DATA_MEMSTREAM, nullptr, 0, ""},
      {MSG_DATA_USERDATA, nullptr, 0, ""}};
  for (const auto& c : cases) {
    Msg m;
    FillHeader(&m);
    m.form = c.form;
    m.sharedData = c.data;
    m.sharedLength = c.len;
    if (c.form == MSG_DATA_LINKBUFF) m.linkBuff = chain;
    m.stream = SptrMemStream(MemStream::Create(100));
    m.stream->SetDataLength(100);
    const uint32_t size = 16 + static_cast<uint32_t>(c.body.size());
    std::vector<uint8_t> out(size + 4, 0xEE);
    uint32_t header = 99;
    EXPECT_EQ(-1, m.Serialize(out.data(), size - 1, &header)) << c.form;
    EXPECT_EQ(-1, m.Serialize(nullptr, 1000, &header));
    EXPECT_EQ(std::vector<uint8_t>(size + 4, 0xEE), out) << c.form;
    EXPECT_EQ(99u, header);
    ASSERT_EQ(static_cast<int32_t>(size), m.Serialize(out.data(), size + 4, &header)) << c.form;
    EXPECT_EQ(16u, header);
    const std::string head(reinterpret_cast<const char*>(kHeaderBytes), 16);
    EXPECT_EQ(head + c.body + "\xEE\xEE\xEE\xEE", std::string(out.begin(), out.end())) << c.form;
  }
}
