// Values of linear systems at one complex point and the default frequency
// ranges and time spans the response generators fall back on. Pure
// computations: every work array is the caller's, and the system's own arrays
// are only read (roots and eigenvalues run on copies in the scratch).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "control/control.h"
#include "numeric/numeric.h"

namespace {

// Horner's scheme in complex arithmetic.
void Horner(const double* p, int degree, double sr, double si, double* vr, double* vi) {
  double re = p[0], im = 0;
  for (int k = 1; k <= degree; ++k) {
    const double t = re * sr - im * si + p[k];
    im = re * si + im * sr;
    re = t;
  }
  *vr = re;
  *vi = im;
}

// Poles of den into re/im (2n doubles at the front of scratch, the copy after
// them). Laguerre's finder deflates the copy, never den itself.
void TfPoles(const double* den, int n, double* scratch, double** re, double** im) {
  *re = scratch;
  *im = scratch + n;
  double* copy = scratch + 2 * n;
  std::memcpy(copy, den, sizeof(double) * (n + 1));
  FindRealPolyRootsByLaguerre(copy, n, *re, *im);
}

// Eigenvalues of A into re/im; false when the iteration gave up. Scratch layout:
// re (n), im (n), n integers (n doubles), the copy of A (n^2).
bool SsPoles(const double* a, int n, double* scratch, double** re, double** im) {
  *re = scratch;
  *im = scratch + n;
  int32_t* pivots = reinterpret_cast<int32_t*>(scratch + 2 * n);
  double* copy = scratch + 3 * n;
  std::memcpy(copy, a, sizeof(double) * n * n);
  return ComputeRealEigenvalues(copy, n, pivots, *re, *im);
}

void RangeFromPoles(const double* re, const double* im, int n, bool logX, double* wmin, double* wmax) {
  double small = 1e30, large = 0;
  for (int k = 0; k < n; ++k) {
    const double q = re[k] * re[k] + im[k] * im[k];
    if (q < small) small = q;  // NaN compares false both ways and changes nothing
    if (q > large) large = q;
  }
  double lo = 0, hi = 10;
  if (large == 0) {
    lo = 0;
  } else if (n > 6 && large > 1e12) {
    lo = 0;
    hi = 1e6;
  } else {
    lo = 0.1 * std::sqrt(small);
    hi = 10 * std::sqrt(large);
  }
  const double ratio = lo == 0 ? INFINITY : std::fabs(hi / lo);
  if (logX && ratio > 10000) lo = hi * 0.0001;
  if (!logX && ratio > 10) lo = 0;
  *wmin = lo;
  *wmax = hi;
}

double ContinuousSpan(const double* re, const double* im, int n) {
  double span = 0;
  for (int k = 0; k < n; ++k) {
    const double q = re[k] * re[k] + im[k] * im[k];
    if (q > 1e-6) span += 10 / std::sqrt(q);
  }
  return std::min(span, 1e6);
}

// Each z is taken to s = ln(z)/Ts first: a pole at z = 1 then counts as s = 0.
double DiscreteSpan(const double* re, const double* im, int n, double ts) {
  double span = 0;
  for (int k = 0; k < n; ++k) {
    const double angle = std::atan2(im[k], re[k]);
    const double logModulus = 0.5 * std::log(re[k] * re[k] + im[k] * im[k]);
    const double q = (angle * angle + logModulus * logModulus) / (ts * ts);
    if (q > 1e-6) span += 10 / std::sqrt(q);
  }
  return std::min(span, 1e6);
}

// X = C (sI - A)^-1 as ny rows of n, real block then imaginary block, at
// scratch + 2n^2; M = sI - A before it is destroyed by the solve.
double* SolveResolvent(const double* a, const double* c, int n, int ny, double sr, double si, double* scratch) {
  double* mr = scratch;
  double* mi = scratch + n * n;
  for (int k = 0; k < n * n; ++k) {
    mr[k] = -a[k];
    mi[k] = 0;
  }
  for (int i = 0; i < n; ++i) {
    mr[i * n + i] += sr;
    mi[i * n + i] = si;
  }
  double* x = scratch + 2 * n * n;
  if (ny * n > 0) std::memcpy(x, c, sizeof(double) * ny * n);
  std::fill_n(x + ny * n, ny * n, 0.0);
  int32_t* pivots = reinterpret_cast<int32_t*>(x + 2 * ny * n);
  SolveComplexRightLinearSystem(scratch, x, n, ny, pivots);
  return x;
}

}  // namespace

void EvaluateTransferFunction(const double* num, int m, const double* den, int n, double sr, double si, double* re,
                              double* im) {
  double nr, ni, dr, di;
  Horner(num, m, sr, si, &nr, &ni);
  Horner(den, n, sr, si, &dr, &di);
  // Smith's division: no overflow from squaring the denominator.
  if (std::fabs(di) < std::fabs(dr)) {
    const double u = di / dr, t = 1 / (dr + di * u);
    *re = (nr + ni * u) * t;
    *im = (ni - nr * u) * t;
  } else if (di != 0) {
    const double u = dr / di, t = 1 / (di + dr * u);
    *re = (nr * u + ni) * t;
    *im = (ni * u - nr) * t;
  } else if (ni == 0) {
    *re = nr / dr;
    *im = 0;
  } else {
    *re = *im = NAN;
  }
}

void ChooseTfFrequencyRange(const double* den, int n, bool logX, double* scratch, double* wmin, double* wmax) {
  if (n <= 0) {
    *wmin = 1;
    *wmax = 10;
    return;
  }
  double *re, *im;
  TfPoles(den, n, scratch, &re, &im);
  RangeFromPoles(re, im, n, logX, wmin, wmax);
}

void ChooseSsFrequencyRange(const double* a, int n, bool logX, double* scratch, double* wmin, double* wmax) {
  double *re, *im;
  if (n <= 0 || !SsPoles(a, n, scratch, &re, &im)) {
    *wmin = 1;
    *wmax = 10;
    return;
  }
  RangeFromPoles(re, im, n, logX, wmin, wmax);
}

void ChooseTfTimeRange(const double* den, int n, double* scratch, double* span) {
  if (n <= 0) {
    *span = 10;
    return;
  }
  double *re, *im;
  TfPoles(den, n, scratch, &re, &im);
  *span = ContinuousSpan(re, im, n);
}

void ChooseDiscreteTfTimeRange(const double* den, int n, double ts, double* scratch, double* span) {
  if (n <= 0) {
    *span = 10;
    return;
  }
  double *re, *im;
  TfPoles(den, n, scratch, &re, &im);
  *span = DiscreteSpan(re, im, n, ts);
}

void ChooseSsTimeRange(const double* a, int n, double* scratch, double* span) {
  double *re, *im;
  if (n <= 0 || !SsPoles(a, n, scratch, &re, &im)) {
    *span = 10;
    return;
  }
  *span = ContinuousSpan(re, im, n);
}

void ChooseDiscreteSsTimeRange(const double* a, int n, double ts, double* scratch, double* span) {
  double *re, *im;
  if (n <= 0 || !SsPoles(a, n, scratch, &re, &im)) {
    *span = 10;
    return;
  }
  *span = DiscreteSpan(re, im, n, ts);
}

void EvaluateSsFrequencyResponse(const double* a, const double* b, const double* c, const double* d, int n, int ny,
                                 double sr, double si, double* re, double* im, double* scratch) {
  const double* x = SolveResolvent(a, c, n, ny, sr, si, scratch);
  const double* xi = x + ny * n;
  for (int i = 0; i < ny; ++i) {
    double r = d ? d[i] : 0, q = 0;
    for (int j = 0; j < n; ++j) {
      r += x[i * n + j] * b[j];
      q += xi[i * n + j] * b[j];
    }
    re[i] = r;
    im[i] = q;
  }
}

int64_t SsSingularValueScratch(int n, int nu, int ny) {
  const int64_t front = 2 * std::max<int64_t>(int64_t{n} * n, int64_t{ny} * nu);
  const int64_t solve = 2 * int64_t{ny} * n + n;
  const int64_t svd = 4 * int64_t{ny} * nu + 5 * int64_t{nu} + 1;
  return front + std::max(solve, svd);
}

bool EvaluateSsSingularValues(const double* a, const double* b, const double* c, const double* d, int n, int nu, int ny,
                              double sr, double si, double* sigma, double* scratch) {
  // The resolvent's M block is sized for the larger of n^2 and ny nu, so the
  // response G can take its place once X is known.
  const int front = std::max(n * n, ny * nu);
  double* x = scratch + 2 * front;
  double* mr = x - 2 * n * n;
  // SolveResolvent places X right after its 2n^2 doubles of M.
  SolveResolvent(a, c, n, ny, sr, si, mr);
  const double* xi = x + ny * n;
  double* gr = scratch;
  double* gi = scratch + ny * nu;
  for (int i = 0; i < ny; ++i)
    for (int k = 0; k < nu; ++k) {
      double r = d ? d[i * nu + k] : 0, q = 0;
      for (int j = 0; j < n; ++j) {
        r += x[i * n + j] * b[j * nu + k];
        q += xi[i * n + j] * b[j * nu + k];
      }
      gr[i * nu + k] = r;
      gi[i * nu + k] = q;
    }
  return ComputeComplexSingularValues(gr, gi, ny, nu, sigma, x);
}
