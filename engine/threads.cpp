// Cooperative interpreter threads: register switches between the context and
// the thread records, the weighted-priority scheduler, thread creation and
// removal, the semaphore table, the "@thread" natives and tic/toc.
#include "engine/threads.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>

#include "engine/heap.h"
#include "engine/values/valuestack.h"
#include "engine/vm.h"

namespace {

constexpr double kAwake = -1.0;

int32_t OffsetInContext(const EngineContext* ctx, const void* p) {
  return static_cast<int32_t>(static_cast<const char*>(p) - reinterpret_cast<const char*>(ctx));
}

template <class T>
T* AtOffset(EngineContext* ctx, int32_t offset) {
  return reinterpret_cast<T*>(reinterpret_cast<char*>(ctx) + offset);
}

// Words 0 to 33 of the record: the stacks, the random states, the program
// counter and the error state.
void StoreRegisters(EngineContext* ctx, ThreadRecord* r) {
  r->descBase = OffsetInContext(ctx, ctx->descBase);
  r->descCapacity = ctx->descCapacity;
  r->descLength = ctx->descLength;
  r->frameIndex = ctx->frameIndex;
  r->dataBase = OffsetInContext(ctx, ctx->dataBase);
  r->dataCapacity = ctx->dataCapacity;
  r->dataTop = ctx->dataTop;
  r->uniform = ctx->uniformRandom;
  r->normal = ctx->normalRandom;
  r->pcSpace = ctx->pc.space;
  r->pcSafe = ctx->pc.safe;
  r->pcOffset = ctx->pc.offset;
  r->errorCode = ctx->errorCode;
  r->errorFunction = ctx->errorFunction;
  r->errorPosition = ctx->errorPosition;
  static_assert(sizeof r->failingName == sizeof ctx->failingName);
  std::memcpy(r->failingName, ctx->failingName, sizeof r->failingName);
}

void LoadRegisters(EngineContext* ctx, const ThreadRecord* r) {
  ctx->descBase = AtOffset<int32_t>(ctx, r->descBase);
  ctx->descCapacity = r->descCapacity;
  ctx->descLength = r->descLength;
  ctx->frameIndex = r->frameIndex;
  ForgetScopeFrame(ctx);
  ctx->dataBase = AtOffset<Cell>(ctx, r->dataBase);
  ctx->dataCapacity = r->dataCapacity;
  ctx->dataTop = r->dataTop;
  ctx->uniformRandom = r->uniform;
  ctx->normalRandom = r->normal;
  ctx->pc.space = r->pcSpace;
  ctx->pc.safe = static_cast<uint8_t>(r->pcSafe);
  ctx->pc.offset = r->pcOffset;
  ctx->errorCode = r->errorCode;
  ctx->errorFunction = r->errorFunction;
  ctx->errorPosition = r->errorPosition;
  std::memcpy(ctx->failingName, r->failingName, sizeof ctx->failingName);
  // A record read from an image may lack the NUL.
  ctx->failingName[kFailingNameBytes - 1] = 0;
}

// A list walk never takes more steps than the heap has cells, so a damaged
// list cannot hold the engine.
bool IsThreadIndex(const EngineContext* ctx, int32_t h) {
  return h > 0 && int64_t{h} + kThreadRecordCells <= ctx->heapSize;
}

// The record's clock state, for the clock callback.
void* ThreadClockState(EngineContext* ctx, const ThreadRecord* r) { return AtOffset<char>(ctx, r->clockState); }

// A thread made before the clock was installed has no room for a clock
// state: the clock would write into its data stack, so it keeps no time.
bool HasThreadClock(const EngineContext* ctx, const ThreadRecord* r) {
  return ctx->clock != nullptr && int64_t{r->dataBase} - r->clockState >= ctx->clockStateSize;
}

bool IsAwake(EngineContext* ctx, const ThreadRecord* r) {
  if (r->wakeTime < 0 || !HasThreadClock(ctx, r)) return true;
  return ctx->clock(ThreadClockState(ctx, r), 0, 0) >= r->wakeTime;
}

// The running thread's program counter lives in the context, the others' in
// their records.
bool IsRunnable(const EngineContext* ctx, int32_t h, const ThreadRecord* r) {
  return (h == ctx->currentThread ? ctx->pc.space : r->pcSpace) != kNoCode;
}

// The weighted choice: the main thread unless a runnable, awake thread has a
// greater counter; every runnable thread's counter grows by its priority.
int32_t ChooseThread(EngineContext* ctx) {
  int32_t best = ctx->mainThread.schedulingCounter;
  int32_t choice = 0;
  int32_t h = ctx->threadListHead;
  for (int32_t steps = 0; IsThreadIndex(ctx, h) && steps < ctx->heapSize; ++steps) {
    ThreadRecord* r = ThreadRecordAt(ctx, h);
    if (IsRunnable(ctx, h, r)) {
      if (r->schedulingCounter > best && IsAwake(ctx, r)) {
        choice = h;
        best = r->schedulingCounter;
      }
      r->schedulingCounter += r->priority;
    }
    h = r->next;
  }
  return choice;
}

// The record's stack and clock-state offsets from its heap index: the record,
// the clock state, the data stack, then the descriptor stack 8d bytes after
// the record (d: half the descriptor capacity).
void PlaceThreadStacks(EngineContext* ctx, int32_t h, ThreadRecord* r) {
  const int32_t record = OffsetInContext(ctx, ctx->heapBase + h);
  const int32_t d = r->descCapacity / 2;
  const int32_t clockCells = d - r->dataCapacity;
  r->clockState = record + static_cast<int32_t>(sizeof(ThreadRecord));
  r->dataBase = r->clockState + 8 * clockCells;
  r->descBase = r->clockState + 8 * d;
}

// A thread's place in the list, or false.
bool FindInList(EngineContext* ctx, int32_t h, int32_t* previous) {
  *previous = 0;
  int32_t at = ctx->threadListHead;
  for (int32_t steps = 0; IsThreadIndex(ctx, at) && steps < ctx->heapSize; ++steps) {
    if (at == h) return true;
    *previous = at;
    at = ThreadRecordAt(ctx, at)->next;
  }
  return false;
}

// Frees the variables that a thread's frames still hold: its registers are
// borrowed for the unwinding, the running thread's put back afterwards.
void UnwindThreadFrames(EngineContext* ctx, ThreadRecord* victim) {
  ThreadRecord running;
  StoreRegisters(ctx, &running);
  LoadRegisters(ctx, victim);
  (void)UnwindFrames(ctx, 0);
  StoreRegisters(ctx, victim);
  LoadRegisters(ctx, &running);
}

// ---------------------------------------------------------------------------
// The stopwatch: one process-wide start, on a monotonic wall clock.

double MonotonicSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double (*gStopwatchClock)() = &MonotonicSeconds;
double gStopwatchStart = 0.0;

// ---------------------------------------------------------------------------
// Natives' helpers.

// A native without results called as a statement leaves the void value.
[[nodiscard]] StatusCode FinishWithoutResult(EngineContext* ctx, int nargin, int nargout) {
  int results = 0;
  if (nargout < 0) {
    if (StatusCode st = PushVoidValue(ctx); st != kOk) return st;
    results = 1;
  }
  return DropArgsUnderResults(ctx, results, nargin);
}

[[nodiscard]] StatusCode FinishWithScalar(EngineContext* ctx, int nargin, int nargout, double x, bool logical) {
  int results = 0;
  if (nargout != 0) {
    StatusCode st = logical ? PushLogicalScalar(ctx, x != 0) : PushRealScalar(ctx, x);
    if (st != kOk) return st;
    results = 1;
  }
  return DropArgsUnderResults(ctx, results, nargin);
}

// An id argument: a real scalar; a value that is no whole number names nothing.
[[nodiscard]] StatusCode GetIdArg(EngineContext* ctx, int position, int32_t* id) {
  double x = 0;
  if (StatusCode st = GetRealScalarArg(ctx, position, &x); st != kOk) return ReportedStatus(st);
  *id = x >= 1 && x <= INT32_MAX && x == std::floor(x) ? static_cast<int32_t>(x) : -1;
  return kOk;
}

// The options of threadset, in table order.
constexpr OptionDefaultRecord kThreadOptions[] = {
    {"Priority", kOptionReal, 0, {{0}}},
    {"Running", kOptionLogical, 1, {{1}}},
    {"Sandbox", kOptionLogical, 0, {{0}}},
    {"StackSize", kOptionReal, 0, {{8192}}},
    {"", kOptionEnd, 0, {{0}}},
};

}  // namespace

// ---------------------------------------------------------------------------
// The scheduler.

void SetTimeCallback(EngineContext* ctx, ClockCallback callback, void* data, int32_t stateSize) {
  ctx->clock = callback;
  ctx->clockData = data;
  ctx->clockStateSize = callback != nullptr && stateSize > 0 ? stateSize : 0;
}

ThreadRecord* ThreadRecordAt(EngineContext* ctx, int32_t thread) {
  return thread == 0 ? &ctx->mainThread : reinterpret_cast<ThreadRecord*>(ctx->heapBase + thread);
}

ThreadRecord* GetCurrentThreadRecord(EngineContext* ctx) {
  return ctx->currentThread == 0 ? nullptr : ThreadRecordAt(ctx, ctx->currentThread);
}

ThreadRecord* SwitchInterpreterThread(EngineContext* ctx, int32_t thread) {
  if (thread == -1) {
    if (ctx->threadListHead == 0) return ThreadRecordAt(ctx, ctx->currentThread);
    thread = ChooseThread(ctx);
    ThreadRecordAt(ctx, thread)->wakeTime = kAwake;
  }
  ThreadRecord* chosen = ThreadRecordAt(ctx, thread);
  if (thread == ctx->currentThread) return chosen;
  StoreRegisters(ctx, ThreadRecordAt(ctx, ctx->currentThread));
  LoadRegisters(ctx, chosen);
  ctx->currentThread = thread;
  chosen->sliceUsed = 0;
  if (thread == 0) ctx->mainSliceUsed = 0;
  chosen->schedulingCounter = 0;
  return chosen;
}

void UnlinkInterpreterThread(EngineContext* ctx, int32_t thread) {
  int32_t previous = 0;
  if (thread <= 0 || !FindInList(ctx, thread, &previous)) return;
  if (thread == ctx->currentThread) SwitchInterpreterThread(ctx, 0);
  ThreadRecord* r = ThreadRecordAt(ctx, thread);
  UnwindThreadFrames(ctx, r);
  if (previous == 0) {
    ctx->threadListHead = r->next;
  } else {
    ThreadRecordAt(ctx, previous)->next = r->next;
  }
  FreeHeapBlock(ctx, thread);
}

bool FindThreadById(EngineContext* ctx, int32_t id, int32_t* thread) {
  if (id == 0) {
    *thread = 0;
    return true;
  }
  int32_t h = ctx->threadListHead;
  for (int32_t steps = 0; IsThreadIndex(ctx, h) && steps < ctx->heapSize; ++steps) {
    const ThreadRecord* r = ThreadRecordAt(ctx, h);
    if (r->id == id) {
      *thread = h;
      return true;
    }
    h = r->next;
  }
  return false;
}

StatusCode CreateInterpreterThread(EngineContext* ctx, int32_t stackSize, int32_t library, int32_t n, bool sandbox,
                                   int32_t priority, int32_t* id) {
  if (n < 0 || 3 * (int64_t{n} + 1) > ctx->descLength) return kTooFewArgin;
  const int64_t size = std::max<int64_t>(stackSize, kMinThreadStackBytes);
  const int64_t cells = (size + static_cast<int64_t>(sizeof(ThreadRecord))) / 8 + 1;
  if (cells >= ctx->heapSize) return kHeapFull;
  const int32_t d = static_cast<int32_t>(size / 2 / 8);
  const int32_t clockCells = (ctx->clockStateSize + 7) / 8;
  if (clockCells >= d) return kHeapFull;
  int32_t h = 0;
  if (StatusCode st = AllocateHeapBlock(ctx, static_cast<int32_t>(cells), &h); st != kOk) return st;

  ThreadRecord* r = ThreadRecordAt(ctx, h);
  std::memset(r, 0, sizeof *r);
  r->descCapacity = 2 * d;
  r->dataCapacity = d - clockCells;
  PlaceThreadStacks(ctx, h, r);
  r->priority = priority;

  // The callee and its arguments are copied; the caller keeps them until the
  // call is prepared, so a failure leaves its stacks as they were.
  const int32_t words = 3 * (n + 1);
  const int32_t* fromDesc = ctx->descBase + ctx->descLength - words;
  const Cell* fromData = DataAt(ctx, n);
  const int64_t dataCells = ctx->dataBase + ctx->dataTop - fromData;
  const int32_t creator = ctx->currentThread;

  SwitchInterpreterThread(ctx, h);
  ResetStackRegisters(ctx);
  StatusCode st = kOk;
  if (words + 1 >= ctx->descCapacity) {
    st = kDescStackFull;
  } else if (dataCells >= ctx->dataCapacity) {
    st = kDataStackFull;
  } else {
    std::memcpy(ctx->descBase, fromDesc, words * sizeof(int32_t));
    std::memcpy(ctx->dataBase, fromData, dataCells * sizeof(Cell));
    ctx->descLength = words;
    ctx->dataTop = static_cast<int32_t>(dataCells);
    st = CallFunctionFromArgument(ctx, false, library, n + 1, 0);
  }
  if (st == kOk && sandbox) MarkFrameSandboxed(ctx);
  SwitchInterpreterThread(ctx, creator);
  if (st != kOk) {
    FreeHeapBlock(ctx, h);
    return st;
  }
  ctx->descLength -= words;
  ctx->dataTop -= static_cast<int32_t>(dataCells);

  r = ThreadRecordAt(ctx, h);
  r->next = ctx->threadListHead;
  ctx->threadListHead = h;
  r->id = ctx->nextThreadId++;
  r->sliceUsed = 0;
  r->totalTime = 0;
  r->lastSleep = 0;
  r->wakeTime = kAwake;
  if (HasThreadClock(ctx, r)) ctx->clock(ThreadClockState(ctx, r), 0, 1);
  *id = r->id;
  return kOk;
}

void RebaseThreadRecords(EngineContext* ctx) {
  int32_t h = ctx->threadListHead;
  for (int32_t steps = 0; IsThreadIndex(ctx, h) && steps < ctx->heapSize; ++steps) {
    ThreadRecord* r = ThreadRecordAt(ctx, h);
    if (r->descCapacity < 0 || r->dataCapacity < 0 || r->dataCapacity > r->descCapacity / 2) break;
    PlaceThreadStacks(ctx, h, r);
    // A running thread's stacks are found through the context's pointers.
    if (h == ctx->currentThread) {
      ctx->descBase = AtOffset<int32_t>(ctx, r->descBase);
      ctx->dataBase = AtOffset<Cell>(ctx, r->dataBase);
    }
    h = r->next;
  }
}

void ForgetInterpreterThreads(EngineContext* ctx) {
  SwitchInterpreterThread(ctx, 0);
  ctx->threadListHead = 0;
  ctx->semaphoreTable = -1;
  ctx->semaphoreCapacity = 0;
}

bool ThreadSliceEnded(EngineContext* ctx) {
  if (ctx->threadListHead == 0) return false;
  if (ctx->sliceTest != nullptr) return ctx->sliceTest(ctx->sliceArg);
  if (ctx->clock == nullptr) return ctx->sliceArg != 0;
  const double t = ctx->clock(ctx->clockData, 0, 1);
  if (ThreadRecord* r = GetCurrentThreadRecord(ctx)) {
    r->sliceUsed += t;
    r->totalTime += t;
    return r->sliceUsed > ctx->timeSlice;
  }
  ctx->mainSliceUsed += t;
  return ctx->mainSliceUsed > ctx->timeSlice;
}

bool SwitchThreadAtSliceEnd(EngineContext* ctx) {
  SwitchInterpreterThread(ctx, -1);
  // A thread kept running starts a fresh slice rather than asking again at
  // every instruction.
  if (ThreadRecord* r = GetCurrentThreadRecord(ctx)) r->sliceUsed = 0;
  ctx->mainSliceUsed = ctx->currentThread == 0 ? 0 : ctx->mainSliceUsed;
  if (ctx->pc.space != kNoCode) {
    ctx->sliceArg = ctx->sliceTest == nullptr ? 0 : ctx->sliceArg;
    return true;
  }
  if (ctx->currentThread != 0) SwitchInterpreterThread(ctx, 0);
  return false;
}

// ---------------------------------------------------------------------------
// Semaphores.

int32_t FindFreeSemaphoreSlot(EngineContext* ctx) {
  if (ctx->semaphoreTable <= 0) return -1;
  auto* slots = reinterpret_cast<SemaphoreRecord*>(ctx->heapBase + ctx->semaphoreTable);
  for (int32_t i = 0; i < ctx->semaphoreCapacity; ++i)
    if (slots[i].id == 0) return i;
  return -1;
}

StatusCode GrowSemaphoreTable(EngineContext* ctx) {
  const int32_t old = ctx->semaphoreTable > 0 ? ctx->semaphoreCapacity : 0;
  if (old > ctx->heapSize / 2) return kHeapFull;
  const int32_t capacity = old == 0 ? 8 : 2 * old;
  int32_t h = 0;
  if (StatusCode st = AllocateHeapBlock(ctx, capacity, &h); st != kOk) return st;
  auto* slots = reinterpret_cast<SemaphoreRecord*>(ctx->heapBase + h);
  if (old > 0) {
    std::memcpy(slots, ctx->heapBase + ctx->semaphoreTable, old * sizeof(SemaphoreRecord));
    FreeHeapBlock(ctx, ctx->semaphoreTable);
  }
  for (int32_t i = old; i < capacity; ++i) slots[i] = {0, 0};
  ctx->semaphoreTable = h;
  ctx->semaphoreCapacity = capacity;
  return kOk;
}

SemaphoreRecord* FindSemaphore(EngineContext* ctx, int32_t id) {
  if (id <= 0 || ctx->semaphoreTable <= 0) return nullptr;
  auto* slots = reinterpret_cast<SemaphoreRecord*>(ctx->heapBase + ctx->semaphoreTable);
  for (int32_t i = 0; i < ctx->semaphoreCapacity; ++i)
    if (slots[i].id == id) return &slots[i];
  return nullptr;
}

// ---------------------------------------------------------------------------
// Timing.

void ResetStopwatch() { gStopwatchStart = 0.0; }

void SetStopwatchClock(double (*now)()) { gStopwatchClock = now != nullptr ? now : &MonotonicSeconds; }

StatusCode TicNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin > 0) return kTooManyArgin;
  gStopwatchStart = gStopwatchClock();
  return FinishWithoutResult(ctx, 0, nargout);
}

StatusCode TocNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin > 0) return kTooManyArgin;
  return FinishWithScalar(ctx, 0, nargout, gStopwatchClock() - gStopwatchStart, false);
}

// ---------------------------------------------------------------------------
// The natives of "@thread".

StatusCode ThreadNewNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin < 1) return kTooFewArgin;
  double stackSize = 8192, priority = 0;
  bool sandbox = false;
  int32_t arguments = nargin - 1;
  if (nargin >= 2) {
    const int position = nargin - 2;
    const ValueDescriptor& d = *DescriptorAt(ctx, position);
    const bool empty = IsPlainMatrix(d) && d.cells == 0;
    if (!empty && !IsStructArg(ctx, position)) return kWrongTypeInternal;
    if (StatusCode st = GetRealOption(ctx, position, "StackSize", kThreadOptions, 8192, &stackSize); st != kOk)
      return st;
    if (StatusCode st = GetRealOption(ctx, position, "Priority", kThreadOptions, 0, &priority); st != kOk) return st;
    if (StatusCode st = GetBooleanOption(ctx, position, "Sandbox", kThreadOptions, false, &sandbox); st != kOk)
      return st;
    arguments = nargin - 2;
    // The options go under the function, where a failed creation finds them.
    (void)RotateValues(ctx, arguments + 2, 1);
    (void)RotateValues(ctx, arguments + 1, arguments);
  }
  // Sizes beyond the heap fail as a full heap; NaN counts as no request.
  const int32_t size = stackSize >= INT32_MAX ? INT32_MAX : stackSize > 0 ? static_cast<int32_t>(stackSize) : 0;
  const double level = std::isnan(priority) ? kDefaultPriority : std::trunc(priority) + kDefaultPriority;
  const auto stored = static_cast<int32_t>(std::clamp<double>(level, kLowestPriority, kHighestPriority));
  int32_t id = 0;
  if (StatusCode st = CreateInterpreterThread(ctx, size, GetCurrentLibraryIndex(ctx), arguments, sandbox, stored, &id);
      st != kOk) {
    if (nargin >= 2) {
      (void)RotateValues(ctx, arguments + 1, 1);
      (void)RotateValues(ctx, arguments + 2, arguments + 1);
    }
    return st;
  }
  if (nargin >= 2) PopValue(ctx);
  return nargout != 0 ? PushRealScalar(ctx, id) : kOk;
}

StatusCode ThreadKillNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin != 1) return nargin < 1 ? kTooFewArgin : kTooManyArgin;
  int32_t id = 0, h = 0;
  if (StatusCode st = GetIdArg(ctx, 0, &id); st != kOk) return st;
  if (id <= 0 || !FindThreadById(ctx, id, &h)) return kInvalidID;
  if (StatusCode st = FinishWithoutResult(ctx, nargin, nargout); st != kOk) return st;
  if (h != ctx->currentThread) {
    UnlinkInterpreterThread(ctx, h);
    return kOk;
  }
  // The running thread is still on its own stacks: it has no code left, and
  // the virtual machine removes it at the instruction boundary.
  ctx->pc.space = kNoCode;
  return kOk;
}

StatusCode ThreadSleepNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin < 1 || nargin > 2) return nargin < 1 ? kTooFewArgin : kTooManyArgin;
  // The periodic flag is usually written true: a logical scalar is taken too.
  const bool logicalFlag = nargin == 2 && IsLogicalArg(ctx, 0);
  if (StatusCode st = CheckArgTypes(ctx, nargin, logicalFlag ? "r" : "r[r"); st != kOk) return st;
  double duration = 0, periodic = 0;
  // The types were checked above: the duration and a numeric flag are real scalars.
  (void)GetRealScalarArg(ctx, nargin - 1, &duration);
  if (logicalFlag) {
    uint8_t b = 0;
    if (StatusCode st = GetBooleanArg(ctx, 0, &b); st != kOk) return ReportedStatus(st);
    periodic = b;
  } else if (nargin == 2) {
    (void)GetRealScalarArg(ctx, 0, &periodic);
  }
  if (StatusCode st = FinishWithoutResult(ctx, nargin, nargout); st != kOk) return st;
  ThreadRecord* r = GetCurrentThreadRecord(ctx);
  if (!(duration > 0) || r == nullptr || !HasThreadClock(ctx, r)) return kOk;
  void* state = ThreadClockState(ctx, r);
  if (periodic != 0) {
    r->wakeTime = duration + r->lastSleep - ctx->clock(state, 0, 1);
  } else {
    r->wakeTime = duration;
    ctx->clock(state, 0, 1);
  }
  r->lastSleep = duration;
  return kYield;
}

StatusCode ThreadSetNative(EngineContext* ctx, int nargin, int, void*) {
  return ApplyOptionSet(ctx, nargin, kThreadOptions);
}

StatusCode SemaphoreNewNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin > 0) return kTooManyArgin;
  int32_t slot = FindFreeSemaphoreSlot(ctx);
  if (slot < 0) {
    if (StatusCode st = GrowSemaphoreTable(ctx); st != kOk) return st;
    slot = FindFreeSemaphoreSlot(ctx);
  }
  auto* slots = reinterpret_cast<SemaphoreRecord*>(ctx->heapBase + ctx->semaphoreTable);
  slots[slot] = {++ctx->lastSemaphoreId, 0};
  if (nargout == 0) return kOk;
  if (StatusCode st = PushRealScalar(ctx, slots[slot].id); st != kOk) {
    slots[slot].id = 0;
    return st;
  }
  return kOk;
}

namespace {

// The one argument of the semaphore natives: the id of an existing semaphore.
[[nodiscard]] StatusCode SemaphoreOfArgument(EngineContext* ctx, int nargin, SemaphoreRecord** s) {
  if (nargin != 1) return nargin < 1 ? kTooFewArgin : kTooManyArgin;
  int32_t id = 0;
  if (StatusCode st = GetIdArg(ctx, 0, &id); st != kOk) return st;
  *s = FindSemaphore(ctx, id);
  return *s == nullptr ? kInvalidID : kOk;
}

}  // namespace

StatusCode SemaphoreDeleteNative(EngineContext* ctx, int nargin, int nargout, void*) {
  SemaphoreRecord* s = nullptr;
  if (StatusCode st = SemaphoreOfArgument(ctx, nargin, &s); st != kOk) return st;
  *s = {0, 0};
  return FinishWithoutResult(ctx, nargin, nargout);
}

StatusCode SemaphoreLockNative(EngineContext* ctx, int nargin, int nargout, void*) {
  SemaphoreRecord* s = nullptr;
  if (StatusCode st = SemaphoreOfArgument(ctx, nargin, &s); st != kOk) return st;
  if (s->lockCount <= 0) {
    ++s->lockCount;
    if (nargout < 0) return FinishWithoutResult(ctx, nargin, nargout);
    return FinishWithScalar(ctx, nargin, nargout, 1, true);
  }
  if (nargout >= 1) return FinishWithScalar(ctx, nargin, nargout, 0, true);
  // The argument stays where it is: the instruction runs again later.
  return kWouldBlock;
}

StatusCode SemaphoreUnlockNative(EngineContext* ctx, int nargin, int nargout, void*) {
  SemaphoreRecord* s = nullptr;
  if (StatusCode st = SemaphoreOfArgument(ctx, nargin, &s); st != kOk) return st;
  if (s->lockCount <= 0) return kSemAlrdyUnlocked;
  --s->lockCount;
  return FinishWithoutResult(ctx, nargin, nargout);
}

bool HasInterpreterThreads(const EngineContext* ctx) { return ctx->threadListHead != 0; }

void EndInterpreterThreads(EngineContext* ctx) {
  while (ctx->threadListHead != 0) UnlinkInterpreterThread(ctx, ctx->threadListHead);
}

bool HasCodeToRun(const EngineContext* ctx) { return ctx->currentThread != 0 || ctx->pc.space != kNoCode; }
