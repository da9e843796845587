// Small dense products on row-major blocks for the solvers that assemble
// their systems from pieces: the destination may be a sub-block of a larger
// matrix whose rows are stride doubles apart.
#pragma once

#include <cstdint>

namespace numeric {

struct Block {
  double* p;
  int64_t stride;
  double& operator()(int i, int j) const { return p[i * stride + j]; }
};

// D := alpha A B + beta D for A (rows x inner), B (inner x cols); A' or B'
// where asked (A is then inner x rows, B cols x inner). beta = 0 ignores what
// D held, NaNs included. D must not overlap A or B.
inline void Gemm(double alpha, const double* a, bool ta, const double* b, bool tb, int rows, int inner, int cols,
                 double beta, Block d) {
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      double s = 0;
      for (int k = 0; k < inner; ++k) {
        const double x = ta ? a[int64_t{k} * rows + i] : a[int64_t{i} * inner + k];
        const double y = tb ? b[int64_t{j} * inner + k] : b[int64_t{k} * cols + j];
        s += x * y;
      }
      d(i, j) = alpha * s + (beta == 0 ? 0.0 : beta * d(i, j));
    }
}

}  // namespace numeric
