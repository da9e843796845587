// Scalar kernels of the elliptic integrals (complete, and incomplete of the
// first and second kind) and of the Jacobi elliptic functions, all in the
// parameter m = k^2, by the arithmetic-geometric mean and Landen's descent.
#include <cmath>
#include <limits>

#include "numeric/numeric.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kInf = std::numeric_limits<double>::infinity();
// Landen's descent stops when two successive means agree to this.
constexpr double kLandenTol = 1.1102230246251565e-15;

// Parameters outside [0, 1] reach it by the reciprocal (m > 1) or the
// imaginary-modulus (m < 0) transformation; mode says which was taken.
struct Transformed {
  double phi, m, r;
  int mode;
};

Transformed Transform(double phi, double m) {
  if (m > 1) return {std::asin(std::sqrt(m) * std::sin(phi)), 1 / m, std::sqrt(m), 1};
  if (m < 0) return {kPi / 2 - phi, m / (m - 1), std::sqrt(1 - m), 2};
  return {phi, m, 1, 0};
}

// F(phi | m) for 0 <= m < 1; a receives the last mean, pi / (2a) being K(m).
bool LandenF(double phi, double m, double* f, double* mean) {
  const double s = phi > 0 ? 1 : -1;
  phi = std::fabs(phi);
  double a = 1, b = std::sqrt(1 - m), c = (1 - b) / 2, t = s;
  for (int i = 0; c != 0; ++i) {
    const double q = (phi + kPi / 2) / kPi, k = std::floor(q);
    // At an odd multiple of pi/2 the tangent's sign would be a rounding accident.
    if (q == k) phi *= 1.000000000000222;
    phi += std::atan(std::tan(phi) * b / a) + k * kPi;
    t *= 2;
    const double next = a - c;
    if (std::fabs(next - a) < (std::fabs(next) + std::fabs(a)) * kLandenTol) break;
    b = std::sqrt(b * a);
    a = next;
    if (i > 100) return false;
    c = (a - b) / 2;
  }
  *f = phi / (t * a);
  *mean = a;
  return true;
}

// E(phi | m) and F(phi | m) for 0 <= m < 1.
bool LandenE(double phi, double m, double* e, double* f) {
  const double s = phi > 0 ? 1 : -1;
  phi = std::fabs(phi);
  double a = 1, t = 1, b = std::sqrt(1 - m), big = 1 - m / 2, sum = 0, c = (1 - b) / 2;
  for (int i = 0; c != 0; ++i) {
    const double tp = std::tan(phi);
    const double offset = tp > 0 ? 1.2566370614359172 : 1.8849555921538759;
    const double k = std::floor((offset + phi) / kPi);
    phi += std::atan(tp * b / a) + k * kPi;
    sum += c * std::sin(phi);
    big -= c * c * t;
    t *= 2;
    const double next = a - c;
    if (std::fabs(next - a) < (std::fabs(next) + std::fabs(a)) * kLandenTol) break;
    b = std::sqrt(b * a);
    a = next;
    if (i >= 100) return false;
    c = (a - b) / 2;
  }
  *f = s * phi / (a * t);
  *e = s * sum + big * *f;
  return true;
}

}  // namespace

bool ComputeCompleteElliptic(double m, double tol, double* k, double* e) {
  if (m == 1) {
    if (k) *k = kInf;
    if (e) *e = 1;
    return true;
  }
  if (m > 1 || m < 0) return false;
  double a = (1 + std::sqrt(1 - m)) / 2;
  const double c1 = (1 - std::sqrt(1 - m)) / 2;
  double sum = m + 2 * c1 * c1;
  if (2 * c1 * c1 > tol) {
    double b = std::sqrt(std::sqrt(1 - m)), w = 2;
    // The mean converges quadratically; a tolerance it cannot meet must not hang.
    for (int i = 0;; ++i) {
      if (i == 64) return false;
      const double an = (a + b) / 2, bn = std::sqrt(a * b);
      w *= 2;
      const double c = (a - b) / 2, term = w * c * c;
      sum += term;
      a = an;
      b = bn;
      if (term <= tol) break;
    }
  }
  const double kk = kPi / (2 * a);
  if (k) *k = kk;
  if (e) *e = kk * (1 - sum / 2);
  return true;
}

bool ComputeEllipticF(double phi, double m, double* out) {
  if (m == 1) {
    // The integral diverges at pi/2 and stays infinite beyond.
    *out = std::fabs(phi) >= kPi / 2 ? std::copysign(kInf, phi) : std::atanh(std::sin(phi));
    return true;
  }
  const Transformed t = Transform(phi, m);
  double f = 0, a = 0;
  if (!LandenF(t.phi, t.m, &f, &a)) return false;
  if (t.mode == 2) f = kPi / (2 * a) - f;
  *out = f / t.r;
  return true;
}

bool ComputeEllipticE(double phi, double m, double* out) {
  if (m == 1) {
    // The integrand is |cos|: each half period adds 2, mirrored about k pi.
    const double k = std::round(phi / kPi);
    *out = 2 * k + (std::fmod(k, 2.0) == 0 ? 1 : -1) * std::sin(phi);
    return true;
  }
  double e = 0, f = 0;
  if (m < 0) {
    // E(phi | m) = r (E(theta | m') - m' sin cos / sqrt(1 - m' sin^2)) with
    // tan theta = r tan phi, theta following phi across the half periods.
    const double r = std::sqrt(1 - m), mt = m / (m - 1);
    const double k = std::round(phi / kPi);
    const double theta = std::atan(r * std::tan(phi - k * kPi)) + k * kPi;
    if (!LandenE(theta, mt, &e, &f)) return false;
    const double s = std::sin(theta), c = std::cos(theta);
    *out = r * (e - mt * s * c / std::sqrt(1 - mt * s * s));
    return true;
  }
  const Transformed t = Transform(phi, m);
  if (!LandenE(t.phi, t.m, &e, &f)) return false;
  *out = t.mode == 1 ? t.r * (e - (1 - t.m) * f) : e;
  return true;
}

bool ComputeJacobiElliptic(double u, double m, double tol, double* am, double* sn, double* cn, double* dn,
                           double* scratch, int64_t length) {
  if (m == 1) {
    if (am) *am = 2 * std::atan(std::exp(u)) - kPi / 2;
    if (sn) *sn = std::tanh(u);
    if (cn) *cn = 1 / std::cosh(u);
    if (dn) *dn = 1 / std::cosh(u);
    return true;
  }
  if (m > 1 || m < 0) return false;
  const int64_t capacity = length / 4;
  if (capacity < 1) return false;
  double* a = scratch;
  double* b = a + capacity;
  double* c = b + capacity;
  double* phi = c + capacity;
  a[0] = 1;
  b[0] = std::sqrt(1 - m);
  c[0] = std::sqrt(m);
  int64_t n = 0;
  while (std::fabs(c[n]) > tol) {
    if (n + 1 >= capacity) return false;
    a[n + 1] = (a[n] + b[n]) / 2;
    b[n + 1] = std::sqrt(a[n] * b[n]);
    c[n + 1] = (a[n] - b[n]) / 2;
    ++n;
  }
  phi[n] = std::ldexp(a[n] * u, static_cast<int>(n));
  for (int64_t i = n; i >= 1; --i)
    phi[i - 1] = (std::asin(c[i] * std::sin(std::fmod(phi[i], 2 * kPi)) / a[i]) + phi[i]) / 2;
  const double amp = std::fmod(phi[0], 2 * kPi);
  const double s = std::sin(amp);
  if (am) *am = amp;
  if (sn) *sn = s;
  if (cn) *cn = std::cos(amp);
  if (dn) *dn = std::sqrt(1 - m * s * s);
  return true;
}
