// SecureTransfer under its real thread pattern: host threads create keys,
// post and release while one worker runs send passes and acknowledges. Every
// block must arrive exactly once (the sanitizer build checks the rest).
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <vector>

#include "secure_test_util.h"

using namespace securetest;

namespace {

TEST(SecureConcurrency, HostThreadsPostWhileTheWorkerSendsAndAcknowledges) {
  constexpr uint32_t kThreads = 4;
  constexpr uint32_t kBlocks = 300;
  PacketCapture cap;
  SecureTransfer st(cap.Sink());
  st.InitParams(nullptr, 0, 2000000, 64);

  std::atomic<uint32_t> postersDone{0};
  std::vector<std::thread> posters;
  for (uint32_t t = 1; t <= kThreads; ++t) {
    posters.emplace_back([&st, &postersDone, t] {
      SecureTransferKey key = st.CreateKey(t, 0, 0, 0, 0);
      EXPECT_NE(nullptr, key);
      for (uint32_t i = 0; i < kBlocks; ++i) {
        const uint32_t len = 32 + (i * 37) % 900;
        const Bytes b = Block(len, t, 1, i, t * 100000 + i);
        EXPECT_EQ(0, st.PostPacket(key, b.data(), static_cast<int32_t>(len), nullptr, 0));
        if (i % 32 == 0) std::this_thread::yield();
      }
      EXPECT_EQ(0, st.ReleaseKey(key));
      postersDone.fetch_add(1);
    });
  }

  // Resends may repeat a packet when the machine is slow; keep each serial
  // number once.
  std::map<uint32_t, Bytes> bySerial;
  bool drained = false;
  for (int round = 0; round < 1000000 && !drained; ++round) {
    st.SendPass();
    for (Bytes& p : cap.Take()) {
      const uint32_t serialnum = wire::GetU32(p.data());
      bySerial.emplace(serialnum, std::move(p));
      st.Acknowledge(serialnum);
    }
    drained = postersDone.load() == kThreads && st.KeyCount() == 0 && st.ResendTableSize() == 0;
    if (!drained) std::this_thread::yield();
  }
  for (std::thread& th : posters) th.join();
  ASSERT_TRUE(drained);
  EXPECT_EQ(0u, st.CachedBytes());

  std::map<uint32_t, int> seen;  // index -> times
  for (const auto& [serialnum, bytes] : bySerial) {
    const Packet p = Read(bytes);
    EXPECT_EQ(serialnum, p.serial);
    for (size_t k = 0; k < p.indexes.size(); ++k) {
      const uint32_t t = p.indexes[k] / 100000;
      EXPECT_EQ(p.h0, t) << "a packet holds blocks of one key only";
      EXPECT_EQ(p.indexes[k] % 100000, p.recordWords[k]);
      ++seen[p.indexes[k]];
    }
  }
  EXPECT_EQ(kThreads * kBlocks, seen.size());
  for (const auto& [index, times] : seen) EXPECT_EQ(1, times) << index;
}

}  // namespace
