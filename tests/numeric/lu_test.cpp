// LU factorisation, linear solves from either side and determinants, checked by
// reconstruction, residuals and LAPACK's dgetrf.
#include <gtest/gtest.h>

#include "numeric/numeric.h"
#include "tests/numeric/testutil.h"

using namespace testutil;

namespace {

// P*A from the packed factors: L (unit lower, m x min) times U (min x n).
CMat LuProduct(const CMat& packed) {
  int m = packed.rows, n = packed.cols, k = std::min(m, n);
  CMat l(m, k), u(k, n);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < k; ++j) l.set(i, j, i == j ? Cx(1) : i > j ? packed(i, j) : Cx(0));
  for (int i = 0; i < k; ++i)
    for (int j = i; j < n; ++j) u.set(i, j, packed(i, j));
  return Mul(l, u);
}

CMat PermuteRows(const CMat& a, const std::vector<int32_t>& perm) {
  CMat p(a.rows, a.cols);
  for (int i = 0; i < a.rows; ++i)
    for (int j = 0; j < a.cols; ++j) p.set(i, j, a(perm[i], j));
  return p;
}

double LapackDeterminant(const Vec& a, int n) {
  Vec cm(a);  // the transpose has the same determinant
  std::vector<int> ipiv(n);
  int info = 0;
  dgetrf_(&n, &n, cm.data(), &n, ipiv.data(), &info);
  double det = 1;
  for (int i = 0; i < n; ++i) det *= (ipiv[i] != i + 1 ? -1 : 1) * cm[i * n + i];
  return det;
}

}  // namespace

TEST(Lu, ReconstructsPermutedMatrix) {
  const int shapes[][2] = {{5, 5}, {6, 3}, {3, 6}, {1, 4}};
  unsigned seed = 40;
  for (auto& s : shapes)
    for (bool complex : {false, true}) {
      int m = s[0], n = s[1];
      CMat a = complex ? RandomComplex(m, n, ++seed) : FromReal(RandomMatrix(m, n, ++seed), m, n), lu = a;
      std::vector<int32_t> perm(m);
      if (complex)
        FactorComplexLu(lu.re.data(), lu.im.data(), m, n, perm.data());
      else
        FactorRealLu(lu.re.data(), m, n, perm.data());
      EXPECT_LT(MaxDiff(LuProduct(lu), PermuteRows(a, perm)), 1e-14) << m << "x" << n << " " << complex;
      for (int i = 0; i < m; ++i)
        for (int j = 0; j < std::min(i, n); ++j) EXPECT_LE(std::abs(lu(i, j)), 1.0) << "multipliers are bounded";
    }
}

TEST(Lu, ZeroColumnIsSkippedAndTiesKeepTheDiagonal) {
  // Column 0 is zero: skipped, U gets a zero pivot, column 1 still factors.
  Vec a = {0, 1, 2, 0, 3, 4, 0, 5, 7};
  Vec lu = a;
  std::vector<int32_t> perm(3);
  FactorRealLu(lu.data(), 3, 3, perm.data());
  EXPECT_EQ(lu[0], 0);
  EXPECT_EQ(perm[0], 0);
  EXPECT_LT(MaxDiff(LuProduct(FromReal(lu, 3, 3)), PermuteRows(FromReal(a, 3, 3), perm)), 1e-15);
  // Equal moduli: the LU keeps the diagonal row, the solver takes the first largest.
  Vec t = {-2, 1, 2, 1};
  FactorRealLu(t.data(), 2, 2, perm.data());
  EXPECT_EQ(perm[0], 0);
  Vec s = {2, 1, -2, 1}, b = {3, -1};
  SolveRealLinearSystem(s.data(), b.data(), 2, 1, perm.data(), false);
  EXPECT_EQ(perm[0], 0);
  EXPECT_NEAR(b[0], 1, 1e-15);
  EXPECT_NEAR(b[1], 1, 1e-15);
}

TEST(Solve, LeftAndRightResidualsAreSmall) {
  const int n = 7, k = 3;
  Vec a = RandomMatrix(n, n, 50), b = RandomMatrix(n, k, 51), br = RandomMatrix(k, n, 52);
  std::vector<int32_t> perm(n);
  Vec w = a, x = b;
  SolveRealLinearSystem(w.data(), x.data(), n, k, perm.data(), false);
  EXPECT_LT(MaxDiff(Mul(FromReal(a, n, n), FromReal(x, n, k)), FromReal(b, n, k)), 1e-13);
  w = a, x = br;
  SolveRealRightLinearSystem(w.data(), x.data(), n, k, perm.data());
  EXPECT_LT(MaxDiff(Mul(FromReal(x, k, n), FromReal(a, n, n)), FromReal(br, k, n)), 1e-13);

  CMat ca = RandomComplex(n, n, 53), cb = RandomComplex(n, k, 54), cbr = RandomComplex(k, n, 55);
  Vec cw = ca.Joined(), cx = cb.Joined();
  SolveComplexLinearSystem(cw.data(), cx.data(), n, k, perm.data());
  CMat X(n, k);
  X.re.assign(cx.begin(), cx.begin() + n * k);
  X.im.assign(cx.begin() + n * k, cx.end());
  EXPECT_LT(MaxDiff(Mul(ca, X), cb), 1e-13);
  cw = ca.Joined(), cx = cbr.Joined();
  SolveComplexRightLinearSystem(cw.data(), cx.data(), n, k, perm.data());
  CMat XR(k, n);
  XR.re.assign(cx.begin(), cx.begin() + n * k);
  XR.im.assign(cx.begin() + n * k, cx.end());
  EXPECT_LT(MaxDiff(Mul(XR, ca), cbr), 1e-13);
}

TEST(Solve, RealMatrixWithComplexRightHandSide) {
  const int n = 5, k = 2;
  Vec a = RandomMatrix(n, n, 60), w = a;
  CMat b = RandomComplex(n, k, 61);
  Vec x = b.Joined();
  std::vector<int32_t> perm(n);
  SolveRealLinearSystem(w.data(), x.data(), n, k, perm.data(), true);
  CMat X(n, k);
  X.re.assign(x.begin(), x.begin() + n * k);
  X.im.assign(x.begin() + n * k, x.end());
  EXPECT_LT(MaxDiff(Mul(FromReal(a, n, n), X), b), 1e-13);
}

TEST(Solve, IllConditionedHilbertSystem) {
  const int n = 8;
  Vec h(n * n), b(n, 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) h[i * n + j] = 1.0 / (i + j + 1), b[i] += h[i * n + j];
  std::vector<int32_t> perm(n);
  Vec w = h, x = b;
  SolveRealLinearSystem(w.data(), x.data(), n, 1, perm.data(), false);
  // The residual stays small even where the solution error cannot (cond ~ 1e10).
  Vec r(n);
  for (int i = 0; i < n; ++i) {
    r[i] = -b[i];
    for (int j = 0; j < n; ++j) r[i] += h[i * n + j] * x[j];
    EXPECT_LT(std::fabs(r[i]), 1e-14);
    EXPECT_NEAR(x[i], 1.0, 1e-4);
  }
}

TEST(Solve, SingularSystemGivesNonFiniteValuesWithoutError) {
  Vec a = {1, 2, 2, 4}, b = {1, 1};
  std::vector<int32_t> perm(2);
  SolveRealLinearSystem(a.data(), b.data(), 2, 1, perm.data(), false);
  EXPECT_FALSE(std::isfinite(b[0]) && std::isfinite(b[1]));
}

TEST(Determinant, KnownValuesAndRowExchanges) {
  struct Case {
    Vec a;
    int n;
    double want;
  };
  const Case kCases[] = {
      {{0, 1, 1, 0}, 2, -1},                  // one exchange
      {{0, 2, 0, 0, 3, 0, 0, 4, 5}, 3, 0},    // zero column
      {{}, 0, 1},                             // empty matrix
      {{2, 0, 0, 0, 3, 0, 0, 0, 4}, 3, 24},   // diagonal
      {{1, 2, 3, 4, 5, 6, 7, 8, 10}, 3, -3},  // integer, exchanges on the way
  };
  for (const Case& c : kCases) {
    Vec a = c.a;
    double det = NAN;
    std::vector<int32_t> perm(c.n + 1);
    ComputeRealDeterminant(a.data(), &det, c.n, perm.data());
    EXPECT_NEAR(det, c.want, 1e-13) << c.n;
  }
}

TEST(Determinant, MatchesLapackOnRandomMatrices) {
  for (int n : {1, 4, 9}) {
    Vec a = RandomMatrix(n, n, 70 + n), w = a;
    double det;
    std::vector<int32_t> perm(n);
    ComputeRealDeterminant(w.data(), &det, n, perm.data());
    double want = LapackDeterminant(a, n);
    EXPECT_NEAR(det, want, 1e-13 * std::fabs(want)) << n;
  }
}

TEST(Determinant, ComplexMatchesProductOfEigenvalues) {
  const int n = 6;
  CMat a = RandomComplex(n, n, 80), w = a;
  std::vector<int32_t> perm(n);
  double dr, di;
  ComputeComplexDeterminant(w.re.data(), w.im.data(), &dr, &di, n, perm.data());
  Cx want = 1;
  for (Cx e : LapackEigenvalues(a)) want *= e;
  EXPECT_LT(std::abs(Cx(dr, di) - want), 1e-12 * std::abs(want));
  // Row exchange of a complex permutation matrix, and a zero column.
  CMat p(2, 2);
  p.set(0, 1, Cx(0, 1));
  p.set(1, 0, 1);
  ComputeComplexDeterminant(p.re.data(), p.im.data(), &dr, &di, 2, perm.data());
  EXPECT_EQ(Cx(dr, di), Cx(0, -1));
  CMat z(2, 2);
  z.set(0, 1, 3);
  z.set(1, 1, Cx(1, 1));
  ComputeComplexDeterminant(z.re.data(), z.im.data(), &dr, &di, 2, perm.data());
  EXPECT_EQ(std::abs(Cx(dr, di)), 0);
}
