// The interpreter's inline short cuts for real double scalars: arithmetic,
// relations (alone and feeding a conditional jump), and loading and storing
// scalar variables must leave exactly what the general handlers leave.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/bytecode.h"
#include "engine/heap.h"
#include "engine/vm.h"
#include "tests/engine/stack_fixture.h"

namespace {

constexpr int16_t W(Op op) { return static_cast<int16_t>(op); }
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// What an operand is: a real double scalar, or a value the short cuts leave alone.
enum class Operand { kScalar, kRow, kInt8, kComplex };

struct Pair {
  double a, b;
  Operand kindA = Operand::kScalar;
};

const Pair kPairs[] = {
    {3, 4},
    {-0.0, 0},
    {1, 0},
    {0, 0},
    {kNaN, 1},
    {2, kNaN},
    {kInf, kInf},
    {-kInf, kInf},
    {1e308, 10},
    {5, 5},
    {2, 3, Operand::kRow},
    {2, 3, Operand::kInt8},
    {2, 3, Operand::kComplex},
};

class InlinePathsTest : public StackFixture {
 protected:
  InlinePathsTest() : StackFixture({.messages = true}) {}

  void SetUp() override {
    StackFixture::SetUp();
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  }

  void Push(double x, Operand kind) {
    switch (kind) {
      case Operand::kScalar:
        ASSERT_EQ(PushRealScalar(ctx, x), kOk);
        break;
      case Operand::kRow:
        PushRow({x, x + 1});
        break;
      case Operand::kInt8:
        PushInteger<int8_t>(ctx, static_cast<int8_t>(x));
        break;
      case Operand::kComplex:
        ASSERT_EQ(PushComplexScalar(ctx, x, 1), kOk);
        break;
    }
  }

  // Runs code placed in the free code area to its end.
  [[nodiscard]] StatusCode Run(std::vector<int16_t> code) {
    code.push_back(W(Op::EndOfThreadCode));
    std::memcpy(ctx->codeBase + ctx->codeTop, code.data(), code.size() * sizeof(int16_t));
    ctx->pc = {kCodeArea, 0, {}, ctx->codeTop * 2};
    return RunInterpreter(ctx, 0);
  }

  std::vector<uint64_t> HeapCells() {
    std::vector<uint64_t> v(ctx->heapSize);
    std::memcpy(v.data(), ctx->heapBase, v.size() * sizeof(Cell));
    return v;
  }

  // The values above the base frame, top last.
  std::vector<double> Scalars() {
    std::vector<double> out;
    const int32_t start = ctx->frameIndex + FrameExtent(CurrentFrame(ctx));
    for (int p = (ctx->descLength - start) / 3 - 1; p >= 0; --p) out.push_back(DataAt(ctx, p)->f);
    return out;
  }
};

TEST_F(InlinePathsTest, ArithmeticAndRelationsMatchTheirHandlers) {
  const Op ops[] = {Op::Plus, Op::Minus, Op::Times, Op::Rdivide, Op::Ldivide, Op::Mtimes, Op::Mrdivide,
                    Op::Mldivide, Op::Eq, Op::Ne, Op::Lt, Op::Gt, Op::Le, Op::Ge};
  for (const Op op : ops) {
    for (const Pair& p : kPairs) {
      if (op == Op::Mldivide && p.kindA == Operand::kRow) continue;  // a row divisor is no square system
      const std::string label = std::string(OpcodeMnemonic(static_cast<int>(op))) + " " + std::to_string(p.a) + " " +
                                std::to_string(p.b) + " kind " + std::to_string(static_cast<int>(p.kindA));
      ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
      Push(p.a, p.kindA);
      Push(p.b, Operand::kScalar);
      const int16_t ins = W(op);
      ASSERT_EQ(RunOpcodeHandler(ctx, &ins), kOk) << label;
      const Snapshot general = Take();

      ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
      Push(p.a, p.kindA);
      Push(p.b, Operand::kScalar);
      ASSERT_EQ(Run({W(op)}), kOk) << label;
      EXPECT_EQ(Take(), general) << label;
    }
  }
}

TEST_F(InlinePathsTest, RelationFeedingAJumpBranchesAsItsLogicalWould) {
  // a b; relation; jump {+2}; push 10; push 20: the operands are gone either way.
  for (const Op op : {Op::Eq, Op::Ne, Op::Lt, Op::Gt, Op::Le, Op::Ge}) {
    for (const Op jump : {Op::JumpIfFalse, Op::JumpIfTrue}) {
      for (const Pair& p : kPairs) {
        if (p.kindA == Operand::kRow) continue;  // a row condition is its own rule
        const std::string label = std::string(OpcodeMnemonic(static_cast<int>(op))) + " " +
                                  OpcodeMnemonic(static_cast<int>(jump)) + " " + std::to_string(p.a) + " " +
                                  std::to_string(p.b) + " kind " + std::to_string(static_cast<int>(p.kindA));
        ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
        Push(p.a, p.kindA);
        Push(p.b, Operand::kScalar);
        const int16_t ins = W(op);
        ASSERT_EQ(RunOpcodeHandler(ctx, &ins), kOk) << label;
        uint8_t holds = 0;
        ASSERT_EQ(PopConditionValue(ctx, &holds), kOk) << label;
        const bool jumps = (holds != 0) == (jump == Op::JumpIfTrue);

        ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
        Push(p.a, p.kindA);
        Push(p.b, Operand::kScalar);
        ASSERT_EQ(Run({W(op), W(jump), 2, W(Op::PushSmallInt), 10, W(Op::PushSmallInt), 20}), kOk) << label;
        const std::vector<double> want = jumps ? std::vector<double>{20} : std::vector<double>{10, 20};
        EXPECT_EQ(Scalars(), want) << label;
      }
    }
  }
}

TEST_F(InlinePathsTest, StoreAndLoadOfVariablesMatchTheirHandlers) {
  // Variable 0 of the base frame: what it held before, and what is stored.
  struct Case {
    const char* name;
    bool defined;
    Operand held;
    Operand stored;
  };
  const Case cases[] = {
      {"scalar into undefined", false, Operand::kScalar, Operand::kScalar},
      {"scalar over scalar", true, Operand::kScalar, Operand::kScalar},
      {"scalar over row", true, Operand::kRow, Operand::kScalar},
      {"row over scalar", true, Operand::kScalar, Operand::kRow},
      {"scalar over int8", true, Operand::kInt8, Operand::kScalar},
      {"complex over scalar", true, Operand::kScalar, Operand::kComplex},
  };
  const int16_t store[2] = {W(Op::StoreVar), 0};
  const int16_t storeOther[2] = {W(Op::StoreVar), 1};
  const int16_t load[2] = {W(Op::LoadVar), 0};
  for (const Case& c : cases) {
    auto prepare = [&] {
      ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
      // Another variable's block first, so that the stored one is not at the heap start.
      Push(9, Operand::kScalar);
      ASSERT_EQ(OpStoreVar(ctx, storeOther), kOk);
      if (c.defined) {
        Push(1, c.held);
        ASSERT_EQ(OpStoreVar(ctx, store), kOk);
      }
      Push(-2.5, c.stored);
    };
    prepare();
    ASSERT_EQ(OpStoreVar(ctx, store), kOk) << c.name;
    ASSERT_EQ(OpLoadVar(ctx, load), kOk) << c.name;
    const Snapshot general = Take();
    const std::vector<uint64_t> generalHeap = HeapCells();

    prepare();
    ASSERT_EQ(Run({W(Op::StoreVar), 0, W(Op::LoadVar), 0}), kOk) << c.name;
    EXPECT_EQ(Take(), general) << c.name;
    EXPECT_EQ(HeapCells(), generalHeap) << c.name;
  }
}

TEST_F(InlinePathsTest, ShortCutsWithoutRoomFailAsTheGeneralPathFails) {
  // A plain value may take the last free data cell; with none left the
  // load is refused.
  const int16_t store[2] = {W(Op::StoreVar), 0};
  ASSERT_EQ(PushRealScalar(ctx, 4), kOk);
  ASSERT_EQ(OpStoreVar(ctx, store), kOk);
  FillData(1);
  EXPECT_EQ(Run({W(Op::LoadVar), 0}), kOk);
  EXPECT_EQ(TopData(ctx)->f, 4);
  PopValue(ctx);
  FillData(0);
  EXPECT_EQ(Run({W(Op::LoadVar), 0}), kDataStackFullToo);

  // A relation tested by a jump fails where the logical it stands for would
  // not fit, at every amount of room around that limit.
  for (int64_t room = 2; room <= 8; ++room) {
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    FillData(room + 2);
    ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
    ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
    const int16_t lt = W(Op::Lt);
    const StatusCode general = RunOpcodeHandler(ctx, &lt);

    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    FillData(room + 2);
    ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
    ASSERT_EQ(PushRealScalar(ctx, 2), kOk);
    EXPECT_EQ(Run({W(Op::Lt), W(Op::JumpIfFalse), 0}), general) << room;
  }
}

}  // namespace
