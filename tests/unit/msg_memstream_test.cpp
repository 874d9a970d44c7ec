// MemStream size classes and block recycling; LinkBuff chains.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "asynmodel/net/MemStream.h"
#include "platform/system.h"

using AsynModel::LinkBuff;
using AsynModel::MemStream;
using AsynModel::SptrLinkBuff;
using AsynModel::SptrMemStream;

TEST(MsgMemStream, SizeClassAtTheBoundaries) {
  const struct { uint32_t bytes; int cls; } cases[] = {
      {1, 1}, {12, 1}, {28, 1}, {64, 1}, {65, 2}, {128, 2}, {129, 3}, {2048, 6}, {2049, 7},
      {1048576, 15}, {1048577, 16}, {2097152, 16}, {0, 0}, {2097153, 0}, {0xFFFFFFFFu, 0}};
  for (const auto& c : cases) EXPECT_EQ(c.cls, MemStream::SizeClass(c.bytes)) << c.bytes;
  for (int k = 1; k <= 16; ++k) {
    uint32_t bytes = MemStream::ClassBytes(k);
    EXPECT_EQ(k, MemStream::SizeClass(bytes)) << bytes;
    if (k < 16) {
      EXPECT_EQ(k + 1, MemStream::SizeClass(bytes + 1)) << bytes + 1;
    }
  }
}

// The last release gives the block back to its class, where the next stream
// of that class finds it.
TEST(MsgMemStream, CreateTakesABlockOfItsClassAndTheLastReleaseGivesItBack) {
  plat::SetSystemVersionForTest(6, 1);
  for (uint32_t n : {0u, 2097153u, 0xFFFFFFFFu}) {
    SptrMemStream none(MemStream::Create(n));
    ASSERT_TRUE(none) << n;
    EXPECT_EQ(nullptr, none->Buffer()) << n;
    EXPECT_EQ(0, none->RealSection()) << n;
  }
  // Releasing them touched no class pool.
  for (int k = 1; k <= 16; ++k) EXPECT_EQ(0, MemStream::ClassPool(k).CachedBlocks());

  MemStream* s = MemStream::Create(200);
  ASSERT_NE(nullptr, s);
  ASSERT_NE(nullptr, s->Buffer());
  EXPECT_EQ(200u, s->Capacity());
  EXPECT_EQ(0u, s->DataLength());
  EXPECT_EQ(3, s->RealSection());
  EXPECT_EQ(1u, MemStream::ClassPool(3).Counters().liveBlocks);
  std::memset(s->Buffer(), 0x5A, MemStream::ClassBytes(3));  // the whole class block is usable
  uint8_t* block = s->Buffer();
  s->AddRef();
  s->AddRef();
  s->Release();
  EXPECT_EQ(0, MemStream::ClassPool(3).CachedBlocks());  // still referenced
  s->Release();
  EXPECT_EQ(1, MemStream::ClassPool(3).CachedBlocks());

  SptrMemStream again(MemStream::Create(129));
  ASSERT_TRUE(again);
  EXPECT_EQ(block, again->Buffer());  // same class: the cached block is reused
  EXPECT_EQ(0, MemStream::ClassPool(3).CachedBlocks());
}

namespace {

SptrLinkBuff Node(const char* text) {
  uint32_t n = static_cast<uint32_t>(std::strlen(text));
  SptrLinkBuff node(LinkBuff::Create(n == 0 ? 8 : n));
  if (node && n) std::memcpy(node->Data(), text, n);
  if (node) node->SetRealLen(n);
  return node;
}

}  // namespace

TEST(MsgLinkBuff, CopyOutWalksTheChainAndDroppingTheHeadFreesItIntoThePools) {
  plat::SetSystemVersionForTest(6, 1);
  const int64_t live = MemStream::ClassPool(1).Counters().liveBlocks;
  const int64_t cached = MemStream::ClassPool(1).CachedBlocks();
  {
    SptrLinkBuff head = Node("abc");
    ASSERT_TRUE(head);
    head->Next() = Node("");
    head->Next()->Next() = Node("defgh");
    EXPECT_EQ(8u, head->TotalLength());
    EXPECT_EQ(live + 3, MemStream::ClassPool(1).Counters().liveBlocks);
    uint8_t out[16] = {};
    EXPECT_EQ(8, head->CopyOut(out, sizeof(out)));
    EXPECT_EQ(0, std::memcmp(out, "abcdefgh", 8));
    EXPECT_EQ(8, head->CopyOut(out, 8));
    EXPECT_EQ(-1, head->CopyOut(nullptr, 16));
    EXPECT_EQ(-2, head->CopyOut(out, 2));  // shorter than the head
    std::memset(out, 0, sizeof(out));
    EXPECT_EQ(-2, head->CopyOut(out, 7));  // runs short at the third node
    EXPECT_EQ(0, std::memcmp(out, "abc", 3));
  }
  EXPECT_EQ(cached + 3, MemStream::ClassPool(1).CachedBlocks());
  EXPECT_EQ(nullptr, LinkBuff::Create(0));
  EXPECT_EQ(nullptr, LinkBuff::Create(2097153));
  SptrLinkBuff n(LinkBuff::Create(10));
  n->SetRealLen(50);  // never past the block
  EXPECT_EQ(10u, n->RealLen());
}
