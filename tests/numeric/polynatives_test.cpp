// The polynomial natives under a lack of room: every refusal leaves the
// arguments exactly as they were, so the engine can grow the block and rerun
// the native, and the rerun gives the result.
#include <gtest/gtest.h>

#include <vector>

#include "numeric/numeric.h"
#include "tests/engine/stack_fixture.h"

namespace {

class PolyNativesTest : public StackFixture {};

struct Arg {
  int m, n;
  std::vector<double> re, im;
};

TEST_F(PolyNativesTest, RefusedForRoomLeavesTheArgumentsForTheRerun) {
  struct Case {
    const char* name;
    NativeHandler native;
    std::vector<Arg> args;
    int nargout;
    std::vector<double> want;  // real parts of the first output
  };
  const Case kCases[] = {
      {"polyval complex p", &PolyvalNative, {{1, 2, {1, 1}, {0, 1}}, {1, 3, {1, 2, 3}, {}}}, 1, {2, 3, 4}},
      {"polyder", &PolyderNative, {{1, 3, {1, 2, 3}, {}}}, 1, {2, 2}},
      {"polyder product", &PolyderNative, {{1, 2, {1, 1}, {}}, {1, 2, {1, -1}, {}}}, 1, {2, 0}},
      {"polyder quotient", &PolyderNative, {{1, 1, {1}, {}}, {1, 2, {1, 1}, {}}}, 2, {-1}},
      {"polyint", &PolyintNative, {{1, 3, {3, 2, 1}, {}}}, 1, {1, 1, 1, 0}},
      {"polyint complex k", &PolyintNative, {{1, 1, {1}, {}}, {1, 1, {0}, {1}}}, 1, {1, 0}},
      {"polyint complex p", &PolyintNative, {{1, 2, {2, 1}, {2, 0}}}, 1, {1, 1, 0}},
      {"roots", &RootsNative, {{1, 3, {1, -3, 2}, {}}}, 1, {2, 1}},
      {"roots complex", &RootsNative, {{1, 2, {1, 0}, {0, -1}}}, 1, {0}},
      {"poly", &PolyNative, {{1, 2, {1, 2}, {}}}, 1, {1, -3, 2}},
      {"poly of a matrix", &PolyNative, {{2, 2, {2, 0, 0, 3}, {}}}, 1, {1, -5, 6}},
      {"poly of a complex matrix", &PolyNative, {{2, 2, {1, 0, 0, 1}, {1, 0, 0, -1}}}, 1, {1, -2, 2}},
  };
  for (const Case& c : kCases) {
    int64_t argCells = 0;
    for (const Arg& a : c.args) argCells += static_cast<int64_t>(a.re.size() + a.im.size());
    for (int64_t room = 0;; ++room) {
      Reset();
      FillData(room + argCells);
      for (const Arg& a : c.args) {
        double *re = nullptr, *im = nullptr;
        ASSERT_EQ(PushDoubleMatrix(ctx, a.m, a.n, &re, a.im.empty() ? nullptr : &im), kOk);
        std::copy(a.re.begin(), a.re.end(), re);
        std::copy(a.im.begin(), a.im.end(), im);
      }
      const int nargin = static_cast<int>(c.args.size());
      const Snapshot before = Take();
      const StatusCode st = c.native(ctx, nargin, c.nargout, nullptr);
      if (st == kDataStackFull) {
        ASSERT_TRUE(Take() == before) << c.name << " with room " << room;
        continue;
      }
      ASSERT_EQ(st, kOk) << c.name;
      int32_t m = 0, n = 0;
      double *re = nullptr, *im = nullptr;
      ASSERT_EQ(GetDoubleMatrixArg(ctx, 0, &m, &n, &re, &im), kOk);
      ASSERT_EQ(static_cast<size_t>(m) * n, c.want.size()) << c.name;
      for (size_t k = 0; k < c.want.size(); ++k) EXPECT_NEAR(re[k], c.want[k], 1e-14) << c.name << " " << k;
      break;
    }
  }
}

}  // namespace
