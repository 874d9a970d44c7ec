// MemStream create/release against plain malloc/free for the sizes that the
// transport uses: a small send datagram, a mid-size one, a receive buffer.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "asynmodel/net/MemStream.h"

using AsynModel::MemStream;

static void BM_MemStreamCreateRelease(benchmark::State& state) {
  const uint32_t size = static_cast<uint32_t>(state.range(0));
  MemStream* warm = MemStream::Create(size);  // the class pool holds a block
  warm->AddRef();
  warm->Release();
  for (auto _ : state) {
    MemStream* s = MemStream::Create(size);
    s->AddRef();
    benchmark::DoNotOptimize(s->Buffer());
    s->Release();
  }
}
BENCHMARK(BM_MemStreamCreateRelease)->Arg(64)->Arg(200)->Arg(2048);
BENCHMARK(BM_MemStreamCreateRelease)->Arg(64)->Arg(2048)->Threads(2);

static void BM_MallocFree(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    void* p = std::malloc(size);
    benchmark::DoNotOptimize(p);
    std::free(p);
  }
}
BENCHMARK(BM_MallocFree)->Arg(64)->Arg(200)->Arg(2048);
BENCHMARK(BM_MallocFree)->Arg(64)->Arg(2048)->Threads(2);

BENCHMARK_MAIN();
