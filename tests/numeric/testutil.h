// Shared helpers of the numeric kernel tests: seeded random matrices, dense
// products and norms on the kernels' row-major layout, and the LAPACK routines
// that serve as the independent reference (declared in numeric/lapack.h).
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "numeric/lapack.h"

using Cx = std::complex<double>;
using Vec = std::vector<double>;

namespace testutil {

inline Vec RandomMatrix(int rows, int cols, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  Vec a(static_cast<size_t>(rows) * cols);
  for (double& x : a) x = dist(gen);
  return a;
}

// A complex matrix as the kernels store it in one array: real block, imaginary block.
struct CMat {
  int rows = 0, cols = 0;
  Vec re, im;
  CMat(int r, int c) : rows(r), cols(c), re(static_cast<size_t>(r) * c), im(static_cast<size_t>(r) * c) {}
  Cx operator()(int i, int j) const { return {re[i * cols + j], im[i * cols + j]}; }
  void set(int i, int j, Cx z) {
    re[i * cols + j] = z.real();
    im[i * cols + j] = z.imag();
  }
  Vec Joined() const {
    Vec v(re);
    v.insert(v.end(), im.begin(), im.end());
    return v;
  }
};

inline CMat RandomComplex(int rows, int cols, unsigned seed) {
  CMat m(rows, cols);
  m.re = RandomMatrix(rows, cols, seed);
  m.im = RandomMatrix(rows, cols, seed + 1000);
  return m;
}

inline CMat FromReal(const Vec& a, int rows, int cols) {
  CMat m(rows, cols);
  m.re = a;
  return m;
}

// C = op(A) op(B), op = conjugate transpose where asked.
inline CMat Mul(const CMat& a, const CMat& b, bool adjA = false, bool adjB = false) {
  int m = adjA ? a.cols : a.rows, k = adjA ? a.rows : a.cols, n = adjB ? b.rows : b.cols;
  CMat c(m, n);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) {
      Cx s = 0;
      for (int t = 0; t < k; ++t) {
        Cx x = adjA ? std::conj(a(t, i)) : a(i, t);
        Cx y = adjB ? std::conj(b(j, t)) : b(t, j);
        s += x * y;
      }
      c.set(i, j, s);
    }
  return c;
}

inline double MaxAbs(const CMat& a) {
  double m = 0;
  for (int i = 0; i < a.rows; ++i)
    for (int j = 0; j < a.cols; ++j) m = std::max(m, std::abs(a(i, j)));
  return m;
}

inline double MaxDiff(const CMat& a, const CMat& b) {
  double m = 0;
  for (int i = 0; i < a.rows; ++i)
    for (int j = 0; j < a.cols; ++j) m = std::max(m, std::abs(a(i, j) - b(i, j)));
  return m;
}

// max |Q^H Q - I|.
inline double UnitaryError(const CMat& q) {
  CMat g = Mul(q, q, true, false);
  for (int i = 0; i < g.rows; ++i) g.set(i, i, g(i, i) - 1.0);
  return MaxAbs(g);
}

// Largest entry below the diagonal (skip = 1: below the subdiagonal).
inline double BelowDiagonal(const CMat& a, int skip = 0) {
  double m = 0;
  for (int i = 0; i < a.rows; ++i)
    for (int j = 0; j + skip < i && j < a.cols; ++j) m = std::max(m, std::abs(a(i, j)));
  return m;
}

// Greedy matching of two eigenvalue lists: the largest distance of a value to
// its partner.
inline double SpectrumDistance(std::vector<Cx> a, std::vector<Cx> b) {
  if (a.size() != b.size()) return INFINITY;
  double worst = 0;
  for (Cx x : a) {
    auto it = std::min_element(b.begin(), b.end(), [x](Cx p, Cx q) { return std::abs(p - x) < std::abs(q - x); });
    worst = std::max(worst, std::abs(*it - x));
    b.erase(it);
  }
  return worst;
}

inline std::vector<Cx> LapackEigenvalues(const Vec& a, int n) {
  Vec cm(static_cast<size_t>(n) * n), wr(n), wi(n), work(8 * n + 8);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) cm[j * n + i] = a[i * n + j];
  int lwork = static_cast<int>(work.size()), info = 0, one = 1;
  dgeev_("N", "N", &n, cm.data(), &n, wr.data(), wi.data(), nullptr, &one, nullptr, &one, work.data(), &lwork, &info, 1,
         1);
  std::vector<Cx> out;
  for (int i = 0; i < n; ++i) out.emplace_back(wr[i], wi[i]);
  return out;
}

inline std::vector<Cx> LapackEigenvalues(const CMat& a) {
  int n = a.rows;
  std::vector<Cx> cm(static_cast<size_t>(n) * n), w(n), work(4 * n + 4);
  Vec rwork(2 * n + 2);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) cm[j * n + i] = a(i, j);
  int lwork = static_cast<int>(work.size()), info = 0, one = 1;
  zgeev_("N", "N", &n, cm.data(), &n, w.data(), nullptr, &one, nullptr, &one, work.data(), &lwork, rwork.data(), &info,
         1, 1);
  return w;
}

inline Vec LapackSingularValues(const Vec& a, int m, int n) {
  Vec cm(static_cast<size_t>(m) * n), s(std::min(m, n)), work(10 * (m + n) + 10);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) cm[j * m + i] = a[i * n + j];
  int lwork = static_cast<int>(work.size()), info = 0, one = 1;
  dgesvd_("N", "N", &m, &n, cm.data(), &m, s.data(), nullptr, &one, nullptr, &one, work.data(), &lwork, &info, 1, 1);
  return s;
}

inline Vec LapackSingularValues(const CMat& a) {
  int m = a.rows, n = a.cols;
  std::vector<Cx> cm(static_cast<size_t>(m) * n), work(10 * (m + n) + 10);
  Vec s(std::min(m, n)), rwork(5 * std::min(m, n) + 5);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) cm[j * m + i] = a(i, j);
  int lwork = static_cast<int>(work.size()), info = 0, one = 1;
  zgesvd_("N", "N", &m, &n, cm.data(), &m, s.data(), nullptr, &one, nullptr, &one, work.data(), &lwork, rwork.data(),
          &info, 1, 1);
  return s;
}

}  // namespace testutil
