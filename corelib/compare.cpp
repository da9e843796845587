// Comparisons and logical operations on the value stack: the elementwise
// relational operators in the operands' common class, and, or and xor, not,
// the floating-point classification and the bitwise identity tests.
#include <cmath>
#include <cstring>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/values/valuestack.h"

namespace {

// Relation of a and b for '=', '<' and 'L' on ordered values; the caller
// negates '=' for '~'.
template <class T>
bool Relate(char op, T a, T b) {
  if (op == '=') return a == b;
  if (op == '<') return a < b;
  return a <= b;
}

// Integer element k of a run of elements of the given size and signedness,
// widened so that one comparison serves every class.
__int128 IntegerAt(const void* data, int bytes, bool isUnsigned, int64_t k) {
  const auto* p = static_cast<const uint8_t*>(data) + k * bytes;
  switch (bytes) {
    case 1:
      return isUnsigned ? __int128{*p} : __int128{static_cast<int8_t>(*p)};
    case 2: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return isUnsigned ? __int128{v} : __int128{static_cast<int16_t>(v)};
    }
    case 4: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return isUnsigned ? __int128{v} : __int128{static_cast<int32_t>(v)};
    }
    default: {
      uint64_t v;
      std::memcpy(&v, p, 8);
      return isUnsigned ? __int128{v} : __int128{static_cast<int64_t>(v)};
    }
  }
}

// Floating elements: ordered relations see the real parts only; equality
// needs both parts equal, so a NaN anywhere makes it false.
template <class T>
bool RelateFloat(char op, const T* are, const T* aim, int64_t ka, const T* bre, const T* bim, int64_t kb) {
  if (op != '=') return Relate(op, are[ka], bre[kb]);
  const T ai = aim ? aim[ka] : T{0}, bi = bim ? bim[kb] : T{0};
  return are[ka] == bre[kb] && ai == bi;
}

}  // namespace

StatusCode CompareElementwise(EngineContext* ctx, char operation) {
  if (StatusCode st = UnifyNumericArgs(ctx, 2); st != kOk) return ReportedStatus(st);
  int nd = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  double* re[2];
  double* im[2];
  float* sre[2];
  float* sim[2];
  void* ints[2];
  int bytes[2] = {};
  bool isUnsigned[2] = {};
  uint8_t isArray[2] = {};
  if (StatusCode st =
          CheckElementwiseArgs(ctx, 2, &nd, dims, &count, re, im, sre, sim, ints, bytes, isUnsigned, isArray);
      st != kOk)
    return ReportedStatus(st);
  uint8_t* out = nullptr;
  if (StatusCode st = PushLogicalArray(ctx, nd, dims, &out); st != kOk) return st;

  // Position 1 is the first operand; gt and ge swap and run as lt and le.
  int a = 1, b = 0;
  char op = operation;
  if (op == '>' || op == 'G') {
    a = 0, b = 1;
    op = op == '>' ? '<' : 'L';
  }
  const bool negate = op == '~';
  if (negate) op = '=';
  for (int64_t k = 0; k < count; ++k) {
    const int64_t ka = isArray[a] ? k : 0, kb = isArray[b] ? k : 0;
    bool r = false;
    if (re[a] != nullptr)
      r = RelateFloat(op, re[a], im[a], ka, re[b], im[b], kb);
    else if (sre[a] != nullptr)
      r = RelateFloat(op, sre[a], sim[a], ka, sre[b], sim[b], kb);
    else
      r = Relate(op, IntegerAt(ints[a], bytes[a], isUnsigned[a], ka), IntegerAt(ints[b], bytes[b], isUnsigned[b], kb));
    out[k] = (r != negate) ? 1 : 0;
  }
  return DropArgsUnderResults(ctx, 1, 2);
}

StatusCode CombineLogicalElementwise(EngineContext* ctx, char operation) {
  if (StatusCode st = CheckArgTypes(ctx, 2, nullptr); st != kOk) return st;
  for (int p = 0; p < 2; ++p)
    if (StatusCode st = ConvertArgToLogical(ctx, p); st != kOk) return ReportedStatus(st);
  int nd = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  void* ints[2];
  uint8_t isArray[2] = {};
  if (StatusCode st = CheckElementwiseArgs(ctx, 2, &nd, dims, &count, nullptr, nullptr, nullptr, nullptr, ints, nullptr,
                                           nullptr, isArray);
      st != kOk)
    return ReportedStatus(st);
  uint8_t* out = nullptr;
  if (StatusCode st = PushLogicalArray(ctx, nd, dims, &out); st != kOk) return st;
  const auto* x = static_cast<const uint8_t*>(ints[1]);
  const auto* y = static_cast<const uint8_t*>(ints[0]);
  for (int64_t k = 0; k < count; ++k) {
    const uint8_t a = x[isArray[1] ? k : 0], b = y[isArray[0] ? k : 0];
    out[k] = operation == '&' ? (a & b) : operation == '|' ? (a | b) : (a ^ b);
  }
  return DropArgsUnderResults(ctx, 1, 2);
}

StatusCode ClassifyFloatElements(EngineContext* ctx, char kind) {
  int nd = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  double* re = nullptr;
  double* im = nullptr;
  if (StatusCode st = GetDoubleArrayArg(ctx, 0, &nd, dims, &count, &re, &im); st != kOk) return ReportedStatus(st);
  uint8_t* out = nullptr;
  if (StatusCode st = PushLogicalArray(ctx, nd, dims, &out); st != kOk) return st;
  for (int64_t k = 0; k < count; ++k) {
    const double x = re[k], y = im ? im[k] : 0.0;
    bool r = false;
    if (kind == 'f')
      r = std::isfinite(x) && std::isfinite(y);
    else if (kind == 'i')
      r = std::isinf(x) || std::isinf(y);
    else
      r = std::isnan(x) || std::isnan(y);
    out[k] = r ? 1 : 0;
  }
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode CompareValuesIdentical(EngineContext* ctx, int negate) {
  const ValueDescriptor a = *DescriptorAt(ctx, 1), b = *DescriptorAt(ctx, 0);
  bool same = a.kind == b.kind && a.cells == b.cells && a.extra == b.extra;
  if (same && a.cells > 0) same = std::memcmp(DataAt(ctx, 1), DataAt(ctx, 0), int64_t{a.cells} * sizeof(Cell)) == 0;
  PopValue(ctx);
  PopValue(ctx);
  // Two values were just removed, so the scalar always finds room.
  return PushLogicalScalar(ctx, (same != (negate != 0)) ? 1 : 0);
}

// ---------------------------------------------------------------------------
// Opcode handlers.

StatusCode CompareOpcode(EngineContext* ctx, const int16_t* ins) {
  switch (static_cast<Op>(ins[0])) {
    case Op::Eq:
      return CompareElementwise(ctx, '=');
    case Op::Ne:
      return CompareElementwise(ctx, '~');
    case Op::Lt:
      return CompareElementwise(ctx, '<');
    case Op::Gt:
      return CompareElementwise(ctx, '>');
    case Op::Le:
      return CompareElementwise(ctx, 'L');
    default:
      return CompareElementwise(ctx, 'G');
  }
}

StatusCode LogicalCombineOpcode(EngineContext* ctx, const int16_t* ins) {
  const auto op = static_cast<Op>(ins[0]);
  return CombineLogicalElementwise(ctx, op == Op::And ? '&' : op == Op::Or ? '|' : '^');
}

StatusCode ClassifyOpcode(EngineContext* ctx, const int16_t* ins) {
  const auto op = static_cast<Op>(ins[0]);
  return ClassifyFloatElements(ctx, op == Op::Isfinite ? 'f' : op == Op::Isinf ? 'i' : 'n');
}

StatusCode SameOpcode(EngineContext* ctx, const int16_t* ins) {
  return CompareValuesIdentical(ctx, static_cast<Op>(ins[0]) == Op::Unsame ? 1 : 0);
}

// not: the operand taken as logical, each element flipped in place.
StatusCode NotOpcode(EngineContext* ctx, const int16_t*) {
  if (StatusCode st = CheckArgTypes(ctx, 1, nullptr); st != kOk) return st;
  if (StatusCode st = ConvertArgToLogical(ctx, 0); st != kOk) return ReportedStatus(st);
  const ArrayView a = ReadArray(TopData(ctx));
  auto* p = reinterpret_cast<uint8_t*>(a.data);
  for (int64_t k = 0; k < a.count; ++k) p[k] ^= 1;
  return kOk;
}

StatusCode LogicalOpcode(EngineContext* ctx, const int16_t*) {
  if (StatusCode st = CheckArgTypes(ctx, 1, nullptr); st != kOk) return st;
  return ReportedStatus(ConvertArgToLogical(ctx, 0));
}
