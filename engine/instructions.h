// The loop form of a real range and its one step, which the interpreter loop
// may run inline: a range loop over doubles counts down colon's element count
// instead of comparing against the end, so it runs exactly as often as colon
// would build elements and its counter cannot overflow.
#pragma once

#include "engine/values/valuestack.h"

// A double loop range is a plain real row made by RangeIterator in place of
// its bounds: 2 cells {next value, remaining count} step 1; 3 cells {next
// value, step, remaining count}; 4 cells as 3 with a last cell marking a
// single-precision range (its values are pushed as single). The next value
// advances by repeated addition, as colon builds its elements.
constexpr int32_t kSingleLoopRangeCells = 4;

inline bool IsDoubleLoopRange(const ValueDescriptor& d) {
  return d.kind == 0 && d.cells >= 2 && d.cells <= 3 && d.extra == d.cells;
}

// One step of the double loop range on top (IsDoubleLoopRange): pushes the
// next value, or answers 29 when the range is spent; 1 or 3 without room,
// leaving the range as it was.
[[nodiscard]] inline StatusCode StepDoubleLoopRange(EngineContext* ctx) {
  const int32_t n = DescriptorAt(ctx, 0)->cells;
  Cell* r = ctx->dataBase + ctx->dataTop - n;
  const double remaining = r[n - 1].f;
  if (!(remaining >= 1)) return kIndexOutOfRange;
  const double x = r[0].f;
  Cell* pushed = nullptr;
  if (StatusCode st = PushValue(ctx, 0, 1, 1, Room::kStrict, &pushed); st != kOk) return st;
  pushed->f = x;
  r[0].f = x + (n == 2 ? 1.0 : r[1].f);
  r[n - 1].f = remaining - 1;
  return kOk;
}
