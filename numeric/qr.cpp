// Householder reflectors (construction and application from either side), the
// reduction to upper Hessenberg form and the QR factorisation with optional
// column pivoting, for real and complex matrices.
#include <algorithm>
#include <cmath>
#include <utility>

#include "numeric/complexops.h"
#include "numeric/numeric.h"

using numeric::Cx;

void ComputeHouseholderVector(const double* x, int n, int stride, double* v, double* beta) {
  double a = 0;
  for (int k = 0; k < n; ++k) a = std::max(a, std::fabs(x[k * stride]));
  if (a == 0) {
    std::fill(v, v + std::max(n, 0), 0.0);
    *beta = 1;
    return;
  }
  // Scaling by the largest entry keeps the sum of squares from overflowing.
  double inv = 1.0 / a, sum = 0;
  for (int k = 0; k < n; ++k) {
    v[k] = x[k * stride] * inv;
    sum += v[k] * v[k];
  }
  double sigma = std::sqrt(sum);
  *beta = 1.0 / (sigma * (sigma + std::fabs(v[0])));
  v[0] += v[0] >= 0 ? sigma : -sigma;
}

void ComputeComplexHouseholderVector(const double* xr, const double* xi, int n, int stride, double* vr, double* vi,
                                     double* beta) {
  double a = 0;
  for (int k = 0; k < n; ++k) {
    double re = xr[k * stride], im = xi[k * stride];
    a = std::max(a, re * re + im * im);
  }
  if (a == 0) {
    std::fill(vr, vr + std::max(n, 0), 0.0);
    std::fill(vi, vi + std::max(n, 0), 0.0);
    *beta = 1;
    return;
  }
  double inv = 1.0 / std::sqrt(a), sum = 0;
  for (int k = 0; k < n; ++k) {
    vr[k] = xr[k * stride] * inv;
    vi[k] = xi[k * stride] * inv;
    sum += vr[k] * vr[k] + vi[k] * vi[k];
  }
  double sigma = std::sqrt(sum);
  double m0 = numeric::ScaledHypot(vr[0], vi[0]);
  *beta = 1.0 / (sigma * (sigma + m0));
  if (m0 != 0) {
    double f = 1.0 + sigma / m0;  // sigma added along the direction of v0
    vr[0] *= f;
    vi[0] *= f;
  } else {
    vr[0] = sigma;
  }
}

void ApplyHouseholderLeft(double* a, int rows, int cols, const double* v, double beta, int r0, int r1) {
  int len = std::min(rows, r1) - r0;
  if (len <= 0) return;
  for (int j = 0; j < cols; ++j) {
    double w = 0;
    for (int k = 0; k < len; ++k) w += v[k] * a[(r0 + k) * cols + j];
    w *= beta;
    for (int k = 0; k < len; ++k) a[(r0 + k) * cols + j] -= w * v[k];
  }
}

void ApplyComplexHouseholderLeft(double* ar, double* ai, int rows, int cols, const double* vr, const double* vi,
                                 double beta, int r0, int r1) {
  int len = std::min(rows, r1) - r0;
  if (len <= 0) return;
  for (int j = 0; j < cols; ++j) {
    double wr = 0, wi = 0;
    for (int k = 0; k < len; ++k) {
      int e = (r0 + k) * cols + j;
      wr += vr[k] * ar[e] + vi[k] * ai[e];  // conj(v) * a
      wi += vr[k] * ai[e] - vi[k] * ar[e];
    }
    wr *= beta;
    wi *= beta;
    for (int k = 0; k < len; ++k) {
      int e = (r0 + k) * cols + j;
      ar[e] -= wr * vr[k] - wi * vi[k];
      ai[e] -= wr * vi[k] + wi * vr[k];
    }
  }
}

void ApplyHouseholderRight(double* a, int rows, int cols, const double* v, double beta, int c0, int c1) {
  int len = std::min(cols, c1) - c0;
  if (len <= 0) return;
  for (int i = 0; i < rows; ++i) {
    double* row = a + i * cols + c0;
    double w = 0;
    for (int k = 0; k < len; ++k) w += row[k] * v[k];
    w *= beta;
    for (int k = 0; k < len; ++k) row[k] -= w * v[k];
  }
}

void ApplyComplexHouseholderRight(double* ar, double* ai, int rows, int cols, const double* vr, const double* vi,
                                  double beta, int c0, int c1) {
  int len = std::min(cols, c1) - c0;
  if (len <= 0) return;
  for (int i = 0; i < rows; ++i) {
    double* rr = ar + i * cols + c0;
    double* ri = ai + i * cols + c0;
    double wr = 0, wi = 0;
    for (int k = 0; k < len; ++k) {
      wr += rr[k] * vr[k] - ri[k] * vi[k];
      wi += rr[k] * vi[k] + ri[k] * vr[k];
    }
    wr *= beta;
    wi *= beta;
    for (int k = 0; k < len; ++k) {  // w * conj(v)
      rr[k] -= wr * vr[k] + wi * vi[k];
      ri[k] -= wi * vr[k] - wr * vi[k];
    }
  }
}

static void SetIdentity(double* q, double* qi, int rows, int cols) {
  std::fill(q, q + rows * cols, 0.0);
  if (qi) std::fill(qi, qi + rows * cols, 0.0);
  for (int i = 0; i < std::min(rows, cols); ++i) q[i * cols + i] = 1;
}

void ReduceToHessenberg(double* a, int n, double* q, double* scratch) {
  if (q) SetIdentity(q, nullptr, n, n);
  if (n <= 2) return;
  double* v = scratch;
  for (int k = 1; k <= n - 2; ++k) {
    double beta;
    ComputeHouseholderVector(a + k * n + k - 1, n - k, n, v, &beta);
    ApplyHouseholderLeft(a, n, n, v, beta, k, n);
    for (int i = k + 1; i < n; ++i) a[i * n + k - 1] = 0;
    ApplyHouseholderRight(a, n, n, v, beta, k, n);
    if (q) ApplyHouseholderRight(q, n, n, v, beta, k, n);
  }
}

void ReduceComplexToHessenberg(double* ar, double* ai, int n, double* qr, double* qi, double* scratch) {
  if (qr) SetIdentity(qr, qi, n, n);
  if (n <= 2) return;
  double* vr = scratch;
  double* vi = scratch + n;
  for (int k = 1; k <= n - 2; ++k) {
    double beta;
    int e = k * n + k - 1;
    ComputeComplexHouseholderVector(ar + e, ai + e, n - k, n, vr, vi, &beta);
    ApplyComplexHouseholderLeft(ar, ai, n, n, vr, vi, beta, k, n);
    for (int i = k + 1; i < n; ++i) ar[i * n + k - 1] = ai[i * n + k - 1] = 0;
    ApplyComplexHouseholderRight(ar, ai, n, n, vr, vi, beta, k, n);
    if (qr) ApplyComplexHouseholderRight(qr, qi, n, n, vr, vi, beta, k, n);
  }
}

// Column pivot for step i: the largest remaining squared norm, the first on
// ties. Returns false when it is exactly 0 (the rest of the matrix is zero).
static bool PickPivotColumn(double* norms, int32_t* perm, int i, int n, double* ar, double* ai, int m) {
  int e = i;
  for (int j = i + 1; j < n; ++j)
    if (norms[j] > norms[e]) e = j;
  double best = norms[e];
  if (best == 0) return false;
  if (e != i) {
    std::swap(perm[i], perm[e]);
    norms[e] = norms[i];
    norms[i] = best;
    for (int r = 0; r < m; ++r) {
      std::swap(ar[r * n + i], ar[r * n + e]);
      if (ai) std::swap(ai[r * n + i], ai[r * n + e]);
    }
  }
  return true;
}

void FactorRealQr(double* a, int m, int n, double* q, int32_t* perm, double* scratch) {
  double* v = scratch;
  double* norms = scratch + m;
  if (perm) {
    for (int j = 0; j < n; ++j) {
      perm[j] = j;
      double s = 0;
      for (int r = 0; r < m; ++r) s += a[r * n + j] * a[r * n + j];
      norms[j] = s;
    }
  }
  if (q) SetIdentity(q, nullptr, m, m);
  for (int i = 0; i < std::min(m, n); ++i) {
    if (perm && !PickPivotColumn(norms, perm, i, n, a, nullptr, m)) break;
    double beta;
    ComputeHouseholderVector(a + i * n + i, m - i, n, v, &beta);
    ApplyHouseholderLeft(a, m, n, v, beta, i, m);
    if (perm)
      for (int j = i + 1; j < n; ++j) norms[j] -= a[i * n + j] * a[i * n + j];
    if (q) ApplyHouseholderRight(q, m, m, v, beta, i, m);
  }
  for (int i = 1; i < m; ++i)
    for (int j = 0; j < std::min(i, n); ++j) a[i * n + j] = 0;
}

void FactorComplexQr(double* ar, double* ai, int m, int n, double* qr, double* qi, int32_t* perm, double* scratch) {
  double* vr = scratch;
  double* vi = scratch + m;
  double* norms = scratch + 2 * m;
  if (perm) {
    for (int j = 0; j < n; ++j) {
      perm[j] = j;
      double s = 0;
      for (int r = 0; r < m; ++r) s += ar[r * n + j] * ar[r * n + j] + ai[r * n + j] * ai[r * n + j];
      norms[j] = s;
    }
  }
  if (qr) SetIdentity(qr, qi, m, m);
  for (int i = 0; i < std::min(m, n); ++i) {
    if (perm && !PickPivotColumn(norms, perm, i, n, ar, ai, m)) break;
    double beta;
    ComputeComplexHouseholderVector(ar + i * n + i, ai + i * n + i, m - i, n, vr, vi, &beta);
    ApplyComplexHouseholderLeft(ar, ai, m, n, vr, vi, beta, i, m);
    if (perm)
      for (int j = i + 1; j < n; ++j) norms[j] -= ar[i * n + j] * ar[i * n + j] + ai[i * n + j] * ai[i * n + j];
    if (qr) ApplyComplexHouseholderRight(qr, qi, m, m, vr, vi, beta, i, m);
  }
  for (int i = 1; i < m; ++i)
    for (int j = 0; j < std::min(i, n); ++j) ar[i * n + j] = ai[i * n + j] = 0;
}
