// The linear-algebra natives built on the system's own kernels: singular
// values (svd, rank, cond, pinv, orth, null, norm), factorisations (lu, qr,
// chol), Householder reflectors and linear programming.
//
// Every native reserves its results and its scratch before it changes an
// argument in place: a failure for room must leave the stack as it was, since
// the engine grows the block and runs the native again.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "numeric/nativeargs.h"
#include "numeric/numeric.h"

namespace {

using numeric::Matrix;
using numeric::PopValues;
using numeric::PushResult;
using numeric::ReadMatrix;
using numeric::Scratch;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr StatusCode kNoConvergence = 9;
constexpr StatusCode kNonColumnVector = 23;
constexpr StatusCode kNonSquareMatrix = 26;

// Copies the first cols columns of the rows x stride matrix src (both parts).
void CopyColumns(const double* srcRe, const double* srcIm, int rows, int stride, int cols, const Matrix& dst) {
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      dst.re[int64_t{i} * dst.n + j] = srcRe[int64_t{i} * stride + j];
      if (dst.im) dst.im[int64_t{i} * dst.n + j] = srcIm ? srcIm[int64_t{i} * stride + j] : 0.0;
    }
}

// Doubles of scratch SingularValuesOf needs, values included.
int64_t ValuesScratch(const Matrix& a) {
  const int64_t m = a.m, n = a.n;
  return a.im ? (4 * m + 6) * n + 1 : 2 * n + n / 2 + 1;
}

// The n singular values of A (those past min(m, n) are 0), decreasing, at the
// start of the scratch. A real A is destroyed.
bool SingularValuesOf(const Matrix& a, double* scratch) {
  if (a.im) return ComputeComplexSingularValues(a.re, a.im, a.m, a.n, scratch, scratch + a.n);
  return ComputeRealSvd(a.re, a.m, a.n, scratch, nullptr, scratch + a.n);
}

// The work ComputeComplexSvd asks for beyond its 5n doubles.
int64_t ComplexSvdWork(int m, int n, int ucols, int vcols) {
  const int64_t square = 2 * int64_t{n} * n;
  int64_t w = 5 * int64_t{n};
  if (m < n) w += square;
  if (m < n && ucols > 0) w += square;
  if (vcols > 0 && vcols < n) w += square;
  return w;
}

// Reads an option text into a small buffer; a longer text is no option.
bool ReadOption(EngineContext* ctx, int position, char* buffer, int64_t size, bool* isText) {
  *isText = IsCharArg(ctx, position);
  if (!*isText) return true;
  int64_t length = 0;
  if (CopyStringArgToBuffer(ctx, position, buffer, size - 1, &length) != kOk) return false;
  buffer[length] = 0;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Singular values.

StatusCode SvdNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargout < 1) nargout = 1;
  if (!((nargin == 1 && nargout == 1) || nargout == 3)) return kTooFewArgout;
  if (StatusCode st = CheckArgTypes(ctx, nargin, "C*"); st != kOk) return st;
  bool economy = false;
  if (nargin == 2) {
    uint8_t full = 0;
    if (StatusCode st = GetBooleanArg(ctx, 0, &full); st != kOk) return st;
    economy = full == 0;
  }
  const int a0 = nargin - 1;
  Matrix a;
  if (StatusCode st = ReadMatrix(ctx, a0, &a); st != kOk) return st;
  const int m = a.m, n = a.n, k = std::min(m, n);
  const bool complex = a.im != nullptr;

  if (nargout == 1) {
    Matrix s;
    if (StatusCode st = PushResult(ctx, k, 1, false, &s); st != kOk) return st;
    double* work = nullptr;
    if (StatusCode st = Scratch(ctx, ValuesScratch(a), &work); st != kOk) return st;
    (void)ReadMatrix(ctx, a0 + 1, &a);
    (void)SingularValuesOf(a, work);
    std::copy_n(work, k, s.re);
    return DropArgsUnderResults(ctx, 1, nargin);
  }

  const int ku = economy ? k : m, kv = economy ? k : n;
  Matrix v, s, u;
  if (StatusCode st = PushResult(ctx, n, kv, complex, &v); st != kOk) return st;
  if (StatusCode st = PushResult(ctx, ku, kv, false, &s); st != kOk) return st;
  if (StatusCode st = PushResult(ctx, m, ku, complex, &u); st != kOk) {
    PopValues(ctx, 2);
    return st;
  }
  (void)ReadMatrix(ctx, 1, &s);
  (void)ReadMatrix(ctx, 2, &v);
  (void)ReadMatrix(ctx, a0 + 3, &a);
  const int diag = std::min(ku, kv);
  std::fill_n(s.re, s.count(), 0.0);

  if (a.count() == 0) {
    // No values: the factors are the leading columns of identities.
    std::fill_n(u.re, u.count(), 0.0);
    std::fill_n(v.re, v.count(), 0.0);
    if (u.im) std::fill_n(u.im, u.count(), 0.0);
    if (v.im) std::fill_n(v.im, v.count(), 0.0);
    for (int i = 0; i < std::min(u.m, u.n); ++i) u.re[int64_t{i} * u.n + i] = 1;
    for (int i = 0; i < std::min(v.m, v.n); ++i) v.re[int64_t{i} * v.n + i] = 1;
    return DropArgsUnderResults(ctx, 3, nargin);
  }

  if (complex) {
    const int64_t work = ComplexSvdWork(m, n, ku, kv);
    double* values = nullptr;
    if (StatusCode st = Scratch(ctx, n + work + 2 * a.count(), &values); st != kOk) {
      PopValues(ctx, 3);
      return st;
    }
    // The kernel destroys its matrix: it works on a copy, so A stays intact.
    double* copy = values + n;
    std::copy_n(a.re, 2 * a.count(), copy);
    if (!ComputeComplexSvd(copy, copy + a.count(), m, n, values, u.re, u.im, ku, v.re, v.im, kv, copy + 2 * a.count()))
      return kNoConvergence;
    for (int i = 0; i < diag; ++i) s.re[int64_t{i} * s.n + i] = values[i];
    return DropArgsUnderResults(ctx, 3, nargin);
  }

  // The real kernel decomposes a matrix B with no more rows than columns:
  // A itself, or A' when A is tall. B = W1 diag(w) W2', W1 in place of B.
  const bool tall = n < m;
  const int p = tall ? n : m, q = tall ? m : n;
  double* w2 = nullptr;
  const int64_t need = int64_t{q} * q + a.count() + 2 * int64_t{q} + q / 2 + 1;
  if (StatusCode st = Scratch(ctx, need, &w2); st != kOk) {
    PopValues(ctx, 3);
    return st;
  }
  double* b = w2 + int64_t{q} * q;
  double* values = b + a.count();
  double* work = values + q;
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) {
      const double x = a.re[int64_t{i} * n + j];
      if (tall)
        b[int64_t{j} * m + i] = x;
      else
        b[int64_t{i} * n + j] = x;
    }
  if (!ComputeRealSvd(b, p, q, values, w2, work)) return kNoConvergence;
  if (tall) {
    CopyColumns(w2, nullptr, m, q, ku, u);
    CopyColumns(b, nullptr, n, q, kv, v);
  } else {
    CopyColumns(b, nullptr, m, q, ku, u);
    CopyColumns(w2, nullptr, n, q, kv, v);
  }
  for (int i = 0; i < diag; ++i) s.re[int64_t{i} * s.n + i] = values[i];
  return DropArgsUnderResults(ctx, 3, nargin);
}

StatusCode RankNative(EngineContext* ctx, int nargin, int, void*) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "C[r"); st != kOk) return st;
  double tol = -1;
  if (nargin == 2)
    if (StatusCode st = GetRealScalarArg(ctx, 0, &tol); st != kOk) return st;
  Matrix a, r;
  if (StatusCode st = ReadMatrix(ctx, nargin - 1, &a); st != kOk) return st;
  if (StatusCode st = PushResult(ctx, 1, 1, false, &r); st != kOk) return st;
  double* s = nullptr;
  if (StatusCode st = Scratch(ctx, ValuesScratch(a), &s); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  (void)ReadMatrix(ctx, nargin, &a);
  (void)SingularValuesOf(a, s);
  if (a.n > 0 && (tol < 0 || std::isnan(tol))) tol = std::max(a.m, a.n) * s[0] * 1e-12;
  int count = 0;
  for (int i = 0; i < a.n; ++i)
    if (s[i] > tol) ++count;
  *r.re = count;
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode CondNative(EngineContext* ctx, int nargin, int, void*) {
  Matrix a, c;
  if (ReadMatrix(ctx, 0, &a) != kOk) return kWrongType;
  if (StatusCode st = PushResult(ctx, 1, 1, false, &c); st != kOk) return st;
  double* s = nullptr;
  if (StatusCode st = Scratch(ctx, ValuesScratch(a), &s); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  (void)ReadMatrix(ctx, 1, &a);
  if (a.count() == 0) {
    // No last value to divide by; NaN, as the norm of [] is.
    *c.re = kNaN;
  } else {
    (void)SingularValuesOf(a, s);
    const double last = s[a.n - 1];
    *c.re = last != 0 && !std::isnan(last) ? s[0] / last : kInf;
  }
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode PinvNative(EngineContext* ctx, int nargin, int, void*) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  double tol = -1;
  if (nargin == 2)
    if (StatusCode st = GetRealScalarArg(ctx, 0, &tol); st != kOk) return st;
  Matrix a, pi;
  if (StatusCode st = ReadMatrix(ctx, nargin - 1, &a); st != kOk) return st;
  const int m = a.m, n = a.n;
  const bool complex = a.im != nullptr;
  if (StatusCode st = PushResult(ctx, n, m, complex, &pi); st != kOk) return st;
  if (pi.count() == 0) return DropArgsUnderResults(ctx, 1, nargin);
  (void)ReadMatrix(ctx, nargin, &a);

  // s, then U and V (real: V alone, U takes A's place), then the kernel's work.
  const int k = complex ? std::min(m, n) : n;
  const int64_t mk = int64_t{m} * k, nk = int64_t{n} * k;
  const int64_t need = complex ? n + 2 * mk + 2 * nk + ComplexSvdWork(m, n, k, k) : int64_t{n} * (n + 2) + n / 2 + 1;
  double* s = nullptr;
  if (StatusCode st = Scratch(ctx, need, &s); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  double *ur = nullptr, *ui = nullptr, *vr = nullptr, *vi = nullptr;
  if (complex) {
    ur = s + n, ui = ur + mk, vr = ui + mk, vi = vr + nk;
    if (!ComputeComplexSvd(a.re, a.im, m, n, s, ur, ui, k, vr, vi, k, vi + nk)) return kNoConvergence;
  } else {
    vr = s + n, ur = a.re;
    if (!ComputeRealSvd(a.re, m, n, s, vr, vr + int64_t{n} * n)) return kNoConvergence;
  }
  if (tol < 0 || std::isnan(tol)) tol = std::max(m, n) * s[0] * 1.1102230246251565e-12;
  int r = 0;
  while (r < k && s[r] > tol) {
    s[r] = 1 / s[r];
    ++r;
  }
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < m; ++i) {
      double re = 0, im = 0;
      for (int l = 0; l < r; ++l) {
        const double v1 = vr[int64_t{j} * k + l], u1 = ur[int64_t{i} * k + l];
        if (!complex) {
          re += v1 * u1 * s[l];
          continue;
        }
        const double v2 = vi[int64_t{j} * k + l], u2 = ui[int64_t{i} * k + l];
        re += (v1 * u1 + v2 * u2) * s[l];
        im += (v2 * u1 - v1 * u2) * s[l];
      }
      pi.re[int64_t{j} * m + i] = re;
      if (complex) pi.im[int64_t{j} * m + i] = im;
    }
  return DropArgsUnderResults(ctx, 1, nargin);
}

namespace {

// orth and null: the svd native on a copy of A, so that a failure can put the
// stack back as it was; then the leading columns of U or the trailing ones of V.
[[nodiscard]] StatusCode OrthOrNull(EngineContext* ctx, int nargin, bool orth) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "C*"); st != kOk) return st;
  Matrix a;
  if (StatusCode st = ReadMatrix(ctx, 0, &a); st != kOk) return st;
  const int m = a.m, n = a.n;
  const bool complex = a.im != nullptr;
  if (StatusCode st = DuplicateValues(ctx, 0, 1); st != kOk) return st;
  if (StatusCode st = SvdNative(ctx, 1, 3, nullptr); st != kOk) {
    // A room failure leaves the copy; other errors end the call anyway.
    PopValues(ctx, 1);
    return st;
  }
  Matrix u, s, v;
  (void)ReadMatrix(ctx, 0, &u);
  (void)ReadMatrix(ctx, 1, &s);
  int r = 0;
  if (s.count() > 0) {
    const double tol = std::max(m, n) * s.re[0] * 1e-12;
    while (r < std::min(m, n) && s.re[int64_t{r} * s.n + r] > tol) ++r;
  }
  Matrix out;
  const int cols = orth ? r : n - r;
  if (StatusCode st = PushResult(ctx, orth ? m : n, cols, complex, &out); st != kOk) {
    PopValues(ctx, 3);
    return st;
  }
  (void)ReadMatrix(ctx, 1, &u);
  (void)ReadMatrix(ctx, 3, &v);
  if (out.count() > 0) {
    if (orth) {
      CopyColumns(u.re, u.im, m, u.n, r, out);
    } else {
      // The last n - r columns of V.
      CopyColumns(v.re + r, v.im ? v.im + r : nullptr, n, v.n, cols, out);
    }
  }
  return DropArgsUnderResults(ctx, 1, 4);
}

}  // namespace

StatusCode OrthNative(EngineContext* ctx, int nargin, int, void*) { return OrthOrNull(ctx, nargin, true); }
StatusCode NullNative(EngineContext* ctx, int nargin, int, void*) { return OrthOrNull(ctx, nargin, false); }

StatusCode NormNative(EngineContext* ctx, int nargin, int, void*) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  enum Kind { kOne, kTwo, kFro, kInfinity, kMinusInfinity, kGeneral } kind = kTwo;
  double p = 2;
  if (nargin == 2) {
    char option[8];
    bool isText = false;
    if (!ReadOption(ctx, 0, option, sizeof option, &isText)) return kUnknownOpt;
    if (isText) {
      if (std::strcmp(option, "fro") == 0)
        kind = kFro;
      else if (std::strcmp(option, "inf") == 0)
        kind = kInfinity;
      else
        return kUnknownOpt;
    } else {
      if (StatusCode st = GetRealScalarArg(ctx, 0, &p); st != kOk) return st;
      kind = p == 1 ? kOne : p == 2 ? kTwo : p > 1e30 ? kInfinity : p < -1e30 ? kMinusInfinity : kGeneral;
    }
  }
  Matrix x, out;
  if (StatusCode st = ReadMatrix(ctx, nargin - 1, &x); st != kOk) return st;
  const int m = x.m, n = x.n;
  const bool vector = m == 1 || n == 1;
  if (!vector && kind == kGeneral && x.count() > 0) return kUnknownOpt;
  if (StatusCode st = PushResult(ctx, 1, 1, false, &out); st != kOk) return st;
  (void)ReadMatrix(ctx, nargin, &x);
  auto modulus = [&](int64_t e) {
    return x.im ? std::sqrt(x.re[e] * x.re[e] + x.im[e] * x.im[e]) : std::fabs(x.re[e]);
  };
  auto square = [&](int64_t e) { return x.re[e] * x.re[e] + (x.im ? x.im[e] * x.im[e] : 0.0); };
  const int64_t count = x.count();
  double result = 0;
  if (count == 0) {
    result = kNaN;
  } else if (vector) {
    switch (kind) {
      case kInfinity:
        for (int64_t e = 0; e < count; ++e)
          if (modulus(e) > result) result = modulus(e);
        break;
      case kMinusInfinity:
        result = kInf;
        for (int64_t e = 0; e < count; ++e) {
          const double v = modulus(e);
          if (v < result || std::isnan(v)) result = v;
        }
        break;
      case kOne:
      case kGeneral: {
        const double power = kind == kOne ? 1.0 : p;
        for (int64_t e = 0; e < count; ++e)
          result += x.im ? std::pow(square(e), power / 2) : std::pow(std::fabs(x.re[e]), power);
        result = std::pow(result, 1 / power);
        break;
      }
      case kTwo:
      case kFro:
        for (int64_t e = 0; e < count; ++e) result += square(e);
        result = std::sqrt(result);
        break;
    }
  } else if (kind == kOne) {
    for (int j = 0; j < n; ++j) {
      double sum = 0;
      for (int i = 0; i < m; ++i) sum += modulus(int64_t{i} * n + j);
      if (sum > result) result = sum;
    }
  } else if (kind == kInfinity || kind == kMinusInfinity) {
    for (int i = 0; i < m; ++i) {
      double sum = 0;
      for (int j = 0; j < n; ++j) sum += modulus(int64_t{i} * n + j);
      if (sum > result) result = sum;
    }
  } else if (kind == kFro) {
    for (int64_t e = count - 1; e >= 0; --e) result += square(e);
    result = std::sqrt(result);
  } else {
    // The largest singular value; x is destroyed, and dropped below.
    double* s = nullptr;
    if (StatusCode st = Scratch(ctx, ValuesScratch(x), &s); st != kOk) {
      PopValues(ctx, 1);
      return st;
    }
    (void)SingularValuesOf(x, s);
    result = s[0];
  }
  *out.re = result;
  return DropArgsUnderResults(ctx, 1, nargin);
}

// ---------------------------------------------------------------------------
// Factorisations.

StatusCode CholNative(EngineContext* ctx, int, int, void*) {
  Matrix a;
  if (ReadMatrix(ctx, 0, &a) != kOk) return kWrongType;
  if (a.m != a.n) return kNonSquareMatrix;
  const bool positive = a.im ? FactorComplexCholesky(a.re, a.im, a.n) : FactorRealCholesky(a.re, a.n);
  return positive ? kOk : kBadArg;
}

StatusCode LuNative(EngineContext* ctx, int, int nargout, void*) {
  Matrix a, l, p, u;
  if (ReadMatrix(ctx, 0, &a) != kOk) return kWrongType;
  const int m = a.m, n = a.n, k = std::min(m, n);
  const bool complex = a.im != nullptr;
  const bool square = n >= m;  // U is A's own k x n rows
  int pushed = 0;
  auto undo = [&](StatusCode st) {
    PopValues(ctx, pushed);
    return st;
  };
  if (nargout >= 2) {
    if (StatusCode st = PushResult(ctx, m, k, complex, &l); st != kOk) return st;
    ++pushed;
    if (nargout == 3) {
      if (StatusCode st = PushResult(ctx, m, m, false, &p); st != kOk) return undo(st);
      ++pushed;
    }
    if (!square) {
      if (StatusCode st = PushResult(ctx, n, n, complex, &u); st != kOk) return undo(st);
      ++pushed;
    }
  }
  double* scratch = nullptr;
  if (StatusCode st = Scratch(ctx, m, &scratch); st != kOk) return undo(st);
  auto* perm = reinterpret_cast<int32_t*>(scratch);
  (void)ReadMatrix(ctx, pushed, &a);
  if (complex)
    FactorComplexLu(a.re, a.im, m, n, perm);
  else
    FactorRealLu(a.re, m, n, perm);
  if (nargout < 2) return kOk;

  (void)ReadMatrix(ctx, pushed - 1, &l);
  for (int i = 0; i < m; ++i) {
    const int64_t row = int64_t{nargout == 2 ? perm[i] : i} * k;
    const int lower = std::min(i, n);
    for (int j = 0; j < lower; ++j) {
      const int64_t e = int64_t{i} * n + j;
      l.re[row + j] = a.re[e], a.re[e] = 0;
      if (complex) l.im[row + j] = a.im[e], a.im[e] = 0;
    }
    for (int j = lower; j < k; ++j) {
      l.re[row + j] = j == lower ? 1 : 0;
      if (complex) l.im[row + j] = 0;
    }
  }
  if (nargout == 3) {
    (void)ReadMatrix(ctx, pushed - 2, &p);
    std::fill_n(p.re, p.count(), 0.0);
    for (int i = 0; i < m; ++i) p.re[int64_t{i} * m + perm[i]] = 1;
  }
  if (square) {
    // [A, L, P] or [A, L]: U is A itself.
    if (nargout == 3) (void)RotateValues(ctx, 3, 2);
    return kOk;
  }
  // A is tall: U is its first n rows.
  (void)ReadMatrix(ctx, 0, &u);
  std::copy_n(a.re, u.count(), u.re);
  if (complex) std::copy_n(a.im, u.count(), u.im);
  // [A, L, P, U] -> [P, U, L], or [A, L, U] -> [U, L].
  (void)DropArgsUnderResults(ctx, pushed, 1);
  return RotateValues(ctx, pushed, 1);
}

StatusCode QrNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  bool economy = false;
  if (nargin == 2) {
    uint8_t full = 0;
    if (StatusCode st = GetBooleanArg(ctx, 0, &full); st != kOk) return st;
    economy = full == 0;
  }
  Matrix a;
  if (StatusCode st = ReadMatrix(ctx, nargin - 1, &a); st != kOk) return st;
  const int m = a.m, n = a.n;
  const bool complex = a.im != nullptr;
  const bool thin = economy && n < m;
  int pushed = 0;
  auto undo = [&](StatusCode st) {
    PopValues(ctx, pushed);
    return st;
  };
  Matrix q, e, r2, q2;
  if (nargout >= 2) {
    if (StatusCode st = PushResult(ctx, m, m, complex, &q); st != kOk) return st;
    ++pushed;
  }
  if (nargout == 3) {
    if (StatusCode st = PushResult(ctx, economy ? 1 : n, n, false, &e); st != kOk) return undo(st);
    ++pushed;
  }
  if (thin) {
    if (StatusCode st = PushResult(ctx, n, n, complex, &r2); st != kOk) return undo(st);
    ++pushed;
    if (nargout >= 2) {
      if (StatusCode st = PushResult(ctx, m, n, complex, &q2); st != kOk) return undo(st);
      ++pushed;
    }
  }
  const int64_t need = (complex ? 2 * int64_t{m} : m) + n + (nargout == 3 ? n : 0);
  double* scratch = nullptr;
  if (StatusCode st = Scratch(ctx, need, &scratch); st != kOk) return undo(st);
  int32_t* perm = nargout == 3 ? reinterpret_cast<int32_t*>(scratch + need - n) : nullptr;
  const int aPos = nargin - 1 + pushed;
  (void)ReadMatrix(ctx, aPos, &a);
  // The values pushed lie above the arguments, Q first.
  if (nargout >= 2) (void)ReadMatrix(ctx, pushed - 1, &q);
  if (complex)
    FactorComplexQr(a.re, a.im, m, n, q.re, q.im, perm, scratch);
  else
    FactorRealQr(a.re, m, n, q.re, perm, scratch);
  if (nargout == 3) {
    (void)ReadMatrix(ctx, pushed - 2, &e);
    if (economy) {
      for (int j = 0; j < n; ++j) e.re[j] = perm[j] + 1;
    } else {
      std::fill_n(e.re, e.count(), 0.0);
      for (int j = 0; j < n; ++j) e.re[int64_t{perm[j]} * n + j] = 1;
    }
  }
  if (thin) {
    // The first n rows of R and the first n columns of Q.
    (void)ReadMatrix(ctx, nargout >= 2 ? 1 : 0, &r2);
    CopyColumns(a.re, a.im, n, n, n, r2);
    if (nargout >= 2) {
      (void)ReadMatrix(ctx, 0, &q2);
      CopyColumns(q.re, q.im, m, m, n, q2);
    }
  }
  // Stack: [args, Q, E, R2, Q2] with the parts asked for. The outputs are
  // [E, R, Q], Q on top.
  const int results = std::max(nargout, 1);
  if (thin) {
    // Drop the full R and Q (and the arguments) under E, R2, Q2; E is below Q.
    if (nargout == 3) {
      // [args, A, Q, E, R2, Q2] -> [E, R2, Q2]
      (void)DropArgsUnderResults(ctx, 3, 1);        // Q gone: [args, A, E, R2, Q2]
      return DropArgsUnderResults(ctx, 3, nargin);  // A among the arguments
    }
    return DropArgsUnderResults(ctx, results, nargin + (nargout >= 2 ? 1 : 0));
  }
  // [args, A, Q, E] -> [E, A, Q]; the option argument above A goes first.
  if (nargin == 2) {
    (void)RotateValues(ctx, pushed + 1, 1);  // the option to the top
    PopValues(ctx, 1);
  }
  if (nargout == 3) (void)RotateValues(ctx, 3, 2);
  return kOk;
}

// ---------------------------------------------------------------------------
// Householder reflectors.

StatusCode HouseholderNative(EngineContext* ctx, int, int nargout, void*) {
  Matrix x, u, beta;
  if (ReadMatrix(ctx, 0, &x) != kOk) return kWrongType;
  const bool empty = x.count() == 0;
  if (!empty && x.n != 1) return kNonColumnVector;
  int pushed = 0;
  if (!empty) {
    if (StatusCode st = PushResult(ctx, x.m, 1, x.im != nullptr, &u); st != kOk) return st;
    ++pushed;
  }
  if (nargout == 2) {
    if (StatusCode st = PushResult(ctx, 1, 1, false, &beta); st != kOk) {
      PopValues(ctx, pushed);
      return st;
    }
    ++pushed;
    *beta.re = 1;
  }
  if (!empty) {
    (void)ReadMatrix(ctx, pushed, &x);
    (void)ReadMatrix(ctx, pushed - 1, &u);
    double b = 1;
    if (x.im)
      ComputeComplexHouseholderVector(x.re, x.im, x.m, 1, u.re, u.im, &b);
    else
      ComputeHouseholderVector(x.re, x.m, 1, u.re, &b);
    if (nargout == 2) *beta.re = b;
    // [x, u, beta] -> [u, beta]; an empty x is its own u.
    (void)DropArgsUnderResults(ctx, pushed, 1);
  }
  return nargout == 2 ? RotateValues(ctx, 2, 1) : kOk;
}

StatusCode HouseholderApplyNative(EngineContext* ctx, int nargin, int, void*) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  bool right = false;
  if (nargin == 4) {
    // Only the first character counts; a text too long to copy names no side.
    char side[64];
    bool isText = false;
    if (!ReadOption(ctx, 0, side, sizeof side, &isText)) return kUnknownOpt;
    if (!isText) return kWrongTypeInternal;
    if (side[0] == 'r')
      right = true;
    else if (side[0] != 'l' && side[0] != 0)
      return kUnknownOpt;
  }
  const int top = nargin - 3;  // the position of beta
  double beta = 0;
  if (StatusCode st = GetRealScalarArg(ctx, top, &beta); st != kOk) return st;
  Matrix u, a;
  if (StatusCode st = ReadMatrix(ctx, top + 1, &u); st != kOk) return st;
  if (u.m > 0 && u.n != 1) return kNonColumnVector;
  if (StatusCode st = ReadMatrix(ctx, top + 2, &a); st != kOk) return st;
  if (u.m != (right ? a.n : a.m)) return kIncompSize;
  if (u.im && !a.im && a.count() > 0) {
    // A turns complex at the top of the stack and goes back to its place; a
    // failure for room puts it back unchanged.
    (void)RotateValues(ctx, nargin, 1);
    void* imag = nullptr;
    const StatusCode st = MakeTopComplex(ctx, &imag);
    (void)RotateValues(ctx, nargin, nargin - 1);
    if (st != kOk) return st;
    (void)ReadMatrix(ctx, nargin - 1, &a);
    std::fill_n(a.im, a.count(), 0.0);
    (void)ReadMatrix(ctx, top + 1, &u);
  }
  if (a.count() > 0) {
    if (u.im) {
      if (right)
        ApplyComplexHouseholderRight(a.re, a.im, a.m, a.n, u.re, u.im, beta, 0, a.n);
      else
        ApplyComplexHouseholderLeft(a.re, a.im, a.m, a.n, u.re, u.im, beta, 0, a.m);
    } else {
      for (double* part : {a.re, a.im}) {
        if (part == nullptr) continue;
        if (right)
          ApplyHouseholderRight(part, a.m, a.n, u.re, beta, 0, a.n);
        else
          ApplyHouseholderLeft(part, a.m, a.n, u.re, beta, 0, a.m);
      }
    }
  }
  PopValues(ctx, nargin - 1);
  return kOk;
}

// ---------------------------------------------------------------------------
// Linear programming.

StatusCode LinprogNative(EngineContext* ctx, int nargin, int, void*) {
  Matrix a, c, b, lb, ub;
  const int cPos = nargin - 1;
  if (ReadMatrix(ctx, cPos - 1, &a) != kOk) return kWrongType;
  if (StatusCode st = ReadMatrix(ctx, cPos, &c); st != kOk) return st;
  const int m = a.m;
  const int n = m > 0 ? a.n : c.n;
  if (c.m != 1 || c.n != n) return kIncompSize;
  if (StatusCode st = ReadMatrix(ctx, cPos - 2, &b); st != kOk) return st;
  if (b.m != m || b.n > 1) return kIncompSize;
  for (int k = 0; k < nargin - 3; ++k) {
    Matrix& bound = k == 0 ? lb : ub;
    if (StatusCode st = ReadMatrix(ctx, cPos - 3 - k, &bound); st != kOk) return st;
    if (bound.m > n || bound.n > 1) return kIncompSize;
  }
  if (a.im || b.im || c.im || lb.im || ub.im) return kWrongTypeInternal;
  // The result is reserved first and holds the costs, negated: the kernel
  // maximises, the native minimises. The arguments are never changed.
  Matrix x;
  if (StatusCode st = PushResult(ctx, n, 1, false, &x); st != kOk) return st;
  double* scratch = nullptr;
  if (StatusCode st = Scratch(ctx, LinearProgramWorkspaceSize(m, n), &scratch); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  (void)ReadMatrix(ctx, cPos + 1, &c);
  (void)ReadMatrix(ctx, cPos, &a);
  (void)ReadMatrix(ctx, cPos - 1, &b);
  if (nargin >= 4) (void)ReadMatrix(ctx, cPos - 2, &lb);
  if (nargin == 5) (void)ReadMatrix(ctx, cPos - 3, &ub);
  for (int j = 0; j < n; ++j) x.re[j] = -c.re[j];
  if (!SolveLinearProgram(a.re, b.re, x.re, m, n, lb.re, lb.m, ub.re, ub.m, x.re, scratch)) return kNoConvergence;
  return DropArgsUnderResults(ctx, 1, nargin);
}
