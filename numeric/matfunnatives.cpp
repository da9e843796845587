// The matrix-function natives: expm through the Pade kernels, and sqrtm,
// logm and funm through the complex Schur form, whose diagonal gets the scalar
// function before the triangular recurrence completes f(T) and transforms it
// back. funm has the machine call the language's f once per diagonal entry.
//
// U, F and the scratch are reserved before the Schur kernel overwrites A, so a
// failure for room leaves the argument's value as it was for the rerun.
#include <algorithm>
#include <cmath>

#include "numeric/complexops.h"
#include "numeric/nativeargs.h"
#include "numeric/numeric.h"
#include "numeric/reentry.h"

namespace {

using numeric::Cx;
using numeric::Matrix;
using numeric::PushResult;
using numeric::ReadMatrix;
using numeric::Scratch;

constexpr StatusCode kNoConvergence = 9;
constexpr StatusCode kNonSquareMatrix = 26;
constexpr StatusCode kNonVector = 22;

// The principal logarithm; the scaled modulus keeps |z| beyond 1e154 finite.
Cx PrincipalLog(Cx z) { return Cx(std::log(numeric::Modulus(z)), std::atan2(z.imag(), z.real())); }

// funm's values between the calls, from the bottom: T (in A's place), f, U,
// F and the row holding k, the 1-based diagonal entry whose value f computes.
constexpr int kFunmHeld = 5;
constexpr int kFunmStateCells = 1;

[[nodiscard]] StatusCode FunmNative(EngineContext* ctx, int nargin, int nargout);

// With the argument T[k-1][k-1] on top of the held values: k goes into the
// row and the machine is asked for f of the argument.
[[nodiscard]] StatusCode CallForEntry(EngineContext* ctx, int k) {
  Matrix row;
  (void)ReadMatrix(ctx, 1, &row);
  row.re[0] = k;
  return numeric::StartReentrantCall(ctx, 4, 1, 1, kFunmHeld);
}

// The argument for entry k, pushed real when its imaginary part is 0.
[[nodiscard]] StatusCode PushEntry(EngineContext* ctx, int k, int depth) {
  Matrix t;
  (void)ReadMatrix(ctx, depth, &t);
  const int64_t at = int64_t{k - 1} * t.n + (k - 1);
  const double re = t.re[at], im = t.im[at];
  return im == 0 ? PushRealScalar(ctx, re) : PushComplexScalar(ctx, re, im);
}

[[nodiscard]] StatusCode FinishFunm(EngineContext* ctx, int nargout) {
  Matrix t, u, f;
  (void)ReadMatrix(ctx, 0, &f);
  (void)ReadMatrix(ctx, 1, &u);
  (void)ReadMatrix(ctx, 3, &t);
  const int n = f.n;
  uint8_t imaginary = 0;
  double est = 0;
  if (!ComputeTriangularMatrixFunction(t.re, t.im, u.re, u.im, n, f.re, f.im, kMatrixFunctionGeneral, &imaginary,
                                       nargout >= 2 ? &est : nullptr)) {
    numeric::AbandonCall(ctx, kFunmHeld - 1);
    return kNoConvergence;
  }
  if (imaginary == 0) (void)DropImaginaryPart(ctx);
  if (StatusCode st = DropArgsUnderResults(ctx, 1, 3); st != kOk) return st;
  if (nargout < 2) return kOk;
  // Dropping T, f and U freed far more than a scalar needs.
  if (StatusCode st = PushRealScalar(ctx, est); st != kOk) return st;
  return RotateValues(ctx, 2, 1);
}

// Called again with f's result on top of the held values.
[[nodiscard]] StatusCode ContinueFunm(EngineContext* ctx, int nargin, int nargout) {
  double* state = nullptr;
  if (StatusCode st = numeric::ReadReentry(ctx, nargin, 1, kFunmStateCells, kFunmHeld, &state); st != kOk) return st;
  const int k = static_cast<int>(state[0]);
  Matrix y, f;
  if (ReadMatrix(ctx, 0, &y) != kOk) {
    numeric::AbandonCall(ctx, 1 + kFunmHeld);
    return kWrongTypeInternal;
  }
  if (y.count() != 1) {
    numeric::AbandonCall(ctx, 1 + kFunmHeld);
    return kNonVector;
  }
  (void)ReadMatrix(ctx, 2, &f);
  if (k < 1 || k > f.n) {
    numeric::AbandonCall(ctx, 1 + kFunmHeld);
    return kIllegal;
  }
  const int64_t at = int64_t{k - 1} * f.n + (k - 1);
  f.re[at] = y.re[0];
  f.im[at] = y.im ? y.im[0] : 0.0;
  if (k == f.n) {
    numeric::PopValues(ctx, 2);
    return FinishFunm(ctx, nargout);
  }
  // The next argument goes on before the result goes: a failure for room
  // leaves the stack as it came, and the rerun stores the same value again.
  if (StatusCode st = PushEntry(ctx, k + 1, 5); st != kOk) return st;
  (void)DropArgsUnderResults(ctx, 1, 1);
  return CallForEntry(ctx, k + 1);
}

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
  if (which == 'f') return FunmNative(ctx, nargin, nargout);
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

namespace {

StatusCode FunmNative(EngineContext* ctx, int nargin, int nargout) {
  if (nargin < 0) return ContinueFunm(ctx, nargin, nargout);
  for (int i = 0; i < nargin; ++i)
    if (IsObjectArg(ctx, i)) return kWrongType;
  Matrix a;
  if (ReadMatrix(ctx, 1, &a) != kOk) return kWrongType;
  if (a.m != a.n) return kNonSquareMatrix;
  const int n = a.n;
  if (n == 0) {
    (void)DropArgsUnderResults(ctx, 0, 1);
    if (nargout < 2) return kOk;
    if (StatusCode st = PushRealScalar(ctx, 0); st != kOk) return st;
    return RotateValues(ctx, 2, 1);
  }

  // A comes to the top for its zero imaginary block and goes back under f.
  (void)RotateValues(ctx, 2, 1);
  const StatusCode made = MakeTopComplex(ctx, nullptr);
  (void)RotateValues(ctx, 2, 1);
  if (made != kOk) return made;
  // Everything the calls need is pushed before the Schur kernel overwrites A:
  // from then on the call cannot be run again from its arguments.
  Matrix u, f, z;
  if (StatusCode st = PushResult(ctx, n, n, true, &u); st != kOk) return st;
  if (StatusCode st = PushResult(ctx, n, n, true, &f); st != kOk) {
    numeric::PopValues(ctx, 1);
    return st;
  }
  if (StatusCode st = PushRealScalar(ctx, 0); st != kOk) {
    numeric::PopValues(ctx, 2);
    return st;
  }
  if (StatusCode st = PushResult(ctx, 1, 1, true, &z); st != kOk) {
    numeric::PopValues(ctx, 3);
    return st;
  }
  double* scratch = nullptr;
  if (StatusCode st = Scratch(ctx, 2 * int64_t{n}, &scratch); st != kOk) {
    numeric::PopValues(ctx, 4);
    return st;
  }
  (void)ReadMatrix(ctx, 2, &f);
  (void)ReadMatrix(ctx, 3, &u);
  (void)ReadMatrix(ctx, 5, &a);
  if (!ComputeComplexSchurForm(a.re, a.im, n, u.re, u.im, scratch)) {
    numeric::AbandonCall(ctx, 1 + kFunmHeld);
    return kNoConvergence;
  }
  std::fill_n(f.re, 2 * f.count(), 0.0);
  z.re[0] = a.re[0];
  z.im[0] = a.im[0];
  if (z.im[0] == 0) (void)DropImaginaryPart(ctx);
  return CallForEntry(ctx, 1);
}

}  // namespace
