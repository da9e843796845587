// Argument and result helpers the linear-algebra natives share: a matrix read
// from the value stack as its shape and blocks, results pushed and read back,
// and doubles of scratch past the data end.
#pragma once

#include <cstdint>

#include "engine/engine.h"

namespace numeric {

struct Matrix {
  int32_t m = 0, n = 0;
  double* re = nullptr;
  double* im = nullptr;
  int64_t count() const { return int64_t{m} * n; }
};

[[nodiscard]] inline StatusCode ReadMatrix(EngineContext* ctx, int position, Matrix* a) {
  return GetDoubleMatrixArg(ctx, position, &a->m, &a->n, &a->re, &a->im);
}

// The kernels' work areas are doubles; integer lists sit inside them.
[[nodiscard]] inline StatusCode Scratch(EngineContext* ctx, int64_t doubles, double** p) {
  Cell* c = nullptr;
  if (StatusCode st = GetScratchAtDataEnd(ctx, doubles, &c); st != kOk) return st;
  *p = &c->f;
  return kOk;
}

// Pushes an m x n result (complex on request) and reads it back.
[[nodiscard]] inline StatusCode PushResult(EngineContext* ctx, int32_t m, int32_t n, bool complex, Matrix* out) {
  double *re = nullptr, *im = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, m, n, &re, complex ? &im : nullptr); st != kOk) return st;
  return ReadMatrix(ctx, 0, out);
}

inline void PopValues(EngineContext* ctx, int k) { (void)DropArgsUnderResults(ctx, 0, k); }

// Pushes real results of the given shapes in order, the last on top; after a
// failure none of them stays.
[[nodiscard]] inline StatusCode PushRealResults(EngineContext* ctx, const int32_t (*shapes)[2], int count,
                                                Matrix* out) {
  for (int k = 0; k < count; ++k) {
    if (StatusCode st = PushResult(ctx, shapes[k][0], shapes[k][1], false, &out[k]); st != kOk) {
      PopValues(ctx, k);
      return st;
    }
  }
  return kOk;
}

// The first letter of the text at position (0 for an empty text), which stays
// where it is: GetStringArg spends the value it reads, so it reads a copy.
[[nodiscard]] inline StatusCode ReadFirstLetter(EngineContext* ctx, int position, char* letter) {
  if (StatusCode st = DuplicateValues(ctx, position, 1); st != kOk) return st;
  const char* text = nullptr;
  int64_t length = 0;
  const StatusCode st = GetStringArg(ctx, 0, &text, &length);
  *letter = (st == kOk && length > 0) ? text[0] : 0;
  PopValues(ctx, 1);
  return ReportedStatus(st);
}

}  // namespace numeric
