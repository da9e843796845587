// fplot through the machine: test natives hand the body a list, the plotted
// functions are compiled from source, and the sampled curve is compared
// point by point.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "graphics/graphics.h"
#include "tests/engine/stack_fixture.h"

namespace {

constexpr double kSentinel = -12345.25;

// The list and subplot the test natives write to.
struct Target {
  SubplotRecord sp{};
  std::vector<double> list;
  int32_t capacity = 0;
  int32_t used = 0;
};
Target* gTarget = nullptr;

[[nodiscard]] StatusCode FplotNative(EngineContext* ctx, int nargin, int, void*) {
  return AppendFunctionPlotElement(ctx, nargin, &gTarget->sp, gTarget->list.data(), gTarget->capacity, &gTarget->used);
}

// sideplot(x): plots the point (1, x) into the same list and returns x.
[[nodiscard]] StatusCode SidePlotNative(EngineContext* ctx, int nargin, int, void*) {
  if (nargin != 1) return kIllegal;
  if (StatusCode st = DuplicateValues(ctx, 0, 1); st != kOk) return st;
  if (StatusCode st =
          AppendCurveElements(ctx, 1, &gTarget->sp, false, gTarget->list.data(), gTarget->capacity, &gTarget->used);
      st != kOk)
    return st;
  if (StatusCode st = DuplicateValues(ctx, 0, 1); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

std::string* gOut = nullptr;

[[nodiscard]] StatusCode OutWrite(EngineContext*, int32_t descriptor, const char* bytes, int32_t length, void*) {
  if (descriptor != kStdoutDescriptor) return kBadFileId;
  gOut->append(bytes, static_cast<size_t>(length));
  return kOk;
}

NativeFunctionRecord Named(NativeHandler handler, const char* name, uint8_t outputs) {
  NativeFunctionRecord r{};
  r.handler = handler;
  std::strncpy(r.name, name, sizeof r.name - 1);
  r.minInputs = 0;
  r.maxInputs = 64;
  r.maxOutputs = outputs;
  return r;
}

class FunctionPlot : public StackFixture {
 protected:
  FunctionPlot() : StackFixture({.blockCells = 256 * 1024, .messages = true}) {}

  void SetUp() override {
    StackFixture::SetUp();
    gTarget = &target;
    records[0] = Named(nullptr, "plottest", 0);
    records[1] = Named(&FplotNative, "fplot", 0);
    records[2] = Named(&SidePlotNative, "sideplot", 1);
    records[3] = Named(AsNativeHandler(&OutWrite), "+write", 0);
    records[3].minInputs = 1;
    gOut = &out;
    ASSERT_EQ(InstallNativeLibrary(ctx, records, false), kOk);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    Fresh();
  }

  void Fresh(int32_t capacity = 8192) {
    target.list.assign(static_cast<size_t>(capacity) + 16, kSentinel);
    target.capacity = capacity;
    target.used = 0;
    InitSubplotRecord(&target.sp);
  }

  // The curve after the marker: {x values, y values}; empty with a failure
  // when the list holds anything else.
  struct Curve {
    std::vector<double> x, y;
    double id = 0;
    int32_t styleWord = 0;
  };
  Curve Only(int32_t from = kSectionMarkerDoubles) {
    Curve c;
    ElementCursor cursor{target.list.data(), target.used, from};
    ListElement e{};
    if (!NextElement(&cursor, &e) || e.code != 1 || e.item != 1) {
      ADD_FAILURE() << "no curve at " << from;
      return c;
    }
    const auto n = static_cast<int32_t>(e.data[0]);
    EXPECT_EQ(e.n, 2 * n + 1);
    c.x.assign(e.data + 1, e.data + 1 + n);
    c.y.assign(e.data + 1 + n, e.data + 1 + 2 * n);
    c.id = e.id;
    c.styleWord = e.styleWord;
    EXPECT_EQ(cursor.position, target.used) << "one element only";
    return c;
  }

  NativeFunctionRecord records[5]{};
  Target target;
  std::string out;
};

TEST_F(FunctionPlot, StraightLineIsSampledAtTheLargestStepUpToTheEnd) {
  ASSERT_EQ(Command("fplot(@(x) 2 * x + 1, [0 1], 'r', 4);"), kOk);
  const Curve c = Only();
  std::vector<double> want;
  for (double x = 0;; x = std::min(x + 0.01, 1.0)) {
    want.push_back(x);
    if (x >= 1) break;
  }
  EXPECT_EQ(c.x, want);
  ASSERT_EQ(c.y.size(), want.size());
  for (size_t k = 0; k < want.size(); ++k) EXPECT_EQ(c.y[k], 2 * want[k] + 1) << k;
  EXPECT_EQ(c.id, 4);
  EXPECT_EQ(c.styleWord, 4);
  EXPECT_EQ(target.sp.minimum[0], 0);
  EXPECT_EQ(target.sp.maximum[0], 1);
  EXPECT_EQ(target.sp.minimum[1], 1);
  EXPECT_EQ(target.sp.maximum[1], 3);

  // Extra arguments follow the id; the default range is [-5, 5].
  Fresh();
  ASSERT_EQ(Command("fplot(@(x, a) a * x, [], '', -1, 3);"), kOk);
  const Curve d = Only();
  ASSERT_FALSE(d.x.empty());
  EXPECT_EQ(d.x.front(), -5);
  EXPECT_EQ(d.x.back(), 5);
  for (size_t k = 0; k < d.x.size(); ++k) EXPECT_EQ(d.y[k], 3 * d.x[k]) << k;
}

TEST_F(FunctionPlot, CurveIsRefinedWhereItBends) {
  // A curve first, so the subplot maps y to pixels while fplot samples.
  ASSERT_EQ(Command("function y = kink(x)\ny = abs(x);\n"), kOk);
  double* re = nullptr;
  ASSERT_EQ(PushDoubleMatrix(ctx, 1, 2, &re, nullptr), kOk);
  re[0] = -1;
  re[1] = 1;
  ASSERT_EQ(PushDoubleMatrix(ctx, 1, 2, &re, nullptr), kOk);
  re[0] = 0;
  re[1] = 1;
  ASSERT_EQ(AppendCurveElements(ctx, 2, &target.sp, false, target.list.data(), target.capacity, &target.used), kOk);
  const int32_t from = target.used;

  ASSERT_EQ(Command("fplot('kink', [-1 1]);"), kOk);
  const Curve c = Only(from);
  ASSERT_GE(c.x.size(), 3u);
  EXPECT_EQ(c.x.front(), -1);
  EXPECT_EQ(c.x.back(), 1);
  double nearBend = 1, far = 0;
  for (size_t k = 1; k < c.x.size(); ++k) {
    const double gap = c.x[k] - c.x[k - 1];
    EXPECT_GT(gap, 0) << k;
    EXPECT_LE(gap, 0.02 + 1e-15) << k;
    EXPECT_EQ(c.y[k], std::fabs(c.x[k])) << k;
    if (std::fabs(c.x[k]) < 0.05) nearBend = std::min(nearBend, gap);
    if (c.x[k] < -0.5) far = std::max(far, gap);
  }
  EXPECT_LE(nearBend, 2 * 0.002) << "halved down towards the minimum step at the kink";
  EXPECT_NEAR(far, 0.02, 1e-12) << "the largest step on the straight parts";
}

TEST_F(FunctionPlot, ErrorsLeaveTheListAndTheEngineUsable) {
  struct Case {
    const char* text;
    StatusCode want;
  };
  const Case cases[] = {
      {"fplot(@(x) [x x], [0 1]);", kNonScalarArg},
      {"fplot(@(x) 'a', [0 1]);", kWrongTypeInternal},
      {"fplot(@(x) x, [0 Inf]);", kBadArg},
      {"fplot(@(x) x, [NaN 1]);", kBadArg},
      {"fplot(@(x) x, [0 1 2]);", kBadSize},
      {"fplot(@(x) x, [0 1], 'q');", kUnknownOpt},
      {"fplot(3);", kWrongType},
  };
  for (const Case& c : cases) {
    Fresh();
    EXPECT_EQ(Command(c.text), c.want) << c.text;
    EXPECT_LE(target.used, kSectionMarkerDoubles) << c.text;
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  }

  // A function that raises an error stops the plot; the next one works.
  Fresh();
  ASSERT_EQ(Command("function y = fails(x)\nerror('boom');\n"), kOk);
  EXPECT_EQ(Command("fplot('fails', [0 1]);"), kUserError);
  EXPECT_EQ(target.used, kSectionMarkerDoubles);
  ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  ASSERT_EQ(Command("fplot(@(x) x, [0 0.5]);"), kOk);
  const Curve c = Only(kSectionMarkerDoubles);
  EXPECT_EQ(c.x.back(), 0.5);
}

TEST_F(FunctionPlot, FunctionThatPlotsIsRefusedClearly) {
  ASSERT_EQ(Command("function y = side(x)\ny = sideplot(x);\n"), kOk);
  EXPECT_EQ(Command("fplot('side', [0 1]);"), kBadArg);
  ElementCursor first{target.list.data(), target.used, kSectionMarkerDoubles};
  ListElement e{};
  ASSERT_TRUE(NextElement(&first, &e));
  EXPECT_EQ(e.code, 1);
  EXPECT_EQ(first.position, target.used) << "the side plot's point is all the list took";

  // The script sees why.
  Fresh();
  ASSERT_EQ(Command("try, fplot('side', [0 1]), catch, disp(lasterr), end"), kOk);
  EXPECT_EQ(out, "fplot: the plotted function must not plot\n");
}

TEST_F(FunctionPlot, RangeWhereTheStepCannotMoveXEnds) {
  ASSERT_EQ(Command("fplot(@(x) 1, [1e20, 1e20 + 1e5]);"), kOk);
  const Curve c = Only();
  EXPECT_EQ(c.x, (std::vector<double>{1e20}));
  EXPECT_EQ(c.y, (std::vector<double>{1}));

  // An empty intersection with a set x range plots nothing.
  Fresh();
  SetSubplotLimits(&target.sp, 0, 1, 0, 1, 0, 0);
  ASSERT_EQ(Command("fplot(@(x) x, [2 3]);"), kOk);
  EXPECT_EQ(target.used, 0);
}

TEST_F(FunctionPlot, SamplesFitExactlyOrOverflowWithoutWritingPastTheCapacity) {
  ASSERT_EQ(Command("fplot(@(x) x, [0 1]);"), kOk);
  const int32_t size = target.used;
  const std::vector<double> full(target.list.begin(), target.list.begin() + size);

  Fresh(size);
  ASSERT_EQ(Command("fplot(@(x) x, [0 1]);"), kOk);
  EXPECT_EQ(target.used, size);
  EXPECT_EQ(std::vector<double>(target.list.begin(), target.list.begin() + size), full);

  Fresh(size - 1);
  ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  EXPECT_EQ(Command("fplot(@(x) x, [0 1]);"), kPlotOverflow);
  for (size_t k = static_cast<size_t>(size) - 1; k < target.list.size(); ++k) EXPECT_EQ(target.list[k], kSentinel) << k;
}

}  // namespace

// ---------------------------------------------------------------------------
// The re-entry state helper, on a bare stack.

TEST(ReentryState, FoundUnderExactlyTheResultsAskedFor) {
  std::vector<uint64_t> block(16 * 1024);
  EngineContext* ctx = nullptr;
  ASSERT_EQ(InitEngineContext(block.data(), block.size() * sizeof(uint64_t), &ctx), kOk);
  double* re = nullptr;
  ASSERT_EQ(PushDoubleMatrix(ctx, 1, 3, &re, nullptr), kOk);
  re[0] = 7;
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  double* state = nullptr;
  ASSERT_EQ(FindReentryState(ctx, ~1, 1, 3, &state), kOk);
  EXPECT_EQ(state[0], 7);
  EXPECT_EQ(FindReentryState(ctx, ~0, 1, 3, &state), kIncorrectNargout);
  EXPECT_EQ(FindReentryState(ctx, ~2, 1, 3, &state), kIncorrectNargout);
  EXPECT_EQ(FindReentryState(ctx, 1, 1, 3, &state), kIncorrectNargout);
  EXPECT_EQ(FindReentryState(ctx, ~1, 1, 4, &state), kWrongTypeInternal);
  EXPECT_EQ(FindReentryState(ctx, ~0, 0, 3, &state), kWrongTypeInternal) << "the scalar is no state";
}
