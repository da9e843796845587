// The reset to a fresh base frame. It sits above the threads: the threads'
// blocks go with the heap's reset, so they are forgotten first.
#include <algorithm>
#include <cstring>

#include "engine/heap.h"
#include "engine/threads.h"

StatusCode ResetEngineToBaseFrame(EngineContext* ctx) {
  // The reachability pass frees every thread's block and the semaphore table,
  // so nothing may name them after it; the main thread's stacks are reset.
  ForgetInterpreterThreads(ctx);
  if (ctx->descCapacity < kBaseFrameWords) return kDescStackFull;
  MarkReachableHeapBlocks(ctx);
  CallFrame* f = FrameAt(ctx, 0);
  std::memset(f, 0, kBaseFrameWords * sizeof(int32_t));
  f->callerSpace = kBaseFrameMark;
  f->link = -1;
  f->library = -1;
  f->variableCount = 1;
  f->nameCapacity = kBaseFrameNames;
  f->line = -1;
  f->function = -1;
  std::fill(FrameSlots(f), FrameSlots(f) + kBaseFrameNames, -1);
  std::memcpy(FrameNames(f), "ans", 3);
  ctx->frameIndex = 0;
  ForgetScopeFrame(ctx);
  ctx->descLength = kBaseFrameWords;
  return kOk;
}
