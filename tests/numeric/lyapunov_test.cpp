// Sylvester, Lyapunov and Riccati solutions: the kernels against a dense
// Kronecker-product solve by LAPACK, the Riccati natives by the residuals of
// their equations and the closed-loop spectra, and the failures that must not
// pass for solutions.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "numeric/numeric.h"
#include "tests/engine/stack_fixture.h"
#include "tests/numeric/testutil.h"

extern "C" void dgesv_(const int* n, const int* nrhs, double* a, const int* lda, int* ipiv, double* b, const int* ldb,
                       int* info);

namespace {

using testutil::RandomMatrix;

// Row-major products and sums of small dense matrices.
struct Mat {
  int m = 0, n = 0;
  Vec v;
  double& operator()(int i, int j) { return v[size_t(i) * n + j]; }
  double operator()(int i, int j) const { return v[size_t(i) * n + j]; }
};

Mat Make(int m, int n, Vec v) { return {m, n, std::move(v)}; }
Mat Zeros(int m, int n) { return {m, n, Vec(size_t(m) * n)}; }
Mat Random(int m, int n, unsigned seed) { return {m, n, RandomMatrix(m, n, seed)}; }
Mat Eye(int n) {
  Mat e = Zeros(n, n);
  for (int i = 0; i < n; ++i) e(i, i) = 1;
  return e;
}
Mat T(const Mat& a) {
  Mat t = Zeros(a.n, a.m);
  for (int i = 0; i < a.m; ++i)
    for (int j = 0; j < a.n; ++j) t(j, i) = a(i, j);
  return t;
}
Mat operator*(const Mat& a, const Mat& b) {
  Mat c = Zeros(a.m, b.n);
  for (int i = 0; i < a.m; ++i)
    for (int j = 0; j < b.n; ++j)
      for (int k = 0; k < a.n; ++k) c(i, j) += a(i, k) * b(k, j);
  return c;
}
Mat operator+(Mat a, const Mat& b) {
  for (size_t k = 0; k < a.v.size(); ++k) a.v[k] += b.v[k];
  return a;
}
Mat operator*(double s, Mat a) {
  for (double& x : a.v) x *= s;
  return a;
}
Mat operator-(Mat a, const Mat& b) {
  for (size_t k = 0; k < a.v.size(); ++k) a.v[k] -= b.v[k];
  return a;
}
double MaxAbs(const Mat& a) {
  double m = 0;
  for (double x : a.v) m = std::max(m, std::abs(x));
  return m;
}
Mat Inverse(const Mat& a) {
  Mat x = Eye(a.n);
  Vec copy = a.v;
  std::vector<int32_t> perm(a.n);
  SolveRealLinearSystem(copy.data(), x.v.data(), a.n, a.n, perm.data(), false);
  return x;
}

// X solving sum_k L_k X R_k + C = 0 as one dense system: for row-major X,
// vec(L X R) = (L kron R') vec(X).
Mat KroneckerSolve(const std::vector<std::pair<Mat, Mat>>& terms, const Mat& c) {
  const int m = c.m, n = c.n, order = m * n;
  Vec big(size_t(order) * order, 0.0), rhs(order);
  for (const auto& [l, r] : terms)
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < n; ++j)
        for (int p = 0; p < m; ++p)
          for (int q = 0; q < n; ++q)
            // Column-major for LAPACK: row (i, j), column (p, q).
            big[size_t(p * n + q) * order + (i * n + j)] += l(i, p) * r(q, j);
  for (int k = 0; k < order; ++k) rhs[k] = -c.v[k];
  std::vector<int> ipiv(order);
  int one = 1, info = 0;
  dgesv_(&order, &one, big.data(), &order, ipiv.data(), rhs.data(), &order, &info);
  EXPECT_EQ(info, 0);
  return Make(m, n, rhs);
}

Mat Sylvester(Mat a, Mat* b, Mat c) {
  Vec work(LyapunovWorkspaceSize(c.m, c.n));
  EXPECT_TRUE(SolveLyapunov(a.v.data(), c.m, b ? b->v.data() : nullptr, c.n, c.v.data(), work.data()));
  return c;
}

TEST(LyapunovKernelTest, SylvesterMatchesTheKroneckerSolve) {
  struct Shape {
    int m, n;
  };
  unsigned seed = 10;
  for (Shape s : {Shape{3, 3}, Shape{4, 2}, Shape{1, 5}, Shape{5, 1}, Shape{6, 6}}) {
    const Mat a = Random(s.m, s.m, seed++), c = Random(s.m, s.n, seed++);
    Mat b = Random(s.n, s.n, seed++);
    const Mat want = KroneckerSolve({{a, Eye(s.n)}, {Eye(s.m), b}}, c);
    Mat bCopy = b;
    const Mat x = Sylvester(a, &bCopy, c);
    EXPECT_LT(MaxAbs(x - want), 1e-10 * (1 + MaxAbs(want))) << s.m << "x" << s.n;
    EXPECT_LT(MaxAbs(a * x + x * b + c), 1e-12 * (1 + MaxAbs(x))) << s.m << "x" << s.n;

    if (s.m == s.n) {
      const Mat xa = Sylvester(a, nullptr, c);
      const Mat wantA = KroneckerSolve({{a, Eye(s.m)}, {Eye(s.m), T(a)}}, c);
      EXPECT_LT(MaxAbs(xa - wantA), 1e-10 * (1 + MaxAbs(wantA)));
    }
  }
}

TEST(LyapunovKernelTest, ComplexPairsOfBAreSolvedAsColumnPairs) {
  // B's Schur form keeps two 2 x 2 blocks (eigenvalues 1 +- 3i and -2 +- 0.5i).
  const Mat b = Make(4, 4, {1, 3, 0.2, 0, -3, 1, 0, 0.1, 0, 0, -2, 0.5, 0.3, 0, -0.5, -2});
  const Mat a = Random(3, 3, 40), c = Random(3, 4, 41);
  Mat bCopy = b;
  const Mat x = Sylvester(a, &bCopy, c);
  EXPECT_LT(MaxAbs(a * x + x * b + c), 1e-12 * (1 + MaxAbs(x)));
  EXPECT_LT(MaxAbs(x - KroneckerSolve({{a, Eye(4)}, {Eye(3), b}}, c)), 1e-10);
}

TEST(LyapunovKernelTest, DiscreteEquationMatchesTheKroneckerSolve) {
  for (unsigned seed : {50u, 51u, 52u}) {
    Mat a = Random(4, 4, seed);
    for (double& x : a.v) x *= 0.5;
    const Mat c = Random(4, 4, seed + 100);
    Mat x = c, aCopy = a;
    Vec work(LyapunovWorkspaceSize(4, 4));
    ASSERT_TRUE(SolveDiscreteLyapunov(aCopy.v.data(), 4, x.v.data(), work.data()));
    const Mat want = KroneckerSolve({{a, T(a)}, {-1.0 * Eye(4), Eye(4)}}, c);
    EXPECT_LT(MaxAbs(x - want), 1e-10 * (1 + MaxAbs(want)));
    EXPECT_LT(MaxAbs(a * x * T(a) - x + c), 1e-12 * (1 + MaxAbs(x)));
  }
}

// ---------------------------------------------------------------------------
// The natives on a value stack.

using Cx = std::complex<double>;

class RiccatiNativesTest : public StackFixture {
 public:
  RiccatiNativesTest() : StackFixture({.blockCells = 1 << 18}) {}

  int Depth() const { return ctx->descLength / 3; }
  void Push(const Mat& a) {
    double* re = nullptr;
    ASSERT_EQ(PushDoubleMatrix(ctx, a.m, a.n, &re, nullptr), kOk);
    std::copy(a.v.begin(), a.v.end(), re);
  }
  void PushBool(bool b) { ASSERT_EQ(PushLogicalScalar(ctx, b ? 1 : 0), kOk); }

  struct Out {
    Mat re;
    Vec im;  // empty for a real value
  };
  Out Read(int position) {
    Out o;
    double *re = nullptr, *im = nullptr;
    EXPECT_EQ(GetDoubleMatrixArg(ctx, position, &o.re.m, &o.re.n, &re, &im), kOk);
    o.re.v.assign(re, re + o.re.m * o.re.n);
    if (im) o.im.assign(im, im + o.re.m * o.re.n);
    return o;
  }

  // Runs the native on the arguments pushed in order; the outputs, first first.
  std::vector<Out> Call(NativeHandler native, const std::vector<Mat>& args, int nargout, char selector = 0) {
    for (const Mat& a : args) Push(a);
    const int before = Depth();
    const StatusCode st =
        native(ctx, static_cast<int>(args.size()), nargout, reinterpret_cast<void*>(intptr_t{selector}));
    EXPECT_EQ(st, kOk);
    if (st != kOk) {
      Reset();
      return {};
    }
    EXPECT_EQ(Depth(), before - static_cast<int>(args.size()) + nargout);
    std::vector<Out> out;
    for (int k = 0; k < nargout; ++k) out.push_back(Read(k));
    (void)DropArgsUnderResults(ctx, 0, nargout);
    return out;
  }

  StatusCode Fails(NativeHandler native, const std::vector<Mat>& args, int nargout, char selector = 0,
                   int logical = -1) {
    for (const Mat& a : args) Push(a);
    int nargin = static_cast<int>(args.size());
    if (logical >= 0) {
      PushBool(logical != 0);
      ++nargin;
    }
    const StatusCode st = native(ctx, nargin, nargout, reinterpret_cast<void*>(intptr_t{selector}));
    Reset();
    return st;
  }
};

// A stabilisable and detectable system: random A, B of full rank, Q = I.
struct System {
  Mat a, b, q, r;
};
System RandomSystem(int n, int m, unsigned seed) {
  return {Random(n, n, seed), Random(n, m, seed + 1), Eye(n), Eye(m) + Eye(m)};
}

std::vector<Cx> Eigenvalues(const Mat& a) { return testutil::LapackEigenvalues(a.v, a.n); }

std::vector<Cx> AsComplex(const RiccatiNativesTest::Out& o) {
  std::vector<Cx> z;
  for (size_t k = 0; k < o.re.v.size(); ++k) z.emplace_back(o.re.v[k], o.im.empty() ? 0.0 : o.im[k]);
  return z;
}

TEST_F(RiccatiNativesTest, CareSolvesTheEquationAndStabilises) {
  for (unsigned seed : {1u, 2u, 3u}) {
    const System s = RandomSystem(4, 2, seed * 10);
    const Mat sCross = Random(4, 2, seed * 10 + 5);
    for (bool withS : {false, true}) {
      std::vector<Mat> args{s.a, s.b, s.q, s.r};
      if (withS) args.push_back(sCross);
      const Mat q = withS ? s.q + sCross * Inverse(s.r) * T(sCross) : s.q;  // keeps Q - S R^-1 S' = I
      if (withS) args[2] = q;
      const auto out = Call(&RiccatiNative, args, 3, 'c');
      ASSERT_EQ(out.size(), 3u);
      const Mat& x = out[0].re;
      EXPECT_TRUE(out[0].im.empty());
      const Mat xbs = withS ? x * s.b + sCross : x * s.b;
      const Mat residual = T(s.a) * x + x * s.a - xbs * Inverse(s.r) * T(xbs) + q;
      EXPECT_LT(MaxAbs(residual), 1e-10 * (1 + MaxAbs(x))) << seed << " S " << withS;
      const Mat k = out[2].re;
      EXPECT_LT(MaxAbs(k - Inverse(s.r) * T(xbs)), 1e-10 * (1 + MaxAbs(k)));
      const std::vector<Cx> closed = Eigenvalues(s.a - s.b * k);
      EXPECT_LT(testutil::SpectrumDistance(closed, AsComplex(out[1])), 1e-9);
      for (Cx z : closed) EXPECT_LT(z.real(), 0);
    }
  }
}

TEST_F(RiccatiNativesTest, DareSolvesTheEquationWithOneAndSeveralInputs) {
  for (int m : {1, 3}) {
    const System s = RandomSystem(4, m, 70 + m);
    for (bool withR : {false, true}) {
      std::vector<Mat> args{s.a, s.b, s.q};
      if (withR) args.push_back(s.r);
      // Without R the equation is the one with R = I, and so is the gain.
      const Mat r = withR ? s.r : Eye(m);
      const auto out = Call(&RiccatiNative, args, 3, 'd');
      ASSERT_EQ(out.size(), 3u);
      const Mat& x = out[0].re;
      const Mat gainInverse = Inverse(r + T(s.b) * x * s.b);
      const Mat k = gainInverse * T(s.b) * x * s.a;
      const Mat residual = T(s.a) * x * s.a - x - T(s.a) * x * s.b * k + s.q;
      EXPECT_LT(MaxAbs(residual), 1e-9 * (1 + MaxAbs(x))) << "m " << m << " R " << withR;
      EXPECT_LT(MaxAbs(out[2].re - k), 1e-9 * (1 + MaxAbs(k)));
      for (Cx z : Eigenvalues(s.a - s.b * k)) EXPECT_LT(std::abs(z), 1);
    }
  }
}

TEST_F(RiccatiNativesTest, ComplexPairsGiveARealSolutionAndComplexEigenvalues) {
  // A lightly damped oscillator: the Hamiltonian's eigenvalues are two pairs.
  const Mat a = Make(2, 2, {0, 1, -4, -0.1}), b = Make(2, 1, {0, 1});
  const auto out = Call(&RiccatiNative, {a, b, Eye(2)}, 2, 'c');
  ASSERT_EQ(out.size(), 2u);
  EXPECT_TRUE(out[0].im.empty());
  ASSERT_FALSE(out[1].im.empty());
  EXPECT_GT(std::abs(out[1].im[0]), 0.1);
  EXPECT_NEAR(out[1].im[0], -out[1].im[1], 1e-12);
  const Mat& x = out[0].re;
  EXPECT_LT(MaxAbs(T(a) * x + x * a - x * b * T(b) * x + Eye(2)), 1e-11);
}

TEST_F(RiccatiNativesTest, ADecoupledSystemExchangesAcrossAZeroSuperdiagonal) {
  // With Q = 0 and a diagonal A the Hamiltonian is already triangular, with
  // diagonal 1, -2, -1, 2 and zero couplings: the first exchange meets a zero
  // superdiagonal entry. Each channel is scalar: x = 2 for a = 1, x = 0 for
  // the already stable a = -2.
  const Mat a = Make(2, 2, {1, 0, 0, -2});
  const auto out = Call(&RiccatiNative, {a, Eye(2), Zeros(2, 2)}, 2, 'c');
  ASSERT_EQ(out.size(), 2u);
  const Mat& x = out[0].re;
  EXPECT_NEAR(x(0, 0), 2, 1e-14);
  EXPECT_NEAR(x(1, 1), 0, 1e-14);
  EXPECT_NEAR(x(0, 1), 0, 1e-14);
  EXPECT_NEAR(x(1, 0), 0, 1e-14);
  EXPECT_TRUE(out[1].im.empty());
  EXPECT_LT(testutil::SpectrumDistance({-1, -2}, AsComplex(out[1])), 1e-14);
}

TEST_F(RiccatiNativesTest, SystemsWithoutAStabilisingSolutionFail) {
  // An unstable mode that B cannot reach.
  EXPECT_EQ(Fails(&RiccatiNative, {Make(2, 2, {1, 0, 0, -1}), Make(2, 1, {0, 1}), Zeros(2, 2)}, 1, 'c'), 9);
  // A = 0, Q = 0: the Hamiltonian is nilpotent, every key is 0.
  EXPECT_EQ(Fails(&RiccatiNative, {Zeros(2, 2), Make(2, 1, {1, 0}), Zeros(2, 2)}, 1, 'c'), 9);
  EXPECT_EQ(Fails(&RiccatiNative, {Make(2, 2, {2, 0, 0, 0.5}), Make(2, 1, {0, 1}), Zeros(2, 2)}, 1, 'd'), 9);
}

TEST_F(RiccatiNativesTest, ArgumentErrors) {
  const Mat a = Eye(2), b = Make(2, 1, {0, 1});
  EXPECT_EQ(Fails(&RiccatiNative, {a, b, Eye(3)}, 1, 'c'), kIncompSize);
  EXPECT_EQ(Fails(&RiccatiNative, {a, b, Eye(2), Eye(2)}, 1, 'c'), kIncompSize);
  EXPECT_EQ(Fails(&RiccatiNative, {a, b, Eye(2), Eye(1), Zeros(1, 2)}, 1, 'c'), kIncompSize);
  EXPECT_EQ(Fails(&RiccatiNative, {a, b, Eye(2)}, 1, 'c', 1), 26);
  EXPECT_EQ(Fails(&RiccatiNative, {a, Eye(2), Eye(2)}, 3, 'c', 1), kTooManyArgout);
  EXPECT_EQ(Fails(&RiccatiNative, {a, b, Eye(2)}, 1, 'd', 1), 43);
  EXPECT_EQ(Fails(&RiccatiNative, {a, b}, 1, 'c', 1), kWrongType);
}

TEST_F(RiccatiNativesTest, LyapunovNativesLeaveOnlyTheSolution) {
  const Mat a = Random(3, 3, 90) - 3.0 * Eye(3), c = Random(3, 3, 91);
  const auto x = Call(&LyapNative, {a, c}, 1);
  ASSERT_EQ(x.size(), 1u);
  EXPECT_LT(MaxAbs(a * x[0].re + x[0].re * T(a) + c), 1e-12);
  EXPECT_EQ(Fails(&LyapNative, {a, Random(3, 2, 1)}, 1), kIncompSize);
  EXPECT_EQ(Fails(&LyapNative, {a, Eye(2), Random(3, 3, 1)}, 1), kIncompSize);
  EXPECT_EQ(Fails(&DlyapNative, {a, Random(3, 2, 1)}, 1), kBadSize);
  EXPECT_EQ(Fails(&DlyapNative, {Eye(2), Eye(3)}, 1), kBadSize);
  const auto d = Call(&DlyapNative, {Zeros(3, 3), c}, 1);
  ASSERT_EQ(d.size(), 1u);
  EXPECT_LT(MaxAbs(d[0].re - c), 1e-15);
}

}  // namespace
