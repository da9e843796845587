#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "graphics/graphics.h"

namespace {

SubplotRecord Fresh() {
  SubplotRecord r;
  std::memset(&r, 0, sizeof r);
  InitSubplotRecord(&r);
  return r;
}

SubplotRecord WithLimits(double x0, double x1, double y0, double y1, int32_t flags = 0) {
  SubplotRecord r = Fresh();
  SetScaleFlags(&r, flags, 0xFF);
  const double x[] = {x0, x1}, y[] = {y0, y1};
  ExtendAutoLimits(&r, x, y, nullptr, 2);
  return r;
}

double PixelX(const SubplotRecord& r, double v) {
  double px;
  DataToPixel(&r, &v, nullptr, nullptr, 1, &px, nullptr, nullptr);
  return px;
}

TEST(PixelMapping, AutomaticLimitsLeaveFourPercentPadding) {
  SubplotRecord r = WithLimits(0, 10, 0, 10);
  EXPECT_DOUBLE_EQ(r.xScale, 96);
  EXPECT_DOUBLE_EQ(r.xOffset, 20);
  EXPECT_DOUBLE_EQ(r.yScale, -96);
  EXPECT_DOUBLE_EQ(r.yOffset, 980);
  EXPECT_EQ(r.hasScale, 1);
  double px[2], py[2];
  const double x[] = {0, 10}, y[] = {0, 10};
  DataToPixel(&r, x, y, nullptr, 2, px, py, nullptr);
  EXPECT_DOUBLE_EQ(px[0], 20);
  EXPECT_DOUBLE_EQ(px[1], 980);
  EXPECT_DOUBLE_EQ(py[1], 20) << "y grows upward on a screen";

  SubplotRecord flat = WithLimits(5, 5, 5, 5);
  EXPECT_TRUE(std::isfinite(flat.xScale) && std::isfinite(flat.xOffset));
  EXPECT_NEAR(flat.xScale, 960 / 1e-6, 1);
}

TEST(PixelMapping, LogarithmicAxisShowsAtMostSixDecades) {
  SubplotRecord r = WithLimits(0, 100, 1, 2, kScaleLogX);
  double low, high;
  PixelToData(&r, 20, 0, &low, nullptr);
  PixelToData(&r, 980, 0, &high, nullptr);
  EXPECT_NEAR(low, 1e-4, 1e-12);
  EXPECT_NEAR(high, 100, 1e-9);

  // Limits with no positive value at all: the decade 1 to 10, never ln(0).
  SubplotRecord none = WithLimits(-5, 0, 1, 2, kScaleLogX);
  ASSERT_TRUE(std::isfinite(none.xScale) && std::isfinite(none.xOffset));
  PixelToData(&none, 20, 0, &low, nullptr);
  PixelToData(&none, 980, 0, &high, nullptr);
  EXPECT_NEAR(low, 1, 1e-12);
  EXPECT_NEAR(high, 10, 1e-12);
}

TEST(PixelMapping, ExtendAutoLimitsFollowsTheOtherAxisAndItsData) {
  SubplotRecord r = Fresh();
  SetSubplotLimits(&r, 0, 0, 0, 1, 0, 0);
  const double x[] = {5, 6}, y[] = {2, 0.5};
  ExtendAutoLimits(&r, x, y, nullptr, 2);
  EXPECT_EQ(r.minimum[0], 6) << "the point outside the set y range does not count";
  EXPECT_EQ(r.maximum[0], 6);
  EXPECT_EQ(r.mode[0], kAxisAutomatic);
  EXPECT_EQ(r.maximum[1], 1) << "a set axis is not extended";
  EXPECT_EQ(r.mode[1], kAxisSet);
  EXPECT_EQ(r.minimum[2], 0) << "a flat plot lies in z = 0";
  EXPECT_EQ(r.maximum[2], 0);

  SubplotRecord n = Fresh();
  const double xs[] = {NAN, 1, 3}, ys[] = {2, NAN, 4}, zs[] = {NAN, -1, NAN};
  ExtendAutoLimits(&n, xs, ys, zs, 3);
  EXPECT_EQ(n.minimum[0], 1);
  EXPECT_EQ(n.maximum[0], 3);
  EXPECT_EQ(n.minimum[1], 2);
  EXPECT_EQ(n.maximum[1], 4);
  EXPECT_EQ(n.minimum[2], -1);
  EXPECT_EQ(n.maximum[2], -1);
}

TEST(PixelMapping, LogCurveKeepsItsPixelOverValuesNotPositive) {
  SubplotRecord r = WithLimits(1, 10, 0, 1, kScaleLogX);
  const double x[] = {1, -1, 10, 0};
  double px[4], depth[4] = {9, 9, 9, 9};
  DataToPixel(&r, x, nullptr, nullptr, 4, px, nullptr, depth);
  EXPECT_DOUBLE_EQ(px[0], 20);
  EXPECT_EQ(px[1], px[0]);
  EXPECT_DOUBLE_EQ(px[2], 980);
  EXPECT_EQ(px[3], px[2]);
  for (double d : depth) EXPECT_EQ(d, 0);
  // In place, as the renderer maps its scratch arrays.
  double inPlace[] = {1, -1, 10};
  DataToPixel(&r, inPlace, nullptr, nullptr, 3, inPlace, nullptr, nullptr);
  EXPECT_EQ(inPlace[1], inPlace[0]);
}

TEST(PixelMapping, BottomUpRectangleTurnsTheYAxis) {
  SubplotRecord r = Fresh();
  SetSubplotPixelRect(&r, 0, 1000, 1000, 0);
  EXPECT_LT(r.characterHeight, 0);
  EXPECT_FALSE(IsPixelYAxisDownward(&r));
  const double x[] = {0, 10}, y[] = {0, 10};
  ExtendAutoLimits(&r, x, y, nullptr, 2);
  EXPECT_GT(r.yScale, 0);
  double px, py;
  const double top = 10;
  DataToPixel(&r, &top, &top, nullptr, 1, &px, &py, nullptr);
  EXPECT_DOUBLE_EQ(py, 980);
  SetCharacterSize(&r, 8, 14);
  EXPECT_EQ(r.characterHeight, -14);
}

TEST(PixelMapping, HaveSameScaleTolerances) {
  const SubplotRecord a = WithLimits(0, 10, 0, 10);
  struct Case {
    const char* what;
    double xScale, xOffset, yScale, yOffset;
    int32_t flags;
    bool xOnly, same;
  };
  const Case kCases[] = {
      {"identical", 1, 0, 1, 0, 0, false, true},
      {"x scale within 0.1 %", 1.0009, 0, 1, 0, 0, false, true},
      {"x scale beyond 0.1 %", 1.0011, 0, 1, 0, 0, false, false},
      {"x offset within 0.1 pixel", 1, 0.09, 1, 0, 0, false, true},
      {"x offset beyond 0.1 pixel", 1, 0.11, 1, 0, 0, false, false},
      {"y scale beyond 0.1 %", 1, 0, 1.0011, 0, 0, false, false},
      {"y scale ignored along x", 1, 0, 1.0011, 0, 0, true, true},
      {"y offset beyond 0.1 pixel", 1, 0, 1, 0.11, 0, false, false},
      {"equal scales differ", 1, 0, 1, 0, kScaleEqual, true, false},
      {"decibel x differs", 1, 0, 1, 0, kScaleDecibelX, true, false},
      {"log y differs", 1, 0, 1, 0, kScaleLogY, false, false},
      {"log y ignored along x", 1, 0, 1, 0, kScaleLogY, true, true},
  };
  for (const Case& c : kCases) {
    SubplotRecord b = a;
    b.xScale *= c.xScale;
    b.xOffset += c.xOffset;
    b.yScale *= c.yScale;
    b.yOffset += c.yOffset;
    b.scaleFlags |= c.flags;
    EXPECT_EQ(HaveSameScale(&a, &b, c.xOnly), c.same) << c.what;
  }
  // The same mapping in a subplot further right is the same scale.
  SubplotRecord moved = Fresh();
  SetSubplotPixelRect(&moved, 1000, 2000, 0, 1000);
  const double x[] = {0, 10}, y[] = {0, 10};
  ExtendAutoLimits(&moved, x, y, nullptr, 2);
  EXPECT_TRUE(HaveSameScale(&a, &moved, false));
  double px = 30, py = 40;
  TranslateBetweenSubplots(&a, &moved, &px, &py);
  EXPECT_EQ(px, 1030);
  EXPECT_EQ(py, 40);
}

TEST(PixelMapping, EqualScalesKeepTheCentreValue) {
  SubplotRecord r = WithLimits(0, 10, 0, 1, kScaleEqual);
  EXPECT_DOUBLE_EQ(r.xScale, 96);
  EXPECT_DOUBLE_EQ(r.yScale, -96) << "the larger scale takes the other's size and keeps its sign";
  double cy;
  PixelToData(&r, 500, 500, nullptr, &cy);
  EXPECT_DOUBLE_EQ(cy, 0.5);
}

TEST(PixelMapping, VisibleRangeFallsBackToTheStoredLimits) {
  SubplotRecord r = WithLimits(0, 10, 0, 10);
  double lo, hi;
  GetVisibleXRange(&r, &lo, &hi);
  EXPECT_NEAR(lo, -20.0 / 96, 1e-12);
  EXPECT_NEAR(hi, 980.0 / 96, 1e-12);
  GetVisibleYRange(&r, &lo, &hi);
  EXPECT_NEAR(lo, -20.0 / 96, 1e-12);
  EXPECT_NEAR(hi, 980.0 / 96, 1e-12);

  SubplotRecord steep = r;
  steep.xScale = 2e9;
  GetVisibleXRange(&steep, &lo, &hi);
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 10);

  SubplotRecord broken = r;
  broken.yOffset = NAN;
  GetVisibleYRange(&broken, &lo, &hi);
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 10);
}

TEST(PixelMapping, SetSubplotLimitsHoldsTheAxesNotGiven) {
  SubplotRecord r = WithLimits(0, 10, 0, 10);
  r.yScale = -7;  // a mapping that a recomputation would replace
  SetSubplotLimits(&r, 0, 100, 3, 3, 0, 0);
  EXPECT_EQ(r.mode[0], kAxisSet);
  EXPECT_DOUBLE_EQ(r.xScale, 9.6);
  EXPECT_EQ(r.yScale, -7);
  EXPECT_EQ(r.mode[1], kAxisAutomatic) << "the held mode is restored";
  EXPECT_EQ(r.maximum[1], 10);
}

TEST(PixelMapping, PixelToDataInvertsDataToPixel) {
  std::mt19937_64 gen(37);
  std::uniform_real_distribution<double> unit(0, 1);
  struct Case {
    const char* what;
    int32_t flags;
    double lo, hi;
  };
  const Case kCases[] = {{"linear", 0, -250, 1e4},
                         {"log", kScaleLogX | kScaleLogY, 1e-3, 1e5},
                         {"dB", kScaleDecibelX | kScaleDecibelY, 0.5, 2e3}};
  for (const Case& c : kCases) {
    SubplotRecord r = WithLimits(c.lo, c.hi, c.lo, c.hi, c.flags);
    for (int i = 0; i < 200; ++i) {
      double t = unit(gen);
      double v = c.flags == 0 ? c.lo + t * (c.hi - c.lo) : c.lo * std::pow(c.hi / c.lo, t);
      double px, py, x, y;
      DataToPixel(&r, &v, &v, nullptr, 1, &px, &py, nullptr);
      PixelToData(&r, px, py, &x, &y);
      EXPECT_NEAR(x, v, 1e-9 * std::fabs(v) + 1e-9) << c.what;
      EXPECT_NEAR(y, v, 1e-9 * std::fabs(v) + 1e-9) << c.what;
    }
  }
}

TEST(PixelMapping, MinimisedWindowKeepsTheLastRealRectangle) {
  SubplotRecord r = WithLimits(0, 10, 0, 10);
  SetFixedLimits(&r, 2, 4, 2, 4);
  const SubplotRecord before = r;
  SetSubplotPixelRect(&r, 0, 0, 0, 0);
  EXPECT_EQ(r.subplotRect[1], 0);
  EXPECT_EQ(r.plotRect[1], 1000);
  EXPECT_EQ(r.xScale, before.xScale);
  SetSubplotPixelRect(&r, 0, 500, 0, 1000);
  EXPECT_TRUE(std::isfinite(r.xScale));
  EXPECT_NEAR(PixelX(r, 2), 0, 1e-9);
  EXPECT_NEAR(PixelX(r, 4), 500, 1e-9) << "a fixed axis keeps its data range across the new rectangle";
  SetSubplotPixelRect(&r, 0, 1000, 0, 0);
  SetSubplotPixelRect(&r, 0, 1000, 0, 1000);
  EXPECT_NEAR(PixelX(r, 4), 1000, 1e-9);
}

TEST(PixelMapping, LineToPixel) {
  SubplotRecord r = WithLimits(0, 10, 0, 10);
  double a, b, c;
  ASSERT_TRUE(LineToPixel(&r, 0, 2, 10, &a, &b, &c));
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);
  EXPECT_DOUBLE_EQ(c, 980 - 96 * 5);
  ASSERT_TRUE(LineToPixel(&r, 4, 0, 10, &a, &b, &c));
  EXPECT_EQ(a, 1);
  EXPECT_DOUBLE_EQ(c, 20 + 96 * 2.5);
  // x + y = 10 passes through the pixels of (0, 10) and (10, 0).
  ASSERT_TRUE(LineToPixel(&r, 1, 1, 10, &a, &b, &c));
  EXPECT_NEAR(a * 20 + b * 20, c, 1e-9);
  EXPECT_NEAR(a * 980 + b * 980, c, 1e-9);
  EXPECT_FALSE(LineToPixel(&r, 0, 0, 3, &a, &b, &c));
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 0);
}

TEST(PixelMapping, MarginsAndDeltas) {
  SubplotRecord r = Fresh();
  SetCharacterSize(&r, 10, 20);
  SetSubplotMargins(&r, 4, 1, 1, 2);
  double w, h;
  GetMarginSize(&r, &w, &h);
  EXPECT_EQ(w, 100);
  EXPECT_EQ(h, 120);
  EXPECT_EQ(r.plotRect[0], 40);
  EXPECT_EQ(r.plotRect[1], 990);
  EXPECT_EQ(r.plotRect[2], 20);
  EXPECT_EQ(r.plotRect[3], 960);
  SubplotRecord log = WithLimits(1, 100, 0, 10, kScaleLogX);
  double dx, dy;
  PixelDeltaToData(&log, log.xScale * std::log(10.0), 96, &dx, &dy);
  EXPECT_NEAR(dx, 10, 1e-12) << "a factor on a logarithmic axis";
  EXPECT_NEAR(dy, -1, 1e-12);
}

}  // namespace
