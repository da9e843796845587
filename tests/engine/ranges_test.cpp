// Real and complex ranges: how many elements a start, step and end give,
// negative and tiny steps included, and where the counts are refused.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/engine/stack_fixture.h"

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

class RangesTest : public StackFixture {
 protected:
  RangesTest() : StackFixture({.blockCells = 1 << 16}) {}

  // The element count of the range on top (0 for []), popped.
  int64_t TopCount() {
    NumericView v;
    EXPECT_TRUE(ReadNumeric(ctx, 0, &v));
    const int64_t n = v.count;
    PopValue(ctx);
    return n;
  }
};

TEST_F(RangesTest, RealCounts) {
  struct Case {
    double start, step, stop;
    StatusCode want;
    int64_t count;
  };
  const Case kCases[] = {
      {1, 1, 5, kOk, 5},
      {1, 0.5, 2, kOk, 3},
      {0, 0.1, 0.7, kOk, 8},
      {0, 0.1, 1, kOk, 11},
      {5, 1, 1, kOk, 0},
      {1, -1, 3, kOk, 0},
      {3, -1, 1, kOk, 3},
      {-1, -0.25, -2, kOk, 5},
      {0, 1e-3, 1, kOk, 1001},
      {1, 0, 5, kObjTooLarge, 0},
      {5, 0, 1, kOk, 0},
      {1, 0, 1, kOk, 0},
      {1, 1, kInf, kObjTooLarge, 0},
      {1, 1, kNaN, kOk, 0},
      {0, 1e-300, 1, kObjTooLarge, 0},
      {1, 1, 2147483648, kObjTooLarge, 0},
      {1, 1, 2147483647, kDataStackFull, 0},
      {kNaN, 1, 3, kOk, 0},
      {-kInf, 1, 0, kObjTooLarge, 0},
  };
  for (const Case& c : kCases) {
    const StatusCode st = PushRange(ctx, c.start, c.stop, c.step, false);
    ASSERT_EQ(st, c.want) << c.start << ":" << c.step << ":" << c.stop;
    if (st == kOk) {
      EXPECT_EQ(TopCount(), c.count) << c.start << ":" << c.step << ":" << c.stop;
    }
  }
}

// The last element comes from repeated addition, so it may miss the end by
// the rounding of the additions but is never dropped.
TEST_F(RangesTest, ElementsAccumulateTheStep) {
  ASSERT_EQ(PushRange(ctx, 0, 0.7, 0.1, false), kOk);
  double x = 0;
  const double* re = &TopData(ctx)->f;
  for (int k = 0; k < 8; ++k, x += 0.1) EXPECT_EQ(re[k], x) << k;
  PopValue(ctx);
  ASSERT_EQ(PushRange(ctx, 1, 3, 1, true), kOk);
  NumericView v;
  ASSERT_TRUE(ReadNumeric(ctx, 0, &v));
  EXPECT_EQ(v.cls, kSingle);
  EXPECT_EQ(RealElement(v, 2), 3);
}

TEST_F(RangesTest, ComplexCounts) {
  struct Case {
    double sr, si, tr, ti, er, ei;  // start, step, end
    StatusCode want;
    int64_t count;
  };
  const Case kCases[] = {
      {0, 0, 0, 1, 0, 3, kOk, 4},    // 0:1i:3i
      {1, 1, 1, 0, 3, 3, kOk, 5},    // the step's projection onto end - start
      {1, 1, 1, 0, 1, 1, kOk, 1},    // start = end: the scalar
      {1, 1, 1, 0, 0, 0, kOk, 0},    // pointing away
      {1, 1, 0, 1, 5, 1, kOk, 1},    // a step across the line: start alone
      {0, 0, 0, -1, 0, -2, kOk, 3},  // a negative imaginary step
      {0, 0, 0.5, 0.5, 1, 1, kOk, 3}, {0, 0, 0, 1e-10, 0, 1, kObjTooLarge, 0},  // refused before any walk
      {0, 0, kNaN, 0, 1, 1, kOk, 1},
  };
  for (const Case& c : kCases) {
    const StatusCode st = PushComplexRange(ctx, c.sr, c.si, c.er, c.ei, c.tr, c.ti, false);
    ASSERT_EQ(st, c.want) << c.sr << "+" << c.si << "i step " << c.tr << "+" << c.ti << "i";
    if (st == kOk) {
      EXPECT_EQ(TopCount(), c.count) << c.sr << "+" << c.si << "i step " << c.tr << "+" << c.ti << "i";
    }
  }
}

// A range that needs more room than there is fails with the data stack's
// status and leaves the stack as it was.
TEST_F(RangesTest, ShortOfRoomChangesNothing) {
  const int32_t before = ctx->dataTop;
  EXPECT_EQ(PushRange(ctx, 1, 1e6, 1, false), kDataStackFull);
  EXPECT_EQ(ctx->dataTop, before);
  // A walk that meets the end of the data stack before the end of the range
  // must not push the part it counted.
  for (double stop : {40000.0, 1e8}) {
    EXPECT_EQ(PushComplexRange(ctx, 0, 0, 0, stop, 0, 1, false), kDataStackFull) << stop;
    EXPECT_EQ(ctx->dataTop, before);
  }
}

}  // namespace
