// The interpreter loop on hand-assembled code: inline opcodes and jumps, the
// nested-run refusal, break polling and pending calls at backward jumps,
// native opcodes with their control results, the error ending and catch,
// and the call entry points that need no name resolution.
#include "engine/vm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/bytecode.h"
#include "engine/heap.h"
#include "engine/registry.h"
#include "tests/engine/stack_fixture.h"

namespace {

constexpr int16_t W(Op op) { return static_cast<int16_t>(op); }
constexpr int16_t kNative0 = static_cast<int16_t>(Op::kFirstNativeOpcode);

struct Counters {
  int breakAfter = -1;  // the break test answers true from this call on
  int breakCalls = 0;
  int blocked = 0;
  int callbacks = 0;
  int reentries = 0;
};
Counters* g = nullptr;

bool BreakTest(void* data) {
  auto* c = static_cast<Counters*>(data);
  ++c->breakCalls;
  return c->breakAfter >= 0 && c->breakCalls > c->breakAfter;
}

[[nodiscard]] StatusCode Seven(EngineContext* ctx, int, int, void*) { return PushRealScalar(ctx, 7); }
[[nodiscard]] StatusCode Method(EngineContext* ctx, int, int, void*) { return PushRealScalar(ctx, 1); }
// Would block once, then pushes its nargin.
[[nodiscard]] StatusCode BlockOnce(EngineContext* ctx, int nargin, int, void*) {
  if (g->blocked++ == 0) return kWouldBlock;
  return PushRealScalar(ctx, nargin);
}
// Pushes the user data's first byte, to tell records sharing it apart.
[[nodiscard]] StatusCode Tagged(EngineContext* ctx, int nargin, int, void* userData) {
  return PushRealScalar(ctx, *static_cast<const char*>(userData) + nargin);
}

void Callback(EngineContext*, void* argument) { ++static_cast<Counters*>(argument)->callbacks; }
void ArmBreakOnSecondCall(EngineContext*, void* argument) {
  auto* c = static_cast<Counters*>(argument);
  if (++c->callbacks == 2) c->breakAfter = 0;
}

class VmTest : public StackFixture {
 protected:
  VmTest() : StackFixture({.messages = true}) {}

  void SetUp() override {
    StackFixture::SetUp();
    g = &counters;
    CaptureDescriptor(2, &errors);
    ASSERT_EQ(InstallNativeLibrary(ctx, natives, false), kOk);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    SetBreakPollCallback(ctx, BreakTest, &counters);
  }
  void TearDown() override { g = nullptr; }

  // Native number of record k of the test library: it comes after the
  // message tables and the capture hook.
  int16_t Native(int k) {
    for (int lib = 0, g0 = 0; lib < ctx->libraryCount; g0 += ctx->libraries[lib].count, ++lib)
      if (ctx->libraries[lib].first == natives) return static_cast<int16_t>(kNative0 + g0 + k);
    return -1;
  }

  // Puts code in the free code area and points the program counter at it.
  void Load(const std::vector<int16_t>& code) {
    std::memcpy(ctx->codeBase + ctx->codeTop, code.data(), code.size() * sizeof(int16_t));
    ctx->pc = {kCodeArea, 0, {}, ctx->codeTop * 2};
  }
  int32_t OffsetOf(int word) const { return (ctx->codeTop + word) * 2; }

  std::vector<double> Scalars() {
    std::vector<double> out;
    const int32_t start = ctx->frameIndex + FrameExtent(CurrentFrame(ctx));
    for (int p = (ctx->descLength - start) / 3 - 1; p >= 0; --p) out.push_back(DataAt(ctx, p)->f);
    return out;
  }

  Counters counters;
  std::string errors;
  NativeFunctionRecord natives[6] = {{nullptr, nullptr, 0, "@vmtest", 0, 0, 0, 0},
                                     {Seven, nullptr, 0, "seven", 0, 0, 0, 1},
                                     {Method, nullptr, 2, "method", 0, 0, 0, 1},
                                     {BlockOnce, nullptr, 0, "block", 0, 9, 0, 1},
                                     {Tagged, const_cast<char*>("A"), 0, "tag", 0, 9, 0, 1},
                                     {}};
};

TEST_F(VmTest, InlineOpcodesRunToTheEnd) {
  Load({W(Op::PushOne), W(Op::PushSmallInt), -7, W(Op::PushZero), W(Op::Drop), W(Op::Nop), W(Op::SkipOperand), 99,
        W(Op::PushZero), W(Op::EndOfThreadCode)});
  EXPECT_EQ(RunInterpreter(ctx, 0), kOk);
  EXPECT_EQ(Scalars(), (std::vector<double>{1, -7, 0}));
  EXPECT_EQ(ctx->pc.space, kNoCode);
  EXPECT_EQ(ctx->running, 0);
}

TEST_F(VmTest, ConditionalJumps) {
  // value; test {+2}; push 10; push 20; end. OrElse and AndAlso keep the
  // tested value when they jump.
  struct Case {
    Op op;
    int16_t value;
    std::vector<double> want;
  };
  const Case cases[] = {
      {Op::JumpIfFalse, 0, {20}},    {Op::JumpIfFalse, 3, {10, 20}}, {Op::JumpIfTrue, 3, {20}},
      {Op::JumpIfTrue, 0, {10, 20}}, {Op::OrElseJump, 3, {3, 20}},   {Op::OrElseJump, 0, {10, 20}},
      {Op::AndAlsoJump, 0, {0, 20}}, {Op::AndAlsoJump, 3, {10, 20}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    Load({W(Op::PushSmallInt), c.value, W(c.op), 2, W(Op::PushSmallInt), 10, W(Op::PushSmallInt), 20,
          W(Op::EndOfThreadCode)});
    EXPECT_EQ(RunInterpreter(ctx, 0), kOk) << OpcodeMnemonic(static_cast<int>(c.op));
    EXPECT_EQ(Scalars(), c.want) << OpcodeMnemonic(static_cast<int>(c.op)) << " " << c.value;
  }
}

TEST_F(VmTest, NestedRunIsRefused) {
  Load({W(Op::PushOne), W(Op::EndOfThreadCode)});
  ctx->running = 1;
  const ProgramCounter before = ctx->pc;
  EXPECT_EQ(RunInterpreter(ctx, 0), kOk);
  EXPECT_TRUE(Scalars().empty());
  EXPECT_EQ(ctx->pc.offset, before.offset);
  EXPECT_EQ(ctx->running, 1);
  // A safe position may run nested and leaves the flag as it found it.
  ctx->pc.safe = 1;
  EXPECT_EQ(RunInterpreter(ctx, 0), kOk);
  EXPECT_EQ(Scalars(), std::vector<double>{1});
  EXPECT_EQ(ctx->running, 1);
}

TEST_F(VmTest, EmptyProgramCounterStillRunsAPendingCall) {
  ctx->pc.space = kNoCode;
  PendingCallAccess access;
  GetPendingCallAccess(ctx, &access);
  ASSERT_TRUE(PostPendingCall(access, Callback, &counters));
  EXPECT_EQ(RunInterpreter(ctx, 0), kOk);
  EXPECT_EQ(counters.callbacks, 1);
  EXPECT_EQ(ctx->pendingCount, 0);
}

TEST_F(VmTest, AFailingPendingCallIsReportedAndLeavesTheStacksAsTheyWere) {
  // A queued call of a function that does not exist: {n = 0; the name}.
  ASSERT_EQ(PushStringFromBytes(ctx, 11, "nosuchthing"), kOk);
  int64_t size = 0;
  ASSERT_EQ(GetValueSize(ctx, 0, &size), kOk);
  std::vector<double> call(1 + size);
  ASSERT_EQ(CopyValueOut(ctx, 0, call.data() + 1), kOk);
  PopValue(ctx);
  const int32_t descLength = ctx->descLength, dataTop = ctx->dataTop;
  PendingCallAccess access;
  GetPendingCallAccess(ctx, &access);
  ASSERT_TRUE(PostPendingEvent(access, call.data()));
  ctx->pc.space = kNoCode;
  EXPECT_EQ(RunInterpreter(ctx, 0), kOk);
  EXPECT_NE(errors.find("Undefined function"), std::string::npos) << errors;
  EXPECT_GT(ctx->lastErrorRecord, 0);
  EXPECT_EQ(ctx->descLength, descLength);
  EXPECT_EQ(ctx->dataTop, dataTop);
}

// The count of a call block is the poster's: one that is not a whole number
// in range is refused as a bad argument, never converted.
TEST_F(VmTest, APendingCallBlockWithABadCountIsRefused) {
  for (const double count : {std::nan(""), 1e300, -1.0, 2.5, -1e300}) {
    std::vector<double> call{count, 0, 0, 0};
    const int32_t descLength = ctx->descLength, dataTop = ctx->dataTop;
    PendingCallAccess access;
    GetPendingCallAccess(ctx, &access);
    ASSERT_TRUE(PostPendingEvent(access, call.data()));
    ctx->pc.space = kNoCode;
    errors.clear();
    EXPECT_EQ(RunInterpreter(ctx, 0), kOk) << count;
    EXPECT_FALSE(errors.empty()) << count;
    EXPECT_EQ(ctx->descLength, descLength) << count;
    EXPECT_EQ(ctx->dataTop, dataTop) << count;
  }
}

TEST_F(VmTest, EndlessLoopIsStoppedByTheBreakTestEvenInsideTry) {
  // «while true, end» at any level: a jump to itself.
  Load({W(Op::Jump), -2});
  CallFrame* base = CurrentFrame(ctx);
  base->catchSpace = kCodeArea;
  base->catchOffset = OffsetOf(0);
  counters.breakAfter = 2;
  EXPECT_EQ(RunInterpreter(ctx, 0), kHalted);
  EXPECT_EQ(counters.breakCalls, 3);
  EXPECT_EQ(ctx->pc.space, kNoCode);
  EXPECT_EQ(ctx->running, 0);
  EXPECT_GT(ctx->lastErrorRecord, 0);
  EXPECT_FALSE(errors.empty());
  // Nothing is left to run afterwards.
  EXPECT_EQ(RunInterpreter(ctx, 0), kOk);
}

TEST_F(VmTest, PendingCallsRunInsideALoop) {
  // push 1; jump back while true. The first call runs on entry, the second
  // inside the loop, where it arms the break that ends the loop.
  Load({W(Op::PushOne), W(Op::JumpIfTrue), -3});
  PendingCallAccess access;
  GetPendingCallAccess(ctx, &access);
  ASSERT_TRUE(PostPendingCall(access, ArmBreakOnSecondCall, &counters));
  ASSERT_TRUE(PostPendingCall(access, ArmBreakOnSecondCall, &counters));
  EXPECT_EQ(RunInterpreter(ctx, 0), kHalted);
  EXPECT_EQ(counters.callbacks, 2);
}

TEST_F(VmTest, PollAtBackwardJumpsSuspendsAtTheTarget) {
  // push 1; jump back to the push.
  Load({W(Op::PushOne), W(Op::Jump), -3});
  const int32_t target = ctx->pc.offset;
  for (int round = 1; round <= 3; ++round) {
    ASSERT_EQ(RunInterpreter(ctx, 1), kSuspended);
    EXPECT_EQ(ctx->pc.space, kCodeArea);
    EXPECT_EQ(ctx->pc.offset, target);
    EXPECT_EQ(Scalars().size(), static_cast<size_t>(round));
  }
  counters.breakAfter = 0;
  EXPECT_EQ(RunInterpreter(ctx, 1), kHalted);
}

TEST_F(VmTest, NativeOpcodes) {
  Load({Native(1), 0, 1, Native(1), 0, 1, W(Op::EndOfThreadCode)});
  EXPECT_EQ(RunInterpreter(ctx, 0), kOk);
  EXPECT_EQ(Scalars(), (std::vector<double>{7, 7}));

  struct Case {
    int16_t word;
    StatusCode want;
  };
  const Case failing[] = {{Native(2), kWrongType},
                          {W(Op::ReservedCall), kNotSupported},
                          {-5, kNotSupported},
                          {static_cast<int16_t>(Native(0) + 500), kNotSupported}};
  for (const Case& c : failing) {
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    errors.clear();
    Load({c.word, 0, 1, W(Op::EndOfThreadCode)});
    EXPECT_EQ(RunInterpreter(ctx, 0), c.want) << c.word;
    EXPECT_EQ(ctx->pc.space, kNoCode);
    EXPECT_FALSE(errors.empty()) << c.word;
    EXPECT_EQ(RunInterpreter(ctx, 0), kOk);
  }
}

TEST_F(VmTest, NativeThatWouldBlockRunsAgainOnResume) {
  Load({Native(3), 2, 1, W(Op::EndOfThreadCode)});
  const int32_t at = ctx->pc.offset;
  EXPECT_EQ(RunInterpreter(ctx, 0), kSuspended);
  EXPECT_EQ(ctx->pc.offset, at);
  EXPECT_EQ(RunInterpreter(ctx, 0), kOk);
  EXPECT_EQ(counters.blocked, 2);
  EXPECT_EQ(Scalars(), std::vector<double>{2});
}

TEST_F(VmTest, AnErrorResumesAtAnArmedCatch) {
  // fail; push 1 (skipped); catch: push 5; end.
  Load({W(Op::ReservedCall), W(Op::PushOne), W(Op::PushSmallInt), 5, W(Op::EndOfThreadCode)});
  CallFrame* base = CurrentFrame(ctx);
  base->catchSpace = kCodeArea;
  base->catchOffset = OffsetOf(2);
  EXPECT_EQ(RunInterpreter(ctx, 0), kOk);
  EXPECT_EQ(Scalars(), std::vector<double>{5});
  EXPECT_GT(ctx->lastErrorRecord, 0);
  EXPECT_TRUE(errors.empty()) << errors;
}

TEST_F(VmTest, CallNativeFunctionUsesTheFirstRecordOfAHandler) {
  NativeFunctionRecord second[3] = {
      {nullptr, nullptr, 0, "@second", 0, 0, 0, 0}, {Tagged, const_cast<char*>("B"), 0, "tag", 0, 9, 0, 1}, {}};
  ASSERT_EQ(InstallNativeLibrary(ctx, second, false), kOk);
  int testLibrary = -1;
  for (int lib = 0; lib < ctx->libraryCount; ++lib)
    if (ctx->libraries[lib].first == natives) testLibrary = lib;
  EXPECT_EQ(CallNativeFunction(ctx, Tagged, 1, 1), kOk);
  EXPECT_EQ(TopScalar(), 'A' + 1);
  EXPECT_EQ(ctx->runningNativeClass, NativeClassIdOf(testLibrary, 0));
  // The re-entry path calls by opcode with the complement of the result count.
  EXPECT_EQ(CallNativeByOpcode(ctx, Native(4), ~2, 1), kOk);
  EXPECT_EQ(TopScalar(), 'A' - 3);
  EXPECT_EQ(CallNativeByOpcode(ctx, Native(0) + 900, 0, 1), kIllegal);
}

TEST_F(VmTest, CallFunctionFromArgumentRefusesBadCallees) {
  struct Case {
    const char* name;  // null: a number
    int n;
    StatusCode want;
  };
  const Case cases[] = {
      {"f", 0, kTooFewArgin},
      {nullptr, 1, kWrongType},
      {"", 1, kNullName},
      {"a_name_that_is_thirty_three_long", 1, kUndefFun},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    if (c.name == nullptr)
      ASSERT_EQ(PushRealScalar(ctx, 3), kOk);
    else
      ASSERT_EQ(PushStringFromBytes(ctx, static_cast<int>(std::strlen(c.name)), c.name), kOk);
    EXPECT_EQ(CallFunctionFromArgument(ctx, false, 0, c.n, 1), c.want) << (c.name ? c.name : "(number)");
  }
}

TEST_F(VmTest, ProgramCounterFollowsItsSpace) {
  Load({W(Op::Nop)});
  const int16_t* at = GetProgramCounter(ctx);
  EXPECT_EQ(at, ctx->codeBase + ctx->codeTop);
  SetProgramCounter(ctx, at + 3);
  EXPECT_EQ(ctx->pc.offset, OffsetOf(3));
  ctx->pc.space = 2;
  EXPECT_EQ(GetProgramCounter(ctx), nullptr);
  ctx->pc = {kDataStackCode, 0, {}, 16};
  EXPECT_EQ(GetProgramCounter(ctx), reinterpret_cast<const int16_t*>(ctx->dataBase + 2));
}

}  // namespace
