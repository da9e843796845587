// The elementary functions against long-double references: real arguments
// across each domain edge within 4 units in the last place, complex ones on
// both sides of every branch cut within 1e-9 of the modulus, where the
// array turns complex, and unknown selectors.
#include <cfloat>
#include <cmath>
#include <complex>
#include <functional>
#include <numbers>

#include "corelib/corelib.h"
#include "tests/corelib/stack_values.h"

namespace {

using ElementaryTest = StackValuesTest;
using LD = long double;
using CL = std::complex<LD>;

const LD kPiL = std::numbers::pi_v<LD>;
const CL kI{0, 1};

// A function as the handlers run it and as the references compute it.
struct Function {
  const char* name;
  std::function<StatusCode(EngineContext*)> call;
  // The real argument's value inside the domain; outside it (where stays is
  // false) the complex value. Both get x in double, as the handler sees it.
  std::function<LD(double)> real;
  std::function<bool(double)> stays;
  std::function<CL(double)> outside;
  std::function<CL(CL)> complex;
};

bool Always(double) { return true; }
CL Never(double) { return {NAN, NAN}; }
double Inv(double x) { return 1 / x; }

// asin and acos of |x| > 1 lie on the side of the cut the system chose: from
// below for x > 1, from above for x < -1.
CL OnCut(double x) { return CL(x, x > 0 ? -0.0L : 0.0L); }
CL AsinOut(double x) { return std::asin(OnCut(x)); }
CL AcosOut(double x) { return std::acos(OnCut(x)); }
CL AcoshOut(double x) {
  // -acosh(-x) below -1, by log1p so that arguments near -1 keep their digits.
  const LD a = -static_cast<LD>(x) - 1;
  if (x < -1) return {-std::log1p(a + std::sqrt(a * (a + 2))), kPiL};
  return std::log(CL(x, std::sqrt(1 - static_cast<LD>(x) * x)));
}
CL AtanhOut(double x) { return {std::atanh(1 / static_cast<LD>(x)), kPiL / 2}; }
bool InUnit(double x) { return x >= -1 && x <= 1; }

// The complex formulas as written, in long double.
CL Asin(CL z) { return -kI * std::log(kI * z + std::sqrt(LD{1} - z * z)); }
CL Acos(CL z) { return -kI * std::log(z + kI * std::sqrt(LD{1} - z * z)); }
CL Atan(CL z) {
  const LD x = z.real(), y = z.imag(), u = 1 - x * x - y * y;
  return {std::atan2(2 * x, u) / 2, (std::log(x * x + (y + 1) * (y + 1)) - std::log(4 * x * x + u * u) / 2) / 2};
}
CL Asinh(CL z) { return std::log(z + std::sqrt(z * z + LD{1})); }
CL Acosh(CL z) { return std::log(z + std::sqrt(z * z - LD{1})); }
CL Atanh(CL z) { return std::log((LD{1} + z) / (LD{1} - z)) / LD{2}; }
// e^z - 1 itself: the compensated form holds only while log(e^z) is z.
CL Expm1(CL z) { return std::exp(z) - LD{1}; }
CL Log1p(CL z) {
  const CL w = LD{1} + z;
  return z * std::log(w) / (w - LD{1});
}
CL Sinc(CL z) { return std::sin(kPiL * z) / (kPiL * z); }

std::vector<Function> Functions() {
  const auto trig = [](char s, int r) { return [=](EngineContext* c) { return ApplyTrigFunction(c, s, r); }; };
  const auto hyp = [](char s, int r) { return [=](EngineContext* c) { return ApplyHyperbolicFunction(c, s, r); }; };
  const auto el = [](char s) { return [=](EngineContext* c) { return ApplyExpLogFunction(c, s); }; };
  const auto nonneg = [](double x) { return x >= 0; };
  return {
      {"exp", el('e'), [](double x) { return std::exp(LD{x}); }, Always, Never, [](CL z) { return std::exp(z); }},
      {"expm1", el('E'), [](double x) { return std::expm1(LD{x}); }, Always, Never, Expm1},
      {"log", el('l'), [](double x) { return std::log(LD{x}); }, nonneg,
       [](double x) { return CL(std::log(-LD{x}), kPiL); }, [](CL z) { return std::log(z); }},
      {"log10", el('1'), [](double x) { return std::log10(LD{x}); }, nonneg,
       [](double x) { return CL(std::log10(-LD{x}), 1.3643763538418412); },
       [](CL z) { return std::log(z) / std::log(LD{10}); }},
      {"log1p", el('L'), [](double x) { return std::log1p(LD{x}); }, Always, Never, Log1p},
      {"log2", el('2'), [](double x) { return std::log2(LD{x}); }, nonneg,
       [](double x) { return CL(std::log2(-LD{x}), 4.532360141827194); },
       [](CL z) { return std::log(z) / std::log(LD{2}); }},
      {"sqrt", el('s'), [](double x) { return std::sqrt(LD{x}); }, nonneg,
       [](double x) { return CL(0, std::sqrt(-LD{x})); }, [](CL z) { return std::sqrt(z); }},
      {"sin", trig('s', 0), [](double x) { return std::sin(LD{x}); }, Always, Never, [](CL z) { return std::sin(z); }},
      {"cos", trig('c', 0), [](double x) { return std::cos(LD{x}); }, Always, Never, [](CL z) { return std::cos(z); }},
      {"tan", trig('t', 0), [](double x) { return std::tan(LD{x}); }, Always, Never,
       [](CL z) { return std::sin(z) / std::cos(z); }},
      {"sec", trig('c', 1), [](double x) { return 1 / std::cos(LD{x}); }, Always, Never,
       [](CL z) { return LD{1} / std::cos(z); }},
      {"csc", trig('s', 1), [](double x) { return 1 / std::sin(LD{x}); }, Always, Never,
       [](CL z) { return LD{1} / std::sin(z); }},
      {"cot", trig('t', 1), [](double x) { return 1 / std::tan(LD{x}); }, Always, Never,
       [](CL z) { return std::cos(z) / std::sin(z); }},
      {"sinc", trig('n', 0),
       [](double x) {
         const double t = std::numbers::pi * x;  // the product the builtin forms
         return x == 0 ? LD{1} : std::sin(LD{t}) / t;
       },
       Always, Never, [](CL z) { return z == CL(0) ? CL(1) : Sinc(z); }},
      {"asin", trig('S', 0), [](double x) { return std::asin(LD{x}); }, InUnit, AsinOut, Asin},
      {"acos", trig('C', 0), [](double x) { return std::acos(LD{x}); }, InUnit, AcosOut, Acos},
      {"atan", trig('T', 0), [](double x) { return std::atan(LD{x}); }, Always, Never, Atan},
      {"asec", trig('C', 1), [](double x) { return std::acos(LD{Inv(x)}); }, [](double x) { return InUnit(Inv(x)); },
       [](double x) { return AcosOut(Inv(x)); }, [](CL z) { return Acos(LD{1} / z); }},
      {"acsc", trig('S', 1), [](double x) { return std::asin(LD{Inv(x)}); }, [](double x) { return InUnit(Inv(x)); },
       [](double x) { return AsinOut(Inv(x)); }, [](CL z) { return Asin(LD{1} / z); }},
      {"acot", trig('T', 1), [](double x) { return std::atan(LD{Inv(x)}); }, Always, Never,
       [](CL z) { return Atan(LD{1} / z); }},
      {"sinh", hyp('s', 0), [](double x) { return std::sinh(LD{x}); }, Always, Never,
       [](CL z) { return std::sinh(z); }},
      {"cosh", hyp('c', 0), [](double x) { return std::cosh(LD{x}); }, Always, Never,
       [](CL z) { return std::cosh(z); }},
      {"tanh", hyp('t', 0), [](double x) { return std::tanh(LD{x}); }, Always, Never,
       [](CL z) { return std::sinh(z) / std::cosh(z); }},
      {"sech", hyp('c', 1), [](double x) { return 1 / std::cosh(LD{x}); }, Always, Never,
       [](CL z) { return LD{1} / std::cosh(z); }},
      {"csch", hyp('s', 1), [](double x) { return 1 / std::sinh(LD{x}); }, Always, Never,
       [](CL z) { return LD{1} / std::sinh(z); }},
      {"coth", hyp('t', 1), [](double x) { return 1 / std::tanh(LD{x}); }, Always, Never,
       [](CL z) { return std::cosh(z) / std::sinh(z); }},
      {"asinh", hyp('S', 0), [](double x) { return std::asinh(LD{x}); }, Always, Never, Asinh},
      {"acosh", hyp('C', 0), [](double x) { return std::acosh(LD{x}); }, [](double x) { return x >= 1; }, AcoshOut,
       Acosh},
      {"atanh", hyp('T', 0), [](double x) { return std::atanh(LD{x}); }, InUnit, AtanhOut, Atanh},
      {"asech", hyp('C', 1), [](double x) { return std::acosh(LD{Inv(x)}); }, [](double x) { return Inv(x) >= 1; },
       [](double x) { return AcoshOut(Inv(x)); }, [](CL z) { return Acosh(LD{1} / z); }},
      {"acsch", hyp('S', 1), [](double x) { return std::asinh(LD{Inv(x)}); }, Always, Never,
       [](CL z) { return Asinh(LD{1} / z); }},
      {"acoth", hyp('T', 1), [](double x) { return std::atanh(LD{Inv(x)}); }, [](double x) { return InUnit(Inv(x)); },
       [](double x) { return AtanhOut(Inv(x)); }, [](CL z) { return Atanh(LD{1} / z); }},
  };
}

double Ulp(double x) {
  x = std::fabs(x);
  return std::nextafter(x, INFINITY) - x;
}

// Within 4 ulp of the reference rounded to double; `floor` is the size below
// which the error is taken absolutely (a part that should be 0 or tiny
// beside the rest of the value).
::testing::AssertionResult Close(double got, LD want, double floor) {
  const double w = static_cast<double>(want);
  if (std::isnan(w) ? std::isnan(got) : got == w) return ::testing::AssertionSuccess();
  if (std::isfinite(w) && std::isfinite(got) && std::fabs(got - want) <= 4 * Ulp(std::max(std::fabs(w), floor)))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << got << ", want " << w;
}

const double kRealArguments[] = {
    0.0,
    -0.0,
    5e-324,
    -5e-324,
    1e-300,
    -1e-300,
    1e-20,
    -1e-20,
    0.5,
    -0.5,
    0.7,
    -3.3,
    1 - DBL_EPSILON / 2,
    -(1 - DBL_EPSILON / 2),
    1.0,
    -1.0,
    1 + DBL_EPSILON,
    -(1 + DBL_EPSILON),
    2.0,
    -2.0,
    10.0,
    700.0,
    -700.0,
    1e10,
    -1e10,
    1e300,
    -1e300,
    INFINITY,
    -INFINITY,
    NAN,
};

TEST_F(ElementaryTest, RealArgumentsMatchLongDoubleReferences) {
  for (const Function& f : Functions()) {
    for (double x : kRealArguments) {
      const std::string what = std::string(f.name) + "(" + ::testing::PrintToString(x) + ")";
      Scalar(x);
      ASSERT_EQ(f.call(ctx), kOk) << what;
      const Seen s = TopArray();
      PopValue(ctx);
      ASSERT_EQ(s.re.size(), 1u) << what;
      if (f.stays(x)) {
        EXPECT_TRUE(s.im.empty()) << what << " turned complex";
        EXPECT_TRUE(Close(s.re[0], f.real(x), DBL_MIN)) << what;
        continue;
      }
      ASSERT_EQ(s.im.size(), 1u) << what << " stayed real";
      const CL want = f.outside(x);
      const double floor = static_cast<double>(std::abs(want));  // parts near 0 are compared absolutely
      EXPECT_TRUE(Close(s.re[0], want.real(), floor)) << what << " real part";
      EXPECT_TRUE(Close(s.im[0], want.imag(), floor)) << what << " imaginary part";
    }
  }
}

TEST_F(ElementaryTest, ArrayTurnsComplexOnlyWithAnElementOutsideTheDomain) {
  for (const Function& f : Functions()) {
    std::vector<double> inside, all(std::begin(kRealArguments), std::end(kRealArguments));
    for (double x : all)
      if (f.stays(x)) inside.push_back(x);
    for (const std::vector<double>* row : {&inside, &all}) {
      Row(*row);
      ASSERT_EQ(f.call(ctx), kOk) << f.name;
      const Seen s = TopArray();
      PopValue(ctx);
      ASSERT_EQ(s.re.size(), row->size()) << f.name;
      const bool outside = row->size() != inside.size();
      EXPECT_EQ(!s.im.empty(), outside) << f.name;
      // Elements inside the domain keep their values and get 0 imaginary parts.
      for (size_t k = 0; k < row->size() && outside; ++k)
        if (f.stays((*row)[k])) {
          EXPECT_TRUE(Close(s.re[k], f.real((*row)[k]), DBL_MIN)) << f.name << " at " << (*row)[k];
          EXPECT_EQ(s.im[k], 0) << f.name << " at " << (*row)[k];
        }
    }
  }
}

TEST_F(ElementaryTest, ComplexArgumentsFollowTheFormulas) {
  const double parts[] = {1e-3, 0.3, 1.0, 1.5, 40.0, 1e3};
  for (const Function& f : Functions()) {
    for (double a : parts)
      for (double b : parts)
        for (int signs = 0; signs < 4; ++signs) {
          const double x = signs & 1 ? -a : a, y = signs & 2 ? -b : b;
          const CL want = f.complex(CL(x, y));
          const LD m = std::abs(want);
          // Results beyond the double range overflow as they must; not compared.
          if (!(m < 1e300L) || !std::isfinite(static_cast<double>(m))) continue;
          Doubles({1, 1}, {x}, {y});
          ASSERT_EQ(f.call(ctx), kOk) << f.name;
          const Seen s = TopArray();
          PopValue(ctx);
          ASSERT_EQ(s.im.size(), 1u) << f.name;
          const LD err = std::abs(CL(s.re[0], s.im[0]) - want);
          EXPECT_LE(static_cast<double>(err), 1e-9 * static_cast<double>(m) + 1e-300)
              << f.name << "(" << x << (y < 0 ? " - " : " + ") << std::fabs(y) << "i) gives " << s.re[0] << ", "
              << s.im[0] << " want " << static_cast<double>(want.real()) << ", " << static_cast<double>(want.imag());
        }
  }
}

TEST_F(ElementaryTest, UnknownSelectorsAreNotSupported) {
  const std::function<StatusCode(EngineContext*)> calls[] = {
      [](EngineContext* c) { return RoundElements(c, 'x'); },
      [](EngineContext* c) { return ApplyExpLogFunction(c, 'x'); },
      [](EngineContext* c) { return ApplyRealLogOrSqrt(c, 'x'); },
      [](EngineContext* c) { return ApplyTrigFunction(c, 'x', 0); },
      [](EngineContext* c) { return ApplyTrigFunction(c, 'n', 1); },
      [](EngineContext* c) { return ApplyHyperbolicFunction(c, 'n', 0); },
      [](EngineContext* c) { return ClassifyCharacters(c, 'x'); },
      [](EngineContext* c) { return ChangeLetterCase(c, 'x'); },
      [](EngineContext* c) {
        const int16_t ins[3] = {1000, 1, 1};
        return ElementaryOpcode(c, ins);
      },
      [](EngineContext* c) {
        const int16_t ins[3] = {1000, 1, 1};
        return StringOpcode(c, ins);
      },
  };
  for (const auto& call : calls) {
    Scalar(2);
    const std::vector<uint64_t> before = DataCells();
    EXPECT_EQ(call(ctx), kNotSupported);
    EXPECT_EQ(DataCells(), before);  // the operand is left as it was
    PopValue(ctx);
  }
}

}  // namespace

namespace {

// The handlers themselves refuse every class but double (the engine retries
// integer-like operands as doubles before a script sees the refusal).
TEST_F(ElementaryTest, OtherClassesAreWrongType) {
  const std::function<void(ElementaryTest*)> pushes[] = {
      [](ElementaryTest* t) { t->Singles({1}); }, [](ElementaryTest* t) { t->Integers(kInt8, {1}); },
      [](ElementaryTest* t) { t->Text("a"); }, [](ElementaryTest* t) { t->Logicals({1}); }};
  for (const auto& push : pushes) {
    push(this);
    EXPECT_EQ(ApplyTrigFunction(ctx, 's', 0), kWrongType);
    EXPECT_EQ(abs(ctx), kWrongType);
    EXPECT_EQ(RoundElements(ctx, 'r'), kWrongType);
    Scalar(1);
    EXPECT_EQ(atan2(ctx), kWrongType);
    PopValue(ctx);
    Scalar(1);
    push(this);
    EXPECT_EQ(atan2(ctx), kWrongType);
    PopValue(ctx);
    PopValue(ctx);
    PopValue(ctx);
  }
}

}  // namespace
