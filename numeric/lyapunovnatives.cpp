// The Lyapunov and Riccati natives. lyap and dlyap solve in place of their
// last argument; care and dare read the stabilising solution from the stable
// invariant subspace of the Hamiltonian or symplectic matrix of order 2n.
//
// Results and scratch are reserved before anything is computed: a failure for
// room must leave the stack as it was for the engine's rerun.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>

#include "numeric/dense.h"
#include "numeric/nativeargs.h"
#include "numeric/numeric.h"

namespace {

using numeric::Block;
using numeric::Gemm;
using numeric::Matrix;
using numeric::PopValues;
using numeric::PushResult;
using numeric::ReadMatrix;
using numeric::Scratch;

constexpr StatusCode kNoConvergence = 9;
constexpr StatusCode kNonSquareMatrix = 26;

bool IsSquare(const Matrix& a, int n) { return a.m == n && a.n == n; }

void CopyInto(const double* src, int rows, int cols, double scale, Block d) {
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) d(i, j) = scale * src[int64_t{i} * cols + j];
}

void Identity(double* a, int n) {
  std::fill_n(a, int64_t{n} * n, 0.0);
  for (int i = 0; i < n; ++i) a[int64_t{i} * n + i] = 1.0;
}

// ---------------------------------------------------------------------------
// Ordering the complex (or real, with zero imaginary blocks) triangular form.

using Cx = std::complex<double>;

struct SplitMatrix {
  double* re;
  double* im;
  int n;
  Cx Get(int i, int j) const { return {re[int64_t{i} * n + j], im[int64_t{i} * n + j]}; }
  void Set(int i, int j, Cx z) const {
    re[int64_t{i} * n + j] = z.real();
    im[int64_t{i} * n + j] = z.imag();
  }
};

// Exchanges the diagonal entries i and i + 1 of the triangular T by a plane
// rotation G = [c, -conj(s); s, c], T := G^H T G and U := U G. The rotation's
// first column is the eigenvector of the 2 x 2 block for T[i+1][i+1], scaled
// so that c is real: with T[i][i+1] = 0 it is a plain exchange.
void ExchangeDiagonalEntries(const SplitMatrix& t, const SplitMatrix& u, int i) {
  const int n = t.n;
  const Cx b = t.Get(i, i + 1);
  const Cx delta = t.Get(i + 1, i + 1) - t.Get(i, i);
  const double h = std::hypot(std::abs(b), std::abs(delta));
  double c = 0;
  Cx s;
  if (std::abs(b) == 0) {
    s = delta / std::abs(delta);
  } else {
    c = std::abs(b) / h;
    s = (delta / h) * std::conj(b) / std::abs(b);
  }
  auto rotateColumns = [&](const SplitMatrix& a, int rows) {
    for (int r = 0; r < rows; ++r) {
      const Cx x = a.Get(r, i), y = a.Get(r, i + 1);
      a.Set(r, i, c * x + s * y);
      a.Set(r, i + 1, c * y - std::conj(s) * x);
    }
  };
  rotateColumns(u, n);
  rotateColumns(t, i + 2);
  for (int col = i; col < n; ++col) {
    const Cx x = t.Get(i, col), y = t.Get(i + 1, col);
    t.Set(i, col, c * x + std::conj(s) * y);
    t.Set(i + 1, col, c * y - s * x);
  }
  t.Set(i + 1, i, 0.0);
}

// Moves every entry whose key is <= 0 (stable) ahead of those with key > 0.
// Each exchange moves an unstable entry one place right, so this ends.
void OrderStableFirst(const SplitMatrix& t, const SplitMatrix& u, double* keys) {
  const int n = t.n;
  for (int i = 0; i + 1 < n;) {
    if (keys[i] > 0 && keys[i + 1] <= 0) {
      ExchangeDiagonalEntries(t, u, i);
      std::swap(keys[i], keys[i + 1]);
      i = 0;
    } else {
      ++i;
    }
  }
}

// ---------------------------------------------------------------------------
// Argument checks of the Riccati natives.

struct RiccatiArgs {
  Matrix a, b, q, r, s;
  bool hasR = false, hasS = false, gForm = false;
  int n = 0, m = 0;
};

// Reads A, B (or G), Q, R and S, whose positions shift by `above` values
// pushed over the arguments.
void ReadRiccatiMatrices(EngineContext* ctx, int nargin, int above, RiccatiArgs* x) {
  auto at = [&](int k) { return nargin - 1 - k + above; };
  (void)ReadMatrix(ctx, at(0), &x->a);
  (void)ReadMatrix(ctx, at(1), &x->b);
  (void)ReadMatrix(ctx, at(2), &x->q);
  if (x->hasR) (void)ReadMatrix(ctx, at(3), &x->r);
  if (x->hasS) (void)ReadMatrix(ctx, at(4), &x->s);
}

StatusCode CheckRiccatiArgs(EngineContext* ctx, int nargin, bool care, RiccatiArgs* x) {
  int matrices = nargin;
  if (StatusCode st = CheckArgTypes(ctx, nargin, "R+"); st != kOk) {
    if (nargin != 4 || CheckArgTypes(ctx, nargin, "RRRL") != kOk) return st;
    if (!care) return kWrongTypeInternal;
    uint8_t flag = 0;
    if (GetBooleanArg(ctx, 0, &flag) != kOk) return kWrongType;
    x->gForm = flag != 0;
    matrices = 3;
  }
  x->hasR = matrices >= 4;
  x->hasS = matrices >= 5;
  ReadRiccatiMatrices(ctx, nargin, 0, x);
  const int n = x->n = x->b.m;
  const int m = x->m = x->b.n;
  if (x->gForm && m != n) return kNonSquareMatrix;
  if (!IsSquare(x->a, n) || !IsSquare(x->q, n)) return kIncompSize;
  if (x->hasR && !IsSquare(x->r, m)) return kIncompSize;
  if (x->hasS && (x->s.m != n || x->s.n != m)) return kIncompSize;
  return kOk;
}

// Pointers into the one scratch area of a Riccati native.
struct RiccatiWork {
  SplitMatrix h, u;      // 2n x 2n, the form and its unitary factor
  double *t1, *t2;       // n x m, and m x m (a copy of R)
  double *w1, *w2, *w3;  // n x n temporaries
  double *xc, *u11;      // 2n^2 each: complex X and the copy of U11
  double *keys, *schur;  // 2n each
  double *km, *kb;       // dare's gain: m x m and n x m
  int32_t* perm;         // max(2n, m)

  static int64_t Size(int n, int m) {
    const int64_t n2 = 2 * int64_t{n}, nn = int64_t{n} * n, mm = int64_t{m} * m, nm = int64_t{n} * m;
    return 4 * n2 * n2 + nm + mm + 3 * nn + 4 * nn + 2 * n2 + mm + nm + std::max<int64_t>(n2, m);
  }

  RiccatiWork(double* p, int n, int m) {
    const int64_t n2 = 2 * int64_t{n}, nn = int64_t{n} * n, mm = int64_t{m} * m, nm = int64_t{n} * m;
    auto take = [&p](int64_t count) {
      double* q = p;
      p += count;
      return q;
    };
    h.n = u.n = static_cast<int>(n2);
    h.re = take(n2 * n2);
    h.im = take(n2 * n2);
    u.re = take(n2 * n2);
    u.im = take(n2 * n2);
    t1 = take(nm);
    t2 = take(mm);
    w1 = take(nn);
    w2 = take(nn);
    w3 = take(nn);
    xc = take(2 * nn);
    u11 = take(2 * nn);
    keys = take(n2);
    schur = take(n2);
    km = take(mm);
    kb = take(nm);
    perm = reinterpret_cast<int32_t*>(take(std::max<int64_t>(n2, m)));
  }
};

// T1 := T1 R^-1 for the n x m T1 (R absent: the identity).
void TimesInverseR(const RiccatiArgs& x, const RiccatiWork& w) {
  if (!x.hasR) return;
  std::memcpy(w.t2, x.r.re, x.r.count() * sizeof(double));
  SolveRealRightLinearSystem(w.t2, w.t1, x.m, x.n, w.perm);
}

// H = [A1, -G; -Q1, -A1'] with A1 = A - B R^-1 S', G = B R^-1 B' and
// Q1 = Q - S R^-1 S'.
void BuildHamiltonian(const RiccatiArgs& x, const RiccatiWork& w) {
  const int n = x.n, m = x.m;
  const int64_t stride = 2 * int64_t{n};
  const Block h11{w.h.re, stride}, h12{w.h.re + n, stride}, h21{w.h.re + n * stride, stride},
      h22{w.h.re + n * stride + n, stride};
  CopyInto(x.a.re, n, n, 1.0, h11);
  CopyInto(x.q.re, n, n, -1.0, h21);
  if (x.gForm) {
    CopyInto(x.b.re, n, n, -1.0, h12);
  } else {
    CopyInto(x.b.re, n, m, -1.0, Block{w.t1, m});
    TimesInverseR(x, w);
    if (x.hasS) Gemm(1.0, w.t1, false, x.s.re, true, n, m, n, 1.0, h11);
    Gemm(1.0, w.t1, false, x.b.re, true, n, m, n, 0.0, h12);
    if (x.hasS) {
      std::memcpy(w.t1, x.s.re, x.s.count() * sizeof(double));
      TimesInverseR(x, w);
      Gemm(1.0, w.t1, false, x.s.re, true, n, m, n, 1.0, h21);
    }
  }
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) h22(i, j) = -h11(j, i);
}

// H = [A + G A^-T Q, -G A^-T; -A^-T Q, A^-T] with G = B R^-1 B', never
// forming A^-T itself.
void BuildSymplectic(const RiccatiArgs& x, const RiccatiWork& w) {
  const int n = x.n, m = x.m;
  const int64_t nn = int64_t{n} * n, stride = 2 * int64_t{n};
  const Block h11{w.h.re, stride}, h12{w.h.re + n, stride}, h21{w.h.re + n * stride, stride},
      h22{w.h.re + n * stride + n, stride};
  // G into w3.
  std::memcpy(w.t1, x.b.re, x.b.count() * sizeof(double));
  TimesInverseR(x, w);
  Gemm(1.0, w.t1, false, x.b.re, true, n, m, n, 0.0, Block{w.w3, n});
  // H21 = Z solving (-A') Z = Q.
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) w.w2[int64_t{i} * n + j] = -x.a.re[int64_t{j} * n + i];
  std::memcpy(w.w1, x.q.re, nn * sizeof(double));
  SolveRealLinearSystem(w.w2, w.w1, n, n, w.perm, false);
  CopyInto(w.w1, n, n, 1.0, h21);
  // H11 = A - G Z.
  CopyInto(x.a.re, n, n, 1.0, h11);
  Gemm(-1.0, w.w3, false, w.w1, false, n, n, n, 1.0, h11);
  // H22 = A'^-1: Z A' = I.
  auto transposeA = [&] {
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) w.w2[int64_t{i} * n + j] = x.a.re[int64_t{j} * n + i];
  };
  transposeA();
  Identity(w.w1, n);
  SolveRealRightLinearSystem(w.w2, w.w1, n, n, w.perm);
  CopyInto(w.w1, n, n, 1.0, h22);
  // H12 = -(Z solving Z A' = G).
  transposeA();
  SolveRealRightLinearSystem(w.w2, w.w3, n, n, w.perm);
  CopyInto(w.w3, n, n, -1.0, h12);
}

// The gain K, m x n, into k.
void ComputeGain(const RiccatiArgs& x, const RiccatiWork& w, const double* xr, bool care, double* k) {
  const int n = x.n, m = x.m;
  if (care) {
    // K = R^-1 (B' X + S') = (X B + S) R^-1, transposed (X is symmetric).
    Gemm(1.0, xr, false, x.b.re, false, n, n, m, 0.0, Block{w.t1, m});
    if (x.hasS)
      for (int64_t e = 0; e < x.s.count(); ++e) w.t1[e] += x.s.re[e];
    TimesInverseR(x, w);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < n; ++j) k[int64_t{i} * n + j] = w.t1[int64_t{j} * m + i];
    return;
  }
  // K = (R + B' X B)^-1 B' X A. Without R the equation solved is the one with
  // R = I (G = B B'), so the gain takes I as well: a zero R would give the gain
  // of no equation that X solves.
  Gemm(1.0, xr, false, x.b.re, false, n, n, m, 0.0, Block{w.kb, m});
  if (x.hasR)
    std::memcpy(w.km, x.r.re, x.r.count() * sizeof(double));
  else
    Identity(w.km, m);
  Gemm(1.0, x.b.re, true, w.kb, false, m, n, m, 1.0, Block{w.km, m});
  Gemm(1.0, xr, false, x.a.re, false, n, n, n, 0.0, Block{w.w1, n});
  Gemm(1.0, x.b.re, true, w.w1, false, m, n, n, 0.0, Block{k, n});
  SolveRealLinearSystem(w.km, k, m, n, w.perm, false);
}

StatusCode SolveRiccati(EngineContext* ctx, int nargin, int nargout, bool care) {
  if (nargout < 1) nargout = 1;
  RiccatiArgs x;
  if (StatusCode st = CheckRiccatiArgs(ctx, nargin, care, &x); st != kOk) return st;
  if (x.gForm && nargout == 3) return kTooManyArgout;
  const int n = x.n, m = x.m;

  // Outputs, the last first so that X ends on top: K, L (complex until the
  // form is known), X.
  Matrix k, l, xm;
  if (nargout == 3) {
    if (StatusCode st = PushResult(ctx, m, n, false, &k); st != kOk) return st;
  }
  if (nargout >= 2) {
    if (StatusCode st = PushResult(ctx, n, 1, true, &l); st != kOk) {
      PopValues(ctx, nargout - 2);
      return st;
    }
  }
  if (StatusCode st = PushResult(ctx, n, n, false, &xm); st != kOk) {
    PopValues(ctx, nargout - 1);
    return st;
  }
  double* scratch = nullptr;
  if (StatusCode st = Scratch(ctx, RiccatiWork::Size(n, m), &scratch); st != kOk) {
    PopValues(ctx, nargout);
    return st;
  }
  ReadRiccatiMatrices(ctx, nargin, nargout, &x);
  if (nargout == 3) (void)ReadMatrix(ctx, 2, &k);
  if (nargout >= 2) (void)ReadMatrix(ctx, 1, &l);
  (void)ReadMatrix(ctx, 0, &xm);
  const RiccatiWork w(scratch, n, m);
  const int n2 = 2 * n;
  const int64_t nn = int64_t{n} * n, cells = int64_t{n2} * n2;

  std::fill_n(w.h.im, cells, 0.0);
  std::fill_n(w.u.im, cells, 0.0);
  if (care)
    BuildHamiltonian(x, w);
  else
    BuildSymplectic(x, w);
  uint8_t blocks = 0;
  if (!ComputeRealSchurForm(w.h.re, n2, w.u.re, &blocks, w.schur)) return kNoConvergence;
  if (blocks) ConvertRealSchurToComplex(w.h.re, w.h.im, w.u.re, w.u.im, n2);

  int stable = 0;
  for (int i = 0; i < n2; ++i) {
    const Cx t = w.h.Get(i, i);
    w.keys[i] = care ? t.real() : std::norm(t) - 1.0;
    if (w.keys[i] <= 0) ++stable;
  }
  // With another count of stable eigenvalues there is no stabilising solution:
  // U21 U11^-1 would be meaningless.
  if (stable != n) return kNoConvergence;
  OrderStableFirst(w.h, w.u, w.keys);

  // X U11 = U21.
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const Cx u11 = w.u.Get(i, j), u21 = w.u.Get(n + i, j);
      w.u11[int64_t{i} * n + j] = u11.real();
      w.u11[nn + int64_t{i} * n + j] = u11.imag();
      w.xc[int64_t{i} * n + j] = u21.real();
      w.xc[nn + int64_t{i} * n + j] = u21.imag();
    }
  SolveComplexRightLinearSystem(w.u11, w.xc, n, n, w.perm);
  for (int64_t e = 0; e < 2 * nn; ++e)
    if (!std::isfinite(w.xc[e])) return kNoConvergence;
  std::memcpy(xm.re, w.xc, nn * sizeof(double));

  if (nargout >= 2)
    for (int i = 0; i < n; ++i) {
      l.re[i] = w.h.re[int64_t{i} * n2 + i];
      l.im[i] = w.h.im[int64_t{i} * n2 + i];
    }
  if (nargout == 3) ComputeGain(x, w, xm.re, care, k.re);

  if (StatusCode st = DropArgsUnderResults(ctx, nargout, nargin); st != kOk) return st;
  if (nargout >= 2 && !blocks) {
    (void)RotateValues(ctx, 2, 1);
    if (StatusCode st = DropImaginaryPart(ctx); st != kOk) return st;
    (void)RotateValues(ctx, 2, 1);
  }
  return kOk;
}

}  // namespace

StatusCode LyapNative(EngineContext* ctx, int nargin, int, void*) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "RR[R"); st != kOk) return st;
  Matrix a, b, c;
  (void)ReadMatrix(ctx, nargin - 1, &a);
  (void)ReadMatrix(ctx, 0, &c);
  const int m = c.m, n = c.n;
  if (!IsSquare(a, m)) return kIncompSize;
  if (nargin == 3) {
    (void)ReadMatrix(ctx, 1, &b);
    if (!IsSquare(b, n)) return kIncompSize;
  } else if (n != m) {
    return kIncompSize;
  }
  double* work = nullptr;
  if (StatusCode st = Scratch(ctx, LyapunovWorkspaceSize(m, n), &work); st != kOk) return st;
  if (c.count() > 0 && !SolveLyapunov(a.re, m, nargin == 3 ? b.re : nullptr, n, c.re, work)) return kNoConvergence;
  return DropArgsUnderResults(ctx, 1, nargin - 1);
}

StatusCode DlyapNative(EngineContext* ctx, int nargin, int, void*) {
  if (StatusCode st = CheckArgTypes(ctx, nargin, "RR"); st != kOk) return st;
  Matrix a, c;
  (void)ReadMatrix(ctx, 1, &a);
  (void)ReadMatrix(ctx, 0, &c);
  const int n = c.n;
  if (c.m != n || !IsSquare(a, n)) return kBadSize;
  double* work = nullptr;
  if (StatusCode st = Scratch(ctx, LyapunovWorkspaceSize(n, n), &work); st != kOk) return st;
  if (n > 0 && !SolveDiscreteLyapunov(a.re, n, c.re, work)) return kNoConvergence;
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode RiccatiNative(EngineContext* ctx, int nargin, int nargout, void* selector) {
  return SolveRiccati(ctx, nargin, nargout, reinterpret_cast<intptr_t>(selector) == 'c');
}
