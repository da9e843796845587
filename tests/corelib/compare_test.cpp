// Comparisons across classes (NaN, complex, mixed integer widths, text),
// sizes and scalar expansion, the logical combinations and not, the
// floating-point classification and the identity tests.
#include <cmath>
#include <functional>

#include "corelib/corelib.h"
#include "tests/corelib/stack_values.h"

namespace {

using CompareTest = StackValuesTest;
using Push = std::function<void(CompareTest*)>;

TEST_F(CompareTest, RelationsAcrossClasses) {
  struct Case {
    const char* what;
    Push push;
    char op;
    std::vector<double> want;
  };
  const Case kCases[] = {
      {"NaN == NaN", [](CompareTest* t) { t->Scalar(NAN), t->Scalar(NAN); }, '=', {0}},
      {"NaN ~= NaN", [](CompareTest* t) { t->Scalar(NAN), t->Scalar(NAN); }, '~', {1}},
      {"NaN < 1", [](CompareTest* t) { t->Scalar(NAN), t->Scalar(1); }, '<', {0}},
      {"NaN >= 1", [](CompareTest* t) { t->Scalar(NAN), t->Scalar(1); }, 'G', {0}},
      {"(1+2i) == 1",
       [](CompareTest* t) {
         t->Doubles({1, 1}, {1}, {2}), t->Scalar(1);
       },
       '=',
       {0}},
      {"(1+2i) ~= 1",
       [](CompareTest* t) {
         t->Doubles({1, 1}, {1}, {2}), t->Scalar(1);
       },
       '~',
       {1}},
      {"(1+2i) < 2",
       [](CompareTest* t) {
         t->Doubles({1, 1}, {1}, {2}), t->Scalar(2);
       },
       '<',
       {1}},
      {"(1+2i) == (1+2i)",
       [](CompareTest* t) {
         t->Doubles({1, 1}, {1}, {2}), t->Doubles({1, 1}, {1}, {2});
       },
       '=',
       {1}},
      {"1 == (1+NaN i)",
       [](CompareTest* t) {
         t->Scalar(1), t->Doubles({1, 1}, {1}, {NAN});
       },
       '=',
       {0}},
      {"'abc' == 'abd'", [](CompareTest* t) { t->Text("abc"), t->Text("abd"); }, '=', {1, 1, 0}},
      {"'a' == 97", [](CompareTest* t) { t->Text("a"), t->Scalar(97); }, '=', {1}},
      {"int8(-1) < int8(1)", [](CompareTest* t) { t->Integers(kInt8, {-1}), t->Integers(kInt8, {1}); }, '<', {1}},
      {"uint8(200) > uint8(100)",
       [](CompareTest* t) { t->Integers(kUint8, {200}), t->Integers(kUint8, {100}); },
       '>',
       {1}},
      {"int8(-1) == uint8(255)",
       [](CompareTest* t) { t->Integers(kInt8, {-1}), t->Integers(kUint8, {255}); },
       '=',
       {1}},
      {"int32(-5) < 3", [](CompareTest* t) { t->Integers(kInt32, {-5}), t->Scalar(3); }, '<', {1}},
      {"int64 high words decide",
       [](CompareTest* t) { t->Integers(kInt64, {-1}), t->Integers(kInt64, {1}); },
       '<',
       {1}},
      {"uint64 compares unsigned",
       [](CompareTest* t) { t->Integers(kUint64, {-1}), t->Integers(kUint64, {1}); },
       '>',
       {1}},
      {"int16 vs uint16 is unsigned",
       [](CompareTest* t) { t->Integers(kInt16, {-1}), t->Integers(kUint16, {1}); },
       '>',
       {1}},
      {"single(0.5) <= [0 0.5 1]",
       [](CompareTest* t) {
         t->Singles({0.5}), t->Row({0, 0.5, 1});
       },
       'L',
       {0, 1, 1}},
      {"single vs single",
       [](CompareTest* t) {
         t->Singles({1, 2}), t->Singles({2, 2});
       },
       '>',
       {0, 0}},
      {"true == 1", [](CompareTest* t) { t->Logicals({1}), t->Scalar(1); }, '=', {1}},
      {"[1 2 3] >= 2",
       [](CompareTest* t) {
         t->Row({1, 2, 3}), t->Scalar(2);
       },
       'G',
       {0, 1, 1}},
      {"[] == 5", [](CompareTest* t) { t->Empty(), t->Scalar(5); }, '=', {}},
  };
  for (const Case& c : kCases) {
    SetUp();
    c.push(this);
    ASSERT_EQ(CompareElementwise(ctx, c.op), kOk) << c.what;
    ASSERT_EQ(ctx->descLength, 3) << c.what;
    const Seen s = TopArray();
    EXPECT_EQ(s.subtype, kLogicalArray) << c.what;
    EXPECT_EQ(s.re, c.want) << c.what;
  }
}

TEST_F(CompareTest, Errors) {
  struct Case {
    const char* what;
    Push push;
    std::function<StatusCode(EngineContext*)> run;
    StatusCode want;
  };
  const Case kCases[] = {
      {"'abc' == 'ab'", [](CompareTest* t) { t->Text("abc"), t->Text("ab"); },
       [](EngineContext* c) { return CompareElementwise(c, '='); }, kIncompSize},
      {"[] == [1 2]",
       [](CompareTest* t) {
         t->Empty(), t->Row({1, 2});
       },
       [](EngineContext* c) { return CompareElementwise(c, '='); }, kIncompSize},
      {"{1} == 1", [](CompareTest* t) { t->List({1}), t->Scalar(1); },
       [](EngineContext* c) { return CompareElementwise(c, '<'); }, kWrongType},
      {"and(single(1), 1)", [](CompareTest* t) { t->Singles({1}), t->Scalar(1); },
       [](EngineContext* c) { return CombineLogicalElementwise(c, '&'); }, kWrongType},
      {"[1 2] | [1 2 3]",
       [](CompareTest* t) {
         t->Row({1, 2}), t->Row({1, 2, 3});
       },
       [](EngineContext* c) { return CombineLogicalElementwise(c, '|'); }, kIncompSize},
      {"isnan(single(NaN))", [](CompareTest* t) { t->Singles({NAN}); },
       [](EngineContext* c) { return ClassifyFloatElements(c, 'n'); }, kWrongType},
      {"isinf(int8(1))", [](CompareTest* t) { t->Integers(kInt8, {1}); },
       [](EngineContext* c) { return ClassifyFloatElements(c, 'i'); }, kWrongType},
  };
  for (const Case& c : kCases) {
    SetUp();
    c.push(this);
    EXPECT_EQ(c.run(ctx), c.want) << c.what;
  }
}

TEST_F(CompareTest, LogicalCombinationsAndNot) {
  struct Case {
    const char* what;
    Push push;
    char op;
    std::vector<double> want;
  };
  const Case kCases[] = {
      {"[1 0 2] & 1",
       [](CompareTest* t) {
         t->Row({1, 0, 2}), t->Scalar(1);
       },
       '&',
       {1, 0, 1}},
      {"xor(true, [true false])",
       [](CompareTest* t) {
         t->Logicals({1}), t->Logicals({1, 0});
       },
       '^',
       {0, 1}},
      {"[0 NaN] | 'a'",
       [](CompareTest* t) {
         t->Row({0, NAN}), t->Text("a");
       },
       '|',
       {1, 1}},
      {"NaN & 1 is false", [](CompareTest* t) { t->Scalar(NAN), t->Scalar(1); }, '&', {0}},
      {"int8 [-1 0] | 0",
       [](CompareTest* t) {
         t->Integers(kInt8, {-1, 0}), t->Scalar(0);
       },
       '|',
       {1, 0}},
  };
  for (const Case& c : kCases) {
    SetUp();
    c.push(this);
    ASSERT_EQ(CombineLogicalElementwise(ctx, c.op), kOk) << c.what;
    ASSERT_EQ(ctx->descLength, 3) << c.what;
    EXPECT_EQ(TopArray().subtype, kLogicalArray) << c.what;
    EXPECT_EQ(TopArray().re, c.want) << c.what;
  }

  Row({2, 0, NAN});
  const int16_t ins[] = {0};
  ASSERT_EQ(NotOpcode(ctx, ins), kOk);
  EXPECT_EQ(TopArray().subtype, kLogicalArray);
  EXPECT_EQ(TopArray().re, (std::vector<double>{0, 1, 1}));
  ASSERT_EQ(NotOpcode(ctx, ins), kOk);
  EXPECT_EQ(TopArray().re, (std::vector<double>{1, 0, 0}));
}

TEST_F(CompareTest, Classification) {
  const double inf = INFINITY;
  Doubles({1, 4}, {1, inf, NAN, 2}, {0, 0, 0, -inf});
  const std::pair<char, std::vector<double>> kWant[] = {{'f', {1, 0, 0, 0}}, {'i', {0, 1, 0, 1}}, {'n', {0, 0, 1, 0}}};
  for (const auto& [kind, want] : kWant) {
    ASSERT_EQ(DuplicateValues(ctx, 0, 1), kOk);
    ASSERT_EQ(ClassifyFloatElements(ctx, kind), kOk) << kind;
    EXPECT_EQ(TopArray().subtype, kLogicalArray);
    EXPECT_EQ(TopArray().re, want) << kind;
    PopValue(ctx);
  }
  SetUp();
  Empty();
  ASSERT_EQ(ClassifyFloatElements(ctx, 'f'), kOk);
  EXPECT_EQ(TopArray().subtype, kLogicalArray);
  EXPECT_TRUE(TopArray().re.empty());
}

TEST_F(CompareTest, SameComparesDescriptorsAndCells) {
  struct Case {
    const char* what;
    Push push;
    double want;
  };
  const Case kCases[] = {
      {"NaN === NaN", [](CompareTest* t) { t->Scalar(NAN), t->Scalar(NAN); }, 1},
      {"0 === -0", [](CompareTest* t) { t->Scalar(0), t->Scalar(-0.0); }, 0},
      {"row and column",
       [](CompareTest* t) {
         t->Row({1, 2}), t->Doubles({2, 1}, {1, 2});
       },
       0},
      {"1 === true", [](CompareTest* t) { t->Scalar(1), t->Logicals({1}); }, 0},
      {"{1} === {1}", [](CompareTest* t) { t->List({1}), t->List({1}); }, 1},
      {"{1} === {2}", [](CompareTest* t) { t->List({1}), t->List({2}); }, 0},
      {"'ab' === 'ab'", [](CompareTest* t) { t->Text("ab"), t->Text("ab"); }, 1},
  };
  for (const Case& c : kCases) {
    for (int negate = 0; negate < 2; ++negate) {
      SetUp();
      c.push(this);
      ASSERT_EQ(CompareValuesIdentical(ctx, negate), kOk) << c.what;
      ASSERT_EQ(ctx->descLength, 3);
      EXPECT_EQ(TopArray().subtype, kLogicalArray);
      EXPECT_EQ(TopArray().re, std::vector<double>{negate ? 1 - c.want : c.want}) << c.what << negate;
    }
  }
}

}  // namespace
