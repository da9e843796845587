// Small complex helpers shared by the numeric kernels: Smith's division, a
// modulus that neither overflows nor underflows early, and the principal root.
#pragma once

#include <cmath>
#include <complex>

namespace numeric {

using Cx = std::complex<double>;

// Smith's method: divide by the larger part of the denominator first.
inline Cx SmithDivide(Cx a, Cx b) {
  double br = b.real(), bi = b.imag();
  if (std::fabs(br) >= std::fabs(bi)) {
    double r = bi / br, den = br + bi * r;
    return Cx((a.real() + a.imag() * r) / den, (a.imag() - a.real() * r) / den);
  }
  double r = br / bi, den = bi + br * r;
  return Cx((a.real() * r + a.imag()) / den, (a.imag() * r - a.real()) / den);
}

// |a| sqrt(1 + (b/a)^2) with the larger magnitude outside; 0 for (0, 0).
inline double ScaledHypot(double a, double b) {
  double x = std::fabs(a), y = std::fabs(b);
  if (x > y) return x * std::sqrt(1.0 + (y / x) * (y / x));
  if (y == 0) return 0;
  return y * std::sqrt(1.0 + (x / y) * (x / y));
}

inline double Modulus(Cx z) { return ScaledHypot(z.real(), z.imag()); }

// Principal square root through a scaled modulus; 0 for 0.
inline Cx PrincipalSqrt(Cx z) {
  double re = z.real(), im = z.imag();
  if (re == 0 && im == 0) return Cx(0, 0);
  double t = std::sqrt(0.5 * (Modulus(z) + std::fabs(re)));
  if (re >= 0) return Cx(t, im / (2 * t));
  return Cx(std::fabs(im) / (2 * t), std::copysign(t, im));
}

inline Cx At(const double* re, const double* im, int k) { return Cx(re[k], im[k]); }
inline void Put(double* re, double* im, int k, Cx z) {
  re[k] = z.real();
  im[k] = z.imag();
}

constexpr double kEps = 2.220446049250313e-16;  // 2^-52

}  // namespace numeric
