// The matrix-function natives: expm through the Pade kernels, and sqrtm and
// logm through the complex Schur form, whose diagonal gets the scalar function
// before the triangular recurrence completes f(T) and transforms it back.
//
// U, F and the scratch are reserved before the Schur kernel overwrites A, so a
// failure for room leaves the argument's value as it was for the rerun.
#include <algorithm>
#include <cmath>

#include "numeric/complexops.h"
#include "numeric/nativeargs.h"
#include "numeric/numeric.h"

namespace {

using numeric::Cx;
using numeric::Matrix;
using numeric::PushResult;
using numeric::ReadMatrix;
using numeric::Scratch;

constexpr StatusCode kNoConvergence = 9;
constexpr StatusCode kNonSquareMatrix = 26;

// The principal logarithm; the scaled modulus keeps |z| beyond 1e154 finite.
Cx PrincipalLog(Cx z) { return Cx(std::log(numeric::Modulus(z)), std::atan2(z.imag(), z.real())); }

}  // namespace

StatusCode ExpmNative(EngineContext* ctx, int, int, void*) {
  Matrix a, x;
  if (ReadMatrix(ctx, 0, &a) != kOk) return kWrongType;
  if (a.count() == 0) return kOk;
  if (a.m != a.n) return kNonSquareMatrix;
  const int64_t n = a.n;
  const bool complex = a.im != nullptr;
  if (StatusCode st = PushResult(ctx, a.n, a.n, complex, &x); st != kOk) return st;
  double* work = nullptr;
  if (StatusCode st = Scratch(ctx, complex ? n * (4 * n + 2) : n * (2 * n + 1), &work); st != kOk) {
    numeric::PopValues(ctx, 1);
    return st;
  }
  // The kernels find a complex matrix's imaginary block right after its real one.
  (void)ReadMatrix(ctx, 1, &a);
  if (complex)
    ComputeComplexMatrixExponential(a.re, a.n, x.re, work);
  else
    ComputeRealMatrixExponential(a.re, a.n, x.re, work);
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode MatrixFunctionNative(EngineContext* ctx, int nargin, int nargout, void* selector) {
  const auto which = static_cast<char>(reinterpret_cast<intptr_t>(selector));
  const MatrixFunctionKind kind = which == 's' ? kMatrixFunctionSquareRoot : kMatrixFunctionLogarithm;
  for (int i = 0; i < nargin; ++i)
    if (IsObjectArg(ctx, i)) return kWrongType;
  Matrix a;
  if (ReadMatrix(ctx, 0, &a) != kOk) return kWrongType;
  if (a.m != a.n) return kNonSquareMatrix;
  const int n = a.n;
  if (n == 0) {
    if (nargout < 2) return kOk;
    if (StatusCode st = PushRealScalar(ctx, 0); st != kOk) return st;
    return RotateValues(ctx, 2, 1);
  }

  // A zero imaginary block leaves A's value as it was.
  if (StatusCode st = MakeTopComplex(ctx, nullptr); st != kOk) return st;
  Matrix u, f;
  if (StatusCode st = PushResult(ctx, n, n, true, &u); st != kOk) return st;
  if (StatusCode st = PushResult(ctx, n, n, true, &f); st != kOk) {
    numeric::PopValues(ctx, 1);
    return st;
  }
  double* scratch = nullptr;
  if (StatusCode st = Scratch(ctx, 2 * int64_t{n}, &scratch); st != kOk) {
    numeric::PopValues(ctx, 2);
    return st;
  }
  (void)ReadMatrix(ctx, 1, &u);
  (void)ReadMatrix(ctx, 2, &a);
  if (!ComputeComplexSchurForm(a.re, a.im, n, u.re, u.im, scratch)) return kNoConvergence;

  std::fill_n(f.re, 2 * f.count(), 0.0);
  for (int j = 0; j < n; ++j) {
    const int64_t k = int64_t{j} * n + j;
    const Cx z(a.re[k], a.im[k]);
    numeric::Put(f.re, f.im, static_cast<int>(k), which == 's' ? numeric::PrincipalSqrt(z) : PrincipalLog(z));
  }
  uint8_t imaginary = 0;
  double est = 0;
  (void)ComputeTriangularMatrixFunction(a.re, a.im, u.re, u.im, n, f.re, f.im, kind, &imaginary,
                                        nargout >= 2 ? &est : nullptr);
  if (imaginary == 0) (void)DropImaginaryPart(ctx);
  if (StatusCode st = DropArgsUnderResults(ctx, 1, 2); st != kOk) return st;
  if (nargout < 2) return kOk;
  // Dropping U and A freed far more than a scalar needs.
  if (StatusCode st = PushRealScalar(ctx, est); st != kOk) return st;
  return RotateValues(ctx, 2, 1);
}
