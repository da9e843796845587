// Gaussian elimination with partial pivoting: the packed LU factorisation, the
// solvers of A X = B and X A = B, and determinants, real and complex. Rows of
// the solvers move only through the permutation.
#include <cmath>
#include <utility>

#include "numeric/complexops.h"
#include "numeric/numeric.h"

using numeric::Cx;

namespace {

// A zero or NaN pivot skips the elimination of its column in the LU.
bool IsDeadPivot(double re, double im) { return (re == 0 && im == 0) || std::isnan(re) || std::isnan(im); }

// Views of the stored arrays. For X A = B the same elimination runs on the
// transposed system, so the left solver reads A^T and B^T through these.
struct Square {
  double* p;
  int n;
  bool transposed;
  double& operator()(int r, int c) const { return transposed ? p[c * n + r] : p[r * n + c]; }
};
struct Rhs {
  double* p;
  int n, k;  // the logical right-hand side is n x k
  bool transposed;
  double& operator()(int r, int c) const { return transposed ? p[c * n + r] : p[r * k + c]; }
};

// Real elimination on `blocks` right-hand sides of shape n x k that share A.
void SolveReal(Square a, Rhs* b, int blocks, int32_t* perm) {
  int n = a.n, k = b[0].k;
  for (int i = 0; i < n; ++i) perm[i] = i;
  for (int i = 0; i < n; ++i) {
    // The held value starts at -1: zeros are accepted, NaNs never taken.
    double held = -1;
    int p = i;
    for (int t = i; t < n; ++t) {
      double v = std::fabs(a(perm[t], i));
      if (v > held) held = v, p = t;
    }
    std::swap(perm[i], perm[p]);
    int r = perm[i];
    double f = 1.0 / a(r, i);
    for (int c = i + 1; c < n; ++c) a(r, c) *= f;
    for (int q = 0; q < blocks; ++q)
      for (int c = 0; c < k; ++c) b[q](r, c) *= f;
    for (int t = i + 1; t < n; ++t) {
      int s = perm[t];
      double g = a(s, i);
      if (g == 0) continue;  // NaN is not skipped
      for (int c = i + 1; c < n; ++c) a(s, c) -= g * a(r, c);
      for (int q = 0; q < blocks; ++q)
        for (int c = 0; c < k; ++c) b[q](s, c) -= g * b[q](r, c);
    }
  }
  for (int i = n - 1; i >= 0; --i) {
    int ri = perm[i];
    for (int t = 0; t < i; ++t) {
      int s = perm[t];
      double g = a(s, i);
      if (g == 0) continue;
      for (int q = 0; q < blocks; ++q)
        for (int c = 0; c < k; ++c) b[q](s, c) -= g * b[q](ri, c);
    }
  }
  // A is spent: its first n cells gather each column in logical order.
  for (int q = 0; q < blocks; ++q)
    for (int c = 0; c < k; ++c) {
      for (int t = 0; t < n; ++t) a.p[t] = b[q](perm[t], c);
      for (int t = 0; t < n; ++t) b[q](t, c) = a.p[t];
    }
}

void SolveComplex(Square ar, Square ai, Rhs br, Rhs bi, int32_t* perm) {
  int n = ar.n, k = br.k;
  auto A = [&](int r, int c) { return Cx(ar(r, c), ai(r, c)); };
  auto setA = [&](int r, int c, Cx z) { ar(r, c) = z.real(), ai(r, c) = z.imag(); };
  auto B = [&](int r, int c) { return Cx(br(r, c), bi(r, c)); };
  auto setB = [&](int r, int c, Cx z) { br(r, c) = z.real(), bi(r, c) = z.imag(); };
  for (int i = 0; i < n; ++i) perm[i] = i;
  for (int i = 0; i < n; ++i) {
    double held = -1;
    int p = i;
    for (int t = i; t < n; ++t) {
      Cx z = A(perm[t], i);
      double v = z.real() * z.real() + z.imag() * z.imag();
      if (v > held) held = v, p = t;
    }
    std::swap(perm[i], perm[p]);
    int r = perm[i];
    Cx piv = A(r, i);
    double m2 = piv.real() * piv.real() + piv.imag() * piv.imag();
    Cx f(piv.real() / m2, -piv.imag() / m2);
    for (int c = i + 1; c < n; ++c) setA(r, c, A(r, c) * f);
    for (int c = 0; c < k; ++c) setB(r, c, B(r, c) * f);
    for (int t = i + 1; t < n; ++t) {
      int s = perm[t];
      Cx g = A(s, i);
      if (g.real() == 0 && g.imag() == 0) continue;
      for (int c = i + 1; c < n; ++c) setA(s, c, A(s, c) - g * A(r, c));
      for (int c = 0; c < k; ++c) setB(s, c, B(s, c) - g * B(r, c));
    }
  }
  for (int i = n - 1; i >= 0; --i) {
    int ri = perm[i];
    for (int t = 0; t < i; ++t) {
      int s = perm[t];
      Cx g = A(s, i);
      if (g.real() == 0 && g.imag() == 0) continue;
      for (int c = 0; c < k; ++c) setB(s, c, B(s, c) - g * B(ri, c));
    }
  }
  for (Rhs b : {br, bi})
    for (int c = 0; c < k; ++c) {
      for (int t = 0; t < n; ++t) ar.p[t] = b(perm[t], c);
      for (int t = 0; t < n; ++t) b(t, c) = ar.p[t];
    }
}

}  // namespace

void FactorRealLu(double* a, int m, int n, int32_t* perm) {
  for (int i = 0; i < m; ++i) perm[i] = i;
  for (int k = 0; k < m - 1 && k < n; ++k) {
    int p = k;
    double held = std::fabs(a[k * n + k]);
    for (int j = k + 1; j < m; ++j)
      if (std::fabs(a[j * n + k]) > held) held = std::fabs(a[j * n + k]), p = j;
    std::swap(perm[k], perm[p]);
    if (p != k)
      for (int c = 0; c < n; ++c) std::swap(a[k * n + c], a[p * n + c]);
    double piv = a[k * n + k];
    if (IsDeadPivot(piv, 0)) continue;
    for (int j = k + 1; j < m; ++j) {
      double g = a[j * n + k] / piv;
      a[j * n + k] = g;
      for (int c = k + 1; c < n; ++c) a[j * n + c] -= g * a[k * n + c];
    }
  }
}

void FactorComplexLu(double* ar, double* ai, int m, int n, int32_t* perm) {
  auto mod2 = [&](int e) { return ar[e] * ar[e] + ai[e] * ai[e]; };
  for (int i = 0; i < m; ++i) perm[i] = i;
  for (int k = 0; k < m - 1 && k < n; ++k) {
    int p = k;
    double held = mod2(k * n + k);
    for (int j = k + 1; j < m; ++j)
      if (mod2(j * n + k) > held) held = mod2(j * n + k), p = j;
    std::swap(perm[k], perm[p]);
    if (p != k)
      for (int c = 0; c < n; ++c) {
        std::swap(ar[k * n + c], ar[p * n + c]);
        std::swap(ai[k * n + c], ai[p * n + c]);
      }
    Cx piv(ar[k * n + k], ai[k * n + k]);
    if (IsDeadPivot(piv.real(), piv.imag())) continue;
    for (int j = k + 1; j < m; ++j) {
      Cx g = numeric::SmithDivide(numeric::At(ar, ai, j * n + k), piv);
      numeric::Put(ar, ai, j * n + k, g);
      for (int c = k + 1; c < n; ++c)
        numeric::Put(ar, ai, j * n + c, numeric::At(ar, ai, j * n + c) - g * numeric::At(ar, ai, k * n + c));
    }
  }
}

void SolveRealLinearSystem(double* a, double* b, int n, int k, int32_t* perm, bool bComplex) {
  Rhs rhs[2] = {{b, n, k, false}, {b + n * k, n, k, false}};
  SolveReal({a, n, false}, rhs, bComplex ? 2 : 1, perm);
}

void SolveComplexLinearSystem(double* a, double* b, int n, int k, int32_t* perm) {
  SolveComplex({a, n, false}, {a + n * n, n, false}, {b, n, k, false}, {b + n * k, n, k, false}, perm);
}

void SolveRealRightLinearSystem(double* a, double* b, int n, int k, int32_t* perm) {
  Rhs rhs[1] = {{b, n, k, true}};
  SolveReal({a, n, true}, rhs, 1, perm);
}

void SolveComplexRightLinearSystem(double* a, double* b, int n, int k, int32_t* perm) {
  SolveComplex({a, n, true}, {a + n * n, n, true}, {b, n, k, true}, {b + n * k, n, k, true}, perm);
}

void ComputeRealDeterminant(double* a, double* det, int n, int32_t* perm) {
  double d = 1;
  for (int i = 0; i < n; ++i) perm[i] = i;
  for (int i = 0; i < n; ++i) {
    double held = -1;
    int p = i;
    for (int t = i; t < n; ++t)
      if (std::fabs(a[perm[t] * n + i]) > held) held = std::fabs(a[perm[t] * n + i]), p = t;
    if (p != i) std::swap(perm[i], perm[p]), d = -d;
    int r = perm[i];
    double piv = a[r * n + i];
    d *= piv;
    if (IsDeadPivot(piv, 0)) break;
    for (int c = i + 1; c < n; ++c) a[r * n + c] /= piv;
    for (int t = i + 1; t < n; ++t) {
      int s = perm[t];
      double g = a[s * n + i];
      for (int c = i + 1; c < n; ++c) a[s * n + c] -= g * a[r * n + c];
    }
  }
  *det = d;
}

void ComputeComplexDeterminant(double* ar, double* ai, double* detRe, double* detIm, int n, int32_t* perm) {
  Cx d(1, 0);
  for (int i = 0; i < n; ++i) perm[i] = i;
  for (int i = 0; i < n; ++i) {
    double held = -1;
    int p = i;
    for (int t = i; t < n; ++t) {
      int e = perm[t] * n + i;
      double v = ar[e] * ar[e] + ai[e] * ai[e];
      if (v > held) held = v, p = t;
    }
    if (p != i) std::swap(perm[i], perm[p]), d = -d;
    int r = perm[i];
    Cx piv = numeric::At(ar, ai, r * n + i);
    d *= piv;
    if (IsDeadPivot(piv.real(), piv.imag())) break;
    double m2 = piv.real() * piv.real() + piv.imag() * piv.imag();
    Cx f(piv.real() / m2, -piv.imag() / m2);
    for (int c = i + 1; c < n; ++c) numeric::Put(ar, ai, r * n + c, numeric::At(ar, ai, r * n + c) * f);
    for (int t = i + 1; t < n; ++t) {
      int s = perm[t];
      Cx g = numeric::At(ar, ai, s * n + i);
      for (int c = i + 1; c < n; ++c)
        numeric::Put(ar, ai, s * n + c, numeric::At(ar, ai, s * n + c) - g * numeric::At(ar, ai, r * n + c));
    }
  }
  *detRe = d.real();
  *detIm = d.imag();
}
