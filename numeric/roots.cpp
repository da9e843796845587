// Polynomial roots: eigenvalues of the companion matrix on the main road, and
// Laguerre's method with deflation, which is both the fallback and the finder
// that control design calls directly.
#include <algorithm>
#include <cmath>

#include "numeric/complexops.h"
#include "numeric/numeric.h"

using numeric::Cx;

namespace {

constexpr int kAttempts = 30;  // restarts of one root before the finder settles
constexpr int kSteps = 200;    // Laguerre steps per attempt

double Tolerance(int m) { return std::max(1e-7 * std::exp(-m), 1e-9); }

// p(z), p'(z) and p''(z) in one backward pass.
template <class T, class Coef>
void Evaluate(Coef coef, int m, T z, T* p, T* dp, T* d2p) {
  T b = coef(0), d = 0, f = 0;
  for (int k = 1; k <= m; ++k) {
    f = z * f + d;
    d = z * d + b;
    b = z * b + coef(k);
  }
  *p = b;
  *dp = d;
  *d2p = 2.0 * f;
}

// One complex-mode Laguerre step at z: the correction u + iv.
template <class Coef>
Cx ComplexStep(Coef coef, int m, Cx z) {
  Cx p, dp, d2p;
  Evaluate<Cx>(coef, m, z, &p, &dp, &d2p);
  Cx h = double(m - 1) * (double(m - 1) * dp * dp - double(m) * p * d2p);
  Cx s = numeric::PrincipalSqrt(h);
  if ((std::conj(dp) * s).real() < 0) s = -s;
  return numeric::SmithDivide(double(m) * p, dp + s);
}

bool Converged(Cx step, double tol) {
  return (std::fabs(step.real()) < tol && std::fabs(step.imag()) < tol) || std::isnan(step.real()) ||
         std::isnan(step.imag());
}

// Roots of p0 z^2 + p1 z + p2. The larger real root comes from the formula that
// adds like signs and the smaller from the product of the roots, so neither is
// lost to cancellation. A negative discriminant gives the conjugate pair, whose
// imaginary parts below 1e-7 are dropped.
void SolveQuadratic(const double* p, double* re, double* im) {
  double disc = p[1] * p[1] - 4 * p[2] * p[0];
  if (disc < 0) {
    double s = std::sqrt(-disc);
    re[0] = re[1] = -p[1] / (2 * p[0]);
    im[0] = s >= 1e-7 ? s / (2 * p[0]) : 0.0;
    im[1] = s >= 1e-7 ? -s / (2 * p[0]) : 0.0;
    return;
  }
  double sq = std::sqrt(disc);
  double q = -0.5 * (p[1] + (p[1] >= 0 ? sq : -sq));
  double big = q / p[0], small = q != 0 ? p[2] / q : 0.0;
  // Index 0 holds (sqrt(disc) - p1) / (2 p0), index 1 the other root.
  bool bigIsPlus = p[1] < 0;
  re[0] = bigIsPlus ? big : small;
  re[1] = bigIsPlus ? small : big;
  im[0] = im[1] = 0;
}

}  // namespace

bool IterateLaguerreReal(const double* p, int m, double* x, double* y) {
  const double tol = Tolerance(m);
  auto coef = [p](int k) { return p[k]; };
  bool complexMode = !(*y < 0);
  bool converged = false;
  for (int step = 0; step < kSteps && !converged; ++step) {
    if (complexMode) {
      Cx d = ComplexStep(coef, m, Cx(*x, *y));
      if (Converged(d, tol)) {
        converged = true;
      } else {
        *x -= d.real();
        *y -= d.imag();
      }
      continue;
    }
    double pv, dp, d2p;
    Evaluate<double>(coef, m, *x, &pv, &dp, &d2p);
    double h = (m - 1) * ((m - 1) * dp * dp - m * pv * d2p);
    if (h >= 0) {
      double s = std::sqrt(h);
      if (dp < 0) s = -s;
      double w = dp + s == 0 ? 0.0 : m * pv / (dp + s);
      if (std::fabs(w) < tol)
        converged = true;
      else
        *x -= w;
    } else {
      // Leave the real axis for good; y still holds the marker -1 and the
      // imaginary part continues from there.
      Cx d = numeric::SmithDivide(Cx(m * pv, 0), Cx(dp, std::sqrt(-h)));
      *x -= d.real();
      *y -= d.imag();
      complexMode = true;
    }
  }
  // Real coefficients make the conjugate of a complex root a root as well, so
  // any imaginary part beyond the step tolerance is a pair: a remainder test
  // relative to p[0] turns small pairs into wrong real roots.
  *y = complexMode && std::fabs(*y) >= tol ? std::fabs(*y) : -1;
  return converged;
}

bool IterateLaguerreComplex(const double* pr, const double* pi, int m, double* x, double* y) {
  const double tol = Tolerance(m);
  auto coef = [pr, pi](int k) { return Cx(pr[k], pi[k]); };
  for (int step = 0; step < kSteps; ++step) {
    Cx d = ComplexStep(coef, m, Cx(*x, *y));
    // A NaN step ends the iteration but is still taken, as in the real finder:
    // NaN input must not come back as the starting guess.
    const bool nan = std::isnan(d.real()) || std::isnan(d.imag());
    if (!nan && Converged(d, tol)) return true;
    *x -= d.real();
    *y -= d.imag();
    if (nan) return true;
  }
  return false;
}

bool FindRealPolyRootsByLaguerre(double* p, int n, double* re, double* im) {
  double inv = 1.0 / p[0];
  for (int k = 1; k <= n; ++k) p[k] *= inv;
  p[0] = 1;
  int m = n;
  while (m > 0 && p[m] == 0) {
    re[m - 1] = im[m - 1] = 0;
    --m;
  }
  bool pair = false;
  while (m > 2) {
    double x = 0, y = -1;
    bool found = false;
    for (int k = 0; k < kAttempts && !found; ++k) {
      x = std::max(k, 1);
      y = -1;
      found = IterateLaguerreReal(p, m, &x, &y) && !std::isnan(x) && !std::isnan(y);
    }
    if (found && y >= 0) {
      re[m - 1] = re[m - 2] = x;
      im[m - 1] = y;
      im[m - 2] = -y;
      double q = x * x + y * y;
      for (int k = 0; k <= m - 2; ++k) {
        p[k + 1] += 2 * x * p[k];
        p[k + 2] -= q * p[k];
      }
      m -= 2;
      pair = true;
      continue;
    }
    // A real root; when every attempt failed, the last iterate, so that the
    // degree keeps falling.
    re[m - 1] = x;
    im[m - 1] = 0;
    for (int k = 0; k <= m - 1; ++k) p[k + 1] += x * p[k];
    --m;
  }
  if (m == 1) {
    re[0] = -p[1] / p[0];
    im[0] = 0;
  } else if (m == 2) {
    SolveQuadratic(p, re, im);
    if (p[1] * p[1] - 4 * p[2] * p[0] < 0) pair = true;
  }
  return pair;
}

void FindComplexPolyRootsByLaguerre(double* pr, double* pi, int n, double* re, double* im) {
  bool real = true;
  for (int k = 0; k <= n; ++k)
    if (pr[k] + pi[k] != pr[k]) real = false;
  if (real) {
    FindRealPolyRootsByLaguerre(pr, n, re, im);
    return;
  }
  int m = n;
  while (m > 0 && pr[m] == 0 && pi[m] == 0) {
    re[m - 1] = im[m - 1] = 0;
    --m;
  }
  while (m >= 2) {
    double x = 0, y = -1;
    for (int k = 0; k < kAttempts; ++k) {
      x = std::max(k, 1);
      y = -1;
      if (IterateLaguerreComplex(pr, pi, m, &x, &y) && ((!std::isnan(x) && !std::isnan(y)) || k > 9)) break;
    }
    re[m - 1] = x;
    im[m - 1] = y;
    Cx root(x, y);
    for (int k = 0; k <= m - 1; ++k)
      numeric::Put(pr, pi, k + 1, numeric::At(pr, pi, k + 1) + root * numeric::At(pr, pi, k));
    --m;
  }
  if (m == 1) {
    Cx r = numeric::SmithDivide(-numeric::At(pr, pi, 1), numeric::At(pr, pi, 0));
    re[0] = r.real();
    im[0] = r.imag();
  }
}

bool FindRealPolyRoots(double* p, int n, double* re, double* im, double* scratch) {
  while (n > 0 && p[n] == 0) {
    re[n - 1] = im[n - 1] = 0;
    --n;
  }
  if (n == 0) return false;
  if (n == 1) {
    re[0] = -p[1] / p[0];
    im[0] = 0;
    return false;
  }
  double* c = scratch;
  std::fill(c, c + n * n, 0.0);
  for (int k = 0; k < n; ++k) c[k] = -p[k + 1] / p[0];
  for (int i = 1; i < n; ++i) c[i * n + i - 1] = 1;
  if (!ComputeRealEigenvalues(c, n, reinterpret_cast<int32_t*>(c + n * n), re, im))
    return FindRealPolyRootsByLaguerre(p, n, re, im);
  for (int k = 0; k < n; ++k)
    if (im[k] != 0 || std::isnan(im[k])) return true;
  return false;
}

void FindComplexPolyRoots(double* pr, double* pi, int n, double* re, double* im, double* scratch) {
  while (n > 0 && pr[n] == 0 && pi[n] == 0) {
    re[n - 1] = im[n - 1] = 0;
    --n;
  }
  if (n == 0) return;
  Cx lead = numeric::At(pr, pi, 0);
  if (n == 1) {
    Cx r = numeric::SmithDivide(-numeric::At(pr, pi, 1), lead);
    re[0] = r.real();
    im[0] = r.imag();
    return;
  }
  double* cr = scratch;
  double* ci = scratch + n * n;
  std::fill(cr, cr + 2 * n * n, 0.0);
  for (int k = 0; k < n; ++k) numeric::Put(cr, ci, k, numeric::SmithDivide(-numeric::At(pr, pi, k + 1), lead));
  for (int i = 1; i < n; ++i) cr[i * n + i - 1] = 1;
  if (!ComputeComplexSchurForm(cr, ci, n, nullptr, nullptr, scratch + 2 * n * n)) {
    FindComplexPolyRootsByLaguerre(pr, pi, n, re, im);
    return;
  }
  for (int k = 0; k < n; ++k) {
    re[k] = cr[k * n + k];
    im[k] = ci[k * n + k];
  }
}
