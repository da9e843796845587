// The Shell-sort kernels: the gap passes, where NaNs end up in each direction,
// companions travelling with their keys, strides, and the index kernel's ties.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <random>
#include <vector>

#include "corelib/corelib.h"

namespace {

const double kNaN = std::nan("");
const int kCounts[] = {0, 1, 2, 3, 4, 5, 13, 14, 40, 41, 122, 1000};

std::vector<double> RandomDoubles(int n, unsigned seed) {
  std::mt19937 gen(seed);
  // Few distinct values, so ties occur often.
  std::uniform_int_distribution<int> pick(-20, 20);
  std::vector<double> v(n);
  for (double& x : v) x = pick(gen) * 0.5;
  return v;
}

// NaN-aware equality, so that expected arrays can hold NaNs.
void ExpectSame(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    if (std::isnan(want[i])) {
      EXPECT_TRUE(std::isnan(got[i])) << "at " << i;
    } else {
      EXPECT_EQ(got[i], want[i]) << "at " << i;
    }
  }
}

// ---------------------------------------------------------------------------
// Gaps

struct ComparisonLog {
  std::vector<std::pair<int, int>> calls;
  const int* keys = nullptr;
};

int CompareLogged(int a, int b, void* user) {
  auto* log = static_cast<ComparisonLog*>(user);
  log->calls.emplace_back(a, b);
  return log->keys ? (log->keys[a] > log->keys[b]) - (log->keys[a] < log->keys[b]) : 0;
}

TEST(ShellSortGaps, FirstPassStartsBelowTheFirstGapReachingTheCount) {
  // Before any move the index array is the identity, so the first comparison
  // is between item h (being inserted) and item 0: its distance is the first gap.
  struct Case {
    int count;
    int gap;  // 0: no comparison at all
  };
  const Case kCases[] = {{0, 0},   {1, 0},   {2, 1},   {4, 1},    {5, 4},    {13, 4},
                         {14, 13}, {40, 13}, {41, 40}, {121, 40}, {122, 121}};
  for (const Case& c : kCases) {
    ComparisonLog log;
    std::vector<int32_t> index(c.count + 1, -7);
    ShellSortIndicesByComparison(c.count, CompareLogged, index.data(), &log, false);
    if (c.gap == 0) {
      EXPECT_TRUE(log.calls.empty()) << c.count;
    } else {
      ASSERT_FALSE(log.calls.empty()) << c.count;
      EXPECT_EQ(log.calls[0], std::make_pair(c.gap, 0)) << c.count;
    }
    for (int i = 0; i < c.count; ++i) EXPECT_EQ(index[i], i) << c.count;
    EXPECT_EQ(index[c.count], -7) << "wrote past the count " << c.count;
  }
}

TEST(ShellSortGaps, EqualKeysAreExchangedOnlyByAnEarlierCoarsePass) {
  // Five elements sort with gap 4 first: the 0 jumps over the first 1 and
  // that 1 lands at the end; the gap-1 pass leaves equal keys alone.
  int32_t keys[] = {1, 1, 1, 1, 0};
  int32_t companions[] = {0, 1, 2, 3, 4};
  ShellSortIntPairs(keys, companions, 5);
  EXPECT_EQ(std::vector<int32_t>(keys, keys + 5), (std::vector<int32_t>{0, 1, 1, 1, 1}));
  EXPECT_EQ(std::vector<int32_t>(companions, companions + 5), (std::vector<int32_t>{4, 1, 2, 3, 0}));

  // Four elements use gap 1 alone: plain insertion keeps the 1s in order.
  int32_t keys4[] = {1, 1, 1, 0};
  int32_t companions4[] = {0, 1, 2, 3};
  ShellSortIntPairs(keys4, companions4, 4);
  EXPECT_EQ(std::vector<int32_t>(companions4, companions4 + 4), (std::vector<int32_t>{3, 0, 1, 2}));
}

TEST(ShellSortGaps, CountsBelowTwoTouchNothing) {
  double d[] = {kNaN, 2.0};
  ShellSortDoubles(d, 1, 1, false);
  ShellSortDoubles(d + 1, 0, 1, true);
  EXPECT_TRUE(std::isnan(d[0]));
  EXPECT_EQ(d[1], 2.0);

  int32_t ints[] = {5, 1};
  ShellSortInts(ints, 1);
  ShellSortIntPairs(ints, ints + 1, 1);
  EXPECT_EQ(ints[0], 5);
  EXPECT_EQ(ints[1], 1);

  double keys[] = {3.0};
  double re[] = {1.0};
  double im[] = {2.0};
  ShellSortKeysWithCompanions(keys, re, im, nullptr, 1, 1, false);
  ShellSortComplex(re, im, 0, 1, false);
  EXPECT_EQ(keys[0], 3.0);
  EXPECT_EQ(re[0], 1.0);
  EXPECT_EQ(im[0], 2.0);
}

// ---------------------------------------------------------------------------
// Ordering finite data

TEST(ShellSortOrder, FiniteDoublesMatchAReferenceSort) {
  for (int n : kCounts) {
    for (bool descending : {false, true}) {
      std::vector<double> v = RandomDoubles(n, 1u + n);
      std::vector<double> want = v;
      if (descending) {
        std::sort(want.begin(), want.end(), std::greater<double>());
      } else {
        std::sort(want.begin(), want.end());
      }
      ShellSortDoubles(v.data(), n, 1, descending);
      EXPECT_EQ(v, want) << "n " << n << " descending " << descending;
    }
  }
}

TEST(ShellSortOrder, IntsAreSigned) {
  for (int n : kCounts) {
    std::mt19937 gen(n);
    std::vector<int32_t> v(n);
    for (int32_t& x : v) x = static_cast<int32_t>(gen());
    if (n >= 3) {
      v[0] = INT_MAX;
      v[n - 1] = INT_MIN;
    }
    std::vector<int32_t> want = v;
    std::sort(want.begin(), want.end());
    ShellSortInts(v.data(), n);
    EXPECT_EQ(v, want) << n;
  }
}

TEST(ShellSortOrder, CompanionsTravelWithTheirKeys) {
  for (int n : kCounts) {
    // Int pairs: the companion is the original position, so key and companion
    // must still agree with the input after sorting.
    std::mt19937 gen(7 + n);
    std::vector<int32_t> keys(n), comp(n);
    for (int i = 0; i < n; ++i) {
      keys[i] = static_cast<int32_t>(gen() % 17) - 8;
      comp[i] = i;
    }
    const std::vector<int32_t> original = keys;
    ShellSortIntPairs(keys.data(), comp.data(), n);
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end())) << n;
    for (int i = 0; i < n; ++i) EXPECT_EQ(original[comp[i]], keys[i]) << n;

    // Doubles with an int companion.
    std::vector<double> d = RandomDoubles(n, 100u + n);
    const std::vector<double> dOriginal = d;
    for (int i = 0; i < n; ++i) comp[i] = i;
    ShellSortDoublesWithIndex(d.data(), comp.data(), n, 1);
    EXPECT_TRUE(std::is_sorted(d.begin(), d.end())) << n;
    for (int i = 0; i < n; ++i) EXPECT_EQ(dOriginal[comp[i]], d[i]) << n;
  }
}

TEST(ShellSortOrder, KeysWithCompanionsOrderTiesByTheThirdCompanion) {
  for (int n : kCounts) {
    for (bool descending : {false, true}) {
      std::vector<double> keys = RandomDoubles(n, 200u + n);
      std::vector<double> re(n), im(n);
      std::vector<int32_t> pos(n);
      for (int i = 0; i < n; ++i) {
        re[i] = keys[i] + 1000;
        im[i] = -i;
        pos[i] = n - i;  // reversed, so ties must actually move
      }
      ShellSortKeysWithCompanions(keys.data(), re.data(), im.data(), pos.data(), n, 1, descending);
      for (int i = 0; i < n; ++i) {
        EXPECT_EQ(re[i], keys[i] + 1000) << n;
        EXPECT_EQ(pos[i], n + static_cast<int>(im[i])) << n;
        if (i == 0) continue;
        if (keys[i - 1] == keys[i]) {
          EXPECT_LT(pos[i - 1], pos[i]) << "tie at " << i << " n " << n;
        } else {
          EXPECT_EQ(keys[i - 1] > keys[i], descending) << "at " << i << " n " << n;
        }
      }
    }
  }
}

TEST(ShellSortOrder, KeysWithoutThirdCompanionLeaveShortTiesAlone) {
  double keys[] = {2, 1, 2, 1};
  double re[] = {10, 20, 30, 40};
  double im[] = {-1, -2, -3, -4};
  ShellSortKeysWithCompanions(keys, re, im, nullptr, 4, 1, false);
  EXPECT_EQ(std::vector<double>(keys, keys + 4), (std::vector<double>{1, 1, 2, 2}));
  EXPECT_EQ(std::vector<double>(re, re + 4), (std::vector<double>{20, 40, 10, 30}));
  EXPECT_EQ(std::vector<double>(im, im + 4), (std::vector<double>{-2, -4, -1, -3}));
}

TEST(ShellSortOrder, StridesWalkTheArrayBothWays) {
  // Stride 2 sorts every other element and leaves the ones between alone.
  std::vector<double> v = {5, -1, 3, -2, 4, -3, 1, -4};
  ShellSortDoubles(v.data(), 4, 2, false);
  EXPECT_EQ(v, (std::vector<double>{1, -1, 3, -2, 4, -3, 5, -4}));

  // A negative stride starts at base and walks backwards: sorting ascending
  // from the last element leaves memory in descending order.
  std::vector<double> w = {2, 5, 1, 4, 3};
  ShellSortDoubles(w.data() + 4, 5, -1, false);
  EXPECT_EQ(w, (std::vector<double>{5, 4, 3, 2, 1}));

  // Companions follow the same (negative) stride.
  std::vector<double> d = {0, 3, 0, 1, 0, 2};
  std::vector<int32_t> c = {9, 30, 9, 10, 9, 20};
  ShellSortDoublesWithIndex(d.data() + 5, c.data() + 5, 3, -2);
  EXPECT_EQ(d, (std::vector<double>{0, 3, 0, 2, 0, 1}));
  EXPECT_EQ(c, (std::vector<int32_t>{9, 30, 9, 20, 9, 10}));

  // The keys of the keyed kernel stay contiguous while companions are strided.
  double keys[] = {3, 1, 2};
  double re[] = {30, 0, 10, 0, 20, 0};
  double im[] = {-3, 0, -1, 0, -2, 0};
  ShellSortKeysWithCompanions(keys, re, im, nullptr, 3, 2, false);
  EXPECT_EQ(std::vector<double>(keys, keys + 3), (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(std::vector<double>(re, re + 6), (std::vector<double>{10, 0, 20, 0, 30, 0}));
  EXPECT_EQ(std::vector<double>(im, im + 6), (std::vector<double>{-1, 0, -2, 0, -3, 0}));

  std::vector<double> cre = {0, 2, 0, 1};
  std::vector<double> cim = {0, 5, 0, 6};
  ShellSortComplex(cre.data() + 3, cim.data() + 3, 2, -2, true);
  EXPECT_EQ(cre, (std::vector<double>{0, 1, 0, 2}));
  EXPECT_EQ(cim, (std::vector<double>{0, 6, 0, 5}));
}

// ---------------------------------------------------------------------------
// NaN

TEST(ShellSortNaN, DoublesAscendingBlockDescendingPass) {
  struct Case {
    std::vector<double> in;
    bool descending;
    std::vector<double> want;
  };
  const Case kCases[] = {
      {{3, kNaN, 1}, false, {3, kNaN, 1}},  // the NaN stops both insertions
      {{1, kNaN, 3}, true, {3, kNaN, 1}},  {{kNaN, 2, 1}, false, {kNaN, 1, 2}},
      {{kNaN, 1, 2}, true, {2, 1, kNaN}},  // 1 passes the NaN, then 2 passes both
      {{1, 2, kNaN}, true, {kNaN, 2, 1}},  // a NaN being inserted passes everything
  };
  for (const Case& c : kCases) {
    std::vector<double> v = c.in;
    ShellSortDoubles(v.data(), static_cast<int>(v.size()), 1, c.descending);
    ExpectSame(v, c.want);
  }
}

TEST(ShellSortNaN, DoublesWithIndexLetNaNsMoveBothWays) {
  // The NaN being inserted goes to the front; a number being inserted passes it.
  double d[] = {2, kNaN, 1};
  int32_t c[] = {0, 1, 2};
  ShellSortDoublesWithIndex(d, c, 3, 1);
  ExpectSame(std::vector<double>(d, d + 3), {1, kNaN, 2});
  EXPECT_EQ(std::vector<int32_t>(c, c + 3), (std::vector<int32_t>{2, 1, 0}));
}

TEST(ShellSortNaN, KeyedKernelTreatsUnorderedAscendingKeysAsTies) {
  // Without a third companion an ascending NaN key blocks, as for doubles.
  double keys[] = {3, kNaN, 1};
  double re[] = {30, 99, 10};
  double im[] = {0, 0, 0};
  ShellSortKeysWithCompanions(keys, re, im, nullptr, 3, 1, false);
  ExpectSame(std::vector<double>(keys, keys + 3), {3, kNaN, 1});
  EXPECT_EQ(std::vector<double>(re, re + 3), (std::vector<double>{30, 99, 10}));

  // With one, the unordered neighbours are ordered by it.
  double keys2[] = {3, kNaN, 1};
  double re2[] = {30, 99, 10};
  double im2[] = {0, 0, 0};
  int32_t pos[] = {2, 1, 0};
  ShellSortKeysWithCompanions(keys2, re2, im2, pos, 3, 1, false);
  ExpectSame(std::vector<double>(keys2, keys2 + 3), {1, kNaN, 3});
  EXPECT_EQ(std::vector<double>(re2, re2 + 3), (std::vector<double>{10, 99, 30}));
  EXPECT_EQ(std::vector<int32_t>(pos, pos + 3), (std::vector<int32_t>{0, 1, 2}));

  // Descending, NaN keys pass and are passed.
  double keys3[] = {1, kNaN, 3};
  double re3[] = {10, 99, 30};
  double im3[] = {0, 0, 0};
  ShellSortKeysWithCompanions(keys3, re3, im3, nullptr, 3, 1, true);
  ExpectSame(std::vector<double>(keys3, keys3 + 3), {3, kNaN, 1});
  EXPECT_EQ(std::vector<double>(re3, re3 + 3), (std::vector<double>{30, 99, 10}));
}

// ---------------------------------------------------------------------------
// Complex

struct ComplexCase {
  std::vector<double> re, im;
  bool descending;
  std::vector<double> wantRe, wantIm;
};

void RunComplexCases(void (*kernel)(double*, double*, int, int, bool), const std::vector<ComplexCase>& cases) {
  for (const ComplexCase& c : cases) {
    std::vector<double> re = c.re, im = c.im;
    kernel(re.data(), im.data(), static_cast<int>(re.size()), 1, c.descending);
    ExpectSame(re, c.wantRe);
    ExpectSame(im, c.wantIm);
  }
}

TEST(ShellSortComplexParts, RealPartThenAscendingImaginaryPart) {
  RunComplexCases(ShellSortComplex,
                  {
                      // 1+2i, 1-1i, 0+5i
                      {{1, 1, 0}, {2, -1, 5}, false, {0, 1, 1}, {5, -1, 2}},
                      {{1, 1, 0}, {2, -1, 5}, true, {1, 1, 0}, {-1, 2, 5}},
                      // An ascending NaN real part counts as a tie and is ordered by the imaginary part.
                      {{kNaN, kNaN}, {1, 0}, false, {kNaN, kNaN}, {0, 1}},
                      {{2, kNaN, 1}, {0, 1, 0}, false, {1, 2, kNaN}, {0, 0, 1}},
                      // Descending, a NaN real part passes and is passed.
                      {{1, kNaN, 3}, {0, 0, 0}, true, {3, kNaN, 1}, {0, 0, 0}},
                  });
}

TEST(ShellSortComplexMagnitude, MagnitudeThenAbsImaginaryThenImaginary) {
  RunComplexCases(ShellSortComplexByMagnitude, {
                                                   // 1i, -1, 1: all of magnitude 1.
                                                   {{0, -1, 1}, {1, 0, 0}, false, {-1, 1, 0}, {0, 0, 1}},
                                                   {{0, -1, 1}, {1, 0, 0}, true, {0, -1, 1}, {1, 0, 0}},
                                                   {{0, 0, 3}, {1, -1, 0}, false, {0, 0, 3}, {-1, 1, 0}},
                                                   {{0, 0, 3}, {-1, 1, 0}, true, {3, 0, 0}, {0, 1, -1}},
                                               });
  for (int n : kCounts) {
    for (bool descending : {false, true}) {
      std::vector<double> re = RandomDoubles(n, 300u + n), im = RandomDoubles(n, 400u + n);
      ShellSortComplexByMagnitude(re.data(), im.data(), n, 1, descending);
      for (int i = 1; i < n; ++i) {
        const double a = re[i - 1] * re[i - 1] + im[i - 1] * im[i - 1];
        const double b = re[i] * re[i] + im[i] * im[i];
        if (descending) {
          EXPECT_GE(a, b) << n;
        } else {
          EXPECT_LE(a, b) << n;
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Index kernel

int CompareInts(int a, int b, void* user) {
  const int* keys = static_cast<const int*>(user);
  return (keys[a] > keys[b]) - (keys[a] < keys[b]);
}

// Answers with the most extreme ints, which must not be negated blindly.
int CompareExtreme(int a, int b, void* user) {
  const int* keys = static_cast<const int*>(user);
  if (keys[a] == keys[b]) return 0;
  return keys[a] < keys[b] ? INT_MIN : INT_MAX;
}

TEST(ShellSortIndices, EqualItemsKeepIndexOrderBothWays) {
  const int same[5] = {7, 7, 7, 7, 7};
  for (bool descending : {false, true}) {
    int32_t index[5];
    ShellSortIndicesByComparison(5, CompareInts, index, const_cast<int*>(same), descending);
    EXPECT_EQ(std::vector<int32_t>(index, index + 5), (std::vector<int32_t>{0, 1, 2, 3, 4}));
  }
}

TEST(ShellSortIndices, SortIsStable) {
  for (int n : kCounts) {
    std::mt19937 gen(500 + n);
    std::vector<int> keys(n);
    for (int& k : keys) k = static_cast<int>(gen() % 5);
    for (auto compare : {CompareInts, CompareExtreme}) {
      for (bool descending : {false, true}) {
        std::vector<int32_t> want(n);
        for (int i = 0; i < n; ++i) want[i] = i;
        std::stable_sort(want.begin(), want.end(),
                         [&](int a, int b) { return descending ? keys[a] > keys[b] : keys[a] < keys[b]; });
        std::vector<int32_t> index(n);
        ShellSortIndicesByComparison(n, compare, index.data(), keys.data(), descending);
        EXPECT_EQ(index, want) << "n " << n << " descending " << descending;
      }
    }
  }
}

TEST(ShellSortIndices, OlderNamesReachTheSameKernels) {
  const int keys[] = {2, 0, 1};
  int32_t perm[3];
  ShellSortPermutation(3, CompareInts, perm, const_cast<int*>(keys), true);
  EXPECT_EQ(std::vector<int32_t>(perm, perm + 3), (std::vector<int32_t>{0, 2, 1}));

  double k[] = {4, 1};
  double re[] = {2, 1};
  double im[] = {0, 0};
  int32_t idx[] = {1, 2};
  ShellSortComplexByKey(k, re, im, idx, 2, 1, false);
  EXPECT_EQ(re[0], 1);
  EXPECT_EQ(idx[0], 2);
}

}  // namespace
