// Variables: finding a variable's slot (its own or a global's or
// persistent's link), loading, storing, clearing, declaring, incrementing
// and displaying it.
#include <cstring>

#include "engine/bytecode.h"
#include "engine/dispatch.h"
#include "engine/frames.h"
#include "engine/functionstore.h"
#include "engine/heap.h"
#include "engine/variableaccess.h"
#include "engine/vm.h"

namespace {

// VariableDescriptor read in place, for the hot loads: the call returns the
// three words through memory and stalls on the stores that just wrote them.
inline ValueDescriptor BlockDescriptor(const EngineContext* ctx, int32_t block) {
  const Cell* b = ctx->heapBase + block;
  return {b[0].w[0], b[0].iw[1], b[1].iw[0]};
}

// The function-store entry of the function a frame runs, -1 when unknown:
// the line markers record it; before the first one, the frame's name table
// tells which compiled function it belongs to.
int32_t FrameFunctionEntry(EngineContext* ctx, const CallFrame* f) {
  if (f == nullptr || IsBaseFrame(f)) return -1;
  if (f->function >= 0) return f->function;
  if (f->nameTable <= 0) return -1;
  for (int32_t i = 1; i < ctx->entriesInUse; ++i) {
    const FunctionStoreEntry* e = StoreEntry(ctx, i);
    if (e->kind >= 0 || e->position <= 0) continue;
    const auto* h = reinterpret_cast<const CompiledFunctionHeader*>(ctx->codeBase + e->position);
    const char* names = HeaderNameTable(h);
    if (names != nullptr && names - reinterpret_cast<const char*>(ctx->codeBase) == 2 * int64_t{f->nameTable}) return i;
  }
  return -1;
}

// Frees a slot's value; a global or persistent link takes the shared value
// with it, so every function that links to it reads it as undefined.
void ClearSlot(EngineContext* ctx, int32_t* slot) {
  const int32_t b = *slot;
  if (b > 0 && b < ctx->heapSize && (ctx->heapBase[b].w[0] & kLink) != 0) {
    const int32_t entry = ctx->heapBase[b + kVariableHeaderCells + 1].iw[0];
    if (entry > 0 && entry < ctx->entriesInUse && StoreEntry(ctx, entry)->kind == kEntryVariable) {
      FunctionStoreEntry* e = StoreEntry(ctx, entry);
      if (e->position > 0) FreeHeapBlock(ctx, e->position);
      e->position = -1;
    }
  }
  FreeHeapBlock(ctx, b);
  *slot = -1;
}

[[nodiscard]] StatusCode StoreTopInto(EngineContext* ctx, int v) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  if (d.kind == kVoid) {
    PopValue(ctx);
    return kOk;
  }
  if (d.kind == kComposite && d.extra == kFreeList) return kFreeListAssignment;
  if (IsReference(d)) return kIllegal;
  Place p;
  if (StatusCode st = LocateVariable(ctx, v, &p); st != kOk) return st;
  const int64_t cells = kVariableHeaderCells + int64_t{d.cells};
  int32_t block = p.block;
  // A block with room to spare from growth is kept while the value fills
  // at least half of it.
  const int64_t room = block > 0 ? HeapBlockCells(ctx, block) : 0;
  if (cells > room || 2 * cells < room) {
    // The new block comes first: a full heap leaves the old value in place.
    if (cells > kHeapCountMask) return kHeapFull;
    int32_t fresh = 0;
    if (StatusCode st = AllocateHeapBlock(ctx, static_cast<int32_t>(cells), &fresh); st != kOk) return st;
    if (block > 0) FreeHeapBlock(ctx, block);
    block = fresh;
    *TargetWord(ctx, p.slot) = block;
  }
  WriteVariableDescriptor(ctx, block, d);
  if (d.cells > 0)
    std::memcpy(ctx->heapBase + block + kVariableHeaderCells, TopData(ctx), int64_t{d.cells} * sizeof(Cell));
  PopValue(ctx);
  return kOk;
}

// Variable v has just been stored (or loaded, for a bare name): a copy of it
// is shown under its name and popped. v < 0 shows the value on top unnamed.
[[nodiscard]] StatusCode DisplayNamedValue(EngineContext* ctx, int v) {
  if (v < 0) return CoreDisplayTopValue(ctx, kStdoutDescriptor, true);
  const int16_t load[2] = {static_cast<int16_t>(Op::LoadVar), static_cast<int16_t>(v)};
  if (StatusCode st = OpLoadVar(ctx, load); st != kOk) return st;
  const StatusCode st = CoreDisplayStatementResult(ctx, v, false, true);
  // A display short of room leaves nothing behind, so repeating it after
  // growth does not leave a stray copy.
  if (IsRoomCode(st)) PopValue(ctx);
  return st;
}

}  // namespace

StatusCode LocateVariable(EngineContext* ctx, int v, Place* p) {
  CallFrame* f = FindScopeFrame(ctx);
  if (f == nullptr || v < 0 || v >= FrameSlotCount(f)) return kIllegal;
  int32_t* slot = FrameSlots(f) + v;
  p->slot = static_cast<int32_t>(slot - ctx->descBase);
  p->block = *slot > 0 ? *slot : -1;
  if (*slot <= 0 || *slot >= ctx->heapSize || (ctx->heapBase[*slot].w[0] & kLink) == 0) return kOk;
  const int32_t entry = ctx->heapBase[*slot + kVariableHeaderCells + 1].iw[0];
  if (entry <= 0 || entry >= ctx->entriesInUse || StoreEntry(ctx, entry)->kind != kEntryVariable) return kIllegal;
  p->slot = -entry;
  const int32_t position = StoreEntry(ctx, entry)->position;
  p->block = position > 0 ? position : -1;
  return kOk;
}

// An input argument the caller did not pass reads as such, not as a variable
// that was never set.
StatusCode UndefinedVariable(EngineContext* ctx, int v) {
  const CallFrame* f = CurrentFrame(ctx);
  const int32_t entry = f != nullptr && f->variableCount > v ? FrameFunctionEntry(ctx, f) : -1;
  if (entry > 0) {
    const auto* h = reinterpret_cast<const CompiledFunctionHeader*>(ctx->codeBase + StoreEntry(ctx, entry)->position);
    const int16_t* inputs = InputVariables(h);
    for (int i = 0; i < h->inputs; ++i)
      if (inputs[i] == v) return RaiseError(ctx, kUndefArgin, v, 0, -1, nullptr);
  }
  return RaiseError(ctx, kUndefVar, v, 0, -1, nullptr);
}

// ---------------------------------------------------------------------------
// Opcode handlers.

StatusCode OpLoadVar(EngineContext* ctx, const int16_t* ins) {
  const int v = ins[1];
  Place p;
  if (StatusCode st = LocateVariable(ctx, v, &p); st != kOk) return st;
  if (p.block <= 0) return UndefinedVariable(ctx, v);
  const ValueDescriptor d = BlockDescriptor(ctx, p.block);
  Cell* data = nullptr;
  if (StatusCode st = PushValue(ctx, d.kind, d.cells, d.extra, IsPlainMatrix(d) ? Room::kAll : Room::kStrict, &data);
      st != kOk)
    return RaiseError(ctx, st == kDescStackFull ? kDescStackFullToo : kDataStackFullToo, v, 0, -1, nullptr);
  if (d.cells > 0) std::memcpy(data, ctx->heapBase + p.block + kVariableHeaderCells, int64_t{d.cells} * sizeof(Cell));
  return kOk;
}

StatusCode OpStoreVar(EngineContext* ctx, const int16_t* ins) { return StoreTopInto(ctx, ins[1]); }

StatusCode OpClearVar(EngineContext* ctx, const int16_t* ins) {
  Place p;
  if (StatusCode st = LocateVariable(ctx, ins[1], &p); st != kOk) return st;
  ClearSlot(ctx, FrameSlots(FindScopeFrame(ctx)) + ins[1]);
  return kOk;
}

StatusCode OpClear(EngineContext* ctx, const int16_t* ins) {
  const int nargin = ins[1];
  CallFrame* f = FindScopeFrame(ctx);
  if (f == nullptr) return kIllegal;
  int32_t* slots = FrameSlots(f);
  const int32_t count = FrameSlotCount(f);
  if (nargin <= 0) {
    for (int32_t i = 0; i < count; ++i) ClearSlot(ctx, slots + i);
    return kOk;
  }
  for (int p = 0; p < nargin; ++p)
    if (!IsCharArg(ctx, p)) return kWrongType;
  if (nargin == 1) {
    const ArrayView a = ReadArray(DataAt(ctx, 0));
    const auto* codes = reinterpret_cast<const uint16_t*>(a.data);
    if (a.count >= 2 && codes[0] == '-' && codes[1] == 'f') {
      if (IsAnyFunctionActive(ctx)) return kBadContext;
      for (int32_t i = 1; i < ctx->entriesInUse; ++i)
        if (StoreEntry(ctx, i)->kind < 0 && StoreEntry(ctx, i)->position > 0)
          if (StatusCode st = DiscardFunctionCode(ctx, i); st != kOk) return st;
      PopValue(ctx);
      return kOk;
    }
  }
  for (int p = nargin - 1; p >= 0; --p) {
    char name[kVariableNameBytes];
    int64_t length = 0;
    // A name longer than a variable's matches none.
    if (CopyStringArgToBuffer(ctx, p, name, sizeof name, &length) != kOk) continue;
    for (int32_t i = 0; i < count; ++i) {
      const char* known = GetVariableName(ctx, i);
      if (known != nullptr && VariableNameLength(known) == length && std::memcmp(known, name, length) == 0)
        ClearSlot(ctx, slots + i);
    }
  }
  return DropArgsUnderResults(ctx, 0, nargin);
}

StatusCode OpDeclareGlobal(EngineContext* ctx, const int16_t* ins) {
  const int v = ins[1];
  const bool persistent = ins[2] != 0;
  const CallFrame* current = CurrentFrame(ctx);
  if (current != nullptr && current->sandboxed) return kSecViolationGlobal;
  CallFrame* f = FindScopeFrame(ctx);
  if (f == nullptr || v < 0 || v >= FrameSlotCount(f)) return kIllegal;
  const char* name = GetVariableName(ctx, v);
  if (name == nullptr) return kIllegal;
  SymbolId symbol = 0;
  if (StatusCode st = InternSymbol(ctx, name, VariableNameLength(name), kVariableNameBytes, &symbol); st != kOk)
    return st;
  const int32_t owner = persistent ? FrameFunctionEntry(ctx, f) : -1;
  int32_t entry = -1;
  for (int32_t i = 1; i < ctx->entriesInUse && entry < 0; ++i) {
    const FunctionStoreEntry* e = StoreEntry(ctx, i);
    if (e->kind == kEntryVariable && e->name == symbol && e->qualifier == owner) entry = i;
  }
  if (entry < 0) return kIllegal;

  int32_t link = 0, empty = 0;
  if (StatusCode st = AllocateHeapBlock(ctx, kVariableHeaderCells + 4, &link); st != kOk) return st;
  if (StoreEntry(ctx, entry)->position <= 0) {
    if (StatusCode st = AllocateHeapBlock(ctx, kVariableHeaderCells, &empty); st != kOk) {
      FreeHeapBlock(ctx, link);
      return st;
    }
    WriteVariableDescriptor(ctx, empty, {0, 0, 0});
    StoreEntry(ctx, entry)->position = empty;
  }
  WriteVariableDescriptor(ctx, link, {kLink, 4, 0});
  Cell* data = ctx->heapBase + link + kVariableHeaderCells;
  std::memset(data, 0, 4 * sizeof(Cell));
  data[0].iw[1] = 1;
  data[1].iw[0] = entry;
  data[3].iw[0] = v;
  // The slot's own value goes; a link it held is only a link.
  int32_t* slot = FrameSlots(f) + v;
  FreeHeapBlock(ctx, *slot);
  *slot = link;
  return kOk;
}

StatusCode OpIncrementVar(EngineContext* ctx, const int16_t* ins) {
  const int v = ins[1];
  const double delta = ins[0] == static_cast<int16_t>(Op::DecrementVar) ? -1.0 : 1.0;
  Place p;
  if (StatusCode st = LocateVariable(ctx, v, &p); st != kOk) return st;
  if (p.block <= 0) return RaiseError(ctx, kUndefVar, v, 0, -1, nullptr);
  const ValueDescriptor d = BlockDescriptor(ctx, p.block);
  if (!IsPlainMatrix(d)) return RaiseError(ctx, kWrongVarType, v, 0, -1, nullptr);
  Cell* data = ctx->heapBase + p.block + kVariableHeaderCells;
  const int64_t count = (d.kind & kComplex) ? d.cells / 2 : d.cells;
  for (int64_t i = 0; i < count; ++i) data[i].f += delta;
  return kOk;
}

StatusCode OpDisplayVar(EngineContext* ctx, const int16_t* ins) { return DisplayNamedValue(ctx, ins[1]); }

StatusCode OpDisplayStored(EngineContext* ctx, const int16_t* ins) {
  Place p;
  if (StatusCode st = LocateVariable(ctx, ins[1], &p); st != kOk) return st;
  if (p.block <= 0) return UndefinedVariable(ctx, ins[1]);
  return DisplayNamedValue(ctx, ins[1]);
}

StatusCode OpStoreAnsDisplay(EngineContext* ctx, const int16_t* ins) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  if (d.kind == kVoid) {
    PopValue(ctx);
    return kOk;
  }
  // A free list is spread: its elements but the last are shown without a
  // name, as disp shows them, and the last becomes the variable.
  if (d.kind == kComposite && d.extra == kFreeList) {
    int left = 0;
    if (StatusCode st = SpreadFreeLists(ctx, 1, &left); st != kOk) return st;
    if (left == 0) return kOk;
    for (; left > 1; --left) {
      (void)RotateValues(ctx, left, 1);  // the first remaining element to the top
      if (StatusCode st = CoreDisplayTopValue(ctx, kStdoutDescriptor, true); st != kOk) return st;
    }
  }
  if (StatusCode st = StoreTopInto(ctx, ins[1]); st != kOk) return st;
  return DisplayNamedValue(ctx, ins[1]);
}
