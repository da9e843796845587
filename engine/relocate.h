// Moving and growing the host's block, and reading a saved engine state into
// a prepared context. engine.h includes this header: hosts call the first
// three; the rest is shared with the test-support image writer.
#pragma once

#include <cstdint>

#include "engine/engine.h"

// Before the host moves or reallocates the block: every address field
// becomes an offset from the context.
void MakeContextPointersRelative(EngineContext* ctx);
// After every move, with ctx at the block's new place: the address fields are
// rebuilt; with a positive new size (bytes) the regions are repartitioned,
// the region named by choice (the failing status: 1-2 descriptor stack, 3-4
// data stack, 5 heap, 6 code area) taking all the growth, any other choice
// sizing all four anew. A repartition that would shrink a region is skipped.
void RelocateEngineContext(EngineContext* ctx, int64_t newSize, int32_t choice);

// Delivers exactly bytes bytes into buffer, or answers false.
using EngineStateReader = bool (*)(void* buffer, int32_t bytes, void* userData);
// Reads an EngineStateImage: 305 when its header cannot be read; 1, 3, 5 or 6
// when a region is too small (nothing changed); 600 when a section is cut
// short or the image does not describe a sound state (the context then holds
// empty stacks, heap and store until it is reset or loaded again).
StatusCode LoadEngineState(EngineContext* ctx, EngineStateReader read, void* userData);

// ---------------------------------------------------------------------------
// Shared with the image writer.

constexpr int32_t kStateHeaderBytes = 240;
constexpr int32_t kMaxSavedSymbolBytes = 32767;

// Adds delta words to every code-area position held anywhere: function and
// use-list entries, the program counter, every frame's caller, catch,
// suspension and name-table words (of the running stacks and of every saved
// thread), every saved thread's program counter. With the main thread running.
void ShiftCodeAreaPositions(EngineContext* ctx, int32_t delta);
// Cells from the heap's start to the end of its last block in use.
int32_t HeapCellsInUse(const EngineContext* ctx);
