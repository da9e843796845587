// The LAPACK and BLAS routines the system calls, declared as gfortran passes
// them: every argument by address, integers 32-bit (LP64), complex elements as
// interleaved pairs, and one hidden length per character argument, after all
// the others. Omitting those lengths is undefined behaviour that works until a
// routine reads past a one-letter string.
#pragma once

#include <complex>
#include <cstddef>

extern "C" {

using LapackComplex = std::complex<double>;

// Factorisations and solves.
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
void zgetrf_(const int* m, const int* n, LapackComplex* a, const int* lda, int* ipiv, int* info);
void dgesv_(const int* n, const int* nrhs, double* a, const int* lda, int* ipiv, double* b, const int* ldb, int* info);
void zgesv_(const int* n, const int* nrhs, LapackComplex* a, const int* lda, int* ipiv, LapackComplex* b,
            const int* ldb, int* info);
void dgelss_(const int* m, const int* n, const int* nrhs, double* a, const int* lda, double* b, const int* ldb,
             double* s, const double* rcond, int* rank, double* work, const int* lwork, int* info);
void zgelss_(const int* m, const int* n, const int* nrhs, LapackComplex* a, const int* lda, LapackComplex* b,
             const int* ldb, double* s, const double* rcond, int* rank, LapackComplex* work, const int* lwork,
             double* rwork, int* info);
void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info, size_t uploLength);
void zpotrf_(const char* uplo, const int* n, LapackComplex* a, const int* lda, int* info, size_t uploLength);

// Norms and condition estimates.
double dlange_(const char* norm, const int* m, const int* n, const double* a, const int* lda, double* work,
               size_t normLength);
double zlange_(const char* norm, const int* m, const int* n, const LapackComplex* a, const int* lda, double* work,
               size_t normLength);
void dgecon_(const char* norm, const int* n, const double* a, const int* lda, const double* anorm, double* rcond,
             double* work, int* iwork, int* info, size_t normLength);
void zgecon_(const char* norm, const int* n, const LapackComplex* a, const int* lda, const double* anorm, double* rcond,
             LapackComplex* work, double* rwork, int* info, size_t normLength);

// Eigenvalues and singular values.
void dgeev_(const char* jobvl, const char* jobvr, const int* n, double* a, const int* lda, double* wr, double* wi,
            double* vl, const int* ldvl, double* vr, const int* ldvr, double* work, const int* lwork, int* info,
            size_t jobvlLength, size_t jobvrLength);
void zgeev_(const char* jobvl, const char* jobvr, const int* n, LapackComplex* a, const int* lda, LapackComplex* w,
            LapackComplex* vl, const int* ldvl, LapackComplex* vr, const int* ldvr, LapackComplex* work,
            const int* lwork, double* rwork, int* info, size_t jobvlLength, size_t jobvrLength);
void dgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n, double* a, const int* lda, double* s,
             double* u, const int* ldu, double* vt, const int* ldvt, double* work, const int* lwork, int* info,
             size_t jobuLength, size_t jobvtLength);
void zgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n, LapackComplex* a, const int* lda,
             double* s, LapackComplex* u, const int* ldu, LapackComplex* vt, const int* ldvt, LapackComplex* work,
             const int* lwork, double* rwork, int* info, size_t jobuLength, size_t jobvtLength);

// LAPACK's error routine: called with the routine's name (blank-padded, not
// terminated) and the position of the first illegal argument.
void xerbla_(const char* name, const int* info, size_t nameLength);

// OpenBLAS's build description ("OpenBLAS 0.3.21 ..."), for checking which
// library a process loaded.
char* openblas_get_config(void);
}
