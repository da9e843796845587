// The transform kernels against a direct DFT, the pairing of real sequences
// against the complex path, the scratch check, and the natives' handling of a
// break and of a lack of room.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "numeric/numeric.h"
#include "tests/engine/stack_fixture.h"
#include "tests/numeric/testutil.h"

namespace {

using CVec = std::vector<Cx>;

// The DFT from exact angles: (j k) mod n keeps the argument small.
CVec Dft(const CVec& x, bool inverse) {
  const int64_t n = static_cast<int64_t>(x.size());
  CVec y(x.size());
  for (int64_t k = 0; k < n; ++k) {
    Cx s = 0;
    for (int64_t j = 0; j < n; ++j) {
      const double a = 2 * std::numbers::pi * static_cast<double>((j * k) % n) / static_cast<double>(n);
      s += x[j] * std::polar(1.0, inverse ? a : -a);
    }
    y[k] = inverse ? s / static_cast<double>(n) : s;
  }
  return y;
}

CVec RandomSignal(size_t n, bool complex, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> d(-1, 1);
  CVec x(n);
  for (Cx& z : x) z = complex ? Cx(d(gen), d(gen)) : Cx(d(gen), 0);
  return x;
}

// Twiddles by repeated multiplication drift by about L * 2^-52.
double Tolerance(const CVec& x) {
  double norm = 0;
  for (Cx z : x) norm += std::abs(z);
  return 1e-15 * static_cast<double>(x.size() + 16) * std::max(norm, 1.0);
}

double MaxDiff(const CVec& a, const CVec& b) {
  double d = 0;
  for (size_t k = 0; k < a.size(); ++k) d = std::max(d, std::abs(a[k] - b[k]));
  return d;
}

// count sequences of x.size()/count elements, interleaved (stride count,
// step 1); real input is paired when asked.
CVec Fft(const CVec& x, int64_t count, bool inverse, bool pair) {
  const int64_t n = static_cast<int64_t>(x.size()) / count;
  Vec re(x.size()), im(x.size()), outRe(x.size()), outIm(x.size());
  for (size_t k = 0; k < x.size(); ++k) re[k] = x[k].real(), im[k] = x[k].imag();
  Vec scratch(2 * n + 64);
  const int r = ComputeFft(re.data(), pair ? nullptr : im.data(), n, count, count, 1, outRe.data(), outIm.data(),
                           inverse, scratch.data(), static_cast<int64_t>(scratch.size()), nullptr);
  EXPECT_EQ(r, 0);
  CVec y(x.size());
  for (size_t k = 0; k < x.size(); ++k) y[k] = Cx(outRe[k], outIm[k]);
  return y;
}

// Sequence q of an interleaved block.
CVec Column(const CVec& x, int64_t count, int64_t q) {
  CVec c;
  for (size_t k = static_cast<size_t>(q); k < x.size(); k += static_cast<size_t>(count)) c.push_back(x[k]);
  return c;
}

std::vector<int> Lengths() {
  std::vector<int> lengths;
  for (int n = 1; n <= 64; ++n) lengths.push_back(n);
  for (int n : {7, 25, 26, 28, 1009, 4096}) lengths.push_back(n);
  return lengths;
}

}  // namespace

TEST(Fft, MatchesDirectDftForEveryLength) {
  for (int n : Lengths())
    for (bool inverse : {false, true})
      for (bool complex : {false, true}) {
        const CVec x = RandomSignal(static_cast<size_t>(n), complex, static_cast<unsigned>(n));
        EXPECT_LT(MaxDiff(Fft(x, 1, inverse, false), Dft(x, inverse)), Tolerance(x))
            << n << (inverse ? " inverse" : " forward") << (complex ? " complex" : " real");
      }
}

TEST(Fft, InterleavedAndPairedSequencesMatchTheComplexPath) {
  for (int n : {1, 2, 3, 12, 25, 26, 28, 31, 64, 1009})
    for (int count : {2, 4, 6}) {
      const CVec x = RandomSignal(static_cast<size_t>(n) * count, false, static_cast<unsigned>(n + count));
      for (bool inverse : {false, true}) {
        const CVec complexPath = Fft(x, count, inverse, false);
        const CVec paired = Fft(x, count, inverse, true);
        EXPECT_LT(MaxDiff(paired, complexPath), Tolerance(x)) << n << " x " << count;
        for (int q = 0; q < count; ++q)
          EXPECT_LT(MaxDiff(Column(complexPath, count, q), Dft(Column(x, count, q), inverse)), Tolerance(x))
              << n << " x " << count << " sequence " << q;
      }
    }
}

TEST(Fft, InverseUndoesForward) {
  for (int n : {5, 30, 97, 360, 4096}) {
    const CVec x = RandomSignal(static_cast<size_t>(n), true, 3);
    EXPECT_LT(MaxDiff(Fft(Fft(x, 1, false, false), 1, true, false), x), Tolerance(x)) << n;
  }
}

TEST(Fft, Radix2PadsShortInputAndHonoursStrides) {
  // Five values read every third cell, transformed to length 8 written every
  // second cell: the missing three read as zeros.
  const CVec x = RandomSignal(5, true, 11);
  Vec re(15), im(15), outRe(16, 7.0), outIm(16, 7.0);
  for (int k = 0; k < 5; ++k) re[3 * k] = x[k].real(), im[3 * k] = x[k].imag();
  ComputeFftRadix2(re.data(), im.data(), 5, 3, outRe.data(), outIm.data(), 8, 2, false);
  CVec padded = x;
  padded.resize(8);
  const CVec want = Dft(padded, false);
  for (int k = 0; k < 8; ++k) {
    EXPECT_LT(std::abs(Cx(outRe[2 * k], outIm[2 * k]) - want[k]), 1e-14) << k;
    EXPECT_EQ(outRe[2 * k + 1], 7.0) << k;  // cells between the strides stay untouched
  }
}

TEST(Fft, RefusesScratchWithoutRoomForTheLevelRecords) {
  // Twiddles take 2n cells; 1001 = 7 * 11 * 13 needs up to 7 records of 24 bytes.
  const int n = 1001;
  Vec re(n, 1.0), im(n), outRe(n), outIm(n), scratch(2 * n + 21);
  EXPECT_EQ(ComputeFft(re.data(), im.data(), n, 1, 1, 1, outRe.data(), outIm.data(), false, scratch.data(), 2 * n + 20,
                       nullptr),
            2);
  EXPECT_EQ(ComputeFft(re.data(), im.data(), n, 1, 1, 1, outRe.data(), outIm.data(), false, scratch.data(), 2 * n + 21,
                       nullptr),
            0);
  EXPECT_NEAR(outRe[0], n, 1e-9);
}

class FftNativesTest : public StackFixture {};

class FftBreakTest : public StackFixture {
 protected:
  FftBreakTest() : StackFixture({.blockCells = 1 << 23}) {}

  static bool BreakAfter(void* data) {
    int* left = static_cast<int*>(data);
    return --*left < 0;
  }
};

TEST_F(FftBreakTest, BreakStopsALongPrimeTransform) {
  // Length 100003 is prime: a single combination of 10^10 multiply-adds,
  // which only a poll inside the combination can stop.
  const int32_t n = 100003;
  int polls = 3;
  SetBreakPollCallback(ctx, &BreakAfter, &polls);
  const int32_t depth = ctx->descLength;
  double* re = nullptr;
  ASSERT_EQ(PushDoubleMatrix(ctx, n, 1, &re, nullptr), kOk);
  for (int32_t k = 0; k < n; ++k) re[k] = k % 7;
  EXPECT_EQ(FftNative(ctx, 1, 1, reinterpret_cast<void*>(intptr_t{'f'})), kHalted);
  EXPECT_LT(polls, 0);
  // The argument is left as it was, and the next transform runs.
  EXPECT_EQ(ctx->descLength, depth + 3);
  (void)DropArgsUnderResults(ctx, 0, 1);
  SetBreakPollCallback(ctx, nullptr, nullptr);
  PushRow({1, 2, 3});
  ASSERT_EQ(FftNative(ctx, 1, 1, reinterpret_cast<void*>(intptr_t{'f'})), kOk);
  double *yr = nullptr, *yi = nullptr;
  int32_t m = 0, cols = 0;
  ASSERT_EQ(GetDoubleMatrixArg(ctx, 0, &m, &cols, &yr, &yi), kOk);
  EXPECT_EQ(yr[0], 6);
}

TEST_F(FftNativesTest, RefusedForRoomLeavesTheArgumentsForTheRerun) {
  struct Case {
    NativeHandler native;
    intptr_t selector;
    std::vector<double> second;  // an n or a siz, when given
  };
  const Case kCases[] = {{&FftNative, 'f', {}},
                         {&FftNative, 'i', {12}},
                         {&FftMultiNative, '2', {}},
                         {&FftMultiNative, 'I', {4}},
                         {&FftMultiNative, 'f', {5, 2}}};
  for (const Case& c : kCases) {
    for (int64_t room = 0;; ++room) {
      Reset();
      const int64_t args = 30 + static_cast<int64_t>(c.second.size());
      FillData(room + args);
      PushRow(std::vector<double>(30, 0.5));
      if (!c.second.empty()) PushRow(c.second);
      const int nargin = c.second.empty() ? 1 : 2;
      const Snapshot before = Take();
      const StatusCode st = c.native(ctx, nargin, 1, reinterpret_cast<void*>(c.selector));
      if (st == kOk) break;
      ASSERT_EQ(st, kDataStackFull) << room;
      ASSERT_TRUE(Take() == before) << room;
    }
  }
}
