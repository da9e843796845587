// Calls and returns without recursion of the interpreter: the host's call of
// a function by name, natives by opcode and by handler, calls of functions
// given as values (feval, builtin, call by value) and the return opcodes.
#include <cstring>

#include "engine/bytecode.h"
#include "engine/errors.h"
#include "engine/function.h"
#include "engine/heap.h"
#include "engine/registry.h"
#include "engine/resolution.h"
#include "engine/values/valuestack.h"
#include "engine/vm.h"

namespace {

constexpr int kMaxNameLength = 32;

// Writes the error of a call the host asked for on descriptor 2, without
// making it the last error: the failing operation is the name.
void ReportHostCallFailure(EngineContext* ctx, StatusCode st, const char* name, int length) {
  if (ctx->currentErrorRecord > 0) FreeHeapBlock(ctx, ctx->currentErrorRecord);
  ctx->currentErrorRecord = -1;
  const int n = length < kMaxNameLength ? length : kMaxNameLength;
  std::memset(ctx->failingName, 0, sizeof ctx->failingName);
  std::memcpy(ctx->failingName, name, n);
  ctx->errorCode = st;
  ctx->errorFunction = -1;
  ctx->errorPosition = 0;
  char text[256];
  int64_t size = 0;
  GetLastErrorText(ctx, st, true, text, sizeof text, &size);
  if (size == 0) return;
  // The report is the last word on a failure: a write that fails has no one left to tell.
  (void)WriteToDescriptor(ctx, 2, text, static_cast<int32_t>(size));
  (void)WriteNewlineToDescriptor(ctx, 2);
}

// The library whose names the running code sees.
int32_t CallingLibrary(EngineContext* ctx) { return GetCurrentLibraryIndex(ctx); }

// Enters the inline function under the n - 1 arguments on top.
[[nodiscard]] StatusCode EnterInlineFunction(EngineContext* ctx, int32_t library, int n, int nargout) {
  if (StatusCode st = EnterFunctionFrame(ctx, &ctx->pc, nullptr, library, 0, nargout, n - 1, true, false, false);
      st != kOk)
    return st;
  // The function value is the one value the new frame keeps: on top.
  const int16_t* words = nullptr;
  if (StatusCode st = GetInlineFunctionParts(ctx, 0, &words, nullptr, nullptr, nullptr); st != kOk) return st;
  const auto* header = reinterpret_cast<const CompiledFunctionHeader*>(words);
  ctx->pc.space = kDataStackCode;
  ctx->pc.safe = 0;
  SetProgramCounter(ctx, FunctionCode(header));
  return kOk;
}

}  // namespace

// ---------------------------------------------------------------------------
// Calls from the host and from natives.

StatusCode RunFunctionByName(EngineContext* ctx, const char* name, const char* qualifier, int nargin, int nargout,
                             bool sandboxed, uint8_t pollAtBackwardJumps, int32_t library) {
  const int length = static_cast<int>(strnlen(name, kMaxNameLength + 1));
  const int qualifierLength = qualifier != nullptr ? static_cast<int>(strnlen(qualifier, kMaxNameLength + 1)) : 0;
  StatusCode st = length > kMaxNameLength || qualifierLength > kMaxNameLength ? kUndefFun : kOk;
  if (st == kOk) {
    ctx->pc.space = kNoCode;
    ctx->pc.offset = 0;
    if (qualifierLength > 0) {
      // A class's function: found with its qualifier, entered directly.
      const int32_t entry = FindUserFunction(ctx, name, length, qualifier, qualifierLength, library, true, nullptr);
      st = entry < 0 ? kUndefFun : EnterUserFunction(ctx, entry, 0, nargin, nargout, false, false);
    } else {
      st = CallFunctionByName(ctx, name, length, library, nargin, nargout, true, false, false);
    }
  }
  // Only a user function with code runs here.
  if (st == kOk && ctx->pc.space != kCodeArea) {
    (void)UnwindFrames(ctx, ctx->frameIndex);
    st = kUndefFun;
  }
  if (st != kOk) {
    if (st == kUndefFunOrVar) st = kUndefFun;
    ctx->pc.space = kNoCode;
    ReportHostCallFailure(ctx, st, name, length);
    return st;
  }
  if (sandboxed) MarkFrameSandboxed(ctx);
  ctx->pc.safe = 0;
  return RunInterpreter(ctx, pollAtBackwardJumps);
}

StatusCode CallNativeByOpcode(EngineContext* ctx, int opcode, int nargin, int nargout) {
  const int g = static_cast<uint16_t>(opcode - static_cast<int>(Op::kFirstNativeOpcode));
  NativeRef n;
  if (!FindNative(ctx, g, &n)) return kIllegal;
  return InvokeNative(ctx, n, nargin, nargout);
}

StatusCode CallNativeFunction(EngineContext* ctx, NativeHandler handler, int nargin, int nargout) {
  for (int lib = 0; lib < ctx->libraryCount; ++lib) {
    const LibraryListEntry& e = ctx->libraries[lib];
    for (int i = 0; i < e.count; ++i) {
      if (e.first[i].handler != handler) continue;
      return InvokeNative(ctx, NativeRef{e.first + i, lib, i}, nargin, nargout);
    }
  }
  return handler(ctx, nargin, nargout, ctx->nativeUserData);
}

StatusCode CallFunctionFromArgument(EngineContext* ctx, bool builtin, int32_t library, int n, int nargout) {
  if (n < 1) return kTooFewArgin;
  const int position = n - 1;
  const ValueDescriptor d = *DescriptorAt(ctx, position);
  char name[kMaxNameLength + 1];
  int64_t length = 0;
  if (!builtin && d.kind == kBoxed && d.extra == kInlineFunction) return EnterInlineFunction(ctx, library, n, nargout);
  if (!builtin && d.kind == kBoxed && d.extra == kFunctionRef) {
    const auto* payload = reinterpret_cast<const int16_t*>(DataAt(ctx, position));
    length = payload[0];
    const int32_t own = payload[1];
    // A longer name is not found rather than cut to another function's.
    if (length < 1 || length > kMaxNameLength) return RaiseError(ctx, kUndefFun, -1, 0, -1, nullptr);
    std::memcpy(name, payload + 2, length);
    name[length] = 0;
    (void)DropArgsUnderResults(ctx, n - 1, 1);
    return CallFunctionByName(ctx, name, static_cast<int32_t>(length), own, n - 1, nargout, false, false, true);
  }
  StatusCode st = CopyStringArgToBuffer(ctx, position, name, kMaxNameLength, &length);
  if (st == kObjTooLarge) return RaiseError(ctx, kUndefFun, -1, 0, -1, nullptr);
  if (st != kOk) return ReportedStatus(st);
  if (length == 0) return kNullName;
  name[length] = 0;
  (void)DropArgsUnderResults(ctx, n - 1, 1);
  return CallFunctionByName(ctx, name, static_cast<int32_t>(length), library, n - 1, nargout, false, builtin, true);
}

// ---------------------------------------------------------------------------
// Call and return opcodes.

StatusCode OpCallFunction(EngineContext* ctx, const int16_t* ins) {
  // The entry's name is already interned: no text lookup on this hot path.
  const int32_t entry = static_cast<uint16_t>(ins[1]);
  if (entry >= ctx->entriesInUse) return kIllegal;
  const int32_t name = FunctionEntryWords(ctx, entry)[0];
  if (name >= 0) return kIllegal;
  return CallFunctionBySymbol(ctx, name, CallingLibrary(ctx), ins[2], ins[3], true, false, true);
}

StatusCode OpCallByValue(EngineContext* ctx, const int16_t* ins) {
  const int n = ins[1];
  if (n < 1) return kTooFewArgin;
  const ValueDescriptor& top = *DescriptorAt(ctx, 0);
  int count = 0;
  if (top.kind == 0 && top.cells == 0) {
    // The feval form: [] on top, the callee deepest.
    PopValue(ctx);
    if (n < 2) return kTooFewArgin;
    if (StatusCode st = SpreadFreeLists(ctx, n - 2, &count); st != kOk) return st;
  } else {
    if (StatusCode st = RotateValues(ctx, n, n - 1); st != kOk) return st;
    if (StatusCode st = SpreadFreeLists(ctx, n - 1, &count); st != kOk) return st;
  }
  return CallFunctionFromArgument(ctx, false, CallingLibrary(ctx), count + 1, ins[2]);
}

StatusCode OpFevalOrBuiltin(EngineContext* ctx, const int16_t* ins) {
  const bool builtin = ins[0] == static_cast<int16_t>(Op::Builtin);
  return CallFunctionFromArgument(ctx, builtin, CallingLibrary(ctx), ins[1], ins[2]);
}

StatusCode OpReturn(EngineContext* ctx, const int16_t*) { return ReturnFromFunction(ctx); }

StatusCode OpEndOfCode(EngineContext* ctx, const int16_t*) { return ReturnFromFrameKeepingValues(ctx); }

StatusCode OpEndOfThreadCode(EngineContext* ctx, const int16_t*) {
  // Only the main thread exists: its code ends here.
  ctx->pc.space = kNoCode;
  return kOk;
}
