// The curve, line, circle, region and bar bodies, called directly with their
// arguments pushed on the value stack; the appended doubles are compared
// element by element, and the subplot's limits afterwards.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "graphics/graphics.h"
#include "tests/engine/stack_fixture.h"

namespace {

using Body = StatusCode (*)(EngineContext*, int, SubplotRecord*, double*, int32_t, int32_t*);

const Body kPlot = [](EngineContext* c, int n, SubplotRecord* s, double* l, int32_t cap, int32_t* u) {
  return AppendCurveElements(c, n, s, false, l, cap, u);
};
const Body kPlot3 = [](EngineContext* c, int n, SubplotRecord* s, double* l, int32_t cap, int32_t* u) {
  return AppendCurveElements(c, n, s, true, l, cap, u);
};
const Body kArea = &AppendAreaElements;
const Body kPolar = &AppendPolarElements;
const Body kLine = [](EngineContext* c, int n, SubplotRecord* s, double* l, int32_t cap, int32_t* u) {
  return AppendLineElements(c, n, s, false, l, cap, u);
};
const Body kLine3 = [](EngineContext* c, int n, SubplotRecord* s, double* l, int32_t cap, int32_t* u) {
  return AppendLineElements(c, n, s, true, l, cap, u);
};
const Body kCircle = &AppendCircleElements;
const Body kRegion = &AppendActiveRegionElements;
const Body kBar = [](EngineContext* c, int n, SubplotRecord* s, double* l, int32_t cap, int32_t* u) {
  return AppendBarElements(c, n, s, false, l, cap, u);
};
const Body kBarh = [](EngineContext* c, int n, SubplotRecord* s, double* l, int32_t cap, int32_t* u) {
  return AppendBarElements(c, n, s, true, l, cap, u);
};

// One argument: a double matrix, a text or an int8 row.
struct Arg {
  enum Kind { kMatrix, kText, kInt8 } kind = kMatrix;
  int32_t rows = 0;
  int32_t cols = 0;
  std::vector<double> values;
  std::string text;
};
Arg M(int32_t rows, int32_t cols, std::vector<double> v) { return {Arg::kMatrix, rows, cols, std::move(v), {}}; }
Arg R(std::vector<double> v) {
  const auto n = static_cast<int32_t>(v.size());
  return M(1, n, std::move(v));
}
Arg C(std::vector<double> v) {
  const auto n = static_cast<int32_t>(v.size());
  return M(n, 1, std::move(v));
}
Arg S(double x) { return M(1, 1, {x}); }
Arg E() { return M(0, 0, {}); }
Arg T(const char* s) { return {Arg::kText, 0, 0, {}, s}; }
Arg I8(std::vector<double> v) {
  const auto n = static_cast<int32_t>(v.size());
  return {Arg::kInt8, 1, n, std::move(v), {}};
}

// One element as the list holds it.
std::vector<double> El(double code, double id, double item, double word, double colour, std::vector<double> data) {
  std::vector<double> e = {code, id, item, word, colour, static_cast<double>(data.size())};
  e.insert(e.end(), data.begin(), data.end());
  return e;
}
std::vector<double> Join(std::initializer_list<std::vector<double>> parts) {
  std::vector<double> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A case of a body that appends: its arguments and the elements it writes.
struct AppendCase {
  const char* name;
  Body body;
  std::vector<Arg> args;
  std::vector<double> want;
};

constexpr double kSentinel = -12345.25;
constexpr int32_t kRed = 0xFF0000;
constexpr int32_t kBlue = 0x0000FF;

class PlotBodies : public StackFixture {
 protected:
  PlotBodies() : StackFixture({.blockCells = 64 * 1024, .messages = true}) {}

  void SetUp() override {
    StackFixture::SetUp();
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    Fresh();
  }

  // An empty list and a new subplot.
  void Fresh(size_t capacity = 4096) {
    list.assign(capacity, kSentinel);
    used = 0;
    InitSubplotRecord(&sp);
  }

  void Push(const Arg& a) {
    switch (a.kind) {
      case Arg::kMatrix: {
        double* re = nullptr;
        ASSERT_EQ(PushDoubleMatrix(ctx, a.rows, a.cols, &re, nullptr), kOk);
        for (size_t k = 0; k < a.values.size(); ++k) re[k] = a.values[k];
        break;
      }
      case Arg::kText:
        ASSERT_EQ(PushStringFromBytes(ctx, static_cast<int64_t>(a.text.size()), a.text.c_str()), kOk);
        break;
      case Arg::kInt8: {
        void* data = nullptr;
        const int32_t dims[2] = {a.rows, a.cols};
        ASSERT_EQ(PushIntegerArray(ctx, 2, dims, 1, false, &data), kOk);
        for (size_t k = 0; k < a.values.size(); ++k) static_cast<int8_t*>(data)[k] = static_cast<int8_t>(a.values[k]);
        break;
      }
    }
  }

  // Pushes the arguments on an empty stack and calls the body with the list's
  // first `capacity` doubles (all of them when negative). On success the
  // arguments must be gone.
  StatusCode Run(Body body, const std::vector<Arg>& args, int32_t capacity = -1) {
    EXPECT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    const int32_t before = ctx->descLength;
    for (const Arg& a : args) Push(a);
    const StatusCode st = body(ctx, static_cast<int>(args.size()), &sp, list.data(),
                               capacity < 0 ? static_cast<int32_t>(list.size()) : capacity, &used);
    if (st == kOk) {
      EXPECT_EQ(ctx->descLength, before) << "the arguments stay on the stack";
    }
    return st;
  }

  // What follows the section marker of subplot 0.
  std::vector<double> Written() {
    EXPECT_GE(used, kSectionMarkerDoubles);
    if (used < kSectionMarkerDoubles) return {};
    const std::vector<double> marker(list.begin(), list.begin() + kSectionMarkerDoubles);
    EXPECT_EQ(marker, (std::vector<double>{70, -1, -1, 0, 0, 1, 0}));
    return {list.begin() + kSectionMarkerDoubles, list.begin() + used};
  }

  std::vector<double> Limits() {
    return {sp.minimum[0], sp.maximum[0], sp.minimum[1], sp.maximum[1], sp.minimum[2], sp.maximum[2]};
  }

  // Each case on a fresh list: the elements after the marker.
  void CheckAppends(const std::vector<AppendCase>& cases) {
    for (const AppendCase& c : cases) {
      Fresh();
      ASSERT_EQ(Run(c.body, c.args), kOk) << c.name;
      EXPECT_EQ(Written(), c.want) << c.name;
    }
  }

  SubplotRecord sp{};
  std::vector<double> list;
  int32_t used = 0;
};

}  // namespace

// ---------------------------------------------------------------------------
// plot and plot3

TEST_F(PlotBodies, CurvesFromVectorsAndMatrices) {
  const std::vector<AppendCase> cases = {
      {"x defaults to 1..n", kPlot, {R({1, 2, 3})}, El(1, -1, 1, 8, 0, {3, 1, 2, 3, 1, 2, 3})},
      {"two rows give two curves",
       kPlot,
       {M(2, 3, {1, 2, 3, 4, 5, 6})},
       Join({El(1, -1, 1, 8, 0, {3, 1, 2, 3, 1, 2, 3}), El(1, -1, 2, 8, 0, {3, 1, 2, 3, 4, 5, 6})})},
      {"a single x row serves every curve",
       kPlot,
       {R({10, 20}), M(2, 2, {1, 2, 3, 4})},
       Join({El(1, -1, 1, 8, 0, {2, 10, 20, 1, 2}), El(1, -1, 2, 8, 0, {2, 10, 20, 3, 4})})},
      {"a single y column repeats its value",
       kPlot,
       {R({1, 2, 3}), C({5, 6})},
       Join({El(1, -1, 1, 8, 0, {3, 1, 2, 3, 5, 5, 5}), El(1, -1, 2, 8, 0, {3, 1, 2, 3, 6, 6, 6})})},
      {"a style and an id", kPlot, {R({1, 2}), R({3, 4}), T("r"), S(7)}, El(1, 7, 1, 4, kRed, {2, 1, 2, 3, 4})},
      {"styles cycle over the curves",
       kPlot,
       {M(2, 1, {1, 2}), T("r,b")},
       Join({El(1, -1, 1, 4, kRed, {1, 1, 1}), El(1, -1, 2, 1, kBlue, {1, 1, 2})})},
      {"stairs go across first",
       kPlot,
       {R({1, 2, 3}), R({4, 5, 6}), T("s")},
       El(1, -1, 1, 0x800, 0, {5, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6})},
      {"stairs of one point", kPlot, {R({2}), T("s")}, El(1, -1, 1, 0x800, 0, {1, 1, 2})},
      {"plot3", kPlot3, {R({1, 2}), R({3, 4}), R({5, 6})}, El(13, -1, 1, 8, 0, {2, 1, 2, 3, 4, 5, 6})},
      {"empty data: the marker alone", kPlot, {E()}, {}},
      {"empty x", kPlot, {E(), R({1, 2})}, {}},
  };
  CheckAppends(cases);

  Fresh();
  ASSERT_EQ(Run(kPlot, {R({1, 2, 3}), R({4, -5, 6})}), kOk);
  EXPECT_EQ(Limits(), (std::vector<double>{1, 3, -5, 6, 0, 0}));
  EXPECT_EQ(sp.is3D, 0);
  Fresh();
  ASSERT_EQ(Run(kPlot3, {R({1, 2}), R({3, 4}), R({-5, 6})}), kOk);
  EXPECT_EQ(sp.is3D, 1);
  EXPECT_EQ(Limits(), (std::vector<double>{1, 2, 3, 4, -5, 6}));
}

TEST_F(PlotBodies, CurveArgumentErrors) {
  struct Case {
    const char* name;
    Body body;
    std::vector<Arg> args;
    StatusCode want;
  };
  const Case cases[] = {
      {"a number where the style goes", kPlot, {R({1, 2}), R({3, 4}), S(5)}, kWrongTypeInternal},
      {"a style before the data", kPlot, {T("r"), R({1, 2})}, kWrongTypeInternal},
      {"a style with two arguments after it", kPlot, {R({1, 2}), T("r"), R({3, 4}), S(1)}, kWrongTypeInternal},
      {"no data", kPlot, {}, kWrongTypeInternal},
      {"plot3 with two coordinates", kPlot3, {R({1, 2}), R({3, 4})}, kWrongTypeInternal},
      {"integer data", kPlot, {I8({1, 2, 3}), T("r")}, kWrongTypeInternal},
      {"a bad style", kPlot, {R({1, 2}), T("q")}, kUnknownOpt},
      {"an id that is not a scalar", kPlot, {R({1, 2}), T("r"), R({1, 2})}, kNonScalarArg},
      {"columns differ", kPlot, {R({1, 2}), R({1, 2, 3})}, kIncompSize},
      {"rows differ", kPlot, {M(3, 2, {1, 2, 3, 4, 5, 6}), M(2, 2, {1, 2, 3, 4})}, kIncompSize},
  };
  for (const Case& c : cases) {
    Fresh();
    EXPECT_EQ(Run(c.body, c.args), c.want) << c.name;
    EXPECT_EQ(used, 0) << c.name;
  }
}

// ---------------------------------------------------------------------------
// area

TEST_F(PlotBodies, AreasAreStackedPolygonsFromTheLastColumn) {
  const std::vector<AppendCase> cases = {
      {"stacked without x",
       kArea,
       {M(2, 2, {1, 2, 3, 4})},
       Join({El(1, -1, 2, 1 | 0x20, 0, {4, 1, 1, 2, 2, 0, 3, 7, 0}),
             El(1, -1, 1, 4 | 0x20, 0, {4, 1, 1, 2, 2, 0, 1, 3, 0})})},
      {"a base", kArea, {C({1, 2}), C({3, 4}), S(1)}, El(1, -1, 1, 0x21, 0, {4, 1, 1, 2, 2, 1, 3, 4, 1})},
      {"x per column: not stacked",
       kArea,
       {M(2, 2, {1, 5, 2, 6}), M(2, 2, {1, 2, 3, 4}), T("r"), S(3)},
       Join({El(1, 3, 2, 4 | 0x20, kRed, {4, 5, 5, 6, 6, 0, 2, 4, 0}),
             El(1, 3, 1, 4 | 0x20, kRed, {4, 1, 1, 2, 2, 0, 1, 3, 0})})},
  };
  CheckAppends(cases);

  // The default colours cycle over eight areas from the last one.
  Fresh();
  ASSERT_EQ(Run(kArea, {M(1, 8, {1, 1, 1, 1, 1, 1, 1, 1})}), kOk);
  const int32_t cycle[] = {1, 4, 2, 6, 0, 3, 5, 1};
  ListElement e{};
  ElementCursor cursor{list.data(), used, kSectionMarkerDoubles};
  for (int h = 0; h < 8; ++h) {
    ASSERT_TRUE(NextElement(&cursor, &e));
    EXPECT_EQ(e.item, 8 - h);
    EXPECT_EQ(e.styleWord, cycle[h] | 0x20) << h;
  }
  EXPECT_EQ(Limits(), (std::vector<double>{1, 1, 0, 8, 0, 0}));

  struct Case {
    std::vector<Arg> args;
    StatusCode want;
  };
  const Case errors[] = {
      {{}, kBadArg},
      {{T("r")}, kBadArg},
      {{S(1), S(2), S(3), S(4)}, kBadArg},
      {{S(1), T("r"), S(2), S(3)}, kBadArg},
      {{C({1, 2, 3}), C({1, 2})}, kIncompSize},
      {{M(2, 2, {1, 2, 3, 4}), M(2, 3, {1, 2, 3, 4, 5, 6})}, kIncompSize},
  };
  for (const Case& c : errors) {
    Fresh();
    EXPECT_EQ(Run(kArea, c.args), c.want) << c.args.size();
  }
}

// ---------------------------------------------------------------------------
// polar

TEST_F(PlotBodies, PolarCurvesAndFlags) {
  const double a = std::acos(-1.0) / 3;
  ASSERT_EQ(Run(kPolar, {M(1, 2, {0, a}), M(2, 2, {1, 2, 3, 4}), T("r")}), kOk);
  EXPECT_EQ(Written(), Join({El(1, -1, 1, 4, kRed, {2, 1, 2 * std::cos(a), 0, 2 * std::sin(a)}),
                             El(1, -1, 2, 4, kRed, {2, 3, 4 * std::cos(a), 0, 4 * std::sin(a)})}));
  EXPECT_EQ(sp.scaleFlags & kScaleEqual, kScaleEqual);
  EXPECT_EQ(sp.polar, 1);

  struct Case {
    std::vector<Arg> args;
    StatusCode want;
  };
  const Case errors[] = {
      {{R({1, 2, 3}), R({1, 2})}, kIncompSize},
      {{M(3, 1, {1, 2, 3}), M(2, 1, {1, 2})}, kIncompSize},
      {{R({1, 2}), T("r")}, kWrongType},
      {{R({1, 2}), R({1, 2}), T("q")}, kUnknownOpt},
  };
  for (const Case& c : errors) {
    Fresh();
    EXPECT_EQ(Run(kPolar, c.args), c.want);
    EXPECT_EQ(used, 0);
  }
}

// ---------------------------------------------------------------------------
// line, line3, circle, activeregion

TEST_F(PlotBodies, LinesCirclesAndRegions) {
  const std::vector<AppendCase> cases = {
      {"a vertical line", kLine, {R({1, 0}), S(2)}, El(4, -1, 1, 8, 0, {1, 0, 2})},
      {"one coefficient row for two constants",
       kLine,
       {R({0, 1}), C({1, 2}), T("r,b"), S(4)},
       Join({El(4, 4, 1, 4, kRed, {0, 1, 1}), El(4, 4, 2, 1, kBlue, {0, 1, 2})})},
      {"an empty coefficient matrix", kLine, {E(), S(1)}, {}},
      {"line3 from a pair of rows",
       kLine3,
       {M(2, 3, {1, 0, 0, 0, 1, 0}), C({1, 2})},
       El(14, -1, 1, 8, 0, {1, 0, 0, 1, 0, 1, 0, 2})},
      {"one circle element", kCircle, {R({0, 1}), S(0), S(1)}, El(5, -1, -1, 8, 0, {2, 0, 1, 0, 0, 1, 1})},
      {"a circle per style",
       kCircle,
       {R({0, 1, 2}), S(0), S(1), T("r,b"), S(9)},
       Join({El(5, 9, 1, 4, kRed, {1, 0, 0, 1}), El(5, 9, 2, 1, kBlue, {1, 1, 0, 1}),
             El(5, 9, 3, 4, kRed, {1, 2, 0, 1})})},
      {"no circles", kCircle, {E(), E(), E()}, {}},
      {"a region polygon", kRegion, {R({0, 1, 1}), R({0, 0, 1}), S(5)}, El(12, 5, -1, 0, 0, {3, 0, 1, 1, 0, 0, 1})},
      {"a region rectangle", kRegion, {S(0), S(1), S(0), S(1), S(7)}, El(12, 7, -1, 0, 0, {4, 0, 1, 1, 0, 0, 0, 1, 1})},
  };
  CheckAppends(cases);

  // Lines and regions leave the limits as the curves before them set them.
  for (Body body : {kLine, kRegion}) {
    Fresh();
    ASSERT_EQ(Run(kPlot, {R({1, 2}), R({3, 4})}), kOk);
    const std::vector<double> before = Limits();
    if (body == kLine) {
      ASSERT_EQ(Run(body, {R({1, 0}), S(20)}), kOk);
    } else {
      ASSERT_EQ(Run(body, {S(-9), S(9), S(-9), S(9), S(1)}), kOk);
    }
    EXPECT_EQ(Limits(), before);
  }
  // Circles widen them by their bounding boxes.
  Fresh();
  ASSERT_EQ(Run(kCircle, {R({0, 2}), S(0), R({1, 2})}), kOk);
  EXPECT_EQ(Limits(), (std::vector<double>{-1, 4, -2, 2, 0, 0}));

  struct Case {
    const char* name;
    Body body;
    std::vector<Arg> args;
    StatusCode want;
  };
  const Case errors[] = {
      {"three coefficients for line", kLine, {R({1, 0, 0}), S(2)}, kBadSize},
      {"constants in a row", kLine, {R({1, 0}), R({1, 2})}, kBadSize},
      {"rows differ", kLine, {M(3, 2, {1, 0, 0, 1, 1, 1}), C({1, 2})}, kIncompSize},
      {"an odd row count for line3", kLine3, {R({1, 0, 0}), S(1)}, kBadSize},
      {"an id that is not 1 x 1", kLine, {R({1, 0}), S(2), T("r"), R({1, 2})}, kBadArg},
      {"circle id not 1 x 1", kCircle, {S(0), S(0), S(1), T("r"), E()}, kBadArg},
      {"circle sizes differ", kCircle, {R({0, 1}), R({0, 1, 2}), S(1)}, kIncompSize},
      {"region sizes differ", kRegion, {R({0, 1}), R({0, 1, 2}), S(1)}, kIncompSize},
      {"region with four arguments", kRegion, {S(0), S(1), S(0), S(1)}, kTooFewArgin},
      {"region with two arguments", kRegion, {S(0), S(1)}, kIllegal},
      {"region with six arguments", kRegion, {S(0), S(1), S(0), S(1), S(2), S(3)}, kIllegal},
  };
  for (const Case& c : errors) {
    Fresh();
    EXPECT_EQ(Run(c.body, c.args), c.want) << c.name;
    EXPECT_EQ(used, 0) << c.name;
  }
}

// ---------------------------------------------------------------------------
// bar and barh

TEST_F(PlotBodies, GroupedStackedAndIntervalBars) {
  // Two series side by side: t = 0.8 / 1.8 per series, bars 0.8 t wide.
  const double t = 1 * 0.8 / (0.8 + 2 - 1);
  const double w = 0.8 * t;
  const double o0 = w / 2 - 0.8 * 1 / 2;
  const double o1 = o0 + t;
  EXPECT_NEAR(o0, -0.2222, 1e-4);
  EXPECT_NEAR(o1, 0.2222, 1e-4);
  const std::vector<AppendCase> cases = {
      {"grouped 2 x 3",
       kBar,
       {M(2, 3, {1, 2, 3, 4, 5, 6})},
       Join({El(7, -1, 1, 0x21, 0, {0, w, 3, 1 + o0, 2 + o0, 3 + o0, 1, 2, 3}),
             El(7, -1, 2, 0x24, 0, {0, w, 3, 1 + o1, 2 + o1, 3 + o1, 4, 5, 6})})},
      {"one series with x and a width",
       kBar,
       {R({2, 4}), R({5, 6}), S(0.5)},
       El(7, -1, 1, 0x21, 0, {0, 1, 2, 2, 4, 5, 6})},
      {"stacked from the last series",
       kBar,
       {M(2, 2, {1, 2, 3, 4}), T("s"), T("r"), S(3)},
       Join({El(7, 3, 2, 0x24, kRed, {0, 0.8, 2, 1, 2, 4, 6}), El(7, 3, 1, 0x24, kRed, {0, 0.8, 2, 1, 2, 1, 2})})},
      {"interval pairs",
       kBar,
       {M(6, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), T("I")},
       Join({El(7, -1, 1, 0x21, 0, {2, 0.8, 2, 1, 2, 3, 4, 1, 2}), El(7, -1, 3, 0x24, 0, {2, 0.8, 2, 1, 2, 7, 8, 5, 6}),
             El(7, -1, 5, 0x22, 0, {2, 0.8, 2, 1, 2, 11, 12, 9, 10})})},
      {"barh", kBarh, {R({1, 2})}, El(7, -1, 1, 0x21, 0, {1, 0.8, 2, 1, 2, 1, 2})},
  };
  CheckAppends(cases);

  // The value axis includes 0 except for intervals; positions reach half a bar out.
  Fresh();
  ASSERT_EQ(Run(kBar, {M(2, 3, {1, 2, 3, 4, 5, 6})}), kOk);
  EXPECT_EQ(Limits(), (std::vector<double>{1 + o0 - w / 2, 3 + o1 + w / 2, 0, 6, 0, 0}));
  Fresh();
  ASSERT_EQ(Run(kBar, {M(2, 2, {3, 4, 5, 6}), T("i")}), kOk);
  EXPECT_EQ(Limits(), (std::vector<double>{0.6, 2.4, 3, 6, 0, 0}));
  Fresh();
  ASSERT_EQ(Run(kBarh, {R({-1, 2})}), kOk);
  EXPECT_EQ(Limits(), (std::vector<double>{-1, 2, 0.6, 2.4, 0, 0}));

  struct Case {
    const char* name;
    std::vector<Arg> args;
    StatusCode want;
  };
  const Case errors[] = {
      {"an unknown kind", {R({1, 2}), T("q")}, kUnknownOpt},
      {"an odd row count for intervals", {M(3, 1, {1, 2, 3}), T("i")}, kBadSize},
      {"three widths", {R({1, 2}), R({3, 4}), R({1, 2, 3})}, kBadSize},
      {"x and y columns differ", {R({1, 2, 3}), R({3, 4})}, kIncompSize},
      {"an id without a style", {R({1, 2}), T("g"), S(5)}, kBadArg},
      {"two strings after the kind", {R({1, 2}), T("g"), T("r"), T("b")}, kBadArg},
      {"too many after the kind", {R({1, 2}), T("g"), T("r"), S(1), S(2)}, kBadArg},
      {"no data before the kind", {T("g")}, kBadArg},
      {"four numbers", {S(1), S(2), S(3), S(4)}, kBadArg},
      {"a bad style", {R({1, 2}), T("g"), T("q")}, kUnknownOpt},
  };
  for (const Case& c : errors) {
    Fresh();
    EXPECT_EQ(Run(kBar, c.args), c.want) << c.name;
    EXPECT_EQ(used, 0) << c.name;
  }
}

// ---------------------------------------------------------------------------
// Room: every body writes into exactly its size and refuses one double less.

TEST_F(PlotBodies, EveryBodyFitsExactlyAndNeverWritesPastTheCapacity) {
  struct Case {
    const char* name;
    Body body;
    std::vector<Arg> args;
  };
  const Case cases[] = {
      {"plot", kPlot, {M(2, 3, {1, 2, 3, 4, 5, 6})}},
      {"plot stairs", kPlot, {R({1, 2, 3}), T("s,r")}},
      {"plot3", kPlot3, {R({1, 2}), R({3, 4}), R({5, 6})}},
      {"area", kArea, {M(3, 2, {1, 2, 3, 4, 5, 6})}},
      {"polar", kPolar, {R({0, 1}), M(2, 2, {1, 2, 3, 4})}},
      {"line", kLine, {M(2, 2, {1, 0, 0, 1}), C({1, 2})}},
      {"line3", kLine3, {M(4, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1}), C({1, 2, 3, 4})}},
      {"circle", kCircle, {R({0, 1}), S(0), S(1)}},
      {"circles", kCircle, {R({0, 1}), S(0), S(1), T("r,b")}},
      {"region polygon", kRegion, {R({0, 1, 1}), R({0, 0, 1}), S(5)}},
      {"region rectangle", kRegion, {S(0), S(1), S(0), S(1), S(7)}},
      {"bar", kBar, {M(2, 3, {1, 2, 3, 4, 5, 6})}},
      {"interval bars", kBar, {M(2, 3, {1, 2, 3, 4, 5, 6}), T("i")}},
  };
  for (const Case& c : cases) {
    Fresh();
    ASSERT_EQ(Run(c.body, c.args), kOk) << c.name;
    const int32_t size = used;
    const std::vector<double> full(list.begin(), list.begin() + size);

    Fresh(static_cast<size_t>(size) + 8);
    EXPECT_EQ(Run(c.body, c.args, size), kOk) << c.name;
    EXPECT_EQ(used, size) << c.name;
    EXPECT_EQ(std::vector<double>(list.begin(), list.begin() + size), full) << c.name;

    Fresh(static_cast<size_t>(size) + 8);
    EXPECT_EQ(Run(c.body, c.args, size - 1), kPlotOverflow) << c.name;
    EXPECT_EQ(used, 0) << c.name;
    for (size_t k = size - 1; k < list.size(); ++k) EXPECT_EQ(list[k], kSentinel) << c.name << " at " << k;
  }
}
