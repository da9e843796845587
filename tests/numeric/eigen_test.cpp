// Eigenvalues by Jacobi sweeps and by the shifted QR iteration, against
// LAPACK's dgeev and the kernels' own edge cases.
#include <gtest/gtest.h>

#include "numeric/numeric.h"
#include "tests/numeric/testutil.h"

using namespace testutil;

namespace {

std::vector<Cx> QrEigenvalues(Vec a, int n, bool* ok) {
  std::vector<int32_t> scratch(n);
  Vec re(n), im(n);
  *ok = ComputeRealEigenvalues(a.data(), n, scratch.data(), re.data(), im.data());
  std::vector<Cx> out;
  for (int i = 0; i < n; ++i) out.emplace_back(re[i], im[i]);
  return out;
}

}  // namespace

TEST(Jacobi, SymmetricMatricesMatchLapackAndVectorsDiagonalise) {
  for (int n : {2, 5, 10}) {
    Vec a = RandomMatrix(n, n, 200 + n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < i; ++j) a[i * n + j] = a[j * n + i];
    Vec w = a, d(n), v(n * n), scratch(2 * n);
    JacobiSymmetricEigenvalues(w.data(), n, d.data(), v.data(), scratch.data());
    std::vector<Cx> got(d.begin(), d.end());
    EXPECT_LT(SpectrumDistance(got, LapackEigenvalues(a, n)), 1e-13) << n;
    CMat V = FromReal(v, n, n);
    EXPECT_LT(UnitaryError(V), 1e-13);
    CMat D(n, n);
    for (int i = 0; i < n; ++i) D.set(i, i, d[i]);
    EXPECT_LT(MaxDiff(Mul(Mul(V, D), V, false, true), FromReal(a, n, n)), 1e-13) << n;
  }
}

TEST(Jacobi, DiagonalAndZeroMatricesNeedNoSweep) {
  Vec a = {3, 0, 0, 0, -1, 0, 0, 0, 2}, d(3), v(9), scratch(6);
  JacobiSymmetricEigenvalues(a.data(), 3, d.data(), v.data(), scratch.data());
  EXPECT_EQ(d, (Vec{3, -1, 2}));
  EXPECT_EQ(v, (Vec{1, 0, 0, 0, 1, 0, 0, 0, 1}));
  Vec z(4, 0.0), dz(2);
  JacobiSymmetricEigenvalues(z.data(), 2, dz.data(), nullptr, scratch.data());
  EXPECT_EQ(dz, (Vec{0, 0}));
}

TEST(QrEigenvalues, RandomMatricesMatchLapack) {
  for (int n : {1, 2, 3, 6, 15, 30}) {
    Vec a = RandomMatrix(n, n, 210 + n);
    bool ok = false;
    std::vector<Cx> got = QrEigenvalues(a, n, &ok);
    ASSERT_TRUE(ok) << n;
    double norm = MaxAbs(FromReal(a, n, n)) * n;
    EXPECT_LT(SpectrumDistance(got, LapackEigenvalues(a, n)), 1e-12 * norm) << n;
    for (int i = 0; i + 1 < n; ++i) {  // pairs come positive imaginary part first
      if (got[i].imag() > 0) {
        EXPECT_EQ(got[i + 1], std::conj(got[i]));
      }
    }
  }
}

TEST(QrEigenvalues, BadlyScaledAndDefectiveMatrices) {
  // Graded entries over many orders of magnitude.
  const int n = 6;
  Vec g(n * n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) g[i * n + j] = std::pow(10.0, i - j) * (1 + 0.1 * ((i * 7 + j * 3) % 5));
  bool ok = false;
  std::vector<Cx> got = QrEigenvalues(g, n, &ok);
  ASSERT_TRUE(ok);
  EXPECT_LT(SpectrumDistance(got, LapackEigenvalues(g, n)), 1e-9);
  // A Jordan block: the perturbation theory allows eps^(1/3).
  Vec j = {2, 1, 0, 0, 2, 1, 0, 0, 2};
  got = QrEigenvalues(j, 3, &ok);
  ASSERT_TRUE(ok);
  for (Cx e : got) EXPECT_LT(std::abs(e - 2.0), 1e-4);
}

TEST(QrEigenvalues, EdgeCases) {
  bool ok = false;
  std::vector<Cx> got = QrEigenvalues(Vec(9, 0.0), 3, &ok);
  EXPECT_TRUE(ok);
  for (Cx e : got) EXPECT_EQ(e, Cx(0));
  // Deflation one row at a time, from the bottom: order follows the diagonal.
  got = QrEigenvalues({1, 5, 7, 0, 2, 8, 0, 0, 3}, 3, &ok);
  EXPECT_EQ(got, (std::vector<Cx>{1, 2, 3}));
  // The rotation generator: 0 +- i, the positive imaginary part first.
  got = QrEigenvalues({0, 1, -1, 0}, 2, &ok);
  EXPECT_EQ(got[0], Cx(0, 1));
  EXPECT_EQ(got[1], Cx(0, -1));
  // q = 0 exactly: a pair with imaginary parts +0 and -0.
  Vec re(2), im(2);
  Vec h = {1, 0, 1, 1};
  h[1] = 0;  // [1 0; 1 1]: p = 0, w = 0
  EXPECT_TRUE(ShiftedQrEigenvalues(h.data(), 2, 0x1p-52, re.data(), im.data()));
  EXPECT_EQ(re[0], 1);
  EXPECT_EQ(re[1], 1);
  EXPECT_EQ(im[0], 0);
  EXPECT_TRUE(std::signbit(im[1]));
  // NaN entries exhaust the budget instead of looping.
  Vec bad = RandomMatrix(4, 4, 220);
  bad[6] = NAN;
  QrEigenvalues(bad, 4, &ok);
  EXPECT_FALSE(ok);
}
