// The polynomial natives: polyval, polyder, polyint, roots and poly. A
// polynomial is a vector of coefficients, highest power first, in either
// orientation; results are rows.
//
// Every native reserves its result and scratch before it writes: a failure for
// room leaves the stack as it was, and the engine reruns the native.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "numeric/complexops.h"
#include "numeric/nativeargs.h"
#include "numeric/numeric.h"

namespace {

using numeric::At;
using numeric::Cx;
using numeric::Matrix;
using numeric::PopValues;
using numeric::PushResult;
using numeric::Put;
using numeric::ReadMatrix;
using numeric::Scratch;

constexpr StatusCode kNoConvergence = 9;
constexpr StatusCode kNonVector = 22;

bool IsVector(const Matrix& a) { return a.m <= 1 || a.n <= 1; }

// c := c + a * b for coefficient vectors; c has a.count() + b.count() - 1
// entries and an imaginary part whenever a or b has one.
void Accumulate(const double* ar, const double* ai, int64_t na, const double* br, const double* bi, int64_t nb,
                double* cr, double* ci) {
  for (int64_t i = 0; i < na; ++i)
    for (int64_t j = 0; j < nb; ++j) {
      if (!ci) {
        cr[i + j] += ar[i] * br[j];
        continue;
      }
      const Cx z = At(ar, ai, i) * At(br, bi, j);
      cr[i + j] += z.real();
      ci[i + j] += z.imag();
    }
}

// p' of n coefficients into n - 1 places, scaled by sign.
void Derive(const double* pr, const double* pi, int64_t n, double sign, double* dr, double* di) {
  for (int64_t k = 0; k + 1 < n; ++k) {
    const double f = sign * static_cast<double>(n - 1 - k);
    dr[k] = f * pr[k];
    if (di) di[k] = pi ? f * pi[k] : 0.0;
  }
}

void Zero(const Matrix& r) {
  std::fill_n(r.re, r.count(), 0.0);
  if (r.im) std::fill_n(r.im, r.count(), 0.0);
}

// A row result of n coefficients; n <= 0 gives [].
StatusCode PushRow(EngineContext* ctx, int64_t n, bool complex, Matrix* r) {
  if (n <= 0) {
    *r = Matrix{};
    return PushEmptyMatrix(ctx);
  }
  if (StatusCode st = PushResult(ctx, 1, static_cast<int32_t>(n), complex, r); st != kOk) return st;
  Zero(*r);
  return kOk;
}

}  // namespace

// ---------------------------------------------------------------------------

StatusCode PolyvalNative(EngineContext* ctx, int, int, void*) {
  Matrix p;
  if (StatusCode st = ReadMatrix(ctx, 1, &p); st != kOk) return ReportedStatus(st);
  int64_t terms = 0;
  if (p.count() > 0) {
    if (p.m == 1)
      terms = p.n;
    else if (p.n == 1)
      terms = p.m;
    else
      return kNonVector;
  }
  int ndims = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  double *xr = nullptr, *xi = nullptr;
  if (StatusCode st = GetDoubleArrayArg(ctx, 0, &ndims, dims, &count, &xr, &xi); st != kOk) return ReportedStatus(st);
  if (p.im && !xi) {
    void* im = nullptr;
    if (StatusCode st = MakeTopComplex(ctx, &im); st != kOk) return ReportedStatus(st);
    (void)GetDoubleArrayArg(ctx, 0, &ndims, dims, &count, &xr, &xi);
    (void)ReadMatrix(ctx, 1, &p);
  }
  for (int64_t e = 0; e < count; ++e) {
    if (!xi) {
      double y = 0;
      for (int64_t k = 0; k < terms; ++k) y = y * xr[e] + p.re[k];
      xr[e] = y;
      continue;
    }
    const Cx x(xr[e], xi[e]);
    Cx y(0, 0);
    for (int64_t k = 0; k < terms; ++k) y = y * x + Cx(p.re[k], p.im ? p.im[k] : 0.0);
    xr[e] = y.real();
    xi[e] = y.imag();
  }
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode PolyderNative(EngineContext* ctx, int nargin, int nargout, void*) {
  // The quotient form needs a denominator.
  if (nargin == 1 && nargout > 1) return kTooManyArgout;
  if (StatusCode st = CheckArgTypes(ctx, nargin, "C[C"); st != kOk) return st;
  for (int k = 0; k < nargin; ++k) {
    Matrix v;
    (void)ReadMatrix(ctx, k, &v);
    if (!IsVector(v)) return kNonVector;
  }
  Matrix a, b, r;
  if (nargin == 1) {
    (void)ReadMatrix(ctx, 0, &a);
    if (StatusCode st = PushRow(ctx, a.count() - 1, a.im != nullptr, &r); st != kOk) return st;
    (void)ReadMatrix(ctx, 1, &a);
    if (r.re) Derive(a.re, a.im, a.count(), 1, r.re, r.im);
    return DropArgsUnderResults(ctx, 1, 1);
  }
  (void)ReadMatrix(ctx, 1, &a);
  (void)ReadMatrix(ctx, 0, &b);
  const bool complex = a.im || b.im;
  const int64_t na = a.count(), nb = b.count();
  if (nargout <= 1) {
    // (a b)' from the product's coefficients.
    Matrix c;
    if (StatusCode st = PushRow(ctx, na > 0 && nb > 0 ? na + nb - 1 : 0, complex, &c); st != kOk) return st;
    if (StatusCode st = PushRow(ctx, c.count() - 1, complex, &r); st != kOk) {
      PopValues(ctx, 1);
      return st;
    }
    (void)ReadMatrix(ctx, 1, &c);
    (void)ReadMatrix(ctx, 3, &a);
    (void)ReadMatrix(ctx, 2, &b);
    if (c.re) {
      Accumulate(a.re, a.im, na, b.re, b.im, nb, c.re, c.im);
      if (r.re) Derive(c.re, c.im, c.count(), 1, r.re, r.im);
    }
    return DropArgsUnderResults(ctx, 1, 3);
  }
  // (a/b)' = (a' b - a b') / b^2; the numerator keeps its leading zeros.
  Matrix d, q;
  if (StatusCode st = PushRow(ctx, nb > 0 ? 2 * nb - 1 : 0, complex, &d); st != kOk) return st;
  const int64_t nq = std::max<int64_t>(na - 1, 0) + std::max<int64_t>(nb - 1, 0);
  if (StatusCode st = PushRow(ctx, nq, complex, &q); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  // a' and -b' go to scratch, so the arguments stay as they were.
  double* work = nullptr;
  const int64_t parts = complex ? 2 : 1;
  if (StatusCode st = Scratch(ctx, parts * (na + nb) + 2, &work); st != kOk) {
    PopValues(ctx, 2);
    return st;
  }
  (void)ReadMatrix(ctx, 1, &d);
  (void)ReadMatrix(ctx, 3, &a);
  (void)ReadMatrix(ctx, 2, &b);
  if (d.re) Accumulate(b.re, b.im, nb, b.re, b.im, nb, d.re, d.im);
  if (q.re) {
    double* dar = work;
    double* dai = complex ? dar + na : nullptr;
    double* dbr = work + parts * na + 1;
    double* dbi = complex ? dbr + nb : nullptr;
    Derive(a.re, a.im, na, 1, dar, dai);
    Derive(b.re, b.im, nb, -1, dbr, dbi);
    if (na > 1) Accumulate(dar, dai, na - 1, b.re, b.im, nb, q.re, q.im);
    if (nb > 1) Accumulate(a.re, a.im, na, dbr, dbi, nb - 1, q.re, q.im);
  }
  return DropArgsUnderResults(ctx, 2, 2);
}

StatusCode PolyintNative(EngineContext* ctx, int nargin, int, void*) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "C[c"); st != kOk) return st;
  Matrix p;
  (void)ReadMatrix(ctx, nargin - 1, &p);
  if (!IsVector(p)) return kNonVector;
  double kr = 0, ki = 0;
  if (nargin == 2) {
    Matrix k;
    (void)ReadMatrix(ctx, 0, &k);
    kr = k.re[0];
    ki = k.im ? k.im[0] : 0.0;
  }
  const int64_t n = p.count();
  const bool complex = p.im || ki != 0;
  // The result takes the popped polynomial's cells: check the room it needs
  // beyond them first, so a failure pops nothing.
  const int64_t oldCells = (p.im ? 2 : 1) * n, newCells = (complex ? 2 : 1) * (n + 1);
  int64_t freeBytes = 0;
  (void)GetFreeDataSpace(ctx, &freeBytes, nullptr);
  if (n > 0 && newCells - oldCells + 1 > freeBytes / int64_t{sizeof(Cell)}) return kDataStackFull;
  if (nargin == 2) (void)PopComplexScalar(ctx, nullptr, nullptr);
  int32_t m = 0, cols = 0;
  double *pr = nullptr, *pi = nullptr;
  (void)PopDoubleMatrix(ctx, &m, &cols, &pr, &pi);
  if (n == 0) return PushEmptyMatrix(ctx);
  double *qr = nullptr, *qi = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, 1, static_cast<int32_t>(n + 1), &qr, complex ? &qi : nullptr); st != kOk)
    return st;
  // Both rows start where p's did; from the top down every input cell is read
  // before the result overwrites it (q's imaginary part lies one cell above
  // p's, and q(n+1) on p's first imaginary cell).
  if (qi) {
    qi[n] = ki;
    for (int64_t k = n - 1; k >= 0; --k) qi[k] = pi ? pi[k] / static_cast<double>(n - k) : 0.0;
  }
  qr[n] = kr;
  for (int64_t k = n - 1; k >= 0; --k) qr[k] = pr[k] / static_cast<double>(n - k);
  return kOk;
}

StatusCode RootsNative(EngineContext* ctx, int nargin, int, void*) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "C[r"); st != kOk) return st;
  int32_t dim = 0;
  if (nargin == 2) {
    if (StatusCode st = GetIntegerScalarArg(ctx, 0, &dim); st != kOk) return ReportedStatus(st);
    if (dim != 1 && dim != 2) return kBadArg;
  }
  const int a0 = nargin - 1;
  Matrix a;
  (void)ReadMatrix(ctx, a0, &a);
  // Polynomial i, coefficient j sits at i*along + j*across.
  int64_t polys = a.n, coefs = a.m, along = 1, across = a.n;
  if (dim == 2 || (dim == 0 && a.m == 1)) {
    polys = a.m;
    coefs = a.n;
    along = a.n;
    across = 1;
  }
  if (coefs <= 1 || polys < 1) {
    if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, nargin);
  }
  const int64_t n = coefs - 1;
  const bool complex = a.im != nullptr;
  Matrix r;
  if (StatusCode st = PushResult(ctx, static_cast<int32_t>(n), static_cast<int32_t>(polys), true, &r); st != kOk)
    return st;
  double* work = nullptr;
  if (StatusCode st = Scratch(ctx, 2 * coefs + 2 * n + 2 * n * n + 2 * n, &work); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  (void)ReadMatrix(ctx, a0 + 1, &a);
  double* pr = work;
  double* pi = pr + coefs;
  double* re = pi + coefs;
  double* im = re + n;
  double* kernel = im + n;
  bool anyComplex = false;
  for (int64_t i = 0; i < polys; ++i) {
    for (int64_t j = 0; j < coefs; ++j) {
      pr[j] = a.re[i * along + j * across];
      pi[j] = complex ? a.im[i * along + j * across] : 0.0;
    }
    if (complex)
      FindComplexPolyRoots(pr, pi, static_cast<int>(n), re, im, kernel);
    else if (FindRealPolyRoots(pr, static_cast<int>(n), re, im, kernel))
      anyComplex = true;
    for (int64_t k = 0; k < n; ++k) {
      r.re[k * polys + i] = re[k];
      r.im[k * polys + i] = im[k];
    }
  }
  if (!complex && !anyComplex) (void)DropImaginaryPart(ctx);
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode PolyNative(EngineContext* ctx, int, int, void*) {
  Matrix a;
  if (StatusCode st = ReadMatrix(ctx, 0, &a); st != kOk) return ReportedStatus(st);
  if (a.count() == 0) {
    if (StatusCode st = PushRealScalar(ctx, 1); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, 1);
  }
  const bool complex = a.im != nullptr;
  Matrix c;
  if (a.m == a.n && a.n >= 2) {
    // Characteristic polynomial; the kernels destroy their matrix, so they
    // work on a copy.
    const int n = a.n;
    const int64_t cells = (complex ? 2 : 1) * a.count();
    if (StatusCode st = PushResult(ctx, 1, n + 1, complex, &c); st != kOk) return st;
    double* work = nullptr;
    if (StatusCode st = Scratch(ctx, cells + (complex ? (n + 1) / 2 : 4 * n + 1), &work); st != kOk) {
      PopValues(ctx, 1);
      return st;
    }
    (void)ReadMatrix(ctx, 1, &a);
    std::copy_n(a.re, cells, work);
    if (complex) {
      ComputeComplexCharPoly(work, work + a.count(), n, c.re, c.im, reinterpret_cast<int32_t*>(work + cells));
    } else if (ComputeRealCharPoly(work, n, c.re, work + cells) < 0) {
      PopValues(ctx, 1);
      return kNoConvergence;
    }
    return DropArgsUnderResults(ctx, 1, 1);
  }
  if (!IsVector(a)) return kNonVector;
  const int n = static_cast<int>(a.count());
  if (StatusCode st = PushResult(ctx, 1, n + 1, complex, &c); st != kOk) return st;
  (void)ReadMatrix(ctx, 1, &a);
  if (!complex) {
    BuildPolyFromRealRoots(a.re, n, c.re);
  } else if (BuildPolyFromComplexRoots(a.re, a.im, n, c.re, c.im)) {
    (void)DropImaginaryPart(ctx);
  }
  return DropArgsUnderResults(ctx, 1, 1);
}
