// The debugger: the breakpoint list, the frames' step states, resuming code
// stopped at a line, the interrupt and echo settings, and the natives of the
// "@debug" library that a host offers while code is stopped.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "engine/errors.h"
#include "engine/frames.h"
#include "engine/heap.h"
#include "engine/libraries.h"
#include "engine/resolution.h"
#include "engine/values/textformat.h"

namespace {

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The breakpoint list grows by this many {function, line} cells at a time.
constexpr int32_t kBreakpointStep = 8;

// The frame stopped in the debugger: the innermost one holding a suspended
// position, or null.
CallFrame* StoppedFrame(EngineContext* ctx) {
  for (CallFrame* f = CurrentFrame(ctx); f != nullptr; f = PreviousFrame(ctx, f))
    if (f->suspendSpace != 0) return f;
  return nullptr;
}

// A name argument as a NUL-terminated text; too long a name names nothing.
[[nodiscard]] StatusCode NameArg(EngineContext* ctx, int position, char (&name)[kMaxFunctionName * 3 + 3],
                                 int* length) {
  int64_t n = 0;
  const StatusCode st = CopyStringArgToBuffer(ctx, position, name, sizeof name - 1, &n);
  if (st == kObjTooLarge) return kBadArg;
  if (st != kOk) return ReportedStatus(st);
  name[n] = 0;
  *length = static_cast<int>(n);
  return kOk;
}

// The function a name ("name" or "class::name") means from a library; 121
// with the name's message when there is none. A lone ':' names nothing.
[[nodiscard]] StatusCode FindNamedFunction(EngineContext* ctx, const char* name, int length, int32_t library,
                                           int32_t* entry) {
  const auto* colon = static_cast<const char*>(std::memchr(name, ':', length));
  if (colon != nullptr && (colon + 1 == name + length || colon[1] != ':')) return kBadArg;
  *entry = FindUserFunctionByName(ctx, name, length, library);
  if (*entry < 0) return RaiseError(ctx, kUndefFun, -1, 0, -1, name);
  return kOk;
}

// A line given as a number or as a text of decimal digits.
[[nodiscard]] StatusCode LineArg(EngineContext* ctx, int position, int32_t* line) {
  if (!IsCharArg(ctx, position)) {
    double x = 0;
    if (StatusCode st = GetRealScalarArg(ctx, position, &x); st != kOk) return ReportedStatus(st);
    if (!(x >= 0 && x <= INT16_MAX) || x != static_cast<int32_t>(x)) return kBadArg;
    *line = static_cast<int32_t>(x);
    return kOk;
  }
  char text[16];
  int64_t n = 0;
  const StatusCode st = CopyStringArgToBuffer(ctx, position, text, sizeof text - 1, &n);
  if (st == kObjTooLarge) return kBadArg;
  if (st != kOk) return ReportedStatus(st);
  if (n == 0) return kBadArg;
  int32_t value = 0;
  for (int64_t k = 0; k < n; ++k) {
    if (text[k] < '0' || text[k] > '9') return kBadArg;
    value = 10 * value + (text[k] - '0');
  }
  *line = value;
  return kOk;
}

// The end of a native that returns nothing: the void value when called for
// none, and the inputs gone.
[[nodiscard]] StatusCode FinishVoid(EngineContext* ctx, int nargin, int nargout) {
  int results = 0;
  if (nargout < 0) {
    if (StatusCode st = PushVoidValue(ctx); st != kOk) return st;
    results = 1;
  }
  return DropArgsUnderResults(ctx, results, nargin);
}

bool IsOption(EngineContext* ctx, int position, const char* option) {
  char text[16];
  int64_t n = 0;
  if (!IsCharArg(ctx, position) || CopyStringArgToBuffer(ctx, position, text, sizeof text - 1, &n) != kOk) return false;
  text[n] = 0;
  return std::strcmp(text, option) == 0;
}

void WriteText(EngineContext* ctx, const char* text, int length) {
  (void)WriteToDescriptor(ctx, kStdoutDescriptor, text, length);
}

// "name;line" on descriptor 1, the name qualified by library and class.
void WriteFunctionLine(EngineContext* ctx, int32_t entry, int32_t line, const char* fallback) {
  char text[120];
  int at = 0;
  if (entry >= 0) {
    FormatQualifiedFunctionName(ctx, entry, text, 100, &at);
  } else {
    AppendChars(text, &at, fallback, static_cast<int>(std::strlen(fallback)), 100);
  }
  AppendChars(text, &at, ";", 1, sizeof text);
  FormatDecimal64(text, &at, line, sizeof text);
  WriteText(ctx, text, at);
  (void)WriteNewlineToDescriptor(ctx, kStdoutDescriptor);
}

Cell* BreakpointCells(EngineContext* ctx) { return ctx->heapBase + ctx->breakpointList; }

void FreeBreakpointList(EngineContext* ctx) {
  if (ctx->breakpointList > 0) FreeHeapBlock(ctx, ctx->breakpointList);
  ctx->breakpointList = -1;
  ctx->breakpointCount = 0;
}

void RemoveBreakpointAt(EngineContext* ctx, int32_t k) {
  Cell* list = BreakpointCells(ctx);
  std::memmove(list + k, list + k + 1, sizeof(Cell) * (ctx->breakpointCount - k - 1));
  if (--ctx->breakpointCount == 0) FreeBreakpointList(ctx);
}

}  // namespace

bool IsDebuggerStopped(EngineContext* ctx) {
  const CallFrame* f = CurrentFrame(ctx);
  return f != nullptr && f->suspendSpace != 0;
}

StatusCode ResumeFromDebugger(EngineContext* ctx) {
  // Nothing stopped: the frames stay as they are.
  if (StoppedFrame(ctx) == nullptr) return kBadContext;
  (void)UnwindFrames(ctx, -1);
  CallFrame* f = CurrentFrame(ctx);
  ctx->pc.space = static_cast<uint32_t>(f->suspendSpace);
  ctx->pc.offset = f->suspendOffset;
  ctx->pc.safe = 0;
  f->suspendSpace = 0;
  return kOk;
}

StatusCode AddBreakpoint(EngineContext* ctx, const char* name, int length, int32_t library, int32_t line) {
  int32_t entry = -1;
  if (StatusCode st = FindNamedFunction(ctx, name, length, library, &entry); st != kOk) return st;
  const int32_t capacity = ctx->breakpointList > 0 ? HeapBlockCells(ctx, ctx->breakpointList) : 0;
  if (ctx->breakpointCount >= capacity) {
    int32_t grown = 0;
    if (StatusCode st = AllocateHeapBlock(ctx, capacity + kBreakpointStep, &grown); st != kOk) return st;
    if (ctx->breakpointCount > 0)
      std::memcpy(ctx->heapBase + grown, BreakpointCells(ctx), sizeof(Cell) * ctx->breakpointCount);
    if (ctx->breakpointList > 0) FreeHeapBlock(ctx, ctx->breakpointList);
    ctx->breakpointList = grown;
  }
  Cell& c = BreakpointCells(ctx)[ctx->breakpointCount++];
  c.iw[0] = entry;
  c.iw[1] = line;
  return kOk;
}

StatusCode ClearBreakpoints(EngineContext* ctx, const char* name, int length, int32_t library, int32_t line) {
  if (ctx->breakpointList <= 0 || ctx->breakpointCount <= 0) return kOk;
  if (name == nullptr) {
    if (line < 0) {
      FreeBreakpointList(ctx);
      return kOk;
    }
    if (line >= ctx->breakpointCount) return kOutOfRangeArg;
    RemoveBreakpointAt(ctx, line);
    return kOk;
  }
  int32_t entry = -1;
  if (StatusCode st = FindNamedFunction(ctx, name, length, library, &entry); st != kOk) return st;
  for (int32_t k = ctx->breakpointCount - 1; k >= 0 && ctx->breakpointCount > 0; --k) {
    const Cell& c = BreakpointCells(ctx)[k];
    if (c.iw[0] == entry && (line < 0 || c.iw[1] == line)) RemoveBreakpointAt(ctx, k);
  }
  return kOk;
}

void SetInterruptDebug(EngineContext* ctx, bool on) { ctx->breakEntersDebugger = on ? 1 : 0; }
bool GetInterruptDebug(EngineContext* ctx) { return ctx->breakEntersDebugger != 0; }

StatusCode SetEcho(EngineContext* ctx, bool on, const char* name, int length, int32_t library, int32_t descriptor) {
  int32_t echo = on ? -2 : -1;
  if (on && name != nullptr) {
    if (StatusCode st = FindNamedFunction(ctx, name, length, library, &echo); st != kOk) return st;
  }
  ctx->echo = echo;
  ctx->echoDescriptor = descriptor;
  return kOk;
}

// ---------------------------------------------------------------------------
// Natives.

StatusCode DbStopNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin < 1 || nargin > 2) return nargin < 1 ? kTooFewArgin : kTooManyArgin;
  char name[kMaxFunctionName * 3 + 3];
  int length = 0;
  if (StatusCode st = NameArg(ctx, nargin - 1, name, &length); st != kOk) return st;
  int32_t line = 0;
  if (nargin == 2)
    if (StatusCode st = LineArg(ctx, 0, &line); st != kOk) return st;
  if (std::strcmp(name, "-interrupt") == 0) {
    if (nargin == 2) return kTooManyArgin;
    SetInterruptDebug(ctx, true);
  } else if (StatusCode st = AddBreakpoint(ctx, name, length, 0, line); st != kOk) {
    return st;
  }
  return FinishVoid(ctx, nargin, nargout);
}

StatusCode DbClearNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin > 2) return kTooManyArgin;
  if (nargin == 0) {
    (void)ClearBreakpoints(ctx, nullptr, 0, 0, -1);
    return FinishVoid(ctx, nargin, nargout);
  }
  int32_t line = -1;
  if (nargin == 2)
    if (StatusCode st = LineArg(ctx, 0, &line); st != kOk) return st;
  if (!IsCharArg(ctx, nargin - 1)) {
    // A number alone is a position in the list.
    if (nargin == 2) return kBadArg;
    if (StatusCode st = LineArg(ctx, 0, &line); st != kOk) return st;
    if (StatusCode st = ClearBreakpoints(ctx, nullptr, 0, 0, line); st != kOk) return st;
    return FinishVoid(ctx, nargin, nargout);
  }
  char name[kMaxFunctionName * 3 + 3];
  int length = 0;
  if (StatusCode st = NameArg(ctx, nargin - 1, name, &length); st != kOk) return st;
  if (std::strcmp(name, "-interrupt") == 0) {
    if (nargin == 2) return kTooManyArgin;
    SetInterruptDebug(ctx, false);
    return FinishVoid(ctx, nargin, nargout);
  }
  // A name alone takes away the function's entry breakpoint.
  if (nargin == 1) line = 0;
  if (StatusCode st = ClearBreakpoints(ctx, name, length, 0, line); st != kOk) return st;
  return FinishVoid(ctx, nargin, nargout);
}

StatusCode DbStatusNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin > 1) return kTooManyArgin;
  int32_t only = -1;
  if (nargin == 1) {
    char name[kMaxFunctionName * 3 + 3];
    int length = 0;
    if (StatusCode st = NameArg(ctx, 0, name, &length); st != kOk) return st;
    // Not found is told by the code alone.
    if (StatusCode st = FindNamedFunction(ctx, name, length, 0, &only); st != kOk) {
      (void)ClearError(ctx);
      return st;
    }
  } else if (GetInterruptDebug(ctx)) {
    static constexpr char kInterrupt[] = "Interrupt key enters debugging mode";
    WriteText(ctx, kInterrupt, sizeof kInterrupt - 1);
    (void)WriteNewlineToDescriptor(ctx, kStdoutDescriptor);
  }
  for (int32_t k = 0; k < ctx->breakpointCount && ctx->breakpointList > 0; ++k) {
    const Cell c = BreakpointCells(ctx)[k];
    if (only < 0 || c.iw[0] == only) WriteFunctionLine(ctx, c.iw[0], c.iw[1], "");
  }
  return FinishVoid(ctx, nargin, nargout);
}

StatusCode DbHaltNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin > 0) return kTooManyArgin;
  CallFrame* f = CurrentFrame(ctx);
  if (f == nullptr) return kBadContext;
  if (StatusCode st = FinishVoid(ctx, nargin, nargout); st != kOk) return st;
  f = CurrentFrame(ctx);
  f->debugState = kDebugStopAtNextLine;
  return kDebugStop;
}

StatusCode DbContNative(EngineContext* ctx, int nargin, int, void*) {
  if (nargin > 0) return kTooManyArgin;
  if (StatusCode st = ResumeFromDebugger(ctx); st != kOk) return st;
  for (CallFrame* f = CurrentFrame(ctx); f != nullptr && !IsBaseFrame(f); f = PreviousFrame(ctx, f)) {
    if (f->debugState == 0) continue;
    f->debugState = 0;
    break;
  }
  return kOk;
}

StatusCode DbStepNative(EngineContext* ctx, int nargin, int, void*) {
  if (nargin > 1) return kTooManyArgin;
  enum { kPlain, kIn, kOut } how = kPlain;
  if (nargin == 1) {
    if (IsOption(ctx, 0, "in"))
      how = kIn;
    else if (IsOption(ctx, 0, "out"))
      how = kOut;
    else
      return kUnknownOpt;
  }
  if (StatusCode st = ResumeFromDebugger(ctx); st != kOk) return st;
  CallFrame* f = CurrentFrame(ctx);
  while (f->debugState == 0 && !IsBaseFrame(f)) {
    CallFrame* below = PreviousFrame(ctx, f);
    if (below == nullptr) break;
    f = below;
  }
  if (f->debugState == 0) f = CurrentFrame(ctx);
  switch (how) {
    case kPlain:
      f->debugState = kDebugStopAtNextLine;
      break;
    case kIn:
      f->debugState = kDebugStepInto;
      break;
    case kOut:
      f->debugState = 0;
      // Code entered from the host has no caller to stop in.
      if (f->callerSpace != 0 && !IsBaseFrame(f))
        if (CallFrame* caller = PreviousFrame(ctx, f); caller != nullptr && caller->function != -1)
          caller->debugState = kDebugStopAtNextLine;
      break;
  }
  return kOk;
}

StatusCode DbQuitNative(EngineContext* ctx, int nargin, int, void*) {
  if (nargin > 0) return kTooManyArgin;
  return UnwindFrames(ctx, 0);
}

StatusCode DbStackNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin > 1) return kTooManyArgin;
  bool all = false;
  if (nargin == 1) {
    if (!IsOption(ctx, 0, "all")) return kUnknownOpt;
    all = true;
  }
  const bool asStruct = nargout > 0;
  // A failure drops whatever this native pushed (three words a value).
  const int32_t mark = ctx->descLength;
  auto fail = [&](StatusCode st) {
    (void)DropArgsUnderResults(ctx, 0, (ctx->descLength - mark) / 3);
    return st;
  };
  if (asStruct)
    if (StatusCode st = MakeListFromValues(ctx, 0, false, nullptr, 0); st != kOk) return st;
  CallFrame* f = CurrentFrame(ctx);
  // The code of a command line typed while stopped is no caller of anything.
  if (f != nullptr && f->callerSpace == 0) f = PreviousFrame(ctx, f);
  for (; f != nullptr; f = PreviousFrame(ctx, f)) {
    if (f->function >= 0 || f->function == -2) {
      if (!asStruct) {
        WriteFunctionLine(ctx, f->function, f->line, "(inline)");
      } else {
        char text[100];
        int at = 0;
        if (f->function >= 0)
          FormatQualifiedFunctionName(ctx, f->function, text, sizeof text, &at);
        else
          AppendChars(text, &at, "(inline)", 8, sizeof text);
        const int32_t line = f->line;
        // Pushes move no frame: the frames sit below every value pushed here.
        StatusCode st = MakeListFromValues(ctx, 0, false, "", 0);
        if (st == kOk) st = PushStringFromBytes(ctx, at, text);
        if (st == kOk) st = MakeListFromValues(ctx, 1, true, "name", 4);
        if (st == kOk) st = PushRealScalar(ctx, line);
        if (st == kOk) st = MakeListFromValues(ctx, 1, true, "line", 4);
        if (st == kOk) st = MakeListFromValues(ctx, 1, true, nullptr, 0);
        if (st != kOk) return fail(st);
      }
    }
    if (IsBaseFrame(f) || (!all && f->callerSpace == 0)) break;
  }
  if (asStruct) {
    if (StatusCode st = ConvertTopToStructArray(ctx); st != kOk) return fail(st);
    return DropArgsUnderResults(ctx, 1, nargin);
  }
  return FinishVoid(ctx, nargin, nargout);
}

StatusCode DbTypeNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin > 1) return kTooManyArgin;
  CallFrame* top = CurrentFrame(ctx);
  CallFrame* caller = top != nullptr ? PreviousFrame(ctx, top) : nullptr;
  int32_t entry = -1;
  if (nargin == 1) {
    char name[kMaxFunctionName * 3 + 3];
    int length = 0;
    if (StatusCode st = NameArg(ctx, 0, name, &length); st != kOk) return st;
    if (StatusCode st = FindNamedFunction(ctx, name, length, 0, &entry); st != kOk) return st;
  } else if (top != nullptr && top->function >= 0) {
    entry = top->function;
  } else if (caller != nullptr && caller->function >= 0) {
    entry = caller->function;
  }
  if (StatusCode st = FinishVoid(ctx, nargin, nargout); st != kOk || entry < 0) return st;
  int32_t current = -1;
  if (top != nullptr && top->function == entry)
    current = top->line;
  else if (caller != nullptr && caller->function == entry)
    current = caller->line;

  int64_t bytes = 0;
  Cell* free = nullptr;
  (void)GetFreeDataSpace(ctx, &bytes, &free);
  auto* text = reinterpret_cast<char*>(free);
  int32_t length = 0, line = 1;
  const auto size = static_cast<int32_t>(std::min<int64_t>(bytes, INT32_MAX));
  if (StatusCode st = GetFunctionSource(ctx, entry, text, size, &length, &line); st != kOk) return st;
  // The breakpoints of the function, read before the listing uses the space.
  bool marks[64] = {};
  const int32_t first = line;
  for (int32_t k = 0; k < ctx->breakpointCount && ctx->breakpointList > 0; ++k) {
    const Cell c = BreakpointCells(ctx)[k];
    const int32_t at = c.iw[1] == 0 ? first : c.iw[1];
    if (c.iw[0] == entry && at >= first && at - first < 64) marks[at - first] = true;
  }
  auto marked = [&](int32_t n) {
    if (n - first < 64) return marks[n - first];
    for (int32_t k = 0; k < ctx->breakpointCount; ++k) {
      const Cell c = BreakpointCells(ctx)[k];
      if (c.iw[0] == entry && c.iw[1] == n) return true;
    }
    return false;
  };
  (void)SetDescriptorBuffering(ctx, kStdoutDescriptor, 1);
  for (int32_t p = 0; p < length; ++line) {
    int32_t end = p;
    while (end < length && text[end] != '\n' && text[end] != '\r') ++end;
    if (line > first) {
      int32_t q = p;
      while (q < end && (text[q] == ' ' || text[q] == '\t')) ++q;
      const auto startsWith = [&](const char* word, int32_t n) {
        return end - q >= n && std::memcmp(text + q, word, n) == 0 && (end - q == n || !IsNameChar(text[q + n]));
      };
      if (startsWith("function", 8) || startsWith("define", 6)) break;
    }
    char head[16];
    int at = 0;
    head[at++] = line == current ? '>' : ' ';
    head[at++] = marked(line) ? '#' : ' ';
    char number[16];
    int digits = 0;
    FormatDecimal64(number, &digits, line, sizeof number);
    for (int k = digits; k < 4; ++k) head[at++] = ' ';
    AppendChars(head, &at, number, digits, sizeof head - 1);
    head[at++] = ' ';
    WriteText(ctx, head, at);
    WriteText(ctx, text + p, end - p);
    (void)WriteNewlineToDescriptor(ctx, kStdoutDescriptor);
    p = end;
    if (p < length && text[p] == '\r' && p + 1 < length && text[p + 1] == '\n') ++p;
    if (p < length) ++p;
  }
  (void)SetDescriptorBuffering(ctx, kStdoutDescriptor, 0);
  return kOk;
}

StatusCode EchoNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin < 1 || nargin > 3) return nargin < 1 ? kTooFewArgin : kTooManyArgin;
  int32_t descriptor = kStderrDescriptor;
  int inputs = nargin;
  if (nargin >= 2 && !IsCharArg(ctx, 0)) {
    int32_t d = 0;
    if (StatusCode st = GetIntegerScalarArg(ctx, 0, &d); st != kOk) return ReportedStatus(st);
    descriptor = d;
    --inputs;
  }
  const int first = nargin - 1;
  bool on = false;
  if (IsCharArg(ctx, first)) {
    char word[8];
    int64_t n = 0;
    const StatusCode st = CopyStringArgToBuffer(ctx, first, word, sizeof word - 1, &n);
    if (st != kOk && st != kObjTooLarge) return ReportedStatus(st);
    word[st == kOk ? n : 0] = 0;
    for (int64_t k = 0; k < n; ++k) word[k] = static_cast<char>(word[k] | 0x20);
    if (st == kOk && std::strcmp(word, "on") == 0)
      on = true;
    else if (st != kOk || std::strcmp(word, "off") != 0)
      return kUnknownOpt;
  } else {
    uint8_t b = 0;
    if (StatusCode st = GetBooleanArg(ctx, first, &b); st != kOk) return ReportedStatus(st);
    on = b != 0;
  }
  if (inputs >= 2) {
    char name[kMaxFunctionName * 3 + 3];
    int length = 0;
    if (StatusCode st = NameArg(ctx, nargin - 2, name, &length); st != kOk) return st;
    if (StatusCode st = SetEcho(ctx, on, name, length, 0, descriptor); st != kOk) return st;
  } else if (StatusCode st = SetEcho(ctx, on, nullptr, 0, 0, descriptor); st != kOk) {
    return st;
  }
  return FinishVoid(ctx, nargin, nargout);
}
