// The eigenvalue native: Jacobi for real symmetric matrices, the Hessenberg
// QR for other real ones and the complex Schur form for complex ones. There
// is no eigenvector kernel: each eigenvector comes from the null space of
// A - lambda*I through the svd native.
//
// With two outputs every kernel works on a copy, so A stays intact until the
// end and a failure for room can drop everything above it for the rerun.
#include <algorithm>
#include <cmath>

#include "corelib/corelib.h"
#include "numeric/nativeargs.h"
#include "numeric/numeric.h"

namespace {

using numeric::Matrix;
using numeric::PopValues;
using numeric::PushResult;
using numeric::ReadMatrix;
using numeric::Scratch;

constexpr StatusCode kNoConvergence = 9;
constexpr StatusCode kNonSquareMatrix = 26;

bool IsSymmetric(const Matrix& a) {
  for (int i = 0; i < a.n; ++i)
    for (int j = i + 1; j < a.n; ++j) {
      const double x = a.re[int64_t{i} * a.n + j], y = a.re[int64_t{j} * a.n + i];
      if (x < y || x > y) return false;  // a pair with a NaN counts as equal
    }
  return true;
}

// The n x n matrix whose first n cells hold the values becomes diag(values);
// the last row first, so no value is overwritten before it is placed.
void ExpandDiagonal(double* d, int n) {
  if (d == nullptr) return;
  for (int i = n - 1; i >= 0; --i) {
    const double x = d[i];
    std::fill_n(d + int64_t{i} * n, n, 0.0);
    d[int64_t{i} * n + i] = x;
  }
}

double OneNorm(const Matrix& a) {
  double best = 0;
  for (int j = 0; j < a.n; ++j) {
    double s = 0;
    for (int i = 0; i < a.n; ++i) {
      const int64_t e = int64_t{i} * a.n + j;
      s += a.im ? std::hypot(a.re[e], a.im[e]) : std::fabs(a.re[e]);
    }
    best = std::max(best, s);
  }
  return best;
}

bool IsRoomFailure(StatusCode st) {
  return st == kDataStackFull || st == kDataStackFullToo || st == kDescStackFull || st == kDescStackFullToo;
}

// The right singular vectors of A - lambda*I for a group of p eigenvalues,
// into columns k .. k+p-1 of V. Stack: A, the holder, V.
[[nodiscard]] StatusCode NullVectors(EngineContext* ctx, int k, int p) {
  Matrix a, h, w;
  (void)ReadMatrix(ctx, 2, &a);
  (void)ReadMatrix(ctx, 1, &h);
  const int n = a.n;
  const double lre = h.re[k], lim = h.im ? h.im[k] : 0.0;
  const bool complex = a.im != nullptr || lim != 0;
  if (StatusCode st = PushResult(ctx, n, n, complex, &w); st != kOk) return st;
  (void)ReadMatrix(ctx, 3, &a);
  std::copy_n(a.re, a.count(), w.re);
  if (complex) {
    if (a.im)
      std::copy_n(a.im, a.count(), w.im);
    else
      std::fill_n(w.im, w.count(), 0.0);
  }
  for (int i = 0; i < n; ++i) {
    w.re[int64_t{i} * n + i] -= lre;
    if (complex) w.im[int64_t{i} * n + i] -= lim;
  }
  if (StatusCode st = SvdNative(ctx, 1, 3, nullptr); st != kOk) {
    // A failure for room leaves W; an error of the decomposition ends the call.
    if (IsRoomFailure(st)) PopValues(ctx, 1);
    return st;
  }
  Matrix s, vs, v;
  (void)ReadMatrix(ctx, 1, &s);
  (void)ReadMatrix(ctx, 2, &vs);
  (void)ReadMatrix(ctx, 3, &v);
  // null's rule for a zero singular value; at least the last vector counts,
  // and a defective group repeats it, so that A*V = V*D still holds.
  const double tol = n * s.re[0] * 1e-12;
  int zero = 0;
  while (zero < n && s.re[int64_t{n - 1 - zero} * n + (n - 1 - zero)] <= tol) ++zero;
  const int c = std::clamp(zero, 1, p);
  for (int q = 0; q < p; ++q) {
    const int from = q < c ? n - c + q : n - 1;
    for (int i = 0; i < n; ++i) {
      const int64_t src = int64_t{i} * n + from, dst = int64_t{i} * n + k + q;
      v.re[dst] = vs.re[src];
      if (v.im) v.im[dst] = vs.im ? vs.im[src] : 0.0;
    }
  }
  PopValues(ctx, 3);
  return kOk;
}

// With A and the holder (n x n, the eigenvalues in its first n cells) on the
// stack: sorts them, finds V and leaves [V, D] in place of A.
[[nodiscard]] StatusCode Eigenvectors(EngineContext* ctx) {
  Matrix a, h, v;
  (void)ReadMatrix(ctx, 1, &a);
  (void)ReadMatrix(ctx, 0, &h);
  const int n = a.n;
  if (h.im)
    ShellSortComplexByMagnitude(h.re, h.im, n, 1, false);
  else
    ShellSortDoubles(h.re, n, 1, false);
  if (StatusCode st = PushResult(ctx, n, n, a.im != nullptr || h.im != nullptr, &v); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  // Grouping is relative to the matrix: a fixed floor would merge the
  // distinct eigenvalues of a tiny-scale matrix.
  (void)ReadMatrix(ctx, 2, &a);
  const double norm = OneNorm(a);
  for (int k = 0; k < n;) {
    (void)ReadMatrix(ctx, 1, &h);
    const double re = h.re[k], im = h.im ? h.im[k] : 0.0;
    const double tol = (std::fabs(re) + std::fabs(im) + norm) * n * 0x1p-52;
    int p = 1;
    while (k + p < n && std::fabs(h.re[k + p] - re) + std::fabs(h.im ? h.im[k + p] - im : 0.0) < tol) ++p;
    if (StatusCode st = NullVectors(ctx, k, p); st != kOk) {
      // A is untouched: dropping V and the holder restores the arguments.
      PopValues(ctx, 2);
      return st;
    }
    k += p;
  }
  (void)ReadMatrix(ctx, 1, &h);
  ExpandDiagonal(h.re, n);
  ExpandDiagonal(h.im, n);
  return DropArgsUnderResults(ctx, 2, 1);
}

[[nodiscard]] StatusCode ComplexEig(EngineContext* ctx, int nargout) {
  Matrix a, e;
  (void)ReadMatrix(ctx, 0, &a);
  const int n = a.n;
  if (nargout < 2) {
    if (StatusCode st = PushResult(ctx, n, 1, true, &e); st != kOk) return st;
  } else {
    if (StatusCode st = DuplicateValues(ctx, 0, 1); st != kOk) return st;
    (void)ReadMatrix(ctx, 0, &e);
  }
  double* scratch = nullptr;
  if (StatusCode st = Scratch(ctx, 2 * int64_t{n}, &scratch); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  Matrix t;
  (void)ReadMatrix(ctx, nargout < 2 ? 1 : 0, &t);
  if (!ComputeComplexSchurForm(t.re, t.im, n, nullptr, nullptr, scratch)) return kNoConvergence;
  // The copy's diagonal moves forward within the same arrays: cell i*n + i
  // is never below cell i.
  for (int i = 0; i < n; ++i) {
    e.re[i] = t.re[int64_t{i} * n + i];
    e.im[i] = t.im[int64_t{i} * n + i];
  }
  if (nargout < 2) return DropArgsUnderResults(ctx, 1, 1);
  return Eigenvectors(ctx);
}

[[nodiscard]] StatusCode SymmetricEig(EngineContext* ctx, int nargout) {
  Matrix a, d, v;
  (void)ReadMatrix(ctx, 0, &a);
  const int n = a.n;
  const int outs = nargout < 2 ? 1 : 2;
  if (StatusCode st = PushResult(ctx, n, outs == 1 ? 1 : n, false, &d); st != kOk) return st;
  if (outs == 2) {
    if (StatusCode st = PushResult(ctx, n, n, false, &v); st != kOk) {
      PopValues(ctx, 1);
      return st;
    }
    (void)ReadMatrix(ctx, 1, &d);
  }
  double* scratch = nullptr;
  if (StatusCode st = Scratch(ctx, 2 * int64_t{n}, &scratch); st != kOk) {
    PopValues(ctx, outs);
    return st;
  }
  (void)ReadMatrix(ctx, outs, &a);
  JacobiSymmetricEigenvalues(a.re, n, d.re, outs == 2 ? v.re : nullptr, scratch);
  if (outs == 2) ExpandDiagonal(d.re, n);
  return DropArgsUnderResults(ctx, outs, 1);
}

[[nodiscard]] StatusCode GeneralEig(EngineContext* ctx, int nargout) {
  Matrix a, e;
  (void)ReadMatrix(ctx, 0, &a);
  const int n = a.n;
  const int copies = nargout < 2 ? 0 : 1;
  if (copies == 1) {
    if (StatusCode st = DuplicateValues(ctx, 0, 1); st != kOk) return st;
  }
  if (StatusCode st = PushResult(ctx, n, copies == 1 ? n : 1, true, &e); st != kOk) {
    PopValues(ctx, copies);
    return st;
  }
  double* scratch = nullptr;
  if (StatusCode st = Scratch(ctx, n, &scratch); st != kOk) {
    PopValues(ctx, 1 + copies);
    return st;
  }
  (void)ReadMatrix(ctx, 1, &a);
  if (!ComputeRealEigenvalues(a.re, n, reinterpret_cast<int32_t*>(scratch), e.re, e.im)) {
    PopValues(ctx, 1 + copies);
    return kNoConvergence;
  }
  (void)DropArgsUnderResults(ctx, 1, 1);
  (void)ReadMatrix(ctx, 0, &e);
  bool real = true;
  for (int i = 0; i < n; ++i)
    if (!(e.im[i] == 0)) real = false;  // NaN counts as non-zero
  if (real) (void)DropImaginaryPart(ctx);
  return copies == 1 ? Eigenvectors(ctx) : kOk;
}

}  // namespace

StatusCode EigNative(EngineContext* ctx, int, int nargout, void*) {
  Matrix a;
  if (ReadMatrix(ctx, 0, &a) != kOk) return kWrongType;
  if (a.m != a.n) return kNonSquareMatrix;
  if (a.n == 0) {
    if (nargout < 2) return kOk;
    Matrix v;
    return PushResult(ctx, 0, 0, false, &v);
  }
  if (a.im) return ComplexEig(ctx, nargout);
  if (IsSymmetric(a)) return SymmetricEig(ctx, nargout);
  return GeneralEig(ctx, nargout);
}
