// griddata and tsearch on an engine's value stack: in a block that is too
// small at any step (the joined columns, the triangulation, the located
// points, the result) they answer 3 and leave the stack as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "engine/context.h"
#include "numeric/numeric.h"
#include "tests/engine/stack_fixture.h"

namespace {

class ScatteredRoom : public StackFixture {
 protected:
  // Twelve samples of z = 2x - y + 1 (or a triangle of them) and xi, yi of
  // 3 x 40 queries (more than the points, so that
  // the located points, not the triangulation, can be what does not fit), above a filler that leaves `free` cells for
  // the call.
  void Arguments(int64_t free, bool grid) {
    const int64_t start = FreeDataCells(ctx);
    PushArguments(grid);
    const int64_t args = start - FreeDataCells(ctx);
    (void)DropArgsUnderResults(ctx, 0, 5);
    ASSERT_EQ(PushDoubleMatrix(ctx, 1, int32_t(start - free - args), nullptr, nullptr), kOk);
    PushArguments(grid);
    ASSERT_EQ(FreeDataCells(ctx), free);
  }
  void PushArguments(bool grid) {
    double *x = nullptr, *y = nullptr, *z = nullptr;
    ASSERT_EQ(PushDoubleMatrix(ctx, 1, 12, &x, nullptr), kOk);
    for (int k = 0; k < 12; ++k) x[k] = k % 4;
    ASSERT_EQ(PushDoubleMatrix(ctx, 1, 12, &y, nullptr), kOk);
    for (int k = 0; k < 12; ++k) y[k] = k / 4 + 0.1 * (k % 3);
    if (grid) {
      ASSERT_EQ(PushDoubleMatrix(ctx, 12, 1, &z, nullptr), kOk);
      for (int k = 0; k < 12; ++k) z[k] = 2 * x[k] - y[k] + 1;
    } else {
      // (0, 0), (1, 0.1) and (1, 1.2) hold the first query (0.5, 0.4).
      ASSERT_EQ(PushDoubleMatrix(ctx, 1, 3, &z, nullptr), kOk);
      z[0] = 1, z[1] = 2, z[2] = 6;
    }
    double *xi = nullptr, *yi = nullptr;
    ASSERT_EQ(PushDoubleMatrix(ctx, 3, 40, &xi, nullptr), kOk);
    ASSERT_EQ(PushDoubleMatrix(ctx, 3, 40, &yi, nullptr), kOk);
    for (int k = 0; k < 120; ++k) xi[k] = 0.5 + 0.03 * k, yi[k] = 0.4 + 0.1 * (k % 5);
  }
};

TEST_F(ScatteredRoom, EveryShortfallAnswersThreeWithTheStackAsItWas) {
  for (bool grid : {true, false}) {
    int refused = 0, done = 0;
    for (int64_t free = 0; free < 1700; free += 5) {
      const int32_t depth = ctx->descLength;
      Arguments(free, grid);
      const Snapshot before = Take();
      const auto selector = reinterpret_cast<void *>(intptr_t{grid ? 'g' : 't'});
      const StatusCode st = ScatteredNative(ctx, 5, 1, selector);
      if (st == kDataStackFull || st == kDescStackFull) {
        ++refused;
        EXPECT_TRUE(Take() == before) << "free " << free;
      } else {
        ASSERT_EQ(st, kOk) << "free " << free;
        ++done;
        int32_t m = 0, n = 0;
        double *re = nullptr, *im = nullptr;
        ASSERT_EQ(GetDoubleMatrixArg(ctx, 0, &m, &n, &re, &im), kOk);
        ASSERT_EQ(m, 3);
        ASSERT_EQ(n, 40);
        // The first query lies inside; the last, at x = 4.07, beyond the samples.
        EXPECT_NEAR(re[0], grid ? 2 * 0.5 - 0.4 + 1 : 1, 1e-12);
        EXPECT_TRUE(std::isnan(re[119]));
      }
      (void)DropArgsUnderResults(ctx, 0, (ctx->descLength - depth) / 3);
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(done, 0);
  }
}

}  // namespace
