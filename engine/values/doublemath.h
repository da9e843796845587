// Elementary double functions and the real range arithmetic of the colon
// operator, shared by the run-time builtins and the compiler's constant
// folding so that every optimisation level computes the same bits.
#pragma once

#include <cmath>
#include <cstdint>

// Unary functions of one real double, as the builtins apply them per element.
inline double DoubleAbs(double x) { return std::fabs(x); }
inline double DoubleExp(double x) { return std::exp(x); }
inline double DoubleSin(double x) { return std::sin(x); }
inline double DoubleCos(double x) { return std::cos(x); }
inline double DoubleTan(double x) { return std::tan(x); }
inline double DoubleAtan(double x) { return std::atan(x); }

// 1, 0 or -1; a NaN comes back as it went in (payload and sign kept), so
// that folding sign away over a NaN constant leaves the same bits.
inline double DoubleSign(double x) {
  if (x > 0) return 1;
  if (x < 0) return -1;
  if (x == 0) return 0;
  return x;
}

constexpr int64_t kMaxRangeElements = 2147483647;

// The number of elements of the real range start:step:stop, as a double:
// +Inf for a range without end, which a for loop may step through. The
// quotient is nudged up by 1000 units in the last place so that ranges such
// as 0:0.1:0.7, whose quotient falls a hair short of an integer, keep their
// last element; a NaN quotient is an empty range.
inline double LoopElementCount(double start, double step, double stop) {
  const double nudged = std::floor((stop - start + step) / step * (1.0 + 1000.0 * 0x1p-52));
  return nudged >= 1 ? nudged : 0;
}

// The same count for colon, which builds the row: false when the range would
// hold more than kMaxRangeElements.
inline bool RangeElementCount(double start, double step, double stop, int64_t* count) {
  if ((stop - start + step) / step > static_cast<double>(kMaxRangeElements)) return false;
  *count = static_cast<int64_t>(LoopElementCount(start, step, stop));
  return true;
}

namespace doublemath_detail {

// x as m * 2^e with m an odd integer (x finite and non-zero).
inline void SplitDyadic(double x, int64_t* m, int* e) {
  int exponent = 0;
  const double f = std::frexp(x, &exponent);  // x = f * 2^exponent, 0.5 <= |f| < 1
  int64_t mantissa = static_cast<int64_t>(std::ldexp(f, 53));
  exponent -= 53;
  while ((mantissa & 1) == 0) mantissa /= 2, ++exponent;
  *m = mantissa;
  *e = exponent;
}

}  // namespace doublemath_detail

// Element k (from 0) of the range: start with step added k times, one
// rounding per addition, which is how colon builds the row and how a for loop
// advances its variable. When every partial sum is exact (both ends are
// integers in units of the finer operand's lowest bit and below 2^53 of those
// units), the sum is formed at once; otherwise it is repeated.
inline double RangeElement(double start, double step, int64_t k) {
  if (k <= 0) return start;
  if (std::isfinite(start) && std::isfinite(step) && step != 0) {
    int64_t sm = 0, tm = 0;
    int se = 0, te = 0;
    if (start != 0) doublemath_detail::SplitDyadic(start, &sm, &se);
    doublemath_detail::SplitDyadic(step, &tm, &te);
    const int e = start != 0 && se < te ? se : te;
    const int shiftStart = start != 0 ? se - e : 0, shiftStep = te - e;
    if (shiftStart < 53 && shiftStep < 53 && k < (int64_t{1} << 53)) {
      // The step below 2^54 units and k below 2^53 keep t * k below 2^107;
      // larger steps fail the test below.
      const __int128 limit = static_cast<__int128>(1) << 53;
      const __int128 s = static_cast<__int128>(sm) << shiftStart;
      const __int128 t = static_cast<__int128>(tm) << shiftStep;
      const bool small = s < limit && -s < limit && t < 2 * limit && -t < 2 * limit;
      const __int128 last = small ? s + t * k : limit;
      if (small && last < limit && -last < limit) {
        const double exact = std::ldexp(static_cast<double>(static_cast<int64_t>(last)), e);
        if (std::isfinite(exact)) return exact;
      }
    }
  }
  double x = start;
  for (int64_t i = 0; i < k; ++i) x += step;
  return x;
}

// The value a for loop over start:step:stop leaves in its variable: its last
// element. Gives 0 and false for an empty range (the variable is not set),
// true with *last set otherwise; *tooLarge tells a range colon refuses.
inline bool RangeLastElement(double start, double step, double stop, double* last, bool* tooLarge) {
  int64_t count = 0;
  *tooLarge = !RangeElementCount(start, step, stop, &count);
  if (*tooLarge || count <= 0) return false;
  *last = RangeElement(start, step, count - 1);
  return true;
}
