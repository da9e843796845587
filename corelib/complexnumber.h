// Complex numbers in the library's own arithmetic: the plain formulas, and
// Smith's division, which scales by the larger part of the divisor so that
// its squares do not overflow.
#pragma once

#include <cmath>

struct Complex {
  double re;
  double im;
};

inline Complex operator+(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }
inline Complex operator-(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }
inline Complex operator*(Complex a, Complex b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }

inline Complex Divide(Complex a, Complex b) {
  if (std::fabs(b.re) >= std::fabs(b.im)) {
    const double r = b.im / b.re, t = b.re + b.im * r;
    return {(a.re + a.im * r) / t, (a.im - a.re * r) / t};
  }
  const double r = b.re / b.im, t = b.re * r + b.im;
  return {(a.re * r + a.im) / t, (a.im * r - a.re) / t};
}
