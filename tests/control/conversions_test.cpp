// Model conversions and discretisations checked against each other on seeded
// systems, the bilinear substitution against direct evaluation, and the
// Schur-Cohn stability test on polynomials with known roots.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "control/control.h"
#include "numeric/numeric.h"

namespace {

using Vec = std::vector<double>;
using Cx = std::complex<double>;

double MaxDiff(const Vec& a, const Vec& b) {
  double d = 0;
  for (size_t k = 0; k < a.size(); ++k) d = std::max(d, std::fabs(a[k] - b[k]));
  return a.size() == b.size() ? d : INFINITY;
}

// A stable denominator (roots in (-3, -0.2)) and a numerator of degree m.
void RandomTf(unsigned seed, int m, int n, Vec* num, Vec* den) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> root(-3, -0.2), coef(-1, 1);
  Vec roots(n);
  for (double& r : roots) r = root(gen);
  den->assign(n + 1, 0);
  BuildPolyFromRealRoots(roots.data(), n, den->data());
  num->resize(m + 1);
  for (double& c : *num) c = coef(gen);
}

Cx Poly(const Vec& p, Cx x) {
  Cx v = 0;
  for (double c : p) v = v * x + c;
  return v;
}

TEST(SchurStability, RootsInsideTheUnitCircleOnly) {
  struct Case {
    Vec p;
    bool stable;
  };
  const Case kCases[] = {
      {{1, -0.5}, true},
      {{1, -1}, false},
      {{1, 0, 0.25}, true},
      {{1, 0, 4}, false},
      {{-2, 1}, true},
      {{0, 0, 1, 0.5}, true},
      {{0, 0, 0}, true},
      {{1, NAN}, false},
      {{1, -1.5, 0.7}, true},
      {{1, -1.5, 1.2}, false},
      {{1, 0.1, -0.2, 0.05}, true},
      {{1, 3, 3, 1}, false},
  };
  for (const Case& c : kCases) {
    Vec p = c.p;
    EXPECT_EQ(IsSchurStable(p.data(), static_cast<int>(p.size()) - 1), c.stable) << p[0] << " " << p[1];
  }
}

TEST(BilinearSubstitution, MatchesDirectEvaluationAndRunsInPlace) {
  const double a = 2.5, b = -2.5, c = 1, d = 1;
  for (int m : {0, 1, 3}) {
    Vec num, den;
    RandomTf(40 + m, m, 3, &num, &den);
    Vec nOut(4), dOut(4), work(4);
    Vec denCopy = den;
    ApplyBilinearSubstitution(num.data(), m, denCopy.data(), 3, a, b, c, d, false, nOut.data(), dOut.data(),
                              work.data());
    for (Cx x : {Cx(0.3, 0.1), Cx(-2, 0.5), Cx(1.5, 0)}) {
      const Cx old = (a * x + b) / (c * x + d), scale = std::pow(c * x + d, 3);
      EXPECT_LT(std::abs(Poly(dOut, x) - scale * Poly(den, old)), 1e-12 * std::abs(Poly(dOut, x)) + 1e-12) << m;
      EXPECT_LT(std::abs(Poly(nOut, x) - scale * Poly(num, old)), 1e-12 * std::abs(Poly(nOut, x)) + 1e-12) << m;
    }
    // The denominator itself as the work array, normalised.
    Vec nIn(4), dIn(4);
    ApplyBilinearSubstitution(num.data(), m, denCopy.data(), 3, a, b, c, d, true, nIn.data(), dIn.data(),
                              denCopy.data());
    EXPECT_EQ(dIn[0], 1);
    for (int k = 0; k < 4; ++k) {
      EXPECT_NEAR(dIn[k], dOut[k] / dOut[0], 1e-14) << m;
      EXPECT_NEAR(nIn[k], nOut[k] / dOut[0], 1e-14) << m;
    }
  }
}

TEST(Conversions, StateSpaceRoundTripOnSeededSystems) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    const int n = 1 + static_cast<int>(seed % 4), m = static_cast<int>(seed) % (n + 1), rows = 2;
    Vec den, row0, row1;
    RandomTf(seed, m, n, &row0, &den);
    RandomTf(seed + 100, m, n, &row1, &den);
    den[0] *= 2;  // a leading coefficient other than 1
    Vec num = row0;
    num.insert(num.end(), row1.begin(), row1.end());
    Vec a(n * n), b(n), c(rows * n), d(rows);
    ConvertTfToSs(num.data(), m, rows, den.data(), n, a.data(), b.data(), c.data(), d.data());
    Vec work(static_cast<size_t>(SsToTfWork(n))), numBack(rows * (n + 1)), denBack(n + 1);
    ConvertSsToTf(a.data(), b.data(), c.data(), d.data(), 0, n, 1, rows, work.data(), numBack.data(), denBack.data());
    Vec want(rows * (n + 1), 0.0);
    for (int i = 0; i < rows; ++i)
      for (int k = 0; k <= m; ++k) want[i * (n + 1) + n - m + k] = num[i * (m + 1) + k] / den[0];
    Vec monic = den;
    for (double& x : monic) x /= den[0];
    EXPECT_LT(MaxDiff(denBack, monic), 1e-10) << seed;
    EXPECT_LT(MaxDiff(numBack, want), 1e-10) << seed;
  }
}

TEST(Discretisation, HoldsAgreeBetweenTransferFunctionAndStateSpace) {
  for (unsigned seed = 7; seed <= 10; ++seed) {
    const int n = 3, m = seed % 2 ? 3 : 1;
    Vec num, den;
    RandomTf(seed, m, n, &num, &den);
    const double ts = 0.3;
    // Transfer-function zero-order hold.
    const int cols = m == n ? n + 1 : n;
    Vec numd(cols), dend(n + 1), work(static_cast<size_t>(DiscretizeTfZohWork(n)));
    DiscretizeTfZoh(num.data(), m, den.data(), n, ts, numd.data(), dend.data(), work.data());
    // The same through the controller-form realisation.
    Vec a(n * n), b(n), c(n), d(1), ad(n * n), bd(n);
    ConvertTfToSs(num.data(), m, 1, den.data(), n, a.data(), b.data(), c.data(), d.data());
    Vec zw(4 * (n + 1) * (n + 1) + n + 1);
    DiscretizeSsZoh(a.data(), b.data(), n, 1, ts, ad.data(), bd.data(), zw.data());
    Vec conv(static_cast<size_t>(SsToTfWork(n))), ns(n + 1), ds(n + 1);
    ConvertSsToTf(ad.data(), bd.data(), c.data(), d.data(), 0, n, 1, 1, conv.data(), ns.data(), ds.data());
    EXPECT_LT(MaxDiff(dend, ds), 1e-10) << seed;
    Vec aligned(ns.end() - cols, ns.end());
    EXPECT_LT(MaxDiff(numd, aligned), 1e-10) << seed;
    EXPECT_LT(std::fabs(ns[0] - (m == n ? d[0] : 0)), 1e-10) << seed;
    // The poles map to e^(p Ts) in every method.
    Vec fw(static_cast<size_t>(DiscretizeTfFohWork(n))), mw(static_cast<size_t>(DiscretizeTfMatchedWork(m, n)));
    Vec fd(n + 1), md(n + 1), fn(n + 1), mn(m < n ? n : m + 1);
    DiscretizeTfFoh(num.data(), m, den.data(), n, ts, fn.data(), fd.data(), fw.data());
    DiscretizeTfMatched(num.data(), m, den.data(), n, ts, mn.data(), md.data(), mw.data());
    EXPECT_LT(MaxDiff(fd, dend), 1e-10) << seed;
    EXPECT_LT(MaxDiff(md, dend), 1e-10) << seed;
    // Every method keeps the DC gain of a system without poles or zeros at 0.
    auto sum = [](const Vec& v) {
      double s = 0;
      for (double x : v) s += x;
      return s;
    };
    const double dc = num[m] / den[n];
    EXPECT_NEAR(sum(numd) / sum(dend), dc, 1e-9 * std::fabs(dc)) << seed;
    EXPECT_NEAR(sum(fn) / sum(fd), dc, 1e-9 * std::fabs(dc)) << seed;
    EXPECT_NEAR(sum(mn) / sum(md), dc, 1e-9 * std::fabs(dc)) << seed;
  }
}

TEST(Discretisation, FirstOrderHoldStartsTheState) {
  // Scalar A = -1, B = 1: Gamma2 = (e^-T - 1 + T)/T, so x0 - Gamma2 u0.
  const double a = -1, b = 1, c = 2, d = 0, ts = 0.5;
  double ad, bd, dd, x = 3;
  const double u = 2;
  Vec work(4 * 9 + 3);
  DiscretizeSsFoh(&a, &b, &c, &d, 1, 1, 1, ts, &ad, &bd, &dd, work.data(), &x, &u);
  const double e = std::exp(-ts), g2 = (e - 1 + ts) / ts;
  EXPECT_NEAR(ad, e, 1e-15);
  EXPECT_NEAR(dd, c * g2, 1e-14);
  EXPECT_NEAR(x, 3 - g2 * u, 1e-14);
}

TEST(Margins, ContinuousSearchGivesExactGainsAndMarksUnstableLoops) {
  struct Case {
    Vec num, den;
    double g0, g1;
  };
  const Case kCases[] = {
      {{4}, {1, 3, 3, 1}, -0.25, 2},
      {{2}, {1, 3, 2, 0}, -INFINITY, 3},
      {{0.5}, {1, 1}, -2, INFINITY},
      {{1}, {1, 6, 11, 6}, -6, 60},
  };
  for (const Case& c : kCases) {
    const int n = static_cast<int>(c.den.size()) - 1, m = static_cast<int>(c.num.size()) - 1;
    Vec work(3 * (n + 1));
    double pm, thetaPm, g[2], thetaG[2];
    ASSERT_TRUE(SearchContinuousMargins(c.den.data(), n, c.num.data(), m, &pm, &thetaPm, g, thetaG, work.data()));
    for (int k = 0; k < 2; ++k) {
      const double want = k == 0 ? c.g0 : c.g1;
      if (std::isinf(want))
        EXPECT_EQ(g[k], want) << c.den[1];
      else
        EXPECT_NEAR(g[k], want, 1e-7 * std::max(1.0, std::fabs(want))) << c.den[1];  // bisection to 2^-20 of a step
    }
  }
  const Vec num = {10}, den = {1, 3, 3, 1};
  Vec work(12);
  double pm, thetaPm, g[2], thetaG[2];
  EXPECT_FALSE(SearchContinuousMargins(den.data(), 3, num.data(), 0, &pm, &thetaPm, g, thetaG, work.data()));
}

}  // namespace
