// Call frames on the descriptor stack: entering a function with its arguments
// moved into heap variables, returning its outputs, unwinding to a level or a
// catch, the frame queries, break polling with its hooks, and the resets.
#include <algorithm>
#include <cstring>

#include "engine/bytecode.h"
#include "engine/context.h"
#include "engine/function.h"
#include "engine/heap.h"
#include "engine/registry.h"
#include "engine/resolution.h"
#include "engine/values/valuestack.h"
#include "engine/vm.h"

namespace {

// A value copied out of the stacks: its descriptor as three doubles, then its cells.
struct CopiedValueHead {
  double kind;
  double cells;
  double extra;
};

int32_t FramePosition(EngineContext* ctx, const CallFrame* f) {
  return static_cast<int32_t>(reinterpret_cast<const int32_t*>(f) - ctx->descBase);
}

// Cells of the values whose descriptors lie in words [from, to).
int64_t CellsOfDescriptors(EngineContext* ctx, int32_t from, int32_t to) {
  int64_t cells = 0;
  for (int32_t w = from; w + 3 <= to; w += 3) cells += ctx->descBase[w + 1];
  return cells;
}

// Frees every variable of a frame and forgets it, so that a later pop cannot
// free a block twice after it was handed out again.
void FreeFrameVariables(EngineContext* ctx, CallFrame* f) {
  int32_t* slots = FrameSlots(f);
  for (int32_t i = 0, n = FrameSlotCount(f); i < n; ++i) {
    FreeHeapBlock(ctx, slots[i]);
    slots[i] = -1;
  }
}

// Pops the current frame with its values and variables; the one below becomes current.
void PopFrame(EngineContext* ctx, CallFrame* f) {
  const int32_t position = FramePosition(ctx, f);
  ctx->dataTop -= static_cast<int32_t>(CellsOfDescriptors(ctx, position + FrameExtent(f), ctx->descLength));
  FreeFrameVariables(ctx, f);
  ctx->descLength = position;
  FrameIndexDropped(ctx, f->link > 0 ? position - f->link : -1);
}

void RestoreCallerPosition(EngineContext* ctx, const CallFrame* f) {
  ctx->pc.space = static_cast<uint32_t>(f->callerSpace);
  ctx->pc.safe = 0;
  ctx->pc.offset = f->callerOffset;
}

// Writes a value into a variable block of exactly its cells + 2.
void StoreValue(EngineContext* ctx, int32_t block, const ValueDescriptor& d, const Cell* data) {
  WriteVariableDescriptor(ctx, block, d);
  if (d.cells > 0) std::memcpy(ctx->heapBase + block + kVariableHeaderCells, data, int64_t{d.cells} * sizeof(Cell));
}

// Where a variable-name table is, as the frame records it.
int32_t NameTableLocation(EngineContext* ctx, const char* names) {
  if (names == nullptr) return 0;
  const auto* code = reinterpret_cast<const char*>(ctx->codeBase);
  const auto* data = reinterpret_cast<const char*>(ctx->dataBase);
  if (names > code && names < code + 2 * int64_t{ctx->codeSize}) return static_cast<int32_t>((names - code) / 2);
  if (names >= data + 8 && names < data + 8 * int64_t{ctx->dataCapacity}) return -static_cast<int32_t>(names - data);
  return 0;
}

// A new frame stops at once when a breakpoint sits on its function's entry.
bool EntryBreakpoint(EngineContext* ctx, const CompiledFunctionHeader* header) {
  if (header == nullptr || ctx->breakpointCount <= 0 || ctx->breakpointList <= 0) return false;
  const int16_t* code = FunctionCode(header);
  if (code[0] != static_cast<int16_t>(Op::LineMarker) || code[1] < 0) return false;
  const Cell* list = ctx->heapBase + ctx->breakpointList;
  const int32_t n = std::min(ctx->breakpointCount, HeapBlockCells(ctx, ctx->breakpointList));
  for (int32_t k = 0; k < n; ++k)
    if (list[k].iw[0] == code[1] && list[k].iw[1] <= 0) return true;
  return false;
}

// Stands in for the profiler, which restarts its line count when the
// profiled function is entered; nothing is profiled yet.
void NoteProfiledFunctionEntry(EngineContext*, const CompiledFunctionHeader*) {}

// The code word at a byte offset of a code space, or false for a space
// without a base in the block.
bool ReadCodeWord(EngineContext* ctx, uint32_t space, int64_t offset, int16_t* word) {
  const uint8_t* base = nullptr;
  int64_t bytes = 0;
  switch (space) {
    case kCodeArea:
      base = reinterpret_cast<const uint8_t*>(ctx->codeBase), bytes = 2 * int64_t{ctx->codeSize};
      break;
    case kDataStackCode:
      base = reinterpret_cast<const uint8_t*>(ctx->dataBase), bytes = 8 * int64_t{ctx->dataCapacity};
      break;
    case kHeapCode:
      base = reinterpret_cast<const uint8_t*>(ctx->heapBase), bytes = 8 * int64_t{ctx->heapSize};
      break;
    default:
      return false;
  }
  if (offset < 0 || offset + 2 > bytes) return false;
  std::memcpy(word, base + offset, sizeof *word);
  return true;
}

// Calls again the native whose instruction {opcode; nargin; nargout} ends
// at the restored position, with nargin = ~results: the re-entry of a native
// that requested interpreted code (no sandbox test: that was made at the first
// call).
[[nodiscard]] StatusCode CallNativeForReentry(EngineContext* ctx, int32_t results) {
  int16_t opcode = 0, nargout = 0;
  const int64_t at = ctx->pc.offset;
  if (!ReadCodeWord(ctx, ctx->pc.space, at - 6, &opcode) || !ReadCodeWord(ctx, ctx->pc.space, at - 2, &nargout))
    return kIllegal;
  return CallNativeByOpcode(ctx, static_cast<uint16_t>(opcode), ~results, nargout);
}

// The elements of a composite variable that varargout hands out: every
// element, but for the hidden dimensions of cell and structure arrays.
struct Elements {
  const CompositeElementHeader* first;
  int32_t count;
};

// VariableDescriptor read in place: returning the three words from another
// unit goes through memory and stalls on the stores just made, which showed
// on every return.
inline ValueDescriptor BlockDescriptor(const EngineContext* ctx, int32_t block) {
  const Cell* b = ctx->heapBase + block;
  return {b[0].w[0], b[0].iw[1], b[1].iw[0]};
}

Elements VariableElements(EngineContext* ctx, int32_t block) {
  const ValueDescriptor d = BlockDescriptor(ctx, block);
  const Cell* data = ctx->heapBase + block + kVariableHeaderCells;
  const Cell* end = data + d.cells;
  const auto* e = reinterpret_cast<const CompositeElementHeader*>(data);
  if ((d.extra == kCellArray || d.extra == kStructArray) && d.cells > 0)
    e = reinterpret_cast<const CompositeElementHeader*>(data + 2 + e->cells);
  Elements out{e, 0};
  for (const Cell* c = reinterpret_cast<const Cell*>(e); c < end;
       c += 2 + reinterpret_cast<const CompositeElementHeader*>(c)->cells)
    ++out.count;
  return out;
}

// One output to push: a variable's value block or an element of varargout.
struct Output {
  const Cell* data;
  ValueDescriptor d;
};

Output OutputOf(EngineContext* ctx, int32_t block) {
  return {ctx->heapBase + block + kVariableHeaderCells, BlockDescriptor(ctx, block)};
}

Output OutputOf(const CompositeElementHeader* e) {
  return {reinterpret_cast<const Cell*>(e) + 2, {e->kind, e->cells, e->extra}};
}

}  // namespace

// ---------------------------------------------------------------------------
// Frame access.

CallFrame* FrameAt(EngineContext* ctx, int32_t position) {
  return reinterpret_cast<CallFrame*>(ctx->descBase + position);
}

CallFrame* CurrentFrame(EngineContext* ctx) { return ctx->frameIndex < 0 ? nullptr : FrameAt(ctx, ctx->frameIndex); }

CallFrame* PreviousFrame(EngineContext* ctx, CallFrame* f) {
  if (f->link <= 0) return nullptr;
  const int32_t position = FramePosition(ctx, f) - f->link;
  return position < 0 ? nullptr : FrameAt(ctx, position);
}

namespace {

bool IsPlainFrame(const CallFrame* f) { return f->variableCount < 1 && f->nameTable == 0 && f->function < 0; }

}  // namespace

CallFrame* SkipPlainFrames(EngineContext* ctx) {
  CallFrame* top = CurrentFrame(ctx);
  CallFrame* f = top;
  while (f != nullptr && IsPlainFrame(f)) {
    if (FramePosition(ctx, f) == ctx->scopeFrame.frame) {
      f = FrameAt(ctx, ctx->scopeFrame.scope);
      break;
    }
    CallFrame* below = PreviousFrame(ctx, f);
    if (below == nullptr) break;
    f = below;
  }
  if (f != top) ctx->scopeFrame = {FramePosition(ctx, top), FramePosition(ctx, f)};
  return f;
}

CallFrame* FindScopeFrame(EngineContext* ctx) {
  CallFrame* f = SkipPlainFrames(ctx);
  while (f != nullptr && f->variableCount < 1) {
    CallFrame* below = PreviousFrame(ctx, f);
    if (below == nullptr) break;
    f = below;
  }
  return f;
}

void FrameIndexDropped(EngineContext* ctx, int32_t frameIndex) {
  ctx->frameIndex = frameIndex;
  // Every frame between the one kept and the one popped is plain.
  if (frameIndex < ctx->scopeFrame.frame) ctx->scopeFrame.frame = frameIndex > ctx->scopeFrame.scope ? frameIndex : -1;
}

// ---------------------------------------------------------------------------
// Entering a frame.

StatusCode EnterFunctionFrame(EngineContext* ctx, const ProgramCounter* caller, const CompiledFunctionHeader* header,
                              int32_t library, SymbolId methodClass, int32_t nargout, int32_t nargin,
                              bool functionValue, bool names, bool reentry) {
  if (nargin < 0) return kBadArg;
  const int32_t extra = (functionValue || names) ? 1 : 0;
  // The arguments (and the function value or structure under them) must be
  // values of the current frame.
  CallFrame* callerFrame = CurrentFrame(ctx);
  const int32_t valuesStart = callerFrame ? FramePosition(ctx, callerFrame) + FrameExtent(callerFrame) : 0;
  const int32_t position = ctx->descLength - 3 * (nargin + extra);
  if (position < valuesStart) return kIllegal;

  // An inline function brings its own header and maybe a bound first argument.
  const CopiedValueHead* bound = nullptr;
  bool inlineFunction = false;
  if (functionValue) {
    const int16_t* code = nullptr;
    Cell* captured = nullptr;
    if (StatusCode st = GetInlineFunctionParts(ctx, nargin, &code, nullptr, nullptr, &captured); st != kOk) return st;
    header = reinterpret_cast<const CompiledFunctionHeader*>(code);
    if (header->flags & kHeaderDefine) {
      if (nargin > 0) return kTooManyArgin;
      if (nargout == -1) nargout = 1;
      if (nargout != 1) return kTooManyArgout;
      header = nullptr;  // runs as code without header
    } else {
      inlineFunction = true;
      bound = reinterpret_cast<const CopiedValueHead*>(captured);
    }
  }
  if (names && (functionValue || nargin > 0 || header != nullptr)) return kIllegal;
  const int32_t given = nargin + (bound ? 1 : 0);

  // The shape of the frame.
  int32_t variables = 0, declaredOutputs = 0, nameCount = 0, inputs = 0;
  bool varargin = false, varargout = false;
  const CompositeElementHeader* fields = nullptr;
  if (header == nullptr) {
    if (names) {
      CompositeElementHeader* first = nullptr;
      if (StatusCode st = GetListArg(ctx, 0, &nameCount, &first); st != kOk) return st;
      fields = first;
      variables = nameCount;
    }
  } else if (header->flags & kHeaderDefine) {
    if (given > 0) return kTooManyArgin;
    if (nargout > 1) return kTooManyArgout;
    if (nargout == -1) nargout = 1;
    declaredOutputs = 1;
  } else {
    variables = header->variables;
    inputs = header->inputs;
    declaredOutputs = header->outputs;
    varargin = (header->flags & kHeaderVarargin) && inputs >= 1;
    varargout = (header->flags & kHeaderVarargout) && declaredOutputs >= 1;
    if (given > inputs && !varargin) return kTooManyArgin;
    if (nargout > declaredOutputs && !varargout) return kTooManyArgout;
    const int16_t* numbers = InputVariables(header);
    for (int32_t i = 0; i < inputs; ++i)
      if (numbers[i] < 0 || numbers[i] >= variables) return kIllegal;
  }

  // Descriptors that stay as values of the new frame: the function value,
  // and the arguments of code without header, which keep their places.
  const bool moveArguments = header != nullptr;
  const int32_t kept = (functionValue ? 1 : 0) + (header == nullptr && !names ? nargin : 0);
  const int32_t extent = kFrameHeaderWords + (names ? 9 * nameCount : variables);
  const int64_t length = int64_t{position} + extent + 3 * kept;

  // Blocks: the varargin list, then the fixed arguments from the last to the
  // first (or the fields in order). Their indices wait at the far end of the
  // descriptor region, so a full heap can give them all back.
  const int32_t fixed = !moveArguments ? 0 : varargin ? std::min(given, inputs - 1) : given;
  const int32_t blocks = names ? nameCount : !moveArguments ? 0 : fixed + (varargin ? 1 : 0);
  if (length > ctx->descCapacity || std::max<int64_t>(length, ctx->descLength) + blocks > ctx->descCapacity)
    return kDescStackFull;
  int32_t* scratch = ctx->descBase + ctx->descCapacity - blocks;

  // Argument i of the call: the bound value first, then the stack's.
  const int32_t firstArg = position + 3 * extra;
  auto argument = [&](int32_t i, ValueDescriptor* d, const Cell** data) {
    if (bound != nullptr && i == 0) {
      *d = {static_cast<uint32_t>(bound->kind), static_cast<int32_t>(bound->cells), static_cast<int32_t>(bound->extra)};
      *data = reinterpret_cast<const Cell*>(bound + 1);
      return;
    }
    const int32_t p = nargin - 1 - (i - (bound ? 1 : 0));
    *d = *DescriptorAt(ctx, p);
    *data = DataAt(ctx, p);
  };

  int32_t made = 0;
  auto allocate = [&](int64_t cells) -> StatusCode {
    if (cells > kHeapCountMask) return kHeapFull;
    if (StatusCode st = AllocateHeapBlock(ctx, static_cast<int32_t>(cells), &scratch[made]); st != kOk) {
      for (int32_t k = 0; k < made; ++k) FreeHeapBlock(ctx, scratch[k]);
      return st;
    }
    ++made;
    return kOk;
  };
  if (names) {
    const auto* e = fields;
    for (int32_t i = 0; i < nameCount; ++i, e = NextElement(e))
      if (StatusCode st = allocate(kVariableHeaderCells + int64_t{e->cells}); st != kOk) return st;
  } else if (moveArguments) {
    if (varargin) {
      int64_t cells = 0;
      for (int32_t i = fixed; i < given; ++i) {
        ValueDescriptor d;
        const Cell* data;
        argument(i, &d, &data);
        cells += 2 + int64_t{d.cells};
      }
      if (StatusCode st = allocate(kVariableHeaderCells + cells); st != kOk) return st;
    }
    for (int32_t i = fixed - 1; i >= 0; --i) {
      ValueDescriptor d;
      const Cell* data;
      argument(i, &d, &data);
      if (StatusCode st = allocate(kVariableHeaderCells + int64_t{d.cells}); st != kOk) return st;
    }
  }

  // Nothing can fail from here on. Fill the blocks while the arguments are
  // still where they were.
  if (names) {
    const auto* e = fields;
    for (int32_t i = 0; i < nameCount; ++i, e = NextElement(e))
      StoreValue(ctx, scratch[i], {e->kind, e->cells, e->extra}, reinterpret_cast<const Cell*>(e) + 2);
  } else if (moveArguments && varargin) {
    const int32_t block = scratch[0];
    Cell* out = ctx->heapBase + block + kVariableHeaderCells;
    int32_t cells = 0;
    for (int32_t i = fixed; i < given; ++i) {
      ValueDescriptor d;
      const Cell* data;
      argument(i, &d, &data);
      *reinterpret_cast<CompositeElementHeader*>(out + cells) = {d.kind, d.cells, d.extra, 0};
      if (d.cells > 0) std::memcpy(out + cells + 2, data, int64_t{d.cells} * sizeof(Cell));
      cells += 2 + d.cells;
    }
    WriteVariableDescriptor(ctx, block, {kComposite, cells, kList});
  }
  if (moveArguments) {
    for (int32_t i = 0; i < fixed; ++i) {
      ValueDescriptor d;
      const Cell* data;
      argument(i, &d, &data);
      StoreValue(ctx, scratch[(varargin ? 1 : 0) + fixed - 1 - i], d, data);
    }
  }

  // The data of moved arguments, or of the structure, leaves the stack.
  if (names) ctx->dataTop -= DescriptorAt(ctx, 0)->cells;
  if (moveArguments) ctx->dataTop -= static_cast<int32_t>(CellsOfDescriptors(ctx, firstArg, ctx->descLength));

  // What the new frame inherits from its caller.
  const int32_t callerSandbox = caller != nullptr && callerFrame != nullptr ? callerFrame->sandboxed : 0;
  // Only a call steps into: code typed while stopped in a frame that steps
  // into calls is no call of that frame's and must not stop itself.
  const bool stepInto = caller != nullptr && callerFrame != nullptr && callerFrame->debugState == kDebugStepInto;

  std::memmove(ctx->descBase + position + extent, ctx->descBase + position, 3 * int64_t{kept} * sizeof(int32_t));

  CallFrame* f = FrameAt(ctx, position);
  f->callerSpace = caller ? static_cast<int32_t>(caller->space) : 0;
  f->callerOffset = caller ? caller->offset : 0;
  f->link = callerFrame ? position - ctx->frameIndex : 0;
  f->catchSpace = f->catchOffset = f->catchKeep = 0;
  f->functionValue = functionValue ? 1 : 0;
  f->suspendSpace = f->suspendOffset = 0;
  f->library = library;
  f->methodClass = methodClass;
  f->variableCount = variables;
  f->requestedOutputs = nargout >= 0 ? nargout : declaredOutputs >= 1 ? -1 : -2;
  f->nargin = given;
  f->outputs = varargout ? declaredOutputs - 1 : f->requestedOutputs >= 0 ? f->requestedOutputs : 1;
  f->nameCapacity = names ? nameCount : 0;
  f->reentry = reentry ? 1 : 0;
  f->sandboxed = callerSandbox;
  f->line = -1;
  f->function = inlineFunction ? -2 : -1;
  f->debugState = stepInto ? kDebugStopAtNextLine : 0;
  f->nameTable = header != nullptr ? NameTableLocation(ctx, HeaderNameTable(header)) : 0;
  if (EntryBreakpoint(ctx, header)) f->debugState = kDebugStopAtNextLine;

  int32_t* slots = FrameSlots(f);
  std::fill(slots, slots + variables, -1);
  if (names) {
    char* nameArea = FrameNames(f);
    std::memset(nameArea, 0, int64_t{nameCount} * kVariableNameBytes);
    const auto* e = fields;
    for (int32_t i = 0; i < nameCount; ++i, e = NextElement(e)) {
      slots[i] = scratch[i];
      if (e->name != 0) {
        const int n = std::min(SymbolLength(ctx, e->name), kVariableNameBytes);
        std::memcpy(nameArea + i * kVariableNameBytes, SymbolText(ctx, e->name), n);
      }
    }
  } else if (moveArguments) {
    const int16_t* numbers = InputVariables(header);
    for (int32_t i = 0; i < fixed; ++i) slots[numbers[i]] = scratch[(varargin ? 1 : 0) + fixed - 1 - i];
    if (varargin) slots[numbers[inputs - 1]] = scratch[0];
  }

  NoteProfiledFunctionEntry(ctx, header);
  ctx->frameIndex = position;
  ctx->descLength = static_cast<int32_t>(length);
  return kOk;
}

// ---------------------------------------------------------------------------
// Returning.

StatusCode ReturnFromFunction(EngineContext* ctx) {
  CallFrame* f = CurrentFrame(ctx);
  // The base frame holds the command line's variables and is never popped.
  if (f == nullptr || IsBaseFrame(f)) {
    ctx->pc.space = kNoCode;
    return kOk;
  }
  const int32_t position = FramePosition(ctx, f);
  const int32_t r = f->requestedOutputs, k = f->outputs;
  int32_t* slots = FrameSlots(f);
  const int32_t slotCount = FrameSlotCount(f);
  auto valueBlock = [&](int32_t i) { return i >= 0 && i < slotCount ? VariableValueBlock(ctx, slots[i]) : -1; };

  // varargout holds the outputs beyond the fixed ones.
  Elements extra{nullptr, 0};
  if (k < r || (r == -1 && k < 1)) {
    if (const int32_t block = valueBlock(k); block > 0) {
      if (BlockDescriptor(ctx, block).kind != kComposite) return kVarargoutNotList;
      extra = VariableElements(ctx, block);
    }
  }

  // Which outputs, from the first: fixed variables, then varargout elements.
  int32_t fromVariables = 0, fromElements = 0;
  if (r == -1) {
    if (k >= 1)
      fromVariables = valueBlock(0) > 0 ? 1 : 0;
    else
      fromElements = extra.count >= 1 ? 1 : 0;
  } else if (r >= 0) {
    fromVariables = std::min(k, r);
    for (int32_t i = 0; i < fromVariables; ++i)
      if (valueBlock(i) <= 0) return RaiseError(ctx, kUndefVar, i, 0, -1, nullptr);
    fromElements = r - fromVariables;
    if (extra.count < fromElements) return kNotEnoughVarargoutEl;
  }
  const int32_t returned = fromVariables + fromElements;
  const bool reenter = f->reentry != 0 && f->callerSpace != kNoCode;
  const bool pushVoid = returned == 0 && r < 0 && !reenter;

  // Room, before anything changes: the outputs replace the frame and its
  // values, while their sources (heap cell offsets, one word each) wait at
  // the far end of the descriptor region.
  int64_t outCells = 0;
  for (int32_t i = 0; i < fromVariables; ++i) outCells += BlockDescriptor(ctx, valueBlock(i)).cells;
  const CompositeElementHeader* e = extra.first;
  for (int32_t i = 0; i < fromElements; ++i, e = NextElement(e)) outCells += e->cells;
  const int64_t valueCells = CellsOfDescriptors(ctx, position + FrameExtent(f), ctx->descLength);
  const int32_t pushed = std::max(returned, pushVoid ? 1 : 0);
  if (int64_t{position} + 3 * pushed >= ctx->descCapacity || int64_t{position} + 4 * returned > ctx->descCapacity ||
      int64_t{ctx->descLength} + returned > ctx->descCapacity)
    return kDescStackFull;
  if (ctx->dataTop - valueCells + outCells > ctx->dataCapacity) return kDataStackFullToo;

  int32_t* sources = ctx->descBase + ctx->descCapacity - returned;
  for (int32_t i = 0; i < fromVariables; ++i) sources[i] = valueBlock(i);
  e = extra.first;
  for (int32_t i = 0; i < fromElements; ++i, e = NextElement(e))
    sources[fromVariables + i] = static_cast<int32_t>(reinterpret_cast<const Cell*>(e) - ctx->heapBase);

  // Freeing only clears header bits, so the outputs can still be read from
  // their blocks after every variable is gone.
  RestoreCallerPosition(ctx, f);
  ctx->dataTop -= static_cast<int32_t>(valueCells);
  ctx->descLength = position;
  FrameIndexDropped(ctx, f->link > 0 ? position - f->link : -1);
  for (int32_t i = 0; i < slotCount; ++i) FreeHeapBlock(ctx, slots[i]);

  // Last output first, so that output 0 ends on top.
  for (int32_t i = returned - 1; i >= 0; --i) {
    const Output out = i < fromVariables
                           ? OutputOf(ctx, sources[i])
                           : OutputOf(reinterpret_cast<const CompositeElementHeader*>(ctx->heapBase + sources[i]));
    Cell* data = nullptr;
    (void)PushValue(ctx, out.d.kind, out.d.cells, out.d.extra, Room::kAll, &data);  // room was checked above
    if (out.d.cells > 0) std::memcpy(data, out.data, int64_t{out.d.cells} * sizeof(Cell));
  }

  if (reenter) return CallNativeForReentry(ctx, returned);
  if (pushVoid) (void)PushValue(ctx, kVoid, 0, 0, Room::kAll, nullptr);
  return kOk;
}

StatusCode ReturnFromFrameKeepingValues(EngineContext* ctx) {
  CallFrame* f = CurrentFrame(ctx);
  if (f == nullptr || IsBaseFrame(f)) {
    ctx->pc.space = kNoCode;
    return kOk;
  }
  const int32_t position = FramePosition(ctx, f);
  const int32_t valuesStart = position + FrameExtent(f);
  const int32_t count = (ctx->descLength - valuesStart) / 3;
  // The code was compiled to leave this many values; fewer would reach into
  // the frames below.
  const int32_t kept = std::clamp(f->requestedOutputs, 0, count);
  const bool reenter = f->reentry != 0 && f->callerSpace != kNoCode;

  RestoreCallerPosition(ctx, f);
  (void)DropArgsUnderResults(ctx, kept, count - kept);
  FreeFrameVariables(ctx, f);
  const int32_t previous = f->link > 0 ? position - f->link : -1;
  std::memmove(ctx->descBase + position, ctx->descBase + ctx->descLength - 3 * kept,
               3 * int64_t{kept} * sizeof(int32_t));
  ctx->descLength = position + 3 * kept;
  FrameIndexDropped(ctx, previous);

  if (reenter) return CallNativeForReentry(ctx, kept);
  return kOk;
}

// ---------------------------------------------------------------------------
// Unwinding.

StatusCode UnwindFrames(EngineContext* ctx, int32_t level) {
  if (level == 0) ctx->pc.space = kNoCode;
  for (CallFrame* f = CurrentFrame(ctx); f != nullptr; f = CurrentFrame(ctx)) {
    if (IsBaseFrame(f)) break;
    if (level == -1 && f->suspendSpace != 0) break;
    if (level > 0 && ctx->frameIndex < level) break;
    PopFrame(ctx, f);
  }
  // A level noted before values were pushed: those values go as well.
  if (level > 0 && level < ctx->descLength) {
    const CallFrame* f = CurrentFrame(ctx);
    const int32_t valuesStart = f ? ctx->frameIndex + FrameExtent(f) : 0;
    if (level >= valuesStart && (level - valuesStart) % 3 == 0) {
      ctx->dataTop -= static_cast<int32_t>(CellsOfDescriptors(ctx, level, ctx->descLength));
      ctx->descLength = level;
    }
  }
  return kOk;
}

bool UnwindToCatch(EngineContext* ctx, bool securityError, ProgramCounter* catchPosition) {
  // Find the frame that catches: the walk ends at the base frame and at a
  // frame entered from the host, whose own try still counts.
  CallFrame* stop = nullptr;
  bool caught = false;
  for (CallFrame* f = CurrentFrame(ctx); f != nullptr; f = PreviousFrame(ctx, f)) {
    const bool armed = f->catchSpace != 0 && !(securityError && f->sandboxed);
    if (armed || IsBaseFrame(f) || f->callerSpace == kNoCode) {
      stop = f;
      caught = armed;
      break;
    }
  }
  if (catchPosition == nullptr) return caught;

  // The frames passed lose their variables; when nothing catches they stay,
  // for the trace of the calls.
  for (CallFrame* f = CurrentFrame(ctx); f != nullptr && f != stop; f = PreviousFrame(ctx, f))
    FreeFrameVariables(ctx, f);
  if (!caught) return false;

  int32_t end = ctx->descLength;
  for (CallFrame* f = CurrentFrame(ctx); f != stop; f = PreviousFrame(ctx, f)) {
    const int32_t position = FramePosition(ctx, f);
    ctx->dataTop -= static_cast<int32_t>(CellsOfDescriptors(ctx, position + FrameExtent(f), end));
    end = position;
  }
  const int32_t position = FramePosition(ctx, stop);
  const int32_t valuesStart = position + FrameExtent(stop);
  const int32_t keep = std::clamp(stop->catchKeep + stop->functionValue, 0, (end - valuesStart) / 3);
  ctx->dataTop -= static_cast<int32_t>(CellsOfDescriptors(ctx, valuesStart + 3 * keep, end));
  ctx->descLength = valuesStart + 3 * keep;
  FrameIndexDropped(ctx, position);

  catchPosition->space = static_cast<uint32_t>(stop->catchSpace);
  catchPosition->safe = 0;
  catchPosition->offset = stop->catchOffset;
  return true;
}

// ---------------------------------------------------------------------------
// Queries.

bool IsAnyFunctionActive(EngineContext* ctx) {
  const CallFrame* f = FindScopeFrame(ctx);
  return f != nullptr && !IsBaseFrame(f);
}

int32_t CountFrameValues(EngineContext* ctx) {
  const CallFrame* f = CurrentFrame(ctx);
  if (f == nullptr) return 0;
  return (ctx->descLength - ctx->frameIndex - FrameExtent(f)) / 3;
}

const char* GetVariableName(EngineContext* ctx, int32_t i) {
  CallFrame* f = FindScopeFrame(ctx);
  if (f == nullptr || i < 0) return nullptr;
  const char* table = nullptr;
  int32_t count = f->variableCount;
  if (f->nameTable > 0) {
    table = reinterpret_cast<const char*>(ctx->codeBase + f->nameTable);
  } else if (f->nameTable < -1) {
    table = reinterpret_cast<const char*>(ctx->dataBase) - f->nameTable;
  } else if (f->nameTable == 0 && f->nameCapacity > 0) {
    // A frame without a name area has nothing after its slots but values.
    table = FrameNames(f);
    count = f->nameCapacity;
  }
  if (table == nullptr || i >= count) return nullptr;
  return table + int64_t{i} * kVariableNameBytes;
}

void MarkFrameSandboxed(EngineContext* ctx) {
  if (CallFrame* f = CurrentFrame(ctx)) f->sandboxed = 1;
}

StatusCode PushFrameArgCount(EngineContext* ctx, bool outputs) {
  const CallFrame* f = CurrentFrame(ctx);
  const int32_t n = f == nullptr ? 0 : outputs ? f->requestedOutputs : f->nargin;
  return PushRealScalar(ctx, n < 0 ? 0 : n);
}

StatusCode PushFunctionArgCounts(EngineContext* ctx, int32_t library, bool outputs) {
  int32_t inputs = 0, outs = 0;
  if (StatusCode st = ResolveFunctionArgument(ctx, 0, 0, library, &inputs, &outs); st != kOk) return st;
  PopValue(ctx);
  return PushRealScalar(ctx, outputs ? outs : inputs);
}

StatusCode GetDescriptorStackLength(EngineContext* ctx, int32_t* length) {
  *length = ctx->descLength;
  return kOk;
}

StatusCode GetExecutionPosition(EngineContext* ctx, int32_t* position) {
  position[0] = static_cast<int32_t>(ctx->pc.space);
  position[1] = ctx->pc.offset;
  return kOk;
}

StatusCode SetExecutionPosition(EngineContext* ctx, const int32_t* position) {
  ctx->pc.space = static_cast<uint32_t>(position[0]);
  ctx->pc.safe = 0;
  ctx->pc.offset = position[1];
  return kOk;
}

// ---------------------------------------------------------------------------
// Breaks.

void RunAbortHooks(EngineContext* ctx) {
  int cursor = -1;
  NativeRef n;
  while (const NativeFunctionRecord* r = FindNextNamedRecord(ctx, "+onabort", &cursor, &n)) {
    if (r->handler == nullptr) continue;
    void* userData = r->userData != nullptr ? r->userData : ctx->nativeUserData;
    // The record's handler field holds the hook under another signature.
    HandlerAs<AbortHook>(r->handler)(ctx, userData);
  }
}

bool PollBreak(EngineContext* ctx) {
  if (ctx->breakPoll == nullptr || !ctx->breakPoll(ctx->breakPollData)) return false;
  RunAbortHooks(ctx);
  if (!ctx->breakEntersDebugger) return true;
  // Entering the debugger takes a second report, so that a single key press
  // lets the code reach a line where it can stop.
  const bool wasPending = ctx->breakPending != 0;
  ctx->breakPending = wasPending ? 0 : 1;
  return wasPending;
}

StatusCode CheckBreakRequest(EngineContext* ctx) {
  ctx->breakPending = 0;
  if (ctx->breakPoll == nullptr || !ctx->breakPoll(ctx->breakPollData)) return kSuspended;
  RunAbortHooks(ctx);
  CallFrame* f = CurrentFrame(ctx);
  // Without a frame there is nothing to stop in.
  if (!ctx->breakEntersDebugger || f == nullptr) return kHalted;
  f->debugState = kDebugStopAtNextLine;
  return kDebugStop;
}

// ---------------------------------------------------------------------------
// Resets.

void ResetStackRegisters(EngineContext* ctx) {
  ctx->descLength = 0;
  ctx->dataTop = 0;
  ctx->frameIndex = -1;
  ForgetScopeFrame(ctx);
  ctx->uniformRandom = {0, 1};
  ctx->normalRandom = {0, 1};
  ctx->pc.space = kNoCode;
  ctx->errorCode = 0;
  ctx->errorFunction = -1;
  ctx->errorPosition = 0;
  std::memset(ctx->failingName, 0, sizeof ctx->failingName);
}
