// base64encode and base64decode: the bytes of a char array (the low byte of
// each code) or of an integer or logical array (every byte of every element,
// in memory order) in, a char row of the produced bytes out.
#include "corelib/base64.h"
#include "corelib/corelib.h"

StatusCode Base64Native(EngineContext* ctx, int, int, void* selector) {
  const bool encode = static_cast<char>(reinterpret_cast<intptr_t>(selector)) == 'e';
  int64_t count = 0;
  int bytes = 0;
  void* data = nullptr;
  if (GetIntegerArrayArg(ctx, 0, nullptr, nullptr, &count, &bytes, nullptr, &data) != kOk) return kWrongType;
  const bool text = IsCharArg(ctx, 0);
  if (!text) count *= bytes;

  int64_t room = -1;
  char* buffer = nullptr;
  if (StatusCode st = ReserveStringBuffer(ctx, &room, &buffer); st != kOk) return st;
  // The reserved row lies above the argument, so the argument's storage stays put.
  const auto* codes = static_cast<const uint16_t*>(data);
  const auto* raw = static_cast<const uint8_t*>(data);
  const auto byte = [&](int64_t k) -> uint8_t { return text ? static_cast<uint8_t>(codes[k]) : raw[k]; };
  int64_t n = 0;
  StatusCode st = encode ? base64::Encode(byte, count, buffer, room, &n)
                         : base64::Decode(byte, count, reinterpret_cast<uint8_t*>(buffer), room, &n);
  if (st == kOk) st = FinishStringBuffer(ctx, n);
  if (st == kOk && n == 0) {
    const int32_t empty[] = {0, 0};
    st = ReshapeTopValue(ctx, 2, empty);
  }
  if (st != kOk) {
    (void)DropArgsUnderResults(ctx, 0, 1);
    return st;
  }
  return DropArgsUnderResults(ctx, 1, 1);
}
