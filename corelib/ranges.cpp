// The colon builtin over every numeric class, the transposes, isempty, magic,
// cross and dot. Real and complex ranges themselves are the engine's
// (PushRange, PushComplexRange), shared with the literal ranges the compiler
// folds into opcode 31.
#include <cmath>
#include <cstring>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/indexing.h"
#include "engine/values/valuestack.h"
#include "numeric/numeric.h"

namespace {

constexpr int64_t kMaxRangeLength = 2147483647;
constexpr double kMaxMagicOrder = 16383;
constexpr int kMaxProductDims = 16;

// An integer range: counted and stepped in 128 bits, so the ends of int64 and
// uint64 neither overflow the count nor wrap the elements.
[[nodiscard]] StatusCode PushIntegerRange(EngineContext* ctx, int n, bool stepSigned) {
  NumericView v[3];
  for (int k = 0; k < n; ++k) {
    ReadNumeric(ctx, n - 1 - k, &v[k]);
    if (v[k].count != 1) return kNonScalarArg;
  }
  const uint32_t cls = v[0].cls;
  const int bytes = static_cast<int>(cls & 0x7F);
  const bool isUnsigned = (cls & 0x80) != 0;
  const __int128 start = IntegerElement(v[0], 0), stop = IntegerElement(v[n - 1], 0);
  __int128 step = n == 3 ? IntegerElement(v[1], 0) : 1;
  // A signed step unified into an unsigned class keeps its sign, as in a loop.
  if (isUnsigned && stepSigned && (step >> (8 * bytes - 1)) != 0) step -= static_cast<__int128>(1) << (8 * bytes);
  __int128 count = 0;
  if (step == 0) {
    if (stop > start) return kObjTooLarge;
  } else if (step > 0 ? stop >= start : stop <= start) {
    count = (stop - start) / step + 1;
  }
  if (count > kMaxRangeLength) return kObjTooLarge;
  const int32_t dims[2] = {count > 0 ? 1 : 0, static_cast<int32_t>(count)};
  void* data = nullptr;
  if (StatusCode st = PushIntegerArray(ctx, 2, dims, bytes, isUnsigned, &data); st != kOk) return st;
  __int128 x = start;
  for (int64_t k = 0; k < count; ++k, x += step) {
    const auto low = static_cast<uint64_t>(x);
    std::memcpy(static_cast<uint8_t*>(data) + k * bytes, &low, bytes);
  }
  return kOk;
}

bool IsPlainScalar(const ValueDescriptor& d) {
  return IsPlainMatrix(d) && d.extra == 1 && d.cells == ((d.kind & kComplex) ? 2 : 1);
}

// start, end and step of a floating range, each as real and imaginary parts.
struct FloatBounds {
  double re[3] = {0, 1, 0};
  double im[3] = {0, 0, 0};
  bool complex = false;
};

void ReadFloatBounds(EngineContext* ctx, int n, FloatBounds* b) {
  for (int k = 0; k < n; ++k) {
    NumericView v;
    ReadNumeric(ctx, n - 1 - k, &v);
    // Two inputs are start and end; three are start, step, end.
    const int slot = k == 0 ? 0 : (k == n - 1 ? 2 : 1);
    b->re[slot] = RealElement(v, 0);
    b->im[slot] = ImagElement(v, 0);
    b->complex |= IsComplexClass(v.cls);
  }
}

[[nodiscard]] StatusCode PushFloatRange(EngineContext* ctx, const FloatBounds& b, bool single) {
  if (b.complex) return PushComplexRange(ctx, b.re[0], b.im[0], b.re[2], b.im[2], b.re[1], b.im[1], single);
  return PushRange(ctx, b.re[0], b.re[2], b.re[1], single);
}

// The dimension of a and b (same dims, or vectors) a product runs along;
// 0-based, possibly beyond a's dimensions.
struct ProductShape {
  int nd;
  int32_t dims[kMaxDims];
  int64_t count;
  double* a;
  double* b;
};

[[nodiscard]] StatusCode ReadProductArgs(EngineContext* ctx, int nargin, ProductShape* pa, int* ndb, int32_t* db,
                                         int64_t* countB, int* dim) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "aa[i"); st != kOk) return st;
  const int above = nargin - 2;
  (void)GetDoubleArrayArg(ctx, above + 1, &pa->nd, pa->dims, &pa->count, &pa->a, nullptr);
  (void)GetDoubleArrayArg(ctx, above, ndb, db, countB, &pa->b, nullptr);
  *dim = -1;
  if (nargin == 3) {
    int32_t d = 0;
    if (StatusCode st = GetIntegerScalarArg(ctx, 0, &d); st != kOk) return ReportedStatus(st);
    if (d < 1) return kBadDim;
    *dim = d - 1;
  }
  return kOk;
}

bool SameDims(int na, const int32_t* da, int nb, const int32_t* db) {
  if (na != nb) return false;
  for (int k = 0; k < na; ++k)
    if (da[k] != db[k]) return false;
  return true;
}

int FirstLongDimension(int nd, const int32_t* dims) {
  for (int k = 0; k < nd; ++k)
    if (dims[k] > 1) return k;
  return 0;
}

// Every dimension 1 or the element count: a row, a column or an N-D line.
bool IsVectorOf(int nd, const int32_t* dims, int64_t count) {
  for (int k = 0; k < nd; ++k)
    if (dims[k] != 1 && dims[k] != count) return false;
  return true;
}

int32_t SizeAtDim(int nd, const int32_t* dims, int d) { return d < nd ? dims[d] : 1; }

}  // namespace

StatusCode colon(EngineContext* ctx, int nargin) {
  if (nargin != 2 && nargin != 3) return kBadArg;
  bool stepSigned = false;
  if (nargin == 3) {
    NumericView step;
    if (ReadNumeric(ctx, 1, &step)) stepSigned = IsIntegerClass(step.cls) && (step.cls & 0x80) == 0;
  }
  if (StatusCode st = UnifyNumericArgs(ctx, nargin); st != kOk) return ReportedStatus(st);
  NumericView v;
  ReadNumeric(ctx, 0, &v);
  StatusCode st = kOk;
  bool plainScalars = true;
  for (int p = 0; p < nargin; ++p) plainScalars &= IsPlainScalar(*DescriptorAt(ctx, p));
  if (plainScalars) {
    FloatBounds b;
    ReadFloatBounds(ctx, nargin, &b);
    st = PushFloatRange(ctx, b, false);
  } else if (IsIntegerClass(v.cls)) {
    st = PushIntegerRange(ctx, nargin, stepSigned);
  } else if (v.cls == kSingle || v.cls == kComplexSingle) {
    for (int p = 0; p < nargin; ++p) {
      NumericView s;
      ReadNumeric(ctx, p, &s);
      if (s.count != 1) return kNonScalarArg;
    }
    FloatBounds b;
    ReadFloatBounds(ctx, nargin, &b);
    st = PushFloatRange(ctx, b, true);
  } else {
    return kWrongTypeInternal;
  }
  if (st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode transpose(EngineContext* ctx) {
  if (IsObjectArg(ctx, 0)) return kWrongType;
  const StatusCode st = TransposeTopMatrix(ctx);
  if (st != kNonMatrix && st != kWrongTypeInternal) return st;
  // N-D arrays, cells, lists and structure arrays exchange their first two
  // dimensions through permute.
  double* order = nullptr;
  if (StatusCode pushed = PushDoubleMatrix(ctx, 1, 2, &order, nullptr); pushed != kOk) return pushed;
  order[0] = 2;
  order[1] = 1;
  if (StatusCode permuted = PermuteDimensions(ctx, 0); permuted != kOk) {
    PopValue(ctx);
    return ReportedStatus(permuted);
  }
  return kOk;
}

StatusCode ctranspose(EngineContext* ctx) {
  if (StatusCode st = transpose(ctx); st != kOk) return st;
  const ValueDescriptor& d = *DescriptorAt(ctx, 0);
  const bool complex = IsPlainMatrix(d) && (d.kind & kComplex) != 0;
  if (!complex && !(d.kind == kBoxed && d.extra == kNumericArray)) return kOk;
  return Conj(ctx);
}

StatusCode isempty(EngineContext* ctx) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  bool empty = false;
  if (IsPlainMatrix(d)) {
    empty = d.cells == 0;
  } else if (IsBoxedArray(d)) {
    empty = ReadArray(DataAt(ctx, 0)).count == 0;
  } else if (d.kind == kComposite && d.extra == kCellArray) {
    int64_t count = 0;
    if (StatusCode st = GetCellArgInfo(ctx, 0, nullptr, nullptr, &count, nullptr, nullptr); st != kOk)
      return ReportedStatus(st);
    empty = count == 0;
  } else if (d.kind == kComposite && d.extra >= kList && d.extra <= kFreeList) {
    empty = d.cells == 0;
  } else {
    return kWrongType;
  }
  if (StatusCode st = PushLogicalScalar(ctx, empty ? 1 : 0); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode magic(EngineContext* ctx) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  if (!IsPlainScalar(d)) return kWrongType;
  const double x = DataAt(ctx, 0)->f;  // of a complex scalar, the real part
  StatusCode st = kOk;
  if (!(x > 0)) {
    st = PushEmptyMatrix(ctx);
  } else if (x > kMaxMagicOrder) {
    return kObjTooLarge;
  } else {
    const auto n = static_cast<int32_t>(x);
    double* re = nullptr;
    st = PushDoubleMatrix(ctx, n, n, &re, nullptr);
    if (st == kOk) FillMagicSquare(re, n);
  }
  if (st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode cross(EngineContext* ctx, int nargin) {
  ProductShape a;
  int ndb = 0;
  int32_t db[kMaxDims];
  int64_t countB = 0;
  int dim = -1;
  if (StatusCode st = ReadProductArgs(ctx, nargin, &a, &ndb, db, &countB, &dim); st != kOk) return st;
  const bool vectors = a.count == 3 && countB == 3;
  if (dim >= 0) {
    if (!SameDims(a.nd, a.dims, ndb, db)) return kIncompSize;
    if (dim >= a.nd || a.dims[dim] != 3) return kBadSize;
  } else if (vectors) {
    dim = FirstLongDimension(a.nd, a.dims);
  } else {
    if (!SameDims(a.nd, a.dims, ndb, db)) return kIncompSize;
    dim = a.dims[1] == 3 ? 1 : -1;
    for (int k = 0; k < a.nd && dim < 0; ++k)
      if (a.dims[k] == 3) dim = k;
    if (dim < 0) return kBadSize;
  }
  DimensionSplit s{};
  SplitDimensions(a.nd, a.dims, &dim, &s);
  // Vectors of different orientations pair their elements in storage order.
  const int64_t strideB = vectors ? 1 : s.inner;
  for (int64_t o = 0; o < s.outer; ++o)
    for (int64_t i = 0; i < s.inner; ++i) {
      double* p = a.a + o * 3 * s.inner + i;
      const double* q = a.b + (vectors ? 0 : o * 3 * s.inner + i);
      const double p1 = p[0], p2 = p[s.inner], p3 = p[2 * s.inner];
      const double q1 = q[0], q2 = q[strideB], q3 = q[2 * strideB];
      p[0] = p2 * q3 - p3 * q2;
      p[s.inner] = p3 * q1 - p1 * q3;
      p[2 * s.inner] = p1 * q2 - p2 * q1;
    }
  for (int k = 1; k < nargin; ++k) PopValue(ctx);
  return kOk;
}

StatusCode dot(EngineContext* ctx, int nargin) {
  ProductShape a;
  int ndb = 0;
  int32_t db[kMaxDims];
  int64_t countB = 0;
  int dim = -1;
  if (StatusCode st = ReadProductArgs(ctx, nargin, &a, &ndb, db, &countB, &dim); st != kOk) return st;
  bool vectors = false;
  if (dim >= 0) {
    if (!SameDims(a.nd, a.dims, ndb, db)) return kIncompSize;
  } else if (a.count == countB && IsVectorOf(a.nd, a.dims, a.count) && IsVectorOf(ndb, db, countB)) {
    vectors = true;
    dim = FirstLongDimension(a.nd, a.dims);
  } else {
    if (!SameDims(a.nd, a.dims, ndb, db)) return kIncompSize;
    int last = -1;
    for (int k = 0; k < a.nd; ++k)
      if (a.dims[k] != 1) last = k;
    dim = last == 0 ? 1 : last == 1 ? 0 : last < 0 ? 0 : last;
  }
  if (a.nd > kMaxProductDims) return kOutOfRangeArg;
  int32_t out[kMaxDims];
  const int nd = a.nd;
  std::memcpy(out, a.dims, sizeof(int32_t) * nd);
  if (dim < nd) out[dim] = 1;
  DimensionSplit s{};
  SplitDimensions(a.nd, a.dims, &dim, &s);
  double* re = nullptr;
  if (StatusCode st = PushDoubleArray(ctx, nd, out, &re, nullptr); st != kOk) return st;
  (void)GetDoubleArrayArg(ctx, nargin, nullptr, nullptr, nullptr, &a.a, nullptr);
  (void)GetDoubleArrayArg(ctx, nargin - 1, nullptr, nullptr, nullptr, &a.b, nullptr);
  const int64_t length = SizeAtDim(a.nd, a.dims, dim);
  for (int64_t o = 0; o < s.outer; ++o)
    for (int64_t i = 0; i < s.inner; ++i) {
      const int64_t base = o * length * s.inner + i;
      double sum = 0;
      for (int64_t k = 0; k < length; ++k) sum += a.a[base + k * s.inner] * a.b[vectors ? k : base + k * s.inner];
      re[o * s.inner + i] = sum;
    }
  return DropArgsUnderResults(ctx, 1, nargin);
}

// ---------------------------------------------------------------------------
// The builtin opcodes. ins[1] is the input count where the opcode has one.

StatusCode ColonOpcode(EngineContext* ctx, const int16_t* ins) { return colon(ctx, ins[1]); }

StatusCode TransposeOpcode(EngineContext* ctx, const int16_t* ins) {
  return static_cast<Op>(ins[0]) == Op::Ctranspose ? ctranspose(ctx) : transpose(ctx);
}

StatusCode IsemptyOpcode(EngineContext* ctx, const int16_t*) { return isempty(ctx); }

StatusCode MagicOpcode(EngineContext* ctx, const int16_t*) { return magic(ctx); }

StatusCode VectorProductOpcode(EngineContext* ctx, const int16_t* ins) {
  return static_cast<Op>(ins[0]) == Op::Cross ? cross(ctx, ins[1]) : dot(ctx, ins[1]);
}
