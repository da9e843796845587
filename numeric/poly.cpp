// Polynomials from their roots, and characteristic polynomials det(zI - A):
// through the eigenvalues for a real matrix, through a similarity reduction to
// companion form for a complex one.
#include <algorithm>
#include <cmath>
#include <utility>

#include "numeric/complexops.h"
#include "numeric/numeric.h"

using numeric::At;
using numeric::Cx;
using numeric::Put;

void BuildPolyFromRealRoots(const double* r, int n, double* c) {
  c[0] = 1;
  for (int i = 1; i <= n; ++i) {
    c[i] = 0;
    for (int k = i; k >= 1; --k) c[k] -= c[k - 1] * r[i - 1];
  }
}

bool BuildPolyFromComplexRoots(const double* rr, const double* ri, int n, double* cr, double* ci) {
  // The output's bytes serve as the marks of paired roots until the expansion.
  unsigned char* marked = reinterpret_cast<unsigned char*>(cr);
  std::fill(marked, marked + n, 0);
  bool paired = true;
  for (int i = 0; i < n && paired; ++i) {
    if (marked[i] || ri[i] == 0) continue;  // a NaN imaginary part needs a partner, and never finds one
    int j = i + 1;
    while (j < n && (marked[j] || ri[j] != -ri[i] || rr[j] != rr[i])) ++j;
    if (j < n)
      marked[j] = 1;
    else
      paired = false;
  }
  cr[0] = 1;
  ci[0] = 0;
  for (int i = 1; i <= n; ++i) {
    cr[i] = ci[i] = 0;
    Cx r(rr[i - 1], ri[i - 1]);
    for (int k = i; k >= 1; --k) Put(cr, ci, k, At(cr, ci, k) - At(cr, ci, k - 1) * r);
  }
  return paired;
}

int ComputeRealCharPoly(double* a, int n, double* c, double* scratch) {
  double* re = scratch + n;
  double* im = scratch + 2 * n;
  if (!ComputeRealEigenvalues(a, n, reinterpret_cast<int32_t*>(scratch), re, im)) return -1;
  return BuildPolyFromComplexRoots(re, im, n, c, scratch + 3 * n) ? 1 : 0;
}

void ComputeComplexCharPoly(double* ar, double* ai, int n, double* cr, double* ci, int32_t* scratch) {
  int32_t* perm = scratch;
  auto A = [&](int i, int j) { return At(ar, ai, i * n + j); };
  auto set = [&](int i, int j, Cx z) { Put(ar, ai, i * n + j, z); };
  auto l1 = [](Cx z) { return std::fabs(z.real()) + std::fabs(z.imag()); };
  for (int i = 0; i < n; ++i) perm[i] = i;
  // Forward phase: unit subdiagonal in permuted order. A column without a
  // non-zero candidate closes a diagonal block (the span of the rows so far is
  // invariant); the next row then opens a new block without elimination.
  for (int i = 1; i < n; ++i) {
    int d = perm[i - 1];
    int best = i;
    double held = -1;
    for (int k = i; k < n; ++k)
      if (l1(A(perm[k], d)) > held) held = l1(A(perm[k], d)), best = k;
    std::swap(perm[i], perm[best]);
    int f = perm[i];
    Cx v = A(f, d);
    if (v.real() == 0 && v.imag() == 0) continue;
    for (int r = 0; r < n; ++r) set(r, f, A(r, f) * v);
    for (int c = 0; c < n; ++c) set(f, c, numeric::SmithDivide(A(f, c), v));
    for (int k = i + 1; k < n; ++k) {
      int g = perm[k];
      Cx w = A(g, d);
      for (int c = 0; c < n; ++c) set(g, c, A(g, c) - w * A(f, c));
      for (int r = 0; r < n; ++r) set(r, f, A(r, f) + w * A(r, g));
    }
  }
  // Each block in turn: clear its rows to companion form, then multiply its
  // polynomial into c (in place, from the top degree down).
  cr[0] = 1;
  ci[0] = 0;
  int degree = 0;
  for (int s0 = 0; s0 < n;) {
    int s1 = s0;
    while (s1 + 1 < n && (ar[perm[s1 + 1] * n + perm[s1]] != 0 || ai[perm[s1 + 1] * n + perm[s1]] != 0)) ++s1;
    for (int c = s1; c > s0; --c) {
      int e = perm[c - 1], h = perm[c];
      for (int k = c; k <= s1; ++k) {
        int g = perm[k];
        Cx w = A(h, g);
        for (int r = 0; r < n; ++r) set(r, g, A(r, g) - w * A(r, e));
        for (int col = 0; col < n; ++col) set(e, col, A(e, col) + w * A(g, col));
      }
    }
    int size = s1 - s0 + 1, top = perm[s0];
    auto blockCoef = [&](int t) { return t == 0 ? Cx(1, 0) : -A(top, perm[s0 + t - 1]); };
    for (int j = degree + size; j >= 0; --j) {
      Cx sum(0, 0);
      for (int t = 0; t <= size; ++t)
        if (j - t >= 0 && j - t <= degree) sum += At(cr, ci, j - t) * blockCoef(t);
      Put(cr, ci, j, sum);
    }
    degree += size;
    s0 = s1 + 1;
  }
}
