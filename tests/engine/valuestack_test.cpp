// Building and reading values on the value stack: pushes, typed getters,
// kind tests, the argument-list check, and failures for lack of room, which
// must leave both stacks exactly as they were.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "tests/engine/stack_fixture.h"

namespace {

class ValueStack : public StackFixture {};

TEST_F(ValueStack, ComplexScalarWithoutImaginaryPartIsReal) {
  for (double im : {0.0, std::numeric_limits<double>::quiet_NaN()}) {
    ASSERT_EQ(PushComplexScalar(ctx, 1.0, im), kOk);
    const ValueDescriptor d = Top();
    EXPECT_EQ(d.kind, 0u);
    EXPECT_EQ(d.cells, 1);
    EXPECT_EQ(d.extra, 1);
    double x = 0;
    ASSERT_EQ(PopRealScalar(ctx, &x), kOk);
    EXPECT_EQ(x, 1.0);
  }
  ASSERT_EQ(PushComplexScalar(ctx, 1.0, 2.0), kOk);
  EXPECT_EQ(Top().kind, uint32_t{kComplex});
  EXPECT_EQ(Top().cells, 2);
}

TEST_F(ValueStack, DoubleArrayShapes) {
  struct Case {
    std::vector<int32_t> dims;
    ValueDescriptor want;
  };
  const Case kCases[] = {
      {{2, 3, 1, 1}, {0, 6, 3}},
      {{2, 0, 3}, {0, 0, 0}},
      {{-4, 2}, {0, 0, 0}},
      {{5}, {0, 5, 1}},
      {{2, 3, 4}, {kBoxed, 3 + 24, kNumericArray}},
  };
  for (const Case& c : kCases) {
    double* re = nullptr;
    ASSERT_EQ(PushDoubleArray(ctx, static_cast<int>(c.dims.size()), c.dims.data(), &re, nullptr), kOk);
    const ValueDescriptor d = Top();
    EXPECT_EQ(d.kind, c.want.kind) << c.dims.size();
    EXPECT_EQ(d.cells, c.want.cells) << c.dims.size();
    EXPECT_EQ(d.extra, c.want.extra) << c.dims.size();
    if (d.kind == kBoxed) {
      const ArrayView a = ReadArray(TopData(ctx));
      EXPECT_EQ(a.cls, uint32_t{kDouble});
      EXPECT_EQ(reinterpret_cast<Cell*>(re), TopData(ctx) + 3) << "elements after a three-cell header";
    }
    PopValue(ctx);
  }
}

TEST_F(ValueStack, IntegerArrayShapes) {
  void* data = nullptr;
  const int32_t three[] = {2, 2};
  EXPECT_EQ(PushIntegerArray(ctx, 2, three, 3, false, &data), kWrongTypeInternal);
  EXPECT_EQ(ctx->descLength, 0);

  const int32_t five[] = {5};
  ASSERT_EQ(PushIntegerArray(ctx, 1, five, 4, false, &data), kOk);
  int ndims = 0;
  int32_t dims[kMaxDims];
  ASSERT_EQ(GetArgDims(ctx, 0, &ndims, dims, nullptr), kOk);
  EXPECT_EQ(ndims, 2);
  EXPECT_EQ(dims[0], 5);
  EXPECT_EQ(dims[1], 1);

  ASSERT_EQ(PushIntegerArray(ctx, 0, nullptr, 1, true, &data), kOk);
  int64_t count = 0;
  ASSERT_EQ(GetArgDims(ctx, 0, &ndims, dims, &count), kOk);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(dims[0], 1);
  EXPECT_EQ(dims[1], 1);

  uint16_t* codes = nullptr;
  ASSERT_EQ(PushCharRow(ctx, 0, &codes), kOk);
  ASSERT_EQ(GetArgDims(ctx, 0, &ndims, dims, &count), kOk);
  EXPECT_TRUE(IsCharArg(ctx, 0));
  EXPECT_EQ(dims[0], 0);
  EXPECT_EQ(dims[1], 0);
}

TEST_F(ValueStack, ArraysTooLarge) {
  // Limits of the representation are not a full region: growing the block
  // would not help, so none of these may answer 1, 3 or 5.
  const int32_t ints[] = {100'000'001};
  EXPECT_EQ(PushIntegerArray(ctx, 1, ints, 1, false, nullptr), kObjTooLarge);
  const int32_t overflowing[] = {65536, 65536, 65536, 65536};
  EXPECT_EQ(PushLogicalArray(ctx, 4, overflowing, nullptr), kObjTooLarge);
  EXPECT_EQ(PushStringFromBytes(ctx, 100'000'001, ""), kObjTooLarge);
  const int32_t huge[] = {65536, 65536};
  EXPECT_EQ(PushSingleArray(ctx, 2, huge, nullptr, nullptr), kObjTooLarge);
  const int32_t over[] = {1024, 1024, 1024};
  EXPECT_EQ(PushDoubleArray(ctx, 3, over, nullptr, nullptr), kObjTooLarge);
  EXPECT_EQ(PushDoubleMatrix(ctx, 50000, 50000, nullptr, nullptr), kObjTooLarge);
  EXPECT_EQ(PushZeroMatrix(ctx, 50000, 50000, false), kObjTooLarge);
  EXPECT_EQ(ctx->descLength, 0);
  EXPECT_EQ(ctx->dataTop, 0);
}

TEST_F(ValueStack, PopRealScalarRefusesComplex) {
  ASSERT_EQ(PushComplexScalar(ctx, 1.0, 2.0), kOk);
  double x = 0;
  EXPECT_EQ(PopRealScalar(ctx, &x), kNonScalarArg);
  EXPECT_EQ(ctx->descLength, 3) << "the value stays on the stack";
  double re = 0, im = 0;
  EXPECT_EQ(PopComplexScalar(ctx, &re, &im), kOk);
  EXPECT_EQ(re, 1.0);
  EXPECT_EQ(im, 2.0);
}

TEST_F(ValueStack, IntegerScalarArguments) {
  struct Case {
    const char* what;
    void (*push)(EngineContext*);
    StatusCode want;
    int32_t value;
  };
  const Case kCases[] = {
      {"2.5", [](EngineContext* c) { ASSERT_EQ(PushRealScalar(c, 2.5), kOk); }, kNonIntArg, 0},
      {"3e9", [](EngineContext* c) { ASSERT_EQ(PushRealScalar(c, 3e9), kOk); }, kOutOfRangeArg, 0},
      {"-Inf", [](EngineContext* c) { ASSERT_EQ(PushRealScalar(c, -HUGE_VAL), kOk); }, kOutOfRangeArg, 0},
      {"NaN", [](EngineContext* c) { ASSERT_EQ(PushRealScalar(c, std::nan("")), kOk); }, kNonIntArg, 0},
      {"-7", [](EngineContext* c) { ASSERT_EQ(PushRealScalar(c, -7), kOk); }, kOk, -7},
      {"uint8 200", [](EngineContext* c) { PushInteger<uint8_t>(c, 200); }, kOk, 200},
      {"int8 -3", [](EngineContext* c) { PushInteger<int8_t>(c, -3); }, kOk, -3},
      {"uint16 65535", [](EngineContext* c) { PushInteger<uint16_t>(c, 65535); }, kOk, 65535},
      {"uint32 3e9", [](EngineContext* c) { PushInteger<uint32_t>(c, 3'000'000'000u); }, kOutOfRangeArg, 0},
      {"int64 -5", [](EngineContext* c) { PushInteger<int64_t>(c, -5); }, kOk, -5},
      {"int64 2^40", [](EngineContext* c) { PushInteger<int64_t>(c, int64_t{1} << 40); }, kOutOfRangeArg, 0},
      {"uint64 2^63", [](EngineContext* c) { PushInteger<uint64_t>(c, uint64_t{1} << 63); }, kOutOfRangeArg, 0},
      {"2 x 2", [](EngineContext* c) { ASSERT_EQ(PushZeroMatrix(c, 2, 2, false), kOk); }, kNonScalarArg, 0},
      {"'a'", [](EngineContext* c) { ASSERT_EQ(PushStringFromBytes(c, 1, "a"), kOk); }, kOk, 97},
      {"1+2i", [](EngineContext* c) { ASSERT_EQ(PushComplexScalar(c, 1, 2), kOk); }, kWrongTypeInternal, 0},
      {"list", [](EngineContext* c) { ASSERT_EQ(MakeListFromValues(c, 0, false, nullptr, 0), kOk); },
       kWrongTypeInternal, 0},
  };
  for (const Case& c : kCases) {
    c.push(ctx);
    int32_t v = 0;
    EXPECT_EQ(GetIntegerScalarArg(ctx, 0, &v), c.want) << c.what;
    if (c.want == kOk) {
      EXPECT_EQ(v, c.value) << c.what;
    }
    PopValue(ctx);
  }
}

TEST_F(ValueStack, BooleansAndConditions) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  uint8_t b = 7;
  ASSERT_EQ(PushRealScalar(ctx, nan), kOk);
  EXPECT_EQ(GetBooleanArg(ctx, 0, &b), kOk);
  EXPECT_EQ(b, 0) << "NaN is false as a boolean";
  EXPECT_EQ(TestArgAllNonzero(ctx, 0, &b), kOk);
  EXPECT_EQ(b, 1) << "NaN is true as a condition";
  PopValue(ctx);

  ASSERT_EQ(PushEmptyMatrix(ctx), kOk);
  EXPECT_EQ(TestArgAllNonzero(ctx, 0, &b), kOk);
  EXPECT_EQ(b, 0);
  PopValue(ctx);

  double* re = nullptr;
  ASSERT_EQ(PushDoubleMatrix(ctx, 1, 3, &re, nullptr), kOk);
  re[0] = 1, re[1] = -2, re[2] = 0;
  EXPECT_EQ(TestArgAllNonzero(ctx, 0, &b), kOk);
  EXPECT_EQ(b, 0);
  EXPECT_EQ(GetBooleanArg(ctx, 0, &b), kWrongTypeInternal) << "more than one element";
  re[2] = 3;
  EXPECT_EQ(PopConditionValue(ctx, &b), kOk);
  EXPECT_EQ(b, 1);

  ASSERT_EQ(PushStringFromBytes(ctx, 2, "ab"), kOk);
  EXPECT_EQ(TestArgAllNonzero(ctx, 0, &b), kOk);
  EXPECT_EQ(b, 1);
  PopValue(ctx);

  ASSERT_EQ(MakeListFromValues(ctx, 0, false, nullptr, 0), kOk);
  EXPECT_EQ(TestArgAllNonzero(ctx, 0, &b), kWrongBoolType);
  EXPECT_EQ(PopConditionValue(ctx, &b), kWrongBoolType);
  EXPECT_EQ(ctx->descLength, 3);
}

TEST_F(ValueStack, ArrayGettersKeepToTheirClass) {
  ASSERT_EQ(PushZeroMatrix(ctx, 2, 2, false), kOk);
  float* f = nullptr;
  EXPECT_EQ(GetSingleArrayArg(ctx, 0, nullptr, nullptr, nullptr, &f, nullptr), kWrongTypeInternal);
  const int32_t dims[] = {2, 2};
  ASSERT_EQ(PushSingleArray(ctx, 2, dims, &f, nullptr), kOk);
  double* re = nullptr;
  EXPECT_EQ(GetDoubleArrayArg(ctx, 0, nullptr, nullptr, nullptr, &re, nullptr), kWrongTypeInternal);
  EXPECT_EQ(GetSingleArrayArg(ctx, 0, nullptr, nullptr, nullptr, &f, nullptr), kOk);
  EXPECT_EQ(GetDoubleArrayArg(ctx, 1, nullptr, nullptr, nullptr, &re, nullptr), kOk);
  EXPECT_EQ(GetDoubleMatrixArg(ctx, 0, nullptr, nullptr, &re, nullptr), kWrongTypeInternal);
}

TEST_F(ValueStack, NativeObjectsBelongToTheirClass) {
  ctx->runningNativeClass = 9;
  void* payload = nullptr;
  ASSERT_EQ(PushNativeObject(ctx, 12, &payload), kOk);
  EXPECT_EQ(Top().extra, 9);
  EXPECT_EQ(Top().cells, 2);
  EXPECT_EQ(TopData(ctx)[1].w[1], 0u) << "bytes after the payload are zero";
  int64_t bytes = 0;
  EXPECT_EQ(GetNativeObjectArg(ctx, 0, &bytes, &payload), kOk);
  EXPECT_EQ(bytes, 16);
  ctx->runningNativeClass = 10;
  EXPECT_EQ(GetNativeObjectArg(ctx, 0, &bytes, &payload), kWrongTypeInternal);
  EXPECT_EQ(CheckArgTypes(ctx, 1, nullptr), kWrongType) << "objects are no ordinary values";
}

TEST_F(ValueStack, ArgumentSpecs) {
  struct Case {
    const char* spec;
    std::vector<Kind> args;  // first argument first
    StatusCode want;
  };
  const Case kCases[] = {
      {"S[r", {Kind::kString}, kOk},
      {"S[r", {Kind::kString, Kind::kScalar}, kOk},
      {"S[r", {Kind::kString, Kind::kScalar, Kind::kList}, kOk},
      {"S[r", {Kind::kScalar}, kWrongType},
      {"S[r", {Kind::kString, Kind::kRow}, kWrongType},
      {"r+", {Kind::kScalar, Kind::kScalar, Kind::kScalar}, kOk},
      {"r+", {Kind::kScalar, Kind::kRow}, kWrongType},
      {"r+", {Kind::kScalar}, kOk},
      {"SS", {Kind::kString}, kWrongType},
      {"", {Kind::kList, Kind::kRow}, kOk},
      {"?*", {Kind::kList, Kind::kRow, Kind::kString}, kOk},
      {"R", {Kind::kRow, Kind::kList}, kOk},
      {"I", {Kind::kRow}, kOk},
      {"I", {Kind::kFraction}, kWrongType},
      {"E", {Kind::kList}, kOk},
      {"e", {Kind::kList}, kWrongType},
      {"t", {Kind::kStruct}, kOk},
      {"j", {Kind::kString}, kOk},
      {"Q", {Kind::kScalar}, kWrongType},
      {"+", {Kind::kScalar}, kWrongType},
  };
  for (const Case& c : kCases) {
    for (Kind k : c.args) PushKind(k);
    EXPECT_EQ(CheckArgTypes(ctx, static_cast<int>(c.args.size()), c.spec), c.want)
        << "'" << c.spec << "' with " << c.args.size() << " arguments";
    ctx->descLength = 0;
    ctx->dataTop = 0;
  }
}

TEST_F(ValueStack, FailedPushesChangeNothing) {
  struct Case {
    const char* what;
    StatusCode (*op)(EngineContext*);
  };
  const Case kCases[] = {
      {"scalar", [](EngineContext* c) { return PushRealScalar(c, 1); }},
      {"complex scalar", [](EngineContext* c) { return PushComplexScalar(c, 1, 2); }},
      {"logical scalar", [](EngineContext* c) { return PushLogicalScalar(c, 1); }},
      {"zeros", [](EngineContext* c) { return PushZeroMatrix(c, 3, 3, false); }},
      {"matrix", [](EngineContext* c) { return PushDoubleMatrix(c, 4, 4, nullptr, nullptr); }},
      {"string", [](EngineContext* c) { return PushStringFromBytes(c, -1, "a longer piece of text"); }},
      {"boxed", [](EngineContext* c) { return PushBoxedValue(c, 7, 100, nullptr); }},
      {"list", [](EngineContext* c) { return MakeListFromValues(c, 3, false, nullptr, 0); }},
      {"cell",
       [](EngineContext* c) {
         const int32_t d[] = {4, 4};
         return PushEmptyCellArray(c, 2, d);
       }},
      {"duplicate", [](EngineContext* c) { return DuplicateValues(c, 0, 3); }},
      {"transpose", [](EngineContext* c) { return TransposeTopMatrix(c); }},
      {"to single", [](EngineContext* c) { return ConvertArgsToFloat(c, -3, true, nullptr); }},
      {"to int8", [](EngineContext* c) { return ConvertArgToIntegerClass(c, 1, 1, false, false); }},
      {"unify", [](EngineContext* c) { return UnifyNumericArgs(c, 2); }},
      {"complex", [](EngineContext* c) { return MakeTopComplex(c, nullptr); }},
      {"to logical", [](EngineContext* c) { return ConvertArgToLogical(c, 1); }},
  };
  for (const Case& c : kCases) {
    for (int64_t freeCells : {0, 1, 2, 5}) {
      Reset();
      // Three values to work on: a 3 x 3 matrix, a string and a 2 x 2 matrix.
      ASSERT_EQ(PushZeroMatrix(ctx, 3, 3, false), kOk);
      ASSERT_EQ(PushStringFromBytes(ctx, 3, "xyz"), kOk);
      ASSERT_EQ(PushZeroMatrix(ctx, 2, 2, false), kOk);
      FillData(freeCells);
      const Snapshot before = Take();
      const StatusCode st = c.op(ctx);
      if (st == kOk) continue;
      EXPECT_TRUE(st == kDataStackFull || st == kDescStackFull) << c.what << ": " << st;
      EXPECT_TRUE(Take() == before) << c.what << " with " << freeCells << " free cells";
    }
  }
  // The descriptor stack always keeps a word to spare.
  Reset();
  while (PushEmptyMatrix(ctx) == kOk) {
  }
  EXPECT_LT(ctx->descLength, ctx->descCapacity);
  EXPECT_GE(ctx->descLength + 3, ctx->descCapacity);
  const Snapshot before = Take();
  EXPECT_EQ(PushRealScalar(ctx, 1), kDescStackFull);
  EXPECT_EQ(MakeListFromValues(ctx, 0, false, nullptr, 0), kDescStackFull);
  EXPECT_TRUE(Take() == before);
}

}  // namespace
