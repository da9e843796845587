// Continuous-discrete conversions: zero- and first-order hold through matrix
// exponentials, matched poles and zeros, the bilinear substitution, and the
// natives c2dm and d2cm that apply them to transfer functions (row by row)
// and state-space models.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "control/control.h"
#include "numeric/dense.h"
#include "numeric/nativeargs.h"
#include "numeric/numeric.h"

namespace {

using numeric::Block;
using numeric::Gemm;
using numeric::Matrix;
using numeric::ReadMatrix;

// det(sI - X), X destroyed; NaN coefficients when the eigenvalues fail.
void CharPoly(double* x, int n, double* c, double* scratch) {
  if (ComputeRealCharPoly(x, n, c, scratch) < 0) std::fill_n(c, n + 1, NAN);
}

double Horner(const double* p, int degree, double x) {
  double v = p[0];
  for (int k = 1; k <= degree; ++k) v = v * x + p[k];
  return v;
}

// Work of MapRootsByExponential for k roots and e extra ones.
int64_t MapRootsWork(int k, int e) { return int64_t{k} * k + 5 * int64_t{k} + 3 * int64_t{e} + 4; }

// The monic polynomial whose roots are e^(r Ts) for the roots r of p (degree
// k, p[0] != 0), with e more roots at -1; out gets k + e + 1 coefficients.
void MapRootsByExponential(const double* p, int k, int e, double ts, double* out, double* work) {
  const int total = k + e;
  double* re = work;
  double* im = re + total;
  double* ci = im + total;        // total + 1
  double* copy = ci + total + 1;  // k + 1
  double* scratch = copy + k + 1;
  std::memcpy(copy, p, sizeof(double) * (k + 1));
  if (k > 0) FindRealPolyRoots(copy, k, re, im, scratch);
  for (int i = 0; i < k; ++i) {
    const double modulus = std::exp(re[i] * ts), angle = im[i] * ts;
    re[i] = modulus * std::cos(angle);
    im[i] = modulus * std::sin(angle);
  }
  for (int i = k; i < total; ++i) {
    re[i] = -1;
    im[i] = 0;
  }
  BuildPolyFromComplexRoots(re, im, total, out, ci);
}

}  // namespace

// ---------------------------------------------------------------------------
// Transfer-function kernels.

int64_t DiscretizeTfZohWork(int n) { return int64_t{n + 1} + 4 * int64_t{n + 1} * (n + 1); }

void DiscretizeTfZoh(const double* num, int m, const double* den, int n, double ts, double* numd, double* dend,
                     double* work) {
  if (n == 0) {
    dend[0] = 1;
    if (numd) numd[0] = num[0] / den[0];
    return;
  }
  const int q = n + 1;
  double* mm = work;
  double* e = mm + q * q;
  double* rest = e + q * q;  // q(2q + 1) doubles: the exponential's work, later the polynomials'
  std::fill_n(mm, q * q, 0.0);
  for (int i = 0; i < n; ++i) mm[i * q] = -ts * den[i + 1] / den[0];
  for (int i = 0; i + 1 < n; ++i) mm[i * q + i + 1] = ts;
  mm[n * q] = ts;
  ComputeRealMatrixExponential(mm, q, e, rest);
  // Phi (n x n) into mm; gamma is E's last row.
  double* phi = mm;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) phi[i * n + j] = e[i * q + j];
  const double* gamma = e + n * q;
  double* poly = rest;
  double* p = rest + 4 * n + 1;
  CharPoly(phi, n, dend, poly);
  if (!numd) return;
  double* g = p + n + 1;
  if (m == n) {
    for (int i = 0; i < n; ++i) g[i] = num[i + 1] - den[i + 1] * num[0] / den[0];
  } else {
    std::fill_n(g, n, 0.0);
    for (int k = 0; k <= m; ++k) g[n - 1 - m + k] = num[k];
  }
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) phi[i * n + j] = e[i * q + j] - g[i] * gamma[j];
  CharPoly(phi, n, p, poly);
  if (m < n) {
    for (int k = 0; k < n; ++k) numd[k] = (p[k + 1] - dend[k + 1]) / den[0];
  } else {
    for (int k = 0; k <= n; ++k) numd[k] = (p[k] - dend[k] + num[0] * dend[k]) / den[0];
  }
}

int64_t DiscretizeTfFohWork(int n) {
  const int64_t q = n + 2;
  return 4 * int64_t{n} * n + 6 * int64_t{n} + 4 + 4 * q * q + q + SsToTfWork(n);
}

void DiscretizeTfFoh(const double* num, int m, const double* den, int n, double ts, double* numd, double* dend,
                     double* work) {
  double* a = work;
  double* b = a + n * n;
  double* c = b + n;
  double* d = c + n;
  double* ad = d + 1;
  double* bd = ad + n * n;
  double* dd = bd + n;
  double* foh = dd + 1;
  double* conv = foh + 4 * (n + 2) * (n + 2) + n + 2;
  if (n == 0) {
    dend[0] = 1;
    if (numd) numd[0] = num[0] / den[0];
    return;
  }
  ConvertTfToSs(num, m, 1, den, n, a, b, c, d);
  DiscretizeSsFoh(a, b, c, d, n, 1, 1, ts, ad, bd, dd, foh, nullptr, nullptr);
  ConvertSsToTf(ad, bd, c, dd, 0, n, 1, 1, conv, numd, dend);
}

int64_t DiscretizeTfMatchedWork(int m, int n) { return MapRootsWork(std::max(m, n), std::max(n, 1)); }

void DiscretizeTfMatched(const double* num, int m, const double* den, int n, double ts, double* numd, double* dend,
                         double* work) {
  MapRootsByExponential(den, n, 0, ts, dend, work);
  if (!numd) return;
  const int cols = m < n ? n : m + 1;
  // Leading zeros of a right-aligned row are no roots.
  int lead = 0;
  while (lead < m && num[lead] == 0) ++lead;
  const double* p = num + lead;
  const int k = m - lead;
  std::fill_n(numd, cols, 0.0);
  if (p[0] == 0) return;  // a zero numerator stays zero
  const int e = k < n ? n - k - 1 : 0;
  double* mapped = numd + cols - (k + e + 1);
  MapRootsByExponential(p, k, e, ts, mapped, work);
  // Match the gain at s = 0 against z = 1. A pole or a zero at s = 0 makes
  // that gain infinite or zero, so the match moves to s0 = j/Ts, the first
  // such point that is neither a pole nor a zero, against z0 = e^(s0 Ts).
  double factor = 0;
  if (num[m] != 0 && den[n] != 0) {
    double sd = 0, sn = 0;
    for (int i = 0; i <= n; ++i) sd += dend[i];
    for (int i = 0; i < cols; ++i) sn += numd[i];
    factor = (num[m] / den[n]) * sd / sn;
  } else {
    for (int j = 1; j <= 1000; ++j) {
      const double s0 = j / ts, z0 = std::exp(static_cast<double>(j));
      const double cn = Horner(num, m, s0), cd = Horner(den, n, s0);
      const double dn = Horner(numd, cols - 1, z0), dd = Horner(dend, n, z0);
      if (cn != 0 && cd != 0 && dn != 0 && dd != 0 && std::isfinite(dn) && std::isfinite(dd)) {
        factor = (cn / cd) * (dd / dn);
        break;
      }
    }
  }
  for (int i = 0; i < cols; ++i) numd[i] *= factor;
}

void ApplyBilinearSubstitution(const double* num, int m, double* den, int n, double a, double b, double c, double d,
                               bool normalise, double* numOut, double* denOut, double* work) {
  double* w = work;
  const int gap = n - m;  // leading places the right-aligned numerator misses
  double dk = den[0];
  if (denOut) denOut[0] = dk;
  if (numOut) numOut[0] = gap == 0 ? num[0] : 0;
  w[0] = 1;
  for (int k = 1; k <= n; ++k) {
    dk = den[k];  // read before w[k] may overwrite it
    const double nk = k >= gap ? num[k - gap] : 0;
    // W <- W (c x + d): degree k - 1 to k.
    w[k] = d * w[k - 1];
    for (int i = k - 1; i >= 1; --i) w[i] = c * w[i] + d * w[i - 1];
    w[0] = c * w[0];
    // P <- P (a x + b) + coefficient W, for both polynomials.
    for (double* p : {denOut, numOut}) {
      if (!p) continue;
      const double coef = p == denOut ? dk : nk;
      p[k] = b * p[k - 1];
      for (int i = k - 1; i >= 1; --i) p[i] = a * p[i] + b * p[i - 1];
      p[0] = a * p[0];
      if (p == numOut && k < gap) continue;
      for (int i = 0; i <= k; ++i) p[i] += coef * w[i];
    }
  }
  if (normalise && denOut) {
    const double lead = denOut[0];
    for (int i = 0; i <= n; ++i) denOut[i] /= lead;
    if (numOut)
      for (int i = 0; i <= n; ++i) numOut[i] /= lead;
    denOut[0] = 1;
  }
}

// ---------------------------------------------------------------------------
// State-space kernels.

namespace {

// The q x q matrix with Ts·[A B] in its first n rows and zeros elsewhere,
// whose exponential holds the held-input discretisation.
void FillScaledBlock(const double* a, const double* b, int n, int nu, int q, double ts, double* mm) {
  std::fill_n(mm, q * q, 0.0);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) mm[i * q + j] = ts * a[i * n + j];
    for (int j = 0; j < nu; ++j) mm[i * q + n + j] = ts * b[i * nu + j];
  }
}

}  // namespace

void DiscretizeSsZoh(const double* a, const double* b, int n, int nu, double ts, double* ad, double* bd, double* work) {
  const int q = n + nu;
  double* mm = work;
  double* e = mm + q * q;
  double* rest = e + q * q;
  FillScaledBlock(a, b, n, nu, q, ts, mm);
  ComputeRealMatrixExponential(mm, q, e, rest);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) ad[i * n + j] = e[i * q + j];
    for (int j = 0; j < nu; ++j) bd[i * nu + j] = e[i * q + n + j];
  }
}

void DiscretizeSsFoh(const double* a, const double* b, const double* c, const double* d, int n, int nu, int ny,
                     double ts, double* ad, double* bd, double* dd, double* work, double* x, const double* u) {
  const int q = n + 2 * nu;
  double* mm = work;
  double* e = mm + q * q;
  double* rest = e + q * q;
  FillScaledBlock(a, b, n, nu, q, ts, mm);
  for (int i = 0; i < nu; ++i) mm[(n + i) * q + n + nu + i] = 1;
  ComputeRealMatrixExponential(mm, q, e, rest);
  const Block phi{e, q}, g1{e + n, q}, g2{e + n + nu, q};
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) ad[i * n + j] = phi(i, j);
    for (int j = 0; j < nu; ++j) {
      double s = g1(i, j) - g2(i, j);
      for (int k = 0; k < n; ++k) s += phi(i, k) * g2(k, j);
      bd[i * nu + j] = s;
    }
  }
  for (int i = 0; i < ny; ++i)
    for (int j = 0; j < nu; ++j) {
      double s = d ? d[i * nu + j] : 0;
      for (int k = 0; k < n; ++k) s += c[i * n + k] * g2(k, j);
      dd[i * nu + j] = s;
    }
  if (x && u)
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < nu; ++j) x[i] -= g2(i, j) * u[j];
}

namespace {

int64_t SsTustinWork(int n) { return 3 * int64_t{n} * n + n; }

// Tustin in either direction; outputs ad, bd, cd, dd. Continuous to discrete:
// X = (I - Ts/2 A)^-1, Ad = (I + Ts/2 A) X, Bd = X B, Cd = Ts C X,
// Dd = D + Cd B / 2. Back: X = (I + Ad)^-1, A = 2/Ts (Ad - I) X, B = 2 X Bd,
// C = 2/Ts Cd X, D = Dd - Cd B / 2 with the new B.
void SsTustin(const double* a, const double* b, const double* c, const double* d, int n, int nu, int ny, double ts,
              bool toDiscrete, double* ad, double* bd, double* cd, double* dd, double* work) {
  double* lhs = work;
  double* x = lhs + n * n;
  double* t = x + n * n;
  int32_t* perm = reinterpret_cast<int32_t*>(t + n * n);
  const double h = toDiscrete ? -0.5 * ts : 1.0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      lhs[i * n + j] = h * a[i * n + j] + (i == j ? 1 : 0);
      x[i * n + j] = i == j ? 1 : 0;
    }
  if (n > 0) SolveRealLinearSystem(lhs, x, n, n, perm, false);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      t[i * n + j] = toDiscrete ? 0.5 * ts * a[i * n + j] + (i == j ? 1 : 0) : a[i * n + j] - (i == j ? 1 : 0);
  Gemm(toDiscrete ? 1.0 : 2 / ts, t, false, x, false, n, n, n, 0, Block{ad, n});
  Gemm(toDiscrete ? 1.0 : 2.0, x, false, b, false, n, n, nu, 0, Block{bd, nu});
  Gemm(toDiscrete ? ts : 2 / ts, c, false, x, false, ny, n, n, 0, Block{cd, n});
  // dd = d +- Cd b / 2, with b the new input matrix going back.
  if (ny * nu > 0) std::memcpy(dd, d, sizeof(double) * ny * nu);
  Gemm(toDiscrete ? 0.5 : -0.5, toDiscrete ? cd : c, false, toDiscrete ? b : bd, false, ny, n, nu, 1, Block{dd, nu});
}

constexpr StatusCode kTooManyOutputs = kTooManyArgout;

// Numerator columns of a transfer-function result.
int NumeratorColumns(char method, int m, int n) {
  switch (method) {
    case 'z':
      return m == n ? n + 1 : n;
    case 'm':
      return m < n ? n : m + 1;
    default:
      return n + 1;
  }
}

int64_t TfWork(char method, int m, int n) {
  switch (method) {
    case 'z':
      return DiscretizeTfZohWork(n);
    case 'f':
      return DiscretizeTfFohWork(n);
    case 'm':
      return DiscretizeTfMatchedWork(m, n);
    default:
      return 2 * int64_t{n} + 2;
  }
}

StatusCode ConvertTf(EngineContext* ctx, int nargin, int nargout, char method, bool toDiscrete, double ts) {
  const int extra = nargin - 2;  // Ts and the method lie above the system
  if (nargout > 2) return kTooManyOutputs;
  Matrix num, den;
  (void)ReadMatrix(ctx, extra + 1, &num);
  (void)ReadMatrix(ctx, extra, &den);
  if (num.m != den.m || num.n > den.n) return kIncompSize;
  const int rows = den.m, n = den.n - 1, m = num.n - 1;
  const bool wantNum = nargout >= 2;
  if (rows == 0) {
    for (int k = 0; k < (wantNum ? 2 : 1); ++k)
      if (StatusCode st = PushEmptyMatrix(ctx); st != kOk) {
        numeric::PopValues(ctx, k);
        return st;
      }
    return DropArgsUnderResults(ctx, wantNum ? 2 : 1, nargin);
  }
  const int cols = NumeratorColumns(method, m, n);
  Matrix dend, numd;
  if (StatusCode st = numeric::PushResult(ctx, rows, n + 1, false, &dend); st != kOk) return st;
  if (wantNum)
    if (StatusCode st = numeric::PushResult(ctx, rows, cols, false, &numd); st != kOk) {
      numeric::PopValues(ctx, 1);
      return st;
    }
  const int pushed = wantNum ? 2 : 1;
  double* work = nullptr;
  if (StatusCode st = numeric::Scratch(ctx, TfWork(method, m, n), &work); st != kOk) {
    numeric::PopValues(ctx, pushed);
    return st;
  }
  (void)ReadMatrix(ctx, pushed - 1, &dend);
  if (wantNum) (void)ReadMatrix(ctx, 0, &numd);
  (void)ReadMatrix(ctx, extra + pushed + 1, &num);
  (void)ReadMatrix(ctx, extra + pushed, &den);
  for (int i = 0; i < rows; ++i) {
    const double* nr = num.re + int64_t{i} * (m + 1);
    const double* dr = den.re + int64_t{i} * (n + 1);
    double* dendRow = dend.re + int64_t{i} * (n + 1);
    double* numdRow = wantNum ? numd.re + int64_t{i} * cols : nullptr;
    switch (method) {
      case 'z':
        DiscretizeTfZoh(nr, m, dr, n, ts, numdRow, dendRow, work);
        break;
      case 'f':
        DiscretizeTfFoh(nr, m, dr, n, ts, numdRow, dendRow, work);
        break;
      case 'm':
        DiscretizeTfMatched(nr, m, dr, n, ts, numdRow, dendRow, work);
        break;
      default: {
        // The kernel may run its powers in a copy of the denominator.
        double* copy = work;
        std::memcpy(copy, dr, sizeof(double) * (n + 1));
        if (toDiscrete)
          ApplyBilinearSubstitution(nr, m, copy, n, 2 / ts, -2 / ts, 1, 1, true, numdRow, dendRow, copy);
        else
          ApplyBilinearSubstitution(nr, m, copy, n, ts, 2, -ts, 2, true, numdRow, dendRow, copy);
      }
    }
  }
  return DropArgsUnderResults(ctx, pushed, nargin);
}

StatusCode ConvertSs(EngineContext* ctx, int nargin, int nargout, char method, bool toDiscrete, double ts) {
  const int extra = nargin - 4;
  Matrix a, b, c, d;
  (void)ReadMatrix(ctx, extra + 3, &a);
  (void)ReadMatrix(ctx, extra + 2, &b);
  (void)ReadMatrix(ctx, extra + 1, &c);
  (void)ReadMatrix(ctx, extra, &d);
  const int n = a.m, nu = d.n, ny = d.m;
  if (a.m != a.n) return kIncompSize;
  // Empty matrices are 0 x 0: compare element counts where a side may be empty.
  if (b.count() != int64_t{n} * nu || (b.count() > 0 && (b.m != n || b.n != nu))) return kIncompSize;
  if (c.count() != int64_t{ny} * n || (c.count() > 0 && (c.m != ny || c.n != n))) return kIncompSize;
  if (method == 'm') return kNotSupported;
  const int outs = std::max(nargout, 1);
  const int32_t shapes[4][2] = {{ny, nu}, {ny, n}, {n, nu}, {n, n}};  // Dd, Cd, Bd, Ad
  Matrix out[4];
  if (StatusCode st = numeric::PushRealResults(ctx, shapes + 4 - outs, outs, out + 4 - outs); st != kOk) return st;
  const int64_t nn = int64_t{n} * n, nb = int64_t{n} * nu, nc = int64_t{ny} * n, nd = int64_t{ny} * nu;
  const int q = n + 2 * nu;
  const int64_t kernel = std::max<int64_t>(4 * int64_t{q} * q + q, SsTustinWork(n));
  double* work = nullptr;
  if (StatusCode st = numeric::Scratch(ctx, nn + nb + nc + nd + kernel, &work); st != kOk) {
    numeric::PopValues(ctx, outs);
    return st;
  }
  double* ad = work;
  double* bd = ad + nn;
  double* cd = bd + nb;
  double* dd = cd + nc;
  double* rest = dd + nd;
  (void)ReadMatrix(ctx, extra + outs + 3, &a);
  (void)ReadMatrix(ctx, extra + outs + 2, &b);
  (void)ReadMatrix(ctx, extra + outs + 1, &c);
  (void)ReadMatrix(ctx, extra + outs, &d);
  if (method == 't') {
    SsTustin(a.re, b.re, c.re, d.re, n, nu, ny, ts, toDiscrete, ad, bd, cd, dd, rest);
  } else {
    if (nc > 0) std::memcpy(cd, c.re, sizeof(double) * nc);
    if (method == 'z') {
      DiscretizeSsZoh(a.re, b.re, n, nu, ts, ad, bd, rest);
      if (nd > 0) std::memcpy(dd, d.re, sizeof(double) * nd);
    } else {
      DiscretizeSsFoh(a.re, b.re, c.re, d.re, n, nu, ny, ts, ad, bd, dd, rest, nullptr, nullptr);
    }
  }
  const double* sources[4] = {dd, cd, bd, ad};
  for (int k = 4 - outs; k < 4; ++k) {
    (void)ReadMatrix(ctx, 3 - k, &out[k]);
    if (out[k].count() > 0) std::memcpy(out[k].re, sources[k], sizeof(double) * out[k].count());
  }
  return DropArgsUnderResults(ctx, outs, nargin);
}

}  // namespace

StatusCode ConvertDiscreteNative(EngineContext* ctx, int nargin, int nargout, void* selector) {
  const bool toDiscrete = reinterpret_cast<intptr_t>(selector) == 'c';
  const bool hasMethod = nargin == 4 || nargin == 6;
  const bool stateSpace = nargin >= 5;
  static const char* const kTypes[] = {"RRR", "RRRS", "RRRRR", "RRRRRS"};
  if (StatusCode st = CheckArgTypes(ctx, nargin, kTypes[nargin - 3]); st != kOk) return st;
  char method = toDiscrete ? 'z' : 't';
  if (hasMethod) {
    char letter = 0;
    if (StatusCode st = numeric::ReadFirstLetter(ctx, 0, &letter); st != kOk) return st;
    const char* accepted = toDiscrete ? "zfmt" : "t";
    if (letter != 0) {
      if (!std::strchr(accepted, letter)) return kUnknownOpt;
      method = letter;
    }
  }
  Matrix t;
  (void)ReadMatrix(ctx, hasMethod ? 1 : 0, &t);
  if (t.count() != 1) return kNonScalarArg;
  const double ts = t.re[0];
  return stateSpace ? ConvertSs(ctx, nargin, nargout, method, toDiscrete, ts)
                    : ConvertTf(ctx, nargin, nargout, method, toDiscrete, ts);
}
