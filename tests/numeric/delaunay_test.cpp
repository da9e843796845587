// The triangulation natives on an engine's value stack: a break stops a long
// insertion with 501 and leaves the points for a rerun, and a block too small
// for the simplex list answers 3 with the stack as it was.
#include <gtest/gtest.h>

#include <random>

#include "engine/context.h"
#include "numeric/numeric.h"
#include "tests/engine/stack_fixture.h"

namespace {

class DelaunayTest : public StackFixture {
 protected:
  DelaunayTest() : StackFixture({.blockCells = 1 << 20}) {}
  int Depth() const { return ctx->descLength / 3; }
  void Points(int m, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> d(0, 1);
    double* re = nullptr;
    ASSERT_EQ(PushDoubleMatrix(ctx, m, 2, &re, nullptr), kOk);
    for (int k = 0; k < 2 * m; ++k) re[k] = d(gen);
  }
};

int polls = 0;
bool BreakAfterTen(void*) { return ++polls > 10; }

TEST_F(DelaunayTest, BreakStopsTheInsertionAndKeepsThePoints) {
  Points(2000, 7);
  const int before = Depth();
  polls = 0;
  ctx->breakPoll = &BreakAfterTen;
  EXPECT_EQ(DelaunaynNative(ctx, 1, 2, nullptr), kHalted);
  EXPECT_EQ(polls, 11);
  EXPECT_EQ(Depth(), before);
  ctx->breakPoll = nullptr;
  ASSERT_EQ(DelaunaynNative(ctx, 1, 2, nullptr), kOk);
  EXPECT_EQ(Depth(), before + 1);
  int32_t m = 0, n = 0;
  double *re = nullptr, *im = nullptr;
  ASSERT_EQ(GetDoubleMatrixArg(ctx, 0, &m, &n, &re, &im), kOk);
  EXPECT_EQ(n, 3);
  EXPECT_GT(m, 2000);
}

// The default block holds the points and their extended copy, not the list.
class DelaunayRoom : public StackFixture {};

TEST_F(DelaunayRoom, TooSmallABlockAnswersThreeAndKeepsThePoints) {
  EngineContext* c = ctx;
  double* re = nullptr;
  const int m = 1000;
  ASSERT_EQ(PushDoubleMatrix(c, m, 2, &re, nullptr), kOk);
  for (int k = 0; k < 2 * m; ++k) re[k] = (k * 0.6180339887) - int(k * 0.6180339887);
  const int32_t before = c->descLength;
  EXPECT_EQ(DelaunaynNative(c, 1, 1, nullptr), kDataStackFull);
  EXPECT_EQ(c->descLength, before);
  int32_t rows = 0, cols = 0;
  double* im = nullptr;
  ASSERT_EQ(GetDoubleMatrixArg(c, 0, &rows, &cols, &re, &im), kOk);
  EXPECT_EQ(rows, m);
}

}  // namespace
