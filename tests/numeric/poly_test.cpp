// Polynomials from roots and characteristic polynomials.
#include <gtest/gtest.h>

#include "numeric/numeric.h"
#include "tests/numeric/testutil.h"

using namespace testutil;

TEST(PolyFromRoots, RealAndComplexExpansions) {
  Vec r = {1, 2}, c(3);
  BuildPolyFromRealRoots(r.data(), 2, c.data());
  EXPECT_EQ(c, (Vec{1, -3, 2}));
  Vec c0(1);
  BuildPolyFromRealRoots(nullptr, 0, c0.data());
  EXPECT_EQ(c0, Vec{1});

  struct Case {
    Vec re, im;
    bool paired;
    Vec wantRe, wantIm;
  };
  const Case kCases[] = {
      {{1, 1}, {2, -2}, true, {1, -2, 5}, {0, 0, 0}},
      {{1, 3}, {2, -2}, false, {1, -4, 7}, {0, 0, 4}},  // (z - 1 - 2i)(z - 3 + 2i)
      {{4, -1}, {0, 0}, true, {1, -3, -4}, {0, 0, 0}},  // real roots pair trivially
      {{1, 1, 1}, {1, -1, 1}, false, {}, {}},           // one partner for two roots
      {{0, 0}, {NAN, NAN}, false, {}, {}},              // NaN never pairs
  };
  for (const Case& k : kCases) {
    int n = static_cast<int>(k.re.size());
    Vec cr(n + 1), ci(n + 1);
    EXPECT_EQ(BuildPolyFromComplexRoots(k.re.data(), k.im.data(), n, cr.data(), ci.data()), k.paired);
    if (!k.wantRe.empty()) {
      EXPECT_EQ(cr, k.wantRe);
      EXPECT_EQ(ci, k.wantIm);
    }
  }
}

TEST(CharPoly, RealMatrixCoefficientsHaveItsEigenvaluesAsRoots) {
  const int n = 6;
  Vec a = RandomMatrix(n, n, 300), w = a, c(n + 1), scratch(4 * n + 1);
  EXPECT_EQ(ComputeRealCharPoly(w.data(), n, c.data(), scratch.data()), 1);
  EXPECT_EQ(c[0], 1);
  for (Cx e : LapackEigenvalues(a, n)) {
    Cx v = 0;
    for (double k : c) v = v * e + k;
    EXPECT_LT(std::abs(v), 1e-12);
  }
  // Trace and determinant sit in the first and last coefficients.
  double trace = 0;
  for (int i = 0; i < n; ++i) trace += a[i * n + i];
  EXPECT_NEAR(c[1], -trace, 1e-13);
}

TEST(CharPoly, RealFailureIsReported) {
  Vec a = RandomMatrix(3, 3, 301), c(4, 7.0), scratch(13);
  a[4] = NAN;
  EXPECT_EQ(ComputeRealCharPoly(a.data(), 3, c.data(), scratch.data()), -1);
  EXPECT_EQ(c, Vec(4, 7.0));  // no expansion of incomplete roots
}

TEST(CharPoly, ComplexMatrixMatchesEigenvalues) {
  const int n = 5;
  CMat a = RandomComplex(n, n, 302), w = a;
  Vec cr(n + 1), ci(n + 1);
  std::vector<int32_t> scratch(n);
  ComputeComplexCharPoly(w.re.data(), w.im.data(), n, cr.data(), ci.data(), scratch.data());
  for (Cx e : LapackEigenvalues(a)) {
    Cx v = 0;
    for (int k = 0; k <= n; ++k) v = v * e + Cx(cr[k], ci[k]);
    EXPECT_LT(std::abs(v), 1e-11);
  }
}

TEST(CharPoly, ComplexContinuesPastZeroPivots) {
  // diag([1i 2]): every candidate of the first pivot column is zero.
  CMat d(2, 2);
  d.set(0, 0, Cx(0, 1));
  d.set(1, 1, 2);
  Vec cr(3), ci(3);
  int32_t scratch[4];
  ComputeComplexCharPoly(d.re.data(), d.im.data(), 2, cr.data(), ci.data(), scratch);
  EXPECT_EQ(Cx(cr[0], ci[0]), Cx(1));
  EXPECT_EQ(Cx(cr[1], ci[1]), Cx(-2, -1));
  EXPECT_EQ(Cx(cr[2], ci[2]), Cx(0, 2));
  // Block triangular with a zero pivot in the middle of the reduction.
  Vec b = {1, 2, 5, 3, 4, 6, 0, 0, 7};
  CMat m = FromReal(b, 3, 3);
  Vec r3(4), i3(4);
  ComputeComplexCharPoly(m.re.data(), m.im.data(), 3, r3.data(), i3.data(), scratch);
  // (z^2 - 5z - 2)(z - 7)
  const double want[4] = {1, -12, 33, 14};
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(r3[k], want[k], 1e-13) << k;
    EXPECT_EQ(i3[k], 0) << k;
  }
  // The zero matrix and the empty one.
  CMat z(3, 3);
  ComputeComplexCharPoly(z.re.data(), z.im.data(), 3, r3.data(), i3.data(), scratch);
  EXPECT_EQ(r3, (Vec{1, 0, 0, 0}));
  Vec e1(1), e2(1);
  ComputeComplexCharPoly(nullptr, nullptr, 0, e1.data(), e2.data(), scratch);
  EXPECT_EQ(e1[0], 1);
}
