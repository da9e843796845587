// A structure array and the cell array of the same element order: relabelling
// seeded random cells both ways is the identity, and struct2cell puts field k
// of element (i, j) where the relabelling promises it.
#include <algorithm>
#include <random>
#include <string>

#include "corelib/corelib.h"
#include "tests/corelib/stack_values.h"

namespace {

using StructsTest = StackValuesTest;

// Dims entries of the composite on top (field count last for a structure array).
std::vector<int32_t> CompositeDims(EngineContext* ctx) {
  int nd = 0;
  int32_t dims[kMaxDims + 1];
  int32_t fields = -1;
  EXPECT_EQ(GetCompositeArgInfo(ctx, 0, '?', &nd, dims, nullptr, &fields, nullptr), kOk);
  std::vector<int32_t> out(dims, dims + nd);
  if (fields >= 0) out.push_back(fields);
  return out;
}

// Element k (in storage order) of the composite on top, a real scalar.
double ElementValue(EngineContext* ctx, int64_t k) {
  CompositeElementHeader* e = nullptr;
  EXPECT_EQ(GetCompositeArgInfo(ctx, 0, '?', nullptr, nullptr, nullptr, nullptr, &e), kOk);
  for (int64_t i = 0; i < k; ++i) e = NextElement(e);
  return ElementData(e)->f;
}

// A cell array of the dims holding 0, 1, 2 ... in storage order.
void PushNumberedCell(StructsTest* t, const std::vector<int32_t>& dims) {
  int64_t n = 1;
  for (int32_t d : dims) n *= d;
  for (int64_t k = 0; k < n; ++k) t->Scalar(static_cast<double>(k));
  ASSERT_EQ(MakeListFromValues(t->ctx, static_cast<int>(n), false, nullptr, 0), kOk);
  ASSERT_EQ(ReshapeTopCellArray(t->ctx, static_cast<int>(dims.size()), dims.data()), kOk);
}

TEST_F(StructsTest, RelabellingRandomCellsBothWaysIsTheIdentity) {
  std::mt19937 random(24);
  for (int trial = 0; trial < 40; ++trial) {
    SetUp();
    const int nd = 3 + static_cast<int>(random() % 3);
    std::vector<int32_t> dims;
    for (int j = 0; j < nd; ++j) dims.push_back(2 + static_cast<int32_t>(random() % 3));
    PushNumberedCell(this, dims);
    ASSERT_EQ(RelabelCellAsStructArray(ctx, 0), kOk);
    // c x f x r x d4 ... holds the r x c x d4 ... structure array of f fields.
    std::vector<int32_t> want = {dims[2], dims[0]};
    for (int j = 3; j < nd; ++j) want.push_back(dims[j]);
    want.push_back(dims[1]);
    EXPECT_EQ(CompositeDims(ctx), want) << "trial " << trial;
    ASSERT_EQ(RelabelCellAsStructArray(ctx, 1), kOk);
    EXPECT_EQ(CompositeDims(ctx), dims) << "trial " << trial;
    int64_t n = 1;
    for (int32_t d : dims) n *= d;
    for (int64_t k = 0; k < n; ++k) ASSERT_EQ(ElementValue(ctx, k), static_cast<double>(k)) << "trial " << trial;
  }
}

TEST_F(StructsTest, TwoDimensionalCellsGainAStructureDimension) {
  PushNumberedCell(this, {3, 2});
  ASSERT_EQ(RelabelCellAsStructArray(ctx, 0), kOk);
  EXPECT_EQ(CompositeDims(ctx), (std::vector<int32_t>{1, 3, 2}));
  ASSERT_EQ(RelabelCellAsStructArray(ctx, 1), kOk);
  EXPECT_EQ(CompositeDims(ctx), (std::vector<int32_t>{3, 2}));
  Scalar(1);
  EXPECT_EQ(RelabelCellAsStructArray(ctx, 0), kWrongTypeInternal);
  EXPECT_EQ(RelabelCellAsStructArray(ctx, 1), kWrongTypeInternal);
}

// struct2cell gives an f x d1 x d2 ... cell: its element (k, i, j, ...) is
// field k of structure (i, j, ...).
TEST_F(StructsTest, Struct2cellPutsFieldKOfElementIJAtKIJ) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 20; ++trial) {
    SetUp();
    const int nd = 2 + static_cast<int>(random() % 2);
    std::vector<int32_t> cell;  // the cell form: d2 x f x d1 x d3
    for (int j = 0; j < nd + 1; ++j) cell.push_back(1 + static_cast<int32_t>(random() % 3));
    PushNumberedCell(this, cell);
    ASSERT_EQ(RelabelCellAsStructArray(ctx, 0), kOk);
    const std::vector<int32_t> s = CompositeDims(ctx);  // d1, d2, (d3), f
    const int32_t f = s.back();
    std::vector<int32_t> sdims(s.begin(), s.end() - 1);
    while (sdims.size() < 3) sdims.push_back(1);
    // Field k of structure (i, j, p) holds its place in the structure
    // array's storage order (rows stored first, then pages) times f, plus k.
    ASSERT_EQ(struct2cell(ctx), kOk);
    std::vector<int32_t> got = CompositeDims(ctx);
    while (got.size() < 4) got.push_back(1);
    ASSERT_EQ(got[0], f);
    for (int32_t i = 0; i < sdims[0]; ++i)
      for (int32_t j = 0; j < sdims[1]; ++j)
        for (int32_t p = 0; p < sdims[2]; ++p)
          for (int32_t k = 0; k < f; ++k) {
            const int64_t structure = (int64_t{p} * sdims[0] + i) * sdims[1] + j;
            // The cell f x d1 x d2 x d3: pages (j, p) of f x d1, row by row.
            const int64_t at = ((int64_t{p} * sdims[1] + j) * f + k) * sdims[0] + i;
            EXPECT_EQ(ElementValue(ctx, at), static_cast<double>(structure * f + k)) << "trial " << trial;
          }
  }
}

// A list of structures becomes a column structure array: equal field lists
// in place, different ones through the vertical join, which gives every
// structure the union of the fields (the join's order: the last operand's
// first), [] where missing.
TEST_F(StructsTest, ListsOfStructuresWithEqualOrDifferentFieldsBecomeColumns) {
  struct Case {
    const char* what;
    std::vector<const char*> first, second;
    std::vector<const char*> want;
  };
  const Case kCases[] = {
      {"equal", {"a", "b"}, {"a", "b"}, {"a", "b"}},
      {"other order", {"a", "b"}, {"b", "a"}, {"b", "a"}},
      {"disjoint", {"a"}, {"b"}, {"b", "a"}},
      {"fewer", {"a", "b"}, {"b"}, {"b", "a"}},
  };
  for (const Case& c : kCases) {
    SetUp();
    double value = 1;
    for (const auto* names : {&c.first, &c.second}) {
      ASSERT_EQ(PushValue(ctx, kComposite, 0, kStruct, Room::kStrict, nullptr), kOk);
      for (const char* name : *names) {
        Scalar(value++);
        ASSERT_EQ(MakeListFromValues(ctx, 1, true, name, 1), kOk);
      }
    }
    ASSERT_EQ(MakeListFromValues(ctx, 2, false, nullptr, 0), kOk);
    ASSERT_EQ(ConvertTopToStructArray(ctx), kOk) << c.what;
    EXPECT_EQ(CompositeDims(ctx), (std::vector<int32_t>{2, 1, static_cast<int32_t>(c.want.size())})) << c.what;
    for (int32_t s = 1; s <= 2; ++s) {
      ASSERT_EQ(PushListElement(ctx, 0, s), kOk);
      const std::vector<const char*>& had = s == 1 ? c.first : c.second;
      for (size_t k = 0; k < c.want.size(); ++k) {
        const char* name = nullptr;
        int length = 0;
        ASSERT_EQ(GetStructFieldName(ctx, 0, static_cast<int32_t>(k + 1), &name, &length), kOk);
        EXPECT_EQ(std::string(name, length), c.want[k]) << c.what;
        ASSERT_EQ(PushStructField(ctx, 0, c.want[k], 1), kOk);
        const bool present = std::find_if(had.begin(), had.end(),
                                          [&](const char* h) { return std::string(h) == c.want[k]; }) != had.end();
        EXPECT_EQ(DescriptorAt(ctx, 0)->cells == 0, !present) << c.what << " " << c.want[k];
        PopValue(ctx);
      }
      PopValue(ctx);
    }
  }
}

}  // namespace
