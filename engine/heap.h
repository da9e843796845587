// The variable heap and call frames: the first-fit allocator over 8-byte
// cells, the layout of a CallFrame on the descriptor stack, entering and
// leaving frames, unwinding, break polling and the resets.
#pragma once

#include "engine/engine.h"
#include "engine/frames.h"

// ---------------------------------------------------------------------------
// The heap. A block is one header cell (its first word: bits 0-29 the cells
// after it, bit 30 in use, bit 31 mark) followed by its cells; a block is named
// by the index of its first cell after the header, so 0 names no block.

// Forgets what is known of values' layouts (the cached element count). Every
// change of a heap block's layout calls it: allocation, freeing, a stored
// descriptor, a changed element of a variable's top level, the resets.
void ValuesChanged(EngineContext* ctx);

// 0 cells gives index 0; otherwise exactly that many cells, or 5.
[[nodiscard]] StatusCode AllocateHeapBlock(EngineContext* ctx, int32_t cells, int32_t* index);
// Clears the in-use bit only; neighbours merge at the next allocation.
void FreeHeapBlock(EngineContext* ctx, int32_t index);
// Cells after the header of a block.
int32_t HeapBlockCells(const EngineContext* ctx, int32_t index);
// Grows a block in place to hold cells, taking the free blocks right after
// it; false (nothing changed) when they are too small. The new cells hold
// whatever was there.
bool ExtendHeapBlock(EngineContext* ctx, int32_t index, int32_t cells);
// Whether ExtendHeapBlock would succeed; changes nothing.
bool HasRoomAfterHeapBlock(const EngineContext* ctx, int32_t index, int32_t cells);
// Cuts a block to its first cells; the rest becomes a free block.
void ShrinkHeapBlock(EngineContext* ctx, int32_t index, int32_t cells);
// Copies the used cells (overlap allowed) and makes the rest one free block.
void MoveHeapRegion(Cell* oldBase, int32_t usedCells, Cell* newBase, int32_t newSize);

// A variable's block: cell 0 {kind, cells}, cell 1 {columns or subtype}, then
// the data cells. A block of kind kLink names a global or persistent variable:
// the first word of its second data cell is a function-store entry whose
// heap-index word holds the value's block.
constexpr int kVariableHeaderCells = 2;
// The block that holds the variable's value, following a link; -1 when the
// slot or the linked global holds nothing.
int32_t VariableValueBlock(EngineContext* ctx, int32_t slot);
ValueDescriptor VariableDescriptor(EngineContext* ctx, int32_t block);
void WriteVariableDescriptor(EngineContext* ctx, int32_t block, const ValueDescriptor& d);

// Frees every block but those of globals and persistents (marked), after
// emptying the stacks and forgetting the frames, error records, breakpoints
// and profiler.
void MarkReachableHeapBlocks(EngineContext* ctx);

// ---------------------------------------------------------------------------
// Breaks. "+onabort" hooks are called as handler(context, user data).

// 500 to suspend, 501 halted, 505 stopped in the debugger.
[[nodiscard]] StatusCode CheckBreakRequest(EngineContext* ctx);
void RunAbortHooks(EngineContext* ctx);

// ---------------------------------------------------------------------------
// Resets.

// Empty stacks and fresh registers, for a new interpreter thread.
void ResetStackRegisters(EngineContext* ctx);
