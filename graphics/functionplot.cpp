// The body of fplot: an adaptive sampler that has the machine call the plotted
// function once per point and is entered again with the result. Between the
// calls its state is a row on the value stack and its samples wait in the
// list's free room: the x values where the element's data will start, the y
// values half that room further on.
#include <algorithm>
#include <cmath>

#include "graphics/plotargs.h"

namespace {

// The state row. Positions are list indices, never addresses: the block that
// holds the list may move while the function runs.
enum StateCell {
  kYValues,   // list index of the first y value
  kCount,     // points accepted
  kXEnd,      // the range's end
  kX,         // the x being evaluated
  kMinStep,   // 0.1 % of the range
  kMaxStep,   // 1 % of the range
  kStep,      // the current step
  kArgCount,  // the arguments of the first call
  kElement,   // list index of the element being built (the used count)
  kStateCells
};

constexpr int32_t kCurveCode = 1;
constexpr int32_t kDefaultWord = 8;
constexpr int kFunctionArg = 0, kRangeArg = 1, kStyleArg = 2, kIdArg = 3, kFirstExtraArg = 4;

int Position(int nargin, int arg) { return nargin - 1 - arg; }

// Pushes x and copies of the extra arguments, and has the machine call the
// function with them; the state row is on top.
StatusCode CallForNextPoint(EngineContext* ctx, double x, int nargin) {
  const int extras = std::max(0, nargin - kFirstExtraArg);
  if (StatusCode st = PushRealScalar(ctx, x); st != kOk) return st;
  if (StatusCode st = DuplicateValues(ctx, 2, extras); st != kOk) {
    (void)DropArgsUnderResults(ctx, 0, 1);
    return st;
  }
  // Above the function: the other arguments, the state, x and the copies.
  const int function = (nargin - 1) + 1 + 1 + extras;
  if (StatusCode st = CallFunctionValue(ctx, function, 1 + extras, 1, true); st != kOk) {
    (void)DropArgsUnderResults(ctx, 0, 1 + extras);
    return st;
  }
  return kOk;
}

// The y pixel of a point, for the deviation test.
double PixelY(const SubplotRecord* sp, double x, double y) {
  const double z = 0;
  double px = 0, py = 0;
  DataToPixelPerAxis(sp, &x, &y, &z, 1, &px, &py);
  return py;
}

StatusCode StartFunctionPlot(EngineContext* ctx, int nargin, SubplotRecord* sp, double* list, int32_t capacity,
                             int32_t* used) {
  if (nargin < 1) return kTooFewArgin;
  const bool named = IsCharArg(ctx, Position(nargin, kFunctionArg));
  if (StatusCode st = CheckArgTypes(ctx, nargin, named ? "S[RSr" : "f[RSr"); st != kOk) return st;

  double lo = -5, hi = 5;
  bool given = false;
  if (nargin > kRangeArg) {
    PlotMatrix r;
    if (StatusCode st = ReadPlotMatrix(ctx, Position(nargin, kRangeArg), &r); st != kOk) return st;
    if (r.Count() != 0 && r.Count() != 2) return kBadSize;
    if (r.Count() == 2) {
      if (!std::isfinite(r.re[0]) || !std::isfinite(r.re[1])) return kBadArg;
      lo = r.re[0];
      hi = r.re[1];
      given = true;
    }
  }
  if (sp->mode[0] >= kAxisSet) {
    double vlo = 0, vhi = 0;
    GetVisibleXRange(sp, &vlo, &vhi);
    if (std::isfinite(vlo) && std::isfinite(vhi) && vlo <= vhi) {
      lo = given ? std::max(lo, vlo) : vlo;
      hi = given ? std::min(hi, vhi) : vhi;
    }
  }
  if (lo > hi) return DropArgsUnderResults(ctx, 0, nargin);

  PlotStyleText style;
  if (nargin > kStyleArg) {
    if (StatusCode st = ReadPlotStyle(ctx, Position(nargin, kStyleArg), &style); st != kOk) return st;
  }
  PlotStyle ps{};
  if (StatusCode st = PickStyle(style, 0, kDefaultWord, &ps); st != kOk) return st;

  // The header, the point count and one point.
  DisplayListWriter w{list, capacity, *used};
  if (StatusCode st = BeginPlotAppend(sp, &w, kElementHeaderDoubles + 3); st != kOk) return st;
  *used = w.used;
  const int32_t xValues = w.used + kElementHeaderDoubles + 1;

  double* state = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, 1, kStateCells, &state, nullptr); st != kOk) return st;
  const double span = hi - lo;
  state[kYValues] = xValues + (capacity - xValues) / 2;
  state[kCount] = 0;
  state[kXEnd] = hi;
  state[kX] = lo;
  state[kMinStep] = 0.001 * span;
  state[kMaxStep] = 0.01 * span;
  state[kStep] = 0.01 * span;
  state[kArgCount] = nargin;
  state[kElement] = w.used;
  if (StatusCode st = CallForNextPoint(ctx, lo, nargin); st != kOk) {
    (void)DropArgsUnderResults(ctx, 0, 1);
    return st;
  }
  return kOk;
}

// Writes the element over the samples, extends the limits and removes the
// state and the arguments.
StatusCode FinishFunctionPlot(EngineContext* ctx, const double* state, SubplotRecord* sp, double* list,
                              int32_t capacity, int32_t* used) {
  const int nargin = static_cast<int>(state[kArgCount]);
  const auto n = static_cast<int32_t>(state[kCount]);
  const auto start = static_cast<int32_t>(state[kElement]);
  const auto yValues = static_cast<int32_t>(state[kYValues]);
  (void)DropArgsUnderResults(ctx, 0, 1);
  double id = -1;
  PlotStyleText style;
  if (nargin > kStyleArg) {
    if (StatusCode st = ReadPlotStyle(ctx, Position(nargin, kStyleArg), &style); st != kOk) return st;
  }
  if (nargin > kIdArg) {
    if (StatusCode st = GetRealScalarArg(ctx, Position(nargin, kIdArg), &id); st != kOk) return st;
  }
  PlotStyle ps{};
  if (StatusCode st = PickStyle(style, 0, kDefaultWord, &ps); st != kOk) return st;
  DisplayListWriter w{list, capacity, start};
  double* d = AppendElement(&w, {kCurveCode, id, 1, ps.word, PlotStyleColour(ps), 2 * n + 1});
  if (d == nullptr) return kPlotOverflow;
  d[0] = n;
  // The y values lie at or beyond their place behind the x values.
  std::copy(list + yValues, list + yValues + n, d + 1 + n);
  ExtendAutoLimits(sp, d + 1, d + 1 + n, nullptr, n);
  *used = w.used;
  return DropArgsUnderResults(ctx, 0, nargin);
}

}  // namespace

StatusCode AppendFunctionPlotElement(EngineContext* ctx, int nargin, SubplotRecord* sp, double* list, int32_t capacity,
                                     int32_t* used) {
  if (nargin >= 0) return StartFunctionPlot(ctx, nargin, sp, list, capacity, used);

  double* state = nullptr;
  if (StatusCode st = FindReentryState(ctx, nargin, 1, kStateCells, &state); st != kOk) return st;
  double y = 0;
  if (StatusCode st = PopRealScalar(ctx, &y); st != kOk) return st;
  // The samples sit beyond the used count; a plot call made by the function
  // would have written over them.
  if (*used != state[kElement]) {
    static constexpr char kMessage[] = "fplot: the plotted function must not plot";
    return RaiseErrorWithIdentifier(ctx, "RVO:badArg", 10, kMessage, sizeof kMessage - 1);
  }

  const auto n = static_cast<int32_t>(state[kCount]);
  const auto xValues = static_cast<int32_t>(state[kElement]) + kElementHeaderDoubles + 1;
  const auto yValues = static_cast<int32_t>(state[kYValues]);
  double* xs = list + xValues;
  double* ys = list + yValues;
  const double x = state[kX];
  double step = state[kStep];

  // The deviation from the line through the last two points, in pixels.
  double deviation = 0;
  bool measured = false;
  if (n >= 2) {
    const double slope = (ys[n - 1] - ys[n - 2]) / (xs[n - 1] - xs[n - 2]);
    const double expected = ys[n - 1] + slope * (x - xs[n - 1]);
    deviation = std::fabs(PixelY(sp, x, y) - PixelY(sp, x, expected));
    measured = true;
  }
  double last = n > 0 ? xs[n - 1] : x;
  if (measured && step > state[kMinStep] && deviation >= 0.5) {
    step = std::max(step / 2, state[kMinStep]);
  } else {
    // The x values may not reach the y values; the room is then exhausted.
    if (xValues + n >= yValues || yValues + n >= capacity) return kPlotOverflow;
    xs[n] = x;
    ys[n] = y;
    state[kCount] = n + 1;
    last = x;
    if (x >= state[kXEnd]) return FinishFunctionPlot(ctx, state, sp, list, capacity, used);
    if (n + 1 >= 3 && measured && step < state[kMaxStep] && deviation < 0.2) step = std::min(2 * step, state[kMaxStep]);
  }
  const double next = std::min(last + step, state[kXEnd]);
  // A step too small to move x (a range far from 0) ends the curve.
  if (!(next > last)) return FinishFunctionPlot(ctx, state, sp, list, capacity, used);
  state[kStep] = step;
  state[kX] = next;
  return CallForNextPoint(ctx, next, static_cast<int>(state[kArgCount]));
}
