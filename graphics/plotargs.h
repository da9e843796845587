// Argument readers shared by the plot bodies: matrices and style strings read
// in place on the value stack, and the start of an append (room, section
// marker, reset of the automatic limits).
#pragma once

#include <cstdint>

#include "graphics/graphics.h"

// A 2-D real view of a double matrix argument; imaginary parts are ignored.
struct PlotMatrix {
  int32_t rows = 0;
  int32_t cols = 0;
  const double* re = nullptr;

  int64_t Count() const { return int64_t{rows} * cols; }
  bool Empty() const { return rows == 0 || cols == 0; }
  // Element (k, i); a single row serves every k, a single column every i.
  double At(int64_t k, int64_t i) const { return re[(rows > 1 ? k : 0) * int64_t{cols} + (cols > 1 ? i : 0)]; }
};

// The style text: empty when no style argument was given.
struct PlotStyleText {
  const char* text = "";
  int32_t length = 0;
};

// The reader's 43 for any value that is not a plain double matrix.
[[nodiscard]] StatusCode ReadPlotMatrix(EngineContext* ctx, int position, PlotMatrix* m);
// 43 unless a char array; the text stays readable until the next push.
[[nodiscard]] StatusCode ReadPlotStyle(EngineContext* ctx, int position, PlotStyleText* style);
// The index from the left of the first character argument; -1 when none.
int FirstStringArgument(EngineContext* ctx, int nargin);
// An id given as "a 1 x 1 matrix": 107 for anything else.
[[nodiscard]] StatusCode ReadUnitId(EngineContext* ctx, int position, double* id);
// PickPlotStyle on the style text.
[[nodiscard]] StatusCode PickStyle(const PlotStyleText& style, int32_t curve, int32_t defaultWord, PlotStyle* out);

// Checks the styles the first `curves` curves pick, so that a bad one stops
// the call before anything is written.
[[nodiscard]] StatusCode CheckPlotStyles(const PlotStyleText& style, int64_t curves);

// Checks that `doubles` more fit (with the marker of an empty list), appends
// the marker and resets the automatic limits when the list was empty.
[[nodiscard]] StatusCode BeginPlotAppend(SubplotRecord* sp, DisplayListWriter* w, int64_t doubles);

// The colour-index cycle of area and bar series: blue, red, green, yellow,
// black, cyan, magenta.
constexpr int32_t kSeriesColourCycle[7] = {1, 4, 2, 6, 0, 3, 5};
