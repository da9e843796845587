// A sample section drawn on the screen device and compared with its reference
// image (RVO_UPDATE_GOLDEN=1 rewrites it).
#include "tests/support/golden.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "graphics/renderer.h"

namespace {

struct List {
  std::vector<double> d;
  void Element(int code, int32_t word, int32_t colour, const std::vector<double>& data) {
    d.insert(d.end(), {double(code), -1, 1, double(word), double(colour), double(data.size())});
    d.insert(d.end(), data.begin(), data.end());
  }
};

TEST(GoldenImage, SampleSection) {
  constexpr int kWidth = 480, kHeight = 360;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
  {
    DrawingContext dc(surface);
    PrepareScreenDevice(nullptr, nullptr);
    const DrawingDevice device = ScreenDrawingDevice;
    GdiFillRect(0, 0, kWidth, kHeight, 1, &dc);

    SubplotRecord r;
    InitSubplotRecord(&r);
    SetSubplotPixelRect(&r, 0, kWidth, 0, kHeight);
    r.plotOptions |= 0x4 | 0x40;
    SetSubplotTitle(&r, "Sample", -1);
    SetAxisLabels(&r, "t", 1, "v", 1, nullptr, 0);

    List list;
    list.d = {70, -1, -1, 0, 0, 1, 0};
    std::vector<double> curve = {40};
    for (int i = 0; i < 40; ++i) curve.push_back(i * 0.25);
    for (int i = 0; i < 40; ++i) curve.push_back(3 + 2.5 * std::sin(i * 0.25));
    const int32_t blue = 0x0000FF, red = 0xFF0000, green = 0x00A000;
    list.Element(1, 0x1 | kStyleArrowLast, blue, curve);
    list.Element(1, (8 << kStyleKindShift) | 0x4, red, {5, 1, 3, 5, 7, 9, 1, 1.5, 1, 2, 1.2});
    list.Element(7, kStyleFilled | 0x2, green, {0, 0.6, 3, 2, 4, 6, 0.8, 0.5, 1.1});
    list.Element(4, 0x5, 0, {1, 1, 9});
    list.Element(5, 0x1, 0, {2, 6, 8, 4.5, 4.5, 0.8, 0.5});
    double text[2];
    std::memcpy(text, "wave\nbars\npoints", 16);
    list.Element(58, 0, 0,
                 {0, 3, 16, double(0x1 | kStyleArrowLast), double(blue), double(kStyleFilled | 0x2), double(green),
                  double((8 << kStyleKindShift) | 0x4), double(red), text[0], text[1]});
    double x[2] = {0, 10}, y[2] = {-0.5, 6};
    ExtendAutoLimits(&r, x, y, nullptr, 2);

    std::vector<double> scratch(4096);
    int32_t position = 0;
    EXPECT_FALSE(RenderDisplayList(list.d.data(), int32_t(list.d.size()), scratch.data(), int64_t(scratch.size()), &r,
                                   &position, nullptr, nullptr, nullptr, nullptr, nullptr, EditState{-1, 0, 0, 0},
                                   false, &device, &dc));
    EXPECT_EQ(position, int32_t(list.d.size()));
  }
  // Text may differ by a few pixels between font builds.
  EXPECT_TRUE(MatchesGolden(surface, RVO_GOLDEN_DIR, "sample_section", 48, kWidth * kHeight / 500));
  cairo_surface_destroy(surface);
}

}  // namespace
