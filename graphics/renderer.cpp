// The section walk: prologue (background, grid), one pass over the elements
// of one subplot drawing the two-dimensional lines and shapes, epilogue
// (frame, title). Every element is read through the element cursor and every
// count inside an element is checked against the element's own length, so a
// damaged list can end a section early but never leads a read astray.
#include "graphics/renderer.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr PlotStyle kDefaultFigureStyle = {0, 0, 0, 0, 0};
constexpr PlotStyle kDefaultFillStyle = {0x27, 0, 0, 0, 0};
constexpr PlotStyle kDefaultGridStyle = {0x100, 0, 0, 0, 0};
constexpr PlotStyle kDefaultFrameStyle = {0, 0, 0, 0, 0};

// A count read from element data: -1 unless a whole number in [0, limit].
int64_t Count(double v, int64_t limit) {
  if (!(v >= 0) || v != std::trunc(v) || v > double(limit)) return -1;
  return int64_t(v);
}

struct Walk {
  SubplotRecord* r;
  double* scratch;
  int64_t scratchLength;
  PlotStyle figure, fill, grid, diagram, frameStyle;
  bool frame;
  bool is3D;
  double lineHeight;
  double arrowSize;
  double bound;  // the largest pixel coordinate a 2-D polyline hands on
  const DrawingDevice* device;
  void* context;
};

PlotStyle EffectiveStyle(const Walk& w, const ListElement& e) {
  PlotStyle s{e.styleWord, uint8_t(e.colour >> 16), uint8_t(e.colour >> 8), uint8_t(e.colour), 0};
  if ((e.styleWord & kStyleFigureDefault) == 0) return s;
  PlotStyle d = e.code >= 47 && e.code <= 50 ? w.diagram : w.figure;
  // A marker stays a marker in the default colour.
  if (((e.styleWord & kStyleKind) >> kStyleKindShift) >= 5)
    d.word = (d.word & ~kStyleKind) | (e.styleWord & kStyleKind);
  return d;
}

// Brings a finite pixel point within the bound of 2-D polylines.
void Bound(double B, double* x, double* y) {
  if (std::fabs(*x) > B) {
    double f = B / (std::fabs(*x) + std::fabs(*y));
    *x *= f;
    *y *= f;
  } else if (std::fabs(*y) > B) {
    *y = std::copysign(B, *y);
  }
}

bool Finite(double x, double y) { return std::isfinite(x) && std::isfinite(y); }

// One polyline call per run of finite points; a lone point is a run too.
void DrawRuns(const Walk& w, double* px, double* py, int64_t n, const PlotStyle& style) {
  if (!w.is3D) {
    for (int64_t i = 0; i < n; ++i) {
      if (Finite(px[i], py[i])) Bound(w.bound, &px[i], &py[i]);
    }
  }
  int64_t i = 0;
  while (i < n) {
    if (!Finite(px[i], py[i])) {
      ++i;
      continue;
    }
    int64_t j = i;
    while (j < n && Finite(px[j], py[j])) ++j;
    w.device->polyline(px + i, py + i, int32_t(j - i), &style, w.context);
    i = j;
  }
}

// The arrowhead at tip P coming from Q: two strokes 2s back and s aside.
void Arrowhead(const Walk& w, double ptx, double pty, double qx, double qy, const PlotStyle& style) {
  double dx = ptx - qx, dy = pty - qy;
  double len = std::hypot(dx, dy);
  if (!(len > 0) || !std::isfinite(len)) return;
  double ux = dx / len, uy = dy / len;
  double nx = -uy, ny = ux, s = w.arrowSize;
  const double x[3] = {ptx - 2 * s * ux + s * nx, ptx, ptx - 2 * s * ux - s * nx};
  const double y[3] = {pty - 2 * s * uy + s * ny, pty, pty - 2 * s * uy - s * ny};
  w.device->polyline(x, y, 3, &style, w.context);
}

void DrawPolyline(const Walk& w, const ListElement& e, const PlotStyle& style) {
  if (w.is3D || e.n < 1) return;
  const int64_t arrays = e.code == 1 ? 2 : 3;
  const int64_t n = Count(e.data[0], (e.n - 1) / arrays);
  if (n < 1 || w.scratchLength < 3 * n) return;
  double* px = w.scratch;
  double* py = w.scratch + n;
  DataToPixel(w.r, e.data + 1, e.data + 1 + n, nullptr, n, px, py, nullptr);
  DrawRuns(w, px, py, n, style);
  if (n < 2) return;
  if ((style.word & kStyleArrowFirst) != 0 && Finite(px[0], py[0]) && Finite(px[1], py[1])) {
    Arrowhead(w, px[0], py[0], px[1], py[1], style);
  }
  if ((style.word & kStyleArrowLast) != 0 && Finite(px[n - 1], py[n - 1]) && Finite(px[n - 2], py[n - 2])) {
    Arrowhead(w, px[n - 1], py[n - 1], px[n - 2], py[n - 2], style);
  }
}

void DrawLine(const Walk& w, const ListElement& e, const PlotStyle& style) {
  if (w.is3D || e.n < 3) return;
  const double a = e.data[0], b = e.data[1], c = e.data[2];
  // Both ends divide by a or b.
  if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c) || (a == 0 && b == 0)) return;
  const SubplotRecord* r = w.r;
  double x[4], y[4];
  const bool steep = std::fabs(a) >= std::fabs(b);
  if (steep) {
    GetVisibleYRange(r, &y[0], &y[1]);
    x[0] = (c - b * y[0]) / a;
    x[1] = (c - b * y[1]) / a;
  } else {
    GetVisibleXRange(r, &x[0], &x[1]);
    y[0] = (c - a * x[0]) / b;
    y[1] = (c - a * x[1]) / b;
  }
  if ((r->scaleFlags & (kScaleLogX | kScaleDecibelX)) != 0 && !(x[0] > 0 && x[1] > 0)) return;
  if ((r->scaleFlags & (kScaleLogY | kScaleDecibelY)) != 0 && !(y[0] > 0 && y[1] > 0)) return;
  DataToPixel(r, x, y, nullptr, 2, x, y, nullptr);
  int32_t count = 2;
  if ((style.word & kStyleFilled) != 0) {
    // Closes the polygon over the side where a x + b y < c.
    if (steep) {
      x[2] = x[3] = a > 0 ? r->plotRect[0] : r->plotRect[1];
      y[2] = y[1];
      y[3] = y[0];
    } else {
      x[2] = x[1];
      x[3] = x[0];
      y[2] = y[3] = b > 0 ? r->plotRect[3] : r->plotRect[2];
    }
    count = 4;
  }
  for (int32_t i = 0; i < count; ++i) {
    if (!Finite(x[i], y[i])) return;
    Bound(w.bound, &x[i], &y[i]);
  }
  w.device->polyline(x, y, count, &style, w.context);
}

void DrawEllipses(const Walk& w, const ListElement& e, const PlotStyle& style) {
  if (w.is3D || (w.r->scaleFlags & (kScaleLogX | kScaleLogY)) != 0 || w.device->ellipse == nullptr || e.n < 1) return;
  const int64_t arrays = e.code == 5 ? 3 : 4;
  const int64_t n = Count(e.data[0], (e.n - 1) / arrays);
  if (n < 1 || w.scratchLength < 4 * n) return;
  const double* x = e.data + 1;
  const double* y = x + n;
  const double* rx = y + n;
  const double* ry = e.code == 5 ? rx : rx + n;
  double* cx = w.scratch;
  double* cy = cx + n;
  double* prx = cy + n;
  double* pry = prx + n;
  DataToPixel(w.r, x, y, nullptr, n, cx, cy, nullptr);
  DataToPixelPerAxis(w.r, rx, ry, nullptr, n, prx, pry);
  for (int64_t i = 0; i < n; ++i) {
    if (!Finite(cx[i], cy[i]) || !Finite(prx[i], pry[i])) continue;
    w.device->ellipse(cx[i], cy[i], std::fabs(prx[i]), std::fabs(pry[i]), &style, w.context);
  }
}

// A coordinate outside [lo, hi] moves to one extent beyond the nearer edge.
double Fold(double v, double lo, double hi) {
  if (v < lo) return 2 * lo - hi;
  if (v > hi) return 2 * hi - lo;
  return v;
}

void DrawBars(const Walk& w, const ListElement& e, const PlotStyle& style) {
  if (w.is3D || e.n < 3) return;
  const int32_t flags = std::isfinite(e.data[0]) ? int32_t(std::fmod(std::trunc(e.data[0]), 4.0)) : 0;
  const bool horizontal = (flags & 1) != 0, ownBase = (flags & 2) != 0;
  const double half = e.data[1] / 2;
  const int64_t n = Count(e.data[2], (e.n - 3) / (ownBase ? 3 : 2));
  if (n < 1) return;
  const double* pos = e.data + 3;
  const double* value = pos + n;
  const double* base = ownBase ? value + n : nullptr;
  const SubplotRecord* r = w.r;
  const double left = std::min(r->plotRect[0], r->plotRect[1]), right = std::max(r->plotRect[0], r->plotRect[1]);
  const double top = std::min(r->plotRect[2], r->plotRect[3]), bottom = std::max(r->plotRect[2], r->plotRect[3]);
  for (int64_t i = 0; i < n; ++i) {
    const double p = pos[i], v = value[i], b = base != nullptr ? base[i] : 0;
    double x[5], y[5];
    if (horizontal) {
      const double xs[5] = {b, b, v, v, b}, ys[5] = {p - half, p + half, p + half, p - half, p - half};
      std::copy(xs, xs + 5, x);
      std::copy(ys, ys + 5, y);
    } else {
      const double xs[5] = {p - half, p + half, p + half, p - half, p - half}, ys[5] = {b, b, v, v, b};
      std::copy(xs, xs + 5, x);
      std::copy(ys, ys + 5, y);
    }
    DataToPixel(r, x, y, nullptr, 5, x, y, nullptr);
    if (std::isnan(x[0]) || std::isnan(x[2]) || std::isnan(y[0]) || std::isnan(y[2])) continue;
    for (int k = 0; k < 5; ++k) {
      x[k] = Fold(x[k], left, right);
      y[k] = Fold(y[k], top, bottom);
    }
    w.device->polyline(x, y, 5, &style, w.context);
  }
}

void DrawPolylineRecords(const Walk& w, const ListElement& e, const PlotStyle& style) {
  if (w.is3D) return;
  int64_t at = 0;
  while (at < e.n) {
    const double c = e.data[at];
    if (!(c >= 0)) return;
    const int64_t count = Count(c, (e.n - at - 1) / 2);
    if (count < 0 || 2 * count > w.scratchLength) return;
    if (count > 0) {
      const double* x = e.data + at + 1;
      DataToPixel(w.r, x, x + count, nullptr, count, w.scratch, w.scratch + count, nullptr);
      DrawRuns(w, w.scratch, w.scratch + count, count, style);
    }
    at += 1 + 2 * count;
  }
}

void DrawLegendElement(const Walk& w, const ListElement& e) {
  if ((GetPlotOptions(w.r) & 0x20000) == 0 || e.n < 3) return;
  const int64_t k = Count(e.data[1], (e.n - 3) / 2);
  if (k < 0) return;
  const int64_t textAt = 3 + 2 * k;
  const int64_t textLength = Count(e.data[2], 8 * (e.n - textAt));
  if (textLength < 0) return;
  DrawLegend(w.r, int32_t(k), int32_t(textLength), reinterpret_cast<const uint8_t*>(e.data + textAt), e.data + 3,
             w.frame, &w.frameStyle, &w.fill, w.device, w.context);
}

void DrawElement(const Walk& w, const ListElement& e) {
  if (w.device->polyline == nullptr && e.code != 5 && e.code != 6) return;
  const PlotStyle style = EffectiveStyle(w, e);
  switch (e.code) {
    case 1:
    case 2:
    case 13:
      DrawPolyline(w, e, style);
      break;
    case 4:
      DrawLine(w, e, style);
      break;
    case 5:
    case 6:
      DrawEllipses(w, e, style);
      break;
    case 7:
      DrawBars(w, e, style);
      break;
    case 8:
      DrawPolylineRecords(w, e, style);
      break;
    case 58:
      DrawLegendElement(w, e);
      break;
    default:
      // Images, pcolor, grids of control design, texts, fonts, controls and
      // everything three-dimensional are drawn elsewhere or not at all.
      break;
  }
}

}  // namespace

void ColormapLookup(double v, const double* map, int32_t k, uint8_t* red, uint8_t* green, uint8_t* blue) {
  if (k < 1) {
    // NaN fails both tests and lands on grey 0 like every value below 0.
    uint8_t g = v >= 1 ? 255 : v > 0 ? uint8_t(std::floor(v * 255.9999)) : 0;
    *red = *green = *blue = g;
    return;
  }
  int32_t i = v >= 1 ? k - 1 : v > 0 ? std::min(k - 1, int32_t(std::floor(v * k))) : 0;
  auto byte = [](double c) { return c >= 1 ? uint8_t(255) : c > 0 ? uint8_t(std::floor(c * 255.9999)) : uint8_t(0); };
  *red = byte(map[i]);
  *green = byte(map[k + i]);
  *blue = byte(map[2 * k + i]);
}

void SetupSubplotFontMetrics(SubplotRecord* r, const DrawingDevice* device, void* context) {
  double width = 10, height = 12;
  if (device != nullptr && device->textExtent != nullptr) {
    device->textExtent(reinterpret_cast<const uint8_t*>("0"), 1, &width, &height, context);
  }
  SetCharacterSize(r, width, height);
  if (device != nullptr) {
    SetSubplotMargins(r, device->d0, device->d1, device->d2, device->d3);
  } else {
    SetSubplotMargins(r, 5, 0.5, 1.5, 1.5);
  }
}

bool RenderDisplayList(double* list, int32_t length, double* scratch, int64_t scratchLength, SubplotRecord* r,
                       int32_t* position, const PlotStyle* figureStyle, const PlotStyle* fillStyle,
                       const PlotStyle* gridStyle, const PlotStyle* diagramGridStyle, const PlotStyle* frameStyle,
                       const EditState& /*edit*/, bool layoutOnly, const DrawingDevice* device, void* context) {
  Walk w{};
  w.r = r;
  w.scratch = scratch;
  w.scratchLength = scratch != nullptr ? std::max<int64_t>(scratchLength, 0) : 0;
  w.figure = figureStyle != nullptr ? *figureStyle : kDefaultFigureStyle;
  w.fill = fillStyle != nullptr ? *fillStyle : kDefaultFillStyle;
  w.grid = gridStyle != nullptr ? *gridStyle : kDefaultGridStyle;
  w.diagram = diagramGridStyle != nullptr ? *diagramGridStyle : kDefaultGridStyle;
  w.frameStyle = frameStyle != nullptr ? *frameStyle : kDefaultFrameStyle;
  w.context = context;
  w.is3D = IsSubplot3D(r);
  const int32_t options = GetPlotOptions(r);
  w.frame = r->hasScale != 0 && (options & kOptionFrame) != 0;

  if (r->metricsStale != 0) SetupSubplotFontMetrics(r, device, context);
  static const DrawingDevice kNoOperations{};
  if (device == nullptr) device = &kNoOperations;
  w.device = device;
  const double* p = r->plotRect;
  const double* s = r->subplotRect;
  const bool draw = !layoutOnly;
  if (draw) {
    if (device->beginClip != nullptr) device->beginClip(p[0], p[1], p[2], p[3], context);
    if (device->fillRect != nullptr) device->fillRect(p[0], p[2], p[1], p[3], w.frame && !w.is3D ? 1 : 2, context);
    if (w.frame && !w.is3D) {
      DrawSubplotGridLines(r, &w.grid, device, context);
      DrawPolarAxes(r, &w.grid, device, context);
    }
  }

  if (device->textExtent != nullptr) {
    double width = 0, h = 0;
    device->textExtent(reinterpret_cast<const uint8_t*>("M"), 1, &width, &h, context);
    w.lineHeight = std::trunc(1.2 * h);
    w.arrowSize = 0.4 * h;
  } else {
    w.lineHeight = std::fabs(p[2] - s[2]);
    w.arrowSize = 5;
  }
  w.bound = 100 * (std::fabs(p[1] - p[0]) + std::fabs(p[3] - p[2]));
  if (w.is3D) w.scratchLength /= 2;

  ElementCursor cursor{list, length, *position};
  ListElement e;
  // The marker that opens the section.
  int32_t start = cursor.position;
  if (NextElement(&cursor, &e) && e.code != kSectionMarkerCode) cursor.position = start;
  for (;;) {
    const int32_t at = cursor.position;
    if (!NextElement(&cursor, &e)) break;
    if (e.code == kSectionMarkerCode) {
      cursor.position = at;
      break;
    }
    if (draw) DrawElement(w, e);
  }
  *position = std::min(cursor.position, length);

  if (draw) {
    if (device->endClip != nullptr) device->endClip(context);
    if (device->beginClip != nullptr) device->beginClip(s[0], s[1], s[2], s[3], context);
    if (w.frame && !w.is3D) DrawSubplotFrame(r, &w.frameStyle, device, context);
    const int32_t titled = kOptionLabel | kOptionMargin;
    if ((options & titled) == titled && r->title[0] != 0 && device->text != nullptr) {
      int32_t n = 0;
      while (n < int32_t(sizeof r->title) && r->title[n] != 0) ++n;
      device->text(p[0], (s[2] + p[2]) / 2, r->title, n, kTextStartsAtPoint, nullptr, context);
    }
    if (device->endClip != nullptr) device->endClip(context);
  }
  return *position < length;
}
