// The screen and printer drawing operations on the platform drawing layer,
// with the state they share. Coordinates are truncated toward zero; anything
// beyond kFar is cut there first (segments keep their direction), so no
// conversion to an integer can overflow.
#include "graphics/device.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr double kFar = 1e6;
// Segments wholly beyond this on one side are skipped, not drawn.
constexpr double kSkip = 20000;
constexpr double kMaxEllipseRadius = 5000;
// The focus rectangle is drawn only when it may reach this screen area.
constexpr double kFocusLimit = 2000;

constexpr RgbColour kPalette[8] = {{0, 0, 0},   {0, 0, 255},   {0, 153, 0},   {0, 204, 255},
                                   {255, 0, 0}, {255, 0, 255}, {255, 255, 0}, {255, 255, 255}};

struct DeviceState {
  RgbColour background = {229, 229, 229};
  bool thickLines = false;
  std::optional<FontSpec> defaultFont;
  std::optional<RgbColour> textColour;  // remembered by the font operation
  BackgroundColorChooser chooser = nullptr;
  void* chooserUser = nullptr;
};

DeviceState& State() {
  static DeviceState state;
  return state;
}

DrawingContext* Context(void* context) { return static_cast<DrawingContext*>(context); }

bool Near(double v) { return std::isfinite(v) && std::fabs(v) <= kFar; }
// Only for values already known to be finite and within kFar.
int32_t Trunc(double v) { return static_cast<int32_t>(v); }
int32_t Clamped(double v) { return Trunc(std::fmax(-kFar, std::fmin(kFar, v))); }

int32_t StyleKind(const PlotStyle& s) { return (s.word & kStyleKind) >> kStyleKindShift; }

// Cuts the segment to the square within kFar (Liang-Barsky); false when no
// part of it lies inside. *t0 > 0 or *t1 < 1 tells that an end was moved.
bool ClipSegment(double ax, double ay, double bx, double by, double* t0, double* t1) {
  *t0 = 0, *t1 = 1;
  const double p[4] = {-(bx - ax), bx - ax, -(by - ay), by - ay};
  const double q[4] = {ax + kFar, kFar - ax, ay + kFar, kFar - ay};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    double r = q[i] / p[i];
    if (p[i] < 0) {
      *t0 = std::fmax(*t0, r);
    } else {
      *t1 = std::fmin(*t1, r);
    }
  }
  return *t0 <= *t1;
}

void DrawLineRuns(DrawingContext* dc, const double* x, const double* y, int32_t count) {
  std::vector<DrawPoint> run;
  auto flush = [&] {
    if (run.size() >= 2) dc->Polyline(run.data(), run.size());
    run.clear();
  };
  for (int32_t i = 1; i < count; ++i) {
    double ax = x[i - 1], ay = y[i - 1], bx = x[i], by = y[i];
    bool skip = !std::isfinite(ax) || !std::isfinite(ay) || !std::isfinite(bx) || !std::isfinite(by) ||
                (ax < -kSkip && bx < -kSkip) || (ax > kSkip && bx > kSkip) || (ay < -kSkip && by < -kSkip) ||
                (ay > kSkip && by > kSkip);
    double t0, t1;
    if (skip || !ClipSegment(ax, ay, bx, by, &t0, &t1)) {
      flush();
      continue;
    }
    DrawPoint a = {Trunc(ax + t0 * (bx - ax)), Trunc(ay + t0 * (by - ay))};
    DrawPoint b = {Trunc(ax + t1 * (bx - ax)), Trunc(ay + t1 * (by - ay))};
    if (run.empty() || t0 > 0 || run.back().x != a.x || run.back().y != a.y) {
      flush();
      run.push_back(a);
    }
    run.push_back(b);
    if (t1 < 1) flush();
  }
  flush();
}

// The polygon cut to the square within kFar edge by edge, so that a far
// vertex moves along its edges instead of distorting the shape.
std::vector<DrawPoint> ClipPolygon(const double* x, const double* y, int32_t count) {
  struct P {
    double x, y;
  };
  std::vector<P> poly;
  for (int32_t i = 0; i < count; ++i) {
    if (std::isfinite(x[i]) && std::isfinite(y[i])) poly.push_back({x[i], y[i]});
  }
  for (int edge = 0; edge < 4 && !poly.empty(); ++edge) {
    auto value = [edge](const P& p) {
      double v = edge < 2 ? p.x : p.y;
      return edge % 2 == 0 ? v + kFar : kFar - v;  // >= 0 inside
    };
    std::vector<P> out;
    for (size_t i = 0; i < poly.size(); ++i) {
      const P& a = poly[i];
      const P& b = poly[(i + 1) % poly.size()];
      double va = value(a), vb = value(b);
      if (va >= 0) out.push_back(a);
      if ((va >= 0) != (vb >= 0)) {
        double t = va / (va - vb);
        out.push_back({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)});
      }
    }
    poly.swap(out);
  }
  std::vector<DrawPoint> points;
  points.reserve(poly.size());
  for (const P& p : poly) points.push_back({Clamped(p.x), Clamped(p.y)});
  return points;
}

void DrawMarker(DrawingContext* dc, int32_t kind, int32_t x, int32_t y) {
  auto line = [dc](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    DrawPoint p[] = {{x0, y0}, {x1, y1}};
    dc->Polyline(p, 2);
  };
  switch (kind) {
    case 6:
      line(x, y, x + 1, y);
      break;
    case 7:
      dc->Ellipse(x - 3, y - 3, x + 3, y + 3);
      break;
    case 8:
      line(x - 3, y - 3, x + 4, y + 4);
      line(x + 3, y - 3, x - 4, y + 4);
      break;
    case 9:
      line(x - 3, y, x + 4, y);
      line(x, y - 3, x, y + 4);
      break;
    case 10:
      line(x - 2, y - 3, x + 2, y + 3);
      line(x + 2, y - 3, x - 2, y + 3);
      line(x - 3, y, x + 3, y);
      break;
    case 11: {
      DrawPoint p[] = {{x, y - 3}, {x + 3, y + 2}, {x - 3, y + 2}};
      dc->Polygon(p, 3);
      break;
    }
    case 12: {
      DrawPoint p[] = {{x, y + 3}, {x + 3, y - 2}, {x - 3, y - 2}};
      dc->Polygon(p, 3);
      break;
    }
    case 13: {
      DrawPoint p[] = {{x + 3, y + 3}, {x + 3, y - 3}, {x - 3, y - 3}, {x - 3, y + 3}};
      dc->Polygon(p, 4);
      break;
    }
    case 14: {
      DrawPoint p[] = {{x, y + 3}, {x + 3, y}, {x, y - 3}, {x - 3, y}};
      dc->Polygon(p, 4);
      break;
    }
    default:
      break;
  }
}

// Selects the style's pen and brush for one drawing and the null pen state
// again afterwards.
class StylePen {
 public:
  StylePen(DrawingContext* dc, const PlotStyle& style) : dc_(dc) {
    Pen pen;
    Brush brush;
    SelectStylePen(style, &pen, &brush);
    dc_->SetPen(pen);
    dc_->SetBrush(brush);
  }
  ~StylePen() {
    dc_->SetPen(Pen{});
    dc_->SetBrush(Brush{});
  }
  StylePen(const StylePen&) = delete;
  StylePen& operator=(const StylePen&) = delete;

 private:
  DrawingContext* dc_;
};

}  // namespace

DrawingDevice ScreenDrawingDevice = {GdiBeginClip,
                                     GdiEndClip,
                                     GdiPolyline,
                                     GdiEllipse,
                                     nullptr,
                                     GdiTextOut,
                                     GdiTextExtent,
                                     GdiSelectFont,
                                     GdiFocusRect,
                                     nullptr,
                                     GdiImage,
                                     GdiPixelScale,
                                     GdiFillRect,
                                     5,
                                     0.5,
                                     1.5,
                                     1.5,
                                     1,
                                     1,
                                     8,
                                     8,
                                     0};

DrawingDevice PrinterDrawingDevice = {GdiBeginClip,
                                      GdiEndClip,
                                      GdiPolyline,
                                      GdiEllipse,
                                      nullptr,
                                      GdiTextOut,
                                      GdiTextExtent,
                                      GdiSelectFont,
                                      GdiFocusRect,
                                      nullptr,
                                      GdiImage,
                                      GdiPixelScale,
                                      GdiFillRect,
                                      5,
                                      0.5,
                                      1.5,
                                      1.5,
                                      1,
                                      1,
                                      24,
                                      24,
                                      0};

const DrawingDevice kInitialRuntimeDevice = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                             nullptr, nullptr, nullptr, nullptr, nullptr, 0,       0,       0,
                                             0,       1,       1,       8,       8,       0};

void PrepareScreenDevice(void* /*host*/, void* /*context*/) {
  DrawingDevice& d = ScreenDrawingDevice;
  d.d0 = 5, d.d1 = 0.5, d.d2 = 2, d.d3 = 2;
  d.d4 = 1, d.d5 = 1, d.d6 = 8, d.d7 = 8;
  d.yUp = 0;
}

void SetBackgroundColor(RgbColour colour) { State().background = colour; }
RgbColour GetBackgroundColor() { return State().background; }

void SetBackgroundColorChooser(BackgroundColorChooser chooser, void* user) {
  State().chooser = chooser;
  State().chooserUser = user;
}

bool ChooseBackgroundColor() {
  DeviceState& s = State();
  RgbColour chosen = s.background;
  if (!s.chooser || !s.chooser(s.background, &chosen, s.chooserUser)) return false;
  s.background = chosen;
  return true;
}

void SetThickLines(bool on) { State().thickLines = on; }

void SetDefaultDeviceFont(const FontSpec* font) {
  if (font) {
    State().defaultFont = *font;
  } else {
    State().defaultFont.reset();
  }
}

void SelectStylePen(const PlotStyle& style, Pen* pen, Brush* brush) {
  int32_t field = style.word & (kStyleThick | kStyleFilled);
  bool thick = State().thickLines;
  pen->width = field == 0 ? (thick ? 2 : 1) : field == kStyleThick ? (thick ? 4 : 2) : 1;
  int32_t kind = StyleKind(style);
  pen->dash = PenDash::kSolid;
  if (pen->width == 1 && kind >= 1 && kind <= 3) {
    pen->dash = kind == 1 ? PenDash::kDash : kind == 2 ? PenDash::kDot : PenDash::kDashDot;
  }
  int32_t index = style.word & kStyleColourIndex;
  pen->colour = index == 0 ? RgbColour{style.red, style.green, style.blue} : kPalette[index];
  brush->solid = field == kStyleFilled;
  brush->colour = pen->colour;
}

void GdiBeginClip(double x0, double x1, double y0, double y1, void* context) {
  DrawingContext* dc = Context(context);
  dc->Save();
  // A rectangle that is not a number clips everything away.
  if (std::isnan(x0) || std::isnan(x1) || std::isnan(y0) || std::isnan(y1)) {
    dc->ClipRect(0, 0, 0, 0);
    return;
  }
  dc->ClipRect(Clamped(x0), Clamped(y0), Clamped(x1), Clamped(y1));
}

void GdiEndClip(void* context) { Context(context)->Restore(); }

void GdiPolyline(const double* x, const double* y, int32_t count, const PlotStyle* style, void* context) {
  DrawingContext* dc = Context(context);
  int32_t kind = StyleKind(*style);
  if (count <= 0 || kind == 5 || kind == 15) return;
  StylePen pen(dc, *style);
  if (kind <= 4) {
    if ((style->word & (kStyleThick | kStyleFilled)) == kStyleFilled) {
      std::vector<DrawPoint> points = ClipPolygon(x, y, count);
      dc->Polygon(points.data(), points.size());
    } else {
      DrawLineRuns(dc, x, y, count);
    }
    return;
  }
  for (int32_t i = 0; i < count; ++i) {
    if (Near(x[i]) && Near(y[i])) DrawMarker(dc, kind, Trunc(x[i]), Trunc(y[i]));
  }
}

void GdiEllipse(double cx, double cy, double rx, double ry, const PlotStyle* style, void* context) {
  // A negative radius mirrors the box, so it is bounded the same way.
  if (!Near(cx) || !Near(cy) || !(std::fabs(rx) <= kMaxEllipseRadius) || !(std::fabs(ry) <= kMaxEllipseRadius)) {
    return;
  }
  DrawingContext* dc = Context(context);
  StylePen pen(dc, *style);
  dc->Ellipse(Trunc(cx - rx), Trunc(cy - ry), Trunc(cx + rx), Trunc(cy + ry));
}

void GdiTextOut(double x, double y, const uint8_t* bytes, int32_t length, int32_t alignment, const RgbColour* colour,
                void* context) {
  if (!Near(x) || !Near(y) || length <= 0) return;
  DrawingContext* dc = Context(context);
  double w, h;
  dc->MeasureText(bytes, size_t(length), &w, &h);
  std::optional<RgbColour> set = colour ? std::optional<RgbColour>(*colour) : State().textColour;
  if (set) dc->SetTextColour(*set);
  int32_t wi = Trunc(w), hi = Trunc(h);
  int32_t dy = (alignment & kTextHangsBelow) ? hi + 1 : (alignment & kTextStandsAbove) ? -1 : hi / 2;
  int32_t dx = (alignment & kTextStartsAtPoint) ? 0 : (alignment & kTextEndsAtPoint) ? -1 - wi : -(wi / 2);
  dc->DrawText(Trunc(x) + dx, Trunc(y) + dy, bytes, size_t(length));
  if (set) dc->SetTextColour({0, 0, 0});
}

void GdiTextExtent(const uint8_t* bytes, int32_t length, double* width, double* height, void* context) {
  Context(context)->MeasureText(bytes, size_t(std::max(length, 0)), width, height);
}

void GdiSelectFont(const char* name, double size, int32_t style, RgbColour colour, void* context) {
  DrawingContext* dc = Context(context);
  DeviceState& s = State();
  if (!name) {
    dc->SetFont(s.defaultFont.value_or(FontSpec{}));
    s.textColour.reset();
    return;
  }
  FontSpec font;
  std::string family = NormaliseUtf8(reinterpret_cast<const uint8_t*>(name), std::strlen(name));
  // At most 32 characters of the face name; continuation bytes are not characters.
  size_t chars = 0, end = 0;
  while (end < family.size() && (chars < 32 || (uint8_t(family[end]) & 0xC0) == 0x80)) {
    if ((uint8_t(family[end]) & 0xC0) != 0x80) ++chars;
    ++end;
  }
  family.resize(end);
  font.family = family;
  // The size is the character height in pixels; a height of 0 asks for the default size.
  int32_t pixels = std::abs(Trunc(std::isnan(size) ? 0 : std::fmax(-kFar, std::fmin(kFar, size))));
  if (pixels != 0) font.pixels = pixels;
  font.bold = style & kFontBold;
  font.italic = style & kFontItalic;
  font.underline = style & kFontUnderline;
  dc->SetFont(font);
  if (colour == RgbColour{0, 0, 0}) {
    s.textColour.reset();
  } else {
    s.textColour = colour;
  }
}

void GdiFocusRect(double left, double top, double right, double bottom, int32_t /*style*/, void* context) {
  if (!std::isfinite(left) || !std::isfinite(top) || !std::isfinite(right) || !std::isfinite(bottom)) return;
  if ((left < 0 && right < 0) || (left > kFocusLimit && right > kFocusLimit) || (top < 0 && bottom < 0) ||
      (top > kFocusLimit && bottom > kFocusLimit)) {
    return;
  }
  Context(context)->FocusRect(Clamped(left), Clamped(top), Clamped(right), Clamped(bottom));
}

void GdiImage(double x, double y, int32_t columns, int32_t rows, int32_t hRepeat, int32_t vRepeat, const uint8_t* red,
              const uint8_t* green, const uint8_t* blue, void* context) {
  if (hRepeat <= 0 || vRepeat <= 0 || columns <= 0 || rows <= 0 || !Near(x) || !Near(y)) return;
  int64_t width = int64_t(columns) * hRepeat;
  if (width * 3 > std::numeric_limits<int32_t>::max()) return;
  std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[size_t(width) * 3]);
  if (!row) return;
  DrawingContext* dc = Context(context);
  bool rgb = green && blue;
  for (int32_t k = 0; k < rows; ++k) {
    int64_t top = int64_t(Trunc(y)) + int64_t(k) * vRepeat;
    if (top > std::numeric_limits<int32_t>::max() - vRepeat) break;
    uint8_t* out = row.get();
    for (int32_t i = 0; i < columns; ++i) {
      size_t at = size_t(k) * size_t(columns) + size_t(i);
      uint8_t r = red[at], g = rgb ? green[at] : r, b = rgb ? blue[at] : r;
      for (int32_t j = 0; j < hRepeat; ++j) *out++ = r, *out++ = g, *out++ = b;
    }
    dc->BlitRgbRow(Trunc(x), int32_t(top), row.get(), int32_t(width), vRepeat);
  }
}

void GdiPixelScale(double* x, double* y, void* /*context*/) {
  *x = 1;
  *y = 1;
}

void GdiFillRect(double left, double top, double right, double bottom, int32_t mode, void* context) {
  if (std::isnan(left) || std::isnan(top) || std::isnan(right) || std::isnan(bottom)) return;
  RgbColour colour = mode == 1 ? RgbColour{255, 255, 255} : State().background;
  Context(context)->FillRect(Clamped(left), Clamped(top), Clamped(right), Clamped(bottom), colour);
}
