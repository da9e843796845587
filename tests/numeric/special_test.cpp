// The scalar kernels of the special functions and the elliptic integrals
// against libstdc++'s (whose elliptic integrals take the modulus k = sqrt(m)),
// against their defining identities, and against midpoint quadrature where
// libstdc++ has no counterpart.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
#include <vector>

#include "numeric/numeric.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double Near(double got, double want) { return std::fabs(got - want) / std::fmax(1, std::fabs(want)); }

// Midpoint rule for smooth integrands over [a, b].
double Integrate(const std::function<double(double)>& f, double a, double b, int n = 200000) {
  const double h = (b - a) / n;
  double s = 0;
  for (int i = 0; i < n; ++i) s += f(a + (i + 0.5) * h);
  return s * h;
}

double EllipticIntegrand(double t, double m, bool second) {
  const double w = std::sqrt(1 - m * std::sin(t) * std::sin(t));
  return second ? w : 1 / w;
}

double GammaP(double a, double x) {
  double p = 0;
  EXPECT_TRUE(ComputeGammaP(a, x, &p)) << a << " " << x;
  return p;
}

double BetaI(double x, double a, double b) {
  double p = 0;
  EXPECT_TRUE(ComputeBetaI(x, a, b, &p)) << x << " " << a << " " << b;
  return p;
}

TEST(SpecialKernels, ErrorFunctionMatchesLibrary) {
  // Both sides of 1.5, where the series hands over to the continued fraction.
  for (double x : {-6.0, -3.0, -1.6, -1.5, -0.3, 0.0, 0.2, 1.0, 1.5, 1.5000001, 2.5, 5.0, 27.0}) {
    EXPECT_LT(std::fabs(ComputeErf(x, false) - std::erf(x)), 1e-15) << x;
    EXPECT_LT(Near(ComputeErf(x, true), std::erfc(x)) / std::fmin(1, std::erfc(x)), 1e-14) << x;
    EXPECT_NEAR(ComputeErf(x, false) + ComputeErf(x, true), 1, 1e-15) << x;
  }
  EXPECT_EQ(ComputeErf(kInf, false), 1);
  EXPECT_EQ(ComputeErf(kInf, true), 0);
  EXPECT_EQ(ComputeErf(-2, true), 2 - ComputeErf(2, true));
  // The normal quantile through erfinv.
  EXPECT_NEAR(std::sqrt(2.0) * ComputeErfInv(2 * 0.975 - 1), 1.959963984540054, 1e-14);
  EXPECT_TRUE(std::isnan(ComputeErf(kNaN, false)));
}

TEST(SpecialKernels, ErfInvInvertsErf) {
  // Near the tails an ulp of y moves x by ulp / erf'(x).
  for (double x : {-2.5, -1.0, -0.4, 0.0, 0.3, 0.9, 1.7, 3.0}) {
    const double slope = 2 / std::sqrt(kPi) * std::exp(-x * x);
    EXPECT_NEAR(ComputeErfInv(std::erf(x)), x, 1e-15 + 4e-16 / slope) << x;
  }
  struct Case {
    double y, want;
  };
  const Case kEdges[] = {{1, kInf}, {-1, -kInf}, {0, 0}};
  for (const Case& c : kEdges) EXPECT_EQ(ComputeErfInv(c.y), c.want) << c.y;
  for (double y : {1.5, -1.01, kNaN}) EXPECT_TRUE(std::isnan(ComputeErfInv(y))) << y;
}

TEST(SpecialKernels, GammaMatchesLibraryAndRecurrence) {
  for (double x : {-4.5, -2.5, -0.5, 0.1, 0.5, 1.0, 2.5, 7.3, 11.9, 12.0, 20.0, 50.5}) {
    EXPECT_LT(std::fabs(ComputeGamma(x, false) / std::tgamma(x) - 1), 1e-13) << x;
    EXPECT_LT(std::fabs(ComputeGamma(x + 1, false) / (x * ComputeGamma(x, false)) - 1), 1e-13) << x;
  }
  for (double x : {0.1, 0.5, 1.0, 3.7, 12.0, 50.5, 170.0, 1e5})
    EXPECT_LT(Near(ComputeLogGamma(x), std::lgamma(x)), 1e-10) << x;
  EXPECT_NEAR(ComputeGamma(0.5, false), std::sqrt(kPi), 1e-15);
  EXPECT_NEAR(ComputeGamma(-0.5, false), -2 * std::sqrt(kPi), 1e-15);
  struct Case {
    double x, want;
  };
  // Poles alternate in sign by the side the reflection takes.
  const Case kPoles[] = {{0, -kInf}, {-1, kInf}, {-2, -kInf}, {kInf, kInf}, {-kInf, -kInf}};
  for (const Case& c : kPoles) EXPECT_EQ(ComputeGamma(c.x, false), c.want) << c.x;
  EXPECT_EQ(ComputeLogGamma(0), kInf);
  EXPECT_TRUE(std::isnan(ComputeLogGamma(-1)));
}

TEST(SpecialKernels, FactorialIsExactOnIntegersOnly) {
  // Exact while n! is an integer a double holds, the nearest double beyond.
  double f = 1;
  for (int n = 0; n <= 170; ++n) {
    if (n > 0) f *= n;
    if (n <= 22)
      EXPECT_EQ(ComputeGamma(n, true), f) << n;
    else
      EXPECT_LT(Near(ComputeGamma(n, true), std::tgamma(n + 1.0)), 1e-13) << n;
  }
  EXPECT_EQ(ComputeGamma(171, true), kInf);
  for (double x : {2.5, -1.0, kNaN, -kInf}) EXPECT_TRUE(std::isnan(ComputeGamma(x, true))) << x;
  EXPECT_EQ(ComputeGamma(kInf, true), kInf);
}

TEST(SpecialKernels, IncompleteGamma) {
  // P(1, x) = 1 - e^-x through both branches; P(a, x) of integer a is a
  // Poisson tail sum.
  for (double x : {0.1, 0.5, 1.9, 2.1, 7.0, 30.0}) EXPECT_NEAR(GammaP(1, x), 1 - std::exp(-x), 1e-12) << x;
  for (double x : {0.5, 3.0, 4.5, 12.0}) {
    const double tail = std::exp(-x) * (1 + x + x * x / 2);
    EXPECT_NEAR(GammaP(3, x), 1 - tail, 1e-10) << x;
  }
  EXPECT_EQ(GammaP(2, 0), 0);
  EXPECT_TRUE(std::isnan(GammaP(2, -1)));
  // The series starts at 1/a: a = 0 is its limit, not a failure.
  for (double x : {0.5, 1.0, 3.0}) EXPECT_EQ(GammaP(0, x), 1) << x;
}

TEST(SpecialKernels, BetaAndIncompleteBeta) {
  for (double a : {0.5, 1.0, 2.5, 7.0})
    for (double b : {0.3, 1.0, 4.0}) {
      EXPECT_LT(Near(ComputeBeta(a, b), std::beta(a, b)), 1e-9) << a << " " << b;
      EXPECT_LT(Near(ComputeLogBeta(a, b), std::log(std::beta(a, b))), 1e-9) << a << " " << b;
      for (double x : {0.05, 0.3, 0.5, 0.8, 0.97}) {
        // I_x(a, b) = 1 - I_(1-x)(b, a), each side on its own branch.
        EXPECT_NEAR(BetaI(x, a, b), 1 - BetaI(1 - x, b, a), 1e-9) << x;
      }
    }
  for (double x : {0.1, 0.3, 0.9}) EXPECT_NEAR(BetaI(x, 2.5, 1), std::pow(x, 2.5), 1e-10) << x;
  EXPECT_EQ(BetaI(0, 2, 3), 0);
  EXPECT_EQ(BetaI(1, 2, 3), 1);
  EXPECT_TRUE(std::isnan(BetaI(1.2, 2, 3)));
  EXPECT_TRUE(std::isnan(ComputeBeta(-1, 2)));
  EXPECT_TRUE(std::isnan(ComputeLogBeta(-1, 2)));
}

TEST(SpecialKernels, NewtonInversesReachTheirTargets) {
  for (double p : {0.01, 0.3, 0.5, 0.9, 0.999})
    for (double a : {0.5, 2.0, 5.0}) {
      double x = 0;
      ASSERT_TRUE(InvertBetaI(p, a, 3, &x));
      EXPECT_NEAR(BetaI(x, a, 3), p, 1e-10) << p << " " << a;
      ASSERT_TRUE(InvertGammaCdf(p, a, 2, &x));
      EXPECT_NEAR(GammaP(a, x / 2), p, 1e-10) << p << " " << a;
    }
  double x = 0;
  ASSERT_TRUE(InvertGammaCdf(0.95, 0.5, 1, &x));
  EXPECT_LT(Near(2 * x, 3.841458820694124), 1e-9);
  ASSERT_TRUE(InvertGammaCdf(1, 2, 3, &x));
  EXPECT_EQ(x, kInf);
  for (double p : {0.0, 1.0}) {
    ASSERT_TRUE(InvertBetaI(p, 0.5, 2, &x));
    EXPECT_EQ(x, p);
  }
  ASSERT_TRUE(InvertBetaI(1.5, 2, 3, &x));
  EXPECT_TRUE(std::isnan(x));
}

TEST(SpecialKernels, Dilogarithm) {
  // diln(x) = -Li2(1 - x); the truncated series is good to about 1e-8.
  struct Case {
    double x, want;
  };
  const double ln2 = std::log(2.0);
  const Case kCases[] = {
      {1, 0},
      {2, kPi * kPi / 12},
      {0.5, -(kPi * kPi / 12 - ln2 * ln2 / 2)},
      {0, -kPi * kPi / 6},
  };
  for (const Case& c : kCases) EXPECT_NEAR(ComputeDilogarithm(c.x), c.want, 2e-8) << c.x;
  EXPECT_EQ(ComputeDilogarithm(0), -1.6449340668482264);
  for (double x : {0.2, 0.7, 1.6, 4.0, 30.0}) {
    const double q = Integrate([](double t) { return t == 1 ? 1 : std::log(t) / (t - 1); }, 1, x);
    EXPECT_NEAR(ComputeDilogarithm(x), q, 5e-8) << x;
  }
  for (double x : {-0.5, kNaN}) EXPECT_TRUE(std::isnan(ComputeDilogarithm(x))) << x;
}

TEST(EllipticKernels, CompleteIntegralsMatchLibraryAndLegendre) {
  for (double m : {0.0, 0.1, 0.5, 0.9, 0.999}) {
    double k = 0, e = 0, k1 = 0, e1 = 0;
    ASSERT_TRUE(ComputeCompleteElliptic(m, 0x1p-52, &k, &e));
    EXPECT_LT(Near(k, std::comp_ellint_1(std::sqrt(m))), 1e-13) << m;
    EXPECT_LT(Near(e, std::comp_ellint_2(std::sqrt(m))), 1e-13) << m;
    if (m == 0) continue;
    // Legendre: E K' + E' K - K K' = pi / 2.
    ASSERT_TRUE(ComputeCompleteElliptic(1 - m, 0x1p-52, &k1, &e1));
    EXPECT_NEAR(e * k1 + e1 * k - k * k1, kPi / 2, 1e-12) << m;
  }
  double k = 0, e = 0;
  ASSERT_TRUE(ComputeCompleteElliptic(1, 0x1p-52, &k, &e));
  EXPECT_EQ(k, kInf);
  EXPECT_EQ(e, 1);
  for (double m : {1.5, -0.1}) EXPECT_FALSE(ComputeCompleteElliptic(m, 0x1p-52, &k, &e)) << m;
  // A tolerance the mean can never meet stops instead of spinning.
  EXPECT_FALSE(ComputeCompleteElliptic(0.5, -1, &k, &e));
}

TEST(EllipticKernels, IncompleteIntegralsMatchLibrary) {
  for (double m : {0.0, 0.3, 0.8, 0.99})
    for (double phi : {-4.0, -1.0, 0.5, kPi / 2, 2.0, 7.0}) {
      double f = 0, e = 0;
      ASSERT_TRUE(ComputeEllipticF(phi, m, &f));
      ASSERT_TRUE(ComputeEllipticE(phi, m, &e));
      EXPECT_NEAR(f, std::ellint_1(std::sqrt(m), phi), 1e-11) << m << " " << phi;
      EXPECT_NEAR(e, std::ellint_2(std::sqrt(m), phi), 1e-12) << m << " " << phi;
    }
}

TEST(EllipticKernels, ParametersOutsideTheUnitIntervalMatchQuadrature) {
  struct Case {
    double phi, m;
  };
  // m > 1 only where m sin^2 phi < 1; m < 0 for any phi.
  const Case kCases[] = {{0.3, 1.5},  {0.3, 2}, {0.3, 4}, {0.5, 3},   {0.3, -3}, {1, -3},
                         {1.4, -0.5}, {2, -3},  {5, -3},  {-2, -0.5}, {0, -2}};
  for (const Case& c : kCases) {
    double f = 0, e = 0;
    ASSERT_TRUE(ComputeEllipticF(c.phi, c.m, &f));
    ASSERT_TRUE(ComputeEllipticE(c.phi, c.m, &e));
    const double qf = Integrate([&](double t) { return EllipticIntegrand(t, c.m, false); }, 0, c.phi);
    if (c.m > 1 || std::fabs(c.phi) <= kPi / 2) {
      EXPECT_NEAR(f, qf, 1e-9) << c.phi << " " << c.m;
    }
    EXPECT_NEAR(e, Integrate([&](double t) { return EllipticIntegrand(t, c.m, true); }, 0, c.phi), 1e-9)
        << c.phi << " " << c.m;
  }
  double e = 0;
  ASSERT_TRUE(ComputeEllipticE(0.3, 2, &e));
  EXPECT_NEAR(e, 0.29091, 1e-5);
}

TEST(EllipticKernels, UnitParameter) {
  // The integrand of E is |cos t|; that of F is sec t, infinite from pi/2.
  for (double phi : {-7.0, -5.0, -2.0, -0.7, 0.0, 0.4, kPi / 2, 2.0, kPi, 5.0, 9.0}) {
    double e = 0, f = 0;
    ASSERT_TRUE(ComputeEllipticE(phi, 1, &e));
    EXPECT_NEAR(e, Integrate([](double t) { return std::fabs(std::cos(t)); }, 0, phi), 1e-9) << phi;
    ASSERT_TRUE(ComputeEllipticF(phi, 1, &f));
    if (std::fabs(phi) < kPi / 2)
      EXPECT_NEAR(f, std::atanh(std::sin(phi)), 1e-15) << phi;
    else
      EXPECT_EQ(f, std::copysign(kInf, phi)) << phi;
  }
  double e = 0;
  ASSERT_TRUE(ComputeEllipticE(kPi, 1, &e));
  EXPECT_NEAR(e, 2, 1e-15);
}

TEST(EllipticKernels, JacobiFunctions) {
  double scratch[400];
  for (double m : {0.0, 0.3, 0.9, 1.0})
    for (double u : {-2.0, -0.4, 0.5, 1.2, 3.0}) {
      double am = 0, sn = 0, cn = 0, dn = 0;
      ASSERT_TRUE(ComputeJacobiElliptic(u, m, 0x1p-52, &am, &sn, &cn, &dn, scratch, 400));
      EXPECT_NEAR(sn * sn + cn * cn, 1, 1e-15) << m << " " << u;
      EXPECT_NEAR(dn * dn + m * sn * sn, 1, 1e-15) << m << " " << u;
      double f = 0;
      ASSERT_TRUE(ComputeEllipticF(am, m, &f));
      if (m < 1) {
        EXPECT_NEAR(f, u, 1e-13) << m << " " << u;
      }
      if (m == 0) {
        EXPECT_NEAR(sn, std::sin(u), 1e-15);
        EXPECT_EQ(dn, 1);
      }
      if (m == 1) {
        EXPECT_EQ(sn, std::tanh(u));
        EXPECT_EQ(cn, 1 / std::cosh(u));
      }
    }
  double am = 0;
  ASSERT_TRUE(ComputeJacobiElliptic(10, 0, 0x1p-52, &am, nullptr, nullptr, nullptr, scratch, 400));
  EXPECT_EQ(am, std::fmod(10, 2 * kPi));
  EXPECT_FALSE(ComputeJacobiElliptic(1, 1.5, 0x1p-52, &am, nullptr, nullptr, nullptr, scratch, 400));
  // Too little scratch for the mean sequence fails rather than overruns.
  EXPECT_FALSE(ComputeJacobiElliptic(1, 0.5, 0x1p-52, &am, nullptr, nullptr, nullptr, scratch, 8));
}

}  // namespace
