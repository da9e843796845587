// Scalar kernels of the special functions: the error function and its
// inverse, gamma and log-gamma, the regularised incomplete gamma and beta
// functions with their Newton inverses, and the dilogarithm.
#include <cmath>
#include <limits>

#include "numeric/numeric.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kEps = 0x1p-52;
// Lentz's method replaces a vanishing denominator by this.
constexpr double kTiny = 2.2251e-308;
constexpr double kPiSquaredOver6 = 1.6449340668482264;

double Clamp(double v) { return std::fabs(v) < kTiny ? kTiny : v; }

// Cody's rational approximation of Gamma(1 + z) on [0, 1) and his asymptotic
// series for large x.
constexpr double kP[8] = {-1.71618513886549492533811e+0, 2.47656508055759199108314e+1, -3.79804256470945635097577e+2,
                          6.29331155312818442661052e+2,  8.66966202790413211295064e+2, -3.14512729688483675254357e+4,
                          -3.61444134186911729807069e+4, 6.64561438202405440627855e+4};
constexpr double kQ[8] = {-3.08402300119738975254353e+1, 3.15350626979604161529144e+2, -1.01515636749021914166146e+3,
                          -3.10777167157231109440444e+3, 2.25381184209801510330112e+4, 4.75584627752788110767815e+3,
                          -1.34659959864969306392456e+5, -1.15132259675553483497211e+5};
constexpr double kC[7] = {-1.910444077728e-03,     8.4171387781295e-04,          -5.952379913043012e-04,
                          7.93650793500350248e-04, -2.777777777777681622553e-03, 8.333333333333333331554247e-02,
                          5.7083835261e-03};
constexpr double kLnSqrt2Pi = 0.9189385332046728;

// The Lentz continued fraction of I_x(a, b) without its prefactor.
bool BetaFraction(double a, double b, double x, double* out) {
  const double qab = a + b, qap = a + 1, qam = a - 1;
  double c = 1, d = 1 / Clamp(1 - qab * x / qap), h = d;
  for (int m = 1; m <= 99; ++m) {
    const int m2 = 2 * m;
    double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
    d = 1 / Clamp(1 + aa * d);
    c = Clamp(1 + aa / c);
    h *= d * c;
    aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
    d = 1 / Clamp(1 + aa * d);
    c = Clamp(1 + aa / c);
    const double del = d * c;
    h *= del;
    if (std::fabs(del - 1) < kEps) {
      *out = h;
      return true;
    }
  }
  return false;
}

}  // namespace

double ComputeErf(double x, bool complement) {
  if (std::isnan(x)) return x;
  const double ax = std::fabs(x);
  if (ax > 1.5) {
    // The Mills ratio of the normal distribution as a continued fraction.
    // It converges slowly near 1.5: 512/x^2 terms keep it to a few ulps
    // there, and 3 suffice far out (32/|x| terms left 1e-5 near 1.5).
    const int n = 3 + static_cast<int>(std::floor(512 / (ax * ax)));
    double g = 0;
    for (int m = n; m >= 1; --m) g = 1 / (ax * std::sqrt(2.0) + m * g);
    const double h = g * std::exp(-x * x) * std::sqrt(2 / kPi);
    if (complement) return x > 0 ? h : 2 - h;
    return x > 0 ? 1 - h : h - 1;
  }
  // 20|x| terms bring the last one below an ulp up to |x| = 1.5.
  const int n = 3 + static_cast<int>(std::floor(20 * ax));
  double g = 1;
  for (int m = n; m >= 1; --m) g = 1 + x * x * (0.5 - m) * g / (m * (m + 0.5));
  const double erf = 2 / std::sqrt(kPi) * x * g;
  return complement ? 1 - erf : erf;
}

double ComputeErfInv(double y) {
  if (y == 1) return kInf;
  if (y == -1) return -kInf;
  if (!(y > -1 && y < 1)) return kNaN;
  double x = 0;
  if (std::fabs(y) < 0.7) {
    const double z = y * y;
    x = y * (((-0.140543331 * z + 0.914624893) * z - 1.645349621) * z + 0.886226899) /
        ((((0.012229801 * z - 0.329097515) * z + 1.442710462) * z - 2.118377725) * z + 1);
  } else {
    const double w = std::sqrt(-std::log((1 - std::fabs(y)) / 2));
    x = (((1.641345311 * w + 3.429567803) * w - 1.624906493) * w - 1.970840454) / ((1.6370678 * w + 3.5438892) * w + 1);
    if (y < 0) x = -x;
  }
  for (int i = 0; i < 2; ++i) x -= (ComputeErf(x, false) - y) / (2 / std::sqrt(kPi) * std::exp(-x * x));
  return x;
}

double ComputeGamma(double x, bool factorial) {
  if (!std::isfinite(x)) {
    if (!factorial) return x;
    return x > 0 ? x : kNaN;
  }
  if (factorial) {
    if (x < 0 || std::floor(x + 0.5) != x) return kNaN;
    // Rounding Gamma(x + 1) misses the integer from 17! on; the product is
    // exact through 22! and correctly rounded step by step beyond.
    if (x <= 170) {
      double f = 1;
      for (int i = 2; i <= static_cast<int>(x); ++i) f *= i;
      return f;
    }
    x += 1;
  }
  double h = 1;
  bool reflected = false;
  if (x <= 0) {
    const double t = -x;
    h = kPi / std::sin(kPi * (t - std::floor(t)));
    if (std::fmod(std::floor(t), 2.0) == 0) h = -h;
    x = 1 - x;
    reflected = true;
  }
  double shift = 1;
  if (x < 1) {
    shift = x;
    x += 1;
  }
  double g = 0;
  if (x >= 12) {
    const double ysq = x * x;
    double sum = kC[6];
    for (int i = 0; i < 6; ++i) sum = sum / ysq + kC[i];
    g = std::exp(sum / x - x + kLnSqrt2Pi + (x - 0.5) * std::log(x));
  } else {
    const int n = static_cast<int>(std::floor(x)) - 1;
    const double z = x - n - 1;
    double num = 0, den = 1;
    for (int i = 0; i < 8; ++i) {
      num = (num + kP[i]) * z;
      den = den * z + kQ[i];
    }
    g = num / den + 1;
    for (int i = 1; i <= n; ++i) g *= z + i;
  }
  g /= shift;
  if (reflected) g = h / g;
  return factorial ? std::floor(g + 0.5) : g;
}

double ComputeLogGamma(double x) {
  if (!(x >= 0)) return kNaN;
  if (x == 0) return kInf;
  const double series = 1.000000000190015 + 76.18009172947146 / (x + 1) - 86.50532032941677 / (x + 2) +
                        24.01409824083091 / (x + 3) - 1.231739572450155 / (x + 4) + 0.1208650973866179e-2 / (x + 5) -
                        0.5395239384953e-5 / (x + 6);
  return std::log(series * 2.5066282746310005 / x) + (x + 0.5) * std::log(x + 5.5) - (x + 5.5);
}

bool ComputeGammaP(double a, double x, double* out) {
  if (std::isnan(a) || std::isnan(x) || x < 0) {
    *out = kNaN;
    return true;
  }
  if (x == 0) {
    *out = 0;
    return true;
  }
  // The series starts at 1/a: P(0, x) is its limit, 1.
  if (a == 0) {
    *out = 1;
    return true;
  }
  const double front = a * std::log(x) - x - ComputeLogGamma(a);
  if (x < a + 1) {
    double del = 1 / a, sum = del;
    for (int n = 1; n <= 100; ++n) {
      del = del * x / (a + n);
      sum += del;
      if (std::fabs(sum) * kEps > std::fabs(del)) {
        *out = sum * std::exp(front);
        return true;
      }
    }
    return false;
  }
  double b = x + 1 - a, c = 1 / kTiny, d = 1 / b, h = d;
  for (int i = 1; i <= 99; ++i) {
    const double an = i * (a - i);
    b += 2;
    d = 1 / Clamp(an * d + b);
    c = Clamp(b + an / c);
    const double del = d * c;
    h *= del;
    if (std::fabs(del - 1) < kEps) {
      *out = 1 - std::exp(front) * h;
      return true;
    }
  }
  return false;
}

double ComputeBeta(double a, double b) {
  if (a < 0 || b < 0) return kNaN;
  return std::exp(ComputeLogGamma(a) + ComputeLogGamma(b) - ComputeLogGamma(a + b));
}

double ComputeLogBeta(double a, double b) {
  if (a < 0 || b < 0) return kNaN;
  return ComputeLogGamma(a) + ComputeLogGamma(b) - ComputeLogGamma(a + b);
}

bool ComputeBetaI(double x, double a, double b, double* out) {
  if (!(x >= 0 && x <= 1)) {
    *out = kNaN;
    return true;
  }
  double bt = 0;
  if (x != 0 && x != 1)
    bt = std::exp(ComputeLogGamma(a + b) - ComputeLogGamma(a) - ComputeLogGamma(b) + a * std::log(x) +
                  b * std::log(1 - x));
  double cf = 0;
  if (x < (a + 1) / (a + b + 2)) {
    if (!BetaFraction(a, b, x, &cf)) return false;
    *out = bt * cf / a;
  } else {
    if (!BetaFraction(b, a, 1 - x, &cf)) return false;
    *out = 1 - bt * cf / b;
  }
  return true;
}

bool InvertBetaI(double p, double a, double b, double* out) {
  if (!(a >= 0 && b >= 0 && p >= 0 && p <= 1)) {
    *out = kNaN;
    return true;
  }
  // The ends are exact: Newton only creeps toward them, leaving x near 1e-14,
  // which the t quantile's square root would turn into 1e-7 at p = 1/2.
  if (p == 0 || p == 1) {
    *out = p;
    return true;
  }
  double x = std::fmin(std::fmax(a / (a + b), 1.4901e-08), 0.999999985099);
  const double beta = ComputeBeta(a, b);
  double delta = 1;
  for (int i = 0; i < 100; ++i) {
    if (std::fabs(delta) <= 0x1p-44 * std::fmax(x, 1)) {
      *out = x;
      return true;
    }
    double f = 0;
    if (!ComputeBetaI(x, a, b, &f)) return false;
    delta = (f - p) * beta / (std::pow(x, a - 1) * std::pow(1 - x, b - 1));
    const double previous = x;
    if (x < delta) {
      x /= 8;
    } else {
      x -= delta;
      if (x > 1) x = 1 - (1 - previous) / 8;
    }
  }
  if (std::fabs(delta) <= 0x1p-44 * std::fmax(x, 1)) {
    *out = x;
    return true;
  }
  return false;
}

bool InvertGammaCdf(double p, double k, double theta, double* out) {
  if (!(k >= 0 && theta >= 0 && p >= 0 && p <= 1)) {
    *out = kNaN;
    return true;
  }
  if (p == 0 || p == 1) {
    *out = p == 0 ? 0 : kInf;
    return true;
  }
  double x = k > 1.1 ? k - 1 : 0.1;
  const double scale = ComputeGamma(k, false) * std::pow(theta, k);
  double delta = 1;
  for (int i = 0; i < 100; ++i) {
    if (std::fabs(delta) <= 0x1p-44 * std::fmax(x, 1)) {
      *out = x;
      return true;
    }
    double f = 0;
    if (!ComputeGammaP(k, x / theta, &f)) return false;
    const double density = std::pow(x, k - 1) * std::exp(-x / theta) / scale;
    delta = (f - p) / density;
    const double previous = x;
    x -= delta;
    if (x < 0) x = previous / 2;
  }
  if (std::fabs(delta) <= 0x1p-44 * std::fmax(x, 1)) {
    *out = x;
    return true;
  }
  return false;
}

double ComputeDilogarithm(double x) {
  // -Li2(1) is the limit of the integral at 0; the reflection below would form 0 * Inf.
  if (x == 0) return -kPiSquaredOver6;
  if (!(x > 0)) return kNaN;
  if (x == kInf) return kInf;
  double s = 1, c = 0;
  if (x > 1) {
    s = -1;
    c = -std::log(x) * std::log(x) / 2;
    x = 1 / x;
  }
  if (x < 0.5) {
    c += s * (kPiSquaredOver6 - std::log(1 - x) * std::log(x));
    s = -s;
    x = 1 - x;
  }
  const double z = 1 - x;
  const int n = static_cast<int>(std::floor(4 / (x * x))) + 2;
  double sum = 0;
  for (int k = n; k >= 1; --k) sum = (sum + 1.0 / (double(k) * k)) * z;
  return -c - s * sum;
}
