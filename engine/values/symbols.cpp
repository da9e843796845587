// The symbol area: names interned once at the end of the code area, growing
// downwards, each {length byte; bytes}. An id is the entry's offset from the
// area's end, so ids survive moves and saves of the block.
#include <cstring>

#include "engine/context.h"

namespace {

constexpr int kMaxSymbolAreaBytes = 32767;

const uint8_t* AreaEnd(const EngineContext* ctx) {
  return reinterpret_cast<const uint8_t*>(ctx->codeBase + ctx->codeSize);
}

}  // namespace

SymbolId FindSymbol(const EngineContext* ctx, const char* name, int length) {
  const uint8_t* end = AreaEnd(ctx);
  // Newest first: the most recently interned names are the likeliest to be asked for.
  for (const uint8_t* p = end + ctx->symbolBytes; p < end; p += *p + 1)
    if (*p == length && std::memcmp(p + 1, name, length) == 0) return static_cast<SymbolId>(p - end);
  return 0;
}

StatusCode InternSymbol(EngineContext* ctx, const char* name, int length, int maxLength, SymbolId* out) {
  if (length <= 0) return kNullName;
  if (length > maxLength || length > 255) return kNameTooLong;
  if (SymbolId found = FindSymbol(ctx, name, length); found != 0) {
    if (out) *out = found;
    return kOk;
  }
  if (-ctx->symbolBytes + length + 2 > kMaxSymbolAreaBytes) return kSymbTableTooLarge;
  if (2 * int64_t{FreeCodeWords(ctx)} < length + 1) return kCodeOverflow;

  const int32_t id = ctx->symbolBytes - (length + 1);
  uint8_t* entry = reinterpret_cast<uint8_t*>(ctx->codeBase + ctx->codeSize) + id;
  entry[0] = static_cast<uint8_t>(length);
  std::memcpy(entry + 1, name, length);
  ctx->symbolBytes = id;
  if (out) *out = id;
  return kOk;
}

int SymbolLength(const EngineContext* ctx, SymbolId id) { return AreaEnd(ctx)[id]; }

const char* SymbolText(const EngineContext* ctx, SymbolId id) {
  return reinterpret_cast<const char*>(AreaEnd(ctx) + id + 1);
}

bool IsSymbolEntry(const EngineContext* ctx, SymbolId id) {
  if (id >= 0 || id < ctx->symbolBytes) return false;
  const uint8_t* end = AreaEnd(ctx);
  for (int32_t at = ctx->symbolBytes; at < 0; at += end[at] + 1)
    if (at == id) return true;
  return false;
}
