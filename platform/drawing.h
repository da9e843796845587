// A small drawing layer over Cairo and Pango: the context state, pens,
// brushes, lines, polygons, ellipses, text, clips, blits and the inverting
// focus rectangle that the drawing device needs, with pixel rules exact
// enough that tests can probe single pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

struct RgbColour {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
  bool operator==(const RgbColour&) const = default;
};

// Valid UTF-8 is copied; a surrogate pair written as two 3-byte halves
// becomes one 4-byte sequence; any other byte that starts no valid sequence
// is dropped on its own, so the text after it survives.
std::string NormaliseUtf8(const uint8_t* bytes, size_t length);

struct DrawPoint {
  int32_t x;
  int32_t y;
};

enum class PenDash : uint8_t { kSolid, kDash, kDot, kDashDot };

struct Pen {
  int32_t width = 1;
  PenDash dash = PenDash::kSolid;
  RgbColour colour = {0, 0, 0};
};

struct Brush {
  bool solid = false;  // false: the null brush, nothing is filled
  RgbColour colour = {0, 0, 0};
};

// A font by description; a family that is not installed falls back through
// fontconfig to the nearest one.
struct FontSpec {
  std::string family = "Liberation Sans";
  double pixels = 13;  // character height in pixels
  bool bold = false;
  bool italic = false;
  bool underline = false;
};

// Drawing on a cairo_t in integer pixel coordinates, y down. Lines, fills
// and outlines are drawn without antialiasing; a line covers the pixels from
// its first point up to, not including, its last one.
class DrawingContext {
 public:
  // Takes a reference on the surface and draws on a context of its own.
  explicit DrawingContext(cairo_surface_t* surface);
  ~DrawingContext();
  DrawingContext(const DrawingContext&) = delete;
  DrawingContext& operator=(const DrawingContext&) = delete;

  cairo_t* cairo() const { return cr_; }

  // Save also keeps the font and the text colour; Restore without a Save
  // does nothing.
  void Save();
  void Restore();
  // Intersects the clip with the rectangle; right and bottom are exclusive.
  void ClipRect(int32_t left, int32_t top, int32_t right, int32_t bottom);

  void SetPen(const Pen& pen) { pen_ = pen; }
  void SetBrush(const Brush& brush) { brush_ = brush; }
  const Pen& pen() const { return pen_; }
  const Brush& brush() const { return brush_; }

  // Connected segments with the pen.
  void Polyline(const DrawPoint* points, size_t count);
  // Filled with the brush by the even-odd rule, then outlined (closed) with the pen.
  void Polygon(const DrawPoint* points, size_t count);
  // The ellipse inscribed in the box, filled with the brush and outlined with
  // the pen, symmetric about the box's centre pixel; an empty box draws nothing.
  void Ellipse(int32_t left, int32_t top, int32_t right, int32_t bottom);
  // Fills the normalised rectangle, right and bottom exclusive.
  void FillRect(int32_t left, int32_t top, int32_t right, int32_t bottom, RgbColour colour);

  void SetFont(const FontSpec& font) { font_ = font; }
  const FontSpec& font() const { return font_; }
  void SetTextColour(RgbColour colour) { textColour_ = colour; }
  RgbColour textColour() const { return textColour_; }
  // One paragraph of UTF-8 (normalised first) in the font and the text
  // colour, the bottom-left corner of its cell at (x, y).
  void DrawText(int32_t x, int32_t y, const uint8_t* bytes, size_t length);
  // The text's cell in pixels, measured at 96 dpi whatever the surface.
  void MeasureText(const uint8_t* bytes, size_t length, double* width, double* height) const;

  // Inverts every other pixel of the outline of the normalised rectangle
  // (right and bottom exclusive) within the clip; drawn twice it leaves the
  // pixels as they were. Only image surfaces are drawn on.
  void FocusRect(int32_t left, int32_t top, int32_t right, int32_t bottom);

  // Copies `width` RGB pixels (three bytes each) to `rows` rows from (x, y) down.
  void BlitRgbRow(int32_t x, int32_t y, const uint8_t* rgb, int32_t width, int32_t rows);

 private:
  struct Saved {
    FontSpec font;
    RgbColour textColour;
  };
  void SetSource(RgbColour colour);
  void Outline(const DrawPoint* points, size_t count, bool closed);

  cairo_t* cr_;
  Pen pen_;
  Brush brush_;
  FontSpec font_;
  RgbColour textColour_ = {0, 0, 0};
  std::vector<Saved> saved_;
};
