// Reflectors, Hessenberg reduction and QR factorisation: the factors must
// reconstruct the input with orthogonal (unitary) Q and the promised shape.
#include <gtest/gtest.h>

#include "numeric/numeric.h"
#include "tests/numeric/testutil.h"

using namespace testutil;

TEST(Householder, MapsOntoFirstAxis) {
  const double x[3] = {0, 3, 4};
  double v[3], beta;
  ComputeHouseholderVector(x, 3, 1, v, &beta);
  EXPECT_DOUBLE_EQ(v[0], 1.25);
  EXPECT_DOUBLE_EQ(v[1], 0.75);
  EXPECT_DOUBLE_EQ(v[2], 1.0);
  EXPECT_DOUBLE_EQ(beta, 0.64);
  double col[3] = {0, 3, 4};
  ApplyHouseholderLeft(col, 3, 1, v, beta, 0, 3);
  EXPECT_NEAR(col[0], -5, 1e-15);  // x0 = 0 counts as positive
  EXPECT_NEAR(col[1], 0, 1e-15);
  EXPECT_NEAR(col[2], 0, 1e-15);
}

TEST(Householder, ZeroVectorIsIdentity) {
  const double zr[4] = {0, 0, 0, 0};
  double v[2] = {9, 9}, vi[2] = {9, 9}, beta = 0;
  ComputeHouseholderVector(zr, 2, 2, v, &beta);  // strided over the zeros
  EXPECT_EQ(beta, 1);
  EXPECT_EQ(v[0], 0);
  EXPECT_EQ(v[1], 0);
  ComputeComplexHouseholderVector(zr, zr + 2, 2, 1, v, vi, &beta);
  EXPECT_EQ(beta, 1);
  EXPECT_EQ(v[0] + v[1] + vi[0] + vi[1], 0);
  Vec a = RandomMatrix(2, 3, 1), before = a;
  ApplyHouseholderLeft(a.data(), 2, 3, v, beta, 0, 2);
  ApplyHouseholderRight(a.data(), 2, 3, v, beta, 1, 3);
  EXPECT_EQ(a, before);
}

TEST(Householder, ComplexReflectorAndClippedSegments) {
  CMat x = RandomComplex(4, 1, 7);
  double vr[4], vi[4], beta;
  ComputeComplexHouseholderVector(x.re.data(), x.im.data(), 4, 1, vr, vi, &beta);
  CMat y = x;
  ApplyComplexHouseholderLeft(y.re.data(), y.im.data(), 4, 1, vr, vi, beta, 0, 4);
  double norm = 0;
  for (int i = 0; i < 4; ++i) norm += std::norm(x(i, 0));
  EXPECT_NEAR(std::abs(y(0, 0)), std::sqrt(norm), 1e-14);
  EXPECT_NEAR(std::arg(-y(0, 0)), std::arg(x(0, 0)), 1e-14);  // along -phase(x0)
  for (int i = 1; i < 4; ++i) EXPECT_LT(std::abs(y(i, 0)), 1e-15);
  // The right application on the transposed row gives the conjugate picture.
  CMat row(1, 4);
  for (int i = 0; i < 4; ++i) row.set(0, i, std::conj(x(i, 0)));
  ApplyComplexHouseholderRight(row.re.data(), row.im.data(), 1, 4, vr, vi, beta, 0, 4);
  EXPECT_NEAR(std::abs(row(0, 0) - std::conj(y(0, 0))), 0, 1e-14);
  // A segment that starts past the matrix leaves it alone.
  Vec a = RandomMatrix(3, 3, 2), before = a;
  double v[2] = {1, 1};
  ApplyHouseholderLeft(a.data(), 3, 3, v, 1.0, 3, 5);
  ApplyHouseholderRight(a.data(), 3, 3, v, 1.0, 4, 9);
  EXPECT_EQ(a, before);
}

TEST(Hessenberg, RealReconstructsWithOrthogonalQ) {
  for (int n : {1, 2, 3, 6, 9}) {
    Vec a = RandomMatrix(n, n, 10 + n), h = a, q(n * n), scratch(n);
    ReduceToHessenberg(h.data(), n, q.data(), scratch.data());
    CMat Q = FromReal(q, n, n), H = FromReal(h, n, n);
    EXPECT_LT(UnitaryError(Q), 1e-14) << n;
    EXPECT_EQ(BelowDiagonal(H, 1), 0) << n;  // exactly zero below the subdiagonal
    EXPECT_LT(MaxDiff(Mul(Mul(Q, H), Q, false, true), FromReal(a, n, n)), 1e-14) << n;
    if (n <= 2) {
      EXPECT_EQ(h, a) << n;  // already Hessenberg, Q = I
    }
  }
}

TEST(Hessenberg, ComplexReconstructsWithUnitaryQ) {
  for (int n : {2, 5, 8}) {
    CMat a = RandomComplex(n, n, 20 + n), h = a, q(n, n);
    Vec scratch(2 * n);
    ReduceComplexToHessenberg(h.re.data(), h.im.data(), n, q.re.data(), q.im.data(), scratch.data());
    EXPECT_LT(UnitaryError(q), 1e-14);
    EXPECT_EQ(BelowDiagonal(h, 1), 0);
    EXPECT_LT(MaxDiff(Mul(Mul(q, h), q, false, true), a), 1e-14);
  }
}

struct QrShape {
  int m, n;
};
const QrShape kQrShapes[] = {{4, 4}, {7, 3}, {3, 7}, {1, 5}, {5, 1}};

// Column j of A*P is column perm[j] of A.
CMat PermuteColumns(const CMat& a, const int32_t* perm) {
  CMat p(a.rows, a.cols);
  for (int i = 0; i < a.rows; ++i)
    for (int j = 0; j < a.cols; ++j) p.set(i, j, a(i, perm ? perm[j] : j));
  return p;
}

TEST(Qr, RealAndComplexReconstructWithAndWithoutPivoting) {
  unsigned seed = 30;
  for (const QrShape& s : kQrShapes)
    for (bool complex : {false, true})
      for (bool pivot : {false, true}) {
        CMat a = complex ? RandomComplex(s.m, s.n, ++seed) : FromReal(RandomMatrix(s.m, s.n, ++seed), s.m, s.n);
        CMat r = a, q(s.m, s.m);
        std::vector<int32_t> perm(s.n);
        Vec scratch(2 * s.m + s.n);
        if (complex)
          FactorComplexQr(r.re.data(), r.im.data(), s.m, s.n, q.re.data(), q.im.data(), pivot ? perm.data() : nullptr,
                          scratch.data());
        else
          FactorRealQr(r.re.data(), s.m, s.n, q.re.data(), pivot ? perm.data() : nullptr, scratch.data());
        SCOPED_TRACE(testing::Message() << s.m << "x" << s.n << " complex " << complex << " pivot " << pivot);
        EXPECT_LT(UnitaryError(q), 1e-14);
        EXPECT_EQ(BelowDiagonal(r), 0);
        EXPECT_LT(MaxDiff(Mul(q, r), PermuteColumns(a, pivot ? perm.data() : nullptr)), 1e-14);
        for (int i = 1; pivot && i < std::min(s.m, s.n); ++i) {
          // pivoting orders the diagonal of R by decreasing modulus
          EXPECT_GE(std::abs(r(i - 1, i - 1)), std::abs(r(i, i)) - 1e-14);
        }
      }
}

TEST(Qr, PivotingStopsAtZeroRemainder) {
  // Zero matrix: R = 0, Q = I, identity permutation.
  Vec z(12, 0.0), q(16), scratch(7);
  int32_t perm[3];
  FactorRealQr(z.data(), 4, 3, q.data(), perm, scratch.data());
  EXPECT_EQ(z, Vec(12, 0.0));
  EXPECT_EQ(UnitaryError(FromReal(q, 4, 4)), 0);
  EXPECT_EQ(perm[0], 0);
  EXPECT_EQ(perm[1], 1);
  EXPECT_EQ(perm[2], 2);
  // Rank one: the loop ends after one step with the largest column first.
  Vec a = {1, 2, 0, 2, 4, 0, 3, 6, 0}, r = a;
  FactorRealQr(r.data(), 3, 3, q.data(), perm, scratch.data());
  EXPECT_EQ(perm[0], 1);
  EXPECT_NEAR(std::fabs(r[0]), std::sqrt(56.0), 1e-14);
  EXPECT_LT(std::fabs(r[4]) + std::fabs(r[5]) + std::fabs(r[8]), 1e-14);
  EXPECT_LT(MaxDiff(Mul(FromReal(q, 3, 3), FromReal(r, 3, 3)), PermuteColumns(FromReal(a, 3, 3), perm)), 1e-14);
}
