// Matrix products and solves on either side of the sizes where BLAS and
// LAPACK take over, checked against a plain triple loop and by residuals;
// non-square divisions through a pseudo-inverse native; conv2's break poll.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "corelib/corelib.h"
#include "corelib/dense.h"
#include "engine/values/valuestack.h"
#include "numeric/numeric.h"
#include "tests/engine/stack_fixture.h"

namespace {

// A matrix row by row; im is empty for a real one.
struct Dense {
  int m = 0, n = 0;
  std::vector<double> re, im;
  double Re(int i, int j) const { return re[size_t(i) * n + j]; }
  double Im(int i, int j) const { return im.empty() ? 0 : im[size_t(i) * n + j]; }
};

Dense Random(std::mt19937_64& rng, int m, int n, bool complex) {
  std::uniform_real_distribution<double> u(-1, 1);
  Dense d{m, n, std::vector<double>(size_t(m) * n), {}};
  for (double& x : d.re) x = u(rng);
  if (complex) {
    d.im.resize(d.re.size());
    for (double& x : d.im) x = u(rng);
  }
  return d;
}

class MatrixOpsTest : public StackFixture {
 protected:
  MatrixOpsTest() : StackFixture({.blockCells = 4 * 1024 * 1024}) {}

  void Push(const Dense& d) {
    double *re = nullptr, *im = nullptr;
    ASSERT_EQ(PushDoubleMatrix(ctx, d.m, d.n, &re, d.im.empty() ? nullptr : &im), kOk);
    std::memcpy(re, d.re.data(), d.re.size() * sizeof(double));
    if (!d.im.empty()) std::memcpy(im, d.im.data(), d.im.size() * sizeof(double));
  }

  Dense PopTop() {
    Dense d;
    double *re = nullptr, *im = nullptr;
    EXPECT_EQ(GetDoubleMatrixArg(ctx, 0, &d.m, &d.n, &re, &im), kOk);
    d.re.assign(re, re + size_t(d.m) * d.n);
    if (im) d.im.assign(im, im + size_t(d.m) * d.n);
    PopValue(ctx);
    return d;
  }

  // Runs a binary operator on two matrices and pops its result.
  Dense Apply(StatusCode (*op)(EngineContext*), const Dense& a, const Dense& b) {
    Push(a);
    Push(b);
    EXPECT_EQ(op(ctx), kOk);
    return PopTop();
  }
};

// |A B - C| per element against the sum of |a||b| over its terms.
void ExpectProduct(const Dense& a, const Dense& b, const Dense& c, const std::string& label) {
  ASSERT_EQ(c.m, a.m) << label;
  ASSERT_EQ(c.n, b.n) << label;
  ASSERT_EQ(c.im.empty(), a.im.empty() && b.im.empty()) << label;
  double worst = 0;
  for (int i = 0; i < a.m; ++i)
    for (int j = 0; j < b.n; ++j) {
      double re = 0, im = 0, scale = 0;
      for (int k = 0; k < a.n; ++k) {
        re += a.Re(i, k) * b.Re(k, j) - a.Im(i, k) * b.Im(k, j);
        im += a.Re(i, k) * b.Im(k, j) + a.Im(i, k) * b.Re(k, j);
        scale += std::hypot(a.Re(i, k), a.Im(i, k)) * std::hypot(b.Re(k, j), b.Im(k, j));
      }
      const double err = std::hypot(c.Re(i, j) - re, c.Im(i, j) - im) / scale;
      worst = std::max(worst, err);
    }
  EXPECT_LT(worst, 1e-13) << label;
}

TEST_F(MatrixOpsTest, ProductsAgreeWithTheTripleLoopEitherSideOfTheThreshold) {
  std::mt19937_64 rng(20240611);
  const int sizes[] = {1, 2, 7, 31, 32, 33, 64, 150, 300};
  std::uniform_int_distribution<int> pick(0, std::size(sizes) - 1);
  for (int trial = 0; trial < 24; ++trial) {
    const int m = sizes[pick(rng)], n = sizes[pick(rng)], p = sizes[pick(rng)];
    if (int64_t{m} * n * p > 300 * 300 * 64) continue;  // keep the reference loop short
    for (int kinds = 0; kinds < 4; ++kinds) {
      const Dense a = Random(rng, m, n, kinds & 1), b = Random(rng, n, p, kinds & 2);
      if (a.re.size() == 1 || b.re.size() == 1) continue;  // scalars are elementwise
      const std::string label =
          std::to_string(m) + "x" + std::to_string(n) + "x" + std::to_string(p) + " kinds " + std::to_string(kinds);
      ExpectProduct(a, b, Apply(mtimes, a, b), label);
    }
  }
  // Both sides of the threshold are reached.
  EXPECT_LT(int64_t{31} * 31 * 31, kBlasProductWork);
  EXPECT_GE(int64_t{33} * 33 * 33, kBlasProductWork);
}

// ||A X - B|| / (||A|| ||X||) for a left solve, or ||X A - B|| for a right one.
double RelativeResidual(const Dense& a, const Dense& x, const Dense& b, bool left) {
  const Dense& f = left ? a : x;
  const Dense& g = left ? x : a;
  double r = 0, na = 0, nx = 0;
  for (int i = 0; i < f.m; ++i)
    for (int j = 0; j < g.n; ++j) {
      double re = -b.Re(i, j), im = -b.Im(i, j);
      for (int k = 0; k < f.n; ++k) {
        re += f.Re(i, k) * g.Re(k, j) - f.Im(i, k) * g.Im(k, j);
        im += f.Re(i, k) * g.Im(k, j) + f.Im(i, k) * g.Re(k, j);
      }
      r += re * re + im * im;
    }
  for (size_t k = 0; k < a.re.size(); ++k) na += a.re[k] * a.re[k] + (a.im.empty() ? 0 : a.im[k] * a.im[k]);
  for (size_t k = 0; k < x.re.size(); ++k) nx += x.re[k] * x.re[k] + (x.im.empty() ? 0 : x.im[k] * x.im[k]);
  return std::sqrt(r / (na * nx));
}

TEST_F(MatrixOpsTest, SquareSolvesLeaveSmallResiduals) {
  std::mt19937_64 rng(7);
  for (int n : {2, 5, 31, 32, 47, 120}) {
    for (int kinds = 0; kinds < 4; ++kinds) {
      const bool complexA = kinds & 1, complexB = kinds & 2;
      const std::string label = "n " + std::to_string(n) + " kinds " + std::to_string(kinds);
      const Dense a = Random(rng, n, n, complexA);
      const Dense b = Random(rng, n, 3, complexB);
      const Dense x = Apply(mldivide, a, b);
      ASSERT_EQ(x.m, n) << label;
      EXPECT_LT(RelativeResidual(a, x, b, true), 64 * n * 1e-16) << label;
      const Dense rows = Random(rng, 4, n, complexB);
      const Dense y = Apply(mrdivide, rows, a);
      ASSERT_EQ(y.m, 4) << label;
      EXPECT_LT(RelativeResidual(a, y, rows, false), 64 * n * 1e-16) << label;
    }
  }
}

// An exactly singular matrix is no error on either path: the kernel's zero
// pivot runs into infinities or NaNs.
TEST_F(MatrixOpsTest, SingularSystemsGiveNonFiniteResultsOnBothPaths) {
  std::mt19937_64 rng(11);
  for (int n : {4, 40}) {
    for (bool complex : {false, true}) {
      Dense a = Random(rng, n, n, complex);
      // A zero row: every elimination leaves it zero, so some pivot is exactly 0.
      std::fill_n(&a.re[n], n, 0.0);
      if (complex) std::fill_n(&a.im[n], n, 0.0);
      for (auto op : {mldivide, mrdivide}) {
        const bool left = op == mldivide;
        const Dense b = left ? Random(rng, n, 1, false) : Random(rng, 1, n, false);
        const Dense x = left ? Apply(op, a, b) : Apply(op, b, a);
        bool finite = true;
        for (double v : x.re) finite = finite && std::isfinite(v);
        EXPECT_FALSE(finite) << "n " << n << " complex " << complex << " left " << left;
      }
    }
  }
}

NativeFunctionRecord PinvRecord(const char* name, NativeHandler handler) {
  NativeFunctionRecord r{};
  r.handler = handler;
  std::strncpy(r.name, name, sizeof r.name - 1);
  r.maxInputs = r.maxOutputs = 1;
  return r;
}

const NativeFunctionRecord kPinvLibrary[] = {PinvRecord("testpinv", nullptr), PinvRecord("pinv", PinvNative),
                                             NativeFunctionRecord{}};

TEST_F(MatrixOpsTest, NonSquareDivisionsNeedAPseudoInverse) {
  std::mt19937_64 rng(3);
  const Dense tall = Random(rng, 6, 3, false), rhs = Random(rng, 6, 2, false);
  const Dense wide = Random(rng, 3, 6, false), rows = Random(rng, 2, 6, false);
  Push(tall);
  Push(rhs);
  EXPECT_EQ(mldivide(ctx), 26);
  PopValue(ctx);
  PopValue(ctx);

  ASSERT_EQ(InstallNativeLibrary(ctx, kPinvLibrary, false), kOk);
  // Least squares: the residual is orthogonal to the columns (rows) of the matrix.
  const Dense x = Apply(mldivide, tall, rhs);
  ASSERT_EQ(x.m, 3);
  ASSERT_EQ(x.n, 2);
  for (int c = 0; c < 3; ++c)
    for (int j = 0; j < 2; ++j) {
      double s = 0;
      for (int i = 0; i < 6; ++i) {
        double r = -rhs.Re(i, j);
        for (int k = 0; k < 3; ++k) r += tall.Re(i, k) * x.Re(k, j);
        s += tall.Re(i, c) * r;
      }
      EXPECT_NEAR(s, 0, 1e-12);
    }
  const Dense y = Apply(mrdivide, rows, wide);
  ASSERT_EQ(y.m, 2);
  ASSERT_EQ(y.n, 3);
  for (int i = 0; i < 2; ++i)
    for (int c = 0; c < 3; ++c) {
      double s = 0;
      for (int j = 0; j < 6; ++j) {
        double r = -rows.Re(i, j);
        for (int k = 0; k < 3; ++k) r += y.Re(i, k) * wide.Re(k, j);
        s += r * wide.Re(c, j);
      }
      EXPECT_NEAR(s, 0, 1e-12);
    }
  const Dense one = Apply(mrdivide, Dense{1, 3, {1, 2, 3}, {}}, Dense{1, 3, {1, 2, 3}, {}});
  ASSERT_EQ(one.re.size(), 1u);
  EXPECT_NEAR(one.re[0], 1, 1e-15);
}

TEST_F(MatrixOpsTest, Conv2StopsAtABreak) {
  int polls = 0;
  SetBreakPollCallback(
      ctx, [](void* data) { return ++*static_cast<int*>(data) == 2; }, &polls);
  Push(Dense{3, 3, std::vector<double>(9, 1), {}});
  Push(Dense{2, 2, std::vector<double>(4, 1), {}});
  EXPECT_EQ(conv2(ctx, 2), kHalted);
  EXPECT_EQ(polls, 2);  // one poll per finished row, stopping at the second
}

}  // namespace
