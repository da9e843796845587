// The simplex kernel: small problems against brute-force vertex enumeration,
// the bound forms, the Inf and NaN markers, and degenerate vertices where the
// right-hand side gets perturbed or an artificial variable stays basic.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "numeric/numeric.h"

namespace {

using Vec = std::vector<double>;
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Problem {
  int m = 0, n = 0;
  Vec a, b, c, lb, ub;
};

// Maximises c x; returns the kernel's truth value.
bool Solve(const Problem& p, Vec* x) {
  Vec scratch(LinearProgramWorkspaceSize(p.m, p.n));
  x->assign(p.n, -1.0);
  return SolveLinearProgram(p.a.data(), p.b.data(), p.c.data(), p.m, p.n, p.lb.data(), static_cast<int>(p.lb.size()),
                            p.ub.data(), static_cast<int>(p.ub.size()), x->data(), scratch.data());
}

// Solves the n x n system by Gaussian elimination; false when singular.
bool SolveSquare(std::vector<Vec> rows, Vec rhs, Vec* x) {
  const int n = static_cast<int>(rhs.size());
  for (int k = 0; k < n; ++k) {
    int p = k;
    for (int i = k + 1; i < n; ++i)
      if (std::fabs(rows[i][k]) > std::fabs(rows[p][k])) p = i;
    if (std::fabs(rows[p][k]) < 1e-10) return false;
    std::swap(rows[k], rows[p]);
    std::swap(rhs[k], rhs[p]);
    for (int i = k + 1; i < n; ++i) {
      const double f = rows[i][k] / rows[k][k];
      for (int j = k; j < n; ++j) rows[i][j] -= f * rows[k][j];
      rhs[i] -= f * rhs[k];
    }
  }
  x->assign(n, 0);
  for (int i = n - 1; i >= 0; --i) {
    double s = rhs[i];
    for (int j = i + 1; j < n; ++j) s -= rows[i][j] * (*x)[j];
    (*x)[i] = s / rows[i][i];
  }
  return true;
}

// The best objective over all vertices of {A x <= b, x >= 0}; NaN when no
// vertex is feasible. Every subset of n active constraints is tried.
double BestVertex(const Problem& p) {
  std::vector<Vec> rows;
  Vec rhs;
  for (int i = 0; i < p.m; ++i) {
    rows.emplace_back(p.a.begin() + i * p.n, p.a.begin() + (i + 1) * p.n);
    rhs.push_back(p.b[i]);
  }
  for (int j = 0; j < p.n; ++j) {
    Vec row(p.n, 0.0);
    row[j] = -1;
    rows.push_back(row);
    rhs.push_back(0);
  }
  const int total = static_cast<int>(rows.size());
  double best = std::numeric_limits<double>::quiet_NaN();
  for (unsigned mask = 0; mask < (1u << total); ++mask) {
    if (__builtin_popcount(mask) != p.n) continue;
    std::vector<Vec> sub;
    Vec subRhs, x;
    for (int i = 0; i < total; ++i)
      if (mask & (1u << i)) sub.push_back(rows[i]), subRhs.push_back(rhs[i]);
    if (!SolveSquare(sub, subRhs, &x)) continue;
    bool feasible = true;
    for (int i = 0; i < total && feasible; ++i) {
      double s = 0;
      for (int j = 0; j < p.n; ++j) s += rows[i][j] * x[j];
      feasible = s <= rhs[i] + 1e-9;
    }
    if (!feasible) continue;
    double f = 0;
    for (int j = 0; j < p.n; ++j) f += p.c[j] * x[j];
    if (std::isnan(best) || f > best) best = f;
  }
  return best;
}

double Objective(const Problem& p, const Vec& x) {
  double f = 0;
  for (int j = 0; j < p.n; ++j) f += p.c[j] * x[j];
  return f;
}

TEST(LinearProgram, TextbookProblem) {
  // max 3x + 5y: x <= 4, 2y <= 12, 3x + 2y <= 18, x, y >= 0.
  const Problem p{3, 2, {1, 0, 0, 2, 3, 2}, {4, 12, 18}, {3, 5}, {0, 0}, {}};
  Vec x;
  ASSERT_TRUE(Solve(p, &x));
  EXPECT_NEAR(x[0], 2, 1e-12);
  EXPECT_NEAR(x[1], 6, 1e-12);
  EXPECT_NEAR(Objective(p, x), 36, 1e-12);
}

TEST(LinearProgram, SeededProblemsMatchVertexEnumeration) {
  std::mt19937 gen(48);
  std::uniform_real_distribution<double> coef(-1, 1), rhs(-0.5, 2);
  int infeasible = 0, solved = 0;
  for (int trial = 0; trial < 300; ++trial) {
    Problem p;
    p.n = 2 + trial % 3;
    p.m = 2 + trial % 4;
    for (int k = 0; k < p.m * p.n; ++k) p.a.push_back(coef(gen));
    for (int i = 0; i < p.m; ++i) p.b.push_back(rhs(gen));
    // A box keeps every problem bounded, so a feasible one has a best vertex.
    for (int j = 0; j < p.n; ++j) {
      for (int k = 0; k < p.n; ++k) p.a.push_back(k == j ? 1 : 0);
      p.b.push_back(5);
    }
    p.m += p.n;
    for (int j = 0; j < p.n; ++j) p.c.push_back(coef(gen));
    p.lb.assign(p.n, 0);
    Vec x;
    ASSERT_TRUE(Solve(p, &x)) << trial;
    const double best = BestVertex(p);
    if (std::isnan(best)) {
      ++infeasible;
      for (double v : x) EXPECT_TRUE(std::isnan(v)) << trial;
      continue;
    }
    ++solved;
    EXPECT_NEAR(Objective(p, x), best, 1e-9) << trial;
    for (int i = 0; i < p.m; ++i) {
      double s = 0;
      for (int j = 0; j < p.n; ++j) s += p.a[i * p.n + j] * x[j];
      EXPECT_LE(s, p.b[i] + 1e-9) << trial << " row " << i;
    }
    for (double v : x) EXPECT_GE(v, -1e-9) << trial;
  }
  // Both outcomes occur, so both paths were checked.
  EXPECT_GT(infeasible, 0);
  EXPECT_GT(solved, 0);
}

TEST(LinearProgram, BoundForms) {
  struct Case {
    const char* what;
    Vec c, lb, ub;
    Vec want;
  };
  // x + y <= 10 throughout.
  const Case kCases[] = {
      {"short lb bounds the first only; y is free and pushed up", {-1, 1}, {1}, {}, {1, 9}},
      {"ub only: x = ub - x'", {2, 1}, {}, {4, kInf}, {4, 6}},
      {"lb with ub: shifted and bounded by a row", {1, -1}, {2, 3}, {5, 8}, {5, 3}},
      {"-Inf and +Inf bound nothing", {1, 0}, {-kInf, 0}, {kInf, 0}, {10, 0}},
  };
  for (const Case& k : kCases) {
    Problem p{1, 2, {1, 1}, {10}, k.c, k.lb, k.ub};
    Vec x;
    ASSERT_TRUE(Solve(p, &x)) << k.what;
    EXPECT_NEAR(x[0], k.want[0], 1e-12) << k.what;
    EXPECT_NEAR(x[1], k.want[1], 1e-12) << k.what;
  }
}

TEST(LinearProgram, FreeVariablesAndMarkers) {
  Vec x;
  // Free x: max x with x <= 3.
  ASSERT_TRUE(Solve({1, 1, {1}, {3}, {1}, {}, {}}, &x));
  EXPECT_EQ(x[0], 3);
  // max -x with x <= 3 and x free is unbounded, also through a negated variable.
  ASSERT_TRUE(Solve({1, 1, {1}, {3}, {-1}, {}, {}}, &x));
  EXPECT_EQ(x[0], kInf);
  ASSERT_TRUE(Solve({1, 2, {1, 1}, {3}, {1, 0}, {}, {kInf, 5}}, &x));
  EXPECT_EQ(x[0], kInf);
  EXPECT_EQ(x[1], kInf);
  // x <= -1 with x >= 0: infeasible.
  ASSERT_TRUE(Solve({1, 1, {1}, {-1}, {1}, {0}, {}}, &x));
  EXPECT_TRUE(std::isnan(x[0]));
  // No rows at all: the bounds alone decide.
  ASSERT_TRUE(Solve({0, 2, {}, {}, {-1, -2}, {3, 4}, {}}, &x));
  EXPECT_EQ(x[0], 3);
  EXPECT_EQ(x[1], 4);
}

TEST(LinearProgram, CyclingExampleIsPerturbedAndComesBackExact) {
  // Beale's problem cycles under largest-coefficient pricing; the optimum
  // (1, 0, 1, 0) is a degenerate vertex, read from the unperturbed b'.
  const Problem p{3, 4, {0.25, -8, -1, 9, 0.5, -12, -0.5, 3, 0, 0, 1, 0}, {0, 0, 1}, {0.75, -20, 0.5, -6}, {0, 0, 0, 0},
                  {}};
  Vec x;
  ASSERT_TRUE(Solve(p, &x));
  EXPECT_EQ(x, (Vec{1, 0, 1, 0}));
}

TEST(LinearProgram, DegenerateEqualitiesStayFeasible) {
  struct Case {
    const char* what;
    Problem p;
    Vec want;
  };
  const Case kCases[] = {
      // x + y = 2 as two inequalities, min x + 2y.
      {"an equality pair", {2, 2, {1, 1, -1, -1}, {2, -2}, {-1, -2}, {0, 0}, {}}, {2, 0}},
      // The same row twice: after phase 1 one artificial has no column with a
      // pivot in its row and must stay basic at level 0.
      {"a redundant row", {3, 2, {-1, -1, -1, -1, 1, 1}, {-2, -2, 2}, {-1, -2}, {0, 0}, {}}, {2, 0}},
      {"an equality through the origin", {2, 2, {1, -1, -1, 1}, {0, 0}, {1, 1}, {0, 0}, {3, 3}}, {3, 3}},
  };
  for (const Case& k : kCases) {
    Vec x;
    ASSERT_TRUE(Solve(k.p, &x)) << k.what;
    EXPECT_NEAR(x[0], k.want[0], 1e-12) << k.what;
    EXPECT_NEAR(x[1], k.want[1], 1e-12) << k.what;
  }
}

}  // namespace
