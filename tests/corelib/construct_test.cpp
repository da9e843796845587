// The array builders where a script cannot see them: which failures are a
// full region (the host grows the block and repeats) and which are limits of
// the value (109, no growth), the raw 43 of eps and of the special values'
// sizes, and join's in-place merge of lists and cell arrays.
#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "tests/corelib/stack_values.h"

namespace {

class ConstructTest : public StackValuesTest {
 protected:
  [[nodiscard]] StatusCode Run(Op op, int nargin) {
    const int16_t ins[2] = {static_cast<int16_t>(op), static_cast<int16_t>(nargin)};
    return ArrayBuilderOpcode(ctx, ins);
  }
};

TEST_F(ConstructTest, RoomFailuresAndLimitsLeaveTheInputs) {
  struct Case {
    const char* what;
    void (*push)(ConstructTest*);
    Op op;
    int nargin;
    StatusCode want;
  };
  const Case kCases[] = {
      // Accepted by the size rules, too big for this block: grow and repeat.
      {"zeros(16383)", [](ConstructTest* t) { t->Scalar(16383); }, Op::Zeros, 1, kDataStackFull},
      {"cell(200, 200)", [](ConstructTest* t) { t->Scalar(200), t->Scalar(200); }, Op::Cell, 2, kDataStackFull},
      {"zeros(16384)", [](ConstructTest* t) { t->Scalar(16384); }, Op::Zeros, 1, kObjTooLarge},
      {"zeros(10000, 10001, 'int8')", [](ConstructTest* t) { t->Scalar(10000), t->Scalar(10001), t->Text("int8"); },
       Op::Zeros, 3, kObjTooLarge},
      {"true(10000, 10001)", [](ConstructTest* t) { t->Scalar(10000), t->Scalar(10001); }, Op::True, 2, kObjTooLarge},
      {"ones(46341, 46341)", [](ConstructTest* t) { t->Scalar(46341), t->Scalar(46341); }, Op::Ones, 2, kObjTooLarge},
      {"zeros(2, 'Int8')", [](ConstructTest* t) { t->Scalar(2), t->Text("Int8"); }, Op::Zeros, 2, kUnknownOpt},
      {"zeros(int8(2))", [](ConstructTest* t) { t->Integers(kInt8, {2}); }, Op::Zeros, 1, kWrongType},
      {"true(2, 'int8')", [](ConstructTest* t) { t->Scalar(2), t->Text("int8"); }, Op::True, 2, kWrongType},
      {"inf(2, int8(2))", [](ConstructTest* t) { t->Scalar(2), t->Integers(kInt8, {2}); }, Op::Inf, 2,
       kWrongTypeInternal},
      // A size argument not above 0 ends the reading before the bad one.
      {"inf(0, int8(2))", [](ConstructTest* t) { t->Scalar(0), t->Integers(kInt8, {2}); }, Op::Inf, 2, kOk},
      {"eps(int8(1))", [](ConstructTest* t) { t->Integers(kInt8, {1}); }, Op::Eps, 1, kWrongTypeInternal},
      {"eye(2, 3, 4)", [](ConstructTest* t) { t->Scalar(2), t->Scalar(3), t->Scalar(4); }, Op::Eye, 3, kBadSize},
  };
  for (const Case& c : kCases) {
    c.push(this);
    const Snapshot before = Take();
    EXPECT_EQ(Run(c.op, c.nargin), c.want) << c.what;
    if (c.want != kOk) {
      EXPECT_TRUE(Take() == before) << c.what;
    }
    while (ctx->descLength > 0) PopValue(ctx);
  }
}

TEST_F(ConstructTest, EyeOnesAndConstantsFillTheirElements) {
  Scalar(2);
  Scalar(3);
  Text("uint16");
  ASSERT_EQ(Run(Op::Eye, 3), kOk);
  Seen s = TopArray();
  EXPECT_EQ(s.cls, kUint16);
  EXPECT_EQ(s.re, (std::vector<double>{1, 0, 0, 0, 1, 0}));
  PopValue(ctx);
  Row({1, 2, 2});
  Text("int64");
  ASSERT_EQ(Run(Op::Ones, 2), kOk);
  s = TopArray();
  EXPECT_EQ(s.dims, (std::vector<uint32_t>{1, 2, 2}));
  EXPECT_EQ(s.re, (std::vector<double>(4, 1)));
  PopValue(ctx);
  Scalar(2);
  Text("single");
  ASSERT_EQ(Run(Op::Realmax, 2), kOk);
  s = TopArray();
  EXPECT_EQ(s.cls, kSingle);
  EXPECT_EQ(s.re, (std::vector<double>(4, 0x1.fffffep127)));
}

TEST_F(ConstructTest, JoinMergesListsAndCellArraysIntoOneList) {
  List({1, 2});
  Scalar(2);
  Scalar(1);
  ASSERT_EQ(Run(Op::Cell, 2), kOk);  // a 2 x 1 cell array of []
  List({});
  List({3});
  const int16_t ins[2] = {static_cast<int16_t>(Op::Join), 4};
  ASSERT_EQ(JoinOpcode(ctx, ins), kOk);
  EXPECT_EQ(ctx->descLength, 3);
  int32_t count = 0;
  CompositeElementHeader* first = nullptr;
  ASSERT_EQ(GetListArg(ctx, 0, &count, &first), kOk);
  EXPECT_EQ(DescriptorAt(ctx, 0)->extra, kList);
  EXPECT_EQ(count, 5);
  std::vector<int32_t> cells;
  for (CompositeElementHeader* e = first; count-- > 0; e = NextElement(e)) cells.push_back(e->cells);
  EXPECT_EQ(cells, (std::vector<int32_t>{1, 1, 0, 0, 1}));
  EXPECT_EQ(ctx->dataTop, DescriptorAt(ctx, 0)->cells);
}

}  // namespace
