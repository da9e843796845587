// The renderer: the walk that draws one section of a display list through a
// drawing device, the tick choice of linear and logarithmic axes, the frame,
// grid and labels of 2-D subplots, and legends. Nothing here allocates; pixel
// coordinates live in the scratch area that the caller lends.
#pragma once

#include <cstdint>

#include "graphics/device.h"
#include "graphics/graphics.h"

// ---------------------------------------------------------------------------
// Tick choice. Every sequence is first, first + step, ...; all values are in
// displayed units (data value * the axis's scale factor).

struct TickChoice {
  double firstMinor;
  double minorStep;
  double firstMajor;
  double majorStep;
  double firstLabel;
  double labelStep;
};

// False for a NaN span, a span below 1e-8 or above 1e18; the label pair is
// only computed when `labels` is set.
bool ChooseAxisTicks(double lo, double hi, double labelLimit, double minTickSpacing, double minLabelSpacing,
                     TickChoice* choice, bool labels = true);

// Multipliers of a decade value; a negative entry -r multiplies the decade by
// r and starts the list again.
using LogTickPattern = const double*;

struct LogTickChoice {
  double firstDecade;
  LogTickPattern minor;
  LogTickPattern major;
  LogTickPattern label;
};

// f and g are the smallest ratios between neighbouring ticks and labels. A
// bound that is not positive and finite is refused: false, with the pattern of
// one tick per decade.
bool ChooseLogAxisTicks(double lo, double hi, double labelLimit, double f, double g, LogTickChoice* choice);

// ---------------------------------------------------------------------------
// Decorations of 2-D subplots, drawn in the frame or grid style.

void DrawSubplotGridLines(const SubplotRecord* r, const PlotStyle* style, const DrawingDevice* device, void* context);
void DrawPolarAxes(const SubplotRecord* r, const PlotStyle* style, const DrawingDevice* device, void* context);
void DrawSubplotFrame(const SubplotRecord* r, const PlotStyle* style, const DrawingDevice* device, void* context);
void DrawDataCircle(const SubplotRecord* r, double cx, double cy, double radius, const PlotStyle* style,
                    const DrawingDevice* device, void* context);
void DrawLineAcross(const SubplotRecord* r, double a, double b, double c, const PlotStyle* style,
                    const DrawingDevice* device, void* context);
void DrawHorizontalLineAt(const SubplotRecord* r, double y, const PlotStyle* style, const DrawingDevice* device,
                          void* context);
void DrawVerticalLineAt(const SubplotRecord* r, double x, const PlotStyle* style, const DrawingDevice* device,
                        void* context);

// ---------------------------------------------------------------------------
// Legends: a box in one corner of the plot rectangle, one line per entry.

struct LegendLayout {
  double centreX;
  double centreY;
  double halfWidth;
  double halfHeight;
  double sampleX;  // centre of the entries' samples
  double firstLineY;
  double lineStep;  // signed: the direction of the next line in pixels
  double sampleSize;
};

void ComputeLegendLayout(const SubplotRecord* r, int32_t n, int32_t textLength, const uint8_t* text, bool frame,
                         const DrawingDevice* device, void* context, LegendLayout* layout);
bool PointInLegend(const SubplotRecord* r, int32_t n, int32_t textLength, const uint8_t* text, double x, double y,
                   bool frame, const DrawingDevice* device, void* context);
// `styles` holds n pairs {style word, red * 65536 + green * 256 + blue}.
void DrawLegend(const SubplotRecord* r, int32_t n, int32_t textLength, const uint8_t* text, const double* styles,
                bool frame, const PlotStyle* frameStyle, const PlotStyle* fillStyle, const DrawingDevice* device,
                void* context);

// ---------------------------------------------------------------------------
// The section walk.

// `map` is {red[k], green[k], blue[k]} with components 0..1, or k < 1 for grey.
void ColormapLookup(double v, const double* map, int32_t k, uint8_t* red, uint8_t* green, uint8_t* blue);

// Character size from the device's font, then the margins from its
// parameters; clears the stale mark.
void SetupSubplotFontMetrics(SubplotRecord* r, const DrawingDevice* device, void* context);

// The text field being edited: active < 0 when none.
struct EditState {
  int32_t active;
  int32_t element;  // list index of the edited element
  int32_t selectionEnd;
  int32_t selectionStart;
};

// Null styles take their defaults. *position comes in at a section marker and
// goes out where the walk stopped (the next marker or the end); true when that
// lies before the end. `scratch` holds `scratchLength` doubles and keeps
// nothing between calls.
bool RenderDisplayList(double* list, int32_t length, double* scratch, int64_t scratchLength, SubplotRecord* subplot,
                       int32_t* position, const PlotStyle* figureStyle, const PlotStyle* fillStyle,
                       const PlotStyle* gridStyle, const PlotStyle* diagramGridStyle, const PlotStyle* frameStyle,
                       const EditState& edit, bool layoutOnly, const DrawingDevice* device, void* context);
