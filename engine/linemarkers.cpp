// Line markers: the frame's current line, the echo of the source line about
// to run, and the debugger's report and stop at a breakpoint or a step.
#include <algorithm>
#include <cstring>

#include "engine/errors.h"
#include "engine/frames.h"
#include "engine/heap.h"
#include "engine/libraries.h"
#include "engine/values/textformat.h"
#include "engine/vm.h"

namespace {

// The echo and the debugger's report are diagnostics on descriptor 2: a write
// that fails must not stop the code, so their statuses are dropped.

// Line `line` of function f's source, or nothing when it cannot be read.
void WriteSourceLine(EngineContext* ctx, int32_t descriptor, int32_t f, int32_t line) {
  int64_t bytes = 0;
  Cell* free = nullptr;
  (void)GetFreeDataSpace(ctx, &bytes, &free);
  auto* buffer = reinterpret_cast<char*>(free);
  int32_t length = 0, first = 1;
  const int32_t size = static_cast<int32_t>(std::min<int64_t>(bytes, 1 << 30));
  if (f < 0 || GetFunctionSource(ctx, f, buffer, size, &length, &first) != kOk) return;
  int32_t p = 0;
  for (int32_t at = first; at < line && p < length; ++p) {
    if (buffer[p] == '\r' && p + 1 < length && buffer[p + 1] == '\n') ++p;
    if (buffer[p] == '\n' || buffer[p] == '\r') ++at;
  }
  int32_t end = p;
  while (end < length && buffer[end] != '\n' && buffer[end] != '\r') ++end;
  (void)WriteToDescriptor(ctx, descriptor, buffer + p, end - p);
}

void FunctionName(EngineContext* ctx, int32_t f, const char** name, int* length) {
  *name = "";
  *length = 0;
  if (f >= 0) GetFunctionNameByIndex(ctx, f, name, length);
}

void EchoSourceLine(EngineContext* ctx, int32_t f, int32_t line) {
  const int32_t d = ctx->echoDescriptor;
  const char* name = nullptr;
  int length = 0;
  FunctionName(ctx, f, &name, &length);
  char head[24];
  int at = 0;
  AppendChars(head, &at, name, std::min(length, 16), 17);
  while (at < 16) head[at++] = ' ';
  char number[16];
  int digits = 0;
  FormatDecimal64(number, &digits, line, sizeof number);
  for (int k = digits; k < 5; ++k) head[at++] = ' ';
  std::memcpy(head + at, number, std::min(digits, 6));
  at += std::min(digits, 6);
  head[at++] = ' ';
  (void)WriteToDescriptor(ctx, d, head, at);
  WriteSourceLine(ctx, d, f, line);
  (void)WriteNewlineToDescriptor(ctx, d);
  int32_t position = 0;
  (void)ControlDescriptor(ctx, d, kControlFlush, 0, &position, nullptr);
}

bool AtBreakpoint(EngineContext* ctx, int32_t f, int32_t line) {
  if (ctx->breakpointCount <= 0 || ctx->breakpointList <= 0) return false;
  const Cell* list = ctx->heapBase + ctx->breakpointList;
  const int32_t n = std::min(ctx->breakpointCount, HeapBlockCells(ctx, ctx->breakpointList));
  for (int32_t k = 0; k < n; ++k)
    if (list[k].iw[0] == f && list[k].iw[1] == line) return true;
  return false;
}

void ReportDebuggerLine(EngineContext* ctx, int32_t f, int32_t line) {
  char text[64];
  int at = 0;
  const char* name = nullptr;
  int length = 0;
  FunctionName(ctx, f, &name, &length);
  AppendChars(text, &at, "<", 1, sizeof text);
  if (f >= 0) {
    AppendChars(text, &at, name, std::min(length, 32), sizeof text);
    AppendChars(text, &at, ":", 1, sizeof text);
  }
  FormatDecimal64(text, &at, line, sizeof text);
  AppendChars(text, &at, "> ", 2, sizeof text);
  (void)WriteToDescriptor(ctx, 2, text, at);
  WriteSourceLine(ctx, 2, f, line);
  (void)WriteNewlineToDescriptor(ctx, 2);
}

}  // namespace

StatusCode OpLineMarker(EngineContext* ctx, const int16_t* ins) {
  const int32_t function = ins[1], line = ins[2];
  CallFrame* f = CurrentFrame(ctx);
  if (f == nullptr) return kOk;
  f->function = function;
  f->line = line;
  if (ctx->echo == -2 || (ctx->echo >= 0 && ctx->echo == function)) EchoSourceLine(ctx, function, line);
  if (f->debugState == 0 && AtBreakpoint(ctx, function, line)) f->debugState = kDebugStopAtNextLine;
  if (f->debugState < 1) return kOk;
  ReportDebuggerLine(ctx, function, line);
  if (f->debugState == 1) {
    if (ctx->sliceTest == nullptr) ctx->sliceArg = 1;
    return kOk;
  }
  f->suspendSpace = static_cast<int32_t>(ctx->pc.space);
  f->suspendOffset = ctx->pc.offset;
  ctx->errorCode = kDebugStop;
  return kDebugStop;
}
