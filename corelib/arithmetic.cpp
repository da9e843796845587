// Elementwise arithmetic: the one kernel behind plus, minus, times, the two
// divisions, rem, mod, power and realpow with its class rules, the complex
// power of one pair, and the in-place unary builtins uminus, uplus and conj.
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <type_traits>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/values/valuestack.h"

namespace {

// One operand's elements as the loops see them: a scalar operand steps by 0,
// so it is never expanded.
template <class F>
struct Operand {
  const F* re;
  const F* im;  // null for a real operand
  int64_t step;
};

template <class F>
Operand<F> OperandOf(const NumericView& v) {
  const F* re = reinterpret_cast<const F*>(v.data);
  return {re, IsComplexClass(v.cls) ? re + v.count : nullptr, v.count == 1 ? 0 : 1};
}

// The real double rules of every selector but the powers.
double RealScalarResult(char op, double a, double b) {
  switch (op) {
    case '+':
      return a + b;
    case '-':
      return a - b;
    case '*':
      return a * b;
    case '/':
      return a / b;
    case '%':
      return std::fmod(a, b);
    default:  // 'o'
      return b == 0 ? a : std::fmod(std::fmod(a, b) + b, b);
  }
}

// Integer-valued in the power rule's sense; false for NaN.
bool IsIntegerValued(double b) { return std::floor(b + 0.5) == b; }

double RealPowerElement(double a, double b) {
  if (IsIntegerValued(b) && a < 0) {
    const double p = std::pow(-a, b);
    return std::fmod(b, 2) == 0 ? p : -p;
  }
  return std::pow(a, b);
}

template <class F, class Fn>
void RealLoop(Operand<F> a, Operand<F> b, F* out, int64_t n, Fn fn) {
  const F* x = a.re;
  const F* y = b.re;
  for (int64_t k = 0; k < n; ++k, x += a.step, y += b.step)
    out[k] = static_cast<F>(fn(static_cast<double>(*x), static_cast<double>(*y)));
}

// power on real operands. A negative base under a non-integer exponent turns
// the whole result complex the first time it happens; the imaginary parts of
// the elements before it were zeroed when the result grew.
template <class F>
[[nodiscard]] StatusCode RealPower(EngineContext* ctx, Operand<F> a, Operand<F> b, F* out, int64_t n) {
  if (std::is_same_v<F, double> && b.step == 0 && *b.re == 2) {
    RealLoop(a, b, out, n, [](double x, double) { return x * x; });
    return kOk;
  }
  F* im = nullptr;
  for (int64_t k = 0; k < n; ++k) {
    const double x = a.re[k * a.step];
    const double y = b.re[k * b.step];
    if (!(x < 0) || IsIntegerValued(y)) {
      out[k] = static_cast<F>(RealPowerElement(x, y));
      continue;
    }
    if (im == nullptr) {
      void* imag = nullptr;
      if (StatusCode st = MakeTopComplex(ctx, &imag); st != kOk) return st;
      im = static_cast<F*>(imag);
    }
    double re = 0, ip = 0;
    ComputeComplexPower(x, 0, y, 0, &re, &ip);
    out[k] = static_cast<F>(re);
    im[k] = static_cast<F>(ip);
  }
  return kOk;
}

// Division by a complex b with Smith's scaling, so |b|^2 never overflows.
void ComplexDivide(double ar, double ai, double br, double bi, double* re, double* im) {
  if (std::fabs(bi) < std::fabs(br)) {
    const double r = bi / br, t = 1 / (br + r * bi);
    *re = (ar + r * ai) * t, *im = (ai - r * ar) * t;
  } else if (bi != 0) {
    const double r = br / bi, t = 1 / (r * br + bi);
    *re = (r * ar + ai) * t, *im = (r * ai - ar) * t;
  } else if (ai == 0) {
    *re = ar / 0.0, *im = 0;
  } else {
    *re = *im = std::numeric_limits<double>::quiet_NaN();
  }
}

// Either operand complex; a real operand reads as imaginary part 0.
template <class F>
void ComplexLoop(char op, Operand<F> a, Operand<F> b, F* ore, F* oim, int64_t n) {
  for (int64_t k = 0; k < n; ++k) {
    const double ar = a.re[k * a.step], ai = a.im ? a.im[k * a.step] : 0;
    const double br = b.re[k * b.step], bi = b.im ? b.im[k * b.step] : 0;
    double re = 0, im = 0;
    switch (op) {
      case '+':
        re = ar + br, im = ai + bi;
        break;
      case '-':
        re = ar - br, im = ai - bi;
        break;
      case '*':
        re = ar * br - ai * bi, im = ar * bi + ai * br;
        break;
      case '/':
        if (b.im == nullptr)
          re = ar / br, im = ai / br;
        else
          ComplexDivide(ar, ai, br, bi, &re, &im);
        break;
      default:  // '^'
        ComputeComplexPower(ar, ai, br, bi, &re, &im);
        break;
    }
    ore[k] = static_cast<F>(re);
    oim[k] = static_cast<F>(im);
  }
}

template <class F>
[[nodiscard]] StatusCode FloatKernel(EngineContext* ctx, char op, const NumericView& va, const NumericView& vb, F* out,
                                     F* outIm, int64_t n) {
  Operand<F> a = OperandOf<F>(va);
  Operand<F> b = OperandOf<F>(vb);
  if (op == 'r') a.im = b.im = nullptr;
  if (outIm != nullptr) {
    ComplexLoop(op, a, b, out, outIm, n);
    return kOk;
  }
  switch (op) {
    case '^':
      return RealPower(ctx, a, b, out, n);
    case 'r':
      RealLoop(a, b, out, n, [](double x, double y) { return std::pow(x, y); });
      return kOk;
    default:
      RealLoop(a, b, out, n, [op](double x, double y) { return RealScalarResult(op, x, y); });
      return kOk;
  }
}

// Integer elements wrap at the class width: sums, differences and products
// are formed in 64-bit unsigned arithmetic and cut back.
template <class T, class Fn>
void IntegerLoop(const T* a, int64_t sa, const T* b, int64_t sb, T* out, int64_t n, Fn fn) {
  for (int64_t k = 0; k < n; ++k, a += sa, b += sb) out[k] = fn(*a, *b);
}

template <class T>
void IntegerKernel(char op, const NumericView& va, const NumericView& vb, void* result, int64_t n) {
  constexpr bool kSigned = std::is_signed_v<T>;
  const T* a = reinterpret_cast<const T*>(va.data);
  const T* b = reinterpret_cast<const T*>(vb.data);
  const int64_t sa = va.count == 1 ? 0 : 1, sb = vb.count == 1 ? 0 : 1;
  T* out = static_cast<T*>(result);
  auto wrap = [](uint64_t v) { return static_cast<T>(v); };
  switch (op) {
    case '+':
      IntegerLoop(a, sa, b, sb, out, n, [&](T x, T y) { return wrap(uint64_t(x) + uint64_t(y)); });
      break;
    case '-':
      IntegerLoop(a, sa, b, sb, out, n, [&](T x, T y) { return wrap(uint64_t(x) - uint64_t(y)); });
      break;
    case '*':
      IntegerLoop(a, sa, b, sb, out, n, [&](T x, T y) { return wrap(uint64_t(x) * uint64_t(y)); });
      break;
    case '/':
      // The most negative value over -1 wraps back to itself.
      IntegerLoop(a, sa, b, sb, out, n, [&](T x, T y) -> T {
        if (y == 0) return 0;
        if (kSigned && y == T(-1)) return wrap(0 - uint64_t(x));
        return static_cast<T>(x / y);
      });
      break;
    case '%':
      IntegerLoop(a, sa, b, sb, out, n, [](T x, T y) -> T {
        if (y == 0 || (kSigned && y == T(-1))) return 0;
        return static_cast<T>(x % y);
      });
      break;
    default:  // 'o'
      IntegerLoop(a, sa, b, sb, out, n, [](T x, T y) -> T {
        if (y == 0) return kSigned ? x : T(0);
        if (kSigned && y == T(-1)) return 0;
        T r = static_cast<T>(x % y);
        // r and y differ in sign here, so r + y stays in range.
        if (kSigned && r != 0 && (r < 0) != (y < 0)) r = static_cast<T>(r + y);
        return r;
      });
      break;
  }
}

void IntegerArithmetic(uint32_t cls, char op, const NumericView& va, const NumericView& vb, void* out, int64_t n) {
  switch (cls) {
    case kInt8:
      return IntegerKernel<int8_t>(op, va, vb, out, n);
    case kInt16:
      return IntegerKernel<int16_t>(op, va, vb, out, n);
    case kInt32:
      return IntegerKernel<int32_t>(op, va, vb, out, n);
    case kInt64:
      return IntegerKernel<int64_t>(op, va, vb, out, n);
    case kUint8:
      return IntegerKernel<uint8_t>(op, va, vb, out, n);
    case kUint16:
      return IntegerKernel<uint16_t>(op, va, vb, out, n);
    case kUint32:
      return IntegerKernel<uint32_t>(op, va, vb, out, n);
    default:
      return IntegerKernel<uint64_t>(op, va, vb, out, n);
  }
}

// Negates n elements of `bytes` width in two's complement.
template <class U>
void NegateWords(void* data, int64_t n) {
  U* p = static_cast<U*>(data);
  for (int64_t k = 0; k < n; ++k) p[k] = static_cast<U>(U{0} - p[k]);
}

template <class F>
void NegateRun(void* data, int64_t n) {
  F* p = static_cast<F*>(data);
  for (int64_t k = 0; k < n; ++k) p[k] = -p[k];
}

char SelectorOf(Op op) {
  switch (op) {
    case Op::Plus:
      return '+';
    case Op::Minus:
      return '-';
    case Op::Times:
      return '*';
    case Op::Rdivide:
      return '/';
    case Op::Ldivide:
      return '\\';
    case Op::Rem:
      return '%';
    case Op::Mod:
      return 'o';
    case Op::Power:
      return '^';
    default:  // Op::Realpow
      return 'r';
  }
}

}  // namespace

void ComputeComplexPower(double ar, double ai, double br, double bi, double* re, double* im) {
  if (br == 0 && bi == 0) {
    *re = 1, *im = 0;
    return;
  }
  if (ar == 0 && ai == 0) {
    // As for real zero: a negative real part divides by zero, and with no
    // real part (or a NaN one) the modulus is undetermined.
    if (br > 0)
      *re = 0, *im = 0;
    else if (br < 0)
      *re = std::numeric_limits<double>::infinity(), *im = 0;
    else
      *re = *im = std::numeric_limits<double>::quiet_NaN();
    return;
  }
  double l = 0, theta = 0;
  if (ai != 0) {
    l = 0.5 * std::log(ar * ar + ai * ai);
    theta = std::atan2(ai, ar);
  } else if (ar >= 0) {
    l = std::log(ar);
  } else {
    l = std::log(-ar);
    theta = std::numbers::pi;
  }
  const double w = std::exp(br * l - bi * theta);
  const double phi = br * theta + bi * l;
  *re = w * std::cos(phi);
  *im = w * std::sin(phi);
}

StatusCode ApplyElementwiseArithmetic(EngineContext* ctx, char selector) {
  const bool scalars = IsRealScalar(*DescriptorAt(ctx, 0)) && IsRealScalar(*DescriptorAt(ctx, 1));
  if (scalars && selector != '^' && selector != 'r') {
    // The first operand's one cell lies just below the second's.
    Cell* b = TopData(ctx);
    Cell* a = b - 1;
    a->f = selector == '\\' ? b->f / a->f : RealScalarResult(selector, a->f, b->f);
    PopValue(ctx);
    return kOk;
  }
  if (!scalars) {
    const StatusCode st = UnifyNumericArgs(ctx, 2);
    if (st != kOk) return ReportedStatus(st);
  }
  int ndims = 2;
  int32_t dims[kMaxDims];
  int64_t n = 0;
  {
    double* re[2];
    double* im[2];
    float* sre[2];
    float* sim[2];
    void* ints[2];
    int bytes[2];
    bool isUnsigned[2];
    uint8_t isArray[2];
    const StatusCode st =
        CheckElementwiseArgs(ctx, 2, &ndims, dims, &n, re, im, sre, sim, ints, bytes, isUnsigned, isArray);
    if (st != kOk) return ReportedStatus(st);
  }
  NumericView va, vb;
  ReadNumeric(ctx, 1, &va);
  ReadNumeric(ctx, 0, &vb);
  const uint32_t cls = va.cls;
  const bool anyComplex = IsComplexClass(va.cls) || IsComplexClass(vb.cls);
  const bool integer = IsIntegerClass(cls);
  if (integer && (selector == '^' || selector == 'r')) return kBadArg;
  if (anyComplex && (selector == '%' || selector == 'o')) return kWrongTypeInternal;
  const bool complex = anyComplex && selector != 'r';

  void* out = nullptr;
  void* outIm = nullptr;
  if (integer) {
    if (StatusCode st = PushIntegerArray(ctx, ndims, dims, ElementBytes(cls), (cls & 0x80) != 0, &out); st != kOk)
      return st;
  } else if (cls == kDouble || cls == kComplexDouble) {
    double *re = nullptr, *im = nullptr;
    if (StatusCode st = PushDoubleArray(ctx, ndims, dims, &re, complex ? &im : nullptr); st != kOk) return st;
    out = re, outIm = im;
  } else {
    float *re = nullptr, *im = nullptr;
    if (StatusCode st = PushSingleArray(ctx, ndims, dims, &re, complex ? &im : nullptr); st != kOk) return st;
    out = re, outIm = im;
  }
  // The push left the operands where they were, one place further down.
  ReadNumeric(ctx, 2, &va);
  ReadNumeric(ctx, 1, &vb);
  char op = selector;
  const NumericView* first = &va;
  const NumericView* second = &vb;
  if (op == '\\') op = '/', std::swap(first, second);

  StatusCode st = kOk;
  if (integer)
    IntegerArithmetic(cls, op, *first, *second, out, n);
  else if (cls == kDouble || cls == kComplexDouble)
    st = FloatKernel(ctx, op, *first, *second, static_cast<double*>(out), static_cast<double*>(outIm), n);
  else
    st = FloatKernel(ctx, op, *first, *second, static_cast<float*>(out), static_cast<float*>(outIm), n);
  if (st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 2);
}

StatusCode Uminus(EngineContext* ctx) {
  ValueDescriptor& d = *DescriptorAt(ctx, 0);
  Cell* data = TopData(ctx);
  if (IsPlainMatrix(d)) {
    NegateRun<double>(data, d.cells);
    return kOk;
  }
  if (!IsBoxedArray(d)) return kWrongType;
  const ArrayView a = ReadArray(data);
  switch (a.cls) {
    case kDouble:
    case kComplexDouble:
      NegateRun<double>(a.data, a.count * (a.cls == kComplexDouble ? 2 : 1));
      break;
    case kSingle:
    case kComplexSingle:
      NegateRun<float>(a.data, a.count * (a.cls == kComplexSingle ? 2 : 1));
      break;
    default:
      switch (ElementBytes(a.cls)) {
        case 1:
          NegateWords<uint8_t>(a.data, a.count);
          break;
        case 2:
          NegateWords<uint16_t>(a.data, a.count);
          break;
        case 4:
          NegateWords<uint32_t>(a.data, a.count);
          break;
        default:
          NegateWords<uint64_t>(a.data, a.count);
          break;
      }
      break;
  }
  // A negated character or logical array is a number array of its class.
  d.extra = kNumericArray;
  return kOk;
}

StatusCode Uplus(EngineContext* ctx) {
  ValueDescriptor& d = *DescriptorAt(ctx, 0);
  if (IsPlainMatrix(d)) return kOk;
  if (!IsBoxedArray(d)) return kWrongType;
  d.extra = kNumericArray;
  return kOk;
}

StatusCode Conj(EngineContext* ctx) {
  ValueDescriptor& d = *DescriptorAt(ctx, 0);
  Cell* data = TopData(ctx);
  if (IsPlainMatrix(d)) {
    if (d.kind & kComplex) NegateRun<double>(data + d.cells / 2, d.cells / 2);
    return kOk;
  }
  if (!IsBoxedArray(d)) return kWrongType;
  const ArrayView a = ReadArray(data);
  if (a.cls == kComplexDouble) NegateRun<double>(reinterpret_cast<double*>(a.data) + a.count, a.count);
  if (a.cls == kComplexSingle) NegateRun<float>(reinterpret_cast<float*>(a.data) + a.count, a.count);
  return kOk;
}

StatusCode ElementwiseArithmeticOpcode(EngineContext* ctx, const int16_t* ins) {
  return ApplyElementwiseArithmetic(ctx, SelectorOf(static_cast<Op>(ins[0])));
}

StatusCode UminusOpcode(EngineContext* ctx, const int16_t*) { return Uminus(ctx); }
StatusCode UplusOpcode(EngineContext* ctx, const int16_t*) { return Uplus(ctx); }
StatusCode ConjOpcode(EngineContext* ctx, const int16_t*) { return Conj(ctx); }
