// The error path of the interpreter loop and the call trace printed on
// descriptor 2 when an error ends a run: one line per calling frame, and one
// count for each run of recursive calls.
#include "engine/trace.h"

#include "engine/errors.h"
#include "engine/function.h"
#include "engine/heap.h"
#include "engine/threads.h"
#include "engine/vm.h"

namespace {

constexpr StatusCode kSilentCancel = 402;
constexpr int32_t kMaxTraceFrames = 1000000;
constexpr int32_t kInlineFunction = -2;
constexpr int32_t kNoFunction = -1;

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

// Frames of one recursion (same function, same line) are written once, the
// size of the run after them.
struct RecursionRun {
  int32_t function = kNoFunction;
  int32_t line = 0;
  int32_t frames = 0;

  void Close(EngineContext* ctx) {
    if (frames >= 2) {
      (void)WriteNumberToDescriptor(ctx, 2, frames);
      Write(ctx, " recursive calls");
      (void)WriteNewlineToDescriptor(ctx, 2);
    }
    frames = 0;
  }
  void Add(EngineContext* ctx, const CallFrame* f) {
    if (frames > 0 && f->function == function && f->line == line) {
      ++frames;
      return;
    }
    Close(ctx);
    WriteFrameLine(ctx, f);
    function = f->function, line = f->line, frames = 1;
  }
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
  RecursionRun run;
  for (int32_t walked = 0; walked < kMaxTraceFrames; ++walked) {
    if (f->callerSpace == kNoCode || f->link <= 0) break;
    const int32_t below = position - f->link;
    if (below < 0 || below > position - kFrameHeaderWords) break;
    position = below;
    f = FrameAt(ctx, position);
    if (HasLineInformation(ctx, f)) run.Add(ctx, f);
  }
  run.Close(ctx);
}

bool CatchOrReport(EngineContext* ctx, StatusCode code, bool nested) {
  // An assignment cut short leaves its working copies on the stack; they go
  // before the values are unwound, the variables as they were.
  ReleaseDetachedReferences(ctx);
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
