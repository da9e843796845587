// Every code position the interpreter threads hold: the running thread's
// frames and the saved program counter and frames of every other thread.
// Program counters and frame words are byte offsets into a code space; a
// frame's name table is a word offset into the code area.
#pragma once

#include <algorithm>
#include <cstdint>

#include "engine/context.h"
#include "engine/heap.h"
#include "engine/threads.h"

namespace held_positions {

// visit(pointer to the word, bytes per code word of its unit: 2 or 1).
template <class Visit>
void VisitFrames(int32_t* stack, int32_t length, int32_t frame, Visit& visit) {
  // Links only go down, so the walk ends; a frame outside the stack ends it.
  while (frame >= 0 && int64_t{frame} + kFrameHeaderWords <= length) {
    auto* f = reinterpret_cast<CallFrame*>(stack + frame);
    if (f->callerSpace == kCodeArea) visit(&f->callerOffset, 2);
    if (f->catchSpace == kCodeArea) visit(&f->catchOffset, 2);
    if (f->suspendSpace == kCodeArea) visit(&f->suspendOffset, 2);
    if (f->nameTable > 0) visit(&f->nameTable, 1);
    if (f->link <= 0) break;
    frame -= f->link;
  }
}

// A saved thread's descriptor stack, or null when its record does not place
// it inside the stacks and the heap.
inline int32_t* SavedStack(EngineContext* ctx, const ThreadRecord* r) {
  const int64_t codeOffset = reinterpret_cast<const char*>(ctx->codeBase) - reinterpret_cast<const char*>(ctx);
  if (r->descBase < static_cast<int64_t>(kContextHeaderBytes) || r->descBase % 4 != 0 || r->descCapacity < 0)
    return nullptr;
  if (r->descBase + 4 * int64_t{r->descCapacity} > codeOffset) return nullptr;
  return reinterpret_cast<int32_t*>(reinterpret_cast<char*>(ctx) + r->descBase);
}

template <class Visit>
void VisitSavedThread(EngineContext* ctx, ThreadRecord* r, Visit& visit) {
  if (r->pcSpace == kCodeArea) visit(&r->pcOffset, 2);
  if (int32_t* stack = SavedStack(ctx, r))
    VisitFrames(stack, std::min(r->descLength, r->descCapacity), r->frameIndex, visit);
}

}  // namespace held_positions

// The running thread's program counter is not among them: the interpreter
// keeps its own pointer while it runs.
template <class Visit>
void ForEachHeldPosition(EngineContext* ctx, Visit visit) {
  using namespace held_positions;
  VisitFrames(ctx->descBase, ctx->descLength, ctx->frameIndex, visit);
  if (ctx->currentThread != 0) VisitSavedThread(ctx, &ctx->mainThread, visit);
  int32_t h = ctx->threadListHead;
  for (int32_t n = 0; h > 0 && h + kThreadRecordCells <= ctx->heapSize && n < ctx->heapSize; ++n) {
    auto* r = reinterpret_cast<ThreadRecord*>(ctx->heapBase + h);
    if (h != ctx->currentThread) VisitSavedThread(ctx, r, visit);
    h = r->next;
  }
}
