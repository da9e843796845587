// The natives' side of calling functions of the language: a native keeps its
// whole state in values on the stack above its arguments (the "held" values,
// the topmost one a real row of state cells), starts one call at a time and
// is entered again with nargin = ~(number of results) when the callee returns.
//
// Once a native has changed its arguments it cannot be run again from them,
// so every failure after that point abandons the call: the held values (and
// any results) are dropped and the error goes up with nothing of the native
// left on the stack.
#pragma once

#include <cstdint>

#include "engine/engine.h"

namespace numeric {

// Drops the top `values` values.
inline void AbandonCall(EngineContext* ctx, int values) { (void)DropArgsUnderResults(ctx, 0, values); }

// The caller has pushed `args` values for the callee above its `held` ones;
// the function value sits `function` values below the top. Asks the machine
// for the call with `results` outputs and the re-entry flag. On failure (501
// for a pending break, 43 for a value that names nothing, or no room for the
// frame) the pushed values and the held ones are dropped.
[[nodiscard]] inline StatusCode StartReentrantCall(EngineContext* ctx, int function, int args, int results, int held) {
  if (StatusCode st = CallFunctionValue(ctx, function, args, results, true); st != kOk) {
    AbandonCall(ctx, args + held);
    return st;
  }
  return kOk;
}

// Finds the state row of `cells` doubles under exactly `results` results.
// Another number of results gives 187 and abandons the call (the results and
// the `held` values go); a value that is no such row gives 43 and touches
// nothing, since the values below may not be the native's at all.
[[nodiscard]] inline StatusCode ReadReentry(EngineContext* ctx, int nargin, int results, int64_t cells, int held,
                                            double** state) {
  const StatusCode st = FindReentryState(ctx, nargin, results, cells, state);
  if (st == kIncorrectNargout && nargin < 0) {
    // The row must still be where the native left it before it is dropped.
    double* row = nullptr;
    if (FindReentryState(ctx, nargin, ~nargin, cells, &row) == kOk) AbandonCall(ctx, ~nargin + held);
  }
  return st;
}

}  // namespace numeric
