// Point evaluation of transfer functions and state-space models, and the
// default frequency ranges and time spans chosen from their poles.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "control/control.h"
#include "numeric/numeric.h"

namespace {

using Vec = std::vector<double>;

Vec PolyFromRoots(const Vec& roots) {
  Vec c(roots.size() + 1);
  BuildPolyFromRealRoots(roots.data(), static_cast<int>(roots.size()), c.data());
  return c;
}

Vec Diagonal(const Vec& d) {
  const size_t n = d.size();
  Vec a(n * n, 0.0);
  for (size_t i = 0; i < n; ++i) a[i * n + i] = d[i];
  return a;
}

TEST(EvaluateTransferFunction, DividesAndHandlesAZeroDenominator) {
  const Vec num = {1, 1}, den = {1, 0, 1};
  double re, im;
  // (s + 1)/(s^2 + 1) at s = 2j: (1 + 2j)/(-3).
  EvaluateTransferFunction(num.data(), 1, den.data(), 2, 0, 2, &re, &im);
  EXPECT_DOUBLE_EQ(re, -1.0 / 3);
  EXPECT_DOUBLE_EQ(im, -2.0 / 3);
  // Both branches of the division: |Im D| above and below |Re D|.
  const Vec d2 = {1, 3};
  for (double w : {0.5, 10.0}) {
    EvaluateTransferFunction(num.data(), 1, d2.data(), 1, 0, w, &re, &im);
    const std::complex<double> want = std::complex<double>(1, w) / std::complex<double>(3, w);
    EXPECT_NEAR(re, want.real(), 1e-15) << w;
    EXPECT_NEAR(im, want.imag(), 1e-15) << w;
  }
  // 1/0 at the pole s = 0 of 1/s.
  const Vec one = {1}, s = {1, 0};
  EvaluateTransferFunction(one.data(), 0, s.data(), 1, 0, 0, &re, &im);
  EXPECT_EQ(re, INFINITY);
  EXPECT_EQ(im, 0);
  const Vec minus = {-1};
  EvaluateTransferFunction(minus.data(), 0, s.data(), 1, 0, 0, &re, &im);
  EXPECT_EQ(re, -INFINITY);
  // (1 + j)/0 at the pole s = j of (s + 1)/(s^2 + 1).
  EvaluateTransferFunction(num.data(), 1, den.data(), 2, 0, 1, &re, &im);
  EXPECT_TRUE(std::isnan(re));
  EXPECT_TRUE(std::isnan(im));
}

struct RangeCase {
  const char* name;
  Vec poles;
  double logMin, logMax, linMin, linMax, span;
};

TEST(DefaultRanges, FollowThePolesForTransferFunctionsAndStateSpace) {
  const RangeCase kCases[] = {
      {"no pole", {}, 1, 10, 1, 10, 10},
      {"integrator", {0}, 0.001, 10, 0, 10, 0},
      {"poles 1e-4 and 1e4", {-1e-4, -1e4}, 10, 1e5, 0, 1e5, 1e-3},
      {"seven poles, one beyond 1e6",
       {-1, -2, -3, -4, -5, -6, -2e6},
       100,
       1e6,
       0,
       1e6,
       10 * (1 + 1. / 2 + 1. / 3 + 1. / 4 + 1. / 5 + 1. / 6 + 5e-7)},
      {"only modulus 1e-7", {-1e-7}, 1e-8, 1e-6, 0, 1e-6, 0},
      {"1e-6 adds nothing, 0.01 adds 1000", {-1e-6, -0.01}, 1e-5, 0.1, 0, 0.1, 1000},
      {"narrow", {-1, -2}, 0.1, 20, 0, 20, 15},
  };
  for (const RangeCase& c : kCases) {
    const int n = static_cast<int>(c.poles.size());
    const Vec den = PolyFromRoots(c.poles);
    const Vec a = Diagonal(c.poles);
    Vec scratch(size_t(n) * (n + 3) + 3 * n + 1, -7.0);
    double lo, hi, span;
    ChooseTfFrequencyRange(den.data(), n, true, scratch.data(), &lo, &hi);
    EXPECT_NEAR(lo, c.logMin, 1e-9 * c.logMin) << c.name;
    EXPECT_NEAR(hi, c.logMax, 1e-9 * c.logMax) << c.name;
    ChooseTfFrequencyRange(den.data(), n, false, scratch.data(), &lo, &hi);
    EXPECT_NEAR(lo, c.linMin, 1e-9 * c.linMin) << c.name;
    EXPECT_NEAR(hi, c.linMax, 1e-9 * c.linMax) << c.name;
    ChooseTfTimeRange(den.data(), n, scratch.data(), &span);
    EXPECT_NEAR(span, c.span, 1e-9 * c.span) << c.name;

    ChooseSsFrequencyRange(a.data(), n, true, scratch.data(), &lo, &hi);
    EXPECT_NEAR(lo, c.logMin, 1e-9 * c.logMin) << "ss " << c.name;
    EXPECT_NEAR(hi, c.logMax, 1e-9 * c.logMax) << "ss " << c.name;
    ChooseSsFrequencyRange(a.data(), n, false, scratch.data(), &lo, &hi);
    EXPECT_NEAR(lo, c.linMin, 1e-9 * c.linMin) << "ss " << c.name;
    EXPECT_NEAR(hi, c.linMax, 1e-9 * c.linMax) << "ss " << c.name;
    ChooseSsTimeRange(a.data(), n, scratch.data(), &span);
    EXPECT_NEAR(span, c.span, 1e-9 * c.span) << "ss " << c.name;
  }
}

TEST(DefaultRanges, ComplexPairAndTheCallersDataStayIntact) {
  // s^2 + 2s + 100: |p|^2 = 100 for both poles.
  const Vec den = {1, 2, 100};
  const Vec a = {-2, -100, 1, 0};
  Vec scratch(16);
  double lo, hi, span;
  ChooseTfFrequencyRange(den.data(), 2, true, scratch.data(), &lo, &hi);
  EXPECT_NEAR(lo, 1, 1e-12);
  EXPECT_NEAR(hi, 100, 1e-12);
  ChooseTfFrequencyRange(den.data(), 2, false, scratch.data(), &lo, &hi);
  EXPECT_EQ(lo, 0);
  EXPECT_NEAR(hi, 100, 1e-12);
  ChooseTfTimeRange(den.data(), 2, scratch.data(), &span);
  EXPECT_NEAR(span, 2, 1e-12);
  ChooseSsFrequencyRange(a.data(), 2, true, scratch.data(), &lo, &hi);
  EXPECT_NEAR(lo, 1, 1e-12);
  EXPECT_NEAR(hi, 100, 1e-12);
  EXPECT_EQ(den, (Vec{1, 2, 100}));
  EXPECT_EQ(a, (Vec{-2, -100, 1, 0}));
}

TEST(DefaultRanges, DiscreteSpansMapPolesThroughTheLogarithm) {
  struct Case {
    Vec poles;
    double ts, span;
  };
  const Case kCases[] = {
      {{0.5}, 1, 10 / std::log(2.0)},
      {{0.5}, 0.1, 1 / std::log(2.0)},
      {{1}, 1, 0},  // s = 0
      {{0}, 1, 0},  // s at minus infinity
      {{1, 0.5, 0}, 2, 20 / std::log(2.0)},
  };
  for (const Case& c : kCases) {
    const int n = static_cast<int>(c.poles.size());
    const Vec den = PolyFromRoots(c.poles);
    const Vec a = Diagonal(c.poles);
    Vec scratch(size_t(n) * (n + 3) + 3 * n + 1);
    double span;
    ChooseDiscreteTfTimeRange(den.data(), n, c.ts, scratch.data(), &span);
    EXPECT_NEAR(span, c.span, 1e-12 * (1 + c.span)) << n << " " << c.ts;
    ChooseDiscreteSsTimeRange(a.data(), n, c.ts, scratch.data(), &span);
    EXPECT_NEAR(span, c.span, 1e-12 * (1 + c.span)) << n << " " << c.ts;
  }
}

TEST(StateSpaceResponse, EqualsTheTransferFunctionOfTheSameSystem) {
  // Two outputs over one denominator, realised in controller form.
  const Vec den = {2, 3, 5, 7};
  const Vec num = {0, 1, -2, 4, 3, 0.5, 0, 1};
  const int n = 3, ny = 2;
  Vec a(n * n), b(n), c(ny * n), d(ny);
  ConvertTfToSs(num.data(), 3, ny, den.data(), n, a.data(), b.data(), c.data(), d.data());
  Vec scratch(2 * n * n + 2 * ny * n + n);
  for (double w : {0.0, 0.3, 1.0, 17.0}) {
    for (bool discrete : {false, true}) {
      const double sr = discrete ? std::cos(w) : 0, si = discrete ? std::sin(w) : w;
      double re[2], im[2];
      EvaluateSsFrequencyResponse(a.data(), b.data(), c.data(), d.data(), n, ny, sr, si, re, im, scratch.data());
      for (int i = 0; i < ny; ++i) {
        double tr, ti;
        EvaluateTransferFunction(num.data() + 4 * i, 3, den.data(), 3, sr, si, &tr, &ti);
        EXPECT_NEAR(re[i], tr, 1e-12 * (1 + std::abs(tr))) << w << " " << i;
        EXPECT_NEAR(im[i], ti, 1e-12 * (1 + std::abs(ti))) << w << " " << i;
      }
    }
  }
  // The singular values of a 2 x 1 response are its norm and 0; a 1 x 1 one its modulus.
  Vec sv(static_cast<size_t>(SsSingularValueScratch(n, 1, ny)));
  double sigma[1];
  ASSERT_TRUE(EvaluateSsSingularValues(a.data(), b.data(), c.data(), d.data(), n, 1, ny, 0, 0.7, sigma, sv.data()));
  double norm = 0;
  for (int i = 0; i < ny; ++i) {
    double tr, ti;
    EvaluateTransferFunction(num.data() + 4 * i, 3, den.data(), 3, 0, 0.7, &tr, &ti);
    norm += tr * tr + ti * ti;
  }
  EXPECT_NEAR(sigma[0], std::sqrt(norm), 1e-12);
}

TEST(StateSpaceResponse, SingularValuesOfATwoInputModel) {
  // A = diag(-1, -2), B = I, C = I, D = 0: G(s) = diag(1/(s+1), 1/(s+2)).
  const Vec a = {-1, 0, 0, -2}, b = {1, 0, 0, 1}, c = {1, 0, 0, 1};
  Vec sv(static_cast<size_t>(SsSingularValueScratch(2, 2, 2)));
  double sigma[2];
  ASSERT_TRUE(EvaluateSsSingularValues(a.data(), b.data(), c.data(), nullptr, 2, 2, 2, 0, 1, sigma, sv.data()));
  EXPECT_NEAR(sigma[0], 1 / std::sqrt(2.0), 1e-14);
  EXPECT_NEAR(sigma[1], 1 / std::sqrt(5.0), 1e-14);
}

}  // namespace
