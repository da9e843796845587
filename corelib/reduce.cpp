// Reductions along one dimension (sum, prod, mean, var, std, moment,
// skewness, kurtosis, any, all), running sums and products (cumsum,
// cumprod), cov and trace. A slice is `length` elements `inner` apart; the
// results are written one per inner offset for each outer block, so the
// reduced dimension becomes 1.
#include <cmath>
#include <cstring>
#include <numbers>

#include "corelib/complexnumber.h"
#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/indexing.h"
#include "engine/values/valuestack.h"

namespace {

constexpr int kMaxReduceDims = 16;

struct DoubleArg {
  int nd = 0;
  int32_t dims[kMaxDims] = {};
  int64_t count = 0;
  double* re = nullptr;
  double* im = nullptr;
};

// A 1-based dimension argument at position as a 0-based one.
[[nodiscard]] StatusCode ReadDimension(EngineContext* ctx, int position, int* dim) {
  int32_t d = 0;
  if (StatusCode st = GetIntegerScalarArg(ctx, position, &d); st != kOk) return ReportedStatus(st);
  if (d < 1) return kBadDim;
  *dim = d - 1;
  return kOk;
}

// The input dims with the reduced one set to 1; a dimension beyond them
// leaves them as they are.
int ResultDims(const int32_t* dims, int nd, int dim, int32_t* out) {
  std::memcpy(out, dims, sizeof(int32_t) * nd);
  if (dim < nd) out[dim] = 1;
  return nd;
}



Complex SquareRoot(Complex z) {
  const double m = std::hypot(z.re, z.im);
  const double re = std::sqrt((m + z.re) / 2);
  const double im = std::copysign(std::sqrt((m - z.re) / 2), z.im);
  return {re, im};
}

// (x - m)^k of one real difference: |d|^k with d's sign for odd k.
double RealPowerTerm(double d, int k) {
  const double p = std::pow(std::fabs(d), k);
  return (k % 2 == 1 && d < 0) ? -p : p;
}

// (x - m)^k of one complex difference, in polar form.
Complex ComplexPowerTerm(double dr, double di, int k) {
  const double magnitude = std::exp2(k * std::log(dr * dr + di * di) / 2 * std::numbers::log2e);
  const double angle = k * std::atan2(di, dr);
  return {magnitude * std::cos(angle), magnitude * std::sin(angle)};
}

// One slice's statistic. x(k) is re[k * stride] (+ i im[k * stride]).
struct Slice {
  const double* re;
  const double* im;
  int64_t n;
  int64_t stride;
  double Re(int64_t k) const { return re[k * stride]; }
  double Im(int64_t k) const { return im ? im[k * stride] : 0; }
};

Complex Mean(const Slice& s) {
  double r = 0, i = 0;
  for (int64_t k = 0; k < s.n; ++k) {
    r += s.Re(k);
    i += s.Im(k);
  }
  return {r / static_cast<double>(s.n), i / static_cast<double>(s.n)};
}

// The central moment of order k >= 2.
Complex CentralMoment(const Slice& s, Complex m, int order) {
  Complex sum{0, 0};
  for (int64_t k = 0; k < s.n; ++k) {
    if (s.im) {
      const Complex t = ComplexPowerTerm(s.Re(k) - m.re, s.Im(k) - m.im, order);
      sum.re += t.re;
      sum.im += t.im;
    } else {
      sum.re += RealPowerTerm(s.Re(k) - m.re, order);
    }
  }
  return {sum.re / static_cast<double>(s.n), sum.im / static_cast<double>(s.n)};
}

Complex Statistic(const Slice& s, char selector, int order, bool normalise) {
  switch (selector) {
    case 'p': {
      Complex p{1, 0};
      for (int64_t k = 0; k < s.n; ++k) p = s.im ? p * Complex{s.Re(k), s.Im(k)} : Complex{p.re * s.Re(k), 0};
      return p;
    }
    case 'm':
      return Mean(s);
    case 'v':
    case 't': {
      const Complex m = Mean(s);
      double sum = 0;
      for (int64_t k = 0; k < s.n; ++k) {
        const double dr = s.Re(k) - m.re, di = s.Im(k) - m.im;
        sum += dr * dr + di * di;
      }
      const double v = sum / static_cast<double>(normalise ? s.n : s.n - 1);
      return {selector == 't' ? std::sqrt(v) : v, 0};
    }
    case 'M':
      if (order == 0) return {1, 0};
      if (order == 1) return {0, 0};
      return CentralMoment(s, Mean(s), order);
    case 'e':
    case 'k': {
      const Complex m = Mean(s);
      const Complex m2 = CentralMoment(s, m, 2);
      if (selector == 'e') {
        const Complex m3 = CentralMoment(s, m, 3);
        if (!s.im) return {m3.re / std::sqrt(m2.re * m2.re * m2.re), 0};
        const Complex r = SquareRoot(m2);
        return Divide(m3, r * r * r);
      }
      const Complex m4 = CentralMoment(s, m, 4);
      if (!s.im) return {m4.re / (m2.re * m2.re), 0};
      return Divide(m4, m2 * m2);
    }
    default:
      return {0, 0};
  }
}

// Pops the inputs above x, which stays as the result.
void KeepFirstInput(EngineContext* ctx, int nargin) {
  for (int k = 1; k < nargin; ++k) PopValue(ctx);
}

bool IsTrueElement(const NumericView& v, int64_t k) { return RealElement(v, k) != 0 || ImagElement(v, k) != 0; }

}  // namespace

StatusCode ReduceAnyAll(EngineContext* ctx, bool all, int nargin) {
  const int at = nargin - 1;
  NumericView v;
  const bool accepted = GetDoubleArrayArg(ctx, at, nullptr, nullptr, nullptr, nullptr, nullptr) == kOk ||
                        GetIntegerArrayArg(ctx, at, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) == kOk;
  if (!accepted || !ReadNumeric(ctx, at, &v)) return kWrongType;
  int dim = -1;
  if (nargin == 2)
    if (StatusCode st = ReadDimension(ctx, 0, &dim); st != kOk) return st;
  if (v.count == 0) {
    if (StatusCode st = PushLogicalScalar(ctx, all ? 1 : 0); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, nargin);
  }
  int32_t dims[kMaxDims], out[kMaxDims];
  for (int k = 0; k < v.ndims; ++k) dims[k] = static_cast<int32_t>(v.dims[k]);
  DimensionSplit s{};
  SplitDimensions(v.ndims, dims, &dim, &s);
  const int nd = ResultDims(dims, v.ndims, dim, out);
  uint8_t* data = nullptr;
  if (StatusCode st = PushLogicalArray(ctx, nd, out, &data); st != kOk) return st;
  ReadNumeric(ctx, at + 1, &v);
  for (int64_t o = 0; o < s.outer; ++o)
    for (int64_t i = 0; i < s.inner; ++i) {
      const int64_t base = o * s.length * s.inner + i;
      bool result = all;
      for (int64_t k = 0; k < s.length && result == all; ++k) result = IsTrueElement(v, base + k * s.inner);
      data[o * s.inner + i] = result ? 1 : 0;
    }
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode ReduceAlongDimension(EngineContext* ctx, char selector, int nargin) {
  DoubleArg x;
  const int at = nargin - 1;
  if (GetDoubleArrayArg(ctx, at, &x.nd, x.dims, &x.count, &x.re, &x.im) != kOk) return kWrongType;
  const bool twoOptions = selector == 'v' || selector == 't' || selector == 'M';
  const bool hasDim = twoOptions ? nargin == 3 : nargin == 2;
  int dim = -1;
  if (hasDim)
    if (StatusCode st = ReadDimension(ctx, 0, &dim); st != kOk) return st;
  bool normalise = false;
  int order = 2;
  if (twoOptions && nargin >= 2) {
    const int p = nargin == 3 ? 1 : 0;
    if (selector == 'M') {
      int32_t k = 0;
      if (StatusCode st = GetIntegerScalarArg(ctx, p, &k); st != kOk) return ReportedStatus(st);
      if (k < 0) return kOutOfRangeArg;
      order = k;
    } else {
      uint8_t b = 0;
      if (StatusCode st = GetBooleanArg(ctx, p, &b); st != kOk) return ReportedStatus(st);
      normalise = b != 0;
    }
  }
  if (x.count == 0) {
    StatusCode st = kOk;
    if (hasDim)
      st = PushEmptyMatrix(ctx);
    else
      st = PushRealScalar(ctx, selector == 's' ? 0 : selector == 'p' ? 1 : std::nan(""));
    if (st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, nargin);
  }
  const bool keeps = selector == 's' || selector == 'p' || selector == 'm';
  if (keeps && hasDim && (dim >= x.nd || x.dims[dim] == 1)) {
    KeepFirstInput(ctx, nargin);
    return kOk;
  }
  if (x.nd > kMaxReduceDims) return kOutOfRangeArg;
  DimensionSplit s{};
  SplitDimensions(x.nd, x.dims, &dim, &s);
  int32_t out[kMaxDims];
  const int nd = ResultDims(x.dims, x.nd, dim, out);
  const bool complexResult = x.im != nullptr && selector != 'v' && selector != 't';
  double* re = nullptr;
  double* im = nullptr;
  if (StatusCode st = PushDoubleArray(ctx, nd, out, &re, complexResult ? &im : nullptr); st != kOk) return st;
  (void)GetDoubleArrayArg(ctx, at + 1, nullptr, nullptr, nullptr, &x.re, &x.im);
  const int64_t results = int64_t{s.outer} * s.inner;
  if (selector == 's') {
    // Each slice adds in index order from 0; running the inner offsets
    // together keeps the reads in storage order.
    for (int part = 0; part < (x.im ? 2 : 1); ++part) {
      const double* in = part == 0 ? x.re : x.im;
      double* acc = part == 0 ? re : im;
      for (int64_t k = 0; k < results; ++k) acc[k] = 0;
      for (int64_t o = 0; o < s.outer; ++o) {
        double* a = acc + o * s.inner;
        const double* block = in + o * s.length * s.inner;
        for (int64_t k = 0; k < s.length; ++k) {
          const double* row = block + k * s.inner;
          for (int64_t i = 0; i < s.inner; ++i) a[i] += row[i];
        }
      }
    }
  } else {
    for (int64_t o = 0; o < s.outer; ++o)
      for (int64_t i = 0; i < s.inner; ++i) {
        const int64_t base = o * s.length * s.inner + i;
        const Slice slice{x.re + base, x.im ? x.im + base : nullptr, s.length, s.inner};
        const Complex r = Statistic(slice, selector, order, normalise);
        re[o * s.inner + i] = r.re;
        if (im) im[o * s.inner + i] = r.im;
      }
  }
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode AccumulateAlongDimension(EngineContext* ctx, int product, int nargin) {
  DoubleArg x;
  const int at = nargin - 1;
  if (GetDoubleArrayArg(ctx, at, &x.nd, x.dims, &x.count, &x.re, &x.im) != kOk) return kWrongType;
  int dim = -1;
  if (nargin == 2)
    if (StatusCode st = ReadDimension(ctx, 0, &dim); st != kOk) return st;
  if (x.count == 0 || dim >= x.nd) {
    KeepFirstInput(ctx, nargin);
    return kOk;
  }
  DimensionSplit s{};
  SplitDimensions(x.nd, x.dims, &dim, &s);
  for (int64_t o = 0; o < s.outer; ++o) {
    const int64_t block = o * s.length * s.inner;
    for (int64_t k = 1; k < s.length; ++k)
      for (int64_t i = 0; i < s.inner; ++i) {
        const int64_t at0 = block + (k - 1) * s.inner + i, at1 = at0 + s.inner;
        if (!product) {
          x.re[at1] += x.re[at0];
          if (x.im) x.im[at1] += x.im[at0];
        } else if (x.im) {
          const Complex p = Complex{x.re[at1], x.im[at1]} * Complex{x.re[at0], x.im[at0]};
          x.re[at1] = p.re;
          x.im[at1] = p.im;
        } else {
          x.re[at1] *= x.re[at0];
        }
      }
  }
  KeepFirstInput(ctx, nargin);
  return kOk;
}

StatusCode cov(EngineContext* ctx, int nargin) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "C[r"); st != kOk) return st;
  double divisorChoice = 0;
  if (nargin == 2) (void)GetRealScalarArg(ctx, 0, &divisorChoice);
  const int at = nargin - 1;
  int32_t m = 0, c = 0;
  double* xr = nullptr;
  double* xi = nullptr;
  (void)GetDoubleMatrixArg(ctx, at, &m, &c, &xr, &xi);
  double* out = nullptr;
  // The result is pushed before x is centred in place, so a push short of
  // room leaves x as it was.
  if (StatusCode st = PushDoubleMatrix(ctx, c, c, &out, nullptr); st != kOk) return st;
  (void)GetDoubleMatrixArg(ctx, at + 1, &m, &c, &xr, &xi);
  const int64_t cells = int64_t{c} * c;
  for (int64_t k = 0; k < cells; ++k) out[k] = 0;
  if (m > 1) {
    for (int part = 0; part < (xi ? 2 : 1); ++part) {
      double* x = part == 0 ? xr : xi;
      for (int32_t j = 0; j < c; ++j) {
        double sum = 0;
        for (int32_t r = 0; r < m; ++r) sum += x[int64_t{r} * c + j];
        const double mean = sum / m;
        for (int32_t r = 0; r < m; ++r) x[int64_t{r} * c + j] -= mean;
      }
    }
    const double divisor = divisorChoice == 0 ? m - 1 : m;
    for (int32_t i = 0; i < c; ++i)
      for (int32_t j = 0; j <= i; ++j) {
        double sum = 0;
        for (int32_t r = 0; r < m; ++r) {
          const int64_t pi = int64_t{r} * c + i, pj = int64_t{r} * c + j;
          sum += xr[pi] * xr[pj];
          if (xi) sum += xi[pi] * xi[pj];
        }
        out[int64_t{i} * c + j] = out[int64_t{j} * c + i] = sum / divisor;
      }
  }
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode trace(EngineContext* ctx) {
  int32_t m = 0, n = 0;
  double* re = nullptr;
  double* im = nullptr;
  if (StatusCode st = GetDoubleMatrixArg(ctx, 0, &m, &n, &re, &im); st != kOk) return ReportedStatus(st);
  double sr = 0, si = 0;
  for (int32_t i = 0; i < m && i < n; ++i) {
    sr += re[int64_t{i} * n + i];
    if (im) si += im[int64_t{i} * n + i];
  }
  if (StatusCode st = PushComplexScalar(ctx, sr, si); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

// ---------------------------------------------------------------------------
// The builtin opcodes. ins[1] is the input count where the opcode has one.

StatusCode ReductionOpcode(EngineContext* ctx, const int16_t* ins) {
  const int nargin = ins[1];
  switch (static_cast<Op>(ins[0])) {
    case Op::Sum:
      return ReduceAlongDimension(ctx, 's', nargin);
    case Op::Prod:
      return ReduceAlongDimension(ctx, 'p', nargin);
    case Op::Mean:
      return ReduceAlongDimension(ctx, 'm', nargin);
    case Op::Var:
      return ReduceAlongDimension(ctx, 'v', nargin);
    case Op::Std:
      return ReduceAlongDimension(ctx, 't', nargin);
    case Op::Moment:
      return ReduceAlongDimension(ctx, 'M', nargin);
    case Op::Skewness:
      return ReduceAlongDimension(ctx, 'e', nargin);
    case Op::Kurtosis:
      return ReduceAlongDimension(ctx, 'k', nargin);
    case Op::Cumsum:
      return AccumulateAlongDimension(ctx, 0, nargin);
    case Op::Cumprod:
      return AccumulateAlongDimension(ctx, 1, nargin);
    case Op::Any:
      return ReduceAnyAll(ctx, false, nargin);
    case Op::All:
      return ReduceAnyAll(ctx, true, nargin);
    case Op::Cov:
      return cov(ctx, nargin);
    default:
      return kNotSupported;
  }
}

StatusCode TraceOpcode(EngineContext* ctx, const int16_t*) { return trace(ctx); }
