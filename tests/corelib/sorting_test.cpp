// sort and unique through their handlers on seeded random arrays of every
// class, against a reference stable sort by the same order: NaN after every
// number ascending, before every number descending; complex values by
// magnitude (unique: then by angle).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "engine/indexing.h"
#include "tests/corelib/stack_values.h"

namespace {

struct ClassCase {
  const char* name;
  uint32_t cls;
  int32_t subtype;
};

const ClassCase kClasses[] = {
    {"double", kDouble, kNumericArray},  {"complex", kComplexDouble, kNumericArray},
    {"single", kSingle, kNumericArray},  {"complex single", kComplexSingle, kNumericArray},
    {"int8", kInt8, kNumericArray},      {"uint8", kUint8, kNumericArray},
    {"int16", kInt16, kNumericArray},    {"uint16", kUint16, kNumericArray},
    {"int32", kInt32, kNumericArray},    {"uint32", kUint32, kNumericArray},
    {"int64", kInt64, kNumericArray},    {"uint64", kUint64, kNumericArray},
    {"char", kUint16, kCharArray},       {"logical", kUint8, kLogicalArray},
};

// A value drawn from a few repeated keys, so that ties are common.
struct Drawn {
  double re, im;
  __int128 integer;
};

class SortingTest : public StackValuesTest {
 public:
  std::mt19937 random{20261211};

  Drawn Draw(const ClassCase& c) {
    static const double kFloats[] = {-2.5, -1, -0.0, 0.0, 1, 1, 2.5, INFINITY, -INFINITY, NAN};
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    Drawn d{kFloats[pick(10)], 0, 0};
    if (IsComplexClass(c.cls)) {
      static const double kParts[] = {-1, 0, 1, 1, 2, NAN};
      d.re = kParts[pick(6)];
      d.im = kParts[pick(6)];
    }
    if (IsIntegerClass(c.cls)) {
      const int bits = ElementBytes(c.cls) * 8;
      const bool isUnsigned = (c.cls & 0x80) != 0;
      const __int128 low = isUnsigned ? 0 : -(static_cast<__int128>(1) << (bits - 1));
      const __int128 high = (isUnsigned ? (static_cast<__int128>(1) << bits) : -low) - 1;
      const __int128 kIntegers[] = {low, low + 1, -1, 0, 1, 7, high - 1, high};
      d.integer = kIntegers[pick(8)];
      if (c.subtype == kLogicalArray) d.integer = pick(2);
      if (d.integer < low || d.integer > high) d.integer = 0;
    }
    return d;
  }

  void Push(const ClassCase& c, const std::vector<int32_t>& dims, const std::vector<Drawn>& values) {
    const int nd = static_cast<int>(dims.size());
    const size_t n = values.size();
    if (c.cls == kDouble || c.cls == kComplexDouble) {
      double* re = nullptr;
      double* im = nullptr;
      ASSERT_EQ(PushDoubleArray(ctx, nd, dims.data(), &re, c.cls == kComplexDouble ? &im : nullptr), kOk);
      for (size_t k = 0; k < n; ++k) {
        re[k] = values[k].re;
        if (im) im[k] = values[k].im;
      }
    } else if (c.cls == kSingle || c.cls == kComplexSingle) {
      float* re = nullptr;
      float* im = nullptr;
      ASSERT_EQ(PushSingleArray(ctx, nd, dims.data(), &re, c.cls == kComplexSingle ? &im : nullptr), kOk);
      for (size_t k = 0; k < n; ++k) {
        re[k] = static_cast<float>(values[k].re);
        if (im) im[k] = static_cast<float>(values[k].im);
      }
    } else {
      void* data = nullptr;
      const int bytes = ElementBytes(c.cls);
      if (c.subtype == kCharArray) {
        uint16_t* chars = nullptr;
        ASSERT_EQ(PushCharArray(ctx, nd, dims.data(), &chars), kOk);
        data = chars;
      } else if (c.subtype == kLogicalArray) {
        uint8_t* bits = nullptr;
        ASSERT_EQ(PushLogicalArray(ctx, nd, dims.data(), &bits), kOk);
        data = bits;
      } else {
        ASSERT_EQ(PushIntegerArray(ctx, nd, dims.data(), bytes, (c.cls & 0x80) != 0, &data), kOk);
      }
      for (size_t k = 0; k < n; ++k) {
        const auto bits = static_cast<uint64_t>(values[k].integer);
        std::memcpy(static_cast<uint8_t*>(data) + k * bytes, &bits, bytes);
      }
    }
  }

  static bool IsNaN(const NumericView& v, int64_t k) {
    return !IsIntegerClass(v.cls) && (std::isnan(RealElement(v, k)) || std::isnan(ImagElement(v, k)));
  }
  // The reference order of two non-NaN elements: -1, 0 or 1.
  static int Compare(const NumericView& v, int64_t a, int64_t b, bool byAngle) {
    if (IsIntegerClass(v.cls)) {
      const __int128 x = IntegerElement(v, a), y = IntegerElement(v, b);
      return x < y ? -1 : x > y;
    }
    double x = RealElement(v, a), y = RealElement(v, b);
    if (IsComplexClass(v.cls)) {
      const double xi = ImagElement(v, a), yi = ImagElement(v, b);
      x = x * x + xi * xi;
      y = y * y + yi * yi;
      if (x == y && byAngle) {
        x = std::atan2(xi + 0.0, RealElement(v, a) + 0.0);
        y = std::atan2(yi + 0.0, RealElement(v, b) + 0.0);
      }
    }
    return x < y ? -1 : x > y;
  }
  // Positions of one column in the reference order: stable, NaNs aside.
  static std::vector<int64_t> Reference(const NumericView& v, int64_t base, int64_t stride, int n, bool descending,
                                        bool byAngle) {
    std::vector<int64_t> numbers, nans;
    for (int k = 0; k < n; ++k) (IsNaN(v, base + k * stride) ? nans : numbers).push_back(k);
    std::stable_sort(numbers.begin(), numbers.end(), [&](int64_t a, int64_t b) {
      const int c = Compare(v, base + a * stride, base + b * stride, byAngle);
      return descending ? c > 0 : c < 0;
    });
    if (descending) {
      nans.insert(nans.end(), numbers.begin(), numbers.end());
      return nans;
    }
    numbers.insert(numbers.end(), nans.begin(), nans.end());
    return numbers;
  }
  // NaN equals nothing; 0 equals -0.
  static bool SameValue(const NumericView& a, int64_t i, const NumericView& b, int64_t j) {
    if (IsIntegerClass(a.cls)) return IntegerElement(a, i) == IntegerElement(b, j);
    return RealElement(a, i) == RealElement(b, j) && ImagElement(a, i) == ImagElement(b, j);
  }
  static bool SameBits(const NumericView& a, int64_t i, const NumericView& b, int64_t j) {
    if (IsIntegerClass(a.cls)) return IntegerElement(a, i) == IntegerElement(b, j);
    const double ar = RealElement(a, i), br = RealElement(b, j), ai = ImagElement(a, i), bi = ImagElement(b, j);
    return std::memcmp(&ar, &br, sizeof ar) == 0 && std::memcmp(&ai, &bi, sizeof ai) == 0;
  }
};

TEST_F(SortingTest, SortMatchesAStableReferenceInEveryClassDimensionAndDirection) {
  const std::vector<int32_t> dims = {3, 5, 2};
  for (const ClassCase& c : kClasses)
    for (int round = 0; round < 3; ++round) {
      std::vector<Drawn> values(30);
      for (Drawn& d : values) d = Draw(c);
      for (int dim = 1; dim <= 3; ++dim)
        for (bool descending : {false, true}) {
          SCOPED_TRACE(::testing::Message() << c.name << " dim " << dim << (descending ? " descend" : " ascend"));
          Push(c, dims, values);
          Push(c, dims, values);
          Scalar(dim);
          Text(descending ? "descend" : "ascend");
          ASSERT_EQ(sort(ctx, 3, 2), kOk);
          NumericView input, sorted, index;
          ASSERT_TRUE(ReadNumeric(ctx, 2, &input));
          ASSERT_TRUE(ReadNumeric(ctx, 1, &index));
          ASSERT_TRUE(ReadNumeric(ctx, 0, &sorted));
          ASSERT_EQ(sorted.cls, input.cls);
          ASSERT_EQ(sorted.count, input.count);
          int d = dim - 1;
          DimensionSplit split{};
          SplitDimensions(3, dims.data(), &d, &split);
          for (int64_t o = 0; o < split.outer; ++o)
            for (int64_t i = 0; i < split.inner; ++i) {
              const int64_t base = o * split.length * split.inner + i;
              const std::vector<int64_t> want =
                  Reference(input, base, split.inner, split.length, descending, false);
              for (int s = 0; s < split.length; ++s) {
                const int64_t at = base + s * split.inner;
                const auto from = static_cast<int64_t>(RealElement(index, at)) - 1;
                ASSERT_EQ(from, want[s]) << "column at " << base << " slot " << s;
                EXPECT_TRUE(SameBits(sorted, at, input, base + from * split.inner));
              }
            }
          PopValue(ctx);
          PopValue(ctx);
          PopValue(ctx);
        }
    }
}

// Without the index output doubles take their own kernel: the same values,
// ties (0 and -0) in any order.
TEST_F(SortingTest, SortOfDoublesWithoutIndexGivesTheReferenceValues) {
  const ClassCase& c = kClasses[0];
  for (int round = 0; round < 20; ++round)
    for (bool descending : {false, true}) {
      std::vector<Drawn> values(40);
      for (Drawn& d : values) d = Draw(c);
      Push(c, {1, 40}, values);
      Push(c, {1, 40}, values);
      Text(descending ? "d" : "a");
      ASSERT_EQ(sort(ctx, 2, 1), kOk);
      NumericView input, sorted;
      ASSERT_TRUE(ReadNumeric(ctx, 1, &input));
      ASSERT_TRUE(ReadNumeric(ctx, 0, &sorted));
      const std::vector<int64_t> want = Reference(input, 0, 1, 40, descending, false);
      for (int s = 0; s < 40; ++s) {
        const double x = RealElement(sorted, s), y = RealElement(input, want[s]);
        EXPECT_TRUE(x == y || (std::isnan(x) && std::isnan(y))) << s;
      }
      PopValue(ctx);
      PopValue(ctx);
    }
}

TEST_F(SortingTest, UniqueKeepsEachValueOnceAndEveryNaNWithConsistentPositions) {
  for (const ClassCase& c : kClasses)
    for (const std::vector<int32_t>& dims : {std::vector<int32_t>{1, 24}, std::vector<int32_t>{4, 6},
                                             std::vector<int32_t>{2, 3, 4}}) {
      SCOPED_TRACE(::testing::Message() << c.name << " with " << dims.size() << " dims, rows " << dims[0]);
      std::vector<Drawn> values(24);
      for (Drawn& d : values) d = Draw(c);
      Push(c, dims, values);
      Push(c, dims, values);
      ASSERT_EQ(unique(ctx, 3), kOk);
      NumericView input, j, i, u;
      ASSERT_TRUE(ReadNumeric(ctx, 3, &input));
      ASSERT_TRUE(ReadNumeric(ctx, 2, &j));
      ASSERT_TRUE(ReadNumeric(ctx, 1, &i));
      ASSERT_TRUE(ReadNumeric(ctx, 0, &u));
      const std::vector<int64_t> order = Reference(input, 0, 1, 24, false, true);
      std::vector<int64_t> firsts;
      for (size_t s = 0; s < order.size(); ++s)
        if (s == 0 || !SameValue(input, order[s], input, order[s - 1])) firsts.push_back(order[s]);
      ASSERT_EQ(u.count, static_cast<int64_t>(firsts.size()));
      ASSERT_EQ(i.count, u.count);
      ASSERT_EQ(j.count, 24);
      const bool row = dims.size() == 2 && dims[0] == 1;
      const bool floats = c.cls == kDouble || c.cls == kComplexDouble;
      EXPECT_EQ(u.dims[0] == 1 && u.count > 1, floats ? row : dims[0] == 1);
      for (int64_t r = 0; r < u.count; ++r) {
        EXPECT_EQ(static_cast<int64_t>(RealElement(i, r)) - 1, firsts[r]) << r;
        EXPECT_TRUE(SameBits(u, r, input, firsts[r])) << r;
      }
      for (int64_t k = 0; k < 24; ++k) {
        const auto r = static_cast<int64_t>(RealElement(j, k)) - 1;
        ASSERT_GE(r, 0);
        ASSERT_LT(r, u.count);
        if (IsNaN(input, k))
          EXPECT_EQ(static_cast<int64_t>(RealElement(i, r)) - 1, k) << "a NaN is its own value";
        else
          EXPECT_TRUE(SameValue(u, r, input, k)) << k;
      }
      for (int p = 0; p < 4; ++p) PopValue(ctx);
    }
}

}  // namespace
