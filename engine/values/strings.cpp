// Text in and out of character arrays: 8-bit, 16-bit, UTF-8 and the
// context's charset; the reserve-and-finish buffers that let a native write
// text straight into a value; narrowing and encoding of character arguments.
#include <cstring>

#include "engine/values/textformat.h"
#include "engine/values/valuestack.h"

namespace {

// Cuts the top character row down to its first n characters.
void ShrinkTopCharRow(EngineContext* ctx, int64_t n) {
  const uint32_t dims[] = {n > 0 ? 1u : 0u, static_cast<uint32_t>(n)};
  ResizeTopArray(ctx, kCharArray, kUint16, dims, 2, 2 * n);
}

// Characters a reserve request stands for: as given, or all (-1) or half (-2)
// of the free space.
[[nodiscard]] StatusCode ReserveLength(EngineContext* ctx, int64_t* length) {
  const int64_t free = FreeDataCells(ctx);
  if (*length == -1) {
    // A row carries two header cells and keeps one cell spare.
    if (free < 6) return kDataStackFull;
    *length = 4 * free - 24;
  } else if (*length == -2) {
    *length = 2 * free;
  } else if (*length < 0) {
    return kBadArg;
  }
  return kOk;
}

[[nodiscard]] StatusCode ReserveRow(EngineContext* ctx, int64_t* length, uint16_t** codes) {
  if (StatusCode st = ReserveLength(ctx, length); st != kOk) return st;
  if (*length > kMaxIntegerElements) return kObjTooLarge;
  return PushCharRow(ctx, static_cast<int32_t>(*length), codes);
}

// Codes of the top character row and its length.
uint16_t* TopCodes(EngineContext* ctx, int64_t* count) {
  const ArrayView a = ReadArray(TopData(ctx));
  *count = a.count;
  return reinterpret_cast<uint16_t*>(a.data);
}

bool IsCharValue(EngineContext* ctx, int position) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  return d.kind == kBoxed && d.extra == kCharArray;
}

using Decoder = bool (*)(const char*, uint16_t*, int*, int);

int64_t CountDecoded(Decoder decode, const char* text, int length) {
  int64_t n = 0;
  uint16_t ch = 0;
  for (int pos = 0; pos < length;)
    if (decode(text, &ch, &pos, length)) ++n;
  return n;
}

void DecodeInto(Decoder decode, const char* text, int length, uint16_t* out) {
  uint16_t ch = 0;
  for (int pos = 0; pos < length;)
    if (decode(text, &ch, &pos, length)) *out++ = ch;
}

[[nodiscard]] StatusCode PushDecoded(EngineContext* ctx, Decoder decode, int64_t length, const char* text) {
  if (length < 0) length = static_cast<int64_t>(std::strlen(text));
  if (length > INT32_MAX) return kObjTooLarge;
  const int len = static_cast<int>(length);
  const int64_t n = CountDecoded(decode, text, len);
  uint16_t* codes = nullptr;
  if (StatusCode st = PushCharRow(ctx, static_cast<int32_t>(n), &codes); st != kOk) return st;
  DecodeInto(decode, text, len, codes);
  return kOk;
}

// Replaces the reserved row on top, whose first n bytes hold encoded text, by
// the characters they decode to.
[[nodiscard]] StatusCode FinishDecoded(EngineContext* ctx, Decoder decode, int64_t n) {
  int64_t reserved = 0;
  uint16_t* codes = TopCodes(ctx, &reserved);
  if (n < 0 || n > 2 * reserved) return kBadArg;
  const char* text = reinterpret_cast<const char*>(codes);
  const int64_t count = CountDecoded(decode, text, static_cast<int>(n));
  // The bytes become a uint8 row; the characters go into a new row above it.
  const int64_t byteRowCells = ArrayPayloadCells(kUint8, 2, n);
  const int64_t charRowCells = ArrayPayloadCells(kUint16, 2, count);
  const int64_t freeAfter = FreeDataCells(ctx) + DescriptorAt(ctx, 0)->cells - byteRowCells;
  if (charRowCells >= freeAfter) return kDataStackFull;
  if (ctx->descLength + 3 >= ctx->descCapacity) return kDescStackFull;

  const uint32_t dims[] = {n > 0 ? 1u : 0u, static_cast<uint32_t>(n)};
  ResizeTopArray(ctx, kNumericArray, kUint8, dims, 2, n);

  uint16_t* out = nullptr;
  if (StatusCode st = PushCharRow(ctx, static_cast<int32_t>(count), &out); st != kOk) return st;
  DecodeInto(decode, reinterpret_cast<const char*>(ReadArray(DataAt(ctx, 1)).data), static_cast<int>(n), out);
  return DropArgsUnderResults(ctx, 1, 1);
}

}  // namespace

StatusCode PushStringFromBytes(EngineContext* ctx, int64_t length, const char* text) {
  if (length < 0) length = static_cast<int64_t>(std::strlen(text));
  if (length > kMaxIntegerElements) return kObjTooLarge;
  uint16_t* codes = nullptr;
  if (StatusCode st = PushCharRow(ctx, static_cast<int32_t>(length), &codes); st != kOk) return st;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  for (int64_t k = 0; k < length; ++k) codes[k] = bytes[k];
  return kOk;
}

StatusCode PushStringFromWideText(EngineContext* ctx, int64_t length, const uint16_t* text) {
  if (length < 0) {
    length = 0;
    while (text[length] != 0) ++length;
  }
  if (length > kMaxIntegerElements) return kObjTooLarge;
  uint16_t* codes = nullptr;
  if (StatusCode st = PushCharRow(ctx, static_cast<int32_t>(length), &codes); st != kOk) return st;
  std::memcpy(codes, text, length * sizeof(uint16_t));
  return kOk;
}

StatusCode PushStringFromUtf8(EngineContext* ctx, int64_t length, const char* text) {
  return PushDecoded(ctx, Utf8Decode, length, text);
}

StatusCode PushStringFromCharsetText(EngineContext* ctx, int64_t length, const char* text) {
  if (ctx->charsetDecode == nullptr) return PushStringFromBytes(ctx, length, text);
  return PushDecoded(ctx, ctx->charsetDecode, length, text);
}

StatusCode ReserveStringBuffer(EngineContext* ctx, int64_t* length, char** buffer) {
  uint16_t* codes = nullptr;
  if (StatusCode st = ReserveRow(ctx, length, &codes); st != kOk) return st;
  if (buffer) *buffer = reinterpret_cast<char*>(codes);
  return kOk;
}

StatusCode FinishStringBuffer(EngineContext* ctx, int64_t n) {
  int64_t reserved = 0;
  uint16_t* codes = TopCodes(ctx, &reserved);
  if (n < 0 || n > reserved) return kBadArg;
  // Widen from the last byte backwards so no byte is overwritten before it is read.
  const auto* bytes = reinterpret_cast<const uint8_t*>(codes);
  for (int64_t k = n - 1; k >= 0; --k) codes[k] = bytes[k];
  ShrinkTopCharRow(ctx, n);
  return kOk;
}

StatusCode ReserveWideStringBuffer(EngineContext* ctx, int64_t* length, uint16_t** buffer) {
  return ReserveRow(ctx, length, buffer);
}

StatusCode FinishWideStringBuffer(EngineContext* ctx, int64_t n) {
  int64_t reserved = 0;
  TopCodes(ctx, &reserved);
  if (n < 0 || n > reserved) return kBadArg;
  ShrinkTopCharRow(ctx, n);
  return kOk;
}

StatusCode ReserveEncodedTextBuffer(EngineContext* ctx, int64_t* length, char** buffer) {
  const bool whole = *length < 0;
  if (StatusCode st = ReserveStringBuffer(ctx, length, buffer); st != kOk) return st;
  if (whole) *length *= 2;  // the row holds two bytes per character
  return kOk;
}

StatusCode FinishUtf8TextBuffer(EngineContext* ctx, int64_t n) { return FinishDecoded(ctx, Utf8Decode, n); }

StatusCode FinishCharsetTextBuffer(EngineContext* ctx, int64_t n) {
  if (ctx->charsetDecode == nullptr) return FinishStringBuffer(ctx, n);
  return FinishDecoded(ctx, ctx->charsetDecode, n);
}

StatusCode CopyStringArgToBuffer(EngineContext* ctx, int position, char* buffer, int64_t size, int64_t* length) {
  if (!IsCharValue(ctx, position)) return kWrongTypeInternal;
  const ArrayView a = ReadArray(DataAt(ctx, position));
  const int64_t room = length ? size : size - 1;
  if (a.count > room) return kObjTooLarge;
  const auto* codes = reinterpret_cast<const uint16_t*>(a.data);
  for (int64_t k = 0; k < a.count; ++k) buffer[k] = static_cast<char>(codes[k] & 0xFF);
  if (length)
    *length = a.count;
  else
    buffer[a.count] = 0;
  return kOk;
}

StatusCode PopStringToBuffer(EngineContext* ctx, char* buffer, int64_t size, int64_t* length) {
  if (StatusCode st = CopyStringArgToBuffer(ctx, 0, buffer, size, length); st != kOk) return st;
  PopValue(ctx);
  return kOk;
}

StatusCode GetStringArg(EngineContext* ctx, int position, const char** text, int64_t* length) {
  if (!IsCharValue(ctx, position)) return kWrongTypeInternal;
  const ArrayView a = ReadArray(DataAt(ctx, position));
  if (length) *length = a.count;
  if (a.count == 0) {
    // An empty array owns no byte for a terminator; hand out an empty text instead.
    if (text) *text = "";
    return kOk;
  }
  const auto* codes = reinterpret_cast<const uint16_t*>(a.data);
  auto* bytes = reinterpret_cast<char*>(a.data);
  for (int64_t k = 0; k < a.count; ++k) bytes[k] = static_cast<char>(codes[k] & 0xFF);
  bytes[a.count] = 0;
  if (text) *text = bytes;
  return kOk;
}

StatusCode EncodeCharArg(EngineContext* ctx, int position, bool addNul, uint8_t** data, int64_t* length) {
  if (!IsCharValue(ctx, position)) return kWrongTypeInternal;
  (void)RotateValues(ctx, position + 1, 1);
  StatusCode st = kOk;
  int64_t count = 0;
  const uint16_t* codes = TopCodes(ctx, &count);
  int64_t m = count;
  if (ctx->charsetEncode != nullptr) {
    m = 0;
    char scratch[8];
    for (int64_t k = 0; k < count; ++k) {
      int pos = 0;
      ctx->charsetEncode(codes[k], scratch, &pos, sizeof scratch);
      m += pos;
    }
  }
  const int64_t total = m + (addNul ? 1 : 0);
  uint8_t* out = nullptr;
  const int32_t dims[] = {total > 0 ? 1 : 0, static_cast<int32_t>(total)};
  if (total > kMaxIntegerElements) st = kObjTooLarge;
  if (st == kOk) st = PushIntegerArray(ctx, 2, dims, 1, true, reinterpret_cast<void**>(&out));
  if (st == kOk) {
    codes = reinterpret_cast<const uint16_t*>(ReadArray(DataAt(ctx, 1)).data);
    if (ctx->charsetEncode == nullptr) {
      for (int64_t k = 0; k < count; ++k) out[k] = static_cast<uint8_t>(codes[k]);
    } else {
      int pos = 0;
      for (int64_t k = 0; k < count; ++k)
        ctx->charsetEncode(codes[k], reinterpret_cast<char*>(out), &pos, static_cast<int>(m));
    }
    if (addNul) out[m] = 0;
    st = DropArgsUnderResults(ctx, 1, 1);
  }
  (void)RotateValues(ctx, position + 1, position);
  if (st != kOk) return st;
  if (data) *data = reinterpret_cast<uint8_t*>(ReadArray(DataAt(ctx, position)).data);
  if (length) *length = m;
  return kOk;
}
