// The error path of the interpreter loop and the call trace printed on
// descriptor 2 when an error ends a run: one line per calling frame, and one
// count for each run of recursive calls.
#include "engine/trace.h"

#include <algorithm>

#include "engine/errors.h"
#include "engine/function.h"
#include "engine/heap.h"
#include "engine/threads.h"
#include "engine/vm.h"

namespace {

constexpr StatusCode kSilentCancel = 402;
constexpr int32_t kMaxTraceFrames = 1000000;
constexpr int32_t kInlineFunction = -2;

// The trace follows a failure: a write that fails has no one left to tell.
void Write(EngineContext* ctx, const char* text, int32_t length = -1) { (void)WriteToDescriptor(ctx, 2, text, length); }

// Whether a frame's header lies whole inside the used descriptor stack.
bool IsFramePosition(const EngineContext* ctx, int32_t position) {
  return position >= 0 && position <= ctx->descLength - kFrameHeaderWords;
}

// A frame that can name its function: an inline function, or a function-store
// entry that exists. Other frames (code fragments, eval) stay out of the trace.
bool HasLineInformation(const EngineContext* ctx, const CallFrame* f) {
  return f->function == kInlineFunction || (f->function >= 0 && f->function < ctx->entriesInUse);
}

// "-> [library/[.]][Class::]name;line".
void WriteFrameLine(EngineContext* ctx, const CallFrame* f) {
  Write(ctx, "-> ");
  if (f->function == kInlineFunction) {
    Write(ctx, "(inline)");
  } else {
    const auto word = static_cast<uint32_t>(FunctionEntryWords(ctx, f->function)[1]);
    const auto library = static_cast<int32_t>(word & kLibraryIndexMask);
    const char* text = nullptr;
    int length = 0;
    if (library != 0 && library < ctx->entriesInUse) {
      GetFunctionNameByIndex(ctx, library, &text, &length);
      Write(ctx, text, length);
      Write(ctx, (word & kLibraryPrivate) != 0 ? "/." : "/");
    }
    if (f->methodClass != 0) {
      Write(ctx, SymbolText(ctx, f->methodClass), SymbolLength(ctx, f->methodClass));
      Write(ctx, "::");
    }
    GetFunctionNameByIndex(ctx, f->function, &text, &length);
    Write(ctx, text, length);
  }
  Write(ctx, ";");
  (void)WriteNumberToDescriptor(ctx, 2, f->line);
  (void)WriteNewlineToDescriptor(ctx, 2);
}

// A recursion, one function calling itself or a cycle of up to kMaxCycle
// functions calling each other, is written once: the frames of one turn, then
// the number of frames of the whole run. A frame is held back until it is
// known not to begin a repetition; the shortest cycle is taken first.
class RecursionFolder {
 public:
  explicit RecursionFolder(EngineContext* ctx) : ctx_(ctx) {}

  void Add(const CallFrame* f) {
    if (period_ > 0) {
      if (SameCall(f, cycle_[phase_])) {
        if (++phase_ == period_) phase_ = 0;
        ++frames_;
        return;
      }
      // The turn broken off part way was never written: it goes through
      // again, ahead of this frame.
      const CallFrame* partial[kMaxCycle];
      const int32_t count = phase_;
      for (int32_t k = 0; k < count; ++k) partial[k] = cycle_[k];
      CloseRun();
      for (int32_t k = 0; k < count; ++k) Hold(partial[k]);
    }
    Hold(f);
  }

  void Finish() {
    CloseRun();
    for (int32_t k = 0; k < held_; ++k) WriteFrameLine(ctx_, pending_[k]);
    held_ = 0;
  }

 private:
  static constexpr int32_t kMaxCycle = 8;

  static bool SameCall(const CallFrame* a, const CallFrame* b) {
    return a->function == b->function && a->line == b->line;
  }

  void Hold(const CallFrame* f) {
    if (held_ == 2 * kMaxCycle) {
      WriteFrameLine(ctx_, pending_[0]);
      std::copy(pending_ + 1, pending_ + held_, pending_);
      --held_;
    }
    pending_[held_++] = f;
    for (int32_t p = 1; 2 * p <= held_; ++p) {
      const CallFrame* const* second = pending_ + held_ - p;
      const CallFrame* const* first = second - p;
      bool repeats = true;
      for (int32_t k = 0; k < p && repeats; ++k) repeats = SameCall(first[k], second[k]);
      if (!repeats) continue;
      // Everything up to the first turn is written; the second is counted.
      for (const CallFrame* const* q = pending_; q < second; ++q) WriteFrameLine(ctx_, *q);
      std::copy(first, second, cycle_);
      period_ = p;
      phase_ = 0;
      frames_ = 2 * p;
      held_ = 0;
      return;
    }
  }

  void CloseRun() {
    if (period_ > 0) {
      (void)WriteNumberToDescriptor(ctx_, 2, frames_ - phase_);
      Write(ctx_, " recursive calls");
      (void)WriteNewlineToDescriptor(ctx_, 2);
    }
    period_ = 0;
    phase_ = 0;
    frames_ = 0;
  }

  EngineContext* ctx_;
  const CallFrame* pending_[2 * kMaxCycle] = {};
  int32_t held_ = 0;
  const CallFrame* cycle_[kMaxCycle] = {};
  int32_t period_ = 0;  // 0: no run open
  int32_t phase_ = 0;   // frames of the current turn matched so far
  int32_t frames_ = 0;  // frames of the run in whole turns and the current one
};

// The thread the error happened in is removed; the main thread runs on.
void EndErroredThread(EngineContext* ctx, StatusCode code) {
  if (ctx->currentThread == 0) return;
  if (code != kOk && code != kSuspended && code != kWouldBlock)
    UnlinkInterpreterThread(ctx, ctx->currentThread);
  else
    SwitchInterpreterThread(ctx, 0);
}

}  // namespace

void PrintErrorTrace(EngineContext* ctx, StatusCode code) {
  (void)PrintError(ctx, code, false);
  int32_t position = ctx->frameIndex;
  if (!IsFramePosition(ctx, position)) return;
  const CallFrame* f = FrameAt(ctx, position);
  if (f->link < 0 || IsBaseFrame(f)) return;

  // The links are only trusted as far as they lead downward inside the
  // stack: a damaged chain ends the trace instead of looping or reading
  // outside it.
  RecursionFolder run(ctx);
  for (int32_t walked = 0; walked < kMaxTraceFrames; ++walked) {
    if (f->callerSpace == kNoCode || f->link <= 0) break;
    const int32_t below = position - f->link;
    if (below < 0 || below > position - kFrameHeaderWords) break;
    position = below;
    f = FrameAt(ctx, position);
    if (HasLineInformation(ctx, f)) run.Add(f);
  }
  run.Finish();
}

bool CatchOrReport(EngineContext* ctx, StatusCode code, bool nested) {
  // An assignment cut short leaves its working copies on the stack; they go
  // before the values are unwound, the variables as they were.
  ReleaseDetachedReferences(ctx);
  // A nested run belongs to the instruction that started it: the error is
  // that instruction's, caught or reported when it fails, and no try of the
  // code around it may take over the nested loop.
  if (nested) {
    ctx->pc.space = kNoCode;
    return false;
  }
  if (ctx->currentErrorRecord <= 0) {
    // The text is built with the location, so storing it adds none; the
    // location the store records again from the frames is put back.
    char text[kErrorTextBytes];
    int64_t length = 0;
    GetLastErrorText(ctx, code, true, text, sizeof text, &length);
    const int32_t function = ctx->errorFunction, position = ctx->errorPosition;
    // Without heap room the code alone reports the error.
    (void)StoreLastErrorMessage(ctx, code, text, length, false, nullptr);
    ctx->errorFunction = function, ctx->errorPosition = position;
  }
  MoveErrorToLastError(ctx);
  // A break stops the program even inside try; sandboxed code cannot hide a
  // security refusal.
  const bool security = code == kSecViolation || code == kSecViolationGlobal;
  if (code != kHalted && UnwindToCatch(ctx, security, &ctx->pc)) return true;

  ctx->pc.space = kNoCode;
  if (code != kSilentCancel) PrintErrorTrace(ctx, code);
  // A nested run belongs to an instruction of the running thread, which
  // goes on after it.
  if (!nested) EndErroredThread(ctx, code);
  return false;
}
