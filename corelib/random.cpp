// The two random generators of the running thread: one step of a generator,
// uniform and normal draws, and the state forms of rand and randn. Each state
// pairs a linear congruential word with a xorshift word; a draw is their XOR
// read as a fraction of 2^32, so runs repeat exactly from the same state.
#include <cmath>

#include "corelib/corelib.h"
#include "engine/context.h"
#include "engine/values/valuestack.h"

double StepRandomGenerator(RandomGeneratorState* state) {
  state->a = state->a * 1664525u + 1013904223u;
  uint32_t t = state->b;
  t ^= t << 13;
  t ^= t >> 17;
  t ^= t << 5;
  state->b = t;
  return (state->a ^ state->b) * 0x1p-32;
}

double DrawRandomNumber(EngineContext* ctx, char kind) {
  if (kind != 'n') return StepRandomGenerator(&ctx->uniformRandom);
  // u1 = 0 would make the logarithm infinite; the generator steps on instead.
  double u1 = 0;
  while (u1 == 0) u1 = StepRandomGenerator(&ctx->normalRandom);
  const double radius = std::sqrt(-2 * std::log(u1));
  return radius * std::sin(6.283185307179586 * StepRandomGenerator(&ctx->normalRandom));
}

namespace {

// A state word from a double: truncated and reduced modulo 2^32 exactly; a
// value with no integer part to reduce (NaN, Inf) is 0.
uint32_t StateWord(double x) {
  if (!std::isfinite(x)) return 0;
  double r = std::fmod(std::trunc(x), 0x1p32);
  if (r < 0) r += 0x1p32;
  return static_cast<uint32_t>(r);
}

}  // namespace

StatusCode AccessRandomState(EngineContext* ctx, char kind, int nargin) {
  RandomGeneratorState* state = kind == 'n' ? &ctx->normalRandom : &ctx->uniformRandom;
  if (nargin > 2) return kTooManyArgin;
  if (nargin == 1) {
    double* column = nullptr;
    if (StatusCode st = PushDoubleMatrix(ctx, 2, 1, &column, nullptr); st != kOk) return st;
    column[0] = state->a;
    column[1] = state->b;
    return DropArgsUnderResults(ctx, 1, 1);
  }
  const ValueDescriptor& d = *DescriptorAt(ctx, 0);
  if (!IsPlainMatrix(d)) return kWrongTypeInternal;
  const int64_t count = int64_t{PlainRows(d)} * d.extra;
  if (count < 1 || count > 2) return kBadSize;
  const double* words = &DataAt(ctx, 0)->f;
  const RandomGeneratorState next = {StateWord(words[0]), count == 2 ? StateWord(words[1]) : (kind == 'n' ? 2u : 1u)};
  if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) return st;
  *state = next;
  return DropArgsUnderResults(ctx, 1, 2);
}
