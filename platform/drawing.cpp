// The drawing layer on Cairo and Pango. Pixel rules: a 1-pixel solid line is
// filled as runs of whole pixels, one per step along its major axis and never
// its end pixel, since Cairo's unantialiased fill thresholds the coverage of
// the whole path and two close edges would otherwise fill the pixel between
// them; wider and dashed pens are Cairo strokes; nothing is antialiased but text.
#include "platform/drawing.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

std::string NormaliseUtf8(const uint8_t* s, size_t n) {
  std::string out;
  out.reserve(n);
  // The code point of a valid sequence at i and its length, or 0 when none
  // starts there. Surrogate halves count as valid 3-byte sequences here.
  auto decode = [&](size_t i, uint32_t* cp) -> size_t {
    uint8_t b = s[i];
    size_t len;
    uint32_t min;
    if (b < 0x80) {
      *cp = b;
      return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      len = 2, *cp = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3, *cp = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4, *cp = b & 0x07, min = 0x10000;
    } else {
      return 0;
    }
    if (n - i < len) return 0;
    for (size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return 0;
      *cp = (*cp << 6) | (s[i + k] & 0x3F);
    }
    if (*cp < min || *cp > 0x10FFFF) return 0;
    return len;
  };
  size_t i = 0;
  while (i < n) {
    uint32_t cp;
    size_t len = decode(i, &cp);
    if (len == 0 || (cp >= 0xDC00 && cp <= 0xDFFF)) {
      ++i;
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      uint32_t low;
      if (i + 3 >= n || decode(i + 3, &low) != 3 || low < 0xDC00 || low > 0xDFFF) {
        ++i;
        continue;
      }
      uint32_t c = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
      i += 6;
      continue;
    }
    out.append(reinterpret_cast<const char*>(s + i), len);
    i += len;
  }
  return out;
}

namespace {

// Text measured here does not depend on the surface drawn on.
constexpr double kTextDpi = 96;

cairo_font_options_t* TextOptions() {
  static cairo_font_options_t* options = [] {
    cairo_font_options_t* o = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(o, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(o, CAIRO_ANTIALIAS_GRAY);
    return o;
  }();
  return options;
}

// One paragraph: GDI draws control characters as glyphs and never breaks a
// line, so a tab stays one space wide and a NUL cannot end the text early.
std::string PrepareText(const uint8_t* bytes, size_t length) {
  std::string text = NormaliseUtf8(bytes, length);
  std::replace(text.begin(), text.end(), '\t', ' ');
  std::erase(text, '\0');
  return text;
}

PangoLayout* MakeLayout(PangoContext* context, const FontSpec& font, const std::string& text) {
  pango_cairo_context_set_resolution(context, kTextDpi);
  pango_cairo_context_set_font_options(context, TextOptions());
  PangoLayout* layout = pango_layout_new(context);
  PangoFontDescription* desc = pango_font_description_new();
  pango_font_description_set_family(desc, font.family.c_str());
  pango_font_description_set_absolute_size(desc, std::max(font.pixels, 1.0) * PANGO_SCALE);
  pango_font_description_set_weight(desc, font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(desc, font.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  pango_layout_set_font_description(layout, desc);
  pango_font_description_free(desc);
  if (font.underline) {
    PangoAttrList* attrs = pango_attr_list_new();
    pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    pango_layout_set_attributes(layout, attrs);
    pango_attr_list_unref(attrs);
  }
  pango_layout_set_single_paragraph_mode(layout, TRUE);
  pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
  return layout;
}

PangoContext* MeasuringContext() {
  static PangoContext* context = [] {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cairo_t* cr = cairo_create(surface);
    PangoContext* c = pango_cairo_create_context(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return c;
  }();
  return context;
}

// Pixel rectangles the rasteriser cannot round either way.
struct PixelBox {
  int64_t left, top, right, bottom;  // right and bottom exclusive
};

// floor(n / d) for d > 0.
int64_t FloorDiv(int64_t n, int64_t d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }

// The pixels of a 1-pixel line from a to b, b's own pixel left out: one per
// step along the major axis, the one whose centre lies nearest the line (ties
// toward +infinity), added as runs of whole pixels. Only the steps inside
// `area` are walked, so a long line costs no more than the area is wide.
void AddLinePixels(cairo_t* cr, DrawPoint a, DrawPoint b, const PixelBox& area) {
  int64_t dx = int64_t(b.x) - a.x, dy = int64_t(b.y) - a.y;
  if (dx == 0 && dy == 0) return;
  bool xMajor = std::abs(dx) >= std::abs(dy);
  // (u, v) = (major, minor) coordinates.
  int64_t u0 = xMajor ? a.x : a.y, v0 = xMajor ? a.y : a.x;
  int64_t du = xMajor ? dx : dy, dv = xMajor ? dy : dx;
  int64_t step = du > 0 ? 1 : -1, n = std::abs(du);
  int64_t lo = xMajor ? area.left : area.top, hi = xMajor ? area.right : area.bottom;  // u range, hi exclusive
  int64_t vlo = xMajor ? area.top : area.left, vhi = xMajor ? area.bottom : area.right;
  // Steps k in [k0, k1) put u = u0 + step * k inside [lo, hi).
  int64_t k0 = step > 0 ? lo - u0 : u0 - (hi - 1);
  int64_t k1 = step > 0 ? hi - u0 : u0 - lo + 1;
  k0 = std::max<int64_t>(k0, 0), k1 = std::min<int64_t>(k1, n);
  auto minor = [&](int64_t k) { return v0 + FloorDiv(2 * k * dv + n, 2 * n); };
  auto emit = [&](int64_t uFirst, int64_t uLast, int64_t v) {
    if (v < vlo || v >= vhi) return;
    int64_t u = std::min(uFirst, uLast), len = std::abs(uLast - uFirst) + 1;
    if (xMajor) {
      cairo_rectangle(cr, double(u), double(v), double(len), 1);
    } else {
      cairo_rectangle(cr, double(v), double(u), 1, double(len));
    }
  };
  int64_t runStart = 0, runV = 0;
  for (int64_t k = k0; k < k1; ++k) {
    int64_t v = minor(k);
    if (k == k0) {
      runStart = k, runV = v;
    } else if (v != runV) {
      emit(u0 + step * runStart, u0 + step * (k - 1), runV);
      runStart = k, runV = v;
    }
  }
  if (k1 > k0) emit(u0 + step * runStart, u0 + step * (k1 - 1), runV);
}

// Dash lengths in pixels of the cosmetic pens.
void SetDash(cairo_t* cr, PenDash dash) {
  static const double kDash[] = {18, 6};
  static const double kDot[] = {3, 3};
  static const double kDashDot[] = {9, 6, 3, 6};
  switch (dash) {
    case PenDash::kSolid:
      cairo_set_dash(cr, nullptr, 0, 0);
      break;
    case PenDash::kDash:
      cairo_set_dash(cr, kDash, 2, 0);
      break;
    case PenDash::kDot:
      cairo_set_dash(cr, kDot, 2, 0);
      break;
    case PenDash::kDashDot:
      cairo_set_dash(cr, kDashDot, 4, 0);
      break;
  }
}

}  // namespace

DrawingContext::DrawingContext(cairo_surface_t* surface) : cr_(cairo_create(surface)) {
  cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
}

DrawingContext::~DrawingContext() { cairo_destroy(cr_); }

void DrawingContext::Save() {
  cairo_save(cr_);
  saved_.push_back({font_, textColour_});
}

void DrawingContext::Restore() {
  if (saved_.empty()) return;
  cairo_restore(cr_);
  font_ = saved_.back().font;
  textColour_ = saved_.back().textColour;
  saved_.pop_back();
}

void DrawingContext::ClipRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  cairo_new_path(cr_);
  cairo_rectangle(cr_, left, top, double(right) - left, double(bottom) - top);
  cairo_clip(cr_);
}

void DrawingContext::SetSource(RgbColour c) {
  cairo_set_source_rgb(cr_, c.red / 255.0, c.green / 255.0, c.blue / 255.0);
}

void DrawingContext::Outline(const DrawPoint* p, size_t count, bool closed) {
  if (count < 2) return;
  cairo_new_path(cr_);
  SetSource(pen_.colour);
  if (pen_.width <= 1 && pen_.dash == PenDash::kSolid) {
    // Whole pixels only, so overlapping runs cannot add up to more pixels.
    double x0, y0, x1, y1;
    cairo_clip_extents(cr_, &x0, &y0, &x1, &y1);
    PixelBox area = {int64_t(std::floor(x0)) - 1, int64_t(std::floor(y0)) - 1, int64_t(std::ceil(x1)) + 1,
                     int64_t(std::ceil(y1)) + 1};
    for (size_t i = 1; i < count; ++i) AddLinePixels(cr_, p[i - 1], p[i], area);
    if (closed) AddLinePixels(cr_, p[count - 1], p[0], area);
    cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
    cairo_fill(cr_);
    return;
  }
  // Odd widths centre the stroke on pixel centres, even widths on pixel corners,
  // so a straight line covers whole pixels.
  int32_t width = std::max(pen_.width, 1);
  double offset = width % 2 ? 0.5 : 0.0;
  for (size_t i = 0; i < count; ++i) {
    cairo_line_to(cr_, p[i].x + offset, p[i].y + offset);
  }
  if (closed) cairo_close_path(cr_);
  SetDash(cr_, pen_.dash);
  cairo_set_line_width(cr_, width);
  cairo_set_line_cap(cr_, width > 1 ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_BUTT);
  cairo_set_line_join(cr_, width > 1 ? CAIRO_LINE_JOIN_ROUND : CAIRO_LINE_JOIN_MITER);
  cairo_stroke(cr_);
  cairo_set_dash(cr_, nullptr, 0, 0);
}

void DrawingContext::Polyline(const DrawPoint* points, size_t count) { Outline(points, count, false); }

void DrawingContext::Polygon(const DrawPoint* p, size_t count) {
  if (count == 0) return;
  if (brush_.solid && count >= 3) {
    cairo_new_path(cr_);
    for (size_t i = 0; i < count; ++i) cairo_line_to(cr_, p[i].x + 0.5, p[i].y + 0.5);
    cairo_close_path(cr_);
    SetSource(brush_.colour);
    cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_fill(cr_);
  }
  Outline(p, count, true);
}

void DrawingContext::Ellipse(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  // A zero scale would leave the Cairo context in an error state for good.
  if (left == right || top == bottom) return;
  double cx = (double(left) + right) / 2 + 0.5, cy = (double(top) + bottom) / 2 + 0.5;
  double rx = (double(right) - left) / 2, ry = (double(bottom) - top) / 2;
  auto path = [&] {
    cairo_new_path(cr_);
    cairo_save(cr_);
    cairo_translate(cr_, cx, cy);
    cairo_scale(cr_, rx, ry);
    cairo_arc(cr_, 0, 0, 1, 0, 2 * G_PI);
    cairo_close_path(cr_);
    cairo_restore(cr_);
  };
  if (brush_.solid) {
    path();
    SetSource(brush_.colour);
    cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
    cairo_fill(cr_);
  }
  path();
  SetSource(pen_.colour);
  SetDash(cr_, pen_.dash);
  cairo_set_line_width(cr_, std::max(pen_.width, 1));
  cairo_stroke(cr_);
  cairo_set_dash(cr_, nullptr, 0, 0);
}

void DrawingContext::FillRect(int32_t left, int32_t top, int32_t right, int32_t bottom, RgbColour colour) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  cairo_new_path(cr_);
  cairo_rectangle(cr_, left, top, double(right) - left, double(bottom) - top);
  SetSource(colour);
  cairo_fill(cr_);
}

void DrawingContext::DrawText(int32_t x, int32_t y, const uint8_t* bytes, size_t length) {
  std::string text = PrepareText(bytes, length);
  if (text.empty()) return;
  PangoContext* context = pango_cairo_create_context(cr_);
  PangoLayout* layout = MakeLayout(context, font_, text);
  int w, h;
  pango_layout_get_pixel_size(layout, &w, &h);
  cairo_new_path(cr_);
  SetSource(textColour_);
  cairo_move_to(cr_, x, double(y) - h);
  pango_cairo_show_layout(cr_, layout);
  cairo_new_path(cr_);
  g_object_unref(layout);
  g_object_unref(context);
}

void DrawingContext::MeasureText(const uint8_t* bytes, size_t length, double* width, double* height) const {
  std::string text = PrepareText(bytes, length);
  PangoLayout* layout = MakeLayout(MeasuringContext(), font_, text);
  int w, h;
  pango_layout_get_pixel_size(layout, &w, &h);
  g_object_unref(layout);
  // An empty text still has the height of a line, as a cell does.
  if (width) *width = text.empty() ? 0 : w;
  if (height) *height = h;
}

void DrawingContext::FocusRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  cairo_surface_t* surface = cairo_get_target(cr_);
  if (cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE) return;
  cairo_format_t format = cairo_image_surface_get_format(surface);
  if (format != CAIRO_FORMAT_RGB24 && format != CAIRO_FORMAT_ARGB32) return;
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  if (left == right || top == bottom) return;
  double cx0, cy0, cx1, cy1;
  cairo_clip_extents(cr_, &cx0, &cy0, &cx1, &cy1);
  int64_t x0 = std::max<int64_t>(0, int64_t(cx0)), y0 = std::max<int64_t>(0, int64_t(cy0));
  int64_t x1 = std::min<int64_t>(cairo_image_surface_get_width(surface), int64_t(cx1));
  int64_t y1 = std::min<int64_t>(cairo_image_surface_get_height(surface), int64_t(cy1));
  cairo_surface_flush(surface);
  uint8_t* data = cairo_image_surface_get_data(surface);
  int stride = cairo_image_surface_get_stride(surface);
  // Premultiplied colour c becomes alpha - c, which undoes itself.
  auto invert = [&](int64_t x, int64_t y) {
    if ((x - left + y - top) % 2 != 0 || x < x0 || x >= x1 || y < y0 || y >= y1) return;
    uint32_t* p = reinterpret_cast<uint32_t*>(data + y * stride) + x;
    uint32_t a = format == CAIRO_FORMAT_RGB24 ? 0xFF : *p >> 24;
    uint32_t r = a - ((*p >> 16) & 0xFF), g = a - ((*p >> 8) & 0xFF), b = a - (*p & 0xFF);
    *p = (*p & 0xFF000000u) | (r << 16) | (g << 8) | b;
  };
  int64_t l = left, t = top, r = int64_t(right) - 1, b = int64_t(bottom) - 1;
  // Each pixel of the outline once, so that a corner is not inverted twice.
  for (int64_t x = std::max(l, x0); x <= std::min(r, x1 - 1); ++x) {
    invert(x, t);
    if (b != t) invert(x, b);
  }
  for (int64_t y = std::max(t + 1, y0); y <= std::min(b - 1, y1 - 1); ++y) {
    invert(l, y);
    if (r != l) invert(r, y);
  }
  cairo_surface_mark_dirty(surface);
}

void DrawingContext::BlitRgbRow(int32_t x, int32_t y, const uint8_t* rgb, int32_t width, int32_t rows) {
  if (width <= 0 || rows <= 0) return;
  // Image surfaces are at most 32767 pixels wide, so long rows go in pieces.
  constexpr int32_t kPiece = 4096;
  for (int32_t start = 0; start < width; start += kPiece) {
    int32_t n = std::min(kPiece, width - start);
    cairo_surface_t* row = cairo_image_surface_create(CAIRO_FORMAT_RGB24, n, 1);
    if (cairo_surface_status(row) != CAIRO_STATUS_SUCCESS) {
      cairo_surface_destroy(row);
      return;
    }
    cairo_surface_flush(row);
    uint32_t* px = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(row));
    const uint8_t* in = rgb + size_t(start) * 3;
    for (int32_t i = 0; i < n; ++i) {
      px[i] = (uint32_t(in[3 * i]) << 16) | (uint32_t(in[3 * i + 1]) << 8) | in[3 * i + 2];
    }
    cairo_surface_mark_dirty(row);
    // The one row repeats downwards; the rectangle keeps the sideways repeat out.
    double left = double(x) + start;
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(row);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
    cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
    cairo_matrix_t m;
    cairo_matrix_init_translate(&m, -left, -double(y));
    cairo_pattern_set_matrix(pattern, &m);
    cairo_new_path(cr_);
    cairo_rectangle(cr_, left, y, n, rows);
    cairo_set_source(cr_, pattern);
    cairo_fill(cr_);
    cairo_pattern_destroy(pattern);
    cairo_surface_destroy(row);
  }
}
