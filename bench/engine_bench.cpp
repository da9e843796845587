// Engine start-up: how long a host waits for a fresh context.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/engine.h"
#include "engine/heap.h"

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

namespace {

// The value stack's innermost operations: a scalar pushed and popped, and a
// small list built and taken apart. The blocks are large enough for every
// step, so the timed loops ignore the statuses.
class StackBench {
 public:
  StackBench() : block(1 << 17) { (void)InitEngineContext(block.data(), block.size() * 8, &ctx); }
  std::vector<uint64_t> block;
  EngineContext* ctx = nullptr;
};

void BM_PushPopScalar(benchmark::State& state) {
  StackBench b;
  double x = 0;
  for (auto _ : state) {
    (void)PushRealScalar(b.ctx, 1.5);
    (void)PopRealScalar(b.ctx, &x);
    benchmark::DoNotOptimize(x);
  }
}
BENCHMARK(BM_PushPopScalar);

void BM_ListRoundTrip(benchmark::State& state) {
  StackBench b;
  int32_t count = 0;
  for (auto _ : state) {
    for (int k = 0; k < 8; ++k) (void)PushRealScalar(b.ctx, k);
    (void)MakeListFromValues(b.ctx, 8, false, nullptr, 0);
    (void)ExplodeTopList(b.ctx, &count);
    (void)DropArgsUnderResults(b.ctx, 0, count);
  }
}
BENCHMARK(BM_ListRoundTrip);

}  // namespace

namespace {

// A variable block taken and given back above n live ones, as at each call
// of a deep recursion: the cost must not grow with n. The block has room for
// every allocation.
void BM_AllocateAboveLiveBlocks(benchmark::State& state) {
  std::vector<uint64_t> block(1 << 20);
  EngineContext* ctx = nullptr;
  (void)InitEngineContext(block.data(), block.size() * 8, &ctx);
  int32_t index = 0;
  for (int64_t k = 0; k < state.range(0); ++k) (void)AllocateHeapBlock(ctx, 3, &index);
  for (auto _ : state) {
    (void)AllocateHeapBlock(ctx, 3, &index);
    benchmark::DoNotOptimize(index);
    FreeHeapBlock(ctx, index);
  }
}
BENCHMARK(BM_AllocateAboveLiveBlocks)->Arg(16)->Arg(4096);

}  // namespace
