// The EngineContext header that begins the host's block, and the fixed-layout
// records it embeds. Internal to the engine: natives see only engine.h.
#pragma once

#include <cstddef>

#include "engine/engine.h"

// Where the next code word is: a space and a byte offset from that space's
// base, so a position survives a move of the block.
enum CodeSpace : uint32_t {
  kNoCode = 0,
  kCodeArea = 1,
  kDataStackCode = 3,
  kHeapCode = 4,
};

struct ProgramCounter {
  uint32_t space;
  uint8_t safe;  // may run in a nested RunInterpreter
  uint8_t pad[3];
  int32_t offset;
};
static_assert(sizeof(ProgramCounter) == 12);

struct RandomGeneratorState {
  uint32_t a;
  uint32_t b;
};

// The failing operation's name with its NUL: "class::method" at its longest,
// two 32-byte names and "::", fits whole.
constexpr int kFailingNameBytes = 68;

// Saved with the engine state and copied on every thread switch: fixed
// 192-byte layout of forty-eight 32-bit words, stack bases as offsets from
// the context.
struct ThreadRecord {
  int32_t descBase;  // 0
  int32_t descCapacity;
  int32_t descLength;
  int32_t frameIndex;
  int32_t dataBase;  // 4
  int32_t dataCapacity;
  int32_t dataTop;
  RandomGeneratorState uniform;  // 7
  RandomGeneratorState normal;   // 9
  uint32_t pcSpace;              // 11
  int32_t pcSafe;
  int32_t pcOffset;
  int32_t errorCode;  // 14
  int32_t errorFunction;
  int32_t errorPosition;
  char failingName[kFailingNameBytes];  // 17
  int32_t next;                         // 34: heap index of the next thread, 0 ends the list
  int32_t id;
  double sliceUsed;           // 36
  double totalTime;           // 38
  int32_t schedulingCounter;  // 40
  int32_t priority;           // 1..41
  int32_t clockState;         // offset from the context start
  int32_t reserved;
  double wakeTime;   // 44: -1 when awake
  double lastSleep;  // 46
};
static_assert(sizeof(ThreadRecord) == 192);
static_assert(offsetof(ThreadRecord, uniform) == 7 * 4);
static_assert(offsetof(ThreadRecord, pcSpace) == 11 * 4);
static_assert(offsetof(ThreadRecord, failingName) == 17 * 4);
static_assert(offsetof(ThreadRecord, next) == 34 * 4);
static_assert(offsetof(ThreadRecord, sliceUsed) == 36 * 4);
static_assert(offsetof(ThreadRecord, schedulingCounter) == 40 * 4);
static_assert(offsetof(ThreadRecord, wakeTime) == 44 * 4);

struct DisplayFormatSettings {
  int32_t digits;
  uint8_t format;    // format letter
  uint8_t imagUnit;  // 'i' or 'j'
  uint8_t loose;
  uint8_t pad;
  int32_t hostWords[2];
};

// One installed library: its run of records.
struct LibraryListEntry {
  const NativeFunctionRecord* first;
  int32_t count;
  uint8_t flag;  // kept for the host, consulted nowhere
  uint8_t pad[3];
};
static_assert(sizeof(LibraryListEntry) == 16);

// A named integer the host defines for natives; the name is the caller's.
struct NamedItem {
  const char* name;
  int32_t value;
  int32_t pad;
};
static_assert(sizeof(NamedItem) == 16);

using ClockCallback = double (*)(void* state, int processTime, int reset);
using BreakPollCallback = bool (*)(void* userData);
using SliceTestCallback = bool (*)(intptr_t arg);
// Charset callbacks: the leading bytes to skip; one character decoded at
// *position (always consuming a byte); one character encoded at *position,
// false when it did not fit.
using CharsetBomTest = int (*)(const char* text, int length);
using CharsetDecoder = bool (*)(const char* text, uint16_t* out, int* position, int length);
using CharsetEncoder = bool (*)(uint16_t ch, char* buffer, int* position, int size);

// The UTF-8 decoder in the charset callbacks' form.
bool Utf8Decode(const char* text, uint16_t* out, int* position, int length);

// A null function marks a queued call of language code; the argument is then
// its call block.
struct PendingCall {
  PendingCallFunction function;
  void* argument;
};
constexpr int kPendingCallQueue = 16;

struct EngineContext {
  ServiceTable services;  // must stay first: extensions find it at offset 0

  // descriptor stack: 32-bit words; values take three, frames more
  int32_t* descBase;
  int32_t descCapacity;
  int32_t descLength;
  int32_t frameIndex;

  // data stack: 8-byte cells
  Cell* dataBase;
  int32_t dataCapacity;
  int32_t dataTop;

  // variable heap
  Cell* heapBase;
  int32_t heapSize;
  int32_t heapFirstFree;  // a block boundary with every block before it in use: allocation starts there

  // code area: entry table, compiled code growing up, symbols growing down
  int16_t* codeBase;
  int32_t codeSize;       // 16-bit words
  int32_t entryCapacity;  // function-store entries
  int32_t entriesInUse;
  int32_t codeTop;        // words from the area start
  int32_t symbolBytes;    // size of the symbol area, negated
  int32_t compileOutput;  // word where a compilation is writing code, 0 when none

  // the core library's builtins and display; null until the host installs them
  const CoreLibraryTable* core;

  // native registry
  LibraryListEntry* libraries;
  int32_t libraryCount;
  int32_t runningNativeClass;
  void* nativeUserData;

  // named items
  NamedItem* namedItems;
  int32_t namedItemCount;

  // clock
  ClockCallback clock;
  void* clockData;
  int32_t clockStateSize;

  // pending calls
  PendingCallResolver pendingResolver;
  void* pendingTarget;
  PendingCall pendingCalls[kPendingCallQueue];
  int32_t pendingCount;

  // threads
  ThreadRecord mainThread;
  int32_t currentThread;   // heap index, 0 the main thread
  int32_t threadListHead;  // heap index, 0 when there are none
  int32_t nextThreadId;
  double mainSliceUsed;
  double timeSlice;  // seconds
  SliceTestCallback sliceTest;
  intptr_t sliceArg;       // without a callback: the switch-request flag
  int32_t semaphoreTable;  // heap index, -1 none
  int32_t semaphoreCapacity;
  int32_t lastSemaphoreId;

  // random generators
  RandomGeneratorState uniformRandom;
  RandomGeneratorState normalRandom;

  // execution
  ProgramCounter pc;
  uint8_t running;

  // error state
  int32_t errorCode;
  int32_t errorFunction;
  int32_t errorPosition;
  char failingName[kFailingNameBytes];
  int32_t lastErrorRecord;     // heap index, -1 none
  int32_t currentErrorRecord;  // heap index, -1 none

  // compiler settings
  uint8_t lineInfo;
  int32_t optimisationLevel;
  uint8_t discardAssert;
  uint8_t ignorePrivate;

  // break polling
  BreakPollCallback breakPoll;
  void* breakPollData;

  // growth under a running command
  BlockGrowthCallback blockGrowth;
  void* blockGrowthData;
  int64_t roomAsked;     // bytes the last operation short of room asked for, -1 unknown
  int32_t roomRegion;    // the region (1-6) a compilation short of room ran out of, 0 unknown
  uint64_t sideEffects;  // counts writes, reads and controls through descriptors
  uint8_t breakPending;  // with breaks entering the debugger: a report is waiting for its second

  // charsets; all null means plain 8-bit text
  CharsetBomTest charsetBom;
  CharsetDecoder charsetDecode;
  CharsetEncoder charsetEncode;

  DisplayFormatSettings display;

  // descriptors
  int32_t nextDescriptor;
  int32_t redirect[2];      // where descriptors 1 and 2 go
  uint8_t redirectCopy[2];  // also write to the original
  uint8_t* memoryBuffer;    // behind descriptor 5
  int32_t memoryCapacity;
  int32_t* memoryPosition;
  // Descriptors whose last line-mode read ended on a CR, oldest first: an LF
  // read next on one of them completes that line end. Header only, never saved.
  int32_t crPending[16];
  int32_t crPendingCount;

  // source suffixes
  const char* librarySuffix;
  const char* helpSuffix;

  // debugger
  int32_t breakpointList;  // heap index, -1 none
  int32_t breakpointCount;
  uint8_t breakpointFlag;
  int32_t profilerFunction;
  int32_t profilerHeap;
  int32_t echo;  // -1 off, -2 every function, else the echoed function's entry
  int32_t echoDescriptor;
  uint8_t breakEntersDebugger;  // a break stops in the debugger instead of halting

  // The element count of the composite last counted in a variable's block, so
  // that a loop indexing a list does not walk all of it on every step. It
  // holds while stamp equals valueStamp, which every change that may move or
  // rewrite it advances (ValuesChanged). Header only, never saved.
  uint64_t valueStamp;
  struct {
    uint64_t stamp;
    int32_t block;
    int32_t offset;  // of the composite's header in the block
    int64_t cells;
    int64_t elements;
  } counted;
  // The frame SkipPlainFrames last found for a plain frame (an eval's):
  // nested evals would otherwise walk every frame between on each variable
  // access. Frames between the two are plain. It holds until a frame
  // at or below `frame` is popped (FrameIndexDropped follows it down) or the
  // stacks are replaced (ForgetScopeFrame). Header only, never saved.
  struct {
    int32_t frame;  // -1: nothing known
    int32_t scope;
  } scopeFrame;
};
static_assert(offsetof(EngineContext, services) == 0);

// No breakpoints, no profiled function, the echo setting unset: the
// debugger's state in a fresh engine and after the heap's reset.
inline void ClearDebuggerState(EngineContext* ctx) {
  ctx->breakpointList = -1;
  ctx->breakpointCount = 0;
  ctx->profilerFunction = -1;
  ctx->profilerHeap = -1;
  ctx->echo = -1;
  ctx->echoDescriptor = 2;
  ctx->breakEntersDebugger = 0;
}

// What FindScopeFrame keeps: the stacks were replaced.
inline void ForgetScopeFrame(EngineContext* ctx) { ctx->scopeFrame = {-1, -1}; }

// What the header takes of the block; regions start right after it.
constexpr size_t kContextHeaderBytes = (sizeof(EngineContext) + 7) & ~size_t{7};
static_assert(kContextHeaderBytes + 1024 < kMinEngineBlockBytes);

// First cell of every heap block: bits 0-29 cells after the header, bit 30 in use, bit 31 mark.
constexpr uint32_t kHeapCountMask = 0x3FFFFFFF;
constexpr uint32_t kHeapInUse = 0x40000000;
constexpr uint32_t kHeapMark = 0x80000000;

// One function-store entry takes 8 code words: four 32-bit words.
constexpr int kEntryWords = 8;
inline int32_t* FunctionEntryWords(EngineContext* ctx, int32_t entry) {
  return reinterpret_cast<int32_t*>(ctx->codeBase + kEntryWords * entry);
}

// Free code-area words between the compiled code and the symbol area. One
// word is always held back, so code and symbols never touch.
inline int32_t FreeCodeWords(const EngineContext* ctx) {
  return ctx->codeSize - ctx->codeTop - (-ctx->symbolBytes) / 2 - 1;
}

// The sizes InitEngineContext gives the regions for R bytes after the header.
// Growth to the default proportions takes the same sizes, so a grown block and
// a fresh one of its size are laid out alike.
struct RegionSizes {
  int32_t dataCells;
  int32_t heapCells;
  int32_t descWords;
  int32_t codeWords;
  int32_t entryCapacity;
};
RegionSizes PartitionRegions(int64_t regionBytes);
// The function-store entries a code area of that many words starts with.
int32_t EntryCapacityFor(int64_t codeWords);

// Writes the engine's entry points into the table at the context's start.
void FillServiceTable(EngineContext* ctx);
