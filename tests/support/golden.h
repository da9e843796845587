// Reference images: a drawn surface is compared with NAME.png in a folder of
// references, pixel by pixel with a tolerance per channel (anti-aliasing and
// text differ a little between Cairo and Pango builds). On a mismatch the
// drawn image is left beside the reference as NAME.actual.png. Running the
// tests with RVO_UPDATE_GOLDEN=1 rewrites the references instead, for review.
#pragma once

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// tolerance: the largest difference of one channel that still counts as the
// same pixel; allowed: how many pixels may differ beyond it.
inline ::testing::AssertionResult MatchesGolden(cairo_surface_t* surface, const std::string& folder,
                                                const std::string& name, int tolerance = 48, int64_t allowed = 0) {
  const std::string reference = folder + "/" + name + ".png";
  const std::string actual = folder + "/" + name + ".actual.png";
  cairo_surface_flush(surface);
  const char* update = std::getenv("RVO_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    if (cairo_surface_write_to_png(surface, reference.c_str()) != CAIRO_STATUS_SUCCESS) {
      return ::testing::AssertionFailure() << "cannot write " << reference;
    }
    std::remove(actual.c_str());
    return ::testing::AssertionSuccess() << "rewrote " << reference;
  }
  cairo_surface_t* want = cairo_image_surface_create_from_png(reference.c_str());
  auto fail = [&]() {
    cairo_surface_write_to_png(surface, actual.c_str());
    cairo_surface_destroy(want);
    return ::testing::AssertionFailure() << "drawn image left in " << actual << ": ";
  };
  if (cairo_surface_status(want) != CAIRO_STATUS_SUCCESS) return fail() << "no reference " << reference;
  const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
  if (cairo_image_surface_get_width(want) != w || cairo_image_surface_get_height(want) != h) {
    return fail() << "size differs from " << reference;
  }
  cairo_surface_flush(want);
  const uint8_t* a = cairo_image_surface_get_data(surface);
  const uint8_t* b = cairo_image_surface_get_data(want);
  const int sa = cairo_image_surface_get_stride(surface), sb = cairo_image_surface_get_stride(want);
  int64_t differing = 0;
  int left = w, top = h, right = -1, bottom = -1;
  for (int y = 0; y < h; ++y) {
    const uint32_t* ra = reinterpret_cast<const uint32_t*>(a + y * sa);
    const uint32_t* rb = reinterpret_cast<const uint32_t*>(b + y * sb);
    for (int x = 0; x < w; ++x) {
      int worst = 0;
      for (int shift : {0, 8, 16}) {
        worst = std::max(worst, std::abs(int((ra[x] >> shift) & 0xFF) - int((rb[x] >> shift) & 0xFF)));
      }
      if (worst <= tolerance) continue;
      ++differing;
      left = std::min(left, x), top = std::min(top, y), right = std::max(right, x), bottom = std::max(bottom, y);
    }
  }
  if (differing > allowed) {
    return fail() << differing << " pixels differ by more than " << tolerance << " in x " << left << ".." << right
                  << ", y " << top << ".." << bottom;
  }
  cairo_surface_destroy(want);
  std::remove(actual.c_str());
  return ::testing::AssertionSuccess();
}
