// A white image surface for pixel tests: probes pixels, collects the pixels
// that differ from white, and writes a PNG of what was drawn for a person to
// look at when a test fails.
#pragma once

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <utility>

#include "platform/drawing.h"

class Canvas {
 public:
  Canvas(int width, int height) : surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height)) {
    cairo_t* cr = cairo_create(surface_);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_destroy(cr);
  }
  ~Canvas() { cairo_surface_destroy(surface_); }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  cairo_surface_t* surface() const { return surface_; }
  int width() const { return cairo_image_surface_get_width(surface_); }
  int height() const { return cairo_image_surface_get_height(surface_); }

  RgbColour At(int x, int y) const {
    cairo_surface_flush(surface_);
    const uint8_t* row = cairo_image_surface_get_data(surface_) + y * cairo_image_surface_get_stride(surface_);
    uint32_t p = reinterpret_cast<const uint32_t*>(row)[x];
    return {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)};
  }

  // Every pixel that is not white, as (x, y).
  std::set<std::pair<int, int>> Inked() const {
    std::set<std::pair<int, int>> out;
    for (int y = 0; y < height(); ++y) {
      for (int x = 0; x < width(); ++x) {
        if (!(At(x, y) == RgbColour{255, 255, 255})) out.insert({x, y});
      }
    }
    return out;
  }

  // The bounding box of the inked pixels: left, top, right, bottom inclusive.
  struct Box {
    int left = 0, top = 0, right = -1, bottom = -1;
  };
  Box InkBox() const {
    Box b{width(), height(), -1, -1};
    for (auto [x, y] : Inked()) {
      b.left = std::min(b.left, x), b.top = std::min(b.top, y);
      b.right = std::max(b.right, x), b.bottom = std::max(b.bottom, y);
    }
    return b;
  }

  void Clear() {
    cairo_t* cr = cairo_create(surface_);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_destroy(cr);
  }

  // Leaves the image in the test's working folder when the test has failed.
  void KeepIfFailed(const std::string& name) const {
    if (!::testing::Test::HasFailure()) return;
    std::string file = name + ".png";
    cairo_surface_write_to_png(surface_, file.c_str());
    std::printf("drawn image left in %s\n", file.c_str());
  }

 private:
  cairo_surface_t* surface_;
};

// Pixel sets written as pictures: '#' marks an inked pixel, the first
// character of the first row is at (x0, y0).
inline std::set<std::pair<int, int>> PixelPicture(int x0, int y0, std::initializer_list<const char*> rows) {
  std::set<std::pair<int, int>> out;
  int y = y0;
  for (const char* row : rows) {
    for (int x = 0; row[x] != 0; ++x) {
      if (row[x] == '#') out.insert({x0 + x, y});
    }
    ++y;
  }
  return out;
}
