// Small services through which the host and extensions configure the engine
// or hand it work from outside a running native: charsets, entry names, the
// display settings, pending calls with their copied arguments, natives by
// name and kind, named items, text with line ends.
#include <cstring>

#include "engine/function.h"
#include "engine/registry.h"
#include "engine/values/textformat.h"
#include "engine/values/valuestack.h"

// ---------------------------------------------------------------------------
// Charsets

bool Utf8Decode(const char* text, uint16_t* out, int* position, int length) {
  const int before = *position;
  const bool ok = DecodeUtf8Char(text, length, position, out);
  // Callers loop on the position; it must move even at the end of the text.
  if (*position == before) ++*position;
  return ok;
}

namespace {

int Utf8ByteOrderMark(const char* text, int length) {
  const int n = length < 0 ? TextLength(text) : length;
  const auto* b = reinterpret_cast<const unsigned char*>(text);
  return n > 2 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF ? 3 : 0;
}

// Writes the character only when all its bytes fit. AppendUtf8Char wants room
// for three bytes whatever the character, which would drop the tail of a text
// encoded into a buffer sized exactly for it.
bool Utf8Encode(uint16_t ch, char* buffer, int* position, int size) {
  const int need = ch < 0x80 ? 1 : ch < 0x800 ? 2 : 3;
  if (*position + need > size) return false;
  char bytes[3];
  int n = 0;
  AppendUtf8Char(bytes, &n, ch, sizeof bytes);
  std::memcpy(buffer + *position, bytes, n);
  *position += n;
  return true;
}

// A byte of 0x80 or more is the high byte of a character whose low byte
// follows. A high byte at the very end is skipped without a character.
bool DoubleByteDecode(const char* text, uint16_t* out, int* position, int length) {
  const auto* b = reinterpret_cast<const unsigned char*>(text);
  const int p = *position;
  if (b[p] < 0x80) {
    *out = b[p];
    *position = p + 1;
    return true;
  }
  if (p + 1 >= length) {
    *position = p + 1;
    return false;
  }
  *out = static_cast<uint16_t>(b[p] << 8 | b[p + 1]);
  *position = p + 2;
  return true;
}

bool DoubleByteEncode(uint16_t ch, char* buffer, int* position, int size) {
  if (ch < 0x80) {
    if (*position + 1 > size) return false;
    buffer[(*position)++] = static_cast<char>(ch);
    return true;
  }
  if (*position + 2 > size) return false;
  buffer[(*position)++] = static_cast<char>(ch >> 8);
  buffer[(*position)++] = static_cast<char>(ch & 0xFF);
  return true;
}

}  // namespace

void SetTextCharset(EngineContext* ctx, char letter) {
  ctx->charsetBom = nullptr;
  ctx->charsetDecode = nullptr;
  ctx->charsetEncode = nullptr;
  if (letter == 'u') {
    ctx->charsetBom = Utf8ByteOrderMark;
    ctx->charsetDecode = Utf8Decode;
    ctx->charsetEncode = Utf8Encode;
  } else if (letter == 's' || letter == 'G') {
    ctx->charsetDecode = DoubleByteDecode;
    ctx->charsetEncode = DoubleByteEncode;
  }
}

// ---------------------------------------------------------------------------
// Names of function-store entries

void GetFunctionNameByIndex(EngineContext* ctx, int32_t entry, const char** text, int* length) {
  static const char kNone[] = "(none)";
  static const char kBase[] = "(base)";
  *text = kNone;
  *length = 6;
  if (entry < 0 || entry >= ctx->entriesInUse) return;
  const int32_t* w = FunctionEntryWords(ctx, entry);
  // A function names itself in its first word, a variable or library in its second.
  const SymbolId name = w[0] < 0 ? w[0] : w[1];
  if (name < 0) {
    *text = SymbolText(ctx, name);
    *length = SymbolLength(ctx, name);
    return;
  }
  *text = kBase;
}

namespace {

// Appends the parts of a qualified name. Each part is copied while `keep`
// bytes stay free after each byte, so that the parts still to come find room
// for their separators and the NUL; once a part is cut, nothing follows it, so
// a short buffer receives the beginning of the name.
struct NameWriter {
  char* buffer;
  int size;
  int position = 0;
  bool cut = false;

  void Put(const char* text, int length, int keep) {
    for (int k = 0; k < length && !cut; ++k) {
      if (position + keep >= size)
        cut = true;
      else
        buffer[position++] = text[k];
    }
  }
};

}  // namespace

bool EncodeCharWithCharset(EngineContext* ctx, uint16_t ch, char* buffer, int* position, int size) {
  if (ctx->charsetEncode == nullptr) return false;
  ctx->charsetEncode(ch, buffer, position, size);
  return true;
}

void FormatQualifiedFunctionName(EngineContext* ctx, int32_t entry, char* buffer, int size, int* length) {
  if (buffer == nullptr || size < 1) {
    if (length) *length = 0;
    return;
  }
  NameWriter out{buffer, size};
  const char* text = nullptr;
  int n = 0;
  if (entry > 0 && entry < ctx->entriesInUse && FunctionEntryWords(ctx, entry)[0] < 0) {
    const int32_t* w = FunctionEntryWords(ctx, entry);
    const auto word = static_cast<uint32_t>(w[1]);
    const auto library = static_cast<int32_t>(word & kLibraryIndexMask);
    if (library != 0) {
      GetFunctionNameByIndex(ctx, library, &text, &n);
      out.Put(text, n, 2);
      out.Put("/", 1, 1);
      if (word & kLibraryPrivate) out.Put(".", 1, 1);
    }
    if (w[3] < 0) {
      out.Put(SymbolText(ctx, w[3]), SymbolLength(ctx, w[3]), 3);
      out.Put("::", 2, 1);
    }
  }
  GetFunctionNameByIndex(ctx, entry, &text, &n);
  out.Put(text, n, 1);
  buffer[out.position] = 0;
  if (length) *length = out.position;
}

// ---------------------------------------------------------------------------
// Display settings

void SetEngineDisplayFormat(EngineContext* ctx, char format, int32_t digits, char imagUnit, bool loose,
                            int32_t hostWord, bool hostFlag) {
  DisplayFormatSettings& d = ctx->display;
  d.format = static_cast<uint8_t>(format);
  d.digits = digits;
  d.imagUnit = static_cast<uint8_t>(imagUnit);
  d.loose = loose ? 1 : 0;
  d.hostWords[0] = hostWord;
  d.hostWords[1] = hostFlag ? 0 : -1;  // the host's own encoding: 0 on, -1 off
}

void GetEngineDisplayFormat(EngineContext* ctx, char* format, int32_t* digits, char* imagUnit, bool* loose,
                            int32_t* hostWord, bool* hostFlag) {
  const DisplayFormatSettings& d = ctx->display;
  if (format) *format = static_cast<char>(d.format);
  if (digits) *digits = d.digits;
  if (imagUnit) *imagUnit = static_cast<char>(d.imagUnit);
  if (loose) *loose = d.loose != 0;
  if (hostWord) *hostWord = d.hostWords[0];
  if (hostFlag) *hostFlag = d.hostWords[1] == 0;
}

// ---------------------------------------------------------------------------
// Pending calls

namespace {

EngineContext* AccessContext(const PendingCallAccess& access) {
  if (access.resolver != nullptr) return access.resolver(access.target);
  return static_cast<EngineContext*>(access.target);
}

bool Enqueue(EngineContext* ctx, PendingCallFunction function, void* argument) {
  if (ctx == nullptr) return false;
  const int32_t n = ctx->pendingCount;
  if (n < 0 || n >= kPendingCallQueue) return false;
  ctx->pendingCalls[n] = PendingCall{function, argument};
  ctx->pendingCount = n + 1;
  return true;
}

// True when position and the top n values are values on the stack.
bool HasValues(const EngineContext* ctx, int position, int n) {
  const int64_t values = ctx->descLength / 3;
  return position >= 0 && n >= 0 && position < values && n <= values;
}

}  // namespace

void SetPendingCallResolver(EngineContext* ctx, PendingCallResolver resolver, void* target) {
  ctx->pendingResolver = resolver;
  ctx->pendingTarget = target;
}

void GetPendingCallAccess(EngineContext* ctx, PendingCallAccess* access) {
  access->resolver = ctx->pendingResolver;
  access->postCall = PostPendingCall;
  access->postEvent = PostPendingEvent;
  access->target = ctx->pendingResolver != nullptr ? ctx->pendingTarget : ctx;
}

bool PostPendingCall(PendingCallAccess access, PendingCallFunction function, void* argument) {
  // A null function would be taken for a call block.
  if (function == nullptr) return false;
  return Enqueue(AccessContext(access), function, argument);
}

bool PostPendingEvent(PendingCallAccess access, void* callBlock) {
  if (callBlock == nullptr) return false;
  return Enqueue(AccessContext(access), nullptr, callBlock);
}

StatusCode SumArgumentValueSizes(EngineContext* ctx, int position, int n, int64_t* size) {
  if (!HasValues(ctx, position, n)) return kBadArg;
  int64_t sum = 0;
  int64_t one = 0;
  (void)GetValueSize(ctx, position, &one);
  sum += one;
  for (int p = 0; p < n; ++p) {
    (void)GetValueSize(ctx, p, &one);
    sum += one;
  }
  if (size) *size = 32 * sum;
  return kOk;
}

StatusCode CopyArgumentValuesOut(EngineContext* ctx, int position, int n, PendingCallAccess* access, double* block) {
  if (!HasValues(ctx, position, n)) return kBadArg;
  if (access) GetPendingCallAccess(ctx, access);
  block[0] = n;
  double* out = block + 1;
  int64_t cells = 0;
  (void)CopyValueOut(ctx, position, out);
  (void)GetValueSize(ctx, position, &cells);
  out += cells;
  for (int p = n - 1; p >= 0; --p) {
    (void)CopyValueOut(ctx, p, out);
    (void)GetValueSize(ctx, p, &cells);
    out += cells;
  }
  return kOk;
}

// ---------------------------------------------------------------------------
// Natives by name and kind

StatusCode CallNativeByNameAndKind(EngineContext* ctx, const char* name, int32_t kind, void* argument) {
  if (name == nullptr) return kUnknownFun;
  int cursor = -1;
  NativeRef n{};
  while (FindNextNamedRecord(ctx, name, &cursor, &n) != nullptr) {
    if (n.record->kind != kind || n.record->handler == nullptr) continue;
    void* userData = n.record->userData != nullptr ? n.record->userData : ctx->nativeUserData;
    // The callee's objects belong to its class; the caller's class comes back after.
    const int32_t caller = ctx->runningNativeClass;
    ctx->runningNativeClass = NativeClassIdOf(n.library, kind);
    const StatusCode st = HandlerAs<KindedNativeHandler>(n.record->handler)(ctx, argument, userData);
    ctx->runningNativeClass = caller;
    return st;
  }
  return kUnknownFun;
}

// ---------------------------------------------------------------------------
// Named items

StatusCode DefineNamedItem(EngineContext* ctx, const char* name, int32_t value) {
  if (StatusCode st = UnwindFrames(ctx, 0); st != kOk) return st;
  if (value == 0) return kOk;
  if (name == nullptr) return kNullName;
  if (FindNamedItem(ctx, name) != 0) return kInitError;

  const int libs = ctx->libraryCount, items = ctx->namedItemCount;
  const int64_t oldData = DataStackOffset(libs, items);
  const int64_t newData = DataStackOffset(libs, items + 1);
  const auto lost = static_cast<int32_t>((newData - oldData) / 8);
  if (int64_t{ctx->dataTop} + lost >= ctx->dataCapacity) return kDataStackFull;

  // Whatever the data stack holds moves up with its base.
  uint8_t* region = RegionStart(ctx);
  std::memmove(region + newData, region + oldData, int64_t{ctx->dataTop} * sizeof(Cell));
  auto* list = reinterpret_cast<NamedItem*>(region + NamedItemsOffset(libs));
  list[items] = NamedItem{name, value, 0};
  ctx->namedItems = list;
  ctx->namedItemCount = items + 1;
  ctx->dataBase = reinterpret_cast<Cell*>(region + newData);
  ctx->dataCapacity -= lost;
  return kOk;
}

int32_t FindNamedItem(EngineContext* ctx, const char* name) {
  if (name == nullptr) return 0;
  for (int k = 0; k < ctx->namedItemCount; ++k)
    if (std::strcmp(ctx->namedItems[k].name, name) == 0) return ctx->namedItems[k].value;
  return 0;
}

// ---------------------------------------------------------------------------
// Text with line ends

namespace {

int LineEndBytes(int mode) { return mode == kLineEndCrLf ? 2 : 1; }

void WriteLineEnd(char* buffer, int* position, int mode) {
  if (mode == kLineEndCr || mode == kLineEndCrLf) buffer[(*position)++] = '\r';
  if (mode != kLineEndCr) buffer[(*position)++] = '\n';
}

bool Finish(char* buffer, int position, int* length, bool complete) {
  buffer[position] = 0;
  if (length) *length = position;
  return complete;
}

// Low bytes. Writing never passes the character being read, so the text may
// start where the buffer does.
bool NarrowWithLineEnds(int mode, const uint16_t* text, int count, char* buffer, int size, int* length) {
  int pos = 0;
  for (int k = 0; k < count; ++k) {
    uint16_t ch = 0;
    std::memcpy(&ch, text + k, sizeof ch);
    const int need = ch == '\n' ? LineEndBytes(mode) : 1;
    if (pos + need >= size) return Finish(buffer, pos, length, false);
    if (ch == '\n')
      WriteLineEnd(buffer, &pos, mode);
    else
      buffer[pos++] = static_cast<char>(ch & 0xFF);
  }
  return Finish(buffer, pos, length, true);
}

// Before each character four bytes beyond it must stay: the longest character
// or line end and the NUL.
bool EncodeSeparate(CharsetEncoder encode, int mode, const uint16_t* text, int count, char* buffer, int size,
                    int* length) {
  int pos = 0;
  for (int k = 0; k < count; ++k) {
    if (pos + 4 >= size) return Finish(buffer, pos, length, false);
    if (text[k] == '\n')
      WriteLineEnd(buffer, &pos, mode);
    else if (!encode(text[k], buffer, &pos, size - 1))
      return Finish(buffer, pos, length, false);
  }
  return Finish(buffer, pos, length, true);
}

// The text is first moved to the end of the buffer and then encoded from there
// towards the start; an encoding longer than the text would catch up with the
// characters still to read, so the writing stops more than four bytes short.
bool EncodeInPlace(CharsetEncoder encode, int mode, const uint16_t* text, int count, char* buffer, int size,
                   int* length) {
  bool complete = true;
  int64_t n = count;
  if (2 * n + 5 >= size) {
    n = size / 2 - 5 < 0 ? 0 : size / 2 - 5;
    complete = false;
  }
  int read = size - static_cast<int>(2 * n);
  std::memmove(buffer + read, text, 2 * n);
  int pos = 0;
  for (int64_t k = 0; k < n; ++k) {
    if (pos + 4 >= read) return Finish(buffer, pos, length, false);
    uint16_t ch = 0;
    std::memcpy(&ch, buffer + read, sizeof ch);
    read += 2;
    if (ch == '\n')
      WriteLineEnd(buffer, &pos, mode);
    else if (!encode(ch, buffer, &pos, read))
      return Finish(buffer, pos, length, false);
  }
  return Finish(buffer, pos, length, complete);
}

}  // namespace

bool EncodeTextWithLineEnds(EngineContext* ctx, int mode, const uint16_t* text, int count, char* buffer, int size,
                            int* length) {
  if (length) *length = 0;
  if (buffer == nullptr || size < 1) return false;
  if (count < 0) count = 0;
  if (ctx->charsetEncode == nullptr) return NarrowWithLineEnds(mode, text, count, buffer, size, length);
  const auto t = reinterpret_cast<uintptr_t>(text);
  const auto b = reinterpret_cast<uintptr_t>(buffer);
  const bool shared = t < b + size && b < t + 2 * uint64_t(count);
  if (shared) return EncodeInPlace(ctx->charsetEncode, mode, text, count, buffer, size, length);
  return EncodeSeparate(ctx->charsetEncode, mode, text, count, buffer, size, length);
}
