// Magic squares: every order up to 40 is a permutation of 1 .. n^2 with equal
// row, column and diagonal sums from n = 3 on, and the small orders match
// their classical squares cell for cell.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "numeric/numeric.h"

namespace {

std::vector<double> Magic(int n) {
  std::vector<double> m(static_cast<size_t>(n) * n, -1);
  FillMagicSquare(m.data(), n);
  return m;
}

TEST(MagicSquareTest, EveryOrderIsAMagicPermutation) {
  for (int n = 1; n <= 40; ++n) {
    const std::vector<double> m = Magic(n);
    std::vector<double> sorted = m;
    std::sort(sorted.begin(), sorted.end());
    for (int k = 0; k < n * n; ++k) ASSERT_EQ(sorted[k], k + 1) << "order " << n;
    if (n < 3) continue;
    const double want = n * (static_cast<double>(n) * n + 1) / 2;
    double diagonal = 0, antidiagonal = 0;
    for (int i = 0; i < n; ++i) {
      double row = 0, column = 0;
      for (int j = 0; j < n; ++j) {
        row += m[i * n + j];
        column += m[j * n + i];
      }
      EXPECT_EQ(row, want) << "order " << n << " row " << i;
      EXPECT_EQ(column, want) << "order " << n << " column " << i;
      diagonal += m[i * n + i];
      antidiagonal += m[i * n + (n - 1 - i)];
    }
    EXPECT_EQ(diagonal, want) << "order " << n;
    EXPECT_EQ(antidiagonal, want) << "order " << n;
  }
}

TEST(MagicSquareTest, SmallOrdersAreTheClassicalSquares) {
  struct Case {
    int n;
    std::vector<double> want;
  };
  const Case kCases[] = {
      {1, {1}},
      {2, {1, 3, 4, 2}},
      {3, {8, 1, 6, 3, 5, 7, 4, 9, 2}},
      {4, {16, 2, 3, 13, 5, 11, 10, 8, 9, 7, 6, 12, 4, 14, 15, 1}},
  };
  for (const Case& c : kCases) EXPECT_EQ(Magic(c.n), c.want) << "order " << c.n;
}

// The odd kernel writes only its block of a wider matrix.
TEST(MagicSquareTest, OddSquareKeepsToItsBlock) {
  std::vector<double> m(5 * 3, 0);
  FillOddMagicSquare(m.data(), 3, 5);
  const std::vector<double> want = {8, 1, 6, 0, 0, 3, 5, 7, 0, 0, 4, 9, 2, 0, 0};
  EXPECT_EQ(m, want);
}

}  // namespace
