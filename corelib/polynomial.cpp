// Polynomial and filter builtins over double vectors and matrices: conv,
// conv2, deconv, filter and addpol. Polynomials run from the highest power
// down, so two of different lengths align on their last coefficient.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/indexing.h"
#include "engine/values/textformat.h"
#include "engine/values/valuestack.h"

namespace {

// Complex elements by the plain formulas: with imaginary parts of 0 the real
// parts come out exactly as real arithmetic gives them (no special recovery
// of infinities, as the library's complex type would do).
struct Complex {
  double re = 0, im = 0;
  Complex() = default;
  Complex(double r, double i = 0) : re(r), im(i) {}
  double real() const { return re; }
  double imag() const { return im; }
};
Complex operator+(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }
Complex operator-(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }
Complex operator*(Complex a, Complex b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
Complex& operator+=(Complex& a, Complex b) { return a = a + b; }
Complex& operator-=(Complex& a, Complex b) { return a = a - b; }
// 1 / a as conj(a) / |a|^2.
Complex Reciprocal(Complex a) {
  const double s = a.re * a.re + a.im * a.im;
  return {a.re / s, -a.im / s};
}

// A plain double matrix: its real block, its imaginary block or null.
struct Matrix {
  double* re;
  double* im;
  int32_t m, n;
  int64_t count;
};

[[nodiscard]] StatusCode ReadMatrix(EngineContext* ctx, int position, Matrix* x) {
  x->re = x->im = nullptr;
  const StatusCode st = GetDoubleMatrixArg(ctx, position, &x->m, &x->n, &x->re, &x->im);
  x->count = int64_t{x->m} * x->n;
  return st;
}

Matrix MatrixAt(EngineContext* ctx, int position) {
  Matrix x{};
  (void)ReadMatrix(ctx, position, &x);
  return x;
}

// Element k of a matrix as a complex number (imaginary part 0 when real).
Complex At(const double* re, const double* im, int64_t k) { return {re[k], im ? im[k] : 0.0}; }

void Put(double* re, double* im, int64_t k, Complex v) {
  re[k] = v.real();
  if (im) im[k] = v.imag();
}

void Add(double* re, double* im, int64_t k, Complex v) {
  re[k] += v.real();
  if (im) im[k] += v.imag();
}

// Makes the value at a position complex without moving the others.
[[nodiscard]] StatusCode MakeComplexAt(EngineContext* ctx, int position) {
  const int n = position + 1;
  (void)RotateValues(ctx, n, 1);
  const StatusCode st = MakeTopComplex(ctx, nullptr);
  (void)RotateValues(ctx, n, n - 1);
  return st;
}

// A vector operand along one direction: element t of column (or row) c.
struct Strided {
  int64_t along, across;
};

}  // namespace

StatusCode conv(EngineContext* ctx, int nargin) {
  if (CheckArgTypes(ctx, nargin, "CC[r") != kOk) return kWrongType;
  int dim = 0;
  if (nargin == 3) {
    int32_t d = 0;
    const StatusCode st = GetIntegerScalarArg(ctx, 0, &d);
    if (st != kOk || (d != 1 && d != 2)) return kBadDim;
    PopValue(ctx);
    dim = d;
  }
  const Matrix u = MatrixAt(ctx, 1), v = MatrixAt(ctx, 0);
  if (dim == 0) dim = u.m == 1 && v.m == 1 ? 2 : 1;
  if (u.count == 0 || v.count == 0) {
    if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, 2);
  }
  // Lengths along the dimension and counts across it.
  const int32_t lu = dim == 1 ? u.m : u.n, lv = dim == 1 ? v.m : v.n;
  const int32_t cu = dim == 1 ? u.n : u.m, cv = dim == 1 ? v.n : v.m;
  if (cu != cv && cu != 1 && cv != 1) return kIncompSize;
  const int32_t across = std::max(cu, cv), length = lu + lv - 1;
  const bool complex = u.im || v.im;
  if (StatusCode st =
          dim == 1 ? PushZeroMatrix(ctx, length, across, complex) : PushZeroMatrix(ctx, across, length, complex);
      st != kOk)
    return st;
  Matrix w{}, a = MatrixAt(ctx, 2), b = MatrixAt(ctx, 1);
  (void)ReadMatrix(ctx, 0, &w);
  auto strides = [dim](const Matrix& x, int32_t count) {
    return dim == 1 ? Strided{x.n, count == 1 ? 0 : 1} : Strided{1, count == 1 ? 0 : int64_t{x.n}};
  };
  const Strided sa = strides(a, cu), sb = strides(b, cv), sw = strides(w, across);
  for (int32_t c = 0; c < across; ++c)
    for (int32_t i = 0; i < lu; ++i) {
      const Complex x = At(a.re, a.im, i * sa.along + c * sa.across);
      for (int32_t j = 0; j < lv; ++j)
        Add(w.re, w.im, (i + j) * sw.along + c * sw.across, x * At(b.re, b.im, j * sb.along + c * sb.across));
    }
  return DropArgsUnderResults(ctx, 1, 2);
}

StatusCode deconv(EngineContext* ctx, int nargout) {
  Matrix y{}, a{};
  if (ReadMatrix(ctx, 1, &y) != kOk || ReadMatrix(ctx, 0, &a) != kOk) return kWrongType;
  int32_t ly = 0;
  if (y.m == 1)
    ly = y.n;
  else if (y.n <= 1)
    ly = y.m;
  else
    return kIncompSize;
  if (a.count == 0 || (a.m != 1 && a.n != 1)) return kIncompSize;
  const int32_t la = static_cast<int32_t>(a.count);
  const bool column = y.m > 1;
  if (a.im && !y.im)
    if (StatusCode st = MakeComplexAt(ctx, 1); st != kOk) return st;
  const bool complex = a.im != nullptr || y.im != nullptr;
  const int32_t lq = ly - la + 1, lr = la - 1;
  auto push = [&](int32_t length) {
    return column ? PushZeroMatrix(ctx, length, 1, complex) : PushZeroMatrix(ctx, 1, length, complex);
  };
  if (nargout == 2)
    if (StatusCode st = push(lr); st != kOk) return st;
  if (StatusCode st = push(lq); st != kOk) return st;
  const int outputs = nargout == 2 ? 2 : 1;
  y = MatrixAt(ctx, outputs + 1);
  a = MatrixAt(ctx, outputs);
  const Matrix q = MatrixAt(ctx, 0);
  const Complex a0 = At(a.re, a.im, 0);
  for (int32_t i = 0; i < lq; ++i) {
    const Complex yi = At(y.re, y.im, i);
    // A complex divisor by y conj(a0) / |a0|^2; a zero a0 gives Inf and NaN.
    Complex qi(yi.re / a0.re, y.im ? yi.im / a0.re : 0);
    if (a.im) {
      const Complex t = yi * Complex(a0.re, -a0.im);
      const double s = a0.re * a0.re + a0.im * a0.im;
      qi = {t.re / s, t.im / s};
    }
    Put(q.re, q.im, i, qi);
    for (int32_t k = 1; k < la; ++k) Put(y.re, y.im, i + k, At(y.re, y.im, i + k) - qi * At(a.re, a.im, k));
  }
  if (nargout == 2) {
    // r is the tail of the reduced dividend; a dividend shorter than r sits
    // right-aligned behind zeros.
    const Matrix r = MatrixAt(ctx, 1);
    for (int32_t j = 0; j < lr; ++j) {
      const int64_t from = int64_t{ly} - lr + j;
      if (from >= 0) Put(r.re, r.im, j, At(y.re, y.im, from));
    }
  }
  return DropArgsUnderResults(ctx, outputs, 2);
}

StatusCode filter(EngineContext* ctx, int nargin, int nargout) {
  if (CheckArgTypes(ctx, nargin, nullptr) != kOk) return kWrongType;
  const int xAt = nargin - 3;
  for (int p = nargin - 1; p >= 0; --p) {
    if (p == xAt) continue;
    if (StatusCode st = ConvertArgsToFloat(ctx, p, false, nullptr); st != kOk)
      return st == kWrongTypeInternal ? kWrongType : st;
  }
  int ndims = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  bool single = false;
  {
    double *re = nullptr, *im = nullptr;
    if (GetDoubleArrayArg(ctx, xAt, &ndims, dims, &count, &re, &im) != kOk) {
      float *sre = nullptr, *sim = nullptr;
      if (StatusCode st = GetSingleArrayArg(ctx, xAt, &ndims, dims, &count, &sre, &sim); st != kOk) return st;
      single = true;
    }
  }
  Matrix b{}, a{};
  for (const auto& [position, x] : {std::pair{nargin - 1, &b}, std::pair{nargin - 2, &a}}) {
    if (StatusCode st = ReadMatrix(ctx, position, x); st != kOk) return st == kWrongTypeInternal ? kNonScalarArg : st;
    if (x->m != 1) return kNonScalarArg;
    if (x->n == 0) return kBadSize;
  }
  // Normalise so that a(1) is 1.
  if (a.re[0] != 1 || (a.im && a.im[0] != 0)) {
    if (a.im) {
      if (!b.im)
        if (StatusCode st = MakeComplexAt(ctx, nargin - 1); st != kOk) return st;
      b = MatrixAt(ctx, nargin - 1), a = MatrixAt(ctx, nargin - 2);
      const Complex s = Reciprocal(At(a.re, a.im, 0));
      for (int32_t k = 1; k < a.n; ++k) Put(a.re, a.im, k, At(a.re, a.im, k) * s);
      for (int32_t k = 0; k < b.n; ++k) Put(b.re, b.im, k, At(b.re, b.im, k) * s);
      a.re[0] = 1, a.im[0] = 0;
    } else {
      const double s = 1 / a.re[0];
      for (int32_t k = 0; k < a.n; ++k) a.re[k] *= s;
      for (int64_t k = 0; k < b.count * (b.im ? 2 : 1); ++k) b.re[k] *= s;
    }
  }
  const int32_t nb = b.n, na = a.n, order = std::max(nb, na) - 1;

  // The dimension: judged as a double, so NaN is refused and any size beyond
  // the last dimension means signals of one sample each.
  int d = -1;
  if (nargin == 5) {
    double x = 0;
    if (StatusCode st = PopRealScalar(ctx, &x); st != kOk) return st == kWrongTypeInternal ? kWrongType : st;
    if (!(x >= 1)) return kBadDim;
    const double t = std::trunc(x);
    d = t > ndims ? ndims : static_cast<int>(t) - 1;
  } else {
    d = 0;
    while (d < ndims && dims[d] == 1) ++d;
    if (d == ndims) d = 0;
  }
  DimensionSplit split{};
  SplitDimensions(ndims, dims, &d, &split);
  const int32_t signals = static_cast<int32_t>(int64_t{split.outer} * split.inner);

  bool complex = a.im || b.im;
  {
    NumericView xv;
    (void)ReadNumeric(ctx, nargin >= 4 ? 1 : 0, &xv);
    if (IsComplexClass(xv.cls)) complex = true;
  }
  bool haveState = false;
  if (nargin >= 4) {
    Matrix z{};
    if (StatusCode st = ReadMatrix(ctx, 0, &z); st != kOk) return st == kWrongTypeInternal ? kWrongType : st;
    if (z.count == 0) {
      PopValue(ctx);
    } else {
      int32_t rows = z.m, cols = z.n;
      if (rows == 1 && signals == 1) std::swap(rows, cols);
      if (cols != signals || rows != order) return kIncompSize;
      if (z.im) complex = true;
      if (complex && !z.im)
        if (StatusCode st = MakeTopComplex(ctx, nullptr); st != kOk) return st;
      haveState = true;
    }
  }
  if (!haveState)
    if (StatusCode st = PushZeroMatrix(ctx, order, signals, complex); st != kOk) return st;
  {
    double *re = nullptr, *im = nullptr;
    float *sre = nullptr, *sim = nullptr;
    const StatusCode st = single ? PushSingleArray(ctx, ndims, dims, &sre, complex ? &sim : nullptr)
                                 : PushDoubleArray(ctx, ndims, dims, &re, complex ? &im : nullptr);
    if (st != kOk) return st;
  }
  b = MatrixAt(ctx, 4), a = MatrixAt(ctx, 3);
  const Matrix state = MatrixAt(ctx, 1);
  double *xre = nullptr, *xim = nullptr, *yre = nullptr, *yim = nullptr;
  float *sxre = nullptr, *sxim = nullptr, *syre = nullptr, *syim = nullptr;
  int nd = 0;
  int32_t scratch[kMaxDims];
  int64_t n = 0;
  if (single) {
    (void)GetSingleArrayArg(ctx, 2, &nd, scratch, &n, &sxre, &sxim);
    (void)GetSingleArrayArg(ctx, 0, &nd, scratch, &n, &syre, &syim);
  } else {
    (void)GetDoubleArrayArg(ctx, 2, &nd, scratch, &n, &xre, &xim);
    (void)GetDoubleArrayArg(ctx, 0, &nd, scratch, &n, &yre, &yim);
  }
  auto input = [&](int64_t k) -> Complex {
    if (single) return {sxre[k], sxim ? sxim[k] : 0.0f};
    return At(xre, xim, k);
  };
  auto output = [&](int64_t k, Complex v) {
    if (!single) return Put(yre, yim, k, v);
    syre[k] = static_cast<float>(v.real());
    if (syim) syim[k] = static_cast<float>(v.imag());
  };

  // Transposed direct form II, signal by signal; state element (i, s) at i S + s.
  for (int32_t o = 0; o < split.outer; ++o)
    for (int32_t in = 0; in < split.inner; ++in) {
      const int64_t s = int64_t{o} * split.inner + in;
      const int64_t base = int64_t{o} * split.length * split.inner + in;
      for (int32_t t = 0; t < split.length; ++t) {
        const int64_t k = base + int64_t{t} * split.inner;
        const Complex x = input(k);
        const Complex y = (order > 0 ? At(state.re, state.im, s) : 0.0) + At(b.re, b.im, 0) * x;
        for (int32_t i = 0; i < order; ++i) {
          Complex z = i < nb - 1 ? At(b.re, b.im, i + 1) * x : 0.0;
          if (i + 1 < order) z += At(state.re, state.im, (i + 1) * int64_t{signals} + s);
          if (i < na - 1) z -= At(a.re, a.im, i + 1) * y;
          Put(state.re, state.im, i * int64_t{signals} + s, z);
        }
        output(k, y);
      }
    }
  if (nargout == 2) return DropArgsUnderResults(ctx, 2, 3);
  (void)DropArgsUnderResults(ctx, 1, 1);
  return DropArgsUnderResults(ctx, 1, 3);
}

StatusCode addpol(EngineContext* ctx) {
  Matrix p{}, q{};
  if (ReadMatrix(ctx, 1, &p) != kOk || ReadMatrix(ctx, 0, &q) != kOk) return kWrongType;
  if (q.count == 0) {
    PopValue(ctx);
    return kOk;
  }
  if (p.count == 0) return DropArgsUnderResults(ctx, 1, 1);
  const bool complex = p.im || q.im;
  // The sum goes into the operand that covers the other, else into a new matrix.
  int into = -1;
  if (p.m >= q.m && p.n >= q.n)
    into = 1;
  else if (q.m >= p.m && q.n >= p.n)
    into = 0;
  if (into >= 0) {
    const Matrix& big = into == 1 ? p : q;
    if (complex && !big.im)
      if (StatusCode st = MakeComplexAt(ctx, into); st != kOk) return st;
  } else {
    if (StatusCode st = PushZeroMatrix(ctx, std::max(p.m, q.m), std::max(p.n, q.n), complex); st != kOk) return st;
  }
  const int shift = into >= 0 ? 0 : 1;
  p = MatrixAt(ctx, 1 + shift), q = MatrixAt(ctx, shift);
  const Matrix w = MatrixAt(ctx, into >= 0 ? into : 0);
  auto addInto = [&](const Matrix& x) {
    const int32_t r0 = w.m - x.m, c0 = w.n - x.n;
    for (int32_t i = 0; i < x.m; ++i)
      for (int32_t j = 0; j < x.n; ++j)
        Add(w.re, w.im, int64_t{r0 + i} * w.n + c0 + j, At(x.re, x.im, int64_t{i} * x.n + j));
  };
  if (into != 1) addInto(p);
  if (into != 0) addInto(q);
  if (into == 1) {
    PopValue(ctx);
    return kOk;
  }
  return DropArgsUnderResults(ctx, 1, into == 0 ? 1 : 2);
}

StatusCode conv2(EngineContext* ctx, int nargin) {
  if (CheckArgTypes(ctx, nargin, "CC[S") != kOk) return kWrongType;
  char shape = 'f';
  if (nargin == 3) {
    const char* text = nullptr;
    int64_t length = 0;
    if (StatusCode st = GetStringArg(ctx, 0, &text, &length); st != kOk) return st;
    const int len = static_cast<int>(std::min<int64_t>(length, 16));
    if (length == 0 || (length == 1 && text[0] == 'f') || TextEquals(text, len, "full", 4, false)) {
      shape = 'f';
    } else if (length >= 2) {
      if (TextEquals(text, len, "same", 4, false))
        shape = 's';
      else if (TextEquals(text, len, "valid", 5, false))
        shape = 'v';
      else
        return kUnknownOpt;
    } else if (text[0] == 's' || text[0] == 'v') {
      shape = text[0];
    } else {
      return kUnknownOpt;
    }
    PopValue(ctx);
  }
  const Matrix a0 = MatrixAt(ctx, 1), b0 = MatrixAt(ctx, 0);
  if (a0.count == 0 || b0.count == 0) {
    PopValue(ctx);
    return kOk;
  }
  const int32_t ma = a0.m, na = a0.n, mb = b0.m, nb = b0.n;
  int32_t rows = ma + mb - 1, cols = na + nb - 1, oi = 0, oj = 0;
  if (shape == 's') {
    rows = ma, cols = na, oi = mb - 1 - mb / 2, oj = nb - 1 - nb / 2;
  } else if (shape == 'v') {
    if (ma < mb || na < nb) {
      if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) return st;
      return DropArgsUnderResults(ctx, 1, 2);
    }
    rows = ma - mb + 1, cols = na - nb + 1, oi = mb - 1, oj = nb - 1;
  }
  if (StatusCode st = PushZeroMatrix(ctx, rows, cols, a0.im || b0.im); st != kOk) return st;
  const Matrix a = MatrixAt(ctx, 2), b = MatrixAt(ctx, 1), r = MatrixAt(ctx, 0);
  for (int32_t i = 0; i < rows; ++i) {
    const int32_t fi = i + oi;
    const int32_t p0 = std::max(0, fi - mb + 1), p1 = std::min(ma - 1, fi);
    for (int32_t j = 0; j < cols; ++j) {
      const int32_t fj = j + oj;
      const int32_t q0 = std::max(0, fj - nb + 1), q1 = std::min(na - 1, fj);
      Complex sum = 0.0;
      for (int32_t p = p0; p <= p1; ++p)
        for (int32_t q = q0; q <= q1; ++q)
          sum += At(a.re, a.im, int64_t{p} * na + q) * At(b.re, b.im, int64_t{fi - p} * nb + fj - q);
      Put(r.re, r.im, int64_t{i} * cols + j, sum);
    }
    if (PollBreak(ctx)) return kHalted;
  }
  return DropArgsUnderResults(ctx, 1, 2);
}

StatusCode PolynomialOpcode(EngineContext* ctx, const int16_t* ins) {
  switch (static_cast<Op>(ins[0])) {
    case Op::Conv:
      return conv(ctx, ins[1]);
    case Op::Conv2:
      return conv2(ctx, ins[1]);
    case Op::Deconv:
      return deconv(ctx, ins[1]);
    case Op::Filter:
      return filter(ctx, ins[1], ins[2]);
    default:  // Op::Addpol
      return addpol(ctx);
  }
}
