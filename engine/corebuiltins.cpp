// The builtins the engine holds itself (nargin and nargout, real, the integer
// classes, function references), and the one dispatch point through which
// every core library builtin and display runs.
#include <iterator>

#include "engine/bytecode.h"
#include "engine/dispatch.h"
#include "engine/frames.h"
#include "engine/resolution.h"
#include "engine/vm.h"

// ---------------------------------------------------------------------------
// Builtin opcodes whose handlers the engine itself holds.

StatusCode OpArgumentCount(EngineContext* ctx, const int16_t* ins) {
  const bool outputs = static_cast<Op>(ins[0]) == Op::Nargout;
  if (ins[1] == 0) return PushFrameArgCount(ctx, outputs);
  return PushFunctionArgCounts(ctx, GetCurrentLibraryIndex(ctx), outputs);
}

StatusCode OpRealPart(EngineContext* ctx, const int16_t*) {
  const StatusCode st = DropImaginaryPart(ctx);
  return ReportedStatus(st);
}

// The integer classes by opcode, from Int8 on.
struct IntegerClass {
  int bytes;
  bool isUnsigned;
};
constexpr IntegerClass kIntegerClasses[] = {{1, false}, {2, false}, {4, false}, {1, true},
                                            {2, true},  {4, true},  {8, false}, {8, true}};
static_assert(static_cast<int>(Op::Uint64) - static_cast<int>(Op::Int8) + 1 == std::size(kIntegerClasses));

StatusCode OpToIntegerClass(EngineContext* ctx, const int16_t* ins) {
  const IntegerClass c = kIntegerClasses[ins[0] - static_cast<int>(Op::Int8)];
  const StatusCode st = ConvertArgToIntegerClass(ctx, 0, c.bytes, c.isUnsigned, false);
  return ReportedStatus(st);
}

// str2fun and @name: the char array on top becomes a function reference
// qualified by the calling library or by the library the compiler saw.
StatusCode OpFunctionReference(EngineContext* ctx, const int16_t* ins) {
  const int32_t library = static_cast<Op>(ins[0]) == Op::Str2fun ? GetCurrentLibraryIndex(ctx) : ins[1];
  char name[256];
  int64_t length = 0;
  const StatusCode st = CopyStringArgToBuffer(ctx, 0, name, sizeof name, &length);
  if (st == kObjTooLarge) return kNameTooLong;
  if (st != kOk) return ReportedStatus(st);
  if (StatusCode pushed = PushFunctionReference(ctx, name, static_cast<int>(length), library); pushed != kOk)
    return pushed;
  return DropArgsUnderResults(ctx, 1, 1);
}

// ---------------------------------------------------------------------------
// Core builtins.

StatusCode RunCoreBuiltin(EngineContext* ctx, const int16_t* ins) {
  const auto op = static_cast<uint16_t>(ins[0]);
  if (ctx->core == nullptr || op >= kOpcodeCount) return kNotSupported;
  const BuiltinHandler handler = ctx->core->builtins[op];
  return handler ? handler(ctx, ins) : kNotSupported;
}

StatusCode CoreDisplayTopValue(EngineContext* ctx, int32_t descriptor, bool drop) {
  return ctx->core ? ctx->core->displayTopValue(ctx, descriptor, drop) : kNotSupported;
}

StatusCode CoreDisplayStatementResult(EngineContext* ctx, int32_t variable, bool allowObjects, bool drop) {
  return ctx->core ? ctx->core->displayStatementResult(ctx, variable, allowObjects, drop) : kNotSupported;
}

StatusCode InlineOnlyOpcode(EngineContext*, const int16_t*) { return kNotSupported; }

StatusCode InstallCoreLibrary(EngineContext* ctx, const CoreLibraryTable* table) {
  if (table == nullptr || table->builtins == nullptr || table->builtinCount != kOpcodeCount ||
      table->displayStatementResult == nullptr || table->displayTopValue == nullptr)
    return kInitError;
  ctx->core = table;
  return kOk;
}
