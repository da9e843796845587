// Functions of a matrix from its complex Schur form A = U T U^H: the Parlett
// recurrence for a general function, the Schur square-root recurrence, and the
// logarithm by inverse scaling and squaring on T.
#include <algorithm>
#include <cmath>

#include "numeric/complexops.h"
#include "numeric/numeric.h"

using numeric::At;
using numeric::Cx;
using numeric::kEps;
using numeric::Put;

namespace {

struct Tri {  // an n x n complex matrix in two arrays; only its upper triangle is used
  double* re;
  double* im;
  int n;
  Cx operator()(int i, int j) const { return At(re, im, i * n + j); }
  void set(int i, int j, Cx z) const { Put(re, im, i * n + j, z); }
};

double UpperOneNorm(Tri t, bool minusIdentity) {
  double best = 0;
  for (int j = 0; j < t.n; ++j) {
    double s = 0;
    for (int r = 0; r <= j; ++r) s += numeric::Modulus(t(r, j) - (minusIdentity && r == j ? 1.0 : 0.0));
    if (!(s <= best)) best = s;  // NaN wins
  }
  return best;
}

double ClampEstimate(double e) { return std::isnan(e) ? 1.0 : std::clamp(e, kEps, 1.0); }

// Superdiagonal by superdiagonal, F(r,j) = (T(r,j) - sum F(r,k) F(k,j)) / (F(r,r) + F(j,j)).
// Reading and writing the same arrays is safe: entry (r,j) needs only entries
// nearer the diagonal. Returns false when some entry has no solution.
bool SquareRootRecurrence(Tri t, Tri f) {
  bool solvable = true;
  for (int d = 1; d < t.n; ++d)
    for (int r = 0; r + d < t.n; ++r) {
      int j = r + d;
      Cx num = t(r, j);
      for (int k = r + 1; k < j; ++k) num -= f(r, k) * f(k, j);
      Cx den = f(r, r) + f(j, j);
      if (den.real() == 0 && den.imag() == 0) {
        // Zero eigenvalues on both ends: only a zero entry keeps a square root.
        if (num.real() != 0 || num.imag() != 0) solvable = false;
        f.set(r, j, num.real() == 0 && num.imag() == 0 ? Cx(0, 0) : Cx(num.real() / 0.0, num.imag() / 0.0));
        continue;
      }
      f.set(r, j, numeric::SmithDivide(num, den));
    }
  return solvable;
}

double SquareRoot(Tri t, Tri f, bool wantEstimate) {
  bool solvable = SquareRootRecurrence(t, f);
  if (!wantEstimate) return 0;
  if (!solvable) return 1;
  // Relative residual of F^2 = T over the upper triangle, by columns.
  double res = 0;
  for (int j = 0; j < t.n; ++j) {
    double s = 0;
    for (int r = 0; r <= j; ++r) {
      Cx sq(0, 0);
      for (int k = r; k <= j; ++k) sq += f(r, k) * f(k, j);
      s += numeric::Modulus(sq - t(r, j));
    }
    if (!(s <= res)) res = s;
  }
  double nt = UpperOneNorm(t, false);
  return ClampEstimate(nt == 0 ? res : res / nt);
}

// log(1 + x) for complex x without losing small x to the rounding of 1 + x.
Cx Log1p(Cx x) {
  double a = x.real(), b = x.imag();
  return Cx(0.5 * std::log1p(a * (2 + a) + b * b), std::atan2(b, 1 + a));
}

// e^z - 1 for complex z, accurate for small z.
Cx Expm1(Cx z) {
  double a = z.real(), b = z.imag();
  double sh = std::sin(0.5 * b);
  return Cx(std::expm1(a) * std::cos(b) - 2 * sh * sh, std::exp(a) * std::sin(b));
}

// P := X P in place for upper triangular X and P: rows top-down in each column,
// since row i of the product needs only rows i .. j of the old column.
void MultiplyInPlace(Tri x, Tri p) {
  for (int j = 0; j < x.n; ++j)
    for (int i = 0; i <= j; ++i) {
      Cx s(0, 0);
      for (int k = i; k <= j; ++k) s += x(i, k) * p(k, j);
      p.set(i, j, s);
    }
}

double Logarithm(Tri t, Tri f) {
  const int n = t.n;
  constexpr int kMaxRoots = 100;
  constexpr double kTheta = 0.25;
  // Inverse scaling: take square roots of T until it is close to I.
  int roots = 0;
  double theta = UpperOneNorm(t, true);
  while (!(theta <= kTheta) && roots < kMaxRoots) {
    for (int i = 0; i < n; ++i) t.set(i, i, numeric::PrincipalSqrt(t(i, i)));
    SquareRootRecurrence(t, t);
    ++roots;
    theta = UpperOneNorm(t, true);
  }
  bool reliable = theta <= kTheta;
  // X = R - I; its diagonal comes from the given logarithms, which stay exact
  // where R_ii - 1 would cancel.
  double scale = std::ldexp(1.0, roots);
  for (int i = 0; i < n; ++i) t.set(i, i, Expm1(f(i, i) / scale));
  // Taylor series of log(I + X) by Horner's rule; terms until the remainder
  // theta^(m+1) / ((m+1)(1-theta)) is below half an ulp.
  int m = 1;
  while (m < 60 && std::pow(kTheta, m + 1) / ((m + 1) * (1 - kTheta)) > kEps / 2) ++m;
  for (int i = 0; i < n * n; ++i) f.re[i] = f.im[i] = 0;
  for (int i = 0; i < n; ++i) f.set(i, i, Cx((m % 2 ? 1.0 : -1.0) / m, 0));
  for (int k = m - 1; k >= 1; --k) {
    MultiplyInPlace(t, f);
    for (int i = 0; i < n; ++i) f.set(i, i, f(i, i) + (k % 2 ? 1.0 : -1.0) / k);
  }
  MultiplyInPlace(t, f);
  for (int i = 0; i < n; ++i)
    for (int j = i; j < n; ++j) f.set(i, j, f(i, j) * scale);
  for (int i = 0; i < n; ++i) f.set(i, i, Log1p(t(i, i)) * scale);
  return reliable ? kEps : 1.0;
}

// False when two equal eigenvalues are coupled: F(r,j) would need f's
// derivative, which the diagonal values do not give. Equal but uncoupled
// ones (a diagonal T) leave F(r,j) = 0, which is exact.
bool Parlett(Tri t, Tri f, double* estimate) {
  const int n = t.n;
  for (int d = 1; d < n; ++d)
    for (int r = 0; r + d < n; ++r) {
      int j = r + d;
      Cx den = t(j, j) - t(r, r);
      Cx sum(0, 0);
      for (int k = r + 1; k < j; ++k) sum += t(r, k) * f(k, j) - f(r, k) * t(k, j);
      if (den.real() == 0 && den.imag() == 0) {
        if (t(r, j) != Cx(0, 0) || sum != Cx(0, 0)) return false;
        f.set(r, j, Cx(0, 0));
        continue;
      }
      f.set(r, j, numeric::SmithDivide(t(r, j) * (f(j, j) - f(r, r)) + sum, den));
    }
  if (estimate == nullptr) return true;
  // The closest distinct pair of eigenvalues rates the divided differences.
  double delta = std::norm(t(0, 0));
  for (int j = 0; j < n; ++j)
    for (int r = 0; r < j; ++r) {
      const double gap = std::norm(t(j, j) - t(r, r));
      if (gap > 0) delta = std::min(delta, gap);
    }
  double nt = UpperOneNorm(t, false), sd = std::sqrt(delta);
  *estimate = ClampEstimate(sd > kEps ? nt * kEps / sd : nt);
  return true;
}

}  // namespace

bool ComputeTriangularMatrixFunction(double* tr, double* ti, const double* ur, const double* ui, int n, double* fr,
                                     double* fi, MatrixFunctionKind kind, uint8_t* flag, double* estimate) {
  if (n <= 0) {
    if (flag) *flag = 0;
    if (estimate) *estimate = 0;
    return true;
  }
  Tri t{tr, ti, n}, f{fr, fi, n};
  double est = 0;
  switch (kind) {
    case kMatrixFunctionSquareRoot:
      est = SquareRoot(t, f, estimate != nullptr);
      break;
    case kMatrixFunctionLogarithm:
      est = Logarithm(t, f);
      break;
    default:
      if (!Parlett(t, f, &est)) return false;
      break;
  }
  if (estimate) *estimate = est;
  // W = U F into T's arrays, then X = W U^H into F's arrays.
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      Cx s(0, 0);
      for (int k = 0; k <= j; ++k) s += At(ur, ui, i * n + k) * f(k, j);
      t.set(i, j, s);
    }
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      Cx s(0, 0);
      for (int k = 0; k < n; ++k) s += t(i, k) * std::conj(At(ur, ui, j * n + k));
      f.set(i, j, s);
    }
  if (flag) {
    double imagNorm = 0, fullNorm = 0;
    for (int j = 0; j < n; ++j) {
      double si = 0, sf = 0;
      for (int i = 0; i < n; ++i) {
        si += std::fabs(fi[i * n + j]);
        sf += numeric::Modulus(f(i, j));
      }
      imagNorm = std::max(imagNorm, si);
      fullNorm = std::max(fullNorm, sf);
    }
    *flag = imagNorm > 10 * kEps * fullNorm ? 1 : 0;
  }
  return true;
}
