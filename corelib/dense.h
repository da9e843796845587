// Products and square solves of double matrices held row by row, a complex
// matrix as its real block then its imaginary block. Large ones go through
// BLAS and LAPACK, small ones through the plain loops and the numerical
// library's kernels; all results agree with the kernels to rounding.
#pragma once

#include <cstdint>

// Below this many multiply-adds (m n p) a product runs the plain loop.
constexpr int64_t kBlasProductWork = 32 * 32 * 32;
// From this order on a square solve goes through LAPACK.
constexpr int kLapackSolveOrder = 32;

// C = A B for A m x n and B n x p; each complex flag says whether that
// operand's imaginary block follows its real one. C is complex when either is.
void MultiplyDense(int m, int n, int p, const double* a, bool aComplex, const double* b, bool bComplex, double* c);

// Scratch (in doubles) that the LAPACK path of the solves below needs; 0 when
// the system is small enough for the kernels alone.
int64_t LeftSolveScratch(int n, int k, bool complex);
int64_t RightSolveScratch(int n, int k, bool complex);

// A X = B: A n x n (destroyed), B n x k overwritten by X. complexA implies a
// complex B; a complex B with a real A solves both blocks with one factor.
// perm holds n ints; scratch as LeftSolveScratch asks. An exactly singular
// factor falls back to the kernel, so a zero pivot still gives Inf or NaN.
void SolveLeftDense(double* a, bool complexA, double* b, bool complexB, int n, int k, int32_t* perm, double* scratch);
// X A = B for k rows of length n in B (a complex B with a real A: 2k rows).
void SolveRightDense(double* a, bool complexA, double* b, bool complexB, int n, int k, int32_t* perm, double* scratch);
