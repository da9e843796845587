#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "graphics/graphics.h"

namespace {

// A 2-D subplot on a plot rectangle of 500 x 400 pixels with set limits.
SubplotRecord Plot(double x0, double x1, double y0, double y1, int32_t flags = 0) {
  SubplotRecord r;
  std::memset(&r, 0, sizeof r);
  InitSubplotRecord(&r);
  SetSubplotPixelRect(&r, 0, 500, 0, 400);
  SetScaleFlags(&r, flags, 0xFF);
  SetSubplotLimits(&r, x0, x1, y0, y1, 0, 0);
  return r;
}

double PixelX(const SubplotRecord& r, double v) {
  double px;
  DataToPixel(&r, &v, nullptr, nullptr, 1, &px, nullptr, nullptr);
  return px;
}

double PixelY(const SubplotRecord& r, double v) {
  double py;
  DataToPixel(&r, nullptr, &v, nullptr, 1, nullptr, &py, nullptr);
  return py;
}

TEST(Zoom, BoundsAreSetByTheFirstTest) {
  struct Case {
    double xMax;
    bool zoomIn, allowed;
  };
  const Case kCases[] = {{0.506, true, true},    {0.505, true, false}, {198.0, false, true},
                         {198.02, false, false}, {10, true, true},     {10, false, true}};
  for (const Case& c : kCases) {
    SubplotRecord r = Plot(0, 10, 0, 10);
    ASSERT_TRUE(CanZoomSubplot(&r, true));
    EXPECT_DOUBLE_EQ(r.smallestSpan[0], 0.5);
    EXPECT_DOUBLE_EQ(r.largestSpan[0], 200);
    r.maximum[0] = c.xMax;
    EXPECT_EQ(CanZoomSubplot(&r, c.zoomIn), c.allowed) << c.xMax;
    EXPECT_EQ(CanZoomXAxis(&r, c.zoomIn), c.allowed) << c.xMax;
  }
  // New application limits clear the record, so the next test takes the new span.
  SubplotRecord r = Plot(0, 10, 0, 10);
  ASSERT_TRUE(CanZoomSubplot(&r, true));
  SetSubplotLimits(&r, 0, 1, 0, 0, 0, 0);
  ASSERT_TRUE(CanZoomSubplot(&r, true));
  EXPECT_DOUBLE_EQ(r.smallestSpan[0], 0.05);
  EXPECT_DOUBLE_EQ(r.smallestSpan[1], 0.5) << "y was not given";
}

TEST(Zoom, ClickZoomsInByTwoAroundThePoint) {
  SubplotRecord r = Plot(0, 10, 0, 10);
  ZoomSubplotToRect(&r, 249, 251, 199, 201);
  EXPECT_NEAR(r.minimum[0], 2.5, 1e-12);
  EXPECT_NEAR(r.maximum[0], 7.5, 1e-12);
  EXPECT_NEAR(r.minimum[1], 2.5, 1e-12);
  EXPECT_NEAR(r.maximum[1], 7.5, 1e-12);
  EXPECT_TRUE(IsSubplotLocked(&r));
  EXPECT_NEAR(PixelX(r, 2.5), 0, 1e-9) << "no padding after a zoom";

  SubplotRecord log = Plot(1, 100, 0, 10, kScaleLogX);
  double c = PixelX(log, 10);
  ZoomXAxisToRange(&log, c - 1, c + 1);
  EXPECT_NEAR(log.minimum[0], std::sqrt(10.0), 1e-12);
  EXPECT_NEAR(log.maximum[0], std::sqrt(1000.0), 1e-9);
  EXPECT_TRUE(IsXAxisLocked(&log));
  EXPECT_EQ(log.mode[1], kAxisSet);
}

TEST(Zoom, RectangleBecomesThePlotRectangle) {
  SubplotRecord r = Plot(0, 10, 0, 10);
  double x0, x1, y0, y1;
  PixelToData(&r, 100, 300, &x0, &y0);
  PixelToData(&r, 300, 50, &x1, &y1);
  ZoomSubplotToRect(&r, 300, 100, 300, 50);
  EXPECT_DOUBLE_EQ(r.minimum[0], x0);
  EXPECT_DOUBLE_EQ(r.maximum[0], x1);
  EXPECT_DOUBLE_EQ(r.minimum[1], y0);
  EXPECT_DOUBLE_EQ(r.maximum[1], y1);
  EXPECT_NEAR(PixelX(r, x0), 0, 1e-9);
  EXPECT_NEAR(PixelX(r, x1), 500, 1e-9);
  EXPECT_NEAR(PixelY(r, y0), 400, 1e-9);
  EXPECT_NEAR(PixelY(r, y1), 0, 1e-9);
}

TEST(Zoom, ZoomOutReflectsTheVisibleEdgesThroughThePoint) {
  SubplotRecord r = Plot(0, 10, 0, 10);
  SetFixedLimits(&r, 0, 10, 0, 10);
  ZoomOutSubplotAt(&r, PixelX(r, 2), PixelY(r, 5));
  EXPECT_NEAR(r.minimum[0], -2, 1e-12);
  EXPECT_NEAR(r.maximum[0], 18, 1e-12);
  EXPECT_NEAR(r.minimum[1], 0 - 5, 1e-12);
  EXPECT_NEAR(r.maximum[1], 15, 1e-12);

  SubplotRecord log = Plot(1, 100, 0, 10, kScaleLogX);
  ZoomOutXAxisAt(&log, PixelX(log, 10));
  EXPECT_NEAR(log.minimum[0], 0.1, 1e-12);
  EXPECT_NEAR(log.maximum[0], 1000, 1e-9);
}

TEST(Zoom, GesturesThatWouldLeaveTheNumbersChangeNothing) {
  SubplotRecord log = Plot(1e-300, 1e300, 0, 10, kScaleLogX);
  log.spanRecorded[0] = log.spanRecorded[1] = 1;
  log.largestSpan[0] = log.largestSpan[1] = INFINITY;
  const SubplotRecord before = log;
  ZoomOutXAxisAt(&log, PixelX(log, 1e-250));
  EXPECT_EQ(std::memcmp(&log, &before, sizeof log), 0) << "a log zoom-out past the largest double";
  PanXAxisByPixels(&log, -log.xScale * 800);
  EXPECT_EQ(std::memcmp(&log, &before, sizeof log), 0) << "a log pan past the largest double";
  PanSubplotByPixels(&log, 0, INFINITY);
  EXPECT_EQ(std::memcmp(&log, &before, sizeof log), 0) << "a linear pan to infinity";
}

TEST(Pan, ShiftsTheLimitsWithThePixels) {
  SubplotRecord r = Plot(0, 10, 0, 10);
  double scale = r.xScale, offset = r.xOffset;
  PanSubplotByPixels(&r, scale, -r.yScale * 2);
  EXPECT_DOUBLE_EQ(r.minimum[0], -1);
  EXPECT_DOUBLE_EQ(r.maximum[0], 9);
  EXPECT_DOUBLE_EQ(r.minimum[1], 2);
  EXPECT_DOUBLE_EQ(r.xOffset, offset + scale);
  EXPECT_TRUE(IsSubplotLocked(&r));

  SubplotRecord log = Plot(1, 100, 1, 100, kScaleLogX | kScaleLogY);
  PanSubplotByPixels(&log, -log.xScale * std::log(10.0), 0);
  EXPECT_NEAR(log.minimum[0], 10, 1e-12);
  EXPECT_NEAR(log.maximum[0], 1000, 1e-9);
  EXPECT_NEAR(PixelX(log, 10), PixelX(Plot(1, 100, 1, 100, kScaleLogX), 1), 1e-9)
      << "the shifted mapping agrees with the shifted limits";
}

TEST(Lock, LockUnlockAndLockedLimits) {
  SubplotRecord fresh;
  std::memset(&fresh, 0, sizeof fresh);
  InitSubplotRecord(&fresh);
  LockSubplotLimits(&fresh);
  EXPECT_EQ(fresh.mode[0], kAxisNone) << "nothing to lock without a mapping";

  SubplotRecord r = Plot(0, 10, 0, 10);
  r.cameraFlags &= ~kCameraAutoZoom;
  LockSubplotLimits(&r);
  EXPECT_TRUE(IsSubplotLocked(&r));
  EXPECT_EQ(r.mode[2], kAxisFixed);
  r.mode[1] = kAxisAutomatic;
  UnlockSubplotLimits(&r);
  EXPECT_EQ(r.mode[0], kAxisSet);
  EXPECT_EQ(r.mode[1], kAxisAutomatic);
  EXPECT_EQ(r.mode[2], kAxisSet);
  EXPECT_NE(r.cameraFlags & kCameraAutoZoom, 0u);

  SubplotRecord f = Plot(0, 10, 0, 10);
  SetFixedLimits(&f, 5, 5, 2, 4);
  EXPECT_EQ(f.mode[0], kAxisSet) << "x 5..5 is no range";
  EXPECT_EQ(f.mode[1], kAxisFixed);
  EXPECT_EQ(f.maximum[0], 10);
  double xl = 9, xh = 9, yl, yh;
  GetLockedLimits(&f, &xl, &xh, &yl, &yh);
  EXPECT_EQ(xl, 0);
  EXPECT_EQ(xh, 0);
  EXPECT_NEAR(yl, 2, 1e-12) << "a fixed axis reports its visible range, without padding";
  EXPECT_NEAR(yh, 4, 1e-12);
  xl = 9;
  GetLockedLimits(&f, &xl, nullptr, nullptr, nullptr);
  EXPECT_EQ(xl, 9) << "x is reported only into both outs";

  SubplotRecord z = Plot(0, 10, 0, 10);
  SetFixedLimits3D(&z, 0, 0, 0, 0, -1, 1);
  EXPECT_EQ(z.mode[2], kAxisFixed);
  EXPECT_EQ(z.minimum[2], -1);
  EXPECT_FALSE(IsXAxisLocked(&z));
}

TEST(Zoom, ThreeDimensionalClickZoomsTheCamera) {
  SubplotRecord r;
  std::memset(&r, 0, sizeof r);
  InitSubplotRecord(&r);
  SetSubplot3D(&r, true);
  const double x[] = {0, 1};
  ExtendAutoLimits(&r, x, x, x, 2);
  ZoomSubplotToRect(&r, 499, 501, 499, 501);
  EXPECT_EQ(r.zoom, 2);
  EXPECT_EQ(r.minimum[0], 0) << "the limits stay";
  EXPECT_EQ(r.maximum[0], 1);
  r.mode[0] = r.mode[1] = kAxisAutomatic;
  ZoomOutSubplotAt(&r, 500, 500);
  EXPECT_EQ(r.zoom, 1);
}

}  // namespace
