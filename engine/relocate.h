// Moving and growing the host's block, and reading a saved engine state into
// a prepared context: what the loader shares with the test-support image
// writer (the host's entry points are in engine.h).
#pragma once

#include <cstdint>

#include "engine/engine.h"

// ---------------------------------------------------------------------------
// Shared with the image writer.

// The image header: ten 32-bit fields (the section sizes, the frame index,
// the program counter), the main thread's record, then forty bytes: the
// current thread (always 0), the thread list, the semaphores, the display
// settings.
constexpr int32_t kThreadRecordBytes = 192;
constexpr int32_t kHeaderMainThread = 40;
constexpr int32_t kHeaderThreadFields = kHeaderMainThread + kThreadRecordBytes;
constexpr int32_t kStateHeaderBytes = kHeaderThreadFields + 40;
constexpr int32_t kMaxSavedSymbolBytes = 32767;

// Adds delta words to every code-area position held anywhere: function and
// use-list entries, the program counter, every frame's caller, catch,
// suspension and name-table words (of the running stacks and of every saved
// thread), every saved thread's program counter. With the main thread running.
void ShiftCodeAreaPositions(EngineContext* ctx, int32_t delta);
// Cells from the heap's start to the end of its last block in use.
int32_t HeapCellsInUse(const EngineContext* ctx);

// What the image writer reads of a context: the registers and the sections,
// as they stand.
struct EngineStateView {
  int64_t bytesInUse;  // from the context's start to the end of the code area
  int32_t currentThread;
  int32_t descLength;
  int32_t dataTop;
  int32_t heapCellsInUse;
  int32_t entriesInUse;
  int32_t entryCapacity;
  int32_t codeWords;  // compiled code after the entry table
  int32_t symbolBytes;
  int32_t frameIndex;
  uint32_t pcSpace;
  uint8_t pcSafe;
  int32_t pcOffset;
  const void* mainThread;  // the main thread's record, kThreadRecordBytes
  int32_t threadListHead;
  int32_t nextThreadId;
  int32_t semaphoreTable;
  int32_t semaphoreCapacity;
  int32_t lastSemaphoreId;
  int32_t digits;
  uint8_t format;
  uint8_t imagUnit;
  uint8_t loose;
  int32_t hostWords[2];
  const int32_t* descriptors;
  const Cell* data;
  const Cell* heap;
  const int16_t* entries;  // the entry table, then the compiled code
  const int16_t* code;
  const uint8_t* symbols;  // symbolBytes bytes ending at the code area's end
};
constexpr int32_t kFunctionEntryWords = 8;

void ViewEngineState(const EngineContext* ctx, EngineStateView* view);
// Makes the main thread current (the image holds its registers in the header).
void SwitchToMainThread(EngineContext* ctx);
