// Dense products and square solves: BLAS dgemm above a work threshold, LAPACK
// dgesv and zgesv above an order threshold, the plain loops and the numerical
// library's kernels below them. Both libraries are column-major: a row-major
// matrix read column-major is its transpose, which the calls below use
// instead of copying wherever the algebra allows.
#include "corelib/dense.h"

#include <cstddef>
#include <cstring>

#include "corelib/corelib.h"
#include "numeric/numeric.h"

extern "C" {
// Fortran interfaces; the trailing lengths are the hidden character-argument lengths.
void dgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k, const double* alpha,
            const double* a, const int* lda, const double* b, const int* ldb, const double* beta, double* c,
            const int* ldc, size_t, size_t);
void dgesv_(const int* n, const int* nrhs, double* a, const int* lda, int* ipiv, double* b, const int* ldb, int* info);
// Complex matrices interleaved: (re, im) per element.
void zgesv_(const int* n, const int* nrhs, double* a, const int* lda, int* ipiv, double* b, const int* ldb, int* info);
}

namespace {

// C (m x p) = alpha A B + beta C, all row by row: C^T = B^T A^T column-major.
void RowMajorGemm(int m, int n, int p, double alpha, const double* a, const double* b, double beta, double* c) {
  dgemm_("N", "N", &p, &m, &n, &alpha, b, &p, a, &n, &beta, c, &p, 1, 1);
}

// Row-major r x c block `from` into column-major `to` with leading dimension ld.
void ToColumns(const double* from, int r, int c, double* to, int ld) {
  for (int i = 0; i < r; ++i)
    for (int j = 0; j < c; ++j) to[int64_t{j} * ld + i] = from[int64_t{i} * c + j];
}

void FromColumns(const double* from, int r, int c, int ld, double* to) {
  for (int i = 0; i < r; ++i)
    for (int j = 0; j < c; ++j) to[int64_t{i} * c + j] = from[int64_t{j} * ld + i];
}

void Interleave(const double* re, const double* im, int64_t n, double* to) {
  for (int64_t k = 0; k < n; ++k) to[2 * k] = re[k], to[2 * k + 1] = im[k];
}

void Deinterleave(const double* from, int64_t n, double* re, double* im) {
  for (int64_t k = 0; k < n; ++k) re[k] = from[2 * k], im[k] = from[2 * k + 1];
}

int64_t SolveScratch(int n, int k, bool complex) {
  if (n < kLapackSolveOrder) return 0;
  return (complex ? 2 : 1) * (int64_t{n} * n + int64_t{n} * k * (complex ? 2 : 1));
}

}  // namespace

void MultiplyDense(int m, int n, int p, const double* a, bool aComplex, const double* b, bool bComplex, double* c) {
  const int64_t sa = int64_t{m} * n, sb = int64_t{n} * p, sc = int64_t{m} * p;
  if (int64_t{m} * n * p < kBlasProductWork) {
    if (aComplex && bComplex) {
      MultiplyComplexMatrices(m, n, p, a, b, c);
    } else {
      MultiplyRealMatrices(m, n, p, a, b, c);
      if (aComplex) MultiplyRealMatrices(m, n, p, a + sa, b, c + sc);
      if (bComplex) MultiplyRealMatrices(m, n, p, a, b + sb, c + sc);
    }
    return;
  }
  RowMajorGemm(m, n, p, 1, a, b, 0, c);
  if (aComplex && bComplex) {
    // Four real products: the split storage never needs interleaving.
    RowMajorGemm(m, n, p, -1, a + sa, b + sb, 1, c);
    RowMajorGemm(m, n, p, 1, a, b + sb, 0, c + sc);
    RowMajorGemm(m, n, p, 1, a + sa, b, 1, c + sc);
  } else if (aComplex) {
    RowMajorGemm(m, n, p, 1, a + sa, b, 0, c + sc);
  } else if (bComplex) {
    RowMajorGemm(m, n, p, 1, a, b + sb, 0, c + sc);
  }
}

int64_t LeftSolveScratch(int n, int k, bool complex) { return SolveScratch(n, k, complex); }
int64_t RightSolveScratch(int n, int k, bool complex) { return SolveScratch(n, k, complex); }

void SolveLeftDense(double* a, bool complexA, double* b, bool complexB, int n, int k, int32_t* perm, double* scratch) {
  const int64_t nn = int64_t{n} * n, nk = int64_t{n} * k;
  int info = 1;
  if (n >= kLapackSolveOrder && k > 0) {
    if (!complexA) {
      // A transposed into column order; B's blocks side by side as 1 or 2 k columns.
      const int columns = complexB ? 2 * k : k;
      double* f = scratch;
      double* r = scratch + nn;
      ToColumns(a, n, n, f, n);
      ToColumns(b, n, k, r, n);
      if (complexB) ToColumns(b + nk, n, k, r + nk, n);
      dgesv_(&n, &columns, f, &n, perm, r, &n, &info);
      if (info == 0) {
        FromColumns(r, n, k, n, b);
        if (complexB) FromColumns(r + nk, n, k, n, b + nk);
        return;
      }
    } else {
      double* f = scratch;
      double* r = scratch + 2 * nn;
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
          const int64_t to = 2 * (int64_t{j} * n + i), from = int64_t{i} * n + j;
          f[to] = a[from], f[to + 1] = a[nn + from];
        }
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < k; ++j) {
          const int64_t to = 2 * (int64_t{j} * n + i), from = int64_t{i} * k + j;
          r[to] = b[from], r[to + 1] = b[nk + from];
        }
      zgesv_(&n, &k, f, &n, perm, r, &n, &info);
      if (info == 0) {
        for (int i = 0; i < n; ++i)
          for (int j = 0; j < k; ++j) {
            const int64_t from = 2 * (int64_t{j} * n + i), to = int64_t{i} * k + j;
            b[to] = r[from], b[nk + to] = r[from + 1];
          }
        return;
      }
    }
  }
  // Small, or exactly singular: the kernel gives the zero pivot's Inf and NaN.
  if (complexA)
    SolveComplexLinearSystem(a, b, n, k, perm);
  else
    SolveRealLinearSystem(a, b, n, k, perm, complexB);
}

void SolveRightDense(double* a, bool complexA, double* b, bool complexB, int n, int k, int32_t* perm, double* scratch) {
  const int64_t nn = int64_t{n} * n, nk = int64_t{n} * k;
  const int rows = complexB && !complexA ? 2 * k : k;
  int info = 1;
  if (n >= kLapackSolveOrder && k > 0) {
    // X A = B is A^T X^T = B^T: A and B read column-major are already A^T and B^T.
    if (!complexA) {
      std::memcpy(scratch, a, nn * sizeof(double));
      dgesv_(&n, &rows, scratch, &n, perm, b, &n, &info);
      if (info == 0) return;
    } else {
      double* f = scratch;
      double* r = scratch + 2 * nn;
      Interleave(a, a + nn, nn, f);
      Interleave(b, b + nk, nk, r);
      zgesv_(&n, &k, f, &n, perm, r, &n, &info);
      if (info == 0) {
        Deinterleave(r, nk, b, b + nk);
        return;
      }
    }
  }
  if (complexA)
    SolveComplexRightLinearSystem(a, b, n, k, perm);
  else
    SolveRealRightLinearSystem(a, b, n, rows, perm);
}
