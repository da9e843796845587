// Legends: the box in a corner of the plot rectangle with one sample and one
// text line per entry. The drawing and the hit test share one layout, so the
// box drawn is the box hit.
#include <algorithm>
#include <cmath>

#include "graphics/renderer.h"

namespace {

// Line k of the text (0-based): from the start, split at '\n'; a missing
// line is empty.
void TextLine(const uint8_t* text, int32_t length, int32_t k, int32_t* start, int32_t* count) {
  int32_t pos = 0;
  for (int32_t line = 0; line < k; ++line) {
    while (pos < length && text[pos] != '\n') ++pos;
    if (pos >= length) {
      *start = length;
      *count = 0;
      return;
    }
    ++pos;
  }
  int32_t end = pos;
  while (end < length && text[end] != '\n') ++end;
  *start = pos;
  *count = end - pos;
}

// A style pair's double as an integer; NaN and out-of-range values clamp.
int32_t WholeField(double v, double lo, double hi) {
  return std::isnan(v) ? 0 : int32_t(std::trunc(std::clamp(v, lo, hi)));
}

}  // namespace

void ComputeLegendLayout(const SubplotRecord* r, int32_t n, int32_t textLength, const uint8_t* text, bool frame,
                         const DrawingDevice* device, void* context, LegendLayout* out) {
  const double d6 = device->d6, d7 = device->d7;
  const double left = r->plotRect[0], right = r->plotRect[1], top = r->plotRect[2], bottom = r->plotRect[3];
  if (text == nullptr) textLength = 0;
  double W = 0, H = 0, S;
  if (device->textExtent != nullptr) {
    for (int32_t k = 0; k < n; ++k) {
      int32_t start, count;
      TextLine(text, textLength, k, &start, &count);
      double w = 0, h = 0;
      device->textExtent(text + start, count, &w, &h, context);
      W = std::max(W, w);
      H = std::max(H, h);
    }
    double w = 0, h = 0;
    device->textExtent(reinterpret_cast<const uint8_t*>("M"), 1, &w, &h, context);
    S = h / 2;
  } else {
    for (int32_t k = 0; k < n; ++k) {
      int32_t start, count;
      TextLine(text, textLength, k, &start, &count);
      W = std::max(W, count * d6);
    }
    H = std::fabs(top - r->subplotRect[2]);
    S = d6;
  }
  const double m = frame ? d6 : 1, mv = frame ? d7 : 1;
  const double width = W + S + 1.5 * d6, height = n * H + d7;
  const int32_t options = GetPlotOptions(r);
  const double centreX = (options & 0x40000) != 0 ? left + m + width / 2 : right - m - width / 2;
  const bool atBottom = (options & 0x80000) != 0;
  double upper;  // the box's upper end on the screen
  double step;
  if (top < bottom) {
    upper = atBottom ? bottom - mv - height : top + mv;
    step = H;
  } else {
    // y grows upward: the box hangs from the top edge or stands on the bottom.
    upper = atBottom ? bottom + mv + height : top - mv;
    step = -H;
  }
  const double centreY = top < bottom ? upper + height / 2 : upper - height / 2;
  out->centreX = centreX;
  out->centreY = centreY;
  out->halfWidth = width / 2;
  out->halfHeight = height / 2;
  out->sampleX = centreX - width / 2 + (S + d6) / 2;
  out->firstLineY = top < bottom ? upper + (H + d7) / 2 : upper - (H + d7) / 2;
  out->lineStep = step;
  out->sampleSize = S;
}

bool PointInLegend(const SubplotRecord* r, int32_t n, int32_t textLength, const uint8_t* text, double x, double y,
                   bool frame, const DrawingDevice* device, void* context) {
  LegendLayout l;
  ComputeLegendLayout(r, n, textLength, text, frame, device, context, &l);
  return std::fabs(x - l.centreX) < l.halfWidth && std::fabs(y - l.centreY) < l.halfHeight;
}

void DrawLegend(const SubplotRecord* r, int32_t n, int32_t textLength, const uint8_t* text, const double* styles,
                bool frame, const PlotStyle* frameStyle, const PlotStyle* fillStyle, const DrawingDevice* device,
                void* context) {
  if (device->polyline == nullptr) return;
  LegendLayout l;
  ComputeLegendLayout(r, n, textLength, text, frame, device, context, &l);
  const double x0 = l.centreX - l.halfWidth, x1 = l.centreX + l.halfWidth;
  const double y0 = l.centreY - l.halfHeight, y1 = l.centreY + l.halfHeight;
  const double bx[5] = {x0, x0, x1, x1, x0}, by[5] = {y0, y1, y1, y0, y0};
  device->polyline(bx, by, 5, fillStyle, context);
  device->polyline(bx, by, 5, frameStyle, context);
  const double S = l.sampleSize, half = S / 2;
  double y = l.firstLineY;
  for (int32_t k = 0; k < n; ++k, y += l.lineStep) {
    const int32_t word = WholeField(styles[2 * k], -2147483648.0, 2147483647.0);
    const int32_t rgb = WholeField(styles[2 * k + 1], 0.0, 16777215.0);
    const PlotStyle style{word, uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), 0};
    const double cx = l.sampleX;
    if ((word & (kStyleFilled | kStyleThick)) == kStyleFilled) {
      const double sx[4] = {cx - half, cx + half, cx + half, cx - half},
                   sy[4] = {y - half, y - half, y + half, y + half};
      device->polyline(sx, sy, 4, &style, context);
    } else if (((word & kStyleKind) >> kStyleKindShift) < 5) {
      const double sx[2] = {cx - half, cx + half}, sy[2] = {y, y};
      device->polyline(sx, sy, 2, &style, context);
    } else {
      device->polyline(&cx, &y, 1, &style, context);
    }
    if (device->text == nullptr || text == nullptr) continue;
    int32_t start, count;
    TextLine(text, textLength, k, &start, &count);
    if (count > 0)
      device->text(cx + (S + device->d6) / 2, y, text + start, count, kTextStartsAtPoint, nullptr, context);
  }
}
