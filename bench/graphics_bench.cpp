// The device's polyline operation on random walks drawn across an 800 x 600
// image surface, as a plot of a long signal would be: x steps evenly across
// the width, y wanders by unit steps and is folded back at the edges.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <random>
#include <vector>

#include "graphics/device.h"
#include "graphics/renderer.h"

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

// A full redraw of one subplot: background, grid, a curve of n points, frame,
// ticks and labels, on the screen device at 800 x 600. The frame goal is 16 ms.
void BM_RedrawSubplot(benchmark::State& state) {
  const int64_t n = state.range(0);
  std::vector<double> x, y;
  Walk(n, &x, &y);
  std::vector<double> list = {70, -1, -1, 0, 0, 1, 0, 1, -1, 1, 1, 0, double(1 + 2 * n), double(n)};
  list.insert(list.end(), x.begin(), x.end());
  list.insert(list.end(), y.begin(), y.end());
  std::vector<double> scratch(size_t(3 * n));
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
  DrawingContext dc(surface);
  PrepareScreenDevice(nullptr, nullptr);
  SubplotRecord r;
  InitSubplotRecord(&r);
  SetSubplotPixelRect(&r, 0, kWidth, 0, kHeight);
  r.plotOptions |= 0x44;
  ExtendAutoLimits(&r, x.data(), y.data(), nullptr, n);
  for (auto _ : state) {
    int32_t position = 0;
    RenderDisplayList(list.data(), int32_t(list.size()), scratch.data(), int64_t(scratch.size()), &r, &position,
                      nullptr, nullptr, nullptr, nullptr, nullptr, EditState{-1, 0, 0, 0}, false, &ScreenDrawingDevice,
                      &dc);
    cairo_surface_flush(surface);
  }
  state.SetItemsProcessed(state.iterations() * n);
  cairo_surface_destroy(surface);
}

BENCHMARK(BM_RedrawSubplot)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
