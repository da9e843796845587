// Growth of the block under a running command: a failure for room is offered
// to the host, which may grow the block where it lies so that the failing
// operation can be repeated.
#include "engine/growth.h"

#include "engine/context.h"

namespace {

// Bytes of the four regions together: what a growth must have added to.
int64_t RegionBytes(const EngineContext* ctx) {
  return int64_t{ctx->dataCapacity} * 8 + int64_t{ctx->heapSize} * 8 + int64_t{ctx->descCapacity} * 4 +
         int64_t{ctx->codeSize} * 2;
}

}  // namespace

void SetBlockGrowthCallback(EngineContext* ctx, BlockGrowthCallback callback, void* userData) {
  ctx->blockGrowth = callback;
  ctx->blockGrowthData = userData;
}

bool IsGrowableRoomCode(StatusCode st) {
  switch (st) {
    case kCompOutOfMemory:
    case kTooManyUserFun:
    // The compiler's records and texts live in the free data stack, its
    // operator stack and a command line's table of variable names in the
    // free descriptor stack, so these limits are their sizes.
    case kTooManyNestedSubexpr:
    case kExprTooLarge:
    case kVarTableOverflow:
      return true;
    default:
      return st >= kDescStackFull && st <= kCodeOverflow;
  }
}

BlockGrowth OfferBlockGrowth(EngineContext* ctx, StatusCode st) {
  if (ctx->blockGrowth == nullptr || !IsGrowableRoomCode(st)) return BlockGrowth::kDeclined;
  const int64_t before = RegionBytes(ctx);
  const int64_t asked = ctx->roomAsked;
  // The function table lies at the start of the code area.
  StatusCode region = st == kTooManyUserFun                                    ? kCodeOverflow
                      : st == kVarTableOverflow || st == kTooManyNestedSubexpr ? kDescStackFull
                      : st > kCodeOverflow                                     ? kDataStackFull
                                                                               : st;
  if (st > kCodeOverflow && ctx->roomRegion != 0) region = ctx->roomRegion;
  ctx->roomRegion = 0;
  const BlockGrowth answer = ctx->blockGrowth(ctx, region, asked, ctx->blockGrowthData);
  // Out of memory names the size; otherwise the next failure tells its own.
  if (answer != BlockGrowth::kOutOfMemory) ctx->roomAsked = -1;
  // A block that did not grow would fail the same way again, for ever.
  if (answer == BlockGrowth::kGrown && RegionBytes(ctx) <= before) return BlockGrowth::kDeclined;
  return answer;
}

StatusCode RaiseOutOfMemory(EngineContext* ctx, StatusCode st) {
  const int64_t asked = ctx->roomAsked;
  ctx->roomAsked = -1;
  if (asked <= 0) return st;
  return RaiseError(ctx, kOutOfMem, -1, 0, asked, nullptr);
}
