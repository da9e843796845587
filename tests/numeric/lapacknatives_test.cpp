// The LAPACK-backed solves and factorisations on an engine's value stack:
// seeded real and complex matrices (square, rectangular, rank-deficient)
// satisfy the defining identities, every call leaves exactly its outputs in
// place of its inputs, a lack of room leaves the stack as it was, and LAPACK's
// illegal-argument report becomes a status instead of output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "numeric/lapack.h"
#include "numeric/numeric.h"
#include "tests/engine/stack_fixture.h"

namespace {

using Cx = std::complex<double>;

struct M {
  int m = 0, n = 0;
  std::vector<Cx> v;
  bool complex = false;
  Cx operator()(int i, int j) const { return v[size_t(i) * n + j]; }
  Cx& operator()(int i, int j) { return v[size_t(i) * n + j]; }
};

M Zeros(int m, int n, bool complex = false) { return {m, n, std::vector<Cx>(size_t(m) * n), complex}; }

M Eye(int n) {
  M e = Zeros(n, n);
  for (int i = 0; i < n; ++i) e(i, i) = 1;
  return e;
}

M Random(int m, int n, bool complex, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> d(-1, 1);
  M a = Zeros(m, n, complex);
  for (Cx& z : a.v) z = complex ? Cx(d(gen), d(gen)) : Cx(d(gen), 0);
  return a;
}

M Mul(const M& a, const M& b) {
  M c = Zeros(a.m, b.n, a.complex || b.complex);
  for (int i = 0; i < a.m; ++i)
    for (int j = 0; j < b.n; ++j)
      for (int k = 0; k < a.n; ++k) c(i, j) += a(i, k) * b(k, j);
  return c;
}

M Ct(const M& a) {
  M t = Zeros(a.n, a.m, a.complex);
  for (int i = 0; i < a.m; ++i)
    for (int j = 0; j < a.n; ++j) t(j, i) = std::conj(a(i, j));
  return t;
}

M Sub(const M& a, const M& b) {
  M c = a;
  for (size_t k = 0; k < c.v.size(); ++k) c.v[k] -= b.v[k];
  return c;
}

double MaxAbs(const M& a) {
  double d = 0;
  for (const Cx& z : a.v) d = std::max(d, std::abs(z));
  return d;
}

double Norm1(const M& a) {
  double best = 0;
  for (int j = 0; j < a.n; ++j) {
    double s = 0;
    for (int i = 0; i < a.m; ++i) s += std::abs(a(i, j));
    best = std::max(best, s);
  }
  return best;
}

// Rank two: the sum of two outer products.
M RankTwo(int m, int n, bool complex, unsigned seed) {
  return Mul(Random(m, 2, complex, seed), Random(2, n, complex, seed + 1));
}

class LapackNativesTest : public StackFixture {
 protected:
  LapackNativesTest() : StackFixture({.blockCells = 1 << 20}) {}

  int Depth() const { return ctx->descLength / 3; }

  void Push(const M& a) {
    double *re = nullptr, *im = nullptr;
    ASSERT_EQ(PushDoubleMatrix(ctx, a.m, a.n, &re, a.complex ? &im : nullptr), kOk);
    for (size_t k = 0; k < a.v.size(); ++k) {
      re[k] = a.v[k].real();
      if (im) im[k] = a.v[k].imag();
    }
  }

  M Read(int position) {
    M a;
    double *re = nullptr, *im = nullptr;
    EXPECT_EQ(GetDoubleMatrixArg(ctx, position, &a.m, &a.n, &re, &im), kOk);
    a.complex = im != nullptr;
    a.v.resize(size_t(a.m) * a.n);
    for (size_t k = 0; k < a.v.size(); ++k) a.v[k] = Cx(re[k], im ? im[k] : 0);
    return a;
  }

  // Calls a native on the arguments and returns its outputs, first first,
  // after checking that they replaced exactly the inputs.
  std::vector<M> Call(NativeHandler native, const std::vector<M>& args, int nargout) {
    for (const M& a : args) Push(a);
    const int before = Depth();
    const StatusCode st = native(ctx, int(args.size()), nargout, nullptr);
    EXPECT_EQ(st, kOk);
    if (st != kOk) {
      Reset();
      return {};
    }
    const int outputs = std::max(nargout, 1);
    EXPECT_EQ(Depth(), before - int(args.size()) + outputs);
    std::vector<M> out;
    for (int k = 0; k < outputs; ++k) out.push_back(Read(k));
    (void)DropArgsUnderResults(ctx, 0, outputs);
    return out;
  }
  M Call1(NativeHandler native, const std::vector<M>& args) {
    std::vector<M> out = Call(native, args, 1);
    return out.empty() ? M{} : out[0];
  }

  StatusCode Fails(NativeHandler native, const std::vector<M>& args, int nargout = 1) {
    for (const M& a : args) Push(a);
    const StatusCode st = native(ctx, int(args.size()), nargout, nullptr);
    Reset();
    return st;
  }
};

struct Shape {
  int m, n;
  bool complex;
};
const Shape kSquare[] = {{1, 1, false}, {4, 4, false}, {7, 7, false}, {3, 3, true}, {6, 6, true}};
const Shape kRectangular[] = {{5, 3, false}, {3, 5, false}, {6, 2, true}, {2, 6, true}, {1, 4, false}};

TEST_F(LapackNativesTest, SquareSolvesLeaveSmallResiduals) {
  unsigned seed = 1;
  for (const Shape& s : kSquare)
    for (bool complexB : {false, true}) {
      const M a = Random(s.m, s.n, s.complex, seed++), b = Random(s.n, 3, complexB, seed++);
      const M x = Call1(&HandleLapackMldivide, {a, b});
      EXPECT_EQ(x.complex, s.complex || complexB);
      EXPECT_LT(MaxAbs(Sub(Mul(a, x), b)), 1e-12) << s.m << " " << s.complex << complexB;
      // B/A with B of three rows: X·A = B.
      const M c = Random(3, s.n, complexB, seed++);
      const M y = Call1(&HandleLapackMrdivide, {c, a});
      EXPECT_EQ(y.complex, s.complex || complexB);
      EXPECT_LT(MaxAbs(Sub(Mul(y, a), c)), 1e-12) << s.m << " " << s.complex << complexB;
    }
}

// The minimum-norm least-squares solution is P·B with P the Moore-Penrose
// inverse, checked by its defining identities; so with a rank-deficient A.
TEST_F(LapackNativesTest, LeastSquaresGiveTheMinimumNormSolution) {
  unsigned seed = 100;
  for (const Shape& s : kRectangular)
    for (bool deficient : {false, true}) {
      const M a = deficient ? RankTwo(s.m, s.n, s.complex, seed) : Random(s.m, s.n, s.complex, seed);
      ++seed;
      const M b = Random(s.m, 2, false, seed++);
      const M x = Call1(&HandleLapackMldivide, {a, b});
      ASSERT_EQ(x.m, s.n);
      ASSERT_EQ(x.n, 2);
      EXPECT_LT(MaxAbs(Mul(Ct(a), Sub(Mul(a, x), b))), 1e-10) << s.m << "x" << s.n;
      const M p = Call1(&HandleLapackPinv, {a});
      ASSERT_EQ(p.m, s.n);
      ASSERT_EQ(p.n, s.m);
      // Moore-Penrose: A·P·A = A and P·A·P = P; the solution is P·B.
      EXPECT_LT(MaxAbs(Sub(Mul(Mul(a, p), a), a)), 1e-10) << s.m << "x" << s.n;
      EXPECT_LT(MaxAbs(Sub(Mul(Mul(p, a), p), p)), 1e-9) << s.m << "x" << s.n;
      EXPECT_LT(MaxAbs(Sub(x, Mul(p, b))), 1e-9) << s.m << "x" << s.n << " deficient " << deficient;
      // B/A on the transposed problem gives the transposed solution.
      const M y = Call1(&HandleLapackMrdivide, {Ct(b), Ct(a)});
      EXPECT_LT(MaxAbs(Sub(y, Ct(x))), 1e-9) << s.m << "x" << s.n;
    }
}

TEST_F(LapackNativesTest, PinvDropsExactlyTheValuesAtOrBelowTheTolerance) {
  M d = Zeros(3, 3);
  d(0, 0) = 4;
  d(1, 1) = 1;
  d(2, 2) = 1e-3;
  struct Case {
    double tol;
    double want[3];
  };
  // RCOND is relative to s1 = 4: a value equal to tol·s1 goes (1 at 0.25,
  // 1e-3 at 2.5e-4); a negative tolerance is 3·2^-52·s1.
  const Case kCases[] = {{0.25, {0.25, 0, 0}},
                         {0.2, {0.25, 1, 0}},
                         {2.5e-4, {0.25, 1, 0}},
                         {2.4e-4, {0.25, 1, 1e3}},
                         {-1, {0.25, 1, 1e3}}};
  for (const Case& c : kCases) {
    M tol = Zeros(1, 1);
    tol(0, 0) = c.tol;
    const M p = Call1(&HandleLapackPinv, {d, tol});
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(p(i, i).real(), c.want[i], 1e-9 * c.want[i]) << c.tol << " " << i;
  }
  // The default drops a value below max(m, n)·2^-52·s1 and keeps one above it.
  M tiny = Zeros(2, 2);
  tiny(0, 0) = 1;
  tiny(1, 1) = 3e-16;
  EXPECT_EQ(Call1(&HandleLapackPinv, {tiny})(1, 1), Cx(0));
  tiny(1, 1) = 5e-16;
  EXPECT_NEAR(Call1(&HandleLapackPinv, {tiny})(1, 1).real(), 2e15, 1e3);
}

TEST_F(LapackNativesTest, FactorisationsSatisfyTheirIdentities) {
  unsigned seed = 200;
  for (const Shape& s : kSquare) {
    const M a = Random(s.m, s.n, s.complex, seed++);
    const int n = s.n;
    // lu: P·A = L·U with L unit lower, U upper; A = L'·U with L' = Pᵀ·L.
    const std::vector<M> lup = Call(&HandleLapackLu, {a}, 3);
    ASSERT_EQ(lup.size(), 3u);
    const M &l = lup[0], &u = lup[1], &p = lup[2];
    EXPECT_FALSE(p.complex);
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(l(i, i), Cx(1));
      for (int j = i + 1; j < n; ++j) EXPECT_EQ(l(i, j), Cx(0));
      for (int j = 0; j < i; ++j) EXPECT_EQ(u(i, j), Cx(0));
    }
    EXPECT_LT(MaxAbs(Sub(Mul(p, a), Mul(l, u))), 1e-13) << n << s.complex;
    const std::vector<M> lu2 = Call(&HandleLapackLu, {a}, 2);
    ASSERT_EQ(lu2.size(), 2u);
    EXPECT_LT(MaxAbs(Sub(a, Mul(lu2[0], lu2[1]))), 1e-13);
    // One output: U on and above the diagonal, the multipliers below.
    const M y = Call1(&HandleLapackLu, {a});
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) EXPECT_EQ(y(i, j), j >= i ? u(i, j) : l(i, j));
    // det is the product of U's diagonal, negated for an odd permutation.
    Cx det = 1;
    for (int i = 0; i < n; ++i) det *= u(i, i);
    int sign = 1;
    std::vector<int> perm(n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        if (p(i, j) == Cx(1)) perm[i] = j;
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j)
        if (perm[i] > perm[j]) sign = -sign;
    const M d = Call1(&HandleLapackDet, {a});
    EXPECT_EQ(d.complex, s.complex);
    EXPECT_LT(std::abs(d(0, 0) - double(sign) * det), 1e-13 * std::max(1.0, std::abs(det)));
    // inv: A·inv(A) = I; rcond within a factor 3 of 1/(‖A‖₁‖A⁻¹‖₁), never below it.
    const M ai = Call1(&HandleLapackInv, {a});
    EXPECT_LT(MaxAbs(Sub(Mul(a, ai), Eye(n))), 1e-11);
    const double exact = 1 / (Norm1(a) * Norm1(ai));
    const double rc = Call1(&HandleLapackRcond, {a})(0, 0).real();
    EXPECT_GE(rc, exact * (1 - 1e-12)) << n << s.complex;
    EXPECT_LE(rc, 3 * exact) << n << s.complex;
    // chol of a Hermitian positive definite matrix: RᴴR = A, R upper.
    M h = Mul(Ct(a), a);
    for (int i = 0; i < n; ++i) h(i, i) += 1;
    const M r = Call1(&HandleLapackChol, {h});
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < i; ++j) EXPECT_EQ(r(i, j), Cx(0));
    EXPECT_LT(MaxAbs(Sub(Mul(Ct(r), r), h)), 1e-12);
  }
}

TEST_F(LapackNativesTest, EdgeCases) {
  const M empty = Zeros(0, 0);
  EXPECT_EQ(Call1(&HandleLapackDet, {empty})(0, 0), Cx(1));
  EXPECT_EQ(Call1(&HandleLapackRcond, {empty})(0, 0), Cx(1));
  for (NativeHandler h : {&HandleLapackInv, &HandleLapackChol, &HandleLapackPinv}) {
    const M r = Call1(h, {empty});
    EXPECT_EQ(r.m, 0);
    EXPECT_EQ(r.n, 0);
  }
  for (const M& r : Call(&HandleLapackLu, {empty}, 3)) EXPECT_EQ(r.m * r.n, 0);
  // A negative output count is one output.
  EXPECT_EQ(Call(&HandleLapackLu, {Eye(2)}, -1).size(), 1u);

  // Exactly singular square systems: a real +Inf result, even from complex data.
  const M singular = {2, 2, {1, 2, 2, 4}, false};
  M complexRhs = {2, 1, {1, Cx(0, 2)}, true};
  for (const M& x : {Call1(&HandleLapackInv, {singular}), Call1(&HandleLapackMldivide, {singular, complexRhs}),
                     Call1(&HandleLapackMrdivide, {Ct(complexRhs), singular}),
                     Call1(&HandleLapackInv, {M{2, 2, {Cx(0, 1), 2, Cx(0, 2), 4}, true}})}) {
    EXPECT_FALSE(x.complex);
    for (const Cx& z : x.v) EXPECT_EQ(z.real(), INFINITY);
  }
  // det ignores a zero pivot.
  EXPECT_EQ(Call1(&HandleLapackDet, {singular})(0, 0), Cx(0));

  // chol reads only the upper triangle.
  const M r = Call1(&HandleLapackChol, {M{2, 2, {4, 0, 99, 9}, false}});
  EXPECT_EQ(r.v, (std::vector<Cx>{2, 0, 0, 3}));

  // A real scalar divisor multiplies by its reciprocal; 0 gives infinities.
  const M q = Call1(&HandleLapackMldivide, {M{1, 1, {2}, false}, M{1, 2, {4, 6}, false}});
  EXPECT_EQ(q.v, (std::vector<Cx>{2, 3}));
  const M z = Call1(&HandleLapackMrdivide, {M{1, 2, {1, -1}, false}, M{1, 1, {0}, false}});
  EXPECT_EQ(z.v, (std::vector<Cx>{INFINITY, -INFINITY}));
  const M third = Call1(&HandleLapackMldivide, {M{1, 1, {3}, false}, M{1, 1, {Cx(3, 6)}, true}});
  EXPECT_EQ(third(0, 0), Cx(3 * (1.0 / 3), 6 * (1.0 / 3)));
}

TEST_F(LapackNativesTest, BadArgumentsGiveTheirCodes) {
  const M row = Random(1, 3, false, 7), sq = Random(2, 2, false, 8);
  struct Case {
    NativeHandler h;
    std::vector<M> args;
    StatusCode want;
  };
  const Case kCases[] = {
      {&HandleLapackLu, {row}, kBadSize},
      {&HandleLapackInv, {row}, kBadSize},
      {&HandleLapackDet, {row}, kBadSize},
      {&HandleLapackRcond, {row}, kBadSize},
      {&HandleLapackChol, {row}, kBadSize},
      {&HandleLapackChol, {M{2, 2, {1, 2, 2, 1}, false}}, kBadArg},
      {&HandleLapackMldivide, {sq, Random(3, 1, false, 9)}, kIncompSize},
      {&HandleLapackMrdivide, {Random(1, 3, false, 9), sq}, kIncompSize},
  };
  for (const Case& c : kCases) EXPECT_EQ(Fails(c.h, c.args), c.want);
  // An integer divisor and a text argument are the wrong type.
  const int32_t dims[2] = {1, 1};
  void* data = nullptr;
  ASSERT_EQ(PushIntegerArray(ctx, 2, dims, 1, false, &data), kOk);
  *static_cast<int8_t*>(data) = 2;
  Push(sq);
  EXPECT_EQ(HandleLapackMldivide(ctx, 2, 1, nullptr), kWrongType);
  Reset();
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "ab"), kOk);
  EXPECT_EQ(HandleLapackInv(ctx, 1, 1, nullptr), kWrongType);
  Reset();
  // The tolerance of pinv must be a real scalar.
  Push(sq);
  Push(Random(1, 2, false, 3));
  EXPECT_EQ(HandleLapackPinv(ctx, 2, 1, nullptr), kWrongType);
}

// With too little room each native fails with the status of the push or of
// the scratch and leaves the stack exactly as it was, until the room suffices.
TEST_F(LapackNativesTest, LackOfRoomLeavesTheStackAsItWas) {
  struct Case {
    const char* what;
    NativeHandler h;
    std::vector<M> args;
    int nargout;
  };
  const M a = Random(5, 5, false, 11), c = Random(4, 4, true, 12), r = Random(6, 3, false, 13);
  const Case kCases[] = {
      {"lu", &HandleLapackLu, {a}, 3},
      {"lu complex", &HandleLapackLu, {c}, 3},
      {"inv", &HandleLapackInv, {c}, 1},
      {"det", &HandleLapackDet, {a}, 1},
      {"rcond", &HandleLapackRcond, {c}, 1},
      {"chol", &HandleLapackChol, {Mul(Ct(a), a)}, 1},
      {"pinv", &HandleLapackPinv, {r}, 1},
      {"mldivide", &HandleLapackMldivide, {a, Random(5, 2, true, 14)}, 1},
      {"lsq", &HandleLapackMldivide, {r, Random(6, 2, true, 15)}, 1},
      {"mrdivide", &HandleLapackMrdivide, {Random(2, 4, false, 16), c}, 1},
      {"mrdivide lsq", &HandleLapackMrdivide, {Random(2, 3, true, 17), r}, 1},
  };
  for (const Case& k : kCases) {
    int64_t argCells = 0;
    for (const M& m : k.args) argCells += int64_t(m.m) * m.n * (m.complex ? 2 : 1);
    bool done = false;
    int64_t spare = 0;
    for (; spare < 4000 && !done; spare += 7) {
      Reset();
      FillData(argCells + spare);
      for (const M& m : k.args) Push(m);
      const Snapshot before = Take();
      const StatusCode st = k.h(ctx, int(k.args.size()), k.nargout, nullptr);
      if (st == kOk) {
        done = true;
      } else {
        ASSERT_EQ(st, kDataStackFull) << k.what << " spare " << spare;
        ASSERT_TRUE(Take() == before) << k.what << " spare " << spare;
      }
    }
    EXPECT_TRUE(done) << k.what;
    // No room at all must fail: the scratch lives above the arguments.
    EXPECT_GT(spare, 7) << k.what;
  }
}

// LAPACK's error routine is replaced: an illegal argument prints nothing,
// ends nothing, and is reported as 12 with the routine and the parameter.
TEST(LapackLibrary, IllegalArgumentsAreRecordedNotPrinted) {
  int n = -1, one = 1, info = 0, ipiv = 0;
  double a = 0, b = 0, work = 0;
  struct Case {
    const char* routine;
    int parameter;
  };
  const Case kCases[] = {{"DGESV", 1}, {"DGETRF", 2}, {"DGEEV", 3}};
  for (const Case& c : kCases) {
    numeric::ClearLapackError();
    EXPECT_EQ(numeric::LapackStatus(nullptr, nullptr), kOk);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    if (std::strcmp(c.routine, "DGESV") == 0) dgesv_(&n, &one, &a, &one, &ipiv, &b, &one, &info);
    if (std::strcmp(c.routine, "DGETRF") == 0) dgetrf_(&one, &n, &a, &one, &ipiv, &info);
    if (std::strcmp(c.routine, "DGEEV") == 0) {
      double wr = 0, wi = 0;
      dgeev_("N", "N", &n, &a, &one, &wr, &wi, nullptr, &one, nullptr, &one, &work, &one, &info, 1, 1);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    const char* routine = nullptr;
    int parameter = 0;
    EXPECT_EQ(numeric::LapackStatus(&routine, &parameter), kIllegal) << c.routine;
    EXPECT_STREQ(routine, c.routine);
    EXPECT_EQ(parameter, c.parameter) << c.routine;
    EXPECT_EQ(info, -c.parameter) << c.routine;
  }
  numeric::ClearLapackError();
}

TEST(LapackLibrary, IsOpenBlas) {
  const std::string config = openblas_get_config();
  EXPECT_NE(config.find("OpenBLAS"), std::string::npos) << config;
}

}  // namespace
