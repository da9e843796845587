// Elementwise arithmetic: the class a result takes when classes meet, integer
// wrapping and division, the real and complex element rules (powers of zero
// included), sizes and scalar expansion, errors, and the unary builtins.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "corelib/corelib.h"
#include "engine/values/valuestack.h"
#include "tests/engine/stack_fixture.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// An operand: a class and one element, or a row of them.
struct Val {
  enum Kind { kDoubleVal, kComplexVal, kSingleVal, kIntVal, kCharVal, kLogicalVal } kind;
  uint32_t cls = kDouble;
  std::vector<double> re;
  double im = 0;
};

Val D(double x) { return {Val::kDoubleVal, kDouble, {x}}; }
Val Row(std::vector<double> xs) { return {Val::kDoubleVal, kDouble, xs}; }
Val C(double re, double im) { return {Val::kComplexVal, kComplexDouble, {re}, im}; }
Val S(double x) { return {Val::kSingleVal, kSingle, {x}}; }
Val I(uint32_t cls, double x) { return {Val::kIntVal, cls, {x}}; }
Val Ch(char c) { return {Val::kCharVal, kUint16, {static_cast<double>(c)}}; }
Val L(int b) { return {Val::kLogicalVal, kUint8, {static_cast<double>(b)}}; }

class ArithmeticTest : public StackFixture {
 protected:
  ArithmeticTest() : StackFixture({.blockCells = 1 << 15}) {}

  void Push(const Val& v) {
    const int32_t dims[2] = {1, static_cast<int32_t>(v.re.size())};
    switch (v.kind) {
      case Val::kDoubleVal:
      case Val::kComplexVal: {
        double* re = nullptr;
        double* im = nullptr;
        ASSERT_EQ(PushDoubleMatrix(ctx, 1, dims[1], &re, v.kind == Val::kComplexVal ? &im : nullptr), kOk);
        for (size_t k = 0; k < v.re.size(); ++k) re[k] = v.re[k];
        if (im) im[0] = v.im;
        break;
      }
      case Val::kSingleVal: {
        float* re = nullptr;
        ASSERT_EQ(PushSingleArray(ctx, 2, dims, &re, nullptr), kOk);
        for (size_t k = 0; k < v.re.size(); ++k) re[k] = static_cast<float>(v.re[k]);
        break;
      }
      case Val::kIntVal: {
        void* data = nullptr;
        const int bytes = ElementBytes(v.cls);
        ASSERT_EQ(PushIntegerArray(ctx, 2, dims, bytes, (v.cls & 0x80) != 0, &data), kOk);
        for (size_t k = 0; k < v.re.size(); ++k) {
          // Wrapped to the width, so -1 stands for the largest unsigned value.
          const auto bits = static_cast<uint64_t>(static_cast<int64_t>(v.re[k]));
          std::memcpy(static_cast<uint8_t*>(data) + k * bytes, &bits, bytes);
        }
        break;
      }
      case Val::kCharVal: {
        uint16_t* data = nullptr;
        ASSERT_EQ(PushCharRow(ctx, dims[1], &data), kOk);
        for (size_t k = 0; k < v.re.size(); ++k) data[k] = static_cast<uint16_t>(v.re[k]);
        break;
      }
      case Val::kLogicalVal: {
        uint8_t* data = nullptr;
        ASSERT_EQ(PushLogicalArray(ctx, 2, dims, &data), kOk);
        for (size_t k = 0; k < v.re.size(); ++k) data[k] = static_cast<uint8_t>(v.re[k]);
        break;
      }
    }
  }

  [[nodiscard]] StatusCode Apply(const Val& a, const Val& b, char selector) {
    Push(a);
    Push(b);
    return ApplyElementwiseArithmetic(ctx, selector);
  }

  NumericView Top() {
    NumericView v{};
    EXPECT_TRUE(ReadNumeric(ctx, 0, &v));
    return v;
  }
};

// Same value, NaN matching NaN.
bool Same(double got, double want) { return std::isnan(want) ? std::isnan(got) : got == want; }

TEST_F(ArithmeticTest, ResultClassesAndIntegerRules) {
  const double i32min = -2147483648.0, i64min = -9223372036854775808.0;
  struct Case {
    Val a, b;
    char op;
    uint32_t cls;
    double want;
  };
  const Case kCases[] = {
      {Ch('a'), Ch('b'), '+', kUint16, 195},
      {Ch('a'), Ch('b'), '-', kUint16, 65535},
      {L(1), L(1), '+', kUint8, 2},
      {Ch('a'), D(1), '+', kDouble, 98},
      {Ch('a'), I(kInt8, 1), '+', kUint16, 98},
      {I(kInt16, -5), I(kUint8, 3), '+', kInt16, -2},
      {I(kInt16, 5), I(kUint16, 3), '-', kUint16, 2},
      {I(kInt8, 5), L(1), '-', kUint8, 4},
      {S(1.5), D(2), '+', kDouble, 3.5},
      {S(2), I(kInt8, 3), '*', kSingle, 6},
      {I(kInt8, 100), I(kInt8, 100), '+', kInt8, -56},
      {I(kInt8, 100), D(100), '+', kDouble, 200},
      {I(kUint8, 5), I(kUint8, 10), '-', kUint8, 251},
      {I(kInt64, 4611686018427387904.0), I(kInt64, 2), '*', kInt64, i64min},
      {I(kUint64, -1), I(kUint64, 1), '+', kUint64, 0},
      {I(kUint16, 300), I(kUint16, 300), '*', kUint16, 90000 - 65536},
      {I(kInt8, 7), I(kInt8, 2), '/', kInt8, 3},
      {I(kInt8, -7), I(kInt8, 2), '/', kInt8, -3},
      {I(kInt16, 5), I(kInt16, 0), '/', kInt16, 0},
      {I(kInt8, -128), I(kInt8, -1), '/', kInt8, -128},
      {I(kInt32, i32min), I(kInt32, -1), '/', kInt32, i32min},
      {I(kInt64, i64min), I(kInt64, -1), '/', kInt64, i64min},
      {I(kInt8, 2), I(kInt8, 6), '\\', kInt8, 3},
      {I(kInt8, -7), I(kInt8, 3), '%', kInt8, -1},
      {I(kInt8, -128), I(kInt8, -1), '%', kInt8, 0},
      {I(kInt64, i64min), I(kInt64, -1), '%', kInt64, 0},
      {I(kInt8, 7), I(kInt8, 0), '%', kInt8, 0},
      {I(kInt8, -7), I(kInt8, 3), 'o', kInt8, 2},
      {I(kInt8, 7), I(kInt8, 0), 'o', kInt8, 7},
      {I(kUint8, 7), I(kUint8, 0), 'o', kUint8, 0},
      {I(kInt32, 2147483600), I(kInt32, 2147483647), 'o', kInt32, 2147483600},
      {I(kInt8, 127), I(kInt8, -128), 'o', kInt8, -1},
      {I(kInt8, -128), I(kInt8, 127), 'o', kInt8, 126},
      {I(kInt64, i64min), I(kInt64, -1), 'o', kInt64, 0},
      {S(2), S(6), '\\', kSingle, 3},
      {I(kInt8, 2), D(2), '^', kDouble, 4},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "op " << c.op << " class " << c.a.cls << " with " << c.b.cls);
    ASSERT_EQ(Apply(c.a, c.b, c.op), kOk);
    ASSERT_EQ(ctx->descLength, 3) << "one result in place of the operands";
    const NumericView v = Top();
    EXPECT_EQ(v.cls, c.cls);
    if (v.cls != kDouble) {
      EXPECT_EQ(DescriptorAt(ctx, 0)->extra, kNumericArray);
    }
    EXPECT_EQ(v.count, 1);
    const double got = IsIntegerClass(v.cls) ? static_cast<double>(IntegerElement(v, 0)) : RealElement(v, 0);
    EXPECT_EQ(got, c.want);
    PopValue(ctx);
  }
}

// The real rules, once on scalars (the in-place path) and once on two-element
// rows (the general path); both must agree.
TEST_F(ArithmeticTest, RealElementRulesOnBothPaths) {
  struct Case {
    double a, b;
    char op;
    double want;
  };
  const Case kCases[] = {
      {1, 0, '/', kInf},
      {-1, 0, '/', -kInf},
      {0, 0, '/', kNaN},
      {2, 6, '\\', 3},
      {-1, 3, 'o', 2},
      {5, -3, 'o', -1},
      {5, 0, 'o', 5},
      {5, kNaN, 'o', kNaN},
      {5, 0, '%', kNaN},
      {-5, 3, '%', -2},
      {-2, 3, '^', -8},
      {-2, 2, '^', 4},
      {0, 0, '^', 1},
      {0, -1, '^', kInf},
      {2, kNaN, '^', kNaN},
      {-8, 1.0 / 3, 'r', kNaN},
      {2, 0.5, 'r', std::sqrt(2.0)},
      {-3, 2, 'r', 9},
      {1.5, 2, '^', 2.25},
      {3, 0.5, '^', std::sqrt(3.0)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << c.a << " " << c.op << " " << c.b);
    ASSERT_EQ(Apply(D(c.a), D(c.b), c.op), kOk);
    EXPECT_TRUE(Same(Top().count == 1 ? RealElement(Top(), 0) : kNaN, c.want)) << RealElement(Top(), 0);
    EXPECT_EQ(Top().cls, kDouble);
    PopValue(ctx);
    ASSERT_EQ(Apply(Row({c.a, c.a}), Row({c.b, c.b}), c.op), kOk);
    const NumericView v = Top();
    ASSERT_EQ(v.count, 2);
    EXPECT_EQ(v.cls, kDouble);
    EXPECT_TRUE(Same(RealElement(v, 1), c.want)) << RealElement(v, 1);
    PopValue(ctx);
    // Single operands give the same values, rounded.
    ASSERT_EQ(Apply(S(c.a), S(c.b), c.op), kOk);
    EXPECT_EQ(Top().cls, kSingle);
    EXPECT_TRUE(Same(RealElement(Top(), 0), static_cast<float>(c.want))) << RealElement(Top(), 0);
    PopValue(ctx);
  }
}

TEST_F(ArithmeticTest, ComplexElementRules) {
  struct Case {
    Val a, b;
    char op;
    double re, im;
  };
  const Case kCases[] = {
      {C(1, 2), C(1, -2), '+', 2, 0},
      {C(1, 2), C(3, 4), '*', -5, 10},
      {C(-5, 10), C(3, 4), '/', 1, 2},
      {C(-5, 10), C(4, 3), '/', 0.4, 2.2},
      {C(3, 4), C(-5, 10), '\\', 1, 2},
      {D(1), C(0, 0), '/', kInf, 0},
      {C(1, 1), C(0, 0), '/', kNaN, kNaN},
      {C(1, 1), D(0), '/', kInf, kInf},
      {D(-8), D(1.0 / 3), '^', 1, std::sqrt(3.0)},
      {C(0, 1), D(2), '^', -1, 0},
      {C(0, 0), D(0), '^', 1, 0},
      {C(0, 0), D(2), '^', 0, 0},
      // A zero base: a negative real exponent divides by zero, a purely
      // imaginary one has no defined modulus.
      {C(0, 0), D(-1), '^', kInf, 0},
      {C(0, 0), C(-1, 1), '^', kInf, 0},
      {C(0, 0), C(0, 1), '^', kNaN, kNaN},
      {C(2, 3), D(0.5), 'r', std::sqrt(2.0), -1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "op " << c.op << " want " << c.re << " + " << c.im << "i");
    ASSERT_EQ(Apply(c.a, c.b, c.op), kOk);
    const NumericView v = Top();
    ASSERT_EQ(v.count, 1);
    if (c.im == -1) {  // marks realpow's real result
      EXPECT_EQ(v.cls, kDouble);
      EXPECT_DOUBLE_EQ(RealElement(v, 0), c.re);
    } else {
      EXPECT_EQ(v.cls, kComplexDouble) << "stays complex";
      EXPECT_TRUE(Same(RealElement(v, 0), c.re) || std::fabs(RealElement(v, 0) - c.re) < 1e-12) << RealElement(v, 0);
      EXPECT_TRUE(Same(ImagElement(v, 0), c.im) || std::fabs(ImagElement(v, 0) - c.im) < 1e-12) << ImagElement(v, 0);
    }
    PopValue(ctx);
  }
}

TEST_F(ArithmeticTest, NegativeBaseTurnsTheWholeResultComplex) {
  ASSERT_EQ(Apply(Row({4, -4, 9}), D(0.5), '^'), kOk);
  const NumericView v = Top();
  ASSERT_EQ(v.cls, kComplexDouble);
  ASSERT_EQ(v.count, 3);
  EXPECT_EQ(RealElement(v, 0), 2);
  EXPECT_EQ(ImagElement(v, 0), 0);
  EXPECT_NEAR(RealElement(v, 1), 0, 1e-15);
  EXPECT_DOUBLE_EQ(ImagElement(v, 1), 2);
  EXPECT_EQ(RealElement(v, 2), 3);
  EXPECT_EQ(ImagElement(v, 2), 0);
}

TEST_F(ArithmeticTest, SizesAndScalarExpansion) {
  // A 2x2x2 boxed array with a scalar keeps its dimensions.
  const int32_t dims[3] = {2, 2, 2};
  double* re = nullptr;
  ASSERT_EQ(PushDoubleArray(ctx, 3, dims, &re, nullptr), kOk);
  for (int k = 0; k < 8; ++k) re[k] = k;
  ASSERT_EQ(PushRealScalar(ctx, 10), kOk);
  ASSERT_EQ(ApplyElementwiseArithmetic(ctx, '-'), kOk);
  NumericView v = Top();
  ASSERT_EQ(v.ndims, 3);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(RealElement(v, k), k - 10);
  PopValue(ctx);

  ASSERT_EQ(Apply(Row({2, 4}), Row({6, 8}), '\\'), kOk);
  EXPECT_EQ(RealElement(Top(), 0), 3);
  EXPECT_EQ(RealElement(Top(), 1), 2);
  PopValue(ctx);

  // An empty operand is not a scalar.
  ASSERT_EQ(PushEmptyMatrix(ctx), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(ApplyElementwiseArithmetic(ctx, '+'), kOk);
  EXPECT_EQ(Top().count, 0);
  EXPECT_EQ(ctx->descLength, 3);
}

TEST_F(ArithmeticTest, Errors) {
  EXPECT_EQ(Apply(Row({1, 2}), Row({1, 2, 3}), '+'), kIncompSize);
  ctx->descLength = 0, ctx->dataTop = 0;
  ASSERT_EQ(PushEmptyMatrix(ctx), kOk);
  EXPECT_EQ(Apply(D(1), Row({1, 2}), '+'), kOk) << "scalar with row";
  PopValue(ctx);
  Push(Row({1, 2}));
  EXPECT_EQ(ApplyElementwiseArithmetic(ctx, '+'), kIncompSize) << "[] + [1 2]";
  ctx->descLength = 0, ctx->dataTop = 0;

  // {1} + 1: a list is no operand.
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 1, false, nullptr, 0), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  EXPECT_EQ(ApplyElementwiseArithmetic(ctx, '+'), kWrongType);
  ctx->descLength = 0, ctx->dataTop = 0;

  EXPECT_EQ(Apply(C(0, 1), D(2), '%'), kWrongTypeInternal);
  ctx->descLength = 0, ctx->dataTop = 0;
  EXPECT_EQ(Apply(D(5), C(0, 1), 'o'), kWrongTypeInternal);
  ctx->descLength = 0, ctx->dataTop = 0;
  for (char op : {'^', 'r'}) {
    EXPECT_EQ(Apply(I(kInt8, 2), I(kInt8, 2), op), kBadArg);
    EXPECT_EQ(ctx->descLength, 6) << "refused before any result is pushed";
    ctx->descLength = 0, ctx->dataTop = 0;
  }
}

TEST_F(ArithmeticTest, NoRoomForTheResult) {
  Push(Row(std::vector<double>(100, 1.0)));
  Push(D(2));
  const int64_t free = FreeDataCells(ctx);
  ctx->dataCapacity = static_cast<int32_t>(ctx->dataTop + 50);
  EXPECT_EQ(ApplyElementwiseArithmetic(ctx, '*'), kDataStackFull);
  EXPECT_EQ(ctx->descLength, 6);
  ctx->dataCapacity = static_cast<int32_t>(ctx->dataTop + free);
  EXPECT_EQ(ApplyElementwiseArithmetic(ctx, '*'), kOk);
  EXPECT_EQ(RealElement(Top(), 99), 2);
}

TEST_F(ArithmeticTest, UnaryBuiltins) {
  struct Case {
    Val v;
    StatusCode (*fn)(EngineContext*);
    uint32_t cls;
    int32_t subtype;
    double re, im;
  };
  const Case kCases[] = {
      {I(kInt8, -128), Uminus, kInt8, kNumericArray, -128, 0},
      {I(kUint8, 5), Uminus, kUint8, kNumericArray, 251, 0},
      {I(kInt64, 5), Uminus, kInt64, kNumericArray, -5, 0},
      {Ch('a'), Uminus, kUint16, kNumericArray, 65439, 0},
      {L(1), Uminus, kUint8, kNumericArray, 255, 0},
      {S(2.5), Uminus, kSingle, kNumericArray, -2.5, 0},
      {C(1, 2), Uminus, kComplexDouble, 0, -1, -2},
      {Ch('a'), Conj, kUint16, kCharArray, 97, 0},
      {C(1, 2), Conj, kComplexDouble, 0, 1, -2},
      {D(3), Conj, kDouble, 0, 3, 0},
      {L(1), Uplus, kUint8, kNumericArray, 1, 0},
      {Ch('a'), Uplus, kUint16, kNumericArray, 97, 0},
      {D(-3), Uplus, kDouble, 0, -3, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "class " << c.v.cls << " want " << c.re);
    Push(c.v);
    ASSERT_EQ(c.fn(ctx), kOk);
    const NumericView v = Top();
    EXPECT_EQ(v.cls, c.cls);
    if (c.subtype != 0) {
      EXPECT_EQ(DescriptorAt(ctx, 0)->extra, c.subtype);
    }
    const double got = IsIntegerClass(v.cls) ? static_cast<double>(IntegerElement(v, 0)) : RealElement(v, 0);
    EXPECT_EQ(got, c.re);
    EXPECT_EQ(ImagElement(v, 0), c.im);
    PopValue(ctx);
  }

  // Complex single and a boxed complex array negate both parts.
  float* re = nullptr;
  float* im = nullptr;
  const int32_t dims[3] = {1, 1, 2};
  ASSERT_EQ(PushSingleArray(ctx, 3, dims, &re, &im), kOk);
  re[0] = 1, re[1] = 2, im[0] = 3, im[1] = 4;
  ASSERT_EQ(Conj(ctx), kOk);
  ASSERT_EQ(Uminus(ctx), kOk);
  EXPECT_EQ(RealElement(Top(), 1), -2);
  EXPECT_EQ(ImagElement(Top(), 1), 4);
  PopValue(ctx);

  for (auto fn : {Uminus, Uplus, Conj}) {
    ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
    ASSERT_EQ(MakeListFromValues(ctx, 1, false, nullptr, 0), kOk);
    EXPECT_EQ(fn(ctx), kWrongType);
    PopValue(ctx);
  }
}

TEST(ComplexPower, ZeroBase) {
  struct Case {
    double br, bi, re, im;
  };
  const Case kCases[] = {
      {0, 0, 1, 0},       {3, 0, 0, 0},       {3, -2, 0, 0},         {-1, 0, kInf, 0},
      {-0.5, 2, kInf, 0}, {0, 1, kNaN, kNaN}, {kNaN, 0, kNaN, kNaN},
  };
  for (const Case& c : kCases) {
    double re = 7, im = 7;
    ComputeComplexPower(0, 0, c.br, c.bi, &re, &im);
    EXPECT_TRUE(Same(re, c.re) && Same(im, c.im)) << c.br << "+" << c.bi << "i gives " << re << "+" << im << "i";
  }
}

}  // namespace
