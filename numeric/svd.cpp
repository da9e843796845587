// Singular value decompositions (Golub-Reinsch for real matrices, complex
// Householder bidiagonalisation to a real bidiagonal for complex ones, and the
// singular values of a complex matrix through its real embedding) and the
// Cholesky factorisations.
#include <algorithm>
#include <cmath>
#include <utility>

#include "corelib/corelib.h"
#include "numeric/complexops.h"
#include "numeric/numeric.h"

using numeric::At;
using numeric::Cx;
using numeric::Put;
using numeric::ScaledHypot;

namespace {

double Sign(double a, double b) { return b >= 0 ? std::fabs(a) : -std::fabs(a); }

// Implicit-shift QR on the bidiagonal with diagonal w[0..n-1] and superdiagonal
// rv1[1..n-1] (rv1[i] couples w[i-1] and w[i]; rv1[0] is 0). Rotations go to the
// columns of U through rotU(i, j, c, s) and of V through rotV; negV(k) negates
// column k of V. `small(x)` tells whether |x| may be treated as zero. False when
// some value needed more than maxSweeps sweeps.
template <class Small, class RotU, class RotV, class NegV>
bool DiagonaliseBidiagonal(double* w, double* rv1, int n, int maxSweeps, Small small, RotU rotU, RotV rotV, NegV negV) {
  bool converged = true;
  for (int k = n - 1; k >= 0; --k) {
    for (int sweep = 0;; ++sweep) {
      bool cancel = true;
      int l = k;
      for (; l >= 0; --l) {
        // l = 0 always splits: rv1[0] is 0, and a NaN norm must not reach w[-1].
        if (l == 0 || small(rv1[l])) {
          cancel = false;
          break;
        }
        if (small(w[l - 1])) break;
      }
      if (cancel) {
        // w[l-1] is negligible: chase rv1[l] away with rotations on U's columns.
        int nm = l - 1;
        double c = 0, s = 1;
        for (int i = l; i <= k; ++i) {
          double f = s * rv1[i];
          rv1[i] = c * rv1[i];
          if (small(f)) break;
          double g = w[i], h = ScaledHypot(f, g);
          w[i] = h;
          h = 1.0 / h;
          c = g * h;
          s = -f * h;
          rotU(nm, i, c, s);
        }
      }
      double z = w[k];
      if (l == k) {
        if (z < 0) {
          w[k] = -z;
          negV(k);
        }
        break;
      }
      if (sweep == maxSweeps) {
        converged = false;
        break;
      }
      // Shift from the bottom 2 x 2, then the chase.
      double x = w[l], y = w[k - 1], g = rv1[k - 1], h = rv1[k];
      double f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
      g = ScaledHypot(f, 1.0);
      f = ((x - z) * (x + z) + h * ((y / (f + Sign(g, f))) - h)) / x;
      double c = 1, s = 1;
      for (int j = l; j < k; ++j) {
        int i = j + 1;
        g = rv1[i];
        y = w[i];
        h = s * g;
        g = c * g;
        z = ScaledHypot(f, h);
        rv1[j] = z;
        if (z != 0) c = f / z, s = h / z;  // a zero hypotenuse keeps the previous rotation
        f = x * c + g * s;
        g = g * c - x * s;
        h = y * s;
        y *= c;
        rotV(j, i, c, s);
        z = ScaledHypot(f, h);
        w[j] = z;
        if (z != 0) {
          z = 1.0 / z;
          c = f * z;
          s = h * z;
        }
        f = c * g + s * y;
        x = c * y - s * g;
        rotU(j, i, c, s);
      }
      rv1[l] = 0;
      rv1[k] = f;
      w[k] = x;
    }
  }
  return converged;
}

// (x, y) -> (x c + y s, y c - x s) on columns i and j of a rows x cols array.
void RotateColumns(double* m, int rows, int cols, int i, int j, double c, double s) {
  for (int r = 0; r < rows; ++r) {
    double x = m[r * cols + i], y = m[r * cols + j];
    m[r * cols + i] = x * c + y * s;
    m[r * cols + j] = y * c - x * s;
  }
}

}  // namespace

bool ComputeRealSvd(double* a, int m, int n, double* w, double* v, double* work) {
  auto A = [&](int i, int j) -> double& { return a[i * n + j]; };
  auto V = [&](int i, int j) -> double& { return v[i * n + j]; };
  double* rv1 = work;
  double g = 0, scale = 0, anorm = 0;
  int l = 0;
  // Householder bidiagonalisation.
  for (int i = 0; i < n; ++i) {
    l = i + 1;
    rv1[i] = scale * g;
    g = scale = 0;
    double s = 0;
    if (i < m) {
      for (int k = i; k < m; ++k) scale += std::fabs(A(k, i));
      if (scale != 0) {
        for (int k = i; k < m; ++k) {
          A(k, i) /= scale;
          s += A(k, i) * A(k, i);
        }
        double f = A(i, i);
        g = -Sign(std::sqrt(s), f);
        double h = f * g - s;
        A(i, i) = f - g;
        for (int j = l; j < n; ++j) {
          double sum = 0;
          for (int k = i; k < m; ++k) sum += A(k, i) * A(k, j);
          f = sum / h;
          for (int k = i; k < m; ++k) A(k, j) += f * A(k, i);
        }
        for (int k = i; k < m; ++k) A(k, i) *= scale;
      }
    }
    w[i] = scale * g;
    g = s = scale = 0;
    if (i < m && i != n - 1) {
      for (int k = l; k < n; ++k) scale += std::fabs(A(i, k));
      if (scale != 0) {
        for (int k = l; k < n; ++k) {
          A(i, k) /= scale;
          s += A(i, k) * A(i, k);
        }
        double f = A(i, l);
        g = -Sign(std::sqrt(s), f);
        double h = f * g - s;
        A(i, l) = f - g;
        for (int k = l; k < n; ++k) rv1[k] = A(i, k) / h;
        for (int j = l; j < m; ++j) {
          double sum = 0;
          for (int k = l; k < n; ++k) sum += A(j, k) * A(i, k);
          for (int k = l; k < n; ++k) A(j, k) += sum * rv1[k];
        }
        for (int k = l; k < n; ++k) A(i, k) *= scale;
      }
    }
    anorm = std::max(anorm, std::fabs(w[i]) + std::fabs(rv1[i]));
  }
  // Right-hand transformations into V.
  if (v) {
    for (int i = n - 1; i >= 0; --i) {
      if (i < n - 1) {
        if (g != 0) {
          for (int j = l; j < n; ++j) V(j, i) = (A(i, j) / A(i, l)) / g;  // two divisions avoid underflow
          for (int j = l; j < n; ++j) {
            double s = 0;
            for (int k = l; k < n; ++k) s += A(i, k) * V(k, j);
            for (int k = l; k < n; ++k) V(k, j) += s * V(k, i);
          }
        }
        for (int j = l; j < n; ++j) V(i, j) = V(j, i) = 0;
      }
      V(i, i) = 1;
      g = rv1[i];
      l = i;
    }
  }
  // Left-hand transformations: A becomes U.
  for (int i = std::min(m, n) - 1; i >= 0; --i) {
    l = i + 1;
    g = w[i];
    for (int j = l; j < n; ++j) A(i, j) = 0;
    if (g != 0) {
      g = 1.0 / g;
      for (int j = l; j < n; ++j) {
        double s = 0;
        for (int k = l; k < m; ++k) s += A(k, i) * A(k, j);
        double f = (s / A(i, i)) * g;
        for (int k = i; k < m; ++k) A(k, j) += f * A(k, i);
      }
      for (int j = i; j < m; ++j) A(j, i) *= g;
    } else {
      for (int j = i; j < m; ++j) A(j, i) = 0;
    }
    A(i, i) += 1;
  }
  bool converged = DiagonaliseBidiagonal(
      w, rv1, n, 30, [anorm](double x) { return std::fabs(x) + anorm == anorm; },
      [&](int i, int j, double c, double s) { RotateColumns(a, m, n, i, j, c, s); },
      [&](int i, int j, double c, double s) {
        if (v) RotateColumns(v, n, n, i, j, c, s);
      },
      [&](int k) {
        if (v)
          for (int j = 0; j < n; ++j) V(j, k) = -V(j, k);
      });
  if (!v) {
    ShellSortDoubles(w, n, 1, true);
    return converged;
  }
  // Sort w decreasing with an index (ascending over the reversed view), then
  // reorder the columns of U and V the same way through a row copy in work.
  int32_t* index = reinterpret_cast<int32_t*>(work + n);
  for (int i = 0; i < n; ++i) index[i] = i;
  if (n > 0) ShellSortDoublesWithIndex(w + n - 1, index + n - 1, n, -1);
  auto permuteRows = [&](double* mat, int rows) {
    for (int r = 0; r < rows; ++r) {
      for (int j = 0; j < n; ++j) work[j] = mat[r * n + index[j]];
      std::copy(work, work + n, mat + r * n);
    }
  };
  permuteRows(a, m);
  permuteRows(v, n);
  return converged;
}

bool ComputeComplexSingularValues(const double* ar, const double* ai, int m, int n, double* s, double* work) {
  // E = [Ar, -Ai; Ai, Ar] has the singular values of A, each twice.
  const int rows = 2 * m, cols = 2 * n;
  double* e = work + 3 * n + 1;
  double* w = e + rows * cols;
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) {
      double re = ar[i * n + j], im = ai[i * n + j];
      e[i * cols + j] = re;
      e[i * cols + n + j] = -im;
      e[(m + i) * cols + j] = im;
      e[(m + i) * cols + n + j] = re;
    }
  bool converged = ComputeRealSvd(e, rows, cols, w, nullptr, work);
  for (int i = 0; i < n; ++i) s[i] = w[2 * i];
  return converged;
}

namespace {

constexpr double kNegligibleSquare = 1.0020959530862092e-292;

// Norm of the strided vector without overflow or early underflow.
double StridedNorm(const double* re, const double* im, int len, int stride) {
  double scale = 0;
  for (int k = 0; k < len; ++k) scale = std::max({scale, std::fabs(re[k * stride]), std::fabs(im[k * stride])});
  if (scale == 0) return 0;
  double sum = 0;
  for (int k = 0; k < len; ++k) {
    double x = re[k * stride] / scale, y = im[k * stride] / scale;
    sum += x * x + y * y;
  }
  return scale * std::sqrt(sum);
}

// A reflector I - tau u u^H with u[0] = 1 that maps the strided vector x onto
// alpha e1, alpha = -phase(x0) |x|. u[1..] overwrite x[1..]; x[0] gets the unit
// phase(alpha); returns tau, or 0 (identity, x cleared) when |x|^2 is negligible.
double MakeReflector(double* re, double* im, int len, int stride, double* norm) {
  double nx = StridedNorm(re, im, len, stride);
  if (nx * nx <= kNegligibleSquare) {  // a NaN norm is not negligible: it must reach the iteration
    for (int k = 0; k < len; ++k) re[k * stride] = im[k * stride] = 0;
    re[0] = 1;
    *norm = 0;
    return 0;
  }
  Cx x0(re[0], im[0]);
  double m0 = numeric::Modulus(x0);
  Cx phase = m0 == 0 ? Cx(1, 0) : x0 / m0;
  Cx v0 = x0 + phase * nx;  // x0 - alpha
  for (int k = 1; k < len; ++k) Put(re, im, k * stride, numeric::SmithDivide(At(re, im, k * stride), v0));
  Put(re, im, 0, -phase);
  *norm = nx;
  return 1.0 + m0 / nx;
}

// Applies I - tau u u^H (u[0] = 1, u[k] at ur[k * us]) from the left to rows
// r0 .. r0+len-1 of the columns c0 .. c1-1 of an array with `cols` columns.
void ReflectRows(double* mr, double* mi, int cols, int r0, int len, int c0, int c1, const double* ur, const double* ui,
                 int us, double tau) {
  if (tau == 0) return;
  auto u = [&](int k) { return k == 0 ? Cx(1, 0) : At(ur, ui, k * us); };
  for (int j = c0; j < c1; ++j) {
    Cx w(0, 0);
    for (int k = 0; k < len; ++k) w += std::conj(u(k)) * At(mr, mi, (r0 + k) * cols + j);
    w *= tau;
    for (int k = 0; k < len; ++k) {
      int e = (r0 + k) * cols + j;
      Put(mr, mi, e, At(mr, mi, e) - u(k) * w);
    }
  }
}

// The same reflector from the right on columns c0 .. c0+len-1 of rows r0 .. r1-1.
void ReflectColumns(double* mr, double* mi, int cols, int c0, int len, int r0, int r1, const double* ur,
                    const double* ui, int us, double tau) {
  if (tau == 0) return;
  auto u = [&](int k) { return k == 0 ? Cx(1, 0) : At(ur, ui, k * us); };
  for (int i = r0; i < r1; ++i) {
    Cx w(0, 0);
    for (int k = 0; k < len; ++k) w += At(mr, mi, i * cols + c0 + k) * u(k);
    w *= tau;
    for (int k = 0; k < len; ++k) {
      int e = i * cols + c0 + k;
      Put(mr, mi, e, At(mr, mi, e) - w * std::conj(u(k)));
    }
  }
}

void ComplexRotateColumns(double* mr, double* mi, int rows, int cols, int i, int j, double c, double s) {
  RotateColumns(mr, rows, cols, i, j, c, s);
  RotateColumns(mi, rows, cols, i, j, c, s);
}

}  // namespace

bool ComputeComplexSvd(double* ar, double* ai, int m, int n, double* s, double* ur, double* ui, int ucols, double* vr,
                       double* vi, int vcols, double* work) {
  if (n == 0) return true;
  double* d = work;
  double* rv1 = work + n;  // rv1[i] couples d[i-1] and d[i]
  double* tauL = work + 2 * n;
  double* tauR = work + 3 * n;
  double* extra = work + 5 * n;
  const int nn = n * n;
  // Work on an n x n copy padded with zero rows when the matrix is wide.
  int rows = m;
  double* br = ar;
  double* bi = ai;
  if (m < n) {
    br = extra;
    bi = extra + nn;
    extra += 2 * nn;
    std::fill(br, br + 2 * nn, 0.0);
    std::copy(ar, ar + m * n, br);
    std::copy(ai, ai + m * n, bi);
    rows = n;
  }
  double* uwr = ur;
  double* uwi = ui;
  int uw = ucols;
  if (ur && m < n) {
    uwr = extra;
    uwi = extra + nn;
    extra += 2 * nn;
    uw = n;
  }
  double* vwr = vr;
  double* vwi = vi;
  int vw = vcols;
  if (vr && vcols < n) {
    vwr = extra;
    vwi = extra + nn;
    vw = n;
  }
  // Bidiagonalisation. Left reflector k lives in column k below the diagonal,
  // its phase on the diagonal; right reflector k in row k right of k+1, its
  // phase at (k, k+1). The phases make the bidiagonal entries real.
  rv1[0] = 0;
  for (int k = 0; k < n; ++k) {
    int e = k * n + k;
    tauL[k] = MakeReflector(br + e, bi + e, rows - k, n, &d[k]);
    Cx p = At(br, bi, e);
    ReflectRows(br, bi, n, k, rows - k, k + 1, n, br + e, bi + e, n, tauL[k]);
    for (int j = k + 1; j < n; ++j) Put(br, bi, k * n + j, At(br, bi, k * n + j) * std::conj(p));
    if (k + 1 >= n) break;
    // Row k right of the diagonal, reflected as the column vector conj(y).
    int f = e + 1, len = n - k - 1;
    for (int j = 0; j < len; ++j) bi[f + j] = -bi[f + j];
    tauR[k] = MakeReflector(br + f, bi + f, len, 1, &rv1[k + 1]);
    Cx q = std::conj(At(br, bi, f));  // the column phase that makes the entry real
    Put(br, bi, f, q);
    ReflectColumns(br, bi, n, k + 1, len, k + 1, rows, br + f, bi + f, 1, tauR[k]);
    for (int i = k + 1; i < rows; ++i) Put(br, bi, i * n + k + 1, At(br, bi, i * n + k + 1) * std::conj(q));
  }
  double wmax = 0;
  for (int j = 0; j < n; ++j) {
    double x = d[j] + (j + 1 < n ? rv1[j + 1] : 0.0);
    if (!(x <= wmax)) wmax = x;  // NaN sticks, so nothing counts as small
  }
  const double tol = numeric::kEps * wmax;
  auto identity = [](double* mr, double* mi, int r, int c) {
    std::fill(mr, mr + r * c, 0.0);
    std::fill(mi, mi + r * c, 0.0);
    for (int i = 0; i < std::min(r, c); ++i) mr[i * c + i] = 1;
  };
  if (uwr) identity(uwr, uwi, rows, uw);
  if (vwr) identity(vwr, vwi, n, vw);
  bool converged = DiagonaliseBidiagonal(
      d, rv1, n, 71, [tol](double x) { return std::fabs(x) <= tol; },
      [&](int i, int j, double c, double sn) {
        if (uwr) ComplexRotateColumns(uwr, uwi, rows, uw, i, j, c, sn);
      },
      [&](int i, int j, double c, double sn) {
        if (vwr) ComplexRotateColumns(vwr, vwi, n, vw, i, j, c, sn);
      },
      [&](int k) {
        if (vwr)
          for (int r = 0; r < n; ++r) vwr[r * vw + k] = -vwr[r * vw + k], vwi[r * vw + k] = -vwi[r * vw + k];
      });
  if (!converged) return false;
  // Selection sort, decreasing, with the columns of U and V.
  auto swapColumns = [](double* mr, double* mi, int r, int c, int i, int j) {
    for (int t = 0; t < r; ++t) {
      std::swap(mr[t * c + i], mr[t * c + j]);
      std::swap(mi[t * c + i], mi[t * c + j]);
    }
  };
  for (int i = 0; i < n; ++i) {
    int big = i;
    for (int j = i + 1; j < n; ++j)
      if (d[j] > d[big]) big = j;
    if (big == i) continue;
    std::swap(d[i], d[big]);
    if (uwr) swapColumns(uwr, uwi, rows, uw, i, big);
    if (vwr) swapColumns(vwr, vwi, n, vw, i, big);
  }
  // Back-transformation, reflectors in reverse order with their phases.
  if (uwr)
    for (int k = n - 1; k >= 0; --k) {
      int e = k * n + k;
      Cx p = At(br, bi, e);
      for (int j = 0; j < uw; ++j) Put(uwr, uwi, k * uw + j, At(uwr, uwi, k * uw + j) * p);
      ReflectRows(uwr, uwi, uw, k, rows - k, 0, uw, br + e, bi + e, n, tauL[k]);
    }
  if (vwr)
    for (int k = n - 2; k >= 0; --k) {
      int f = k * n + k + 1;
      Cx q = At(br, bi, f);
      for (int j = 0; j < vw; ++j) Put(vwr, vwi, (k + 1) * vw + j, At(vwr, vwi, (k + 1) * vw + j) * std::conj(q));
      ReflectRows(vwr, vwi, vw, k + 1, n - k - 1, 0, vw, br + f, bi + f, 1, tauR[k]);
    }
  if (ur && uwr != ur)
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < ucols; ++j) Put(ur, ui, i * ucols + j, At(uwr, uwi, i * uw + j));
  if (vr && vwr != vr)
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < vcols; ++j) Put(vr, vi, i * vcols + j, At(vwr, vwi, i * vw + j));
  for (int i = 0; i < std::min({ucols, vcols, n}); ++i) s[i] = d[i];
  return true;
}

bool FactorRealCholesky(double* a, int n) {
  auto A = [&](int i, int j) -> double& { return a[i * n + j]; };
  // L is built below the diagonal while the upper triangle is still read.
  for (int k = 0; k < n; ++k) {
    double c = A(k, k);
    for (int j = 0; j < k; ++j) c -= A(k, j) * A(k, j);
    if (!(c > 0)) return false;
    double r = std::sqrt(c);
    A(k, k) = r;
    for (int i = k + 1; i < n; ++i) {
      double s = A(k, i);
      for (int j = 0; j < k; ++j) s -= A(i, j) * A(k, j);
      A(i, k) = s / r;
    }
  }
  for (int i = 1; i < n; ++i)
    for (int j = 0; j < i; ++j) {
      A(j, i) = A(i, j);
      A(i, j) = 0;
    }
  return true;
}

bool FactorComplexCholesky(double* ar, double* ai, int n) {
  for (int k = 0; k < n; ++k) {
    double c = ar[k * n + k];
    for (int j = 0; j < k; ++j) c -= std::norm(At(ar, ai, k * n + j));
    if (!(c > 0)) return false;
    double r = std::sqrt(c);
    ar[k * n + k] = r;  // the imaginary part of the diagonal is neither read nor changed
    for (int i = k + 1; i < n; ++i) {
      Cx s = At(ar, ai, k * n + i);
      for (int j = 0; j < k; ++j) s -= std::conj(At(ar, ai, k * n + j)) * At(ar, ai, i * n + j);
      Put(ar, ai, i * n + k, s / r);
    }
  }
  // Moved without conjugation: R^H R = A.
  for (int i = 1; i < n; ++i)
    for (int j = 0; j < i; ++j) {
      ar[j * n + i] = ar[i * n + j];
      ai[j * n + i] = ai[i * n + j];
      ar[i * n + j] = ai[i * n + j] = 0;
    }
  return true;
}
