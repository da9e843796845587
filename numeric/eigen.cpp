// Eigenvalues without LAPACK: cyclic Jacobi sweeps for symmetric matrices, and
// for general real matrices a stabilised-elimination Hessenberg reduction
// followed by the shifted double-step QR iteration.
#include <algorithm>
#include <cmath>
#include <utility>

#include "numeric/complexops.h"
#include "numeric/numeric.h"

void JacobiSymmetricEigenvalues(double* a, int n, double* d, double* v, double* scratch) {
  double* b = scratch;
  double* z = scratch + n;
  if (v) {
    std::fill(v, v + n * n, 0.0);
    for (int i = 0; i < n; ++i) v[i * n + i] = 1;
  }
  for (int i = 0; i < n; ++i) {
    b[i] = d[i] = a[i * n + i];
    z[i] = 0;
  }
  auto rotate = [](double* g, double* h, double s, double tau) {
    double x = *g, y = *h;
    *g = x - s * (y + x * tau);
    *h = y + s * (x - y * tau);
  };
  for (int sweep = 0; sweep < 50 && n > 1; ++sweep) {
    double sm = 0;
    for (int p = 0; p < n - 1; ++p)
      for (int q = p + 1; q < n; ++q) sm += std::fabs(a[p * n + q]);
    if (sm == 0) break;
    double threshold = sweep < 4 ? 0.2 * sm / (static_cast<double>(n) * n) : 0.0;
    for (int p = 0; p < n - 1; ++p) {
      for (int q = p + 1; q < n; ++q) {
        double apq = a[p * n + q];
        double g = 100.0 * std::fabs(apq);
        // Late sweeps drop entries that no longer change the diagonal.
        if (sweep >= 5 && std::fabs(d[p]) + g == std::fabs(d[p]) && std::fabs(d[q]) + g == std::fabs(d[q])) {
          a[p * n + q] = 0;
          continue;
        }
        if (!(std::fabs(apq) > threshold)) continue;
        double h = d[q] - d[p], t;
        if (std::fabs(h) + g == std::fabs(h)) {
          t = apq / h;
        } else {
          double theta = 0.5 * h / apq;
          t = 1.0 / (std::fabs(theta) + std::sqrt(1.0 + theta * theta));
          if (theta < 0) t = -t;
        }
        double c = 1.0 / std::sqrt(t * t + 1), s = t * c, tau = s / (1.0 + c);
        h = t * apq;
        z[p] -= h;
        z[q] += h;
        d[p] -= h;
        d[q] += h;
        a[p * n + q] = 0;
        for (int j = 0; j < p; ++j) rotate(&a[j * n + p], &a[j * n + q], s, tau);
        for (int j = p + 1; j < q; ++j) rotate(&a[p * n + j], &a[j * n + q], s, tau);
        for (int j = q + 1; j < n; ++j) rotate(&a[p * n + j], &a[q * n + j], s, tau);
        if (v)
          for (int j = 0; j < n; ++j) rotate(&v[j * n + p], &v[j * n + q], s, tau);
      }
    }
    for (int i = 0; i < n; ++i) {
      b[i] += z[i];
      d[i] = b[i];
      z[i] = 0;
    }
  }
}

void ReduceToHessenbergByElimination(double* a, int n, int32_t* pivots) {
  for (int m = 1; m < n - 1; ++m) {
    double x = 0;
    int e = m;
    for (int j = m; j < n; ++j)
      if (std::fabs(a[j * n + m - 1]) > std::fabs(x)) x = a[j * n + m - 1], e = j;
    pivots[m] = e;
    if (e != m) {
      for (int k = m - 1; k < n; ++k) std::swap(a[e * n + k], a[m * n + k]);
      for (int k = 0; k < n; ++k) std::swap(a[k * n + e], a[k * n + m]);
    }
    if (x == 0) continue;
    for (int j = m + 1; j < n; ++j) {
      double y = a[j * n + m - 1];
      if (y == 0) continue;
      y /= x;
      a[j * n + m - 1] = y;
      for (int k = m; k < n; ++k) a[j * n + k] -= y * a[m * n + k];
      for (int k = 0; k < n; ++k) a[k * n + m] += y * a[k * n + j];
    }
  }
}

bool ShiftedQrEigenvalues(double* hm, int n, double eps, double* re, double* im) {
  auto H = [&](int i, int j) -> double& { return hm[i * n + j]; };
  double anorm = 0;
  for (int i = 0; i < n; ++i)
    for (int j = std::max(i - 1, 0); j < n; ++j) anorm += std::fabs(H(i, j));
  if (anorm == 0) {
    std::fill(re, re + n, 0.0);
    std::fill(im, im + n, 0.0);
    return true;
  }
  int budget = 30 * n;  // for the whole matrix, not per eigenvalue
  double t = 0;
  int nn = n - 1;
  while (nn >= 0) {
    int its = 0;
    for (;;) {
      int l = nn;
      for (; l >= 1; --l) {
        double s = std::fabs(H(l - 1, l - 1)) + std::fabs(H(l, l));
        if (s == 0) s = anorm / ((nn + 1.0) * (nn + 1.0) * 0.5);
        if (std::fabs(H(l, l - 1)) <= s * eps) {
          H(l, l - 1) = 0;
          break;
        }
      }
      double x = H(nn, nn);
      if (l == nn) {
        re[nn] = x + t;
        im[nn] = 0;
        --nn;
        break;
      }
      double y = H(nn - 1, nn - 1), w = H(nn, nn - 1) * H(nn - 1, nn);
      if (l == nn - 1) {
        double p = 0.5 * (y - x), q = p * p + w, z = std::sqrt(std::fabs(q));
        x += t;
        if (q <= 0) {  // q = 0 exactly counts as a pair with imaginary parts +0 and -0
          re[nn - 1] = re[nn] = x + p;
          im[nn - 1] = z;
          im[nn] = -z;
        } else {
          z = p < 0 ? p - z : p + z;
          re[nn - 1] = x + z;
          re[nn] = x - w / z;
          im[nn - 1] = im[nn] = 0;
        }
        nn -= 2;
        break;
      }
      if (budget == 0) return false;
      --budget;
      if (its == 10 || its == 20) {  // exceptional shift
        t += x;
        for (int i = 0; i <= nn; ++i) H(i, i) -= x;
        double s = std::fabs(H(nn, nn - 1)) + std::fabs(H(nn - 1, nn - 2));
        x = y = 0.75 * s;
        w = -0.4375 * s * s;
      }
      ++its;
      int m = nn - 2;
      double p = 0, q = 0, r = 0, z;
      for (;; --m) {
        z = H(m, m);
        r = x - z;
        double s = y - z;
        p = (r * s - w) / H(m + 1, m) + H(m, m + 1);
        q = H(m + 1, m + 1) - z - r - s;
        r = H(m + 2, m + 1);
        s = std::fabs(p) + std::fabs(q) + std::fabs(r);
        p /= s;
        q /= s;
        r /= s;
        if (m == l) break;
        double u = std::fabs(H(m, m - 1)) * (std::fabs(q) + std::fabs(r));
        double v = std::fabs(p) * (std::fabs(H(m - 1, m - 1)) + std::fabs(z) + std::fabs(H(m + 1, m + 1)));
        if (u <= eps * v) break;
      }
      for (int i = m + 2; i <= nn; ++i) {
        H(i, i - 2) = 0;
        if (i != m + 2) H(i, i - 3) = 0;
      }
      // Francis double step: 3 x 3 reflections (2 x 2 at the last position).
      for (int k = m; k <= nn - 1; ++k) {
        if (k != m) {
          p = H(k, k - 1);
          q = H(k + 1, k - 1);
          r = k != nn - 1 ? H(k + 2, k - 1) : 0.0;
          x = std::fabs(p) + std::fabs(q) + std::fabs(r);
          if (x == 0) continue;
          p /= x;
          q /= x;
          r /= x;
        }
        double s = std::copysign(std::sqrt(p * p + q * q + r * r), p);
        if (s == 0) continue;
        if (k == m) {
          if (l != m) H(k, k - 1) = -H(k, k - 1);
        } else {
          H(k, k - 1) = -s * x;
        }
        p += s;
        x = p / s;
        y = q / s;
        z = r / s;
        q /= p;
        r /= p;
        for (int j = k; j <= nn; ++j) {
          p = H(k, j) + q * H(k + 1, j);
          if (k != nn - 1) {
            p += r * H(k + 2, j);
            H(k + 2, j) -= p * z;
          }
          H(k + 1, j) -= p * y;
          H(k, j) -= p * x;
        }
        int last = std::min(nn, k + 3);
        for (int i = l; i <= last; ++i) {
          p = x * H(i, k) + y * H(i, k + 1);
          if (k != nn - 1) {
            p += z * H(i, k + 2);
            H(i, k + 2) -= p * r;
          }
          H(i, k + 1) -= p * q;
          H(i, k) -= p;
        }
      }
    }
  }
  return true;
}

bool ComputeRealEigenvalues(double* a, int n, int32_t* scratch, double* re, double* im) {
  ReduceToHessenbergByElimination(a, n, scratch);
  return ShiftedQrEigenvalues(a, n, numeric::kEps, re, im);
}
