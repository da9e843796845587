// The mapping of a subplot's data to pixels: per axis linear or logarithmic on
// the plot rectangle in 2-D, through the view matrix in 3-D; the automatic
// limits that plots widen, and the pixel rectangle that the layout gives.
#include <algorithm>
#include <cmath>

#include "graphics/subplot.h"
#include "graphics/subplotinternal.h"

namespace {

// One axis of the 2-D mapping. ends[0] is where the minimum goes, ends[1]
// where the maximum goes (for y the bottom row, then the top).
void MapAxis(double minimum, double maximum, bool logarithmic, double m, double f, const double* ends, double* offset,
             double* scale) {
  double lo = minimum;
  double span;
  if (logarithmic) {
    // Limits without a positive value would take the logarithm of a value
    // <= 0: show the decade 1 to 10 instead.
    if (!(maximum > 0)) {
      lo = 1;
      span = std::log(10.0);
    } else {
      lo = std::max(minimum, maximum * m);
      double hi = std::max(maximum, lo * 1.000001);
      span = std::log(hi / lo);
    }
  } else {
    span = std::max(maximum, minimum + m) - minimum;
  }
  double s = (ends[1] - ends[0]) * (1 - f) / span;
  double base = logarithmic ? std::log(lo) : lo;
  if (s + 1 == s) {
    *scale = 1e6;
    *offset = 0;
  } else {
    *scale = s;
    *offset = ends[0] * (1 - f / 2) + ends[1] * f / 2 - base * s;
  }
  if (*scale == 0) *scale = 1e-30;
}

bool SameScale(double a, double b) { return std::fabs(a / b - 1) <= 0.001; }

}  // namespace

bool IsLogX(const SubplotRecord* r) { return (r->scaleFlags & (kScaleLogX | kScaleDecibelX)) != 0; }
bool IsLogY(const SubplotRecord* r) { return (r->scaleFlags & (kScaleLogY | kScaleDecibelY)) != 0; }

void ComputePixelMapping(SubplotRecord* r, bool automatic, double padding) {
  if (!(r->maximum[0] >= r->minimum[0])) {
    r->xOffset = 0;
    r->xScale = 1e-9;
    r->yOffset = 0;
    r->yScale = 1e-9;
    return;
  }
  if (r->is3D != 0 && r->mode[2] < kAxisFixed) {
    ComputeView3D(r);
    r->hasScale = 1;
    return;
  }
  double m = automatic ? 1e-6 : 1e-24;
  const double* p = r->plotRect;
  if (r->mode[0] < kAxisFixed) {
    const double ends[2] = {p[0], p[1]};
    MapAxis(r->minimum[0], r->maximum[0], IsLogX(r), m, padding, ends, &r->xOffset, &r->xScale);
  }
  if (r->mode[1] < kAxisFixed) {
    const double ends[2] = {p[3], p[2]};
    MapAxis(r->minimum[1], r->maximum[1], IsLogY(r), m, padding, ends, &r->yOffset, &r->yScale);
  }
  r->hasScale = 1;
  if ((r->scaleFlags & kScaleEqual) != 0) EqualizeScales(r);
}

void EqualizeScales(SubplotRecord* r) {
  if (r->mode[0] >= kAxisFixed || r->mode[1] >= kAxisFixed) return;
  bool xLarger = std::fabs(r->xScale) > std::fabs(r->yScale);
  double* scale = xLarger ? &r->xScale : &r->yScale;
  double* offset = xLarger ? &r->xOffset : &r->yOffset;
  double other = std::fabs(xLarger ? r->yScale : r->xScale);
  double centre = xLarger ? (r->plotRect[0] + r->plotRect[1]) / 2 : (r->plotRect[2] + r->plotRect[3]) / 2;
  double next = *scale > 0 ? other : -other;
  *offset = centre - (centre - *offset) * next / *scale;
  *scale = next;
}

void SetSubplotPixelRect(SubplotRecord* r, double left, double right, double top, double bottom) {
  double ch = r->characterHeight;
  if ((top > bottom && ch > 0) || (top <= bottom && ch < 0)) ch = -ch;
  double next[4] = {left, right, top, bottom};
  if ((r->plotOptions & kOptionMargin) != 0) {
    next[0] = left + r->margins[0] * r->characterWidth;
    next[1] = right - r->margins[1] * r->characterWidth;
    next[2] = top + r->margins[2] * ch;
    next[3] = bottom - r->margins[3] * ch;
  }
  const double* old = r->plotRect;
  r->subplotRect[0] = left;
  r->subplotRect[1] = right;
  r->subplotRect[2] = top;
  r->subplotRect[3] = bottom;
  // A minimised window: keep the last real plot rectangle and the fixed
  // axes' mapping, so that restoring it rescales from there.
  if (next[1] == next[0] || next[3] == next[2] || old[1] == old[0] || old[3] == old[2]) return;
  r->characterHeight = ch;
  double rx, ry;
  if ((r->scaleFlags & kScaleEqual) != 0) {
    double s = (std::fabs(next[1] - next[0]) + std::fabs(next[3] - next[2])) /
               (std::fabs(old[1] - old[0]) + std::fabs(old[3] - old[2]));
    rx = (old[1] - old[0]) * (next[1] - next[0]) < 0 ? -s : s;
    ry = (old[2] - old[3]) * (next[2] - next[3]) < 0 ? -s : s;
  } else {
    rx = (next[1] - next[0]) / (old[1] - old[0]);
    ry = (next[3] - next[2]) / (old[3] - old[2]);
  }
  if (r->mode[0] >= kAxisFixed) {
    r->xOffset = (next[0] + next[1]) / 2 - rx * ((old[0] + old[1]) / 2 - r->xOffset);
    r->xScale *= rx;
  }
  if (r->mode[1] >= kAxisFixed) {
    r->yOffset = (next[2] + next[3]) / 2 - ry * ((old[2] + old[3]) / 2 - r->yOffset);
    r->yScale *= ry;
  }
  std::copy(next, next + 4, r->plotRect);
  ComputePixelMapping(r, true, 0.04);
}

void SetSubplotMargins(SubplotRecord* r, double left, double right, double top, double bottom) {
  r->margins[0] = left;
  r->margins[1] = right;
  r->margins[2] = top;
  r->margins[3] = bottom;
  SetSubplotPixelRect(r, r->subplotRect[0], r->subplotRect[1], r->subplotRect[2], r->subplotRect[3]);
  r->metricsStale = 0;
}

void GetSubplotPixelRect(const SubplotRecord* r, double* left, double* right, double* top, double* bottom) {
  if (left != nullptr) *left = r->subplotRect[0];
  if (right != nullptr) *right = r->subplotRect[1];
  if (top != nullptr) *top = r->subplotRect[2];
  if (bottom != nullptr) *bottom = r->subplotRect[3];
}

void GetMarginSize(const SubplotRecord* r, double* width, double* height) {
  if (width != nullptr) *width = 2 * (r->margins[0] + r->margins[1]) * r->characterWidth;
  if (height != nullptr) *height = 2 * (r->margins[2] + r->margins[3]) * std::fabs(r->characterHeight);
}

bool IsPixelYAxisDownward(const SubplotRecord* r) { return r->plotRect[2] <= r->plotRect[3]; }

namespace {

void Widen(SubplotRecord* r, int axis, double v) {
  if (std::isnan(v)) return;
  r->minimum[axis] = std::min(r->minimum[axis], v);
  r->maximum[axis] = std::max(r->maximum[axis], v);
}

// Widens `axis` with `values`; with a set or fixed other axis only the points
// whose other value lies within its limits count.
void ExtendAxis(SubplotRecord* r, int axis, const double* values, int other, const double* others, int64_t count) {
  bool filter = others != nullptr && r->mode[other] >= kAxisSet;
  for (int64_t i = 0; i < count; ++i) {
    if (filter && !(r->minimum[other] <= others[i] && others[i] <= r->maximum[other])) continue;
    Widen(r, axis, values[i]);
  }
  r->mode[axis] = kAxisAutomatic;
}

}  // namespace

void ExtendAutoLimits(SubplotRecord* r, const double* x, const double* y, const double* z, int64_t count) {
  if (x != nullptr && r->mode[0] <= kAxisAutomatic) ExtendAxis(r, 0, x, 1, y, count);
  if (y != nullptr && r->mode[1] <= kAxisAutomatic) ExtendAxis(r, 1, y, 0, x, count);
  if (r->mode[2] <= kAxisAutomatic) {
    if (z != nullptr) {
      for (int64_t i = 0; i < count; ++i) Widen(r, 2, z[i]);
    } else {
      // A flat plot lies in the plane z = 0.
      r->minimum[2] = std::min(r->minimum[2], 0.0);
      r->maximum[2] = std::max(r->maximum[2], 0.0);
    }
    r->mode[2] = kAxisAutomatic;
  }
  ComputePixelMapping(r, true, 0.04);
}

namespace {

// Linear or logarithmic; on a logarithmic axis a value <= 0 after the first
// point takes the previous pixel, so that a curve stays connected.
void MapValues(const double* in, int64_t count, bool logarithmic, double offset, double scale, double* out) {
  double previous = 0;
  for (int64_t i = 0; i < count; ++i) {
    double v = in[i];
    double p;
    if (!logarithmic) {
      p = offset + scale * v;
    } else if (i > 0 && !(v > 0)) {
      p = previous;
    } else {
      p = offset + scale * std::log(v);
    }
    out[i] = p;
    previous = p;
  }
}

}  // namespace

void ProjectPoint(const SubplotRecord* r, double x, double y, double z, double* a, double* b, double* depth) {
  const double p[3] = {x * r->axisScale[0], y * r->axisScale[1], z * r->axisScale[2]};
  const double* v = r->view;
  *a = v[0] * p[0] + v[1] * p[1] + v[2] * p[2] + v[3];
  *b = v[4] * p[0] + v[5] * p[1] + v[6] * p[2] + v[7];
  *depth = v[8] * p[0] + v[9] * p[1] + v[10] * p[2] + v[11];
}

bool ProjectToPixel(const SubplotRecord* r, double x, double y, double z, double* px, double* py, double* depth) {
  double a, b, d;
  ProjectPoint(r, x, y, z, &a, &b, &d);
  bool perspective = r->orthographic == 0;
  if (perspective && !(d < 0)) {
    // Behind the camera: no pixel.
    *px = *py = *depth = NAN;
    return false;
  }
  double w = perspective ? d : r->view[11];
  *px = r->xOffset - a * r->xScale / w;
  *py = r->yOffset - b * r->yScale / w;
  *depth = d;
  return true;
}

void DataToPixel(const SubplotRecord* r, const double* x, const double* y, const double* z, int64_t count, double* outX,
                 double* outY, double* outDepth) {
  if (r->is3D != 0) {
    for (int64_t i = 0; i < count; ++i) {
      double px, py, depth;
      ProjectToPixel(r, x[i], y[i], z != nullptr ? z[i] : 0.0, &px, &py, &depth);
      outX[i] = px;
      outY[i] = py;
      if (z != nullptr && outDepth != nullptr) outDepth[i] = depth;
    }
    return;
  }
  if (x != nullptr) MapValues(x, count, IsLogX(r), r->xOffset, r->xScale, outX);
  if (y != nullptr) MapValues(y, count, IsLogY(r), r->yOffset, r->yScale, outY);
  if (outDepth != nullptr) std::fill(outDepth, outDepth + count, 0.0);
}

void DataToPixelPerAxis(const SubplotRecord* r, const double* x, const double* y, const double* z, int64_t count,
                        double* outX, double* outY) {
  if (r->is3D != 0) {
    if (x == nullptr || y == nullptr || z == nullptr) return;
    for (int64_t i = 0; i < count; ++i) {
      double a, b, d;
      ProjectPoint(r, x[i], y[i], z[i], &a, &b, &d);
      double w = r->orthographic == 0 ? d : r->view[11];
      outX[i] = a * r->xScale / w;
      outY[i] = b * r->yScale / w;
    }
    return;
  }
  for (int64_t i = 0; i < count; ++i) {
    if (x != nullptr) outX[i] = r->xScale * (IsLogX(r) ? std::log(x[i]) : x[i]);
    if (y != nullptr) outY[i] = r->yScale * (IsLogY(r) ? std::log(y[i]) : y[i]);
  }
}

bool LineToPixel(const SubplotRecord* r, double a, double b, double c, double* pa, double* pb, double* pc) {
  if (a == 0 && b == 0) {
    *pa = *pb = *pc = 0;
    return false;
  }
  if (a == 0) {
    double v = c / b;
    *pa = 0;
    *pb = 1;
    *pc = r->yOffset + r->yScale * (IsLogY(r) ? std::log(v) : v);
  } else if (b == 0) {
    double v = c / a;
    *pa = 1;
    *pb = 0;
    *pc = r->xOffset + r->xScale * (IsLogX(r) ? std::log(v) : v);
  } else {
    *pa = a / r->xScale;
    *pb = b / r->yScale;
    *pc = c + *pa * r->xOffset + *pb * r->yOffset;
  }
  return true;
}

void PixelToData(const SubplotRecord* r, double px, double py, double* x, double* y) {
  if (x != nullptr) {
    double v = (px - r->xOffset) / r->xScale;
    *x = IsLogX(r) ? std::exp(v) : v;
  }
  if (y != nullptr) {
    double v = (py - r->yOffset) / r->yScale;
    *y = IsLogY(r) ? std::exp(v) : v;
  }
}

void PixelDeltaToData(const SubplotRecord* r, double dx, double dy, double* x, double* y) {
  if (x != nullptr) *x = IsLogX(r) ? std::exp(dx / r->xScale) : dx / r->xScale;
  if (y != nullptr) *y = IsLogY(r) ? std::exp(dy / r->yScale) : dy / r->yScale;
}

void GetVisibleXRange(const SubplotRecord* r, double* low, double* high) {
  double lo = r->minimum[0], hi = r->maximum[0];
  if (std::fabs(r->xScale) <= 1e9) {
    PixelToData(r, r->plotRect[0], 0, &lo, nullptr);
    PixelToData(r, r->plotRect[1], 0, &hi, nullptr);
    if (std::isnan(lo)) lo = r->minimum[0];
    if (std::isnan(hi)) hi = r->maximum[0];
  }
  if (low != nullptr) *low = lo;
  if (high != nullptr) *high = hi;
}

void GetVisibleYRange(const SubplotRecord* r, double* low, double* high) {
  double lo = r->minimum[1], hi = r->maximum[1];
  if (std::fabs(r->yScale) <= 1e9) {
    PixelToData(r, 0, r->plotRect[3], nullptr, &lo);
    PixelToData(r, 0, r->plotRect[2], nullptr, &hi);
    if (std::isnan(lo)) lo = r->minimum[1];
    if (std::isnan(hi)) hi = r->maximum[1];
  }
  if (low != nullptr) *low = lo;
  if (high != nullptr) *high = hi;
}

bool HaveSameScale(const SubplotRecord* a, const SubplotRecord* b, bool xOnly) {
  if (((a->scaleFlags ^ b->scaleFlags) & 0x49) != 0 || !SameScale(a->xScale, b->xScale) ||
      std::fabs((a->xOffset - a->plotRect[0]) - (b->xOffset - b->plotRect[0])) > 0.1) {
    return false;
  }
  if (xOnly) return true;
  return ((a->scaleFlags ^ b->scaleFlags) & 0x12) == 0 && SameScale(a->yScale, b->yScale) &&
         std::fabs((a->yOffset - a->plotRect[2]) - (b->yOffset - b->plotRect[2])) <= 0.1;
}

void TranslateBetweenSubplots(const SubplotRecord* from, const SubplotRecord* to, double* px, double* py) {
  if (px != nullptr) *px += to->plotRect[0] - from->plotRect[0];
  if (py != nullptr) *py += to->plotRect[2] - from->plotRect[2];
}
