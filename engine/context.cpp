// Laying out a fresh engine in the host's block: the partition of the regions,
// the header's initial values and the version text.
#include "engine/context.h"

#include <cstring>

#include "engine/bytecode.h"

namespace {

constexpr int32_t RoundDown8(int64_t x) { return static_cast<int32_t>(x & ~int64_t{7}); }

// Suffix lists: NUL-terminated texts ended by an empty one.
const char kLibrarySuffix[] = "rvl\0";
const char kHelpSuffix[] = "hlp\0";

void InitHeader(EngineContext* ctx, uint8_t* regions, const RegionSizes& r) {
  ctx->dataBase = reinterpret_cast<Cell*>(regions);
  ctx->dataCapacity = r.dataCells;
  ctx->dataTop = 0;

  ctx->heapBase = ctx->dataBase + r.dataCells;
  ctx->heapSize = r.heapCells;
  ctx->heapFirstFree = 0;

  ctx->descBase = reinterpret_cast<int32_t*>(ctx->heapBase + r.heapCells);
  ctx->descCapacity = r.descWords;
  ctx->descLength = 0;
  ctx->frameIndex = -1;
  ForgetScopeFrame(ctx);

  ctx->codeBase = reinterpret_cast<int16_t*>(ctx->descBase + r.descWords);
  ctx->codeSize = r.codeWords;
  ctx->entryCapacity = r.entryCapacity;
  ctx->entriesInUse = 1;
  ctx->codeTop = kEntryWords * r.entryCapacity;
  ctx->symbolBytes = 0;
  ctx->compileOutput = 0;

  ctx->libraries = nullptr;
  ctx->libraryCount = 0;
  ctx->runningNativeClass = 0;
  ctx->nativeUserData = nullptr;

  ctx->namedItems = nullptr;
  ctx->namedItemCount = 0;

  ctx->clock = nullptr;
  ctx->clockData = nullptr;
  ctx->clockStateSize = 0;

  ctx->pendingResolver = nullptr;
  ctx->pendingTarget = nullptr;
  std::memset(ctx->pendingCalls, 0, sizeof ctx->pendingCalls);
  ctx->pendingCount = 0;

  std::memset(&ctx->mainThread, 0, sizeof ctx->mainThread);
  ctx->valueStamp = 1;
  ctx->counted = {};
  ctx->currentThread = 0;
  ctx->threadListHead = 0;
  ctx->nextThreadId = 1;
  ctx->mainSliceUsed = 0.0;
  ctx->timeSlice = 0.05;
  ctx->sliceTest = nullptr;
  ctx->sliceArg = 0;
  ctx->semaphoreTable = -1;
  ctx->semaphoreCapacity = 0;
  ctx->lastSemaphoreId = 0;

  ctx->uniformRandom = {0, 1};
  ctx->normalRandom = {0, 1};

  ctx->pc = ProgramCounter{};
  ctx->running = 0;

  ctx->errorCode = 0;
  ctx->errorFunction = -1;
  ctx->errorPosition = -1;
  std::memset(ctx->failingName, 0, sizeof ctx->failingName);
  ctx->lastErrorRecord = -1;
  ctx->currentErrorRecord = -1;

  ctx->lineInfo = 0;
  ctx->optimisationLevel = 1;
  ctx->discardAssert = 0;
  ctx->ignorePrivate = 0;

  ctx->breakPoll = nullptr;
  ctx->breakPollData = nullptr;
  ctx->blockGrowth = nullptr;
  ctx->blockGrowthData = nullptr;
  ctx->roomAsked = -1;
  ctx->roomRegion = 0;
  ctx->sideEffects = 0;
  ctx->breakPending = 0;

  ctx->charsetBom = nullptr;
  ctx->charsetDecode = nullptr;
  ctx->charsetEncode = nullptr;

  ctx->display = DisplayFormatSettings{4, 'g', 'j', 0, 0, {24, -1}};
  ctx->core = nullptr;

  ctx->nextDescriptor = 1024;
  ctx->redirect[0] = 1;
  ctx->redirect[1] = 2;
  ctx->redirectCopy[0] = ctx->redirectCopy[1] = 0;
  ctx->memoryBuffer = nullptr;
  ctx->memoryCapacity = 0;
  ctx->memoryPosition = nullptr;
  ctx->crPendingCount = 0;

  ctx->librarySuffix = kLibrarySuffix;
  ctx->helpSuffix = kHelpSuffix;

  ClearDebuggerState(ctx);
  ctx->breakpointFlag = 0;
}

}  // namespace

int32_t EntryCapacityFor(int64_t codeWords) {
  // A small code area gets a table twice as dense, so that it still holds
  // a useful number of functions.
  const int64_t entries = codeWords / 256 >= 100 ? codeWords / 256 : codeWords / 128;
  return static_cast<int32_t>(entries);
}

RegionSizes PartitionRegions(int64_t regionBytes) {
  const int64_t r = regionBytes;
  RegionSizes s{};
  s.dataCells = RoundDown8(r / 64);
  s.heapCells = RoundDown8((3 * r / 8) / 8);
  s.descWords = RoundDown8(r / 32);
  s.codeWords = RoundDown8((r - 4 * int64_t{s.descWords} - 8 * int64_t{s.heapCells} - 8 * int64_t{s.dataCells}) / 2);
  s.entryCapacity = EntryCapacityFor(s.codeWords);
  return s;
}

StatusCode InitEngineContext(void* block, size_t bytes, EngineContext** out) {
  *out = static_cast<EngineContext*>(block);
  if (block == nullptr || reinterpret_cast<uintptr_t>(block) % 8 != 0) return kInitError;
  if (bytes < kMinEngineBlockBytes) return kInitError;
  // Every region size and offset is a 32-bit count; a larger block cannot be addressed.
  if (bytes > size_t{INT32_MAX}) return kInitError;

  EngineContext* ctx = *out;
  uint8_t* regions = static_cast<uint8_t*>(block) + kContextHeaderBytes;
  const RegionSizes sizes = PartitionRegions(static_cast<int64_t>(bytes - kContextHeaderBytes));
  InitHeader(ctx, regions, sizes);
  FillServiceTable(ctx);

  // Entry 0 of the function store is a zero entry that names no function.
  std::memset(ctx->codeBase, 0, kEntryWords * sizeof(int16_t));

  // The whole heap is one free block.
  ctx->heapBase[0].u = 0;
  ctx->heapBase[0].w[0] = static_cast<uint32_t>(sizes.heapCells - 1) & kHeapCountMask;
  return kOk;
}

const char* GetEngineVersionText() { return "RVO 5.1"; }
