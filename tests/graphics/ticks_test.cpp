#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "graphics/renderer.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void ExpectChoice(const TickChoice& got, const TickChoice& want, const char* what) {
  const double g[6] = {got.firstMinor, got.minorStep, got.firstMajor, got.majorStep, got.firstLabel, got.labelStep};
  const double w[6] = {want.firstMinor, want.minorStep,  want.firstMajor,
                       want.majorStep,  want.firstLabel, want.labelStep};
  for (int i = 0; i < 6; ++i) {
    if (g[i] == w[i]) continue;  // infinities too
    EXPECT_NEAR(g[i], w[i], 1e-12 * (1 + std::fabs(w[i]))) << what << " field " << i;
  }
}

TEST(ChooseAxisTicks, PicksDecadesFractionsAndLabelSteps) {
  struct Case {
    const char* what;
    double lo, hi, limit, tick, label;
    TickChoice want;
  };
  const Case kCases[] = {
      {"tenths labelled", 0, 1, 1, 0.001, 0.06, {0, 0.02, 0, 1, 0, 0.1}},
      {"bounds swapped", 1, 0, 1, 0.001, 0.06, {0, 0.02, 0, 1, 0, 0.1}},
      {"decade 10 across 0", -3.7, 12.2, 12.2, 0.2, 1, {-3.5, 0.5, 0, 10, -3, 1}},
      {"fallback to the unit step", 0, 1, 1, 0.3, 0.9, {0, 0.5, 0, 1, 0, 1}},
      {"fallback ends at step 2", 0, 1, 1, 0.3, 2, {0, 0.5, 0, 1, 0, 2}},
      {"decade below the tick spacing", 0, 1, 1, 2, 5, {0, 5, 0, 10, 0, 5}},
  };
  for (const Case& c : kCases) {
    TickChoice t{};
    EXPECT_TRUE(ChooseAxisTicks(c.lo, c.hi, c.limit, c.tick, c.label, &t)) << c.what;
    ExpectChoice(t, c.want, c.what);
  }
}

TEST(ChooseAxisTicks, RefusesDegenerateSpansWithTheirFixedOutputs) {
  struct Case {
    const char* what;
    double lo, hi;
    TickChoice want;
  };
  const Case kCases[] = {
      {"lo = hi", 5, 5, {5, 1, 5, 1, 5, 1}},
      {"NaN", kNaN, 1, {1, 1, 1, 1, 1, 1}},
      {"span 2e18", -1e18, 1e18, {0, 1, 0, 1, 0, 1}},
      {"infinite span", 0, INFINITY, {INFINITY, 1, INFINITY, 1, INFINITY, 1}},
  };
  for (const Case& c : kCases) {
    TickChoice t{};
    EXPECT_FALSE(ChooseAxisTicks(c.lo, c.hi, c.hi, 0.1, 0.1, &t)) << c.what;
    ExpectChoice(t, c.want, c.what);
  }
  TickChoice t{};
  EXPECT_TRUE(ChooseAxisTicks(0, 1e18, 1e18, 1e15, 1e16, &t)) << "a span of exactly 1e18 is accepted";
  EXPECT_TRUE(ChooseAxisTicks(0, 1e-8, 1e-8, 1e-11, 1e-10, &t)) << "a span of exactly 1e-8 is accepted";
}

std::vector<double> Entries(LogTickPattern p) {
  std::vector<double> out;
  int i = 0;
  for (; p[i] > 0; ++i) out.push_back(p[i]);
  out.push_back(p[i]);
  return out;
}

TEST(ChooseLogAxisTicks, DensifiesPatternsWhileTheRatiosAllowIt) {
  const std::vector<double> k125 = {1, 2, 5, -10}, kDecade = {1, -10}, k12468 = {1, 2, 4, 6, 8, -10};
  const std::vector<double> k1to9 = {1, 2, 3, 4, 5, 6, 7, 8, 9, -10};
  const std::vector<double> kHalves = {1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5, 5, 6, 7, 8, 9, -10};
  struct Case {
    const char* what;
    double f;
    std::vector<double> minor, major;
  };
  const Case kCases[] = {
      {"f = 1.5", 1.5, k125, kDecade},
      {"400 pixels over three decades", std::exp(10 * std::log(1000.0) / 400), k12468, kDecade},
      {"700 pixels over three decades", std::exp(10 * std::log(1000.0) / 700), kHalves, k1to9},
      {"no pattern dense enough", 2e6, {1, -1e6}, {1, -1e6}},
  };
  for (const Case& c : kCases) {
    LogTickChoice t{};
    EXPECT_TRUE(ChooseLogAxisTicks(3, 1000, 1000, c.f, 1e9, &t)) << c.what;
    EXPECT_EQ(t.firstDecade, 1) << c.what;
    EXPECT_EQ(Entries(t.minor), c.minor) << c.what;
    EXPECT_EQ(Entries(t.major), c.major) << c.what;
  }
  LogTickChoice t{};
  ASSERT_TRUE(ChooseLogAxisTicks(0.02, 50, 50, 1e9, 1.5, &t));
  EXPECT_NEAR(t.firstDecade, 0.01, 1e-15);
  EXPECT_EQ(Entries(t.label), k125);
}

TEST(ChooseLogAxisTicks, RefusesBoundsThatWouldNeverEndTheDecadeSearch) {
  struct Case {
    const char* what;
    double lo, hi, decade;
  };
  const Case kCases[] = {
      {"NaN", kNaN, 10, 1}, {"equal bounds", 7, 7, 7},    {"negative bounds (a negative scale factor)", -1, -1000, 1},
      {"zero", 0, 100, 1},  {"infinite", 1, INFINITY, 1},
  };
  for (const Case& c : kCases) {
    LogTickChoice t{};
    EXPECT_FALSE(ChooseLogAxisTicks(c.lo, c.hi, c.hi, 1.1, 1.1, &t)) << c.what;
    EXPECT_EQ(t.firstDecade, c.decade) << c.what;
    EXPECT_EQ(Entries(t.minor), (std::vector<double>{1, -10})) << c.what;
  }
}

}  // namespace
