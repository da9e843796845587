// The bodies of plot, plot3, area, polar, line, line3, circle, activeregion,
// bar and barh: arguments from the value stack, elements into a display list.
// Each body works out every double it appends before it writes the first.
#include <algorithm>
#include <cmath>

#include "graphics/plotargs.h"

namespace {

constexpr int32_t kCurveCode = 1;
constexpr int32_t kLineCode = 4;
constexpr int32_t kCircleCode = 5;
constexpr int32_t kBarCode = 7;
constexpr int32_t kRegionCode = 12;
constexpr int32_t kCurve3Code = 13;
constexpr int32_t kLine3Code = 14;
constexpr int32_t kDefaultWord = 8;

constexpr int32_t kBarHorizontal = 1;
constexpr int32_t kBarIntervals = 2;

bool IsStairs(int32_t word) { return (word & 0xF800) == kStyleStairs; }

ElementHeader Header(int32_t code, double id, int32_t item, const PlotStyle& s, int32_t n) {
  return {code, id, item, s.word, PlotStyleColour(s), n};
}

// The list as a writer; Finish stores the used count back.
struct ListTarget {
  DisplayListWriter w;
  int32_t* used;
  ListTarget(double* list, int32_t capacity, int32_t* u) : w{list, capacity, *u}, used(u) {}
  void Finish() { *used = w.used; }
};

}  // namespace

// ---------------------------------------------------------------------------
// plot and plot3: each row a curve, each column a point.

StatusCode AppendCurveElements(EngineContext* ctx, int nargin, SubplotRecord* sp, bool threeD, double* list,
                               int32_t capacity, int32_t* used) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  const int s = FirstStringArgument(ctx, nargin);
  const int numeric = s < 0 ? nargin : s;
  if (s >= 0 && s < nargin - 2) return kWrongTypeInternal;
  if (threeD ? numeric != 3 : (numeric < 1 || numeric > 2)) return kWrongTypeInternal;
  double id = -1;
  int left = nargin;
  if (s >= 0 && s == nargin - 2) {
    if (StatusCode st = PopRealScalar(ctx, &id); st != kOk) return st;
    left = nargin - 1;
  }
  PlotStyleText style;
  if (s >= 0) {
    if (StatusCode st = ReadPlotStyle(ctx, 0, &style); st != kOk) return st;
  }
  PlotMatrix m[3];
  for (int i = 0; i < numeric; ++i)
    if (StatusCode st = ReadPlotMatrix(ctx, left - 1 - i, &m[i]); st != kOk) return st;
  const PlotMatrix* x = numeric >= 2 ? &m[0] : nullptr;
  const PlotMatrix& y = m[numeric >= 2 ? 1 : 0];
  const PlotMatrix* z = threeD ? &m[2] : nullptr;

  ListTarget t(list, capacity, used);
  bool empty = false;
  int32_t curves = 0, n = 0;
  for (int i = 0; i < numeric; ++i) {
    empty = empty || m[i].Empty();
    curves = std::max(curves, m[i].rows);
    n = std::max(n, m[i].cols);
  }
  if (empty) {
    if (StatusCode st = BeginPlotAppend(sp, &t.w, 0); st != kOk) return st;
    t.Finish();
    return DropArgsUnderResults(ctx, 0, left);
  }
  for (int i = 0; i < numeric; ++i)
    if ((m[i].rows > 1 && m[i].rows != curves) || (m[i].cols > 1 && m[i].cols != n)) return kIncompSize;

  // Stairs change a curve's point count, so the room depends on the styles.
  int64_t room = 0;
  for (int32_t k = 0; k < curves; ++k) {
    PlotStyle ps{};
    if (StatusCode st = PickStyle(style, k, kDefaultWord, &ps); st != kOk) return st;
    const int64_t points = !threeD && IsStairs(ps.word) ? 2 * int64_t{n} - 1 : n;
    room += kElementHeaderDoubles + 1 + (threeD ? 3 : 2) * points;
  }
  if (StatusCode st = BeginPlotAppend(sp, &t.w, room); st != kOk) return st;
  if (threeD) SetSubplot3D(sp, true);

  for (int32_t k = 0; k < curves; ++k) {
    PlotStyle ps{};
    (void)PickStyle(style, k, kDefaultWord, &ps);  // accepted above
    const bool stairs = !threeD && IsStairs(ps.word);
    const int32_t points = stairs ? 2 * n - 1 : n;
    double* d =
        AppendElement(&t.w, Header(threeD ? kCurve3Code : kCurveCode, id, k + 1, ps, (threeD ? 3 : 2) * points + 1));
    d[0] = points;
    double* xs = d + 1;
    double* ys = xs + points;
    for (int32_t j = 0; j < points; ++j) {
      // Stairs go across first: x0, x1, x1, x2, ... against y0, y0, y1, y1, ...
      const int32_t xi = stairs ? (j + 1) / 2 : j;
      const int32_t yi = stairs ? j / 2 : j;
      xs[j] = x ? x->At(k, xi) : xi + 1.0;
      ys[j] = y.At(k, yi);
      if (z) ys[points + j] = z->At(k, j);
    }
    ExtendAutoLimits(sp, xs, ys, z ? ys + points : nullptr, points);
  }
  t.Finish();
  return DropArgsUnderResults(ctx, 0, left);
}

// ---------------------------------------------------------------------------
// area: each column a filled polygon down to the base.

StatusCode AppendAreaElements(EngineContext* ctx, int nargin, SubplotRecord* sp, double* list, int32_t capacity,
                              int32_t* used) {
  const int s = FirstStringArgument(ctx, nargin);
  const int numeric = s < 0 ? nargin : s;
  if (numeric < 1 || numeric > 3 || (s >= 0 && nargin - s > 2)) return kBadArg;
  double id = -1;
  int left = nargin;
  if (s >= 0 && s == nargin - 2) {
    if (StatusCode st = PopRealScalar(ctx, &id); st != kOk) return st;
    left = nargin - 1;
  }
  PlotStyleText style;
  if (s >= 0) {
    if (StatusCode st = ReadPlotStyle(ctx, 0, &style); st != kOk) return st;
  }
  const int first = left - 1;  // position of the first argument
  double base = 0;
  if (numeric == 3) {
    if (StatusCode st = GetRealScalarArg(ctx, first - 2, &base); st != kOk) return st;
  }
  PlotMatrix x, y;
  const bool hasX = numeric >= 2;
  if (hasX) {
    if (StatusCode st = ReadPlotMatrix(ctx, first, &x); st != kOk) return st;
  }
  if (StatusCode st = ReadPlotMatrix(ctx, first - (hasX ? 1 : 0), &y); st != kOk) return st;
  if (hasX && (x.rows != y.rows || (x.cols != y.cols && x.cols != 1 && y.rows != 1))) return kIncompSize;

  const int32_t rows = y.rows;
  const int32_t areas = y.Empty() ? 0 : y.cols;
  const bool stacked = !hasX || x.cols == 1;
  if (StatusCode st = CheckPlotStyles(style, areas); st != kOk) return st;
  ListTarget t(list, capacity, used);
  if (StatusCode st = BeginPlotAppend(sp, &t.w, int64_t{areas} * (2 * (int64_t{rows} + 2) + 7)); st != kOk) return st;
  for (int32_t h = 0; h < areas; ++h) {
    PlotStyle ps{};
    (void)PickStyle(style, h, kSeriesColourCycle[h % 7], &ps);  // checked before writing
    ps.word |= kStyleFilled;
    const int32_t col = areas - 1 - h;  // the last column first: stacked areas lie under the smaller ones
    const int32_t points = rows + 2;
    double* d = AppendElement(&t.w, Header(kCurveCode, id, col + 1, ps, 2 * points + 1));
    d[0] = points;
    double* xs = d + 1;
    double* ys = xs + points;
    const int32_t xcol = hasX ? std::min(col, x.cols - 1) : 0;
    for (int32_t i = 0; i < rows; ++i) {
      xs[i + 1] = hasX ? x.re[int64_t{i} * x.cols + xcol] : i + 1.0;
      double v = 0;
      for (int32_t c = stacked ? 0 : col; c <= col; ++c) v += y.re[int64_t{i} * y.cols + c];
      ys[i + 1] = v;
    }
    xs[0] = xs[1];
    xs[points - 1] = xs[rows];
    ys[0] = ys[points - 1] = base;
    ExtendAutoLimits(sp, xs, ys, nullptr, points);
  }
  t.Finish();
  return DropArgsUnderResults(ctx, 0, left);
}

// ---------------------------------------------------------------------------
// polar: each row a curve of (rho cos theta, rho sin theta).

StatusCode AppendPolarElements(EngineContext* ctx, int nargin, SubplotRecord* sp, double* list, int32_t capacity,
                               int32_t* used) {
  if (nargin > 4) return kBadArg;
  if (StatusCode st = CheckArgTypes(ctx, nargin, "CC[Sr"); st != kOk) return st;
  double id = -1;
  int left = nargin;
  if (nargin == 4) {
    if (StatusCode st = PopRealScalar(ctx, &id); st != kOk) return st;
    left = 3;
  }
  PlotStyleText style;
  if (left == 3) {
    if (StatusCode st = ReadPlotStyle(ctx, 0, &style); st != kOk) return st;
  }
  PlotMatrix theta, rho;
  if (StatusCode st = ReadPlotMatrix(ctx, left - 1, &theta); st != kOk) return st;
  if (StatusCode st = ReadPlotMatrix(ctx, left - 2, &rho); st != kOk) return st;
  const bool empty = theta.Empty() || rho.Empty();
  if (!empty && (theta.cols != rho.cols || (theta.rows != rho.rows && theta.rows != 1 && rho.rows != 1)))
    return kIncompSize;

  const int32_t curves = empty ? 0 : std::max(theta.rows, rho.rows);
  const int32_t n = empty ? 0 : theta.cols;
  if (StatusCode st = CheckPlotStyles(style, curves); st != kOk) return st;
  ListTarget t(list, capacity, used);
  if (StatusCode st = BeginPlotAppend(sp, &t.w, int64_t{curves} * (2 * int64_t{n} + 7)); st != kOk) return st;
  SetScaleFlags(sp, kScaleEqual, kScaleEqual);
  sp->polar = 1;
  for (int32_t k = 0; k < curves; ++k) {
    PlotStyle ps{};
    (void)PickStyle(style, k, kDefaultWord, &ps);  // checked before writing
    double* d = AppendElement(&t.w, Header(kCurveCode, id, k + 1, ps, 2 * n + 1));
    d[0] = n;
    double* xs = d + 1;
    double* ys = xs + n;
    for (int32_t i = 0; i < n; ++i) {
      const double a = theta.re[(theta.rows > 1 ? int64_t{k} : 0) * n + i];
      const double r = rho.re[(rho.rows > 1 ? int64_t{k} : 0) * n + i];
      xs[i] = r * std::cos(a);
      ys[i] = r * std::sin(a);
    }
    ExtendAutoLimits(sp, xs, ys, nullptr, n);
  }
  t.Finish();
  return DropArgsUnderResults(ctx, 0, left);
}

// ---------------------------------------------------------------------------
// line and line3: straight lines given by their equations; no limits change.

StatusCode AppendLineElements(EngineContext* ctx, int nargin, SubplotRecord* sp, bool threeD, double* list,
                              int32_t capacity, int32_t* used) {
  if (nargin < 2 || nargin > 4) return kBadArg;
  double id = -1;
  int left = nargin;
  if (nargin == 4) {
    if (StatusCode st = ReadUnitId(ctx, 0, &id); st != kOk) return st;
    left = 3;
  }
  PlotStyleText style;
  if (left == 3) {
    if (StatusCode st = ReadPlotStyle(ctx, nargin - 3, &style); st != kOk) return st;
  }
  PlotMatrix coef, cons;
  if (StatusCode st = ReadPlotMatrix(ctx, nargin - 1, &coef); st != kOk) return st;
  if (StatusCode st = ReadPlotMatrix(ctx, nargin - 2, &cons); st != kOk) return st;
  const int32_t width = threeD ? 3 : 2;
  if ((!cons.Empty() && cons.cols != 1) || (!coef.Empty() && coef.cols != width)) return kBadSize;
  const int32_t cr = coef.Empty() ? 0 : coef.rows;
  const int32_t kr = cons.Empty() ? 0 : cons.rows;
  if (cr != kr && cr != 1 && kr != 1) return kIncompSize;
  const int32_t rows = cr == 0 || kr == 0 ? 0 : std::max(cr, kr);
  if (threeD && rows % 2 != 0) return kBadSize;

  const int32_t lines = threeD ? rows / 2 : rows;
  const int32_t n = threeD ? 8 : 3;
  if (StatusCode st = CheckPlotStyles(style, rows); st != kOk) return st;
  ListTarget t(list, capacity, used);
  if (StatusCode st = BeginPlotAppend(sp, &t.w, int64_t{lines} * (kElementHeaderDoubles + n)); st != kOk) return st;
  auto row = [](const PlotMatrix& a, int32_t r) { return a.re + (a.rows > 1 ? int64_t{r} * a.cols : 0); };
  for (int32_t k = 0; k < lines; ++k) {
    const int32_t r = threeD ? 2 * k : k;
    PlotStyle ps{};
    (void)PickStyle(style, r, kDefaultWord, &ps);  // checked before writing
    double* d = AppendElement(&t.w, Header(threeD ? kLine3Code : kLineCode, id, k + 1, ps, n));
    for (int32_t p = 0; p < (threeD ? 2 : 1); ++p) {
      const double* c = row(coef, r + p);
      double* e = d + p * (width + 1);
      for (int32_t j = 0; j < width; ++j) e[j] = c[j];
      e[width] = row(cons, r + p)[0];
    }
  }
  t.Finish();
  return DropArgsUnderResults(ctx, 0, nargin);
}

// ---------------------------------------------------------------------------
// circle: centres and radii taken elementwise.

StatusCode AppendCircleElements(EngineContext* ctx, int nargin, SubplotRecord* sp, double* list, int32_t capacity,
                                int32_t* used) {
  if (nargin < 3 || nargin > 5) return kBadArg;
  // x, y and r to the top, where the elementwise reader looks; the style
  // and the id then lie under them.
  (void)RotateValues(ctx, nargin, 3);
  double id = -1;
  if (nargin == 5) {
    if (StatusCode st = ReadUnitId(ctx, 3, &id); st != kOk) return st;
  }
  PlotStyleText style;
  if (nargin >= 4) {
    if (StatusCode st = ReadPlotStyle(ctx, nargin - 1, &style); st != kOk) return st;
  }
  int64_t count = 0;
  double* re[3] = {};
  uint8_t isArray[3] = {};
  if (StatusCode st = CheckElementwiseArgs(ctx, 3, nullptr, nullptr, &count, re, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, isArray);
      st != kOk)
    return st;
  // Position 0 is r, 2 is x; a scalar repeats.
  auto at = [&](int a, int64_t i) { return re[a][isArray[a] ? i : 0]; };
  int32_t styles = 1;
  if (StatusCode st = CountPlotStyles(style.text, style.length, &styles); st != kOk) return st;
  const bool each = styles > 1;
  if (count > capacity) return kPlotOverflow;
  if (StatusCode st = CheckPlotStyles(style, count); st != kOk) return st;
  const int64_t room = count == 0 ? 0 : each ? 10 * count : 3 * count + 7;
  ListTarget t(list, capacity, used);
  if (StatusCode st = BeginPlotAppend(sp, &t.w, room); st != kOk) return st;
  PlotStyle ps{};
  double* d = nullptr;
  if (count > 0 && !each) {
    (void)PickStyle(style, 0, kDefaultWord, &ps);  // checked before writing
    d = AppendElement(&t.w, Header(kCircleCode, id, -1, ps, static_cast<int32_t>(3 * count + 1)));
    d[0] = static_cast<double>(count);
  }
  for (int64_t i = 0; i < count; ++i) {
    const double x = at(2, i), y = at(1, i), r = at(0, i);
    if (each) {
      (void)PickStyle(style, static_cast<int32_t>(i), kDefaultWord, &ps);  // checked before writing
      double* e = AppendElement(&t.w, Header(kCircleCode, id, static_cast<int32_t>(i + 1), ps, 4));
      e[0] = 1;
      e[1] = x;
      e[2] = y;
      e[3] = r;
    } else {
      d[1 + i] = x;
      d[1 + count + i] = y;
      d[1 + 2 * count + i] = r;
    }
    const double bx[2] = {x - r, x + r};
    const double by[2] = {y - r, y + r};
    ExtendAutoLimits(sp, bx, by, nullptr, 2);
  }
  t.Finish();
  return DropArgsUnderResults(ctx, 0, nargin);
}

// ---------------------------------------------------------------------------
// activeregion: a polygon the hit test reports and nothing draws.

StatusCode AppendActiveRegionElements(EngineContext* ctx, int nargin, SubplotRecord* sp, double* list, int32_t capacity,
                                      int32_t* used) {
  if (nargin == 4) return kTooFewArgin;
  if (nargin != 3 && nargin != 5) return kIllegal;
  double id = -1;
  if (StatusCode st = PopRealScalar(ctx, &id); st != kOk) return st;
  const int left = nargin - 1;
  const PlotStyle none{};
  ListTarget t(list, capacity, used);
  if (left == 2) {
    int32_t dims[kMaxDims];
    int ndims = 0;
    int64_t nx = 0, ny = 0;
    double* xv = nullptr;
    double* yv = nullptr;
    if (StatusCode st = GetDoubleArrayArg(ctx, 1, &ndims, dims, &nx, &xv, nullptr); st != kOk) return st;
    if (StatusCode st = GetDoubleArrayArg(ctx, 0, &ndims, dims, &ny, &yv, nullptr); st != kOk) return st;
    if (nx != ny) return kIncompSize;
    if (nx > capacity) return kPlotOverflow;
    if (StatusCode st = BeginPlotAppend(sp, &t.w, 2 * nx + 7); st != kOk) return st;
    double* d = AppendElement(&t.w, Header(kRegionCode, id, -1, none, static_cast<int32_t>(2 * nx + 1)));
    d[0] = static_cast<double>(nx);
    std::copy(xv, xv + nx, d + 1);
    std::copy(yv, yv + nx, d + 1 + nx);
  } else {
    double v[4] = {};
    for (int i = 0; i < 4; ++i)
      if (StatusCode st = GetRealScalarArg(ctx, 3 - i, &v[i]); st != kOk) return st;
    if (StatusCode st = BeginPlotAppend(sp, &t.w, 15); st != kOk) return st;
    double* d = AppendElement(&t.w, Header(kRegionCode, id, -1, none, 9));
    const double rect[9] = {4, v[0], v[1], v[1], v[0], v[2], v[2], v[3], v[3]};
    std::copy(rect, rect + 9, d);
  }
  t.Finish();
  return DropArgsUnderResults(ctx, 0, left);
}

// ---------------------------------------------------------------------------
// bar and barh: each row a series, each column a bar position.

StatusCode AppendBarElements(EngineContext* ctx, int nargin, SubplotRecord* sp, bool horizontal, double* list,
                             int32_t capacity, int32_t* used) {
  const int s = FirstStringArgument(ctx, nargin);
  const int numeric = s < 0 ? nargin : s;
  if (numeric < 1 || numeric > 3) return kBadArg;
  // After the kind: nothing, a style, or a style and an id.
  const int after = s < 0 ? 0 : nargin - s - 1;
  if (after > 2 || (after >= 1 && !IsCharArg(ctx, nargin - s - 2)) || (after == 2 && IsCharArg(ctx, 0))) return kBadArg;
  double id = -1;
  int left = nargin;
  if (after == 2) {
    if (StatusCode st = PopRealScalar(ctx, &id); st != kOk) return st;
    left = nargin - 1;
  }
  PlotStyleText style;
  if (after >= 1) {
    if (StatusCode st = ReadPlotStyle(ctx, 0, &style); st != kOk) return st;
  }
  enum Kind { kGrouped, kIntervals, kStacked } kind = kGrouped;
  if (s >= 0) {
    PlotStyleText k;
    if (StatusCode st = ReadPlotStyle(ctx, left - 1 - s, &k); st != kOk) return st;
    const char c = k.length > 0 ? k.text[0] : 'g';
    if (c == 'i' || c == 'I') {
      kind = kIntervals;
    } else if (c == 's' || c == 'S') {
      kind = kStacked;
    } else if (c != 'g' && c != 'G') {
      return kUnknownOpt;
    }
  }
  const int first = left - 1;
  PlotMatrix x, y;
  const bool hasX = numeric >= 2;
  if (hasX) {
    if (StatusCode st = ReadPlotMatrix(ctx, first, &x); st != kOk) return st;
  }
  if (StatusCode st = ReadPlotMatrix(ctx, first - (hasX ? 1 : 0), &y); st != kOk) return st;
  double barWidth = 0.8, groupWidth = 0.8;
  if (numeric == 3) {
    PlotMatrix w;
    if (StatusCode st = ReadPlotMatrix(ctx, first - 2, &w); st != kOk) return st;
    if (w.Count() != 1 && w.Count() != 2) return kBadSize;
    barWidth = w.re[0];
    if (w.Count() == 2) groupWidth = w.re[1];
  }
  const bool positioned = hasX && !x.Empty();
  if (positioned && x.cols != y.cols) return kIncompSize;
  if (kind == kIntervals && y.rows % 2 != 0) return kBadSize;

  const int32_t n = y.Empty() ? 0 : y.cols;
  const int32_t series = n == 0 ? 0 : kind == kIntervals ? y.rows / 2 : y.rows;
  const int64_t perBar = kind == kIntervals ? 3 : 2;
  if (StatusCode st = CheckPlotStyles(style, series); st != kOk) return st;
  ListTarget t(list, capacity, used);
  if (StatusCode st = BeginPlotAppend(sp, &t.w, int64_t{series} * (9 + perBar * n)); st != kOk) return st;

  // Grouped series sit side by side within the group width.
  const double u = positioned && x.cols >= 2 ? x.re[1] - x.re[0] : 1.0;
  const bool grouped = kind == kGrouped && series >= 2;
  const double step = grouped ? u * groupWidth / (barWidth + series - 1) : 0.0;
  const double width = grouped ? barWidth * step : barWidth * u;
  const int32_t flags = (horizontal ? kBarHorizontal : 0) | (kind == kIntervals ? kBarIntervals : 0);
  for (int32_t j = 0; j < series; ++j) {
    // Stacked series go in from the last, so the smaller sums lie on top.
    const int32_t k = kind == kStacked ? series - 1 - j : j;
    PlotStyle ps{};
    (void)PickStyle(style, k, kSeriesColourCycle[k % 7] | kStyleFilled, &ps);  // checked before writing
    const int32_t valueRow = kind == kIntervals ? 2 * k + 1 : k;
    const int32_t item = kind == kIntervals ? 2 * k + 1 : k + 1;
    double* d = AppendElement(&t.w, Header(kBarCode, id, item, ps, static_cast<int32_t>(3 + perBar * n)));
    d[0] = flags;
    d[1] = width;
    d[2] = n;
    double* pos = d + 3;
    double* val = pos + n;
    double* bases = val + n;
    const double offset = grouped ? width / 2 - groupWidth * u / 2 + k * step : 0.0;
    const int32_t xrow = positioned ? std::min(kind == kIntervals ? 2 * k : k, x.rows - 1) : 0;
    for (int32_t i = 0; i < n; ++i) {
      pos[i] = (positioned ? x.re[int64_t{xrow} * x.cols + i] : i + 1.0) + offset;
      double v = y.re[int64_t{valueRow} * n + i];
      if (kind == kStacked)
        for (int32_t r = 0; r < k; ++r) v += y.re[int64_t{r} * n + i];
      val[i] = v;
      if (kind == kIntervals) bases[i] = y.re[int64_t{2 * k} * n + i];
      // The bar's corners: its ends along the position axis, its value and base.
      const double base = kind == kIntervals ? bases[i] : 0.0;
      const double along[4] = {pos[i] - width / 2, pos[i] + width / 2, pos[i] - width / 2, pos[i] + width / 2};
      const double across[4] = {v, v, base, base};
      ExtendAutoLimits(sp, horizontal ? across : along, horizontal ? along : across, nullptr, 4);
    }
  }
  t.Finish();
  return DropArgsUnderResults(ctx, 0, left);
}
