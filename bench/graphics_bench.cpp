// The device's polyline operation on random walks drawn across an 800 x 600
// image surface, as a plot of a long signal would be: x steps evenly across
// the width, y wanders by unit steps and is folded back at the edges.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <random>
#include <vector>

#include "graphics/device.h"

namespace {

constexpr int kWidth = 800, kHeight = 600;

void Walk(int64_t n, std::vector<double>* x, std::vector<double>* y) {
  std::mt19937_64 rng(42);
  std::normal_distribution<double> step(0, 1);
  x->resize(size_t(n));
  y->resize(size_t(n));
  double v = kHeight / 2.0;
  for (int64_t i = 0; i < n; ++i) {
    v += step(rng);
    if (v < 0) v = -v;
    if (v > kHeight - 1) v = 2 * (kHeight - 1) - v;
    (*x)[size_t(i)] = double(i) * (kWidth - 1) / double(n);
    (*y)[size_t(i)] = v;
  }
}

void BM_PolylineRandomWalk(benchmark::State& state, int32_t word) {
  std::vector<double> x, y;
  Walk(state.range(0), &x, &y);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
  DrawingContext dc(surface);
  PlotStyle style = {word, 0, 0, 0, 0};
  for (auto _ : state) {
    GdiFillRect(0, 0, kWidth, kHeight, 1, &dc);
    GdiPolyline(x.data(), y.data(), int32_t(x.size()), &style, &dc);
    cairo_surface_flush(surface);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  cairo_surface_destroy(surface);
}

void BM_ThinLine(benchmark::State& state) { BM_PolylineRandomWalk(state, 1); }
void BM_ThickLine(benchmark::State& state) { BM_PolylineRandomWalk(state, 1 | kStyleThick); }

BENCHMARK(BM_ThinLine)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThickLine)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
