// Conversions between state-space models and transfer functions: the kernels
// (characteristic polynomials of rank-one updates one way, the controller-form
// realisation the other) and the natives ss2tf and tf2ss.
//
// The natives check every argument and push their results before they write
// anything, so a failure for room leaves the arguments for the rerun.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "control/control.h"
#include "numeric/nativeargs.h"
#include "numeric/numeric.h"

namespace {

using numeric::Matrix;
using numeric::ReadMatrix;
using numeric::Scratch;

constexpr StatusCode kNotRowVector = 24;

// det(sI - X) for X in x (destroyed); NaN coefficients when the eigenvalues fail.
void CharPoly(double* x, int n, double* c, double* scratch) {
  if (ComputeRealCharPoly(x, n, c, scratch) < 0) std::fill_n(c, n + 1, NAN);
}

}  // namespace

int64_t SsToTfWork(int n) { return int64_t{n} * (n + 5) + 2; }

void ConvertSsToTf(const double* a, const double* b, const double* c, const double* d, int iu, int n, int nu, int ny,
                   double* work, double* num, double* den) {
  double* x = work;
  double* p = x + n * n;
  double* poly = p + n + 1;
  if (n > 0) std::memcpy(x, a, sizeof(double) * n * n);
  CharPoly(x, n, den, poly);
  if (!num) return;
  const int cols = d ? n + 1 : n;
  for (int j = 0; j < ny; ++j) {
    for (int r = 0; r < n; ++r)
      for (int k = 0; k < n; ++k) x[r * n + k] = a[r * n + k] - b[r * nu + iu] * c[j * n + k];
    CharPoly(x, n, p, poly);
    double* row = num + j * cols;
    if (d) {
      const double dj = d[j * nu + iu];
      for (int k = 0; k <= n; ++k) row[k] = p[k] - den[k] + dj * den[k];
    } else {
      // The leading coefficients cancel: both polynomials are monic.
      for (int k = 0; k < n; ++k) row[k] = p[k + 1] - den[k + 1];
    }
  }
}

void ConvertTfToSs(const double* num, int m, int rows, const double* den, int n, double* a, double* b, double* c,
                   double* d) {
  const double a0 = den[0];
  std::fill_n(a, n * n, 0.0);
  for (int j = 0; j < n; ++j) a[j] = -den[j + 1] / a0;
  for (int i = 1; i < n; ++i) a[i * n + i - 1] = 1;
  if (b) {
    std::fill_n(b, n, 0.0);
    if (n > 0) b[0] = 1;
  }
  for (int i = 0; i < rows; ++i) {
    const double* row = num + i * (m + 1);
    if (c) {
      double* ci = c + i * n;
      if (m == n) {
        for (int j = 0; j < n; ++j) ci[j] = row[j + 1] / a0 - den[j + 1] * row[0] / (a0 * a0);
      } else {
        std::fill_n(ci, n, 0.0);
        for (int k = 0; k <= m; ++k) ci[n - 1 - m + k] = row[k] / a0;
      }
    }
    if (d) d[i] = m == n ? row[0] / a0 : 0;
  }
}

// ---------------------------------------------------------------------------

namespace {

bool AllZero(const Matrix& x) {
  for (int64_t k = 0; k < x.count(); ++k)
    if (x.re[k] != 0) return false;
  return true;
}

// A zero on either side means the size is not fixed by that argument.
bool SizeDiffers(int32_t have, int32_t want) { return have != 0 && want != 0 && have != want; }

struct SsArgs {
  Matrix a, b, c, d;
  int n = 0, nu = 0, ny = 0, iu = 0;
  bool hasD = false;
};

// Reads A, B, C, D at positions base + 3 .. base.
void ReadSs(EngineContext* ctx, int base, SsArgs* s) {
  (void)ReadMatrix(ctx, base + 3, &s->a);
  (void)ReadMatrix(ctx, base + 2, &s->b);
  (void)ReadMatrix(ctx, base + 1, &s->c);
  (void)ReadMatrix(ctx, base, &s->d);
}

}  // namespace

StatusCode Ss2tfNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "RRRR[R"); st != kOk) return st;
  const int base = nargin == 5 ? 1 : 0;
  double iuArg = 0;
  bool hasIu = false;
  if (nargin == 5) {
    Matrix iu;
    (void)ReadMatrix(ctx, 0, &iu);
    if (iu.count() != 1) return kNonScalarArg;
    iuArg = std::trunc(iu.re[0]);
    hasIu = iuArg > 0;
  }
  SsArgs s;
  ReadSs(ctx, base, &s);
  if (s.a.m != s.a.n) return kIncompSize;
  s.n = s.a.m;
  s.hasD = s.d.count() > 0;
  s.nu = s.hasD ? s.d.n : s.b.n;
  s.ny = s.hasD ? s.d.m : s.c.m;
  if (SizeDiffers(s.b.m, s.n) || SizeDiffers(s.b.n, s.nu) || SizeDiffers(s.c.n, s.n) || SizeDiffers(s.c.m, s.ny))
    return kIncompSize;
  // With a state, the column and row that are read must be there.
  if (s.n > 0 && ((s.nu > 0 && s.b.count() == 0) || (s.ny > 0 && s.c.count() == 0))) return kIncompSize;
  if (!hasIu) {
    if (s.nu > 1) return kTooFewArgin;
    s.iu = 0;
  } else {
    if (iuArg - 1 >= s.nu) return kIndexOutOfRange;
    s.iu = static_cast<int>(iuArg - 1);
  }
  if (s.iu >= s.nu && nargout >= 2 && s.ny > 0) return kIndexOutOfRange;
  if (s.hasD && AllZero(s.d)) s.hasD = false;

  const int n = s.n, ny = s.ny;
  const int cols = s.hasD ? n + 1 : n;
  const bool wantNum = nargout >= 2;
  // A dry run finds the leading columns that are zero in every row: the
  // numerator's size must be known before it is pushed.
  int skip = 0;
  if (wantNum && ny > 0 && cols >= 2) {
    double* work = nullptr;
    if (StatusCode st = Scratch(ctx, int64_t{ny} * cols + n + 1 + SsToTfWork(n), &work); st != kOk) return st;
    double* num = work;
    double* den = num + int64_t{ny} * cols;
    ConvertSsToTf(s.a.re, s.b.re, s.c.re, s.hasD ? s.d.re : nullptr, s.iu, n, s.nu, ny, den + n + 1, num, den);
    while (skip < cols - 1) {
      bool zero = true;
      for (int j = 0; j < ny && zero; ++j) zero = num[j * cols + skip] == 0;
      if (!zero) break;
      ++skip;
    }
  }
  Matrix den, num;
  if (StatusCode st = numeric::PushResult(ctx, 1, n + 1, false, &den); st != kOk) return st;
  int pushed = 1;
  if (wantNum) {
    StatusCode st =
        (ny > 0 && cols > 0) ? numeric::PushResult(ctx, ny, cols - skip, false, &num) : PushEmptyMatrix(ctx);
    if (st != kOk) {
      numeric::PopValues(ctx, 1);
      return st;
    }
    pushed = 2;
  }
  double* work = nullptr;
  const int64_t numCells = wantNum ? int64_t{ny} * cols : 0;
  if (StatusCode st = Scratch(ctx, numCells + SsToTfWork(n), &work); st != kOk) {
    numeric::PopValues(ctx, pushed);
    return st;
  }
  ReadSs(ctx, base + pushed, &s);
  (void)ReadMatrix(ctx, pushed - 1, &den);
  double* full = wantNum && numCells > 0 ? work : nullptr;
  ConvertSsToTf(s.a.re, s.b.re, s.c.re, s.hasD ? s.d.re : nullptr, s.iu, n, s.nu, ny, work + numCells, full, den.re);
  if (full) {
    (void)ReadMatrix(ctx, 0, &num);
    for (int j = 0; j < ny; ++j)
      std::memcpy(num.re + int64_t{j} * (cols - skip), full + int64_t{j} * cols + skip, sizeof(double) * (cols - skip));
  }
  return DropArgsUnderResults(ctx, pushed, nargin);
}

StatusCode Tf2ssNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "RR"); st != kOk) return st;
  Matrix num, den;
  (void)ReadMatrix(ctx, 1, &num);
  (void)ReadMatrix(ctx, 0, &den);
  if (den.m != 1) return kNotRowVector;
  const int outs = std::max(nargout, 1);
  if (num.m == 0) {
    for (int k = 0; k < outs; ++k)
      if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) {
        numeric::PopValues(ctx, k);
        return st;
      }
    return DropArgsUnderResults(ctx, outs, nargin);
  }
  const int n = den.n - 1, m = num.n - 1, rows = num.m;
  if (m > n) return kIncompSize;
  // D, C, B, A: the first output ends on top.
  const int32_t shapes[4][2] = {{rows, 1}, {rows, n}, {n, 1}, {n, n}};
  Matrix out[4];
  if (StatusCode st = numeric::PushRealResults(ctx, shapes + 4 - outs, outs, out + 4 - outs); st != kOk) return st;
  for (int k = 4 - outs; k < 4; ++k) (void)ReadMatrix(ctx, 3 - k, &out[k]);
  (void)ReadMatrix(ctx, outs + 1, &num);
  (void)ReadMatrix(ctx, outs, &den);
  auto cells = [&](int k) { return k >= 4 - outs && out[k].count() > 0 ? out[k].re : nullptr; };
  double* a = out[3].count() > 0 ? out[3].re : nullptr;
  if (n > 0) ConvertTfToSs(num.re, m, rows, den.re, n, a, cells(2), cells(1), nullptr);
  if (double* d = cells(0))
    for (int i = 0; i < rows; ++i) d[i] = m == n ? num.re[i * (m + 1)] / den.re[0] : 0;
  return DropArgsUnderResults(ctx, outs, nargin);
}
