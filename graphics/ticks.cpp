// Where the minor ticks, major ticks and labels of one axis go: decades and
// their fractions on linear axes, multiplier patterns on logarithmic ones.
#include <cmath>

#include "graphics/renderer.h"

namespace {

bool Accepted(double first, double step, double lo, double limit) { return first >= lo && first + step < limit; }

void ChooseLabels(double lo, double limit, double d, double minor, double major, double w, TickChoice* c) {
  const double M = major;
  const bool fractional = M * 0.1 >= minor;
  struct Candidate {
    bool allowed;
    double first;
    double step;
  };
  const Candidate candidates[] = {
      {minor >= w, c->firstMinor, minor},
      {fractional && M * 0.1 >= w, std::ceil(10 * lo / M) * M * 0.1, M * 0.1},
      {fractional && M * 0.2 >= w, std::ceil(5 * lo / M) * M * 0.2, M * 0.2},
      {fractional && M * 0.5 >= w, std::ceil(2 * lo / M) * M * 0.5, M * 0.5},
      {M >= w, c->firstMajor, M},
      {2 * M >= w, std::ceil(0.5 * lo / M) * M * 2, 2 * M},
  };
  for (const Candidate& k : candidates) {
    if (k.allowed && Accepted(k.first, k.step, lo, limit)) {
      c->firstLabel = k.first;
      c->labelStep = k.step;
      return;
    }
  }
  // Fallback: ten times the decade and its fractions, coarse to fine.
  const double U = 10 * d;
  const double divisors[] = {1, 2, 5, 10, 20};
  double first = 0, step = 0;
  for (int i = 0; i < 5; ++i) {
    step = U / divisors[i];
    first = std::ceil(divisors[i] * lo / U) * U / divisors[i];
    if (i == 4) break;
    if (U / divisors[i + 1] < w || Accepted(first, step, lo, limit)) break;
  }
  if (step >= w) {
    c->firstLabel = first;
    c->labelStep = step;
    return;
  }
  // No two labels fit: one label, its step too long to reach another.
  c->labelStep = 10 * U;
  c->firstLabel = (first + U < limit || first > limit) ? first + U : first;
}

}  // namespace

bool ChooseAxisTicks(double lo, double hi, double labelLimit, double minTickSpacing, double minLabelSpacing,
                     TickChoice* c, bool labels) {
  double span = hi - lo;
  if (std::isnan(span)) {
    *c = {1, 1, 1, 1, 1, 1};
    return false;
  }
  if (std::fabs(span) < 1e-8 || std::fabs(span) > 1e18) {
    double mid = (lo + hi) / 2;
    *c = {mid, 1, mid, 1, mid, 1};
    return false;
  }
  if (lo > hi) std::swap(lo, hi);
  span = hi - lo;
  double d = 1;
  while (d < span) d *= 10;
  while (d > span) d *= 0.1;

  double major;
  double candidate = std::ceil(lo / d) * d;
  if (candidate < lo || candidate >= hi) {
    major = d * 0.1;
    c->firstMajor = std::ceil(lo / major) * major;
  } else {
    c->firstMajor = candidate;
    major = d >= minTickSpacing ? d : 10 * d;
  }
  c->majorStep = major;

  const double m = minTickSpacing;
  double minor = major;
  if (50 * m < major) {
    minor = major * 0.02;
  } else if (20 * m < major) {
    minor = major * 0.05;
  } else if (10 * m < major) {
    minor = major * 0.1;
  } else if (5 * m < major) {
    minor = major * 0.2;
  } else if (2 * m < major) {
    minor = major * 0.5;
  }
  c->minorStep = minor;
  c->firstMinor = std::ceil(lo / minor) * minor;
  if (labels) ChooseLabels(lo, labelLimit, d, minor, major, minLabelSpacing, c);
  return true;
}

// ---------------------------------------------------------------------------

namespace {

// Tick patterns, sparse to dense; the same list of labels patterns follows.
constexpr double kT0[] = {1, -1e6};
constexpr double kT1[] = {1, -1e5};
constexpr double kT2[] = {1, -1e4};
constexpr double kT3[] = {1, -1000};
constexpr double kT4[] = {1, -100};
constexpr double kT5[] = {1, -10};
constexpr double kT6[] = {1, 2, 5, -10};
constexpr double kT7[] = {1, 2, 4, 6, 8, -10};
constexpr double kT8[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, -10};
constexpr double kT9[] = {1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5, 5, 6, 7, 8, 9, -10};
constexpr double kT10[] = {1,   1.2, 1.4, 1.6, 1.8, 2, 2.2, 2.4, 2.6, 2.8, 3,   3.2, 3.4, 3.6,
                           3.8, 4,   4.5, 5,   5.5, 6, 6.5, 7,   7.5, 8,   8.5, 9,   9.5, -10};
constexpr double kT11[] = {1,   1.1, 1.2, 1.3, 1.4, 1.5, 1.6, 1.7, 1.8, 1.9, 2,   2.2, 2.4, 2.6, 2.8, 3,   3.2,
                           3.4, 3.6, 3.8, 4,   4.2, 4.4, 4.6, 4.8, 5,   5.2, 5.4, 5.6, 5.8, 6,   6.2, 6.4, 6.6,
                           6.8, 7,   7.2, 7.4, 7.6, 7.8, 8,   8.2, 8.4, 8.6, 8.8, 9,   9.2, 9.4, 9.6, 9.8, -10};
constexpr double kL8[] = {1, 2, 3, 4, 5, 6, 8, -10};
constexpr double kL11[] = {1, 1.2, 1.4, 1.6, 1.8, 2, 2.2, 2.4, 2.6, 2.8, 3, 3.5, 4, 4.5, 5, 5.5, 6, 6.5, 7, 8, 9, -10};

constexpr LogTickPattern kTickPatterns[] = {kT0, kT1, kT2, kT3, kT4, kT5, kT6, kT7, kT8, kT9, kT10, kT11};
constexpr LogTickPattern kLabelPatterns[] = {kT0, kT1, kT2, kT3, kT4, kT5, kT6, kT7, kL8, kT8, kT9, kL11, kT10, kT11};
constexpr int kTickPatternCount = sizeof kTickPatterns / sizeof kTickPatterns[0];
constexpr int kLabelPatternCount = sizeof kLabelPatterns / sizeof kLabelPatterns[0];

// The smallest ratio between neighbouring entries, the wrap into the next
// decade included.
double SmallestRatio(LogTickPattern p) {
  double smallest = INFINITY;
  int i = 1;
  for (; p[i] > 0; ++i) smallest = std::fmin(smallest, std::fabs(p[i] / p[i - 1]));
  return std::fmin(smallest, -p[i] * p[0] / p[i - 1]);
}

bool HasFraction(LogTickPattern p) {
  for (int i = 0; p[i] > 0; ++i) {
    if (p[i] != std::trunc(p[i])) return true;
  }
  return false;
}

}  // namespace

bool ChooseLogAxisTicks(double lo, double hi, double /*labelLimit*/, double f, double g, LogTickChoice* c) {
  c->minor = c->major = c->label = kT5;
  if (std::isnan(hi - lo)) {
    c->firstDecade = 1;
    return false;
  }
  if (std::fabs(hi - lo) < 1e-8) {
    c->firstDecade = lo;
    return false;
  }
  if (lo > hi) std::swap(lo, hi);
  // Decade searches on a bound <= 0 or infinite would never end.
  if (!(lo > 0) || !std::isfinite(hi)) {
    c->firstDecade = 1;
    return false;
  }
  double d = 1;
  while (d < lo) d *= 10;
  while (d > lo) d *= 0.1;
  c->firstDecade = d;

  c->minor = c->major = kTickPatterns[0];
  bool fractional = false;
  for (int i = 1; i < kTickPatternCount && SmallestRatio(kTickPatterns[i]) >= f; ++i) {
    c->minor = kTickPatterns[i];
    fractional = fractional || HasFraction(kTickPatterns[i]);
    c->major = fractional ? kT8 : kT5;
  }
  c->label = kLabelPatterns[0];
  for (int i = 1; i < kLabelPatternCount && SmallestRatio(kLabelPatterns[i]) >= g; ++i) c->label = kLabelPatterns[i];
  return true;
}
