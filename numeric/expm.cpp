// Diagonal balancing by powers of two, infinity norms, the matrix exponential
// by a (6, 6) Pade approximant with scaling and squaring, and a scalar raised
// to a matrix power through it.
#include <algorithm>
#include <cmath>
#include <limits>

#include "numeric/complexops.h"
#include "numeric/numeric.h"

using numeric::Cx;

void BalanceMatrix(double* ar, double* ai, int n, double* d) {
  constexpr double kLow = 0x1p-49, kHigh = 0x1p49;
  for (int i = 0; i < n; ++i) d[i] = 1;
  for (bool changed = true; changed;) {
    changed = false;
    for (int i = 0; i < n; ++i) {
      double c = 0, cmax = 0, r = 0, rmax = 0;
      auto add = [](double x, double* sum, double* most) {
        *sum += std::fabs(x);
        *most = std::max(*most, std::fabs(x));
      };
      for (int j = 0; j < n; ++j) {
        add(ar[j * n + i], &c, &cmax);
        add(ar[i * n + j], &r, &rmax);
        if (ai) {
          add(ai[j * n + i], &c, &cmax);
          add(ai[i * n + j], &r, &rmax);
        }
      }
      if (c == 0 || r == 0) continue;
      double f = 1;
      if (r <= c) {
        while (c > 2 * r && !(f <= kLow || cmax <= kLow || r >= kHigh)) f /= 2, c /= 2, cmax /= 2, r *= 2;
      } else {
        while (r > 2 * c && !(f >= kHigh || c >= kHigh || rmax <= kLow)) f *= 2, r /= 2, rmax /= 2, c *= 2;
      }
      double v = f * d[i];
      if (f == 1 || !(v > kLow && v < kHigh)) continue;
      d[i] = v;
      for (int j = 0; j < n; ++j) {
        ar[j * n + i] *= f;
        ar[i * n + j] /= f;
        if (ai) {
          ai[j * n + i] *= f;
          ai[i * n + j] /= f;
        }
      }
      changed = true;
    }
  }
}

double ComputeRealInfinityNorm(const double* a, int n) {
  double best = 0;
  for (int i = 0; i < n; ++i) {
    double s = 0;
    for (int j = 0; j < n; ++j) s += std::fabs(a[i * n + j]);
    if (std::isnan(s)) return s;  // a NaN row makes the norm NaN
    best = std::max(best, s);
  }
  return best;
}

double ComputeComplexInfinityNorm(const double* ar, const double* ai, int n) {
  double best = 0;
  for (int i = 0; i < n; ++i) {
    double s = 0;
    for (int j = 0; j < n; ++j) s += std::sqrt(ar[i * n + j] * ar[i * n + j] + ai[i * n + j] * ai[i * n + j]);
    if (std::isnan(s)) return s;
    best = std::max(best, s);
  }
  return best;
}

namespace {

// The number of squarings s: the smallest with 2^(s-1) > the norm, so that
// A / 2^s has norm below 1/2. The loop ends for every finite norm.
int ScalingPower(double norm) {
  int s = 0;
  while (std::ldexp(1.0, s - 1) <= norm) ++s;
  return s;
}

// Pade (6, 6) with scaling and squaring; `parts` is 1 (real) or 2 (complex),
// each matrix being `parts` blocks of n x n.
void MatrixExponential(double* a, int n, double* x, double* work, int parts) {
  const int nn = n * n;
  double norm = parts == 1 ? ComputeRealInfinityNorm(a, n) : ComputeComplexInfinityNorm(a, a + nn, n);
  if (!std::isfinite(norm)) {
    std::fill(x, x + parts * nn, std::numeric_limits<double>::quiet_NaN());
    return;
  }
  int squarings = ScalingPower(norm);
  double scale = std::ldexp(1.0, -squarings);
  for (int i = 0; i < parts * nn; ++i) a[i] *= scale;

  double* row = work;            // n (complex: 2n) cells
  double* p = work + parts * n;  // the current power of A
  double* den = p + parts * nn;  // the denominator D
  auto el = [&](double* m, int part, int i, int j) -> double& { return m[part * nn + i * n + j]; };
  // Element (i, j) of the product L R, real or complex.
  auto product = [&](double* l, double* r, int i, int j) {
    Cx s(0, 0);
    for (int t = 0; t < n; ++t)
      s +=
          Cx(el(l, 0, i, t), parts == 2 ? el(l, 1, i, t) : 0.0) * Cx(el(r, 0, t, j), parts == 2 ? el(r, 1, t, j) : 0.0);
    return s;
  };
  for (int part = 0; part < parts; ++part)
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        double ident = part == 0 && i == j ? 1.0 : 0.0, half = 0.5 * el(a, part, i, j);
        el(x, part, i, j) = ident + half;
        el(den, part, i, j) = ident - half;
        el(p, part, i, j) = el(a, part, i, j);
      }
  double c = 0.5;
  for (int k = 2; k <= 6; ++k) {
    c = c * (7 - k) / (k * (13 - k));
    // P := A P, one column at a time through the row buffer.
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < n; ++i) {
        const Cx s = product(a, p, i, j);
        row[i] = s.real();
        if (parts == 2) row[n + i] = s.imag();
      }
      for (int part = 0; part < parts; ++part)
        for (int i = 0; i < n; ++i) el(p, part, i, j) = row[part * n + i];
    }
    double sign = k % 2 ? -1.0 : 1.0;
    for (int i = 0; i < parts * nn; ++i) {
      x[i] += c * p[i];
      den[i] += sign * c * p[i];
    }
  }
  // X := D^-1 N; the row buffer now holds the permutation.
  int32_t* perm = reinterpret_cast<int32_t*>(row);
  if (parts == 1)
    SolveRealLinearSystem(den, x, n, n, perm, false);
  else
    SolveComplexLinearSystem(den, x, n, n, perm);
  // Square back, alternating between X and the power block.
  double* src = x;
  double* dst = p;
  for (int q = 0; q < squarings; ++q) {
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        const Cx s = product(src, src, i, j);
        el(dst, 0, i, j) = s.real();
        if (parts == 2) el(dst, 1, i, j) = s.imag();
      }
    std::swap(src, dst);
  }
  if (src != x) std::copy(src, src + parts * nn, x);
}

}  // namespace

void ComputeRealMatrixExponential(double* a, int n, double* x, double* work) { MatrixExponential(a, n, x, work, 1); }

void ComputeComplexMatrixExponential(double* a, int n, double* x, double* work) { MatrixExponential(a, n, x, work, 2); }

void RaiseRealScalarToMatrix(double x, double* a, int n, double* result, double* work) {
  double l = std::log(x);  // -Inf or NaN for x <= 0 propagates into the result
  for (int i = 0; i < n * n; ++i) a[i] *= l;
  ComputeRealMatrixExponential(a, n, result, work);
}

void RaiseComplexScalarToMatrix(double zr, double zi, double* a, int n, double* result, double* work) {
  double l = std::log(numeric::ScaledHypot(zr, zi)), theta = std::atan2(zi, zr);
  const int nn = n * n;
  for (int i = 0; i < nn; ++i) {
    double re = a[i], im = a[nn + i];
    a[i] = l * re - theta * im;
    a[nn + i] = l * im + theta * re;
  }
  ComputeComplexMatrixExponential(a, n, result, work);
}
