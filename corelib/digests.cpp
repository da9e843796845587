// md5 and sha1 of texts, integer arrays and descriptors; utf8encode and
// utf8decode.

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "corelib/corelib.h"
#include "engine/context.h"
#include "engine/values/textformat.h"
#include "engine/values/valuestack.h"

namespace {

enum class Digest { kMd5, kSha1 };

// Everything a digest needs between blocks. A descriptor read suspended
// with 502 keeps this record on the data stack, byte for byte, so it holds
// no pointers.
struct DigestState {
  uint32_t words[5];
  uint32_t filled;  // bytes in block
  uint64_t bytes;   // bytes hashed so far
  uint8_t block[64];
};
static_assert(sizeof(DigestState) == 96);

constexpr uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

uint32_t LoadLittle(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t LoadBig(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

void Md5Block(uint32_t* h, const uint8_t* block) {
  static constexpr uint32_t kSine[64] = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
      0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
      0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
      0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
      0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
      0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
      0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
  static constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = LoadLittle(block + 4 * i);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
  for (int i = 0; i < 64; ++i) {
    const int round = i / 16;
    uint32_t f = 0;
    int g = 0;
    switch (round) {
      case 0:
        f = (b & c) | (~b & d);
        g = i;
        break;
      case 1:
        f = (d & b) | (~d & c);
        g = (5 * i + 1) % 16;
        break;
      case 2:
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
        break;
      default:
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
        break;
    }
    const uint32_t next = d;
    d = c;
    c = b;
    b += RotateLeft(a + f + kSine[i] + m[g], kShift[round][i % 4]);
    a = next;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
}

void Sha1Block(uint32_t* h, const uint8_t* block) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i) w[i] = LoadBig(block + 4 * i);
  for (int i = 16; i < 80; ++i) w[i] = RotateLeft(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f = 0, k = 0;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5a827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ed9eba1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8f1bbcdc;
    } else {
      f = b ^ c ^ d;
      k = 0xca62c1d6;
    }
    const uint32_t t = RotateLeft(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = RotateLeft(b, 30);
    b = a;
    a = t;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

void StartDigest(Digest kind, DigestState* s) {
  *s = DigestState{};
  static constexpr uint32_t kMd5Start[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  static constexpr uint32_t kSha1Start[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
  if (kind == Digest::kMd5)
    std::memcpy(s->words, kMd5Start, sizeof kMd5Start);
  else
    std::memcpy(s->words, kSha1Start, sizeof kSha1Start);
}

void ProcessBlock(Digest kind, DigestState* s, const uint8_t* block) {
  if (kind == Digest::kMd5)
    Md5Block(s->words, block);
  else
    Sha1Block(s->words, block);
}

void UpdateDigest(Digest kind, DigestState* s, const uint8_t* bytes, uint64_t count) {
  s->bytes += count;
  if (s->filled > 0) {
    const uint64_t take = std::min<uint64_t>(count, 64 - s->filled);
    std::memcpy(s->block + s->filled, bytes, take);
    s->filled += static_cast<uint32_t>(take);
    bytes += take;
    count -= take;
    if (s->filled < 64) return;
    ProcessBlock(kind, s, s->block);
    s->filled = 0;
  }
  for (; count >= 64; bytes += 64, count -= 64) ProcessBlock(kind, s, bytes);
  std::memcpy(s->block, bytes, count);
  s->filled = static_cast<uint32_t>(count);
}

void FinishDigest(Digest kind, DigestState* s) {
  const uint64_t bits = s->bytes * 8;
  s->block[s->filled++] = 0x80;
  if (s->filled > 56) {
    std::memset(s->block + s->filled, 0, 64 - s->filled);
    ProcessBlock(kind, s, s->block);
    s->filled = 0;
  }
  std::memset(s->block + s->filled, 0, 56 - s->filled);
  for (int i = 0; i < 8; ++i) {
    const int shift = kind == Digest::kMd5 ? 8 * i : 56 - 8 * i;
    s->block[56 + i] = static_cast<uint8_t>(bits >> shift);
  }
  ProcessBlock(kind, s, s->block);
}

// Lower-case hexadecimal: MD5's words from their low byte, SHA-1's from the high.
int DigestHex(Digest kind, const DigestState& s, char* out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const int words = kind == Digest::kMd5 ? 4 : 5;
  int n = 0;
  for (int w = 0; w < words; ++w)
    for (int i = 0; i < 4; ++i) {
      const int shift = kind == Digest::kMd5 ? 8 * i : 24 - 8 * i;
      const auto byte = static_cast<uint8_t>(s.words[w] >> shift);
      out[n++] = kDigits[byte >> 4];
      out[n++] = kDigits[byte & 15];
    }
  return n;
}

// Replaces the input on top by the digest text.
[[nodiscard]] StatusCode PushDigest(EngineContext* ctx, Digest kind, DigestState* s) {
  FinishDigest(kind, s);
  char hex[40];
  const int n = DigestHex(kind, *s, hex);
  if (StatusCode st = PushStringFromBytes(ctx, n, hex); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

// Hashes everything the descriptor below the top holds. A read that must
// wait (502) after some bytes were hashed keeps the state above the
// descriptor, with a marker, so that the repeated call goes on from there
// instead of losing those bytes.
[[nodiscard]] StatusCode DigestDescriptor(EngineContext* ctx, Digest kind, int32_t descriptor, DigestState* s) {
  (void)ControlDescriptor(ctx, descriptor, kControlBeforeRead, 0, nullptr, nullptr);
  int64_t free = 0;
  Cell* space = nullptr;
  (void)GetFreeDataSpace(ctx, &free, &space);
  if (free < 8) return kDescStackFull;
  const auto capacity = static_cast<int32_t>(std::min<int64_t>(free, INT32_MAX));
  char* buffer = reinterpret_cast<char*>(space);
  for (;;) {
    int32_t got = 0;
    const StatusCode st = ReadFromDescriptor(ctx, descriptor, buffer, capacity, false, &got);
    if (got > 0) UpdateDigest(kind, s, reinterpret_cast<const uint8_t*>(buffer), static_cast<uint64_t>(got));
    if (st == kEof) return PushDigest(ctx, kind, s);
    if (st == kWouldBlock && s->bytes > 0) {
      void* kept = nullptr;
      const int32_t dims[] = {1, int32_t{sizeof(DigestState)}};
      if (StatusCode push = PushIntegerArray(ctx, 2, dims, 1, true, &kept); push != kOk) return push;
      std::memcpy(kept, s, sizeof(DigestState));
      if (StatusCode push = PushTaggedInteger(ctx, 1); push != kOk) {
        PopValue(ctx);
        return push;
      }
      return kWouldBlock;
    }
    if (st != kOk) return st;
    if (PollBreak(ctx)) return kHalted;
  }
}

[[nodiscard]] StatusCode DigestNative(EngineContext* ctx, Digest kind) {
  DigestState s;
  StartDigest(kind, &s);
  int32_t marker = 0;
  if (GetTaggedInteger(ctx, 0, &marker)) {
    // A suspended descriptor read: its state, then the descriptor.
    const ArrayView kept = ReadArray(DataAt(ctx, 1));
    if (kept.count != int64_t{sizeof(DigestState)}) return kBadArg;
    std::memcpy(&s, kept.data, sizeof(DigestState));
    PopValue(ctx);
    PopValue(ctx);
  } else if (IsCharArg(ctx, 0)) {
    const char* text = nullptr;
    int64_t length = 0;
    if (StatusCode st = GetStringArg(ctx, 0, &text, &length); st != kOk) return ReportedStatus(st);
    UpdateDigest(kind, &s, reinterpret_cast<const uint8_t*>(text), static_cast<uint64_t>(length));
    return PushDigest(ctx, kind, &s);
  } else {
    int64_t count = 0;
    int elementBytes = 0;
    void* data = nullptr;
    if (GetIntegerArrayArg(ctx, 0, nullptr, nullptr, &count, &elementBytes, nullptr, &data) == kOk) {
      // Every byte of every element, in memory order.
      UpdateDigest(kind, &s, static_cast<const uint8_t*>(data), static_cast<uint64_t>(count * elementBytes));
      return PushDigest(ctx, kind, &s);
    }
  }
  // The descriptor stays on the stack until the digest replaces it, so that
  // a call repeated after 502 still has it.
  int32_t descriptor = 0;
  if (StatusCode st = GetIntegerScalarArg(ctx, 0, &descriptor); st != kOk) return ReportedStatus(st);
  return DigestDescriptor(ctx, kind, descriptor, &s);
}

// Bytes a 16-bit code takes in UTF-8.
int Utf8Length(uint16_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : 3; }

}  // namespace

StatusCode Md5Native(EngineContext* ctx, int, int, void*) { return DigestNative(ctx, Digest::kMd5); }

StatusCode Sha1Native(EngineContext* ctx, int, int, void*) { return DigestNative(ctx, Digest::kSha1); }

StatusCode Utf8EncodeNative(EngineContext* ctx, int, int, void*) {
  if (!IsCharArg(ctx, 0)) return kWrongType;
  ArrayView text = ReadArray(DataAt(ctx, 0));
  int64_t total = 0;
  const auto* codes = reinterpret_cast<const uint16_t*>(text.data);
  for (int64_t k = 0; k < text.count; ++k) total += Utf8Length(codes[k]);
  if (total > kMaxIntegerElements) return kObjTooLarge;
  void* out = nullptr;
  const int32_t dims[] = {1, static_cast<int32_t>(total)};
  if (StatusCode st = PushIntegerArray(ctx, 2, dims, 1, true, &out); st != kOk) return st;
  text = ReadArray(DataAt(ctx, 1));
  codes = reinterpret_cast<const uint16_t*>(text.data);
  char* bytes = static_cast<char*>(out);
  for (int64_t k = 0; k < text.count; ++k) {
    int n = 0;
    char one[3];
    (void)AppendUtf8Char(one, &n, codes[k], sizeof one);
    std::memcpy(bytes, one, static_cast<size_t>(n));
    bytes += n;
  }
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode Utf8DecodeNative(EngineContext* ctx, int, int, void*) {
  int64_t count = 0;
  int elementBytes = 0;
  if (GetIntegerArrayArg(ctx, 0, nullptr, nullptr, &count, &elementBytes, nullptr, nullptr) != kOk ||
      elementBytes != 1)
    return kWrongType;
  // Every character takes at least one byte, so a row as long as the input
  // holds the result; it shrinks to what was decoded.
  if (count > kMaxIntegerElements) return kObjTooLarge;
  uint16_t* codes = nullptr;
  if (StatusCode st = PushCharRow(ctx, static_cast<int32_t>(count), &codes); st != kOk) return st;
  const auto* bytes = reinterpret_cast<const char*>(ReadArray(DataAt(ctx, 1)).data);
  int64_t m = 0;
  for (int64_t at = 0; at < count;) {
    int position = 0;
    uint16_t ch = 0;
    if (DecodeUtf8Char(bytes + at, static_cast<int>(std::min<int64_t>(count - at, 3)), &position, &ch)) codes[m++] = ch;
    at += std::max(position, 1);
  }
  // No character gives the empty 0 x 0 text.
  if (StatusCode st = FinishWideStringBuffer(ctx, m); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}
