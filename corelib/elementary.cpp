// Elementwise elementary functions of double arrays, real or complex, worked
// in place on the top value: abs, angle, sign, rounding, exponentials and
// logarithms, roots, circular and hyperbolic functions and their inverses,
// and atan2. A real array turns complex once, before its first element is
// written, so a step short of room leaves the operand as it was.
#include <cmath>
#include <numbers>

#include "corelib/complexnumber.h"
#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/values/doublemath.h"
#include "engine/values/valuestack.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kInf = HUGE_VAL;
const double kNaN = std::nan("");

// The imaginary parts of log10 and log2 of a negative real: pi log10(e) and pi / ln 2.
constexpr double kLog10Turn = 1.3643763538418412;
constexpr double kLog2Turn = 4.532360141827194;

// Beyond this size of the imaginary part of tan (real part of tanh) the
// quotient of sin and cos loses its small part to cancellation and then
// overflows; tanh of it is 1 to the last bit.
constexpr double kFlatHyperbolic = 20;

Complex Scale(Complex a, double s) { return {a.re * s, a.im * s}; }
// Multiplication by i and by -i.
Complex TimesI(Complex a) { return {-a.im, a.re}; }
Complex TimesMinusI(Complex a) { return {a.im, -a.re}; }
bool IsZero(Complex a) { return a.re == 0 && a.im == 0; }  // NaN is not zero

// The larger part times sqrt(1 + ratio^2): the squares never overflow or
// underflow. A NaN part gives NaN; an infinite one Inf.
double Modulus(Complex z) {
  if (std::isnan(z.re) || std::isnan(z.im)) return kNaN;
  const double a = std::fabs(z.re), b = std::fabs(z.im);
  const double big = a >= b ? a : b, small = a >= b ? b : a;
  if (big == 0 || std::isinf(big)) return big;
  const double r = small / big;
  return big * std::sqrt(1 + r * r);
}

Complex Log(Complex z) { return {std::log(Modulus(z)), std::atan2(z.im, z.re)}; }

Complex Sqrt(Complex z) {
  if (IsZero(z)) return {0, 0};
  const double m = Modulus(z);
  if (z.re > 0) {
    const double re = std::sqrt((m + z.re) / 2);
    return {re, z.im / (2 * re)};
  }
  const double im = std::copysign(std::sqrt((m - z.re) / 2), z.im);
  return {z.im / (2 * im), im};
}

Complex Reciprocal(Complex z) {
  if (IsZero(z)) return {kInf, 0};
  // Smith's ratio of two infinite parts is NaN; the reciprocal of an
  // overflowed value (sec and sech far out) is 0.
  if (std::isinf(z.re) || std::isinf(z.im)) return {std::copysign(0.0, z.re), -std::copysign(0.0, z.im)};
  return Divide({1, 0}, z);
}

Complex Exp(Complex z) {
  const double e = std::exp(z.re);
  return {e * std::cos(z.im), e * std::sin(z.im)};
}

// ---------------------------------------------------------------------------
// Complex arguments, one function per selector.

Complex ComplexExpLog(char selector, Complex z) {
  switch (selector) {
    case 'e':
      return Exp(z);
    case 'E': {
      const Complex w = Exp(z);
      if (w.re == 1 && w.im == 0) return z;
      if (IsZero(w)) return {-1, 0};
      // The compensation needs log(w) = z, which the principal logarithm
      // gives only for |y| <= pi; beyond, w - 1 does not cancel anyway.
      if (std::fabs(z.im) > kPi) return w - Complex{1, 0};
      return Divide((w - Complex{1, 0}) * z, Log(w));
    }
    case 'l':
      return Log(z);
    case '1':
      return Scale(Log(z), 1 / std::numbers::ln10);
    case 'L': {
      const Complex w = Complex{1, 0} + z;
      if (w.re == 1 && w.im == 0) return z;
      return Divide(z * Log(w), w - Complex{1, 0});
    }
    case '2':
      return Scale(Log(z), 1 / std::numbers::ln2);
    default:  // 's'
      return Sqrt(z);
  }
}

Complex Sin(Complex z) { return {std::sin(z.re) * std::cosh(z.im), std::cos(z.re) * std::sinh(z.im)}; }
Complex Cos(Complex z) { return {std::cos(z.re) * std::cosh(z.im), -std::sin(z.re) * std::sinh(z.im)}; }

// sinh x and cosh x from e^x, as the complex hyperbolic functions take them.
void HyperbolicParts(double x, double* sh, double* ch) {
  const double e = std::exp(x), f = std::exp(-x);
  *sh = (e - f) / 2;
  *ch = (e + f) / 2;
}

Complex Sinh(Complex z) {
  double sh = 0, ch = 0;
  HyperbolicParts(z.re, &sh, &ch);
  return {sh * std::cos(z.im), ch * std::sin(z.im)};
}

Complex Cosh(Complex z) {
  double sh = 0, ch = 0;
  HyperbolicParts(z.re, &sh, &ch);
  return {ch * std::cos(z.im), sh * std::sin(z.im)};
}

// tan(x + iy) for large |y| is i sign(y) plus 2 sin 2x e^(-2|y|); tanh
// mirrors it with the parts swapped.
Complex FlatTan(Complex z) {
  return {4 * std::sin(z.re) * std::cos(z.re) * std::exp(-2 * std::fabs(z.im)), std::copysign(1.0, z.im)};
}

Complex ComplexTrig(char selector, Complex z) {
  switch (selector) {
    case 's':
      return Sin(z);
    case 'c':
      return Cos(z);
    case 't':
      if (std::fabs(z.im) > kFlatHyperbolic) return FlatTan(z);
      return Divide(Sin(z), Cos(z));
    case 'n': {
      if (IsZero(z)) return {1, 0};
      const Complex w = Scale(z, kPi);
      return Divide(Sin(w), w);
    }
    case 'S':
      return TimesMinusI(Log(TimesI(z) + Sqrt(Complex{1, 0} - z * z)));
    case 'C':
      return TimesMinusI(Log(z + TimesI(Sqrt(Complex{1, 0} - z * z))));
    default: {  // 'T'
      const double x = z.re, y = z.im;
      const double u = 1 - x * x - y * y;
      return {0.5 * std::atan2(2 * x, u),
              (std::log(x * x + (y + 1) * (y + 1)) - 0.5 * std::log(4 * x * x + u * u)) / 2};
    }
  }
}

Complex ComplexHyperbolic(char selector, Complex z) {
  switch (selector) {
    case 's':
      return Sinh(z);
    case 'c':
      return Cosh(z);
    case 't':
      if (std::fabs(z.re) > kFlatHyperbolic) {
        const Complex t = FlatTan({z.im, z.re});
        return {t.im, t.re};
      }
      return Divide(Sinh(z), Cosh(z));
    case 'S':
      return Log(z + Sqrt(z * z + Complex{1, 0}));
    case 'C':
      return Log(z + Sqrt(z * z - Complex{1, 0}));
    default:  // 'T'
      return Scale(Log(Divide(Complex{1, 0} + z, Complex{1, 0} - z)), 0.5);
  }
}

// ---------------------------------------------------------------------------
// Real arguments: the value inside the real domain, the test of that domain
// (NaN fails it wherever a domain exists) and the complex value outside it.

double RealExpLog(char selector, double x) {
  switch (selector) {
    case 'e':
      return DoubleExp(x);
    case 'E':
      return std::expm1(x);
    case 'l':
      return std::log(x);
    case '1':
      return std::log10(x);
    case 'L':
      return std::log1p(x);  // NaN below -1
    case '2':
      return std::log2(x);
    default:
      return std::sqrt(x);
  }
}

bool ExpLogStaysReal(char selector, double x) {
  return selector == 'e' || selector == 'E' || selector == 'L' || x >= 0;
}

Complex ExpLogOutside(char selector, double x) {
  switch (selector) {
    case 'l':
      return {std::log(-x), kPi};
    case '1':
      return {std::log10(-x), kLog10Turn};
    case '2':
      return {std::log2(-x), kLog2Turn};
    default:  // 's'
      return {0, std::sqrt(-x)};
  }
}

double RealTrig(char selector, double x) {
  switch (selector) {
    case 's':
      return DoubleSin(x);
    case 'c':
      return DoubleCos(x);
    case 't':
      return DoubleTan(x);
    case 'n':
      if (x == 0) return 1;
      return std::sin(kPi * x) / (kPi * x);
    case 'S':
      return std::asin(x);
    case 'C':
      return std::acos(x);
    default:
      return DoubleAtan(x);
  }
}

bool TrigStaysReal(char selector, double x) { return (selector != 'S' && selector != 'C') || (x >= -1 && x <= 1); }

// asin and acos of |x| > 1: -i log(i x + sqrt(1 - x^2)) and -i log(x + i
// sqrt(1 - x^2)) in closed form, through acosh(|x|) = ln(|x| + sqrt(x^2 - 1)),
// which neither cancels for large negative x nor overflows.
Complex TrigOutside(char selector, double x) {
  if (std::isnan(x)) return {kNaN, kNaN};
  const double a = std::acosh(std::fabs(x));
  if (selector == 'S') return {std::copysign(kPi / 2, x), -std::copysign(a, x)};
  return x > 0 ? Complex{0, a} : Complex{kPi, -a};
}

double RealHyperbolic(char selector, double x) {
  switch (selector) {
    case 's':
      return std::sinh(x);
    case 'c':
      return std::cosh(x);
    case 't':
      return std::tanh(x);
    case 'S':
      return std::asinh(x);
    case 'C':
      return std::acosh(x);
    default:
      return std::atanh(x);
  }
}

bool HyperbolicStaysReal(char selector, double x) {
  if (selector == 'C') return x >= 1;
  if (selector == 'T') return x >= -1 && x <= 1;
  return true;
}

// acosh of x < 1: log(x + sqrt(x^2 - 1)), which is i acos(x) from -1 up and
// -acosh(-x) + i pi below; atanh of |x| > 1: 0.5 ln((x + 1)/(x - 1)) + i
// pi/2. Far out the quotient nears 1 and its logarithm would cancel, so
// there it is taken as log1p(2/(x - 1)).
Complex HyperbolicOutside(char selector, double x) {
  if (selector == 'C') {
    if (std::isnan(x)) return {kNaN, kNaN};
    if (x >= -1) return {0, std::acos(x)};
    return {-std::acosh(-x), kPi};
  }
  if (std::fabs(x) <= 4) return {0.5 * std::log((x + 1) / (x - 1)), kPi / 2};
  return {0.5 * std::log1p(2 / (x - 1)), kPi / 2};
}

// ---------------------------------------------------------------------------
// The loop over the top value.

struct DoubleTop {
  int64_t count = 0;
  double* re = nullptr;
  double* im = nullptr;
};

[[nodiscard]] StatusCode ReadDoubleTop(EngineContext* ctx, DoubleTop* t) {
  int nd = 0;
  int32_t dims[kMaxDims];
  const StatusCode st = GetDoubleArrayArg(ctx, 0, &nd, dims, &t->count, &t->re, &t->im);
  return ReportedStatus(st);
}

// Each element x of the top value becomes f(x), or, for a real x that fails
// stays(x), outside(x), which makes the whole value complex first. With
// argReciprocal the functions see 1/x; with resultReciprocal each result is
// inverted.
template <class Real, class Stays, class Outside, class ComplexFn>
[[nodiscard]] StatusCode ApplyElementwise(EngineContext* ctx, bool argReciprocal, bool resultReciprocal, Real real,
                                          Stays stays, Outside outside, ComplexFn complex) {
  DoubleTop t;
  if (StatusCode st = ReadDoubleTop(ctx, &t); st != kOk) return st;
  if (t.im == nullptr) {
    int64_t first = 0;
    while (first < t.count && stays(argReciprocal ? 1 / t.re[first] : t.re[first])) ++first;
    if (first == t.count) {
      for (int64_t k = 0; k < t.count; ++k) {
        const double y = real(argReciprocal ? 1 / t.re[k] : t.re[k]);
        t.re[k] = resultReciprocal ? 1 / y : y;
      }
      return kOk;
    }
    void* imag = nullptr;
    if (StatusCode st = MakeTopComplex(ctx, &imag); st != kOk) return ReportedStatus(st);
    if (StatusCode st = ReadDoubleTop(ctx, &t); st != kOk) return st;
    for (int64_t k = 0; k < t.count; ++k) {
      const double x = argReciprocal ? 1 / t.re[k] : t.re[k];
      if (k < first || stays(x)) {
        const double y = real(x);
        t.re[k] = resultReciprocal ? 1 / y : y;
        continue;
      }
      Complex w = outside(x);
      if (resultReciprocal) w = Reciprocal(w);
      t.re[k] = w.re;
      t.im[k] = w.im;
    }
    return kOk;
  }
  for (int64_t k = 0; k < t.count; ++k) {
    Complex z{t.re[k], t.im[k]};
    if (argReciprocal) z = Reciprocal(z);
    Complex w = complex(z);
    if (resultReciprocal) w = Reciprocal(w);
    t.re[k] = w.re;
    t.im[k] = w.im;
  }
  return kOk;
}

// Every selector gets a loop of its own, so each element costs one call of
// the function and no dispatch.
template <char S, class Real, class Stays, class Outside, class ComplexFn>
[[nodiscard]] StatusCode ApplySelected(EngineContext* ctx, bool argReciprocal, bool resultReciprocal, Real real,
                                       Stays stays, Outside outside, ComplexFn complex) {
  return ApplyElementwise(
      ctx, argReciprocal, resultReciprocal, [&](double x) { return real(S, x); }, [&](double x) { return stays(S, x); },
      [&](double x) { return outside(S, x); }, [&](Complex z) { return complex(S, z); });
}

[[nodiscard]] StatusCode ApplyExpLog(EngineContext* ctx, char selector) {
  const auto stays = [](char s, double x) { return ExpLogStaysReal(s, x); };
  const auto outside = [](char s, double x) { return ExpLogOutside(s, x); };
  const auto complex = [](char s, Complex z) { return ComplexExpLog(s, z); };
  const auto real = [](char s, double x) { return RealExpLog(s, x); };
  switch (selector) {
    case 'e':
      return ApplySelected<'e'>(ctx, false, false, real, stays, outside, complex);
    case 'E':
      return ApplySelected<'E'>(ctx, false, false, real, stays, outside, complex);
    case 'l':
      return ApplySelected<'l'>(ctx, false, false, real, stays, outside, complex);
    case '1':
      return ApplySelected<'1'>(ctx, false, false, real, stays, outside, complex);
    case 'L':
      return ApplySelected<'L'>(ctx, false, false, real, stays, outside, complex);
    case '2':
      return ApplySelected<'2'>(ctx, false, false, real, stays, outside, complex);
    default:
      return ApplySelected<'s'>(ctx, false, false, real, stays, outside, complex);
  }
}

template <char S>
[[nodiscard]] StatusCode ApplyTrig(EngineContext* ctx, bool reciprocal) {
  const bool inverse = S >= 'A' && S <= 'Z';
  return ApplySelected<S>(
      ctx, reciprocal && inverse, reciprocal && !inverse, [](char s, double x) { return RealTrig(s, x); },
      [](char s, double x) { return TrigStaysReal(s, x); }, [](char s, double x) { return TrigOutside(s, x); },
      [](char s, Complex z) { return ComplexTrig(s, z); });
}

template <char S>
[[nodiscard]] StatusCode ApplyHyperbolic(EngineContext* ctx, bool reciprocal) {
  const bool inverse = S >= 'A' && S <= 'Z';
  return ApplySelected<S>(
      ctx, reciprocal && inverse, reciprocal && !inverse, [](char s, double x) { return RealHyperbolic(s, x); },
      [](char s, double x) { return HyperbolicStaysReal(s, x); },
      [](char s, double x) { return HyperbolicOutside(s, x); },
      [](char s, Complex z) { return ComplexHyperbolic(s, z); });
}

bool IsOneOf(char selector, const char* known) {
  for (const char* p = known; *p != 0; ++p)
    if (*p == selector) return true;
  return false;
}

// abs and angle: each element's real result in its real part, then the
// imaginary parts go.
template <class Real, class ComplexFn>
[[nodiscard]] StatusCode ReduceToReal(EngineContext* ctx, Real real, ComplexFn complex) {
  DoubleTop t;
  if (StatusCode st = ReadDoubleTop(ctx, &t); st != kOk) return st;
  if (t.im == nullptr) {
    for (int64_t k = 0; k < t.count; ++k) t.re[k] = real(t.re[k]);
    return kOk;
  }
  for (int64_t k = 0; k < t.count; ++k) t.re[k] = complex(Complex{t.re[k], t.im[k]});
  return ReportedStatus(DropImaginaryPart(ctx));
}

double RoundHalfUp(double x) {
  // x - floor(x) is exact or rounds only where it cannot cross 0.5, unlike
  // floor(x + 0.5), whose sum rounds 0.49999999999999994 up to 1.
  const double f = std::floor(x);
  return x - f >= 0.5 ? f + 1 : f;
}

}  // namespace

StatusCode abs(EngineContext* ctx) { return ReduceToReal(ctx, DoubleAbs, Modulus); }

StatusCode angle(EngineContext* ctx) {
  // A NaN angle stays NaN rather than passing for a negative number.
  return ReduceToReal(
      ctx, [](double x) { return x >= 0          ? 0
                                 : std::isnan(x) ? x
                                                 : kPi; },
      [](Complex z) { return std::atan2(z.im, z.re); });
}

StatusCode sign(EngineContext* ctx) {
  DoubleTop t;
  if (StatusCode st = ReadDoubleTop(ctx, &t); st != kOk) return st;
  if (t.im == nullptr) {
    for (int64_t k = 0; k < t.count; ++k) t.re[k] = DoubleSign(t.re[k]);
    return kOk;
  }
  for (int64_t k = 0; k < t.count; ++k) {
    const Complex z{t.re[k], t.im[k]};
    if (IsZero(z)) continue;
    // The scaled modulus keeps huge and tiny parts from overflowing or
    // vanishing in x^2 + y^2.
    const double m = Modulus(z);
    t.re[k] = z.re / m;
    t.im[k] = z.im / m;
  }
  return kOk;
}

StatusCode RoundElements(EngineContext* ctx, char selector) {
  if (!IsOneOf(selector, "tfcr")) return kNotSupported;
  DoubleTop t;
  if (StatusCode st = ReadDoubleTop(ctx, &t); st != kOk) return st;
  // The imaginary parts follow the real ones, and round the same way.
  const int64_t n = t.im != nullptr ? 2 * t.count : t.count;
  double* x = t.re;
  switch (selector) {
    case 't':
      for (int64_t k = 0; k < n; ++k) x[k] = x[k] >= 0 ? std::floor(x[k]) : std::ceil(x[k]);
      break;
    case 'f':
      for (int64_t k = 0; k < n; ++k) x[k] = std::floor(x[k]);
      break;
    case 'c':
      for (int64_t k = 0; k < n; ++k) x[k] = std::ceil(x[k]);
      break;
    default:
      for (int64_t k = 0; k < n; ++k) x[k] = RoundHalfUp(x[k]);
      break;
  }
  return kOk;
}

StatusCode ApplyExpLogFunction(EngineContext* ctx, char selector) {
  if (!IsOneOf(selector, "eEl1L2s")) return kNotSupported;
  return ApplyExpLog(ctx, selector);
}

StatusCode ApplyRealLogOrSqrt(EngineContext* ctx, char selector) {
  if (selector != 'l' && selector != 's') return kNotSupported;
  DoubleTop t;
  if (StatusCode st = ReadDoubleTop(ctx, &t); st != kOk) return st;
  if (StatusCode st = DropImaginaryPart(ctx); st != kOk) return ReportedStatus(st);
  if (StatusCode st = ReadDoubleTop(ctx, &t); st != kOk) return st;
  for (int64_t k = 0; k < t.count; ++k) t.re[k] = selector == 'l' ? std::log(t.re[k]) : std::sqrt(t.re[k]);
  return kOk;
}

StatusCode ApplyTrigFunction(EngineContext* ctx, char selector, int reciprocal) {
  const bool r = reciprocal != 0;
  switch (selector) {
    case 's':
      return ApplyTrig<'s'>(ctx, r);
    case 'c':
      return ApplyTrig<'c'>(ctx, r);
    case 't':
      return ApplyTrig<'t'>(ctx, r);
    case 'n':
      if (r) return kNotSupported;  // sinc has no reciprocal
      return ApplyTrig<'n'>(ctx, false);
    case 'S':
      return ApplyTrig<'S'>(ctx, r);
    case 'C':
      return ApplyTrig<'C'>(ctx, r);
    case 'T':
      return ApplyTrig<'T'>(ctx, r);
    default:
      return kNotSupported;
  }
}

StatusCode ApplyHyperbolicFunction(EngineContext* ctx, char selector, int reciprocal) {
  const bool r = reciprocal != 0;
  switch (selector) {
    case 's':
      return ApplyHyperbolic<'s'>(ctx, r);
    case 'c':
      return ApplyHyperbolic<'c'>(ctx, r);
    case 't':
      return ApplyHyperbolic<'t'>(ctx, r);
    case 'S':
      return ApplyHyperbolic<'S'>(ctx, r);
    case 'C':
      return ApplyHyperbolic<'C'>(ctx, r);
    case 'T':
      return ApplyHyperbolic<'T'>(ctx, r);
    default:
      return kNotSupported;
  }
}

StatusCode atan2(EngineContext* ctx) {
  int nd = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  double* re[2] = {};
  double* im[2] = {};
  uint8_t isArray[2] = {};
  if (StatusCode st =
          CheckElementwiseArgs(ctx, 2, &nd, dims, &count, re, im, nullptr, nullptr, nullptr, nullptr, nullptr, isArray);
      st != kOk)
    return ReportedStatus(st);
  double* out = nullptr;
  if (StatusCode st = PushDoubleArray(ctx, nd, dims, &out, nullptr); st != kOk) return st;
  // Position 0 is x (the top operand at the check), now at 1; y lies under it.
  double* x = nullptr;
  double* y = nullptr;
  (void)GetDoubleArrayArg(ctx, 1, nullptr, nullptr, nullptr, &x, nullptr);
  (void)GetDoubleArrayArg(ctx, 2, nullptr, nullptr, nullptr, &y, nullptr);
  const int64_t xs = isArray[0] ? 1 : 0, ys = isArray[1] ? 1 : 0;
  for (int64_t k = 0; k < count; ++k) out[k] = std::atan2(y[k * ys], x[k * xs]);
  return DropArgsUnderResults(ctx, 1, 2);
}

// ---------------------------------------------------------------------------
// Opcode handler: each builtin as its family's handler and selector.

StatusCode ElementaryOpcode(EngineContext* ctx, const int16_t* ins) {
  struct Call {
    Op op;
    char family;  // a abs, g angle, n sign, r round, e exp/log, R reallog/realsqrt, t trig, h hyperbolic
    char selector;
    int reciprocal;
  };
  static constexpr Call kCalls[] = {
      {Op::Abs, 'a', 0, 0},     {Op::Angle, 'g', 0, 0},   {Op::Sign, 'n', 0, 0},      {Op::Fix, 'r', 't', 0},
      {Op::Floor, 'r', 'f', 0}, {Op::Ceil, 'r', 'c', 0},  {Op::Round, 'r', 'r', 0},   {Op::Exp, 'e', 'e', 0},
      {Op::Expm1, 'e', 'E', 0}, {Op::Log, 'e', 'l', 0},   {Op::Log10, 'e', '1', 0},   {Op::Log1p, 'e', 'L', 0},
      {Op::Log2, 'e', '2', 0},  {Op::Sqrt, 'e', 's', 0},  {Op::Reallog, 'R', 'l', 0}, {Op::Realsqrt, 'R', 's', 0},
      {Op::Sin, 't', 's', 0},   {Op::Cos, 't', 'c', 0},   {Op::Tan, 't', 't', 0},     {Op::Sec, 't', 'c', 1},
      {Op::Csc, 't', 's', 1},   {Op::Cot, 't', 't', 1},   {Op::Asin, 't', 'S', 0},    {Op::Acos, 't', 'C', 0},
      {Op::Atan, 't', 'T', 0},  {Op::Asec, 't', 'C', 1},  {Op::Acsc, 't', 'S', 1},    {Op::Acot, 't', 'T', 1},
      {Op::Sinc, 't', 'n', 0},  {Op::Sinh, 'h', 's', 0},  {Op::Cosh, 'h', 'c', 0},    {Op::Tanh, 'h', 't', 0},
      {Op::Sech, 'h', 'c', 1},  {Op::Csch, 'h', 's', 1},  {Op::Coth, 'h', 't', 1},    {Op::Asinh, 'h', 'S', 0},
      {Op::Acosh, 'h', 'C', 0}, {Op::Atanh, 'h', 'T', 0}, {Op::Asech, 'h', 'C', 1},   {Op::Acsch, 'h', 'S', 1},
      {Op::Acoth, 'h', 'T', 1}, {Op::Atan2, '2', 0, 0},
  };
  const Op op = static_cast<Op>(ins[0]);
  for (const Call& c : kCalls) {
    if (c.op != op) continue;
    switch (c.family) {
      case 'a':
        return abs(ctx);
      case 'g':
        return angle(ctx);
      case 'n':
        return sign(ctx);
      case 'r':
        return RoundElements(ctx, c.selector);
      case 'e':
        return ApplyExpLogFunction(ctx, c.selector);
      case 'R':
        return ApplyRealLogOrSqrt(ctx, c.selector);
      case 't':
        return ApplyTrigFunction(ctx, c.selector, c.reciprocal);
      case 'h':
        return ApplyHyperbolicFunction(ctx, c.selector, c.reciprocal);
      default:
        return atan2(ctx);
    }
  }
  return kNotSupported;
}
