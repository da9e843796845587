// The builtins double and single: every array class converts in place to the
// floating class asked for, a two-dimensional double result is a plain matrix,
// anything that is not an array is refused and left as it was.
#include <functional>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "tests/corelib/stack_values.h"

namespace {

using ConvertTest = StackValuesTest;
using Push = std::function<void(ConvertTest*)>;

[[nodiscard]] StatusCode RunBuiltin(EngineContext* ctx, Op op) {
  const int16_t ins[2] = {static_cast<int16_t>(op), 0};
  return FloatClassOpcode(ctx, ins);
}

TEST_F(ConvertTest, EveryArrayClassConverts) {
  struct Case {
    const char* what;
    Push push;
    Op op;
    uint32_t cls;
    int32_t subtype;  // 0: plain matrix
    std::vector<uint32_t> dims;
    std::vector<double> re;
  };
  const Case kCases[] = {
      {"double(int8([-3 7]))",
       [](ConvertTest* t) {
         t->Integers(kInt8, {-3, 7});
       },
       Op::Double,
       kDouble,
       0,
       {1, 2},
       {-3, 7}},
      {"double(uint64(5))", [](ConvertTest* t) { t->Integers(kUint64, {5}); }, Op::Double, kDouble, 0, {1, 1}, {5}},
      {"double('AZ')", [](ConvertTest* t) { t->Text("AZ"); }, Op::Double, kDouble, 0, {1, 2}, {65, 90}},
      {"double([true false])",
       [](ConvertTest* t) {
         t->Logicals({1, 0});
       },
       Op::Double,
       kDouble,
       0,
       {1, 2},
       {1, 0}},
      {"double(single(0.5))", [](ConvertTest* t) { t->Singles({0.5}); }, Op::Double, kDouble, 0, {1, 1}, {0.5}},
      {"double of a 2x1x2 array stays boxed",
       [](ConvertTest* t) {
         t->Doubles({2, 1, 2}, {1, 2, 3, 4});
         ASSERT_EQ(ConvertArgsToFloat(t->ctx, 0, true, nullptr), kOk);
       },
       Op::Double,
       kDouble,
       kNumericArray,
       {2, 1, 2},
       {1, 2, 3, 4}},
      {"double(2.5) unchanged", [](ConvertTest* t) { t->Scalar(2.5); }, Op::Double, kDouble, 0, {1, 1}, {2.5}},
      {"single(2.5)", [](ConvertTest* t) { t->Scalar(2.5); }, Op::Single, kSingle, kNumericArray, {1, 1}, {2.5}},
      {"single(int16(-300))",
       [](ConvertTest* t) { t->Integers(kInt16, {-300}); },
       Op::Single,
       kSingle,
       kNumericArray,
       {1, 1},
       {-300}},
      {"single('a')", [](ConvertTest* t) { t->Text("a"); }, Op::Single, kSingle, kNumericArray, {1, 1}, {97}},
      {"single(16777217) rounds",
       [](ConvertTest* t) { t->Scalar(16777217); },
       Op::Single,
       kSingle,
       kNumericArray,
       {1, 1},
       {16777216}},
  };
  for (const Case& c : kCases) {
    c.push(this);
    ASSERT_EQ(RunBuiltin(ctx, c.op), kOk) << c.what;
    const Seen s = TopArray();
    EXPECT_EQ(s.cls, c.cls) << c.what;
    EXPECT_EQ(s.subtype, c.subtype) << c.what;
    EXPECT_EQ(s.dims, c.dims) << c.what;
    EXPECT_EQ(s.re, c.re) << c.what;
    PopValue(ctx);
  }
}

TEST_F(ConvertTest, ComplexValuesKeepTheirImaginaryPart) {
  Doubles({1, 2}, {1, 3}, {2, -4});
  ASSERT_EQ(RunBuiltin(ctx, Op::Single), kOk);
  Seen s = TopArray();
  EXPECT_EQ(s.cls, kComplexSingle);
  EXPECT_EQ(s.re, (std::vector<double>{1, 3}));
  EXPECT_EQ(s.im, (std::vector<double>{2, -4}));
  ASSERT_EQ(RunBuiltin(ctx, Op::Double), kOk);
  s = TopArray();
  EXPECT_EQ(s.cls, kComplexDouble);
  EXPECT_EQ(s.subtype, 0);
  EXPECT_EQ(s.im, (std::vector<double>{2, -4}));
}

TEST_F(ConvertTest, NonArraysAreRefusedUnchanged) {
  const Push kPushes[] = {
      [](ConvertTest* t) {
        t->List({1, 2});
      },
      [](ConvertTest* t) {
        t->Struct({{"a", 1}});
      },
  };
  for (const Push& push : kPushes) {
    for (Op op : {Op::Double, Op::Single}) {
      push(this);
      const std::vector<uint64_t> before = DataCells();
      const ValueDescriptor d = Top();
      EXPECT_EQ(RunBuiltin(ctx, op), kWrongType);
      EXPECT_EQ(DataCells(), before);
      EXPECT_EQ(Top().kind, d.kind);
      PopValue(ctx);
    }
  }
}

// A conversion that grows the value fails for lack of room and leaves the
// stack as it was, so that the host can grow the block and repeat it.
TEST_F(ConvertTest, NoRoomLeavesTheValue) {
  FillData(40);
  Integers(kInt8, std::vector<double>(64, 5));
  const std::vector<uint64_t> before = DataCells();
  EXPECT_EQ(RunBuiltin(ctx, Op::Double), kDataStackFull);
  EXPECT_EQ(DataCells(), before);
}

// The builders of new values put their result above the operands before any
// operand goes, so two free cells make each of them fail with nothing moved.
TEST_F(ConvertTest, BuildersShortOfRoomLeaveTheOperands) {
  struct Case {
    const char* what;
    Push push;
    StatusCode (*run)(EngineContext*);
  };
  const Case kCases[] = {
      {"ischar(1)", [](ConvertTest* t) { t->Scalar(1); }, ischar},
      {"isvector('ab')", [](ConvertTest* t) { t->Text("ab"); }, isvector},
      {"char('ab', 'cde')",
       [](ConvertTest* t) {
         t->Text("ab");
         t->Text("cde");
       },
       [](EngineContext* c) { return ConvertToChar(c, 2); }},
      {"char(int8 row)",
       [](ConvertTest* t) {
         t->Integers(kInt8, {72, 105, 33});
       },
       [](EngineContext* c) { return ConvertToChar(c, 1); }},
      {"cast(int8 row, 'double')",
       [](ConvertTest* t) {
         t->Integers(kInt8, {1, 2, 3, 4, 5, 6, 7, 8});
         t->Text("double");
       },
       [](EngineContext* c) { return CastValue(c, 0); }},
      {"typecast(1, 'uint8')",
       [](ConvertTest* t) {
         t->Scalar(1);
         t->Text("uint8");
       },
       [](EngineContext* c) { return CastValue(c, 1); }},
  };
  for (const Case& c : kCases) {
    const int64_t before = FreeDataCells(ctx);
    c.push(this);
    const int64_t used = before - FreeDataCells(ctx);
    Reset();
    FillData(used + 2);
    c.push(this);
    const Snapshot kept = Take();
    EXPECT_EQ(c.run(ctx), kDataStackFull) << c.what;
    EXPECT_TRUE(Take() == kept) << c.what;
    Reset();
  }
}

}  // namespace
