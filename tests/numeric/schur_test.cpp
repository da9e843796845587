// Real and complex Schur forms, the conversion between them, and functions of
// triangular matrices (general, square root, logarithm).
#include <gtest/gtest.h>

#include "numeric/numeric.h"
#include "tests/numeric/testutil.h"

using namespace testutil;

namespace {

std::vector<Cx> Diagonal(const CMat& t) {
  std::vector<Cx> d;
  for (int i = 0; i < t.rows; ++i) d.push_back(t(i, i));
  return d;
}

// Eigenvalues of a standardised real Schur form: 1 x 1 entries and 2 x 2 blocks.
std::vector<Cx> QuasiTriangularEigenvalues(const Vec& t, int n) {
  std::vector<Cx> out;
  for (int k = 0; k < n; ++k) {
    if (k + 1 < n && t[(k + 1) * n + k] != 0) {
      double a = t[k * n + k], b = t[k * n + k + 1], c = t[(k + 1) * n + k], d = t[(k + 1) * n + k + 1];
      Cx disc = std::sqrt(Cx((a - d) * (a - d) + 4 * b * c));
      out.push_back((a + d + disc) / 2.0);
      out.push_back((a + d - disc) / 2.0);
      ++k;
    } else {
      out.emplace_back(t[k * n + k], 0);
    }
  }
  return out;
}

}  // namespace

TEST(RealSchur, ReconstructsWithQuasiTriangularForm) {
  for (int n : {1, 2, 3, 5, 8, 12}) {
    Vec a = RandomMatrix(n, n, 100 + n), t = a, q(n * n), scratch(n);
    uint8_t flag = 9;
    ASSERT_TRUE(ComputeRealSchurForm(t.data(), n, q.data(), &flag, scratch.data())) << n;
    CMat Q = FromReal(q, n, n), T = FromReal(t, n, n);
    EXPECT_LT(UnitaryError(Q), 1e-13) << n;
    EXPECT_LT(MaxDiff(Mul(Mul(Q, T), Q, false, true), FromReal(a, n, n)), 1e-13) << n;
    EXPECT_EQ(BelowDiagonal(T, 1), 0) << n;
    bool anyBlock = false;
    for (int k = 0; k + 1 < n; ++k) {
      if (t[(k + 1) * n + k] == 0) continue;
      anyBlock = true;
      EXPECT_TRUE(k + 2 >= n || t[(k + 2) * n + k + 1] == 0) << "blocks do not overlap";
      double a0 = t[k * n + k], b = t[k * n + k + 1], c = t[(k + 1) * n + k], d = t[(k + 1) * n + k + 1];
      EXPECT_LT((a0 - d) * (a0 - d) + 4 * b * c, 0) << "a remaining block holds a complex pair";
    }
    EXPECT_EQ(flag, anyBlock ? 1 : 0);
    EXPECT_LT(SpectrumDistance(QuasiTriangularEigenvalues(t, n), LapackEigenvalues(a, n)), 1e-12) << n;
  }
}

TEST(RealSchur, SmallAndSpecialMatrices) {
  double scratch[4];
  // Real eigenvalues of a 2 x 2: triangular, ((a-d) + sign(a-d) sqrt(disc))/2 + d first.
  Vec a = {4, 1, 2, 3}, q(4);
  uint8_t flag = 9;
  ASSERT_TRUE(ComputeRealSchurForm(a.data(), 2, q.data(), &flag, scratch));
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(a[2], 0);
  EXPECT_NEAR(a[0], 5, 1e-14);
  EXPECT_NEAR(a[3], 2, 1e-14);
  // A rotation generator keeps its block and sets the flag.
  Vec r = {0, 1, -1, 0};
  ASSERT_TRUE(ComputeRealSchurForm(r.data(), 2, q.data(), &flag, scratch));
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(r, (Vec{0, 1, -1, 0}));
  // Already triangular: returns as it is, Q = I.
  Vec u = {1, 2, 3, 0, 4, 5, 0, 0, 6}, q3(9);
  Vec u0 = u;
  ASSERT_TRUE(ComputeRealSchurForm(u.data(), 3, q3.data(), nullptr, scratch));
  EXPECT_EQ(u, u0);
  EXPECT_EQ(UnitaryError(FromReal(q3, 3, 3)), 0);
}

TEST(RealSchur, GivesUpOnNaN) {
  Vec a = RandomMatrix(4, 4, 110), scratch(4);
  a[5] = NAN;
  EXPECT_FALSE(ComputeRealSchurForm(a.data(), 4, nullptr, nullptr, scratch.data()));
}

TEST(ComplexSchur, ReconstructsWithTriangularForm) {
  for (int n : {1, 2, 4, 7, 10}) {
    CMat a = RandomComplex(n, n, 120 + n), t = a, q(n, n);
    Vec scratch(2 * n);
    ASSERT_TRUE(ComputeComplexSchurForm(t.re.data(), t.im.data(), n, q.re.data(), q.im.data(), scratch.data()));
    EXPECT_LT(UnitaryError(q), 1e-13) << n;
    EXPECT_LT(MaxDiff(Mul(Mul(q, t), q, false, true), a), 1e-13) << n;
    // Blocks within 2000 eps of triangular are left as they are.
    EXPECT_LT(BelowDiagonal(t), 4000 * 2.2e-16 * MaxAbs(t)) << n;
    EXPECT_LT(SpectrumDistance(Diagonal(t), LapackEigenvalues(a)), 1e-12) << n;
  }
}

TEST(ComplexSchur, RealMatrixWithComplexPairs) {
  const int n = 6;
  Vec a = RandomMatrix(n, n, 130);
  CMat t = FromReal(a, n, n), q(n, n);
  Vec scratch(2 * n);
  ASSERT_TRUE(ComputeComplexSchurForm(t.re.data(), t.im.data(), n, q.re.data(), q.im.data(), scratch.data()));
  EXPECT_LT(MaxDiff(Mul(Mul(q, t), q, false, true), FromReal(a, n, n)), 1e-13);
  EXPECT_LT(BelowDiagonal(t), 1e-13);
  EXPECT_LT(SpectrumDistance(Diagonal(t), LapackEigenvalues(a, n)), 1e-12);
}

TEST(ConvertSchur, TurnsBlocksIntoTriangularPairs) {
  // [[0, 1], [-1, 0]]: mu = i, so i comes first.
  Vec t = {0, 1, -1, 0}, ti(4), q = {1, 0, 0, 1}, qi(4);
  ConvertRealSchurToComplex(t.data(), ti.data(), q.data(), qi.data(), 2);
  EXPECT_NEAR(t[0], 0, 1e-15);
  EXPECT_NEAR(ti[0], 1, 1e-15);
  EXPECT_NEAR(ti[3], -1, 1e-15);
  EXPECT_EQ(t[2], 0);
  EXPECT_EQ(ti[2], 0);

  const int n = 7;
  Vec a = RandomMatrix(n, n, 140), tr = a, qr(n * n), scratch(n);
  ASSERT_TRUE(ComputeRealSchurForm(tr.data(), n, qr.data(), nullptr, scratch.data()));
  CMat T(n, n), Q(n, n);
  T.re = tr, Q.re = qr;
  ConvertRealSchurToComplex(T.re.data(), T.im.data(), Q.re.data(), Q.im.data(), n);
  EXPECT_EQ(BelowDiagonal(T), 0);
  EXPECT_LT(UnitaryError(Q), 1e-13);
  EXPECT_LT(MaxDiff(Mul(Mul(Q, T), Q, false, true), FromReal(a, n, n)), 1e-13);
}

namespace {

// f(A) through the complex Schur form, with the diagonal filled from fd.
CMat MatrixFunction(const CMat& a, MatrixFunctionKind kind, Cx (*fd)(Cx), double* est = nullptr,
                    uint8_t* flag = nullptr) {
  int n = a.rows;
  CMat t = a, u(n, n), f(n, n);
  Vec scratch(2 * n);
  EXPECT_TRUE(ComputeComplexSchurForm(t.re.data(), t.im.data(), n, u.re.data(), u.im.data(), scratch.data()));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < i; ++j) t.set(i, j, 0);
  for (int i = 0; i < n; ++i) f.set(i, i, fd(t(i, i)));
  EXPECT_TRUE(ComputeTriangularMatrixFunction(t.re.data(), t.im.data(), u.re.data(), u.im.data(), n, f.re.data(),
                                              f.im.data(), kind, flag, est));
  return f;
}

// The same on a triangular T with U = I.
CMat TriangularFunction(CMat t, MatrixFunctionKind kind, Cx (*fd)(Cx), double* est = nullptr) {
  int n = t.rows;
  CMat u(n, n), f(n, n);
  for (int i = 0; i < n; ++i) u.set(i, i, 1), f.set(i, i, fd(t(i, i)));
  ComputeTriangularMatrixFunction(t.re.data(), t.im.data(), u.re.data(), u.im.data(), n, f.re.data(), f.im.data(), kind,
                                  nullptr, est);
  return f;
}

Cx Sqrt(Cx z) { return std::sqrt(z); }
Cx Log(Cx z) { return std::log(z); }
Cx Exp(Cx z) { return std::exp(z); }

CMat RealTriangle(std::initializer_list<double> entries, int n) { return FromReal(Vec(entries), n, n); }

}  // namespace

TEST(MatrixFunction, SquareRootOfJordanBlock) {
  double est = 0;
  CMat f = TriangularFunction(RealTriangle({1, 1, 0, 1}, 2), kMatrixFunctionSquareRoot, Sqrt, &est);
  EXPECT_LT(MaxDiff(f, RealTriangle({1, 0.5, 0, 1}, 2)), 1e-15);
  EXPECT_LE(est, 1e-15);
  // Repeated eigenvalues in a larger block: F^2 = T.
  CMat t = RealTriangle({4, 1, 2, 0, 4, 3, 0, 0, 4}, 3);
  f = TriangularFunction(t, kMatrixFunctionSquareRoot, Sqrt, &est);
  EXPECT_LT(MaxDiff(Mul(f, f), t), 1e-14);
  // [0 1; 0 0] has no square root: reported through the estimate.
  TriangularFunction(RealTriangle({0, 1, 0, 0}, 2), kMatrixFunctionSquareRoot, Sqrt, &est);
  EXPECT_EQ(est, 1);
  // The zero matrix is its own square root.
  f = TriangularFunction(RealTriangle({0, 0, 0, 0}, 2), kMatrixFunctionSquareRoot, Sqrt, &est);
  EXPECT_EQ(MaxAbs(f), 0);
}

TEST(MatrixFunction, LogarithmOfRepeatedAndCloseEigenvalues) {
  double est = 0;
  CMat f = TriangularFunction(RealTriangle({1, 1, 0, 1}, 2), kMatrixFunctionLogarithm, Log, &est);
  EXPECT_LT(MaxDiff(f, RealTriangle({0, 1, 0, 0}, 2)), 1e-14);
  EXPECT_LT(est, 1e-15);
  // log of [[e, 1], [0, e(1 + 1e-10)]]: the divided difference of log at close points.
  double e = std::exp(1.0), d = 1e-10;
  f = TriangularFunction(RealTriangle({e, 1, 0, e * (1 + d)}, 2), kMatrixFunctionLogarithm, Log);
  EXPECT_NEAR(f(0, 1).real(), std::log1p(d) / (e * d), 1e-14);
  EXPECT_NEAR(f(1, 1).real(), 1 + std::log1p(d), 1e-15);
  // A large off-diagonal needs many square roots before the series applies.
  CMat t = RealTriangle({2, 1e6, 5, 0, 2, -3, 0, 0, 3}, 3);
  f = TriangularFunction(t, kMatrixFunctionLogarithm, Log, &est);
  Vec x = f.re, work(3 * 7);
  ComputeRealMatrixExponential(x.data(), 3, f.re.data(), work.data());
  EXPECT_LT(MaxDiff(f, t), 1e-9 * MaxAbs(t));
}

TEST(MatrixFunction, RandomMatricesAgainstInverseFunctions) {
  const int n = 6;
  // Shifted to keep the eigenvalues away from the branch cut and from zero.
  CMat a = RandomComplex(n, n, 150);
  for (int i = 0; i < n; ++i) a.set(i, i, a(i, i) + 3.0);
  CMat s = MatrixFunction(a, kMatrixFunctionSquareRoot, Sqrt);
  EXPECT_LT(MaxDiff(Mul(s, s), a), 1e-12);
  CMat l = MatrixFunction(a, kMatrixFunctionLogarithm, Log);
  Vec x = l.Joined(), e(2 * n * n), work(n * (4 * n + 2));
  ComputeComplexMatrixExponential(x.data(), n, e.data(), work.data());
  CMat back(n, n);
  back.re.assign(e.begin(), e.begin() + n * n);
  back.im.assign(e.begin() + n * n, e.end());
  EXPECT_LT(MaxDiff(back, a), 1e-12);
  // The general path with exp, against the exponential kernel.
  double est = 0;
  uint8_t flag = 9;
  CMat ex = MatrixFunction(a, kMatrixFunctionGeneral, Exp, &est, &flag);
  Vec y = a.Joined();
  ComputeComplexMatrixExponential(y.data(), n, e.data(), work.data());
  back.re.assign(e.begin(), e.begin() + n * n);
  back.im.assign(e.begin() + n * n, e.end());
  EXPECT_LT(MaxDiff(ex, back), 1e-11 * MaxAbs(back));
  EXPECT_EQ(flag, 1);
  EXPECT_LT(est, 1e-12);
}

TEST(MatrixFunction, RealResultClearsTheFlag) {
  Vec a = {4, 1, 0, 0, 9, 2, 1, 0, 16};
  uint8_t flag = 9;
  CMat s = MatrixFunction(FromReal(a, 3, 3), kMatrixFunctionSquareRoot, Sqrt, nullptr, &flag);
  EXPECT_EQ(flag, 0);
  EXPECT_LT(MaxDiff(Mul(s, s), FromReal(a, 3, 3)), 1e-13);
}

TEST(MatrixFunction, GeneralPathRefusesCoupledEqualEigenvalues) {
  struct Case {
    std::initializer_list<double> t;
    int n;
    bool want;
  };
  const Case kCases[] = {
      {{2, 1, 0, 2}, 2, false},                 // a Jordan block
      {{2, 0, 1, 0, 3, 1, 0, 0, 2}, 3, false},  // linked only through the sum term
      {{2, 0, 0, 0, 3, 0, 0, 0, 2}, 3, true},   // equal but uncoupled
      {{2, 0, 0, 2}, 2, true},
  };
  for (const Case& c : kCases) {
    CMat t = RealTriangle(c.t, c.n), u(c.n, c.n), f(c.n, c.n);
    for (int i = 0; i < c.n; ++i) u.set(i, i, 1), f.set(i, i, Exp(t(i, i)));
    double est = 0;
    EXPECT_EQ(ComputeTriangularMatrixFunction(t.re.data(), t.im.data(), u.re.data(), u.im.data(), c.n, f.re.data(),
                                              f.im.data(), kMatrixFunctionGeneral, nullptr, &est),
              c.want)
        << c.n << " " << *c.t.begin();
    if (!c.want) continue;
    // Uncoupled: exactly the function of each diagonal entry.
    CMat want = RealTriangle(c.t, c.n);
    for (int i = 0; i < c.n; ++i) want.set(i, i, Exp(want(i, i)));
    EXPECT_EQ(MaxDiff(f, want), 0);
    EXPECT_LT(est, 1e-14);
  }
}

TEST(MatrixFunction, GeneralPathDividedDifferences) {
  double est = 0;
  CMat f = TriangularFunction(RealTriangle({1, 1, 0, 2}, 2), kMatrixFunctionGeneral, Exp, &est);
  EXPECT_NEAR(f(0, 1).real(), std::exp(2.0) - std::exp(1.0), 1e-14);
  EXPECT_LT(est, 1e-14);
  // Empty matrix.
  uint8_t flag = 9;
  EXPECT_TRUE(ComputeTriangularMatrixFunction(nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                              kMatrixFunctionGeneral, &flag, &est));
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(est, 0);
}
