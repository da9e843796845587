// Base64 over any source of bytes: the codec behind EncodeBase64,
// DecodeBase64 and the base64 natives, which read char arrays code by code
// (the low byte of each) without narrowing them in place.
#pragma once

#include <cstdint>

#include "engine/engine.h"

namespace base64 {

inline constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kOutside = -1;
constexpr int kPad = -2;

constexpr int ValueOf(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return c == '=' ? kPad : kOutside;
}

// byte(k) gives the k-th input byte. Lines of 60 characters, joined by line
// feeds; i + 5 > size stops before a group, whether or not its line feed comes.
template <class Byte>
[[nodiscard]] StatusCode Encode(Byte byte, int64_t length, char* buffer, int64_t size, int64_t* written) {
  int64_t i = 0;
  *written = 0;
  for (int64_t p = 0; p < length; p += 3) {
    if (i + 5 > size) return kDataStackFull;
    if (i % 61 == 60) buffer[i++] = '\n';
    const unsigned b0 = byte(p);
    const bool has1 = p + 1 < length, has2 = p + 2 < length;
    const unsigned b1 = has1 ? byte(p + 1) : 0, b2 = has2 ? byte(p + 2) : 0;
    buffer[i++] = kAlphabet[b0 >> 2];
    buffer[i++] = kAlphabet[((b0 << 4) & 63) | (b1 >> 4)];
    buffer[i++] = has1 ? kAlphabet[((b1 << 2) & 63) | (b2 >> 6)] : '=';
    buffer[i++] = has2 ? kAlphabet[b2 & 63] : '=';
  }
  *written = i;
  return kOk;
}

// One group: up to four alphabet characters, other characters skipped. A '='
// in the first or second place ends the data with no byte; in the third or
// fourth it ends the group (a '=' that follows a third one belongs to it).
// A group cut short by the end gives one byte from two characters, two from
// three, none from one.
template <class Byte>
void Quartet(Byte byte, int64_t end, int64_t* position, uint8_t* bytes, int* count) {
  int v[4] = {0, 0, 0, 0};
  int taken = 0;
  int64_t p = *position;
  bool padded = false;
  while (taken < 4 && p < end) {
    const int value = ValueOf(byte(p++));
    if (value == kOutside) continue;
    if (value == kPad) {
      padded = true;
      break;
    }
    v[taken++] = value;
  }
  if (padded && taken == 2) {
    int64_t q = p;
    while (q < end && ValueOf(byte(q)) == kOutside) ++q;
    if (q < end && ValueOf(byte(q)) == kPad) p = q + 1;
  }
  *position = p;
  *count = taken < 2 ? 0 : taken - 1;
  bytes[0] = static_cast<uint8_t>((v[0] << 2) | (v[1] >> 4));
  bytes[1] = static_cast<uint8_t>((v[1] << 4) | (v[2] >> 2));
  bytes[2] = static_cast<uint8_t>((v[2] << 6) | v[3]);
}

// Stops after a group that gave fewer than three bytes; only the bytes a
// group gives must fit, so trailing blanks never overflow a full buffer.
template <class Byte>
[[nodiscard]] StatusCode Decode(Byte byte, int64_t length, uint8_t* buffer, int64_t size, int64_t* written) {
  int64_t p = 0, n = 0;
  *written = 0;
  while (p < length) {
    uint8_t b[3];
    int c = 0;
    Quartet(byte, length, &p, b, &c);
    if (n + c > size) return kDataStackFull;
    for (int k = 0; k < c; ++k) buffer[n++] = b[k];
    if (c < 3) break;
  }
  *written = n;
  return kOk;
}

}  // namespace base64
