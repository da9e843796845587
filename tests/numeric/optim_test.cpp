// fzero, fminbnd, fminsearch and quad through the machine: the point of each
// call reaches the language's f with the extra arguments, and a search that
// ends early (an error in f, a break between two calls, a value of the wrong
// kind) leaves nothing of the native on the stack.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "numeric/numeric.h"
#include "tests/engine/stack_fixture.h"

namespace {

struct Calls {
  std::vector<double> points;
  std::vector<double> extras;
  int failAt = 0;      // the call (1-based) that raises an error; 0: none
  bool brake = false;  // every call asks for a break
};
Calls* gCalls = nullptr;

// probe(x[, p]): records x (its first element) and p, returns (x - 1)^2 - 1
// or fails or asks for a break as told.
[[nodiscard]] StatusCode ProbeNative(EngineContext* ctx, int nargin, int, void*) {
  if (nargin < 1 || nargin > 2) return kIllegal;
  double p = 0;
  if (nargin == 2) {
    if (StatusCode st = PopRealScalar(ctx, &p); st != kOk) return st;
    gCalls->extras.push_back(p);
  }
  int32_t m = 0, n = 0;
  double *re = nullptr, *im = nullptr;
  if (StatusCode st = GetDoubleMatrixArg(ctx, 0, &m, &n, &re, &im); st != kOk) return st;
  if (int64_t{m} * n < 1) return kIllegal;
  const double x = re[0];
  gCalls->points.push_back(x);
  if (static_cast<int>(gCalls->points.size()) == gCalls->failAt) return kBadArg;
  if (gCalls->brake) ctx->breakPending = 1;
  (void)DropArgsUnderResults(ctx, 0, 1);
  return PushRealScalar(ctx, (x - 1) * (x - 1) - 1);
}

NativeFunctionRecord Named(NativeHandler handler, const char* name) {
  NativeFunctionRecord r{};
  r.handler = handler;
  std::strncpy(r.name, name, sizeof r.name - 1);
  r.minInputs = 0;
  r.maxInputs = 8;
  r.maxOutputs = 3;
  return r;
}

class Optim : public StackFixture {
 protected:
  Optim() : StackFixture({.blockCells = 256 * 1024, .messages = true}) {}
  void SetUp() override {
    StackFixture::SetUp();
    gCalls = &calls;
    records[0] = Named(nullptr, "optimtest");
    records[1] = Named(&FzeroNative, "fzero");
    records[2] = Named(&FminbndNative, "fminbnd");
    records[3] = Named(&FminsearchNative, "fminsearch");
    records[4] = Named(&QuadNative, "quad");
    records[5] = Named(&ProbeNative, "probe");
    ASSERT_EQ(InstallNativeLibrary(ctx, records, false), kOk);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  }
  NativeFunctionRecord records[7]{};
  Calls calls;
};

// fzero from 0 probes -0.02 first, then widens the upper end before 0.02 is
// ever evaluated; the extra argument rides along with every point.
TEST_F(Optim, CallsCarryThePointAndTheExtraArguments) {
  ASSERT_EQ(Command("x = fzero(@probe, 0, [], 7); if abs(x) > 1e-9, error('wrong'), end"), kOk);
  ASSERT_GE(calls.points.size(), 2u);
  EXPECT_DOUBLE_EQ(calls.points[0], -0.02);
  EXPECT_DOUBLE_EQ(calls.points[1], 0.02 + 0.04 * 0.4142);
  EXPECT_EQ(calls.extras, std::vector<double>(calls.points.size(), 7.0));

  calls = Calls{};
  ASSERT_EQ(Command("q = quad(@probe, 0, 3, [], [], 5); if abs(q - 0) > 1e-12, error('wrong'), end"), kOk);
  // Phases 1 to 4 of quad: the ends, then the new midpoints only.
  const std::vector<double> want = {0, 3, 1.5, 0.75, 2.25, 0.375, 1.125, 1.875, 2.625};
  EXPECT_EQ(calls.points, want);
  EXPECT_EQ(calls.extras, std::vector<double>(want.size(), 5.0));
}

// Each case against a command that ends the same way without the native: an
// uncaught error leaves its operands on the stack, so the halt's control is
// an error with none.
TEST_F(Optim, EndingEarlyLeavesTheStackAsBeforeTheCall) {
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
      {"try, X = fzero(@probe, 5); catch, end", 1, false, kOk, 1, kCaught},
      {"try, X = fzero(@probe, [0.5 3], [], 2); catch, end", 3, false, kOk, 3, kCaught},
      {"try, X = fminbnd(@probe, [0 3]); catch, end", 5, false, kOk, 5, kCaught},
      {"try, X = fminbnd(@probe, 4, []); catch, end", 2, false, kOk, 2, kCaught},
      {"try, X = fminsearch(@probe, [0 1; 2 3]); catch, end", 7, false, kOk, 7, kCaught},
      {"try, X = fminsearch(@probe, [0 1], [], 4); catch, end", 1, false, kOk, 1, kCaught},
      {"try, X = quad(@probe, 0, 1, [], [], 3); catch, end", 4, false, kOk, 4, kCaught},
      {"try, X = quad(@(x) [x x], 0, 1); catch, end", 0, false, kOk, 0, kCaught},
      {"try, X = fzero(@disp, 1); catch, end", 0, false, kOk, 0, kCaught},
      {"try, X = fminsearch(@disp, [1 2]); catch, end", 0, false, kOk, 0, kCaught},
      {"try, X = fminbnd(@(x) 'ab', [0 1]); catch, end", 0, false, kOk, 0, kCaught},
      {"try, X = fzero(@(x) 1, 1); catch, end", 0, false, kOk, 0, kCaught},
      {"X = fzero(@probe, 5);", 0, true, kHalted, 1, "error('stop');"},
      {"X = fminsearch(@probe, [1 2]);", 0, true, kHalted, 1, "error('stop');"},
      {"X = quad(@probe, 0, 1);", 0, true, kHalted, 1, "error('stop');"},
  };
  for (const Case& c : kCases) {
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    (void)Command(c.control);
    const int32_t want = ctx->descLength;
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    calls = Calls{{}, {}, c.failAt, c.brake};
    EXPECT_EQ(Command(c.command), c.want) << c.command;
    EXPECT_EQ(calls.points.size(), c.calls) << c.command;
    EXPECT_EQ(ctx->descLength, want) << c.command;
    ctx->breakPending = 0;
  }
}

}  // namespace
