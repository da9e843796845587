// Balancing, infinity norms, the matrix exponential and scalar-to-matrix powers,
// checked against closed forms.
#include <gtest/gtest.h>

#include "numeric/numeric.h"
#include "tests/numeric/testutil.h"

using namespace testutil;

namespace {

Vec Expm(Vec a, int n) {
  Vec x(n * n), work(n * (2 * n + 1));
  ComputeRealMatrixExponential(a.data(), n, x.data(), work.data());
  return x;
}

}  // namespace

TEST(Expm, ClosedForms) {
  struct Case {
    Vec a, want;
    int n;
    double tol;
  };
  const double w = 2.5, big = 100.0;
  const Case kCases[] = {
      {{0, 0, 0, 0}, {1, 0, 0, 1}, 2, 0},                                                // zero: identity
      {{0, w, -w, 0}, {std::cos(w), std::sin(w), -std::sin(w), std::cos(w)}, 2, 1e-14},  // rotation
      {{0, big, -big, 0}, {std::cos(big), std::sin(big), -std::sin(big), std::cos(big)}, 2, 1e-11},
      {{0, 1, 2, 0, 0, 3, 0, 0, 0}, {1, 1, 3.5, 0, 1, 3, 0, 0, 1}, 3, 1e-15},  // nilpotent: I + N + N^2/2
      {{0, 1e12, 0, 0}, {1, 1e12, 0, 1}, 2, 1e-3},                             // huge norm, no cap
      {{1, 0, 0, -2}, {std::exp(1.0), 0, 0, std::exp(-2.0)}, 2, 1e-14},
  };
  for (const Case& c : kCases) {
    Vec x = Expm(c.a, c.n);
    for (int i = 0; i < c.n * c.n; ++i) EXPECT_NEAR(x[i], c.want[i], c.tol) << i;
  }
}

TEST(Expm, ScalingBoundaries) {
  // Norm exactly 0.5 is halved once and squared once; 0.4 is used as it is.
  // Both agree with the series of a diagonal matrix.
  for (double v : {0.5, 0.4}) {
    Vec a = {v, 0, 0, -v}, x = Expm(a, 2);
    EXPECT_NEAR(x[0], std::exp(v), 1e-15);
    EXPECT_NEAR(x[3], std::exp(-v), 1e-15);
    Vec scaled = {v, 0, 0, -v}, out(4), work(10);
    ComputeRealMatrixExponential(scaled.data(), 2, out.data(), work.data());
    EXPECT_EQ(scaled[0], v == 0.5 ? 0.25 : 0.4) << "A is scaled in place";
  }
}

TEST(Expm, NonFiniteNormGivesNaN) {
  for (double bad : {NAN, INFINITY}) {
    Vec x = Expm({1, bad, 0, 1}, 2);
    for (double e : x) EXPECT_TRUE(std::isnan(e));
  }
}

TEST(Expm, ComplexRotationAndDiagonal) {
  // exp(i t I) = e^(it) I, and exp of a Hermitian generator is unitary.
  const int n = 3;
  CMat a(n, n);
  for (int i = 0; i < n; ++i) a.set(i, i, Cx(0.3, 0.7 * (i + 1)));
  Vec x(2 * n * n), work(n * (4 * n + 2)), aj = a.Joined();
  ComputeComplexMatrixExponential(aj.data(), n, x.data(), work.data());
  for (int i = 0; i < n; ++i) {
    Cx want = std::exp(Cx(0.3, 0.7 * (i + 1)));
    EXPECT_NEAR(x[i * n + i], want.real(), 1e-14);
    EXPECT_NEAR(x[n * n + i * n + i], want.imag(), 1e-14);
  }
  CMat h = RandomComplex(n, n, 400);
  CMat g(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) g.set(i, j, Cx(0, 1) * (h(i, j) + std::conj(h(j, i))) * 3.0);
  Vec gj = g.Joined();
  ComputeComplexMatrixExponential(gj.data(), n, x.data(), work.data());
  CMat u(n, n);
  u.re.assign(x.begin(), x.begin() + n * n);
  u.im.assign(x.begin() + n * n, x.end());
  EXPECT_LT(UnitaryError(u), 1e-13);
}

TEST(ScalarPower, RealAndComplexBases) {
  Vec a = {1, 0, 0, 2}, x(4), work(10);
  RaiseRealScalarToMatrix(2, a.data(), 2, x.data(), work.data());
  EXPECT_NEAR(x[0], 2, 1e-14);
  EXPECT_NEAR(x[3], 4, 1e-14);
  EXPECT_EQ(x[1], 0);
  // i^[[1, 0], [0, 2]] = diag(i, -1).
  Vec c = {1, 0, 0, 2, 0, 0, 0, 0}, y(8), cwork(20);
  RaiseComplexScalarToMatrix(0, 1, c.data(), 2, y.data(), cwork.data());
  EXPECT_NEAR(y[0], 0, 1e-14);
  EXPECT_NEAR(y[4], 1, 1e-14);
  EXPECT_NEAR(y[3], -1, 1e-14);
  EXPECT_NEAR(y[7], 0, 1e-14);
  // A non-positive real base propagates NaN.
  Vec d = {1, 0, 0, 1};
  RaiseRealScalarToMatrix(-2, d.data(), 2, x.data(), work.data());
  EXPECT_TRUE(std::isnan(x[0]));
}

TEST(Norms, InfinityNorms) {
  Vec a = {1, -2, 3, -4};
  EXPECT_EQ(ComputeRealInfinityNorm(a.data(), 2), 7);
  Vec re = {3, 0, 0, 1}, im = {4, 0, 0, 0};
  EXPECT_EQ(ComputeComplexInfinityNorm(re.data(), im.data(), 2), 5);
  a[1] = NAN;
  EXPECT_TRUE(std::isnan(ComputeRealInfinityNorm(a.data(), 2)));
}

TEST(Balance, ScalesByPowersOfTwoAndKeepsEigenvalues) {
  const int n = 4;
  Vec a = {1, 1e6, 2e6, 0, 1e-6, 2, 3, 4e-6, 1e-6, 1, 3, 2e-6, 0, 3e5, 1e6, 4}, b = a, d(n);
  BalanceMatrix(b.data(), nullptr, n, d.data());
  for (int i = 0; i < n; ++i) {
    int e;
    EXPECT_EQ(std::frexp(d[i], &e), 0.5) << "power of two";
    for (int j = 0; j < n; ++j) EXPECT_EQ(b[i * n + j], a[i * n + j] / d[i] * d[j]) << "exact";
  }
  EXPECT_LT(ComputeRealInfinityNorm(b.data(), n), ComputeRealInfinityNorm(a.data(), n) / 100);
  // Column sum at most twice the row sum after balancing (where not clamped).
  for (int i = 0; i < n; ++i) {
    double c = 0, r = 0;
    for (int j = 0; j < n; ++j) c += std::fabs(b[j * n + i]), r += std::fabs(b[i * n + j]);
    EXPECT_LE(c, 2 * r + 1e-12);
  }
}

TEST(Balance, ZeroRowAndColumnKeepFactorOneAndComplexParts) {
  Vec a = {1, 2, 0, 0}, d(2);
  BalanceMatrix(a.data(), nullptr, 2, d.data());
  EXPECT_EQ(d[1], 1);
  // Complex: real and imaginary magnitudes are summed separately.
  Vec re = {1, 0, 1024, 1}, im = {0, 1, 0, 0}, dc(2);
  BalanceMatrix(re.data(), im.data(), 2, dc.data());
  EXPECT_EQ(dc[0] / dc[1], 1.0 / 32);
  EXPECT_EQ(im[1], 32);
  EXPECT_EQ(re[2], 32);
  // A huge column against a tiny row stops at the 2^-49 limit.
  Vec h = {1, 0x1p-80, 0x1p80, 1}, dh(2);
  BalanceMatrix(h.data(), nullptr, 2, dh.data());
  EXPECT_GT(dh[0], 0x1p-49);
  EXPECT_LT(dh[1], 0x1p49);
}
