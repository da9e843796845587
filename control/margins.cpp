// Gain and phase margins of a loop num/den under unity negative feedback:
// the unit circle is scanned in fixed steps of pi/200 with 20 bisections per
// crossing, so two crossings closer than a step can be missed. A continuous
// loop is mapped by s = (z - 1)/(z + 1) and searched the same way.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "control/control.h"
#include "numeric/nativeargs.h"

namespace {

using numeric::Matrix;
using numeric::ReadMatrix;

constexpr StatusCode kNotRowVector = 24;
constexpr double kEps = 0x1p-52;
constexpr double kStep = M_PI / 200;
constexpr double kScanEnd = 3.173008580125691;  // pi + pi/100
constexpr int kHalvings = 20;

struct Loop {
  const double* num;
  int m;
  const double* den;
  int n;
  void At(double theta, double* re, double* im) const {
    EvaluateTransferFunction(num, m, den, n, std::cos(theta), std::sin(theta), re, im);
  }
  void AtMinusOne(double* re, double* im) const { EvaluateTransferFunction(num, m, den, n, -1, 0, re, im); }
};

// Bisection on [theta - h, theta]: the midpoint replaces the upper end while
// the test there agrees with the state at theta. Returns the final midpoint.
template <typename Test>
double Bisect(double theta, bool state, Test test) {
  double lo = theta - kStep, hi = theta;
  for (int k = 0; k < kHalvings; ++k) {
    const double mid = 0.5 * (lo + hi);
    if (test(mid) == state)
      hi = mid;
    else
      lo = mid;
  }
  return 0.5 * (lo + hi);
}

// A real-axis crossing at x moves the gain bound below or above 1 outwards.
void UpdateGains(double x, double theta, double* g, double* thetaG) {
  if (x < -1 / g[1] && (x > -1 || g[1] < 1)) {
    g[1] = -1 / x;
    thetaG[1] = theta;
  } else if (x > -1 / g[0] && (g[0] > 1 || x < 1)) {
    g[0] = -1 / x;
    thetaG[0] = theta;
  }
}

}  // namespace

bool IsSchurStable(double* p, int n) {
  int first = 0;
  while (first <= n && p[first] == 0) ++first;
  if (first > n) return true;
  p += first;
  int deg = n - first;
  if (p[0] < 0)
    for (int i = 0; i <= deg; ++i) p[i] = -p[i];
  while (deg > 0) {
    const double c = p[deg] / p[0];
    for (int i = 0, j = deg; i <= j; ++i, --j) {
      if (i == j) {
        p[i] *= 1 - c;
        break;
      }
      const double a = p[i], b = p[j];
      p[i] = a - c * b;
      p[j] = b - c * a;
    }
    if (!(p[0] > 0)) return false;
    --deg;
  }
  return true;
}

bool SearchDiscreteMargins(const double* den, int n, const double* num, int m, double* pm, double* thetaPm, double* g,
                           double* thetaG, double* work) {
  std::memcpy(work, den, sizeof(double) * (n + 1));
  for (int k = 0; k <= m; ++k) work[n - m + k] += num[k];
  if (!IsSchurStable(work, n)) return false;

  const Loop loop{num, m, den, n};
  double sum = 0, total = 0;
  for (int k = 0; k <= n; ++k) {
    sum += den[k];
    total += std::fabs(den[k]);
  }
  bool ready = false;
  double theta = -kStep;
  g[0] = g[1] = thetaG[0] = thetaG[1] = NAN;
  if (std::fabs(sum) / total < 1e-6) {  // a pole at z = 1
    theta = kStep;
    g[0] = -INFINITY;
    g[1] = INFINITY;
    thetaG[0] = 0;
    thetaG[1] = M_PI;
    ready = true;
  }
  *pm = 10;
  *thetaPm = 0;
  double re, im;
  loop.At(theta, &re, &im);
  bool neg = im < 0, in = re * re + im * im < 1;
  auto candidate = [&](double x, double at) {
    if (!ready) {
      g[0] = g[1] = -1 / x;
      thetaG[0] = thetaG[1] = at;
      ready = true;
    } else {
      UpdateGains(x, at, g, thetaG);
    }
  };
  auto below = [&](double t) {
    double r, i;
    loop.At(t, &r, &i);
    return i < 0;
  };
  auto inside = [&](double t) {
    double r, i;
    loop.At(t, &r, &i);
    return r * r + i * i < 1;
  };
  theta += kStep;
  while (theta <= kScanEnd) {
    loop.At(theta, &re, &im);
    const bool neg2 = neg ? im < kEps : im < -kEps;
    const bool in2 = re * re + im * im < 1;
    if (neg2 == neg) {
      if (im == 0) candidate(re, theta);
    } else if (im == 0) {
      candidate(re, theta);
    } else if (theta < M_PI) {
      const double at = Bisect(theta, neg2, below);
      double r, i;
      loop.At(at, &r, &i);
      candidate(r, at);
    } else {
      double r, i;
      loop.AtMinusOne(&r, &i);
      candidate(r, M_PI);
    }
    if (in2 != in) {
      const double at = Bisect(theta, in2, inside);
      double r, i;
      loop.At(at, &r, &i);
      const double phi = std::fabs(std::atan2(-i, -r));
      if (phi < *pm) {
        *pm = phi;
        *thetaPm = at;
      }
    }
    neg = neg2;
    in = in2;
    theta += kStep;
  }
  loop.AtMinusOne(&re, &im);
  UpdateGains(re, M_PI, g, thetaG);
  for (int k = 0; k < 2; ++k) {
    if (std::isinf(g[k]))
      g[k] = k == 0 ? -INFINITY : INFINITY;
    else if (std::fabs(g[k]) < kEps * den[0] && std::fabs(g[k]) < kEps)
      g[k] = 0;
  }
  return true;
}

bool SearchContinuousMargins(const double* den, int n, const double* num, int m, double* pm, double* thetaPm, double* g,
                             double* thetaG, double* work) {
  double* numZ = work;
  double* denZ = numZ + n + 1;
  double* powers = denZ + n + 1;
  // The powers of (z + 1) overwrite the copy of den coefficient by coefficient, after each is read.
  std::memcpy(powers, den, sizeof(double) * (n + 1));
  ApplyBilinearSubstitution(num, m, powers, n, 1, -1, 1, 1, true, numZ, denZ, powers);
  if (!SearchDiscreteMargins(denZ, n, numZ, n, pm, thetaPm, g, thetaG, powers)) return false;
  *thetaPm = std::tan(*thetaPm / 2);
  for (int k = 0; k < 2; ++k) thetaG[k] = thetaG[k] == M_PI ? INFINITY : std::tan(thetaG[k] / 2);
  return true;
}

StatusCode ComputeStabilityMargins(EngineContext* ctx, int nargin, int nargout, void* selector) {
  const bool discrete = reinterpret_cast<intptr_t>(selector) == 'd';
  if (StatusCode st = CheckArgTypes(ctx, nargin, "RR[R"); st != kOk) return st;
  double ts = 1;
  if (nargin == 3) {
    Matrix t;
    (void)ReadMatrix(ctx, 0, &t);
    if (t.count() != 1) return kNonScalarArg;
    ts = t.re[0];
  }
  const int top = nargin - 2;
  Matrix num, den;
  (void)ReadMatrix(ctx, top + 1, &num);
  (void)ReadMatrix(ctx, top, &den);
  if (den.m != 1 || num.m != 1) return kNotRowVector;
  if (num.n > den.n) return kIncompSize;
  const int n = den.n - 1, m = num.n - 1;
  double* work = nullptr;
  if (StatusCode st = numeric::Scratch(ctx, discrete ? n + 1 : 3 * (n + 1), &work); st != kOk) return st;
  double pm = 0, thetaPm = 0, g[2], thetaG[2];
  const bool stable = discrete ? SearchDiscreteMargins(den.re, n, num.re, m, &pm, &thetaPm, g, thetaG, work)
                               : SearchContinuousMargins(den.re, n, num.re, m, &pm, &thetaPm, g, thetaG, work);
  const int outs = std::max(nargout, 1);
  for (int k = outs - 1; k >= 0; --k) {
    StatusCode st = kOk;
    const bool crossed = pm < 5;
    double* cells = nullptr;
    if (!stable || (!crossed && (k == 1 || k == 3))) {
      st = PushEmptyMatrix(ctx);
    } else if (k == 0 || k == 2) {
      st = PushDoubleMatrix(ctx, 1, 2, &cells, nullptr);
      if (st == kOk) {
        cells[0] = k == 0 ? g[0] : thetaG[0] / ts;
        cells[1] = k == 0 ? g[1] : thetaG[1] / ts;
      }
    } else {
      st = PushRealScalar(ctx, k == 1 ? pm : thetaPm / ts);
    }
    if (st != kOk) {
      numeric::PopValues(ctx, outs - 1 - k);
      return st;
    }
  }
  return DropArgsUnderResults(ctx, outs, nargin);
}
