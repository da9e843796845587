// Magic squares of every order: the step method for odd orders, the
// complement pattern for multiples of 4, and four odd quadrants with column
// exchanges for the other even orders.
#include <utility>

#include "numeric/numeric.h"

void FillOddMagicSquare(double* m, int k, int stride) {
  int r = 0, c = (k - 1) / 2;
  const int last = k * k;
  for (int v = 1; v <= last; ++v) {
    m[r * stride + c] = v;
    if (v % k == 0) {
      // One column left and two rows down from the next step: straight below.
      r = (r + 1) % k;
    } else {
      r = (r + k - 1) % k;
      c = (c + 1) % k;
    }
  }
}

void FillMagicSquare(double* m, int n) {
  if (n % 2 == 1) {
    FillOddMagicSquare(m, n, n);
    return;
  }
  const double n2 = static_cast<double>(n) * n;
  if (n % 4 == 0) {
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j) {
        const double v = static_cast<double>(i - 1) * n + j;
        const bool column = j % 4 == 0 || j % 4 == 1, row = i % 4 == 0 || i % 4 == 1;
        m[(i - 1) * n + (j - 1)] = column != row ? v : n2 + 1 - v;
      }
    return;
  }
  const int k = n / 2;
  const double k2 = static_cast<double>(k) * k;
  FillOddMagicSquare(m, k, n);
  for (int r = 0; r < k; ++r)
    for (int c = 0; c < k; ++c) {
      const double s = m[r * n + c];
      m[r * n + c + k] = s + 2 * k2;
      m[(r + k) * n + c] = s + 3 * k2;
      m[(r + k) * n + c + k] = s + k2;
    }
  auto exchange = [&](int r, int c) { std::swap(m[r * n + c], m[(r + k) * n + c]); };
  const int h = (k - 1) / 2;
  for (int r = 0; r < k; ++r)
    for (int c = 0; c < h; ++c) exchange(r, c);
  // The middle row moves its centre cell instead of its first.
  if (h > 0) {
    exchange(h, 0);
    exchange(h, h);
  }
  for (int r = 0; r < k; ++r)
    for (int c = n - (k - 3) / 2; c < n; ++c) exchange(r, c);
}
