// Interpreter threads on a fake clock: the scheduler's weighted choice,
// creation, kill and self-kill, sleeping, the time slice, semaphores with
// their waits, rebasing of thread records, and the tic/toc stopwatch.
#include "engine/threads.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "corelib/corelib.h"
#include "engine/heap.h"
#include "engine/values/valuestack.h"
#include "engine/vm.h"
#include "tests/engine/stack_fixture.h"

namespace {

// The fake clock: every state holds the time of its last reset.
double gNow = 0;
double gStep = 0;  // added at every reading, so that code seems to take time

double FakeClock(void* state, int, int reset) {
  gNow += gStep;
  auto* last = static_cast<double*>(state);
  const double elapsed = gNow - *last;
  if (reset != 0) *last = gNow;
  return elapsed;
}

struct Output {
  std::string out, err;
};

[[nodiscard]] StatusCode WriteBoth(EngineContext*, int32_t descriptor, const char* bytes, int32_t length, void* data) {
  auto* o = static_cast<Output*>(data);
  if (descriptor != 1 && descriptor != 2) return kBadFileId;
  if (length < 0) length = static_cast<int32_t>(std::strlen(bytes));
  (descriptor == 1 ? o->out : o->err).append(bytes, length);
  return kOk;
}

NativeFunctionRecord Record(NativeHandler handler, const char* name, uint8_t maxInputs, uint8_t maxOutputs) {
  NativeFunctionRecord r{};
  r.handler = handler;
  std::strncpy(r.name, name, sizeof r.name - 1);
  r.maxInputs = maxInputs;
  r.maxOutputs = maxOutputs;
  return r;
}

class ThreadsTest : public StackFixture {
 protected:
  ThreadsTest() : StackFixture({.blockCells = 512 * 1024, .messages = true}) {}

  void SetUp() override {
    Reset();
    gNow = 0;
    gStep = 0;
    hook[0] = Record(AsNativeHandler(&WriteBoth), "+write", 0, 0);
    hook[0].userData = &output;
    hook[0].minInputs = 1;
    ASSERT_EQ(InstallNativeLibrary(ctx, hook, false), kOk);
    ASSERT_EQ(InstallNativeLibrary(ctx, natives, false), kOk);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    SetLineInfoFlag(ctx, 1);
    SetTimeCallback(ctx, &FakeClock, clockStates, sizeof(double));
  }

  // Compiles and runs a command line, then resumes whatever is left (the
  // main thread's suspended code, interpreter threads) as a host would,
  // advancing the clock by 10 ms between runs. The first error is the result.
  StatusCode Command(const std::string& text, int maxRuns = 1000) {
    StatusCode st = EvaluateCommandLine(ctx, text.data(), static_cast<int32_t>(text.size()), true);
    if (st != kSuspended) return st;
    StatusCode result = kOk;
    for (runs = 0; runs < maxRuns; ++runs) {
      st = RunInterpreter(ctx, 0);
      if (st != kOk && st != kSuspended && result == kOk) result = st;
      if (st != kSuspended && ctx->threadListHead == 0 && ctx->pc.space == kNoCode) return result;
      gNow += 0.01;
    }
    return result != kOk ? result : kSuspended;
  }

  // A thread running native `tic` (any callee will do: only its record counts).
  int32_t NewThread(int32_t priority) {
    EXPECT_EQ(PushStringFromBytes(ctx, -1, "tic"), kOk);
    int32_t id = 0;
    EXPECT_EQ(CreateInterpreterThread(ctx, 1024, 0, 0, false, priority, &id), kOk);
    int32_t h = 0;
    EXPECT_TRUE(FindThreadById(ctx, id, &h));
    return h;
  }

  int32_t HeapCellsInUse() {
    int32_t used = 0;
    for (int32_t at = 0; at < ctx->heapSize;) {
      const uint32_t header = *reinterpret_cast<const uint32_t*>(ctx->heapBase + at);
      const int32_t cells = static_cast<int32_t>(header & kHeapCountMask);
      // The error being raised is not the operation's leftover.
      if ((header & kHeapInUse) != 0 && at + 1 != ctx->currentErrorRecord) used += cells + 1;
      at += cells + 1;
    }
    return used;
  }

  Output output;
  double clockStates[2] = {0, 0};
  int runs = 0;
  NativeFunctionRecord hook[2] = {};
  NativeFunctionRecord natives[12] = {
      Record(nullptr, "@thread", 0, 0),
      Record(&ThreadNewNative, "threadnew", kAnyCount, 1),
      Record(&ThreadKillNative, "threadkill", 1, 0),
      Record(&ThreadSleepNative, "threadsleep", 2, 0),
      Record(&ThreadSetNative, "threadset", kAnyCount, 1),
      Record(&SemaphoreNewNative, "semaphorenew", 0, 1),
      Record(&SemaphoreDeleteNative, "semaphoredelete", 1, 0),
      Record(&SemaphoreLockNative, "semaphorelock", 1, 1),
      Record(&SemaphoreUnlockNative, "semaphoreunlock", 1, 0),
      Record(&TicNative, "tic", 0, 0),
      Record(&TocNative, "toc", 0, 1),
      {},
  };
};

// ---------------------------------------------------------------------------
// The scheduler.

TEST_F(ThreadsTest, WeightedChoiceGivesThePriorityCounts) {
  const int32_t low = NewThread(1), middle = NewThread(21), high = NewThread(41);
  std::map<int32_t, int> picks;
  for (int k = 0; k < 300; ++k) {
    SwitchInterpreterThread(ctx, -1);
    ++picks[ctx->currentThread];
  }
  EXPECT_EQ(picks[0], 1);
  EXPECT_EQ(picks[high], 143);
  EXPECT_EQ(picks[middle], 143);
  EXPECT_EQ(picks[low], 13);
  SwitchInterpreterThread(ctx, 0);
}

TEST_F(ThreadsTest, EqualThreadsAlternateAndTheNewerWinsATie) {
  const int32_t older = NewThread(1), newer = NewThread(41);
  std::vector<int32_t> order;
  for (int k = 0; k < 5; ++k)
    order.push_back(SwitchInterpreterThread(ctx, -1) == &ctx->mainThread ? 0 : ctx->currentThread);
  // Main first (all counters 0), then the two alternate whatever their priorities.
  EXPECT_EQ(order, (std::vector<int32_t>{0, newer, older, newer, older}));
  SwitchInterpreterThread(ctx, 0);

  // Two fresh threads of equal counters: the one nearer the head wins.
  Reset();
  SetUp();
  const int32_t first = NewThread(21), second = NewThread(21);
  SwitchInterpreterThread(ctx, -1);  // main; both counters grow to 21
  SwitchInterpreterThread(ctx, -1);
  EXPECT_EQ(ctx->currentThread, second);
  EXPECT_NE(first, second);
  SwitchInterpreterThread(ctx, 0);
}

TEST_F(ThreadsTest, SwitchingKeepsEachThreadsRegisters) {
  const int32_t h = NewThread(21);
  const int32_t mainLength = ctx->descLength;
  ASSERT_EQ(PushRealScalar(ctx, 5), kOk);
  SwitchInterpreterThread(ctx, h);
  EXPECT_EQ(GetCurrentThreadRecord(ctx), ThreadRecordAt(ctx, h));
  EXPECT_EQ(ctx->pc.space, kDataStackCode);  // the trampoline of its native callee
  const int32_t threadLength = ctx->descLength;
  ASSERT_EQ(PushRealScalar(ctx, 7), kOk);
  SwitchInterpreterThread(ctx, 0);
  EXPECT_EQ(GetCurrentThreadRecord(ctx), nullptr);
  EXPECT_EQ(ctx->descLength, mainLength + 3);
  EXPECT_EQ(TopScalar(), 5);
  SwitchInterpreterThread(ctx, h);
  EXPECT_EQ(ctx->descLength, threadLength + 3);
  EXPECT_EQ(TopScalar(), 7);
  SwitchInterpreterThread(ctx, 0);
}

TEST_F(ThreadsTest, SwitchingKeepsEachThreadsWholeFailingName) {
  // The longest "class::method": two names of 32 characters.
  const std::string mainName = std::string(32, 'a') + "::" + std::string(32, 'b');
  const std::string threadName = std::string(32, 'c') + "::" + std::string(31, 'd');
  const int32_t h = NewThread(21);
  std::strcpy(ctx->failingName, mainName.c_str());
  SwitchInterpreterThread(ctx, h);
  EXPECT_STREQ(ctx->failingName, "");
  std::strcpy(ctx->failingName, threadName.c_str());
  SwitchInterpreterThread(ctx, 0);
  EXPECT_EQ(ctx->failingName, mainName);
  SwitchInterpreterThread(ctx, h);
  EXPECT_EQ(ctx->failingName, threadName);
  SwitchInterpreterThread(ctx, 0);
}

TEST_F(ThreadsTest, ASleepingThreadIsPassedOverUntilItsWakeTime) {
  const int32_t h = NewThread(21);
  ThreadRecord* r = ThreadRecordAt(ctx, h);
  // Asleep for 0.5 s on its own clock, counted from now.
  FakeClock(reinterpret_cast<char*>(ctx) + r->clockState, 0, 1);
  r->wakeTime = 0.5;
  for (int k = 0; k < 3; ++k) EXPECT_EQ(SwitchInterpreterThread(ctx, -1), &ctx->mainThread);
  gNow += 0.5;
  SwitchInterpreterThread(ctx, -1);
  EXPECT_EQ(ctx->currentThread, h);
  EXPECT_EQ(ThreadRecordAt(ctx, h)->wakeTime, -1);
  SwitchInterpreterThread(ctx, 0);
}

TEST_F(ThreadsTest, CreationFailuresLeaveTheCallerAsItWas) {
  // A callee that names nothing, and a stack larger than the heap.
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "nosuchfunction"), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
  const Snapshot before = Take();
  const int32_t used = HeapCellsInUse();
  int32_t id = 0;
  EXPECT_NE(CreateInterpreterThread(ctx, 4096, 0, 1, false, 21, &id), kOk);
  EXPECT_EQ(CreateInterpreterThread(ctx, 1 << 30, 0, 1, false, 21, &id), kHeapFull);
  EXPECT_TRUE(Take() == before);
  EXPECT_EQ(HeapCellsInUse(), used);
  EXPECT_EQ(ctx->threadListHead, 0);
  EXPECT_EQ(ctx->currentThread, 0);
  EXPECT_EQ(ctx->nextThreadId, 1);
}

// ---------------------------------------------------------------------------
// Threads running language code.

TEST_F(ThreadsTest, ThreadsRunAfterTheCommandAndEndOnTheirOwn) {
  EXPECT_EQ(Command("function w(name, n)\nfor k = 1:n\ndisp(name)\nthreadsleep(0.02)\nend\nendfunction\n"
                    "a = threadnew('w', [], 'a', 2); b = threadnew(@w, [], 'b', 2); disp('main')"),
            kOk)
      << output.err;
  EXPECT_EQ(output.out, "main\nb\na\nb\na\n");
  EXPECT_EQ(ctx->threadListHead, 0);
  EXPECT_EQ(ctx->currentThread, 0);
  EXPECT_EQ(ctx->nextThreadId, 3);
}

// Each thread draws from its own generator, started at {0, 1}, however the
// draws interleave; the main thread's state stays its own.
TEST_F(ThreadsTest, EachThreadDrawsItsOwnStreamFromTheStart) {
  RandomGeneratorState s = {0, 1};
  const double x = StepRandomGenerator(&s);
  const double y = StepRandomGenerator(&s);
  char program[512];
  std::snprintf(program, sizeof program,
                "function w(x, y)\ndisp(double(rand == x))\nthreadsleep(0.02)\ndisp(double(rand == y))\n"
                "endfunction\nrand; rand; threadnew('w', [], %.17g, %.17g); threadnew('w', [], %.17g, %.17g);",
                x, y, x, y);
  EXPECT_EQ(Command(program), kOk) << output.err;
  EXPECT_EQ(output.out, "         1\n         1\n         1\n         1\n");
  EXPECT_EQ(ctx->uniformRandom.a, s.a);
  EXPECT_EQ(ctx->uniformRandom.b, s.b);
}

TEST_F(ThreadsTest, TheTimeSliceInterleavesThreadsThatNeverSleep) {
  const std::string program =
      "function w(name)\nfor k = 1:3\ndisp(name)\nend\nendfunction\n"
      "threadnew('w', [], 'a'); threadnew('w', [], 'b');";
  // Without a clock nothing ends a slice: each thread runs to its end.
  SetTimeCallback(ctx, nullptr, nullptr, 0);
  EXPECT_EQ(Command(program), kOk) << output.err;
  EXPECT_EQ(output.out, "b\nb\nb\na\na\na\n");

  // Every clock reading takes longer than a slice, so every check ends one;
  // the scheduler's weighted choice among the threads then gives this order.
  output = {};
  SetTimeCallback(ctx, &FakeClock, clockStates, sizeof(double));
  gStep = 0.06;
  EXPECT_EQ(Command(program), kOk) << output.err;
  EXPECT_EQ(output.out, "a\na\nb\na\nb\nb\n");
  EXPECT_EQ(ctx->threadListHead, 0);
}

TEST_F(ThreadsTest, PeriodicSleepKeepsWakeUpsOneDurationApart) {
  const int32_t h = NewThread(21);
  SwitchInterpreterThread(ctx, h);
  ThreadRecord* r = GetCurrentThreadRecord(ctx);
  void* state = reinterpret_cast<char*>(ctx) + r->clockState;
  FakeClock(state, 0, 1);
  const int32_t length = ctx->descLength;
  auto sleep = [&](double duration, bool periodic) {
    EXPECT_EQ(PushRealScalar(ctx, duration), kOk);
    if (periodic) {
      EXPECT_EQ(PushLogicalScalar(ctx, 1), kOk);
    }
    return ThreadSleepNative(ctx, periodic ? 2 : 1, 0, nullptr);
  };
  EXPECT_EQ(sleep(0.1, false), kYield);
  EXPECT_EQ(ctx->descLength, length);
  EXPECT_DOUBLE_EQ(r->wakeTime, 0.1);
  // Woken 0.13 s after the first sleep began (0.03 late), then 0.02 s of work:
  // the next wake-up is due 0.2 s after the first sleep began.
  gNow += 0.15;
  EXPECT_EQ(sleep(0.1, true), kYield);
  EXPECT_DOUBLE_EQ(r->wakeTime, 0.05);
  EXPECT_DOUBLE_EQ(r->lastSleep, 0.1);
  EXPECT_EQ(sleep(0, true), kOk);
  SwitchInterpreterThread(ctx, 0);
  // The main thread never sleeps.
  EXPECT_EQ(sleep(5, false), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "x"), kOk);
  EXPECT_EQ(ThreadSleepNative(ctx, 1, 0, nullptr), kWrongType);
}

TEST_F(ThreadsTest, AThreadMadeBeforeTheClockKeepsNoTime) {
  // Its block has no room for a clock state: a clock reading there would
  // overwrite its data stack, where its callee's trampoline lives.
  SetTimeCallback(ctx, nullptr, nullptr, 0);
  const int32_t h = NewThread(21);
  SetTimeCallback(ctx, &FakeClock, clockStates, sizeof(double));
  SwitchInterpreterThread(ctx, h);
  const Snapshot before = Take();
  ASSERT_EQ(PushRealScalar(ctx, 0.5), kOk);
  EXPECT_EQ(ThreadSleepNative(ctx, 1, 0, nullptr), kOk);
  EXPECT_TRUE(Take() == before);
  SwitchInterpreterThread(ctx, 0);
}

TEST_F(ThreadsTest, KillUnwindsTheVictimsFramesAndRefusesBadIds) {
  const int32_t used = HeapCellsInUse();
  // The victim holds a variable and sleeps for ever.
  EXPECT_EQ(Command("function w()\nbig = '" + std::string(800, 'a') + "';\nthreadsleep(1e9)\nendfunction\n" +
                        "id = threadnew('w');",
                    3),
            kSuspended);
  ASSERT_NE(ctx->threadListHead, 0);
  output = {};
  EXPECT_EQ(Command("threadkill(id)"), kOk) << output.err;
  EXPECT_EQ(ctx->threadListHead, 0);
  // Only the base frame's own variables remain.
  EXPECT_LT(HeapCellsInUse() - used, 200);

  struct Case {
    const char* text;
    const char* error;
  };
  const Case kCases[] = {
      {"threadkill(0)", "Invalid ID"},
      {"threadkill(id)", "Invalid ID"},
      {"threadkill(1.5)", "Invalid ID"},
      {"threadnew('w', 3)", "Wrong type"},
  };
  for (const Case& c : kCases) {
    output = {};
    EXPECT_NE(Command(c.text), kOk) << c.text;
    EXPECT_NE(output.err.find(c.error), std::string::npos) << c.text << ": " << output.err;
  }
}

TEST_F(ThreadsTest, AThreadThatKillsItselfEndsAtOnce) {
  const int32_t used = HeapCellsInUse();
  EXPECT_EQ(Command("function w()\nx = 1;\ndisp('before')\nthreadkill(1)\ndisp('after')\nendfunction\n"
                    "threadnew('w'); disp('main')"),
            kOk)
      << output.err;
  EXPECT_EQ(output.out, "main\nbefore\n");
  EXPECT_EQ(ctx->threadListHead, 0);
  EXPECT_EQ(ctx->currentThread, 0);
  EXPECT_LT(HeapCellsInUse() - used, 40);
}

TEST_F(ThreadsTest, AThreadKillingItselfWhileTheMainThreadRunsLeavesTheMainThreadWhole) {
  // Every clock reading ends a slice: the main thread's loop is interrupted
  // by the thread, which ends itself in the middle.
  gStep = 0.06;
  EXPECT_EQ(Command("function w()\ndisp('before')\nthreadkill(1)\ndisp('after')\nendfunction\n"
                    "threadnew('w'); total = 0;\nfor k = 1:6\ntotal = total + k;\nend\ndisp(total)"),
            kOk)
      << output.err;
  EXPECT_EQ(output.out, "before\n        21\n");
  EXPECT_EQ(ctx->threadListHead, 0);
  EXPECT_EQ(ctx->currentThread, 0);
  // Nothing of the thread's call was taken off the main thread's stacks.
  EXPECT_EQ(ctx->frameIndex, 0);
  EXPECT_EQ(ctx->descLength, FrameExtent(FrameAt(ctx, 0)));
}

TEST_F(ThreadsTest, AnErrorEndsOnlyTheThreadItHappenedIn) {
  gStep = 0.06;
  EXPECT_NE(Command("function w()\ndisp('thread')\nerror('thread failed');\nendfunction\n"
                    "threadnew('w'); total = 0;\nfor k = 1:6\ntotal = total + k;\nend\ndisp(total)"),
            kOk);
  EXPECT_EQ(output.out, "thread\n        21\n");
  EXPECT_NE(output.err.find("thread failed"), std::string::npos) << output.err;
  EXPECT_EQ(ctx->threadListHead, 0);
  EXPECT_EQ(ctx->currentThread, 0);
}

TEST_F(ThreadsTest, ForgettingThreadsBringsTheMainThreadBack) {
  const int32_t mainLength = ctx->descLength;
  const int32_t h = NewThread(21);
  ASSERT_EQ(SemaphoreNewNative(ctx, 0, 0, nullptr), kOk);
  SwitchInterpreterThread(ctx, h);
  ForgetInterpreterThreads(ctx);
  EXPECT_EQ(ctx->currentThread, 0);
  EXPECT_EQ(ctx->descLength, mainLength);
  EXPECT_EQ(ctx->threadListHead, 0);
  EXPECT_EQ(FindSemaphore(ctx, 1), nullptr);
  ASSERT_EQ(SemaphoreNewNative(ctx, 0, 1, nullptr), kOk);
  EXPECT_EQ(TopScalar(), 2);
}

// A reset keeps only globals in the heap: the thread list must not keep
// naming freed blocks, or the next allocation would reuse a live record.
TEST_F(ThreadsTest, ResetToTheBaseFrameEndsEveryThread) {
  const int32_t h = NewThread(21);
  ASSERT_EQ(SemaphoreNewNative(ctx, 0, 0, nullptr), kOk);
  SwitchInterpreterThread(ctx, h);
  ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  EXPECT_EQ(ctx->currentThread, 0);
  EXPECT_EQ(ctx->threadListHead, 0);
  EXPECT_EQ(ctx->semaphoreTable, -1);
  int32_t found = -1;
  EXPECT_FALSE(FindThreadById(ctx, 1, &found));
}

TEST_F(ThreadsTest, OptionsSetPriorityStackAndSandbox) {
  struct Case {
    const char* options;
    int32_t priority;
    int32_t descCapacity;
    int32_t sandboxed;
  };
  const Case kCases[] = {
      {"[]", 21, 2 * 512, 0},
      {"threadset('Priority', 5)", 26, 2 * 512, 0},
      {"threadset('Priority', 30)", 41, 2 * 512, 0},
      {"threadset('Priority', -30)", 1, 2 * 512, 0},
      {"threadset('StackSize', 100)", 21, 2 * 64, 0},
      {"threadset('StackSize', 20000.7)", 21, 2 * 1250, 0},
      {"threadset('Sandbox', true, 'Priority', NaN)", 21, 2 * 512, 1},
  };
  for (const Case& c : kCases) {
    Reset();
    SetUp();
    const std::string text = std::string("threadnew('threadsleep', ") + c.options + ", 1e9);";
    EXPECT_EQ(EvaluateCommandLine(ctx, text.data(), static_cast<int32_t>(text.size()), true), kSuspended);
    EXPECT_EQ(RunInterpreter(ctx, 0), kOk) << output.err;
    ASSERT_NE(ctx->threadListHead, 0) << c.options;
    const ThreadRecord* r = ThreadRecordAt(ctx, ctx->threadListHead);
    EXPECT_EQ(r->priority, c.priority) << c.options;
    EXPECT_EQ(r->descCapacity, c.descCapacity) << c.options;
    EXPECT_EQ(r->dataCapacity, c.descCapacity / 2 - 1) << c.options;
    EXPECT_EQ(r->wakeTime, -1) << c.options;
    SwitchInterpreterThread(ctx, ctx->threadListHead);
    EXPECT_EQ(CurrentFrame(ctx)->sandboxed, c.sandboxed) << c.options;
    SwitchInterpreterThread(ctx, 0);
  }
}

TEST_F(ThreadsTest, ThreadsetListsTheVisibleOptions) {
  output = {};
  EXPECT_EQ(Command("s = threadset()"), kOk) << output.err;
  EXPECT_EQ(output.out.find("Running"), std::string::npos) << output.out;
  EXPECT_NE(output.out.find("StackSize"), std::string::npos) << output.out;
}

// ---------------------------------------------------------------------------
// Semaphores.

TEST_F(ThreadsTest, SemaphoreTableGrowsAndIdsOnlyGrow) {
  for (int k = 1; k <= 9; ++k) {
    ASSERT_EQ(SemaphoreNewNative(ctx, 0, 1, nullptr), kOk);
    EXPECT_EQ(TopScalar(), k);
    PopValue(ctx);
    EXPECT_EQ(ctx->semaphoreCapacity, k <= 8 ? 8 : 16);
  }
  ASSERT_EQ(PushRealScalar(ctx, 4), kOk);
  ASSERT_EQ(SemaphoreDeleteNative(ctx, 1, 0, nullptr), kOk);
  EXPECT_EQ(FindSemaphore(ctx, 4), nullptr);
  ASSERT_EQ(SemaphoreNewNative(ctx, 0, 1, nullptr), kOk);
  EXPECT_EQ(TopScalar(), 10);  // the freed slot, a new id
  PopValue(ctx);
  EXPECT_EQ(ctx->semaphoreCapacity, 16);
  EXPECT_NE(FindSemaphore(ctx, 9), nullptr);
}

TEST_F(ThreadsTest, LockAndUnlock) {
  ASSERT_EQ(SemaphoreNewNative(ctx, 0, 1, nullptr), kOk);  // id 1 stays on the stack
  auto call = [&](NativeHandler native, double id, int nargout) {
    EXPECT_EQ(PushRealScalar(ctx, id), kOk);
    return native(ctx, 1, nargout, nullptr);
  };
  EXPECT_EQ(call(SemaphoreLockNative, 1, 1), kOk);
  EXPECT_EQ(Top().kind, kBoxed);  // true
  PopValue(ctx);
  // Held: false without waiting with one output; a wait (502) without one,
  // the argument left in place for the retry.
  EXPECT_EQ(call(SemaphoreLockNative, 1, 1), kOk);
  uint8_t b = 1;
  EXPECT_EQ(GetBooleanArg(ctx, 0, &b), kOk);
  EXPECT_EQ(b, 0);
  PopValue(ctx);
  const int32_t length = ctx->descLength;
  EXPECT_EQ(call(SemaphoreLockNative, 1, 0), kWouldBlock);
  EXPECT_EQ(ctx->descLength, length + 3);
  EXPECT_EQ(TopScalar(), 1);
  PopValue(ctx);
  EXPECT_EQ(call(SemaphoreUnlockNative, 1, 0), kOk);
  EXPECT_EQ(call(SemaphoreUnlockNative, 1, 0), kSemAlrdyUnlocked);
  PopValue(ctx);
  EXPECT_EQ(call(SemaphoreLockNative, 1, -1), kOk);
  EXPECT_EQ(Top().kind, kVoid);
  PopValue(ctx);
  for (NativeHandler native : {SemaphoreLockNative, SemaphoreUnlockNative, SemaphoreDeleteNative}) {
    EXPECT_EQ(call(native, 7, 0), kInvalidID);
    PopValue(ctx);
  }
}

TEST_F(ThreadsTest, AWaitingThreadRetriesUntilTheMainThreadUnlocks) {
  EXPECT_EQ(Command("function w(s)\nsemaphorelock(s);\ndisp('thread has it')\nsemaphoreunlock(s);\nendfunction\n"
                    "s = semaphorenew(); semaphorelock(s); threadnew('w', [], s);",
                    20),
            kSuspended);
  EXPECT_EQ(output.out, "");
  ASSERT_NE(ctx->threadListHead, 0);
  EXPECT_EQ(ctx->currentThread, 0);
  EXPECT_EQ(Command("disp('unlocking'); semaphoreunlock(s);"), kOk) << output.err;
  EXPECT_EQ(output.out, "unlocking\nthread has it\n");
  EXPECT_EQ(ctx->threadListHead, 0);
}

TEST_F(ThreadsTest, TheMainThreadWaitsForAThreadsSemaphore) {
  EXPECT_EQ(Command("function w(s)\nsemaphorelock(s);\ndisp('thread locked')\nthreadsleep(0.05)\n"
                    "disp('thread unlocks')\nsemaphoreunlock(s);\nendfunction\n"
                    "s = semaphorenew(); threadnew('w', [], s);",
                    3),
            kSuspended);
  EXPECT_EQ(output.out, "thread locked\n");
  // Held by the sleeping thread: the main thread's lock runs again until it
  // gets the semaphore.
  EXPECT_EQ(Command("semaphorelock(s); disp('main locked')"), kOk) << output.err;
  EXPECT_EQ(output.out, "thread locked\nthread unlocks\nmain locked\n");
}

// ---------------------------------------------------------------------------
// Moves of the heap, and the stopwatch.

TEST_F(ThreadsTest, RebasingFindsEveryThreadsStacksFromItsHeapIndex) {
  const int32_t a = NewThread(21), b = NewThread(21);
  const ThreadRecord before[2] = {*ThreadRecordAt(ctx, a), *ThreadRecordAt(ctx, b)};
  for (int32_t h : {a, b}) {
    ThreadRecord* r = ThreadRecordAt(ctx, h);
    r->descBase = r->dataBase = r->clockState = 0;
  }
  RebaseThreadRecords(ctx);
  for (int k = 0; k < 2; ++k) {
    const ThreadRecord* r = ThreadRecordAt(ctx, k == 0 ? a : b);
    EXPECT_EQ(r->descBase, before[k].descBase);
    EXPECT_EQ(r->dataBase, before[k].dataBase);
    EXPECT_EQ(r->clockState, before[k].clockState);
    // The layout: the record, the clock state, the data stack, the descriptors.
    const int32_t record =
        static_cast<int32_t>(reinterpret_cast<char*>(ctx->heapBase + (k == 0 ? a : b)) - reinterpret_cast<char*>(ctx));
    EXPECT_EQ(r->clockState, record + 192);
    EXPECT_EQ(r->dataBase, record + 200);
    EXPECT_EQ(r->descBase, record + 192 + 4 * r->descCapacity);
  }
}

double gStopwatch = 0;
double FakeStopwatch() { return gStopwatch; }

TEST_F(ThreadsTest, TicTocMeasuresOnTheStopwatchClock) {
  SetStopwatchClock(&FakeStopwatch);
  ResetStopwatch();
  gStopwatch = 100;
  EXPECT_EQ(TicNative(ctx, 0, 0, nullptr), kOk);
  gStopwatch = 102.5;
  ASSERT_EQ(TocNative(ctx, 0, 1, nullptr), kOk);
  EXPECT_EQ(TopScalar(), 2.5);
  EXPECT_EQ(TicNative(ctx, 0, -1, nullptr), kOk);
  EXPECT_EQ(Top().kind, kVoid);
  SetStopwatchClock(nullptr);
  ResetStopwatch();
}

}  // namespace
