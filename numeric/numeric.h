// The numerical library's public face: the dense kernels (reflectors, Hessenberg,
// QR, LU and solves, Schur forms, eigenvalues, polynomial roots, the matrix
// exponential, SVD and Cholesky) that natives and other subsystems call.
#pragma once

#include <cstdint>

// Kernel conventions. Matrices are row by row: element (i, j) of an m x n matrix
// sits at index i*n + j. A complex matrix is two arrays of that shape, real parts
// and imaginary parts; kernels that take one pointer for a complex matrix find the
// imaginary block right after the real one. Kernels allocate nothing: every work
// area is supplied by the caller (in the system, free data-stack space) and its
// length is part of the contract stated beside each kernel. They never raise
// errors; they return nothing or a truth value. Optional outputs are skipped when
// passed as nullptr. A Householder reflector is (v, beta) with H = I - beta v v^T
// (complex: v v^H); beta = 1 with v = 0 is the identity.

// ---------------------------------------------------------------------------
// Reflectors, Hessenberg reduction, QR.

// The reflector mapping the n values x[0], x[s], x[2s], ... onto a multiple of e1.
void ComputeHouseholderVector(const double* x, int n, int stride, double* v, double* beta);
void ComputeComplexHouseholderVector(const double* xr, const double* xi, int n, int stride, double* vr, double* vi,
                                     double* beta);

// A := H A on rows r0 .. min(rows, r1) - 1 (every column); v has that many entries.
void ApplyHouseholderLeft(double* a, int rows, int cols, const double* v, double beta, int r0, int r1);
void ApplyComplexHouseholderLeft(double* ar, double* ai, int rows, int cols, const double* vr, const double* vi,
                                 double beta, int r0, int r1);
// A := A H on columns c0 .. min(cols, c1) - 1 (every row).
void ApplyHouseholderRight(double* a, int rows, int cols, const double* v, double beta, int c0, int c1);
void ApplyComplexHouseholderRight(double* ar, double* ai, int rows, int cols, const double* vr, const double* vi,
                                  double beta, int c0, int c1);

// A := Q^T A Q, upper Hessenberg. Scratch: n doubles (complex: 2n).
void ReduceToHessenberg(double* a, int n, double* q, double* scratch);
void ReduceComplexToHessenberg(double* ar, double* ai, int n, double* qr, double* qi, double* scratch);

// A * P = Q * R; A (m x n) is overwritten by R, Q is m x m, perm holds the
// 0-based input column of each output column (pivoting only when perm is given).
// Scratch: m + n doubles (complex: 2m + n).
void FactorRealQr(double* a, int m, int n, double* q, int32_t* perm, double* scratch);
void FactorComplexQr(double* ar, double* ai, int m, int n, double* qr, double* qi, int32_t* perm, double* scratch);

// ---------------------------------------------------------------------------
// LU, linear solves and determinants. No singularity test: a zero pivot gives
// infinities or NaNs. perm (n or m 4-byte integers) is caller scratch.

// A (m x n) := L and U packed; row i of P*A is row perm[i] of the input.
void FactorRealLu(double* a, int m, int n, int32_t* perm);
void FactorComplexLu(double* ar, double* ai, int m, int n, int32_t* perm);

// X = A^-1 B: A is n x n and destroyed, B (n x k) is overwritten by X. With
// bComplex, B's imaginary block (n x k) follows it and is solved with the same A.
void SolveRealLinearSystem(double* a, double* b, int n, int k, int32_t* perm, bool bComplex);
// A is 2n^2 cells (real block, imaginary block), B 2nk cells.
void SolveComplexLinearSystem(double* a, double* b, int n, int k, int32_t* perm);
// X = B A^-1 for k right-hand rows of length n in B.
void SolveRealRightLinearSystem(double* a, double* b, int n, int k, int32_t* perm);
void SolveComplexRightLinearSystem(double* a, double* b, int n, int k, int32_t* perm);

void ComputeRealDeterminant(double* a, double* det, int n, int32_t* perm);
void ComputeComplexDeterminant(double* ar, double* ai, double* detRe, double* detIm, int n, int32_t* perm);

// ---------------------------------------------------------------------------
// Schur forms and functions of triangular matrices.

// A = Q T Q^T with T quasi-triangular (standardised 2 x 2 blocks for complex
// pairs); *flag = 1 when a 2 x 2 block remains. False when 100n sweeps were not
// enough; A and Q then must not be used. Scratch: n doubles.
bool ComputeRealSchurForm(double* a, int n, double* q, uint8_t* flag, double* scratch);
// A = Q T Q^H, T upper triangular. Scratch: 2n doubles.
bool ComputeComplexSchurForm(double* ar, double* ai, int n, double* qr, double* qi, double* scratch);
// Turns a real Schur form (T, Q) into a complex triangular one; ti and qi are outputs.
void ConvertRealSchurToComplex(double* tr, double* ti, double* qr, double* qi, int n);

enum MatrixFunctionKind : int32_t {
  kMatrixFunctionGeneral = 0,     // Parlett recurrence from the diagonal values
  kMatrixFunctionSquareRoot = 1,  // Schur square-root recurrence
  kMatrixFunctionLogarithm = 2,   // inverse scaling and squaring
};

// F := f(A) for A = U T U^H with T upper triangular. On entry F is zero with
// f(T_ii) on its diagonal (principal square roots and logarithms for those
// kinds). T is overwritten. *flag = 1 when the result has a significant
// imaginary part. *estimate in [2^-52, 1] rates the result; 1 flags a matrix
// without a square root or a logarithm whose scaling did not converge. False
// (general kind only; F is then unusable) when equal eigenvalues are coupled,
// which would need the function's derivative.
bool ComputeTriangularMatrixFunction(double* tr, double* ti, const double* ur, const double* ui, int n, double* fr,
                                     double* fi, MatrixFunctionKind kind, uint8_t* flag, double* estimate);

// ---------------------------------------------------------------------------
// Lyapunov and Sylvester equations.

// Doubles of work SolveLyapunov needs for an m x n right-hand side (and
// SolveDiscreteLyapunov with m = n).
int64_t LyapunovWorkspaceSize(int m, int n);
// X with A X + X B + C = 0, or A X + X A' + C = 0 when B is nullptr (n = m).
// A and B are destroyed, C is overwritten by X. False when a Schur iteration
// failed. A singular transformed system is not detected: X then holds
// infinities or NaNs.
bool SolveLyapunov(double* a, int m, double* b, int n, double* c, double* work);
// X with A X A' - X + C = 0 by the Cayley transform of A (A + I must be
// regular; it is not checked).
bool SolveDiscreteLyapunov(double* a, int n, double* c, double* work);

// ---------------------------------------------------------------------------
// Eigenvalues.

// Cyclic Jacobi on a symmetric A (its strict upper triangle is destroyed);
// d gets the unsorted eigenvalues, V (when given) the eigenvectors in columns.
// Scratch: 2n doubles.
void JacobiSymmetricEigenvalues(double* a, int n, double* d, double* v, double* scratch);
// Eigenvalues of a general real A (destroyed); false when the iteration budget
// ran out (re and im then incomplete). Scratch: n integers.
bool ComputeRealEigenvalues(double* a, int n, int32_t* scratch, double* re, double* im);
void ReduceToHessenbergByElimination(double* a, int n, int32_t* pivots);
bool ShiftedQrEigenvalues(double* h, int n, double eps, double* re, double* im);

// ---------------------------------------------------------------------------
// Polynomials: coefficients highest power first, p[0] != 0. Roots fill re/im;
// deflating finders fill them from the end, zero roots of trailing zero
// coefficients first.

// True when some root is complex (non-zero or NaN imaginary part).
// Scratch: n^2 + n doubles. p may be normalised in place by the fallback.
bool FindRealPolyRoots(double* p, int n, double* re, double* im, double* scratch);
// Scratch: 2n^2 + 2n doubles.
void FindComplexPolyRoots(double* pr, double* pi, int n, double* re, double* im, double* scratch);
// p is normalised and deflated in place. True when a complex pair was found.
bool FindRealPolyRootsByLaguerre(double* p, int n, double* re, double* im);
void FindComplexPolyRootsByLaguerre(double* pr, double* pi, int n, double* re, double* im);
// *y = -1 on entry selects real mode; on return -1 marks a real root, y >= 0 the
// imaginary part of a conjugate pair. True when the iteration converged.
bool IterateLaguerreReal(const double* p, int m, double* x, double* y);
bool IterateLaguerreComplex(const double* pr, const double* pi, int m, double* x, double* y);

void BuildPolyFromRealRoots(const double* r, int n, double* c);
// True when the roots come in exact conjugate pairs (real coefficients).
bool BuildPolyFromComplexRoots(const double* rr, const double* ri, int n, double* cr, double* ci);
// det(zI - A), A destroyed. 1 when the coefficients are real, 0 when the
// eigenvalues were no conjugate set, -1 when the eigenvalues failed (c is then
// left unwritten). Scratch: 4n + 1 doubles.
int ComputeRealCharPoly(double* a, int n, double* c, double* scratch);
// Scratch: n integers.
void ComputeComplexCharPoly(double* ar, double* ai, int n, double* cr, double* ci, int32_t* scratch);

// ---------------------------------------------------------------------------
// Fast Fourier transforms. Sequence q (0 .. count-1) has its element j at
// q*step + j*stride, in the input and the output alike.

struct EngineContext;

// One transform of length n (a power of two) from `inputs` values (the rest
// read as 0), out of place; the inverse includes the 1/n.
void ComputeFftRadix2(const double* inRe, const double* inIm, int64_t inputs, int64_t inStride, double* outRe,
                      double* outIm, int64_t n, int64_t outStride, bool inverse);
// count sequences of length n; the input arrays are destroyed (they are the
// second work buffer). inIm null pairs the real sequences two by two (count
// even). Scratch: 2n doubles of twiddles and a 24-byte record per level. With
// ctx the break key is polled during the work. 0 done, 1 stopped by a break,
// 2 scratch too small.
int ComputeFft(double* inRe, double* inIm, int64_t n, int64_t stride, int64_t count, int64_t step, double* outRe,
               double* outIm, bool inverse, double* scratch, int64_t scratchCells, EngineContext* ctx);

// ---------------------------------------------------------------------------
// Balancing, exponential, norms.

// A := D^-1 A D with D = diag(d) of exact powers of two; ai may be nullptr.
void BalanceMatrix(double* ar, double* ai, int n, double* d);
// X = exp(A); A is scaled in place. A non-finite norm gives a NaN X.
// Work: n(2n + 1) doubles (complex: n(4n + 2)); complex A and X are 2n^2 cells.
void ComputeRealMatrixExponential(double* a, int n, double* x, double* work);
void ComputeComplexMatrixExponential(double* a, int n, double* x, double* work);
double ComputeRealInfinityNorm(const double* a, int n);
double ComputeComplexInfinityNorm(const double* ar, const double* ai, int n);
// X = x^A = exp(ln(x) A) and z^A = exp((ln|z| + i arg z) A).
void RaiseRealScalarToMatrix(double x, double* a, int n, double* result, double* work);
void RaiseComplexScalarToMatrix(double zr, double zi, double* a, int n, double* result, double* work);

// ---------------------------------------------------------------------------
// Singular values and Cholesky.

// A (m x n) = U diag(w) V^T; A is overwritten by U (m x n), w sorted decreasing.
// Work: n doubles, plus n 4-byte integers after them when V is given. False when
// a value did not converge in 30 sweeps.
bool ComputeRealSvd(double* a, int m, int n, double* w, double* v, double* work);
// The n singular values of a complex m x n A, decreasing (those beyond min(m, n)
// are 0). Work: 4mn + 5n + 1 doubles. False when the iteration did not converge.
bool ComputeComplexSingularValues(const double* ar, const double* ai, int m, int n, double* s, double* work);
// A = U diag(s) V^H; A is destroyed. U is m x ucols (ucols >= min(m, n)), V is
// n x vcols; s gets the first min(ucols, vcols) values. False when a value did
// not converge in 71 sweeps. Work: 5n doubles, plus 2n^2 when m < n, plus 2n^2
// for U when m < n and U is given, plus 2n^2 for V when vcols < n and V is given.
bool ComputeComplexSvd(double* ar, double* ai, int m, int n, double* s, double* ur, double* ui, int ucols, double* vr,
                       double* vi, int vcols, double* work);
// A := R, upper triangular with R^T R = A (complex: R^H R = A), reading the
// diagonal and upper triangle only. False when A is not positive definite.
bool FactorRealCholesky(double* a, int n);
bool FactorComplexCholesky(double* ar, double* ai, int n);

// ---------------------------------------------------------------------------
// Linear programming: maximise c^T x subject to A x <= b and bounds.

enum SimplexStepResult : int {
  kSimplexStep = 0,
  kSimplexOptimal = 1,
  kSimplexDegenerateStep = 2,
  kSimplexUnbounded = 3
};

// The simplex work area for a working problem of up to r rows: the basis
// inverse Binv (r x r), a column buffer y (r), the row map of the slack and
// artificial variables (2r; a row, or its bitwise complement when the
// coefficient is -1), the basis list (r), the non-basic list (n + 2r) and a
// copy of b' as it was before any perturbation (r).
struct SimplexWorkArea {
  double* binv;
  double* y;
  int32_t* rowMap;
  int32_t* basis;
  int32_t* nonbasic;
  double* unperturbed;
};

// One simplex iteration's view of the working problem. Variables are numbered
// 0 .. n-1 (structural), n .. n+r-1 (the slack of each row), n+r upwards
// (phase-1 artificials).
struct SimplexState {
  const double* a;  // A', r x n
  const double* b;  // b', r
  const uint8_t* isFree;
  const int32_t* rowMap;
  int r, n;
  int32_t* basis;
  int32_t* nonbasic;
  int32_t* nonbasicCount;
  double* binv;
  double* y;
};

// Doubles of scratch SolveLinearProgram needs for m constraints and n variables.
int64_t LinearProgramWorkspaceSize(int m, int n);
// lb and ub bound the first klb and kub variables (-Inf / +Inf: no bound);
// variables bounded by neither are free. x may be the cells of c. x gets the
// optimum, +Inf everywhere when unbounded, NaN everywhere when infeasible;
// false when the step limit was reached.
bool SolveLinearProgram(const double* a, const double* b, const double* c, int m, int n, const double* lb, int klb,
                        const double* ub, int kub, double* x, double* scratch);
// x >= 0 except free variables, A' x <= b' (A' and b' are changed: rows with a
// negative b' are negated, b' may be perturbed).
bool RunSimplex(double* a, double* b, const double* c, const uint8_t* isFree, int r, int n, double* x,
                const SimplexWorkArea& work);
// One step; costs nullptr prices phase 1. A SimplexStepResult.
int ChooseSimplexPivot(const SimplexState& s, const double* costs);
// The non-basic variable at position enters in place of row's basic one;
// y holds Binv times the entering column.
void ExchangeBasisColumn(const SimplexState& s, int position, int row);

// ---------------------------------------------------------------------------
// Magic squares.

// The n x n block at m (n >= 1) becomes a magic square of 1 .. n^2: for n >= 3
// every row, column and both diagonals sum to n(n^2 + 1)/2; n = 2 gives the
// non-magic [1 3; 4 2].
void FillMagicSquare(double* m, int n);
// The odd square of order k into the k x k block at m whose rows are stride
// doubles apart.
void FillOddMagicSquare(double* m, int k, int stride);

// ---------------------------------------------------------------------------
// Special functions of doubles. Out-of-domain arguments give NaN or an
// infinity; the kernels with an out parameter answer false only when an
// iteration does not converge.

// erf(x), or erfc(x) when complement is set.
double ComputeErf(double x, bool complement);
double ComputeErfInv(double y);
// Gamma(x), or x! (NaN unless x is a non-negative integer) when factorial is set.
double ComputeGamma(double x, bool factorial);
// ln Gamma(x) for x >= 0 by Lanczos' series (about 1e-10 relative).
double ComputeLogGamma(double x);
// P(a, x), the regularised lower incomplete gamma function.
bool ComputeGammaP(double a, double x, double* out);
double ComputeBeta(double a, double b);
double ComputeLogBeta(double a, double b);
// I_x(a, b), the regularised incomplete beta function.
bool ComputeBetaI(double x, double a, double b, double* out);
// x with I_x(a, b) = p, and x with P(k, x / theta) = p, by Newton's method.
bool InvertBetaI(double p, double a, double b, double* out);
bool InvertGammaCdf(double p, double k, double theta, double* out);
// diln(x) = -Li2(1 - x), the integral of ln t / (t - 1) from 1 to x; the
// series is cut near 1e-8 absolute.
double ComputeDilogarithm(double x);

// Elliptic integrals in the parameter m = k^2 and the Jacobi functions; false
// when m is outside what the kernel takes or an iteration does not converge.
// K(m) and E(m) for 0 <= m <= 1, the mean iterated until its terms reach tol.
bool ComputeCompleteElliptic(double m, double tol, double* k, double* e);
// F(phi | m) and E(phi | m) for any real m.
bool ComputeEllipticF(double phi, double m, double* out);
bool ComputeEllipticE(double phi, double m, double* out);
// am, sn, cn, dn of u for 0 <= m <= 1; the mean sequence takes four arrays of
// length / 4 doubles of the scratch.
bool ComputeJacobiElliptic(double u, double m, double tol, double* am, double* sn, double* cn, double* dn,
                           double* scratch, int64_t length);

// ---------------------------------------------------------------------------
// The linear-algebra natives built on these kernels: handler(context, number
// of inputs, number of outputs, selector), the inputs on top of the value
// stack and replaced by the outputs, the first output on top.

#include "engine/engine.h"

[[nodiscard]] StatusCode SvdNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode RankNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode CondNative(EngineContext* ctx, int nargin, int nargout, void* selector);
// Also the pseudo-inverse that non-square divisions find by name.
[[nodiscard]] StatusCode PinvNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode OrthNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode NullNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode NormNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode CholNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode LuNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode QrNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode HouseholderNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode HouseholderApplyNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode PolyvalNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode RootsNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode PolyNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode PolyderNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode PolyintNative(EngineContext* ctx, int nargin, int nargout, void* selector);
// fft and ifft (selector 'f' or 'i'); fft2, ifft2, fftn, ifftn ('2', 'I', 'f', 'i').
[[nodiscard]] StatusCode FftNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode FftMultiNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode LinprogNative(EngineContext* ctx, int nargin, int nargout, void* selector);

// The "!lapack" natives: solves and factorisations computed by LAPACK in the
// free data-stack space. The run starts with its header record and ends with
// an empty name; a host installs it in front of the static table.
[[nodiscard]] StatusCode HandleLapackLu(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode HandleLapackInv(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode HandleLapackPinv(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode HandleLapackMldivide(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode HandleLapackMrdivide(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode HandleLapackDet(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode HandleLapackRcond(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode HandleLapackChol(EngineContext* ctx, int nargin, int nargout, void* selector);
const NativeFunctionRecord* GetLapackNativeTable();

namespace numeric {
// LAPACK's report of an illegal argument since the last clear: 12 with the
// routine's name and the parameter's position, else 0. The handlers clear it
// before each call and fail with it after.
void ClearLapackError();
[[nodiscard]] StatusCode LapackStatus(const char** routine, int* parameter);
}  // namespace numeric
[[nodiscard]] StatusCode EigNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode LyapNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode DlyapNative(EngineContext* ctx, int nargin, int nargout, void* selector);
// care ('c') and dare ('d').
[[nodiscard]] StatusCode RiccatiNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode SchurNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode HessNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode BalanceNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode ExpmNative(EngineContext* ctx, int nargin, int nargout, void* selector);
// sqrtm ('s'), logm ('l') and funm ('f'), which is entered again with a
// negative nargin after each call of its function.
[[nodiscard]] StatusCode MatrixFunctionNative(EngineContext* ctx, int nargin, int nargout, void* selector);
// Functions of functions, re-entered like funm: optimset, fminbnd,
// fminsearch, fzero and quad.
[[nodiscard]] StatusCode OptimsetNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode FminbndNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode FminsearchNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode FzeroNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode QuadNative(EngineContext* ctx, int nargin, int nargout, void* selector);

// Special functions, probability distributions and integer functions, on the
// same terms. The selector picks the function where a handler is shared;
// betainc's selector is its kernel, ComputeBetaI.
[[nodiscard]] StatusCode ErfNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode GammaNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode GammaincNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode BetaNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode BetaincNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode HypotNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode NthrootNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode DilnNative(EngineContext* ctx, int nargin, int nargout, void* selector);
// pdf, cdf and icdf, by the selector 'p', 'c' or 'i'.
[[nodiscard]] StatusCode DistributionNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode NchoosekNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode FactorNative(EngineContext* ctx, int nargin, int nargout, void* selector);
// gcd and lcm, by the selector 'd' or 'm'.
[[nodiscard]] StatusCode GcdNative(EngineContext* ctx, int nargin, int nargout, void* selector);
// ellipke; ellipf, ellipe, ellipam and ellipj by the selector 'f', 'e', 'a', 'j'.
[[nodiscard]] StatusCode EllipkeNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode EllipticNative(EngineContext* ctx, int nargin, int nargout, void* selector);

// Interpolation on grids, Delaunay triangulation, Voronoi diagrams and
// scattered-data search; tsearch and griddata share a handler by the selector
// 't' or 'g'.
[[nodiscard]] StatusCode Interp1Native(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode InterpnNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode DelaunaynNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode DelaunayNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode VoronoinNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode VoronoiNative(EngineContext* ctx, int nargin, int nargout, void* selector);
// The Delaunay triangulation of the point matrix at position, pushed above it.
[[nodiscard]] StatusCode TriangulateCopy(EngineContext* ctx, int position);
// [x(:) y(:)] of the arrays at xPos and yPos, pushed above them; 20 when their
// element counts differ.
[[nodiscard]] StatusCode JoinCoordinateColumns(EngineContext* ctx, int xPos, int yPos);
[[nodiscard]] StatusCode TsearchnNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode GriddatanNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode ScatteredNative(EngineContext* ctx, int nargin, int nargout, void* selector);
