// Polynomial roots by the companion matrix and by Laguerre's method: roots of
// polynomials built from known roots must come back.
#include <gtest/gtest.h>

#include <cmath>

#include "numeric/numeric.h"
#include "tests/numeric/testutil.h"

using namespace testutil;

namespace {

std::vector<Cx> Collect(const Vec& re, const Vec& im) {
  std::vector<Cx> out;
  for (size_t i = 0; i < re.size(); ++i) out.emplace_back(re[i], im[i]);
  return out;
}

// Real coefficients of the polynomial with the given (conjugate-closed) roots.
Vec RealPoly(const std::vector<Cx>& roots) {
  int n = static_cast<int>(roots.size());
  Vec rr(n), ri(n), cr(n + 1), ci(n + 1);
  for (int i = 0; i < n; ++i) rr[i] = roots[i].real(), ri[i] = roots[i].imag();
  BuildPolyFromComplexRoots(rr.data(), ri.data(), n, cr.data(), ci.data());
  return cr;
}

const std::vector<Cx> kRealRootSets[] = {
    {1, 2, 3},
    {-4, 0.5, Cx(1, 2), Cx(1, -2), 3},
    {Cx(0, 1), Cx(0, -1), Cx(-2, 0.5), Cx(-2, -0.5), 7, -7},
    {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7},
};

}  // namespace

TEST(RealRoots, CompanionMatrixRecoversKnownRoots) {
  for (const auto& roots : kRealRootSets) {
    int n = static_cast<int>(roots.size());
    Vec p = RealPoly(roots), re(n), im(n), scratch(n * n + n);
    bool complex = FindRealPolyRoots(p.data(), n, re.data(), im.data(), scratch.data());
    EXPECT_LT(SpectrumDistance(Collect(re, im), roots), 1e-7) << n;
    bool want = false;
    for (Cx r : roots) want |= r.imag() != 0;
    EXPECT_EQ(complex, want) << n;
  }
}

TEST(RealRoots, LaguerreRecoversKnownRoots) {
  for (const auto& roots : kRealRootSets) {
    int n = static_cast<int>(roots.size());
    Vec p = RealPoly(roots), re(n), im(n);
    for (double& c : p) c *= -2.5;  // normalisation is the finder's job
    FindRealPolyRootsByLaguerre(p.data(), n, re.data(), im.data());
    EXPECT_LT(SpectrumDistance(Collect(re, im), roots), 1e-6) << n;
    EXPECT_EQ(p[0], 1);
  }
}

TEST(RealRoots, EdgeCases) {
  Vec re(3), im(3), scratch(12);
  Vec z3 = {1, 0, 0, 0};  // z^3: zeros from the trailing coefficients
  EXPECT_FALSE(FindRealPolyRoots(z3.data(), 3, re.data(), im.data(), scratch.data()));
  EXPECT_EQ(re, Vec(3, 0.0));
  EXPECT_EQ(im, Vec(3, 0.0));
  Vec c = {2};
  EXPECT_FALSE(FindRealPolyRoots(c.data(), 0, re.data(), im.data(), scratch.data()));
  // z^2 + 1 by Laguerre: straight to the formula, i first.
  Vec q = {1, 0, 1};
  EXPECT_TRUE(FindRealPolyRootsByLaguerre(q.data(), 2, re.data(), im.data()));
  EXPECT_EQ(Cx(re[0], im[0]), Cx(0, 1));
  EXPECT_EQ(Cx(re[1], im[1]), Cx(0, -1));
  // z^2 + 1e-16: the imaginary parts fall under 1e-7, the result stays true.
  Vec t = {1, 0, 1e-16};
  EXPECT_TRUE(FindRealPolyRootsByLaguerre(t.data(), 2, re.data(), im.data()));
  EXPECT_EQ(re[0], 0);
  EXPECT_EQ(im[0], 0);
  EXPECT_EQ(im[1], 0);
  // Zero roots go to the end, the cubic factor's roots below them.
  Vec p = {1, -6, 11, -6, 0, 0}, r5(5), i5(5);
  EXPECT_FALSE(FindRealPolyRootsByLaguerre(p.data(), 5, r5.data(), i5.data()));
  EXPECT_EQ(r5[4], 0);
  EXPECT_EQ(r5[3], 0);
  EXPECT_LT(SpectrumDistance(Collect(Vec(r5.begin(), r5.begin() + 3), Vec(i5.begin(), i5.begin() + 3)), {1, 2, 3}),
            1e-9);
}

TEST(RealRoots, QuadraticAvoidsCancellation) {
  Vec re(2), im(2);
  Vec p = {1, -1e9, 1};
  EXPECT_FALSE(FindRealPolyRootsByLaguerre(p.data(), 2, re.data(), im.data()));
  EXPECT_DOUBLE_EQ(re[0], 1e9);
  EXPECT_DOUBLE_EQ(re[1], 1e-9);
  Vec q = {1, 1e9, 1};
  FindRealPolyRootsByLaguerre(q.data(), 2, re.data(), im.data());
  EXPECT_DOUBLE_EQ(re[0], -1e-9);
  EXPECT_DOUBLE_EQ(re[1], -1e9);
}

TEST(RealRoots, NonFiniteCoefficientsEndWithoutHanging) {
  // A NaN coefficient: every attempt fails, each root is the NaN iterate.
  Vec p = {1, NAN, 2, 3, 4}, re(4, 7), im(4, 7);
  EXPECT_FALSE(FindRealPolyRootsByLaguerre(p.data(), 4, re.data(), im.data()));
  for (int k = 0; k < 4; ++k) {
    EXPECT_TRUE(std::isnan(re[k])) << k;
    EXPECT_EQ(im[k], 0) << k;
  }
  // A huge coefficient: the companion matrix still gives the large root, and
  // the three roots near 1.6e-100 underflow to zero.
  Vec q = {1, 1e300, 2, 3, 4}, scratch(20);
  EXPECT_FALSE(FindRealPolyRoots(q.data(), 4, re.data(), im.data(), scratch.data()));
  EXPECT_DOUBLE_EQ(re[0], -1e300);
  EXPECT_EQ(Vec(re.begin() + 1, re.end()), Vec(3, 0.0));
  EXPECT_EQ(im, Vec(4, 0.0));
}

TEST(LaguerreIteration, RealModeAndComplexMode) {
  Vec p = {1, -6, 11, -6};
  double x = 0.5, y = -1;
  EXPECT_TRUE(IterateLaguerreReal(p.data(), 3, &x, &y));
  EXPECT_NEAR(x, 1, 1e-8);  // within the iteration's tolerance
  EXPECT_EQ(y, -1);
  // z^3 - 1 from the real axis at 0.5 leaves it towards a complex root... or 1.
  Vec c = {1, 0, 0, 1};  // z^3 + 1: roots -1 and 1/2 +- i sqrt(3)/2
  x = 1, y = -1;
  EXPECT_TRUE(IterateLaguerreReal(c.data(), 3, &x, &y));
  Cx z(x, y < 0 ? 0 : y);
  EXPECT_LT(std::abs(z * z * z + 1.0), 1e-10);
  Vec zr = {1, 0, 1}, zi = {0, -2, 0};  // z^2 - 2i z + 1: roots i(1 +- sqrt(2))
  x = 1, y = -1;
  EXPECT_TRUE(IterateLaguerreComplex(zr.data(), zi.data(), 2, &x, &y));
  Cx w(x, y);
  EXPECT_LT(std::abs(w * w - Cx(0, 2) * w + 1.0), 1e-12);
}

TEST(ComplexRoots, CompanionAndLaguerreRecoverKnownRoots) {
  const std::vector<Cx> roots = {Cx(1, 1), Cx(-2, 0.5), Cx(0, -3), 4, Cx(0.5, 0.5)};
  int n = static_cast<int>(roots.size());
  Vec rr(n), ri(n), cr(n + 1), ci(n + 1);
  for (int i = 0; i < n; ++i) rr[i] = roots[i].real(), ri[i] = roots[i].imag();
  EXPECT_FALSE(BuildPolyFromComplexRoots(rr.data(), ri.data(), n, cr.data(), ci.data()));
  Vec re(n), im(n), scratch(2 * n * n + 2 * n);
  Vec pr = cr, pi = ci;
  FindComplexPolyRoots(pr.data(), pi.data(), n, re.data(), im.data(), scratch.data());
  EXPECT_LT(SpectrumDistance(Collect(re, im), roots), 1e-10);
  pr = cr, pi = ci;
  FindComplexPolyRootsByLaguerre(pr.data(), pi.data(), n, re.data(), im.data());
  EXPECT_LT(SpectrumDistance(Collect(re, im), roots), 1e-8);
}

TEST(ComplexRoots, EdgeCases) {
  // Real coefficients in complex form go to the real finder: conjugate pairs.
  Vec pr = {1, -2, 5}, pi = {0, 0, 0}, re(2), im(2);
  FindComplexPolyRootsByLaguerre(pr.data(), pi.data(), 2, re.data(), im.data());
  EXPECT_EQ(Cx(re[0], im[0]), Cx(1, 2));
  EXPECT_EQ(Cx(re[1], im[1]), Cx(1, -2));
  // A linear polynomial by Smith's division, and trailing zeros.
  Vec lr = {0, 2, 0}, li = {2, 0, 0}, scratch(12);
  FindComplexPolyRoots(lr.data(), li.data(), 2, re.data(), im.data(), scratch.data());
  EXPECT_EQ(Cx(re[1], im[1]), Cx(0));
  EXPECT_NEAR(re[0], 0, 1e-15);
  EXPECT_NEAR(im[0], 1, 1e-15);  // 2i z + 2 = 0 at z = i
}

TEST(ComplexRoots, LaguerreStopsOnNonFiniteCoefficients) {
  Vec pr = {1, NAN, 1, 2}, pi = {0, 1, 0, 0}, re(3, 7), im(3, 7);
  // One step from the starting guess is NaN: both iterations stop there,
  // converged, on a NaN iterate.
  double x = 1, y = -1;
  EXPECT_TRUE(IterateLaguerreComplex(pr.data(), pi.data(), 3, &x, &y));
  EXPECT_TRUE(std::isnan(x) && std::isnan(y)) << x << " " << y;
  Vec p = {1, NAN, 1, 2};
  x = 1, y = -1;
  EXPECT_TRUE(IterateLaguerreReal(p.data(), 3, &x, &y));
  EXPECT_TRUE(std::isnan(x)) << x;

  FindComplexPolyRootsByLaguerre(pr.data(), pi.data(), 3, re.data(), im.data());
  for (int k = 0; k < 3; ++k) {
    EXPECT_TRUE(std::isnan(re[k])) << k << ": " << re[k];
    EXPECT_TRUE(std::isnan(im[k])) << k << ": " << im[k];
  }
}

// Laguerre on known roots: small and large conjugate pairs beside real roots,
// a pair near the real axis, multiple real roots. A root of multiplicity k is
// only determined to about eps^(1/k).
TEST(RealRoots, LaguerreFindsPairsOfEveryScaleAndMultipleRoots) {
  struct Root {
    Cx z;
    int multiplicity;
  };
  const std::vector<Root> kCases[] = {
      {{1, 1}, {2, 1}, {Cx(0, 1e-5), 1}},     {{1, 1}, {2, 1}, {Cx(0, 1e-6), 1}},
      {{-1, 1}, {3, 1}, {Cx(1e-6, 1e-6), 1}}, {{1, 1}, {-2, 1}, {Cx(-1e-3, 2e-3), 1}},
      {{0.5, 1}, {Cx(1e3, 1e3), 1}},          {{1, 1}, {-2, 1}, {Cx(3e5, 1e6), 1}},
      {{2, 1}, {-1, 1}, {Cx(1, 1e-7), 1}},    {{2, 2}, {-1, 1}, {Cx(0, 1), 1}},
      {{Cx(0.5, 3), 1}, {1, 3}, {-2, 1}},     {{Cx(0.2, 0.1), 1}, {Cx(-3, 4), 1}, {5, 1}},
  };
  for (size_t c = 0; c < std::size(kCases); ++c) {
    std::vector<Cx> all;
    bool pair = false;
    for (const Root& r : kCases[c])
      for (int k = 0; k < r.multiplicity; ++k) {
        all.push_back(r.z);
        if (r.z.imag() != 0) all.push_back(std::conj(r.z)), pair = true;
      }
    const int n = static_cast<int>(all.size());
    Vec p = RealPoly(all), re(n), im(n);
    const bool flag = FindRealPolyRootsByLaguerre(p.data(), n, re.data(), im.data());
    if (pair) {
      EXPECT_TRUE(flag) << "case " << c;
    }
    // A complex root is always reported with its conjugate.
    for (int i = 0; i < n; ++i) {
      if (im[i] == 0) continue;
      bool conjugate = false;
      for (int j = 0; j < n; ++j) conjugate |= j != i && re[j] == re[i] && im[j] == -im[i];
      EXPECT_TRUE(conjugate) << "case " << c << " root " << i;
    }
    // Each known root claims found roots nearest first, within its accuracy.
    std::vector<bool> used(n);
    for (const Root& r : kCases[c])
      for (Cx z : r.z.imag() != 0 ? std::vector<Cx>{r.z, std::conj(r.z)} : std::vector<Cx>{r.z}) {
        const double tol = r.multiplicity == 1
                               ? 1e-8 + 1e-8 * std::abs(z)
                               : 4 * std::pow(0x1p-52, 1.0 / r.multiplicity) * std::max(1.0, std::abs(z));
        for (int k = 0; k < r.multiplicity; ++k) {
          int best = -1;
          for (int i = 0; i < n; ++i)
            if (!used[i] && (best < 0 || std::abs(Cx(re[i], im[i]) - z) < std::abs(Cx(re[best], im[best]) - z)))
              best = i;
          ASSERT_GE(best, 0);
          used[best] = true;
          EXPECT_LT(std::abs(Cx(re[best], im[best]) - z), tol) << "case " << c << " root " << z;
        }
      }
  }
}
