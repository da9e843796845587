// Inline function values made by the inline builtin: the payload read back
// (code, the wrapper text, the bound values) and a failing compile that
// leaves the stacks as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/bytecode.h"
#include "engine/frames.h"
#include "engine/function.h"
#include "engine/values/valuestack.h"
#include "engine/vm.h"
#include "tests/engine/stack_fixture.h"

namespace {

constexpr int16_t W(Op op) { return static_cast<int16_t>(op); }

class FunctionValuesTest : public StackFixture {
 protected:
  FunctionValuesTest() : StackFixture({.blockCells = 64 * 1024, .messages = true}) {}

  void SetUp() override {
    StackFixture::SetUp();
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  }

  StatusCode Inline(int n) {
    const int16_t ins[] = {W(Op::Inline), static_cast<int16_t>(n)};
    return OpInline(ctx, ins);
  }

  void PushText(const char* text) { ASSERT_EQ(PushStringFromBytes(ctx, -1, text), kOk); }
};

TEST_F(FunctionValuesTest, PayloadHoldsCodeTextAndBoundValues) {
  const int32_t below = ctx->descLength;
  PushText("k*x+m");
  ASSERT_EQ(PushRealScalar(ctx, 3), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 1, false, "k", 1), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 1, true, "m", 1), kOk);
  ASSERT_EQ(Inline(2), kOk);
  ASSERT_EQ(ctx->descLength, below + 3);
  EXPECT_EQ(Top().kind, uint32_t{kBoxed});
  EXPECT_EQ(Top().extra, kInlineFunction);

  const int16_t* code = nullptr;
  const char* source = nullptr;
  int length = 0;
  Cell* bound = nullptr;
  ASSERT_EQ(GetInlineFunctionParts(ctx, 0, &code, &source, &length, &bound), kOk);
  EXPECT_EQ(std::string(source, length), "function y=f(_,x);(k,m)=deal(_{:});y=k*x+m;");
  const auto* header = reinterpret_cast<const CompiledFunctionHeader*>(code);
  EXPECT_EQ(header->inputs, 2);
  EXPECT_EQ(header->outputs, 1);

  // The bound value is the list of the fields' values, in the fields' order.
  ASSERT_NE(bound, nullptr);
  ASSERT_EQ(PushCopiedValue(ctx, reinterpret_cast<const double*>(bound)), kOk);
  EXPECT_EQ(Top().kind, uint32_t{kComposite});
  EXPECT_EQ(Top().extra, kList);
  int32_t count = 0;
  ASSERT_EQ(ExplodeTopList(ctx, &count), kOk);
  ASSERT_EQ(count, 2);
  double a = 0, b = 0;
  ASSERT_EQ(GetRealScalarArg(ctx, 0, &a), kOk);
  ASSERT_EQ(GetRealScalarArg(ctx, 1, &b), kOk);
  EXPECT_EQ(b, 3) << "k is the first value";
  EXPECT_EQ(a, 1);
}

TEST_F(FunctionValuesTest, FunctionWithoutParametersKeepsNoBoundValue) {
  PushText("2*t");
  ASSERT_EQ(Inline(1), kOk);
  const char* source = nullptr;
  int length = 0;
  Cell* bound = reinterpret_cast<Cell*>(1);
  ASSERT_EQ(GetInlineFunctionParts(ctx, 0, nullptr, &source, &length, &bound), kOk);
  EXPECT_EQ(std::string(source, length), "function y=f(t);y=2*t;");
  EXPECT_EQ(bound, nullptr);
}

TEST_F(FunctionValuesTest, FailingCompileLeavesTheStacksAsTheyWere) {
  for (const char* text : {"1+", "(x", "function y=f(x);y=(;"}) {
    PushText(text);
    ASSERT_EQ(PushRealScalar(ctx, 5), kOk);
    ASSERT_EQ(MakeListFromValues(ctx, 1, false, "a", 1), kOk);
    const Snapshot before = Take();
    const int32_t capacity = ctx->dataCapacity;
    EXPECT_NE(Inline(2), kOk) << text;
    // The frame notes where the error arose; the values above it stay.
    const Snapshot after = Take();
    const int32_t values = FrameExtent(FrameAt(ctx, 0));
    ASSERT_EQ(after.words.size(), before.words.size()) << text;
    EXPECT_TRUE(std::equal(after.words.begin() + values, after.words.end(), before.words.begin() + values)) << text;
    EXPECT_EQ(after.cells, before.cells) << text;
    EXPECT_EQ(ctx->dataCapacity, capacity) << text;
    PopValue(ctx);
    PopValue(ctx);
  }
}

}  // namespace
