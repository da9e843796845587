// movezero: one real root, or a conjugate pair, of a real polynomial moved to
// a new place by dividing its factor out and multiplying the new one in. The
// division's remainder is dropped, so the degree never changes and a "from"
// that is not quite a root still gives a close result.
#include <algorithm>
#include <cmath>

#include "control/control.h"
#include "numeric/nativeargs.h"
#include "numeric/numeric.h"

namespace {

using numeric::Matrix;
using numeric::ReadMatrix;

constexpr StatusCode kNonVector = 22;

// p (n + 1 coefficients) divided by x - r, then multiplied by x - t.
void MoveReal(double* p, int n, double r, double t) {
  for (int i = 1; i < n; ++i) p[i] += r * p[i - 1];
  p[n] = 0;
  for (int i = n; i >= 1; --i) p[i] -= t * p[i - 1];
}

// p divided by x^2 + d1 x + d0, then multiplied by x^2 + m1 x + m0.
void MoveQuadratic(double* p, int n, double d1, double d0, double m1, double m0) {
  for (int i = 0; i + 2 <= n; ++i) {
    p[i + 1] -= d1 * p[i];
    p[i + 2] -= d0 * p[i];
  }
  p[n - 1] = p[n] = 0;
  for (int i = n; i >= 1; --i) p[i] += m1 * p[i - 1] + (i >= 2 ? m0 * p[i - 2] : 0);
}

// The real root nearest to x among re/im (exactly real ones), skipping index skip; -1 when none.
int NearestRealRoot(const double* re, const double* im, int n, double x, int skip) {
  int best = -1;
  double distance = 1e19;
  for (int k = 0; k < n; ++k)
    if (k != skip && im[k] == 0 && std::fabs(re[k] - x) < distance) {
      distance = std::fabs(re[k] - x);
      best = k;
    }
  return best;
}

}  // namespace

StatusCode MovezeroNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "CCC"); st != kOk) return st;
  Matrix p, from, to;
  (void)ReadMatrix(ctx, 2, &p);
  (void)ReadMatrix(ctx, 1, &from);
  (void)ReadMatrix(ctx, 0, &to);
  if (from.count() != 1 || to.count() != 1) return kBadArg;
  if (p.m > 1 && p.n > 1) return kNonVector;
  const int64_t count = p.count();
  if (p.im && count > 0) {
    double sumIm = 0, sumRe = 0;
    for (int64_t k = 0; k < count; ++k) {
      sumIm += std::fabs(p.im[k]);
      sumRe += std::fabs(p.re[k]);
    }
    if (!(sumIm / sumRe <= 1e-6 || sumIm <= 0.001 * static_cast<double>(count))) return kWrongTypeInternal;
  }
  const double fr = from.re[0], fi = from.im ? from.im[0] : 0;
  const double tr = to.re[0], ti = to.im ? to.im[0] : 0;
  const int n = static_cast<int>(count) - 1;  // degree

  // Which factor goes and which comes: a quadratic (d1, d0) -> (m1, m0), or a linear one.
  bool pair = fi != 0;
  double d1 = 0, d0 = 0, m1 = 0, m0 = 0;
  double rr = tr, ri = 0;  // the place the root receives
  if (count > 0 && !pair && ti > 0 && n >= 2) {
    double* re = nullptr;
    if (StatusCode st = numeric::Scratch(ctx, 3 * int64_t{n} + 1, &re); st != kOk) return st;
    double* im = re + n;
    double* copy = im + n;
    std::copy(p.re, p.re + count, copy);
    FindRealPolyRootsByLaguerre(copy, n, re, im);
    const int first = NearestRealRoot(re, im, n, fr, -1);
    const int second = first < 0 ? -1 : NearestRealRoot(re, im, n, fr, first);
    if (second >= 0) {
      pair = true;
      d1 = -(fr + re[second]);
      d0 = fr * re[second];
      m1 = -2 * tr;
      m0 = tr * tr + ti * ti;
      ri = ti;
    }
  } else if (pair) {
    d1 = -2 * fr;
    d0 = fr * fr + fi * fi;
    if (fi * ti >= 0) {
      m1 = -2 * tr;
      m0 = tr * tr + ti * ti;
      ri = ti;
    } else {
      // The pair lands on the real axis: at fr and at tr.
      m1 = -(fr + tr);
      m0 = fr * tr;
    }
  }
  if (count > 0 && n < (pair ? 2 : 1)) return kBadArg;

  Matrix out;
  int pushed = 0;
  if (nargout >= 2) {
    const StatusCode st = ri != 0 ? PushComplexScalar(ctx, rr, ri) : PushRealScalar(ctx, rr);
    if (st != kOk) return st;
    pushed = 1;
  }
  StatusCode st = count > 0 ? numeric::PushResult(ctx, p.m, p.n, false, &out) : PushEmptyMatrix(ctx);
  if (st != kOk) {
    numeric::PopValues(ctx, pushed);
    return st;
  }
  ++pushed;
  if (count > 0) {
    (void)ReadMatrix(ctx, 0, &out);
    (void)ReadMatrix(ctx, pushed + 2, &p);
    std::copy(p.re, p.re + count, out.re);
    if (pair)
      MoveQuadratic(out.re, n, d1, d0, m1, m0);
    else
      MoveReal(out.re, n, fr, tr);
  }
  return DropArgsUnderResults(ctx, pushed, nargin);
}
