// The virtual machine's loop: entry and nesting, the outer pass (error reset,
// pending calls, break poll), fetch and dispatch with the cheap opcodes
// inline, native opcodes, control results, the error ending and finishing.
#include "engine/vm.h"

#include <array>
#include <climits>
#include <cmath>
#include <cstring>

#include "engine/bytecode.h"
#include "engine/dispatch.h"
#include "engine/errors.h"
#include "engine/growth.h"
#include "engine/heap.h"
#include "engine/instructions.h"
#include "engine/objects.h"
#include "engine/programcounter.h"
#include "engine/registry.h"
#include "engine/threads.h"
#include "engine/trace.h"
#include "engine/values/valuestack.h"

namespace {

// The host's break test costs a call into the host, so the loop asks it on
// one outer pass in this many. A pass ends after every handler call and
// every conditional or backward jump; only the inline cases chain without
// one, so any loop still passes once per round.
constexpr int32_t kPassesPerBreakPoll = 503;

// Opcode -> handler for everything the loop does not run inline; what the
// machine does not bind is the core library's.
using HandlerTable = std::array<OpcodeHandler, kOpcodeCount>;

constexpr HandlerTable BuildHandlerTable() {
  HandlerTable t{};
  for (OpcodeHandler& h : t) h = RunCoreBuiltin;
  for (const OpcodeBinding& b : kMachineOpcodes) t[static_cast<int>(b.op)] = b.handler;
  return t;
}

constexpr HandlerTable kHandlers = BuildHandlerTable();

}  // namespace

StatusCode RunOpcodeHandler(EngineContext* ctx, const int16_t* ins) {
  const auto op = static_cast<uint16_t>(ins[0]);
  return op < kOpcodeCount ? kHandlers[op](ctx, ins) : kNotSupported;
}

namespace {

// A pending call whose start fails is reported like any uncaught error, so
// that nothing fails silently; the interrupted code then goes on.
void ReportPendingCallFailure(EngineContext* ctx, StatusCode st) {
  if (ctx->errorFunction == -1 && ctx->errorPosition <= 0) SetErrorLocation(ctx, st, 0);
  (void)PrintError(ctx, st, true);
}

// Drops everything above a noted descriptor-stack length: frames pushed since
// with their variables, then values.
void UnwindToLength(EngineContext* ctx, int32_t length) {
  if (length > 0) {
    (void)UnwindFrames(ctx, length);
    return;
  }
  // Nothing lay below: every frame and value goes.
  while (CallFrame* f = CurrentFrame(ctx)) {
    if (IsBaseFrame(f)) break;
    (void)UnwindFrames(ctx, ctx->frameIndex);
  }
  if (CurrentFrame(ctx) == nullptr) {
    ctx->descLength = 0;
    ctx->dataTop = 0;
  }
}

// Runs the first queued pending call. The position to return to is already
// in the program counter.
void RunPendingCall(EngineContext* ctx) {
  if (ctx->pendingCount <= 0) return;
  const PendingCall call = ctx->pendingCalls[0];
  --ctx->pendingCount;
  std::memmove(ctx->pendingCalls, ctx->pendingCalls + 1, sizeof(PendingCall) * ctx->pendingCount);
  if (call.function != nullptr) {
    call.function(ctx, call.argument);
    return;
  }
  const auto* block = static_cast<const double*>(call.argument);
  const int32_t mark = ctx->descLength;
  // The count comes from outside the engine: only a whole number in range may
  // become an int (NaN or 1e300 would not convert).
  const double count = block[0];
  const bool whole = count >= 0 && count < INT32_MAX && count == std::trunc(count);
  const int32_t n = whole ? static_cast<int32_t>(count) : -1;
  StatusCode st = whole ? kOk : kBadArg;
  const double* p = block + 1;
  for (int32_t k = 0; k <= n && st == kOk; ++k) {
    st = PushCopiedValue(ctx, p);
    int64_t size = 0;
    if (st == kOk) st = GetValueSize(ctx, 0, &size);
    p += size;
  }
  if (st == kOk) st = CallFunctionFromArgument(ctx, false, 0, n + 1, 0);
  if (st == kOk) return;
  ReportPendingCallFailure(ctx, st);
  UnwindToLength(ctx, mark);
}

// Leaves the run: the running flag is cleared, or left as the run found it
// when the run was a safe nested one.
[[nodiscard]] StatusCode Leave(EngineContext* ctx, uint8_t wasRunning, StatusCode st) {
  ctx->running = ctx->pc.safe ? wasRunning : 0;
  return st == kWouldBlock ? kSuspended : st;
}

// Native opcode v with its nargin and nargout words; the position after them
// is stored before the call.
[[nodiscard]] StatusCode RunNativeOpcode(EngineContext* ctx, const int16_t* ins) {
  const int v = static_cast<uint16_t>(ins[0]);
  if (v < static_cast<int>(Op::kFirstNativeOpcode) || ctx->libraryCount == 0) return kNotSupported;
  NativeRef n;
  if (!FindNative(ctx, v - static_cast<int>(Op::kFirstNativeOpcode), &n)) return kNotSupported;
  const CallFrame* f = CurrentFrame(ctx);
  if (f != nullptr && f->sandboxed && !IsAllowedInSandbox(n)) return kSecViolation;
  if (n.record->kind > 0) return kWrongType;
  SetProgramCounter(ctx, ins + 3);
  return InvokeNative(ctx, n, ins[1], ins[2]);
}

// The failing operation's name for the message: the builtin's or native's,
// an operator by its token.
void NoteFailingOperation(EngineContext* ctx, const int16_t* ins, StatusCode st) {
  if (ctx->errorFunction == -1 && ctx->errorPosition <= 0) SetErrorLocation(ctx, st, 0);
  if (ctx->failingName[0] != 0 || st == kUserError || st == kHalted) return;
  char name[32];
  GetOpcodeName(ctx, static_cast<uint16_t>(ins[0]), true, name);
  std::memcpy(ctx->failingName, name, sizeof name);
  ctx->failingName[sizeof name] = 0;
}

// Fast paths of the condition test: a real double scalar or a logical scalar.
[[nodiscard]] inline StatusCode PopCondition(EngineContext* ctx, uint8_t* b) {
  const ValueDescriptor& d = *DescriptorAt(ctx, 0);
  if (IsRealScalar(d)) {
    *b = TopData(ctx)->f != 0;
    PopValue(ctx);
    return kOk;
  }
  return PopConditionValue(ctx, b);
}

[[nodiscard]] inline StatusCode PushScalar(EngineContext* ctx, double x) {
  Cell* data = nullptr;
  if (StatusCode st = PushValue(ctx, 0, 1, 1, Room::kStrict, &data); st != kOk) return st;
  data->f = x;
  return kOk;
}

// Words of each fixed-length opcode; 0 for the two kinds whose length word
// must be read.
std::array<uint8_t, kOpcodeCount> BuildFixedLengths() {
  std::array<uint8_t, kOpcodeCount> t{};
  for (int op = 0; op < kOpcodeCount; ++op) {
    if (kOpcodeTable[op].kind == kBytes || kOpcodeTable[op].kind == kChars16) continue;
    const int16_t probe[2] = {static_cast<int16_t>(op), 0};
    t[op] = static_cast<uint8_t>(GetInstructionLength(probe));
  }
  return t;
}

const std::array<uint8_t, kOpcodeCount> kFixedLengths = BuildFixedLengths();

inline int InstructionLength(const int16_t* ins) {
  const auto op = static_cast<uint16_t>(*ins);
  if (op < kOpcodeCount && kFixedLengths[op] != 0) return kFixedLengths[op];
  return GetInstructionLength(ins);
}

// The slot of variable v in the frame in scope, or null where the general
// path must do the finding and report what is wrong.
inline int32_t* ScopeSlot(EngineContext* ctx, int v) {
  if (ctx->frameIndex < 0) return nullptr;
  auto* f = reinterpret_cast<CallFrame*>(ctx->descBase + ctx->frameIndex);
  if (f->variableCount < 1) f = FindScopeFrame(ctx);
  if (v < 0 || v >= FrameSlotCount(f)) return nullptr;
  return FrameSlots(f) + v;
}

// A slot that holds a value of its own, not a link to a global or persistent.
inline bool HoldsOwnValue(const EngineContext* ctx, int32_t slot) {
  return slot > 0 && slot < ctx->heapSize && (ctx->heapBase[slot].w[0] & kLink) == 0;
}

// LoadVar of a real double scalar; false leaves everything to the general path.
inline bool LoadScalarVariable(EngineContext* ctx, int v) {
  const int32_t* slot = ScopeSlot(ctx, v);
  if (slot == nullptr || !HoldsOwnValue(ctx, *slot)) return false;
  const Cell* b = ctx->heapBase + *slot;
  if (!IsRealScalar({b[0].w[0], b[0].iw[1], b[1].iw[0]})) return false;
  Cell* data = nullptr;
  if (PushValue(ctx, 0, 1, 1, Room::kAll, &data) != kOk) return false;
  data->f = b[kVariableHeaderCells].f;
  return true;
}

// StoreVar of a real double scalar into a variable that holds no value yet
// or a value of a scalar's size: the same block the general path would use.
inline bool StoreScalarVariable(EngineContext* ctx, int v) {
  if (!IsRealScalar(*DescriptorAt(ctx, 0))) return false;
  int32_t* slot = ScopeSlot(ctx, v);
  if (slot == nullptr) return false;
  if (*slot <= 0) {
    int32_t block = 0;
    if (AllocateHeapBlock(ctx, kVariableHeaderCells + 1, &block) != kOk) return false;
    *slot = block;
  } else if (!HoldsOwnValue(ctx, *slot) ||
             (ctx->heapBase[*slot - 1].w[0] & kHeapCountMask) != kVariableHeaderCells + 1) {
    return false;
  }
  // The variable's descriptor as WriteVariableDescriptor writes it, then its cell.
  Cell* b = ctx->heapBase + *slot;
  b[0].w[0] = 0;
  b[0].iw[1] = 1;
  b[1].iw[0] = 1;
  b[1].iw[1] = 0;
  b[kVariableHeaderCells].f = TopData(ctx)->f;
  PopValue(ctx);
  return true;
}

// Elementwise arithmetic of two real double scalars, the powers aside, and the
// matrix product and divisions, which agree with it on scalars: the first
// operand's cell lies just below the second's and takes the result.
inline bool ScalarArithmetic(EngineContext* ctx, uint16_t op) {
  if (ctx->descLength < 6 || !IsRealScalar(*DescriptorAt(ctx, 0)) || !IsRealScalar(*DescriptorAt(ctx, 1))) return false;
  Cell* b = TopData(ctx);
  Cell* a = b - 1;
  switch (static_cast<Op>(op)) {
    case Op::Plus:
      a->f = a->f + b->f;
      break;
    case Op::Minus:
      a->f = a->f - b->f;
      break;
    case Op::Times:
    case Op::Mtimes:
      a->f = a->f * b->f;
      break;
    case Op::Rdivide:
    case Op::Mrdivide:
      a->f = a->f / b->f;
      break;
    default:  // Op::Ldivide, Op::Mldivide
      a->f = b->f / a->f;
      break;
  }
  PopValue(ctx);
  return true;
}

// A relation of two real double scalars; false when either is anything else.
// Only a relation that a conditional jump tests at once runs inline (without
// pushing its logical), and only when that logical would have had room, so
// that a full stack fails as the general path fails.
inline bool ScalarRelation(EngineContext* ctx, uint16_t op, bool* holds) {
  constexpr int64_t kLogicalScalarCells = ArrayPayloadCells(kUint8, 2, 1);
  if (ctx->descLength < 6 || !IsRealScalar(*DescriptorAt(ctx, 0)) || !IsRealScalar(*DescriptorAt(ctx, 1)) ||
      CheckRoom(ctx, kLogicalScalarCells, Room::kStrict) != kOk)
    return false;
  const double b = TopData(ctx)->f;
  const double a = (TopData(ctx) - 1)->f;
  switch (static_cast<Op>(op)) {
    case Op::Eq:
      *holds = a == b;
      break;
    case Op::Ne:
      *holds = !(a == b);
      break;
    case Op::Lt:
      *holds = a < b;
      break;
    case Op::Gt:
      *holds = b < a;
      break;
    case Op::Le:
      *holds = a <= b;
      break;
    default:  // Op::Ge
      *holds = b <= a;
      break;
  }
  return true;
}

// The line marker runs inline unless the profiler, echo, breakpoints or the
// debugger want to see it.
inline bool PlainLineMarker(EngineContext* ctx, const int16_t* ins) {
  if (ctx->profilerFunction >= 0 || ctx->echo == -2 || ctx->echo == ins[1] || ctx->breakpointCount > 0) return false;
  if (ctx->frameIndex < 0) return true;
  auto* f = reinterpret_cast<CallFrame*>(ctx->descBase + ctx->frameIndex);
  if (f->debugState != 0) return false;
  f->function = ins[1];
  f->line = ins[2];
  return true;
}

}  // namespace

StatusCode RunInterpreter(EngineContext* ctx, uint8_t pollAtBackwardJumps) {
  if (ctx->running && !ctx->pc.safe) return kOk;
  if (ctx->errorCode == kDebugStop) return kDebugStop;
  RunPendingCall(ctx);
  // A thread left current without code (an error ended it) is over.
  if (ctx->pc.space == kNoCode && ctx->currentThread != 0) UnlinkInterpreterThread(ctx, ctx->currentThread);
  if (ctx->pc.space == kNoCode) {
    // Nothing of the main thread to run: an interpreter thread may have.
    if (ctx->threadListHead == 0) return kOk;
    SwitchInterpreterThread(ctx, -1);
    if (ctx->pc.space == kNoCode) return kOk;
  }
  if (ctx->clock != nullptr && ctx->threadListHead != 0) ctx->clock(ctx->clockData, 0, 1);
  const int16_t* ip = GetProgramCounter(ctx);
  const uint8_t wasRunning = ctx->running;
  // A nested run (a safe data expression) belongs to the instruction that
  // started it: it never switches threads nor ends the thread it runs in.
  const bool nested = wasRunning != 0;
  ctx->running = 1;
  int32_t passes = 0;
  const int16_t* ins = ip;
  StatusCode st = kOk;
  uint64_t effects = ctx->sideEffects;  // before the instruction that runs

  for (;;) {
    // The outer pass.
    if (ip == nullptr) {
      ctx->pc.space = kNoCode;
      // A thread whose code ended (or that killed itself) goes; the main
      // thread goes on where it was.
      if (ctx->currentThread != 0 && !nested) {
        UnlinkInterpreterThread(ctx, ctx->currentThread);
        if ((ip = GetProgramCounter(ctx)) != nullptr) continue;
      }
      return Leave(ctx, wasRunning, kOk);
    }
    if (ctx->currentErrorRecord > 0) FreeHeapBlock(ctx, ctx->currentErrorRecord);
    ctx->currentErrorRecord = -1;
    ctx->errorFunction = -1;
    ctx->errorPosition = -1;
    ctx->failingName[0] = 0;
    if (ctx->pendingCount > 0) {
      SetProgramCounter(ctx, ip);
      RunPendingCall(ctx);
      ip = GetProgramCounter(ctx);
      if (ip == nullptr) continue;
    }
    if (++passes >= kPassesPerBreakPoll) {
      if (PollBreak(ctx)) {
        ins = ip;
        st = kHalted;
        goto error_ending;
      }
      passes = 0;
    }

  fetch:
    ins = ip;
    switch (static_cast<uint16_t>(*ins)) {
      case static_cast<uint16_t>(Op::Nop):
        ++ip;
        goto fetch;
      case static_cast<uint16_t>(Op::PushZero):
      case static_cast<uint16_t>(Op::PushOne):
        if ((st = PushScalar(ctx, *ins - 1)) != kOk) goto error_ending;
        ++ip;
        goto fetch;
      case static_cast<uint16_t>(Op::PushSmallInt):
        if ((st = PushScalar(ctx, ins[1])) != kOk) goto error_ending;
        ip += 2;
        goto fetch;
      case static_cast<uint16_t>(Op::PushDouble): {
        double x;
        std::memcpy(&x, ins + 1, sizeof x);
        if ((st = PushScalar(ctx, x)) != kOk) goto error_ending;
        ip += 5;
        goto fetch;
      }
      case static_cast<uint16_t>(Op::Drop):
        PopValue(ctx);
        ++ip;
        goto fetch;
      case static_cast<uint16_t>(Op::SkipOperand):
        ip += 2;
        goto fetch;
      case static_cast<uint16_t>(Op::LineMarker):
        if (!PlainLineMarker(ctx, ins)) break;
        ip += 3;
        goto fetch;
      case static_cast<uint16_t>(Op::ForNextRange):
        // Double ranges step inline; a spent range leaves the loop by o.
        if (!IsDoubleLoopRange(*DescriptorAt(ctx, 0))) break;
        st = StepDoubleLoopRange(ctx);
        if (st == kIndexOutOfRange) {
          ip = ins + 2 + ins[1];
          goto fetch;
        }
        if (st != kOk) goto error_ending;
        ip += 2;
        goto fetch;
      case static_cast<uint16_t>(Op::LoadVar):
        if (!LoadScalarVariable(ctx, ins[1])) break;
        ip += 2;
        goto fetch;
      case static_cast<uint16_t>(Op::StoreVar):
        if (!StoreScalarVariable(ctx, ins[1])) break;
        ip += 2;
        goto fetch;
      case static_cast<uint16_t>(Op::Plus):
      case static_cast<uint16_t>(Op::Minus):
      case static_cast<uint16_t>(Op::Times):
      case static_cast<uint16_t>(Op::Rdivide):
      case static_cast<uint16_t>(Op::Ldivide):
      case static_cast<uint16_t>(Op::Mtimes):
      case static_cast<uint16_t>(Op::Mrdivide):
      case static_cast<uint16_t>(Op::Mldivide):
        if (!ScalarArithmetic(ctx, static_cast<uint16_t>(*ins))) break;
        ++ip;
        goto fetch;
      case static_cast<uint16_t>(Op::Eq):
      case static_cast<uint16_t>(Op::Ne):
      case static_cast<uint16_t>(Op::Lt):
      case static_cast<uint16_t>(Op::Gt):
      case static_cast<uint16_t>(Op::Le):
      case static_cast<uint16_t>(Op::Ge): {
        const int16_t next = ins[1];
        if (next != static_cast<int16_t>(Op::JumpIfTrue) && next != static_cast<int16_t>(Op::JumpIfFalse)) break;
        bool holds = false;
        if (!ScalarRelation(ctx, static_cast<uint16_t>(*ins), &holds)) break;
        PopValue(ctx);
        PopValue(ctx);
        ins = ip + 1;
        const bool jump = holds == (next == static_cast<int16_t>(Op::JumpIfTrue));
        ip = ins + 2 + (jump ? ins[1] : 0);
        if (jump && ins[1] < 0) goto backward_jump;
        goto regular_ending;
      }
      case static_cast<uint16_t>(Op::Jump):
        ip = ins + 2 + ins[1];
        if (ins[1] >= 0) goto fetch;
        goto backward_jump;
      case static_cast<uint16_t>(Op::JumpIfTrue):
      case static_cast<uint16_t>(Op::JumpIfFalse): {
        uint8_t b = 0;
        if ((st = PopCondition(ctx, &b)) != kOk) goto error_ending;
        const bool jump = (b != 0) == (*ins == static_cast<int16_t>(Op::JumpIfTrue));
        ip = ins + 2 + (jump ? ins[1] : 0);
        if (jump && ins[1] < 0) goto backward_jump;
        goto regular_ending;
      }
      case static_cast<uint16_t>(Op::OrElseJump):
      case static_cast<uint16_t>(Op::AndAlsoJump): {
        // A jump keeps the tested value as the expression's value: the pop
        // is undone, its cells are still in place.
        const int32_t descLength = ctx->descLength, dataTop = ctx->dataTop;
        uint8_t b = 0;
        if ((st = PopCondition(ctx, &b)) != kOk) goto error_ending;
        const bool jump = (b != 0) == (*ins == static_cast<int16_t>(Op::OrElseJump));
        ip = ins + 2;
        if (jump) {
          ctx->descLength = descLength, ctx->dataTop = dataTop;
          ip += ins[1];
        }
        goto regular_ending;
      }
      default:
        break;
    }

    // Handlers: the position after the instruction is stored first.
    effects = ctx->sideEffects;
    if (static_cast<uint16_t>(*ins) < kOpcodeCount) {
      SetProgramCounter(ctx, ins + InstructionLength(ins));
      st = kHandlers[static_cast<uint16_t>(*ins)](ctx, ins);
    } else {
      st = RunNativeOpcode(ctx, ins);
    }
    if (st != kOk) goto control_result;
    // The instructions run inline have no side effects of their own.
    effects = ctx->sideEffects;
    ip = GetProgramCounter(ctx);
    goto regular_ending;

  backward_jump:
    // Every backward jump comes through here, so loops see the break poll,
    // the slice and the pending calls at every optimisation level.
    if (pollAtBackwardJumps) {
      SetProgramCounter(ctx, ip);
      st = kSuspended;
      goto control_result;
    }

  regular_ending:
    // A thread without code is not switched away from: the outer pass ends it.
    if (ip != nullptr && ctx->threadListHead != 0 && !nested && ThreadSliceEnded(ctx)) {
      SetProgramCounter(ctx, ip);
      if (!SwitchThreadAtSliceEnd(ctx)) return Leave(ctx, wasRunning, kOk);
      ip = GetProgramCounter(ctx);
    }
    continue;

  control_result:
    switch (st) {
      case kYield:
        SetProgramCounter(ctx, ins + GetInstructionLength(ins));
      switch_thread:
        if (ctx->threadListHead != 0 && !nested) {
          if (!SwitchThreadAtSliceEnd(ctx)) return Leave(ctx, wasRunning, kOk);
          if (ctx->currentThread != 0) {
            ip = GetProgramCounter(ctx);
            continue;
          }
        }
        [[fallthrough]];
      case kSuspended:
        if ((st = CheckBreakRequest(ctx)) == kSuspended) {
          // The host gets the main thread back; a thread keeps its position.
          if (ctx->currentThread != 0 && !nested) SwitchInterpreterThread(ctx, 0);
          return Leave(ctx, wasRunning, kSuspended);
        }
        if (st == kDebugStop) return Leave(ctx, wasRunning, kDebugStop);
        goto error_ending;
      case kWouldBlock:
        SetProgramCounter(ctx, ins);
        if (ctx->currentThread == 0 || nested) goto switch_thread;
        SwitchInterpreterThread(ctx, 0);
        return Leave(ctx, wasRunning, kSuspended);
      case kWaitingForInput:
        SetProgramCounter(ctx, ins);
        if (ctx->currentThread != 0 && !nested) UnlinkInterpreterThread(ctx, ctx->currentThread);
        return Leave(ctx, wasRunning, kWaitingForInput);
      case kDebugStop: {
        CallFrame* f = CurrentFrame(ctx);
        if (f != nullptr && f->debugState >= kDebugStopAtNextLine) {
          f->suspendSpace = static_cast<int32_t>(ctx->pc.space);
          f->suspendOffset = ctx->pc.offset;
        }
        if (ctx->currentThread != 0 && !nested) UnlinkInterpreterThread(ctx, ctx->currentThread);
        ctx->errorCode = kDebugStop;
        return Leave(ctx, wasRunning, kDebugStop);
      }
      default:
        break;
    }

  error_ending:
    // An object operand's class may take the instruction over (engine/overload.cpp).
    if ((st = OverloadFailingInstruction(ctx, ins, st)) == kOk) {
      ip = GetProgramCounter(ctx);
      continue;
    }
    if (st == kSuspended || (st >= kWouldBlock && st <= kDebugStop)) goto control_result;
    // Short of room, the instruction left everything as it was: after the
    // host grew the block it runs again. Output it wrote, input it read or a
    // thread switch would happen twice, and a nested run belongs to an
    // instruction of an outer run that holds addresses into the block. An
    // instruction that left no code to return to cannot run again.
    if (IsGrowableRoomCode(st) && !nested && ctx->sideEffects == effects &&
        CodeSpaceBase(ctx, ctx->pc.space) != nullptr) {
      const ProgramCounter failed = ctx->pc;
      SetProgramCounter(ctx, ins);
      const BlockGrowth growth = OfferBlockGrowth(ctx, st);
      if (growth == BlockGrowth::kGrown) {
        (void)ClearError(ctx);
        ip = GetProgramCounter(ctx);
        continue;
      }
      ctx->pc = failed;
      if (growth == BlockGrowth::kOutOfMemory) st = RaiseOutOfMemory(ctx, st);
    }
    NoteFailingOperation(ctx, ins, st);
    if (!CatchOrReport(ctx, st, nested)) return Leave(ctx, wasRunning, st);
    ip = GetProgramCounter(ctx);
  }
}
