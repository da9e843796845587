// interp1 and interpn: nearest, previous, next and (multi)linear interpolation
// on monotonic coordinate vectors, with one fixed value outside the grid.
//
// The method string and the extrapolation value are read in place and dropped
// with the inputs at the end, so that a result refused for room leaves the
// arguments as they came for the engine's rerun.
#include <cmath>
#include <cstring>

#include "numeric/interpmethod.h"
#include "numeric/nativeargs.h"
#include "numeric/numeric.h"

namespace {

constexpr int kMaxGridDims = 16;
constexpr char kUnsortedId[] = "RVO:unsorted";
constexpr char kUnsortedMessage[] = "Coordinates are not monotonic";

using numeric::Method;

// A coordinate vector; without one the nodes sit at 1..n.
struct Axis {
  const double* x = nullptr;
  int64_t n = 0;
  double operator[](int64_t i) const { return x ? x[i] : double(i + 1); }
  bool increasing() const { return n < 2 || (*this)[0] <= (*this)[n - 1]; }
};

// The interval i with v between nodes i and i + 1, -1 outside the nodes or
// for NaN. v on an interior node k gives k, on the last node n - 2.
int64_t FindInterval(const Axis& a, double v) {
  if (a.n < 2 || std::isnan(v)) return -1;
  const bool up = a.increasing();
  if (up ? (v < a[0] || v > a[a.n - 1]) : (v > a[0] || v < a[a.n - 1])) return -1;
  int64_t lo = 0, hi = a.n - 1;
  while (lo < hi) {
    const int64_t mid = (lo + hi) / 2;
    if (up ? v < a[mid] : v > a[mid])
      hi = mid;
    else if (lo == mid)
      return lo;
    else
      lo = mid;
  }
  return lo;
}

// The weight of node i + 1 on interval i; a zero-width interval (a repeated
// coordinate) takes the upper node whole instead of 0/0.
double UpperWeight(const Axis& a, int64_t i, double v) {
  const double width = a[i + 1] - a[i];
  return width == 0 ? 1.0 : (v - a[i]) / width;
}
double LowerWeight(const Axis& a, int64_t i, double v) {
  const double width = a[i + 1] - a[i];
  return width == 0 ? 0.0 : (a[i + 1] - v) / width;
}

// The node a non-linear method picks on interval i. 'next' on a node keeps it.
int64_t PickNode(const Axis& a, int64_t i, double v, Method m) {
  switch (m) {
    case Method::kNearest:
      return std::fabs(a[i + 1] - v) < std::fabs(v - a[i]) ? i + 1 : i;
    case Method::kNext:
      return (a.increasing() ? v > a[i] : a[i] > v) ? i + 1 : i;
    default:
      return i;
  }
}

// The trailing method string and extrapolation value, read without changing
// them; *count is how many of the nargin arguments they take.
struct Options {
  Method method = Method::kLinear;
  double extrapRe = NAN, extrapIm = 0;
  int count = 0;
};

[[nodiscard]] StatusCode ReadOptions(EngineContext* ctx, int nargin, Options* o) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  if (nargin >= 2 && IsCharArg(ctx, 1)) {
    int32_t m = 0, n = 0;
    double *re = nullptr, *im = nullptr;
    if (GetDoubleMatrixArg(ctx, 0, &m, &n, &re, &im) != kOk) return kWrongType;
    if (int64_t{m} * n != 1) return kNonScalarArg;
    o->extrapRe = re[0];
    o->extrapIm = im ? im[0] : 0.0;
    o->count = 1;
  }
  if (nargin > o->count && IsCharArg(ctx, o->count)) {
    if (StatusCode st = numeric::ReadMethod(ctx, o->count, true, &o->method); st != kOk) return st;
    ++o->count;
  }
  for (int p = o->count; p < nargin; ++p) {
    bool converted = false;
    if (StatusCode st = ConvertArgsToFloat(ctx, p, false, &converted); st != kOk) return ReportedStatus(st);
  }
  return kOk;
}

struct Array {
  int ndims = 0;
  int32_t dims[kMaxDims] = {};
  int64_t count = 0;
  double* re = nullptr;
  double* im = nullptr;
};

[[nodiscard]] StatusCode ReadArray(EngineContext* ctx, int position, Array* a) {
  if (GetDoubleArrayArg(ctx, position, &a->ndims, a->dims, &a->count, &a->re, &a->im) != kOk) return kWrongType;
  return kOk;
}

bool IsVector2d(const Array& a) { return a.ndims == 2 && (a.dims[0] == 1 || a.dims[1] == 1); }

[[nodiscard]] StatusCode RaiseUnsorted(EngineContext* ctx) {
  return RaiseErrorWithIdentifier(ctx, kUnsortedId, -1, kUnsortedMessage, -1);
}

}  // namespace

StatusCode Interp1Native(EngineContext* ctx, int nargin, int, void*) {
  Options o;
  if (StatusCode st = ReadOptions(ctx, nargin, &o); st != kOk) return st;
  const int args = nargin - o.count;
  if (args < 2 || args > 3) return kBadDim;
  const bool hasX = args == 3;
  const int yPos = o.count + 1, xiPos = o.count;
  Array x, y, xi;
  if (hasX) {
    if (StatusCode st = ReadArray(ctx, o.count + 2, &x); st != kOk) return st;
  }
  if (StatusCode st = ReadArray(ctx, yPos, &y); st != kOk) return st;
  if (StatusCode st = ReadArray(ctx, xiPos, &xi); st != kOk) return st;

  // One vector of nodes, or the first dimension of y running along x.
  const bool yVector =
      (!hasX || x.count == y.count) && (IsVector2d(y) || (y.ndims > 2 && y.dims[0] != 1 && y.dims[1] != 1));
  const int64_t nodes = yVector ? y.count : y.dims[0];
  if (hasX && x.count != nodes) return kBadDim;
  const int64_t rowLength = yVector ? 1 : y.dims[1];
  const int64_t columns = nodes == 0 ? 0 : y.count / nodes;

  // Result shape; per column the query stride of xi (0: shared by all columns).
  int ndims = 0;
  int32_t dims[kMaxDims] = {};
  bool shared = true;
  int64_t queries = xi.count;
  if (yVector) {
    if (!IsVector2d(xi)) return kBadDim;
    ndims = xi.ndims;
    std::memcpy(dims, xi.dims, sizeof dims);
  } else if (IsVector2d(xi)) {
    ndims = y.ndims;
    std::memcpy(dims, y.dims, sizeof dims);
    dims[0] = static_cast<int32_t>(xi.count);
  } else {
    if (xi.ndims != y.ndims) return kBadDim;
    for (int k = 1; k < y.ndims; ++k)
      if (xi.dims[k] != y.dims[k]) return kBadDim;
    ndims = xi.ndims;
    std::memcpy(dims, xi.dims, sizeof dims);
    shared = false;
    queries = xi.dims[0];
  }

  const Axis axis{hasX ? x.re : nullptr, nodes};
  for (int64_t i = 1; hasX && i < nodes; ++i)
    if (x.re[i] < x.re[i - 1]) return RaiseUnsorted(ctx);

  const bool complex = y.im != nullptr || o.extrapIm != 0;
  double *re = nullptr, *im = nullptr;
  if (StatusCode st = PushDoubleArray(ctx, ndims, dims, &re, complex ? &im : nullptr); st != kOk) return st;
  (void)ReadArray(ctx, yPos + 1, &y);
  (void)ReadArray(ctx, xiPos + 1, &xi);

  // Column c = page * rowLength + j; its node i sits at page * nodes * rowLength
  // + i * rowLength + j, and its query k likewise with queries for nodes.
  for (int64_t c = 0; c < columns; ++c) {
    const int64_t page = c / rowLength, j = c % rowLength;
    const double* yr = y.re + page * nodes * rowLength + j;
    const double* yi = y.im ? y.im + page * nodes * rowLength + j : nullptr;
    const int64_t outBase = page * queries * rowLength + j;
    const double* q = shared ? xi.re : xi.re + outBase;
    const int64_t qStride = shared ? 1 : rowLength;
    for (int64_t k = 0; k < queries; ++k) {
      const double v = q[k * qStride];
      const int64_t out = outBase + k * rowLength;
      const int64_t i = FindInterval(axis, v);
      double zr = o.extrapRe, zi = o.extrapIm;
      if (i >= 0 && o.method == Method::kLinear) {
        const double lo = LowerWeight(axis, i, v), up = UpperWeight(axis, i, v);
        zr = lo * yr[i * rowLength] + up * yr[(i + 1) * rowLength];
        zi = yi ? lo * yi[i * rowLength] + up * yi[(i + 1) * rowLength] : 0.0;
      } else if (i >= 0) {
        const int64_t node = PickNode(axis, i, v, o.method);
        zr = yr[node * rowLength];
        zi = yi ? yi[node * rowLength] : 0.0;
      }
      re[out] = zr;
      if (im) im[out] = zi;
    }
  }
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode InterpnNative(EngineContext* ctx, int nargin, int, void*) {
  Options o;
  if (StatusCode st = ReadOptions(ctx, nargin, &o); st != kOk) return st;
  const int args = nargin - o.count;
  const int n = args / 2;
  if (n > kMaxGridDims || args != 2 * n + 1) return kBadDim;
  // Argument k (0-based, x1 first) sits at position args - 1 - k above the options.
  auto position = [&](int k) { return o.count + args - 1 - k; };

  Array v, y;
  if (StatusCode st = ReadArray(ctx, position(n), &v); st != kOk) return st;
  int64_t lengths[kMaxGridDims] = {};
  for (int k = 0; k < n; ++k) {
    Array x;
    if (StatusCode st = ReadArray(ctx, position(k), &x); st != kOk) return st;
    lengths[k] = x.count;
  }
  if (v.ndims > n && v.ndims > 2) return kBadDim;
  if (n == 1) {
    if (v.count != lengths[0]) return kBadSize;
  } else {
    for (int k = 0; k < n; ++k)
      if (k < v.ndims ? v.dims[k] != lengths[k] : lengths[k] != 1) return kBadSize;
  }
  for (int k = 0; k < n; ++k) {
    Array x;
    (void)ReadArray(ctx, position(k), &x);
    bool up = true, down = true;
    for (int64_t i = 1; i < x.count; ++i) {
      up = up && x.re[i] >= x.re[i - 1];
      down = down && x.re[i] <= x.re[i - 1];
    }
    if (!up && !down) return RaiseUnsorted(ctx);
  }
  if (StatusCode st = ReadArray(ctx, position(n + 1), &y); st != kOk) return st;
  for (int k = 1; k < n; ++k) {
    Array yk;
    if (StatusCode st = ReadArray(ctx, position(n + 1 + k), &yk); st != kOk) return st;
    if (yk.ndims != y.ndims || std::memcmp(yk.dims, y.dims, sizeof(int32_t) * y.ndims) != 0) return kBadSize;
  }

  const bool complex = v.im != nullptr || o.extrapIm != 0;
  double *re = nullptr, *im = nullptr;
  if (StatusCode st = PushDoubleArray(ctx, y.ndims, y.dims, &re, complex ? &im : nullptr); st != kOk) return st;

  // Re-read past the result: the engine's layout steps L2 along the first
  // dimension, 1 along the second, L1 L2 ... L(k-1) along dimension k >= 3.
  Axis axes[kMaxGridDims];
  const double* queries[kMaxGridDims] = {};
  int64_t steps[kMaxGridDims] = {};
  for (int k = 0; k < n; ++k) {
    Array x, yk;
    (void)ReadArray(ctx, position(k) + 1, &x);
    (void)ReadArray(ctx, position(n + 1 + k) + 1, &yk);
    axes[k] = Axis{x.re, x.count};
    queries[k] = yk.re;
  }
  (void)ReadArray(ctx, position(n) + 1, &v);
  steps[0] = n == 1 ? 1 : lengths[1];
  if (n > 1) steps[1] = 1;
  for (int k = 2; k < n; ++k) steps[k] = k == 2 ? lengths[0] * lengths[1] : steps[k - 1] * lengths[k - 1];

  for (int64_t j = 0; j < y.count; ++j) {
    int64_t w[kMaxGridDims] = {};
    bool inside = true;
    for (int k = 0; k < n && inside; ++k) {
      w[k] = FindInterval(axes[k], queries[k][j]);
      inside = w[k] >= 0;
    }
    double zr = o.extrapRe, zi = o.extrapIm;
    if (inside && o.method == Method::kLinear) {
      zr = zi = 0;
      for (uint32_t corner = 0; corner < (1u << n); ++corner) {
        double weight = 1;
        int64_t at = 0;
        for (int k = 0; k < n; ++k) {
          const bool upper = (corner >> k) & 1;
          const double q = queries[k][j];
          weight *= upper ? UpperWeight(axes[k], w[k], q) : LowerWeight(axes[k], w[k], q);
          at += (w[k] + (upper ? 1 : 0)) * steps[k];
        }
        zr += weight * v.re[at];
        if (v.im) zi += weight * v.im[at];
      }
    } else if (inside) {
      int64_t at = 0;
      for (int k = 0; k < n; ++k) at += PickNode(axes[k], w[k], queries[k][j], o.method) * steps[k];
      zr = v.re[at];
      zi = v.im ? v.im[at] : 0.0;
    }
    re[j] = zr;
    if (im) im[j] = zi;
  }
  return DropArgsUnderResults(ctx, 1, nargin);
}
