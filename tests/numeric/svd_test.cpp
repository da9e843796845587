// Singular value decompositions against LAPACK's dgesvd/zgesvd and by
// reconstruction, and the Cholesky factorisations.
#include <gtest/gtest.h>

#include "numeric/numeric.h"
#include "tests/numeric/testutil.h"

using namespace testutil;

namespace {

struct Shape {
  int m, n;
};
const Shape kShapes[] = {{1, 1}, {4, 4}, {7, 4}, {4, 7}, {2, 3}, {12, 9}};

void ExpectDecreasingMatch(const Vec& got, const Vec& want, int count, double tol) {
  for (int i = 0; i < count; ++i) {
    EXPECT_NEAR(got[i], want[i], tol) << i;
    if (i > 0) {
      EXPECT_GE(got[i - 1], got[i]) << i;
    }
  }
}

}  // namespace

TEST(RealSvd, ValuesMatchLapackAndFactorsReconstruct) {
  unsigned seed = 500;
  for (const Shape& s : kShapes) {
    int m = s.m, n = s.n;
    Vec a = RandomMatrix(m, n, ++seed), u = a, w(n), v(n * n), work(2 * n);
    SCOPED_TRACE(testing::Message() << m << "x" << n);
    ASSERT_TRUE(ComputeRealSvd(u.data(), m, n, w.data(), v.data(), work.data()));
    Vec ref = LapackSingularValues(a, m, n);
    ExpectDecreasingMatch(w, ref, std::min(m, n), 1e-13);
    for (int i = std::min(m, n); i < n; ++i) EXPECT_LT(std::fabs(w[i]), 1e-13) << "beyond m";
    CMat U = FromReal(u, m, n), V = FromReal(v, n, n), S(n, n);
    for (int i = 0; i < n; ++i) S.set(i, i, w[i]);
    EXPECT_LT(MaxDiff(Mul(Mul(U, S), V, false, true), FromReal(a, m, n)), 1e-13);
    EXPECT_LT(UnitaryError(V), 1e-13);
    // Values only: the same values.
    Vec u2 = a, w2(n);
    ASSERT_TRUE(ComputeRealSvd(u2.data(), m, n, w2.data(), nullptr, work.data()));
    ExpectDecreasingMatch(w2, ref, std::min(m, n), 1e-13);
  }
}

TEST(RealSvd, DiagonalRankDeficientAndIllConditioned) {
  Vec d = {3, 0, 0, 0, -5, 0, 0, 0, 1}, w(3), v(9), work(6);
  ASSERT_TRUE(ComputeRealSvd(d.data(), 3, 3, w.data(), v.data(), work.data()));
  EXPECT_NEAR(w[0], 5, 1e-15);
  EXPECT_NEAR(w[1], 3, 1e-15);
  EXPECT_NEAR(w[2], 1, 1e-15);
  // Rank one.
  Vec r = {1, 2, 3, 2, 4, 6, 3, 6, 9, 4, 8, 12};
  ASSERT_TRUE(ComputeRealSvd(r.data(), 4, 3, w.data(), nullptr, work.data()));
  EXPECT_NEAR(w[0], std::sqrt(30.0 * 14.0), 1e-13);
  EXPECT_LT(w[1], 1e-14);
  // Hilbert matrix: singular values over 10 orders, relative to the largest.
  const int n = 7;
  Vec h(n * n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) h[i * n + j] = 1.0 / (i + j + 1);
  Vec hw = h, sw(n), swork(2 * n);
  ASSERT_TRUE(ComputeRealSvd(hw.data(), n, n, sw.data(), nullptr, swork.data()));
  ExpectDecreasingMatch(sw, LapackSingularValues(h, n, n), n, 1e-15);
}

TEST(RealSvd, NonFiniteInputReportsFailure) {
  Vec a = RandomMatrix(3, 3, 510), w(3), v(9), work(6);
  a[4] = NAN;
  EXPECT_FALSE(ComputeRealSvd(a.data(), 3, 3, w.data(), v.data(), work.data()));
}

TEST(ComplexSingularValues, MatchLapackThroughTheEmbedding) {
  unsigned seed = 520;
  for (const Shape& s : kShapes) {
    CMat a = RandomComplex(s.m, s.n, ++seed);
    Vec sv(s.n), work(4 * s.m * s.n + 5 * s.n + 1);
    ASSERT_TRUE(ComputeComplexSingularValues(a.re.data(), a.im.data(), s.m, s.n, sv.data(), work.data()));
    ExpectDecreasingMatch(sv, LapackSingularValues(a), std::min(s.m, s.n), 1e-13);
    for (int i = std::min(s.m, s.n); i < s.n; ++i) EXPECT_LT(sv[i], 1e-13);
  }
}

TEST(ComplexSvd, ValuesMatchLapackAndFactorsReconstruct) {
  unsigned seed = 540;
  for (const Shape& s : kShapes) {
    int m = s.m, n = s.n, k = std::min(m, n);
    SCOPED_TRACE(testing::Message() << m << "x" << n);
    // Economy shapes: U is m x k, V is n x k.
    CMat a = RandomComplex(m, n, ++seed), w = a, u(m, k), v(n, k);
    Vec sv(k), work(5 * n + 6 * n * n);
    ASSERT_TRUE(ComputeComplexSvd(w.re.data(), w.im.data(), m, n, sv.data(), u.re.data(), u.im.data(), k, v.re.data(),
                                  v.im.data(), k, work.data()));
    ExpectDecreasingMatch(sv, LapackSingularValues(a), k, 1e-13);
    CMat S(k, k);
    for (int i = 0; i < k; ++i) S.set(i, i, sv[i]);
    EXPECT_LT(MaxDiff(Mul(Mul(u, S), v, false, true), a), 1e-13);
    EXPECT_LT(UnitaryError(u), 1e-13);
    EXPECT_LT(UnitaryError(v), 1e-13);
  }
}

TEST(ComplexSvd, FullUAndValuesOnly) {
  const int m = 6, n = 3;
  CMat a = RandomComplex(m, n, 560), w = a, u(m, m), v(n, n);
  Vec sv(n), work(5 * n);
  ASSERT_TRUE(ComputeComplexSvd(w.re.data(), w.im.data(), m, n, sv.data(), u.re.data(), u.im.data(), m, v.re.data(),
                                v.im.data(), n, work.data()));
  EXPECT_LT(UnitaryError(u), 1e-13);
  CMat S(m, n);
  for (int i = 0; i < n; ++i) S.set(i, i, sv[i]);
  EXPECT_LT(MaxDiff(Mul(Mul(u, S), v, false, true), a), 1e-13);
  w = a;
  Vec s2(n);
  ASSERT_TRUE(ComputeComplexSvd(w.re.data(), w.im.data(), m, n, s2.data(), nullptr, nullptr, m, nullptr, nullptr, n,
                                work.data()));
  ExpectDecreasingMatch(s2, sv, n, 1e-14);
  // The zero matrix converges at once.
  CMat z(3, 3), zu(3, 3), zv(3, 3);
  Vec zs(3, 9.0);
  ASSERT_TRUE(ComputeComplexSvd(z.re.data(), z.im.data(), 3, 3, zs.data(), zu.re.data(), zu.im.data(), 3, zv.re.data(),
                                zv.im.data(), 3, work.data()));
  EXPECT_EQ(zs, Vec(3, 0.0));
}

TEST(ComplexSvd, NonFiniteInputReportsFailure) {
  CMat a = RandomComplex(3, 3, 570);
  a.re[4] = NAN;
  Vec sv(3), work(15);
  EXPECT_FALSE(ComputeComplexSvd(a.re.data(), a.im.data(), 3, 3, sv.data(), nullptr, nullptr, 3, nullptr, nullptr, 3,
                                 work.data()));
}

TEST(Cholesky, RealFactorsAndRefusals) {
  Vec a = {4, 2, 2, 3};
  ASSERT_TRUE(FactorRealCholesky(a.data(), 2));
  EXPECT_EQ(a[0], 2);
  EXPECT_EQ(a[1], 1);
  EXPECT_EQ(a[2], 0);
  EXPECT_DOUBLE_EQ(a[3], std::sqrt(2.0));
  // Only the upper triangle is read.
  Vec b = {4, 2, -99, 3};
  ASSERT_TRUE(FactorRealCholesky(b.data(), 2));
  EXPECT_EQ(a, b);
  struct Refused {
    Vec a;
    int n;
  };
  const Refused kRefused[] = {
      {{1, 2, 2, 1}, 2}, {{0, 0, 0, 1}, 2}, {{NAN, 0, 0, 1}, 2}, {{2, 1, 1, 1, 1, 1, 1, 1, 0}, 3}};
  for (const Refused& r : kRefused) {
    Vec x = r.a;
    EXPECT_FALSE(FactorRealCholesky(x.data(), r.n));
  }
  // Random positive definite: R^T R = A.
  const int n = 8;
  Vec g = RandomMatrix(n, n, 580);
  CMat G = FromReal(g, n, n), spd = Mul(G, G, true, false);
  for (int i = 0; i < n; ++i) spd.set(i, i, spd(i, i) + 0.1);
  Vec r = spd.re;
  ASSERT_TRUE(FactorRealCholesky(r.data(), n));
  CMat R = FromReal(r, n, n);
  EXPECT_EQ(BelowDiagonal(R), 0);
  EXPECT_LT(MaxDiff(Mul(R, R, true, false), spd), 1e-13);
}

TEST(Cholesky, ComplexFactorsAndRefusals) {
  const int n = 6;
  CMat g = RandomComplex(n, n, 590), h = Mul(g, g, true, false);
  for (int i = 0; i < n; ++i) h.set(i, i, Cx(h(i, i).real() + 0.1, 0));
  CMat r = h;
  ASSERT_TRUE(FactorComplexCholesky(r.re.data(), r.im.data(), n));
  EXPECT_EQ(BelowDiagonal(r), 0);
  EXPECT_LT(MaxDiff(Mul(r, r, true, false), h), 1e-13);
  CMat bad(2, 2);
  bad.set(0, 0, 1);
  bad.set(0, 1, Cx(0, 2));
  bad.set(1, 0, Cx(0, -2));
  bad.set(1, 1, 1);
  EXPECT_FALSE(FactorComplexCholesky(bad.re.data(), bad.im.data(), 2));
}
