// Indexing kernels: positions and splits, index conversion and analysis, the
// gather and scatter over every array class, deletion plans, and selections
// from lists, cells and structure arrays.
#include "engine/indexing.h"

#include <cmath>
#include <vector>

#include "stack_fixture.h"

namespace {

class Indexing : public StackFixture {
 protected:
  // A double array of those dims holding values in storage order.
  void PushDoubles(std::vector<int32_t> dims, std::vector<double> values, std::vector<double> imag = {}) {
    double* re = nullptr;
    double* im = nullptr;
    ASSERT_EQ(PushDoubleArray(ctx, static_cast<int>(dims.size()), dims.data(), &re, imag.empty() ? nullptr : &im), kOk);
    std::copy(values.begin(), values.end(), re);
    std::copy(imag.begin(), imag.end(), im);
  }
  void PushInt32s(std::vector<int32_t> dims, std::vector<int32_t> values) {
    void* data = nullptr;
    ASSERT_EQ(PushIntegerArray(ctx, static_cast<int>(dims.size()), dims.data(), 4, false, &data), kOk);
    std::copy(values.begin(), values.end(), static_cast<int32_t*>(data));
  }
  void PushMask(std::vector<int32_t> dims, std::vector<uint8_t> bits) {
    uint8_t* data = nullptr;
    ASSERT_EQ(PushLogicalArray(ctx, static_cast<int>(dims.size()), dims.data(), &data), kOk);
    std::copy(bits.begin(), bits.end(), data);
  }

  // The top value's dims and its elements as doubles (real parts, then imaginary).
  std::vector<int32_t> TopDims() {
    int nd = 0;
    int32_t dims[kMaxDims];
    EXPECT_EQ(GetArgDims(ctx, 0, &nd, dims, nullptr), kOk);
    return {dims, dims + nd};
  }
  std::vector<double> TopValues(int position = 0) {
    NumericView v;
    EXPECT_TRUE(ReadNumeric(ctx, position, &v));
    std::vector<double> out;
    for (int64_t k = 0; k < v.count; ++k) out.push_back(RealElement(v, k));
    if (IsComplexClass(v.cls))
      for (int64_t k = 0; k < v.count; ++k) out.push_back(ImagElement(v, k));
    return out;
  }

  // Selects from the double value at the position below the index values.
  [[nodiscard]] StatusCode SelectDoubles(int n, uint32_t colons) {
    const int k = n - __builtin_popcount(colons & ((1u << n) - 1));
    int nd = 0;
    int32_t dims[kMaxDims];
    double* re = nullptr;
    double* im = nullptr;
    EXPECT_EQ(GetDoubleArrayArg(ctx, k, &nd, dims, nullptr, &re, &im), kOk);
    int count = 0;
    if (StatusCode st = ConvertIndexArguments(ctx, n, colons, &count, true); st != kOk) return st;
    return SelectArrayElements(ctx, re, im, nd, dims, kNumericArray, kDoubleElements, im ? kComplexDouble : kDouble, n,
                               colons);
  }

  // Assigns into the double value below the new value and the index values.
  [[nodiscard]] StatusCode AssignDoubles(int n, uint32_t colons, bool* grew) {
    const int k = n - __builtin_popcount(colons & ((1u << n) - 1));
    int nd = 0;
    int32_t dims[kMaxDims];
    double* re = nullptr;
    double* im = nullptr;
    EXPECT_EQ(GetDoubleArrayArg(ctx, k + 1, &nd, dims, nullptr, &re, &im), kOk);
    if (StatusCode st = ConvertIndexArguments(ctx, n, colons, nullptr, false); st != kOk) return st;
    return AssignArrayElements(ctx, re, im, nd, dims, kDoubleElements, false, false, false, n, colons, grew);
  }
};

using V = std::vector<double>;
using D = std::vector<int32_t>;

TEST_F(Indexing, PositionsFollowTheStorageOrder) {
  const int32_t dims[] = {2, 3, 4, 5};
  const int32_t subs[] = {1, 2, 3, 4};
  EXPECT_EQ(SubscriptsToLinearIndex(4, dims, 4, subs), 119);
  EXPECT_EQ(SubscriptsToLinearIndex(4, dims, 1, subs + 2), 3);  // one subscript is the position
  EXPECT_EQ(SubscriptsToLinearIndex(4, dims, 0, subs), 0);
  // Subscripts past the dims count with size 1.
  const int32_t beyond[] = {1, 2, 0};
  EXPECT_EQ(SubscriptsToLinearIndex(2, dims, 3, beyond), 5);

  // Every position of the 2x3x4x5 array maps back to itself; the column
  // varies fastest, then the row, then the pages.
  int32_t s[4];
  for (int64_t p = 0; p < 120; ++p) {
    LinearIndexToSubscripts(4, dims, p, s);
    EXPECT_EQ(SubscriptsToLinearIndex(4, dims, 4, s), p);
  }
  LinearIndexToSubscripts(4, dims, 119, s);
  EXPECT_EQ(D(s, s + 4), D({1, 2, 3, 4}));
  LinearIndexToSubscripts(4, dims, 1, s);
  EXPECT_EQ(D(s, s + 4), D({0, 1, 0, 0}));
  LinearIndexToSubscripts(4, dims, 6, s);
  EXPECT_EQ(D(s, s + 4), D({0, 0, 1, 0}));
}

TEST_F(Indexing, SplitDimensions) {
  struct Case {
    D dims;
    int d, wantD;
    DimensionSplit want;
  };
  const Case kCases[] = {
      {{1, 1, 5}, -1, 2, {1, 1, 5}},   {{3, 4}, 0, 0, {1, 4, 3}},        {{3, 4}, 1, 1, {3, 1, 4}},
      {{3, 4}, -1, 0, {1, 4, 3}},      {{1, 4}, -1, 1, {1, 1, 4}},       {{1, 1}, -1, 0, {1, 1, 1}},
      {{2, 3, 4, 5}, 2, 2, {5, 6, 4}}, {{2, 3, 4, 5}, 0, 0, {20, 3, 2}}, {{2, 3}, 3, 3, {1, 6, 1}},
  };
  for (const Case& c : kCases) {
    int d = c.d;
    DimensionSplit s{};
    SplitDimensions(static_cast<int>(c.dims.size()), c.dims.data(), &d, &s);
    EXPECT_EQ(d, c.wantD) << c.dims.size() << " d=" << c.d;
    EXPECT_EQ(s.outer, c.want.outer) << "d=" << c.d;
    EXPECT_EQ(s.inner, c.want.inner) << "d=" << c.d;
    EXPECT_EQ(s.length, c.want.length) << "d=" << c.d;
  }
}

TEST_F(Indexing, ConvertIndexArgumentsReportsIndexErrors) {
  struct Case {
    V index;
    StatusCode want;
  };
  const Case kCases[] = {
      {{1, 2}, kOk}, {{2.5}, kNonIntegerIndex}, {{3e9}, kIndexOutOfRange}, {{NAN}, kIndexOutOfRange}};
  for (const Case& c : kCases) {
    Reset();
    PushRow({1, 2, 3});
    PushRow(c.index);
    const Snapshot before = Take();
    int count = -1;
    EXPECT_EQ(ConvertIndexArguments(ctx, 2, 0b01, &count, true), c.want) << c.index[0];
    EXPECT_EQ(count, 1);
    if (c.want != kOk) {
      EXPECT_TRUE(Take() == before) << c.index[0];
    }
  }
  // A list cannot index; a mask stays a mask; a char array gives its codes.
  Reset();
  PushRow({1, 2, 3});
  PushKind(Kind::kList);
  EXPECT_EQ(ConvertIndexArguments(ctx, 1, 0, nullptr, true), kBadIndexType);
  Reset();
  PushRow({1, 2, 3});
  PushMask({1, 3}, {1, 0, 1});
  ASSERT_EQ(PushStringFromBytes(ctx, 1, "a"), kOk);
  ASSERT_EQ(ConvertIndexArguments(ctx, 2, 0, nullptr, true), kOk);
  EXPECT_TRUE(IsLogicalArg(ctx, 1));
  EXPECT_EQ(TopValues(), V({97}));
  EXPECT_EQ(ReadArray(TopData(ctx)).cls, kInt32);

  // Indexing of a function reference is a call: its indices stay as they are.
  Reset();
  ASSERT_EQ(PushBoxedValue(ctx, kFunctionRef, 8, nullptr), kOk);
  PushRow({2.5});
  const Snapshot before = Take();
  EXPECT_EQ(ConvertIndexArguments(ctx, 1, 0, nullptr, true), kOk);
  EXPECT_TRUE(Take() == before);
}

TEST_F(Indexing, SelectFromDoubleMatrix) {
  // [1 2 3; 4 5 6]; linear positions run along the rows.
  struct Case {
    const char* what;
    std::vector<V> indices;  // each pushed as a row unless a column is asked for
    bool column;
    uint32_t colons;
    int n;
    D dims;
    V values;
  };
  const Case kCases[] = {
      {"x(2,3)", {{2}, {3}}, false, 0, 2, {1, 1}, {6}},
      {"x(:,2)", {{2}}, false, 0b01, 2, {2, 1}, {2, 5}},
      {"x(2,:)", {{2}}, false, 0b10, 2, {1, 3}, {4, 5, 6}},
      {"x([2 1],[3 1])", {{2, 1}, {3, 1}}, false, 0, 2, {2, 2}, {6, 4, 3, 1}},
      {"x(4)", {{4}}, false, 0, 1, {1, 1}, {4}},
      {"x([1 1 2])", {{1, 1, 2}}, false, 0, 1, {1, 3}, {1, 1, 2}},
      {"x([6;1])", {{6, 1}}, true, 0, 1, {2, 1}, {6, 1}},
      {"x(:)", {}, false, 0b1, 1, {6, 1}, {1, 2, 3, 4, 5, 6}},
      {"x(:,:)", {}, false, 0b11, 2, {2, 3}, {1, 2, 3, 4, 5, 6}},
      {"x()", {}, false, 0, 0, {2, 3}, {1, 2, 3, 4, 5, 6}},
      {"x([],2)", {{}, {2}}, false, 0, 2, {0, 0}, {}},
      {"x(2,3,1)", {{2}, {3}, {1}}, false, 0, 3, {1, 1}, {6}},
  };
  for (const Case& c : kCases) {
    Reset();
    PushDoubles({2, 3}, {1, 2, 3, 4, 5, 6});
    for (const V& index : c.indices) {
      if (c.column)
        PushDoubles({static_cast<int32_t>(index.size()), 1}, index);
      else
        PushDoubles({1, static_cast<int32_t>(index.size())}, index);
    }
    ASSERT_EQ(SelectDoubles(c.n, c.colons), kOk) << c.what;
    EXPECT_EQ(ctx->descLength, 6) << c.what;  // the indices are gone, the value stays
    EXPECT_EQ(TopDims(), c.dims) << c.what;
    EXPECT_EQ(TopValues(), c.values) << c.what;
  }
}

TEST_F(Indexing, SelectShapes) {
  struct Case {
    const char* what;
    D value;
    D index;
    D want;
  };
  const Case kCases[] = {
      {"1x1 by a row of ones", {1, 1}, {1, 3}, {3, 1}},
      {"1x1 by a column of ones", {1, 1}, {3, 1}, {1, 3}},
      {"column by a row", {3, 1}, {1, 3}, {3, 1}},
      {"row by a column", {1, 3}, {3, 1}, {1, 3}},
      {"matrix by a row", {2, 2}, {1, 3}, {1, 3}},
      {"matrix by a 3x1", {2, 2}, {3, 1}, {3, 1}},
      {"row by a 1x1x3 array", {1, 3}, {1, 1, 3}, {1, 1, 3}},
  };
  for (const Case& c : kCases) {
    Reset();
    int64_t n = 1;
    for (int32_t d : c.value) n *= d;
    PushDoubles(c.value, V(n, 7.0));
    int64_t m = 1;
    for (int32_t d : c.index) m *= d;
    PushDoubles(c.index, V(m, 1.0));
    ASSERT_EQ(SelectDoubles(1, 0), kOk) << c.what;
    EXPECT_EQ(TopDims(), c.want) << c.what;
  }
  // A mask gives a column, except on a row.
  Reset();
  PushDoubles({2, 2}, {1, 2, 3, 4});
  PushMask({2, 2}, {1, 0, 0, 1});
  ASSERT_EQ(SelectDoubles(1, 0), kOk);
  EXPECT_EQ(TopDims(), D({2, 1}));
  EXPECT_EQ(TopValues(), V({1, 4}));
  Reset();
  PushDoubles({1, 4}, {1, 2, 3, 4});
  PushMask({1, 4}, {0, 1, 1, 0});
  ASSERT_EQ(SelectDoubles(1, 0), kOk);
  EXPECT_EQ(TopDims(), D({1, 2}));
  EXPECT_EQ(TopValues(), V({2, 3}));
  // A mask along one of several dimensions.
  Reset();
  PushDoubles({2, 3}, {1, 2, 3, 4, 5, 6});
  PushMask({1, 3}, {1, 0, 1});
  ASSERT_EQ(SelectDoubles(2, 0b01), kOk);
  EXPECT_EQ(TopValues(), V({1, 3, 4, 6}));
}

TEST_F(Indexing, SelectFromFourDimensions) {
  const D dims = {2, 3, 4, 5};
  V all(120);
  for (int k = 0; k < 120; ++k) all[k] = k;
  PushDoubles(dims, all);
  for (double i : {2.0, 3.0, 4.0, 5.0}) ASSERT_EQ(PushRealScalar(ctx, i), kOk);
  ASSERT_EQ(SelectDoubles(4, 0), kOk);
  EXPECT_EQ(TopValues(), V({119}));
  PopValue(ctx);
  // x(:,:,2,1): the second page.
  ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(SelectDoubles(4, 0b0011), kOk);
  EXPECT_EQ(TopDims(), D({2, 3}));
  EXPECT_EQ(TopValues(), V({6, 7, 8, 9, 10, 11}));
  PopValue(ctx);
  // x(2,1,:): the last colon stands for the pages, 4 x 5 of them.
  ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(SelectDoubles(3, 0b100), kOk);
  EXPECT_EQ(TopDims(), D({1, 1, 4, 5}));
  EXPECT_EQ(TopValues()[1], 9);  // element (1, 0) of the page (k3 = 1, k4 = 0), which begins at 6
}

TEST_F(Indexing, SelectErrorsLeaveTheArguments) {
  struct Case {
    const char* what;
    D value;
    std::vector<V> indices;
    int n;
    uint32_t colons;
    StatusCode want;
  };
  const Case kCases[] = {
      {"past the end", {2, 3}, {{7}}, 1, 0, kIndexOutOfRange},
      {"zero", {2, 3}, {{1, 0}}, 1, 0, kIndexOutOfRange},
      {"row past the end", {2, 3}, {{3}, {1}}, 2, 0, kIndexOutOfRange},
      {"two of three dims", {2, 3, 4}, {{1}, {2}}, 2, 0, kWrongNumInd},
      {"17 indices", {2, 3}, {}, 17, 0x1FFFF, kBadDim},
  };
  for (const Case& c : kCases) {
    Reset();
    int64_t n = 1;
    for (int32_t d : c.value) n *= d;
    PushDoubles(c.value, V(n, 1.0));
    for (const V& index : c.indices) PushDoubles({1, static_cast<int32_t>(index.size())}, index);
    ASSERT_EQ(ConvertIndexArguments(ctx, c.n, c.colons, nullptr, false), kOk);
    const Snapshot before = Take();
    EXPECT_EQ(SelectDoubles(c.n, c.colons), c.want) << c.what;
    EXPECT_TRUE(Take() == before) << c.what;
  }
  // A mask one element short.
  Reset();
  PushDoubles({1, 4}, {1, 2, 3, 4});
  PushMask({1, 3}, {1, 1, 1});
  EXPECT_EQ(SelectDoubles(1, 0), kIncompSelectionSize);
  Reset();
  PushDoubles({2, 2}, {1, 2, 3, 4});
  PushMask({2, 3}, {1, 1, 1, 1, 1, 1});
  EXPECT_EQ(SelectDoubles(1, 0), kIncompSelectionSize);

  // No room for the result: nothing changes, and the same call then works.
  Reset();
  PushDoubles({1, 4}, {1, 2, 3, 4});
  PushRow({4, 3, 2, 1});
  ASSERT_EQ(ConvertIndexArguments(ctx, 1, 0, nullptr, false), kOk);
  FillData(3);
  ASSERT_EQ(RotateValues(ctx, 2, 1), kOk);  // the filler under the index
  const Snapshot before = Take();
  double* re = nullptr;
  ASSERT_EQ(GetDoubleMatrixArg(ctx, 2, nullptr, nullptr, &re, nullptr), kOk);
  const int32_t dims[] = {1, 4};
  EXPECT_EQ(SelectArrayElements(ctx, re, nullptr, 2, dims, kNumericArray, kDoubleElements, kDouble, 1, 0),
            kDataStackFull);
  EXPECT_TRUE(Take() == before);
  ASSERT_EQ(RotateValues(ctx, 2, 1), kOk);
  PopValue(ctx);  // the filler
  ASSERT_EQ(GetDoubleMatrixArg(ctx, 1, nullptr, nullptr, &re, nullptr), kOk);
  ASSERT_EQ(SelectArrayElements(ctx, re, nullptr, 2, dims, kNumericArray, kDoubleElements, kDouble, 1, 0), kOk);
  EXPECT_EQ(TopValues(), V({4, 3, 2, 1}));
}

// Every class through the same selection x([4 2]) of a 1 x 4 value holding 1..4.
TEST_F(Indexing, SelectKeepsEveryClass) {
  struct Case {
    const char* what;
    uint32_t cls;
    int32_t subtype;
  };
  const Case kCases[] = {
      {"double", kDouble, kNumericArray}, {"complex", kComplexDouble, kNumericArray},
      {"single", kSingle, kNumericArray}, {"complex single", kComplexSingle, kNumericArray},
      {"int8", kInt8, kNumericArray},     {"int16", kInt16, kNumericArray},
      {"uint32", kUint32, kNumericArray}, {"int64", kInt64, kNumericArray},
      {"uint64", kUint64, kNumericArray}, {"char", kUint16, kCharArray},
      {"logical", kUint8, kLogicalArray},
  };
  for (const Case& c : kCases) {
    Reset();
    const int32_t dims[] = {1, 4};
    const void* re = nullptr;
    const void* im = nullptr;
    int kind = 0;
    if (c.cls == kDouble || c.cls == kComplexDouble) {
      PushDoubles({1, 4}, {1, 2, 3, 4}, c.cls == kComplexDouble ? V{10, 20, 30, 40} : V{});
      double* r = nullptr;
      double* i = nullptr;
      ASSERT_EQ(GetDoubleMatrixArg(ctx, 0, nullptr, nullptr, &r, &i), kOk);
      re = r, im = i;
      kind = kDoubleElements;
    } else if (c.cls == kSingle || c.cls == kComplexSingle) {
      float* r = nullptr;
      float* i = nullptr;
      ASSERT_EQ(PushSingleArray(ctx, 2, dims, &r, c.cls == kComplexSingle ? &i : nullptr), kOk);
      for (int k = 0; k < 4; ++k) {
        r[k] = static_cast<float>(k + 1);
        if (i) i[k] = static_cast<float>(10 * (k + 1));
      }
      re = r, im = i;
      kind = kSingleElements;
    } else {
      void* data = nullptr;
      const int bytes = static_cast<int>(c.cls & 0x7F);
      ASSERT_EQ(PushIntegerArray(ctx, 2, dims, bytes, (c.cls & 0x80) != 0, &data), kOk);
      DescriptorAt(ctx, 0)->extra = c.subtype;
      auto* b = static_cast<uint8_t*>(data);
      for (int k = 0; k < 4; ++k) {
        const int64_t v = c.subtype == kLogicalArray ? (k % 2) : k + 1;
        std::memcpy(b + k * bytes, &v, bytes);
      }
      re = data;
      kind = bytes;
    }
    PushRow({4, 2});
    ASSERT_EQ(ConvertIndexArguments(ctx, 1, 0, nullptr, true), kOk);
    ASSERT_EQ(SelectArrayElements(ctx, re, im, 2, dims, c.subtype, kind, c.cls, 1, 0), kOk) << c.what;
    EXPECT_EQ(ctx->descLength, 6) << c.what;
    NumericView v;
    ASSERT_TRUE(ReadNumeric(ctx, 0, &v));
    EXPECT_EQ(v.cls, c.cls) << c.what;
    EXPECT_EQ(DescriptorAt(ctx, 0)->extra, c.cls == kDouble || c.cls == kComplexDouble ? 2 : c.subtype) << c.what;
    if (c.subtype == kLogicalArray)
      EXPECT_EQ(TopValues(), V({1, 1})) << c.what;
    else if (IsComplexClass(c.cls))
      EXPECT_EQ(TopValues(), V({4, 2, 40, 20})) << c.what;
    else
      EXPECT_EQ(TopValues(), V({4, 2})) << c.what;
  }
}

TEST_F(Indexing, AssignmentGrowth) {
  struct Case {
    const char* what;
    D value;
    std::vector<V> indices;
    V x;
    StatusCode want;
    D dims;
    V values;
  };
  const Case kCases[] = {
      {"row x(5)", {1, 3}, {{5}}, {9}, kOk, {1, 5}, {1, 2, 3, 0, 9}},
      {"column x(5)", {3, 1}, {{5}}, {9}, kOk, {5, 1}, {1, 2, 3, 0, 9}},
      {"scalar x(3)", {1, 1}, {{3}}, {9}, kOk, {1, 3}, {1, 0, 9}},
      {"matrix x(5)", {2, 2}, {{5}}, {9}, kIndexOutOfRange, {}, {}},
      {"row x([5 4])", {1, 3}, {{5, 4}}, {9, 8}, kOk, {1, 5}, {1, 2, 3, 8, 9}},
      {"matrix x(3,3)", {2, 2}, {{3}, {3}}, {9}, kOk, {3, 3}, {1, 2, 0, 3, 4, 0, 0, 0, 9}},
      {"matrix x(1,2,2)", {2, 2}, {{1}, {2}, {2}}, {9}, kOk, {2, 2, 2}, {1, 2, 3, 4, 0, 9, 0, 0}},
      {"3-D x(9)", {2, 2, 2}, {{9}}, {9}, kIndexOutOfRange, {}, {}},
      {"x(0)", {1, 3}, {{0}}, {9}, kIndexOutOfRange, {}, {}},
      {"size mismatch", {1, 3}, {{1, 2}}, {7, 8, 9}, kIncompAsgnSize, {}, {}},
  };
  for (const Case& c : kCases) {
    Reset();
    int64_t n = 1;
    for (int32_t d : c.value) n *= d;
    V start(n);
    for (int64_t k = 0; k < n; ++k) start[k] = static_cast<double>(k + 1);
    PushDoubles(c.value, start);
    PushRow(c.x);
    for (const V& index : c.indices) PushDoubles({1, static_cast<int32_t>(index.size())}, index);
    const int k = static_cast<int>(c.indices.size());
    ASSERT_EQ(ConvertIndexArguments(ctx, k, 0, nullptr, false), kOk);
    const Snapshot before = Take();
    bool grew = false;
    EXPECT_EQ(AssignDoubles(k, 0, &grew), c.want) << c.what;
    if (c.want != kOk) {
      EXPECT_TRUE(Take() == before) << c.what;
      continue;
    }
    EXPECT_TRUE(grew) << c.what;
    ASSERT_EQ(ctx->descLength, 9) << c.what;  // target, new value, grown array
    EXPECT_EQ(TopDims(), c.dims) << c.what;
    EXPECT_EQ(TopValues(), c.values) << c.what;
  }
}

TEST_F(Indexing, AssignmentInPlace) {
  // Repeated indices: the later element wins; a scalar is repeated.
  PushDoubles({2, 3}, {1, 2, 3, 4, 5, 6});
  PushRow({7, 8});
  PushRow({2, 2});
  bool grew = true;
  ASSERT_EQ(AssignDoubles(1, 0, &grew), kOk);
  EXPECT_FALSE(grew);
  ASSERT_EQ(ctx->descLength, 6);
  EXPECT_EQ(TopValues(1), V({1, 8, 3, 4, 5, 6}));
  PopValue(ctx);
  ASSERT_EQ(PushRealScalar(ctx, 0), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
  ASSERT_EQ(AssignDoubles(2, 0b01, &grew), kOk);  // x(:,2) = 0
  EXPECT_EQ(TopValues(1), V({1, 0, 3, 4, 0, 6}));
  PopValue(ctx);
  // x(:) = 1:6 on the matrix fills it in storage order.
  PushRow({6, 5, 4, 3, 2, 1});
  ASSERT_EQ(AssignDoubles(1, 0b1, &grew), kOk);
  EXPECT_EQ(TopValues(1), V({6, 5, 4, 3, 2, 1}));

  // A complex target receives a real value: zero imaginary parts.
  Reset();
  PushDoubles({1, 2}, {1, 2}, {3, 4});
  ASSERT_EQ(PushRealScalar(ctx, 9), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(AssignDoubles(1, 0, &grew), kOk);
  EXPECT_FALSE(grew);
  EXPECT_EQ(TopValues(1), V({9, 2, 0, 4}));
}

TEST_F(Indexing, AssignmentConvertsClasses) {
  // A real double target receiving complex values becomes a new complex array.
  PushRow({1, 2, 3});
  ASSERT_EQ(PushComplexScalar(ctx, 1, 2), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
  bool grew = false;
  ASSERT_EQ(AssignDoubles(1, 0, &grew), kOk);
  EXPECT_TRUE(grew);
  EXPECT_EQ(TopDims(), D({1, 3}));
  EXPECT_EQ(TopValues(), V({1, 1, 3, 0, 2, 0}));

  struct Case {
    const char* what;
    uint32_t cls;
    int32_t subtype;
    double x;
    double want;
  };
  const Case kCases[] = {
      {"int8 keeps the low byte", kInt8, kNumericArray, 300.7, 44},
      {"uint16 of -1", kUint16, kNumericArray, -1, 65535},
      {"char", kUint16, kCharArray, 66, 66},
      {"logical is 0 or 1", kUint8, kLogicalArray, 5, 1},
      {"int64", kInt64, kNumericArray, -7, -7},
  };
  for (const Case& c : kCases) {
    Reset();
    const int bytes = static_cast<int>(c.cls & 0x7F);
    const int32_t dims[] = {1, 3};
    void* data = nullptr;
    ASSERT_EQ(PushIntegerArray(ctx, 2, dims, bytes, (c.cls & 0x80) != 0, &data), kOk);
    std::memset(data, 0, 3 * bytes);
    DescriptorAt(ctx, 0)->extra = c.subtype;
    ASSERT_EQ(PushRealScalar(ctx, c.x), kOk);
    ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
    ASSERT_EQ(ConvertIndexArguments(ctx, 1, 0, nullptr, false), kOk);
    ASSERT_EQ(AssignArrayElements(ctx, data, nullptr, 2, dims, bytes, (c.cls & 0x80) != 0, c.subtype == kCharArray,
                                  c.subtype == kLogicalArray, 1, 0, &grew),
              kOk)
        << c.what;
    EXPECT_FALSE(grew);
    EXPECT_EQ(TopValues(1), V({0, c.want, 0})) << c.what;
    EXPECT_EQ(DescriptorAt(ctx, 1)->extra, c.subtype) << c.what;

    // Growing keeps the class and the kind.
    PopValue(ctx);
    ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
    ASSERT_EQ(PushRealScalar(ctx, 5), kOk);
    ASSERT_EQ(ConvertIndexArguments(ctx, 1, 0, nullptr, false), kOk);
    ASSERT_EQ(AssignArrayElements(ctx, data, nullptr, 2, dims, bytes, (c.cls & 0x80) != 0, c.subtype == kCharArray,
                                  c.subtype == kLogicalArray, 1, 0, &grew),
              kOk)
        << c.what;
    EXPECT_TRUE(grew);
    EXPECT_EQ(DescriptorAt(ctx, 0)->extra, c.subtype) << c.what;
    EXPECT_EQ(ReadArray(TopData(ctx)).cls, c.cls) << c.what;
    EXPECT_EQ(TopValues(), V({0, c.want, 0, 0, 1})) << c.what;
  }

  // Single target with growth along a second index.
  Reset();
  float* f = nullptr;
  const int32_t dims[] = {1, 2};
  ASSERT_EQ(PushSingleArray(ctx, 2, dims, &f, nullptr), kOk);
  f[0] = 1, f[1] = 2;
  ASSERT_EQ(PushRealScalar(ctx, 0.5), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(ConvertIndexArguments(ctx, 2, 0, nullptr, false), kOk);
  ASSERT_EQ(AssignArrayElements(ctx, f, nullptr, 2, dims, kSingleElements, false, false, false, 2, 0, &grew), kOk);
  EXPECT_TRUE(grew);
  EXPECT_EQ(ReadArray(TopData(ctx)).cls, kSingle);
  EXPECT_EQ(TopDims(), D({2, 2}));
  EXPECT_EQ(TopValues(), V({1, 2, 0.5, 0}));

  // Without a target the class and shape come from the new value and the indices.
  Reset();
  PushInteger<int16_t>(ctx, -3);
  ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 3), kOk);
  ASSERT_EQ(ConvertIndexArguments(ctx, 2, 0, nullptr, false), kOk);
  ASSERT_EQ(AssignArrayElements(ctx, nullptr, nullptr, 0, nullptr, 0, false, false, false, 2, 0, &grew), kOk);
  EXPECT_TRUE(grew);
  EXPECT_EQ(ReadArray(TopData(ctx)).cls, kInt16);
  EXPECT_EQ(TopValues(), V({0, 0, 0, 0, 0, -3}));
  // x(:) = 'ab' on a new variable: a char row.
  Reset();
  ASSERT_EQ(PushStringFromBytes(ctx, 2, "ab"), kOk);
  ASSERT_EQ(AssignArrayElements(ctx, nullptr, nullptr, 0, nullptr, 0, false, false, false, 1, 0b1, &grew), kOk);
  EXPECT_TRUE(IsCharArg(ctx, 0));
  EXPECT_EQ(TopString(), "ab");
}

TEST_F(Indexing, DeletionPlans) {
  struct Case {
    const char* what;
    D value;
    std::vector<V> indices;
    int n;
    uint32_t colons;
    StatusCode want;
    DimensionSplit split;  // outer, inner, length
    int32_t deleted;
    D dims;
    D list;
  };
  const Case kCases[] = {
      {"x(:,[2 2 3])", {2, 4}, {{2, 2, 3}}, 2, 0b01, kOk, {2, 1, 4}, 2, {2, 2}, {1, 2}},
      {"x([3 1],:)", {3, 2}, {{3, 1}}, 2, 0b10, kOk, {1, 2, 3}, 2, {1, 2}, {0, 2}},
      {"x(:,:,2) of 2x3x2", {2, 3, 2}, {{2}}, 3, 0b011, kOk, {1, 6, 2}, 1, {2, 3}, {1}},
      {"x(:,:,1) of 2x3", {2, 3}, {{1}}, 3, 0b011, kOk, {1, 6, 1}, 1, {0, 0}, {0}},
      {"row x([4 2])", {1, 5}, {{4, 2}}, 1, 0, kOk, {1, 1, 5}, 2, {1, 3}, {1, 3}},
      {"column x(1)", {3, 1}, {{1}}, 1, 0, kOk, {1, 1, 3}, 1, {2, 1}, {0}},
      {"scalar x(1)", {1, 1}, {{1}}, 1, 0, kOk, {1, 1, 1}, 1, {0, 0}, {0}},
      {"matrix x(2)", {2, 3}, {{2}}, 1, 0, kOk, {1, 1, 6}, 1, {1, 5}, {1}},
      {"3-D x([1 12])", {2, 3, 2}, {{12, 1}}, 1, 0, kOk, {1, 1, 12}, 2, {1, 10}, {0, 11}},
      {"x(1,2)", {2, 3}, {{1}, {2}}, 2, 0, kDelMultipleDim, {}, 0, {}, {}},
      {"x([],2)", {2, 3}, {{}, {2}}, 2, 0, kOk, {1, 1, 6}, 0, {2, 3}, {}},
      {"x(7)", {2, 3}, {{7}}, 1, 0, kIndexOutOfRange, {}, 0, {}, {}},
      {"x(:,:)", {2, 3}, {}, 2, 0b11, kOk, {1, 1, 6}, 6, {0, 0}, {}},
  };
  for (const Case& c : kCases) {
    Reset();
    ASSERT_EQ(PushEmptyMatrix(ctx), kOk);  // the new value
    for (const V& index : c.indices) PushDoubles({1, static_cast<int32_t>(index.size())}, index);
    ASSERT_EQ(ConvertIndexArguments(ctx, c.n, c.colons, nullptr, false), kOk);
    DeletionPlan plan;
    const int32_t* list = nullptr;
    const uint8_t* mask = nullptr;
    ASSERT_EQ(
        PlanElementDeletion(ctx, static_cast<int>(c.value.size()), c.value.data(), c.n, c.colons, &plan, &list, &mask),
        c.want)
        << c.what;
    if (c.want != kOk) continue;
    EXPECT_TRUE(plan.deletes);
    EXPECT_EQ(plan.outer, c.split.outer) << c.what;
    EXPECT_EQ(plan.inner, c.split.inner) << c.what;
    EXPECT_EQ(plan.length, c.split.length) << c.what;
    EXPECT_EQ(plan.deleted, c.deleted) << c.what;
    EXPECT_EQ(D(plan.dims, plan.dims + plan.ndims), c.dims) << c.what;
    if (!c.list.empty()) {
      ASSERT_NE(list, nullptr) << c.what;
      EXPECT_EQ(D(list, list + plan.deleted), c.list) << c.what;
    }
    EXPECT_EQ(mask, nullptr);
  }

  // A mask plans its true positions; a new value with elements plans nothing.
  Reset();
  ASSERT_EQ(PushEmptyMatrix(ctx), kOk);
  PushMask({1, 4}, {0, 1, 1, 0});
  DeletionPlan plan;
  const uint8_t* mask = nullptr;
  const int32_t row[] = {1, 4};
  ASSERT_EQ(PlanElementDeletion(ctx, 2, row, 1, 0, &plan, nullptr, &mask), kOk);
  EXPECT_NE(mask, nullptr);
  EXPECT_EQ(plan.deleted, 2);
  EXPECT_EQ(D(plan.dims, plan.dims + plan.ndims), D({1, 2}));
  Reset();
  ASSERT_EQ(PushRealScalar(ctx, 5), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(ConvertIndexArguments(ctx, 1, 0, nullptr, false), kOk);
  ASSERT_EQ(PlanElementDeletion(ctx, 2, row, 1, 0, &plan, nullptr, nullptr), kOk);
  EXPECT_FALSE(plan.deletes);
}

class CompositeIndexing : public Indexing {
 protected:
  // A 1 x 3 cell array {10, 'ab', 30}.
  void PushCell() {
    ASSERT_EQ(PushRealScalar(ctx, 10), kOk);
    ASSERT_EQ(PushStringFromBytes(ctx, 2, "ab"), kOk);
    ASSERT_EQ(PushRealScalar(ctx, 30), kOk);
    ASSERT_EQ(MakeListFromValues(ctx, 3, false, nullptr, 0), kOk);
    const int32_t dims[] = {1, 3};
    ASSERT_EQ(ReshapeTopCellArray(ctx, 2, dims), kOk);
  }
  // A 3 x 1 structure array with fields a (1, 2, 3) and b ('x').
  void PushStructArray() {
    for (double a : {1.0, 2.0, 3.0}) {
      ASSERT_EQ(PushRealScalar(ctx, a), kOk);
      ASSERT_EQ(MakeListFromValues(ctx, 1, false, "a", 1), kOk);
      ASSERT_EQ(PushStringFromBytes(ctx, 1, "x"), kOk);
      ASSERT_EQ(MakeListFromValues(ctx, 1, true, "b", 1), kOk);
    }
    ASSERT_EQ(MakeListFromValues(ctx, 3, false, nullptr, 0), kOk);
    ASSERT_EQ(ConvertTopToStructArray(ctx), kOk);
  }
  std::vector<int32_t> TopInts() {
    const ArrayView a = ReadArray(TopData(ctx));
    const auto* p = reinterpret_cast<const int32_t*>(a.data);
    return {p, p + a.count};
  }
  double ScalarElement(int position, int32_t index) {
    EXPECT_EQ(PushListElement(ctx, position, index), kOk);
    double x = 0;
    EXPECT_EQ(PopRealScalar(ctx, &x), kOk);
    return x;
  }
};

TEST_F(CompositeIndexing, OffsetTableAndGatherOfCells) {
  PushCell();
  ASSERT_EQ(BuildElementOffsetTable(ctx, 0, false), kOk);
  EXPECT_EQ(TopDims(), D({1, 3}));
  // The dims element takes 5 cells, a scalar 2 + 1, the string 2 + 2.
  EXPECT_EQ(TopInts(), D({5, 8, 13}));
  // c([3 1]) through the table.
  const D table = TopInts();
  PushRow({3, 1});
  ASSERT_EQ(ConvertIndexArguments(ctx, 1, 0, nullptr, false), kOk);
  const int32_t dims[] = {1, 3};
  ASSERT_EQ(SelectArrayElements(ctx, table.data(), nullptr, 2, dims, kNumericArray, 4, kInt32, 1, 0), kOk);
  int32_t f = 99;
  ASSERT_EQ(GatherCompositeElements(ctx, 2, &f), kOk);
  EXPECT_EQ(f, -1);
  EXPECT_EQ(Top().extra, kCellArray);
  EXPECT_EQ(TopDims(), D({1, 2}));
  EXPECT_EQ(ScalarElement(0, 1), 30);
  EXPECT_EQ(ScalarElement(0, 2), 10);

  // Absolute offsets, given with position -1.
  Reset();
  PushCell();
  ASSERT_EQ(BuildElementOffsetTable(ctx, 0, true), kOk);
  EXPECT_EQ(TopInts()[0], 5);  // the cell is the only value: its data starts at the base
  f = -1;
  ASSERT_EQ(GatherCompositeElements(ctx, -1, &f), kOk);
  EXPECT_EQ(TopDims(), D({1, 3}));
  EXPECT_EQ(ScalarElement(0, 3), 30);

  // An empty table gives an empty cell array.
  Reset();
  PushCell();
  PushInt32s({0, 0}, {});
  f = 0;
  ASSERT_EQ(GatherCompositeElements(ctx, 1, &f), kOk);
  EXPECT_EQ(Top().extra, kCellArray);
  EXPECT_EQ(TopDims(), D({0, 0}));
  // An offset outside the composite is refused.
  Reset();
  PushCell();
  PushInt32s({1, 1}, {400});
  const Snapshot before = Take();
  EXPECT_EQ(GatherCompositeElements(ctx, 1, &f), kIndexOutOfRange);
  EXPECT_TRUE(Take() == before);
}

TEST_F(CompositeIndexing, GatherOfStructures) {
  PushStructArray();
  ASSERT_EQ(BuildElementOffsetTable(ctx, 0, false), kOk);
  EXPECT_EQ(TopDims(), D({3, 1}));
  const D table = TopInts();
  ASSERT_EQ(table.size(), 3u);
  EXPECT_LT(table[0], table[1]);

  // One structure selected: a structure with both fields.
  PushInt32s({1, 1}, {table[1]});
  int32_t f = -5;
  ASSERT_EQ(GatherCompositeElements(ctx, 2, &f), kOk);
  EXPECT_EQ(f, 2);
  EXPECT_EQ(Top().extra, kStruct);
  ASSERT_EQ(PushStructField(ctx, 0, "a", 1), kOk);
  EXPECT_EQ(TopScalar(), 2);
  PopValue(ctx);
  PopValue(ctx);
  PopValue(ctx);

  // Two selected, in a row: a 1 x 2 structure array of the same fields.
  PushInt32s({1, 2}, {table[2], table[0]});
  ASSERT_EQ(GatherCompositeElements(ctx, 2, &f), kOk);
  EXPECT_EQ(Top().extra, kStructArray);
  EXPECT_EQ(TopDims(), D({1, 2}));
  ASSERT_EQ(PushListElement(ctx, 0, 1), kOk);
  ASSERT_EQ(PushStructField(ctx, 0, "a", 1), kOk);
  EXPECT_EQ(TopScalar(), 3);
  PopValue(ctx);
  ASSERT_EQ(PushStructField(ctx, 0, "b", 1), kOk);
  EXPECT_EQ(TopString(), "x");
  PopValue(ctx);
  PopValue(ctx);
  PopValue(ctx);
  PopValue(ctx);

  // None selected: an empty structure.
  PushInt32s({0, 0}, {});
  ASSERT_EQ(GatherCompositeElements(ctx, 2, &f), kOk);
  EXPECT_EQ(Top().kind, kComposite);
  EXPECT_EQ(Top().extra, kStruct);
  EXPECT_EQ(Top().cells, 0);

  // A single structure is a 1 x 1 table.
  Reset();
  PushKind(Kind::kStruct);
  ASSERT_EQ(BuildElementOffsetTable(ctx, 0, false), kOk);
  EXPECT_EQ(TopDims(), D({1, 1}));
  EXPECT_EQ(TopInts(), D({0}));
  // A list is 1 x n, an empty one 0 x 0; plain values have no table.
  Reset();
  PushKind(Kind::kList);
  ASSERT_EQ(BuildElementOffsetTable(ctx, 0, false), kOk);
  EXPECT_EQ(TopDims(), D({0, 0}));
  Reset();
  PushRow({1, 2});
  EXPECT_EQ(BuildElementOffsetTable(ctx, 0, false), kWrongTypeInternal);
}

TEST_F(CompositeIndexing, PushSelectedListElements) {
  PushCell();
  int64_t count = 0;
  CompositeElementHeader* first = nullptr;
  ASSERT_EQ(GetCompositeArgInfo(ctx, 0, 'c', nullptr, nullptr, &count, nullptr, &first), kOk);
  PushInt32s({1, 3}, {3, 1, 3});
  ASSERT_EQ(PushSelectedListElements(ctx, first, static_cast<int32_t>(count), false), kOk);
  EXPECT_EQ(ctx->descLength, 6);  // the index array is gone
  EXPECT_EQ(Top().extra, kList);
  EXPECT_EQ(ScalarElement(0, 1), 30);
  EXPECT_EQ(ScalarElement(0, 2), 10);
  EXPECT_EQ(ScalarElement(0, 3), 30);
  PopValue(ctx);

  ASSERT_EQ(GetCompositeArgInfo(ctx, 0, 'c', nullptr, nullptr, &count, nullptr, &first), kOk);
  ASSERT_EQ(PushSelectedListElements(ctx, first, static_cast<int32_t>(count), true), kOk);
  EXPECT_EQ(Top().extra, kList);
  int32_t n = 0;
  ASSERT_EQ(GetListArg(ctx, 0, &n, nullptr), kOk);
  EXPECT_EQ(n, 3);
  PopValue(ctx);

  struct Case {
    const char* what;
    bool asDouble;
    D index;
    StatusCode want;
  };
  const Case kCases[] = {
      {"past the end", false, {4}, kIndexOutOfRange},
      {"zero", false, {0}, kIndexOutOfRange},
      {"not int32", true, {1}, kIllegal},
  };
  for (const Case& c : kCases) {
    ASSERT_EQ(GetCompositeArgInfo(ctx, 0, 'c', nullptr, nullptr, &count, nullptr, &first), kOk);
    if (c.asDouble)
      PushRow({1});
    else
      PushInt32s({1, 1}, c.index);
    const Snapshot before = Take();
    EXPECT_EQ(PushSelectedListElements(ctx, first, static_cast<int32_t>(count), false), c.want) << c.what;
    EXPECT_TRUE(Take() == before) << c.what;
    PopValue(ctx);
  }
}

}  // namespace
