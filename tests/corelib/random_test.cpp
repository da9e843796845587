// The generators bit for bit: the step, the normal transform and its guard
// against a first number of 0, the state forms of rand and randn with their
// reductions and refusals, and which state each builtin advances.
#include <cmath>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "tests/corelib/stack_values.h"

namespace {

class RandomTest : public StackValuesTest {
 protected:
  [[nodiscard]] StatusCode Run(Op op, int nargin) {
    const int16_t ins[2] = {static_cast<int16_t>(op), static_cast<int16_t>(nargin)};
    return ArrayBuilderOpcode(ctx, ins);
  }
  // rand('s', v) or randn('s', v) with v the given row; answers the status.
  [[nodiscard]] StatusCode SetState(Op op, std::vector<double> v) {
    Text("seed");
    Row(v);
    return Run(op, 2);
  }
  std::pair<uint32_t, uint32_t> Words(const RandomGeneratorState& s) { return {s.a, s.b}; }
};

TEST_F(RandomTest, TheFirstUniformStepFromAFreshEngine) {
  EXPECT_EQ(Words(ctx->uniformRandom), std::make_pair(0u, 1u));
  EXPECT_EQ(DrawRandomNumber(ctx, 'u'), 1013633918 * 0x1p-32);
  EXPECT_EQ(Words(ctx->uniformRandom), std::make_pair(1013904223u, 270369u));
  EXPECT_EQ(Words(ctx->normalRandom), std::make_pair(0u, 1u));
}

TEST_F(RandomTest, RandnOfTwoTakesEightNormalStepsAndNoUniformOne) {
  ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
  ASSERT_EQ(Run(Op::Randn, 1), kOk);
  const Seen got = TopArray();
  RandomGeneratorState s = {0, 1};
  std::vector<double> want;
  for (int k = 0; k < 4; ++k) {
    const double u1 = StepRandomGenerator(&s);
    const double u2 = StepRandomGenerator(&s);
    want.push_back(std::sqrt(-2 * std::log(u1)) * std::sin(6.283185307179586 * u2));
  }
  EXPECT_EQ(got.dims, (std::vector<uint32_t>{2, 2}));
  EXPECT_EQ(got.re, want);
  EXPECT_EQ(Words(ctx->normalRandom), Words(s));
  EXPECT_EQ(Words(ctx->uniformRandom), std::make_pair(0u, 1u));
}

// From {187867591, 12345} both words step to the same value: the next u1 is
// exactly 0.
TEST_F(RandomTest, ANormalDrawStepsPastAFirstNumberOfZero) {
  RandomGeneratorState probe = {187867591, 12345};
  ASSERT_EQ(StepRandomGenerator(&probe), 0.0);
  ctx->normalRandom = {187867591, 12345};
  const double x = DrawRandomNumber(ctx, 'n');
  EXPECT_TRUE(std::isfinite(x));
  // Three steps: the 0, then u1 and u2.
  RandomGeneratorState s = {187867591, 12345};
  for (int k = 0; k < 3; ++k) (void)StepRandomGenerator(&s);
  EXPECT_EQ(Words(ctx->normalRandom), Words(s));
}

TEST_F(RandomTest, StateIsReadAndSetWithEveryReduction) {
  struct Case {
    Op op;
    std::vector<double> v;
    uint32_t a, b;
  };
  const Case kCases[] = {
      {Op::Rand, {5}, 5, 1},
      {Op::Randn, {5}, 5, 2},
      {Op::Rand, {5, 7}, 5, 7},
      {Op::Rand, {-1}, 4294967295u, 1},
      {Op::Rand, {4294967296.0 + 3.9, -4294967297.0}, 3, 4294967295u},
      {Op::Rand, {NAN, INFINITY}, 0, 0},
      {Op::Rand, {-INFINITY}, 0, 1},
      // 1e300 mod 2^32, exactly.
      {Op::Rand, {1e300}, static_cast<uint32_t>(std::fmod(1e300, 0x1p32)), 1},
  };
  for (const Case& c : kCases) {
    ASSERT_EQ(SetState(c.op, c.v), kOk);
    const Seen empty = TopArray();
    EXPECT_TRUE(empty.re.empty());
    PopValue(ctx);
    const RandomGeneratorState& s = c.op == Op::Rand ? ctx->uniformRandom : ctx->normalRandom;
    EXPECT_EQ(Words(s), std::make_pair(c.a, c.b)) << c.v[0];
  }
  EXPECT_EQ(ctx->descLength, 0);
}

TEST_F(RandomTest, AStateReadBackRestoresTheStream) {
  for (int k = 0; k < 3; ++k) (void)DrawRandomNumber(ctx, 'u');
  Text("s");
  ASSERT_EQ(Run(Op::Rand, 1), kOk);
  const Seen saved = TopArray();
  EXPECT_EQ(saved.dims, (std::vector<uint32_t>{2, 1}));
  PopValue(ctx);
  const double next = DrawRandomNumber(ctx, 'u');
  (void)DrawRandomNumber(ctx, 'u');
  ASSERT_EQ(SetState(Op::Rand, saved.re), kOk);
  PopValue(ctx);
  EXPECT_EQ(DrawRandomNumber(ctx, 'u'), next);
}

TEST_F(RandomTest, BadStateArgumentsAreRefusedAndLeftInPlace) {
  struct Case {
    const char* what;
    void (*push)(RandomTest*);
    int nargin;
    StatusCode want;
  };
  const Case kCases[] = {
      {"rand('s', [])", [](RandomTest* t) { t->Text("s"), t->Empty(); }, 2, kBadSize},
      {"rand('s', [1 2 3])",
       [](RandomTest* t) {
         t->Text("s"), t->Row({1, 2, 3});
       },
       2, kBadSize},
      {"rand('s', 1, 2)", [](RandomTest* t) { t->Text("s"), t->Scalar(1), t->Scalar(2); }, 3, kTooManyArgin},
      {"rand('s', 'x')", [](RandomTest* t) { t->Text("s"), t->Text("x"); }, 2, kWrongTypeInternal},
  };
  for (const Case& c : kCases) {
    c.push(this);
    const Snapshot before = Take();
    EXPECT_EQ(Run(Op::Rand, c.nargin), c.want) << c.what;
    EXPECT_TRUE(Take() == before) << c.what;
    EXPECT_EQ(Words(ctx->uniformRandom), std::make_pair(0u, 1u)) << c.what;
    while (ctx->descLength > 0) PopValue(ctx);
  }
}

// A draw fills the elements in storage order, and a fill that has no room
// draws nothing, so the repeated instruction gives the same numbers.
TEST_F(RandomTest, AFillShortOfRoomDrawsNothing) {
  Scalar(200);
  ASSERT_EQ(Run(Op::Rand, 1), kDataStackFull);
  EXPECT_EQ(Words(ctx->uniformRandom), std::make_pair(0u, 1u));
  PopValue(ctx);
  Scalar(1);
  Scalar(3);
  ASSERT_EQ(Run(Op::Rand, 2), kOk);
  RandomGeneratorState s = {0, 1};
  std::vector<double> want;
  for (int k = 0; k < 3; ++k) want.push_back(StepRandomGenerator(&s));
  EXPECT_EQ(TopArray().re, want);
}

}  // namespace
