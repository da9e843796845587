// funm through the machine: the language's f is called once per diagonal
// entry of the Schur form, and a call that ends early (an error in f, a break
// between two calls) leaves nothing of the native on the stack.
#include <gtest/gtest.h>

#include <complex>
#include <cstring>
#include <string>
#include <vector>

#include "numeric/numeric.h"
#include "tests/engine/stack_fixture.h"

namespace {

struct Calls {
  std::vector<std::complex<double>> args;
  int failAt = 0;      // the call (1-based) that raises an error; 0: none
  bool brake = false;  // every call asks for a break
};
Calls* gCalls = nullptr;

// probe(z): records z and returns it, or fails or asks for a break as told.
[[nodiscard]] StatusCode ProbeNative(EngineContext* ctx, int nargin, int, void*) {
  if (nargin != 1) return kIllegal;
  int32_t m = 0, n = 0;
  double *re = nullptr, *im = nullptr;
  if (StatusCode st = GetDoubleMatrixArg(ctx, 0, &m, &n, &re, &im); st != kOk) return st;
  if (int64_t{m} * n != 1) return kIllegal;
  gCalls->args.emplace_back(re[0], im ? im[0] : 0.0);
  if (static_cast<int>(gCalls->args.size()) == gCalls->failAt) return kBadArg;
  if (gCalls->brake) ctx->breakPending = 1;
  return kOk;
}

NativeFunctionRecord Named(NativeHandler handler, const char* name, intptr_t selector) {
  NativeFunctionRecord r{};
  r.handler = handler;
  std::strncpy(r.name, name, sizeof r.name - 1);
  r.userData = reinterpret_cast<void*>(selector);
  r.minInputs = 0;
  r.maxInputs = 2;
  r.maxOutputs = 2;
  return r;
}

class Funm : public StackFixture {
 protected:
  Funm() : StackFixture({.blockCells = 256 * 1024, .messages = true}) {}
  void SetUp() override {
    StackFixture::SetUp();
    gCalls = &calls;
    records[0] = Named(nullptr, "funmtest", 0);
    records[1] = Named(&MatrixFunctionNative, "funm", 'f');
    records[2] = Named(&ProbeNative, "probe", 0);
    ASSERT_EQ(InstallNativeLibrary(ctx, records, false), kOk);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  }
  NativeFunctionRecord records[4]{};
  Calls calls;
};

TEST_F(Funm, CallsTheFunctionOncePerDiagonalEntryInOrder) {
  ASSERT_EQ(
      Command("A = [1 2 0; 0 3 1; 0 0 5]; X = funm(A, @probe); if any(any(abs(X - A) > 1e-13)), error('wrong'), end"),
      kOk);
  // The Schur form of a triangular matrix keeps its diagonal.
  EXPECT_EQ(calls.args, (std::vector<std::complex<double>>{1, 3, 5}));
}

// Each case against a command that ends the same way without funm: an
// uncaught error leaves its operands on the stack, so the halt's control
// is an error with none.
TEST_F(Funm, EndingEarlyLeavesTheStackAsBeforeTheCall) {
  struct Case {
    const char* command;
    int failAt;
    bool brake;
    StatusCode want;
    size_t calls;
    const char* control;
  };
  const char* kCaught = "try, X = 1; catch, end";
  const Case kCases[] = {
      {"try, X = funm([1 2; 0 3], @probe); catch, end", 1, false, kOk, 1, kCaught},
      {"try, X = funm([1 2 0; 0 3 1; 0 0 4], @probe); catch, end", 2, false, kOk, 2, kCaught},
      {"try, X = funm([1 2; 0 3], @(x) [x x]); catch, end", 0, false, kOk, 0, kCaught},
      {"try, X = funm([1 2; 0 3], @disp); catch, end", 0, false, kOk, 0, kCaught},
      {"try, X = funm([1 1; 0 1], @exp); catch, end", 0, false, kOk, 0, kCaught},
      {"X = funm([1 2; 0 3], @probe);", 0, true, kHalted, 1, "error('stop');"},
  };
  for (const Case& c : kCases) {
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    (void)Command(c.control);
    const int32_t want = ctx->descLength;
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    calls = Calls{{}, c.failAt, c.brake};
    EXPECT_EQ(Command(c.command), c.want) << c.command;
    EXPECT_EQ(calls.args.size(), c.calls) << c.command;
    EXPECT_EQ(ctx->descLength, want) << c.command;
    ctx->breakPending = 0;
  }
}

}  // namespace
