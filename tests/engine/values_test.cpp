// How values are laid out in cells: plain matrices, boxed arrays with their
// header, composites and the dimension rules of the constructors.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/engine.h"

namespace {

TEST(Values, PlainMatrixShape) {
  const ValueDescriptor real{0, 6, 3};
  const ValueDescriptor complex{kComplex, 12, 3};
  const ValueDescriptor empty{0, 0, 0};
  EXPECT_EQ(PlainRows(real), 2);
  EXPECT_EQ(PlainRows(complex), 2);
  EXPECT_EQ(PlainRows(empty), 0);
}

TEST(Values, ElementIndexRunsOverPages) {
  const uint32_t dims[] = {2, 3, 4, 5};
  const uint32_t subs[] = {1, 2, 3, 4};
  EXPECT_EQ(ArrayElementIndex(dims, 4, subs), ((3 + 4 * 4) * 2 + 1) * 3 + 2);
  EXPECT_EQ(ArrayElementIndex(dims, 4, subs), 119);

  // Within a page the order is row by row, as for plain matrices.
  const uint32_t m[] = {2, 3};
  const uint32_t rc[] = {1, 0};
  EXPECT_EQ(ArrayElementIndex(m, 2, rc), 3);

  // The last subscripts of every dimension address the last element.
  const uint32_t last[] = {1, 2, 3, 4};
  EXPECT_EQ(ArrayElementIndex(dims, 4, last), 2 * 3 * 4 * 5 - 1);
}

TEST(Values, ElementSizes) {
  struct Case {
    ElementClass cls;
    int bytes;
  };
  const Case kCases[] = {{kInt8, 1},   {kInt16, 2},  {kInt32, 4},          {kInt64, 8},
                         {kUint8, 1},  {kUint16, 2}, {kUint32, 4},         {kUint64, 8},
                         {kDouble, 8}, {kSingle, 4}, {kComplexDouble, 16}, {kComplexSingle, 8}};
  for (const Case& c : kCases) EXPECT_EQ(ElementBytes(c.cls), c.bytes) << c.cls;
  EXPECT_FALSE(IsKnownElementClass(3));
  EXPECT_FALSE(IsKnownElementClass(128));
}

TEST(Values, ScalarInt8TakesThreeCells) {
  std::vector<Cell> payload(ArrayPayloadCells(kInt8, 2, 1));
  ASSERT_EQ(payload.size(), 3u);
  std::memset(payload.data(), 0xFF, payload.size() * sizeof(Cell));
  const uint32_t dims[] = {1, 1};
  Cell* data = WriteArrayHeader(payload.data(), kInt8, dims, 2);
  EXPECT_EQ(data, payload.data() + 2);
  EXPECT_EQ(payload[0].w[0], 1u);
  EXPECT_EQ(payload[0].w[1], 2u);
  EXPECT_EQ(payload[1].w[0], 1u);
  EXPECT_EQ(payload[1].w[1], 1u);
}

TEST(Values, ThreeDimensionalHeaderIsPadded) {
  const uint32_t dims[] = {2, 3, 4};
  std::vector<Cell> payload(ArrayPayloadCells(kInt16, 3, 24));
  EXPECT_EQ(payload.size(), 3u + 6u);  // header cells, then 48 bytes of elements
  std::memset(payload.data(), 0xFF, payload.size() * sizeof(Cell));
  Cell* data = WriteArrayHeader(payload.data(), kInt16, dims, 3);
  EXPECT_EQ(data, payload.data() + 3);
  const auto* words = reinterpret_cast<const uint32_t*>(payload.data());
  const uint32_t want[] = {kInt16, 3, 2, 3, 4, 0};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(words[k], want[k]) << "word " << k;
}

TEST(Values, StringLayout) {
  // 'ab': {boxed, 3 cells, char array}, payload {130, 2, 1, 2} then the codes.
  const ValueDescriptor d{kBoxed, static_cast<int32_t>(ArrayPayloadCells(kUint16, 2, 2)), kCharArray};
  EXPECT_EQ(d.cells, 3);
  std::vector<Cell> payload(d.cells);
  const uint32_t dims[] = {1, 2};
  Cell* data = WriteArrayHeader(payload.data(), kUint16, dims, 2);
  EXPECT_EQ(data, payload.data() + 2);
  const auto* words = reinterpret_cast<const uint32_t*>(payload.data());
  EXPECT_EQ(words[0], 130u);
  EXPECT_EQ(words[1], 2u);
  EXPECT_EQ(words[2], 1u);
  EXPECT_EQ(words[3], 2u);
}

TEST(Values, CompositeSizes) {
  const int header = sizeof(CompositeElementHeader) / sizeof(Cell);
  // struct(a = scalar, b = []): two element headers and one data cell.
  EXPECT_EQ(header + 1 + header + 0, 5);
  // A 1 x 2 cell of two []: the dimension element (a boxed 1 x 2 int32 array), then two empty cells.
  const int64_t dimsElement = header + ArrayPayloadCells(kInt32, 2, 2);
  EXPECT_EQ(dimsElement, 5);
  EXPECT_EQ(dimsElement + 2 * header, 9);
}

TEST(Values, DimensionRules) {
  struct Case {
    std::vector<uint32_t> in;
    std::vector<uint32_t> want;
  };
  const Case kCases[] = {
      {{}, {1, 1}},
      {{5}, {5, 1}},
      {{2, 3}, {2, 3}},
      {{2, 3, 1, 1}, {2, 3}},
      {{2, 3, 1, 4}, {2, 3, 1, 4}},
      {{1, 1, 1}, {1, 1}},
      {{2, 0, 3}, {0, 0}},
      {{0}, {0, 0}},
      {{3, 1, 2, 1}, {3, 1, 2}},
  };
  for (const Case& c : kCases) {
    uint32_t dims[kMaxDims] = {};
    std::copy(c.in.begin(), c.in.end(), dims);
    const int n = NormalizeDimensions(dims, static_cast<int>(c.in.size()));
    EXPECT_EQ(std::vector<uint32_t>(dims, dims + n), c.want) << "from " << c.in.size() << " dims";
  }
}

}  // namespace
