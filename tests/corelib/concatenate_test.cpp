// Joining values: the class the first operand decides, sizes and ignored
// empties, N-d cat, cells and structures with different fields, room; then
// reshape, squeeze, permute and the index conversions.
#include <cmath>
#include <functional>

#include "corelib/corelib.h"
#include "tests/corelib/stack_values.h"

namespace {

using ConcatenateTest = StackValuesTest;

TEST_F(ConcatenateTest, FirstOperandDecidesTheClass) {
  struct Case {
    const char* what;
    std::function<void(ConcatenateTest*)> push;
    uint32_t cls;
    int32_t subtype;
    std::vector<double> want;
  };
  const Case kCases[] = {
      {"[65, 'abc']", [](ConcatenateTest* t) { t->Scalar(65), t->Text("abc"); }, kDouble, 0, {65, 97, 98, 99}},
      {"['abc', 65]", [](ConcatenateTest* t) { t->Text("abc"), t->Scalar(65); }, kUint16, kCharArray, {97, 98, 99, 65}},
      {"[[], 'abc']", [](ConcatenateTest* t) { t->Empty(), t->Text("abc"); }, kDouble, 0, {97, 98, 99}},
      {"[1, int8(100)]", [](ConcatenateTest* t) { t->Scalar(1), t->Integers(kInt8, {100}); }, kDouble, 0, {1, 100}},
      {"[int8(1), 200.7]",
       [](ConcatenateTest* t) { t->Integers(kInt8, {1}), t->Scalar(200.7); },
       kInt8,
       kNumericArray,
       {1, -56}},
      {"[true, 2]", [](ConcatenateTest* t) { t->Logicals({1}), t->Scalar(2); }, kUint8, kLogicalArray, {1, 1}},
      {"[true, NaN, 0]",
       [](ConcatenateTest* t) {
         t->Logicals({1}), t->Row({NAN, 0});
       },
       kUint8,
       kLogicalArray,
       {1, 0, 0}},
      {"[uint8(250), true, int16(-1)]",
       [](ConcatenateTest* t) { t->Integers(kUint8, {250}), t->Logicals({1}), t->Integers(kInt16, {-1}); },
       kUint8,
       kNumericArray,
       {250, 1, 255}},
      {"[single(1.5), 2, 'a']",
       [](ConcatenateTest* t) { t->Singles({1.5}), t->Scalar(2), t->Text("a"); },
       kSingle,
       kNumericArray,
       {1.5, 2, 97}},
      {"['a', int8(-1)]",
       [](ConcatenateTest* t) { t->Text("a"), t->Integers(kInt8, {-1}); },
       kUint16,
       kCharArray,
       {97, 65535}},
  };
  for (const Case& c : kCases) {
    SetUp();
    c.push(this);
    const int n = ctx->descLength / 3;
    ASSERT_EQ(ConcatenateValues(ctx, n, 2), kOk) << c.what;
    ASSERT_EQ(ctx->descLength, 3) << c.what;
    const Seen s = TopArray();
    EXPECT_EQ(s.cls, c.cls) << c.what;
    EXPECT_EQ(s.subtype, c.subtype) << c.what;
    EXPECT_EQ(s.re, c.want) << c.what;
  }
}

TEST_F(ConcatenateTest, SizesAlongEachDimension) {
  // [1 2; 3 4] from two rows: storage is row by row.
  Row({1, 2});
  Row({3, 4});
  ASSERT_EQ(ConcatenateValues(ctx, 2, 1), kOk);
  EXPECT_EQ(TopArray().dims, (std::vector<uint32_t>{2, 2}));
  EXPECT_EQ(TopArray().re, (std::vector<double>{1, 2, 3, 4}));

  // [[1; 2], [3; 4]] interleaves the columns.
  SetUp();
  Doubles({2, 1}, {1, 2});
  Doubles({2, 1}, {3, 4});
  ASSERT_EQ(ConcatenateValues(ctx, 2, 2), kOk);
  EXPECT_EQ(TopArray().re, (std::vector<double>{1, 3, 2, 4}));

  // cat(3, A, B) stacks pages; the dimension operand goes too.
  SetUp();
  Scalar(3);
  Doubles({2, 2}, {1, 2, 3, 4});
  Doubles({2, 2}, {5, 6, 7, 8});
  ASSERT_EQ(ConcatenateValues(ctx, 3, -1), kOk);
  ASSERT_EQ(ctx->descLength, 3);
  EXPECT_EQ(TopArray().dims, (std::vector<uint32_t>{2, 2, 2}));
  EXPECT_EQ(TopArray().re, (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8}));

  // cat(2, A, B) of 2x1x2 arrays: each page's rows grow.
  SetUp();
  Scalar(2);
  Doubles({2, 1, 2}, {1, 2, 3, 4});
  Doubles({2, 1, 2}, {5, 6, 7, 8});
  ASSERT_EQ(ConcatenateValues(ctx, 3, -1), kOk);
  EXPECT_EQ(TopArray().dims, (std::vector<uint32_t>{2, 2, 2}));
  EXPECT_EQ(TopArray().re, (std::vector<double>{1, 5, 2, 6, 3, 7, 4, 8}));

  // Empty operands before the base and after it are passed over.
  SetUp();
  Empty();
  Filled({5, 2}, 1);
  Empty();
  ASSERT_EQ(ConcatenateValues(ctx, 3, 2), kOk);
  EXPECT_EQ(TopArray().dims, (std::vector<uint32_t>{5, 2}));

  // A real operand joined to a complex one contributes zero imaginary parts.
  SetUp();
  Scalar(1);
  Doubles({1, 1}, {0}, {2});
  ASSERT_EQ(ConcatenateValues(ctx, 2, 2), kOk);
  EXPECT_EQ(TopArray().im, (std::vector<double>{0, 2}));
}

TEST_F(ConcatenateTest, NoOperandOneOperandAndErrors) {
  ASSERT_EQ(ConcatenateValues(ctx, 0, 1), kOk);
  EXPECT_EQ(Top().cells, 0);
  EXPECT_EQ(ctx->descLength, 3);

  SetUp();
  Scalar(3);
  Text("x");
  ASSERT_EQ(ConcatenateValues(ctx, 2, -1), kOk);
  EXPECT_EQ(ctx->descLength, 3);
  EXPECT_EQ(TopArray().subtype, kCharArray);

  struct Case {
    const char* what;
    std::function<void(ConcatenateTest*)> push;
    int dimension;
    StatusCode want;
  };
  const Case kCases[] = {
      {"[1 2; 1 2 3]",
       [](ConcatenateTest* t) {
         t->Row({1, 2}), t->Row({1, 2, 3});
       },
       1, kIncompSize},
      {"cat(1, ones(2,2), ones(2,2,3))",
       [](ConcatenateTest* t) {
         t->Scalar(1), t->Filled({2, 2}, 1), t->Filled({2, 2, 3}, 1);
       },
       -1, kIncompSize},
      {"cat(17, a, b)", [](ConcatenateTest* t) { t->Scalar(17), t->Scalar(1), t->Scalar(2); }, -1, kBadDim},
      {"cat(0, a, b)", [](ConcatenateTest* t) { t->Scalar(0), t->Scalar(1), t->Scalar(2); }, -1, kBadDim},
      {"cat(1.5, a, b)", [](ConcatenateTest* t) { t->Scalar(1.5), t->Scalar(1), t->Scalar(2); }, -1, kNonIntArg},
      {"cat({1}, a, b)", [](ConcatenateTest* t) { t->List({1}), t->Scalar(1), t->Scalar(2); }, -1, kWrongType},
      {"[s, 5]",
       [](ConcatenateTest* t) {
         t->Struct({{"a", 1}}), t->Scalar(5);
       },
       2, kWrongType},
      {"[5, s]",
       [](ConcatenateTest* t) {
         t->Scalar(5), t->Struct({{"a", 1}});
       },
       2, kWrongType},
      {"[{1}, 5]", [](ConcatenateTest* t) { t->List({1}), t->Scalar(5); }, 2, kWrongType},
      {"[{1}; {2, 3}]",
       [](ConcatenateTest* t) {
         t->List({1}), t->List({2, 3});
       },
       1, kIncompSize},
  };
  for (const Case& c : kCases) {
    SetUp();
    c.push(this);
    EXPECT_EQ(ConcatenateValues(ctx, ctx->descLength / 3, c.dimension), c.want) << c.what;
  }
}

TEST_F(ConcatenateTest, CellsJoinIntoACellArray) {
  List({1});
  List({2, 3});
  ASSERT_EQ(ConcatenateValues(ctx, 2, 2), kOk);
  ASSERT_EQ(ctx->descLength, 3);
  EXPECT_EQ(Top().extra, kCellArray);
  EXPECT_EQ(TopDims(), (std::vector<uint32_t>{1, 3}));
  for (int32_t k = 1; k <= 3; ++k) {
    ASSERT_EQ(PushListElement(ctx, 0, k), kOk);
    EXPECT_EQ(TopScalar(), k);
    PopValue(ctx);
  }
}

TEST_F(ConcatenateTest, StructuresGetTheGatheredFieldList) {
  Struct({{"a", 1}, {"b", 2}});
  Struct({{"b", 3}, {"c", 4}});
  ASSERT_EQ(ConcatenateValues(ctx, 2, 2), kOk);
  ASSERT_EQ(ctx->descLength, 3);
  EXPECT_EQ(Top().extra, kStructArray);
  EXPECT_EQ(TopDims(), (std::vector<uint32_t>{1, 2}));
  int64_t count = 0;
  int32_t fields = 0;
  CompositeElementHeader* e = nullptr;
  ASSERT_EQ(GetCompositeArgInfo(ctx, 0, 's', nullptr, nullptr, &count, &fields, &e), kOk);
  ASSERT_EQ(count, 2);
  ASSERT_EQ(fields, 3);
  // Fields of the last operand first, then the new ones of the earlier ones.
  const char* kNames[] = {"b", "c", "a"};
  const double kFirst[] = {2, NAN, 1};  // NaN: an empty field
  const double kSecond[] = {3, 4, NAN};
  auto* cell = reinterpret_cast<Cell*>(e);
  for (int s = 0; s < 2; ++s)
    for (int f = 0; f < 3; ++f) {
      const auto* h = reinterpret_cast<CompositeElementHeader*>(cell);
      EXPECT_EQ(Name(h->name), kNames[f]);
      const double want = (s == 0 ? kFirst : kSecond)[f];
      if (std::isnan(want)) {
        EXPECT_EQ(h->cells, 0) << s << f;
      } else {
        ASSERT_EQ(h->cells, 1);
        EXPECT_EQ(cell[kElementHeaderCells].f, want);
      }
      cell += kElementHeaderCells + h->cells;
    }
}

TEST_F(ConcatenateTest, ConformStructFieldsKeepsEverythingWithoutRoom) {
  Struct({{"a", 1}, {"b", 2}});
  const SymbolId names[] = {Symbol("b"), Symbol("x")};
  FillData(8);  // the new value needs 11 cells
  ASSERT_EQ(RotateValues(ctx, 2, 1), kOk);
  const std::vector<uint64_t> before = DataCells();
  const int32_t descs = ctx->descLength;
  EXPECT_EQ(ConformStructFields(ctx, names, 2), kDataStackFull);
  EXPECT_EQ(DataCells(), before);
  EXPECT_EQ(ctx->descLength, descs);
  ASSERT_EQ(RotateValues(ctx, 2, 1), kOk);
  PopValue(ctx);

  ASSERT_EQ(ConformStructFields(ctx, names, 2), kOk);
  EXPECT_EQ(Top().extra, kStructArray);
  int64_t count = 0;
  int32_t fields = 0;
  CompositeElementHeader* e = nullptr;
  ASSERT_EQ(GetCompositeArgInfo(ctx, 0, 's', nullptr, nullptr, &count, &fields, &e), kOk);
  ASSERT_EQ(count, 1);
  ASSERT_EQ(fields, 2);
  EXPECT_EQ(Name(e->name), "b");
  ASSERT_EQ(e->cells, 1);
  EXPECT_EQ(reinterpret_cast<Cell*>(e)[kElementHeaderCells].f, 2);
  e = reinterpret_cast<CompositeElementHeader*>(reinterpret_cast<Cell*>(e) + kElementHeaderCells + 1);
  EXPECT_EQ(Name(e->name), "x");
  EXPECT_EQ(e->cells, 0);

  // Fields already in order: nothing changes.
  const std::vector<uint64_t> conformed = DataCells();
  ASSERT_EQ(ConformStructFields(ctx, names, 2), kOk);
  EXPECT_EQ(DataCells(), conformed);
}

TEST_F(ConcatenateTest, JoinWithoutRoomChangesNothing) {
  Row({1, 2, 3});
  Row({4, 5, 6});
  FillData(4);
  ASSERT_EQ(RotateValues(ctx, 3, 1), kOk);
  ASSERT_EQ(RotateValues(ctx, 3, 1), kOk);
  const std::vector<uint64_t> before = DataCells();
  const int32_t descs = ctx->descLength;
  EXPECT_EQ(ConcatenateValues(ctx, 2, 1), kDataStackFull);
  EXPECT_EQ(DataCells(), before);
  EXPECT_EQ(ctx->descLength, descs);
}

// ---------------------------------------------------------------------------

TEST_F(ConcatenateTest, ReshapeAndSqueeze) {
  struct Case {
    const char* what;
    std::function<void(ConcatenateTest*)> push;
    int n;
    StatusCode status;
    std::vector<uint32_t> dims;
  };
  const std::vector<double> six = {1, 2, 3, 4, 5, 6};
  const Case kCases[] = {
      {"reshape(1:6, [], 2)", [&](ConcatenateTest* t) { t->Row(six), t->Empty(), t->Scalar(2); }, 3, kOk, {3, 2}},
      {"reshape(1:7, [], 2)",
       [](ConcatenateTest* t) {
         t->Row({1, 2, 3, 4, 5, 6, 7}), t->Empty(), t->Scalar(2);
       },
       3,
       kBadSize,
       {}},
      {"reshape(1:6, [2.9 3])",
       [&](ConcatenateTest* t) {
         t->Row(six), t->Row({2.9, 3});
       },
       2,
       kOk,
       {2, 3}},
      {"reshape(1:6, 1, 2, 3)",
       [&](ConcatenateTest* t) { t->Row(six), t->Scalar(1), t->Scalar(2), t->Scalar(3); },
       4,
       kOk,
       {1, 2, 3}},
      {"reshape(1:6, 3, 2, 1)",
       [&](ConcatenateTest* t) { t->Row(six), t->Scalar(3), t->Scalar(2), t->Scalar(1); },
       4,
       kOk,
       {3, 2}},
      {"reshape(1:6, -2, -3)", [&](ConcatenateTest* t) { t->Row(six), t->Scalar(-2), t->Scalar(-3); }, 3, kBadSize, {}},
      {"reshape(1:6, [NaN 6])",
       [&](ConcatenateTest* t) {
         t->Row(six), t->Row({NAN, 6});
       },
       2,
       kBadSize,
       {}},
      {"reshape(x)", [&](ConcatenateTest* t) { t->Row(six); }, 1, kOk, {6, 1}},
      {"reshape(x, 'ab')", [&](ConcatenateTest* t) { t->Row(six), t->Text("ab"); }, 2, kWrongTypeInternal, {}},
      {"reshape(x, 1:17)",
       [&](ConcatenateTest* t) { t->Row(six), t->Row(std::vector<double>(17, 1)); },
       2,
       kOutOfRangeArg,
       {}},
      {"reshape of a list",
       [](ConcatenateTest* t) {
         t->List({1, 2}), t->Scalar(2), t->Scalar(1);
       },
       3,
       kOk,
       {2, 1}},
      {"squeeze(ones(1,5))",
       [](ConcatenateTest* t) {
         t->Filled({1, 5}, 1);
       },
       -1,
       kOk,
       {5, 1}},
      {"squeeze(ones(1,1,5))",
       [](ConcatenateTest* t) {
         t->Filled({1, 1, 5}, 1);
       },
       -1,
       kOk,
       {5, 1}},
      {"squeeze(ones(2,1,3))",
       [](ConcatenateTest* t) {
         t->Filled({2, 1, 3}, 1);
       },
       -1,
       kOk,
       {2, 3}},
      {"squeeze(7)", [](ConcatenateTest* t) { t->Scalar(7); }, -1, kOk, {1, 1}},
  };
  for (const Case& c : kCases) {
    SetUp();
    c.push(this);
    ASSERT_EQ(ReshapeValue(ctx, c.n), c.status) << c.what;
    if (c.status != kOk) continue;
    EXPECT_EQ(ctx->descLength, 3) << c.what;
    EXPECT_EQ(TopDims(), c.dims) << c.what;
  }
  // squeeze keeps every element at its subscripts: c(1, j, k) becomes s(j, k).
  SetUp();
  Doubles({1, 2, 3}, {1, 2, 3, 4, 5, 6});
  ASSERT_EQ(ReshapeValue(ctx, -1), kOk);
  EXPECT_EQ(TopArray().dims, (std::vector<uint32_t>{2, 3}));
  EXPECT_EQ(TopArray().re, (std::vector<double>{1, 3, 5, 2, 4, 6}));
  SetUp();
  Doubles({2, 1, 3}, {1, 2, 3, 4, 5, 6});  // c(i, 1, k) sits at i + 2k
  ASSERT_EQ(ReshapeValue(ctx, -1), kOk);
  EXPECT_EQ(TopArray().re, (std::vector<double>{1, 3, 5, 2, 4, 6}));
  SetUp();
  List({1, 2, 3});
  ASSERT_EQ(ReshapeValue(ctx, -1), kOk);
  EXPECT_EQ(TopDims(), (std::vector<uint32_t>{3, 1}));

  // reshape keeps the storage order.
  SetUp();
  Row(six);
  Scalar(3);
  Scalar(2);
  ASSERT_EQ(ReshapeValue(ctx, 3), kOk);
  EXPECT_EQ(TopArray().re, six);
}

TEST_F(ConcatenateTest, PermuteMovesElementsWithTheirSubscripts) {
  // A 2x3x4 array whose element (i, j, k) holds 100i + 10j + k.
  std::vector<double> values(24);
  const uint32_t from[] = {2, 3, 4};
  for (uint32_t i = 0; i < 2; ++i)
    for (uint32_t j = 0; j < 3; ++j)
      for (uint32_t k = 0; k < 4; ++k) {
        const uint32_t subs[] = {i, j, k};
        values[ArrayElementIndex(from, 3, subs)] = 100 * i + 10 * j + k;
      }
  struct Case {
    std::vector<double> order;
    int inverse;
    std::vector<uint32_t> dims;
    int place[3];  // result dimension m holds the source subscript place[m]
  };
  const Case kCases[] = {
      {{2, 1}, 0, {3, 2, 4}, {1, 0, 2}},
      {{3, 1, 2}, 0, {4, 2, 3}, {2, 0, 1}},
      {{3, 1, 2}, 1, {3, 4, 2}, {1, 2, 0}},
      {{1, 2, 3}, 0, {2, 3, 4}, {0, 1, 2}},
  };
  for (const Case& c : kCases) {
    SetUp();
    Doubles({2, 3, 4}, values);
    Row(c.order);
    ASSERT_EQ(PermuteDimensions(ctx, c.inverse), kOk);
    ASSERT_EQ(ctx->descLength, 3);
    const Seen s = TopArray();
    ASSERT_EQ(s.dims, c.dims);
    const uint32_t dims[] = {c.dims[0], c.dims[1], c.dims[2]};
    for (uint32_t a = 0; a < dims[0]; ++a)
      for (uint32_t b = 0; b < dims[1]; ++b)
        for (uint32_t d = 0; d < dims[2]; ++d) {
          const uint32_t at[] = {a, b, d};
          uint32_t src[3];
          for (int m = 0; m < 3; ++m) src[c.place[m]] = at[m];
          EXPECT_EQ(s.re[ArrayElementIndex(dims, 3, at)], 100 * src[0] + 10 * src[1] + src[2]);
        }
  }

  // An integer class and a list keep their kinds.
  SetUp();
  Integers(kInt16, {1, -2, 3});
  Row({2, 1});
  ASSERT_EQ(PermuteDimensions(ctx, 0), kOk);
  EXPECT_EQ(TopArray().cls, kInt16);
  EXPECT_EQ(TopArray().dims, (std::vector<uint32_t>{3, 1}));
  SetUp();
  List({1, 2, 3});
  Row({2, 1});
  ASSERT_EQ(PermuteDimensions(ctx, 0), kOk);
  EXPECT_EQ(Top().extra, kCellArray);
  EXPECT_EQ(TopDims(), (std::vector<uint32_t>{3, 1}));

  const std::vector<double> bad[] = {{1, 1}, {0, 1}, {1, 3}, {2.5, 2}, {NAN, 1}};
  for (const auto& order : bad) {
    SetUp();
    Filled({2, 2}, 1);
    Row(order);
    EXPECT_EQ(PermuteDimensions(ctx, 0), kNonPermutation) << order[0] << order[1];
  }
  SetUp();
  Text("ab");
  Integers(kInt8, {2, 1});
  EXPECT_EQ(PermuteDimensions(ctx, 0), kWrongTypeInternal);
}

TEST_F(ConcatenateTest, IndexConversions) {
  struct Case {
    std::vector<double> sizes;
    std::vector<double> subs;
    double index;
  };
  const Case kCases[] = {
      {{2, 3}, {1, 2}, 2},        {{2, 3}, {2, 1}, 4}, {{2, 3}, {2, 3}, 6},
      {{2, 3, 4}, {2, 3, 2}, 12}, {{3}, {2, 3}, 6},    {{2, 3}, {1, 1, 2}, 7},
  };
  for (const Case& c : kCases) {
    SetUp();
    Row(c.sizes);
    for (double s : c.subs) Scalar(s);
    ASSERT_EQ(sub2ind(ctx, static_cast<int>(c.subs.size()) + 1), kOk);
    ASSERT_EQ(ctx->descLength, 3);
    EXPECT_EQ(TopScalar(), c.index);
    if (c.sizes.size() < c.subs.size()) continue;

    SetUp();
    Row(c.sizes);
    Scalar(c.index);
    const int outputs = static_cast<int>(c.subs.size());
    ASSERT_EQ(ind2sub(ctx, outputs), kOk);
    ASSERT_EQ(ctx->descLength, 3 * outputs);
    for (int o = 0; o < outputs; ++o) {
      double x = 0;
      ASSERT_EQ(GetRealScalarArg(ctx, o, &x), kOk);
      EXPECT_EQ(x, c.subs[o]) << o;
    }
  }

  // Subscript arrays expand scalars; one subscript is its own result.
  SetUp();
  Row({2, 3});
  Row({1, 2});
  Scalar(3);
  ASSERT_EQ(sub2ind(ctx, 3), kOk);
  EXPECT_EQ(TopArray().re, (std::vector<double>{3, 6}));
  SetUp();
  Scalar(5);
  Scalar(7);
  ASSERT_EQ(sub2ind(ctx, 2), kOk);
  EXPECT_EQ(TopScalar(), 7);

  SetUp();
  Scalar(3);
  Scalar(5);
  EXPECT_EQ(ind2sub(ctx, 1), kTooFewArgout);
  SetUp();
  Row({2, 3, 4});
  Scalar(1);
  Scalar(1);
  EXPECT_EQ(sub2ind(ctx, 3), kTooFewArgin);
  SetUp();
  Row({2, 3});
  Row({1, 2});
  Row({1, 2, 3});
  EXPECT_EQ(sub2ind(ctx, 3), kIncompSize);
}

}  // namespace
