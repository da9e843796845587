// The Schur, Hessenberg and balancing natives: each reduces its square matrix
// in place, so the first argument's cells become the form and the factor is
// pushed above it.
//
// Factors and scratch are reserved before the kernel overwrites the argument:
// a failure for room must leave the stack as it was for the engine's rerun.
#include <algorithm>

#include "numeric/nativeargs.h"
#include "numeric/numeric.h"

namespace {

using numeric::Matrix;
using numeric::PushResult;
using numeric::ReadMatrix;
using numeric::Scratch;

constexpr StatusCode kNoConvergence = 9;
constexpr StatusCode kNonSquareMatrix = 26;

[[nodiscard]] StatusCode ReadSquare(EngineContext* ctx, int position, Matrix* a) {
  if (ReadMatrix(ctx, position, a) != kOk) return kWrongType;
  return a->m == a->n ? kOk : kNonSquareMatrix;
}

}  // namespace

StatusCode SchurNative(EngineContext* ctx, int nargin, int nargout, void*) {
  for (int i = 0; i < nargin; ++i)
    if (IsObjectArg(ctx, i)) return kWrongType;
  bool wantComplex = false;
  if (nargin == 2) {
    const char* text = nullptr;
    int64_t length = 0;
    if (StatusCode st = GetStringArg(ctx, 0, &text, &length); st != kOk) return st;
    if (length > 0 && text[0] != 'c' && text[0] != 'r') return kUnknownOpt;
    wantComplex = length > 0 && text[0] == 'c';
  }
  const int a0 = nargin - 1;
  Matrix a;
  if (StatusCode st = ReadSquare(ctx, a0, &a); st != kOk) return st;
  const int n = a.n;
  const int outs = nargout == 2 ? 1 : 0;
  if (n == 0) {
    if (outs == 1) {
      if (StatusCode st = PushResult(ctx, 0, 0, false, &a); st != kOk) return st;
    }
    return DropArgsUnderResults(ctx, outs, a0);
  }

  // A real A asked for the complex form may need imaginary blocks for T and
  // U: U is pushed complex at once, T's block is kept free in the scratch.
  const bool complex = a.im != nullptr;
  const bool convert = wantComplex && !complex;
  Matrix u;
  if (outs == 1) {
    if (StatusCode st = PushResult(ctx, n, n, complex || convert, &u); st != kOk) return st;
  }
  double* scratch = nullptr;
  const int64_t need = (complex ? 2 * int64_t{n} : n) + (convert ? int64_t{n} * n + 1 : 0);
  if (StatusCode st = Scratch(ctx, need, &scratch); st != kOk) {
    numeric::PopValues(ctx, outs);
    return st;
  }
  (void)ReadMatrix(ctx, a0 + outs, &a);
  if (complex) {
    if (!ComputeComplexSchurForm(a.re, a.im, n, outs ? u.re : nullptr, outs ? u.im : nullptr, scratch))
      return kNoConvergence;
    return DropArgsUnderResults(ctx, outs, a0);
  }
  uint8_t blocks = 0;
  if (!ComputeRealSchurForm(a.re, n, outs ? u.re : nullptr, &blocks, scratch)) return kNoConvergence;
  if (StatusCode st = DropArgsUnderResults(ctx, outs, a0); st != kOk) return st;
  if (!convert) return kOk;
  if (blocks == 0) return outs == 1 ? DropImaginaryPart(ctx) : kOk;

  // T comes to the top for its imaginary block and goes back under U.
  (void)RotateValues(ctx, outs + 1, outs);
  if (StatusCode st = MakeTopComplex(ctx, nullptr); st != kOk) return st;
  Matrix t;
  (void)ReadMatrix(ctx, 0, &t);
  if (outs == 1) (void)ReadMatrix(ctx, 1, &u);
  ConvertRealSchurToComplex(t.re, t.im, outs ? u.re : nullptr, outs ? u.im : nullptr, n);
  return RotateValues(ctx, outs + 1, 1);
}

StatusCode HessNative(EngineContext* ctx, int, int nargout, void*) {
  Matrix a, p;
  if (StatusCode st = ReadSquare(ctx, 0, &a); st != kOk) return st;
  const int n = a.n;
  const bool complex = a.im != nullptr;
  const int outs = nargout == 2 ? 1 : 0;
  if (outs == 1) {
    if (StatusCode st = PushResult(ctx, n, n, complex, &p); st != kOk) return st;
  }
  double* scratch = nullptr;
  if (StatusCode st = Scratch(ctx, complex ? 2 * int64_t{n} : n, &scratch); st != kOk) {
    numeric::PopValues(ctx, outs);
    return st;
  }
  (void)ReadMatrix(ctx, outs, &a);
  if (n == 0) return kOk;
  if (complex)
    ReduceComplexToHessenberg(a.re, a.im, n, outs ? p.re : nullptr, outs ? p.im : nullptr, scratch);
  else
    ReduceToHessenberg(a.re, n, outs ? p.re : nullptr, scratch);
  return kOk;
}

StatusCode BalanceNative(EngineContext* ctx, int, int nargout, void*) {
  Matrix a, t;
  if (StatusCode st = ReadSquare(ctx, 0, &a); st != kOk) return st;
  const int n = a.n;
  const int outs = nargout == 2 ? 1 : 0;
  if (outs == 1) {
    if (StatusCode st = PushResult(ctx, n, n, false, &t); st != kOk) return st;
  }
  double* d = nullptr;
  if (StatusCode st = Scratch(ctx, n, &d); st != kOk) {
    numeric::PopValues(ctx, outs);
    return st;
  }
  (void)ReadMatrix(ctx, outs, &a);
  if (n == 0) return kOk;
  BalanceMatrix(a.re, a.im, n, d);
  if (outs == 1) {
    std::fill_n(t.re, t.count(), 0.0);
    for (int i = 0; i < n; ++i) t.re[int64_t{i} * n + i] = d[i];
  }
  return kOk;
}
