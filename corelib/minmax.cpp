// min and max along a dimension or between two arrays, find and nnz. Picks
// compare strictly, so ties keep the earliest element; NaNs are passed over
// while anything else is left to pick.
#include <cmath>
#include <cstring>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/indexing.h"
#include "engine/values/valuestack.h"

namespace {

constexpr int kMaxPickDims = 16;

// Bytes of one part (real or imaginary) of an element.
int PartBytes(uint32_t cls) { return IsComplexClass(cls) ? ElementBytes(cls) / 2 : ElementBytes(cls); }

// Pushes an array of the class and dims whose elements the caller copies in;
// subtype chooses between numbers, characters and logical values of the
// integer classes. The imaginary block of a complex class follows the real
// one at *data + count parts.
[[nodiscard]] StatusCode PushArrayOfClass(EngineContext* ctx, uint32_t cls, int32_t subtype, int nd,
                                          const int32_t* dims, uint8_t** data) {
  StatusCode st = kOk;
  if (cls == kDouble || cls == kComplexDouble) {
    double* re = nullptr;
    double* im = nullptr;
    st = PushDoubleArray(ctx, nd, dims, &re, cls == kComplexDouble ? &im : nullptr);
    *data = reinterpret_cast<uint8_t*>(re);
  } else if (cls == kSingle || cls == kComplexSingle) {
    float* re = nullptr;
    float* im = nullptr;
    st = PushSingleArray(ctx, nd, dims, &re, cls == kComplexSingle ? &im : nullptr);
    *data = reinterpret_cast<uint8_t*>(re);
  } else if (subtype == kCharArray) {
    uint16_t* c = nullptr;
    st = PushCharArray(ctx, nd, dims, &c);
    *data = reinterpret_cast<uint8_t*>(c);
  } else if (subtype == kLogicalArray) {
    st = PushLogicalArray(ctx, nd, dims, data);
  } else {
    void* p = nullptr;
    st = PushIntegerArray(ctx, nd, dims, static_cast<int>(cls & 0x7F), (cls & 0x80) != 0, &p);
    *data = static_cast<uint8_t*>(p);
  }
  return st;
}

// Copies element from of v to element to of an array of count elements and v's class.
void CopyElement(const NumericView& v, int64_t from, uint8_t* out, int64_t count, int64_t to) {
  const int b = PartBytes(v.cls);
  std::memcpy(out + to * b, v.data + from * b, b);
  if (IsComplexClass(v.cls)) std::memcpy(out + (count + to) * b, v.data + (v.count + from) * b, b);
}

double SquaredMagnitude(const NumericView& v, int64_t k) {
  const double re = RealElement(v, k), im = ImagElement(v, k);
  return re * re + im * im;
}

bool HasNaNPart(const NumericView& v, int64_t k) {
  return std::isnan(RealElement(v, k)) || std::isnan(ImagElement(v, k));
}

// The slice position (from 0) of the pick among n elements stride apart.
int64_t PickInSlice(const NumericView& v, int64_t base, int64_t n, int64_t stride, bool max) {
  int64_t pick = 0;
  if (v.cls == kDouble) {
    const double* x = reinterpret_cast<const double*>(v.data) + base;
    double c = x[0];
    for (int64_t k = 1; k < n; ++k) {
      const double e = x[k * stride];
      if (std::isnan(e)) continue;
      if (std::isnan(c) || (max ? e > c : e < c)) pick = k, c = e;
    }
  } else if (v.cls == kSingle) {
    double c = RealElement(v, base);
    for (int64_t k = 1; k < n; ++k) {
      const double e = RealElement(v, base + k * stride);
      if (std::isnan(e)) continue;
      if (std::isnan(c) || (max ? e > c : e < c)) pick = k, c = e;
    }
  } else if (IsComplexClass(v.cls)) {
    double c = SquaredMagnitude(v, base);
    for (int64_t k = 1; k < n; ++k) {
      const int64_t at = base + k * stride;
      if (HasNaNPart(v, at)) continue;
      const double e = SquaredMagnitude(v, at);
      if (std::isnan(c) || (max ? e > c : e < c)) pick = k, c = e;
    }
  } else {
    __int128 c = IntegerElement(v, base);
    for (int64_t k = 1; k < n; ++k) {
      const __int128 e = IntegerElement(v, base + k * stride);
      if (max ? e > c : e < c) pick = k, c = e;
    }
  }
  return pick;
}

// Element k of the elementwise min or max: true for x, false for y.
bool PicksFirst(const NumericView& a, int64_t i, const NumericView& b, int64_t j, bool max) {
  const bool ac = IsComplexClass(a.cls), bc = IsComplexClass(b.cls);
  if (!ac && !bc && IsIntegerClass(a.cls)) {
    const __int128 x = IntegerElement(a, i), y = IntegerElement(b, j);
    return max ? !(y > x) : !(x > y);
  }
  if (!ac && !bc) {
    const double x = RealElement(a, i), y = RealElement(b, j);
    if (std::isnan(y)) return true;
    if (std::isnan(x)) return false;
    return max ? !(y > x) : !(x > y);
  }
  const double mx = SquaredMagnitude(a, i), my = SquaredMagnitude(b, j);
  if (ac && bc) {
    if (HasNaNPart(b, j)) return true;
    if (std::isnan(mx) || std::isnan(my)) return false;
    return max ? mx >= my : mx <= my;
  }
  // One complex input: the real one wins NaNs in the complex one and ties.
  const bool complexNaN = ac ? HasNaNPart(a, i) : HasNaNPart(b, j);
  if (complexNaN) return !ac;
  if (std::isnan(mx) || std::isnan(my)) return ac;
  if (mx == my) return !ac;
  return max ? mx > my : mx < my;
}

[[nodiscard]] StatusCode ElementwiseMinOrMax(EngineContext* ctx, bool max, int nargout) {
  if (nargout >= 2) return kTooManyArgout;
  if (StatusCode st = UnifyNumericArgs(ctx, 2); st != kOk) return ReportedStatus(st);
  NumericView a, b;
  ReadNumeric(ctx, 1, &a);
  ReadNumeric(ctx, 0, &b);
  const bool sameDims = a.ndims == b.ndims && std::memcmp(a.dims, b.dims, sizeof(uint32_t) * a.ndims) == 0;
  if (!sameDims && a.count != 1 && b.count != 1) return kIncompSize;
  const NumericView& shape = a.count == 1 && !sameDims ? b : a;
  int32_t dims[kMaxDims];
  for (int k = 0; k < shape.ndims; ++k) dims[k] = static_cast<int32_t>(shape.dims[k]);
  uint32_t cls = a.cls;
  const bool complex = IsComplexClass(a.cls) || IsComplexClass(b.cls);
  if (complex) cls = cls == kSingle || cls == kComplexSingle ? kComplexSingle : kComplexDouble;
  uint8_t* out = nullptr;
  if (StatusCode st = PushArrayOfClass(ctx, cls, kNumericArray, shape.ndims, dims, &out); st != kOk) return st;
  ReadNumeric(ctx, 2, &a);
  ReadNumeric(ctx, 1, &b);
  const int64_t count = shape.count;
  const int part = PartBytes(cls);
  for (int64_t k = 0; k < count; ++k) {
    const int64_t i = a.count == 1 ? 0 : k, j = b.count == 1 ? 0 : k;
    const bool first = PicksFirst(a, i, b, j, max);
    const NumericView& from = first ? a : b;
    const int64_t at = first ? i : j;
    if (!complex) {
      std::memcpy(out + k * part, from.data + at * part, part);
      continue;
    }
    // A real input's pick gets a zero imaginary part.
    const double re = RealElement(from, at), im = ImagElement(from, at);
    if (part == 8) {
      reinterpret_cast<double*>(out)[k] = re;
      reinterpret_cast<double*>(out)[count + k] = im;
    } else {
      reinterpret_cast<float*>(out)[k] = static_cast<float>(re);
      reinterpret_cast<float*>(out)[count + k] = static_cast<float>(im);
    }
  }
  return DropArgsUnderResults(ctx, 1, 2);
}

bool IsNonzero(const NumericView& v, int64_t k) {
  if (IsIntegerClass(v.cls)) return IntegerElement(v, k) != 0;
  // A NaN part compares unequal to 0 and counts.
  return RealElement(v, k) != 0 || ImagElement(v, k) != 0;
}

// The subtype a value at position keeps: characters and logical values stay what they are.
int32_t SubtypeAt(EngineContext* ctx, int position) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  return d.kind == kBoxed ? d.extra : kNumericArray;
}

}  // namespace

StatusCode FindMinOrMax(EngineContext* ctx, int max, int nargin, int nargout) {
  if (nargin == 2) return ElementwiseMinOrMax(ctx, max != 0, nargout);
  const int at = nargin - 1;
  NumericView v;
  if (!ReadNumeric(ctx, at, &v)) return kWrongType;
  int dim = -1;
  if (nargin == 3) {
    int64_t count = 0;
    int nd = 0;
    int32_t dims[kMaxDims + 1];
    if (GetArgDims(ctx, 1, &nd, dims, &count) != kOk || count != 0) return kBadSize;
    int32_t d = 0;
    if (StatusCode st = GetIntegerScalarArg(ctx, 0, &d); st != kOk) return ReportedStatus(st);
    if (d < 1) return kBadDim;
    dim = d - 1;
  }
  if (v.ndims > kMaxPickDims) return kOutOfRangeArg;
  const int outputs = nargout >= 2 ? 2 : 1;
  int32_t dims[kMaxDims], out[kMaxDims];
  for (int k = 0; k < v.ndims; ++k) dims[k] = static_cast<int32_t>(v.dims[k]);
  DimensionSplit s{};
  SplitDimensions(v.ndims, dims, &dim, &s);
  if (s.length == 0) {
    // No element to pick from: every output is [].
    for (int k = 0; k < outputs; ++k)
      if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) {
        for (int pushed = 0; pushed < k; ++pushed) PopValue(ctx);
        return st;
      }
    return DropArgsUnderResults(ctx, outputs, nargin);
  }
  std::memcpy(out, dims, sizeof(int32_t) * v.ndims);
  if (dim < v.ndims) out[dim] = 1;
  double* index = nullptr;
  if (outputs == 2)
    if (StatusCode st = PushDoubleArray(ctx, v.ndims, out, &index, nullptr); st != kOk) return st;
  uint8_t* values = nullptr;
  if (StatusCode st = PushArrayOfClass(ctx, v.cls, kNumericArray, v.ndims, out, &values); st != kOk) {
    if (outputs == 2) PopValue(ctx);
    return st;
  }
  ReadNumeric(ctx, at + outputs, &v);
  const int64_t results = int64_t{s.outer} * s.inner;
  for (int64_t o = 0; o < s.outer; ++o)
    for (int64_t i = 0; i < s.inner; ++i) {
      const int64_t base = o * s.length * s.inner + i;
      const int64_t pick = PickInSlice(v, base, s.length, s.inner, max != 0);
      const int64_t r = o * s.inner + i;
      CopyElement(v, base + pick * s.inner, values, results, r);
      if (index) index[r] = static_cast<double>(pick + 1);
    }
  return DropArgsUnderResults(ctx, outputs, nargin);
}

StatusCode find(EngineContext* ctx, int nargin, int nargout) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  bool fromLast = false;
  if (nargin == 3) {
    NumericView d;
    if (!IsCharArg(ctx, 0) || !ReadNumeric(ctx, 0, &d)) return kWrongType;
    const double first = d.count > 0 ? RealElement(d, 0) : 'f';
    if (first != 'f' && first != 'l') return kUnknownOpt;
    fromLast = first == 'l';
  }
  int64_t limit = -1;
  if (nargin >= 2) {
    int32_t n = 0;
    if (StatusCode st = GetIntegerScalarArg(ctx, nargin - 2, &n); st != kOk) return ReportedStatus(st);
    limit = n;
  }
  const int at = nargin - 1;
  NumericView v;
  if (!ReadNumeric(ctx, at, &v)) return kWrongType;
  const int outputs = nargout < 1 ? 1 : nargout;
  if (v.ndims > 2 && outputs >= 2) return kBadSize;
  int64_t k = 0;
  for (int64_t p = 0; p < v.count && k != limit; ++p) k += IsNonzero(v, p) ? 1 : 0;
  const bool row = v.ndims == 2 && v.dims[0] == 1;
  const int32_t dims[2] = {k == 0 ? 0
                           : row  ? 1
                                  : static_cast<int32_t>(k),
                           k == 0 ? 0
                           : row  ? static_cast<int32_t>(k)
                                  : 1};
  const int64_t columns = v.ndims >= 2 ? v.dims[1] : 1;
  // Deepest first: the values, the columns, then the first output on top.
  uint8_t* values = nullptr;
  double* cols = nullptr;
  double* first = nullptr;
  int pushed = 0;
  StatusCode st = kOk;
  if (outputs >= 3 && (st = PushArrayOfClass(ctx, v.cls, SubtypeAt(ctx, at), 2, dims, &values)) == kOk) ++pushed;
  if (st == kOk && outputs >= 2 && (st = PushDoubleMatrix(ctx, dims[0], dims[1], &cols, nullptr)) == kOk) ++pushed;
  if (st == kOk && (st = PushDoubleMatrix(ctx, dims[0], dims[1], &first, nullptr)) == kOk) ++pushed;
  if (st != kOk) {
    while (pushed-- > 0) PopValue(ctx);
    return st;
  }
  ReadNumeric(ctx, at + pushed, &v);
  int64_t listed = 0;
  for (int64_t q = 0; q < v.count && listed < k; ++q) {
    const int64_t p = fromLast ? v.count - 1 - q : q;
    if (!IsNonzero(v, p)) continue;
    if (outputs == 1) {
      first[listed] = static_cast<double>(p + 1);
    } else {
      first[listed] = static_cast<double>(p / columns + 1);
      cols[listed] = static_cast<double>(p % columns + 1);
    }
    if (values) CopyElement(v, p, values, k, listed);
    ++listed;
  }
  return DropArgsUnderResults(ctx, pushed, nargin);
}

StatusCode nnz(EngineContext* ctx) {
  if (StatusCode st = CheckArgTypes(ctx, 1, nullptr); st != kOk) return st;
  NumericView v;
  if (!ReadNumeric(ctx, 0, &v)) return kWrongType;
  int64_t n = 0;
  for (int64_t p = 0; p < v.count; ++p) n += IsNonzero(v, p) ? 1 : 0;
  if (StatusCode st = PushRealScalar(ctx, static_cast<double>(n)); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

// ---------------------------------------------------------------------------
// The builtin opcodes: ins[1] inputs, ins[2] outputs.

StatusCode MinMaxOpcode(EngineContext* ctx, const int16_t* ins) {
  return FindMinOrMax(ctx, static_cast<Op>(ins[0]) == Op::Max ? 1 : 0, ins[1], ins[2]);
}

StatusCode FindOpcode(EngineContext* ctx, const int16_t* ins) { return find(ctx, ins[1], ins[2]); }

StatusCode NnzOpcode(EngineContext* ctx, const int16_t*) { return nnz(ctx); }
