// Fuzz target of the base64 decoder: the first byte sets the output room,
// the rest is the text. A decode never writes past its room, says "no room"
// only when more bytes were due, and what it gives survives encoding and
// decoding again. Each group decoded alone moves forward within the text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "corelib/corelib.h"

namespace {

#define Check(ok) CheckAt((ok), __LINE__)
void CheckAt(bool ok, int line) {
  if (ok) return;
  std::fprintf(stderr, "base64_fuzz: check at line %d failed\n", line);
  std::abort();
}

// Guard bytes past the room catch a write beyond it.
constexpr uint8_t kGuard = 0xA5;
constexpr int64_t kGuardBytes = 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int64_t room = data[0];
  const auto* text = reinterpret_cast<const char*>(data + 1);
  const auto length = static_cast<int64_t>(size - 1);

  std::vector<uint8_t> full(static_cast<size_t>(length) + 3);
  int64_t whole = 0;
  Check(DecodeBase64(text, length, full.data(), static_cast<int64_t>(full.size()), &whole) == kOk);
  Check(whole <= length);

  std::vector<uint8_t> cut(static_cast<size_t>(room + kGuardBytes), kGuard);
  int64_t got = -1;
  const StatusCode st = DecodeBase64(text, length, cut.data(), room, &got);
  for (int64_t k = room; k < room + kGuardBytes; ++k) Check(cut[static_cast<size_t>(k)] == kGuard);
  if (st == kOk) {
    Check(got == whole);
    for (int64_t k = 0; k < got; ++k) Check(cut[static_cast<size_t>(k)] == full[static_cast<size_t>(k)]);
  } else {
    Check(st == kDataStackFull && whole > room);
  }

  std::vector<char> encoded(static_cast<size_t>(whole * 2 + 8));
  int64_t n = 0;
  Check(EncodeBase64(full.data(), whole, encoded.data(), static_cast<int64_t>(encoded.size()), &n) == kOk);
  std::vector<uint8_t> again(static_cast<size_t>(whole) + 3);
  int64_t back = 0;
  Check(DecodeBase64(encoded.data(), n, again.data(), static_cast<int64_t>(again.size()), &back) == kOk);
  Check(back == whole);
  for (int64_t k = 0; k < whole; ++k) Check(again[static_cast<size_t>(k)] == full[static_cast<size_t>(k)]);

  for (int64_t p = 0; p < length;) {
    const int64_t before = p;
    uint8_t bytes[3];
    int count = -1;
    DecodeBase64Quartet(text, length, &p, bytes, &count);
    Check(p > before && p <= length && count >= 0 && count <= 3);
    if (count < 3) break;
  }
  return 0;
}
