// Schur forms: the real quasi-triangular form with standardised 2 x 2 blocks,
// the complex triangular form, the conversion of the first into the second, and
// functions of a matrix computed from its complex Schur form.
#include <algorithm>
#include <cmath>

#include "numeric/complexops.h"
#include "numeric/numeric.h"

using numeric::At;
using numeric::Cx;
using numeric::kEps;
using numeric::Put;

namespace {

// One double-shift sweep on rows and columns t .. b (order >= 3). The sweep
// reflects whole rows and columns so that Q stays consistent with A.
void RealDoubleShiftSweep(double* a, int n, double* q, int t, int b, double sigma) {
  auto A = [&](int i, int j) -> double& { return a[i * n + j]; };
  double s = A(b - 1, b - 1) + A(b, b) + sigma;
  double p = A(b - 1, b - 1) * A(b, b) - A(b, b - 1) * A(b - 1, b) + sigma;
  double h11 = A(t, t), h12 = A(t, t + 1), h21 = A(t + 1, t), h22 = A(t + 1, t + 1), h32 = A(t + 2, t + 1);
  double first[3] = {h11 * (h11 - s) + h12 * h21 + p, h21 * (h11 + h22 - s), h21 * h32};
  int m = b - t + 1;
  for (int k = 0; k <= m - 2; ++k) {
    int len = k + 3 <= m ? 3 : 2;
    double v[3], beta;
    if (k == 0)
      ComputeHouseholderVector(first, len, 1, v, &beta);
    else
      ComputeHouseholderVector(&A(t + k, t + k - 1), len, n, v, &beta);
    ApplyHouseholderLeft(a, n, n, v, beta, t + k, t + k + len);
    if (k > 0 && sigma == 0)
      for (int i = 1; i < len; ++i) A(t + k + i, t + k - 1) = 0;
    ApplyHouseholderRight(a, n, n, v, beta, t + k, t + k + len);
    if (q) ApplyHouseholderRight(q, n, n, v, beta, t + k, t + k + len);
  }
}

void ComplexDoubleShiftSweep(double* ar, double* ai, int n, double* qr, double* qi, int t, int b, double sigma) {
  auto A = [&](int i, int j) { return At(ar, ai, i * n + j); };
  Cx s = A(b - 1, b - 1) + A(b, b) + sigma;
  Cx p = A(b - 1, b - 1) * A(b, b) - A(b, b - 1) * A(b - 1, b) + sigma;
  Cx h11 = A(t, t), h12 = A(t, t + 1), h21 = A(t + 1, t), h22 = A(t + 1, t + 1), h32 = A(t + 2, t + 1);
  Cx x = h11 * (h11 - s) + h12 * h21 + p, y = h21 * (h11 + h22 - s), z = h21 * h32;
  double fr[3] = {x.real(), y.real(), z.real()}, fi[3] = {x.imag(), y.imag(), z.imag()};
  int m = b - t + 1;
  for (int k = 0; k <= m - 2; ++k) {
    int len = k + 3 <= m ? 3 : 2;
    double vr[3], vi[3], beta;
    if (k == 0) {
      ComputeComplexHouseholderVector(fr, fi, len, 1, vr, vi, &beta);
    } else {
      int e = (t + k) * n + t + k - 1;
      ComputeComplexHouseholderVector(ar + e, ai + e, len, n, vr, vi, &beta);
    }
    ApplyComplexHouseholderLeft(ar, ai, n, n, vr, vi, beta, t + k, t + k + len);
    if (k > 0)
      for (int i = 1; i < len; ++i) ar[(t + k + i) * n + t + k - 1] = ai[(t + k + i) * n + t + k - 1] = 0;
    ApplyComplexHouseholderRight(ar, ai, n, n, vr, vi, beta, t + k, t + k + len);
    if (qr) ApplyComplexHouseholderRight(qr, qi, n, n, vr, vi, beta, t + k, t + k + len);
  }
}

// The last row of the lowest unreduced block of order 3 or more, or -1 when the
// matrix is made of 1 x 1 and 2 x 2 diagonal blocks only.
int FindActiveBlock(int n, auto nonzero) {
  for (int j = 0; j < n - 2; ++j)
    if (nonzero(n - 1 - j, n - 2 - j) && nonzero(n - 2 - j, n - 3 - j)) return n - 1 - j;
  return -1;
}

}  // namespace

bool ComputeRealSchurForm(double* a, int n, double* q, uint8_t* flag, double* scratch) {
  auto A = [&](int i, int j) -> double& { return a[i * n + j]; };
  if (flag) *flag = 0;
  ReduceToHessenberg(a, n, q, scratch);
  for (int i = 0;; ++i) {
    for (int k = 0; k + 1 < n; ++k)
      if ((std::fabs(A(k, k)) + std::fabs(A(k + 1, k + 1))) * kEps > std::fabs(A(k + 1, k))) A(k + 1, k) = 0;
    int b = FindActiveBlock(n, [&](int r, int c) { return A(r, c) != 0; });
    if (b < 0) break;
    if (i >= 100 * n) return false;
    int t = b;
    while (t > 0 && A(t, t - 1) != 0) --t;
    RealDoubleShiftSweep(a, n, q, t, b, i % 10 == 9 ? 0.02 * i : 0.0);
  }
  // Standardise: 2 x 2 blocks with real eigenvalues are rotated to triangular.
  for (int k = 1; k < n;) {
    double ea = A(k - 1, k - 1), eb = A(k - 1, k), ee = A(k, k - 1), ed = A(k, k);
    if ((std::fabs(ea) + std::fabs(ed)) * (2 * kEps) >= std::fabs(ee)) {
      A(k, k - 1) = 0;
      ++k;
      continue;
    }
    double disc = (ea - ed) * (ea - ed) + 4 * eb * ee;
    if (disc >= 0) {
      double mu = ((ea - ed) + std::copysign(std::sqrt(disc), ea - ed >= 0 ? 1.0 : -1.0)) / 2;
      double r = 1.0 / std::sqrt(ee * ee + mu * mu), c = mu * r, s = ee * r;
      for (int i = 0; i <= k; ++i) {
        double x = A(i, k - 1), y = A(i, k);
        A(i, k - 1) = c * x + s * y;
        A(i, k) = c * y - s * x;
      }
      for (int j = k - 1; j < n; ++j) {
        double u = A(k - 1, j), w = A(k, j);
        A(k - 1, j) = c * u + s * w;
        A(k, j) = c * w - s * u;
      }
      A(k, k - 1) = 0;
      if (q)
        for (int i = 0; i < n; ++i) {
          double x = q[i * n + k - 1], y = q[i * n + k];
          q[i * n + k - 1] = c * x + s * y;
          q[i * n + k] = c * y - s * x;
        }
    } else if (flag) {
      *flag = 1;
    }
    if (k + 1 < n) A(k + 1, k) = 0;
    k += 2;
  }
  for (int i = 2; i < n; ++i)
    for (int j = 0; j < i - 1; ++j) A(i, j) = 0;
  return true;
}

bool ComputeComplexSchurForm(double* ar, double* ai, int n, double* qr, double* qi, double* scratch) {
  auto A = [&](int i, int j) { return At(ar, ai, i * n + j); };
  auto l1 = [](Cx z) { return std::fabs(z.real()) + std::fabs(z.imag()); };
  ReduceComplexToHessenberg(ar, ai, n, qr, qi, scratch);
  for (int i = 0;; ++i) {
    for (int k = 0; k + 1 < n; ++k)
      if ((l1(A(k, k)) + l1(A(k + 1, k + 1))) * kEps > l1(A(k + 1, k))) ar[(k + 1) * n + k] = ai[(k + 1) * n + k] = 0;
    int b = FindActiveBlock(n, [&](int r, int c) { return ar[r * n + c] != 0 || ai[r * n + c] != 0; });
    if (b < 0) break;
    if (i >= 100 * n) return false;
    int t = b;
    while (t > 0 && (ar[t * n + t - 1] != 0 || ai[t * n + t - 1] != 0)) --t;
    ComplexDoubleShiftSweep(ar, ai, n, qr, qi, t, b, i % 20 == 19 ? 0.02 * i : 0.0);
  }
  // Triangularise the converged 2 x 2 blocks by unitary rotations.
  for (int k = 1; k < n;) {
    Cx a = A(k - 1, k - 1), b = A(k - 1, k), e = A(k, k - 1), d = A(k, k);
    if ((l1(a) + l1(d)) * 2000 * kEps >= l1(e)) {
      ++k;
      continue;
    }
    Cx phi = numeric::SmithDivide(std::conj(e), e);
    Cx delta = phi * (a - d);
    Cx w = numeric::PrincipalSqrt(phi * phi * ((a - d) * (a - d) + 4.0 * b * e));
    Cx mu = delta.real() >= 0 ? (delta + w) / 2.0 : (delta - w) / 2.0;
    double me = numeric::Modulus(mu), ee = numeric::Modulus(e);
    double r = 1.0 / std::sqrt(me * me + ee * ee);
    Cx c = mu * r, s = e * r;
    // G = [c, -s; conj(s), conj(c)]: columns k-1, k of T and Q become T G, rows G^H T.
    auto rotateColumns = [&](double* mr, double* mi) {
      for (int i = 0; i < n; ++i) {
        Cx x = At(mr, mi, i * n + k - 1), y = At(mr, mi, i * n + k);
        Put(mr, mi, i * n + k - 1, x * c + y * std::conj(s));
        Put(mr, mi, i * n + k, -x * s + y * std::conj(c));
      }
    };
    rotateColumns(ar, ai);
    if (qr) rotateColumns(qr, qi);
    for (int j = 0; j < n; ++j) {
      Cx u = A(k - 1, j), v = A(k, j);
      Put(ar, ai, (k - 1) * n + j, std::conj(c) * u + s * v);
      Put(ar, ai, k * n + j, -std::conj(s) * u + c * v);
    }
    if (k + 1 < n) ar[(k + 1) * n + k] = ai[(k + 1) * n + k] = 0;
    k += 2;
  }
  for (int i = 2; i < n; ++i)
    for (int j = 0; j < i - 1; ++j) ar[i * n + j] = ai[i * n + j] = 0;
  return true;
}

void ConvertRealSchurToComplex(double* tr, double* ti, double* qr, double* qi, int n) {
  std::fill(ti, ti + n * n, 0.0);
  if (qr) std::fill(qi, qi + n * n, 0.0);
  for (int k = 1; k < n;) {
    double a = tr[(k - 1) * n + k - 1], b = tr[(k - 1) * n + k], e = tr[k * n + k - 1], d = tr[k * n + k];
    if ((std::fabs(a) + std::fabs(d)) * (2 * kEps) >= std::fabs(e)) {
      tr[k * n + k - 1] = 0;
      ++k;
      continue;
    }
    double disc = (a - d) * (a - d) + 4 * b * e;
    Cx mu = disc >= 0 ? Cx(((a - d) + std::copysign(std::sqrt(disc), a - d >= 0 ? 1.0 : -1.0)) / 2, 0)
                      : Cx((a - d) / 2, std::sqrt(-disc) / 2);
    double me = numeric::Modulus(mu);
    double r = 1.0 / std::sqrt(e * e + me * me), s = e * r;
    Cx c = mu * r;
    // G = [c, -s; s, conj(c)] with s real; T := G^H T G, Q := Q G.
    auto rotateColumns = [&](double* mr, double* mi, int lastRow) {
      for (int i = 0; i <= lastRow; ++i) {
        Cx x = At(mr, mi, i * n + k - 1), y = At(mr, mi, i * n + k);
        Put(mr, mi, i * n + k - 1, x * c + y * s);
        Put(mr, mi, i * n + k, -x * s + y * std::conj(c));
      }
    };
    rotateColumns(tr, ti, k);
    if (qr) rotateColumns(qr, qi, n - 1);
    for (int j = k - 1; j < n; ++j) {
      Cx u = At(tr, ti, (k - 1) * n + j), v = At(tr, ti, k * n + j);
      Put(tr, ti, (k - 1) * n + j, std::conj(c) * u + s * v);
      Put(tr, ti, k * n + j, -s * u + c * v);
    }
    tr[k * n + k - 1] = ti[k * n + k - 1] = 0;
    if (k + 1 < n) tr[(k + 1) * n + k] = 0;
    k += 2;
  }
}
