// The peephole pass, jump threading with loop removal, the double arithmetic
// that folding and the run time share, and whole statements compiled at each
// optimisation level; code is compared through the disassembler.
#include "engine/compiler/optimizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/compiler/codegen.h"
#include "engine/function.h"
#include "engine/values/doublemath.h"
#include "tests/engine/stack_fixture.h"
#include "tools/disassembler.h"

namespace {

constexpr int16_t W(Op op) { return static_cast<int16_t>(op); }
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

// Hand-assembled code in an 8-byte aligned buffer, as the compiler keeps it.
class Code {
 public:
  Code& Add(std::initializer_list<int16_t> words) {
    for (int16_t w : words) Push(w);
    return *this;
  }
  Code& Add(Op op) { return Add({W(op)}); }
  Code& Add(Op op, int16_t operand) { return Add({W(op), operand}); }
  // A double-operand instruction, preceded by Nops up to the alignment.
  Code& AddDouble(Op op, double x) {
    while ((size_ + 1) % 4 != 0) Push(W(Op::Nop));
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    Push(W(op));
    for (int k = 0; k < 4; ++k) Push(static_cast<int16_t>(bits >> (16 * k)));
    return *this;
  }
  int16_t* data() { return reinterpret_cast<int16_t*>(words_); }
  int size() const { return size_; }
  // Position of the next word, for writing jump offsets.
  int here() const { return size_; }

 private:
  void Push(int16_t w) { data()[size_++] = w; }
  alignas(8) uint64_t words_[12000] = {};
  int size_ = 0;
};

std::string Optimized(Code& c) {
  int end = c.size();
  OptimizeInstructionPairs(c.data(), 0, &end);
  return Disassemble(c.data(), end, {.positions = false});
}

double DoubleAt(const int16_t* words) {
  uint64_t bits = 0;
  for (int k = 3; k >= 0; --k) bits = (bits << 16) | static_cast<uint16_t>(words[k]);
  double x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(InstructionPairs, RewriteRules) {
  struct Case {
    std::vector<int16_t> code;
    const char* want;
  };
  const int16_t load = W(Op::LoadVar);
  const Case kCases[] = {
      {{load, 0, W(Op::Uminus), W(Op::Uminus)}, "LoadVar 0\nuplus\n"},
      {{load, 0, W(Op::Uplus), W(Op::Uplus)}, "LoadVar 0\nuplus\n"},
      {{load, 0, W(Op::Uminus), W(Op::Uplus)}, "LoadVar 0\numinus\n"},
      {{load, 0, W(Op::Uplus), W(Op::Uminus)}, "LoadVar 0\numinus\n"},
      {{load, 0, W(Op::Uminus), W(Op::Uminus), W(Op::Uminus)}, "LoadVar 0\numinus\n"},
      {{W(Op::PushOne), W(Op::Uminus)}, "PushSmallInt -1\n"},
      {{W(Op::PushOne), W(Op::Uminus), W(Op::Uminus)}, "PushSmallInt 1\n"},
      {{W(Op::PushZero), W(Op::Int8)}, "PushInt8 0\n"},
      {{W(Op::PushOne), W(Op::Uint64)}, "PushUint64 1\n"},
      {{W(Op::PushSmallInt), 300, W(Op::Uint8)}, "PushUint8 44\n"},
      {{W(Op::PushSmallInt), 200, W(Op::Int8)}, "PushInt8 -56\n"},
      {{W(Op::PushSmallInt), -1, W(Op::Uint16)}, "PushUint16 -1\n"},
      {{W(Op::PushSmallInt), -300, W(Op::Int32)}, "PushInt32 -300\n"},
      {{W(Op::PushSmallInt), -1, W(Op::Sqrt)}, "i\n"},
      {{W(Op::PushSmallInt), -4, W(Op::Sqrt)}, "PushSmallInt -4\nsqrt\n"},
      {{W(Op::PushSmallInt), 5, W(Op::Uplus)}, "PushSmallInt 5\n"},
      {{W(Op::PushSmallInt), 5, W(Op::Double)}, "PushSmallInt 5\n"},
      {{W(Op::PushSmallInt), 5, W(Op::Uminus)}, "PushSmallInt -5\n"},
      {{W(Op::PushSmallInt), -7, W(Op::Abs)}, "PushSmallInt 7\n"},
      {{W(Op::PushSmallInt), -7, W(Op::Sign)}, "PushSmallInt -1\n"},
      {{W(Op::PushSmallInt), 0, W(Op::Sign)}, "PushSmallInt 0\n"},
      // 32768 does not fit a word: these stay for the run time.
      {{W(Op::PushSmallInt), -32768, W(Op::Uminus)}, "PushSmallInt -32768\numinus\n"},
      {{W(Op::PushSmallInt), -32768, W(Op::Abs)}, "PushSmallInt -32768\nabs\n"},
      {{W(Op::PushSmallImag), -32768, W(Op::Uminus)}, "PushSmallImag -32768\numinus\n"},
      {{W(Op::PushSmallInt), 3, W(Op::I), W(Op::Mtimes)}, "PushSmallImag 3\n"},
      {{W(Op::I), W(Op::PushSmallInt), 3, W(Op::Mtimes)}, "PushSmallImag 3\n"},
      {{W(Op::PushSmallInt), 3, W(Op::I), W(Op::Times)}, "PushSmallInt 3\ni\ntimes\n"},
      {{W(Op::PushSmallImag), 3, W(Op::Uminus)}, "PushSmallImag -3\n"},
      // Operators of two operands are never folded, even on constants.
      {{W(Op::PushOne), W(Op::PushSmallInt), 2, W(Op::Plus)}, "PushOne\nPushSmallInt 2\nplus\n"},
      {{W(Op::PushOne), W(Op::PushOne), W(Op::Uminus), W(Op::Mtimes)}, "PushOne\nPushSmallInt -1\nmtimes\n"},
      // A native call (words of 333 and above) is copied as it is.
      {{W(Op::PushOne), W(Op::Uminus), 333 + 40, 1, 1, W(Op::Uminus), W(Op::Uminus)},
       "PushSmallInt -1\nnative 40 1 1\nuplus\n"},
  };
  for (const Case& c : kCases) {
    Code code;
    code.Add(std::initializer_list<int16_t>{});
    for (int16_t w : c.code) code.Add({w});
    EXPECT_EQ(Optimized(code), c.want) << c.want;
  }
}

TEST(InstructionPairs, DoubleConstants) {
  // A folded double keeps the alignment Nops in front of it.
  struct Case {
    Op op;
    double x;
    const char* want;
  };
  const Case kCases[] = {
      {Op::Uminus, 0.5, "Nop\nNop\nNop\nPushDouble -0.5\n"},
      {Op::Conj, 0.5, "Nop\nNop\nNop\nPushDouble 0.5\n"},
      {Op::Real, 0.5, "Nop\nNop\nNop\nPushDouble 0.5\n"},
      {Op::Imag, 0.5, "PushZero\n"},
      {Op::Sign, 2.5, "PushOne\n"},
      {Op::Sign, -2.5, "PushSmallInt -1\n"},
      {Op::Sign, 0.0, "PushZero\n"},
      {Op::Sign, -0.0, "PushZero\n"},
      {Op::Exp, kInf, "Nop\nNop\nNop\nPushDouble inf\n"},
      {Op::Exp, -kInf, "Nop\nNop\nNop\nPushDouble 0\n"},
      {Op::Abs, -kInf, "Nop\nNop\nNop\nPushDouble inf\n"},
      {Op::Sqrt, 0.5, "Nop\nNop\nNop\nPushDouble 0.5\nsqrt\n"},
      {Op::Uplus, 0.5, "Nop\nNop\nNop\nPushDouble 0.5\nuplus\n"},
  };
  for (const Case& c : kCases) {
    Code code;
    code.AddDouble(Op::PushDouble, c.x).Add(c.op);
    EXPECT_EQ(Optimized(code), c.want) << c.want;
  }
  Code imag;
  imag.AddDouble(Op::PushImagDouble, 2.5).Add(Op::Uminus);
  EXPECT_EQ(Optimized(imag), "Nop\nNop\nNop\nPushImagDouble -2.5\n");
}

// A folded constant must be the value the builtin computes at run time, to
// the bit, or optimisation levels would print different results.
TEST(InstructionPairs, FoldsMatchTheRunTimeFunctions) {
  struct Function {
    Op op;
    double (*f)(double);
  };
  const Function kFunctions[] = {{Op::Abs, DoubleAbs}, {Op::Exp, DoubleExp}, {Op::Sin, DoubleSin},
                                 {Op::Cos, DoubleCos}, {Op::Tan, DoubleTan}, {Op::Atan, DoubleAtan}};
  for (const Function& fn : kFunctions)
    for (double x : {0.5, -0.0, 1e-310, 1e300, 710.0, -kInf, kInf, kNaN, 3.141592653589793}) {
      Code code;
      code.AddDouble(Op::PushDouble, x).Add(fn.op);
      int end = code.size();
      OptimizeInstructionPairs(code.data(), 0, &end);
      ASSERT_EQ(end, 3 + 5) << OpcodeMnemonic(W(fn.op)) << " " << x;
      EXPECT_EQ(code.data()[3], W(Op::PushDouble));
      EXPECT_TRUE(SameBits(DoubleAt(code.data() + 4), fn.f(x))) << OpcodeMnemonic(W(fn.op)) << " " << x;
    }
  // sign of a NaN is that NaN, as the builtin answers.
  Code code;
  code.AddDouble(Op::PushDouble, -kNaN).Add(Op::Sign);
  int end = code.size();
  OptimizeInstructionPairs(code.data(), 0, &end);
  EXPECT_TRUE(SameBits(DoubleAt(code.data() + 4), -kNaN));
  EXPECT_TRUE(SameBits(DoubleSign(-kNaN), -kNaN));
}

TEST(InstructionPairs, CompactsAndRealignsBeforeTheFirstJump) {
  Code code;
  code.Add({W(Op::Nop), W(Op::Nop)}).Add(Op::LoadVar, 0).AddDouble(Op::PushDouble, 0.25).Add(Op::Uminus);
  int end = code.size();
  OptimizeInstructionPairs(code.data(), 0, &end);
  EXPECT_EQ(Disassemble(code.data(), end), "0: LoadVar 0\n2: Nop\n3: PushDouble -0.25\n");

  // A start that is not a multiple of 4 still aligns by the buffer's position.
  Code shifted;
  shifted.Add(Op::PushOne).Add(Op::LoadVar, 0).Add({W(Op::Nop), W(Op::Nop)}).AddDouble(Op::PushDouble, 2.0);
  end = shifted.size();
  OptimizeInstructionPairs(shifted.data(), 1, &end);
  EXPECT_EQ(Disassemble(shifted.data(), end), "0: PushOne\n1: LoadVar 0\n3: PushDouble 2\n");
}

TEST(InstructionPairs, KeepsPositionsFromTheFirstJump) {
  // «a && - -b» with foldable code before it: the head shrinks by whole
  // groups of four words, the tail keeps its shape and its jump its target.
  Code code;
  code.Add({W(Op::Nop), W(Op::Nop), W(Op::Nop), W(Op::Nop)})
      .Add(Op::PushSmallInt, 5)
      .Add(Op::Uplus)
      .Add(Op::LoadVar, 0);
  const int jump = code.here();
  code.Add(Op::AndAlsoJump, 4).Add(Op::LoadVar, 1).Add(Op::Uminus).Add(Op::Uminus);
  ASSERT_EQ(jump + 2 + 4, code.size());
  int end = code.size();
  OptimizeInstructionPairs(code.data(), 0, &end);
  EXPECT_EQ(Disassemble(code.data(), end),
            "0: PushSmallInt 5\n2: LoadVar 0\n4: Nop\n5: AndAlsoJump ->11\n7: LoadVar 1\n9: uplus\n10: Nop\n");
  EXPECT_EQ(end, 11);
}

TEST(InstructionPairs, NoRewriteSpansAJumpTarget) {
  // «-(c ? 1 : 2)»: the true branch jumps to the uminus, so folding it into
  // the 2 would skip the negation of the 1 and land inside an instruction.
  Code cond;
  cond.Add(Op::LoadVar, 0).Add(Op::JumpIfFalse, 3).Add(Op::PushOne).Add(Op::Jump, 2).Add(Op::PushSmallInt, 2);
  cond.Add(Op::Uminus);
  EXPECT_EQ(Optimized(cond), "LoadVar 0\nJumpIfFalse ->7\nPushOne\nJump ->9\nPushSmallInt 2\numinus\n");

  // «-(c && 1)»: the same with a short-circuit jump.
  Code shortCircuit;
  shortCircuit.Add(Op::LoadVar, 0).Add(Op::AndAlsoJump, 1).Add(Op::PushOne).Add(Op::Uminus);
  EXPECT_EQ(Optimized(shortCircuit), "LoadVar 0\nAndAlsoJump ->5\nPushOne\numinus\n");

  // A target at the start of the window is fine.
  Code atStart;
  atStart.Add(Op::LoadVar, 0).Add(Op::AndAlsoJump, 0).Add(Op::PushOne).Add(Op::Uminus);
  EXPECT_EQ(Optimized(atStart), "LoadVar 0\nAndAlsoJump ->4\nPushSmallInt -1\n");
}

std::string Threaded(Code& c, bool loopRemoval = false) {
  ThreadJumps(c.data(), c.size(), loopRemoval);
  return Disassemble(c.data(), c.size());
}

TEST(ThreadJumps, Rules) {
  // A conditional exit that lands on the loop's backward Jump goes straight
  // to the loop start.
  Code loop;
  loop.Add(Op::LoadVar, 0).Add(Op::JumpIfFalse, 0).Add(Op::Jump, -6).Add(Op::Return);
  EXPECT_EQ(Threaded(loop), "0: LoadVar 0\n2: JumpIfFalse ->0\n4: Jump ->0\n6: Return\n");

  // Nop and SkipOperand are passed over, and a LineMarker followed by a jump;
  // a Jump that ends at a Return becomes the Return (after which the marker
  // before it is a target again).
  Code passes;
  passes.Add(Op::JumpIfFalse, 0).Add(Op::Nop).Add(Op::SkipOperand, 0).Add(Op::LineMarker, 1).Add({4});
  passes.Add(Op::Jump, 0).Add(Op::Return);
  EXPECT_EQ(Threaded(passes),
            "0: JumpIfFalse ->5\n2: Nop\n3: SkipOperand ->5\n5: LineMarker 1 4\n8: Return\n9: Nop\n10: Return\n");

  // A LineMarker before real code is a target the debugger needs.
  Code marker;
  marker.Add(Op::JumpIfFalse, 0).Add(Op::LineMarker, 1).Add({4}).Add(Op::LoadVar, 0).Add(Op::Return);
  EXPECT_EQ(Threaded(marker), "0: JumpIfFalse ->2\n2: LineMarker 1 4\n5: LoadVar 0\n7: Return\n");

  // A Jump to itself is not followed; neither are cycles of jumps for ever.
  Code self;
  self.Add(Op::JumpIfFalse, 0).Add(Op::Jump, -2).Add(Op::Jump, -4).Add(Op::Jump, -4);
  EXPECT_EQ(Threaded(self), "0: JumpIfFalse ->2\n2: Jump ->2\n4: Jump ->2\n6: Jump ->2\n");
  Code cycle;
  cycle.Add(Op::Jump, 2).Add(Op::Jump, 2).Add(Op::Jump, -6);
  Threaded(cycle);  // ends
}

TEST(ThreadJumps, OffsetsThatDoNotFitAreKept) {
  // JumpIfFalse -> Jump 30000 words on -> Jump 5000 on: the sum exceeds a word.
  Code code;
  code.Add(Op::JumpIfFalse, 0).Add(Op::Jump, 30000);
  for (int k = 0; k < 30000; ++k) code.Add(Op::Nop);
  code.Add(Op::Jump, 5000);
  ThreadJumps(code.data(), code.size(), false);
  EXPECT_EQ(code.data()[1], 30000 + 2);  // one step fits: to the second Jump
  EXPECT_EQ(code.data()[3], 30000);      // the next would not
}

// «for k = 1:10, <body> end» as the statement compiler lays it out.
Code ForLoop(std::initializer_list<int16_t> body, Op loop = Op::ForNextRange) {
  Code c;
  c.Add(Op::PushOne).Add(Op::PushSmallInt, 10).Add(Op::RangeIterator, 2);
  const int head = c.here();
  c.Add(loop, 0).Add(Op::StoreVar, 3).Add(body);
  const int back = c.here();
  c.Add(Op::Jump, static_cast<int16_t>(head - (back + 2)));
  c.data()[head + 1] = static_cast<int16_t>(c.here() - (head + 2));  // exit: the Drop
  c.Add(Op::Drop).Add(Op::EndOfCode);
  return c;
}

TEST(ThreadJumps, EmptyRangeLoopsAreRemoved) {
  const int16_t marker[] = {W(Op::LineMarker), 0, 2};
  Code empty = ForLoop({marker[0], marker[1], marker[2], W(Op::Nop)});
  EXPECT_EQ(Threaded(empty, true),
            "0: PushOne\n1: PushSmallInt 10\n3: RangeIterator 2\n5: RangeLastValue\n6: StoreVar 3\n8: Jump ->16\n"
            "10: Nop\n11: Nop\n12: Nop\n13: Nop\n14: Nop\n15: Nop\n16: EndOfCode\n");

  // Not without loop removal, not with a statement in the body, not over a
  // computed value (ForNext).
  Code kept = ForLoop({});
  const std::string before = Disassemble(kept.data(), kept.size());
  EXPECT_EQ(Threaded(kept, false), before);
  Code body = ForLoop({W(Op::LoadVar), 3, W(Op::Drop)});
  const std::string withBody = Disassemble(body.data(), body.size());
  EXPECT_EQ(Threaded(body, true), withBody);
  Code computed = ForLoop({}, Op::ForNext);
  const std::string overValue = Disassemble(computed.data(), computed.size());
  EXPECT_EQ(Threaded(computed, true), overValue);
}

TEST(RangeArithmetic, CountsAsColonDoes) {
  struct Case {
    double start, step, stop;
    int64_t count;  // -1: too many elements
  };
  const Case kCases[] = {
      {1, 1, 5, 5},    {1, 0.5, 2, 3},  {0, 0.1, 0.7, 8}, {0, 0.1, 1, 11},   {5, 1, 1, 0},
      {1, -1, 3, 0},   {3, -1, 1, 3},   {1, 0, 5, -1},    {5, 0, 1, 0},      {1, 0, 1, 0},
      {0, 1, 3e9, -1}, {kNaN, 1, 3, 0}, {0, 1, kInf, -1}, {-kInf, 1, 0, -1}, {0, 1, 2147483646, 2147483647},
  };
  for (const Case& c : kCases) {
    int64_t count = -7;
    const bool ok = RangeElementCount(c.start, c.step, c.stop, &count);
    EXPECT_EQ(ok ? count : -1, c.count) << c.start << ":" << c.step << ":" << c.stop;
  }
}

TEST(RangeArithmetic, ElementsAreRepeatedSums) {
  struct Case {
    double start, step;
    int64_t k;
  };
  const Case kCases[] = {
      {0, 0.1, 7},         {0, 0.1, 10},       {1e15, 0.5, 1000},   {-3, 0.25, 100},   {0.1, 0.2, 3},
      {0x1p53 - 5, 1, 10}, {0x1p52, 0.5, 9},   {1e-310, 1e-310, 5}, {1e308, 1e307, 9}, {-0.0, 1, 0},
      {5, -0.75, 40},      {1, 0x1p-60, 1000}, {0x1p-60, 1, 3},
  };
  for (const Case& c : kCases) {
    double sum = c.start;
    for (int64_t i = 0; i < c.k; ++i) sum += c.step;
    EXPECT_TRUE(SameBits(RangeElement(c.start, c.step, c.k), sum))
        << c.start << " + " << c.k << " * " << c.step << ": " << RangeElement(c.start, c.step, c.k) << " vs " << sum;
  }
}

TEST(RangeArithmetic, LastElementIsWhatTheLoopLeaves) {
  struct Case {
    double start, step, stop;
    bool set;
    double last;
  };
  const Case kCases[] = {
      {0, 0.1, 0.7, true, 0.7}, {1, 1, 10, true, 10}, {0.5, 1, 3, true, 2.5}, {10, -3, 1, true, 1},
      {1, 1, 1, true, 1},       {5, 1, 1, false, 0},  {1, 0, 1, false, 0},
  };
  for (const Case& c : kCases) {
    double last = 0;
    bool tooLarge = true;
    EXPECT_EQ(RangeLastElement(c.start, c.step, c.stop, &last, &tooLarge), c.set) << c.start << ":" << c.stop;
    EXPECT_FALSE(tooLarge);
    if (c.set) {
      EXPECT_TRUE(SameBits(last, c.last)) << c.start << ":" << c.step << ":" << c.stop << " gave " << last;
    }
  }
  double last = 0;
  bool tooLarge = false;
  EXPECT_FALSE(RangeLastElement(1, 0, 5, &last, &tooLarge));
  EXPECT_TRUE(tooLarge);
}

}  // namespace

// Whole statements through the compiler at every level: each case changes
// at one level and must be left alone below it.
class OptimisationLevels : public StackFixture {
 protected:
  OptimisationLevels() : StackFixture({.blockCells = 256 * 1024, .messages = true}) {}

  [[nodiscard]] StatusCode Compile(const std::string& text, int level, std::string* listing) {
    SetCodeOptions(ctx, level, 0);
    char names[16][kVariableNameBytes] = {"x", "c"};
    int32_t count = 2, used = 0;
    const StatusCode st = CompileSource(ctx, 0, text.data(), static_cast<int32_t>(text.size()), output.data(),
                                        static_cast<int32_t>(output.size()), &used,
                                        {.names = names[0], .nameCount = &count, .nameCapacity = 16});
    *listing = st == kOk ? Disassemble(output.data(), used, {.positions = false}) : "";
    return st;
  }

  std::vector<int16_t> output = std::vector<int16_t>(4000);
};

TEST_F(OptimisationLevels, EachRewriteStartsAtItsLevel) {
  struct Case {
    const char* text;
    int level;  // the first level that gives after; 5: no level does
    const char* before;
    const char* after;
  };
  const Case kCases[] = {
      {"y = -1;", 4, "PushOne\numinus\nStoreVar 2\nEndOfCode\n", "PushSmallInt -1\nStoreVar 2\nEndOfCode\n"},
      {"y = - -x;", 4, "LoadVar 0\numinus\numinus\nStoreVar 2\nEndOfCode\n",
       "LoadVar 0\nuplus\nStoreVar 2\nEndOfCode\n"},
      {"y = int8(1);", 4, "PushOne\nint8\nStoreVar 2\nEndOfCode\n", "PushInt8 1\nStoreVar 2\nEndOfCode\n"},
      {"y = uint8(300);", 4, "PushSmallInt 300\nuint8\nStoreVar 2\nEndOfCode\n",
       "PushUint8 44\nStoreVar 2\nEndOfCode\n"},
      {"y = sqrt(-1);", 4, "PushOne\numinus\nsqrt\nStoreVar 2\nEndOfCode\n", "i\nStoreVar 2\nEndOfCode\n"},
      {"y = 3*i;", 4, "PushSmallInt 3\ni\nmtimes\nStoreVar 2\nEndOfCode\n", "PushSmallImag 3\nStoreVar 2\nEndOfCode\n"},
      {"y = abs(-0.5);", 4, "Nop\nNop\nNop\nPushDouble 0.5\numinus\nabs\nStoreVar 2\nEndOfCode\n",
       "Nop\nNop\nNop\nPushDouble 0.5\nStoreVar 2\nEndOfCode\n"},
      {"y = 1 + 2;", 5, "PushOne\nPushSmallInt 2\nplus\nStoreVar 2\nEndOfCode\n", ""},
      {"y = x && - -c;", 4, "LoadVar 0\nAndAlsoJump ->8\nLoadVar 1\numinus\numinus\nStoreVar 2\nEndOfCode\n",
       "LoadVar 0\nAndAlsoJump ->8\nLoadVar 1\nuplus\nNop\nStoreVar 2\nEndOfCode\n"},
      {"y = -(c ? 1 : 2);", 5,
       "LoadVar 1\nJumpIfFalse ->7\nPushOne\nJump ->9\nPushSmallInt 2\numinus\nStoreVar 2\nEndOfCode\n", ""},
      {"x;", 4, "LoadVar 0\nDrop\nEndOfCode\n", "EndOfCode\n"},
      {"if 0, y = 1; end", 1, "PushZero\nJumpIfFalse ->6\nPushOne\nStoreVar 2\nEndOfCode\n",
       "Jump ->5\nPushOne\nStoreVar 2\nEndOfCode\n"},
      {"while c, if x, y = 1; end, end", 2,
       "LoadVar 1\nJumpIfFalse ->13\nLoadVar 0\nJumpIfFalse ->11\nPushOne\nStoreVar 2\nJump ->0\nEndOfCode\n",
       "LoadVar 1\nJumpIfFalse ->13\nLoadVar 0\nJumpIfFalse ->0\nPushOne\nStoreVar 2\nJump ->0\nEndOfCode\n"},
      {"for k = 1:10, end", 3,
       "PushOne\nPushSmallInt 10\nRangeIterator 2\nForNextRange ->11\nStoreVar 2\nJump ->5\nDrop\nEndOfCode\n",
       "PushOne\nPushSmallInt 10\nRangeIterator 2\nRangeLastValue\nStoreVar 2\nJump ->12\nNop\nNop\nEndOfCode\n"},
      {"for k = 1:10, y = k; end", 5,
       "PushOne\nPushSmallInt 10\nRangeIterator 2\nForNextRange ->15\nStoreVar 2\nLoadVar 2\nStoreVar 3\nJump "
       "->5\nDrop\nEndOfCode\n",
       ""},
  };
  for (const Case& c : kCases)
    for (int level = 0; level <= 4; ++level) {
      std::string listing;
      ASSERT_EQ(Compile(c.text, level, &listing), kOk) << c.text;
      EXPECT_EQ(listing, level < c.level ? c.before : c.after) << c.text << " at level " << level;
    }
}

TEST_F(OptimisationLevels, CompileErrorsDoNotDependOnTheLevel) {
  struct Case {
    const char* text;
    StatusCode code;
  };
  const Case kCases[] = {
      {"y = 1 +;", kIncompleteExpr},
      {"y = 'abc;", kUnterminatedString},
      {"y = end;", kMisplacedEnd},
      {"y = beginning;", kMisplacedBeginning},
      {"y = matrixrow;", kMisplacedMatrixrow},
      {"y = matrixcol;", kMisplacedMatrixcol},
      {"y = x(1, matrixrow);", kWrongIndex},
      {"y = );", kUnexpectedRightPar},
      {"y = ];", kUnexpectedRightBracket},
      {"y = };", kUnexpectedRightBrace},
      {"y = :;", kUnexpectedColon},
      {"y = 1 $ 2;", kUnrecognizedToken},
      {"y = 12int7;", kUnsupportedIntSize},
      {"y = x(:,:,:,:,:,:,:,:,:,:,:,:,:,:,:,:,:);", kIndexOutOfRange},
      {"y = sin(1, 2);", kIncorrectNargin},
      {"y = disp(x);", kIncorrectNargout},
      {"y = qqq;", kUnknownFun},
      {"y = @3;", kBadFunRef},
      {"y = @(x;", kBadAnonFun},
      {"y = aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa;", kNameTooLong},
      {"if x", kUnboundedConstruct},
      {"end", kUnexpectedEnd},
      {"else", kUnexpectedElse},
      {"case 1", kUnexpectedCase},
      {"catch", kUnexpectedCatch},
      {"break", kUnexpectedBreak},
      {"until c", kUnexpectedUntil},
      {"for x(2) = 1:3, end", kBadForVar},
  };
  for (const Case& c : kCases)
    for (int level : {0, 4}) {
      std::string listing;
      EXPECT_EQ(Compile(c.text, level, &listing), c.code) << c.text << " at level " << level;
    }
}
