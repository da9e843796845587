// The "!lapack" natives for linear systems and their relatives (lu, inv, pinv,
// mldivide, mrdivide, det, rcond, chol), computed by LAPACK on column-major
// copies laid out in the free data-stack space, and the record run behind them.
//
// Every result cell is reserved (an argument reused, a placeholder pushed or
// an argument made complex) before the scratch above the data top is laid
// out: any later push would overwrite the scratch. A failure for room leaves
// the arguments as they were, so the engine can grow the block and repeat.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>

#include "numeric/lapack.h"
#include "numeric/nativeargs.h"
#include "numeric/numeric.h"

namespace {

using numeric::Matrix;
using numeric::PopValues;
using numeric::ReadMatrix;
using Z = std::complex<double>;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kEps = 2.220446049250313e-16;  // 2^-52
constexpr StatusCode kNoConvergence = 9;

// ---------------------------------------------------------------------------
// LAPACK's illegal-argument report. Each thread runs its own engine, so each
// keeps its own record.

thread_local char gBadRoutine[8] = {};
thread_local int gBadParameter = 0;

}  // namespace

// Replaces the library's own, which would print to stderr (and, in some
// builds, end the process): the report waits for the handler to turn it into 12.
extern "C" void xerbla_(const char* name, const int* info, size_t nameLength) {
  const size_t n = std::min(nameLength, sizeof gBadRoutine - 1);
  size_t k = 0;
  for (; k < n && name[k] != ' ' && name[k] != 0; ++k) gBadRoutine[k] = name[k];
  gBadRoutine[k] = 0;
  gBadParameter = *info > 0 ? *info : -1;
}

namespace numeric {

void ClearLapackError() {
  gBadParameter = 0;
  gBadRoutine[0] = 0;
}

StatusCode LapackStatus(const char** routine, int* parameter) {
  if (routine) *routine = gBadRoutine;
  if (parameter) *parameter = gBadParameter;
  return gBadParameter != 0 ? kIllegal : kOk;
}

}  // namespace numeric

namespace {

using numeric::ClearLapackError;
StatusCode LapackStatus() { return numeric::LapackStatus(nullptr, nullptr); }

// ---------------------------------------------------------------------------
// Scratch: the free space above the data top, handed out in doubles; LWORK is
// whatever remains once the fixed arrays are placed.

struct LapackScratch {
  double* next = nullptr;
  int64_t left = 0;  // doubles

  double* Doubles(int64_t n) {
    double* p = next;
    next += n;
    left -= n;
    return p;
  }
  Z* Complex(int64_t n) { return reinterpret_cast<Z*>(Doubles(2 * n)); }
  // LAPACK's integers, two to a double so that what follows stays aligned.
  int* Ints(int64_t n) { return reinterpret_cast<int*>(Doubles((n + 1) / 2)); }
  // The rest as a work array of `unit` doubles per element, for LWORK.
  int Work(int unit) const {
    return static_cast<int>(std::min<int64_t>(left / unit, std::numeric_limits<int32_t>::max()));
  }
};

// Takes the free space, failing with 3 when it holds fewer than `doubles`
// (the copies plus the routine's documented minimal work).
[[nodiscard]] StatusCode StartScratch(EngineContext* ctx, int64_t doubles, LapackScratch* s) {
  int64_t bytes = 0;
  Cell* base = nullptr;
  (void)GetFreeDataSpace(ctx, &bytes, &base);
  const int64_t free = bytes / static_cast<int64_t>(sizeof(double));
  if (free < doubles) return kDataStackFull;
  s->next = &base->f;
  s->left = free;
  return kOk;
}

// ---------------------------------------------------------------------------
// Storage converters. Engine matrices are row-major with split parts (the
// imaginary block may be absent); LAPACK's are column-major with interleaved
// complex elements.

void CopyRealToColumnMajorLd(const double* re, int m, int n, double* cm, int ld) {
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) cm[i + int64_t{j} * ld] = re[int64_t{i} * n + j];
}
void CopyRealToColumnMajor(const double* re, int m, int n, double* cm) { CopyRealToColumnMajorLd(re, m, n, cm, m); }

void CopyComplexToColumnMajorLd(const double* re, const double* im, int m, int n, Z* cm, int ld) {
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) {
      const int64_t k = int64_t{i} * n + j;
      cm[i + int64_t{j} * ld] = Z(re[k], im ? im[k] : 0.0);
    }
}
void CopyComplexToColumnMajor(const double* re, const double* im, int m, int n, Z* cm) {
  CopyComplexToColumnMajorLd(re, im, m, n, cm, m);
}

// The row-major cells read column-major are the transpose: a plain copy.
void CopyRealAsTransposed(const double* re, int64_t count, double* cm) { std::memcpy(cm, re, count * sizeof(double)); }

// Row i of the m x n row-major matrix becomes column i of an array with leading dimension ld.
void CopyRealAsTransposedLd(const double* re, int m, int n, double* cm, int ld, double sign = 1.0) {
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) cm[j + int64_t{i} * ld] = sign * re[int64_t{i} * n + j];
}

void InterleaveComplexAsTransposed(const double* re, const double* im, int64_t count, Z* cm) {
  for (int64_t k = 0; k < count; ++k) cm[k] = Z(re[k], im ? im[k] : 0.0);
}
void InterleaveConjugateAsTransposed(const double* re, const double* im, int64_t count, Z* cm) {
  for (int64_t k = 0; k < count; ++k) cm[k] = Z(re[k], im ? -im[k] : 0.0);
}
void InterleaveConjugateAsTransposedLd(const double* re, const double* im, int m, int n, Z* cm, int ld) {
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) {
      const int64_t k = int64_t{i} * n + j;
      cm[j + int64_t{i} * ld] = Z(re[k], im ? -im[k] : 0.0);
    }
}

void FillRealIdentity(int n, double* cm) {
  std::fill(cm, cm + int64_t{n} * n, 0.0);
  for (int i = 0; i < n; ++i) cm[i + int64_t{i} * n] = 1.0;
}
void FillComplexIdentity(int n, Z* cm) {
  std::fill(cm, cm + int64_t{n} * n, Z(0.0));
  for (int i = 0; i < n; ++i) cm[i + int64_t{i} * n] = 1.0;
}

void CopyRealFromColumnMajorLd(const double* cm, int ld, int m, int n, double* re) {
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) re[int64_t{i} * n + j] = cm[i + int64_t{j} * ld];
}
void CopyRealFromColumnMajor(const double* cm, int m, int n, double* re) { CopyRealFromColumnMajorLd(cm, m, m, n, re); }

void CopyComplexFromColumnMajorLd(const Z* cm, int ld, int m, int n, double* re, double* im) {
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) {
      const Z z = cm[i + int64_t{j} * ld];
      re[int64_t{i} * n + j] = z.real();
      im[int64_t{i} * n + j] = z.imag();
    }
}
void CopyComplexFromColumnMajor(const Z* cm, int m, int n, double* re, double* im) {
  CopyComplexFromColumnMajorLd(cm, m, m, n, re, im);
}

void CopyRealAsTransposedBack(const double* cm, int64_t count, double* re) {
  std::memcpy(re, cm, count * sizeof(double));
}

// The leading `rows` rows of an array with leading dimension ld, transposed
// into a row-major (cols x rows) matrix; sign negates (a conjugate's imaginary part).
void CopyRealColumnsFromLd(const double* cm, int ld, int rows, int cols, double* re, double sign = 1.0) {
  for (int j = 0; j < cols; ++j)
    for (int i = 0; i < rows; ++i) re[int64_t{j} * rows + i] = sign * cm[i + int64_t{j} * ld];
}

void SplitComplexAsTransposed(const Z* cm, int64_t count, double* re, double* im) {
  for (int64_t k = 0; k < count; ++k) {
    re[k] = cm[k].real();
    im[k] = cm[k].imag();
  }
}

void SplitConjugateFromLd(const Z* cm, int ld, int rows, int cols, double* re, double* im) {
  for (int j = 0; j < cols; ++j)
    for (int i = 0; i < rows; ++i) {
      const Z z = cm[i + int64_t{j} * ld];
      re[int64_t{j} * rows + i] = z.real();
      im[int64_t{j} * rows + i] = -z.imag();
    }
}

// Lower (with a unit diagonal) or upper triangle of an n x n column-major
// factor into row-major form; `perm` sends row i of the factor to row perm[i].
template <typename T>
T UnitLowerAt(const T* cm, int n, int i, int j) {
  if (i == j) return T(1.0);
  return i > j ? cm[i + int64_t{j} * n] : T(0.0);
}
void ExtractPermutedLowerReal(const double* cm, int n, const int* perm, double* re) {
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) re[int64_t{perm ? perm[i] : i} * n + j] = UnitLowerAt(cm, n, i, j);
}
void ExtractPermutedLowerComplex(const Z* cm, int n, const int* perm, double* re, double* im) {
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const Z z = UnitLowerAt(cm, n, i, j);
      const int64_t k = int64_t{perm ? perm[i] : i} * n + j;
      re[k] = z.real();
      im[k] = z.imag();
    }
}
void ExtractLowerReal(const double* cm, int n, double* re) { ExtractPermutedLowerReal(cm, n, nullptr, re); }
void ExtractLowerComplex(const Z* cm, int n, double* re, double* im) {
  ExtractPermutedLowerComplex(cm, n, nullptr, re, im);
}
void ExtractUpperReal(const double* cm, int n, double* re) {
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) re[int64_t{i} * n + j] = j >= i ? cm[i + int64_t{j} * n] : 0.0;
}
void ExtractUpperComplex(const Z* cm, int n, double* re, double* im) {
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const Z z = j >= i ? cm[i + int64_t{j} * n] : Z(0.0);
      re[int64_t{i} * n + j] = z.real();
      im[int64_t{i} * n + j] = z.imag();
    }
}

void FillWithInfinity(int64_t count, double* re) { std::fill(re, re + count, kInf); }

// perm[i] = the original row that LAPACK's pivoting moved to row i.
void PermutationFromPivots(const int* ipiv, int n, int* perm) {
  for (int i = 0; i < n; ++i) perm[i] = i;
  for (int i = 0; i < n; ++i) std::swap(perm[i], perm[ipiv[i] - 1]);
}

// ---------------------------------------------------------------------------
// Shared steps.

int OutputsOf(int nargout) { return nargout < 1 ? 1 : nargout; }

// Reads the single matrix argument (spec "C") and checks it is square.
[[nodiscard]] StatusCode ReadSquare(EngineContext* ctx, int nargin, Matrix* a) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "C"); st != kOk) return st;
  if (StatusCode st = ReadMatrix(ctx, 0, a); st != kOk) return st;
  return a->m == a->n ? kOk : kBadSize;
}

// Pushes the top result matrices of `shape` (last output first); on a
// failure the ones pushed go again, so the stack is as it was.
[[nodiscard]] StatusCode PushPlaceholders(EngineContext* ctx, int count, int m, int n, const bool* complex) {
  for (int k = 0; k < count; ++k) {
    double *re = nullptr, *im = nullptr;
    if (StatusCode st = PushDoubleMatrix(ctx, m, n, &re, complex[k] ? &im : nullptr); st != kOk) {
      PopValues(ctx, k);
      return st;
    }
  }
  return kOk;
}

// Multiplies every cell of the double array at `position` by 1/a.
[[nodiscard]] StatusCode ScaleByReciprocal(EngineContext* ctx, int position, double a) {
  int ndims = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  double *re = nullptr, *im = nullptr;
  if (StatusCode st = GetDoubleArrayArg(ctx, position, &ndims, dims, &count, &re, &im); st != kOk) return st;
  const double r = 1.0 / a;
  for (int64_t k = 0; k < count; ++k) re[k] *= r;
  if (im)
    for (int64_t k = 0; k < count; ++k) im[k] *= r;
  return kOk;
}

// The value of a one-element real double array at `position`.
bool IsRealScalarDivisor(EngineContext* ctx, int position, double* a) {
  int ndims = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  double *re = nullptr, *im = nullptr;
  if (GetDoubleArrayArg(ctx, position, &ndims, dims, &count, &re, &im) != kOk || count != 1 || im) return false;
  *a = re[0];
  return true;
}

bool IsSingleScalar(EngineContext* ctx, int position) {
  int ndims = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  float *re = nullptr, *im = nullptr;
  return GetSingleArrayArg(ctx, position, &ndims, dims, &count, &re, &im) == kOk && count == 1;
}

bool IsDoubleArray(EngineContext* ctx, int position) {
  int ndims = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  double *re = nullptr, *im = nullptr;
  return GetDoubleArrayArg(ctx, position, &ndims, dims, &count, &re, &im) == kOk;
}

// The element-wise operator the scalar cases of a division go to, with the
// same two arguments.
[[nodiscard]] StatusCode HandOver(EngineContext* ctx, const char* name) {
  return CallFunctionByName(ctx, name, static_cast<int32_t>(std::strlen(name)), 0, 2, 1, false, true, true);
}

}  // namespace

// ---------------------------------------------------------------------------
// Factorisations.

StatusCode HandleLapackLu(EngineContext* ctx, int nargin, int nargout, void*) {
  nargout = OutputsOf(nargout);
  Matrix a;
  if (StatusCode st = ReadSquare(ctx, nargin, &a); st != kOk) return st;
  const int n = a.n;
  if (n == 0) {
    for (int k = 1; k < nargout; ++k)
      if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) {
        PopValues(ctx, k - 1);
        return st;
      }
    return kOk;
  }
  const bool complex = a.im != nullptr;
  // A real argument's cells take the deepest result; a complex one is dropped.
  const int pushed = complex ? nargout : nargout - 1;
  // In push order, deepest first; P is real.
  bool parts[3] = {};
  for (int k = 0; k < pushed; ++k) parts[k] = complex && !(nargout == 3 && k == 0);
  if (StatusCode st = PushPlaceholders(ctx, pushed, n, n, parts); st != kOk) return st;
  const int64_t cells = int64_t{n} * n;
  LapackScratch s;
  if (StatusCode st = StartScratch(ctx, (complex ? 2 : 1) * cells + n + 1, &s); st != kOk) {
    PopValues(ctx, pushed);
    return st;
  }
  int* ipiv = nullptr;
  int info = 0;
  double* cm = nullptr;
  Z* zm = nullptr;
  ClearLapackError();
  if (complex) {
    zm = s.Complex(cells);
    ipiv = s.Ints(n);
    CopyComplexToColumnMajor(a.re, a.im, n, n, zm);
    zgetrf_(&n, &n, zm, &n, ipiv, &info);
  } else {
    cm = s.Doubles(cells);
    ipiv = s.Ints(n);
    CopyRealToColumnMajor(a.re, n, n, cm);
    dgetrf_(&n, &n, cm, &n, ipiv, &info);
  }
  if (StatusCode st = LapackStatus(); st != kOk) {
    PopValues(ctx, pushed);
    return st;
  }
  // Outputs by position: the first on top. A real argument lies under them all.
  Matrix out[3];
  for (int k = 0; k < nargout; ++k) (void)ReadMatrix(ctx, k, &out[k]);
  int* perm = s.Ints(n);
  PermutationFromPivots(ipiv, n, perm);
  if (nargout == 1) {
    if (complex)
      CopyComplexFromColumnMajor(zm, n, n, out[0].re, out[0].im);
    else
      CopyRealFromColumnMajor(cm, n, n, out[0].re);
  } else {
    // Two outputs: A = L·U with L's rows put back in A's order; three: P·A = L·U.
    if (complex) {
      if (nargout == 2)
        ExtractPermutedLowerComplex(zm, n, perm, out[0].re, out[0].im);
      else
        ExtractLowerComplex(zm, n, out[0].re, out[0].im);
      ExtractUpperComplex(zm, n, out[1].re, out[1].im);
    } else {
      if (nargout == 2)
        ExtractPermutedLowerReal(cm, n, perm, out[0].re);
      else
        ExtractLowerReal(cm, n, out[0].re);
      ExtractUpperReal(cm, n, out[1].re);
    }
  }
  if (nargout == 3) {
    std::fill(out[2].re, out[2].re + cells, 0.0);
    for (int i = 0; i < n; ++i) out[2].re[int64_t{i} * n + perm[i]] = 1.0;
  }
  if (complex) (void)DropArgsUnderResults(ctx, nargout, 1);
  return kOk;
}

StatusCode HandleLapackChol(EngineContext* ctx, int nargin, int, void*) {
  Matrix a;
  if (StatusCode st = ReadSquare(ctx, nargin, &a); st != kOk) return st;
  const int n = a.n;
  if (n == 0) return kOk;
  const int64_t cells = int64_t{n} * n;
  LapackScratch s;
  if (StatusCode st = StartScratch(ctx, (a.im ? 2 : 1) * cells, &s); st != kOk) return st;
  int info = 0;
  ClearLapackError();
  if (a.im) {
    Z* zm = s.Complex(cells);
    CopyComplexToColumnMajor(a.re, a.im, n, n, zm);
    zpotrf_("U", &n, zm, &n, &info, 1);
    if (LapackStatus() == kOk && info == 0) ExtractUpperComplex(zm, n, a.re, a.im);
  } else {
    double* cm = s.Doubles(cells);
    CopyRealToColumnMajor(a.re, n, n, cm);
    dpotrf_("U", &n, cm, &n, &info, 1);
    if (LapackStatus() == kOk && info == 0) ExtractUpperReal(cm, n, a.re);
  }
  if (StatusCode st = LapackStatus(); st != kOk) return st;
  return info > 0 ? kBadArg : kOk;
}

// ---------------------------------------------------------------------------
// Inverse, determinant, condition.

StatusCode HandleLapackInv(EngineContext* ctx, int nargin, int, void*) {
  Matrix a;
  if (StatusCode st = ReadSquare(ctx, nargin, &a); st != kOk) return st;
  const int n = a.n;
  if (n == 0) return kOk;
  const int64_t cells = int64_t{n} * n;
  const int unit = a.im ? 2 : 1;
  LapackScratch s;
  if (StatusCode st = StartScratch(ctx, 2 * unit * cells + n + 1, &s); st != kOk) return st;
  int info = 0;
  ClearLapackError();
  if (a.im) {
    Z* zm = s.Complex(cells);
    int* ipiv = s.Ints(n);
    Z* b = s.Complex(cells);
    CopyComplexToColumnMajor(a.re, a.im, n, n, zm);
    FillComplexIdentity(n, b);
    zgesv_(&n, &n, zm, &n, ipiv, b, &n, &info);
    if (LapackStatus() == kOk && info == 0) CopyComplexFromColumnMajor(b, n, n, a.re, a.im);
  } else {
    double* cm = s.Doubles(cells);
    int* ipiv = s.Ints(n);
    double* b = s.Doubles(cells);
    CopyRealToColumnMajor(a.re, n, n, cm);
    FillRealIdentity(n, b);
    dgesv_(&n, &n, cm, &n, ipiv, b, &n, &info);
    if (LapackStatus() == kOk && info == 0) CopyRealFromColumnMajor(b, n, n, a.re);
  }
  if (StatusCode st = LapackStatus(); st != kOk) return st;
  if (info > 0) {
    // Exactly singular: no error, a real matrix of +Inf.
    FillWithInfinity(cells, a.re);
    return DropImaginaryPart(ctx);
  }
  return kOk;
}

namespace {

// Factors the square argument on top in scratch: the determinant or the
// reciprocal condition number, never failing for room beyond 3.
[[nodiscard]] StatusCode FactorOnTop(EngineContext* ctx, int nargin, bool condition, Z* value) {
  Matrix a;
  if (StatusCode st = ReadSquare(ctx, nargin, &a); st != kOk) return st;
  const int n = a.n;
  if (n == 0) {
    *value = 1.0;
    return kOk;
  }
  const int64_t cells = int64_t{n} * n;
  LapackScratch s;
  // dgecon: 4n work and n integers; zgecon: 2n complex work and 2n reals.
  if (StatusCode st = StartScratch(ctx, (a.im ? 2 : 1) * cells + n + 1 + 6 * int64_t{n}, &s); st != kOk) return st;
  int* ipiv = nullptr;
  int info = 0;
  ClearLapackError();
  if (a.im) {
    Z* zm = s.Complex(cells);
    ipiv = s.Ints(n);
    CopyComplexToColumnMajor(a.re, a.im, n, n, zm);
    const double anorm = zlange_("1", &n, &n, zm, &n, nullptr, 1);
    zgetrf_(&n, &n, zm, &n, ipiv, &info);
    if (condition) {
      double rc = 0;
      Z* work = s.Complex(2 * int64_t{n});
      double* rwork = s.Doubles(2 * int64_t{n});
      zgecon_("1", &n, zm, &n, &anorm, &rc, work, rwork, &info, 1);
      *value = rc;
    } else {
      Z det = 1.0;
      for (int i = 0; i < n; ++i) det *= zm[i + int64_t{i} * n];
      *value = det;
    }
  } else {
    double* cm = s.Doubles(cells);
    ipiv = s.Ints(n);
    CopyRealToColumnMajor(a.re, n, n, cm);
    const double anorm = dlange_("1", &n, &n, cm, &n, nullptr, 1);
    dgetrf_(&n, &n, cm, &n, ipiv, &info);
    if (condition) {
      double rc = 0;
      double* work = s.Doubles(4 * int64_t{n});
      int* iwork = s.Ints(n);
      dgecon_("1", &n, cm, &n, &anorm, &rc, work, iwork, &info, 1);
      *value = rc;
    } else {
      double det = 1.0;
      for (int i = 0; i < n; ++i) det *= cm[i + int64_t{i} * n];
      *value = det;
    }
  }
  if (StatusCode st = LapackStatus(); st != kOk) return st;
  if (!condition) {
    int swaps = 0;
    for (int i = 0; i < n; ++i) swaps += ipiv[i] != i + 1;
    if (swaps % 2) *value = -*value;
  }
  return kOk;
}

}  // namespace

StatusCode HandleLapackDet(EngineContext* ctx, int nargin, int, void*) {
  Z det = 0;
  if (StatusCode st = FactorOnTop(ctx, nargin, false, &det); st != kOk) return st;
  // The empty argument frees no cell; the scalar is pushed before it goes.
  if (StatusCode st = PushComplexScalar(ctx, det.real(), det.imag()); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode HandleLapackRcond(EngineContext* ctx, int nargin, int, void*) {
  Z rc = 0;
  if (StatusCode st = FactorOnTop(ctx, nargin, true, &rc); st != kOk) return st;
  if (StatusCode st = PushRealScalar(ctx, rc.real()); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

// ---------------------------------------------------------------------------
// Least squares.

namespace {

// Minimal work of xGELSS for an m x n problem with nrhs right-hand sides, in
// doubles (the complex routine also takes 5·min(m, n) reals of RWORK).
int64_t GelssWork(bool complex, int m, int n, int nrhs) {
  const int64_t mn = std::min(m, n), mx = std::max({m, n, nrhs});
  if (complex) return 2 * (2 * mn + mx) + 5 * mn;
  return 3 * mn + std::max(2 * mn, mx);
}

// xGELSS on the arrays laid out in s (A m x n with leading dimension m, B
// with leading dimension ldb); the singular values and the work follow.
[[nodiscard]] StatusCode SolveLeastSquares(LapackScratch* s, int m, int n, int nrhs, double* a, double* b, int ldb,
                                           Z* za, Z* zb, double rcond) {
  const int mn = std::min(m, n);
  double* sv = s->Doubles(mn);
  int rank = 0, info = 0;
  ClearLapackError();
  if (za) {
    double* rwork = s->Doubles(5 * int64_t{mn});
    const int lwork = s->Work(2);
    zgelss_(&m, &n, &nrhs, za, &m, zb, &ldb, sv, &rcond, &rank, reinterpret_cast<Z*>(s->next), &lwork, rwork, &info);
  } else {
    const int lwork = s->Work(1);
    dgelss_(&m, &n, &nrhs, a, &m, b, &ldb, sv, &rcond, &rank, s->next, &lwork, &info);
  }
  if (StatusCode st = LapackStatus(); st != kOk) return st;
  return info > 0 ? kNoConvergence : kOk;
}

}  // namespace

StatusCode HandleLapackPinv(EngineContext* ctx, int nargin, int, void*) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "C[r"); st != kOk) return st;
  double tol = -1;
  // Read in place: the tolerance goes with the matrix once the result stands.
  if (nargin == 2)
    if (StatusCode st = GetRealScalarArg(ctx, 0, &tol); st != kOk) return st;
  Matrix a;
  if (StatusCode st = ReadMatrix(ctx, nargin - 1, &a); st != kOk) return st;
  const int m = a.m, n = a.n;
  if (m == 0 || n == 0) {
    if (nargin == 2) PopValues(ctx, 1);
    return kOk;
  }
  const bool complex = a.im != nullptr;
  const int mx = std::max(m, n), mn = std::min(m, n);
  const double rcond = tol < 0 ? mx * kEps : tol;
  Matrix x;
  if (StatusCode st = numeric::PushResult(ctx, n, m, complex, &x); st != kOk) return st;
  (void)ReadMatrix(ctx, nargin, &a);
  const int unit = complex ? 2 : 1;
  const int64_t fixed = unit * (int64_t{mx} * mn + int64_t{mx} * mx) + mn;
  LapackScratch s;
  if (StatusCode st = StartScratch(ctx, fixed + GelssWork(complex, mx, mn, mx), &s); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  // Always the tall problem: A·X = I for m >= n, else Aᴴ·Y = I and X = Yᴴ.
  StatusCode st = kOk;
  if (complex) {
    Z* za = s.Complex(int64_t{mx} * mn);
    Z* zb = s.Complex(int64_t{mx} * mx);
    if (m >= n)
      CopyComplexToColumnMajor(a.re, a.im, m, n, za);
    else
      InterleaveConjugateAsTransposed(a.re, a.im, a.count(), za);
    FillComplexIdentity(mx, zb);
    st = SolveLeastSquares(&s, mx, mn, mx, nullptr, nullptr, mx, za, zb, rcond);
    if (st == kOk && m >= n) CopyComplexFromColumnMajorLd(zb, mx, n, m, x.re, x.im);
    if (st == kOk && m < n) SplitConjugateFromLd(zb, mx, m, n, x.re, x.im);
  } else {
    double* ra = s.Doubles(int64_t{mx} * mn);
    double* rb = s.Doubles(int64_t{mx} * mx);
    if (m >= n)
      CopyRealToColumnMajor(a.re, m, n, ra);
    else
      CopyRealAsTransposed(a.re, a.count(), ra);
    FillRealIdentity(mx, rb);
    st = SolveLeastSquares(&s, mx, mn, mx, ra, rb, mx, nullptr, nullptr, rcond);
    if (st == kOk && m >= n) CopyRealFromColumnMajorLd(rb, mx, n, m, x.re);
    if (st == kOk && m < n) CopyRealColumnsFromLd(rb, mx, m, n, x.re);
  }
  if (st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  return DropArgsUnderResults(ctx, 1, nargin);
}

// ---------------------------------------------------------------------------
// Division. A\B and B/A share the scalar cases and the checks of the
// operands; `divisor` and `dividend` are the operands' positions.

namespace {

// 0 to go on with a matrix division; 1 when the call is settled (the scalar
// divisor or a hand-over); otherwise the error.
[[nodiscard]] StatusCode DivideScalarCases(EngineContext* ctx, int divisor, int dividend, const char* spec,
                                           const char* elementwise, bool* settled) {
  *settled = true;
  double a = 0;
  if (IsRealScalarDivisor(ctx, divisor, &a) && IsDoubleArray(ctx, dividend)) {
    if (StatusCode st = ScaleByReciprocal(ctx, dividend, a); st != kOk) return st;
    return DropArgsUnderResults(ctx, divisor == 0 ? 0 : 1, 1);
  }
  if (CheckArgTypes(ctx, 2, "CC") != kOk && CheckArgTypes(ctx, 2, spec) != kOk)
    return IsSingleScalar(ctx, divisor) ? HandOver(ctx, elementwise) : kWrongType;
  Matrix d;
  if (StatusCode st = ReadMatrix(ctx, divisor, &d); st != kOk) return st;
  if (d.count() == 1) return HandOver(ctx, elementwise);
  // The dividend must be a matrix now: "cA" let an array of more dimensions through.
  Matrix b;
  if (ReadMatrix(ctx, dividend, &b) != kOk) return kWrongType;
  *settled = false;
  return kOk;
}

}  // namespace

StatusCode HandleLapackMldivide(EngineContext* ctx, int, int, void*) {
  bool settled = false;
  if (StatusCode st = DivideScalarCases(ctx, 1, 0, "cA", "ldivide", &settled); st != kOk || settled) return st;
  Matrix a, b;
  (void)ReadMatrix(ctx, 1, &a);
  (void)ReadMatrix(ctx, 0, &b);
  if (b.m >= 1 && b.m != a.m) return kIncompSize;
  if (a.m == 0 || b.m == 0) {
    if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, 2);
  }
  const int m = a.m, n = a.n, q = b.n;
  if (m == n) {
    // A complex A needs a complex B to hold the result.
    if (a.im && !b.im) {
      if (StatusCode st = MakeTopComplex(ctx, nullptr); st != kOk) return st;
      (void)ReadMatrix(ctx, 1, &a);
      (void)ReadMatrix(ctx, 0, &b);
    }
    const int64_t cells = int64_t{n} * n, rhs = int64_t{n} * q;
    LapackScratch s;
    if (StatusCode st = StartScratch(ctx, (a.im ? 2 : 1) * cells + n + 1 + 2 * rhs, &s); st != kOk) return st;
    int info = 0;
    ClearLapackError();
    if (a.im) {
      Z* za = s.Complex(cells);
      int* ipiv = s.Ints(n);
      Z* zb = s.Complex(rhs);
      CopyComplexToColumnMajor(a.re, a.im, n, n, za);
      CopyComplexToColumnMajor(b.re, b.im, n, q, zb);
      zgesv_(&n, &q, za, &n, ipiv, zb, &n, &info);
      if (LapackStatus() == kOk && info == 0) CopyComplexFromColumnMajor(zb, n, q, b.re, b.im);
    } else {
      // The parts of a complex B side by side: one factorisation serves both.
      const int nrhs = b.im ? 2 * q : q;
      double* ra = s.Doubles(cells);
      int* ipiv = s.Ints(n);
      double* rb = s.Doubles(int64_t{n} * nrhs);
      CopyRealToColumnMajor(a.re, n, n, ra);
      CopyRealToColumnMajor(b.re, n, q, rb);
      if (b.im) CopyRealToColumnMajor(b.im, n, q, rb + rhs);
      dgesv_(&n, &nrhs, ra, &n, ipiv, rb, &n, &info);
      if (LapackStatus() == kOk && info == 0) {
        CopyRealFromColumnMajor(rb, n, q, b.re);
        if (b.im) CopyRealFromColumnMajor(rb + rhs, n, q, b.im);
      }
    }
    if (StatusCode st = LapackStatus(); st != kOk) return st;
    if (info > 0) {
      FillWithInfinity(rhs, b.re);
      if (StatusCode st = DropImaginaryPart(ctx); st != kOk) return st;
    }
    return DropArgsUnderResults(ctx, 1, 1);
  }
  // Minimum-norm least squares; the n x q result is pushed first.
  const bool complex = a.im != nullptr || b.im != nullptr;
  const int ld = std::max(m, n);
  Matrix x;
  if (StatusCode st = numeric::PushResult(ctx, n, q, complex, &x); st != kOk) return st;
  (void)ReadMatrix(ctx, 2, &a);
  (void)ReadMatrix(ctx, 1, &b);
  const int nrhs = a.im == nullptr && b.im != nullptr ? 2 * q : q;
  const int unit = a.im ? 2 : 1;
  const int64_t fixed = unit * (int64_t{m} * n + int64_t{ld} * nrhs) + std::min(m, n);
  LapackScratch s;
  if (StatusCode st = StartScratch(ctx, fixed + GelssWork(a.im != nullptr, m, n, nrhs), &s); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  const double rcond = ld * kEps;
  StatusCode st = kOk;
  if (a.im) {
    Z* za = s.Complex(int64_t{m} * n);
    Z* zb = s.Complex(int64_t{ld} * q);
    CopyComplexToColumnMajor(a.re, a.im, m, n, za);
    CopyComplexToColumnMajorLd(b.re, b.im, m, q, zb, ld);
    st = SolveLeastSquares(&s, m, n, q, nullptr, nullptr, ld, za, zb, rcond);
    if (st == kOk) CopyComplexFromColumnMajorLd(zb, ld, n, q, x.re, x.im);
  } else {
    double* ra = s.Doubles(int64_t{m} * n);
    double* rb = s.Doubles(int64_t{ld} * nrhs);
    const int64_t half = int64_t{ld} * q;
    CopyRealToColumnMajor(a.re, m, n, ra);
    CopyRealToColumnMajorLd(b.re, m, q, rb, ld);
    if (b.im) CopyRealToColumnMajorLd(b.im, m, q, rb + half, ld);
    st = SolveLeastSquares(&s, m, n, nrhs, ra, rb, ld, nullptr, nullptr, rcond);
    if (st == kOk) {
      CopyRealFromColumnMajorLd(rb, ld, n, q, x.re);
      if (b.im) CopyRealFromColumnMajorLd(rb + half, ld, n, q, x.im);
    }
  }
  if (st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  return DropArgsUnderResults(ctx, 1, 2);
}

StatusCode HandleLapackMrdivide(EngineContext* ctx, int, int, void*) {
  bool settled = false;
  if (StatusCode st = DivideScalarCases(ctx, 0, 1, "Ac", "rdivide", &settled); st != kOk || settled) return st;
  Matrix a, b;
  (void)ReadMatrix(ctx, 0, &a);
  (void)ReadMatrix(ctx, 1, &b);
  if (b.n >= 1 && b.n != a.n) return kIncompSize;
  if (a.n == 0 || b.n == 0) {
    if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, 2);
  }
  const int m = a.m, n = a.n, p = b.m;
  const int64_t rhs = int64_t{n} * p;
  if (m == n && !a.im) {
    // Aᵀ·Xᵀ = Bᵀ: the row-major cells read column-major already are the
    // transposes, and Xᵀ written back column-major is X row-major in B's cells.
    const int nrhs = b.im ? 2 * p : p;
    const int64_t cells = int64_t{n} * n;
    LapackScratch s;
    if (StatusCode st = StartScratch(ctx, cells + n + 1 + int64_t{n} * nrhs, &s); st != kOk) return st;
    double* ra = s.Doubles(cells);
    int* ipiv = s.Ints(n);
    double* rb = s.Doubles(int64_t{n} * nrhs);
    CopyRealAsTransposed(a.re, cells, ra);
    CopyRealAsTransposed(b.re, rhs, rb);
    if (b.im) CopyRealAsTransposed(b.im, rhs, rb + rhs);
    int info = 0;
    ClearLapackError();
    dgesv_(&n, &nrhs, ra, &n, ipiv, rb, &n, &info);
    if (StatusCode st = LapackStatus(); st != kOk) return st;
    PopValues(ctx, 1);
    if (info > 0) {
      FillWithInfinity(rhs, b.re);
      return DropImaginaryPart(ctx);
    }
    CopyRealAsTransposedBack(rb, rhs, b.re);
    if (b.im) CopyRealAsTransposedBack(rb + rhs, rhs, b.im);
    return kOk;
  }
  if (m == n) {
    // Complex A: plain transposes. A real B gets a placeholder of its size so
    // that, with B's own cells, there is room for the complex result.
    const int64_t cells = int64_t{n} * n;
    const int held = b.im ? 2 : 3;
    if (!b.im) {
      Matrix ph;
      if (StatusCode st = numeric::PushResult(ctx, p, n, false, &ph); st != kOk) return st;
      (void)ReadMatrix(ctx, 1, &a);
      (void)ReadMatrix(ctx, 2, &b);
    }
    LapackScratch s;
    if (StatusCode st = StartScratch(ctx, 2 * cells + n + 1 + 2 * rhs, &s); st != kOk) {
      if (held == 3) PopValues(ctx, 1);
      return st;
    }
    Z* za = s.Complex(cells);
    int* ipiv = s.Ints(n);
    Z* zb = s.Complex(rhs);
    InterleaveComplexAsTransposed(a.re, a.im, cells, za);
    InterleaveComplexAsTransposed(b.re, b.im, rhs, zb);
    int info = 0;
    ClearLapackError();
    zgesv_(&n, &p, za, &n, ipiv, zb, &n, &info);
    if (StatusCode st = LapackStatus(); st != kOk) {
      if (held == 3) PopValues(ctx, 1);
      return st;
    }
    // Every value dropped frees at least the result's cells, so the push
    // below stays under the scratch it reads from.
    PopValues(ctx, held);
    double *re = nullptr, *im = nullptr;
    if (StatusCode st = PushDoubleMatrix(ctx, p, n, &re, info > 0 ? nullptr : &im); st != kOk) return st;
    if (info > 0)
      FillWithInfinity(rhs, re);
    else
      SplitComplexAsTransposed(zb, rhs, re, im);
    return kOk;
  }
  // Least squares of the conjugate transposes: Aᴴ·Y = Bᴴ, X = Yᴴ (p x m).
  const bool complex = a.im != nullptr || b.im != nullptr;
  const int ld = std::max(m, n);
  Matrix x;
  if (StatusCode st = numeric::PushResult(ctx, p, m, complex, &x); st != kOk) return st;
  (void)ReadMatrix(ctx, 1, &a);
  (void)ReadMatrix(ctx, 2, &b);
  const int nrhs = a.im == nullptr && b.im != nullptr ? 2 * p : p;
  const int unit = a.im ? 2 : 1;
  const int64_t fixed = unit * (int64_t{m} * n + int64_t{ld} * nrhs) + std::min(m, n);
  LapackScratch s;
  if (StatusCode st = StartScratch(ctx, fixed + GelssWork(a.im != nullptr, n, m, nrhs), &s); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  const double rcond = ld * kEps;
  StatusCode st = kOk;
  if (a.im) {
    Z* za = s.Complex(int64_t{m} * n);
    Z* zb = s.Complex(int64_t{ld} * p);
    InterleaveConjugateAsTransposed(a.re, a.im, a.count(), za);
    InterleaveConjugateAsTransposedLd(b.re, b.im, p, n, zb, ld);
    st = SolveLeastSquares(&s, n, m, p, nullptr, nullptr, ld, za, zb, rcond);
    if (st == kOk) SplitConjugateFromLd(zb, ld, m, p, x.re, x.im);
  } else {
    double* ra = s.Doubles(int64_t{m} * n);
    double* rb = s.Doubles(int64_t{ld} * nrhs);
    const int64_t half = int64_t{ld} * p;
    CopyRealAsTransposed(a.re, a.count(), ra);
    CopyRealAsTransposedLd(b.re, p, n, rb, ld);
    // Bᴴ's imaginary part is -Bim transposed; X's is minus Y's again.
    if (b.im) CopyRealAsTransposedLd(b.im, p, n, rb + half, ld, -1.0);
    st = SolveLeastSquares(&s, n, m, nrhs, ra, rb, ld, nullptr, nullptr, rcond);
    if (st == kOk) {
      CopyRealColumnsFromLd(rb, ld, m, p, x.re);
      if (b.im) CopyRealColumnsFromLd(rb + half, ld, m, p, x.im, -1.0);
    }
  }
  if (st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  return DropArgsUnderResults(ctx, 1, 2);
}

// ---------------------------------------------------------------------------
// The record run, in the order compiled code numbers it.

namespace {

constexpr NativeFunctionRecord Lapack(const char* name, NativeHandler handler, uint8_t minIn, uint8_t maxIn,
                                      uint8_t minOut, uint8_t maxOut) {
  NativeFunctionRecord r{};
  r.handler = handler;
  for (int k = 0; name[k] != 0; ++k) r.name[k] = name[k];
  r.minInputs = minIn;
  r.maxInputs = maxIn;
  r.minOutputs = minOut;
  r.maxOutputs = maxOut;
  return r;
}

constexpr NativeFunctionRecord kLapackNatives[] = {
    Lapack("!lapack", nullptr, 0, 0, 0, 0),
    Lapack("chol", &HandleLapackChol, 1, 1, 1, 1),
    Lapack("det", &HandleLapackDet, 1, 1, 1, 1),
    Lapack("inv", &HandleLapackInv, 1, 1, 1, 1),
    Lapack("lu", &HandleLapackLu, 1, 1, 1, 3),
    Lapack("mldivide", &HandleLapackMldivide, 2, 2, 1, 1),
    Lapack("mrdivide", &HandleLapackMrdivide, 2, 2, 1, 1),
    Lapack("pinv", &HandleLapackPinv, 1, 2, 1, 1),
    Lapack("rcond", &HandleLapackRcond, 1, 1, 1, 1),
    NativeFunctionRecord{},
};

}  // namespace

const NativeFunctionRecord* GetLapackNativeTable() { return kLapackNatives; }
