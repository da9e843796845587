// Fourier transform kernels: a power of two through radix 2 alone, a length
// of small odd factors, and a prime, whose single combination is O(n^2).
// Release build on a loaded 8-core machine: 2^20 in 574 ms, 1488375 in
// 642 ms, the prime 10007 in 284 ms (a prime of 1e6 + 3 would take hours:
// only the break key stops it).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "numeric/numeric.h"

namespace {

void BM_ComputeFft(benchmark::State& state) {
  const int64_t n = state.range(0);
  std::vector<double> re(n), im(n), outRe(n), outIm(n), scratch(2 * n + 64);
  for (auto _ : state) {
    state.PauseTiming();
    for (int64_t k = 0; k < n; ++k) re[k] = static_cast<double>(k % 17), im[k] = 0;
    state.ResumeTiming();
    // The input is destroyed by each call, hence the refill above.
    benchmark::DoNotOptimize(ComputeFft(re.data(), im.data(), n, 1, 1, 1, outRe.data(), outIm.data(), false,
                                        scratch.data(), static_cast<int64_t>(scratch.size()), nullptr));
  }
  state.SetItemsProcessed(state.iterations() * n);
}
// 2^20; 3^5 * 5^3 * 7^2 = 1488375; primes 10007 and 100003.
BENCHMARK(BM_ComputeFft)->Arg(1 << 20)->Arg(1488375)->Arg(10007)->Arg(100003)->Unit(benchmark::kMillisecond);

}  // namespace
