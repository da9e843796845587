// The natives of the special functions, the probability distributions and the
// integer functions: elementwise over double arrays, scalars broadcast.
//
// Every native pushes its result before it writes anything (the one-argument
// natives only shed an imaginary part, which a rerun repeats harmlessly), so a
// failure for room leaves the arguments as they were.
#include <cmath>
#include <cstring>
#include <limits>

#include "numeric/numeric.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.141592653589793;
constexpr StatusCode kNoConvergence = 9;

intptr_t Selector(void* selector) { return reinterpret_cast<intptr_t>(selector); }

// Applies f to the n arguments element by element into a new array of their
// common size. f(values in argument order, out) answers 0 or an error that
// ends the native.
template <int N, class F>
[[nodiscard]] StatusCode Elementwise(EngineContext* ctx, F f) {
  int nd = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  double* re[N] = {};
  uint8_t isArray[N] = {};
  if (StatusCode st = CheckElementwiseArgs(ctx, N, &nd, dims, &count, re, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, isArray);
      st != kOk)
    return ReportedStatus(st);
  double* out = nullptr;
  if (StatusCode st = PushDoubleArray(ctx, nd, dims, &out, nullptr); st != kOk) return st;
  // Argument j sat at position N - 1 - j; the result now lies above it.
  const double* in[N] = {};
  int64_t step[N] = {};
  for (int j = 0; j < N; ++j) {
    double* p = nullptr;
    (void)GetDoubleArrayArg(ctx, N - j, nullptr, nullptr, nullptr, &p, nullptr);
    in[j] = p;
    step[j] = isArray[N - 1 - j] ? 1 : 0;
  }
  double v[N];
  for (int64_t k = 0; k < count; ++k) {
    for (int j = 0; j < N; ++j) v[j] = in[j][k * step[j]];
    if (StatusCode st = f(v, &out[k]); st != kOk) return st;
  }
  return DropArgsUnderResults(ctx, 1, N);
}

// The common shape of the top n arguments, and for each its data and stride
// once `above` results lie over them.
struct Shape {
  int nd = 0;
  int32_t dims[kMaxDims] = {};
  int64_t count = 0;
  uint8_t isArray[3] = {};
};

[[nodiscard]] StatusCode CheckShape(EngineContext* ctx, int n, Shape* s) {
  double* re[3] = {};
  return ReportedStatus(CheckElementwiseArgs(ctx, n, &s->nd, s->dims, &s->count, re, nullptr, nullptr, nullptr, nullptr,
                                             nullptr, nullptr, s->isArray));
}

// Pushes k results of the shape, the first on top, and reads them back.
[[nodiscard]] StatusCode PushResults(EngineContext* ctx, int k, const Shape& s, double** out) {
  for (int i = 0; i < k; ++i)
    if (StatusCode st = PushDoubleArray(ctx, s.nd, s.dims, nullptr, nullptr); st != kOk) {
      (void)DropArgsUnderResults(ctx, 0, i);
      return st;
    }
  for (int i = 0; i < k; ++i) (void)GetDoubleArrayArg(ctx, i, nullptr, nullptr, nullptr, &out[i], nullptr);
  return kOk;
}

void ReadInputs(EngineContext* ctx, int n, int above, const Shape& s, const double** in, int64_t* step) {
  for (int j = 0; j < n; ++j) {
    double* p = nullptr;
    (void)GetDoubleArrayArg(ctx, n - 1 - j + above, nullptr, nullptr, nullptr, &p, nullptr);
    in[j] = p;
    step[j] = s.isArray[n - 1 - j] ? 1 : 0;
  }
}

// Replaces every element of the one argument by f of its real part.
template <class F>
[[nodiscard]] StatusCode InPlace(EngineContext* ctx, F f) {
  double* re = nullptr;
  if (StatusCode st = GetDoubleArrayArg(ctx, 0, nullptr, nullptr, nullptr, &re, nullptr); st != kOk)
    return ReportedStatus(st);
  if (StatusCode st = DropImaginaryPart(ctx); st != kOk) return ReportedStatus(st);
  int64_t count = 0;
  (void)GetDoubleArrayArg(ctx, 0, nullptr, nullptr, &count, &re, nullptr);
  for (int64_t k = 0; k < count; ++k) re[k] = f(re[k]);
  return kOk;
}

// A double holds an int32 exactly when it is integral and inside the range;
// testing before converting keeps NaN and huge values from a cast.
bool IsInt32(double x) { return x == std::floor(x) && x >= INT32_MIN && x <= INT32_MAX; }

// ---------------------------------------------------------------------------
// Distribution kernels: (point, first parameter, second parameter, out).
// One-parameter kernels ignore the second.

using DistributionKernel = bool (*)(double x, double a, double b, double* out);

bool Set(double* out, double v) {
  *out = v;
  return true;
}

bool NormPdf(double x, double mu, double s, double* out) {
  return Set(out, std::exp(-(x - mu) * (x - mu) / (2 * s * s)) / (s * std::sqrt(2 * kPi)));
}
bool NormCdf(double x, double mu, double s, double* out) {
  return Set(out, (ComputeErf((x - mu) / (s * std::sqrt(2.0)), false) + 1) / 2);
}
bool NormIcdf(double p, double mu, double s, double* out) {
  return Set(out, mu + s * std::sqrt(2.0) * ComputeErfInv(2 * p - 1));
}

bool UnifPdf(double x, double a, double b, double* out) {
  if (b < a) return false;
  return Set(out, x >= a && x < b ? 1 / (b - a) : 0);
}
bool UnifCdf(double x, double a, double b, double* out) {
  if (b < a) return false;
  return Set(out, x < a ? 0 : x < b ? (x - a) / (b - a) : 1);
}
bool UnifIcdf(double p, double a, double b, double* out) {
  if (b < a) return false;
  if (!(p >= 0 && p <= 1)) return Set(out, kNaN);
  return Set(out, p == 0 ? a : p == 1 ? b : a + p * (b - a));
}

bool Chi2Pdf(double x, double k, double, double* out) {
  if (x <= 0) return Set(out, 0);
  return Set(out, std::exp((k * std::log(x / 2) - x) / 2) / (x * ComputeGamma(k / 2, false)));
}
bool Chi2Cdf(double x, double k, double, double* out) {
  if (x < 0) return Set(out, 0);
  return ComputeGammaP(k / 2, x / 2, out);
}
bool Chi2Icdf(double p, double k, double, double* out) {
  if (!InvertGammaCdf(p, k / 2, 1, out)) return false;
  *out *= 2;
  return true;
}

bool IsPositiveInt32(double nu) { return nu > 0 && IsInt32(nu); }

bool TPdf(double x, double nu, double, double* out) {
  if (!IsPositiveInt32(nu)) return Set(out, kNaN);
  return Set(out, ComputeGamma((nu + 1) / 2, false) /
                      (std::sqrt(nu * kPi) * ComputeGamma(nu / 2, false) * std::pow(1 + x * x / nu, (nu + 1) / 2)));
}
bool TCdf(double x, double nu, double, double* out) {
  if (!IsPositiveInt32(nu)) return Set(out, kNaN);
  if (nu == 1) return Set(out, std::atan(x) / kPi + 0.5);
  if (x == 0) return Set(out, 0.5);
  double i = 0;
  if (!ComputeBetaI(nu / (nu + x * x), nu / 2, 0.5, &i)) return false;
  return Set(out, 0.5 + (x > 0 ? 0.5 : -0.5) * (1 - i));
}
bool TIcdf(double p, double nu, double, double* out) {
  const double q = p >= 0.5 ? p : 1 - p;
  double y = 0;
  if (!InvertBetaI(2 * q - 1, 0.5, nu / 2, &y)) return false;
  const double t = std::sqrt(nu * y / (1 - y));
  return Set(out, p < 0.5 ? -t : t);
}

bool FPdf(double x, double d1, double d2, double* out) {
  if (!(x >= 0)) return Set(out, 0);
  const double c = d2 + x * d1;
  return Set(out, std::pow(x * d1 / c, d1 / 2) * std::pow(d2 / c, d2 / 2) / (x * ComputeBeta(d1 / 2, d2 / 2)));
}
bool FCdf(double x, double d1, double d2, double* out) {
  if (x < 0) return Set(out, 0);
  double i = 0;
  if (!ComputeBetaI(d2 / (d2 + x * d1), d2 / 2, d1 / 2, &i)) return false;
  return Set(out, 1 - i);
}
bool FIcdf(double p, double d1, double d2, double* out) {
  double y = 0;
  if (!InvertBetaI(p, d1 / 2, d2 / 2, &y)) return false;
  return Set(out, d2 * y / ((1 - y) * d1));
}

bool ExpPdf(double x, double mu, double, double* out) { return Set(out, x >= 0 ? std::exp(-x / mu) / mu : 0); }
bool ExpCdf(double x, double mu, double, double* out) { return Set(out, x > 0 ? 1 - std::exp(-x / mu) : 0); }

bool BetaPdf(double x, double a, double b, double* out) {
  if (!(x > 0 && x < 1)) return Set(out, 0);
  return Set(out, std::pow(x, a - 1) * std::pow(1 - x, b - 1) / ComputeBeta(a, b));
}
bool BetaCdf(double x, double a, double b, double* out) {
  if (x <= 0) return Set(out, 0);
  if (x >= 1) return Set(out, 1);
  return ComputeBetaI(x, a, b, out);
}
bool BetaIcdf(double p, double a, double b, double* out) { return InvertBetaI(p, a, b, out); }

bool RaylPdf(double x, double s, double, double* out) {
  return Set(out, x > 0 ? x / (s * s) * std::exp(-x * x / (2 * s * s)) : 0);
}
bool RaylCdf(double x, double s, double, double* out) {
  return Set(out, x > 0 ? 1 - std::exp(-x * x / (2 * s * s)) : 0);
}

bool CauchyPdf(double x, double x0, double g, double* out) {
  const double z = (x - x0) / g;
  return Set(out, 1 / (g * kPi * (1 + z * z)));
}
bool CauchyCdf(double x, double x0, double g, double* out) { return Set(out, std::atan((x - x0) / g) / kPi + 0.5); }

bool ChiPdf(double x, double k, double, double* out) {
  if (x < 0) return Set(out, 0);
  return Set(out, std::pow(x, k - 1) * std::exp(-x * x / 2) / (std::pow(2, k / 2 - 1) * ComputeGamma(k / 2, false)));
}
bool ChiCdf(double x, double k, double, double* out) {
  if (x < 0) return Set(out, 0);
  return ComputeGammaP(k / 2, x * x / 2, out);
}

bool GammaPdf(double x, double k, double theta, double* out) {
  if (x < 0) return Set(out, 0);
  return Set(out, std::pow(x, k - 1) * std::exp(-x / theta) / (ComputeGamma(k, false) * std::pow(theta, k)));
}
bool GammaCdf(double x, double k, double theta, double* out) {
  if (x < 0) return Set(out, 0);
  return ComputeGammaP(k, x / theta, out);
}
bool GammaIcdf(double p, double k, double theta, double* out) { return InvertGammaCdf(p, k, theta, out); }

bool HalfNormalPdf(double x, double theta, double, double* out) {
  if (x < 0) return Set(out, 0);
  return Set(out, 2 * theta / kPi * std::exp(-theta * theta * x * x / kPi));
}
bool HalfNormalCdf(double x, double theta, double, double* out) {
  if (x < 0) return Set(out, 0);
  return Set(out, ComputeErf(theta * x / std::sqrt(kPi), false));
}

bool LaplacePdf(double x, double mu, double b, double* out) {
  return Set(out, std::exp(-std::fabs(x - mu) / b) / (2 * b));
}
bool LaplaceCdf(double x, double mu, double b, double* out) {
  const double s = x > mu ? 1 : -1;
  return Set(out, (1 + s * (1 - std::exp(-std::fabs(x - mu) / b))) / 2);
}

bool LognPdf(double x, double mu, double s, double* out) {
  if (x <= 0) return Set(out, 0);
  const double z = std::log(x) - mu;
  return Set(out, std::exp(-z * z / (2 * s * s)) / (x * s * std::sqrt(2 * kPi)));
}
bool LognCdf(double x, double mu, double s, double* out) {
  if (x <= 0) return Set(out, 0);
  return Set(out, (ComputeErf((std::log(x) - mu) / (s * std::sqrt(2.0)), false) + 1) / 2);
}
bool LognIcdf(double p, double mu, double s, double* out) {
  if (!(p >= 0 && p <= 1)) return Set(out, kNaN);
  if (p == 1) return Set(out, kInf);
  return Set(out, std::exp(mu + s * std::sqrt(2.0) * ComputeErfInv(2 * p - 1)));
}

bool WeibPdf(double x, double k, double lambda, double* out) {
  if (x < 0) return Set(out, 0);
  return Set(out, k * std::pow(x, k - 1) * std::exp(-std::pow(x / lambda, k)) / std::pow(lambda, k));
}
bool WeibCdf(double x, double k, double lambda, double* out) {
  if (x < 0) return Set(out, 0);
  return Set(out, 1 - std::exp(-std::pow(x / lambda, k)));
}

struct Distribution {
  const char* names[2];
  int parameters;
  bool defaults;  // both parameters optional, defaulting to 0 and 1
  DistributionKernel pdf, cdf, icdf;
};

constexpr Distribution kDistributions[] = {
    {{"norm", "normal"}, 2, true, &NormPdf, &NormCdf, &NormIcdf},
    {{"unif", "uniform"}, 2, true, &UnifPdf, &UnifCdf, &UnifIcdf},
    {{"chi2", "chisquare"}, 1, false, &Chi2Pdf, &Chi2Cdf, &Chi2Icdf},
    {{"student", "t"}, 1, false, &TPdf, &TCdf, &TIcdf},
    {{"f", nullptr}, 2, false, &FPdf, &FCdf, &FIcdf},
    {{"exp", "exponential"}, 1, false, &ExpPdf, &ExpCdf, nullptr},
    {{"beta", nullptr}, 2, false, &BetaPdf, &BetaCdf, &BetaIcdf},
    {{"rayl", "rayleigh"}, 1, false, &RaylPdf, &RaylCdf, nullptr},
    {{"cauchy", nullptr}, 2, false, &CauchyPdf, &CauchyCdf, nullptr},
    {{"chi", nullptr}, 1, false, &ChiPdf, &ChiCdf, nullptr},
    {{"gamma", nullptr}, 2, false, &GammaPdf, &GammaCdf, &GammaIcdf},
    {{"half-normal", nullptr}, 1, false, &HalfNormalPdf, &HalfNormalCdf, nullptr},
    {{"laplace", nullptr}, 2, false, &LaplacePdf, &LaplaceCdf, nullptr},
    {{"logn", "lognormal"}, 2, true, &LognPdf, &LognCdf, &LognIcdf},
    {{"weib", "weibull"}, 2, false, &WeibPdf, &WeibCdf, nullptr},
};

const Distribution* FindDistribution(const char* name) {
  for (const Distribution& d : kDistributions)
    for (const char* n : d.names)
      if (n && std::strcmp(n, name) == 0) return &d;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Integer functions.

// C(n, k) for integral 0 <= k <= n: exact while below 2^53, where every
// partial product r (n - k + i) stays below 2^106; beyond, the same product in
// doubles, which at least doubles per step and so reaches Inf quickly.
double Binomial(double n, double k) {
  k = std::fmin(k, n - k);
  constexpr double kExact = 0x1p53;
  double i = 1;
  double r = 1;
  if (n < kExact) {
    const auto nn = static_cast<unsigned __int128>(n), kk = static_cast<unsigned __int128>(k);
    unsigned __int128 q = 1;
    unsigned __int128 j = 1;
    for (; j <= kk; ++j) {
      q = q * (nn - kk + j) / j;
      if (q >= static_cast<unsigned __int128>(1) << 53) {
        ++j;
        break;
      }
    }
    r = static_cast<double>(q);
    if (j > kk) return r;
    i = static_cast<double>(j);
  }
  for (; i <= k && r != kInf; ++i) r = r * (n - k + i) / i;
  return r;
}

}  // namespace

// ---------------------------------------------------------------------------
// Special functions.

StatusCode ErfNative(EngineContext* ctx, int, int, void* selector) {
  switch (Selector(selector)) {
    case 1:
      return InPlace(ctx, [](double x) { return ComputeErf(x, false); });
    case 2:
      return InPlace(ctx, [](double x) { return ComputeErf(x, true); });
    default:
      return InPlace(ctx, [](double x) { return ComputeErfInv(x); });
  }
}

StatusCode GammaNative(EngineContext* ctx, int, int, void* selector) {
  switch (Selector(selector)) {
    case 1:
      return InPlace(ctx, [](double x) { return ComputeGamma(x, false); });
    case 2:
      return InPlace(ctx, [](double x) { return ComputeLogGamma(x); });
    default:
      return InPlace(ctx, [](double x) { return ComputeGamma(x, true); });
  }
}

StatusCode DilnNative(EngineContext* ctx, int, int, void*) {
  return InPlace(ctx, [](double x) { return ComputeDilogarithm(x); });
}

StatusCode GammaincNative(EngineContext* ctx, int, int, void*) {
  return Elementwise<2>(
      ctx, [](const double* v, double* out) { return ComputeGammaP(v[1], v[0], out) ? kOk : kNoConvergence; });
}

StatusCode BetaNative(EngineContext* ctx, int, int, void* selector) {
  const bool log = Selector(selector) == 2;
  return Elementwise<2>(ctx, [log](const double* v, double* out) {
    *out = log ? ComputeLogBeta(v[0], v[1]) : ComputeBeta(v[0], v[1]);
    return kOk;
  });
}

StatusCode BetaincNative(EngineContext* ctx, int, int, void* selector) {
  using Kernel = bool (*)(double, double, double, double*);
  const auto kernel = reinterpret_cast<Kernel>(selector);
  return Elementwise<3>(
      ctx, [kernel](const double* v, double* out) { return kernel(v[0], v[1], v[2], out) ? kOk : kNoConvergence; });
}

StatusCode NthrootNative(EngineContext* ctx, int, int, void*) {
  return Elementwise<2>(ctx, [](const double* v, double* out) {
    const double x = v[0], n = v[1];
    const bool odd = IsInt32(n) && std::fmod(n, 2.0) != 0;
    *out = x < 0 && odd ? -std::pow(-x, 1 / n) : std::pow(x, 1 / n);
    return kOk;
  });
}

StatusCode HypotNative(EngineContext* ctx, int, int, void*) {
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
  (void)GetDoubleArrayArg(ctx, 1, nullptr, nullptr, nullptr, &re[0], &im[0]);
  (void)GetDoubleArrayArg(ctx, 2, nullptr, nullptr, nullptr, &re[1], &im[1]);
  for (int64_t k = 0; k < count; ++k) {
    double c[4];
    int n = 0;
    for (int j = 0; j < 2; ++j) {
      const int64_t at = isArray[j] ? k : 0;
      c[n++] = std::fabs(re[j][at]);
      if (im[j]) c[n++] = std::fabs(im[j][at]);
    }
    double m = 0;
    for (int j = 0; j < n; ++j) m = std::isnan(c[j]) || c[j] > m ? c[j] : m;
    if (m == 0 || std::isinf(m)) {
      out[k] = m;
      continue;
    }
    // Scaling by the largest keeps the squares from overflowing.
    double sum = 0;
    for (int j = 0; j < n; ++j) sum += (c[j] / m) * (c[j] / m);
    out[k] = m * std::sqrt(sum);
  }
  return DropArgsUnderResults(ctx, 1, 2);
}

// ---------------------------------------------------------------------------
// Probability distributions.

StatusCode DistributionNative(EngineContext* ctx, int nargin, int, void* selector) {
  if (!IsCharArg(ctx, nargin - 1)) return kWrongType;
  char name[16];
  int64_t length = 0;
  // A name longer than the buffer matches nothing.
  if (CopyStringArgToBuffer(ctx, nargin - 1, name, sizeof name - 1, &length) != kOk) length = 0;
  name[length] = 0;
  const int n = nargin - 1;
  int nd = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  double* re[3] = {};
  uint8_t isArray[3] = {};
  StatusCode st = CheckElementwiseArgs(ctx, n, &nd, dims, &count, re, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, isArray);
  if (st == kWrongTypeInternal) {
    bool converted = false;
    if (st = ConvertArgsToFloat(ctx, -n, false, &converted); st != kOk) return ReportedStatus(st);
    st = CheckElementwiseArgs(ctx, n, &nd, dims, &count, re, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              isArray);
  }
  if (st != kOk) return ReportedStatus(st);

  const Distribution* d = FindDistribution(name);
  if (!d) return kUnknownOpt;
  if (n < (d->defaults ? 1 : d->parameters + 1)) return kTooFewArgin;
  if (n > d->parameters + 1) return kTooManyArgin;
  const char mode = static_cast<char>(Selector(selector));
  const DistributionKernel kernel = mode == 'p' ? d->pdf : mode == 'c' ? d->cdf : d->icdf;
  if (!kernel) return kNotSupported;

  double* out = nullptr;
  if (st = PushDoubleArray(ctx, nd, dims, &out, nullptr); st != kOk) return st;
  // Argument j (0 the point) sat at position n - 1 - j.
  const double defaults[3] = {0, 0, 1};
  const double* in[3] = {&defaults[0], &defaults[1], &defaults[2]};
  int64_t step[3] = {};
  for (int j = 0; j < n; ++j) {
    double* p = nullptr;
    (void)GetDoubleArrayArg(ctx, n - j, nullptr, nullptr, nullptr, &p, nullptr);
    in[j] = p;
    step[j] = isArray[n - 1 - j] ? 1 : 0;
  }
  for (int64_t k = 0; k < count; ++k)
    if (!kernel(in[0][k * step[0]], in[1][k * step[1]], in[2][k * step[2]], &out[k])) return kNoConvergence;
  return DropArgsUnderResults(ctx, 1, nargin);
}

// ---------------------------------------------------------------------------
// Integer functions.

StatusCode NchoosekNative(EngineContext* ctx, int, int, void*) {
  return Elementwise<2>(ctx, [](const double* v, double* out) {
    const double n = v[0], k = v[1];
    if (!(n >= 0 && n == std::floor(n) && k >= 0 && k == std::floor(k) && k <= n) || std::isinf(n)) return kBadArg;
    *out = Binomial(n, k);
    return kOk;
  });
}

StatusCode FactorNative(EngineContext* ctx, int, int, void*) {
  int32_t n = 0;
  if (StatusCode st = GetIntegerScalarArg(ctx, 0, &n); st != kOk) return ReportedStatus(st);
  if (n < 1) return kBadArg;
  int32_t factors[33];
  int count = 0;
  int64_t c = n;
  int64_t d = 2;
  while (c > 1 && count < 32) {
    if (c % d == 0) {
      factors[count++] = static_cast<int32_t>(d);
      c /= d;
      continue;
    }
    // Candidates past 3 skip the multiples of 2 and 3.
    d = d == 2 ? 3 : (d + 2) % 3 == 0 ? d + 4 : d + 2;
    if (d * d > c) break;
  }
  if (c > 1) factors[count++] = static_cast<int32_t>(c);
  double* out = nullptr;
  if (count == 0) {
    if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) return st;
  } else {
    if (StatusCode st = PushDoubleMatrix(ctx, 1, count, &out, nullptr); st != kOk) return st;
    for (int i = 0; i < count; ++i) out[i] = factors[i];
  }
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode GcdNative(EngineContext* ctx, int, int, void* selector) {
  const bool lcm = Selector(selector) == 'm';
  return Elementwise<2>(ctx, [lcm](const double* v, double* out) {
    const double a = v[0], b = v[1];
    if (!IsInt32(a) || !IsInt32(b)) return kBadArg;
    int64_t g = static_cast<int64_t>(std::fabs(a)), h = static_cast<int64_t>(std::fabs(b));
    while (h != 0) {
      const int64_t r = g % h;
      g = h;
      h = r;
    }
    // A zero operand would give -0 through the signed product.
    if (!lcm)
      *out = static_cast<double>(g);
    else
      *out = a == 0 || b == 0 ? 0 : a * b / static_cast<double>(g);
    return kOk;
  });
}

// ---------------------------------------------------------------------------
// Elliptic integrals and Jacobi elliptic functions.

StatusCode EllipkeNative(EngineContext* ctx, int nargin, int nargout, void*) {
  const int outs = nargout < 2 ? 1 : 2;
  Shape s;
  if (StatusCode st = CheckShape(ctx, nargin, &s); st != kOk) return st;
  double* out[2] = {};
  if (StatusCode st = PushResults(ctx, outs, s, out); st != kOk) return st;
  const double* in[2] = {};
  int64_t step[2] = {};
  const double tol = 0x1p-52;
  in[1] = &tol;
  ReadInputs(ctx, nargin, outs, s, in, step);
  for (int64_t k = 0; k < s.count; ++k)
    if (!ComputeCompleteElliptic(in[0][k * step[0]], in[1][k * step[1]], &out[0][k], outs == 2 ? &out[1][k] : nullptr))
      return kNoConvergence;
  return DropArgsUnderResults(ctx, outs, nargin);
}

StatusCode EllipticNative(EngineContext* ctx, int nargin, int nargout, void* selector) {
  const char which = static_cast<char>(Selector(selector));
  if (which == 'f' || which == 'e')
    return Elementwise<2>(ctx, [which](const double* v, double* out) {
      const bool ok = which == 'f' ? ComputeEllipticF(v[0], v[1], out) : ComputeEllipticE(v[0], v[1], out);
      return ok ? kOk : kNoConvergence;
    });
  const int outs = which == 'a' ? 1 : nargout < 1 ? 1 : nargout;
  Shape s;
  if (StatusCode st = CheckShape(ctx, nargin, &s); st != kOk) return st;
  double* out[3] = {};
  if (StatusCode st = PushResults(ctx, outs, s, out); st != kOk) return st;
  const double* in[3] = {};
  int64_t step[3] = {};
  const double tol = 0x1p-52;
  in[2] = &tol;
  ReadInputs(ctx, nargin, outs, s, in, step);
  // The mean sequence lives in the free space above the results.
  int64_t bytes = 0;
  Cell* free = nullptr;
  (void)GetFreeDataSpace(ctx, &bytes, &free);
  double* scratch = &free->f;
  const int64_t length = bytes / static_cast<int64_t>(sizeof(Cell));
  for (int64_t k = 0; k < s.count; ++k) {
    double* am = which == 'a' ? &out[0][k] : nullptr;
    double* sn = which == 'j' ? &out[0][k] : nullptr;
    double* cn = which == 'j' && outs > 1 ? &out[1][k] : nullptr;
    double* dn = which == 'j' && outs > 2 ? &out[2][k] : nullptr;
    if (!ComputeJacobiElliptic(in[0][k * step[0]], in[1][k * step[1]], in[2][k * step[2]], am, sn, cn, dn, scratch,
                               length))
      return kNoConvergence;
  }
  return DropArgsUnderResults(ctx, outs, nargin);
}
