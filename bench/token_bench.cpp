// TzToken Take/Give, uncontended and with two threads taking turns.
#include <benchmark/benchmark.h>

#include "tzhelper/TzToken.h"

static TzToken g_token;

static void BM_TokenTakeGive(benchmark::State& state) {
  for (auto _ : state) {
    g_token.Take();
    benchmark::ClobberMemory();
    g_token.Give();
  }
}
BENCHMARK(BM_TokenTakeGive);
BENCHMARK(BM_TokenTakeGive)->Threads(2);

BENCHMARK_MAIN();
