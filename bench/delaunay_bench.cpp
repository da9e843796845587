// Delaunay triangulation of 10,000 uniform random points in the unit square:
// every insertion scans the whole simplex list, so the time grows as m^2.
// Run build/release/bench/delaunay_bench for the figure.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "engine/engine.h"
#include "numeric/numeric.h"

namespace {

void BM_Delaunay(benchmark::State& state) {
  const int m = static_cast<int>(state.range(0));
  std::vector<uint64_t> block(size_t{64} << 17);
  EngineContext* ctx = nullptr;
  if (InitEngineContext(block.data(), block.size() * 8, &ctx) != kOk) {
    state.SkipWithError("no engine");
    return;
  }
  std::mt19937 gen(1);
  std::uniform_real_distribution<double> d(0, 1);
  for (auto _ : state) {
    state.PauseTiming();
    double* re = nullptr;
    if (PushDoubleMatrix(ctx, m, 2, &re, nullptr) != kOk) break;
    for (int k = 0; k < 2 * m; ++k) re[k] = d(gen);
    state.ResumeTiming();
    if (DelaunaynNative(ctx, 1, 1, nullptr) != kOk) {
      state.SkipWithError("delaunayn failed");
      break;
    }
    state.PauseTiming();
    (void)DropArgsUnderResults(ctx, 0, 1);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Delaunay)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
