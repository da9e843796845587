// tsearchn, griddatan, tsearch and griddata: point location in a
// triangulation by barycentric coordinates, and linear or nearest-vertex
// interpolation of values given at scattered points.
//
// The arguments stay where they came until the result is complete, so a call
// refused for room leaves the stack as it was for the engine's rerun.
#include <cmath>
#include <cstring>

#include "numeric/interpmethod.h"
#include "numeric/nativeargs.h"
#include "numeric/numeric.h"

namespace {

using numeric::Matrix;
using numeric::Method;
using numeric::PopValues;
using numeric::ReadMatrix;

bool IsTwoDimensional(EngineContext* ctx, int position) {
  int ndims = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  return GetArgDims(ctx, position, &ndims, dims, &count) == kOk && ndims == 2;
}

// Pushes the 1-based index of the simplex of T (at tPos) holding each row of X
// (at xPos), NaN where none does, for the points P at pPos; with lambda also
// a q x (n + 1) matrix of barycentric coordinates above it (NaN rows where
// not found). Positions count from the top before the call.
StatusCode Locate(EngineContext* ctx, int pPos, int tPos, int xPos, bool lambda) {
  Matrix p, t, x;
  if (ReadMatrix(ctx, pPos, &p) != kOk || ReadMatrix(ctx, tPos, &t) != kOk || ReadMatrix(ctx, xPos, &x) != kOk)
    return kWrongType;
  const int32_t n = p.n, k = t.count() ? t.m : 0, q = x.count() ? x.m : 0;
  if (k > 0 && t.n != n + 1) return kIncompSize;
  if (q > 0 && x.n != n) return kIncompSize;
  // Every entry is checked before it is truncated: a NaN, an infinity or a
  // huge value has no integer to become.
  for (int64_t e = 0; e < t.count(); ++e)
    if (!(t.re[e] >= 1 && t.re[e] < double(p.m) + 1)) return kIndexOutOfRange;

  Matrix idx, bary;
  if (StatusCode st = numeric::PushResult(ctx, q, 1, false, &idx); st != kOk) return st;
  if (lambda) {
    if (StatusCode st = numeric::PushResult(ctx, q, n + 1, false, &bary); st != kOk) {
      PopValues(ctx, 1);
      return st;
    }
  }
  const int pushed = lambda ? 2 : 1;
  const int64_t side = int64_t{n} + 1;
  double* scratch = nullptr;
  if (StatusCode st = numeric::Scratch(ctx, 2 * (n + side * side) + 2, &scratch); st != kOk) {
    PopValues(ctx, pushed);
    return st;
  }
  (void)ReadMatrix(ctx, pPos + pushed, &p);
  (void)ReadMatrix(ctx, tPos + pushed, &t);
  (void)ReadMatrix(ctx, xPos + pushed, &x);
  (void)ReadMatrix(ctx, pushed - 1, &idx);
  if (lambda) (void)ReadMatrix(ctx, 0, &bary);
  for (int32_t i = 0; i < q; ++i) idx.re[i] = NAN;
  for (int64_t e = 0; e < bary.count(); ++e) bary.re[e] = NAN;

  double* a = scratch;
  double* b = a + side * side;
  double* l = b + side * side;
  auto* perm = reinterpret_cast<int32_t*>(l + side);
  for (int32_t s = 0; s < k; ++s) {
    // Column j of A is vertex j with a 1 below; B = A^-1 maps [x; 1] to lambda.
    for (int j = 0; j <= n; ++j) {
      const double* v = p.re + (TruncateToInt64(t.re[int64_t{s} * side + j]) - 1) * n;
      for (int c = 0; c < n; ++c) a[c * side + j] = v[c];
      a[n * side + j] = 1;
    }
    for (int64_t e = 0; e < side * side; ++e) b[e] = e % (side + 1) == 0 ? 1 : 0;
    SolveRealLinearSystem(a, b, int(side), int(side), perm, false);
    for (int32_t i = 0; i < q; ++i) {
      if (!std::isnan(idx.re[i])) continue;  // the lower simplex already holds it
      const double* xi = x.re + int64_t{i} * n;
      bool inside = true;
      for (int j = 0; j <= n && inside; ++j) {
        const double* row = b + j * side;
        double v = row[n];
        for (int c = 0; c < n; ++c) v += row[c] * xi[c];
        l[j] = v;
        inside = v >= 0 && v <= 1;
      }
      if (!inside) continue;
      idx.re[i] = s + 1.0;
      if (lambda) std::memcpy(bary.re + int64_t{i} * side, l, sizeof(double) * side);
    }
  }
  return kOk;
}

// zi for the points P, values z and queries X at their positions, pushed on
// top; z must be an m x 1 column, real or complex.
StatusCode Interpolate(EngineContext* ctx, int pPos, int zPos, int xPos, Method method) {
  if (!IsTwoDimensional(ctx, pPos) || !IsTwoDimensional(ctx, zPos) || !IsTwoDimensional(ctx, xPos)) return kBadSize;
  Matrix p, z, x;
  if (ReadMatrix(ctx, pPos, &p) != kOk || ReadMatrix(ctx, zPos, &z) != kOk || ReadMatrix(ctx, xPos, &x) != kOk)
    return kWrongType;
  if (!(z.m == p.m && z.n == 1) && !(p.m == 0 && z.count() == 0)) return kBadSize;
  if (x.count() > 0 && x.n != p.n) return kIncompSize;
  const bool complex = z.im != nullptr;
  const int32_t q = x.count() ? x.m : 0;

  if (StatusCode st = TriangulateCopy(ctx, pPos); st != kOk) return st;
  if (StatusCode st = Locate(ctx, pPos + 1, 0, xPos + 1, true); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  Matrix zi;
  if (StatusCode st = numeric::PushResult(ctx, q, 1, complex, &zi); st != kOk) {
    PopValues(ctx, 3);
    return st;
  }
  Matrix t, idx, bary;
  (void)ReadMatrix(ctx, zPos + 4, &z);
  (void)ReadMatrix(ctx, 3, &t);
  (void)ReadMatrix(ctx, 2, &idx);
  (void)ReadMatrix(ctx, 1, &bary);
  const int n = t.n - 1;
  for (int32_t i = 0; i < q; ++i) {
    zi.re[i] = NAN;
    if (complex) zi.im[i] = 0;
    if (std::isnan(idx.re[i])) continue;
    const double* v = t.re + (TruncateToInt64(idx.re[i]) - 1) * t.n;
    const double* l = bary.re + int64_t{i} * t.n;
    if (method == Method::kNearest) {
      int best = 0;
      for (int j = 1; j <= n; ++j)
        if (l[j] > l[best]) best = j;
      const int64_t r = TruncateToInt64(v[best]) - 1;
      zi.re[i] = z.re[r];
      if (complex) zi.im[i] = z.im[r];
      continue;
    }
    double re = 0, im = 0;
    for (int j = 0; j <= n; ++j) {
      const int64_t r = TruncateToInt64(v[j]) - 1;
      re += l[j] * z.re[r];
      if (complex) im += l[j] * z.im[r];
    }
    zi.re[i] = re;
    if (complex) zi.im[i] = im;
  }
  return DropArgsUnderResults(ctx, 1, 3);
}

}  // namespace

StatusCode TsearchnNative(EngineContext* ctx, int nargin, int, void*) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "RRR"); st != kOk) return st;
  if (StatusCode st = Locate(ctx, 2, 1, 0, false); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, nargin);
}

// z may be complex: the result then is too.
StatusCode GriddatanNative(EngineContext* ctx, int nargin, int, void*) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "RCR[S"); st != kOk) return st;
  Method method = Method::kLinear;
  const int off = nargin - 3;
  if (off == 1) {
    if (StatusCode st = numeric::ReadMethod(ctx, 0, false, &method); st != kOk) return st;
  }
  if (StatusCode st = Interpolate(ctx, 2 + off, 1 + off, off, method); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, nargin);
}

// tsearch ('t') and griddata ('g'): [x(:) y(:)] and [xi(:) yi(:)] built above
// the arguments, the result shaped like xi.
StatusCode ScatteredNative(EngineContext* ctx, int nargin, int, void* selector) {
  const bool grid = reinterpret_cast<intptr_t>(selector) == 'g';
  if (StatusCode st = CheckArgTypes(ctx, nargin, grid ? "RRCRR[S" : "RRRRR"); st != kOk) return st;
  Method method = Method::kLinear;
  const int off = nargin - 5;
  if (off == 1) {
    if (StatusCode st = numeric::ReadMethod(ctx, 0, false, &method); st != kOk) return st;
  }
  int ndims = 0, ndimsY = 0;
  int32_t dims[kMaxDims], dimsY[kMaxDims];
  int64_t count = 0, countY = 0;
  if (GetArgDims(ctx, 1 + off, &ndims, dims, &count) != kOk || GetArgDims(ctx, off, &ndimsY, dimsY, &countY) != kOk)
    return kWrongType;
  if (ndims != ndimsY || std::memcmp(dims, dimsY, sizeof(int32_t) * size_t(ndims)) != 0) return kIncompSize;
  if (StatusCode st = JoinCoordinateColumns(ctx, 4 + off, 3 + off); st != kOk) return st;
  if (StatusCode st = JoinCoordinateColumns(ctx, 2 + off, 1 + off); st != kOk) {
    PopValues(ctx, 1);
    return st;
  }
  // P at 1, XI on top, z or tri at 4 + off.
  StatusCode st = grid ? Interpolate(ctx, 1, 4 + off, 0, method) : Locate(ctx, 1, 4 + off, 0, false);
  if (st == kOk) {
    st = ReshapeTopValue(ctx, ndims, dims);
    if (st != kOk) PopValues(ctx, 1);
  }
  if (st != kOk) {
    PopValues(ctx, 2);
    return ReportedStatus(st);
  }
  return DropArgsUnderResults(ctx, 1, nargin + 2);
}
