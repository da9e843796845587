// Linear programming: a two-phase revised simplex with an explicit basis
// inverse, largest-reduced-cost pricing, and a pseudo-random perturbation of
// the right-hand side once degenerate steps pile up.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "numeric/numeric.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kEps = 2.220446049250313e-16;  // 2^-52
// A pivot smaller than this share of its column's largest entry is rounding
// noise in a column that should be zero there.
constexpr double kPivotShare = 1e-9;

// The column of variable v of the working problem: structural columns are
// read from A', slacks and artificials are signed unit vectors.
struct Columns {
  const double* a;
  const int32_t* rowMap;
  int r, n;

  // y := Binv * column v.
  void Transform(const double* binv, int v, double* y) const {
    if (v >= n) {
      const int32_t code = rowMap[v - n];
      const int row = code >= 0 ? code : ~code;
      const double sign = code >= 0 ? 1.0 : -1.0;
      for (int i = 0; i < r; ++i) y[i] = sign * binv[int64_t{i} * r + row];
      return;
    }
    for (int i = 0; i < r; ++i) {
      double s = 0;
      for (int k = 0; k < r; ++k) s += binv[int64_t{i} * r + k] * a[int64_t{k} * n + v];
      y[i] = s;
    }
  }

  // pi . column v.
  double Dot(const double* pi, int v) const {
    if (v >= n) {
      const int32_t code = rowMap[v - n];
      return code >= 0 ? pi[code] : -pi[~code];
    }
    double s = 0;
    for (int k = 0; k < r; ++k) s += pi[k] * a[int64_t{k} * n + v];
    return s;
  }
};

double RowTimes(const double* binv, int r, int row, const double* b) {
  double s = 0;
  for (int k = 0; k < r; ++k) s += binv[int64_t{row} * r + k] * b[k];
  return s;
}

// Phase 1 prices artificials (numbered from n + r) at -1, everything else at 0.
double CostOf(const double* costs, int n, int r, int v) {
  if (costs == nullptr) return v >= n + r ? -1.0 : 0.0;
  return v < n ? costs[v] : 0.0;
}

// The perturbation of row i at a step: a linear congruential value read as a
// signed 32-bit integer, scaled below 1e-7.
double PerturbationOf(int step, int i) {
  const uint32_t s = 1013904223u + static_cast<uint32_t>(step + i) * 1664525u;
  return static_cast<double>(static_cast<int32_t>(s)) * 1e-7 / 4294967296.0;
}

}  // namespace

int64_t LinearProgramWorkspaceSize(int m, int n) {
  const int64_t r = int64_t{m} + n;
  // A', Binv, y, b', the unperturbed b', c', the shifts; then the 4-byte
  // lists (row map 2r, basis r, non-basic n + 2r) and the 2n flag bytes.
  const int64_t doubles = r * n + r * r + 3 * r + 2 * int64_t{n};
  const int64_t words = 5 * r + n;
  return doubles + (words + 1) / 2 + (2 * int64_t{n} + 7) / 8 + 1;
}

void ExchangeBasisColumn(const SimplexState& s, int position, int row) {
  const int r = s.r;
  const int entering = s.nonbasic[position];
  s.nonbasic[position] = s.basis[row];
  s.basis[row] = entering;
  double* y = s.y;
  const double v = y[row];
  for (int i = 0; i < r; ++i)
    if (i != row) y[i] = -y[i] / v;
  y[row] = 1.0 / v;
  const double* pivotRow = s.binv + int64_t{row} * r;
  for (int i = 0; i < r; ++i) {
    if (i == row || y[i] == 0) continue;
    double* target = s.binv + int64_t{i} * r;
    for (int k = 0; k < r; ++k) target[k] += y[i] * pivotRow[k];
  }
  double* p = s.binv + int64_t{row} * r;
  for (int k = 0; k < r; ++k) p[k] *= y[row];
}

int ChooseSimplexPivot(const SimplexState& s, const double* costs) {
  const int r = s.r, n = s.n;
  const Columns cols{s.a, s.rowMap, r, n};
  double* y = s.y;
  // Prices: pi = c_B^T Binv, kept in y until the entering column is known.
  for (int k = 0; k < r; ++k) {
    double p = 0;
    for (int i = 0; i < r; ++i) p += CostOf(costs, n, r, s.basis[i]) * s.binv[int64_t{i} * r + k];
    y[k] = p;
  }
  int position = -1;
  bool decrease = false;
  double best = 0;
  for (int j = 0; j < *s.nonbasicCount; ++j) {
    const int v = s.nonbasic[j];
    const double d = CostOf(costs, n, r, v) - cols.Dot(y, v);
    if (d > best) {
      best = d, position = j, decrease = false;
    } else if (v < n && s.isFree[v] && -d > best) {
      best = -d, position = j, decrease = true;
    }
  }
  if (position < 0) return kSimplexOptimal;
  if (r == 0) return kSimplexUnbounded;
  cols.Transform(s.binv, s.nonbasic[position], y);
  double largest = 0;
  for (int i = 0; i < r; ++i) largest = std::max(largest, std::fabs(y[i]));
  const double minPivot = kPivotShare * largest;
  int row = -1;
  double ratio = 0;
  for (int i = 0; i < r; ++i) {
    const int basic = s.basis[i];
    if (basic < n && s.isFree[basic]) continue;
    if (decrease ? !(y[i] < -minPivot) : !(y[i] > minPivot)) continue;
    const double q = RowTimes(s.binv, r, i, s.b) / y[i];
    if (row < 0 || (decrease ? q > ratio : q < ratio)) row = i, ratio = q;
  }
  if (row < 0) return kSimplexUnbounded;
  ExchangeBasisColumn(s, position, row);
  return !decrease && ratio > 0 ? kSimplexStep : kSimplexDegenerateStep;
}

bool RunSimplex(double* a, double* b, const double* c, const uint8_t* isFree, int r, int n, double* x,
                const SimplexWorkArea& work) {
  int32_t nonbasicCount = 0;
  SimplexState s{a, b, isFree, work.rowMap, r, n, work.basis, work.nonbasic, &nonbasicCount, work.binv, work.y};
  std::fill_n(work.binv, int64_t{r} * r, 0.0);
  for (int i = 0; i < r; ++i) work.binv[int64_t{i} * r + i] = 1;
  for (int j = 0; j < n; ++j) work.nonbasic[nonbasicCount++] = j;
  int artificials = 0;
  for (int i = 0; i < r; ++i) {
    work.rowMap[i] = i;
    if (b[i] >= 0) {
      work.basis[i] = n + i;
      continue;
    }
    // The row is negated: its slack now has coefficient -1 and an artificial
    // with +1 starts in its place, so the basis stays the identity.
    for (int j = 0; j < n; ++j) a[int64_t{i} * n + j] = -a[int64_t{i} * n + j];
    b[i] = -b[i];
    work.rowMap[i] = ~i;
    work.nonbasic[nonbasicCount++] = n + i;
    work.rowMap[r + artificials] = i;
    work.basis[i] = n + r + artificials;
    ++artificials;
  }
  // Results are read from the right-hand side as it was before any
  // perturbation, with the final basis: a perturbed b' would leave its trace
  // in x, and at a degenerate vertex could even make a feasible problem look
  // infeasible.
  double* b0 = work.unperturbed;
  std::copy_n(b, r, b0);
  double bNorm = 1;
  for (int i = 0; i < r; ++i) bNorm = std::max(bNorm, std::fabs(b0[i]));

  int degenerate = 0;
  auto afterStep = [&](int result, int step) {
    if (result == kSimplexStep) {
      degenerate = 0;
    } else if (degenerate > r + n) {
      for (int i = 0; i < r; ++i) b[i] += PerturbationOf(step, i);
      degenerate = 0;
    } else {
      ++degenerate;
    }
  };
  auto fill = [&](double value) { std::fill_n(x, n, value); };

  if (artificials > 0) {
    for (int w = 0;; ++w) {
      if (w >= 100 * r) return false;
      const int result = ChooseSimplexPivot(s, nullptr);
      if (result == kSimplexUnbounded) {
        fill(kInf);
        return true;
      }
      if (result == kSimplexOptimal) break;
      afterStep(result, w);
    }
    const double level = 10 * kEps * bNorm;
    const Columns cols{a, work.rowMap, r, n};
    for (int i = 0; i < r; ++i) {
      if (work.basis[i] < n + r) continue;
      if (RowTimes(work.binv, r, i, b0) >= level) {
        fill(kNaN);
        return true;
      }
      // Drive the artificial out through the first column with a sound pivot
      // in its row; a row where every column is (nearly) zero is redundant and
      // keeps its artificial at level 0.
      for (int j = 0; j < nonbasicCount; ++j) {
        const int v = work.nonbasic[j];
        if (v >= n + r) continue;
        cols.Transform(work.binv, v, work.y);
        double largest = 0;
        for (int k = 0; k < r; ++k) largest = std::max(largest, std::fabs(work.y[k]));
        if (std::fabs(work.y[i]) > kPivotShare * largest) {
          ExchangeBasisColumn(s, j, i);
          break;
        }
      }
    }
    int kept = 0;
    for (int j = 0; j < nonbasicCount; ++j)
      if (work.nonbasic[j] < n + r) work.nonbasic[kept++] = work.nonbasic[j];
    nonbasicCount = kept;
    degenerate = 0;
  }

  for (int step = 0;; ++step) {
    if (step > 100 * r) return false;
    const int result = ChooseSimplexPivot(s, c);
    if (result == kSimplexUnbounded) {
      fill(kInf);
      return true;
    }
    if (result == kSimplexOptimal) break;
    afterStep(result, step);
  }
  fill(0);
  for (int i = 0; i < r; ++i)
    if (work.basis[i] < n) x[work.basis[i]] = RowTimes(work.binv, r, i, b0);
  return true;
}

bool SolveLinearProgram(const double* a, const double* b, const double* c, int m, int n, const double* lb, int klb,
                        const double* ub, int kub, double* x, double* scratch) {
  const int64_t cap = int64_t{m} + n;
  double* ap = scratch;
  double* bp = ap + cap * n;
  double* unperturbed = bp + cap;
  double* cp = unperturbed + cap;
  double* shift = cp + n;
  double* binv = shift + n;
  double* y = binv + cap * cap;
  auto* words = reinterpret_cast<int32_t*>(y + cap);
  int32_t* rowMap = words;
  int32_t* basis = rowMap + 2 * cap;
  int32_t* nonbasic = basis + cap;
  auto* negated = reinterpret_cast<uint8_t*>(nonbasic + cap * 2 + n);
  uint8_t* isFree = negated + n;

  std::copy_n(a, int64_t{m} * n, ap);
  std::copy_n(b, m, bp);
  std::copy_n(c, n, cp);
  int rows = m;
  for (int i = 0; i < n; ++i) {
    shift[i] = 0;
    negated[i] = 0;
    isFree[i] = 0;
    const bool lower = i < klb && lb[i] != -kInf;
    const bool upper = i < kub && ub[i] != kInf;
    if (lower || upper) {
      const double s = lower ? lb[i] : ub[i];
      shift[i] = s;
      for (int k = 0; k < rows; ++k) bp[k] -= ap[int64_t{k} * n + i] * s;
    }
    if (lower) {
      if (!upper) continue;
      std::fill_n(ap + int64_t{rows} * n, n, 0.0);
      ap[int64_t{rows} * n + i] = 1;
      bp[rows] = ub[i] - lb[i];
      ++rows;
    } else if (upper) {
      for (int k = 0; k < rows; ++k) ap[int64_t{k} * n + i] = -ap[int64_t{k} * n + i];
      cp[i] = -cp[i];
      negated[i] = 1;
    } else {
      isFree[i] = 1;
    }
  }
  const SimplexWorkArea work{binv, y, rowMap, basis, nonbasic, unperturbed};
  if (!RunSimplex(ap, bp, cp, isFree, rows, n, x, work)) return false;
  // The Inf and NaN markers stand for the whole problem and are not shifted.
  for (int i = 0; i < n; ++i)
    if (std::isfinite(x[i])) x[i] = negated[i] ? shift[i] - x[i] : shift[i] + x[i];
  return true;
}
