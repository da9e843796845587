// The special-function, distribution, integer and elliptic natives on an
// engine's value stack: broadcasting, the order in which their errors are
// found, and that a call refused for room leaves its arguments for the rerun.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

#include "numeric/numeric.h"
#include "tests/engine/stack_fixture.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void* Sel(intptr_t s) { return reinterpret_cast<void*>(s); }

struct Values {
  int32_t m = 0, n = 0;
  std::vector<double> v;
};

class SpecialNativesTest : public StackFixture {
 protected:
  int Depth() const { return ctx->descLength / 3; }
  void Scalar(double x) { ASSERT_EQ(PushRealScalar(ctx, x), kOk); }
  void Matrix(int32_t m, int32_t n, std::vector<double> v) {
    double* re = nullptr;
    ASSERT_EQ(PushDoubleMatrix(ctx, m, n, &re, nullptr), kOk);
    for (size_t k = 0; k < v.size(); ++k) re[k] = v[k];
  }
  void Text(const char* s) { ASSERT_EQ(PushStringFromBytes(ctx, -1, s), kOk); }

  // Runs a native on the top nargin values, expecting it to leave exactly
  // nargout real results in their place; returns the first.
  Values Call(NativeHandler native, int nargin, int nargout, void* selector = nullptr) {
    const int before = Depth();
    EXPECT_EQ(native(ctx, nargin, nargout, selector), kOk);
    EXPECT_EQ(Depth(), before - nargin + nargout);
    Values r;
    double *re = nullptr, *im = nullptr;
    EXPECT_EQ(GetDoubleMatrixArg(ctx, 0, &r.m, &r.n, &re, &im), kOk);
    EXPECT_EQ(im, nullptr);
    r.v.assign(re, re + int64_t{r.m} * r.n);
    return r;
  }
  StatusCode Fail(NativeHandler native, int nargin, void* selector = nullptr) {
    return native(ctx, nargin, 1, selector);
  }
};

TEST_F(SpecialNativesTest, OneArgumentNativesKeepShapeAndDropImaginaryParts) {
  ASSERT_EQ(PushComplexScalar(ctx, 1, 2), kOk);
  EXPECT_EQ(Call(&ErfNative, 1, 1, Sel(1)).v, std::vector<double>{ComputeErf(1, false)});
  Matrix(2, 3, {0, 1, 2, 3, 4, 5});
  const Values f = Call(&GammaNative, 1, 1, Sel(3));
  EXPECT_EQ(f.m, 2);
  EXPECT_EQ(f.n, 3);
  EXPECT_EQ(f.v, (std::vector<double>{1, 1, 2, 6, 24, 120}));
  PushInteger<int8_t>(ctx, 1);
  EXPECT_EQ(Fail(&ErfNative, 1, Sel(1)), kWrongType);
  Text("a");
  EXPECT_EQ(Fail(&DilnNative, 1), kWrongType);
}

TEST_F(SpecialNativesTest, ElementwiseNativesBroadcastScalars) {
  // gammainc(x, a) is P(a, x): the point comes first.
  Matrix(1, 3, {0, 1, 2});
  Scalar(1);
  const Values p = Call(&GammaincNative, 2, 1);
  ASSERT_EQ(p.v.size(), 3u);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(p.v[k], 1 - std::exp(-k), 1e-14);

  Scalar(0.3);
  Matrix(2, 1, {2.5, 1});
  Scalar(1);
  const Values b = Call(&BetaincNative, 3, 1, reinterpret_cast<void*>(&ComputeBetaI));
  EXPECT_EQ(b.m, 2);
  EXPECT_NEAR(b.v[0], std::pow(0.3, 2.5), 1e-12);
  EXPECT_NEAR(b.v[1], 0.3, 1e-12);

  Matrix(1, 2, {-8, -8});
  Matrix(1, 2, {3, 2});
  const Values r = Call(&NthrootNative, 2, 1);
  EXPECT_EQ(r.v[0], -2);
  EXPECT_TRUE(std::isnan(r.v[1]));

  ASSERT_EQ(PushComplexScalar(ctx, 3, 4), kOk);
  Matrix(1, 3, {0, kInf, 12});
  EXPECT_EQ(Call(&HypotNative, 2, 1).v, (std::vector<double>{5, kInf, 13}));

  Matrix(2, 3, {1, 2, 3, 4, 5, 6});
  Matrix(3, 2, {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(Fail(&BetaNative, 2, Sel(1)), kIncompSize);
  (void)DropArgsUnderResults(ctx, 0, 2);
  PushInteger<int16_t>(ctx, 2);
  Scalar(1);
  EXPECT_EQ(Fail(&HypotNative, 2), kWrongType);
}

TEST_F(SpecialNativesTest, NthrootRootsOddIntegersOnlyBeforeConverting) {
  // n far outside the int32 range, infinite or NaN is no odd integer.
  struct Case {
    double n;
    bool real;
  };
  const Case kCases[] = {{3, true}, {-3, true}, {2, false}, {3.5, false}, {1e300, false}, {kNaN, false}};
  for (const Case& c : kCases) {
    Scalar(-8);
    Scalar(c.n);
    const Values r = Call(&NthrootNative, 2, 1);
    EXPECT_EQ(!std::isnan(r.v[0]), c.real) << c.n;
    (void)DropArgsUnderResults(ctx, 0, 1);
  }
}

TEST_F(SpecialNativesTest, DistributionErrorsInTheirOrder) {
  struct Case {
    std::vector<const char*> args;  // the name, then scalars
    char mode;
    StatusCode want;
  };
  const Case kCases[] = {
      {{"Normal", "0"}, 'p', kUnknownOpt},
      {{"gamma", "1", "2"}, 'p', kTooFewArgin},
      {{"chi2", "1", "2", "3"}, 'p', kTooManyArgin},
      {{"exp", "0.5"}, 'i', kTooFewArgin},
      {{"exp", "0.5", "2"}, 'i', kNotSupported},
      {{"unif", "0.5", "1", "0"}, 'c', 9},
      // An unknown name with too few arguments is reported as unknown.
      {{"nosuch", "1"}, 'c', kUnknownOpt},
  };
  for (const Case& c : kCases) {
    Text(c.args[0]);
    for (size_t k = 1; k < c.args.size(); ++k) Scalar(std::atof(c.args[k]));
    const int before = Depth();
    EXPECT_EQ(Fail(&DistributionNative, int(c.args.size()), Sel(c.mode)), c.want) << c.args[0];
    (void)DropArgsUnderResults(ctx, 0, Depth() - before + int(c.args.size()));
  }
  Scalar(1);
  Scalar(0);
  EXPECT_EQ(Fail(&DistributionNative, 2, Sel('p')), kWrongType);
}

TEST_F(SpecialNativesTest, DistributionsConvertIntegersAndBroadcast) {
  // cdf('norm', int8(0), true): the mean 1, sigma its default.
  Text("norm");
  PushInteger<int8_t>(ctx, 0);
  ASSERT_EQ(PushLogicalScalar(ctx, 1), kOk);
  EXPECT_NEAR(Call(&DistributionNative, 3, 1, Sel('c')).v[0], std::erfc(1 / std::sqrt(2.0)) / 2, 1e-10);

  Text("exp");
  Matrix(2, 3, {-1, 0, 1, 2, 3, 4});
  Scalar(2);
  const Values e = Call(&DistributionNative, 3, 1, Sel('p'));
  EXPECT_EQ(e.m, 2);
  EXPECT_EQ(e.v[0], 0);
  EXPECT_EQ(e.v[1], 0.5);

  Text("norm");
  Matrix(2, 3, {1, 2, 3, 4, 5, 6});
  Matrix(3, 2, {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(Fail(&DistributionNative, 3, Sel('p')), kIncompSize);
}

TEST_F(SpecialNativesTest, RefusedForRoomLeavesTheArgumentsForTheRerun) {
  struct Case {
    NativeHandler native;
    int nargin;
    intptr_t selector;
  };
  const Case kCases[] = {{&BetaNative, 2, 1}, {&DistributionNative, 3, 'c'}, {&EllipkeNative, 1, 0}};
  for (const Case& c : kCases) {
    Reset();
    // Room for the arguments and less than one 40-element result beside them
    // (ellipke's first result fits, its second does not).
    FillData(110);
    if (c.native == &DistributionNative) Text("chi2");
    for (int k = c.nargin == 3 ? 1 : 0; k < c.nargin; ++k) Matrix(1, 40, std::vector<double>(40, 0.5));
    const Snapshot before = Take();
    EXPECT_EQ(c.native(ctx, c.nargin, 2, Sel(c.selector)), kDataStackFull);
    EXPECT_TRUE(Take() == before);
  }
}

TEST_F(SpecialNativesTest, NchoosekIsExactBelowTwoTo53) {
  struct Case {
    double n, k, want;
  };
  const Case kCases[] = {
      {5, 2, 10}, {5, 0, 1}, {34, 2, 561}, {50, 25, 126410606437752.0}, {52, 26, 495918532948104.0}, {1e6, 999999, 1e6},
  };
  for (const Case& c : kCases) {
    Scalar(c.n);
    Scalar(c.k);
    EXPECT_EQ(Call(&NchoosekNative, 2, 1).v[0], c.want) << c.n << " " << c.k;
    (void)DropArgsUnderResults(ctx, 0, 1);
  }
  // A huge k ends at Inf instead of running to it.
  Scalar(1e15);
  Scalar(5e14);
  EXPECT_EQ(Call(&NchoosekNative, 2, 1).v[0], kInf);
  for (const auto& [n, k] : std::vector<std::pair<double, double>>{{5, 6}, {2.5, 1}, {-1, 0}, {kNaN, 1}, {kInf, 1}}) {
    Scalar(n);
    Scalar(k);
    EXPECT_EQ(Fail(&NchoosekNative, 2), kBadArg) << n << " " << k;
    (void)DropArgsUnderResults(ctx, 0, 2);
  }
}

TEST_F(SpecialNativesTest, GcdLcmAndFactor) {
  struct Case {
    double a, b, gcd, lcm;
  };
  const Case kCases[] = {
      {12, 18, 6, 36}, {-12, 18, 6, -36}, {-4, 6, 2, -12}, {0, 5, 5, 0}, {0, -5, 5, 0}, {0, 0, 0, 0}, {7, 7, 7, 7},
  };
  for (const Case& c : kCases) {
    Scalar(c.a);
    Scalar(c.b);
    EXPECT_EQ(Call(&GcdNative, 2, 1, Sel('d')).v[0], c.gcd) << c.a << " " << c.b;
    (void)DropArgsUnderResults(ctx, 0, 1);
    Scalar(c.a);
    Scalar(c.b);
    const double l = Call(&GcdNative, 2, 1, Sel('m')).v[0];
    EXPECT_EQ(l, c.lcm) << c.a << " " << c.b;
    EXPECT_FALSE(std::signbit(l) && l == 0) << c.a << " " << c.b;
    (void)DropArgsUnderResults(ctx, 0, 1);
  }
  for (double bad : {1.5, kNaN, kInf, 3e9}) {
    Scalar(bad);
    Scalar(4);
    EXPECT_EQ(Fail(&GcdNative, 2, Sel('d')), kBadArg) << bad;
    (void)DropArgsUnderResults(ctx, 0, 2);
  }

  struct Factors {
    double n;
    std::vector<double> want;
  };
  const Factors kFactors[] = {{360, {2, 2, 2, 3, 3, 5}},
                              {97, {97}},
                              {2147483647, {2147483647}},
                              {1073741824, std::vector<double>(30, 2)},
                              {25, {5, 5}},
                              {1, {}}};
  for (const Factors& f : kFactors) {
    Scalar(f.n);
    EXPECT_EQ(Call(&FactorNative, 1, 1).v, f.want) << f.n;
    (void)DropArgsUnderResults(ctx, 0, 1);
  }
  for (double bad : {0.0, -6.0}) {
    Scalar(bad);
    EXPECT_EQ(Fail(&FactorNative, 1), kBadArg) << bad;
    (void)DropArgsUnderResults(ctx, 0, 1);
  }
}

TEST_F(SpecialNativesTest, EllipticNativesGiveEveryRequestedOutput) {
  Matrix(1, 2, {0, 1});
  ASSERT_EQ(EllipkeNative(ctx, 1, 2, nullptr), kOk);
  double *k = nullptr, *e = nullptr;
  ASSERT_EQ(GetDoubleArrayArg(ctx, 0, nullptr, nullptr, nullptr, &k, nullptr), kOk);
  ASSERT_EQ(GetDoubleArrayArg(ctx, 1, nullptr, nullptr, nullptr, &e, nullptr), kOk);
  EXPECT_NEAR(k[0], 1.5707963267948966, 1e-15);
  EXPECT_EQ(k[1], kInf);
  EXPECT_NEAR(e[0], 1.5707963267948966, 1e-15);
  EXPECT_EQ(e[1], 1);
  (void)DropArgsUnderResults(ctx, 0, 2);

  Matrix(1, 3, {-1, 0.5, 2});
  Scalar(0.4);
  ASSERT_EQ(EllipticNative(ctx, 2, 3, Sel('j')), kOk);
  ASSERT_EQ(Depth(), 3);
  double *sn = nullptr, *cn = nullptr, *dn = nullptr;
  ASSERT_EQ(GetDoubleArrayArg(ctx, 0, nullptr, nullptr, nullptr, &sn, nullptr), kOk);
  ASSERT_EQ(GetDoubleArrayArg(ctx, 1, nullptr, nullptr, nullptr, &cn, nullptr), kOk);
  ASSERT_EQ(GetDoubleArrayArg(ctx, 2, nullptr, nullptr, nullptr, &dn, nullptr), kOk);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(sn[i] * sn[i] + cn[i] * cn[i], 1, 1e-15);
    EXPECT_NEAR(dn[i] * dn[i] + 0.4 * sn[i] * sn[i], 1, 1e-15);
  }
  (void)DropArgsUnderResults(ctx, 0, 3);

  Scalar(1.5);
  EXPECT_EQ(EllipkeNative(ctx, 1, 1, nullptr), 9);
  (void)DropArgsUnderResults(ctx, 0, Depth());
  Scalar(1);
  Scalar(2);
  EXPECT_EQ(EllipticNative(ctx, 2, 1, Sel('a')), 9);
}

}  // namespace
