// Real and complex ranges as rows: the colon operator's values. Elements come
// from repeated addition of the step, as a for loop advances its variable, so
// a stored range and a loop over the same bounds visit the same numbers.
#include <cmath>

#include "engine/values/doublemath.h"
#include "engine/values/valuestack.h"

namespace {

// Complex ranges hold half as many elements as real ones: two cells each.
constexpr double kMaxComplexRangeElements = 1073741823;

// Re(z / d) for z = zr + i zi, as the projection onto d over |d|^2.
double Projection(double zr, double zi, double dr, double di, double norm) { return (zr * dr + zi * di) / norm; }

}  // namespace

StatusCode PushRange(EngineContext* ctx, double start, double stop, double step, bool single) {
  int64_t count = 0;
  if (!RangeElementCount(start, step, stop, &count)) return kObjTooLarge;
  if (count <= 0) return PushEmptyMatrix(ctx);
  double x = start;
  if (single) {
    const int32_t dims[2] = {1, static_cast<int32_t>(count)};
    float* re = nullptr;
    if (StatusCode st = PushSingleArray(ctx, 2, dims, &re, nullptr); st != kOk) return st;
    for (int64_t k = 0; k < count; ++k, x += step) re[k] = static_cast<float>(x);
    return kOk;
  }
  double* re = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, 1, static_cast<int32_t>(count), &re, nullptr); st != kOk) return st;
  for (int64_t k = 0; k < count; ++k, x += step) re[k] = x;
  return kOk;
}

StatusCode PushComplexRange(EngineContext* ctx, double startRe, double startIm, double stopRe, double stopIm,
                            double stepRe, double stepIm, bool single) {
  if (startRe == stopRe && startIm == stopIm) {
    if (single) return PushSingleScalar(ctx, startRe, startIm, startIm != 0);
    return PushComplexScalar(ctx, startRe, startIm);
  }
  const double dr = stopRe - startRe, di = stopIm - startIm;
  const double norm = dr * dr + di * di;
  const double a = Projection(stepRe, stepIm, dr, di, norm);
  if (a < 0) return PushEmptyMatrix(ctx);
  int64_t count = 1;
  if (a > 0) {
    // Bounded before any walk: a tiny step must not count a billion points
    // only to be refused.
    if (std::floor(1 / a) + 1 > kMaxComplexRangeElements) return kObjTooLarge;
    const int64_t capacity = ctx->dataCapacity;
    count = 0;
    double pr = startRe, pi = startIm;
    bool within = true;
    while ((within = Projection(pr - startRe, pi - startIm, dr, di, norm) <= 1) && 2 * count < capacity) {
      ++count;
      pr += stepRe;
      pi += stepIm;
    }
    if (within) {
      // The walk reached the end of the data stack, not of the range: a
      // row cut there would be a wrong answer, so the host grows and repeats.
      ctx->roomAsked = static_cast<int64_t>(2 * (std::floor(1 / a) + 1) + 1) * int64_t{sizeof(Cell)};
      return kDataStackFull;
    }
    if (count == 0) return PushEmptyMatrix(ctx);
    if (count > kMaxComplexRangeElements) return kObjTooLarge;
  }
  double pr = startRe, pi = startIm;
  if (single) {
    const int32_t dims[2] = {1, static_cast<int32_t>(count)};
    float* re = nullptr;
    float* im = nullptr;
    if (StatusCode st = PushSingleArray(ctx, 2, dims, &re, &im); st != kOk) return st;
    for (int64_t k = 0; k < count; ++k, pr += stepRe, pi += stepIm) {
      re[k] = static_cast<float>(pr);
      im[k] = static_cast<float>(pi);
    }
    return kOk;
  }
  double* re = nullptr;
  double* im = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, 1, static_cast<int32_t>(count), &re, &im); st != kOk) return st;
  for (int64_t k = 0; k < count; ++k, pr += stepRe, pi += stepIm) {
    re[k] = pr;
    im[k] = pi;
  }
  return kOk;
}
