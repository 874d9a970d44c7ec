// Steady traffic takes nothing new from the system: once the pools are warm,
// records cycle through the free lists and private heaps.
#include <gtest/gtest.h>

#include "asynmodel/net/MemStream.h"
#include "platform/heap.h"

using AsynModel::MemStream;
using AsynModel::SptrMemStream;

namespace {

void CycleStreams(int rounds) {
  for (int i = 0; i < rounds; ++i) {
    SptrMemStream rx(MemStream::Create(2048));  // a receive buffer
    SptrMemStream tx(MemStream::Create(8 + 16 + static_cast<uint32_t>(i % 200)));  // a send buffer
    if (!rx || !rx->Buffer() || !tx || !tx->Buffer()) {
      ADD_FAILURE() << "stream without buffer at round " << i;
      return;
    }
    rx->Buffer()[0] = static_cast<uint8_t>(i);
    tx->Buffer()[0] = static_cast<uint8_t>(i);
  }
}

}  // namespace

TEST(SteadyState, MemStreamCyclesTakeNothingNewFromTheSystem) {
  CycleStreams(1000);  // warm-up: every class used below holds its blocks
  plat::HeapCounters start = plat::GlobalHeapCounters();
  CycleStreams(1000000);
  plat::HeapCounters end = plat::GlobalHeapCounters();
  EXPECT_EQ(start.systemBlocks, end.systemBlocks);
  EXPECT_EQ(start.liveBlocks, end.liveBlocks);
}
