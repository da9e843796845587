// The machine's own instructions that build and move values: literals and
// texts, stack and list operations (free lists spread into their elements),
// the error builtins, try marks and assert.
#include <cmath>
#include <cstring>
#include <numbers>

#include "engine/bytecode.h"
#include "engine/dispatch.h"
#include "engine/errors.h"
#include "engine/frames.h"
#include "engine/values/valuestack.h"
#include "engine/vm.h"

namespace {

// The double held in the four operand words after an opcode (aligned to 8
// bytes by the compiler's Nops).
double OperandDouble(const int16_t* ins) {
  double x = 0;
  std::memcpy(&x, ins + 1, sizeof x);
  return x;
}

uint32_t Unsigned16(int16_t w) { return static_cast<uint16_t>(w); }

bool IsFreeList(const ValueDescriptor& d) { return d.kind == kComposite && d.extra == kFreeList; }

}  // namespace

StatusCode SpreadFreeLists(EngineContext* ctx, int n, int* count) {
  int above = 0;
  for (int visited = 0; visited < n; ++visited) {
    if (!IsFreeList(*DescriptorAt(ctx, above))) {
      ++above;
      continue;
    }
    (void)RotateValues(ctx, above + 1, 1);
    int32_t k = 0;
    if (StatusCode st = ExplodeTopList(ctx, &k); st != kOk) {
      (void)RotateValues(ctx, above + 1, above);
      return st;
    }
    (void)RotateValues(ctx, above + k, above);
    above += k;
  }
  *count = above;
  return kOk;
}

// ---------------------------------------------------------------------------
// Constants, literals and texts.

StatusCode OpPushLiteral(EngineContext* ctx, const int16_t* ins) {
  // Operand words are read only by the opcodes that have them.
  switch (static_cast<Op>(ins[0])) {
    case Op::PushZero:
      return PushRealScalar(ctx, 0);
    case Op::PushOne:
      return PushRealScalar(ctx, 1);
    case Op::I:
      return PushComplexScalar(ctx, 0, 1);
    case Op::Pi:
      return PushRealScalar(ctx, std::numbers::pi);
    case Op::Goldenratio:
      return PushRealScalar(ctx, (std::sqrt(5.0) + 1) * 0.5);
    case Op::PushSmallInt:
      return PushRealScalar(ctx, ins[1]);
    case Op::PushSmallImag:
      return PushComplexScalar(ctx, 0, ins[1]);
    case Op::PushDouble:
      return PushRealScalar(ctx, OperandDouble(ins));
    case Op::PushImagDouble:
      return PushComplexScalar(ctx, 0, OperandDouble(ins));
    case Op::PushSingle:
      return PushSingleScalar(ctx, OperandDouble(ins), 0, false);
    case Op::PushImagSingle:
      return PushSingleScalar(ctx, 0, OperandDouble(ins), true);
    case Op::PushInt8:
      return PushIntegerScalar(ctx, kInt8, static_cast<int8_t>(ins[1] & 0xFF));
    case Op::PushUint8:
      return PushIntegerScalar(ctx, kUint8, ins[1] & 0xFF);
    case Op::PushInt16:
      return PushIntegerScalar(ctx, kInt16, ins[1]);
    case Op::PushUint16:
      return PushIntegerScalar(ctx, kUint16, Unsigned16(ins[1]));
    case Op::PushInt32:
      return PushIntegerScalar(ctx, kInt32, ins[1]);
    case Op::PushUint32:
      // Sign-extended first: a word of -1 is 4294967295.
      return PushIntegerScalar(ctx, kUint32, static_cast<uint32_t>(int32_t{ins[1]}));
    case Op::PushInt64:
      return PushIntegerScalar(ctx, kInt64, ins[1]);
    case Op::PushUint64:
      return PushIntegerScalar(ctx, kUint64, static_cast<uint64_t>(int64_t{ins[1]}));
    case Op::PushInt32Wide:
    case Op::PushUint32Wide: {
      const uint32_t v = Unsigned16(ins[1]) + Unsigned16(ins[2]) * 65536u;
      return PushIntegerScalar(ctx, static_cast<Op>(ins[0]) == Op::PushInt32Wide ? kInt32 : kUint32, v);
    }
    case Op::PushInt64Wide:
    case Op::PushUint64Wide: {
      uint64_t v = 0;
      for (int k = 3; k >= 0; --k) v = (v << 16) | Unsigned16(ins[1 + k]);
      return PushIntegerScalar(ctx, static_cast<Op>(ins[0]) == Op::PushInt64Wide ? kInt64 : kUint64, v);
    }
    case Op::PushSmallRange:
      return PushRange(ctx, ins[1], ins[2], ins[3], false);
    case Op::PushVoid:
      return PushVoidValue(ctx);
    case Op::PushEmpty:
      return PushEmptyMatrix(ctx);
    case Op::Info: {
      const char* version = GetEngineVersionText();
      return PushStringFromBytes(ctx, static_cast<int64_t>(std::strlen(version)), version);
    }
    default:
      return kNotSupported;
  }
}

StatusCode OpSpecialValue(EngineContext* ctx, const int16_t* ins) {
  // Without size arguments these are constants; sized forms are the core
  // library's array builders.
  if (ins[1] != 0) return RunCoreBuiltin(ctx, ins);
  switch (static_cast<Op>(ins[0])) {
    case Op::Inf:
      return PushInf(ctx);
    case Op::Nan:
      return PushNaN(ctx);
    case Op::Realmin:
      return PushRealScalar(ctx, 0x1p-1022);
    case Op::Realmax:
      return PushRealScalar(ctx, 0x1.fffffffffffffp1023);
    case Op::Eps:
      return PushRealScalar(ctx, 0x1p-52);
    case Op::True:
      return PushLogicalScalar(ctx, 1);
    case Op::False:
      return PushLogicalScalar(ctx, 0);
    default:
      return kNotSupported;
  }
}

StatusCode OpPushString(EngineContext* ctx, const int16_t* ins) {
  const int32_t n = static_cast<int32_t>(Unsigned16(ins[1]));
  uint16_t* data = nullptr;
  if (StatusCode st = PushCharRow(ctx, n, &data); st != kOk) return st;
  if (static_cast<Op>(ins[0]) == Op::PushString16) {
    std::memcpy(data, ins + 2, n * sizeof(uint16_t));
  } else {
    // Two bytes per word, the low byte first.
    const auto* bytes = reinterpret_cast<const uint8_t*>(ins + 2);
    for (int32_t k = 0; k < n; ++k) data[k] = static_cast<uint16_t>(bytes[k]);
  }
  return kOk;
}

StatusCode OpPrintText(EngineContext* ctx, const int16_t* ins) {
  const int32_t n = static_cast<int32_t>(Unsigned16(ins[1]));
  const int32_t bytes = static_cast<Op>(ins[0]) == Op::PrintText16 ? 2 * n : n;
  return WriteToDescriptor(ctx, 1, reinterpret_cast<const char*>(ins + 2), bytes);
}

// ---------------------------------------------------------------------------
// Stack and lists.

StatusCode OpDup(EngineContext* ctx, const int16_t* ins) { return DuplicateValues(ctx, ins[1] - ins[2], ins[2]); }

StatusCode OpRotate(EngineContext* ctx, const int16_t* ins) { return RotateValues(ctx, ins[1], ins[2]); }

StatusCode OpMakeList(EngineContext* ctx, const int16_t* ins) {
  int n = ins[1];
  if (StatusCode st = SpreadFreeLists(ctx, n, &n); st != kOk) return st;
  return MakeListFromValues(ctx, n, false, nullptr, 0);
}

StatusCode OpAppendToList(EngineContext* ctx, const int16_t*) {
  const StatusCode st = MakeListFromValues(ctx, 1, true, nullptr, 0);
  return st == kBadArg ? kWrongType : st;
}

StatusCode OpJoinValuesToList(EngineContext* ctx, const int16_t* ins) {
  const int n = ins[1];
  (void)RotateValues(ctx, n, n - 1);
  if (StatusCode st = MakeListFromValues(ctx, n - 1, false, nullptr, 0); st != kOk) {
    (void)RotateValues(ctx, n, 1);
    return st;
  }
  (void)RotateValues(ctx, 2, 1);
  const int16_t join[] = {static_cast<int16_t>(Op::Join), 2};
  return RunCoreBuiltin(ctx, join);
}

// ---------------------------------------------------------------------------
// Errors, try marks and assertions.

StatusCode OpErrorFamily(EngineContext* ctx, const int16_t* ins) {
  switch (static_cast<Op>(ins[0])) {
    case Op::Error:
      return ErrorBuiltin(ctx, ins[1], false);
    case Op::Warning:
      return ErrorBuiltin(ctx, ins[1], true);
    case Op::Rethrow:
      return RethrowBuiltin(ctx);
    case Op::Lasterr:
      return LastErrorBuiltin(ctx, ins[1], false);
    case Op::Lasterror:
      return LastErrorBuiltin(ctx, 1, true);
    default:
      return kNotSupported;
  }
}

StatusCode OpTryMark(EngineContext* ctx, const int16_t* ins) {
  CallFrame* f = CurrentFrame(ctx);
  if (f == nullptr) return kOk;
  const int16_t o = ins[1];
  if (o > 0) {
    // The program counter already stands at the end of this instruction.
    f->catchSpace = static_cast<int32_t>(ctx->pc.space);
    f->catchOffset = ctx->pc.offset + 2 * o;
  } else {
    f->catchSpace = 0;
    f->catchOffset = 0;
  }
  f->catchKeep = ins[2];
  return kOk;
}

StatusCode OpAssert(EngineContext* ctx, const int16_t* ins) {
  const int nargin = ins[1];
  uint8_t holds = 0;
  if (StatusCode st = TestArgAllNonzero(ctx, nargin - 1, &holds); st != kOk) return st;
  if (holds) return DropArgsUnderResults(ctx, 0, nargin);
  if (nargin == 1) return kAssert;
  (void)RotateValues(ctx, nargin, 1);
  PopValue(ctx);
  // A message that formats to nothing must not let a false assertion pass.
  const StatusCode st = ErrorBuiltin(ctx, nargin - 1, false);
  return st == kOk ? kAssert : st;
}
