// The drawing device: the table of drawing operations through which all
// drawing goes, with its layout parameters, and the screen and printer
// operations on the platform drawing layer. A null operation is one the
// device cannot do; every caller tests the entry first.
#pragma once

#include <cstdint>

#include "graphics/graphics.h"
#include "platform/drawing.h"

// Coordinates are doubles in device pixels, y down on the screen and the
// printer; `context` is what the device draws on (a DrawingContext for the
// operations below).
struct DrawingDevice {
  // 0: saves the context's state and intersects its clip with (x0, y0)-(x1, y1).
  void (*beginClip)(double x0, double x1, double y0, double y1, void* context);
  // 1: restores the state saved by the last begin clip.
  void (*endClip)(void* context);
  // 2: a line, a filled polygon or markers, by the style's kind.
  void (*polyline)(const double* x, const double* y, int32_t count, const PlotStyle* style, void* context);
  // 3
  void (*ellipse)(double cx, double cy, double rx, double ry, const PlotStyle* style, void* context);
  // 4: always null.
  void (*none)();
  // 5: colour null for the remembered text colour.
  void (*text)(double x, double y, const uint8_t* bytes, int32_t length, int32_t alignment, const RgbColour* colour,
               void* context);
  // 6: in pixels of the current font.
  void (*textExtent)(const uint8_t* bytes, int32_t length, double* width, double* height, void* context);
  // 7: name NUL-terminated UTF-8, or null for the default font.
  void (*font)(const char* name, double size, int32_t style, RgbColour colour, void* context);
  // 8: an inverting outline; drawing it twice removes it. The style is not used.
  void (*focusRect)(double left, double top, double right, double bottom, int32_t style, void* context);
  // 9: null in every device here; callers fall back to 8 or 2.
  void (*frameRect)(double left, double top, double right, double bottom, void* context);
  // 10: red holds grey bytes when green or blue is null; row k is bytes k * columns on.
  void (*image)(double x, double y, int32_t columns, int32_t rows, int32_t hRepeat, int32_t vRepeat, const uint8_t* red,
                const uint8_t* green, const uint8_t* blue, void* context);
  // 11: the size of one image pixel in device units.
  void (*pixelScale)(double* x, double* y, void* context);
  // 12: mode 1 white, any other the background colour.
  void (*fillRect)(double left, double top, double right, double bottom, int32_t mode, void* context);
  double d0, d1, d2, d3;  // default margins left, right, top, bottom, in character units
  double d4, d5;          // one device unit in screen pixels, across and down
  double d6, d7;          // the character cell in device units, across and down
  uint8_t yUp;            // layout measures from the bottom edge
};

// Alignment bits of the text operation.
constexpr int32_t kTextStartsAtPoint = 0x1;
constexpr int32_t kTextEndsAtPoint = 0x2;
constexpr int32_t kTextHangsBelow = 0x4;
constexpr int32_t kTextStandsAbove = 0x8;

// Style bits of the font operation.
constexpr int32_t kFontBold = 0x2;
constexpr int32_t kFontItalic = 0x4;
constexpr int32_t kFontUnderline = 0x10;

extern DrawingDevice ScreenDrawingDevice;
extern DrawingDevice PrinterDrawingDevice;
// The runtime's device before any is installed: no operations.
extern const DrawingDevice kInitialRuntimeDevice;

// Writes the screen device's parameters before a paint. Installing it in the
// host's runtime is the runtime's part.
void PrepareScreenDevice(void* host, void* context);

// State shared by the screen and printer operations, one set per program.
void SetBackgroundColor(RgbColour colour);
RgbColour GetBackgroundColor();
// The platform's colour dialog, opened on `current`: true and the chosen
// colour when the user confirms.
using BackgroundColorChooser = bool (*)(RgbColour current, RgbColour* chosen, void* user);
void SetBackgroundColorChooser(BackgroundColorChooser chooser, void* user);
// False without a chooser or when the user cancels; the colour is kept then.
bool ChooseBackgroundColor();
void SetThickLines(bool on);
// Null for none: the layer's own default font is used then.
void SetDefaultDeviceFont(const FontSpec* font);

// The operations of both devices; `context` is a DrawingContext.
void GdiBeginClip(double x0, double x1, double y0, double y1, void* context);
void GdiEndClip(void* context);
void GdiPolyline(const double* x, const double* y, int32_t count, const PlotStyle* style, void* context);
void GdiEllipse(double cx, double cy, double rx, double ry, const PlotStyle* style, void* context);
void GdiTextOut(double x, double y, const uint8_t* bytes, int32_t length, int32_t alignment, const RgbColour* colour,
                void* context);
void GdiTextExtent(const uint8_t* bytes, int32_t length, double* width, double* height, void* context);
void GdiSelectFont(const char* name, double size, int32_t style, RgbColour colour, void* context);
void GdiFocusRect(double left, double top, double right, double bottom, int32_t style, void* context);
void GdiImage(double x, double y, int32_t columns, int32_t rows, int32_t hRepeat, int32_t vRepeat, const uint8_t* red,
              const uint8_t* green, const uint8_t* blue, void* context);
void GdiPixelScale(double* x, double* y, void* context);
void GdiFillRect(double left, double top, double right, double bottom, int32_t mode, void* context);

// The pen and brush a style draws with under the current thick-lines switch.
void SelectStylePen(const PlotStyle& style, Pen* pen, Brush* brush);
