// The variable heap: first-fit allocation that merges free neighbours on its
// way, moving the heap with the block, variable blocks and their links, and
// the reachability pass that keeps only the globals and persistents.
#include "engine/heap.h"

#include <cstring>

#include "engine/context.h"
#include "engine/function.h"

namespace {

uint32_t& HeaderWord(Cell* heap, int64_t cell) { return heap[cell].w[0]; }

void WriteHeader(Cell* heap, int64_t cell, uint32_t word) {
  heap[cell].u = 0;
  heap[cell].w[0] = word;
}

bool IsFree(uint32_t header) { return (header & kHeapInUse) == 0; }

}  // namespace

StatusCode AllocateHeapBlock(EngineContext* ctx, int32_t cells, int32_t* index) {
  if (cells < 0) return kBadArg;
  if (cells == 0) {
    *index = 0;
    return kOk;
  }
  Cell* heap = ctx->heapBase;
  const int64_t end = ctx->heapSize;
  // Every block below the first-free bound is in use, so a walk from the heap
  // start would pass them without merging or taking any: starting at the
  // bound gives the same block and keeps deep recursion linear.
  int64_t at = ctx->heapFirstFree > 0 && ctx->heapFirstFree <= end ? ctx->heapFirstFree : 0;
  int64_t firstFree = -1;
  while (at < end) {
    uint32_t& header = HeaderWord(heap, at);
    int64_t size = header & kHeapCountMask;
    if (IsFree(header)) {
      // Swallow free neighbours first, even when this block is already large
      // enough: merging is deferred to this walk and nothing else does it.
      for (;;) {
        const int64_t next = at + 1 + size;
        if (next >= end || !IsFree(HeaderWord(heap, next))) break;
        const int64_t merged = size + 1 + (HeaderWord(heap, next) & kHeapCountMask);
        if (at + 1 + merged > end || merged > kHeapCountMask) break;
        size = merged;
        WriteHeader(heap, at, static_cast<uint32_t>(size));
      }
      if (size >= cells) {
        if (size > cells) WriteHeader(heap, at + 1 + cells, static_cast<uint32_t>(size - cells - 1));
        WriteHeader(heap, at, static_cast<uint32_t>(cells) | kHeapInUse);
        *index = static_cast<int32_t>(at + 1);
        ctx->heapFirstFree = static_cast<int32_t>(firstFree >= 0 ? firstFree : at + 1 + cells);
        return kOk;
      }
      if (firstFree < 0) firstFree = at;
    }
    at += 1 + size;
  }
  ctx->heapFirstFree = static_cast<int32_t>(firstFree >= 0 ? firstFree : end);
  ctx->roomAsked = (int64_t{cells} + 1) * int64_t{sizeof(Cell)};
  return kHeapFull;
}

void ValuesChanged(EngineContext* ctx) { ++ctx->valueStamp; }

void FreeHeapBlock(EngineContext* ctx, int32_t index) {
  if (index <= 0 || index > ctx->heapSize) return;
  ValuesChanged(ctx);
  HeaderWord(ctx->heapBase, index - 1) &= ~kHeapInUse;
  if (index - 1 < ctx->heapFirstFree) ctx->heapFirstFree = index - 1;
}

int32_t HeapBlockCells(const EngineContext* ctx, int32_t index) {
  return static_cast<int32_t>(ctx->heapBase[index - 1].w[0] & kHeapCountMask);
}

namespace {

// The cell after the free blocks that follow a block, looking only until it
// reaches want.
int64_t EndOfFreeRunAfter(const EngineContext* ctx, int32_t index, int64_t want) {
  const Cell* heap = ctx->heapBase;
  int64_t next = index + int64_t{heap[index - 1].w[0] & kHeapCountMask};
  while (next < want && next < ctx->heapSize && IsFree(heap[next].w[0])) next += 1 + (heap[next].w[0] & kHeapCountMask);
  return next;
}

}  // namespace

bool HasRoomAfterHeapBlock(const EngineContext* ctx, int32_t index, int32_t cells) {
  return EndOfFreeRunAfter(ctx, index, int64_t{index} + cells) >= int64_t{index} + cells &&
         cells <= static_cast<int32_t>(kHeapCountMask);
}

bool ExtendHeapBlock(EngineContext* ctx, int32_t index, int32_t cells) {
  Cell* heap = ctx->heapBase;
  const int64_t want = int64_t{index} + cells;  // the cell after the grown block
  if (want <= index + int64_t{HeaderWord(heap, index - 1) & kHeapCountMask}) return true;
  // Only look until the free run suffices, so that a failure writes nothing.
  const int64_t next = EndOfFreeRunAfter(ctx, index, want);
  if (next < want || cells > static_cast<int32_t>(kHeapCountMask)) return false;
  if (next > want) WriteHeader(heap, want, static_cast<uint32_t>(next - want - 1));
  HeaderWord(heap, index - 1) = (HeaderWord(heap, index - 1) & ~kHeapCountMask) | static_cast<uint32_t>(cells);
  // The first-free bound must stay on a block header below every free block.
  if (ctx->heapFirstFree >= index && ctx->heapFirstFree < want) ctx->heapFirstFree = static_cast<int32_t>(want);
  return true;
}

void ShrinkHeapBlock(EngineContext* ctx, int32_t index, int32_t cells) {
  const int32_t had = HeapBlockCells(ctx, index);
  if (cells >= had) return;
  HeaderWord(ctx->heapBase, index - 1) = static_cast<uint32_t>(cells) | kHeapInUse;
  WriteHeader(ctx->heapBase, int64_t{index} + cells, static_cast<uint32_t>(had - cells - 1));
  if (index + cells < ctx->heapFirstFree) ctx->heapFirstFree = index + cells;
}

void MoveHeapRegion(Cell* oldBase, int32_t usedCells, Cell* newBase, int32_t newSize) {
  if (usedCells > 0 && oldBase != newBase) std::memmove(newBase, oldBase, int64_t{usedCells} * sizeof(Cell));
  if (newSize > usedCells) WriteHeader(newBase, usedCells, static_cast<uint32_t>(newSize - usedCells - 1));
}

int32_t VariableValueBlock(EngineContext* ctx, int32_t slot) {
  if (slot <= 0) return -1;
  const Cell* block = ctx->heapBase + slot;
  if ((block[0].w[0] & kLink) == 0) return slot;
  const int32_t entry = block[kVariableHeaderCells + 1].iw[0];
  if (entry <= 0 || entry >= ctx->entriesInUse) return -1;
  const auto* e = reinterpret_cast<const FunctionStoreEntry*>(FunctionEntryWords(ctx, entry));
  if (e->kind != kEntryVariable || e->position <= 0) return -1;
  return e->position;
}

ValueDescriptor VariableDescriptor(EngineContext* ctx, int32_t block) {
  const Cell* b = ctx->heapBase + block;
  return {b[0].w[0], b[0].iw[1], b[1].iw[0]};
}

void WriteVariableDescriptor(EngineContext* ctx, int32_t block, const ValueDescriptor& d) {
  ValuesChanged(ctx);
  Cell* b = ctx->heapBase + block;
  b[0].w[0] = d.kind;
  b[0].iw[1] = d.cells;
  b[1].iw[0] = d.extra;
  b[1].iw[1] = 0;
}

void MarkReachableHeapBlocks(EngineContext* ctx) {
  ctx->frameIndex = -1;
  ForgetScopeFrame(ctx);
  ctx->descLength = 0;
  ctx->dataTop = 0;
  ctx->lastErrorRecord = -1;
  ctx->currentErrorRecord = -1;
  ClearDebuggerState(ctx);
  ctx->breakPending = 0;

  Cell* heap = ctx->heapBase;
  const int64_t end = ctx->heapSize;
  ctx->heapFirstFree = 0;
  ValuesChanged(ctx);
  for (int64_t at = 0; at < end; at += 1 + (HeaderWord(heap, at) & kHeapCountMask)) HeaderWord(heap, at) &= ~kHeapMark;
  for (int32_t i = 1; i < ctx->entriesInUse; ++i) {
    const auto* e = reinterpret_cast<const FunctionStoreEntry*>(FunctionEntryWords(ctx, i));
    if (e->kind == kEntryVariable && e->position > 0 && e->position <= end)
      HeaderWord(heap, e->position - 1) |= kHeapMark;
  }
  for (int64_t at = 0; at < end; at += 1 + (HeaderWord(heap, at) & kHeapCountMask))
    if ((HeaderWord(heap, at) & kHeapMark) == 0) HeaderWord(heap, at) &= ~kHeapInUse;
}
