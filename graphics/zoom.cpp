// Zooming, panning and locking a subplot's limits. A user gesture leaves the
// axes it touched fixed, so later display recomputations keep them.
#include <cmath>
#include <utility>

#include "graphics/subplot.h"
#include "graphics/subplotinternal.h"

namespace {

// New limits must be finite, and positive on a logarithmic axis; a log pan or
// zoom-out can overflow, and then the gesture changes nothing.
bool UsableLimits(double lo, double hi, bool logarithmic) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) return false;
  return !logarithmic || (lo > 0 && hi > 0);
}

// Modes 2, the mapping without padding over exactly these limits, modes 3.
void FixAxes(SubplotRecord* r, bool x, bool y) {
  if (x) r->mode[0] = kAxisSet;
  if (y) r->mode[1] = kAxisSet;
  ComputePixelMapping(r, false, 0);
  if (x) r->mode[0] = kAxisFixed;
  if (y) r->mode[1] = kAxisFixed;
}

void RecordSpan(SubplotRecord* r, int axis, double lo, double hi) {
  if (r->spanRecorded[axis] != 0 || r->mode[axis] <= 0) return;
  r->smallestSpan[axis] = 0.05 * (hi - lo);
  r->largestSpan[axis] = 20 * (hi - lo);
  r->spanRecorded[axis] = 1;
}

bool SpanAllowed(const SubplotRecord* r, int axis, double lo, double hi, bool zoomIn) {
  if (r->spanRecorded[axis] == 0) return true;
  return zoomIn ? (hi - lo) * 0.99 > r->smallestSpan[axis] : (hi - lo) * 1.01 < r->largestSpan[axis];
}

bool IsClick(double extent, double a, double b) { return std::fabs(extent) > 50 * std::fabs(a - b); }

// Halfway to c: the arithmetic mean, or the geometric one on a log axis.
double Halfway(double limit, double c, bool logarithmic) {
  return logarithmic ? std::sqrt(limit * c) : (limit + c) / 2;
}

// The visible edges reflected through c; on a log axis the stored limits in log space.
void ZoomOutLimits(double visibleLo, double visibleHi, double c, bool logarithmic, double* lo, double* hi) {
  if (logarithmic) {
    *lo = *lo * *lo / c;
    *hi = *hi * *hi / c;
  } else {
    *lo = 2 * visibleLo - c;
    *hi = 2 * visibleHi - c;
  }
}

void Order(double* a, double* b) {
  if (*a > *b) std::swap(*a, *b);
}

}  // namespace

void SetSubplotLimits(SubplotRecord* r, double xMin, double xMax, double yMin, double yMax, double zMin, double zMax) {
  const double lows[3] = {xMin, yMin, zMin};
  const double highs[3] = {xMax, yMax, zMax};
  int32_t kept[3];
  bool given[3];
  for (int a = 0; a < 3; ++a) {
    given[a] = r->mode[a] < kAxisFixed && lows[a] < highs[a];
    if (given[a]) {
      r->minimum[a] = lows[a];
      r->maximum[a] = highs[a];
      r->mode[a] = kAxisSet;
      if (a < 2) r->spanRecorded[a] = 0;
    }
    kept[a] = r->mode[a];
    if (!given[a]) r->mode[a] = kAxisFixed;
  }
  ComputePixelMapping(r, true, 0.04);
  for (int a = 0; a < 3; ++a) r->mode[a] = kept[a];
}

bool CanZoomSubplot(SubplotRecord* r, bool zoomIn) {
  double xlo = r->minimum[0], xhi = r->maximum[0];
  if (xlo == xhi) {
    PixelToData(r, r->plotRect[0], 0, &xlo, nullptr);
    PixelToData(r, r->plotRect[1], 0, &xhi, nullptr);
  }
  double ylo = r->minimum[1], yhi = r->maximum[1];
  if (ylo == yhi) {
    PixelToData(r, 0, r->plotRect[3], nullptr, &ylo);
    PixelToData(r, 0, r->plotRect[2], nullptr, &yhi);
  }
  RecordSpan(r, 0, xlo, xhi);
  RecordSpan(r, 1, ylo, yhi);
  return SpanAllowed(r, 0, xlo, xhi, zoomIn) && SpanAllowed(r, 1, ylo, yhi, zoomIn);
}

bool CanZoomXAxis(SubplotRecord* r, bool zoomIn) {
  RecordSpan(r, 0, r->minimum[0], r->maximum[0]);
  return SpanAllowed(r, 0, r->minimum[0], r->maximum[0], zoomIn);
}

void ZoomSubplotToRect(SubplotRecord* r, double px0, double px1, double py0, double py1) {
  if (r->hasScale == 0 || !CanZoomSubplot(r, true)) return;
  const double* p = r->plotRect;
  bool click = IsClick(p[1] - p[0], px0, px1) || IsClick(p[3] - p[2], py0, py1);
  if (r->is3D != 0) {
    if (click) ZoomCamera(r, 2);
  } else {
    double xlo, xhi, ylo, yhi;
    if (click) {
      double cx, cy;
      PixelToData(r, (px0 + px1) / 2, (py0 + py1) / 2, &cx, &cy);
      xlo = Halfway(r->minimum[0], cx, IsLogX(r));
      xhi = Halfway(r->maximum[0], cx, IsLogX(r));
      ylo = Halfway(r->minimum[1], cy, IsLogY(r));
      yhi = Halfway(r->maximum[1], cy, IsLogY(r));
    } else {
      PixelToData(r, px0, py0, &xlo, &ylo);
      PixelToData(r, px1, py1, &xhi, &yhi);
      Order(&xlo, &xhi);
      Order(&ylo, &yhi);
    }
    if (!UsableLimits(xlo, xhi, IsLogX(r)) || !UsableLimits(ylo, yhi, IsLogY(r))) return;
    r->minimum[0] = xlo;
    r->maximum[0] = xhi;
    r->minimum[1] = ylo;
    r->maximum[1] = yhi;
  }
  FixAxes(r, true, true);
}

void ZoomXAxisToRange(SubplotRecord* r, double px0, double px1) {
  if (r->hasScale == 0 || !CanZoomXAxis(r, true)) return;
  double lo, hi;
  if (IsClick(r->plotRect[1] - r->plotRect[0], px0, px1)) {
    double c;
    PixelToData(r, (px0 + px1) / 2, 0, &c, nullptr);
    lo = Halfway(r->minimum[0], c, IsLogX(r));
    hi = Halfway(r->maximum[0], c, IsLogX(r));
  } else {
    PixelToData(r, px0, 0, &lo, nullptr);
    PixelToData(r, px1, 0, &hi, nullptr);
    Order(&lo, &hi);
  }
  if (!UsableLimits(lo, hi, IsLogX(r))) return;
  r->minimum[0] = lo;
  r->maximum[0] = hi;
  FixAxes(r, true, false);
}

void ZoomOutSubplotAt(SubplotRecord* r, double px, double py) {
  if (r->hasScale == 0 || !CanZoomSubplot(r, false)) return;
  if (r->is3D != 0) {
    ZoomCamera(r, 0.5);
    return;
  }
  const double* p = r->plotRect;
  double cx, cy, left, bottom, right, top;
  PixelToData(r, px, py, &cx, &cy);
  PixelToData(r, p[0], p[3], &left, &bottom);
  PixelToData(r, p[1], p[2], &right, &top);
  double xlo = r->minimum[0], xhi = r->maximum[0], ylo = r->minimum[1], yhi = r->maximum[1];
  ZoomOutLimits(left, right, cx, IsLogX(r), &xlo, &xhi);
  ZoomOutLimits(bottom, top, cy, IsLogY(r), &ylo, &yhi);
  if (!UsableLimits(xlo, xhi, IsLogX(r)) || !UsableLimits(ylo, yhi, IsLogY(r))) return;
  r->minimum[0] = xlo;
  r->maximum[0] = xhi;
  r->minimum[1] = ylo;
  r->maximum[1] = yhi;
  FixAxes(r, true, true);
}

void ZoomOutXAxisAt(SubplotRecord* r, double px) {
  if (r->hasScale == 0 || !CanZoomXAxis(r, false)) return;
  double c, left, right;
  PixelToData(r, px, 0, &c, nullptr);
  PixelToData(r, r->plotRect[0], 0, &left, nullptr);
  PixelToData(r, r->plotRect[1], 0, &right, nullptr);
  double lo = r->minimum[0], hi = r->maximum[0];
  ZoomOutLimits(left, right, c, IsLogX(r), &lo, &hi);
  if (!UsableLimits(lo, hi, IsLogX(r))) return;
  r->minimum[0] = lo;
  r->maximum[0] = hi;
  FixAxes(r, true, false);
}

namespace {

// The limits of one axis shifted by a pixel displacement; false when they
// leave the finite (or, on a logarithmic axis, the positive) numbers.
bool PanLimits(const SubplotRecord* r, double d, double scale, bool logarithmic, int axis, double* lo, double* hi) {
  double shift = d / scale;
  *lo = r->minimum[axis];
  *hi = r->maximum[axis];
  if (logarithmic) {
    double factor = std::exp(-shift);
    *lo *= factor;
    *hi *= factor;
  } else {
    *lo -= shift;
    *hi -= shift;
  }
  return UsableLimits(*lo, *hi, logarithmic);
}

}  // namespace

void PanSubplotByPixels(SubplotRecord* r, double dx, double dy) {
  if (r->hasScale == 0) return;
  double xlo, xhi, ylo, yhi;
  if (!PanLimits(r, dx, r->xScale, IsLogX(r), 0, &xlo, &xhi) ||
      !PanLimits(r, dy, r->yScale, IsLogY(r), 1, &ylo, &yhi)) {
    return;
  }
  r->xOffset += dx;
  r->yOffset += dy;
  r->minimum[0] = xlo;
  r->maximum[0] = xhi;
  r->minimum[1] = ylo;
  r->maximum[1] = yhi;
  r->mode[0] = kAxisFixed;
  r->mode[1] = kAxisFixed;
}

void PanXAxisByPixels(SubplotRecord* r, double dx) {
  if (r->hasScale == 0) return;
  double lo, hi;
  if (!PanLimits(r, dx, r->xScale, IsLogX(r), 0, &lo, &hi)) return;
  r->xOffset += dx;
  r->minimum[0] = lo;
  r->maximum[0] = hi;
  r->mode[0] = kAxisFixed;
}

void LockSubplotLimits(SubplotRecord* r) {
  if (r->hasScale == 0) return;
  for (int32_t& m : r->mode) m = kAxisFixed;
}

void UnlockSubplotLimits(SubplotRecord* r) {
  for (int32_t& m : r->mode) {
    if (m == kAxisFixed) m = kAxisSet;
  }
  r->cameraFlags |= kCameraAutoZoom;
}

bool IsSubplotLocked(const SubplotRecord* r) { return r->mode[0] == kAxisFixed && r->mode[1] == kAxisFixed; }
bool IsXAxisLocked(const SubplotRecord* r) { return r->mode[0] == kAxisFixed; }

void GetLockedLimits(const SubplotRecord* r, double* xLow, double* xHigh, double* yLow, double* yHigh) {
  if (xLow != nullptr && xHigh != nullptr) {
    *xLow = *xHigh = 0;
    if (r->mode[0] == kAxisFixed) GetVisibleXRange(r, xLow, xHigh);
  }
  if (yLow != nullptr && yHigh != nullptr) {
    *yLow = *yHigh = 0;
    if (r->mode[1] == kAxisFixed) GetVisibleYRange(r, yLow, yHigh);
  }
}

void SetFixedLimits3D(SubplotRecord* r, double xMin, double xMax, double yMin, double yMax, double zMin, double zMax) {
  const double lows[3] = {xMin, yMin, zMin};
  const double highs[3] = {xMax, yMax, zMax};
  bool given[3];
  for (int a = 0; a < 3; ++a) {
    given[a] = lows[a] < highs[a];
    if (!given[a]) continue;
    r->minimum[a] = lows[a];
    r->maximum[a] = highs[a];
    r->mode[a] = kAxisSet;
  }
  ComputePixelMapping(r, false, 0);
  for (int a = 0; a < 3; ++a) {
    if (given[a]) r->mode[a] = kAxisFixed;
  }
}

void SetFixedLimits(SubplotRecord* r, double xMin, double xMax, double yMin, double yMax) {
  SetFixedLimits3D(r, xMin, xMax, yMin, yMax, 0, 0);
}
