// The 3-D view of a subplot: data aspect, automatic camera, view matrix and
// pixel scales from the camera and the limits, and the camera motions.
#include <algorithm>
#include <cmath>

#include "graphics/subplot.h"
#include "graphics/subplotinternal.h"

namespace {

// Below this length a vector has no direction (the up vector parallel to the
// view, a rotation axis of length 0).
constexpr double kTiny = 2.220446049250313e-15;

double Dot(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double Norm(const double* a) { return std::sqrt(Dot(a, a)); }

void Cross(const double* a, const double* b, double* out) {
  double c[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
  std::copy(c, c + 3, out);
}

void Set3(double* out, double x, double y, double z) {
  out[0] = x;
  out[1] = y;
  out[2] = z;
}

double Span(const SubplotRecord* r, int a) { return r->maximum[a] - r->minimum[a]; }

// The usable plot size: less the tick-label margins when the frame is drawn.
void UsableSize(const SubplotRecord* r, bool always, double* w, double* h) {
  *w = r->plotRect[1] - r->plotRect[0];
  *h = std::fabs(r->plotRect[2] - r->plotRect[3]);
  if (always || (r->plotOptions & kOptionFrame) != 0) {
    *w -= 2 * r->characterWidth * r->margins[0];
    *h -= 2 * std::fabs(r->characterHeight) * r->margins[3];
  }
}

void WriteViewRow(double* row, const double* unit, const double* reference) {
  std::copy(unit, unit + 3, row);
  row[3] = -Dot(unit, reference);
}

// Scales the projected data box to fill the usable rectangle; a box without
// extent or a rectangle without size leaves the scales as they are.
void FillPlotRect(SubplotRecord* r, double w, double h) {
  double ex = 0, ey = 0;
  for (int corner = 0; corner < 8; ++corner) {
    double x = (corner & 1) != 0 ? r->maximum[0] : r->minimum[0];
    double y = (corner & 2) != 0 ? r->maximum[1] : r->minimum[1];
    double z = (corner & 4) != 0 ? r->maximum[2] : r->minimum[2];
    double px, py, depth;
    ProjectToPixel(r, x, y, z, &px, &py, &depth);
    ex = std::max(ex, std::fabs(px - r->xOffset));
    ey = std::max(ey, std::fabs(py - r->yOffset));
  }
  if (!(ex > 0) || !(ey > 0) || w == 0 || h == 0) return;
  double f = std::min(std::fabs(w) / 2 / ex, std::fabs(h) / 2 / ey);
  if (!std::isfinite(f)) return;
  r->xScale *= f;
  r->yScale *= f;
}

}  // namespace

double SnapAspectRatio(double ratio) {
  if (ratio >= 5) return std::floor(ratio + 0.5);
  constexpr double kSteps[] = {1, 1.2, 1.25, 4.0 / 3, 1.5, 5.0 / 3, 1.75, 2, 2.25, 2.5, 3, 3.5, 4, 4.5};
  for (double t : kSteps) {
    if (std::fabs(ratio - t) < 0.05) return t;
  }
  return ratio;
}

void ComputeView3D(SubplotRecord* r) {
  double w, h;
  UsableSize(r, false, &w, &h);
  if (r->automaticAspect != 0) {
    double m = INFINITY;
    for (int a = 0; a < 3; ++a) m = std::min(m, r->mode[a] > 0 ? Span(r, a) : 0.0);
    for (int a = 0; a < 3; ++a) {
      bool equal = !(m > 0) || (r->scaleFlags & kScaleEqual) != 0;
      r->aspect[a] = !equal && r->mode[a] > 0 ? SnapAspectRatio(Span(r, a) / m) : 1;
    }
  }
  double sum = 0;
  for (int a = 0; a < 3; ++a) {
    r->axisScale[a] = 1 / r->aspect[a];
    if (r->mode[a] > 0) sum += Span(r, a) * r->axisScale[a] * Span(r, a) * r->axisScale[a];
  }
  double diagonal = sum > 0 ? std::sqrt(sum) : 1;
  bool perspective = r->orthographic == 0;
  if ((r->cameraFlags & kCameraAutoTarget) != 0) {
    for (int a = 0; a < 3; ++a) {
      r->target[a] = r->mode[a] > 0 ? (r->minimum[a] + r->maximum[a]) / 2 * r->axisScale[a] : 0;
    }
  }
  if ((r->cameraFlags & kCameraAutoPosition) != 0) {
    if (perspective) {
      const double away[3] = {-7.8, -5.2, 2.6};
      for (int a = 0; a < 3; ++a) r->position[a] = r->target[a] + diagonal * away[a];
    } else {
      Set3(r->position, -3, -2, 1);
    }
  }
  if ((r->cameraFlags & kCameraAutoUp) != 0) Set3(r->up, 0, 0, 1);

  double d[3];
  for (int a = 0; a < 3; ++a) d[a] = perspective ? r->position[a] - r->target[a] : r->position[a];
  double length = Norm(d);
  // A camera at its target (or an orthographic direction of 0) has no view:
  // keep the last one rather than divide by 0.
  if (!(length > 0) || !std::isfinite(length)) return;
  for (double& v : d) v /= length;
  double right[3];
  Cross(r->up, d, right);
  if (!(Norm(right) >= kTiny)) {
    if (std::fabs(r->up[0]) + std::fabs(r->up[1]) < std::fabs(r->up[2])) {
      Set3(right, d[2], 0, -d[0]);
    } else {
      Set3(right, -d[1], d[0], 0);
    }
  }
  double rn = Norm(right);
  for (double& v : right) v /= rn;
  double upward[3];
  Cross(d, right, upward);
  const double* reference = perspective ? r->position : r->target;
  WriteViewRow(r->view, right, reference);
  WriteViewRow(r->view + 4, upward, reference);
  WriteViewRow(r->view + 8, d, reference);
  if (!perspective) r->view[11] = -1;
  Set3(r->view + 12, 0, 0, 0);
  r->view[15] = 1;

  r->xOffset = (r->plotRect[0] + r->plotRect[1]) / 2;
  r->yOffset = (r->plotRect[2] + r->plotRect[3]) / 2;
  if ((r->cameraFlags & kCameraAutoZoom) != 0) r->zoom = 1;
  double s = std::min(w, h) * r->zoom / diagonal;
  if (perspective) s *= length;
  r->xScale = s;
  r->yScale = r->plotRect[2] < r->plotRect[3] ? -s : s;
  if ((r->cameraFlags & kCameraFill) != 0) FillPlotRect(r, w, h);
}

void InitCamera(SubplotRecord* r) {
  Set3(r->target, 0, 0, 0);
  Set3(r->position, -3, -2, 1);
  Set3(r->up, 0, 0, 1);
  r->zoom = 1;
  Set3(r->aspect, 1, 1, 1);
  r->automaticAspect = 1;
  r->orthographic = 1;
  r->cameraFlags = kCameraAutoTarget | kCameraAutoPosition | kCameraAutoUp | kCameraAutoZoom;
}

void SetDataAspect(SubplotRecord* r, const double* aspect) {
  if (aspect == nullptr) {
    r->automaticAspect = 1;
  } else {
    std::copy(aspect, aspect + 3, r->aspect);
    r->automaticAspect = 0;
  }
  ComputeView3D(r);
}

bool GetDataAspect(const SubplotRecord* r, double* aspect) {
  if (aspect != nullptr) std::copy(r->aspect, r->aspect + 3, aspect);
  return r->automaticAspect == 0;
}

void GetCameraModes(const SubplotRecord* r, bool* target, bool* position, bool* up, bool* perspective) {
  if (target != nullptr) *target = (r->cameraFlags & kCameraAutoTarget) != 0;
  if (position != nullptr) *position = (r->cameraFlags & kCameraAutoPosition) != 0;
  if (up != nullptr) *up = (r->cameraFlags & kCameraAutoUp) != 0;
  if (perspective != nullptr) *perspective = r->orthographic == 0;
}

namespace {

void SetCameraFlag(SubplotRecord* r, uint32_t bit, bool flag) {
  r->cameraFlags = flag ? r->cameraFlags | bit : r->cameraFlags & ~bit;
}

}  // namespace

void SetCameraTargetAuto(SubplotRecord* r, bool flag) { SetCameraFlag(r, kCameraAutoTarget, flag); }
void SetCameraPositionAuto(SubplotRecord* r, bool flag) { SetCameraFlag(r, kCameraAutoPosition, flag); }
void SetCameraUpAuto(SubplotRecord* r, bool flag) { SetCameraFlag(r, kCameraAutoUp, flag); }
bool IsPerspective(const SubplotRecord* r) { return r->orthographic == 0; }

void SetProjection(SubplotRecord* r, bool orthographic) {
  if ((r->orthographic != 0) == orthographic) return;
  r->orthographic = orthographic ? 1 : 0;
  ComputeView3D(r);
}

void TranslateCamera(SubplotRecord* r, const double* v, bool positionOnly) {
  if (!positionOnly) {
    for (int a = 0; a < 3; ++a) r->target[a] += v[a];
    SetCameraFlag(r, kCameraAutoTarget, false);
  }
  if (r->orthographic == 0) {
    for (int a = 0; a < 3; ++a) r->position[a] += v[a];
    SetCameraFlag(r, kCameraAutoPosition, false);
  }
  ComputeView3D(r);
}

double GetCameraDistance(const SubplotRecord* r) {
  if (r->is3D == 0 || r->orthographic != 0) return INFINITY;
  double d[3];
  for (int a = 0; a < 3; ++a) d[a] = r->target[a] - r->position[a];
  return Norm(d);
}

void DollyCameraInView(SubplotRecord* r, double dx, double dy, double dz, bool positionOnly) {
  // dx and dy are pixels: the view's scale turns them into scaled data units.
  double e = r->orthographic != 0 ? 1 : GetCameraDistance(r);
  double v[3];
  for (int a = 0; a < 3; ++a) {
    v[a] = (dx * r->view[a] + dy * r->view[4 + a] + dz * r->view[8 + a]) * e / r->xScale;
  }
  TranslateCamera(r, v, positionOnly);
}

void RotationAboutAxis(const double* axis, double angle, double* m) {
  double k[3] = {0, 0, 1};
  double n = Norm(axis);
  if (n >= kTiny) {
    for (int a = 0; a < 3; ++a) k[a] = axis[a] / n;
  }
  double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
  m[0] = c + t * k[0] * k[0];
  m[1] = t * k[0] * k[1] - s * k[2];
  m[2] = t * k[0] * k[2] + s * k[1];
  m[3] = t * k[1] * k[0] + s * k[2];
  m[4] = c + t * k[1] * k[1];
  m[5] = t * k[1] * k[2] - s * k[0];
  m[6] = t * k[2] * k[0] - s * k[1];
  m[7] = t * k[2] * k[1] + s * k[0];
  m[8] = c + t * k[2] * k[2];
}

void MultiplyMatrixVector3(const double* m, const double* v, double* out) {
  double o[3] = {Dot(m, v), Dot(m + 3, v), Dot(m + 6, v)};
  std::copy(o, o + 3, out);
}

namespace {

// point := centre + Rot(axis, angle) * (point - centre)
void TurnAbout(const double* centre, const double* axis, double angle, double* point) {
  double m[9], v[3];
  RotationAboutAxis(axis, angle, m);
  for (int a = 0; a < 3; ++a) v[a] = point[a] - centre[a];
  MultiplyMatrixVector3(m, v, v);
  for (int a = 0; a < 3; ++a) point[a] = centre[a] + v[a];
}

}  // namespace

void PanCamera(SubplotRecord* r, double a, double b) {
  ComputeView3D(r);
  const double right[3] = {r->view[0], r->view[1], r->view[2]};
  if (a != 0) TurnAbout(r->position, r->up, a, r->target);
  if (b != 0) TurnAbout(r->position, right, b, r->target);
  SetCameraFlag(r, kCameraAutoTarget, false);
  ComputeView3D(r);
}

void OrbitCamera(SubplotRecord* r, double a, double b) {
  ComputeView3D(r);
  SetCameraFlag(r, kCameraAutoPosition, false);
  const double origin[3] = {0, 0, 0};
  const double* centre = r->orthographic != 0 ? origin : r->target;
  if (a != 0) {
    TurnAbout(centre, r->up, a, r->position);
    ComputeView3D(r);
  }
  if (b != 0) {
    const double right[3] = {r->view[0], r->view[1], r->view[2]};
    TurnAbout(centre, right, b, r->position);
    ComputeView3D(r);
  }
}

void RollCamera(SubplotRecord* r, double angle) {
  if (angle != 0) {
    ComputeView3D(r);
    double axis[3], m[9];
    for (int a = 0; a < 3; ++a) axis[a] = r->target[a] - r->position[a];
    RotationAboutAxis(axis, angle, m);
    MultiplyMatrixVector3(m, r->up, r->up);
  }
  SetCameraFlag(r, kCameraAutoUp, false);
  ComputeView3D(r);
}

void ZoomCamera(SubplotRecord* r, double factor) {
  ComputeView3D(r);
  r->zoom *= factor;
  SetCameraFlag(r, kCameraAutoZoom, false);
  ComputeView3D(r);
}

double GetViewAngle(const SubplotRecord* r) {
  if (r->is3D == 0 || r->orthographic != 0) return 0;
  double w, h;
  UsableSize(r, true, &w, &h);
  double t = std::min(w, h) / 2 / r->xScale;
  return t < 0 ? 0 : 2 * std::atan(t) * 57.29577951308232;
}

void SetViewAngle(SubplotRecord* r, double degrees) {
  if (degrees <= 1.4901161193847656e-8) {
    SetProjection(r, true);
    return;
  }
  SetProjection(r, false);
  constexpr double kHalfDegree = 0.008726646259971639;  // pi / 360
  ZoomCamera(r, std::tan(GetViewAngle(r) * kHalfDegree) / std::tan(degrees * kHalfDegree));
}
