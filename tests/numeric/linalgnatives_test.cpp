// The linear-algebra natives on an engine's value stack: the factors they
// return satisfy their defining identities (LAPACK's DGESVD gives the
// reference singular values), every call leaves exactly its outputs in place
// of its inputs, and bad arguments give their error codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "numeric/numeric.h"
#include "tests/engine/stack_fixture.h"
#include "tests/numeric/testutil.h"

namespace {

// A matrix row by row with complex elements; `complex` decides how it is pushed.
struct M {
  int m = 0, n = 0;
  std::vector<Cx> v;
  bool complex = false;
  Cx operator()(int i, int j) const { return v[size_t(i) * n + j]; }
  Cx& operator()(int i, int j) { return v[size_t(i) * n + j]; }
};

M Zeros(int m, int n) { return {m, n, std::vector<Cx>(size_t(m) * n), false}; }

M Eye(int n) {
  M e = Zeros(n, n);
  for (int i = 0; i < n; ++i) e(i, i) = 1;
  return e;
}

M Random(int m, int n, bool complex, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> d(-1, 1);
  M a = Zeros(m, n);
  a.complex = complex;
  for (Cx& z : a.v) z = complex ? Cx(d(gen), d(gen)) : Cx(d(gen), 0);
  return a;
}

M Mul(const M& a, const M& b) {
  M c = Zeros(a.m, b.n);
  c.complex = a.complex || b.complex;
  for (int i = 0; i < a.m; ++i)
    for (int j = 0; j < b.n; ++j)
      for (int k = 0; k < a.n; ++k) c(i, j) += a(i, k) * b(k, j);
  return c;
}

M Ct(const M& a) {
  M t = Zeros(a.n, a.m);
  t.complex = a.complex;
  for (int i = 0; i < a.m; ++i)
    for (int j = 0; j < a.n; ++j) t(j, i) = std::conj(a(i, j));
  return t;
}

double Diff(const M& a, const M& b) {
  if (a.m != b.m || a.n != b.n) return INFINITY;
  double d = 0;
  for (size_t k = 0; k < a.v.size(); ++k) d = std::max(d, std::abs(a.v[k] - b.v[k]));
  return d;
}

// A has rank 2: the sum of two outer products.
M RankTwo(int m, int n, bool complex, unsigned seed) {
  const M u = Random(m, 2, complex, seed), w = Random(2, n, complex, seed + 1);
  return Mul(u, w);
}

class LinalgNativesTest : public StackFixture {
 protected:
  LinalgNativesTest() : StackFixture({.blockCells = 1 << 20}) {}

  int Depth() const { return ctx->descLength / 3; }

  void Push(const M& a) {
    double *re = nullptr, *im = nullptr;
    ASSERT_EQ(PushDoubleMatrix(ctx, a.m, a.n, &re, a.complex ? &im : nullptr), kOk);
    for (size_t k = 0; k < a.v.size(); ++k) {
      re[k] = a.v[k].real();
      if (im) im[k] = a.v[k].imag();
    }
  }
  void PushScalar(double x) { ASSERT_EQ(PushRealScalar(ctx, x), kOk); }
  void PushText(const char* s) { ASSERT_EQ(PushStringFromBytes(ctx, -1, s), kOk); }

  M Read(int position) {
    M a;
    double *re = nullptr, *im = nullptr;
    EXPECT_EQ(GetDoubleMatrixArg(ctx, position, &a.m, &a.n, &re, &im), kOk);
    a.complex = im != nullptr;
    a.v.resize(size_t(a.m) * a.n);
    for (size_t k = 0; k < a.v.size(); ++k) a.v[k] = Cx(re[k], im ? im[k] : 0);
    return a;
  }

  // Calls a native on the top nargin values and returns its outputs, first
  // first, after checking that they replaced exactly the inputs.
  std::vector<M> Call(NativeHandler native, int nargin, int nargout) {
    const int before = Depth();
    const StatusCode st = native(ctx, nargin, nargout, nullptr);
    EXPECT_EQ(st, kOk);
    if (st != kOk) return {};
    EXPECT_EQ(Depth(), before - nargin + nargout);
    std::vector<M> out;
    for (int k = 0; k < nargout; ++k) out.push_back(Read(k));
    (void)DropArgsUnderResults(ctx, 0, nargout);
    return out;
  }

  StatusCode Fails(NativeHandler native, int nargin, int nargout) {
    const StatusCode st = native(ctx, nargin, nargout, nullptr);
    // The unwinding of the engine clears the rest; a test starts over.
    Reset();
    return st;
  }
};

struct Shape {
  int m, n;
  bool complex;
};
const Shape kShapes[] = {{4, 3, false}, {3, 4, false}, {4, 4, false}, {1, 5, false}, {5, 1, false},
                         {4, 3, true},  {3, 4, true},  {3, 3, true},  {2, 5, true}};

std::vector<double> LapackValues(const M& a) {
  // The row-major array read column-major is A': the same singular values.
  int m = a.n, n = a.m, lwork = -1, info = 0, one = 1;
  std::vector<double> s(std::min(m, n));
  if (!a.complex) {
    std::vector<double> x;
    for (const Cx& z : a.v) x.push_back(z.real());
    double size = 0;
    dgesvd_("N", "N", &m, &n, x.data(), &m, s.data(), nullptr, &one, nullptr, &one, &size, &lwork, &info, 1, 1);
    lwork = static_cast<int>(size);
    std::vector<double> work(lwork);
    dgesvd_("N", "N", &m, &n, x.data(), &m, s.data(), nullptr, &one, nullptr, &one, work.data(), &lwork, &info, 1, 1);
  } else {
    std::vector<Cx> x;
    for (const Cx& z : a.v) x.push_back(std::conj(z));
    Cx size = 0;
    std::vector<double> rwork(5 * std::min(m, n));
    zgesvd_("N", "N", &m, &n, x.data(), &m, s.data(), nullptr, &one, nullptr, &one, &size, &lwork, rwork.data(), &info,
            1, 1);
    lwork = static_cast<int>(size.real());
    std::vector<Cx> work(lwork);
    zgesvd_("N", "N", &m, &n, x.data(), &m, s.data(), nullptr, &one, nullptr, &one, work.data(), &lwork, rwork.data(),
            &info, 1, 1);
  }
  EXPECT_EQ(info, 0);
  return s;
}

TEST_F(LinalgNativesTest, SvdFactorsReproduceTheMatrix) {
  unsigned seed = 1;
  for (const Shape& sh : kShapes) {
    for (bool economy : {false, true}) {
      const M a = Random(sh.m, sh.n, sh.complex, seed++);
      const int k = std::min(sh.m, sh.n);
      Push(a);
      if (economy) PushScalar(0);
      const auto f = Call(&SvdNative, economy ? 2 : 1, 3);
      ASSERT_EQ(f.size(), 3u);
      const M &u = f[0], &s = f[1], &v = f[2];
      const int ku = economy ? k : sh.m, kv = economy ? k : sh.n;
      EXPECT_EQ(u.m, sh.m);
      EXPECT_EQ(u.n, ku);
      EXPECT_EQ(s.m, ku);
      EXPECT_EQ(s.n, kv);
      EXPECT_EQ(v.n, kv);
      EXPECT_LT(Diff(Mul(Mul(u, s), Ct(v)), a), 1e-13) << sh.m << "x" << sh.n << " economy " << economy;
      EXPECT_LT(Diff(Mul(Ct(u), u), Eye(ku)), 1e-13);
      EXPECT_LT(Diff(Mul(Ct(v), v), Eye(kv)), 1e-13);
      const std::vector<double> want = LapackValues(a);
      for (int i = 0; i < k; ++i) EXPECT_NEAR(s(i, i).real(), want[i], 1e-13);

      Push(a);
      const M values = Call(&SvdNative, 1, 1)[0];
      ASSERT_EQ(values.m, k);
      for (int i = 0; i < k; ++i) EXPECT_NEAR(values.v[i].real(), want[i], 1e-13);
    }
  }
}

TEST_F(LinalgNativesTest, SvdOfRankDeficientAndEmptyMatrices) {
  for (const M& a : {RankTwo(4, 3, false, 5), RankTwo(3, 5, false, 6), Zeros(2, 3), RankTwo(3, 4, true, 7)}) {
    Push(a);
    const auto f = Call(&SvdNative, 1, 3);
    EXPECT_LT(Diff(Mul(Mul(f[0], f[1]), Ct(f[2])), a), 1e-13);
    EXPECT_LT(Diff(Mul(Ct(f[0]), f[0]), Eye(a.m)), 1e-13) << a.m << "x" << a.n;
    EXPECT_LT(Diff(Mul(Ct(f[2]), f[2]), Eye(a.n)), 1e-13) << a.m << "x" << a.n;
  }
  Push(Zeros(0, 0));
  const auto f = Call(&SvdNative, 1, 3);
  for (const M& x : f) EXPECT_EQ(x.v.size(), 0u);
}

TEST_F(LinalgNativesTest, SvdRefusesTwoOutputsAndEconomyWithOne) {
  Push(Eye(2));
  EXPECT_EQ(Fails(&SvdNative, 1, 2), kTooFewArgout);
  Push(Eye(2));
  PushScalar(0);
  EXPECT_EQ(Fails(&SvdNative, 2, 1), kTooFewArgout);
}

TEST_F(LinalgNativesTest, PinvSatisfiesThePenroseIdentities) {
  unsigned seed = 20;
  std::vector<M> cases;
  for (const Shape& sh : kShapes) cases.push_back(Random(sh.m, sh.n, sh.complex, seed++));
  cases.push_back(RankTwo(5, 4, false, 30));
  cases.push_back(RankTwo(3, 6, true, 31));
  for (const M& a : cases) {
    Push(a);
    const M p = Call(&PinvNative, 1, 1)[0];
    ASSERT_EQ(p.m, a.n);
    ASSERT_EQ(p.n, a.m);
    const M ap = Mul(a, p), pa = Mul(p, a);
    EXPECT_LT(Diff(Mul(ap, a), a), 1e-12) << a.m << "x" << a.n;
    EXPECT_LT(Diff(Mul(pa, p), p), 1e-12);
    EXPECT_LT(Diff(Ct(ap), ap), 1e-12);
    EXPECT_LT(Diff(Ct(pa), pa), 1e-12);
  }
}

TEST_F(LinalgNativesTest, NullSpaceAndRange) {
  for (const M& a : {RankTwo(4, 5, false, 40), RankTwo(5, 3, false, 41), RankTwo(3, 4, true, 42), Eye(3)}) {
    Push(a);
    const M r = Call(&RankNative, 1, 1)[0];
    const int rank = static_cast<int>(r.v[0].real());
    EXPECT_EQ(rank, a.m == 3 && a.n == 3 && !a.complex ? 3 : 2);
    Push(a);
    const M z = Call(&NullNative, 1, 1)[0];
    const int nullity = z.v.empty() ? 0 : z.n;
    EXPECT_EQ(rank + nullity, a.n);
    if (nullity > 0) {
      EXPECT_LT(Diff(Mul(a, z), Zeros(a.m, nullity)), 1e-13);
      EXPECT_LT(Diff(Mul(Ct(z), z), Eye(nullity)), 1e-13);
    }
    Push(a);
    const M q = Call(&OrthNative, 1, 1)[0];
    ASSERT_EQ(q.n, rank);
    EXPECT_LT(Diff(Mul(Ct(q), q), Eye(rank)), 1e-13);
    // The range of A is the range of Q: Q Q' A = A.
    EXPECT_LT(Diff(Mul(Mul(q, Ct(q)), a), a), 1e-12);
  }
}

TEST_F(LinalgNativesTest, NormIdentitiesAndOptions) {
  auto norm = [&](const M& a, const char* option, double p) {
    Push(a);
    if (option)
      PushText(option);
    else if (!std::isnan(p))
      PushScalar(p);
    return Call(&NormNative, option || !std::isnan(p) ? 2 : 1, 1)[0].v[0].real();
  };
  const double none = NAN;
  for (const Shape& sh : kShapes) {
    const M a = Random(sh.m, sh.n, sh.complex, 60 + sh.m * 7 + sh.n);
    // Matrix norms: the largest column sum is the largest row sum of A'.
    if (a.m > 1 && a.n > 1) {
      EXPECT_NEAR(norm(a, nullptr, 1), norm(Ct(a), "inf", none), 1e-14);
    }
    double trace = 0;
    const M g = Mul(Ct(a), a);
    for (int i = 0; i < a.n; ++i) trace += g(i, i).real();
    EXPECT_NEAR(std::pow(norm(a, "fro", none), 2), trace, 1e-13);
    EXPECT_NEAR(norm(a, nullptr, none), LapackValues(a)[0], 1e-14);
  }
  struct Case {
    M x;
    const char* option;
    double p, want;
  };
  const M row{1, 2, {3, 4}, false}, signs{1, 2, {3, -4}, false}, square{2, 2, {1, 2, 3, 4}, false};
  const M complexRow{1, 2, {Cx(0, 3), Cx(4, 0)}, true};
  const Case kCases[] = {
      {row, nullptr, none, 5},
      {row, nullptr, 1, 7},
      {signs, "inf", none, 4},
      {row, nullptr, -INFINITY, 3},
      {complexRow, nullptr, -INFINITY, 3},
      {row, nullptr, 3, std::cbrt(91.0)},
      {square, nullptr, 1, 6},
      {square, "inf", none, 7},
      {square, nullptr, INFINITY, 7},
  };
  for (const Case& c : kCases) EXPECT_NEAR(norm(c.x, c.option, c.p), c.want, 1e-14) << c.want;
  EXPECT_TRUE(std::isnan(norm(Zeros(0, 0), nullptr, none)));

  Push(square);
  PushScalar(3);
  EXPECT_EQ(Fails(&NormNative, 2, 1), kUnknownOpt);
  Push(row);
  PushText("Inf");
  EXPECT_EQ(Fails(&NormNative, 2, 1), kUnknownOpt);
}

TEST_F(LinalgNativesTest, LuFactorsWithThePermutation) {
  const M part{2, 2, {1, 2, 3, 4}, false};
  Push(part);
  auto f = Call(&LuNative, 1, 3);
  EXPECT_LT(Diff(f[0], M{2, 2, {1, 0, 1.0 / 3, 1}}), 1e-15);
  EXPECT_LT(Diff(f[1], M{2, 2, {3, 4, 0, 2.0 / 3}}), 1e-15);
  EXPECT_EQ(Diff(f[2], M{2, 2, {0, 1, 1, 0}}), 0);
  Push(part);
  f = Call(&LuNative, 1, 2);
  EXPECT_LT(Diff(f[0], M{2, 2, {1.0 / 3, 1, 1, 0}}), 1e-15);

  unsigned seed = 70;
  for (const Shape& sh : kShapes) {
    const M a = Random(sh.m, sh.n, sh.complex, seed++);
    const int k = std::min(sh.m, sh.n);
    Push(a);
    f = Call(&LuNative, 1, 3);
    ASSERT_EQ(f[0].m, sh.m);
    ASSERT_EQ(f[0].n, k);
    ASSERT_EQ(f[1].m, k);
    ASSERT_EQ(f[1].n, sh.n);
    ASSERT_EQ(f[2].m, sh.m);
    EXPECT_LT(Diff(Mul(f[2], a), Mul(f[0], f[1])), 1e-14) << sh.m << "x" << sh.n;
    for (int i = 0; i < k; ++i)
      for (int j = 0; j < i; ++j) EXPECT_EQ(f[1](i, j), Cx(0));
    Push(a);
    f = Call(&LuNative, 1, 2);
    EXPECT_LT(Diff(a, Mul(f[0], f[1])), 1e-14);
  }
}

TEST_F(LinalgNativesTest, QrWithPivotingAndEconomySize) {
  unsigned seed = 90;
  for (const Shape& sh : kShapes) {
    for (bool economy : {false, true}) {
      const M a = Random(sh.m, sh.n, sh.complex, seed++);
      Push(a);
      if (economy) PushScalar(0);
      auto f = Call(&QrNative, economy ? 2 : 1, 3);
      const M &q = f[0], &r = f[1];
      M e = f[2];
      const bool thin = economy && sh.n < sh.m;
      EXPECT_EQ(q.n, thin ? sh.n : sh.m);
      EXPECT_EQ(r.m, thin ? sh.n : sh.m);
      if (economy) {
        // Column numbers from 1: build the permutation matrix.
        ASSERT_EQ(e.m, 1);
        M full = Zeros(sh.n, sh.n);
        for (int j = 0; j < sh.n; ++j) full(static_cast<int>(e.v[j].real()) - 1, j) = 1;
        e = full;
      }
      EXPECT_LT(Diff(Mul(a, e), Mul(q, r)), 1e-14) << sh.m << "x" << sh.n << " economy " << economy;
      EXPECT_LT(Diff(Mul(Ct(q), q), Eye(q.n)), 1e-14);
      for (int i = 1; i < std::min(r.m, r.n); ++i) EXPECT_LE(std::abs(r(i, i)), std::abs(r(i - 1, i - 1)) + 1e-14);

      Push(a);
      if (economy) PushScalar(0);
      const M r1 = Call(&QrNative, economy ? 2 : 1, 1)[0];
      EXPECT_EQ(r1.m, thin ? sh.n : sh.m);
      Push(a);
      if (economy) PushScalar(0);
      f = Call(&QrNative, economy ? 2 : 1, 2);
      EXPECT_LT(Diff(a, Mul(f[0], f[1])), 1e-14);
      EXPECT_LT(Diff(r1, f[1]), 1e-15);
    }
  }
}

TEST_F(LinalgNativesTest, CholeskyOfPositiveDefiniteMatrices) {
  for (bool complex : {false, true}) {
    const M b = Random(4, 4, complex, complex ? 100 : 101);
    M a = Mul(Ct(b), b);
    for (int i = 0; i < 4; ++i) a(i, i) += 1;
    a.complex = complex;
    Push(a);
    const M r = Call(&CholNative, 1, 1)[0];
    EXPECT_LT(Diff(Mul(Ct(r), r), a), 1e-13);
  }
  Push(M{2, 2, {1, 2, 2, 1}, false});
  EXPECT_EQ(Fails(&CholNative, 1, 1), kBadArg);
  Push(Zeros(2, 3));
  EXPECT_EQ(Fails(&CholNative, 1, 1), 26);
}

TEST_F(LinalgNativesTest, HouseholderReflectorsMapOntoTheFirstAxis) {
  for (bool complex : {false, true}) {
    for (int m : {1, 3, 6}) {
      const M x = Random(m, 1, complex, 110 + m);
      Push(x);
      const auto f = Call(&HouseholderNative, 1, 2);
      const M& u = f[0];
      const double beta = f[1].v[0].real();
      M h = Eye(m);
      const M uu = Mul(u, Ct(u));
      for (size_t k = 0; k < h.v.size(); ++k) h.v[k] -= beta * uu.v[k];
      const M hx = Mul(h, x);
      double norm = 0;
      for (const Cx& z : x.v) norm += std::norm(z);
      // -sign(x1) ||x||, the sign of a complex x1 being x1 / |x1|.
      const Cx want = -(x.v[0] / std::abs(x.v[0])) * std::sqrt(norm);
      EXPECT_NEAR(std::abs(hx.v[0] - want), 0, 1e-14) << m << " complex " << complex;
      for (int i = 1; i < m; ++i) EXPECT_NEAR(std::abs(hx.v[i]), 0, 1e-14);

      // Applied from the left to [x, A] and from the right to its transpose.
      const M a = Random(m, 2, false, 120 + m);
      Push(a);
      Push(u);
      PushScalar(beta);
      const M left = Call(&HouseholderApplyNative, 3, 1)[0];
      EXPECT_LT(Diff(left, Mul(h, a)), 1e-14);
      Push(Ct(a));
      Push(u);
      PushScalar(beta);
      PushText("right");
      const M right = Call(&HouseholderApplyNative, 4, 1)[0];
      EXPECT_LT(Diff(right, Mul(Ct(a), h)), 1e-14);
      EXPECT_EQ(right.complex, complex);
    }
  }
  Push(M{1, 2, {1, 2}, false});
  EXPECT_EQ(Fails(&HouseholderNative, 1, 1), 23);
  Push(Eye(2));
  Push(M{2, 1, {1, 0}, false});
  PushScalar(1);
  PushText("x");
  EXPECT_EQ(Fails(&HouseholderApplyNative, 4, 1), kUnknownOpt);
  Push(Eye(2));
  Push(M{3, 1, {1, 0, 0}, false});
  PushScalar(1);
  EXPECT_EQ(Fails(&HouseholderApplyNative, 3, 1), kIncompSize);
}

TEST_F(LinalgNativesTest, LinprogMinimisesAndKeepsItsArguments) {
  // min -3x - 5y: the textbook problem.
  Push(M{1, 2, {-3, -5}, false});
  Push(M{3, 2, {1, 0, 0, 2, 3, 2}, false});
  Push(M{3, 1, {4, 12, 18}, false});
  Push(M{2, 1, {0, 0}, false});
  const M x = Call(&LinprogNative, 4, 1)[0];
  EXPECT_LT(Diff(x, M{2, 1, {2, 6}}), 1e-12);

  Push(M{2, 1, {1, 1}, false});  // a column c
  Push(Zeros(0, 0));
  Push(Zeros(0, 0));
  EXPECT_EQ(Fails(&LinprogNative, 3, 1), kIncompSize);
}

// ---------------------------------------------------------------------------
// Eigenvalues and eigenvectors.

// LAPACK's spectrum of A (the row-major array read column-major is A', whose
// eigenvalues are A's).
std::vector<Cx> LapackEigenvalues(const M& a) {
  const int n = a.n;
  int info = 0, one = 1, lwork = 8 * n;
  std::vector<Cx> out(n);
  if (!a.complex) {
    std::vector<double> x, wr(n), wi(n), work(lwork);
    for (const Cx& z : a.v) x.push_back(z.real());
    dgeev_("N", "N", &n, x.data(), &n, wr.data(), wi.data(), nullptr, &one, nullptr, &one, work.data(), &lwork, &info,
           1, 1);
    for (int i = 0; i < n; ++i) out[i] = Cx(wr[i], wi[i]);
  } else {
    std::vector<Cx> x(a.v), work(lwork);
    std::vector<double> rwork(2 * n);
    zgeev_("N", "N", &n, x.data(), &n, out.data(), nullptr, &one, nullptr, &one, work.data(), &lwork, rwork.data(),
           &info, 1, 1);
  }
  EXPECT_EQ(info, 0);
  return out;
}

// The largest distance between the two spectra, each value matched to the
// nearest one not matched yet.
double SpectrumGap(std::vector<Cx> got, std::vector<Cx> want) {
  if (got.size() != want.size()) return INFINITY;
  double gap = 0;
  for (const Cx& z : got) {
    auto best = std::min_element(want.begin(), want.end(),
                                 [&](const Cx& p, const Cx& q) { return std::abs(p - z) < std::abs(q - z); });
    gap = std::max(gap, std::abs(*best - z));
    want.erase(best);
  }
  return gap;
}

M Symmetric(int n, unsigned seed) {
  const M r = Random(n, n, false, seed);
  M s = Zeros(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) s(i, j) = r(i, j) + r(j, i);
  return s;
}

M Scaled(M a, double k) {
  for (Cx& z : a.v) z *= k;
  return a;
}

double MaxAbs(const M& a) {
  double m = 0;
  for (const Cx& z : a.v) m = std::max(m, std::abs(z));
  return m;
}

TEST_F(LinalgNativesTest, EigenvectorsSatisfyAVEqualsVD) {
  const M jordan3 = M{3, 3, {2, 1, 0, 0, 2, 1, 0, 0, 2}, false};
  const M tiny = Scaled(M{2, 2, {1, 1, 0, 2}, false}, 1e-20);
  for (const M& a : {Random(6, 6, false, 60), Random(7, 7, false, 61), Random(5, 5, true, 62), Symmetric(6, 63),
                     M{2, 2, {1, 1, 0, 1}, false}, jordan3, tiny, Scaled(Random(4, 4, false, 64), 1e-20), Eye(3)}) {
    Push(a);
    const auto vd = Call(&EigNative, 1, 2);
    ASSERT_EQ(vd.size(), 2u);
    const M &v = vd[0], &d = vd[1];
    const double scale = MaxAbs(a);
    EXPECT_LT(Diff(Mul(a, v), Mul(v, d)), 1e-13 * scale) << a.n << " " << a.v[0];
    for (int j = 0; j < a.n; ++j) {
      double norm = 0;
      for (int i = 0; i < a.n; ++i) norm += std::norm(v(i, j));
      EXPECT_NEAR(norm, 1, 1e-13) << "column " << j;
      for (int i = 0; i < a.n; ++i) {
        EXPECT_TRUE(i == j || d(i, j) == Cx(0)) << "D is diagonal";
      }
    }
    std::vector<Cx> diag;
    for (int i = 0; i < a.n; ++i) diag.push_back(d(i, i));
    const std::vector<Cx> want = LapackEigenvalues(a);
    EXPECT_LT(SpectrumGap(diag, want), 1e-12 * scale);
    Push(a);
    const M e = Call(&EigNative, 1, 1)[0];
    ASSERT_EQ(e.n, 1);
    EXPECT_LT(SpectrumGap(e.v, want), 1e-12 * scale);
  }
}

TEST_F(LinalgNativesTest, EigOfDefectiveAndTinyMatrices) {
  // A Jordan block has one eigenvector: both columns are it.
  Push(M{2, 2, {1, 1, 0, 1}, false});
  auto vd = Call(&EigNative, 1, 2);
  EXPECT_FALSE(vd[0].complex);
  for (int j = 0; j < 2; ++j) {
    EXPECT_NEAR(std::abs(vd[0](0, j)), 1, 1e-15);
    EXPECT_EQ(vd[0](1, j), Cx(0));
  }
  // Distinct eigenvalues of a tiny matrix stay apart: the second vector is
  // (1, 1)/sqrt(2), not a repeat of the first.
  Push(Scaled(M{2, 2, {1, 1, 0, 2}, false}, 1e-20));
  vd = Call(&EigNative, 1, 2);
  EXPECT_NEAR(std::abs(vd[0](0, 1)), std::sqrt(0.5), 1e-15);
  EXPECT_NEAR(std::abs(vd[0](1, 1)), std::sqrt(0.5), 1e-15);
  EXPECT_EQ(vd[1](0, 0), Cx(1e-20));
  EXPECT_EQ(vd[1](1, 1), Cx(2e-20));
}

TEST_F(LinalgNativesTest, EigOrdersAndTypes) {
  // Two outputs on a general matrix sort; real eigenvalues stay real.
  Push(M{3, 3, {5, 1, 0, 0, -2, 1, 0, 0, 3}, false});
  auto vd = Call(&EigNative, 1, 2);
  EXPECT_FALSE(vd[1].complex);
  EXPECT_EQ(vd[1](0, 0), Cx(-2));
  EXPECT_EQ(vd[1](1, 1), Cx(3));
  EXPECT_EQ(vd[1](2, 2), Cx(5));
  // A rotation: +-i, sorted by imaginary part; V complex.
  Push(M{2, 2, {0, 1, -1, 0}, false});
  vd = Call(&EigNative, 1, 2);
  EXPECT_TRUE(vd[0].complex);
  EXPECT_LT(std::abs(vd[1](0, 0) - Cx(0, -1)), 1e-15);
  EXPECT_LT(std::abs(vd[1](1, 1) - Cx(0, 1)), 1e-15);
  Push(M{2, 2, {0, 1, -1, 0}, false});
  EXPECT_TRUE(Call(&EigNative, 1, 1)[0].complex);
  // The empty matrix: empty results.
  Push(Zeros(0, 0));
  vd = Call(&EigNative, 1, 2);
  EXPECT_TRUE(vd[0].v.empty() && vd[1].v.empty());

  Push(M{2, 3, std::vector<Cx>(6), false});
  EXPECT_EQ(Fails(&EigNative, 1, 1), 26);
}

}  // namespace
