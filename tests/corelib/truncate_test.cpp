// Doubles into integers: TruncateToInt64 and every conversion built on it,
// over the values where a plain cast would be undefined or wrong (NaN,
// infinities, 2^63 and beyond, the doubles just inside, subnormals, -0,
// halves). The sanitized build traps any float-to-integer cast out of range.
#include <cfloat>
#include <cmath>
#include <limits>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "tests/corelib/stack_values.h"

namespace {

using TruncateTest = StackValuesTest;

constexpr double kTwo63 = 9223372036854775808.0;
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

struct Case {
  const char* what;
  double x;
  int64_t want;
};

const Case kCases[] = {
    {"NaN", std::numeric_limits<double>::quiet_NaN(), kMin},
    {"Inf", INFINITY, kMin},
    {"-Inf", -INFINITY, kMin},
    {"2^63", kTwo63, kMin},
    {"-2^63", -kTwo63, kMin},
    {"2^63 - 1024", kTwo63 - 1024, 9223372036854774784},
    {"-(2^63 - 1024)", -(kTwo63 - 1024), -9223372036854774784},
    {"largest below 2^63", std::nextafter(kTwo63, 0.0), 9223372036854774784},
    {"2^64", 2 * kTwo63, kMin},
    {"1e300", 1e300, kMin},
    {"-1e300", -1e300, kMin},
    {"2^53 + 2", 9007199254740994.0, 9007199254740994},
    {"smallest subnormal", std::numeric_limits<double>::denorm_min(), 0},
    {"-smallest subnormal", -std::numeric_limits<double>::denorm_min(), 0},
    {"largest subnormal", DBL_MIN - std::numeric_limits<double>::denorm_min(), 0},
    {"-0", -0.0, 0},
    {"0.5", 0.5, 0},
    {"-0.5", -0.5, 0},
    {"1.5", 1.5, 1},
    {"-1.5", -1.5, -1},
    {"-2.5", -2.5, -2},
    {"127.5", 127.5, 127},
    {"-128.5", -128.5, -128},
    {"255.5", 255.5, 255},
    {"32767.5", 32767.5, 32767},
    {"65535.5", 65535.5, 65535},
    {"-32768.5", -32768.5, -32768},
    {"2^31 - 0.5", 2147483647.5, 2147483647},
    {"-2^31 - 0.5", -2147483648.5, -2147483648},
    {"2^32 + 0.5", 4294967296.5, 4294967296},
};

TEST(TruncateToInt64, TruncatesTowardZeroAndSendsTheRestToMinus2To63) {
  for (const Case& c : kCases) EXPECT_EQ(TruncateToInt64(c.x), c.want) << c.what;
}

// Each integer class with the value it keeps of an int64: the low bytes read
// back at its width and signedness.
struct Target {
  const char* name;
  uint32_t cls;
  __int128 (*keep)(int64_t);
};
template <class T>
__int128 Keep(int64_t v) {
  return static_cast<T>(v);
}
const Target kTargets[] = {
    {"int8", kInt8, Keep<int8_t>},       {"uint8", kUint8, Keep<uint8_t>},    {"int16", kInt16, Keep<int16_t>},
    {"uint16", kUint16, Keep<uint16_t>}, {"int32", kInt32, Keep<int32_t>},    {"uint32", kUint32, Keep<uint32_t>},
    {"int64", kInt64, Keep<int64_t>},    {"uint64", kUint64, Keep<uint64_t>},
};

bool IsUnsigned(uint32_t cls) { return (cls & 0x80) != 0; }

// The top value's elements, exactly.
std::vector<__int128> TopIntegers(EngineContext* ctx, uint32_t* cls) {
  NumericView v;
  std::vector<__int128> out;
  if (!ReadNumeric(ctx, 0, &v) || !IsIntegerClass(v.cls)) return out;
  *cls = v.cls;
  for (int64_t k = 0; k < v.count; ++k) out.push_back(IntegerElement(v, k));
  return out;
}

class ConversionTest : public StackValuesTest {
 protected:
  // The row of every case's double.
  void Inputs() {
    std::vector<double> x;
    for (const Case& c : kCases) x.push_back(c.x);
    Row(x);
  }
  // The top value must hold, in order, what the target keeps of each case.
  void ExpectKept(const Target& t, const char* path) {
    uint32_t cls = 0;
    const std::vector<__int128> got = TopIntegers(ctx, &cls);
    ASSERT_EQ(got.size(), std::size(kCases)) << path << " to " << t.name;
    EXPECT_EQ(cls, t.cls) << path;
    for (size_t k = 0; k < got.size(); ++k)
      EXPECT_TRUE(got[k] == t.keep(kCases[k].want)) << path << " to " << t.name << ": " << kCases[k].what;
    PopValue(ctx);
  }
};

TEST_F(ConversionTest, EveryClassKeepsTheLowBytesOfTheTruncatedValue) {
  for (const Target& t : kTargets) {
    Inputs();
    ASSERT_EQ(ConvertArgToIntegerClass(ctx, 0, ElementBytes(t.cls), IsUnsigned(t.cls), false), kOk);
    ExpectKept(t, "ConvertArgToIntegerClass");

    Inputs();
    Text(t.name);
    ASSERT_EQ(CastValue(ctx, 0), kOk);
    ExpectKept(t, "cast");

    // A join takes the class of its first operand.
    Integers(t.cls, {});
    Inputs();
    ASSERT_EQ(ConcatenateValues(ctx, 2, 2), kOk);
    ExpectKept(t, "horzcat");
  }
}

// char stacks its operands' codes as uint16 does.
TEST_F(ConversionTest, CharCodesWrapLikeUint16) {
  Inputs();
  Inputs();
  ASSERT_EQ(ConvertToChar(ctx, 2), kOk);
  NumericView v;
  ASSERT_TRUE(ReadNumeric(ctx, 0, &v));
  ASSERT_EQ(v.count, int64_t{2} * std::size(kCases));
  for (size_t k = 0; k < std::size(kCases); ++k)
    EXPECT_EQ(IntegerElement(v, k), static_cast<uint16_t>(kCases[k].want)) << kCases[k].what;
}

// A single source goes through its double value: 2^63 - 1024 rounds up to
// 2^63 as a single, the largest single below 2^63 stays.
TEST_F(ConversionTest, SingleSources) {
  const float below = std::nextafter(static_cast<float>(kTwo63), 0.0f);
  Singles({static_cast<double>(kTwo63 - 1024), below, -below, NAN, 1e-45, -2.5, 1e30});
  ASSERT_EQ(ConvertArgToIntegerClass(ctx, 0, 8, false, false), kOk);
  uint32_t cls = 0;
  const std::vector<__int128> want = {kMin, 9223371487098961920, -9223371487098961920, kMin, 0, -2, kMin};
  EXPECT_TRUE(TopIntegers(ctx, &cls) == want);
}

}  // namespace
