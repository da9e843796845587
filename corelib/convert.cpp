// Type tests and conversions of the top values: the class and shape tests,
// double and single, char and setstr, cast and typecast, and swapbytes.
// Integer targets keep the low bytes of the truncated value: nothing
// saturates and nothing fails on range.
#include <algorithm>
#include <cstring>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/engine.h"
#include "engine/values/valuestack.h"

namespace {

enum class ClassTest { kChar, kLogical, kNumeric, kFloat, kInteger };

// Any value may be asked; whatever is not an array passes no test.
bool PassesClassTest(EngineContext* ctx, ClassTest test) {
  const ValueDescriptor& d = *DescriptorAt(ctx, 0);
  int32_t subtype = kNumericArray;
  uint32_t cls = kDouble;
  if (IsBoxedArray(d)) {
    subtype = d.extra;
    cls = ReadArray(TopData(ctx)).cls;
  } else if (!IsPlainMatrix(d)) {
    return false;
  }
  switch (test) {
    case ClassTest::kChar:
      return subtype == kCharArray;
    case ClassTest::kLogical:
      return subtype == kLogicalArray;
    case ClassTest::kNumeric:
      return subtype == kNumericArray;
    case ClassTest::kFloat:
      return IsFloatClass(cls);
    case ClassTest::kInteger:
      return IsIntegerClass(cls);  // char and logical elements are integers
  }
  return false;
}

// The answer goes above the operand first, so a push short of room leaves the
// operand in place.
[[nodiscard]] StatusCode ReplaceTopWithLogical(EngineContext* ctx, bool b) {
  if (StatusCode st = PushLogicalScalar(ctx, b ? 1 : 0); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

[[nodiscard]] StatusCode AnswerClassTest(EngineContext* ctx, ClassTest test) {
  return ReplaceTopWithLogical(ctx, PassesClassTest(ctx, test));
}

// A float element's code after truncation, an integer element's low 16 bits.
uint16_t CharCode(const NumericView& s, int64_t k) {
  const auto v = IsFloatClass(s.cls) ? static_cast<uint64_t>(TruncateToInt64(RealElement(s, k)))
                                     : static_cast<uint64_t>(IntegerElement(s, k));
  return static_cast<uint16_t>(v);
}

// char of several operands: their rows stacked in argument order, blank-padded
// to the widest. The operands stay untouched until the result is complete.
[[nodiscard]] StatusCode StackRowsAsChar(EngineContext* ctx, int n) {
  int64_t rows = 0, width = 0;
  for (int p = 0; p < n; ++p) {
    NumericView s;
    if (!ReadNumeric(ctx, p, &s)) return p == 0 ? kWrongType : kWrongTypeInternal;
  }
  for (int p = 0; p < n; ++p) {
    NumericView s;
    ReadNumeric(ctx, p, &s);
    if (s.ndims != 2) return kBadSize;
    if (s.dims[0] == 0) continue;
    rows += s.dims[0];
    width = std::max<int64_t>(width, s.dims[1]);
  }
  if (rows * width > kMaxIntegerElements) return kObjTooLarge;
  const int32_t dims[2] = {static_cast<int32_t>(rows), static_cast<int32_t>(width)};
  uint16_t* out = nullptr;
  if (StatusCode st = PushCharArray(ctx, 2, dims, &out); st != kOk) return st;
  int64_t r = 0;
  for (int p = n; p >= 1; --p) {  // the first operand lies deepest
    NumericView s;
    ReadNumeric(ctx, p, &s);
    if (s.dims[0] == 0) continue;
    for (int64_t i = 0; i < s.dims[0]; ++i, ++r) {
      uint16_t* row = out + r * width;
      for (int64_t j = 0; j < s.dims[1]; ++j) row[j] = CharCode(s, i * s.dims[1] + j);
      std::fill(row + s.dims[1], row + width, uint16_t{' '});
    }
  }
  return DropArgsUnderResults(ctx, n, 1);
}

// The class names cast and typecast know, spelt exactly.
struct NamedClass {
  const char* name;
  uint32_t cls;
  int32_t subtype;
};
constexpr NamedClass kNamedClasses[] = {
    {"double", kDouble, kNumericArray}, {"single", kSingle, kNumericArray}, {"char", kUint16, kCharArray},
    {"logical", kUint8, kLogicalArray}, {"int8", kInt8, kNumericArray},     {"int16", kInt16, kNumericArray},
    {"int32", kInt32, kNumericArray},   {"int64", kInt64, kNumericArray},   {"uint8", kUint8, kNumericArray},
    {"uint16", kUint16, kNumericArray}, {"uint32", kUint32, kNumericArray}, {"uint64", kUint64, kNumericArray},
};

const NamedClass* FindNamedClass(const char* name, int64_t length) {
  for (const NamedClass& c : kNamedClasses)
    if (static_cast<int64_t>(std::strlen(c.name)) == length && std::memcmp(c.name, name, length) == 0) return &c;
  return nullptr;
}

// cast: the value below the name converted where it lies.
[[nodiscard]] StatusCode ConvertUnderName(EngineContext* ctx, const NamedClass& to) {
  if (to.cls == kDouble || to.cls == kSingle) return ConvertArgsToFloat(ctx, 1, to.cls == kSingle, nullptr);
  if (to.subtype == kLogicalArray) return ConvertArgToLogical(ctx, 1);
  const StatusCode st = ConvertArgToIntegerClass(ctx, 1, ElementBytes(to.cls), (to.cls & 0x80) != 0, false);
  if (st == kOk && to.subtype == kCharArray) DescriptorAt(ctx, 1)->extra = kCharArray;
  return st;
}

// typecast: the real parts' bytes of the value below the name, read as
// elements of the named class.
[[nodiscard]] StatusCode ReinterpretUnderName(EngineContext* ctx, const NamedClass& to) {
  NumericView s;
  ReadNumeric(ctx, 1, &s);
  const int64_t bytes = s.count * (ElementBytes(s.cls) / (IsComplexClass(s.cls) ? 2 : 1));
  const int size = ElementBytes(to.cls);
  if (bytes % size != 0) return kBadSize;
  const int64_t count = bytes / size;
  if (count > INT32_MAX) return kObjTooLarge;
  int32_t dims[2] = {static_cast<int32_t>(count), 1};
  if (s.dims[0] == 0) {
    dims[0] = dims[1] = 0;
  } else if (s.ndims == 2 && s.dims[0] == 1) {
    dims[0] = 1;
    dims[1] = static_cast<int32_t>(count);
  }
  void* out = nullptr;
  StatusCode st = kOk;
  if (to.cls == kDouble) {
    st = PushDoubleMatrix(ctx, dims[0], dims[1], reinterpret_cast<double**>(&out), nullptr);
  } else if (to.cls == kSingle) {
    st = PushSingleArray(ctx, 2, dims, reinterpret_cast<float**>(&out), nullptr);
  } else if (to.subtype == kCharArray) {
    st = PushCharArray(ctx, 2, dims, reinterpret_cast<uint16_t**>(&out));
  } else if (to.subtype == kLogicalArray) {
    st = PushLogicalArray(ctx, 2, dims, reinterpret_cast<uint8_t**>(&out));  // bytes other than 0 and 1 stay
  } else {
    st = PushIntegerArray(ctx, 2, dims, size, (to.cls & 0x80) != 0, &out);
  }
  if (st != kOk) return st;
  ReadNumeric(ctx, 2, &s);
  if (bytes > 0) std::memcpy(out, s.data, bytes);
  return DropArgsUnderResults(ctx, 2, 1);
}

// The elements of the array on top, writable.
uint8_t* TopElements(EngineContext* ctx) {
  Cell* data = TopData(ctx);
  return IsPlainMatrix(*DescriptorAt(ctx, 0)) ? reinterpret_cast<uint8_t*>(data)
                                              : reinterpret_cast<uint8_t*>(ReadArray(data).data);
}

}  // namespace

StatusCode ischar(EngineContext* ctx) { return AnswerClassTest(ctx, ClassTest::kChar); }
StatusCode islogical(EngineContext* ctx) { return AnswerClassTest(ctx, ClassTest::kLogical); }
StatusCode isnumeric(EngineContext* ctx) { return AnswerClassTest(ctx, ClassTest::kNumeric); }
StatusCode isfloat(EngineContext* ctx) { return AnswerClassTest(ctx, ClassTest::kFloat); }
StatusCode isinteger(EngineContext* ctx) { return AnswerClassTest(ctx, ClassTest::kInteger); }

StatusCode isscalar(EngineContext* ctx) {
  NumericView s;
  if (!ReadNumeric(ctx, 0, &s)) return kWrongType;
  return ReplaceTopWithLogical(ctx, s.count == 1);
}

StatusCode isvector(EngineContext* ctx) {
  NumericView s;
  if (!ReadNumeric(ctx, 0, &s)) return kWrongType;
  return ReplaceTopWithLogical(ctx, s.ndims == 2 && (s.dims[0] <= 1 || s.dims[1] <= 1));
}

StatusCode ConvertTopToFloatClass(EngineContext* ctx, bool toSingle) {
  const StatusCode st = ConvertArgsToFloat(ctx, 0, toSingle, nullptr);
  return ReportedStatus(st);
}

StatusCode ConvertToChar(EngineContext* ctx, int n) {
  if (n == 0) return PushStringFromBytes(ctx, 0, "");
  if (StatusCode st = CheckArgTypes(ctx, n, nullptr); st != kOk) return st;
  if (n > 1) return StackRowsAsChar(ctx, n);
  if (StatusCode st = ConvertArgToIntegerClass(ctx, 0, 2, true, false); st != kOk) return ReportedStatus(st);
  DescriptorAt(ctx, 0)->extra = kCharArray;
  return kOk;
}

StatusCode CastValue(EngineContext* ctx, int typecast) {
  StatusCode st = kWrongType;
  for (const char* types : {"AS", "BS", "jS"})
    if ((st = CheckArgTypes(ctx, 2, types)) == kOk) break;
  if (st != kOk) return st;
  char name[16];
  int64_t length = 0;
  st = CopyStringArgToBuffer(ctx, 0, name, sizeof name, &length);
  if (st != kOk && st != kObjTooLarge) return ReportedStatus(st);
  const NamedClass* to = st == kOk ? FindNamedClass(name, length) : nullptr;
  if (to == nullptr) return kUnknownOpt;
  if (typecast) return ReinterpretUnderName(ctx, *to);
  if (st = ConvertUnderName(ctx, *to); st != kOk) return ReportedStatus(st);
  PopValue(ctx);
  return kOk;
}

StatusCode swapbytes(EngineContext* ctx) {
  const ValueDescriptor& d = *DescriptorAt(ctx, 0);
  if (!IsPlainMatrix(d) && !IsBoxedArray(d)) return kWrongType;
  NumericView s;
  ReadNumeric(ctx, 0, &s);
  if (IsFloatClass(s.cls))
    if (StatusCode st = DropImaginaryPart(ctx); st != kOk) return ReportedStatus(st);
  ReadNumeric(ctx, 0, &s);
  const int size = ElementBytes(s.cls);
  uint8_t* p = TopElements(ctx);
  for (int64_t k = 0; k < s.count; ++k) std::reverse(p + k * size, p + (k + 1) * size);
  return kOk;
}

// ---------------------------------------------------------------------------
// Opcode handlers.

StatusCode TypeTestOpcode(EngineContext* ctx, const int16_t* ins) {
  switch (static_cast<Op>(ins[0])) {
    case Op::Ischar:
      return ischar(ctx);
    case Op::Islogical:
      return islogical(ctx);
    case Op::Isnumeric:
      return isnumeric(ctx);
    case Op::Isfloat:
      return isfloat(ctx);
    case Op::Isinteger:
      return isinteger(ctx);
    case Op::Isscalar:
      return isscalar(ctx);
    default:
      return isvector(ctx);
  }
}

StatusCode FloatClassOpcode(EngineContext* ctx, const int16_t* ins) {
  return ConvertTopToFloatClass(ctx, static_cast<Op>(ins[0]) == Op::Single);
}

StatusCode CharOpcode(EngineContext* ctx, const int16_t* ins) {
  return ConvertToChar(ctx, static_cast<Op>(ins[0]) == Op::Setstr ? 1 : ins[1]);
}

StatusCode CastOpcode(EngineContext* ctx, const int16_t* ins) {
  return CastValue(ctx, static_cast<Op>(ins[0]) == Op::Typecast ? 1 : 0);
}

StatusCode SwapbytesOpcode(EngineContext* ctx, const int16_t*) { return swapbytes(ctx); }
