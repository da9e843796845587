// Functions of functions: optimset, the minimisers fminbnd (bracketing, then
// golden sections and parabolic steps) and fminsearch (a Nelder-Mead simplex),
// the root finder fzero (widening, then Brent-Dekker steps) and quad
// (trapezoidal sums on halved grids, each improved by one Simpson step).
//
// Each asks the machine for one call of the language's function at a time and
// is entered again with nargin = ~(number of results). Everything it knows
// lies on the value stack above its arguments, the state row topmost; before
// a call the point and copies of the extra arguments go on top. A re-entry
// pops the value first and reserves the next point and copies before any
// state changes, so a failure for room puts the value back and the rerun
// finds the stack as it came.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "numeric/nativeargs.h"
#include "numeric/numeric.h"
#include "numeric/reentry.h"

namespace {

using numeric::Matrix;
using numeric::ReadMatrix;

constexpr StatusCode kNoConvergence = 9;
constexpr StatusCode kBadArgument = 107;

const OptionDefaultRecord kOptimOptions[] = {
    {"Display", kOptionLogical, 0, {}},
    {"MaxFunEvals", kOptionEmpty, 0, {}},
    {"MaxIter", kOptionEmpty, 0, {}},
    {"TolX", kOptionEmpty, 0, {}},
    {"", kOptionEnd, 0, {}},
};

// 2^-26, the coarsest tolerance the minimisers and quad accept.
constexpr double kTolFloor = 1.4901161193847656e-08;

// Where a native's values lie: its first call's arguments, `own` values of
// its own (the state row topmost) and, while a call is prepared, the point
// and the copies of the extra arguments, which start at `firstExtra`.
struct Layout {
  int nargin = 0;
  int own = 1;
  int firstExtra = 0;
  int extras() const { return nargin > firstExtra ? nargin - firstExtra : 0; }
  int held() const { return nargin + own; }
  // Positions with the point and the copies on top.
  int point() const { return extras(); }
  int ownValue(int j) const { return extras() + 1 + j; }  // 0: the row
  int arg(int i) const { return extras() + 1 + own + (nargin - 1 - i); }
};

// Pushes an m x n point and the copies of the extras. A failure for room
// leaves the stack as it was.
[[nodiscard]] StatusCode ReservePoint(EngineContext* ctx, const Layout& at, int32_t m, int32_t n) {
  double* re = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, m, n, &re, nullptr); st != kOk) return st;
  if (StatusCode st = DuplicateValues(ctx, at.own + 1, at.extras()); st != kOk) {
    numeric::PopValues(ctx, 1);
    return st;
  }
  return kOk;
}

[[nodiscard]] double* PointCells(EngineContext* ctx, const Layout& at) {
  Matrix p;
  (void)ReadMatrix(ctx, at.point(), &p);
  return p.re;
}

[[nodiscard]] double* OwnCells(EngineContext* ctx, const Layout& at, int j) {
  Matrix p;
  (void)ReadMatrix(ctx, at.ownValue(j), &p);
  return p.re;
}

// The reserved point holds its value: fun(point, extras...).
[[nodiscard]] StatusCode Ask(EngineContext* ctx, const Layout& at) {
  return numeric::StartReentrantCall(ctx, at.arg(0), 1 + at.extras(), 1, at.held());
}

// Drops everything of the native, the reserved point included.
void Abandon(EngineContext* ctx, const Layout& at) { numeric::AbandonCall(ctx, 1 + at.extras() + at.held()); }

// With the point reserved: everything goes and x, fval and the flag are left
// as far as nargout asks, x on top. Dropping freed more than they need.
[[nodiscard]] StatusCode DeliverScalars(EngineContext* ctx, const Layout& at, int nargout, double x, double fx,
                                        bool flag) {
  Abandon(ctx, at);
  if (StatusCode st = PushRealScalar(ctx, x); st != kOk) return st;
  if (nargout < 2) return kOk;
  if (StatusCode st = PushRealScalar(ctx, fx); st != kOk) return st;
  if (nargout >= 3)
    if (StatusCode st = PushLogicalScalar(ctx, flag ? 1 : 0); st != kOk) return st;
  return ReverseValues(ctx, std::min(nargout, 3));
}

// A re-entry: finds the row of `cells` doubles under exactly one result
// (its cell `narginCell` holds the first call's nargin), pops the value and
// reserves the next point, with x0's shape taken from argument 1 when `shaped`.
[[nodiscard]] StatusCode Resume(EngineContext* ctx, int nargin, int64_t cells, int narginCell, Layout* at, double* y,
                                bool shaped) {
  double* row = nullptr;
  if (StatusCode st = FindReentryState(ctx, nargin, ~nargin, cells, &row); st != kOk) return st;
  // A row whose nargin no first call could have had is not this native's.
  const double first = row[narginCell];
  if (!(first >= 2 && first <= 1e6)) return kWrongTypeInternal;
  at->nargin = static_cast<int>(first);
  if (StatusCode st = numeric::ReadReentry(ctx, nargin, 1, cells, at->held(), &row); st != kOk) return st;
  if (StatusCode st = PopRealScalar(ctx, y); st != kOk) {
    numeric::AbandonCall(ctx, 1 + at->held());
    return st;
  }
  Matrix x0;
  if (shaped) (void)ReadMatrix(ctx, at->own + at->nargin - 2, &x0);
  if (StatusCode st = ReservePoint(ctx, *at, shaped ? x0.m : 1, shaped ? x0.n : 1); st != kOk) {
    // The pop freed the room the value takes again.
    (void)PushRealScalar(ctx, *y);
    return st;
  }
  return kOk;
}

// Trace lines go to descriptor 2; a lost line must not end the search.
void TraceText(EngineContext* ctx, const char* text) { (void)WriteToDescriptor(ctx, 2, text, -1); }
void TraceNumber(EngineContext* ctx, double x) { (void)WriteNumberToDescriptor(ctx, 2, x); }
void TraceEnd(EngineContext* ctx) { (void)WriteNewlineToDescriptor(ctx, 2); }
void TraceWords(EngineContext* ctx, const char* text) {
  TraceText(ctx, text);
  TraceEnd(ctx);
}
void TraceLine(EngineContext* ctx, const char* label, double x) {
  TraceText(ctx, label);
  TraceNumber(ctx, x);
  TraceEnd(ctx);
}
void TraceTriple(EngineContext* ctx, const char* label, double a, double b, double c) {
  TraceText(ctx, label);
  TraceNumber(ctx, a);
  TraceText(ctx, ",");
  TraceNumber(ctx, b);
  TraceText(ctx, ",");
  TraceNumber(ctx, c);
  TraceEnd(ctx);
}

// The options of the third argument when there is one; the values keep the
// caller's defaults otherwise. position: the options' place from the top.
struct OptimOptions {
  double tol = 0, maxIter = 0, maxFunEvals = 0;
  bool display = false;
};
[[nodiscard]] StatusCode ReadOptimOptions(EngineContext* ctx, int nargin, OptimOptions* o) {
  if (nargin < 3) return kOk;
  const int at = nargin - 3;
  if (StatusCode st = GetRealOption(ctx, at, "TolX", kOptimOptions, o->tol, &o->tol); st != kOk) return st;
  if (StatusCode st = GetRealOption(ctx, at, "MaxIter", kOptimOptions, o->maxIter, &o->maxIter); st != kOk) return st;
  if (StatusCode st = GetRealOption(ctx, at, "MaxFunEvals", kOptimOptions, o->maxFunEvals, &o->maxFunEvals); st != kOk)
    return st;
  return GetBooleanOption(ctx, at, "Display", kOptimOptions, false, &o->display);
}

// The start point or interval of fminbnd and fzero: 1 or 2 elements, the
// first not above the second; two equal ends count as a start point.
[[nodiscard]] StatusCode ReadStart(EngineContext* ctx, int position, double* lo, double* hi, bool* interval) {
  Matrix s;
  if (ReadMatrix(ctx, position, &s) != kOk) return kWrongType;
  if (s.count() < 1 || s.count() > 2) return kBadSize;
  *lo = s.re[0];
  *hi = s.re[s.count() - 1];
  if (*lo > *hi) return kBadArgument;
  *interval = *lo != *hi;
  return kOk;
}

// Pushes the zeroed state row with its nargin, then reserves the first
// point. A failure leaves the arguments as they came.
[[nodiscard]] StatusCode StartState(EngineContext* ctx, const Layout& at, int64_t cells, int narginCell, int32_t m,
                                    int32_t n) {
  double* row = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, 1, static_cast<int32_t>(cells), &row, nullptr); st != kOk) return st;
  std::fill_n(row, cells, 0.0);
  row[narginCell] = at.nargin;
  if (StatusCode st = ReservePoint(ctx, at, m, n); st != kOk) {
    numeric::PopValues(ctx, 1);
    return st;
  }
  return kOk;
}

// ---------------------------------------------------------------------------
// fzero

enum FzeroCell { kZState, kZNargin, kZA, kZB, kZC, kZFa, kZFb, kZFc, kZD, kZE, kZTol, kZMaxIter, kZMaxFun, kZDisplay };
constexpr int64_t kFzeroCells = 14;

// What a step decided: call f at `point`, or finish with it as the zero.
struct Next {
  bool done = false;
  double point = 0;
};

// One Brent-Dekker step over the bracket [b, c].
Next FzeroStep(EngineContext* ctx, double* s) {
  double &a = s[kZA], &b = s[kZB], &c = s[kZC], &fa = s[kZFa], &fb = s[kZFb], &fc = s[kZFc];
  double &d = s[kZD], &e = s[kZE];
  if ((fb > 0 && fc > 0) || (fb < 0 && fc < 0)) {
    c = a;
    fc = fa;
    d = e = b - a;
  }
  if (std::fabs(fc) < std::fabs(fb)) {
    a = b;
    b = c;
    c = a;
    fa = fb;
    fb = fc;
    fc = fa;
  }
  const double tol1 = 2 * s[kZTol] * (std::fabs(b) + 1);
  const double xm = (c - b) / 2;
  if (std::fabs(xm) <= tol1 || fb == 0) return {true, b};
  const char* label = "Bisection ";
  bool bisect = true;
  if (std::fabs(e) >= tol1 && std::fabs(fa) > std::fabs(fb)) {
    const double r0 = fb / fa;
    double p = 0, q = 0;
    if (a == c) {
      p = 2 * xm * r0;
      q = 1 - r0;
    } else {
      q = fa / fc;
      const double r = fb / fc;
      p = r0 * (2 * xm * q * (q - r) - (b - a) * (r - 1));
      q = (q - 1) * (r - 1) * (r0 - 1);
    }
    if (p > 0) q = -q;
    p = std::fabs(p);
    if (2 * p < 3 * xm * q - std::fabs(tol1 * q) && 2 * p < std::fabs(e * q)) {
      e = d;
      d = p / q;
      label = "Inverse quadratic interpolation ";
      bisect = false;
    }
  }
  if (bisect) d = e = xm;
  a = b;
  fa = fb;
  b += std::fabs(d) > tol1 ? d : (xm > 0 ? tol1 : -tol1);
  if (s[kZDisplay] != 0) TraceTriple(ctx, label, a, b, c);
  s[kZState] = 5;
  return {false, b};
}

// The value f at the pending point moves the search on; error 9 when it or a
// widened end is not finite.
[[nodiscard]] StatusCode FzeroAdvance(EngineContext* ctx, double* s, double f, Next* next) {
  if (!std::isfinite(f)) return kNoConvergence;
  double &a = s[kZA], &b = s[kZB], &c = s[kZC], &fa = s[kZFa], &fb = s[kZFb], &fc = s[kZFc];
  const bool display = s[kZDisplay] != 0;
  bool bracketed = false;
  switch (static_cast<int>(s[kZState])) {
    case 1:
      if (f == 0) {
        *next = {true, a};
        return kOk;
      }
      fa = f;
      if (fa * fc >= 0) {
        c += (c - a) * 0.4142;
        if (!std::isfinite(c)) return kNoConvergence;
        s[kZState] = 2;
        if (display) TraceLine(ctx, "Extending upper limit ->", c);
        *next = {false, c};
        return kOk;
      }
      bracketed = true;
      break;
    case 2:
      if (f == 0) {
        *next = {true, c};
        return kOk;
      }
      fc = f;
      if (fc * fa >= 0) {
        a -= (c - a) * 0.4142;
        if (!std::isfinite(a)) return kNoConvergence;
        s[kZState] = 1;
        if (display) TraceLine(ctx, "Extending lower limit ->", a);
        *next = {false, a};
        return kOk;
      }
      bracketed = true;
      break;
    case 3:
      if (f == 0) {
        *next = {true, a};
        return kOk;
      }
      fa = f;
      s[kZState] = 4;
      if (display) TraceWords(ctx, "Checking upper bound");
      *next = {false, c};
      return kOk;
    case 4:
      if (f == 0) {
        *next = {true, c};
        return kOk;
      }
      if (f * fa >= 0) return kNoConvergence;
      fc = f;
      bracketed = true;
      break;
    case 5:
      fb = f;
      break;
    default:
      return kIllegal;
  }
  if (bracketed) {
    b = c;
    fb = fc;
  }
  *next = FzeroStep(ctx, s);
  return kOk;
}

[[nodiscard]] StatusCode FzeroFirst(EngineContext* ctx, int nargin) {
  double lo = 0, hi = 0;
  bool interval = false;
  if (StatusCode st = ReadStart(ctx, nargin - 2, &lo, &hi, &interval); st != kOk) return st;
  OptimOptions o;
  o.tol = 0x1p-52;
  if (StatusCode st = ReadOptimOptions(ctx, nargin, &o); st != kOk) return ReportedStatus(st);
  const Layout at{nargin, 1, 3};
  if (StatusCode st = StartState(ctx, at, kFzeroCells, kZNargin, 1, 1); st != kOk) return st;
  double* s = OwnCells(ctx, at, 0);
  s[kZTol] = std::max(o.tol, 0x1p-52);
  s[kZMaxIter] = o.maxIter;
  s[kZMaxFun] = o.maxFunEvals;
  s[kZDisplay] = o.display ? 1 : 0;
  s[kZA] = lo;
  s[kZC] = hi;
  if (interval) {
    s[kZState] = 3;
    if (o.display) TraceWords(ctx, "Checking lower bound");
  } else {
    const double w = std::fabs(lo) < 1e-9 ? 0.02 : 0.02 * std::fabs(lo);
    s[kZA] = (std::fabs(lo) < 1e-9 ? 0 : lo) - w;
    s[kZC] = (std::fabs(lo) < 1e-9 ? 0 : lo) + w;
    s[kZState] = 1;
    if (o.display) TraceWords(ctx, "Extending");
  }
  *PointCells(ctx, at) = s[kZA];
  return Ask(ctx, at);
}

}  // namespace

StatusCode OptimsetNative(EngineContext* ctx, int nargin, int, void*) {
  return ApplyOptionSet(ctx, nargin, kOptimOptions);
}

StatusCode FzeroNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin >= 0) return FzeroFirst(ctx, nargin);
  Layout at{0, 1, 3};
  double f = 0;
  if (StatusCode st = Resume(ctx, nargin, kFzeroCells, kZNargin, &at, &f, false); st != kOk) return st;
  double* s = OwnCells(ctx, at, 0);
  Next next;
  if (StatusCode st = FzeroAdvance(ctx, s, f, &next); st != kOk) {
    Abandon(ctx, at);
    return st;
  }
  if (next.done) return DeliverScalars(ctx, at, std::min(nargout, 1), next.point, 0, true);
  *PointCells(ctx, at) = next.point;
  return Ask(ctx, at);
}

namespace {

// ---------------------------------------------------------------------------
// fminbnd

enum FminbndCell {
  kBState,
  kBNargin,
  kBA,
  kBB,
  kBFa,
  kBFb,
  kBU,
  kBV,
  kBW,
  kBX,
  kBD,
  kBE,
  kBFx,
  kBFv,
  kBFw,
  kBTol,
  kBMaxIter,
  kBMaxFun,
  kBDisplay,
  kBIter,
  kBEvals
};
constexpr int64_t kFminbndCells = 21;

// What fminbnd does next: call f at `point`, or finish with (x, f(x), flag).
// A refused call ends the search at the point the state names.
struct Move {
  enum { kAsk, kFinish } kind = kAsk;
  double point = 0, x = 0, fx = 0;
  bool flag = true;
};

Move Finish(double x, double fx, bool flag) { return {Move::kFinish, 0, x, fx, flag}; }

// One request: refused once the calls already exceed MaxFunEvals, when the
// search ends at (x, fx) unconverged.
Move Request(double* s, double point, double x, double fx) {
  if (s[kBEvals] > s[kBMaxFun]) return Finish(x, fx, false);
  s[kBEvals] += 1;
  return {Move::kAsk, point, 0, 0, true};
}

// A Brent iteration from the bracket a < x < b.
Move FminbndIterate(EngineContext* ctx, double* s) {
  double &a = s[kBA], &b = s[kBB], &x = s[kBX], &v = s[kBV], &w = s[kBW], &d = s[kBD], &e = s[kBE];
  const double fx = s[kBFx], fv = s[kBFv], fw = s[kBFw];
  const double xm = (a + b) / 2, tol1 = std::fabs(x) * s[kBTol] + 1e-20, tol2 = 2 * tol1;
  if (std::fabs(x - xm) <= tol2 - (b - a) / 2) return Finish(x, fx, true);
  s[kBIter] += 1;
  if (s[kBIter] > s[kBMaxIter]) return Finish(x, fx, false);
  const char* label = "Golden section: ";
  bool golden = true;
  if (std::fabs(e) > tol1) {
    const double r = (x - w) * (fx - fv);
    double q = (x - v) * (fx - fw);
    double p = (x - v) * q - (x - w) * r;
    q = 2 * (q - r);
    if (q > 0) p = -p;
    q = std::fabs(q);
    const double etemp = e;
    e = d;
    if (!(std::fabs(p) >= std::fabs(q * etemp / 2) || p <= q * (a - x) || p >= q * (b - x))) {
      d = p / q;
      label = "Parabolic fit: ";
      golden = false;
      const double u = x + d;
      if (u - a < tol2 || b - u < tol2) d = xm < x ? -tol1 : tol1;
    }
  }
  if (golden) {
    e = (x < xm ? b : a) - x;
    d = 0.381966 * e;
  }
  s[kBU] = std::fabs(d) >= tol1 ? x + d : x + (d < 0 ? -tol1 : tol1);
  if (s[kBDisplay] != 0) TraceTriple(ctx, label, a, v, b);
  s[kBState] = 7;
  return Request(s, s[kBU], x, fx);
}

// The bracket a < v < b holds: the iteration starts at its middle point.
Move FminbndBracketed(EngineContext* ctx, double* s) {
  if (s[kBDisplay] != 0) TraceTriple(ctx, "Initial bracketing: ", s[kBA], s[kBV], s[kBB]);
  s[kBX] = s[kBW] = s[kBV];
  s[kBFx] = s[kBFw] = s[kBFv];
  s[kBD] = s[kBE] = 0;
  return FminbndIterate(ctx, s);
}

// Moves the end with the higher value outwards; the old end becomes the
// middle point. A refused call reports the lowest value found.
Move FminbndExtend(EngineContext* ctx, double* s) {
  double &a = s[kBA], &b = s[kBB];
  s[kBState] = 6;
  if (s[kBFa] >= s[kBFb]) {
    s[kBV] = b;
    s[kBFv] = s[kBFb];
    b += (b - a) * 1.618034;
    if (s[kBDisplay] != 0) TraceLine(ctx, "Extending bracketing to ", b);
    return Request(s, b, a, s[kBFa]);
  }
  s[kBV] = a;
  s[kBFv] = s[kBFa];
  a -= (b - a) * 1.618034;
  if (s[kBDisplay] != 0) TraceLine(ctx, "Extending bracketing to ", a);
  // a has moved to an untried point; v is the old lower end and its value.
  return Request(s, a, s[kBV], s[kBFv]);
}

// The lower of the two ends, for a call refused while the middle is probed.
Move LowerEnd(double* s, double point) {
  return s[kBFa] <= s[kBFb] ? Request(s, point, s[kBA], s[kBFa]) : Request(s, point, s[kBB], s[kBFb]);
}

[[nodiscard]] StatusCode FminbndAdvance(EngineContext* ctx, double* s, double f, int nargout, Move* move) {
  const bool display = s[kBDisplay] != 0;
  const int state = static_cast<int>(s[kBState]);
  if (!std::isfinite(f)) {
    // An extension that finds -Inf (or NaN) ends there when the flag is asked for.
    if (state != 6 || f == INFINITY || nargout < 3) return kNoConvergence;
    *move = Finish(s[kBFa] >= s[kBFb] ? s[kBB] : s[kBA], f, false);
    return kOk;
  }
  double &a = s[kBA], &b = s[kBB], &fa = s[kBFa], &fb = s[kBFb], &v = s[kBV], &fv = s[kBFv];
  switch (state) {
    case 1:
      fa = f;
      if (display) TraceLine(ctx, "Calculating f(xmin)=", f);
      s[kBState] = 2;
      *move = Request(s, b, a, fa);
      return kOk;
    case 2:
      fb = f;
      if (display) TraceLine(ctx, "Calculating f(xmax)=", f);
      s[kBState] = 3;
      v = (a + b) / 2;
      *move = LowerEnd(s, v);
      return kOk;
    case 3:
      fv = f;
      if (fv < fa && fv < fb) {
        *move = FminbndBracketed(ctx, s);
        return kOk;
      }
      v = fa >= fb ? (v + b) / 2 : (v + a) / 2;
      if (std::min(std::fabs(v - a), std::fabs(v - b)) >= 0.001 * s[kBTol]) {
        if (display) TraceLine(ctx, "Checking ", v);
        *move = LowerEnd(s, v);
      } else {
        *move = fa >= fb ? Finish(b, fb, true) : Finish(a, fa, true);
      }
      return kOk;
    case 4:
      fa = f;
      if (display) TraceLine(ctx, "Calculating f(x0)=", f);
      b = a + std::max(1.0, std::fabs(a)) * 0.001;
      s[kBState] = 5;
      *move = Request(s, b, a, fa);
      return kOk;
    case 5:
      fb = f;
      *move = FminbndExtend(ctx, s);
      return kOk;
    case 6:
      (fa >= fb ? fb : fa) = f;
      *move = fv < fa && fv < fb ? FminbndBracketed(ctx, s) : FminbndExtend(ctx, s);
      return kOk;
    case 7: {
      double &x = s[kBX], &w = s[kBW], &fx = s[kBFx], &fw = s[kBFw];
      const double u = s[kBU];
      if (f <= fx) {
        (u >= x ? a : b) = x;
        v = w;
        fv = fw;
        w = x;
        fw = fx;
        x = u;
        fx = f;
      } else {
        (u < x ? a : b) = u;
        if (f <= fw || w == x) {
          v = w;
          fv = fw;
          w = u;
          fw = f;
        } else if (f <= fv || v == x || v == w) {
          v = u;
          fv = f;
        }
      }
      *move = FminbndIterate(ctx, s);
      return kOk;
    }
    default:
      return kIllegal;
  }
}

// Asks for the call or leaves the results; a limit with fewer than three
// outputs is error 9.
[[nodiscard]] StatusCode FminbndMove(EngineContext* ctx, const Layout& at, const Move& move, int nargout) {
  if (move.kind == Move::kAsk) {
    *PointCells(ctx, at) = move.point;
    return Ask(ctx, at);
  }
  if (!move.flag && nargout < 3) {
    Abandon(ctx, at);
    return kNoConvergence;
  }
  return DeliverScalars(ctx, at, nargout, move.x, move.fx, move.flag);
}

[[nodiscard]] StatusCode FminbndFirst(EngineContext* ctx, int nargin, int nargout) {
  double lo = 0, hi = 0;
  bool interval = false;
  if (StatusCode st = ReadStart(ctx, nargin - 2, &lo, &hi, &interval); st != kOk) return st;
  OptimOptions o;
  o.tol = kTolFloor;
  o.maxIter = 500;
  o.maxFunEvals = 1000;
  if (StatusCode st = ReadOptimOptions(ctx, nargin, &o); st != kOk) return ReportedStatus(st);
  const Layout at{nargin, 1, 3};
  if (StatusCode st = StartState(ctx, at, kFminbndCells, kBNargin, 1, 1); st != kOk) return st;
  double* s = OwnCells(ctx, at, 0);
  s[kBTol] = std::max(o.tol, kTolFloor);
  s[kBMaxIter] = o.maxIter;
  s[kBMaxFun] = o.maxFunEvals;
  s[kBDisplay] = o.display ? 1 : 0;
  s[kBA] = lo;
  s[kBB] = hi;
  s[kBState] = interval ? 1 : 4;
  const Move move = Request(s, lo, lo, 0);
  // A refusal before any value is known has nothing to report.
  if (move.kind != Move::kAsk) {
    Abandon(ctx, at);
    return kNoConvergence;
  }
  return FminbndMove(ctx, at, move, nargout);
}

}  // namespace

StatusCode FminbndNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin >= 0) return FminbndFirst(ctx, nargin, nargout);
  Layout at{0, 1, 3};
  double f = 0;
  if (StatusCode st = Resume(ctx, nargin, kFminbndCells, kBNargin, &at, &f, false); st != kOk) return st;
  Move move;
  if (StatusCode st = FminbndAdvance(ctx, OwnCells(ctx, at, 0), f, nargout, &move); st != kOk) {
    Abandon(ctx, at);
    return st;
  }
  return FminbndMove(ctx, at, move, nargout);
}

namespace {

// ---------------------------------------------------------------------------
// fminsearch

// Its values above the arguments, from the deepest: the simplex P (N x N+1,
// column j vertex j, stored by rows), the values F, the centroid C, the
// direction D and the row.
enum FminsearchCell {
  kSState,
  kSNargin,
  kSK,
  kSKept,
  kSRows,
  kSCols,
  kSTol,
  kSDisplay,
  kSMaxIter,
  kSMaxFun,
  kSIter,
  kSEvals
};
constexpr int64_t kFminsearchCells = 12;
constexpr int kFminsearchOwn = 5;

struct Simplex {
  double *p = nullptr, *f = nullptr, *c = nullptr, *d = nullptr, *s = nullptr;
  int n = 0;
  double& at(int l, int j) const { return p[int64_t{l} * (n + 1) + j]; }
};

Simplex ReadSimplex(EngineContext* ctx, const Layout& at) {
  Simplex x;
  x.s = OwnCells(ctx, at, 0);
  x.d = OwnCells(ctx, at, 1);
  x.c = OwnCells(ctx, at, 2);
  x.f = OwnCells(ctx, at, 3);
  x.p = OwnCells(ctx, at, 4);
  x.n = static_cast<int>(x.s[kSRows] * x.s[kSCols]);
  return x;
}

// The first vertex with the largest (or smallest) value.
int Extreme(const Simplex& x, bool largest) {
  int best = 0;
  for (int j = 1; j <= x.n; ++j)
    if (largest ? x.f[j] > x.f[best] : x.f[j] < x.f[best]) best = j;
  return best;
}

void TraceVertex(const Simplex& x, EngineContext* ctx, const char* label, int j) {
  if (x.s[kSDisplay] != 0) TraceLine(ctx, label, j + 1);
}

// What fminsearch does next: the point is filled for a call, or the search
// ends with the flag.
struct Outcome {
  bool ask = true;
  bool converged = false;
};

Outcome AskVertex(const Simplex& x, double* point, int j) {
  for (int l = 0; l < x.n; ++l) point[l] = x.at(l, j);
  return {};
}

// point = C + t D.
Outcome AskAlong(const Simplex& x, double* point, double t) {
  for (int l = 0; l < x.n; ++l) point[l] = x.c[l] + t * x.d[l];
  return {};
}

Outcome IterationStart(const Simplex& x, double* point) {
  const int w = Extreme(x, true);
  for (int l = 0; l < x.n; ++l) {
    double sum = 0;
    for (int j = 0; j <= x.n; ++j)
      if (j != w) sum += x.at(l, j);
    x.c[l] = sum / x.n;
    x.d[l] = x.at(l, w) - x.c[l];
  }
  x.s[kSK] = w;
  x.s[kSState] = 2;
  return AskAlong(x, point, -1);
}

Outcome ConvergenceTest(const Simplex& x, EngineContext* ctx, double* point) {
  bool converged = true;
  for (int l = 0; l < x.n && converged; ++l)
    for (int j = 1; j <= x.n; ++j)
      if (!(std::fabs(x.at(l, j) - x.at(l, 0)) <= x.s[kSTol])) {
        converged = false;
        break;
      }
  if (converged) return {false, true};
  double* s = x.s;
  s[kSIter] += 1;
  if (s[kSIter] <= s[kSMaxIter] && s[kSEvals] <= s[kSMaxFun]) return IterationStart(x, point);
  if (s[kSDisplay] != 0) {
    const bool evals = s[kSIter] <= s[kSMaxIter];
    TraceText(ctx, evals ? "Too many evaluations (" : "Too many iterations (");
    TraceNumber(ctx, evals ? s[kSEvals] : s[kSIter]);
    TraceWords(ctx, ")");
  }
  return {false, false};
}

// The next vertex of a run of evaluations (state 1: all, state 5: all but the
// kept one), or what follows the run.
Outcome NextVertex(const Simplex& x, EngineContext* ctx, double* point) {
  double* s = x.s;
  int k = static_cast<int>(s[kSK]);
  if (s[kSState] == 5 && k == static_cast<int>(s[kSKept])) ++k;
  s[kSK] = k;
  if (k <= x.n) return AskVertex(x, point, k);
  return s[kSState] == 1 ? IterationStart(x, point) : ConvergenceTest(x, ctx, point);
}

[[nodiscard]] StatusCode FminsearchAdvance(EngineContext* ctx, const Simplex& x, double f, double* point,
                                           Outcome* out) {
  if (std::isnan(f)) return kNoConvergence;
  double* s = x.s;
  s[kSEvals] += 1;
  const int w = static_cast<int>(s[kSK]);
  if (w < 0 || w > x.n) return kIllegal;
  switch (static_cast<int>(s[kSState])) {
    case 1:
    case 5:
      x.f[w] = f;
      s[kSK] = w + 1;
      *out = NextVertex(x, ctx, point);
      return kOk;
    case 2:
      if (f >= x.f[w]) {
        s[kSState] = 4;
        *out = AskAlong(x, point, 0.5);
      } else {
        x.f[w] = f;
        s[kSState] = 3;
        *out = AskAlong(x, point, -2);
      }
      return kOk;
    case 3: {
      const bool reflect = x.f[w] <= f;
      for (int l = 0; l < x.n; ++l) x.at(l, w) = x.c[l] - (reflect ? 1 : 2) * x.d[l];
      if (!reflect) x.f[w] = f;
      TraceVertex(x, ctx, reflect ? "Reflecting vertex " : "Expanding vertex ", w);
      *out = ConvergenceTest(x, ctx, point);
      return kOk;
    }
    case 4: {
      if (f < x.f[w]) {
        for (int l = 0; l < x.n; ++l) x.at(l, w) = x.c[l] + x.d[l] / 2;
        x.f[w] = f;
        TraceVertex(x, ctx, "Contracting vertex ", w);
        *out = IterationStart(x, point);
        return kOk;
      }
      const int b = Extreme(x, false);
      for (int j = 0; j <= x.n; ++j)
        if (j != b)
          for (int l = 0; l < x.n; ++l) x.at(l, j) = (x.at(l, j) + x.at(l, b)) / 2;
      s[kSState] = 5;
      s[kSKept] = b;
      s[kSK] = 0;
      TraceVertex(x, ctx, "Shrinking around vertex ", b);
      *out = NextVertex(x, ctx, point);
      return kOk;
    }
    default:
      return kIllegal;
  }
}

// The search has ended: the best vertex fills the reserved point, which
// stays as x with fval and the flag under it.
[[nodiscard]] StatusCode FminsearchDeliver(EngineContext* ctx, const Layout& at, const Simplex& x, bool converged,
                                           int nargout) {
  if (!converged && nargout < 3) {
    Abandon(ctx, at);
    return kNoConvergence;
  }
  const int best = Extreme(x, false);
  const double fval = x.f[best];
  (void)AskVertex(x, PointCells(ctx, at), best);
  numeric::PopValues(ctx, at.extras());
  (void)DropArgsUnderResults(ctx, 1, at.held());
  if (nargout < 2) return kOk;
  if (StatusCode st = PushRealScalar(ctx, fval); st != kOk) return st;
  if (nargout >= 3)
    if (StatusCode st = PushLogicalScalar(ctx, converged ? 1 : 0); st != kOk) return st;
  return ReverseValues(ctx, std::min(nargout, 3));
}

[[nodiscard]] StatusCode FminsearchFirst(EngineContext* ctx, int nargin, int nargout) {
  Matrix x0;
  if (ReadMatrix(ctx, nargin - 2, &x0) != kOk || x0.im != nullptr) return kWrongType;
  if (x0.count() == 0) {
    // x0 itself is x.
    (void)DropArgsUnderResults(ctx, 0, nargin - 2);
    (void)DropArgsUnderResults(ctx, 1, 1);
    if (nargout < 2) return kOk;
    if (StatusCode st = PushRealScalar(ctx, 0); st != kOk) return st;
    if (nargout >= 3)
      if (StatusCode st = PushLogicalScalar(ctx, 1); st != kOk) return st;
    return ReverseValues(ctx, std::min(nargout, 3));
  }
  const int64_t count = x0.count();
  if (count >= INT32_MAX) return kBadSize;
  const int n = static_cast<int>(count);
  OptimOptions o;
  o.tol = kTolFloor;
  o.maxIter = o.maxFunEvals = 200.0 * n;
  if (StatusCode st = ReadOptimOptions(ctx, nargin, &o); st != kOk) return ReportedStatus(st);
  const int32_t rows = x0.m, cols = x0.n;
  const Layout at{nargin, kFminsearchOwn, 3};
  const int32_t shapes[4][2] = {{n, n + 1}, {1, n + 1}, {n, 1}, {n, 1}};
  for (int j = 0; j < 4; ++j) {
    double* re = nullptr;
    if (StatusCode st = PushDoubleMatrix(ctx, shapes[j][0], shapes[j][1], &re, nullptr); st != kOk) {
      numeric::PopValues(ctx, j);
      return st;
    }
  }
  if (StatusCode st = StartState(ctx, at, kFminsearchCells, kSNargin, rows, cols); st != kOk) {
    numeric::PopValues(ctx, 4);
    return st;
  }
  double* s = OwnCells(ctx, at, 0);
  s[kSRows] = rows;
  s[kSCols] = cols;
  const Simplex x = ReadSimplex(ctx, at);
  s[kSTol] = std::max(o.tol, kTolFloor);
  s[kSDisplay] = o.display ? 1 : 0;
  s[kSMaxIter] = o.maxIter;
  s[kSMaxFun] = o.maxFunEvals;
  s[kSState] = 1;
  (void)ReadMatrix(ctx, at.arg(1), &x0);
  for (int l = 0; l < n; ++l) {
    const double h = std::max(0.05 * std::fabs(x0.re[l]), 0.001);
    x.at(l, 0) = x0.re[l] - h / (n + 1);
    for (int j = 1; j <= n; ++j) x.at(l, j) = x0.re[l] + (j - 1 == l ? h : 0);
  }
  (void)AskVertex(x, PointCells(ctx, at), 0);
  return Ask(ctx, at);
}

}  // namespace

StatusCode FminsearchNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin >= 0) return FminsearchFirst(ctx, nargin, nargout);
  Layout at{0, kFminsearchOwn, 3};
  double f = 0;
  if (StatusCode st = Resume(ctx, nargin, kFminsearchCells, kSNargin, &at, &f, true); st != kOk) return st;
  const Simplex x = ReadSimplex(ctx, at);
  Outcome out;
  if (StatusCode st = FminsearchAdvance(ctx, x, f, PointCells(ctx, at), &out); st != kOk) {
    Abandon(ctx, at);
    return st;
  }
  if (!out.ask) return FminsearchDeliver(ctx, at, x, out.converged, nargout);
  return Ask(ctx, at);
}

namespace {

// ---------------------------------------------------------------------------
// quad

enum QuadCell { kQNargin, kQPhase, kQNew, kQDone, kQA, kQB, kQX, kQSum, kQT, kQTPrev, kQSPrev, kQTol, kQTrace };
constexpr int64_t kQuadCells = 13;

// tol and trace: a one-element number of any class as a double, [] or an
// empty array as 0, more elements error 21.
[[nodiscard]] StatusCode ReadScalarOrZero(EngineContext* ctx, int position, double* x) {
  if (StatusCode st = DuplicateValues(ctx, position, 1); st != kOk) return st;
  if (StatusCode st = PopRealScalarOrDefault(ctx, 0, x); st != kOk) {
    numeric::PopValues(ctx, 1);
    return ReportedStatus(st);
  }
  return kOk;
}

// A phase has its trapezoidal value T: either the Simpson value settles it or
// the next phase's first midpoint is asked for.
[[nodiscard]] StatusCode QuadPhaseEnd(EngineContext* ctx, double* s, bool* done, double* result) {
  const double t = s[kQT], k = s[kQPhase];
  const double simpson = (4 * t - s[kQTPrev]) / 3;
  if (k >= 4 && std::fabs(simpson - s[kQSPrev]) <= (std::fabs(s[kQSPrev]) + 1e-6) * s[kQTol]) {
    *done = true;
    *result = simpson;
    return kOk;
  }
  if (k > 12) return kNoConvergence;
  if (s[kQTrace] != 0) {
    TraceText(ctx, "Phase ");
    TraceNumber(ctx, k);
    TraceText(ctx, ": ");
    TraceNumber(ctx, std::ldexp(1.0, static_cast<int>(k) - 1) + 1);
    TraceText(ctx, " points, y=");
    TraceNumber(ctx, simpson);
    TraceEnd(ctx);
  }
  s[kQTPrev] = t;
  s[kQSPrev] = simpson;
  s[kQPhase] = k + 1;
  s[kQSum] = 0;
  s[kQDone] = 0;
  s[kQNew] = std::ldexp(1.0, static_cast<int>(k) - 1);
  s[kQX] = s[kQA] + (s[kQB] - s[kQA]) * 0.5 / s[kQNew];
  *done = false;
  return kOk;
}

[[nodiscard]] StatusCode QuadAdvance(EngineContext* ctx, double* s, double y, bool* done, double* result) {
  if (!std::isfinite(y)) return kNoConvergence;
  const double a = s[kQA], b = s[kQB];
  *done = false;
  if (s[kQPhase] == 1) {
    if (s[kQDone] == 0) {
      s[kQSum] = y;
      s[kQDone] = 1;
      s[kQX] = b;
      return kOk;
    }
    s[kQT] = (y + s[kQSum]) * (b - a) * 0.5;
    return QuadPhaseEnd(ctx, s, done, result);
  }
  s[kQSum] += y;
  s[kQDone] += 1;
  if (s[kQDone] < s[kQNew]) {
    s[kQX] += (b - a) / s[kQNew];
    return kOk;
  }
  s[kQT] = ((b - a) * s[kQSum] / s[kQNew] + s[kQTPrev]) * 0.5;
  return QuadPhaseEnd(ctx, s, done, result);
}

[[nodiscard]] StatusCode QuadFirst(EngineContext* ctx, int nargin) {
  double tol = 0, trace = 0, a = 0, b = 0;
  if (nargin >= 5)
    if (StatusCode st = ReadScalarOrZero(ctx, nargin - 5, &trace); st != kOk) return st;
  if (nargin >= 4)
    if (StatusCode st = ReadScalarOrZero(ctx, nargin - 4, &tol); st != kOk) return st;
  if (StatusCode st = GetRealScalarArg(ctx, nargin - 3, &b); st != kOk) return ReportedStatus(st);
  if (StatusCode st = GetRealScalarArg(ctx, nargin - 2, &a); st != kOk) return ReportedStatus(st);
  const Layout at{nargin, 1, 5};
  if (StatusCode st = StartState(ctx, at, kQuadCells, kQNargin, 1, 1); st != kOk) return st;
  double* s = OwnCells(ctx, at, 0);
  s[kQPhase] = 1;
  s[kQNew] = 2;
  s[kQA] = a;
  s[kQB] = b;
  s[kQX] = a;
  s[kQTPrev] = s[kQSPrev] = INFINITY;
  s[kQTol] = std::max(tol, kTolFloor);
  s[kQTrace] = trace != 0 ? 1 : 0;
  *PointCells(ctx, at) = a;
  return Ask(ctx, at);
}

}  // namespace

StatusCode QuadNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin >= 0) return QuadFirst(ctx, nargin);
  Layout at{0, 1, 5};
  double y = 0;
  if (StatusCode st = Resume(ctx, nargin, kQuadCells, kQNargin, &at, &y, false); st != kOk) return st;
  double* s = OwnCells(ctx, at, 0);
  bool done = false;
  double result = 0;
  if (StatusCode st = QuadAdvance(ctx, s, y, &done, &result); st != kOk) {
    Abandon(ctx, at);
    return st;
  }
  if (done) return DeliverScalars(ctx, at, std::min(nargout, 1), result, 0, true);
  *PointCells(ctx, at) = s[kQX];
  return Ask(ctx, at);
}
