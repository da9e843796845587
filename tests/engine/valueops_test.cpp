// Class conversions, strings, composites, copies and stack rearrangement on
// the value stack.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/engine/stack_fixture.h"

namespace {

class ValueOps : public StackFixture {
 protected:
  uint32_t ClassAt(int position) {
    const ValueDescriptor d = At(position);
    if (IsPlainMatrix(d)) return (d.kind & kComplex) ? kComplexDouble : kDouble;
    return ReadArray(DataAt(ctx, position)).cls;
  }
  int64_t IntegerAt(int position, int64_t k) {
    void* data = nullptr;
    int bytes = 0;
    bool isUnsigned = false;
    EXPECT_EQ(GetIntegerArrayArg(ctx, position, nullptr, nullptr, nullptr, &bytes, &isUnsigned, &data), kOk);
    int64_t v = 0;
    std::memcpy(&v, static_cast<uint8_t*>(data) + k * bytes, bytes);
    if (!isUnsigned && bytes < 8 && (v >> (8 * bytes - 1)) & 1) v -= int64_t{1} << (8 * bytes);
    return v;
  }
  // Marks values so that their order can be read back: scalars 1, 2, 3, ...
  void PushScalars(int n) {
    for (int k = 1; k <= n; ++k) ASSERT_EQ(PushRealScalar(ctx, k), kOk);
  }
  std::vector<double> ScalarsFromTop(int n) {
    std::vector<double> out;
    for (int p = 0; p < n; ++p) out.push_back(DataAt(ctx, p)->f);
    return out;
  }
};

TEST_F(ValueOps, UnifyNumericClasses) {
  struct Case {
    const char* what;
    void (*push)(EngineContext*);
    uint32_t want;
  };
  const Case kCases[] = {
      {"int8 with uint8", [](EngineContext* c) { PushInteger<int8_t>(c, 1), PushInteger<uint8_t>(c, 2); }, kUint8},
      {"uint8 with int16", [](EngineContext* c) { PushInteger<uint8_t>(c, 200), PushInteger<int16_t>(c, 1); }, kInt16},
      {"int16 with uint16", [](EngineContext* c) { PushInteger<int16_t>(c, 1), PushInteger<uint16_t>(c, 2); }, kUint16},
      {"single with int32",
       [](EngineContext* c) {
         float* f = nullptr;
         ASSERT_EQ(PushSingleArray(c, 0, nullptr, &f, nullptr), kOk);
         *f = 1.5f;
         PushInteger<int32_t>(c, 4);
       },
       kSingle},
      {"double with int8",
       [](EngineContext* c) {
         ASSERT_EQ(PushRealScalar(c, 2.5), kOk);
         PushInteger<int8_t>(c, -3);
       },
       kDouble},
  };
  for (const Case& c : kCases) {
    Reset();
    c.push(ctx);
    ASSERT_EQ(UnifyNumericArgs(ctx, 2), kOk) << c.what;
    EXPECT_EQ(ClassAt(0), c.want) << c.what;
    EXPECT_EQ(ClassAt(1), c.want) << c.what;
  }
  Reset();
  PushInteger<uint8_t>(ctx, 200);
  PushInteger<int16_t>(ctx, 1);
  ASSERT_EQ(UnifyNumericArgs(ctx, 2), kOk);
  EXPECT_EQ(IntegerAt(1, 0), 200) << "the first keeps its value";
  // A character array alone becomes a numeric uint16 array.
  Reset();
  ASSERT_EQ(PushStringFromBytes(ctx, 2, "hi"), kOk);
  ASSERT_EQ(UnifyNumericArgs(ctx, 1), kOk);
  EXPECT_FALSE(IsCharArg(ctx, 0));
  EXPECT_EQ(ClassAt(0), uint32_t{kUint16});
  EXPECT_EQ(IntegerAt(0, 1), 'i');
  // Values of other kinds are refused before anything changes.
  Reset();
  PushInteger<int8_t>(ctx, 1);
  ASSERT_EQ(MakeListFromValues(ctx, 0, false, nullptr, 0), kOk);
  const Snapshot before = Take();
  EXPECT_EQ(UnifyNumericArgs(ctx, 2), kWrongTypeInternal);
  EXPECT_TRUE(Take() == before);
}

TEST_F(ValueOps, IntegerConversions) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double x;
    int bytes;
    bool isUnsigned, check;
    StatusCode want;
    int64_t value;
  };
  const Case kCases[] = {
      {127, 1, false, true, kOk, 127},         {128, 1, false, true, kOutOfRangeArg, 0},
      {-128.5, 1, false, true, kNonIntArg, 0}, {nan, 1, false, true, kOutOfRangeArg, 0},
      {300.7, 1, false, false, kOk, 44},       {-1.5, 1, false, false, kOk, -1},
      {nan, 4, false, false, kOk, 0},          {1e300, 2, true, false, kOk, 0},
      {-1, 8, false, true, kOk, -1},           {65535, 2, true, true, kOk, 65535},
  };
  for (const Case& c : kCases) {
    Reset();
    ASSERT_EQ(PushRealScalar(ctx, c.x), kOk);
    ASSERT_EQ(PushRealScalar(ctx, 99), kOk);  // the converted value keeps its position under this one
    EXPECT_EQ(ConvertArgToIntegerClass(ctx, 1, c.bytes, c.isUnsigned, c.check), c.want) << c.x;
    EXPECT_EQ(TopScalar(), 99);
    if (c.want == kOk) {
      EXPECT_EQ(ClassAt(1), static_cast<uint32_t>(c.bytes + (c.isUnsigned ? 128 : 0))) << c.x;
      EXPECT_EQ(IntegerAt(1, 0), c.value) << c.x;
    } else {
      EXPECT_EQ(ClassAt(1), uint32_t{kDouble}) << "a refused conversion changes nothing";
    }
  }
  // Between integer classes: the check applies to every conversion.
  Reset();
  PushInteger<uint16_t>(ctx, 200);
  EXPECT_EQ(ConvertArgToIntegerClass(ctx, 0, 1, true, true), kOk);
  EXPECT_EQ(IntegerAt(0, 0), 200);
  PushInteger<int8_t>(ctx, -1);
  EXPECT_EQ(ConvertArgToIntegerClass(ctx, 0, 1, true, true), kOutOfRangeArg);
  EXPECT_EQ(ConvertArgToIntegerClass(ctx, 0, 1, true, false), kOk);
  EXPECT_EQ(IntegerAt(0, 0), 255);
  PushInteger<int8_t>(ctx, -2);
  EXPECT_EQ(ConvertArgToIntegerClass(ctx, 0, 4, true, false), kOk);
  EXPECT_EQ(IntegerAt(0, 0), 0xFFFFFFFE) << "signed sources widen by sign extension";
}

TEST_F(ValueOps, FloatConversionsAndParts) {
  double* re = nullptr;
  double* im = nullptr;
  const int32_t dims[] = {2, 1, 2};
  ASSERT_EQ(PushDoubleArray(ctx, 3, dims, &re, &im), kOk);
  for (int k = 0; k < 4; ++k) re[k] = k + 0.5, im[k] = -k;
  bool converted = false;
  ASSERT_EQ(ConvertArgsToFloat(ctx, 0, true, &converted), kOk);
  EXPECT_TRUE(converted);
  EXPECT_EQ(ClassAt(0), uint32_t{kComplexSingle});
  float* sre = nullptr;
  float* sim = nullptr;
  ASSERT_EQ(GetSingleArrayArg(ctx, 0, nullptr, nullptr, nullptr, &sre, &sim), kOk);
  EXPECT_EQ(sre[3], 3.5f);
  EXPECT_EQ(sim[3], -3.0f);
  ASSERT_EQ(DropImaginaryPart(ctx), kOk);
  EXPECT_EQ(ClassAt(0), uint32_t{kSingle});
  ASSERT_EQ(ConvertArgsToFloat(ctx, 0, false, &converted), kOk);
  EXPECT_EQ(ClassAt(0), uint32_t{kDouble});
  EXPECT_EQ(At(0).kind, uint32_t{kBoxed}) << "three dimensions stay boxed";

  // Already of the target class: nothing changes.
  Reset();
  PushRow({1, 2});
  converted = true;
  ASSERT_EQ(ConvertArgsToFloat(ctx, -1, false, &converted), kOk);
  EXPECT_FALSE(converted);

  // A plain matrix gains and loses its imaginary half.
  void* imag = nullptr;
  ASSERT_EQ(MakeTopComplex(ctx, &imag), kOk);
  EXPECT_EQ(At(0).kind, uint32_t{kComplex});
  EXPECT_EQ(At(0).cells, 4);
  EXPECT_EQ(static_cast<double*>(imag)[1], 0.0);
  ASSERT_EQ(DropImaginaryPart(ctx), kOk);
  EXPECT_EQ(At(0).kind, 0u);
  EXPECT_EQ(At(0).cells, 2);

  PushInteger<int8_t>(ctx, 1);
  EXPECT_EQ(MakeTopComplex(ctx, &imag), kWrongTypeInternal);
  EXPECT_EQ(DropImaginaryPart(ctx), kWrongTypeInternal);
}

TEST_F(ValueOps, LogicalConversion) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  PushRow({0, 2, nan, -1});
  ASSERT_EQ(ConvertArgToLogical(ctx, 0), kOk);
  EXPECT_TRUE(IsLogicalArg(ctx, 0));
  const uint8_t* b = reinterpret_cast<const uint8_t*>(ReadArray(TopData(ctx)).data);
  EXPECT_EQ(std::vector<uint8_t>(b, b + 4), (std::vector<uint8_t>{0, 1, 0, 1}));
  PushInteger<int8_t>(ctx, -5);
  ASSERT_EQ(ConvertArgToLogical(ctx, 0), kOk);
  EXPECT_TRUE(IsLogicalArg(ctx, 0));
  EXPECT_EQ(IntegerAt(0, 0), 1);
  float* f = nullptr;
  ASSERT_EQ(PushSingleArray(ctx, 0, nullptr, &f, nullptr), kOk);
  EXPECT_EQ(ConvertArgToLogical(ctx, 0), kWrongTypeInternal);
}

TEST_F(ValueOps, ElementwiseArguments) {
  double* re[2];
  double* im[2];
  uint8_t isArray[2];
  int ndims = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;

  double* data = nullptr;
  ASSERT_EQ(PushDoubleMatrix(ctx, 2, 3, &data, nullptr), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 5), kOk);
  ASSERT_EQ(
      CheckElementwiseArgs(ctx, 2, &ndims, dims, &count, re, im, nullptr, nullptr, nullptr, nullptr, nullptr, isArray),
      kOk);
  EXPECT_EQ(ndims, 2);
  EXPECT_EQ(dims[0], 2);
  EXPECT_EQ(dims[1], 3);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(isArray[0], 0);
  EXPECT_EQ(isArray[1], 1);
  EXPECT_EQ(re[1], data);

  Reset();
  ASSERT_EQ(PushDoubleMatrix(ctx, 2, 3, &data, nullptr), kOk);
  ASSERT_EQ(PushDoubleMatrix(ctx, 3, 2, &data, nullptr), kOk);
  EXPECT_EQ(
      CheckElementwiseArgs(ctx, 2, &ndims, dims, &count, re, im, nullptr, nullptr, nullptr, nullptr, nullptr, isArray),
      kIncompSize);

  Reset();
  ASSERT_EQ(PushEmptyMatrix(ctx), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(
      CheckElementwiseArgs(ctx, 2, &ndims, dims, &count, re, im, nullptr, nullptr, nullptr, nullptr, nullptr, isArray),
      kOk);
  EXPECT_EQ(count, 0);

  // Without room for integer data, an integer argument is refused.
  Reset();
  PushInteger<int8_t>(ctx, 3);
  EXPECT_EQ(
      CheckElementwiseArgs(ctx, 1, &ndims, dims, &count, re, im, nullptr, nullptr, nullptr, nullptr, nullptr, isArray),
      kWrongTypeInternal);
  void* ints[1];
  int bytes[1];
  bool isUnsigned[1];
  ASSERT_EQ(
      CheckElementwiseArgs(ctx, 1, &ndims, dims, &count, re, im, nullptr, nullptr, ints, bytes, isUnsigned, isArray),
      kOk);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_FALSE(isUnsigned[0]);
}

TEST_F(ValueOps, StackRearrangement) {
  // A native with inputs b c and results d e ends with (2, 2) and leaves a d e.
  PushScalars(5);  // a b c d e, e on top
  ASSERT_EQ(DropArgsUnderResults(ctx, 2, 2), kOk);
  EXPECT_EQ(ctx->descLength, 9);
  EXPECT_EQ(ScalarsFromTop(3), (std::vector<double>{5, 4, 1}));
  ASSERT_EQ(DropArgsUnderResults(ctx, 2, 1), kOk);
  EXPECT_EQ(ctx->descLength, 6);
  EXPECT_EQ(ctx->dataTop, 2);
  EXPECT_EQ(ScalarsFromTop(2), (std::vector<double>{5, 4}));

  Reset();
  PushScalars(3);
  ASSERT_EQ(RotateValues(ctx, 3, 1), kOk);
  EXPECT_EQ(ScalarsFromTop(3), (std::vector<double>{1, 3, 2})) << "a b c gives b c a";
  Reset();
  PushScalars(3);
  ASSERT_EQ(RotateValues(ctx, 3, 2), kOk);
  EXPECT_EQ(ScalarsFromTop(3), (std::vector<double>{2, 1, 3})) << "a b c gives c a b";

  // Values of different sizes rotate and reverse whole.
  Reset();
  ASSERT_EQ(PushStringFromBytes(ctx, 5, "hello"), kOk);
  PushRow({7, 8, 9});
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(ReverseValues(ctx, 3), kOk);
  EXPECT_EQ(TopString(), "hello");
  EXPECT_EQ(DataAt(ctx, 2)->f, 1.0);
  EXPECT_EQ(DataAt(ctx, 1)[2].f, 9.0);

  ASSERT_EQ(DuplicateValues(ctx, 1, 2), kOk);
  EXPECT_EQ(DataAt(ctx, 0)[0].f, 7.0) << "copies keep their order";
  EXPECT_EQ(DataAt(ctx, 1)->f, 1.0);
  EXPECT_EQ(ctx->descLength, 15);
}

TEST_F(ValueOps, Transposes) {
  double* re = nullptr;
  double* im = nullptr;
  ASSERT_EQ(PushDoubleMatrix(ctx, 2, 3, &re, &im), kOk);
  for (int k = 0; k < 6; ++k) re[k] = k + 1, im[k] = -(k + 1);
  ASSERT_EQ(TransposeTopMatrix(ctx), kOk);
  int32_t m = 0, n = 0;
  ASSERT_EQ(GetDoubleMatrixArg(ctx, 0, &m, &n, &re, &im), kOk);
  EXPECT_EQ(m, 3);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(std::vector<double>(re, re + 6), (std::vector<double>{1, 4, 2, 5, 3, 6}));
  EXPECT_EQ(std::vector<double>(im, im + 6), (std::vector<double>{-1, -4, -2, -5, -3, -6})) << "no conjugation";

  const int32_t row[] = {1, 4};
  void* bytes = nullptr;
  ASSERT_EQ(PushIntegerArray(ctx, 2, row, 1, false, &bytes), kOk);
  std::memcpy(bytes, "\x01\x02\x03\x04", 4);
  ASSERT_EQ(TransposeTopMatrix(ctx), kOk);
  int ndims = 0;
  int32_t dims[kMaxDims];
  ASSERT_EQ(GetArgDims(ctx, 0, &ndims, dims, nullptr), kOk);
  EXPECT_EQ(dims[0], 4);
  EXPECT_EQ(dims[1], 1);
  EXPECT_EQ(IntegerAt(0, 3), 4);

  const int32_t grid[] = {2, 3};
  uint16_t* codes = nullptr;
  ASSERT_EQ(PushCharArray(ctx, 2, grid, &codes), kOk);
  for (int k = 0; k < 6; ++k) codes[k] = static_cast<uint16_t>('a' + k);
  ASSERT_EQ(TransposeTopMatrix(ctx), kOk);
  EXPECT_TRUE(IsCharArg(ctx, 0));
  EXPECT_EQ(TopString(), "adbecf");

  const int32_t cube[] = {2, 2, 2};
  ASSERT_EQ(PushDoubleArray(ctx, 3, cube, &re, nullptr), kOk);
  EXPECT_EQ(TransposeTopMatrix(ctx), kNonMatrix);
}

TEST_F(ValueOps, ListsAndStructures) {
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, 1, "a"), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 2, false, nullptr, 0), kOk);
  EXPECT_EQ(Top().kind, uint32_t{kComposite});
  EXPECT_EQ(Top().extra, kList);
  int32_t count = 0;
  ASSERT_EQ(PushListElement(ctx, 0, 1), kOk);
  EXPECT_EQ(TopScalar(), 1.0) << "the deepest value comes first";
  PopValue(ctx);
  ASSERT_EQ(PushListElement(ctx, 0, 2), kOk);
  EXPECT_EQ(TopString(), "a");
  PopValue(ctx);
  EXPECT_EQ(PushListElement(ctx, 0, 3), kIndexOutOfRange);
  EXPECT_EQ(PushListElement(ctx, 0, 0), kIndexOutOfRange);

  ASSERT_EQ(ExplodeTopList(ctx, &count), kOk);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(ctx->dataTop, 1 + 3);
  EXPECT_EQ(TopString(), "a");
  EXPECT_EQ(DataAt(ctx, 1)->f, 1.0);

  // Appending named values to a structure adds fields.
  Reset();
  ASSERT_EQ(PushRealScalar(ctx, 5), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 1, false, "x", 1), kOk);
  EXPECT_EQ(Top().extra, kStruct);
  ASSERT_EQ(PushRealScalar(ctx, 6), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 7), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 2, true, "y", 1), kOk);
  EXPECT_EQ(ctx->descLength, 3);
  const char* name = nullptr;
  int length = 0;
  ASSERT_EQ(GetStructFieldName(ctx, 0, 3, &name, &length), kOk);
  EXPECT_EQ(std::string(name, length), "y");
  ASSERT_EQ(PushStructField(ctx, 0, "x", 1), kOk);
  EXPECT_EQ(TopScalar(), 5.0);
  PopValue(ctx);
  EXPECT_EQ(PushStructField(ctx, 0, "z", 1), kUndefField);
  EXPECT_EQ(PushStructField(ctx, 0, "never interned", 14), kUndefField);
  int ndims = 0;
  int32_t dims[kMaxDims];
  int64_t elements = 0;
  int32_t fields = 0;
  ASSERT_EQ(GetCompositeArgInfo(ctx, 0, 's', &ndims, dims, &elements, &fields, nullptr), kOk);
  EXPECT_EQ(elements, 1);
  EXPECT_EQ(fields, 3);
  EXPECT_EQ(GetCellArgInfo(ctx, 0, &ndims, dims, &elements, &fields, nullptr), kWrongTypeInternal);

  // Appending onto something that is not a composite discards the values.
  Reset();
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
  EXPECT_EQ(MakeListFromValues(ctx, 1, true, nullptr, 0), kBadArg);
  EXPECT_EQ(ctx->descLength, 3);
  EXPECT_EQ(ctx->dataTop, 1);
}

TEST_F(ValueOps, CellArrays) {
  const int32_t dims2[] = {1, 2};
  ASSERT_EQ(PushEmptyCellArray(ctx, 2, dims2), kOk);
  EXPECT_EQ(Top().cells, 9);
  int ndims = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  ASSERT_EQ(GetCellArgInfo(ctx, 0, &ndims, dims, &count, nullptr, nullptr), kOk);
  EXPECT_EQ(ndims, 2);
  EXPECT_EQ(dims[1], 2);
  EXPECT_EQ(count, 2);

  const int32_t square[] = {3};
  ASSERT_EQ(PushEmptyCellArray(ctx, 1, square), kOk);
  ASSERT_EQ(GetCellArgInfo(ctx, 0, &ndims, dims, &count, nullptr, nullptr), kOk);
  EXPECT_EQ(count, 9) << "one dimension d gives d x d";

  // Reshape checks the element count and changes nothing when it is wrong.
  const int32_t wrong[] = {2, 2};
  const Snapshot before = Take();
  EXPECT_EQ(ReshapeTopCellArray(ctx, 2, wrong), kBadSize);
  EXPECT_TRUE(Take() == before);
  const int32_t flat[] = {9, 1};
  ASSERT_EQ(ReshapeTopCellArray(ctx, 2, flat), kOk);
  ASSERT_EQ(GetCellArgInfo(ctx, 0, &ndims, dims, &count, nullptr, nullptr), kOk);
  EXPECT_EQ(dims[0], 9);
  ASSERT_EQ(ReshapeTopCellArray(ctx, 0, nullptr), kOk);
  EXPECT_EQ(Top().extra, kList);
  EXPECT_EQ(Top().cells, 18);
  int32_t items = 0;
  ASSERT_EQ(ExplodeTopList(ctx, &items), kOk);
  EXPECT_EQ(items, 9);
  EXPECT_EQ(ctx->dataTop, 9) << "only the 1 x 2 cell array below keeps cells";
}

TEST_F(ValueOps, StructureArrays) {
  // Two structures {a, b} become a 2 x 1 structure array.
  for (double v : {1.0, 2.0}) {
    ASSERT_EQ(PushRealScalar(ctx, v), kOk);
    ASSERT_EQ(MakeListFromValues(ctx, 1, false, "a", 1), kOk);
    ASSERT_EQ(PushRealScalar(ctx, 10 * v), kOk);
    ASSERT_EQ(MakeListFromValues(ctx, 1, true, "b", 1), kOk);
  }
  ASSERT_EQ(MakeListFromValues(ctx, 2, false, nullptr, 0), kOk);
  ASSERT_EQ(ConvertTopToStructArray(ctx), kOk);
  EXPECT_EQ(Top().extra, kStructArray);
  int ndims = 0;
  int32_t dims[kMaxDims];
  int64_t count = 0;
  int32_t fields = 0;
  ASSERT_EQ(GetCompositeArgInfo(ctx, 0, 's', &ndims, dims, &count, &fields, nullptr), kOk);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(fields, 2);
  EXPECT_EQ(dims[0], 2);
  EXPECT_EQ(dims[1], 1);

  ASSERT_EQ(PushListElement(ctx, 0, 2), kOk);
  EXPECT_EQ(Top().extra, kStruct);
  ASSERT_EQ(PushStructField(ctx, 0, "b", 1), kOk);
  EXPECT_EQ(TopScalar(), 20.0);
  PopValue(ctx);
  PopValue(ctx);
  const char* name = nullptr;
  int length = 0;
  ASSERT_EQ(GetStructFieldName(ctx, 0, 1, &name, &length), kOk);
  EXPECT_EQ(name, nullptr) << "the dims element is unnamed";

  // A structure array without fields still reports its element count.
  Reset();
  ASSERT_EQ(MakeListFromValues(ctx, 0, false, "", 0), kOk);
  const int32_t three[] = {1, 3};
  ASSERT_EQ(ReshapeTopCellArray(ctx, 2, three), kBadSize) << "one structure cannot be three";
  ASSERT_EQ(MakeListFromValues(ctx, 0, false, "", 0), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 0, false, "", 0), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 3, false, nullptr, 0), kOk);
  ASSERT_EQ(ConvertTopToStructArray(ctx), kOk);
  ASSERT_EQ(GetCompositeArgInfo(ctx, 0, 's', &ndims, dims, &count, &fields, nullptr), kOk);
  EXPECT_EQ(fields, 0);
  EXPECT_EQ(count, 3);

  // Elements that are not structures are refused.
  Reset();
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 1, false, nullptr, 0), kOk);
  EXPECT_EQ(ConvertTopToStructArray(ctx), kWrongTypeInternal);
}

TEST_F(ValueOps, Strings) {
  int64_t length = -1;
  FillData(10);
  char* buffer = nullptr;
  ASSERT_EQ(ReserveStringBuffer(ctx, &length, &buffer), kOk);
  EXPECT_EQ(length, 16);
  std::memcpy(buffer, "written", 7);
  ASSERT_EQ(FinishStringBuffer(ctx, 7), kOk);
  EXPECT_EQ(TopString(), "written");

  // With fewer free cells than a row's overhead nothing is reserved.
  Reset();
  FillData(5);
  length = -1;
  EXPECT_EQ(ReserveStringBuffer(ctx, &length, &buffer), kDataStackFull);

  Reset();
  ASSERT_EQ(PushStringFromBytes(ctx, 3, "abc"), kOk);
  char small[3];
  EXPECT_EQ(CopyStringArgToBuffer(ctx, 0, small, 3, nullptr), kObjTooLarge);
  int64_t copied = 0;
  ASSERT_EQ(CopyStringArgToBuffer(ctx, 0, small, 3, &copied), kOk);
  EXPECT_EQ(copied, 3);
  EXPECT_EQ(std::string(small, 3), "abc");
  const char* text = nullptr;
  ASSERT_EQ(GetStringArg(ctx, 0, &text, &length), kOk);
  EXPECT_STREQ(text, "abc");
  PopValue(ctx);

  ASSERT_EQ(PushCharRow(ctx, 0, nullptr), kOk);
  ASSERT_EQ(GetStringArg(ctx, 0, &text, &length), kOk);
  EXPECT_EQ(length, 0);
  EXPECT_STREQ(text, "");
  PopValue(ctx);

  // UTF-8: two-byte and three-byte characters, and an invalid byte skipped.
  ASSERT_EQ(PushStringFromUtf8(ctx, -1, "a\xC3\xA9\xE2\x82\xAC\xFFz"), kOk);
  const ArrayView a = ReadArray(TopData(ctx));
  const auto* codes = reinterpret_cast<const uint16_t*>(a.data);
  EXPECT_EQ(std::vector<uint16_t>(codes, codes + a.count), (std::vector<uint16_t>{'a', 0xE9, 0x20AC, 'z'}));

  length = -2;
  ASSERT_EQ(ReserveEncodedTextBuffer(ctx, &length, &buffer), kOk);
  EXPECT_EQ(length % 2, 0) << "the length counts bytes";
  std::memcpy(buffer, "\xE2\x82\xAC!", 4);
  ASSERT_EQ(FinishUtf8TextBuffer(ctx, 4), kOk);
  EXPECT_EQ(ReadArray(TopData(ctx)).count, 2);
  EXPECT_EQ(ctx->descLength, 6) << "the byte row under the result is gone";

  uint8_t* bytes = nullptr;
  ASSERT_EQ(EncodeCharArg(ctx, 1, true, &bytes, &length), kOk);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 5), std::string("a\xE9\xAC"
                                                                        "z",
                                                                        4) +
                                                                '\0');
  EXPECT_FALSE(IsCharArg(ctx, 1));
  EXPECT_TRUE(IsCharArg(ctx, 0)) << "the value above keeps its place";
}

TEST_F(ValueOps, CopiesRoundTrip) {
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, 2, "ok"), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 2, false, nullptr, 0), kOk);
  int64_t size = 0;
  ASSERT_EQ(GetValueSize(ctx, 0, &size), kOk);
  std::vector<double> copy(size);
  ASSERT_EQ(CopyValueOut(ctx, 0, copy.data()), kOk);
  const Snapshot original = Take();
  PopValue(ctx);
  ASSERT_EQ(PushCopiedValue(ctx, copy.data()), kOk);
  EXPECT_TRUE(Take() == original);
}

}  // namespace

namespace {

class Reshape : public StackFixture {};

TEST_F(Reshape, ValuesKeepTheirStorageOrder) {
  PushRow({1, 2, 3, 4, 5, 6});
  const int32_t two[] = {2, 3};
  ASSERT_EQ(ReshapeTopValue(ctx, 2, two), kOk);
  EXPECT_EQ(Top().extra, 3);
  const int32_t cube[] = {1, 2, 3};
  ASSERT_EQ(ReshapeTopValue(ctx, 3, cube), kOk);
  EXPECT_EQ(Top().kind, uint32_t{kBoxed}) << "doubles of three dimensions are boxed";
  double* re = nullptr;
  int64_t count = 0;
  ASSERT_EQ(GetDoubleArrayArg(ctx, 0, nullptr, nullptr, &count, &re, nullptr), kOk);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(re[5], 6.0);
  ASSERT_EQ(ReshapeTopValue(ctx, 0, nullptr), kOk);
  EXPECT_EQ(Top().kind, 0u) << "back to a plain column";
  EXPECT_EQ(Top().extra, 1);
  EXPECT_EQ(TopData(ctx)[5].f, 6.0);

  const int32_t wrong[] = {4, 2};
  const Snapshot before = Take();
  EXPECT_EQ(ReshapeTopValue(ctx, 2, wrong), kBadSize);
  EXPECT_TRUE(Take() == before);
  const int32_t many[17] = {6, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(ReshapeTopValue(ctx, 17, many), kOutOfRangeArg);

  ASSERT_EQ(PushStringFromBytes(ctx, 4, "abcd"), kOk);
  const int32_t square[] = {2, 2};
  ASSERT_EQ(ReshapeTopValue(ctx, 2, square), kOk);
  EXPECT_TRUE(IsCharArg(ctx, 0));
  int32_t dims[kMaxDims];
  ASSERT_EQ(GetArgDims(ctx, 0, nullptr, dims, nullptr), kOk);
  EXPECT_EQ(dims[0], 2);
}

TEST_F(Reshape, ServicesAreReachedThroughTheTable) {
  auto push = GetServiceTable(ctx)->PushRealScalar;
  auto pop = GetServiceTable(ctx)->PopRealScalar;
  auto rotate = GetServiceTable(ctx)->RotateValues;
  ASSERT_NE(push, nullptr);
  ASSERT_EQ(push(ctx, 1.5), kOk);
  ASSERT_EQ(push(ctx, 2.5), kOk);
  ASSERT_EQ(rotate(ctx, 2, 1), kOk);
  double x = 0;
  ASSERT_EQ(pop(ctx, &x), kOk);
  EXPECT_EQ(x, 1.5);
}

}  // namespace

namespace {

class TextBuffers : public StackFixture {
 protected:
  std::u16string TopText() {
    const ArrayView a = ReadArray(TopData(ctx));
    const auto* codes = reinterpret_cast<const char16_t*>(a.data);
    return std::u16string(codes, codes + a.count);
  }
};

// A two-byte charset for the test: a byte 0x80 or above leads a pair.
bool PairDecoder(const char* text, uint16_t* out, int* position, int length) {
  const auto* b = reinterpret_cast<const uint8_t*>(text);
  const int p = *position;
  if (b[p] < 0x80 || p + 1 >= length) {
    *out = b[p];
    *position = p + 1;
    return true;
  }
  *out = static_cast<uint16_t>(b[p] << 8 | b[p + 1]);
  *position = p + 2;
  return true;
}

TEST_F(TextBuffers, WideAndCharsetText) {
  const uint16_t wide[] = {0x263A, 'x', 0};
  ASSERT_EQ(PushStringFromWideText(ctx, -1, wide), kOk);
  EXPECT_EQ(TopText(), u"\u263Ax");

  int64_t length = 5;
  uint16_t* buffer = nullptr;
  ASSERT_EQ(ReserveWideStringBuffer(ctx, &length, &buffer), kOk);
  buffer[0] = 'o', buffer[1] = 'k';
  ASSERT_EQ(FinishWideStringBuffer(ctx, 2), kOk);
  EXPECT_EQ(TopText(), u"ok");
  EXPECT_EQ(Top().cells, 3);
  EXPECT_EQ(FinishWideStringBuffer(ctx, 3), kBadArg) << "more than was reserved";

  ctx->charsetDecode = PairDecoder;
  ASSERT_EQ(PushStringFromCharsetText(ctx, 4, "a\x81\x02z"), kOk);
  EXPECT_EQ(TopText(), u"a\u8102z");
  length = 8;
  char* bytes = nullptr;
  ASSERT_EQ(ReserveEncodedTextBuffer(ctx, &length, &bytes), kOk);
  EXPECT_EQ(length, 8) << "an explicit length is taken as is";
  std::memcpy(bytes, "\x90\x01q", 3);
  ASSERT_EQ(FinishCharsetTextBuffer(ctx, 3), kOk);
  EXPECT_EQ(TopText(), u"\u9001q");
  ctx->charsetDecode = nullptr;
  ASSERT_EQ(PushStringFromCharsetText(ctx, 2, "\x81\x02"), kOk);
  EXPECT_EQ(TopText(), u"\u0081\u0002") << "without a charset each byte is a character";
}

TEST_F(TextBuffers, InlineFunctionParts) {
  // {3 code words; source "x+1"; padding to 8 bytes; one captured scalar}
  void* payload = nullptr;
  ASSERT_EQ(PushBoxedValue(ctx, kInlineFunction, 16 + 24, &payload), kOk);
  auto* words = static_cast<int16_t*>(payload);
  words[0] = 3, words[1] = 10, words[2] = 20, words[3] = 30, words[4] = 3;
  std::memcpy(words + 5, "x+1", 3);
  auto* cells = static_cast<Cell*>(payload);
  cells[2].u = 0, cells[3].u = 1, cells[4].f = 42.0;  // a copied value: {0, 1, 1} then its cell
  const int16_t* code = nullptr;
  const char* source = nullptr;
  int sourceLength = 0;
  Cell* captured = nullptr;
  ASSERT_EQ(GetInlineFunctionParts(ctx, 0, &code, &source, &sourceLength, &captured), kOk);
  EXPECT_EQ(code[2], 30);
  EXPECT_EQ(std::string(source, sourceLength), "x+1");
  EXPECT_EQ(captured, cells + 2);

  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  EXPECT_EQ(GetInlineFunctionParts(ctx, 0, &code, &source, &sourceLength, &captured), kWrongTypeInternal);
}

}  // namespace
