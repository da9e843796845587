// The decoration of a 2-D subplot: grid lines and polar axes behind the data,
// the frame with its tick marks, numeric labels and axis names in front.
// Tick choices work in displayed units (data value * scale factor); every walk
// is bounded by one mark per pixel of its axis and ends when a step no longer
// moves the value, so axes far from 0 with tiny spans still end.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/values/textformat.h"
#include "graphics/renderer.h"
#include "graphics/subplotinternal.h"

namespace {

constexpr double kLn10 = 2.302585092994046;

struct Ctx {
  const SubplotRecord* r;
  const PlotStyle* style;
  const DrawingDevice* device;
  void* context;

  double Left() const { return r->plotRect[0]; }
  double Right() const { return r->plotRect[1]; }
  double Top() const { return r->plotRect[2]; }
  double Bottom() const { return r->plotRect[3]; }
  double PixelX(double v) const {
    double p;
    DataToPixel(r, &v, nullptr, nullptr, 1, &p, nullptr, nullptr);
    return p;
  }
  double PixelY(double v) const {
    double p;
    DataToPixel(r, nullptr, &v, nullptr, 1, nullptr, &p, nullptr);
    return p;
  }
  void Segment(double x0, double y0, double x1, double y1) const {
    if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) return;
    const double x[2] = {x0, x1}, y[2] = {y0, y1};
    device->polyline(x, y, 2, style, context);
  }
  // Marks along x: from the bottom and the top edge toward the inside.
  void XMark(double px, double length) const {
    double in = Top() - Bottom() >= 0 ? length : -length;
    Segment(px, Bottom(), px, Bottom() + in);
    Segment(px, Top(), px, Top() - in);
  }
  void YMark(double py, double length) const {
    Segment(Left(), py, Left() + length, py);
    Segment(Right(), py, Right() - length, py);
  }
  void Text(double x, double y, const char* text, int32_t length, int32_t alignment) const {
    if (device->text == nullptr || length <= 0 || !std::isfinite(x) || !std::isfinite(y)) return;
    device->text(x, y, reinterpret_cast<const uint8_t*>(text), length, alignment, nullptr, context);
  }
  void Label(double x, double y, double value, int precision, int32_t alignment) const {
    char buf[20];
    int pos = 0;
    NumberFormat format;
    format.leftJustify = true;
    FormatDouble(buf, &pos, value, precision, 'K', sizeof buf, format);
    Text(x, y, buf, pos, alignment);
  }
  // The most marks a walk along an axis of this many pixels draws.
  static int64_t Limit(double pixels) {
    double a = std::fabs(pixels);
    return a < 1e7 ? int64_t(a) + 1 : int64_t(1e7);
  }
  int64_t XLimit() const { return Limit(Right() - Left()); }
  int64_t YLimit() const { return Limit(Bottom() - Top()); }
};

// first, first + step, ... while below `end`, at most `limit` values.
template <typename F>
void WalkLinear(double first, double step, double end, int64_t limit, F draw) {
  double v = first;
  for (int64_t k = 0; v < end && k < limit; ++k) {
    draw(v);
    double next = v + step;
    if (!(next > v)) return;
    v = next;
  }
}

// Labels snap a value within 1% of the step from 0 to exactly 0, and go on from there.
template <typename F>
void WalkLabels(double first, double step, double end, int64_t limit, F draw) {
  double v = first;
  for (int64_t k = 0; v < end && k < limit; ++k) {
    if (std::fabs(v / step) < 0.01) v = 0;
    draw(v);
    double next = v + step;
    if (!(next > v)) return;
    v = next;
  }
}

// d * m for the pattern's multipliers, decade after decade, up to `end`;
// `draw` gets the displayed values whose data value lies in [lo, hi]. The
// bounds are widened by a relative 1e-9, as a visible range read back through
// exp(ln(hi)) may end a rounding step short of a decade that it reaches.
template <typename F>
void WalkLog(double d, LogTickPattern p, double lo, double hi, double s, double end, int64_t limit, F draw) {
  constexpr double kSlack = 1e-9;
  lo *= 1 - kSlack;
  hi *= 1 + kSlack;
  end *= 1 + kSlack;
  int i = 0;
  int64_t marks = 0;
  while (d < end) {
    double m = p[i];
    if (m > 0) {
      double t = d * m;
      if (lo <= t / s && t / s <= hi) {
        if (marks++ >= limit) return;
        draw(t);
      }
      ++i;
    } else {
      double next = d * -m;
      if (!(next > d)) return;
      d = next;
      i = 0;
    }
  }
}

// The visible range read back through the mapping may end a rounding step
// inside a tick that lies on the edge; widening it by a relative 1e-9 keeps
// that tick (the bottom label of a dB axis over [0.01, 100] is -40).
void VisibleRange(const SubplotRecord* r, bool y, double* lo, double* hi) {
  if (y) {
    GetVisibleYRange(r, lo, hi);
  } else {
    GetVisibleXRange(r, lo, hi);
  }
  const bool down = *lo > *hi;
  if (y ? IsLogY(r) : IsLogX(r)) {
    *(down ? hi : lo) *= 1 - 1e-9;
    *(down ? lo : hi) *= 1 + 1e-9;
  } else {
    const double e = 1e-9 * std::fabs(*hi - *lo);
    *(down ? hi : lo) -= e;
    *(down ? lo : hi) += e;
  }
}

int32_t NameLength(const uint8_t* field) { return int32_t(strnlen(reinterpret_cast<const char*>(field), 16)); }

double Extent(const Ctx& c, const uint8_t* text, int32_t length, bool height) {
  double w = 0, h = 0;
  c.device->textExtent(text, length, &w, &h, c.context);
  return height ? h : w;
}

void VerticalLine(const Ctx& c, double x) { c.Segment(c.PixelX(x), c.Bottom(), c.PixelX(x), c.Top()); }
void HorizontalLine(const Ctx& c, double y) { c.Segment(c.Left(), c.PixelY(y), c.Right(), c.PixelY(y)); }

// Pixel y of a dB value w on a decibel axis with scale factor s.
double DecibelPixel(const SubplotRecord* r, double w, double s) {
  return (w * kLn10 / 20 - std::log(s)) * r->yScale + r->yOffset;
}

void PolarGridCircles(const Ctx& c) {
  const SubplotRecord* r = c.r;
  double x0, x1, y0, y1;
  GetVisibleXRange(r, &x0, &x1);
  GetVisibleYRange(r, &y0, &y1);
  double mx = std::max(std::fabs(x0), std::fabs(x1)), my = std::max(std::fabs(y0), std::fabs(y1));
  double R = std::sqrt(mx * mx + my * my);
  const double sx = r->scaleFactors[0], sy = r->scaleFactors[1];
  TickChoice t;
  if (!ChooseAxisTicks(0, R * sy, 0, r->tickSpacing / std::fabs(r->xScale) * sy,
                       6 * r->characterWidth / std::fabs(r->xScale) * sy, &t)) {
    return;
  }
  int64_t limit = c.XLimit() + c.YLimit();
  for (int64_t k = 1; k <= limit && double(k) * t.minorStep < R * sx; ++k) {
    DrawDataCircle(r, 0, 0, double(k) * t.minorStep / sy, c.style, c.device, c.context);
  }
}

void GridX(const Ctx& c) {
  const SubplotRecord* r = c.r;
  double lo, hi;
  VisibleRange(r, false, &lo, &hi);
  const double s = r->scaleFactors[0];
  if ((r->scaleFlags & kScaleLogX) != 0) {
    LogTickChoice t;
    if (!ChooseLogAxisTicks(lo * s, hi * s, hi * s, std::exp(r->tickSpacing / std::fabs(r->xScale)),
                            std::exp(6 * r->characterWidth / std::fabs(r->xScale)), &t)) {
      return;
    }
    WalkLog(t.firstDecade, t.minor, lo, hi, s, hi * s, c.XLimit(), [&](double v) { VerticalLine(c, v / s); });
    return;
  }
  TickChoice t;
  if (!ChooseAxisTicks(lo * s, hi * s, hi * s, r->tickSpacing / std::fabs(r->xScale) * s,
                       6 * r->characterWidth / std::fabs(r->xScale) * s, &t, false)) {
    return;
  }
  WalkLinear(t.firstMinor, t.minorStep, hi * s, c.XLimit(), [&](double v) { VerticalLine(c, v / s); });
}

void GridY(const Ctx& c) {
  const SubplotRecord* r = c.r;
  double lo, hi;
  VisibleRange(r, true, &lo, &hi);
  const double s = r->scaleFactors[1];
  const double ch = std::fabs(r->characterHeight);
  if ((r->scaleFlags & kScaleLogY) != 0) {
    LogTickChoice t;
    if (!ChooseLogAxisTicks(lo * s, hi * s, hi * s, std::exp(r->tickSpacing / std::fabs(r->yScale)),
                            std::exp(2 * ch / std::fabs(r->yScale)), &t)) {
      return;
    }
    WalkLog(t.firstDecade, t.minor, lo, hi, s, hi * s, c.YLimit(), [&](double v) { HorizontalLine(c, v / s); });
    return;
  }
  if ((r->scaleFlags & kScaleDecibelY) != 0) {
    if (!(hi > 0)) return;
    const double g = 20 * std::log10(s), d = r->yScale * kLn10 / 20;
    TickChoice t;
    if (!ChooseAxisTicks(20 * std::log10(lo) + g, 20 * std::log10(hi) + g, 20 * std::log10(hi) + g,
                         r->tickSpacing / std::fabs(d), 2 * std::fabs(ch / d), &t, false)) {
      return;
    }
    // The walk's end in dB: w ln 10 / 20 < ln(hi s).
    WalkLinear(t.firstMinor, t.minorStep, 20 * std::log10(hi * s), c.YLimit(), [&](double w) {
      double py = DecibelPixel(r, w, s);
      c.Segment(c.Left(), py, c.Right(), py);
    });
    return;
  }
  TickChoice t;
  if (!ChooseAxisTicks(lo * s, hi * s, hi * s, r->tickSpacing / std::fabs(r->yScale) * s,
                       2 * ch / std::fabs(r->yScale) * s, &t, false)) {
    return;
  }
  WalkLinear(t.firstMinor, t.minorStep, hi * s, c.YLimit(), [&](double v) { HorizontalLine(c, v / s); });
}

void PolarLabels(const Ctx& c, int32_t options) {
  const SubplotRecord* r = c.r;
  double x0, x1, y0, y1;
  GetVisibleXRange(r, &x0, &x1);
  GetVisibleYRange(r, &y0, &y1);
  const double sx = r->scaleFactors[0], sy = r->scaleFactors[1];
  const double ch = r->characterHeight, cw = r->characterWidth;
  const bool shown = (options & kOptionMargin) != 0;
  TickChoice t;
  if ((options & 0x8) != 0 && shown && x0 * x1 < 0 && (y1 < x1 || y0 * y1 > 0)) {
    if (!ChooseAxisTicks(0, x1 * sx, x1 * sx, r->tickSpacing / std::fabs(r->xScale) * sx,
                         6 * cw / std::fabs(r->xScale) * sx, &t)) {
      return;
    }
    WalkLinear(t.firstLabel, t.labelStep, x1 * sx, c.XLimit(),
               [&](double v) { c.Label(c.PixelX(v / sx), c.Bottom() + 0.15 * ch, v, 3, kTextHangsBelow); });
  } else if ((options & 0x80) != 0 && shown && y0 * y1 < 0) {
    if (!ChooseAxisTicks(0, y1 * sy, y1 * sy, r->tickSpacing / std::fabs(r->yScale) * sy,
                         2 * std::fabs(ch / r->yScale) * sy, &t)) {
      return;
    }
    WalkLinear(t.firstLabel, t.labelStep, y1 * sy, c.YLimit(),
               [&](double v) { c.Label(c.Left() - 0.5 * cw, c.PixelY(v / sy), v, 1, kTextEndsAtPoint); });
  }
}

void FrameX(const Ctx& c, int32_t options) {
  const SubplotRecord* r = c.r;
  double lo, hi;
  VisibleRange(r, false, &lo, &hi);
  const double s = r->scaleFactors[0], cw = r->characterWidth, ch = r->characterHeight;
  const bool logarithmic = (r->scaleFlags & kScaleLogX) != 0;
  const int32_t nameLength = NameLength(r->axisName[0]);
  double room = 0;
  if (nameLength > 0) {
    room = (c.device->textExtent != nullptr ? Extent(c, r->axisName[0], nameLength, false)
                                            : r->plotRect[0] - r->subplotRect[0]) +
           cw;
  }
  const double limit = logarithmic ? hi * std::exp(-room / std::fabs(r->xScale)) : hi - std::fabs(room / r->xScale);
  const bool labels = (options & 0x8) != 0 && (options & kOptionMargin) != 0 && c.device->text != nullptr;
  const double labelY = c.Bottom() + 0.15 * ch;
  const double minorLength = r->minorTickLength, majorLength = r->majorTickLength;

  if (logarithmic) {
    LogTickChoice t;
    ChooseLogAxisTicks(lo * s, hi * s, limit * s, std::exp(r->tickSpacing / std::fabs(r->xScale)),
                       std::exp(6 * cw / std::fabs(r->xScale)), &t);
    if (!(lo * s > 0) || !std::isfinite(hi * s)) return;
    WalkLog(t.firstDecade, t.minor, lo, hi, s, hi * s, c.XLimit(),
            [&](double v) { c.XMark(c.PixelX(v / s), minorLength); });
    WalkLog(t.firstDecade, t.major, lo, hi, s, hi * s, c.XLimit(),
            [&](double v) { c.XMark(c.PixelX(v / s), majorLength); });
    if (!labels) return;
    WalkLog(t.firstDecade, t.label, lo, limit, s, limit * s, c.XLimit(),
            [&](double v) { c.Label(c.PixelX(v / s), labelY, v, 3, kTextHangsBelow); });
  } else {
    TickChoice t;
    if (!ChooseAxisTicks(lo * s, hi * s, limit * s, r->tickSpacing / std::fabs(r->xScale) * s,
                         6 * cw / std::fabs(r->xScale) * s, &t)) {
      return;
    }
    WalkLinear(t.firstMinor, t.minorStep, hi * s, c.XLimit(), [&](double v) { c.XMark(c.PixelX(v / s), minorLength); });
    WalkLinear(t.firstMajor, t.majorStep, hi * s, c.XLimit(), [&](double v) { c.XMark(c.PixelX(v / s), majorLength); });
    if (!labels) return;
    WalkLabels(t.firstLabel, t.labelStep, limit * s, c.XLimit(),
               [&](double v) { c.Label(c.PixelX(v / s), labelY, v, 3, kTextHangsBelow); });
  }
  c.Text(c.Right(), labelY, reinterpret_cast<const char*>(r->axisName[0]), nameLength,
         kTextEndsAtPoint | kTextHangsBelow);
}

void FrameY(const Ctx& c, int32_t options) {
  const SubplotRecord* r = c.r;
  double lo, hi;
  VisibleRange(r, true, &lo, &hi);
  const double s = r->scaleFactors[1], cw = r->characterWidth, ch = r->characterHeight;
  const bool logarithmic = (r->scaleFlags & kScaleLogY) != 0;
  const bool decibel = !logarithmic && (r->scaleFlags & kScaleDecibelY) != 0;
  const int32_t nameLength = NameLength(r->axisName[1]);
  const char* name = reinterpret_cast<const char*>(r->axisName[1]);
  double room = 0;
  if (nameLength > 0 || decibel) {
    const int both = nameLength > 0 && decibel ? 2 : 1;
    if (c.device->textExtent != nullptr) {
      room = (nameLength > 0 ? Extent(c, r->axisName[1], nameLength, true) : 0) * both + 0.5 * std::fabs(ch);
    } else {
      room = 0.5 * std::fabs(ch) + both * std::fabs(r->plotRect[2] - r->subplotRect[2]);
    }
  }
  const double limit = logarithmic ? hi * std::exp(-room / std::fabs(r->yScale)) : hi - std::fabs(room / r->yScale);
  const bool labels = (options & 0x80) != 0 && (options & kOptionMargin) != 0 && c.device->text != nullptr;
  const double labelX = c.Left() - 0.5 * cw;
  const double minorLength = r->minorTickLength, majorLength = r->majorTickLength;
  const int32_t nameAlign = kTextEndsAtPoint | kTextHangsBelow;

  if (decibel) {
    if (!(hi > 0)) return;
    const double g = 20 * std::log10(s), d = r->yScale * kLn10 / 20;
    const int n = nameLength > 0 ? 2 : 1;
    const double top = 20 * std::log10(hi) + g;
    const double dbLimit = top - 20 * n * std::fabs(room / r->yScale) / kLn10;
    TickChoice t;
    if (!ChooseAxisTicks(20 * std::log10(lo) + g, top, dbLimit, r->tickSpacing / std::fabs(d), 2 * std::fabs(ch / d),
                         &t)) {
      return;
    }
    const double end = 20 * std::log10(hi * s);
    WalkLinear(t.firstMinor, t.minorStep, end, c.YLimit(),
               [&](double w) { c.YMark(DecibelPixel(r, w, s), minorLength); });
    WalkLinear(t.firstMajor, t.majorStep, end, c.YLimit(),
               [&](double w) { c.YMark(DecibelPixel(r, w, s), majorLength); });
    if (!labels) return;
    WalkLabels(t.firstLabel, t.labelStep, dbLimit, c.YLimit(),
               [&](double w) { c.Label(labelX, (w - g) * d + r->yOffset, w, 1, kTextEndsAtPoint); });
    c.Text(labelX, c.Top(), name, nameLength, nameAlign);
    const double y = nameLength > 0 ? 2 * c.Top() - r->subplotRect[2] : c.Top();
    c.Text(labelX, y, "[dB]", 4, nameAlign);
    return;
  }
  if (logarithmic) {
    LogTickChoice t;
    ChooseLogAxisTicks(lo * s, hi * s, limit * s, std::exp(r->tickSpacing / std::fabs(r->yScale)),
                       std::exp(2 * std::fabs(ch) / std::fabs(r->yScale)), &t);
    if (!(lo * s > 0) || !std::isfinite(hi * s)) return;
    WalkLog(t.firstDecade, t.minor, lo, hi, s, hi * s, c.YLimit(),
            [&](double v) { c.YMark(c.PixelY(v / s), minorLength); });
    WalkLog(t.firstDecade, t.major, lo, hi, s, hi * s, c.YLimit(),
            [&](double v) { c.YMark(c.PixelY(v / s), majorLength); });
    if (!labels) return;
    WalkLog(t.firstDecade, t.label, lo, limit, s, limit * s, c.YLimit(),
            [&](double v) { c.Label(labelX, c.PixelY(v / s), v, 3, kTextEndsAtPoint); });
  } else {
    TickChoice t;
    if (!ChooseAxisTicks(lo * s, hi * s, limit * s, r->tickSpacing / std::fabs(r->yScale) * s,
                         2 * std::fabs(ch) / std::fabs(r->yScale) * s, &t)) {
      return;
    }
    WalkLinear(t.firstMinor, t.minorStep, hi * s, c.YLimit(), [&](double v) { c.YMark(c.PixelY(v / s), minorLength); });
    WalkLinear(t.firstMajor, t.majorStep, hi * s, c.YLimit(), [&](double v) { c.YMark(c.PixelY(v / s), majorLength); });
    if (!labels) return;
    WalkLabels(t.firstLabel, t.labelStep, limit * s, c.YLimit(),
               [&](double v) { c.Label(labelX, c.PixelY(v / s), v, 1, kTextEndsAtPoint); });
  }
  c.Text(labelX, c.Top(), name, nameLength, nameAlign);
}

}  // namespace

void DrawSubplotGridLines(const SubplotRecord* r, const PlotStyle* style, const DrawingDevice* device, void* context) {
  const int32_t options = GetPlotOptions(r);
  if ((options & 0x44) == 0 || device->polyline == nullptr) return;
  const Ctx c{r, style, device, context};
  if (r->polar != 0) {
    if ((options & 0x4) != 0) {
      for (int k = 0; k < 12; ++k) {
        DrawLineAcross(r, std::cos(k * M_PI / 12), std::sin(k * M_PI / 12), 0, style, device, context);
      }
    }
    if ((options & 0x40) != 0) PolarGridCircles(c);
    return;
  }
  if ((options & 0x4) != 0) GridX(c);
  if ((options & 0x40) != 0) GridY(c);
}

void DrawPolarAxes(const SubplotRecord* r, const PlotStyle* style, const DrawingDevice* device, void* context) {
  if (r->polar == 0) return;
  const int32_t options = GetPlotOptions(r);
  if ((options & 0x2) != 0 && device->polyline != nullptr) {
    DrawHorizontalLineAt(r, 0, style, device, context);
    DrawVerticalLineAt(r, 0, style, device, context);
  }
  if ((options & 0x20) == 0 || (options & 0x40) != 0 || device->ellipse == nullptr) return;
  double x0, x1, y0, y1;
  GetVisibleXRange(r, &x0, &x1);
  GetVisibleYRange(r, &y0, &y1);
  const double R = std::max(std::fabs(x1), std::fabs(y1));
  const double sy = r->scaleFactors[1];
  const bool alongX = x1 > y1;
  const double scale = std::fabs(alongX ? r->xScale : r->yScale);
  const double labelSpacing =
      alongX ? 6 * r->characterWidth / scale * sy : 2 * std::fabs(r->characterHeight / r->yScale) * sy;
  TickChoice t;
  double radius = R;
  if (ChooseAxisTicks(0, R * sy, R * sy, r->tickSpacing / scale * sy, labelSpacing, &t)) {
    radius = std::floor(R * sy / t.labelStep) * t.labelStep / sy;
  }
  DrawDataCircle(r, 0, 0, radius, style, device, context);
}

void DrawSubplotFrame(const SubplotRecord* r, const PlotStyle* style, const DrawingDevice* device, void* context) {
  if (device->polyline == nullptr) return;
  const int32_t options = GetPlotOptions(r);
  const Ctx c{r, style, device, context};
  if ((options & 0x1) != 0) {
    c.Segment(c.Left(), c.Bottom(), c.Right(), c.Bottom());
    c.Segment(c.Left(), c.Top(), c.Right(), c.Top());
  }
  if ((options & 0x10) != 0) {
    c.Segment(c.Left(), c.Top(), c.Left(), c.Bottom());
    c.Segment(c.Right(), c.Top(), c.Right(), c.Bottom());
  }
  if (r->polar != 0) {
    if (device->text != nullptr) PolarLabels(c, options);
    return;
  }
  if ((options & 0x2) != 0) FrameX(c, options);
  if ((options & 0x20) != 0) FrameY(c, options);
}

void DrawDataCircle(const SubplotRecord* r, double cx, double cy, double radius, const PlotStyle* style,
                    const DrawingDevice* device, void* context) {
  if (device->ellipse == nullptr) return;
  double px, py, rx, ry;
  DataToPixel(r, &cx, &cy, nullptr, 1, &px, &py, nullptr);
  DataToPixelPerAxis(r, &radius, &radius, nullptr, 1, &rx, &ry);
  if (!std::isfinite(px) || !std::isfinite(py) || !std::isfinite(rx) || !std::isfinite(ry)) return;
  device->ellipse(px, py, std::fabs(rx), std::fabs(ry), style, context);
}

void DrawLineAcross(const SubplotRecord* r, double a, double b, double c, const PlotStyle* style,
                    const DrawingDevice* device, void* context) {
  if (device->polyline == nullptr || (r->scaleFlags & 0x1B) != 0) return;
  if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c) || (a == 0 && b == 0)) return;
  double x[2], y[2];
  if (std::fabs(b) > std::fabs(a)) {
    GetVisibleXRange(r, &x[0], &x[1]);
    y[0] = (c - a * x[0]) / b;
    y[1] = (c - a * x[1]) / b;
  } else {
    GetVisibleYRange(r, &y[0], &y[1]);
    x[0] = (c - b * y[0]) / a;
    x[1] = (c - b * y[1]) / a;
  }
  DataToPixel(r, x, y, nullptr, 2, x, y, nullptr);
  const Ctx k{r, style, device, context};
  k.Segment(x[0], y[0], x[1], y[1]);
}

void DrawHorizontalLineAt(const SubplotRecord* r, double y, const PlotStyle* style, const DrawingDevice* device,
                          void* context) {
  if (device->polyline == nullptr) return;
  HorizontalLine(Ctx{r, style, device, context}, y);
}

void DrawVerticalLineAt(const SubplotRecord* r, double x, const PlotStyle* style, const DrawingDevice* device,
                        void* context) {
  if (device->polyline == nullptr) return;
  VerticalLine(Ctx{r, style, device, context}, x);
}
