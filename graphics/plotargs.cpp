// Argument readers shared by the plot bodies and the start of an append.
#include "graphics/plotargs.h"

#include <limits>

StatusCode ReadPlotMatrix(EngineContext* ctx, int position, PlotMatrix* m) {
  double* re = nullptr;
  if (StatusCode st = GetDoubleMatrixArg(ctx, position, &m->rows, &m->cols, &re, nullptr); st != kOk) return st;
  m->re = re;
  return kOk;
}

StatusCode ReadPlotStyle(EngineContext* ctx, int position, PlotStyleText* style) {
  const char* text = nullptr;
  int64_t length = 0;
  if (StatusCode st = GetStringArg(ctx, position, &text, &length); st != kOk) return st;
  // No style grammar accepts a text this long; the parser's 108 says so.
  if (length > std::numeric_limits<int32_t>::max()) return kUnknownOpt;
  style->text = text;
  style->length = static_cast<int32_t>(length);
  return kOk;
}

int FirstStringArgument(EngineContext* ctx, int nargin) {
  for (int i = 0; i < nargin; ++i)
    if (IsCharArg(ctx, nargin - 1 - i)) return i;
  return -1;
}

StatusCode ReadUnitId(EngineContext* ctx, int position, double* id) {
  int32_t m = 0, n = 0;
  double* re = nullptr;
  if (GetDoubleMatrixArg(ctx, position, &m, &n, &re, nullptr) != kOk || m != 1 || n != 1) return kBadArg;
  *id = re[0];
  return kOk;
}

StatusCode PickStyle(const PlotStyleText& style, int32_t curve, int32_t defaultWord, PlotStyle* out) {
  return PickPlotStyle(style.text, style.length, curve, defaultWord, nullptr, out);
}

StatusCode CheckPlotStyles(const PlotStyleText& style, int64_t curves) {
  int32_t count = 1;
  if (StatusCode st = CountPlotStyles(style.text, style.length, &count); st != kOk) return st;
  for (int32_t k = 0; k < count && k < curves; ++k) {
    PlotStyle ps{};
    if (StatusCode st = PickStyle(style, k, 0, &ps); st != kOk) return st;
  }
  return kOk;
}

StatusCode BeginPlotAppend(SubplotRecord* sp, DisplayListWriter* w, int64_t doubles) {
  if (doubles < 0 || doubles > int64_t{w->capacity}) return kPlotOverflow;
  bool started = false;
  if (StatusCode st = BeginListAppend(w, static_cast<int32_t>(doubles), &started); st != kOk) return st;
  if (started) ResetAutoLimits(sp);
  return kOk;
}
