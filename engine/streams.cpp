// Dispatch of descriptor operations to the stream hooks: the write path with
// redirection, copies and the memory buffer, line-mode and whole-buffer reads,
// control, close and the handing out of descriptor ranges.

#include <cstring>

#include "engine/context.h"
#include "engine/registry.h"
#include "engine/values/textformat.h"

namespace {

constexpr int kNumberBufferBytes = 78;
constexpr int kCrPendingSlots = static_cast<int>(sizeof(EngineContext::crPending) / sizeof(int32_t));

template <class Hook>
Hook HookOf(const NativeFunctionRecord* r) {
  return HandlerAs<Hook>(r->handler);
}

void* UserDataOf(const EngineContext* ctx, const NativeFunctionRecord* r) {
  return r->userData != nullptr ? r->userData : ctx->nativeUserData;
}

// ---------------------------------------------------------------------------
// The "last line ended on CR" flags. A small table suffices: a descriptor is in
// it only between a line read that ended on CR and its next read.

int PendingCount(const EngineContext* ctx) {
  const int n = ctx->crPendingCount;
  return n < 0 || n > kCrPendingSlots ? 0 : n;
}

// Clears the descriptor's flag; true when it was set.
bool TakePendingCr(EngineContext* ctx, int32_t d) {
  const int n = PendingCount(ctx);
  for (int i = 0; i < n; ++i) {
    if (ctx->crPending[i] != d) continue;
    std::memmove(ctx->crPending + i, ctx->crPending + i + 1, (n - i - 1) * sizeof(int32_t));
    ctx->crPendingCount = n - 1;
    return true;
  }
  return false;
}

// When the table is full the oldest flag goes: its descriptor would at worst
// show one empty line for a CR LF split across two reads.
void SetPendingCr(EngineContext* ctx, int32_t d) {
  int n = PendingCount(ctx);
  if (n == kCrPendingSlots) {
    std::memmove(ctx->crPending, ctx->crPending + 1, (n - 1) * sizeof(int32_t));
    --n;
  }
  ctx->crPending[n] = d;
  ctx->crPendingCount = n + 1;
}

// ---------------------------------------------------------------------------
// Write path, shared by bytes, newlines and buffering requests.

enum class WriteKind { kBytes, kNewline, kBuffering };

struct WriteRequest {
  WriteKind kind;
  const char* bytes;
  int32_t length;
  int32_t on;
};

const char* NewlineFor(uint8_t style) { return style == 1 ? "\n" : style == 2 ? "\r\n" : "\r"; }

[[nodiscard]] StatusCode CallWriter(EngineContext* ctx, const NativeFunctionRecord* r, int32_t d,
                                    const WriteRequest& w) {
  void* userData = UserDataOf(ctx, r);
  switch (w.kind) {
    case WriteKind::kBytes:
      return HookOf<WriteHook>(r)(ctx, d, w.bytes, w.length, userData);
    case WriteKind::kNewline: {
      const char* nl = NewlineFor(r->minInputs);
      return HookOf<WriteHook>(r)(ctx, d, nl, static_cast<int32_t>(std::strlen(nl)), userData);
    }
    case WriteKind::kBuffering:
      return HookOf<BufferingHook>(r)(ctx, d, w.on, userData);
  }
  return kBadArg;
}

[[nodiscard]] StatusCode WalkWriters(EngineContext* ctx, int32_t d, const WriteRequest& w) {
  const char* name = w.kind == WriteKind::kBuffering ? "+iocbuffering" : "+write";
  int cursor = -1;
  bool any = false;
  while (const NativeFunctionRecord* r = FindNextNamedRecord(ctx, name, &cursor, nullptr)) {
    any = true;
    if (StatusCode st = CallWriter(ctx, r, d, w); st != kBadFileId) return st;
  }
  if (!any && w.kind != WriteKind::kBuffering && d >= kStdoutDescriptor && d <= kQuietDescriptor) return kOk;
  return kBadFileId;
}

[[nodiscard]] StatusCode WriteToMemory(EngineContext* ctx, const WriteRequest& w) {
  if (w.kind == WriteKind::kBuffering || ctx->memoryBuffer == nullptr || ctx->memoryPosition == nullptr) return kOk;
  const char* bytes = w.kind == WriteKind::kNewline ? "\n" : w.bytes;
  const int32_t length = w.kind == WriteKind::kNewline ? 1 : w.length;
  const int32_t position = *ctx->memoryPosition;
  if (position < 0 || int64_t{position} + length > ctx->memoryCapacity) return kDataStackFull;
  // A copy, not a bounded append: the buffer may be filled to its last byte.
  if (length > 0) std::memcpy(ctx->memoryBuffer + position, bytes, length);
  *ctx->memoryPosition = position + length;
  return kOk;
}

bool IsStandard(int32_t d) { return d == kStdoutDescriptor || d == kStderrDescriptor; }

// Descriptor 5 is the memory buffer wherever a write ends up, also as a
// redirection target.
[[nodiscard]] StatusCode WriteOnce(EngineContext* ctx, int32_t d, const WriteRequest& w) {
  if (d == kMemoryDescriptor) return WriteToMemory(ctx, w);
  ++ctx->sideEffects;
  return WalkWriters(ctx, d, w);
}

[[nodiscard]] StatusCode Write(EngineContext* ctx, int32_t d, const WriteRequest& w) {
  if (IsStandard(d) && ctx->redirect[d - 1] != d && !ctx->redirectCopy[d - 1]) d = ctx->redirect[d - 1];
  StatusCode st = WriteOnce(ctx, d, w);
  if (!IsStandard(d)) return st;
  const int32_t target = ctx->redirect[d - 1];
  if (target == d || !ctx->redirectCopy[d - 1]) return st;
  // Two standard descriptors that copy to each other write once.
  if (IsStandard(target) && ctx->redirectCopy[target - 1]) return st;
  const StatusCode copy = WriteOnce(ctx, target, w);
  // A writer's failure must not hide behind a copy that worked; "not mine"
  // (301) is answered by the copy's own result.
  return st != kOk && st != kBadFileId ? st : copy;
}

// ---------------------------------------------------------------------------
// Reading.

// One line, a byte at a time, from a hook that leaves line ends to the engine.
// *n counts the bytes stored so far, also across hooks that pass the request on.
[[nodiscard]] StatusCode ReadLineBytes(EngineContext* ctx, ReadHook hook, void* userData, int32_t d, char* buffer,
                                       int32_t capacity, int32_t* n) {
  while (*n < capacity) {
    int32_t got = 0;
    const StatusCode st = hook(ctx, d, buffer + *n, 1, &got, userData);
    if (st == kBadFileId) return st;
    if (st == kEof) {
      TakePendingCr(ctx, d);
      return *n == 0 ? kEof : kOk;
    }
    if (st != kOk) return st;
    if (got <= 0) return kWouldBlock;
    const char c = buffer[*n];
    // The LF of a CR LF whose CR ended the previous line.
    if (TakePendingCr(ctx, d) && c == '\n') continue;
    if (c == '\n' || c == '\r') {
      buffer[(*n)++] = '\n';
      if (c == '\r') SetPendingCr(ctx, d);
      return kOk;
    }
    ++*n;
  }
  return kOk;
}

}  // namespace

StatusCode WriteToDescriptor(EngineContext* ctx, int32_t descriptor, const char* bytes, int32_t length) {
  if (length < -1 || (bytes == nullptr && length != 0)) return kBadArg;
  if (length == -1) length = TextLength(bytes);
  return Write(ctx, descriptor, {WriteKind::kBytes, bytes, length, 0});
}

StatusCode WriteNumberToDescriptor(EngineContext* ctx, int32_t descriptor, double value) {
  char text[kNumberBufferBytes];
  int position = 0;
  FormatDouble(text, &position, value, ctx->display.digits, 'g', kNumberBufferBytes);
  return WriteToDescriptor(ctx, descriptor, text, position);
}

StatusCode WriteNewlineToDescriptor(EngineContext* ctx, int32_t descriptor) {
  return Write(ctx, descriptor, {WriteKind::kNewline, nullptr, 0, 0});
}

StatusCode SetDescriptorBuffering(EngineContext* ctx, int32_t descriptor, int32_t on) {
  return Write(ctx, descriptor, {WriteKind::kBuffering, nullptr, 0, on});
}

StatusCode ControlDescriptor(EngineContext* ctx, int32_t descriptor, int32_t code, int32_t argument, int32_t* position,
                             bool* atEnd) {
  ++ctx->sideEffects;
  int cursor = -1;
  while (const NativeFunctionRecord* r = FindNextNamedRecord(ctx, "+iocontrol", &cursor, nullptr)) {
    int32_t value = argument;
    const StatusCode st = HookOf<ControlHook>(r)(ctx, descriptor, code, &value, UserDataOf(ctx, r));
    if (st == kBadFileId) continue;
    if (code == kControlEof && atEnd != nullptr) *atEnd = value != 0;
    if (code == kControlTell && position != nullptr) *position = value;
    // A pending CR belongs to the old position.
    if (st == kOk && code >= kControlSeekStart && code <= kControlSeekEnd) TakePendingCr(ctx, descriptor);
    return st;
  }
  return kBadFileId;
}

StatusCode ReadFromDescriptor(EngineContext* ctx, int32_t descriptor, char* buffer, int32_t capacity, bool lineMode,
                              int32_t* count) {
  ++ctx->sideEffects;
  int32_t unused = 0;
  if (count == nullptr) count = &unused;
  *count = 0;
  if (capacity < 0 || (buffer == nullptr && capacity > 0)) return kBadArg;

  int32_t n = 0;
  int cursor = -1;
  while (const NativeFunctionRecord* r = FindNextNamedRecord(ctx, "+read", &cursor, nullptr)) {
    const ReadHook hook = HookOf<ReadHook>(r);
    if (!lineMode || r->minInputs != 0) {
      // After the line bytes of hooks that passed the request on, if any.
      const int32_t room = capacity - n;
      int32_t got = 0;
      const StatusCode st = hook(ctx, descriptor, room > 0 ? buffer + n : buffer, room, &got, UserDataOf(ctx, r));
      if (st == kBadFileId) continue;
      got = got < 0 ? 0 : got > room ? room : got;
      // These bytes come raw: an LF after an earlier CR is the caller's now.
      if (got > 0 || st == kEof) TakePendingCr(ctx, descriptor);
      *count = n + got;
      return st;
    }
    const StatusCode st = ReadLineBytes(ctx, hook, UserDataOf(ctx, r), descriptor, buffer, capacity, &n);
    *count = n;
    if (st != kBadFileId) return st;
  }
  return descriptor == kStdinDescriptor ? kEof : kBadFileId;
}

int32_t AllocateDescriptorRange(EngineContext* ctx, int32_t n) {
  const int32_t first = ctx->nextDescriptor;
  if (n < 0 || int64_t{first} + n > INT32_MAX) return -1;
  ctx->nextDescriptor = first + n;
  return first;
}

StatusCode CloseDescriptor(EngineContext* ctx, int32_t descriptor) {
  ++ctx->sideEffects;
  if (descriptor == kAllDescriptors)
    ctx->crPendingCount = 0;
  else
    TakePendingCr(ctx, descriptor);
  int cursor = -1;
  while (const NativeFunctionRecord* r = FindNextNamedRecord(ctx, "+fclose", &cursor, nullptr))
    if (StatusCode st = HookOf<CloseHook>(r)(ctx, descriptor, UserDataOf(ctx, r)); st != kBadFileId) return st;
  return kBadFileId;
}

StatusCode SetStandardRedirection(EngineContext* ctx, int32_t descriptor, int32_t target, bool copy) {
  if (!IsStandard(descriptor)) return kBadFileId;
  ctx->redirect[descriptor - 1] = target;
  ctx->redirectCopy[descriptor - 1] = copy ? 1 : 0;
  return kOk;
}
