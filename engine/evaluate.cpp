// Command-line evaluation and the other texts compiled to run on the data
// stack: the host's command line, eval, code fragments, and the handling of
// the base frame's growing table of variable names.
#include "engine/evaluate.h"

#include <algorithm>
#include <cstring>

#include "engine/bytecode.h"
#include "engine/compiler/codegen.h"
#include "engine/compiler/scanner.h"
#include "engine/errors.h"
#include "engine/functionstore.h"
#include "engine/growth.h"
#include "engine/heap.h"
#include "engine/libraries.h"
#include "engine/registry.h"
#include "engine/resolution.h"
#include "engine/values/valuestack.h"
#include "engine/vm.h"

namespace {

// Growing a name table stops this many descriptor-stack words short of full.
constexpr int32_t kKeepFreeWords = 1024;
// A name slot takes its heap index and its 32-byte name.
constexpr int32_t kSlotWords = 1 + kVariableNameBytes / 4;
constexpr int32_t kSlotStep = 16;

char* NamesOf(CallFrame* f) { return reinterpret_cast<char*>(FrameSlots(f) + f->nameCapacity); }

// A failed command line may have named variables that never got a value;
// they go before the next one is compiled. "ans" keeps slot 0.
void DropUnsetVariables(CallFrame* f) {
  int32_t* slots = FrameSlots(f);
  char* names = NamesOf(f);
  int32_t kept = 0;
  for (int32_t i = 0; i < f->variableCount; ++i) {
    if (i > 0 && slots[i] <= 0) continue;
    if (kept != i) {
      slots[kept] = slots[i];
      std::memcpy(names + kept * kVariableNameBytes, names + i * kVariableNameBytes, kVariableNameBytes);
    }
    ++kept;
  }
  f->variableCount = kept;
}

// Clears the unused slots: the compiler writes names there and may give up.
void ClearUnusedSlots(CallFrame* f) {
  int32_t* slots = FrameSlots(f);
  std::fill(slots + f->variableCount, slots + f->nameCapacity, -1);
  char* names = NamesOf(f);
  std::memset(names + f->variableCount * kVariableNameBytes, 0,
              int64_t{f->nameCapacity - f->variableCount} * kVariableNameBytes);
}

// Grows the innermost frame's name table to `free` unused slots, moving the
// values above it; answers the slots added.
int32_t GrowNameTable(EngineContext* ctx, CallFrame* f, int32_t free) {
  const int32_t capacity = f->nameCapacity;
  const int32_t wanted = f->variableCount + free - capacity;
  const int32_t room = (ctx->descCapacity - ctx->descLength - kKeepFreeWords) / kSlotWords;
  const int32_t add = std::min({wanted, room, kMaxVariableSlots - capacity});
  if (add <= 0) return 0;
  int32_t* slots = FrameSlots(f);
  int32_t* valuesStart = slots + FrameSlotCount(f) + (capacity > 0 ? 8 * capacity : 0);
  int32_t* end = ctx->descBase + ctx->descLength;
  std::memmove(valuesStart + kSlotWords * add, valuesStart, (end - valuesStart) * sizeof(int32_t));
  if (capacity > 0) std::memmove(slots + capacity + add, slots + capacity, 8 * int64_t{capacity} * sizeof(int32_t));
  ctx->descLength += kSlotWords * add;
  f->nameCapacity = capacity + add;
  ClearUnusedSlots(f);
  return add;
}

// The opcodes a data expression may use, ended by 332 (end of thread code).
constexpr int16_t kSafeOpcodeList[] = {
    0,   1,   2,   3,   4,   5,   60,  204, 205, 206, 207, 208, 209, 210, 211, 212, 62, 61, 83, 119, 127, 128,
    233, 234, 238, 235, 304, 305, 274, 10,  6,   7,   11,  12,  64,  13,  14,  19,  20, 21, 22, 23,  24,  27,
    28,  303, 73,  63,  77,  78,  79,  191, 285, 286, 287, 288, 296, 15,  16,  17,  18, 32, 33, 322, 329,
    // The wide integer constants, which the source writer gives 32- and
    // 64-bit values beyond 16 bits: without them those values do not read back.
    25,  26,  29,  30,  332};

bool IsSafeOpcode(int opcode) {
  for (int16_t op : kSafeOpcodeList) {
    if (op == opcode) return true;
    if (op == 332) break;
  }
  return false;
}

// A native call is safe when the native stands in for a safe builtin of the
// same name, or constructs a class of a trusted ("!") library.
bool IsSafeNative(EngineContext* ctx, int opcode) {
  NativeRef ref;
  if (!FindNative(ctx, opcode - static_cast<int>(Op::kFirstNativeOpcode), &ref)) return false;
  const NativeFunctionRecord* r = ref.record;
  if (r->kind >= 0) {
    const BuiltinRecord* b = FindBuiltin(r->name, static_cast<int>(strnlen(r->name, sizeof r->name)));
    return b != nullptr && IsSafeOpcode(b->id);
  }
  const char* library = GetNativeLibraryName(ctx, r);
  return library != nullptr && library[-1] == '!';
}

bool HasReadFunctionHook(EngineContext* ctx) {
  int cursor = -1;
  NativeRef ref;
  return FindNextNamedRecord(ctx, "+readfn", &cursor, &ref) != nullptr;
}

// The table a compile in the scope of running code sees.
struct NameTable {
  char* names = nullptr;
  int32_t count = 0;
  int32_t capacity = 0;
  CallFrame* owner = nullptr;  // the frame whose count grows, or null
};

NameTable ScopeNames(EngineContext* ctx) {
  NameTable t;
  // A function's frame is the scope even when it has no variables: eval
  // inside it must not reach the variables of its callers.
  CallFrame* f = SkipPlainFrames(ctx);
  if (f == nullptr) return t;
  t.count = f->variableCount;
  t.capacity = t.count;
  if (f->nameTable > 0) {
    t.names = reinterpret_cast<char*>(ctx->codeBase + f->nameTable);
  } else if (f->nameTable < -1) {
    t.names = reinterpret_cast<char*>(ctx->dataBase) - f->nameTable;
  } else if (f->nameCapacity > 0) {
    // A frame that keeps its names (the base frame below a command line) may
    // take new variables into its unused slots; a function's table is fixed.
    t.names = NamesOf(f);
    t.capacity = f->nameCapacity;
    t.owner = f;
  }
  return t;
}

// Replaces the final end of code by `variables`, so that the frame's
// variables are what the code leaves, and ends the code again.
[[nodiscard]] StatusCode AppendVariablesResult(int16_t* code, int32_t* used, int32_t room) {
  const auto end = static_cast<int16_t>(Op::EndOfCode);
  if (*used > 0 && code[*used - 1] == end) --*used;
  if (*used + 2 > room) return kDataStackFull;
  code[(*used)++] = static_cast<int16_t>(Op::Variables);
  code[(*used)++] = end;
  return kOk;
}

// A scope that takes no new names (a function's) fails a text at its first
// new name, before the compiler reads what follows; a syntax error there is
// the better answer. So the text is compiled once more against a copy of the
// names with room for new ones: another error is the answer, else the first
// failure is raised again.
template <typename Compile>
StatusCode SyntaxErrorFirst(EngineContext* ctx, const NameTable& t, int32_t length, StatusCode first,
                            Compile& compile) {
  // A name and what separates it from the next take two bytes at least.
  const int32_t capacity =
      static_cast<int32_t>(std::min<int64_t>(t.count + int64_t{length} / 2 + 1, kMaxVariableSlots));
  const int64_t cells = int64_t{capacity} * kVariableNameBytes / sizeof(Cell);
  if (FreeDataCells(ctx) < 2 * cells) return first;
  char* names = reinterpret_cast<char*>(ctx->dataBase + ctx->dataTop);
  std::memset(names, 0, cells * sizeof(Cell));
  if (t.count > 0) std::memcpy(names, t.names, int64_t{t.count} * kVariableNameBytes);
  ctx->dataTop += static_cast<int32_t>(cells);
  int32_t count = t.count;
  (void)StoreLastErrorMessage(ctx, 0, nullptr, 0, false, nullptr);  // the first failure's text goes
  const StatusCode other = compile(names, &count, capacity);
  ctx->dataTop -= static_cast<int32_t>(cells);
  if (other != kOk && other != kVarNotFound && other != kVarTableOverflow) return other;
  count = t.count;
  const StatusCode again = compile(t.names, &count, t.capacity);
  return again != kOk ? again : first;
}

}  // namespace

StatusCode CompileTextForEvaluation(EngineContext* ctx, const char* text, int32_t length,
                                    const EvaluationOptions& options) {
  const int32_t frameOutputs = options.returnVariables ? 1 : options.outputs;
  const ProgramCounter caller = ctx->pc;
  int32_t codeFrame = -1;
  auto fail = [&](StatusCode st) {
    // Nothing half-built may run, and no frame of this compile stays. The
    // caller's position stays too: an eval instruction short of room runs
    // again once the block has grown.
    if (codeFrame > 0 && ctx->frameIndex >= codeFrame) (void)UnwindFrames(ctx, codeFrame);
    ctx->pc = caller;
    return st;
  };
  auto pushFrame = [&]() -> StatusCode {
    if (int64_t{ctx->descCapacity} - ctx->descLength < kFrameHeaderWords + 3 + (int64_t{length} + 3) / 4)
      return kDescStackFull;
    const bool names = options.newFrame && options.structVariables;
    // A structure of variables is taken into the frame, which starts where it lay.
    const int32_t position = ctx->descLength - (names ? 3 : 0);
    const StatusCode st = EnterFunctionFrame(ctx, options.linkToCaller ? &caller : nullptr, nullptr, options.library,
                                             options.frameClass, frameOutputs, 0, false, names, false);
    if (st == kOk) codeFrame = position;
    return st;
  };

  CallFrame* current = CurrentFrame(ctx);
  const bool baseMode = !options.newFrame && current != nullptr && IsBaseFrame(current);
  const int32_t basePosition = ctx->frameIndex;
  if (options.newFrame) {
    if (StatusCode st = pushFrame(); st != kOk) return fail(st);
  } else if (baseMode) {
    DropUnsetVariables(current);
    ClearUnusedSlots(current);
  }
  const bool createFunctions = options.createFunctions || !options.compilePending || HasReadFunctionHook(ctx);

  int32_t used = 0;
  int16_t* code = nullptr;
  int32_t room = 0;
  // Each attempt compiles the whole text again, so the free slots double:
  // a text naming n new variables compiles about log n times, not n / 16.
  for (int32_t free = kSlotStep;; free = free < INT32_MAX / 2 ? 2 * free : INT32_MAX) {
    // The table in use: the base frame's or the new frame's, which grow, or
    // the names of the frame in scope.
    NameTable t;
    if (baseMode || options.newFrame) {
      CallFrame* f = FrameAt(ctx, baseMode ? basePosition : codeFrame);
      // A table left larger by an earlier attempt needs nothing added yet.
      const int32_t added = GrowNameTable(ctx, f, free);
      if (free > kSlotStep && added == 0 && f->nameCapacity < f->variableCount + free) return fail(kVarTableOverflow);
      if (options.newFrame && options.ans && f->variableCount == 0 && f->nameCapacity > 0) {
        std::memcpy(NamesOf(f), "ans", 3);
        f->variableCount = 1;
      }
      t = {NamesOf(f), f->variableCount, f->nameCapacity, f};
    } else {
      t = ScopeNames(ctx);
    }
    if (!options.newFrame) {
      if (StatusCode st = pushFrame(); st != kOk) return fail(st);
    }

    // The code is written at the data-stack top; the compiler's records go
    // above the half of the free space kept for it.
    auto compile = [&](char* names, int32_t* count, int32_t capacity) {
      const int64_t freeCells = FreeDataCells(ctx);
      if (freeCells < 2) return kDataStackFull;
      code = reinterpret_cast<int16_t*>(ctx->dataBase + ctx->dataTop);
      room = static_cast<int32_t>(std::min<int64_t>(2 * freeCells, INT32_MAX / 2));
      const int32_t reserved = room / 4;
      ctx->pc.space = kDataStackCode;
      ctx->pc.safe = 0;
      ctx->pc.offset = ctx->dataTop * static_cast<int32_t>(sizeof(Cell));
      ctx->dataTop += reserved;
      const StatusCode st =
          CompileSource(ctx, options.library, text, length, code, room - (options.returnVariables ? 2 : 0), &used,
                        {.names = names,
                         .nameCount = count,
                         .nameCapacity = capacity,
                         .expectedValues = options.outputs > 0 ? options.outputs : 0,
                         .storeInAns = options.ans && options.outputs <= 0,
                         .createFunctions = createFunctions,
                         .skipFunctions = options.skipDefinitions});
      ctx->dataTop -= reserved;
      return st;
    };
    int32_t count = t.count;
    StatusCode st = compile(t.names, &count, t.capacity);
    if ((st == kVarNotFound || st == kVarTableOverflow) && !(baseMode || options.newFrame))
      st = SyntaxErrorFirst(ctx, t, length, st, compile);
    if (st == kOk && t.owner != nullptr) t.owner->variableCount = count;
    if (st == kOk && options.returnVariables) st = AppendVariablesResult(code, &used, room);
    if (st == kOk) break;
    if (t.owner != nullptr) ClearUnusedSlots(t.owner);
    // A growing table that got no room yet is full, not a frame without names.
    if (st == kVarNotFound && t.owner != nullptr && t.capacity == 0) st = kVarTableOverflow;
    // Only a table that can grow is worth another attempt.
    if (st != kVarTableOverflow || !(baseMode || options.newFrame)) return fail(st);
    if (!options.newFrame) {
      (void)UnwindFrames(ctx, codeFrame);
      codeFrame = -1;
    }
  }

  // The code becomes the code frame's first value, where the frame owns it;
  // marked like an inline function's value, so that unwinding to a catch
  // keeps the code that is running.
  const int32_t cells = (2 * used + 7) / 8;
  Cell* data = nullptr;
  if (StatusCode st = PushValue(ctx, 0, cells, cells, Room::kStrict, &data); st != kOk) return fail(st);
  if (codeFrame >= 0) FrameAt(ctx, codeFrame)->functionValue = 1;
  if (options.compilePending) {
    const StatusCode st = CompilePendingFunctions(ctx, false);
    if (st != kOk && st != kFunNotFound) return fail(st);
  }
  ctx->pc.space = kDataStackCode;
  ctx->pc.safe = 0;
  ctx->pc.offset =
      static_cast<int32_t>(reinterpret_cast<const char*>(data) - reinterpret_cast<const char*>(ctx->dataBase));
  return kOk;
}

namespace {

// The command line's libraries, functions and code, ready to run; a failure
// before its code is compiled is reported here.
[[nodiscard]] StatusCode CompileCommandLine(EngineContext* ctx, const char* text, int32_t length, bool ans,
                                            bool* reported) {
  static constexpr char kStep[] = "dbstep";
  static constexpr char kUseCli[] = "use _cli";
  *reported = false;
  int32_t library = 0;
  CallFrame* f = CurrentFrame(ctx);
  if (f != nullptr && f->suspendSpace != 0) {
    // Stopped in the debugger: an empty line steps.
    int position = 0;
    int32_t line = 1;
    SkipBlanksAndComments(ctx, text, length, &position, false, &line);
    if (position >= length) {
      text = kStep;
      length = sizeof kStep - 1;
    }
    library = f->library;
  } else {
    // A run that ended in an uncaught error leaves the frame it was entered
    // with; the new command line belongs to the base frame again.
    if (f != nullptr && !IsBaseFrame(f) && ctx->pc.space == kNoCode) (void)UnwindFrames(ctx, 0);
    int32_t cli = 0;
    StatusCode st = DeclareLibrary(ctx, "_cli", 4, true, &cli);
    if (st == kOk) st = LoadUsedLibraries(ctx, cli, text, length, nullptr, 1, false, false);
    if (st == kOk) st = ProcessUseStatements(ctx, 0, text, length, nullptr, 1, false, true);
    if (st != kOk && st != kExpectedFunHeader) {
      *reported = true;
      return st;
    }
    // Functions typed again replace their old code.
    st = CompileTextFunctions(ctx, cli, text, length, nullptr, 1, false, true, true);
    if (st == kOk || st == kFunNotFound)
      st = LoadUsedLibraries(ctx, 0, kUseCli, sizeof kUseCli - 1, nullptr, 1, false, false);
    if (st != kOk) {
      *reported = true;
      return st;
    }
  }
  return CompileTextForEvaluation(
      ctx, text, length,
      {.library = library, .compilePending = true, .createFunctions = true, .ans = ans, .skipDefinitions = true});
}

}  // namespace

StatusCode EvaluateCommandLine(EngineContext* ctx, const char* text, int32_t length, bool ans) {
  // Nothing has run yet, so a compilation short of room starts again in a
  // grown block.
  bool early = false;
  StatusCode st = kOk;
  while (IsGrowableRoomCode(st = CompileCommandLine(ctx, text, length, ans, &early)) && !ctx->running) {
    const BlockGrowth growth = OfferBlockGrowth(ctx, st);
    if (growth == BlockGrowth::kGrown) {
      (void)ClearError(ctx);
      continue;
    }
    if (growth == BlockGrowth::kOutOfMemory) st = RaiseOutOfMemory(ctx, st);
    break;
  }
  if (early) {
    // The line's own status is the answer; a failed print has no one left to tell.
    (void)PrintError(ctx, st, true);
    return st;
  }
  if (st == kOk) {
    ctx->errorCode = 0;
    return kSuspended;
  }
  if (ctx->errorFunction == -1 && ctx->errorPosition <= 0) SetErrorLocation(ctx, st, 0);
  (void)UnwindFrames(ctx, -1);
  if (st != kSuspended && st != kDebugStop) (void)PrintError(ctx, st, true);
  (void)UnwindFrames(ctx, -1);
  if (st == kSuspended) ctx->errorCode = 0;
  return st;
}

StatusCode EnterCodeFragment(EngineContext* ctx, const int16_t* words, int32_t count, int32_t inputs, int32_t outputs,
                             int32_t extra, int32_t library, bool linkToCaller) {
  if (count < 0 || inputs < 0 || extra < 0) return kBadArg;
  const int32_t cells = (2 * count + 8) / 8;
  if (FreeDataCells(ctx) < int64_t{cells} + 3) return kDataStackFull;
  if (int64_t{ctx->descCapacity} - ctx->descLength < kFrameHeaderWords + extra + 3 + 1) return kDescStackFull;
  const ProgramCounter caller = ctx->pc;
  if (StatusCode st = EnterFunctionFrame(ctx, linkToCaller ? &caller : nullptr, nullptr, library, 0,
                                         outputs < 0 ? 1 : outputs, inputs, false, false, false);
      st != kOk)
    return st;
  // The extra variables sit between the frame header and its values.
  CallFrame* f = CurrentFrame(ctx);
  int32_t* slots = FrameSlots(f);
  int32_t* end = ctx->descBase + ctx->descLength;
  std::memmove(slots + extra, slots, (end - slots) * sizeof(int32_t));
  std::fill(slots, slots + extra, -1);
  f->variableCount = extra;
  ctx->descLength += extra;

  Cell* data = nullptr;
  (void)PushValue(ctx, 0, cells, cells, Room::kAll, &data);  // room was checked above
  std::memset(data, 0, int64_t{cells} * sizeof(Cell));
  auto* code = reinterpret_cast<int16_t*>(data);
  std::memcpy(code, words, int64_t{count} * sizeof(int16_t));
  code[count] = static_cast<int16_t>(Op::EndOfCode);
  (void)RotateValues(ctx, inputs + 1, inputs);
  ctx->pc.space = kDataStackCode;
  ctx->pc.safe = 0;
  ctx->pc.offset = static_cast<int32_t>((DataAt(ctx, inputs) - ctx->dataBase) * int64_t{sizeof(Cell)});
  ctx->errorPosition = 0;
  return kOk;
}

StatusCode DiscardEvalFrame(EngineContext* ctx) {
  CallFrame* f = CurrentFrame(ctx);
  if (f == nullptr || IsBaseFrame(f)) return kOk;
  f->requestedOutputs = 0;
  return ReturnFromFrameKeepingValues(ctx);
}

StatusCode OpEval(EngineContext* ctx, const int16_t* ins) {
  int32_t nargout = ins[1];
  if (!IsCharArg(ctx, 0)) return ReportedStatus(kWrongTypeInternal);
  // The argument's cells go to the far end of the data stack first: short of
  // room, the instruction puts it back and runs again once the block grew.
  const ValueDescriptor argument = *DescriptorAt(ctx, 0);
  Cell* saved = ctx->dataBase + ctx->dataCapacity - argument.cells;
  if (saved < ctx->dataBase + ctx->dataTop) return kDataStackFull;
  std::memmove(saved, TopData(ctx), sizeof(Cell) * argument.cells);
  const int32_t end = ctx->dataCapacity;
  ctx->dataCapacity -= argument.cells;
  auto giveBack = [&](StatusCode st) {
    ctx->dataCapacity = end;
    if (!IsGrowableRoomCode(st)) return st;
    Cell* data = nullptr;
    if (PushValue(ctx, argument.kind, argument.cells, argument.extra, Room::kStrict, &data) == kOk)
      std::memmove(data, saved, sizeof(Cell) * argument.cells);
    return st;
  };

  uint8_t* bytes = nullptr;
  int64_t length = 0;
  if (StatusCode st = EncodeCharArg(ctx, 0, false, &bytes, &length); st != kOk) {
    ctx->dataCapacity = end;
    return ReportedStatus(st);
  }
  // The text moves below the saved argument, out of the compiler's way, and
  // the end is lowered past it while the compiler runs.
  const int64_t cells = (length + 7) / 8;
  const Cell* top = ctx->dataBase + ctx->dataTop;
  Cell* copy = ctx->dataBase + ctx->dataCapacity - cells;
  if (length > INT32_MAX || copy < top) {
    ctx->dataCapacity = end;
    return kDataStackFull;
  }
  std::memmove(copy, bytes, length);
  PopValue(ctx);
  if (nargout < 0) {
    if (StatusCode st = PushValue(ctx, kVoid, 0, 0, Room::kAll, nullptr); st != kOk) return giveBack(st);
    nargout = 0;
  }
  ctx->dataCapacity -= static_cast<int32_t>(cells);
  StatusCode st = CompileTextForEvaluation(ctx, reinterpret_cast<const char*>(copy), static_cast<int32_t>(length),
                                           {.outputs = nargout,
                                            .library = GetCurrentLibraryIndex(ctx),
                                            .ans = nargout == 0,
                                            .skipDefinitions = true,
                                            .linkToCaller = true});
  if (st == kOk) {
    ctx->dataCapacity = end;
    return kOk;
  }
  if (ins[1] < 0 && IsGrowableRoomCode(st)) PopValue(ctx);
  // Too few values from a text that starts with no name of its own: eval is
  // the function that gave too few.
  if (st == kIncorrectNargout && nargout > 0) {
    const auto* text = reinterpret_cast<const char*>(copy);
    int64_t q = 0;
    while (q < length && IsBlank(text[q])) ++q;
    if (q >= length || !IsNameStart(text[q])) st = RaiseError(ctx, kIncorrectNargout, -1, 0, nargout, "eval");
  }
  return giveBack(st);
}

StatusCode CompileTextInCallerScope(EngineContext* ctx, const char* text, int32_t length, int32_t* results) {
  if (results != nullptr) *results = 0;
  const NameTable t = ScopeNames(ctx);
  const ProgramCounter caller = ctx->pc;
  if (int64_t{ctx->descCapacity} - ctx->descLength < kFrameHeaderWords + 3 + 1) return kDescStackFull;
  if (StatusCode st = EnterFunctionFrame(ctx, &caller, nullptr, 0, 0, 1, 0, false, false, false); st != kOk) return st;
  const int64_t freeCells = FreeDataCells(ctx);
  auto* code = reinterpret_cast<int16_t*>(ctx->dataBase + ctx->dataTop);
  const int32_t room = static_cast<int32_t>(std::min<int64_t>(2 * std::max<int64_t>(freeCells, 0), INT32_MAX / 2));
  const int32_t reserved = room / 4;
  int32_t count = t.count, used = 0;
  StatusCode st = freeCells < 2 ? kDataStackFull : kOk;
  if (st == kOk) {
    ctx->pc.space = kDataStackCode;
    ctx->pc.safe = 0;
    ctx->pc.offset = ctx->dataTop * static_cast<int32_t>(sizeof(Cell));
    ctx->dataTop += reserved;
    // The caller's variables are read, never added to: the capacity is the count.
    st = CompileSource(ctx, 0, text, length, code, room, &used,
                       {.names = t.names,
                        .nameCount = &count,
                        .nameCapacity = t.count,
                        .expectedValues = 1,
                        .createFunctions = HasReadFunctionHook(ctx),
                        .skipFunctions = true});
    ctx->dataTop -= reserved;
  }
  Cell* data = nullptr;
  const int32_t cells = (2 * used + 7) / 8;
  if (st == kOk) st = PushValue(ctx, 0, cells, cells, Room::kStrict, &data);
  if (st != kOk) {
    ctx->errorPosition = 0;
    (void)DiscardEvalFrame(ctx);  // the compiler's failure is the one to report
    ctx->pc = caller;
    return st;
  }
  ctx->pc.space = kDataStackCode;
  ctx->pc.offset =
      static_cast<int32_t>(reinterpret_cast<const char*>(data) - reinterpret_cast<const char*>(ctx->dataBase));
  // An expression compiled for one value leaves one.
  CurrentFrame(ctx)->requestedOutputs = 1;
  if (results != nullptr) *results = 1;
  return kOk;
}

bool IsSafeDataExpression(EngineContext* ctx) {
  // Only the data stack and the code area have a known end to stop at.
  if (ctx->pc.space != kDataStackCode && ctx->pc.space != kCodeArea) return false;
  const int16_t* p = GetProgramCounter(ctx);
  if (p == nullptr) return false;
  const auto* end = reinterpret_cast<const int16_t*>(
      CodeSpaceBase(ctx, ctx->pc.space) + (ctx->pc.space == kDataStackCode ? int64_t{ctx->dataTop} * sizeof(Cell)
                                                                           : int64_t{ctx->codeSize} * sizeof(int16_t)));
  while (p < end) {
    const int op = static_cast<uint16_t>(*p);
    if (op >= static_cast<int>(Op::kFirstNativeOpcode)) {
      if (!IsSafeNative(ctx, op)) return false;
    } else if (!IsSafeOpcode(op)) {
      return false;
    }
    if (op == static_cast<int>(Op::EndOfCode)) {
      ctx->pc.safe = 1;
      return true;
    }
    p += GetInstructionLength(p);
  }
  return false;
}
