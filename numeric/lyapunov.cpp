// Sylvester and Lyapunov equations by Bartels and Stewart: both coefficient
// matrices are brought to (quasi-)triangular form, the transformed equation is
// solved a column or a column pair at a time, and the solution is rotated back.
// The discrete equation is mapped onto the continuous one by a Cayley transform.
#include <algorithm>
#include <cstring>

#include "numeric/dense.h"
#include "numeric/numeric.h"

namespace {

using numeric::Block;
using numeric::Gemm;

void Transpose(double* a, int n) {
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) std::swap(a[int64_t{i} * n + j], a[int64_t{j} * n + i]);
}

// Solves A1 Y + Y B1 = C for Y, A1 (m x m) upper Hessenberg or quasi-triangular
// and B1 (n x n) lower quasi-triangular, from the last column to the first:
// column j only couples to the columns after it, except across a 2 x 2 block
// of B1, whose two columns are solved as one system of order 2m.
void SolveTransformedSylvester(const double* a1, int m, const double* b1, int n, const double* c, double* y,
                               double* system, double* rhs, int32_t* perm) {
  int j = n - 1;
  while (j >= 0) {
    const bool pair = j > 0 && b1[int64_t{j - 1} * n + j] != 0.0;
    const int first = pair ? j - 1 : j;
    const int width = j - first + 1;
    const int64_t order = int64_t{width} * m;
    std::fill_n(system, order * order, 0.0);
    for (int p = 0; p < width; ++p) {
      const int col = first + p;
      for (int i = 0; i < m; ++i) {
        double s = c[int64_t{i} * n + col];
        for (int k = j + 1; k < n; ++k) s -= y[int64_t{i} * n + k] * b1[int64_t{k} * n + col];
        rhs[int64_t{p} * m + i] = s;
      }
      // Block (p, p) is A1 + b_cc I; block (p, q) is b_{col(q), col(p)} I.
      for (int q = 0; q < width; ++q) {
        const double b = b1[int64_t{first + q} * n + col];
        for (int i = 0; i < m; ++i) {
          double* row = system + (int64_t{p} * m + i) * order + int64_t{q} * m;
          if (p == q)
            for (int k = 0; k < m; ++k) row[k] = a1[int64_t{i} * m + k];
          row[i] += b;
        }
      }
    }
    SolveRealLinearSystem(system, rhs, static_cast<int>(order), 1, perm, false);
    for (int p = 0; p < width; ++p)
      for (int i = 0; i < m; ++i) y[int64_t{i} * n + first + p] = rhs[int64_t{p} * m + i];
    j = first - 1;
  }
}

}  // namespace

int64_t LyapunovWorkspaceSize(int m, int n) {
  const int64_t mm = int64_t{m} * m, nn = int64_t{n} * n, mn = int64_t{m} * n;
  // The two factors, Y, a product buffer, the paired system and its right-hand
  // side, and the reductions' scratch (which later holds the pivot record).
  return mm + nn + 2 * mn + 4 * mm + 2 * int64_t{m} + std::max(m, n) + 2 * int64_t{m};
}

bool SolveLyapunov(double* a, int m, double* b, int n, double* c, double* work) {
  const int64_t mm = int64_t{m} * m, nn = int64_t{n} * n, mn = int64_t{m} * n;
  double* qa = work;
  double* qb = qa + mm;
  double* y = qb + nn;
  double* product = y + mn;
  double* system = product + mn;
  double* rhs = system + 4 * mm;
  double* small = rhs + 2 * int64_t{m};
  uint8_t blocks = 0;

  if (b == nullptr) {
    // A = Q T Q': T plays A1 and its transpose, kept in B's factor slot, B1.
    if (!ComputeRealSchurForm(a, m, qa, &blocks, small)) return false;
    std::memcpy(qb, a, mm * sizeof(double));
    Transpose(qb, m);
    b = qb;
    qb = qa;
  } else {
    // B = Qb S' Qb' with S the real Schur form of B'.
    ReduceToHessenberg(a, m, qa, small);
    Transpose(b, n);
    if (!ComputeRealSchurForm(b, n, qb, &blocks, small)) return false;
    Transpose(b, n);
  }

  // The transformed equation A1 Y + Y B1 = -Qa' C Qb.
  Gemm(1, c, false, qb, false, m, n, n, 0, Block{product, n});
  Gemm(-1, qa, true, product, false, m, m, n, 0, Block{c, n});
  SolveTransformedSylvester(a, m, b, n, c, y, system, rhs, reinterpret_cast<int32_t*>(small));

  // X = Qa Y Qb'.
  Gemm(1, y, false, qb, true, m, n, n, 0, Block{product, n});
  Gemm(1, qa, false, product, false, m, m, n, 0, Block{c, n});
  return true;
}

bool SolveDiscreteLyapunov(double* a, int n, double* c, double* work) {
  const int64_t nn = int64_t{n} * n;
  double* shifted = work;
  double* product = shifted + nn;
  int32_t* perm = reinterpret_cast<int32_t*>(product + nn);
  // Z = (A + I)^-1 (A - I) into A's cells.
  std::memcpy(shifted, a, nn * sizeof(double));
  for (int i = 0; i < n; ++i) {
    shifted[int64_t{i} * n + i] += 1.0;
    a[int64_t{i} * n + i] -= 1.0;
  }
  SolveRealLinearSystem(shifted, a, n, n, perm, false);
  // C := (Z - I) C (Z - I)' / 2.
  Gemm(1, a, false, c, false, n, n, n, 0, Block{product, n});
  for (int64_t k = 0; k < nn; ++k) product[k] -= c[k];
  Gemm(1, product, false, a, true, n, n, n, 0, Block{c, n});
  for (int64_t k = 0; k < nn; ++k) c[k] = (c[k] - product[k]) * 0.5;
  return SolveLyapunov(a, n, nullptr, n, c, work);
}
