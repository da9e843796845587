// Bit functions over integer, char and logical arrays bit for bit, and over
// doubles through u(x), the low 32 bits of TruncateToInt64(x). Shifts and
// masks by a count of the width or more are computed in 64 bits and never
// shift by the width itself, where the language would give undefined results.
#include <cstdint>
#include <cstring>

#include "corelib/arrays.h"
#include "corelib/corelib.h"

namespace {

enum class Kind { kDouble, kInteger, kChar, kLogical };

// An operand as the bit functions see it: doubles (real parts only) or
// elements of some integer width.
struct Operand {
  Kind kind = Kind::kDouble;
  int bytes = 8;
  bool isUnsigned = false;
  void* data = nullptr;
  int ndims = 0;
  int32_t dims[kMaxDims] = {};
  int64_t count = 0;

  int Width() const { return kind == Kind::kDouble ? 32 : bytes * 8; }
};

[[nodiscard]] StatusCode ReadOperand(EngineContext* ctx, int position, Operand* o) {
  double* re = nullptr;
  if (GetDoubleArrayArg(ctx, position, &o->ndims, o->dims, &o->count, &re, nullptr) == kOk) {
    o->kind = Kind::kDouble;
    o->bytes = 8;
    o->isUnsigned = false;
    o->data = re;
    return kOk;
  }
  if (StatusCode st =
          GetIntegerArrayArg(ctx, position, &o->ndims, o->dims, &o->count, &o->bytes, &o->isUnsigned, &o->data);
      st != kOk)
    return kWrongTypeInternal;
  o->kind = IsCharArg(ctx, position) ? Kind::kChar : IsLogicalArg(ctx, position) ? Kind::kLogical : Kind::kInteger;
  return kOk;
}

// u(x) of a double, the element zero- or sign-extended to 64 bits otherwise.
uint64_t Element(const Operand& o, int64_t k) {
  if (o.count == 1) k = 0;
  switch (o.kind == Kind::kDouble ? 0 : o.bytes) {
    case 0:
      return static_cast<uint32_t>(TruncateToInt64(static_cast<const double*>(o.data)[k]));
    case 1:
      return o.isUnsigned ? static_cast<const uint8_t*>(o.data)[k]
                          : static_cast<uint64_t>(int64_t{static_cast<const int8_t*>(o.data)[k]});
    case 2:
      return o.isUnsigned ? static_cast<const uint16_t*>(o.data)[k]
                          : static_cast<uint64_t>(int64_t{static_cast<const int16_t*>(o.data)[k]});
    case 4:
      return o.isUnsigned ? static_cast<const uint32_t*>(o.data)[k]
                          : static_cast<uint64_t>(int64_t{static_cast<const int32_t*>(o.data)[k]});
    default:
      return static_cast<const uint64_t*>(o.data)[k];
  }
}

// A count converted to int32, sign-extended by Element.
int64_t Signed(const Operand& o, int64_t k) { return static_cast<int64_t>(Element(o, k)); }

// The low n bits of a width-bit element: none for n <= 0, all from the width on.
uint64_t Mask(int64_t n, int width) {
  const uint64_t all = width == 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1;
  if (n <= 0) return 0;
  if (n >= width) return all;
  return (uint64_t{1} << n) - 1;
}

// The result's kind and width: doubles stay doubles; a char or logical
// result that cannot keep its kind becomes the integer class of its width.
struct ResultClass {
  Kind kind;
  int bytes;
  bool isUnsigned;
};

ResultClass IntegerClassOf(const Operand& o) {
  if (o.kind == Kind::kDouble) return {Kind::kDouble, 8, false};
  return {Kind::kInteger, o.bytes, o.kind == Kind::kInteger ? o.isUnsigned : true};
}

ResultClass SameClassAs(const Operand& o) { return {o.kind, o.bytes, o.isUnsigned}; }

[[nodiscard]] StatusCode PushResult(EngineContext* ctx, const ResultClass& c, int ndims, const int32_t* dims,
                                    void** data) {
  switch (c.kind) {
    case Kind::kDouble:
      return PushDoubleArray(ctx, ndims, dims, reinterpret_cast<double**>(data), nullptr);
    case Kind::kChar:
      return PushCharArray(ctx, ndims, dims, reinterpret_cast<uint16_t**>(data));
    case Kind::kLogical:
      return PushLogicalArray(ctx, ndims, dims, reinterpret_cast<uint8_t**>(data));
    case Kind::kInteger:
      break;
  }
  return PushIntegerArray(ctx, ndims, dims, c.bytes, c.isUnsigned, data);
}

// Stores the low bits of v; a double result holds a 32-bit value.
void Store(const ResultClass& c, void* data, int64_t k, uint64_t v) {
  if (c.kind == Kind::kDouble)
    static_cast<double*>(data)[k] = static_cast<double>(v & 0xFFFFFFFFu);
  else
    StoreLowBytes(data, c.bytes, k, v);
}

// The top n arguments, first input at index 0; positions count from the top.
struct Args {
  Operand op[3];
  int n = 0;
  int ndims = 2;
  int32_t dims[kMaxDims] = {1, 1};
  int64_t count = 1;
};

// Reads the arguments and their common size: scalars expand, the others must
// agree (20).
[[nodiscard]] StatusCode ReadArgs(EngineContext* ctx, int n, int above, Args* a) {
  a->n = n;
  bool seen = false;
  for (int i = 0; i < n; ++i) {
    Operand& o = a->op[i];
    if (StatusCode st = ReadOperand(ctx, above + n - 1 - i, &o); st != kOk) return st;
    if (o.count == 1) continue;
    if (!seen) {
      seen = true;
      a->ndims = o.ndims;
      std::memcpy(a->dims, o.dims, sizeof o.dims);
      a->count = o.count;
    } else if (o.ndims != a->ndims || std::memcmp(o.dims, a->dims, o.ndims * sizeof(int32_t)) != 0) {
      return kIncompSize;
    }
  }
  return kOk;
}

// Pushes the result, reads the arguments again beneath it (the push may have
// moved nothing, but pointers are only promised until a push), fills it with
// fill(args, k) and drops the arguments.
template <class Fill>
[[nodiscard]] StatusCode Produce(EngineContext* ctx, int nargin, const Args& shape, const ResultClass& c, Fill fill) {
  void* out = nullptr;
  if (StatusCode st = PushResult(ctx, c, shape.ndims, shape.dims, &out); st != kOk) return st;
  Args a;
  if (StatusCode st = ReadArgs(ctx, nargin, 1, &a); st != kOk) {
    (void)DropArgsUnderResults(ctx, 0, 1);
    return st;
  }
  for (int64_t k = 0; k < shape.count; ++k) Store(c, out, k, fill(a, k));
  return DropArgsUnderResults(ctx, 1, nargin);
}

bool IsScalarMeetingArray(const Args& a) {
  if (a.op[0].count != 1) return false;
  for (int i = 1; i < a.n; ++i)
    if (a.op[i].count != 1) return true;
  return false;
}

// The class of a result written over the first operand: its own kind, or
// its integer class when a scalar first operand meets arrays.
ResultClass OverFirst(const Args& a) {
  return IsScalarMeetingArray(a) ? IntegerClassOf(a.op[0]) : SameClassAs(a.op[0]);
}

[[nodiscard]] StatusCode CheckPositions(const Args& a) {
  const int width = a.op[0].Width();
  for (int64_t k = 0; k < a.count; ++k) {
    const int64_t n = Signed(a.op[1], k);
    if (n < 1 || n > width) return kIndexOutOfRange;
  }
  return kOk;
}

uint64_t Gray(uint64_t x) { return x ^ (x >> 1); }

// Bit i of the result is the xor of bits i and above of x.
uint64_t InverseGray(uint64_t x, int width) {
  for (int s = 1; s < width; s *= 2) x ^= x >> s;
  return x;
}

}  // namespace

StatusCode BitGetNative(EngineContext* ctx, int nargin, int, void*) {
  if (StatusCode st = ConvertArgToIntegerClass(ctx, 0, 4, false, false); st != kOk) return st;
  Args a;
  if (StatusCode st = ReadArgs(ctx, nargin, 0, &a); st != kOk) return st;
  if (StatusCode st = CheckPositions(a); st != kOk) return st;
  return Produce(ctx, nargin, a, OverFirst(a),
                 [](const Args& v, int64_t k) { return (Element(v.op[0], k) >> (Signed(v.op[1], k) - 1)) & 1; });
}

StatusCode BitSetNative(EngineContext* ctx, int nargin, int, void*) {
  if (nargin == 3)
    if (StatusCode st = ConvertArgToLogical(ctx, 0); st != kOk) return st;
  if (StatusCode st = ConvertArgToIntegerClass(ctx, nargin - 2, 4, false, false); st != kOk) return st;
  Args a;
  if (StatusCode st = ReadArgs(ctx, nargin, 0, &a); st != kOk) return st;
  if (StatusCode st = CheckPositions(a); st != kOk) return st;
  return Produce(ctx, nargin, a, IntegerClassOf(a.op[0]), [](const Args& v, int64_t k) {
    const uint64_t bit = uint64_t{1} << (Signed(v.op[1], k) - 1);
    const bool on = v.n < 3 || Element(v.op[2], k) != 0;
    return on ? Element(v.op[0], k) | bit : Element(v.op[0], k) & ~bit;
  });
}

StatusCode BitwiseNative(EngineContext* ctx, int nargin, int, void* selector) {
  const auto op = static_cast<char>(reinterpret_cast<intptr_t>(selector));
  for (int p = 0; p < nargin; ++p)
    if (GetSingleArrayArg(ctx, p, nullptr, nullptr, nullptr, nullptr, nullptr) == kOk) return kWrongTypeInternal;
  if (StatusCode st = UnifyNumericArgs(ctx, nargin); st != kOk) return st;
  Args a;
  if (StatusCode st = ReadArgs(ctx, nargin, 0, &a); st != kOk) return st;
  // Two chars or two logicals unify to their integer class.
  return Produce(ctx, nargin, a, IntegerClassOf(a.op[0]), [op](const Args& v, int64_t k) {
    const uint64_t x = Element(v.op[0], k), y = Element(v.op[1], k);
    return op == '&' ? x & y : op == '|' ? x | y : x ^ y;
  });
}

StatusCode BitCmpNative(EngineContext* ctx, int nargin, int, void*) {
  if (nargin == 2)
    if (StatusCode st = ConvertArgToIntegerClass(ctx, 0, 4, true, false); st != kOk) return st;
  Args a;
  if (StatusCode st = ReadArgs(ctx, nargin, 0, &a); st != kOk) return st;
  if (nargin == 1 && a.op[0].kind == Kind::kDouble) return kWrongTypeInternal;
  // A logical holds only 0 and 1: its complement is a uint8.
  ResultClass c = OverFirst(a);
  if (c.kind == Kind::kLogical) c = IntegerClassOf(a.op[0]);
  return Produce(ctx, nargin, a, c, [](const Args& v, int64_t k) {
    const int width = v.op[0].Width();
    const uint64_t mask = v.n == 1 ? Mask(width, width) : Mask(static_cast<int64_t>(Element(v.op[1], k)), width);
    return mask & ~Element(v.op[0], k);
  });
}

StatusCode BitShiftNative(EngineContext* ctx, int nargin, int, void*) {
  for (int p = 0; p < nargin - 1; ++p)
    if (StatusCode st = ConvertArgToIntegerClass(ctx, p, 4, false, false); st != kOk) return st;
  Args a;
  if (StatusCode st = ReadArgs(ctx, nargin, 0, &a); st != kOk) return st;
  return Produce(ctx, nargin, a, IntegerClassOf(a.op[0]), [](const Args& v, int64_t k) {
    const Operand& x = v.op[0];
    const int width = x.Width();
    const uint64_t bits = Element(x, k) & Mask(width, width);
    // k is an int32, so -k fits in 64 bits even for -2^31.
    const int64_t shift = Signed(v.op[1], k);
    uint64_t r = 0;
    if (shift >= 0) {
      r = shift >= width ? 0 : bits << shift;
    } else if (x.kind == Kind::kInteger && !x.isUnsigned) {
      const int64_t s = static_cast<int64_t>(Element(x, k));  // sign-extended
      r = static_cast<uint64_t>(-shift >= width ? (s < 0 ? -1 : 0) : s >> -shift);
    } else {
      r = -shift >= width ? 0 : bits >> -shift;
    }
    r &= Mask(width, width);
    if (v.n == 3) r &= Mask(Signed(v.op[2], k), width);
    return r;
  });
}

StatusCode BitReduceNative(EngineContext* ctx, int nargin, int, void* selector) {
  const bool all = static_cast<char>(reinterpret_cast<intptr_t>(selector)) == '&';
  int32_t dim = 0;
  if (nargin == 2) {
    if (StatusCode st = GetIntegerScalarArg(ctx, 0, &dim); st != kOk) return st;
    if (dim < 1) return kBadDim;
  }
  Operand x;
  if (ReadOperand(ctx, nargin - 1, &x) != kOk) return kWrongType;
  if (x.ndims > 16) return kOutOfRangeArg;
  if (dim == 0) {
    dim = 1;
    for (int d = 0; d < x.ndims; ++d)
      if (x.dims[d] != 1) {
        dim = d + 1;
        break;
      }
  }
  // Dimensions beyond the last are 1: each element is its own combination.
  int32_t rdims[kMaxDims];
  std::memcpy(rdims, x.dims, sizeof rdims);
  const int32_t along = dim <= x.ndims ? x.dims[dim - 1] : 1;
  if (dim <= x.ndims) rdims[dim - 1] = 1;
  int64_t rcount = 1;
  for (int d = 0; d < x.ndims; ++d) rcount *= rdims[d];

  const ResultClass c = IntegerClassOf(x);
  void* out = nullptr;
  if (StatusCode st = PushResult(ctx, c, x.ndims, rdims, &out); st != kOk) return st;
  if (StatusCode st = ReadOperand(ctx, nargin, &x); st != kOk) {
    (void)DropArgsUnderResults(ctx, 0, 1);
    return st;
  }
  const uint64_t ones = Mask(x.Width(), x.Width());
  uint32_t subs[kMaxDims] = {};
  uint32_t udims[kMaxDims];
  uint32_t urdims[kMaxDims];
  for (int d = 0; d < x.ndims; ++d)
    udims[d] = static_cast<uint32_t>(x.dims[d]), urdims[d] = static_cast<uint32_t>(rdims[d]);
  for (int64_t r = 0; r < rcount; ++r) {
    uint64_t acc = all ? ones : 0;
    for (int32_t t = 0; t < along; ++t) {
      if (dim <= x.ndims) subs[dim - 1] = static_cast<uint32_t>(t);
      const uint64_t e = Element(x, ArrayElementIndex(udims, x.ndims, subs)) & ones;
      acc = all ? acc & e : acc | e;
    }
    if (dim <= x.ndims) subs[dim - 1] = 0;
    Store(c, out, ArrayElementIndex(urdims, x.ndims, subs), acc);
    // The next result subscript, the first dimension fastest.
    for (int d = 0; d < x.ndims; ++d) {
      if (++subs[d] < urdims[d]) break;
      subs[d] = 0;
    }
  }
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode GrayCodeNative(EngineContext* ctx, int, int, void* selector) {
  const bool encode = static_cast<char>(reinterpret_cast<intptr_t>(selector)) == 'g';
  Operand x;
  if (ReadOperand(ctx, 0, &x) != kOk) return kWrongType;
  if (x.kind == Kind::kDouble) {
    auto* re = static_cast<double*>(x.data);
    for (int64_t k = 0; k < x.count; ++k) {
      const auto v = static_cast<uint64_t>(TruncateToInt64(re[k]));
      const uint64_t g = encode ? Gray(v) : InverseGray(v, 64);
      re[k] = static_cast<double>(g >> 32) * 4294967296.0 + static_cast<double>(g & 0xFFFFFFFFu);
    }
    return DropImaginaryPart(ctx);
  }
  // In place, the kind kept: zero-extended, converted, stored at the width.
  const ResultClass c = SameClassAs(x);
  const uint64_t ones = Mask(x.Width(), x.Width());
  for (int64_t k = 0; k < x.count; ++k) {
    const uint64_t v = Element(x, k) & ones;
    Store(c, x.data, k, encode ? Gray(v) : InverseGray(v, x.Width() == 64 ? 64 : 32));
  }
  return kOk;
}
