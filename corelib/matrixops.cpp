// The matrix operators mtimes, mrdivide, mldivide and mpower, and inv and
// det. Plain double matrices are handled here (products and solves through
// corelib/dense.h); scalar cases and every other numeric class go to the
// elementwise kernel. Non-square divisions go through the native "pinv".
#include <cmath>
#include <cstring>
#include <utility>

#include "corelib/corelib.h"
#include "corelib/dense.h"
#include "engine/bytecode.h"
#include "engine/values/valuestack.h"
#include "numeric/numeric.h"

namespace {

constexpr StatusCode kNonSquareSize = 26;

// A plain double matrix as the operators see it; a matrix without columns
// has no rows either.
struct Plain {
  double* re;
  int32_t m, n;
  bool complex;
  int64_t count;
};

Plain ReadPlain(EngineContext* ctx, int position) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  Plain p{};
  p.re = &DataAt(ctx, position)->f;
  p.complex = (d.kind & kComplex) != 0;
  p.n = d.extra;
  p.m = p.n == 0 ? 0 : static_cast<int32_t>(d.cells / (int64_t{p.n} * (p.complex ? 2 : 1)));
  p.count = int64_t{p.m} * p.n;
  return p;
}

bool BothPlain(EngineContext* ctx) {
  return IsPlainMatrix(*DescriptorAt(ctx, 0)) && IsPlainMatrix(*DescriptorAt(ctx, 1));
}

// Operands of other classes: only a scalar on the side the operator allows
// reaches the elementwise kernel, which applies the class rules.
[[nodiscard]] StatusCode OtherClassOperands(EngineContext* ctx, char selector) {
  NumericView a, b;
  if (!ReadNumeric(ctx, 1, &a) || !ReadNumeric(ctx, 0, &b)) return kWrongType;
  const bool scalarA = a.count == 1, scalarB = b.count == 1;
  switch (selector) {
    case '/':
      if (!scalarB) return kBadSize;
      break;
    case '\\':
      if (!scalarA) return kBadSize;
      break;
    default:  // '*' and '^'
      if (!scalarA && !scalarB) return kBadSize;
      break;
  }
  return ApplyElementwiseArithmetic(ctx, selector);
}

// The n work words of the kernels lie at the free end of the descriptor stack.
[[nodiscard]] StatusCode WorkWords(EngineContext* ctx, int32_t n, int32_t** perm) {
  if (int64_t{ctx->descLength} + n + 1 > ctx->descCapacity) return kDescStackFull;
  *perm = ctx->descBase + ctx->descCapacity - n;
  return kOk;
}

[[nodiscard]] StatusCode Scratch(EngineContext* ctx, int64_t cells, double** scratch) {
  Cell* p = nullptr;
  if (StatusCode st = GetScratchAtDataEnd(ctx, cells, &p); st != kOk) return st;
  *scratch = &p->f;
  return kOk;
}

// Makes the value at position 1 complex, keeping both values in place.
[[nodiscard]] StatusCode MakeSecondComplex(EngineContext* ctx) {
  (void)RotateValues(ctx, 2, 1);
  const StatusCode st = MakeTopComplex(ctx, nullptr);
  (void)RotateValues(ctx, 2, 1);
  return st;
}

// Two scalars divided: a complex divisor by the textbook formula, so that a
// real quotient of complex operands keeps its imaginary part of 0.
[[nodiscard]] StatusCode ScalarQuotient(EngineContext* ctx, bool divisorFirst) {
  const Plain a = ReadPlain(ctx, 1), b = ReadPlain(ctx, 0);
  if (!a.complex && !b.complex) return ApplyElementwiseArithmetic(ctx, divisorFirst ? '\\' : '/');
  const Plain& x = divisorFirst ? b : a;
  const Plain& y = divisorFirst ? a : b;
  const double xr = x.re[0], xi = x.complex ? x.re[1] : 0;
  const double yr = y.re[0], yi = y.complex ? y.re[1] : 0;
  double re = 0, im = 0;
  if (!y.complex) {
    re = xr / yr, im = xi / yr;
  } else {
    const double d = yr * yr + yi * yi;
    re = (xr * yr + xi * yi) / d, im = (xi * yr - xr * yi) / d;
  }
  double *pr = nullptr, *pi = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, 1, 1, &pr, &pi); st != kOk) return st;
  *pr = re, *pi = im;
  return DropArgsUnderResults(ctx, 1, 2);
}

// The pseudo-inverse of the top value by the native of that name. A record
// that stands in for a pinv not built yet (1000) is as good as none.
[[nodiscard]] StatusCode PseudoInverseOfTop(EngineContext* ctx, const NativeFunctionRecord* pinv) {
  const StatusCode st = pinv->handler(ctx, 1, 1, pinv->userData != nullptr ? pinv->userData : ctx->nativeUserData);
  return st == kNotSupported ? kNonSquareSize : st;
}

const NativeFunctionRecord* FindPinv(EngineContext* ctx) {
  return FindNativeFunction(ctx, "pinv", nullptr, 0, nullptr);
}

[[nodiscard]] StatusCode PushIdentity(EngineContext* ctx, int32_t n, bool complex) {
  if (StatusCode st = PushZeroMatrix(ctx, n, n, complex); st != kOk) return st;
  double* re = &TopData(ctx)->f;
  for (int32_t i = 0; i < n; ++i) re[int64_t{i} * n + i] = 1;
  return kOk;
}

// Integer-valued in the power rule's sense; false for NaN.
bool IsIntegerValued(double b) { return std::floor(b + 0.5) == b; }

[[nodiscard]] StatusCode ScalarPower(EngineContext* ctx) {
  const Plain a = ReadPlain(ctx, 1), b = ReadPlain(ctx, 0);
  const double ar = a.re[0], br = b.re[0];
  double re = 0, im = 0;
  if (a.complex || b.complex) {
    ComputeComplexPower(ar, a.complex ? a.re[1] : 0, br, b.complex ? b.re[1] : 0, &re, &im);
  } else if (br == 2) {
    re = ar * ar;
  } else if (!(ar < 0)) {
    re = std::pow(ar, br);
  } else if (IsIntegerValued(br)) {
    // Every double of magnitude 2^53 or more is even; below it the cast is exact.
    const bool odd = std::fabs(br) < 0x1p53 && (static_cast<int64_t>(br) & 1) != 0;
    re = odd ? -std::pow(-ar, br) : std::pow(-ar, br);
  } else {
    ComputeComplexPower(ar, 0, br, 0, &re, &im);
  }
  PopValue(ctx);
  PopValue(ctx);
  return PushComplexScalar(ctx, re, im);
}

// A square matrix to an integer power by squaring and multiplying, from the
// highest bit of p down, in two scratch matrices beyond the top.
[[nodiscard]] StatusCode MatrixPower(EngineContext* ctx, int32_t p) {
  if (p == 0) {
    const int32_t n = ReadPlain(ctx, 0).n;
    PopValue(ctx);
    return PushIdentity(ctx, n, false);
  }
  if (p < 0) {
    if (StatusCode st = inv(ctx); st != kOk) return st;
    p = -p;
  }
  if (p == 1) return kOk;
  const Plain a = ReadPlain(ctx, 0);
  const int64_t cells = DescriptorAt(ctx, 0)->cells;
  double* x = nullptr;
  if (StatusCode st = Scratch(ctx, 2 * cells, &x); st != kOk) return st;
  double* y = x + cells;
  std::memcpy(x, a.re, cells * sizeof(double));
  int bit = 30;
  while (((p >> bit) & 1) == 0) --bit;
  for (--bit; bit >= 0; --bit) {
    MultiplyDense(a.n, a.n, a.n, x, a.complex, x, a.complex, y);
    std::swap(x, y);
    if ((p >> bit) & 1) {
      MultiplyDense(a.n, a.n, a.n, x, a.complex, a.re, a.complex, y);
      std::swap(x, y);
    }
  }
  std::memcpy(a.re, x, cells * sizeof(double));
  return kOk;
}

// x^B for a scalar x and a square B, through the exponential of ln(x) B. A
// negative real x has the logarithm ln|x| + i pi, so it takes the complex path.
[[nodiscard]] StatusCode ScalarToMatrixPower(EngineContext* ctx) {
  Plain b = ReadPlain(ctx, 0);
  if (b.m != b.n) return kNonSquareSize;
  if (b.count == 0) return DropArgsUnderResults(ctx, 1, 1);
  const Plain a0 = ReadPlain(ctx, 1);
  const bool complex = a0.complex || b.complex || a0.re[0] < 0;
  if (complex && !b.complex)
    if (StatusCode st = MakeTopComplex(ctx, nullptr); st != kOk) return st;
  const int32_t n = b.n;
  if (StatusCode st = PushZeroMatrix(ctx, n, n, complex); st != kOk) return st;
  double* work = nullptr;
  const int64_t cells = int64_t{n} * (complex ? 4 * int64_t{n} + 2 : 2 * int64_t{n} + 1);
  if (StatusCode st = Scratch(ctx, cells, &work); st != kOk) return st;
  const Plain a = ReadPlain(ctx, 2);
  b = ReadPlain(ctx, 1);
  double* result = &TopData(ctx)->f;
  if (complex)
    RaiseComplexScalarToMatrix(a.re[0], a.complex ? a.re[1] : 0, b.re, n, result, work);
  else
    RaiseRealScalarToMatrix(a.re[0], b.re, n, result, work);
  return DropArgsUnderResults(ctx, 1, 2);
}

}  // namespace

void MultiplyRealMatrices(int m, int n, int p, const double* a, const double* b, double* c) {
  // Row by row of C, so every C(i, j) gathers its terms in increasing k.
  std::memset(c, 0, int64_t{m} * p * sizeof(double));
  for (int i = 0; i < m; ++i) {
    double* row = c + int64_t{i} * p;
    for (int k = 0; k < n; ++k) {
      const double x = a[int64_t{i} * n + k];
      const double* bk = b + int64_t{k} * p;
      for (int j = 0; j < p; ++j) row[j] += x * bk[j];
    }
  }
}

void MultiplyComplexMatrices(int m, int n, int p, const double* a, const double* b, double* c) {
  const int64_t sa = int64_t{m} * n, sb = int64_t{n} * p, sc = int64_t{m} * p;
  std::memset(c, 0, 2 * sc * sizeof(double));
  for (int i = 0; i < m; ++i) {
    double* re = c + int64_t{i} * p;
    double* im = re + sc;
    for (int k = 0; k < n; ++k) {
      const double xr = a[int64_t{i} * n + k], xi = a[sa + int64_t{i} * n + k];
      const double* br = b + int64_t{k} * p;
      const double* bi = br + sb;
      for (int j = 0; j < p; ++j) {
        re[j] += xr * br[j] - xi * bi[j];
        im[j] += xr * bi[j] + xi * br[j];
      }
    }
  }
}

StatusCode mtimes(EngineContext* ctx) {
  if (!BothPlain(ctx)) return OtherClassOperands(ctx, '*');
  const Plain a = ReadPlain(ctx, 1), b = ReadPlain(ctx, 0);
  if (a.count == 1 || b.count == 1) return ApplyElementwiseArithmetic(ctx, '*');
  if (a.m == 0 || b.n == 0) {
    if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, 2);
  }
  if (a.n != b.m) return kIncompSize;
  if (StatusCode st = PushZeroMatrix(ctx, a.m, b.n, a.complex || b.complex); st != kOk) return st;
  MultiplyDense(a.m, a.n, b.n, &DataAt(ctx, 2)->f, a.complex, &DataAt(ctx, 1)->f, b.complex, &TopData(ctx)->f);
  return DropArgsUnderResults(ctx, 1, 2);
}

StatusCode mrdivide(EngineContext* ctx) {
  if (!BothPlain(ctx)) return OtherClassOperands(ctx, '/');
  Plain a = ReadPlain(ctx, 1), b = ReadPlain(ctx, 0);
  if (a.count == 1 && b.count == 1) return ScalarQuotient(ctx, false);
  if (b.count == 1) return ApplyElementwiseArithmetic(ctx, '/');
  if (b.m != b.n) {
    const NativeFunctionRecord* pinv = FindPinv(ctx);
    if (pinv == nullptr) return kNonSquareSize;
    if (StatusCode st = PseudoInverseOfTop(ctx, pinv); st != kOk) return st;
    return mtimes(ctx);
  }
  const int32_t n = b.n;
  if (a.m > 0 && a.n != n) return kIncompSize;
  if (a.m == 0) {
    PopValue(ctx);
    return kOk;
  }
  int32_t* perm = nullptr;
  if (StatusCode st = WorkWords(ctx, n, &perm); st != kOk) return st;
  if (b.complex && !a.complex)
    if (StatusCode st = MakeSecondComplex(ctx); st != kOk) return st;
  a = ReadPlain(ctx, 1), b = ReadPlain(ctx, 0);
  double* scratch = nullptr;
  if (StatusCode st = Scratch(ctx, RightSolveScratch(n, a.m, a.complex), &scratch); st != kOk) return st;
  SolveRightDense(b.re, b.complex, a.re, a.complex, n, a.m, perm, scratch);
  PopValue(ctx);
  return kOk;
}

StatusCode mldivide(EngineContext* ctx) {
  if (!BothPlain(ctx)) return OtherClassOperands(ctx, '\\');
  Plain a = ReadPlain(ctx, 1), b = ReadPlain(ctx, 0);
  if (a.count == 1 && b.count == 1) return ScalarQuotient(ctx, true);
  if (a.count == 1) return ApplyElementwiseArithmetic(ctx, '\\');
  if (a.m != a.n) {
    const NativeFunctionRecord* pinv = FindPinv(ctx);
    if (pinv == nullptr) return kNonSquareSize;
    (void)RotateValues(ctx, 2, 1);
    if (StatusCode st = PseudoInverseOfTop(ctx, pinv); st != kOk) {
      // Back in their order, for a repeat after growth.
      (void)RotateValues(ctx, 2, 1);
      return st;
    }
    (void)RotateValues(ctx, 2, 1);
    return mtimes(ctx);
  }
  const int32_t n = a.n;
  if (b.n > 0 && b.m != n) return kIncompSize;
  if (b.n == 0) return DropArgsUnderResults(ctx, 1, 1);
  int32_t* perm = nullptr;
  if (StatusCode st = WorkWords(ctx, n, &perm); st != kOk) return st;
  if (a.complex && !b.complex)
    if (StatusCode st = MakeTopComplex(ctx, nullptr); st != kOk) return st;
  b = ReadPlain(ctx, 0);
  a = ReadPlain(ctx, 1);
  double* scratch = nullptr;
  if (StatusCode st = Scratch(ctx, LeftSolveScratch(n, b.n, b.complex), &scratch); st != kOk) return st;
  SolveLeftDense(a.re, a.complex, b.re, b.complex, n, b.n, perm, scratch);
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode mpower(EngineContext* ctx) {
  if (!BothPlain(ctx)) return OtherClassOperands(ctx, '^');
  const Plain a = ReadPlain(ctx, 1), b = ReadPlain(ctx, 0);
  if (a.count == 1 && b.count == 1) return ScalarPower(ctx);
  if (a.count == 1) return ScalarToMatrixPower(ctx);
  // A matrix to a power: only real integer exponents in range.
  const double p = b.re[0];
  if (b.count != 1 || b.complex || !(std::floor(p) == p) || p < -1023 || p > 1023) return kNotSupported;
  if (a.count == 0) {
    PopValue(ctx);
    return kOk;
  }
  if (a.m != a.n) return kNonSquareSize;
  PopValue(ctx);
  return MatrixPower(ctx, static_cast<int32_t>(p));
}

StatusCode inv(EngineContext* ctx) {
  if (!IsPlainMatrix(*DescriptorAt(ctx, 0))) return kWrongType;
  const Plain a = ReadPlain(ctx, 0);
  if (a.m != a.n) return kNonSquareSize;
  if (a.count == 0) return kOk;
  if (a.count == 1) {
    if (!a.complex) {
      a.re[0] = 1 / a.re[0];
    } else {
      const double c = a.re[0], d = a.re[1], s = c * c + d * d;
      a.re[0] = c / s, a.re[1] = -d / s;
    }
    return kOk;
  }
  const int32_t n = a.n;
  int32_t* perm = nullptr;
  if (StatusCode st = WorkWords(ctx, n, &perm); st != kOk) return st;
  if (StatusCode st = PushIdentity(ctx, n, a.complex); st != kOk) return st;
  double* scratch = nullptr;
  if (StatusCode st = Scratch(ctx, LeftSolveScratch(n, n, a.complex), &scratch); st != kOk) return st;
  SolveLeftDense(&DataAt(ctx, 1)->f, a.complex, &TopData(ctx)->f, a.complex, n, n, perm, scratch);
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode det(EngineContext* ctx) {
  if (!IsPlainMatrix(*DescriptorAt(ctx, 0))) return kWrongType;
  const Plain a = ReadPlain(ctx, 0);
  if (a.m != a.n) return kIncompSize;
  if (a.count == 1) return kOk;
  int32_t* perm = nullptr;
  if (StatusCode st = WorkWords(ctx, a.n, &perm); st != kOk) return st;
  double re = 0, im = 0;
  if (a.complex) {
    ComputeComplexDeterminant(a.re, a.re + a.count, &re, &im, a.n, perm);
    PopValue(ctx);
    return PushComplexScalar(ctx, re, im);
  }
  ComputeRealDeterminant(a.re, &re, a.n, perm);
  PopValue(ctx);
  return PushRealScalar(ctx, re);
}

StatusCode MatrixOperatorOpcode(EngineContext* ctx, const int16_t* ins) {
  switch (static_cast<Op>(ins[0])) {
    case Op::Mtimes:
      return mtimes(ctx);
    case Op::Mrdivide:
      return mrdivide(ctx);
    case Op::Mldivide:
      return mldivide(ctx);
    case Op::Mpower:
      return mpower(ctx);
    case Op::Inv:
      return inv(ctx);
    default:  // Op::Det
      return det(ctx);
  }
}
