// Arrays made from sizes and constants (zeros, ones, eye, cell, rand, randn,
// true, false, inf, nan, realmin, realmax, eps), the size queries (ndims,
// size, length, numel), complex and imag, and join. Builders read their size
// arguments in place and drop them only under a finished result, so a push
// that fails for room leaves the inputs for the host to grow and repeat.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/values/valuestack.h"

namespace {

// size: 0 double, -1 single, else the integer bytes.
struct ClassNameRecord {
  const char* name;
  int32_t size;
  uint8_t isUnsigned;
};

constexpr ClassNameRecord kClassNames[] = {
    {"int8", 1, 0},  {"int16", 2, 0},  {"int32", 4, 0},  {"uint8", 1, 1},   {"uint16", 2, 1}, {"uint32", 4, 1},
    {"int64", 8, 0}, {"uint64", 8, 1}, {"double", 0, 0}, {"single", -1, 0}, {nullptr, 0, 0},
};
constexpr ClassNameRecord kDoubleClass = {"double", 0, 0};
constexpr ClassNameRecord kSingleClass = {"single", -1, 0};

constexpr int kMaxSizeDims = 16;
// Element counts are judged in double precision against the int32 range.
constexpr double kMaxElements = 2147483647.0;
// One scalar size n asks for n x n elements.
constexpr double kMaxSquareSize = 16383;

// Whether the char array at position spells name, in full and in case.
bool ArgTextEquals(EngineContext* ctx, int position, const char* name) {
  NumericView v;
  if (!IsCharArg(ctx, position) || !ReadNumeric(ctx, position, &v)) return false;
  if (v.count != static_cast<int64_t>(std::strlen(name))) return false;
  for (int64_t k = 0; k < v.count; ++k)
    if (RealElement(v, k) != static_cast<unsigned char>(name[k])) return false;
  return true;
}

struct Shape {
  int ndims = 2;
  int32_t dims[kMaxSizeDims] = {1, 1};
  bool empty = false;  // a size not above 0: the builder's own empty value
};

enum class Builder { kFilled, kLogical, kSpecial };

// Reads the n size arguments below the top `above` values into s, removing nothing. The filled and
// logical builders refuse any argument that is not a plain double matrix
// before reading (44); the special values answer 43 where they meet one.
[[nodiscard]] StatusCode ReadSizes(EngineContext* ctx, int n, int above, Builder builder, Shape* s) {
  *s = Shape{};
  if (builder != Builder::kSpecial)
    for (int p = above; p < above + n; ++p)
      if (!IsPlainMatrix(*DescriptorAt(ctx, p))) return kWrongType;
  if (n == 0) return kOk;
  double dims[kMaxSizeDims];
  int nd = 0;
  if (n == 1) {
    const ValueDescriptor& d = *DescriptorAt(ctx, above);
    if (!IsPlainMatrix(d)) return kWrongTypeInternal;
    const int64_t count = int64_t{PlainRows(d)} * d.extra;
    const double* re = &DataAt(ctx, above)->f;  // the real block comes first
    if (count == 0) return kOk;
    if (count == 1) {
      if (re[0] > kMaxSquareSize) return kObjTooLarge;
      if (!(re[0] > 0)) {
        s->empty = true;
        return kOk;
      }
      s->dims[0] = s->dims[1] = static_cast<int32_t>(re[0]);
      return kOk;
    }
    if (builder != Builder::kFilled && count > kMaxSizeDims) return kObjTooLarge;
    for (int64_t k = 0; k < count; ++k)
      if (!(std::trunc(re[k]) > 0)) {
        s->empty = true;
        return kOk;
      }
    if (count > kMaxSizeDims) return kObjTooLarge;
    nd = static_cast<int>(count);
    for (int k = 0; k < nd; ++k) dims[k] = std::trunc(re[k]);
  } else {
    for (int k = 0; k < n; ++k) {
      const int p = above + n - 1 - k;
      const ValueDescriptor& d = *DescriptorAt(ctx, p);
      if (!IsPlainMatrix(d)) return kWrongTypeInternal;
      if (!IsRealScalar(d)) return kNonScalarArg;
      const double x = DataAt(ctx, p)->f;
      if (!(x > 0)) {
        s->empty = true;
        return kOk;
      }
      dims[nd++] = std::trunc(x);
    }
  }
  // Each dimension on its own too: a zero elsewhere must not let 1e300 through to the cast.
  double product = 1;
  for (int k = 0; k < nd; ++k) {
    if (dims[k] > kMaxElements) return kObjTooLarge;
    product *= dims[k];
  }
  if (product > kMaxElements) return kObjTooLarge;
  for (int k = 0; k < nd; ++k) s->dims[k] = static_cast<int32_t>(dims[k]);
  s->ndims = nd;
  while (s->ndims > 2 && s->dims[s->ndims - 1] == 1) --s->ndims;
  return kOk;
}

int64_t ElementCount(const Shape& s) {
  int64_t n = 1;
  for (int k = 0; k < s.ndims; ++k) n *= s.dims[k];
  return n;
}

// An array of the class and shape, its elements left to the caller. A double
// matrix with no rows keeps its columns (the plain form holds 0 x n); other
// empty shapes become 0 x 0 of the class.
[[nodiscard]] StatusCode PushClassArray(EngineContext* ctx, const ClassNameRecord& c, const Shape& s, void** data) {
  if (c.size == 0) {
    if (s.ndims == 2 && s.dims[0] == 0 && s.dims[1] > 0) {
      *data = nullptr;
      return PushValue(ctx, 0, 0, s.dims[1], Room::kStrict, nullptr);
    }
    return PushDoubleArray(ctx, s.ndims, s.dims, reinterpret_cast<double**>(data), nullptr);
  }
  if (c.size < 0) return PushSingleArray(ctx, s.ndims, s.dims, reinterpret_cast<float**>(data), nullptr);
  return PushIntegerArray(ctx, s.ndims, s.dims, c.size, c.isUnsigned != 0, data);
}

int ElementSize(const ClassNameRecord& c) { return c.size == 0 ? 8 : c.size < 0 ? 4 : c.size; }

// Writes x into count elements of the class.
void FillElements(void* data, const ClassNameRecord& c, int64_t count, double x) {
  if (count == 0) return;
  if (c.size == 0) {
    std::fill_n(static_cast<double*>(data), count, x);
  } else if (c.size < 0) {
    std::fill_n(static_cast<float*>(data), count, static_cast<float>(x));
  } else if (x == 0) {
    std::memset(data, 0, count * c.size);
  } else {
    // The constants written to integers are 0 and 1; little-endian, so the
    // low bytes of the 64-bit value are the element.
    const auto v = static_cast<uint64_t>(x);
    auto* bytes = static_cast<uint8_t*>(data);
    for (int64_t k = 0; k < count; ++k) std::memcpy(bytes + k * c.size, &v, c.size);
  }
}

// The class named by the char array at position; false for a name not in the table.
bool FindClassName(EngineContext* ctx, int position, const ClassNameRecord** found) {
  for (const ClassNameRecord* c = kClassNames; c->name != nullptr; ++c)
    if (ArgTextEquals(ctx, position, c->name)) {
      *found = c;
      return true;
    }
  return false;
}

double DoubleSpacing(double x) {
  // Keeping sign, exponent and four fraction bits gives a number of the same
  // binade; its last bit set is one spacing further out. Inf becomes NaN.
  uint64_t bits = 0;
  std::memcpy(&bits, &x, sizeof x);
  const uint64_t s = bits & ~((uint64_t{1} << 48) - 1);
  const uint64_t r = s | 1;
  double a = 0, b = 0;
  std::memcpy(&a, &r, sizeof a);
  std::memcpy(&b, &s, sizeof b);
  return a - b;
}

float SingleSpacing(float x) {
  uint32_t bits = 0;
  std::memcpy(&bits, &x, sizeof x);
  const uint32_t s = bits & 0xFFFF0000u;
  const uint32_t r = s | 1;
  float a = 0, b = 0;
  std::memcpy(&a, &r, sizeof a);
  std::memcpy(&b, &s, sizeof b);
  return a - b;
}

}  // namespace

StatusCode BuildFilledArray(EngineContext* ctx, char selector, int nargin) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, nullptr); st != kOk) return st;
  const bool random = selector == 'r' || selector == 'n';
  if (random && nargin >= 1 && IsCharArg(ctx, nargin - 1)) return AccessRandomState(ctx, selector, nargin);
  const ClassNameRecord* cls = &kDoubleClass;
  int sizes = nargin;
  if ((selector == 'z' || selector == 'o' || selector == 'e') && nargin >= 1 && IsCharArg(ctx, 0)) {
    if (!FindClassName(ctx, 0, &cls)) return kUnknownOpt;
    --sizes;
  }
  Shape s;
  if (StatusCode st = ReadSizes(ctx, sizes, nargin - sizes, Builder::kFilled, &s); st != kOk) return ReportedStatus(st);
  if (s.empty) {
    const StatusCode st = selector == 'c' ? PushEmptyCellArray(ctx, 0, nullptr) : PushEmptyMatrix(ctx);
    if (st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, nargin);
  }
  if (selector == 'c') {
    if (StatusCode st = PushEmptyCellArray(ctx, s.ndims, s.dims); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, nargin);
  }
  if (selector == 'e' && s.ndims > 2) return kBadSize;
  void* data = nullptr;
  if (StatusCode st = PushClassArray(ctx, *cls, s, &data); st != kOk) return st;
  const int64_t count = data ? ElementCount(s) : 0;
  if (random) {
    auto* re = static_cast<double*>(data);
    for (int64_t k = 0; k < count; ++k) re[k] = DrawRandomNumber(ctx, selector);
  } else {
    FillElements(data, *cls, count, selector == 'o' ? 1 : 0);
    if (selector == 'e') {
      const int32_t diagonal = std::min(s.dims[0], s.dims[1]);
      auto* bytes = static_cast<uint8_t*>(data);
      for (int32_t j = 0; j < diagonal; ++j)
        FillElements(bytes + ElementSize(*cls) * (int64_t{j} * (s.dims[1] + 1)), *cls, 1, 1);
    }
  }
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode BuildLogicalArray(EngineContext* ctx, char selector, int nargin) {
  Shape s;
  if (StatusCode st = ReadSizes(ctx, nargin, 0, Builder::kLogical, &s); st != kOk) return ReportedStatus(st);
  if (s.empty) s = {.ndims = 2, .dims = {0, 0}};
  uint8_t* data = nullptr;
  if (StatusCode st = PushLogicalArray(ctx, s.ndims, s.dims, &data); st != kOk) return st;
  const int64_t count = s.dims[0] == 0 || s.dims[1] == 0 ? 0 : ElementCount(s);
  if (count > 0) std::memset(data, selector == 't' ? 1 : 0, count);
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode BuildSpecialValueArray(EngineContext* ctx, char selector, int nargin) {
  double value = 0;
  float single = 0;
  switch (selector) {
    case 'i':
      value = std::numeric_limits<double>::infinity();
      single = std::numeric_limits<float>::infinity();
      break;
    case 'n':
      value = std::numeric_limits<double>::quiet_NaN();
      single = std::numeric_limits<float>::quiet_NaN();
      break;
    case 'm':
      value = 0x1p-1022;
      single = 0x1p-126f;
      break;
    default:
      value = 0x1.fffffffffffffp1023;
      single = 0x1.fffffep127f;
      break;
  }
  if (nargin == 0) return PushRealScalar(ctx, value);
  const ClassNameRecord* cls = &kDoubleClass;
  int sizes = nargin;
  if (IsCharArg(ctx, 0)) {
    if (ArgTextEquals(ctx, 0, "single"))
      cls = &kSingleClass;
    else if (!ArgTextEquals(ctx, 0, "double"))
      return kUnknownOpt;
    --sizes;
  }
  Shape s;
  if (StatusCode st = ReadSizes(ctx, sizes, nargin - sizes, Builder::kSpecial, &s); st != kOk) return st;
  if (s.empty) s = {.ndims = 2, .dims = {0, 0}};
  void* data = nullptr;
  if (StatusCode st = PushClassArray(ctx, *cls, s, &data); st != kOk) return st;
  const int64_t count = data ? ElementCount(s) : 0;
  if (cls->size < 0)
    std::fill_n(static_cast<float*>(data), count, single);
  else
    std::fill_n(static_cast<double*>(data), count, value);
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode eps(EngineContext* ctx, int nargin) {
  if (nargin == 0) return PushRealScalar(ctx, 0x1p-52);
  if (IsCharArg(ctx, 0)) {
    StatusCode st = kOk;
    if (ArgTextEquals(ctx, 0, "double"))
      st = PushRealScalar(ctx, 0x1p-52);
    else if (ArgTextEquals(ctx, 0, "single"))
      st = PushSingleScalar(ctx, 0x1p-23, 0, false);
    else
      return kUnknownOpt;
    if (st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, 1);
  }
  int64_t count = 0;
  if (GetDoubleArrayArg(ctx, 0, nullptr, nullptr, nullptr, nullptr, nullptr) == kOk) {
    (void)DropImaginaryPart(ctx);
    double* re = nullptr;
    (void)GetDoubleArrayArg(ctx, 0, nullptr, nullptr, &count, &re, nullptr);
    for (int64_t k = 0; k < count; ++k) re[k] = DoubleSpacing(re[k]);
    return kOk;
  }
  if (GetSingleArrayArg(ctx, 0, nullptr, nullptr, nullptr, nullptr, nullptr) == kOk) {
    (void)DropImaginaryPart(ctx);
    float* re = nullptr;
    (void)GetSingleArrayArg(ctx, 0, nullptr, nullptr, &count, &re, nullptr);
    for (int64_t k = 0; k < count; ++k) re[k] = SingleSpacing(re[k]);
    return kOk;
  }
  return kWrongTypeInternal;
}

StatusCode complex(EngineContext* ctx) {
  int nda = 0, ndb = 0;
  int32_t da[kMaxDims], db[kMaxDims];
  int64_t ca = 0, cb = 0;
  if (StatusCode st = GetDoubleArrayArg(ctx, 1, &nda, da, &ca, nullptr, nullptr); st != kOk) return ReportedStatus(st);
  if (StatusCode st = GetDoubleArrayArg(ctx, 0, &ndb, db, &cb, nullptr, nullptr); st != kOk) return ReportedStatus(st);
  const bool scalarA = ca == 1, scalarB = cb == 1;
  if (!scalarA && !scalarB && (nda != ndb || !std::equal(da, da + nda, db))) return kIncompSize;
  const int nd = scalarA ? ndb : nda;
  const int32_t* dims = scalarA ? db : da;
  const int64_t count = scalarA ? cb : ca;
  double* re = nullptr;
  double* im = nullptr;
  if (StatusCode st = PushDoubleArray(ctx, nd, dims, &re, &im); st != kOk) return st;
  double* ra = nullptr;
  double* rb = nullptr;
  (void)GetDoubleArrayArg(ctx, 2, nullptr, nullptr, nullptr, &ra, nullptr);
  (void)GetDoubleArrayArg(ctx, 1, nullptr, nullptr, nullptr, &rb, nullptr);
  for (int64_t k = 0; k < count; ++k) {
    re[k] = ra[scalarA ? 0 : k];
    im[k] = rb[scalarB ? 0 : k];
  }
  return DropArgsUnderResults(ctx, 1, 2);
}

StatusCode imag(EngineContext* ctx) {
  int64_t count = 0;
  double* re = nullptr;
  double* im = nullptr;
  if (StatusCode st = GetDoubleArrayArg(ctx, 0, nullptr, nullptr, &count, &re, &im); st != kOk)
    return ReportedStatus(st);
  if (count == 0) return kOk;
  if (im)
    std::memmove(re, im, count * sizeof(double));
  else
    std::memset(re, 0, count * sizeof(double));
  return DropImaginaryPart(ctx);
}

StatusCode ndims(EngineContext* ctx) {
  int nd = 0;
  int32_t dims[kMaxDims + 1];
  if (StatusCode st = GetArgDims(ctx, 0, &nd, dims, nullptr); st != kOk) return ReportedStatus(st);
  if (StatusCode st = PushRealScalar(ctx, nd); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode size(EngineContext* ctx, int nargin, int nargout) {
  nargout = std::max(nargout, 1);
  if (nargin == 2 && nargout > 1) return kTooManyArgout;
  int nd = 0;
  int32_t dims[kMaxDims + 1];
  int64_t count = 0;
  if (StatusCode st = GetArgDims(ctx, nargin - 1, &nd, dims, &count); st != kOk) return ReportedStatus(st);
  // A list or a structure reports one dimension but answers as a 1 x k row.
  const int known = std::max(nd, 2);
  auto dimension = [&](int64_t i) -> double { return i <= known ? dims[i - 1] : (count > 0 ? 1 : 0); };
  if (nargin == 2) {
    int32_t dim = 0;
    if (StatusCode st = GetIntegerScalarArg(ctx, 0, &dim); st != kOk) return ReportedStatus(st);
    if (dim < 1) return kBadDim;
    if (StatusCode st = PushRealScalar(ctx, dimension(dim)); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, 2);
  }
  if (nargout == 1) {
    double* row = nullptr;
    if (StatusCode st = PushDoubleMatrix(ctx, 1, known, &row, nullptr); st != kOk) return st;
    for (int k = 0; k < known; ++k) row[k] = dims[k];
    return DropArgsUnderResults(ctx, 1, 1);
  }
  for (int i = nargout; i >= 1; --i) {
    if (StatusCode st = PushRealScalar(ctx, dimension(i)); st != kOk) {
      for (int pushed = nargout - i; pushed > 0; --pushed) PopValue(ctx);
      return st;
    }
  }
  return DropArgsUnderResults(ctx, nargout, 1);
}

StatusCode ComputeLengthOrNumel(EngineContext* ctx, bool length) {
  int nd = 0;
  int32_t dims[kMaxDims + 1];
  int64_t count = 0;
  if (StatusCode st = GetArgDims(ctx, 0, &nd, dims, &count); st != kOk) return ReportedStatus(st);
  double n = static_cast<double>(count);
  if (length) n = *std::max_element(dims, dims + std::max(nd, 2));
  if (StatusCode st = PushRealScalar(ctx, n); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode join(EngineContext* ctx, int n) {
  int64_t total = 0;
  for (int p = 0; p < n; ++p) {
    const ValueDescriptor& d = *DescriptorAt(ctx, p);
    if (d.kind != kComposite || (d.extra != kList && d.extra != kCellArray)) return kWrongType;
    total += d.cells;
    if (d.extra == kCellArray) total -= ElementSpan(reinterpret_cast<CompositeElementHeader*>(DataAt(ctx, p)));
  }
  if (n == 0) return MakeListFromValues(ctx, 0, false, nullptr, 0);
  if (total > kMaxPlainCells) return kObjTooLarge;
  // A cell array is a list led by its dims element: dropping that element
  // makes it one. The elements then lie end to end, and one descriptor
  // covers them all.
  for (int p = 0; p < n; ++p) {
    ValueDescriptor& d = *DescriptorAt(ctx, p);
    if (d.extra != kCellArray) continue;
    Cell* at = DataAt(ctx, p);
    const int64_t span = ElementSpan(reinterpret_cast<CompositeElementHeader*>(at));
    Cell* top = ctx->dataBase + ctx->dataTop;
    std::memmove(at, at + span, (top - at - span) * sizeof(Cell));
    ctx->dataTop -= static_cast<int32_t>(span);
    d.cells -= static_cast<int32_t>(span);
    d.extra = kList;
  }
  // n >= 1 descriptors give way to one: there is room for it.
  ctx->descLength -= 3 * n;
  auto* list = reinterpret_cast<ValueDescriptor*>(ctx->descBase + ctx->descLength);
  *list = {kComposite, static_cast<int32_t>(total), kList};
  ctx->descLength += 3;
  return kOk;
}

// ---------------------------------------------------------------------------
// The builtin opcodes. ins[1] is the input count where the opcode has one;
// size also has its output count in ins[2].

StatusCode ArrayBuilderOpcode(EngineContext* ctx, const int16_t* ins) {
  const int nargin = ins[1];
  switch (static_cast<Op>(ins[0])) {
    case Op::Inf:
      return BuildSpecialValueArray(ctx, 'i', nargin);
    case Op::Nan:
      return BuildSpecialValueArray(ctx, 'n', nargin);
    case Op::Realmin:
      return BuildSpecialValueArray(ctx, 'm', nargin);
    case Op::Realmax:
      return BuildSpecialValueArray(ctx, 'M', nargin);
    case Op::Eps:
      return eps(ctx, nargin);
    case Op::True:
      return BuildLogicalArray(ctx, 't', nargin);
    case Op::False:
      return BuildLogicalArray(ctx, 'f', nargin);
    case Op::Cell:
      return BuildFilledArray(ctx, 'c', nargin);
    case Op::Zeros:
      return BuildFilledArray(ctx, 'z', nargin);
    case Op::Ones:
      return BuildFilledArray(ctx, 'o', nargin);
    case Op::Eye:
      return BuildFilledArray(ctx, 'e', nargin);
    case Op::Rand:
      return BuildFilledArray(ctx, 'r', nargin);
    case Op::Randn:
      return BuildFilledArray(ctx, 'n', nargin);
    default:
      return kNotSupported;
  }
}

StatusCode SizeQueryOpcode(EngineContext* ctx, const int16_t* ins) {
  switch (static_cast<Op>(ins[0])) {
    case Op::Ndims:
      return ndims(ctx);
    case Op::Size:
      return size(ctx, ins[1], ins[2]);
    case Op::Length:
      return ComputeLengthOrNumel(ctx, true);
    case Op::Numel:
      return ComputeLengthOrNumel(ctx, false);
    default:
      return kNotSupported;
  }
}

StatusCode ComplexOpcode(EngineContext* ctx, const int16_t*) { return complex(ctx); }

StatusCode ImagOpcode(EngineContext* ctx, const int16_t*) { return imag(ctx); }

StatusCode JoinOpcode(EngineContext* ctx, const int16_t* ins) { return join(ctx, ins[1]); }
