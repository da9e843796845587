// Command lines compiled onto the data stack and run: the base frame's table
// of names (growth, variables that never got a value), functions typed at the
// command line, errors and what they leave behind, eval, and code fragments.
#include "engine/evaluate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/bytecode.h"
#include "engine/heap.h"
#include "engine/vm.h"
#include "tests/engine/stack_fixture.h"

namespace {

class EvaluateTest : public StackFixture {
 protected:
  EvaluateTest() : StackFixture({.blockCells = 512 * 1024, .messages = true}) {}

  void SetUp() override {
    Reset();
    CaptureDescriptor(2, &errors);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  }

  // The base frame's variable as a real scalar; -1 when it has no value, -2
  // when the table does not name it.
  double Variable(const std::string& name) {
    const int32_t value = BaseVariableValue(name);
    if (value <= 0) return value == 0 ? -1 : -2;
    EXPECT_EQ(VariableDescriptor(ctx, value).cells, 1) << name;
    return ctx->heapBase[value + kVariableHeaderCells].f;
  }

  // Only the base frame is left, with `values` values above it.
  void ExpectBaseOnly(int values) {
    EXPECT_EQ(ctx->frameIndex, 0);
    EXPECT_EQ(ctx->descLength, FrameExtent(FrameAt(ctx, 0)) + 3 * values);
    EXPECT_EQ(ctx->pc.space, kNoCode);
  }

  std::string errors;
};

TEST_F(EvaluateTest, CommandLinesAssignBaseVariables) {
  EXPECT_EQ(Command("x = 3; y = x;"), kOk);
  EXPECT_EQ(Variable("x"), 3);
  EXPECT_EQ(Variable("y"), 3);
  EXPECT_EQ(Command("z = y;"), kOk);
  EXPECT_EQ(Variable("z"), 3);
  ExpectBaseOnly(0);
  EXPECT_EQ(errors, "");
}

TEST_F(EvaluateTest, EmptyCommandLineCompilesToNothing) {
  for (const char* text : {"", "   ", "% only a comment\n"}) {
    EXPECT_EQ(EvaluateCommandLine(ctx, text, static_cast<int32_t>(std::strlen(text)), true), kSuspended) << text;
    EXPECT_EQ(RunInterpreter(ctx, 0), kOk) << text;
    ExpectBaseOnly(0);
  }
}

// More new names than the table has room for: it grows and the command is
// compiled again; values above the base frame move with it.
TEST_F(EvaluateTest, BaseTableGrowsForManyNewVariables) {
  std::string text;
  for (int k = 1; k <= 60; ++k) text += "v" + std::to_string(k) + " = " + std::to_string(k) + ";";
  ASSERT_EQ(PushRealScalar(ctx, 42), kOk);
  EXPECT_EQ(Command(text), kOk);
  for (int k = 1; k <= 60; ++k) EXPECT_EQ(Variable("v" + std::to_string(k)), k) << k;
  EXPECT_GE(FrameAt(ctx, 0)->nameCapacity, 61);
  ExpectBaseOnly(1);
  EXPECT_EQ(TopScalar(), 42);
}

TEST_F(EvaluateTest, NamesOfFailedCommandLineDisappear) {
  EXPECT_EQ(Command("a = 1;"), kOk);
  EXPECT_NE(Command("b = 2; w = nosuchfunction(1);"), kOk);
  EXPECT_EQ(Variable("w"), -1);  // named but never assigned
  EXPECT_EQ(Variable("b"), 2);
  EXPECT_EQ(Command("c = a;"), kOk);
  EXPECT_EQ(Variable("w"), -2);
  EXPECT_EQ(Variable("a"), 1);
  EXPECT_EQ(Variable("b"), 2);
  EXPECT_EQ(Variable("c"), 1);
  // "ans" keeps slot 0 even without a value.
  const char* names = reinterpret_cast<const char*>(FrameSlots(FrameAt(ctx, 0)) + FrameAt(ctx, 0)->nameCapacity);
  EXPECT_STREQ(names, "ans");
}

TEST_F(EvaluateTest, CompileErrorIsPrintedAndLeavesNothing) {
  ASSERT_EQ(Command("k = 5;"), kOk);
  const std::string text = "k = (";
  const StatusCode st = EvaluateCommandLine(ctx, text.data(), static_cast<int32_t>(text.size()), true);
  EXPECT_NE(st, kSuspended);
  EXPECT_NE(st, kOk);
  EXPECT_NE(errors, "");
  ExpectBaseOnly(0);
  EXPECT_EQ(Variable("k"), 5);
  // The engine still takes command lines.
  errors.clear();
  EXPECT_EQ(Command("k = 6;"), kOk);
  EXPECT_EQ(Variable("k"), 6);
  EXPECT_EQ(errors, "");
}

TEST_F(EvaluateTest, FunctionTypedAgainReplacesTheOldOne) {
  EXPECT_EQ(Command("function r = f(a)\n  r = a;\nendfunction\nout = f(4);"), kOk) << errors;
  EXPECT_EQ(Variable("out"), 4);
  EXPECT_EQ(Command("function r = f(a)\n  r = 9;\nendfunction\nout = f(4);"), kOk) << errors;
  EXPECT_EQ(Variable("out"), 9);
  // A later command line still sees it.
  EXPECT_EQ(Command("again = f(1);"), kOk) << errors;
  EXPECT_EQ(Variable("again"), 9);
  ExpectBaseOnly(0);
}

TEST_F(EvaluateTest, EvalRunsInTheCallersScope) {
  EXPECT_EQ(Command("p = 2; eval('q = p;');"), kOk) << errors;
  EXPECT_EQ(Variable("q"), 2);
  EXPECT_EQ(Command("r = eval('p');"), kOk) << errors;
  EXPECT_EQ(Variable("r"), 2);
  ExpectBaseOnly(0);
}

TEST_F(EvaluateTest, EvalErrors) {
  struct Case {
    const char* text;
    StatusCode want;
    int frames;  // left above the base frame
  };
  const Case kCases[] = {
      {"eval(5);", kWrongType, 1},
      {"eval('x = (');", kIncompleteExpr, 1},
      // A function's variables are fixed when it is compiled.
      {"function g()\n  local = 1;\n  eval('fresh = local;');\nendfunction\ng();", kVarTableOverflow, 2},
      // Without variables it has no table to add to at all.
      {"function h()\n  eval('fresh = 1;');\nendfunction\nh();", kVarNotFound, 2},
  };
  for (const Case& c : kCases) {
    errors.clear();
    EXPECT_EQ(Command(c.text), c.want) << c.text;
    EXPECT_NE(errors, "") << c.text;
    // eval's frame is gone; what an uncaught error leaves for the trace
    // (the command line's frame and the function's) goes with the next
    // command line.
    int above = 0;
    for (CallFrame* f = CurrentFrame(ctx); f != nullptr && !IsBaseFrame(f); f = PreviousFrame(ctx, f)) ++above;
    EXPECT_EQ(above, c.frames) << c.text;
    EXPECT_EQ(Command("after = 1;"), kOk) << c.text;
    ExpectBaseOnly(0);
  }
}

// A fragment runs over the values under it and leaves its outputs.
TEST_F(EvaluateTest, CodeFragmentKeepsItsOutputs) {
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  const int16_t words[] = {static_cast<int16_t>(Op::PushSmallInt), 7};
  ASSERT_EQ(EnterCodeFragment(ctx, words, 2, 1, 1, 2, 0, false), kOk);
  EXPECT_EQ(CurrentFrame(ctx)->variableCount, 2);
  EXPECT_EQ(RunInterpreter(ctx, 0), kOk);
  ExpectBaseOnly(1);
  EXPECT_EQ(TopScalar(), 7);
}

TEST_F(EvaluateTest, DiscardEvalFrameThroughTheServiceTable) {
  ASSERT_EQ(PushRealScalar(ctx, 3), kOk);
  const int16_t words[] = {static_cast<int16_t>(Op::PushSmallInt), 7};
  ASSERT_EQ(EnterCodeFragment(ctx, words, 2, 0, 1, 0, 0, false), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 8), kOk);
  auto discard = GetServiceTable(ctx)->DiscardEvalFrame;
  ASSERT_NE(discard, nullptr);
  EXPECT_EQ(discard(ctx), kOk);
  ExpectBaseOnly(1);
  EXPECT_EQ(TopScalar(), 3);
}

// Expressions compiled over the caller's names: only data building is safe;
// a failed compile leaves no frame behind.
TEST_F(EvaluateTest, SafeDataExpressions) {
  ASSERT_EQ(Command("known = 4;"), kOk);
  struct Case {
    const char* text;
    bool safe;
  };
  const Case kCases[] = {
      {"[1 2; 3 4]", true}, {"int8(-3)", true}, {"{1, 'a'}", true},       {"zeros(2)", true},      {"rand(2)", false},
      {"known", false},     {"sin(1)", false},  {"struct('a', 1)", true}, {"[1, pi, true]", true},
  };
  auto compile = GetServiceTable(ctx)->CompileTextInCallerScope;
  auto isSafe = GetServiceTable(ctx)->IsSafeDataExpression;
  ASSERT_NE(compile, nullptr);
  ASSERT_NE(isSafe, nullptr);
  for (const Case& c : kCases) {
    int32_t results = 0;
    ASSERT_EQ(compile(ctx, c.text, static_cast<int32_t>(std::strlen(c.text)), &results), kOk) << c.text;
    EXPECT_EQ(results, 1) << c.text;
    EXPECT_EQ(isSafe(ctx), c.safe) << c.text;
    EXPECT_EQ(ctx->pc.safe, c.safe ? 1 : 0) << c.text;
    EXPECT_EQ(DiscardEvalFrame(ctx), kOk);
    ExpectBaseOnly(0);
  }
  // The caller's names are read, never added to.
  const char* bad = "(";
  int32_t results = 0;
  EXPECT_NE(compile(ctx, bad, 1, &results), kOk);
  ExpectBaseOnly(0);
}

TEST_F(EvaluateTest, CallerScopeExpressionRuns) {
  ASSERT_EQ(Command("known = 4;"), kOk);
  int32_t results = 0;
  ASSERT_EQ(CompileTextInCallerScope(ctx, "known", 5, &results), kOk);
  EXPECT_EQ(RunInterpreter(ctx, 0), kOk) << errors;
  ExpectBaseOnly(1);
  EXPECT_EQ(TopScalar(), 4);
}

// A frame of its own: the text's variables live and die there, however many
// there are, and the base frame never sees them.
TEST_F(EvaluateTest, NewFrameKeepsItsVariablesToItself) {
  std::string text;
  for (int k = 1; k <= 40; ++k) text += "w" + std::to_string(k) + " = " + std::to_string(k) + ";";
  text += "last = w40;";
  ASSERT_EQ(PushRealScalar(ctx, 9), kOk);
  ASSERT_EQ(CompileTextForEvaluation(ctx, text.data(), static_cast<int32_t>(text.size()),
                                     {.newFrame = true, .createFunctions = true, .ans = true, .skipDefinitions = true}),
            kOk);
  CallFrame* f = CurrentFrame(ctx);
  EXPECT_EQ(f->variableCount, 42);  // "ans" first
  EXPECT_STREQ(reinterpret_cast<const char*>(FrameSlots(f) + f->nameCapacity), "ans");
  EXPECT_EQ(RunInterpreter(ctx, 0), kOk) << errors;
  ExpectBaseOnly(1);
  EXPECT_EQ(TopScalar(), 9);
  EXPECT_EQ(Variable("w1"), -2);
  EXPECT_EQ(Variable("last"), -2);

  const char* value = "6";
  ASSERT_EQ(CompileTextForEvaluation(
                ctx, value, 1, {.outputs = 1, .newFrame = true, .createFunctions = true, .skipDefinitions = true}),
            kOk);
  EXPECT_EQ(RunInterpreter(ctx, 0), kOk) << errors;
  ExpectBaseOnly(2);
  EXPECT_EQ(TopScalar(), 6);
}

}  // namespace
