// Engine start-up: how long a host waits for a fresh context.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/engine.h"

namespace {

void BM_InitEngineContext(benchmark::State& state) {
  std::vector<uint64_t> block(static_cast<size_t>(state.range(0)) / 8);
  for (auto _ : state) {
    EngineContext* ctx = nullptr;
    benchmark::DoNotOptimize(InitEngineContext(block.data(), block.size() * 8, &ctx));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_InitEngineContext)->Arg(64 << 10)->Arg(16 << 20);

}  // namespace
