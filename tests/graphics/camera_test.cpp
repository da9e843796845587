#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "graphics/graphics.h"

namespace {

constexpr double kPi = 3.141592653589793;

// A 3-D subplot whose automatic limits came from two corner points.
SubplotRecord Box(double x1, double y1, double z1) {
  SubplotRecord r;
  std::memset(&r, 0, sizeof r);
  InitSubplotRecord(&r);
  SetSubplot3D(&r, true);
  const double x[] = {0, x1}, y[] = {0, y1}, z[] = {0, z1};
  ExtendAutoLimits(&r, x, y, z, 2);
  return r;
}

bool Finite(const SubplotRecord& r) {
  for (double v : r.view) {
    if (!std::isfinite(v)) return false;
  }
  return std::isfinite(r.xScale) && std::isfinite(r.yScale) && std::isfinite(r.xOffset) && std::isfinite(r.yOffset);
}

void Pixel(const SubplotRecord& r, double x, double y, double z, double* px, double* py) {
  DataToPixel(&r, &x, &y, &z, 1, px, py, nullptr);
}

TEST(View3D, AutomaticAspectSnapsTheSpanRatios) {
  SubplotRecord r = Box(10, 5, 1);
  EXPECT_EQ(r.aspect[0], 10);
  EXPECT_EQ(r.aspect[1], 5);
  EXPECT_EQ(r.aspect[2], 1);
  EXPECT_DOUBLE_EQ(r.axisScale[0], 0.1);
  EXPECT_DOUBLE_EQ(r.axisScale[1], 0.2);
  EXPECT_DOUBLE_EQ(r.axisScale[2], 1);
  EXPECT_DOUBLE_EQ(r.xScale, 1000 / std::sqrt(3.0)) << "the box's diagonal is sqrt 3 in scaled units";
  EXPECT_DOUBLE_EQ(r.yScale, -1000 / std::sqrt(3.0));

  SubplotRecord near = Box(1.22, 1, 1);
  EXPECT_EQ(near.aspect[0], 1.2);
  EXPECT_EQ(near.aspect[1], 1);

  SubplotRecord equal = Box(10, 5, 1);
  SetScaleFlags(&equal, kScaleEqual, kScaleEqual);
  ComputeView3D(&equal);
  EXPECT_EQ(equal.aspect[0], 1);
  EXPECT_FALSE(GetDataAspect(&equal, nullptr));
  const double given[] = {2, 1, 1};
  SetDataAspect(&equal, given);
  double aspect[3];
  EXPECT_TRUE(GetDataAspect(&equal, aspect));
  EXPECT_EQ(aspect[0], 2);
  EXPECT_EQ(equal.axisScale[0], 0.5);
}

TEST(View3D, SnapAspectRatio) {
  struct Case {
    double ratio, want;
  };
  const Case kCases[] = {{1.04, 1},    {1.19, 1.2}, {1.26, 1.25}, {1.3, 4.0 / 3}, {1.7, 5.0 / 3},
                         {1.76, 1.75}, {2.2, 2.25}, {3.04, 3},    {3.25, 3.25},   {4.46, 4.5},
                         {4.9, 4.9},   {5, 5},      {7.4, 7},     {7.5, 8},       {123.6, 124}};
  for (const Case& c : kCases) EXPECT_DOUBLE_EQ(SnapAspectRatio(c.ratio), c.want) << c.ratio;
}

TEST(View3D, UpAlongTheViewStillGivesARightRow) {
  SubplotRecord r = Box(1, 1, 1);
  SetCameraPositionAuto(&r, false);
  r.position[0] = r.position[1] = 0;
  r.position[2] = 5;
  ComputeView3D(&r);
  ASSERT_TRUE(Finite(r));
  EXPECT_DOUBLE_EQ(r.view[0], 1);
  EXPECT_DOUBLE_EQ(r.view[1], 0);
  EXPECT_DOUBLE_EQ(r.view[2], 0);
}

TEST(View3D, DegenerateCamerasKeepTheLastView) {
  SubplotRecord r = Box(1, 1, 1);
  SetProjection(&r, false);
  const SubplotRecord before = r;
  SetCameraPositionAuto(&r, false);
  std::memcpy(r.position, r.target, sizeof r.position);
  ComputeView3D(&r);
  EXPECT_EQ(std::memcmp(r.view, before.view, sizeof r.view), 0) << "a camera at its target";
  EXPECT_EQ(r.xScale, before.xScale);

  SubplotRecord o = Box(1, 1, 1);
  const SubplotRecord ortho = o;
  SetCameraPositionAuto(&o, false);
  o.position[0] = o.position[1] = o.position[2] = 0;
  ComputeView3D(&o);
  EXPECT_EQ(std::memcmp(o.view, ortho.view, sizeof o.view), 0) << "an orthographic direction of 0";

  // Fill with a box of no extent, and with a plot rectangle of no width.
  SubplotRecord point = Box(0, 0, 0);
  point.cameraFlags |= kCameraFill;
  ComputeView3D(&point);
  EXPECT_TRUE(Finite(point));
  SubplotRecord thin = Box(1, 1, 1);
  thin.cameraFlags |= kCameraFill;
  thin.plotRect[1] = thin.plotRect[0];
  ComputeView3D(&thin);
  EXPECT_TRUE(Finite(thin));
}

TEST(View3D, FillScalesTheProjectedBoxToTheRectangle) {
  SubplotRecord r = Box(1, 1, 1);
  r.cameraFlags |= kCameraFill;
  ComputeView3D(&r);
  double ex = 0, ey = 0;
  for (int corner = 0; corner < 8; ++corner) {
    double px, py;
    Pixel(r, corner & 1, (corner >> 1) & 1, (corner >> 2) & 1, &px, &py);
    ex = std::max(ex, std::fabs(px - 500));
    ey = std::max(ey, std::fabs(py - 500));
  }
  EXPECT_NEAR(std::max(ex, ey), 500, 1e-9);
}

TEST(View3D, PerspectiveProjection) {
  SubplotRecord r = Box(1, 1, 1);
  SetProjection(&r, false);
  EXPECT_TRUE(IsPerspective(&r));
  const double diagonal = std::sqrt(3.0);
  EXPECT_NEAR(GetCameraDistance(&r), 2.6 * diagonal * std::sqrt(14.0), 1e-9);
  // A segment as long as the diagonal, across the view at the target, spans min(W, H).
  double left[3], right[3];
  for (int a = 0; a < 3; ++a) {
    left[a] = r.target[a] - diagonal / 2 * r.view[a];
    right[a] = r.target[a] + diagonal / 2 * r.view[a];
  }
  double lx, ly, rx, ry;
  Pixel(r, left[0], left[1], left[2], &lx, &ly);
  Pixel(r, right[0], right[1], right[2], &rx, &ry);
  EXPECT_NEAR(std::hypot(rx - lx, ry - ly), 1000, 1e-6);

  // Behind the camera: no pixel, and no depth.
  double x = r.position[0] * 2 - r.target[0], y = r.position[1] * 2 - r.target[1], z = r.position[2] * 2 - r.target[2];
  double px, py, depth;
  DataToPixel(&r, &x, &y, &z, 1, &px, &py, &depth);
  EXPECT_TRUE(std::isnan(px) && std::isnan(py) && std::isnan(depth));
  SetProjection(&r, true);
  DataToPixel(&r, &x, &y, &z, 1, &px, &py, &depth);
  EXPECT_TRUE(std::isfinite(px) && std::isfinite(py) && std::isfinite(depth));
  EXPECT_EQ(GetCameraDistance(&r), INFINITY);
}

TEST(View3D, ViewAngle) {
  SubplotRecord r = Box(1, 1, 1);
  EXPECT_EQ(GetViewAngle(&r), 0);
  SetViewAngle(&r, 30);
  EXPECT_TRUE(IsPerspective(&r));
  EXPECT_NEAR(GetViewAngle(&r), 30, 1e-9);
  EXPECT_FALSE((r.cameraFlags & kCameraAutoZoom) != 0);
  SetViewAngle(&r, 0);
  EXPECT_FALSE(IsPerspective(&r));
  EXPECT_EQ(GetViewAngle(&r), 0);
}

TEST(View3D, OrbitByAFullTurnReturns) {
  for (bool orthographic : {true, false}) {
    SubplotRecord r = Box(3, 2, 1);
    SetProjection(&r, orthographic);
    double start[3];
    std::memcpy(start, r.position, sizeof start);
    OrbitCamera(&r, 2 * kPi, 0);
    for (int a = 0; a < 3; ++a) EXPECT_NEAR(r.position[a], start[a], 1e-12) << orthographic;
    EXPECT_FALSE((r.cameraFlags & kCameraAutoPosition) != 0);
    OrbitCamera(&r, kPi / 2, 0);
    // A quarter turn about the up axis keeps the height and the distance.
    EXPECT_NEAR(r.position[2], start[2], 1e-12);
    double radius = 0, startRadius = 0;
    const double* centre = orthographic ? nullptr : r.target;
    for (int a = 0; a < 2; ++a) {
      double c = centre != nullptr ? centre[a] : 0;
      radius += (r.position[a] - c) * (r.position[a] - c);
      startRadius += (start[a] - c) * (start[a] - c);
    }
    EXPECT_NEAR(radius, startRadius, 1e-9);
    OrbitCamera(&r, 0, 0.3);
    EXPECT_TRUE(Finite(r));
  }
}

TEST(View3D, DollyPanRollAndZoom) {
  SubplotRecord r = Box(1, 1, 1);
  double px0, py0, px1, py1;
  Pixel(r, 0.2, 0.7, 0.4, &px0, &py0);
  DollyCameraInView(&r, 10, 0, 0, false);
  Pixel(r, 0.2, 0.7, 0.4, &px1, &py1);
  EXPECT_NEAR(px1 - px0, -10, 1e-9) << "the camera moves right, the scene left";
  EXPECT_NEAR(py1 - py0, 0, 1e-9);
  EXPECT_FALSE((r.cameraFlags & kCameraAutoTarget) != 0);

  SubplotRecord p = Box(1, 1, 1);
  SetProjection(&p, false);
  SetCameraPositionAuto(&p, false);
  double position[3], distance = GetCameraDistance(&p);
  std::memcpy(position, p.position, sizeof position);
  PanCamera(&p, 0.2, 0.1);
  EXPECT_EQ(std::memcmp(position, p.position, sizeof position), 0) << "panning turns the camera on its place";
  EXPECT_NEAR(GetCameraDistance(&p), distance, 1e-9);
  EXPECT_FALSE((p.cameraFlags & kCameraAutoTarget) != 0);

  SubplotRecord q = Box(1, 1, 1);
  SetProjection(&q, false);
  const double right[3] = {q.view[0], q.view[1], q.view[2]};
  RollCamera(&q, kPi / 2);
  EXPECT_NEAR(std::fabs(q.view[4] * right[0] + q.view[5] * right[1] + q.view[6] * right[2]), 1, 1e-12)
      << "a quarter roll turns the up row into the old right row";
  EXPECT_FALSE((q.cameraFlags & kCameraAutoUp) != 0);

  SubplotRecord z = Box(1, 1, 1);
  double scale = z.xScale;
  ZoomCamera(&z, 2);
  EXPECT_DOUBLE_EQ(z.xScale, 2 * scale);
  ComputeView3D(&z);
  EXPECT_DOUBLE_EQ(z.xScale, 2 * scale) << "the zoom stays once it is not automatic";
  UnlockSubplotLimits(&z);
  ComputeView3D(&z);
  EXPECT_DOUBLE_EQ(z.xScale, scale);
}

TEST(View3D, RotationAboutAxis) {
  double m[9], v[3] = {1, 0, 0};
  const double z[3] = {0, 0, 2};
  RotationAboutAxis(z, kPi / 2, m);
  MultiplyMatrixVector3(m, v, v);
  EXPECT_NEAR(v[0], 0, 1e-15);
  EXPECT_NEAR(v[1], 1, 1e-15) << "right-hand rule";
  const double none[3] = {0, 0, 1e-16};
  double n[9];
  RotationAboutAxis(none, kPi / 2, n);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(n[i], m[i]) << "a vanishing axis is taken as z";
}

}  // namespace
